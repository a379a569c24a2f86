#include "FormChecks.h"

#include <QHash>
#include <QImageReader>
#include <QLabel>
#include <QRegularExpression>

namespace {

// Invalid when the file is missing or not a PNG. Relative paths start in the working
// directory, as the windows find their pictures.
QSize pngSize(const QString &path)
{
    QImageReader reader(path);
    return reader.format() == "png" ? reader.size() : QSize();
}

void verifyStyleSheetPictures(const QWidget *widget)
{
    static const QRegularExpression rule(QStringLiteral("([^{}]*)\\{([^}]*)\\}"));
    static const QRegularExpression length(QStringLiteral("\\b(width|height)\\s*:\\s*(\\d+)px"));
    static const QRegularExpression url(QStringLiteral("url\\(([^)]*)\\)"));
    QHash<QString, QSize> declared; // by sub-control, "QCheckBox::indicator"
    QList<QPair<QString, QString>> pictures;
    for (auto rules = rule.globalMatch(widget->styleSheet()); rules.hasNext();) {
        const QRegularExpressionMatch match = rules.next();
        const QString selector = match.captured(1).trimmed();
        const QString part = selector.contains(QLatin1String("::")) ? selector.section(':', 0, 2) : QString();
        for (auto it = length.globalMatch(match.captured(2)); it.hasNext();) {
            const QRegularExpressionMatch size = it.next();
            QSize &drawn = declared[part];
            if (size.captured(1) == QLatin1String("width"))
                drawn.setWidth(size.captured(2).toInt());
            else
                drawn.setHeight(size.captured(2).toInt());
        }
        for (auto it = url.globalMatch(match.captured(2)); it.hasNext();)
            pictures.append({part, it.next().captured(1)});
    }
    for (const auto &[part, file] : qAsConst(pictures)) {
        const QSize expected = part.isEmpty() ? widget->size() : declared.value(part, widget->size());
        QVERIFY2(pngSize(file) == expected, qPrintable(widget->objectName() + QStringLiteral(": ") + file));
    }
}

} // namespace

void verifyPictures(const QWidget *window)
{
    QList<const QWidget *> widgets {window};
    for (const QWidget *child : window->findChildren<QWidget *>()) {
        if (child->isVisibleTo(window))
            widgets.append(child);
    }
    for (const QWidget *widget : qAsConst(widgets)) {
        const auto *label = qobject_cast<const QLabel *>(widget);
        if (label && label->text().isEmpty())
            QVERIFY2(
                label->pixmap(Qt::ReturnByValue).size() == label->size(), qPrintable(label->objectName()));
        verifyStyleSheetPictures(widget);
    }
}

void verifySeeThrough(const QWidget *window)
{
    QVERIFY(window->windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(window->testAttribute(Qt::WA_TranslucentBackground));
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        QCOMPARE(window->palette().color(group, QPalette::Window).alpha(), 0);
}

bool matches(const QString &pattern, const QString &text)
{
    const QRegularExpression::PatternOptions dotAll = QRegularExpression::DotMatchesEverythingOption;
    return QRegularExpression(QRegularExpression::anchoredPattern(pattern), dotAll).match(text).hasMatch();
}
