#include "BoxAnswerer.h"
#include "GameFolder.h"
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
    void cleanupTestCase();
    void closedList();
    void openList();
    void chooseFromList();

private:
    QImage screenshot(const QString &name);
    QPoint onScreen(const QPoint &dialogPoint) const { return m_dialog->mapToGlobal(dialogPoint); }
    QRgb screenPixel(const QImage &screen, const QPoint &dialogPoint) const;
    bool clickAt(const QPoint &dialogPoint) const;

    std::unique_ptr<GameFolder> m_game;
    std::unique_ptr<GameFolder::WorkingDirectory> m_cwd;
    std::unique_ptr<BoxAnswerer> m_boxes;
    std::unique_ptr<SettingsDialog> m_dialog;
    QImage m_closed;
};

namespace {

QRgb picturePixel(const QString &picture, const QPoint &point)
{
    return QImage(QStringLiteral("images/") + picture).pixel(point);
}

} // namespace

void TestSettingsDialogScreen::initTestCase()
{
    m_game = std::make_unique<GameFolder>();
    QVERIFY(m_game->installLauncher());
    QByteArray list = "[";
    for (int i = 0; i < 8; ++i) {
        list += QStringLiteral("%1{\"Width\":\"%2\",\"Height\":\"%3\"}")
                    .arg(i ? "," : "")
                    .arg(1024 + 128 * i)
                    .arg(768 + 64 * i)
                    .toUtf8();
    }
    QVERIFY(m_game->writeFile(QStringLiteral("resolution.dat"),
        "{\"defualtQuilty\": 1, \"defualtEnableFog\": false, \"outputResolution\": " + list + "]}"));
    m_game->writeSettings(
        {{QStringLiteral("Video/ResolutionWidth"), 1280}, {QStringLiteral("Video/ResolutionHeight"), 896},
            {QStringLiteral("Video/FullScreen"), true}, {QStringLiteral("Video/QuickQuality"), 1}});
    m_cwd = std::make_unique<GameFolder::WorkingDirectory>(*m_game);
    m_boxes = std::make_unique<BoxAnswerer>();

    const QPoint launcher(120, 80);
    m_dialog = std::make_unique<SettingsDialog>(
        nullptr, m_game->path(QStringLiteral("settings.ini")), m_game->gameDir(), &launcher);
    m_dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dialog.get()));
    QCOMPARE(m_dialog->frameGeometry().topLeft(), QPoint(380, 250));
    QCOMPARE(m_boxes->count(), 0);
}

void TestSettingsDialogScreen::cleanupTestCase()
{
    m_dialog.reset();
    m_boxes.reset();
    m_cwd.reset();
    m_game.reset();
}

QImage TestSettingsDialogScreen::screenshot(const QString &name)
{
    QTest::qWait(300); // the compositor draws after the window
    const QString path = ProcessHelpers::screenshotPath(name);
    if (!ProcessHelpers::screenshot(path))
        return QImage();
    return QImage(path);
}

QRgb TestSettingsDialogScreen::screenPixel(const QImage &screen, const QPoint &dialogPoint) const
{
    return screen.pixel(onScreen(dialogPoint));
}

bool TestSettingsDialogScreen::clickAt(const QPoint &dialogPoint) const
{
    const QPoint point = onScreen(dialogPoint);
    return ProcessHelpers::click(point.x(), point.y());
}

void TestSettingsDialogScreen::closedList()
{
    m_closed = screenshot(QStringLiteral("settings-closed.png"));
    QVERIFY(!m_closed.isNull());

    // Pictures found relative to the launcher directory, each in its place and layer.
    QCOMPARE(screenPixel(m_closed, {339, 354}),
        picturePixel(QStringLiteral("settings_apply_btn_Disable.png"), {59, 24}));
    QCOMPARE(screenPixel(m_closed, {149, 354}),
        picturePixel(QStringLiteral("settings_return_btn_Normal.png"), {59, 24}));
    QCOMPARE(screenPixel(m_closed, {20, 420}), picturePixel(QStringLiteral("settings_bg.png"), {20, 420}));
    QCOMPARE(screenPixel(m_closed, {464, 44}),
        picturePixel(QStringLiteral("settings_close_btn_Normal.png"), {34, 34}));
    // The stored size is shown on the drop-down picture.
    QCOMPARE(m_dialog->findChild<QPushButton *>(QStringLiteral("resolutionPushButton"))->text(),
        QStringLiteral("   1280 X 896 (目前)"));
}

void TestSettingsDialogScreen::openList()
{
    auto *list = m_dialog->findChild<QListWidget *>(QStringLiteral("resolutionListView"));
    QVERIFY(clickAt({300, 160}));
    QVERIFY(QTest::qWaitFor([&] { return list->isVisible(); }, 5000));
    QCOMPARE(list->geometry(), QRect(180, 170, 215, 124));
    QVERIFY(QTest::qWaitFor([&] { return list->verticalScrollBar()->isVisible(); }, 2000));

    const QImage open = screenshot(QStringLiteral("settings-open.png"));
    QVERIFY(!open.isNull());
    // The list lies over the full-screen boxes; the rest of the dialog is unchanged.
    const QPoint overBoxes(205, 225);
    QVERIFY(screenPixel(open, overBoxes) != screenPixel(m_closed, overBoxes));
    QCOMPARE(screenPixel(open, {339, 354}), screenPixel(m_closed, {339, 354}));

    // A press on the background closes the list and does nothing else.
    QVERIFY(clickAt({40, 420}));
    QVERIFY(QTest::qWaitFor([&] { return list->isHidden(); }, 5000));
    QVERIFY(m_dialog->isVisible());
    QVERIFY(!m_dialog->findChild<QWidget *>(QStringLiteral("applyPushButton"))->isEnabled());
}

void TestSettingsDialogScreen::chooseFromList()
{
    auto *list = m_dialog->findChild<QListWidget *>(QStringLiteral("resolutionListView"));
    QVERIFY(clickAt({300, 160}));
    QVERIFY(QTest::qWaitFor([&] { return list->isVisible(); }, 5000));
    // The first row, 1024 X 768.
    QVERIFY(clickAt({250, 182}));
    QVERIFY(QTest::qWaitFor([&] { return list->isHidden(); }, 5000));
    QCOMPARE(m_dialog->findChild<QPushButton *>(QStringLiteral("resolutionPushButton"))->text(),
        QStringLiteral("   1024 X 768"));
    auto *apply = m_dialog->findChild<QWidget *>(QStringLiteral("applyPushButton"));
    QVERIFY(apply->isEnabled());
    QTest::qWait(300);
    const QImage enabled = screenshot(QStringLiteral("settings-chosen.png"));
    QCOMPARE(screenPixel(enabled, {339, 354}),
        picturePixel(QStringLiteral("settings_apply_btn_Normal.png"), {59, 24}));
}

QTEST_MAIN(TestSettingsDialogScreen)
#include "tst_settingsdialog_screen.moc"
