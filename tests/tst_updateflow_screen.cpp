#include "FaultServer.h"
#include "GameFolder.h"
#include "NginxServer.h"
#include "ProcessHelpers.h"
#include "TestFiles.h"
#include "Util.h"
#include "main.h"

#include <QImage>
#include <QtTest>

using namespace ProcessHelpers;
using Answer = FaultServer::Answer;

namespace {

const QString WindowTitle = QStringLiteral("^雲隼紀年-啟動器$");
const QString PromptTitle = QStringLiteral("^更新提示$");
const QString InfoTitle = QStringLiteral("^訊息提示$");
// A POSIX process status keeps the low eight bits of the exit code.
constexpr int HandOverStatus = Startup::HandOverExitCode & 0xff;

struct File
{
    QString relativeDir;
    QString name;
    QByteArray content;

    QString localPath() const { return relativeDir.isEmpty() ? name : relativeDir + QLatin1Char('/') + name; }
    QString servedPath() const { return QStringLiteral("files/") + localPath(); }
};

QByteArray updateList(const QList<File> &files)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<UpdateList>\n";
    for (const File &file : files) {
        const QString served = QFileInfo(file.servedPath()).path();
        xml += QStringLiteral("  <File Name=\"%1\" RelativeDir=\"%2\" MD5=\"%3\" Dir=\"%4\" Size=\"%5\"/>\n")
                   .arg(file.name.toHtmlEscaped(), file.relativeDir.toHtmlEscaped(),
                       QString::fromLatin1(md5Hex(file.content)), served.toHtmlEscaped())
                   .arg(file.content.size())
                   .toUtf8();
    }
    return xml + "</UpdateList>\n";
}

// Like waitForWindow, but keeps this process's event loop (and its server) running.
QString waitForTitle(qint64 pid, const QString &title, const QStringList &besides = {}, int timeoutMs = 30000)
{
    QString found;
    // found stays empty on a time-out.
    static_cast<void>(QTest::qWaitFor(
        [&] {
            for (const QString &window : windows(pid, title)) {
                if (!besides.contains(window)) {
                    found = window;
                    return true;
                }
            }
            return false;
        },
        timeoutMs));
    return found;
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
    static void prepare(GameFolder &game, const QString &gameList, const QString &launcherList);
};

void TestUpdateFlowScreen::initTestCase()
{
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        QFAIL("xdotool is needed to drive the windows");
    QVERIFY(!qEnvironmentVariableIsEmpty("DISPLAY"));
}

void TestUpdateFlowScreen::prepare(GameFolder &game, const QString &gameList, const QString &launcherList)
{
    QVERIFY(game.installLauncher());
    const QString page = QFINDTESTDATA("data/launcher/site/index.html");
    QVERIFY(!page.isEmpty());
    QVERIFY(game.writeFile(QStringLiteral("Launcher/launcher.ini"),
        "[launcher]\nsite=" + QUrl::fromLocalFile(page).toEncoded() + "\nlist=" + launcherList.toUtf8()
            + "\n[game]\nlist=" + gameList.toUtf8() + "\nsite=http://127.0.0.1:1/download\n"));
    QVERIFY(game.writeFile(QStringLiteral("settings.ini"),
        "[Video]\nResolutionWidth=1024\nResolutionHeight=768\n\n[Settings]\nVersion=1.0\n"));
}

