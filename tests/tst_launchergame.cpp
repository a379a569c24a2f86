#include "GameFolder.h"
#include "ProcessHelpers.h"
#include "Util.h"

#include <QImage>
#include <QtTest>

#include <csignal>
#include <sys/types.h>

using namespace ProcessHelpers;

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
    static void prepare(GameFolder &game, const QByteArray &settings);
    static QPoint windowPosition(const QString &window);
    static qint64 windowPid(const QString &window);
    static bool mouseMove(const QPoint &at);
};

static const QString WindowTitle = QStringLiteral("^雲隼紀年-啟動器$");

namespace {

QString xdotool(const QStringList &arguments)
{
    QProcess tool;
    tool.start(QStringLiteral("xdotool"), arguments);
    if (!tool.waitForFinished(10000))
        tool.kill();
    return QString::fromUtf8(tool.readAllStandardOutput()).trimmed();
}

void stop(QProcess &process)
{
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished();
    }
}

} // namespace

void TestLauncherGame::initTestCase()
{
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        QFAIL("xdotool is needed to drive the windows");
    QVERIFY(!qEnvironmentVariableIsEmpty("DISPLAY"));
    QVERIFY(QFileInfo::exists(builtFile(QStringLiteral("ZARK.exe"))));
}

void TestLauncherGame::prepare(GameFolder &game, const QByteArray &settings)
{
    QVERIFY(game.installLauncher());
    const QString page = QFINDTESTDATA("data/launcher/site/index.html");
    QVERIFY(!page.isEmpty());
    // Update lists with nothing to offer, so that no box of the update check covers the window.
    QVERIFY(game.writeFile(QStringLiteral("lists/VersionList.xml"), "<VersionList/>\n"));
    const QByteArray lists = QUrl::fromLocalFile(game.path(QStringLiteral("lists/"))).toEncoded();
    QVERIFY(game.writeFile(QStringLiteral("Launcher/launcher.ini"),
        "[launcher]\nsite=" + QUrl::fromLocalFile(page).toEncoded() + "\nlist=" + lists
            + "\n[game]\nlist=" + lists + "\n"));
    QVERIFY(game.writeFile(QStringLiteral("settings.ini"), settings));
    const QString zark = game.path(QStringLiteral("ZARK.exe"));
    QVERIFY(QFile::copy(builtFile(QStringLiteral("ZARK.exe")), zark));
    QVERIFY(QFile::setPermissions(zark, QFile::permissions(zark) | QFileDevice::ExeOwner));
}

QPoint TestLauncherGame::windowPosition(const QString &window)
{
    QPoint position(-1, -1);
    const QString shell = xdotool({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), window});
    for (const QString &line : shell.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("X=")))
            position.setX(line.mid(2).toInt());
        else if (line.startsWith(QLatin1String("Y=")))
            position.setY(line.mid(2).toInt());
    }
    return position;
}

qint64 TestLauncherGame::windowPid(const QString &window)
{
    return xdotool({QStringLiteral("getwindowpid"), window}).toLongLong();
}

bool TestLauncherGame::mouseMove(const QPoint &at)
{
    QProcess tool;
    tool.start(QStringLiteral("xdotool"),
        {QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(at.x()),
            QString::number(at.y())});
    return tool.waitForFinished(10000) && tool.exitCode() == 0;
}

void TestLauncherGame::startButtonStartsGame_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("screen size from settings.ini")
        << QByteArray("[Video]\nResolutionWidth=1920\nResolutionHeight=1080\n[Settings]\nVersion=1.0\n")
        << QStringList {QStringLiteral("-screen-width"), QStringLiteral("1920"),
               QStringLiteral("-screen-height"), QStringLiteral("1080"), QStringLiteral("-single-instance")};
    QTest::newRow("size keys missing")
        << QByteArray("[Video]\nFullScreen=true\n[Settings]\nVersion=1.0\n")
        << QStringList {QStringLiteral("-screen-width"), QStringLiteral("1024"),
               QStringLiteral("-screen-height"), QStringLiteral("768"), QStringLiteral("-single-instance")};
}

void TestLauncherGame::startButtonStartsGame()
{
    QFETCH(QByteArray, settings);
    QFETCH(QStringList, arguments);

    GameFolder game;
    prepare(game, settings);
    QVERIFY(!LTools::mutexExists(MutexName::Game));
    QProcess launcher;
    startLauncher(launcher, game);
    const QString window = waitForWindow(launcher.processId(), WindowTitle);
    QVERIFY(!window.isEmpty());
    const QPoint origin = windowPosition(window);
    QVERIFY(origin.x() >= 0);

    QVERIFY(mouseMove(QPoint(2, 2))); // --sync waits for a move: start elsewhere
    QVERIFY(click(origin.x() + 876, origin.y() + 656)); // the middle of the start button
    QVERIFY(waitForExit(launcher, 10000));
    QCOMPARE(launcher.exitStatus(), QProcess::NormalExit);
    QCOMPARE(launcher.exitCode(), 0);

    QTRY_COMPARE(game.readFile(QStringLiteral("ZARK.exe.args")),
        (arguments.join(QLatin1Char('\n')) + QStringLiteral("\n--\n")).toUtf8());
    QString gameWindow;
    QTRY_VERIFY(!(gameWindow = xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                      QStringLiteral("--name"), QStringLiteral("^ZARK$")}))
                     .isEmpty());
    const qint64 gamePid = windowPid(gameWindow.section(QLatin1Char('\n'), 0, 0));
    QVERIFY(gamePid > 0);
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
    prepare(game, "[Settings]\nVersion=1.05\n");
    QProcess launcher;
    startLauncher(launcher, game);
    const QString window = waitForWindow(launcher.processId(), WindowTitle);
    QVERIFY(!window.isEmpty());
    const QPoint origin = windowPosition(window);
    QVERIFY(origin.x() > 0 && origin.y() > 0);
    QVERIFY(mouseMove(QPoint(2, 2))); // off the window
    QTest::qWait(1500); // the page loads from a local file

    const QString idlePath = screenshotPath(QStringLiteral("launcher-idle.png"));
    QVERIFY(screenshot(idlePath));
    const QImage idle(idlePath);
    QVERIFY(!idle.isNull());
    // Uncovered corners of the window show what lies beneath; the background picture does not.
    const QRgb beneath = idle.pixel(origin.x() - 1, origin.y() + 790);
    QCOMPARE(idle.pixel(origin + QPoint(1015, 795)), beneath);
    QCOMPARE(idle.pixel(origin + QPoint(2, 2)), beneath);
    QVERIFY(idle.pixel(origin + QPoint(512, 120)) != beneath);

    QVERIFY(mouseMove(origin + QPoint(876, 656)));
    QTest::qWait(300);
    const QString hoverPath = screenshotPath(QStringLiteral("launcher-start-hover.png"));
    QVERIFY(screenshot(hoverPath));
    const QImage hover(hoverPath);
    const QRect startButton(origin + QPoint(750, 550), QSize(252, 213));
    QVERIFY(idle.copy(startButton) != hover.copy(startButton));

    // The disabled update button does not react to the pointer.
    const QRect updateButton(origin + QPoint(650, 630), QSize(145, 133));
    QVERIFY(mouseMove(origin + QPoint(722, 696)));
    QTest::qWait(300);
    const QString updatePath = screenshotPath(QStringLiteral("launcher-update-disabled-hover.png"));
    QVERIFY(screenshot(updatePath));
    QCOMPARE(QImage(updatePath).copy(updateButton), idle.copy(updateButton));
    stop(launcher);
}

QTEST_MAIN(TestLauncherGame)
#include "tst_launchergame.moc"
