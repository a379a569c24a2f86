#include "BoxAnswerer.h"
#include "LauncherFolder.h"
#include "ProcessHelpers.h"
#include "SettingsDialog.h"

#include <QImage>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QtTest>

#include <memory>

// The settings dialog on a real X server with a compositor, driven by real mouse clicks: what
// the player sees with the list closed and open. The screenshots are kept for a look.
class TestSettingsDialogScreen : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void closedList();
    void openList();
    void chooseFromList();

private:
    QImage screenshot(const QString &name) const;
    // The pixel of a screenshot at a point of the dialog, and of a picture at a point of it.
    QRgb pixel(const QImage &screen, const QPoint &dialogPoint) const
    {
        return screen.pixel(onScreen(dialogPoint));
    }
    static QRgb pixel(const char *picture, const QPoint &point);
    QPoint onScreen(const QPoint &dialogPoint) const { return m_dialog->mapToGlobal(dialogPoint); }
    // Clicks at a point of the dialog and waits until the list is shown or hidden.
    bool clickThenList(const QPoint &dialogPoint, bool shown) const;
    QString buttonText() const { return m_dialog->findChild<QPushButton *>("resolutionPushButton")->text(); }

    // Destroyed with the test object, the dialog first.
    std::unique_ptr<LauncherFolder> m_game;
    std::unique_ptr<BoxAnswerer> m_boxes;
    std::unique_ptr<SettingsDialog> m_dialog;
    QListWidget *m_list = nullptr;
    QImage m_closed;
};

void TestSettingsDialogScreen::initTestCase()
{
    m_game = std::make_unique<LauncherFolder>();
    QVERIFY(m_game->isInstalled());
    QList<QSize> sizes;
    for (int i = 0; i < 8; ++i)
        sizes << QSize(1024 + 128 * i, 768 + 64 * i);
    QVERIFY(m_game->writeFile(QStringLiteral("resolution.dat"), resolutionDat(sizes)));
    m_game->writeSettings(
        {{QStringLiteral("Video/ResolutionWidth"), 1280}, {QStringLiteral("Video/ResolutionHeight"), 896},
            {QStringLiteral("Video/FullScreen"), true}, {QStringLiteral("Video/QuickQuality"), 1}});
    m_boxes = std::make_unique<BoxAnswerer>();

    const QPoint launcher(120, 80);
    m_dialog = std::make_unique<SettingsDialog>(
        nullptr, m_game->path(QStringLiteral("settings.ini")), m_game->gameDir(), &launcher);
    m_list = m_dialog->findChild<QListWidget *>(QStringLiteral("resolutionListView"));
    m_dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dialog.get()));
    QCOMPARE(m_dialog->frameGeometry().topLeft(), QPoint(380, 250));
    QCOMPARE(m_boxes->count(), 0);
}

QImage TestSettingsDialogScreen::screenshot(const QString &name) const
{
    QTest::qWait(300); // the compositor draws after the window
    const QString path = ProcessHelpers::screenshotPath(name);
    return ProcessHelpers::screenshot(path) ? QImage(path) : QImage();
}

QRgb TestSettingsDialogScreen::pixel(const char *picture, const QPoint &point)
{
    return QImage(QStringLiteral("images/") + QLatin1String(picture)).pixel(point);
}

bool TestSettingsDialogScreen::clickThenList(const QPoint &dialogPoint, bool shown) const
{
    const QPoint point = onScreen(dialogPoint);
    return ProcessHelpers::click(point.x(), point.y())
        && QTest::qWaitFor([&] { return m_list->isVisible() == shown; }, 5000);
}

void TestSettingsDialogScreen::closedList()
{
    m_closed = screenshot(QStringLiteral("settings-closed.png"));
    QVERIFY(!m_closed.isNull());
    // Pictures found relative to the launcher directory, each in its place and layer.
    QCOMPARE(pixel(m_closed, {339, 354}), pixel("settings_apply_btn_Disable.png", {59, 24}));
    QCOMPARE(pixel(m_closed, {149, 354}), pixel("settings_return_btn_Normal.png", {59, 24}));
    QCOMPARE(pixel(m_closed, {20, 420}), pixel("settings_bg.png", {20, 420}));
    QCOMPARE(pixel(m_closed, {464, 44}), pixel("settings_close_btn_Normal.png", {34, 34}));
    // The stored size is shown on the drop-down picture.
    QCOMPARE(buttonText(), QStringLiteral("   1280 X 896 (目前)"));
}

void TestSettingsDialogScreen::openList()
{
    QVERIFY(clickThenList({300, 160}, true));
    QCOMPARE(m_list->geometry(), QRect(180, 170, 215, 124));
    QVERIFY(QTest::qWaitFor([&] { return m_list->verticalScrollBar()->isVisible(); }, 2000));

    const QImage open = screenshot(QStringLiteral("settings-open.png"));
    QVERIFY(!open.isNull());
    // The list lies over the full-screen boxes; the rest of the dialog is unchanged.
    QVERIFY(pixel(open, {205, 225}) != pixel(m_closed, {205, 225}));
    QCOMPARE(pixel(open, {339, 354}), pixel(m_closed, {339, 354}));

    // A press on the background closes the list and does nothing else.
    QVERIFY(clickThenList({40, 420}, false));
    QVERIFY(m_dialog->isVisible());
    QVERIFY(!m_dialog->findChild<QWidget *>(QStringLiteral("applyPushButton"))->isEnabled());
}

void TestSettingsDialogScreen::chooseFromList()
{
    QVERIFY(clickThenList({300, 160}, true));
    QVERIFY(clickThenList({250, 182}, false)); // the first row, 1024 X 768
    QCOMPARE(buttonText(), QStringLiteral("   1024 X 768"));
    QVERIFY(m_dialog->findChild<QWidget *>(QStringLiteral("applyPushButton"))->isEnabled());
    QTest::qWait(300);
    const QImage enabled = screenshot(QStringLiteral("settings-chosen.png"));
    QCOMPARE(pixel(enabled, {339, 354}), pixel("settings_apply_btn_Normal.png", {59, 24}));
}

QTEST_MAIN(TestSettingsDialogScreen)
#include "tst_settingsdialog_screen.moc"
