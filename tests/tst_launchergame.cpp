#include "GameFolder.h"
#include "ProcessHelpers.h"
#include "Util.h"
#include "WindowHelpers.h"

#include <QtTest>

#include <csignal>
#include <sys/types.h>

using namespace ProcessHelpers;

static const QString WindowTitle = QStringLiteral("^雲隼紀年-啟動器$");

// The real launcher under Xvfb with a compositor: what the player sees, and the start button
// starting the stand-in game.
class TestLauncherGame : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void startButtonStartsGame_data();
    void startButtonStartsGame();
    void windowAsSeen();

private:
    // Starts the launcher in a game folder with these settings; returns its window's position.
    static QPoint start(GameFolder &game, QProcess &launcher, const QByteArray &settings);
};

void TestLauncherGame::initTestCase()
{
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        QFAIL("xdotool is needed to drive the windows");
    QVERIFY(!qEnvironmentVariableIsEmpty("DISPLAY"));
    QVERIFY(QFileInfo::exists(builtFile(QStringLiteral("ZARK.exe"))));
}

QPoint TestLauncherGame::start(GameFolder &game, QProcess &launcher, const QByteArray &settings)
{
    const QString page = QFINDTESTDATA("data/launcher/site/index.html");
    // Update lists with nothing to offer, so that no box of the update check covers the window.
    const QByteArray lists = QUrl::fromLocalFile(game.path(QStringLiteral("lists/"))).toEncoded();
    const QString zark = game.path(QStringLiteral("ZARK.exe"));
    if (page.isEmpty() || !game.installLauncher()
        || !game.writeFile(QStringLiteral("lists/VersionList.xml"), "<VersionList/>\n")
        || !game.writeFile(QStringLiteral("Launcher/launcher.ini"),
            "[launcher]\nsite=" + QUrl::fromLocalFile(page).toEncoded() + "\nlist=" + lists
                + "\n[game]\nlist=" + lists + "\n")
        || !game.writeFile(QStringLiteral("settings.ini"), settings)
        || !QFile::copy(builtFile(QStringLiteral("ZARK.exe")), zark)
        || !QFile::setPermissions(zark, QFile::permissions(zark) | QFileDevice::ExeOwner))
        return QPoint(-1, -1);
    startLauncher(launcher, game);
    return windowPosition(waitForWindow(launcher.processId(), WindowTitle));
}

void TestLauncherGame::startButtonStartsGame_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<QStringList>("size"); // width and height passed on
    QTest::newRow("screen size from settings.ini")
        << QByteArray("[Video]\nResolutionWidth=1920\nResolutionHeight=1080\n[Settings]\nVersion=1.0\n")
        << QStringList {"1920", "1080"};
    QTest::newRow("size keys missing")
        << QByteArray("[Video]\nFullScreen=true\n[Settings]\nVersion=1.0\n") << QStringList {"1024", "768"};
}

void TestLauncherGame::startButtonStartsGame()
{
    QFETCH(QByteArray, settings);
    QFETCH(QStringList, size);

    GameFolder game;
    QProcess launcher;
    QVERIFY(!LTools::mutexExists(MutexName::Game));
    const QPoint origin = start(game, launcher, settings);
    QVERIFY2(origin.x() >= 0, "no launcher window");
    QVERIFY(mouseMove(QPoint(2, 2))); // --sync waits for a move: start elsewhere
    QVERIFY(click(origin.x() + 876, origin.y() + 656)); // the middle of the start button
    QVERIFY(waitForExit(launcher, 10000));
    QCOMPARE(launcher.exitStatus(), QProcess::NormalExit);
    QCOMPARE(launcher.exitCode(), 0);

    QTRY_COMPARE(game.readFile(QStringLiteral("ZARK.exe.args")),
        QStringLiteral("-screen-width\n%1\n-screen-height\n%2\n-single-instance\n--\n")
            .arg(size.at(0), size.at(1))
            .toUtf8());
    qint64 gamePid = 0;
    QTRY_VERIFY((gamePid = xdotool(
                     {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                         QStringLiteral("^ZARK$"), QStringLiteral("getwindowpid")})
                               .toLongLong())
        > 0);
    QVERIFY(LTools::mutexExists(MutexName::Game));
    screenshot(screenshotPath(QStringLiteral("game-started-%1.png")
                                  .arg(QTest::currentDataTag())
                                  .replace(QLatin1Char(' '), QLatin1Char('-'))));

    ::kill(pid_t(gamePid), SIGTERM);
    QTRY_VERIFY(!LTools::mutexExists(MutexName::Game));
}

void TestLauncherGame::windowAsSeen()
{
    GameFolder game;
    QProcess launcher;
    const QPoint origin = start(game, launcher, "[Settings]\nVersion=1.05\n");
    QVERIFY(origin.x() > 0 && origin.y() > 0);
    QVERIFY(mouseMove(QPoint(2, 2))); // off the window
    QTest::qWait(1500); // the page loads from a local file

    const QImage idle = grabScreen(QStringLiteral("launcher-idle.png"));
    QVERIFY(!idle.isNull());
    // Uncovered corners of the window show what lies beneath; the background picture does not.
    const QRgb beneath = idle.pixel(origin.x() - 1, origin.y() + 790);
    QCOMPARE(idle.pixel(origin + QPoint(1015, 795)), beneath);
    QCOMPARE(idle.pixel(origin + QPoint(2, 2)), beneath);
    QVERIFY(idle.pixel(origin + QPoint(512, 120)) != beneath);

    QVERIFY(mouseMove(origin + QPoint(876, 656)));
    QTest::qWait(300);
    const QImage hover = grabScreen(QStringLiteral("launcher-start-hover.png"));
    QVERIFY(!hover.isNull());
    const QRect startButton(origin + QPoint(750, 550), QSize(252, 213));
    QVERIFY(idle.copy(startButton) != hover.copy(startButton));

    // The disabled update button does not react to the pointer.
    QVERIFY(mouseMove(origin + QPoint(722, 696)));
    QTest::qWait(300);
    const QRect updateButton(origin + QPoint(650, 630), QSize(145, 133));
    QCOMPARE(grabScreen(QStringLiteral("launcher-update-disabled-hover.png")).copy(updateButton),
        idle.copy(updateButton));
    stop(launcher);
}

QTEST_MAIN(TestLauncherGame)
#include "tst_launchergame.moc"