void TestUpdateFlowScreen::updateAsSeen()
{
    FaultServer server;
    QVERIFY(server.listen());
    const QList<File> files {
        {"Data", "world.pak", patterned(1536 * 1024, 1)}, {"", "ZARK.dat", patterned(20000, 2)}};
    // Besides the update from 1.0, a version 2.5 that only a manual download reaches.
    server.serve(QStringLiteral("/game/VersionList.xml"),
        "<VersionList><Version MinVer=\"1.0\" MaxVer=\"1.1\" Dir=\"v1.1\"/>"
        "<Version MinVer=\"2.0\" MaxVer=\"2.5\" Dir=\"v2.5\"/></VersionList>");
    server.serve(QStringLiteral("/game/v1.1/UpdateList.xml"), updateList(files));
    server.serve(QStringLiteral("/game/v1.1/files/Data/world.pak"),
        Answer::trickle(files.at(0).content, 48 * 1024, 100));
    server.serve(QStringLiteral("/game/v1.1/files/ZARK.dat"), files.at(1).content);
    server.serve(QStringLiteral("/launcher/VersionList.xml"), "<VersionList/>");

    GameFolder game;
    prepare(game, server.url(QStringLiteral("/game/")), server.url(QStringLiteral("/launcher/")));
    QProcess launcher;
    startLauncher(launcher, game);
    QVERIFY(!waitForTitle(launcher.processId(), WindowTitle).isEmpty());
    const QString prompt = waitForTitle(launcher.processId(), PromptTitle);
    QVERIFY(!prompt.isEmpty());
    QTest::qWait(1200); // the page and the box are drawn
    QVERIFY(screenshot(screenshotPath(QStringLiteral("update-prompt.png"))));
    QVERIFY(pressKey(QStringLiteral("Return"), prompt));

    // ZARK.dat comes first (the last entry), then the large file trickles in.
    QVERIFY(QTest::qWaitFor(
        [&] { return server.requestCount(QStringLiteral("/game/v1.1/files/Data/world.pak")) > 0; }, 10000));
    QTest::qWait(1500);
    QCOMPARE(server.requestCount(QStringLiteral("/launcher/VersionList.xml")), 0);
    const QString runningPath = screenshotPath(QStringLiteral("update-running.png"));
    QVERIFY(screenshot(runningPath));
    QVERIFY(!QImage(runningPath).isNull());

    const QString done = waitForTitle(launcher.processId(), InfoTitle);
    QVERIFY(!done.isEmpty());
    QCOMPARE(QSettings(game.path(QStringLiteral("settings.ini")), QSettings::IniFormat)
                 .value(QStringLiteral("Settings/Version"))
                 .toString(),
        QStringLiteral("1.1"));
    for (const File &file : files)
        QVERIFY(LTools::checkFileMd5(game.path(file.localPath()), md5Hex(file.content)));
    QVERIFY(pressKey(QStringLiteral("Return"), done));

    // Then the launcher is checked, and version 2.5 is announced.
    const QString notice = waitForTitle(launcher.processId(), InfoTitle, {done});
    QVERIFY(!notice.isEmpty());
    QCOMPARE(server.requestCount(QStringLiteral("/launcher/VersionList.xml")), 1);
    QTest::qWait(800);
    QVERIFY(screenshot(screenshotPath(QStringLiteral("manual-update.png"))));
    QVERIFY(pressKey(QStringLiteral("Escape"), notice)); // "取消"
    QTRY_VERIFY(windows(launcher.processId(), InfoTitle).isEmpty());
    QCOMPARE(launcher.state(), QProcess::Running);
    stop(launcher);
}

