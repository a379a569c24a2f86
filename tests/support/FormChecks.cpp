#include "FormChecks.h"

#include <QImageReader>
#include <QLabel>
#include <QRegularExpression>

void verifyForm(const QWidget *window)
{
    const bool frameless = window->windowFlags() & Qt::FramelessWindowHint;
    QCOMPARE(window->testAttribute(Qt::WA_TranslucentBackground), frameless);
    QCOMPARE(window->palette().color(QPalette::Window).alpha(), frameless ? 0 : 255);
    static const QRegularExpression rule(QStringLiteral("([^{}]*)\\{([^}]*)\\}"));
    static const QRegularExpression length(QStringLiteral("(width|height)\\s*:\\s*(\\d+)px"));
    static const QRegularExpression url(QStringLiteral("url\\(([^)]*)\\)"));
    QList<QWidget *> widgets = window->findChildren<QWidget *>();
    widgets.prepend(const_cast<QWidget *>(window));
    for (const QWidget *widget : qAsConst(widgets)) {
        const auto *label = qobject_cast<const QLabel *>(widget);
        if (!widget->isVisibleTo(window) && widget != window)
            continue;
        if (label && label->text().isEmpty())
            QVERIFY2(
                label->pixmap(Qt::ReturnByValue).size() == label->size(), qPrintable(label->objectName()));
        // A sub-control ("QCheckBox::indicator") is drawn at the size its rules declare.
        QHash<QString, QSize> declared;
        for (auto rules = rule.globalMatch(widget->styleSheet()); rules.hasNext();) {
            const QRegularExpressionMatch match = rules.next();
            const QString part
                = match.captured(1).section(QStringLiteral("::"), 1).section(':', 0, 0).trimmed();
            QSize &drawn = declared.insert(part, declared.value(part, widget->size())).value();
            for (auto it = length.globalMatch(match.captured(2)); it.hasNext();) {
                const QRegularExpressionMatch size = it.next();
                (size.captured(1) == QLatin1String("width") ? drawn.rwidth() : drawn.rheight())
                    = size.captured(2).toInt();
            }
            // Read from the working directory, as the windows read them.
            for (auto it = url.globalMatch(match.captured(2)); it.hasNext();) {
                QImageReader picture(it.next().captured(1));
                QVERIFY2(picture.format() == "png" && picture.size() == drawn,
                    qPrintable(widget->objectName() + QLatin1String(": ") + picture.fileName()));
            }
        }
    }
}

bool matches(const QString &pattern, const QString &text)
{
    const QRegularExpression::PatternOptions dotAll = QRegularExpression::DotMatchesEverythingOption;
    return QRegularExpression(QRegularExpression::anchoredPattern(pattern), dotAll).match(text).hasMatch();
}
