#include "FaultServer.h"
#include "GameFolder.h"
#include "Launcher.h"
#include "NginxServer.h"
#include "ProcessHelpers.h"
#include "TestFiles.h"
#include "UpdateSite.h"
#include "WindowHelpers.h"

#include <QtTest>

using namespace ProcessHelpers;
using namespace UpdateTest;
using Answer = FaultServer::Answer;

namespace {

const QString PromptTitle = QStringLiteral("^更新提示$");
const QString InfoTitle = QStringLiteral("^訊息提示$");
// A POSIX process status keeps the low eight bits of the exit code.
constexpr int HandOverStatus = Launcher::HandOverExitCode & 0xff;

} // namespace

// The real launcher under Xvfb with a compositor: the update as a player sees it and answers
// it, and a whole update against nginx ending in the hand-over to the self-update.
class TestUpdateFlowScreen : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void updateAsSeen();
    void updateAndHandOverWithNginx();

private:
    static void prepare(GameFolder &game, const QString &lists);
};

void TestUpdateFlowScreen::initTestCase()
{
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        QFAIL("xdotool is needed to drive the windows");
    QVERIFY(!qEnvironmentVariableIsEmpty("DISPLAY"));
}

// lists: the URL below which game/ and launcher/ hold the update lists.
void TestUpdateFlowScreen::prepare(GameFolder &game, const QString &lists)
{
    QVERIFY(game.installLauncher());
    const QString page = QFINDTESTDATA("data/launcher/site/index.html");
    QVERIFY(!page.isEmpty());
    QVERIFY(game.writeFile(QStringLiteral("Launcher/launcher.ini"),
        "[launcher]\nsite=" + QUrl::fromLocalFile(page).toEncoded() + "\nlist=" + lists.toUtf8()
            + "launcher/\n[game]\nlist=" + lists.toUtf8() + "game/\nsite=http://127.0.0.1:1/download\n"));
    QVERIFY(game.writeFile(QStringLiteral("settings.ini"), "[Settings]\nVersion=1.0\n"));
}

void TestUpdateFlowScreen::updateAsSeen()
{
    FaultServer server;
    QVERIFY(server.listen());
    const QList<GameFile> files {
        {"Data", "world.pak", patterned(1536 * 1024, 1)}, {"", "ZARK.dat", patterned(20000, 2)}};
    // Besides the update from 1.0, a version 2.5 that only a manual download reaches.
    server.serve(QStringLiteral("/game/VersionList.xml"),
        versionList({{"1.0", "1.1", "v1.1"}, {"2.0", "2.5", "v2.5"}}));
    serveUpdate(server, QStringLiteral("/game/v1.1"), files);
    const QString slowFile = servedPath(QStringLiteral("/game/v1.1"), files.at(0));
    server.serve(slowFile, Answer::trickle(files.at(0).content, 48 * 1024, 100));
    const QString launcherList = QStringLiteral("/launcher/VersionList.xml");
    server.serve(launcherList, versionList({}));

    GameFolder game;
    prepare(game, server.url(QStringLiteral("/")));
    QProcess launcher;
    startLauncher(launcher, game);
    QVERIFY(!waitForNewWindow(launcher.processId(), QStringLiteral("^雲隼紀年-啟動器$")).isEmpty());
    const QString prompt = waitForNewWindow(launcher.processId(), PromptTitle);
    QVERIFY(!prompt.isEmpty());
    QTest::qWait(1200); // the page and the box are drawn
    QVERIFY(screenshot(screenshotPath(QStringLiteral("update-prompt.png"))));
    QVERIFY(answerBox(prompt, QStringLiteral("Return")));

    // ZARK.dat comes first (the last entry), then the large file trickles in.
    QVERIFY(QTest::qWaitFor([&] { return server.requestCount(slowFile) > 0; }, 10000));
    QTest::qWait(1500);
    QCOMPARE(server.requestCount(launcherList), 0);
    QVERIFY(!grabScreen(QStringLiteral("update-running.png")).isNull());

    const QString done = waitForNewWindow(launcher.processId(), InfoTitle);
    QVERIFY(!done.isEmpty());
    QCOMPARE(storedVersion(game), QStringLiteral("1.1"));
    QVERIFY(installedBelow(game.gameDir(), files));
    QVERIFY(answerBox(done, QStringLiteral("Return")));

    // Then the launcher is checked, and version 2.5 is announced.
    const QString notice = waitForNewWindow(launcher.processId(), InfoTitle, {done});
    QVERIFY(!notice.isEmpty());
    QCOMPARE(server.requestCount(launcherList), 1);
    QTest::qWait(800);
    QVERIFY(screenshot(screenshotPath(QStringLiteral("manual-update.png"))));
    QVERIFY(answerBox(notice, QStringLiteral("Escape"))); // "取消"
    QTRY_VERIFY(windows(launcher.processId(), InfoTitle).isEmpty());
    QCOMPARE(launcher.state(), QProcess::Running);
    stop(launcher);
}