void TestUpdateFlowScreen::updateAndHandOverWithNginx()
{
    const QList<File> gameFiles {
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
    const QList<File> launcherFiles {
        {"", "Launcher.exe", readFile(QStringLiteral(TESTHELPER_PATH))},
        {"images", "Launcher_news.png", patterned(5000, 10)},
    };
    QVERIFY(!launcherFiles.first().content.isEmpty());

    QTemporaryDir site;
    QVERIFY(site.isValid());
    QVERIFY(writeFile(site.filePath(QStringLiteral("game/VersionList.xml")),
        "<VersionList><Version MinVer=\"0.5\" MaxVer=\"0.9\" Dir=\"v0.9\"/>"
        "<Version MinVer=\"1.0\" MaxVer=\"1.2\" Dir=\"v1.2\"/></VersionList>"));
    QVERIFY(writeFile(site.filePath(QStringLiteral("game/v1.2/UpdateList.xml")), updateList(gameFiles)));
    for (const File &file : gameFiles)
        QVERIFY(writeFile(site.filePath(QStringLiteral("game/v1.2/") + file.servedPath()), file.content));
    QVERIFY(writeFile(site.filePath(QStringLiteral("launcher/VersionList.xml")),
        "<VersionList><Version MinVer=\"1.0\" MaxVer=\"1.1\" Dir=\"l1.1\"/></VersionList>"));
    QVERIFY(
        writeFile(site.filePath(QStringLiteral("launcher/l1.1/UpdateList.xml")), updateList(launcherFiles)));
    for (const File &file : launcherFiles)
        QVERIFY(writeFile(site.filePath(QStringLiteral("launcher/l1.1/") + file.servedPath()), file.content));
    NginxServer nginx(site.path());
    if (!nginx.start()) {
        if (QStandardPaths::findExecutable(QStringLiteral("nginx"), {"/usr/sbin", "/usr/bin"}).isEmpty())
            QSKIP("nginx is not installed");
        QFAIL(qPrintable(nginx.errorText()));
    }

    GameFolder game;
    prepare(game, nginx.baseUrl() + QStringLiteral("game/"), nginx.baseUrl() + QStringLiteral("launcher/"));
    QVERIFY(game.writeFile(QStringLiteral("Data/core.pak"), "an older core"));
    QVERIFY(game.writeFile(QStringLiteral("Saves/slot1.sav"), "the player's own file"));
    const QByteArray installedLauncher = game.readFile(QStringLiteral("Launcher/Launcher.exe"));

    QProcess launcher;
    startLauncher(launcher, game);
    const QString gamePrompt = waitForTitle(launcher.processId(), PromptTitle);
    QVERIFY(!gamePrompt.isEmpty());
    QVERIFY(pressKey(QStringLiteral("Return"), gamePrompt));
    const QString done = waitForTitle(launcher.processId(), InfoTitle);
    QVERIFY(!done.isEmpty());
    QVERIFY(pressKey(QStringLiteral("Return"), done));
    const QString launcherPrompt = waitForTitle(launcher.processId(), PromptTitle, {gamePrompt});
    QVERIFY(!launcherPrompt.isEmpty());
    QVERIFY(pressKey(QStringLiteral("Return"), launcherPrompt));

    QVERIFY(waitForExit(launcher, 30000));
    QCOMPARE(launcher.exitStatus(), QProcess::NormalExit);
    QCOMPARE(launcher.exitCode(), HandOverStatus);
    QTRY_COMPARE(game.readFile(QStringLiteral("Launcher/newLauncher.exe.args")), QByteArray("update\n--\n"));

    QCOMPARE(QSettings(game.path(QStringLiteral("settings.ini")), QSettings::IniFormat)
                 .value(QStringLiteral("Settings/Version"))
                 .toString(),
        QStringLiteral("1.2"));
    for (const File &file : gameFiles)
        QVERIFY2(LTools::checkFileMd5(game.path(file.localPath()), md5Hex(file.content)),
            qPrintable(file.localPath()));
    QCOMPARE(game.readFile(QStringLiteral("Saves/slot1.sav")), QByteArray("the player's own file"));
    // The launcher's files wait in the download folder for the self-update.
    for (const File &file : launcherFiles)
        QVERIFY(LTools::checkFileMd5(
            game.path(QStringLiteral("Update/Launcher/") + file.localPath()), md5Hex(file.content)));
    QCOMPARE(game.readFile(QStringLiteral("Launcher/Launcher.exe")), installedLauncher);
    QVERIFY(!game.exists(QStringLiteral("Launcher/images/Launcher_news.png")));
}

QTEST_MAIN(TestUpdateFlowScreen)
#include "tst_updateflow_screen.moc"
