#include "FormChecks.h"

#include <QImageReader>
#include <QLabel>
#include <QMetaEnum>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTest>

QStringList imageUrls(const QString &styleSheet)
{
    static const QRegularExpression url(QStringLiteral("url\\(([^)]*)\\)"));
    QStringList urls;
    for (auto it = url.globalMatch(styleSheet); it.hasNext();)
        urls << it.next().captured(1);
    return urls;
}

QSize pngSize(const QString &path)
{
    QImageReader reader(path);
    return reader.format() == "png" ? reader.size() : QSize();
}

QStringList childStack(const QWidget *parent)
{
    QStringList names;
    for (const QObject *child : parent->children()) {
        if (child->isWidgetType())
            names << child->objectName();
    }
    return names;
}

void verifySeeThrough(const QWidget *window)
{
    QVERIFY(window->windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(window->testAttribute(Qt::WA_TranslucentBackground));
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        QCOMPARE(window->palette().color(group, QPalette::Window).alpha(), 0);
}

void verifyFramedBar(const QProgressBar *bar, const QString &chunk, const QLabel *frame, const QLabel *bottom)
{
    QVERIFY(bar && frame && bottom);
    QCOMPARE(imageUrls(bar->styleSheet()), QStringList {chunk});
    QVERIFY(bar->styleSheet().contains(QLatin1String("background-color: rgba(0,0,0,0);")));
    QCOMPARE(pngSize(chunk), bar->size());
    QCOMPARE(bar->font().family(), QStringLiteral("Arial"));
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        for (auto role : {QPalette::Button, QPalette::Base, QPalette::Window})
            QCOMPARE(bar->palette().color(group, role), QColor(0, 0, 0, 0));
        QCOMPARE(bar->palette().color(group, QPalette::Text),
            group == QPalette::Disabled ? QColor(120, 120, 120) : QColor(255, 255, 255));
    }
    QCOMPARE(bottom->geometry(), bar->geometry());
    QCOMPARE(frame->geometry(), bar->geometry().adjusted(-20, -10, 18, 21));
    const QImage frameImage = frame->pixmap(Qt::ReturnByValue).toImage();
    QCOMPARE(qAlpha(frameImage.pixel(bar->geometry().center() - frame->geometry().topLeft())), 0);
    QVERIFY(qAlpha(frameImage.pixel(2, frameImage.height() / 2)) > 0);
}

QStringList seenBoxes(const BoxAnswerer &boxes)
{
    const QMetaEnum icons = QMetaEnum::fromType<QMessageBox::Icon>();
    QStringList seen;
    for (const BoxAnswerer::Box &box : boxes.boxes()) {
        seen << QStringLiteral("%1 %2: %3 [%4]")
                    .arg(QLatin1String(icons.valueToKey(box.icon)), box.title, box.text,
                        box.buttons.join(QLatin1Char(',')));
    }
    return seen;
}