void TestUpdateFlowScreen::updateAndHandOverWithNginx()
{
    const QList<GameFile> gameFiles {
        {"", "ZARK.exe", patterned(200 * 1024, 3)},
        {"", "empty.cfg", QByteArray()},
        {"Data", "core.pak", patterned(2 * 1024 * 1024 + 5, 4)},
        {"Data/Maps", "map01.bin", patterned(40000, 5)},
        {"Data/Maps/Extra", "map02.bin", patterned(41000, 6)},
        {"Data/Sound Bank", "music 01.ogg", patterned(90000, 7)},
        {"Data/Textures/Hi/Res", "sky.dds", patterned(300 * 1024, 8)},
        {"Bin/x64", "helper.dll", patterned(20000, 9)},
        {"Config/Keys", "bindings.xml", "<Keys><Key Name=\"W\"/></Keys>\n"},
    };
    // The new launcher is the test helper: started as newLauncher.exe, it records its arguments.
    const QList<GameFile> launcherFiles {
        {"", "Launcher.exe", readFile(QStringLiteral(TESTHELPER_PATH))},
        {"images", "Launcher_news.png", patterned(5000, 10)},
    };

    QTemporaryDir site;
    QVERIFY(writeFile(site.filePath(QStringLiteral("game/VersionList.xml")),
        versionList({{"0.5", "0.9", "v0.9"}, {"1.0", "1.2", "v1.2"}})));
    QVERIFY(writeUpdate(site.filePath(QStringLiteral("game/v1.2")), gameFiles));
    QVERIFY(writeFile(
        site.filePath(QStringLiteral("launcher/VersionList.xml")), versionList({{"1.0", "1.1", "l1.1"}})));
    QVERIFY(writeUpdate(site.filePath(QStringLiteral("launcher/l1.1")), launcherFiles));
    NginxServer nginx(site.path());
    if (!nginx.start()) {
        if (QStandardPaths::findExecutable(QStringLiteral("nginx"), {"/usr/sbin", "/usr/bin"}).isEmpty())
            QSKIP("nginx is not installed");
        QFAIL(qPrintable(nginx.errorText()));
    }

    GameFolder game;
    prepare(game, nginx.baseUrl());
    QVERIFY(game.writeFile(QStringLiteral("Data/core.pak"), "an older core"));
    QVERIFY(game.writeFile(QStringLiteral("Saves/slot1.sav"), "the player's own file"));
    const QByteArray installedLauncher = game.readFile(QStringLiteral("Launcher/Launcher.exe"));

    QProcess launcher;
    startLauncher(launcher, game);
    // The game's prompt, its completion, then the launcher's prompt.
    QStringList answered;
    for (const QString &title : {PromptTitle, InfoTitle, PromptTitle}) {
        answered << waitForNewWindow(launcher.processId(), title, answered);
        QVERIFY2(!answered.last().isEmpty(), qPrintable(title));
        QVERIFY(answerBox(answered.last(), QStringLiteral("Return")));
    }

    QVERIFY(waitForExit(launcher, 30000));
    QCOMPARE(launcher.exitStatus(), QProcess::NormalExit);
    QCOMPARE(launcher.exitCode(), HandOverStatus);
    QTRY_COMPARE(game.readFile(QStringLiteral("Launcher/newLauncher.exe.args")), QByteArray("update\n--\n"));

    QCOMPARE(storedVersion(game), QStringLiteral("1.2"));
    QVERIFY(installedBelow(game.gameDir(), gameFiles));
    QCOMPARE(game.readFile(QStringLiteral("Saves/slot1.sav")), QByteArray("the player's own file"));
    // The launcher's files wait in the download folder for the self-update.
    QVERIFY(installedBelow(game.path(QStringLiteral("Update/Launcher")), launcherFiles));
    QCOMPARE(game.readFile(QStringLiteral("Launcher/Launcher.exe")), installedLauncher);
    QVERIFY(!game.exists(QStringLiteral("Launcher/images/Launcher_news.png")));
}

QTEST_MAIN(TestUpdateFlowScreen)
#include "tst_updateflow_screen.moc"
