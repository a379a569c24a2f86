#include "GameFolder.h"
#include "Launcher.h"
#include "NginxServer.h"
#include "ProcessHelpers.h"
#include "Publishing.h"
#include "TestFiles.h"
#include "UpdateFixtures.h"

#include <QtTest>

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>

using namespace ProcessHelpers;
using namespace UpdateTest;

namespace {

const QString WindowTitle = QStringLiteral("^雲隼紀年-啟動器$");
const QString PromptTitle = QStringLiteral("^更新提示$");
const QString InfoTitle = QStringLiteral("^訊息提示$");
const QString WarningTitle = QStringLiteral("^警告訊息$");

// A POSIX exit status keeps the low 8 bits of the code the program returns.
constexpr int HandOverStatus = Launcher::HandOverExitCode & 0xff;

// The Windows build under wine, or the build's own programs.
const bool underWine = !windowsGame().isEmpty();

// The program and arguments of a running process (a zombie has none). Wine shows a Windows
// program's command line as Windows passed it: its program as "Z:\\...".
QStringList commandLine(qint64 pid)
{
    QStringList parts;
    for (const QByteArray &part : readFile(QStringLiteral("/proc/%1/cmdline").arg(pid)).split('\0')) {
        if (!part.isEmpty())
            parts << QFile::decodeName(part);
    }
    return parts;
}

QList<qint64> processesOf(const QString &path)
{
    QList<qint64> pids;
    for (const QString &pid :
        QDir(QStringLiteral("/proc")).entryList({QStringLiteral("[0-9]*")}, QDir::Dirs)) {
        const QString program = commandLine(pid.toLongLong()).value(0);
        if (program == path || program == windowsPath(path))
            pids << pid.toLongLong();
    }
    return pids;
}

qint64 waitForProcess(const QString &path)
{
    QList<qint64> found;
    static_cast<void>(QTest::qWaitFor([&] { return !(found = processesOf(path)).isEmpty(); }, 15000));
    return found.value(0);
}

// The launcher starts its successors detached; this process is their subreaper, so it reads
// their exit status like a parent. -1: still running.
int waitForAdopted(qint64 pid, int timeoutMs)
{
    int status = 0;
    pid_t ended = 0;
    if (!QTest::qWaitFor([&] { return (ended = ::waitpid(pid_t(pid), &status, WNOHANG)) != 0; }, timeoutMs))
        return -1;
    return ended < 0 ? -2 : WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// What a process runs; under wine, the file it was started from (its executable is wine's).
QByteArray exeDigest(qint64 pid, const QString &path)
{
    return md5Hex(readFile(underWine ? path : QStringLiteral("/proc/%1/exe").arg(pid)));
}

} // namespace

// The whole hand-over between real processes under Xvfb, from a site published to nginx, with
// the refusals only real processes show: checked by window titles, exit codes and files.
class TestSelfUpdate : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void firstRunToGameStart();
    // Run by the soak (its own CTest entry and label).
    void killedUpdatesComplete();

private:
    QList<qint64> m_adopted;
};

void TestSelfUpdate::initTestCase()
{
    QVERIFY2(
        !QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty(), "xdotool drives the windows");
    if (QStandardPaths::findExecutable(QStringLiteral("nginx"), {"/usr/sbin", "/usr/bin"}).isEmpty())
        QSKIP("nginx is not installed");
    QCOMPARE(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
}

void TestSelfUpdate::cleanup()
{
    for (qint64 pid : qAsConst(m_adopted)) {
        ::kill(pid_t(pid), SIGTERM);
        if (waitForAdopted(pid, 5000) == -1)
            ::kill(pid_t(pid), SIGKILL);
    }
    m_adopted.clear();
}

void TestSelfUpdate::firstRunToGameStart()
{
    // ---- The studio publishes game 1.1 (with the game itself) and a new launcher build ----
    const FileTree game10 = {{"Data/core.pak", patterned(300000, 1)}};
    const FileTree game11
        = {{"Data/core.pak", patterned(310000, 2)}, {"Data/Maps/map01.bin", patterned(40000, 3)},
            {"ZARK.exe", readFile(builtFile(QStringLiteral("ZARK.exe")))}};
    // The built program with bytes appended: another digest, still runnable.
    const FileTree launcher2 = {{"data/notes.txt", "launcher build 2\n"},
        {"Launcher.exe", readFile(builtFile(QStringLiteral("Launcher.exe"))) + "\n-- launcher build 2 --\n"}};
    QTemporaryDir work;
    const QString site = work.filePath(QStringLiteral("site"));
    const QString game11Dir = work.filePath("game-1.1"), launcher2Dir = work.filePath("launcher-2");
    QVERIFY(writeTree(game11Dir, game11) && writeTree(launcher2Dir, launcher2));
    // Signed, and the player's launcher.ini names the key: every list is checked on the way.
    const QString key = work.filePath("studio.key"), publicKey = work.filePath("studio.pub");
    QCOMPARE(runTool("minisign", {"-G", "-W", "-p", publicKey, "-s", key}).exitCode, 0);
    for (const QStringList &arguments :
        {QStringList {"--site", site + "/game", "--oldest", "1.0", game11Dir, "1.1"},
            QStringList {"--site", site + "/launcher", "--oldest", "1", launcher2Dir, "1"}}) {
        const ToolRun run = publish(arguments + QStringList {"--sign", key});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    }
    // The studio's page holds one link the view keeps to itself.
    QVERIFY(writeFile(site + "/site/index.html",
        "<html><body style='margin:0'><a href='zarkcmd://run/calc' style='font-size:64px'>"
        "CALC</a></body></html>"));
    NginxServer nginx(site);
    QVERIFY2(nginx.start(), qPrintable(nginx.errorText()));

    // ---- A player's first start: game 1.0, no settings.ini yet, the stand-in detection tool ----
    GameFolder game;
    QVERIFY(game.installLauncher() && game.installDetectionTool() && writeTree(game.gameDir(), game10));
    QVERIFY(game.writeFile(QStringLiteral("Launcher/launcher.ini"),
        QStringLiteral(
            "[launcher]\nlist=%1launcher/\nsite=%1site/index.html\n[game]\nlist=%1game/\nsite=about:blank\n"
            "[update]\npublicKeys=%2\n")
            .arg(nginx.baseUrl(), QString::fromLatin1(readFile(publicKey)).split('\n').value(1))
            .toUtf8()));
    const QString launcherPath = game.path(QStringLiteral("Launcher/Launcher.exe"));

    // Two launchers started together: exactly one runs, the other is refused and exits 0.
    QProcess a, b;
    startLauncher(a, game);
    startLauncher(b, game);
    QString box;
    QVERIFY(QTest::qWaitFor(
        [&] {
            for (qint64 pid : processesOf(launcherPath)) {
                if (!(box = windows(pid, WarningTitle).value(0)).isEmpty())
                    return true;
            }
            return false;
        },
        30000));
    QVERIFY(answerBox(box));
    QVERIFY(QTest::qWaitFor(
        [&] { return a.state() == QProcess::NotRunning || b.state() == QProcess::NotRunning; }));
    QProcess &launcher = a.state() == QProcess::NotRunning ? b : a;
    QCOMPARE((&launcher == &a ? b : a).exitCode(), 0);
    QList<qint64> launchers = processesOf(launcherPath);
    QCOMPARE(launchers.size(), 1);
    const qint64 pid = launchers.first();

    // The tool's recommendation comes before the window.
    const QString advice = waitForWindow(pid, InfoTitle);
    QVERIFY(!advice.isEmpty());
    QVERIFY(windows(pid, WindowTitle).isEmpty());
    QVERIFY(game.exists(QStringLiteral("settings.ini")) && game.exists(QStringLiteral("resolution.dat")));
    QVERIFY(answerBox(advice));
    QVERIFY(!waitForWindow(pid, WindowTitle).isEmpty());

    // ---- The game update: offered, installed, announced ----
    QVERIFY(answerBox(waitForWindow(pid, PromptTitle, 30000)));
    const QString done = waitForWindow(pid, InfoTitle, 60000);
    QVERIFY(!done.isEmpty());
    QVERIFY(game.readFile("settings.ini").contains("Version=1.1"));
    for (auto it = game11.cbegin(); it != game11.cend(); ++it)
        QCOMPARE(md5Hex(game.readFile(it.key())), md5Hex(it.value()));
    QVERIFY(answerBox(done));

    // ---- The launcher update: offered, downloaded, handed over ----
    QVERIFY(answerBox(waitForWindow(pid, PromptTitle, 30000)));
    QVERIFY(launcher.waitForFinished(60000));
    QCOMPARE(launcher.exitCode(), HandOverStatus);
    if (underWine)
        QCOMPARE(launcher.readAllStandardOutput().trimmed().toInt(), Launcher::HandOverExitCode);
    const QString newLauncherPath = game.path(QStringLiteral("Launcher/newLauncher.exe"));
    const qint64 updater = waitForProcess(newLauncherPath);
    QVERIFY2(updater > 0, "the hand-over started newLauncher.exe");
    m_adopted << updater;
    QCOMPARE(commandLine(updater).mid(1), QStringList {"update"});
    QCOMPARE(exeDigest(updater, newLauncherPath), md5Hex(launcher2.value("Launcher.exe")));

    // ---- The copy strip installs the launcher files and announces it ----
    QVERIFY(!waitForWindow(updater, WindowTitle).isEmpty());
    const QString copied = waitForWindow(updater, InfoTitle, 30000);
    QVERIFY(!copied.isEmpty());
    for (auto it = launcher2.cbegin(); it != launcher2.cend(); ++it)
        QCOMPARE(md5Hex(game.readFile("Launcher/" + it.key())), md5Hex(it.value()));

    // While it runs, a launcher and a second update mode wait 5 s, are refused and exit 0.
    QProcess second, secondUpdate;
    startLauncher(second, game);
    startLauncher(secondUpdate, game, {QStringLiteral("update")});
    QVERIFY(QTest::qWaitFor([&] { return (launchers = processesOf(launcherPath)).size() == 2; }));
    for (qint64 refused : qAsConst(launchers))
        QVERIFY(answerBox(waitForWindow(refused, WarningTitle)));
    for (QProcess *process : {&second, &secondUpdate}) {
        QTRY_COMPARE(process->state(), QProcess::NotRunning);
        QCOMPARE(process->exitCode(), 0);
    }
    QVERIFY(answerBox(copied));
    QCOMPARE(waitForAdopted(updater, 10000), 0);
    m_adopted.removeAll(updater);

    // ---- The new launcher comes back alone and removes newLauncher.exe ----
    const qint64 restarted = waitForProcess(launcherPath);
    QVERIFY2(restarted > 0, "Launcher.exe was restarted");
    m_adopted << restarted;
    QCOMPARE(exeDigest(restarted, launcherPath), md5Hex(launcher2.value("Launcher.exe")));
    const QString window = waitForWindow(restarted, WindowTitle);
    QVERIFY(!window.isEmpty());
    QTRY_VERIFY(!game.exists(QStringLiteral("Launcher/newLauncher.exe")));
    QCOMPARE(processesOf(launcherPath), QList<qint64> {restarted});

    // ---- The page's link of a custom scheme stays in the program ----
    QVERIFY(QTest::qWaitFor([&] { // the page arrives after the window
        xdotool({"mousemove", "--window", window, "200", "320", "click", "1"});
        return game.readFile("Launcher/debug.log")
            .contains("Link not opened, scheme not allowed: \"zarkcmd\"");
    }));

    // ---- The start button starts the updated game with the screen size and closes ----
    xdotool({"mousemove", "--window", window, "876", "656", "click", "1"}); // the start button's middle
    QCOMPARE(waitForAdopted(restarted, 15000), 0);
    m_adopted.removeAll(restarted);
    const QSettings settings(game.path("settings.ini"), QSettings::IniFormat);
    QTRY_COMPARE(game.readFile(QStringLiteral("ZARK.exe.args")),
        QStringLiteral("-screen-width\n%1\n-screen-height\n%2\n-single-instance\n--\n")
            .arg(settings.value("Video/ResolutionWidth").toString(),
                settings.value("Video/ResolutionHeight").toString())
            .toUtf8());
    const qint64 zark = waitForProcess(game.path(QStringLiteral("ZARK.exe")));
    QVERIFY(zark > 0);
    m_adopted << zark;

    if (underWine)
        return; // the lock folder is POSIX's
    // A lock folder that cannot hold the guard means nobody else runs: logged, no refusal. With
    // settings.ini and the tool gone, the failed first run is announced and the window opens.
    QVERIFY(QFile::remove(game.path("settings.ini")) && QFile::remove(game.path("hardwaredetect.exe")));
    QVERIFY(game.writeFile(QStringLiteral("not-a-folder"), QByteArray()));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), game.path(QStringLiteral("not-a-folder")));
    QProcess unguarded;
    unguarded.setProcessEnvironment(environment);
    startLauncher(unguarded, game);
    QVERIFY(answerBox(waitForWindow(unguarded.processId(), WarningTitle)));
    QVERIFY(!waitForWindow(unguarded.processId(), WindowTitle).isEmpty());
    const QByteArray log = game.readFile(QStringLiteral("Launcher/debug.log"));
    QVERIFY(log.contains("Warning: Cannot create ZARK_Launcher:"));
    QVERIFY(
        log.contains("Update manifests must be signed by: ") && game.exists("Launcher/release-serials.json"));
    unguarded.terminate();
    QVERIFY(unguarded.waitForFinished(5000));
}

// kill -9 at random moments (a fixed seed) of a game update through a slow server, then of the
// self-update's copy run, each then left to finish: a run continues the bytes the killed one
// staged, every file is old or new and never torn, and no staging file stays behind.
void TestSelfUpdate::killedUpdatesComplete()
{
    FileTree game11;
    for (int i = 0; i < 4; ++i)
        game11.insert(QStringLiteral("Data/part%1.pak").arg(i), patterned((12 + 2 * i) << 20, i)); // 60 MiB
    QTemporaryDir work;
    const QString release = work.filePath("1.1");
    QVERIFY(writeTree(release, game11)
        && publish({"--site", work.filePath("game"), "--oldest", "1.0", release, "1.1"}).exitCode == 0);
    qputenv("NGINX_FIXTURE_LIMIT_RATE", "3m"); // 20 s in all: the kills below stay inside it
    NginxServer nginx(work.path());
    QVERIFY2(nginx.start(), qPrintable(nginx.errorText()));
    GameFolder game;
    game.writeSettings({{"Settings/Version", "1.0"}});
    QVERIFY(game.installLauncher()
        && game.writeFile("Launcher/launcher.ini",
            "[launcher]\nsite=about:blank\n[game]\nlist=" + nginx.baseUrl().toUtf8() + "game/\n"));
    const auto installed = [&] {
        return std::all_of(game11.keyBegin(), game11.keyEnd(),
            [&](const QString &name) { return game.readFile(name) == game11.value(name); });
    };
    QRandomGenerator random(15);
    for (int kills = 5; kills >= 0; --kills) {
        QProcess launcher;
        startLauncher(launcher, game);
        QVERIFY(answerBox(waitForWindow(launcher.processId(), PromptTitle)));
        if (kills == 0)
            QVERIFY(answerBox(waitForWindow(launcher.processId(), InfoTitle, 60000))); // "更新已完成"
        else
            QTest::qWait(random.bounded(1000, 3000));
        launcher.kill();
        QVERIFY(launcher.waitForFinished());
        // The new version is recorded only once every file is in place.
        QVERIFY(!game.readFile("settings.ini").contains("Version=1.1") || installed());
    }
    QVERIFY(game.readFile("settings.ini").contains("Version=1.1") && installed());
    qint64 sent = 0, ranges = 0;
    for (const QByteArray &line : readFile(nginx.accessLog()).split('\n')) {
        const QByteArrayList fields = line.split('"').value(2).simplified().split(' '); // status, bytes
        ranges += line.contains("/files/") && fields.value(0) == "206";
        sent += line.contains("/files/") ? fields.value(1).toLongLong() : 0;
    }
    QVERIFY2(ranges > 0 && sent < (60 << 20) * 13 / 10,
        qPrintable(QStringLiteral("%1 range answers, %2 bytes sent").arg(ranges).arg(sent)));

    // The copy run: the new build runs as newLauncher.exe, the Launcher.exe it restarts is a stand-in.
    QList<GameFile> files;
    for (int i = 0; i < 8; ++i) {
        files.append({i % 2 ? "data" : "", QStringLiteral("f%1.bin").arg(i), patterned(300000, i)});
        QVERIFY(game.writeFile("Launcher/" + files.last().localPath(), "old")
            && game.writeFile("Update/Launcher/" + files.last().localPath(), files.last().content));
    }
    QVERIFY(QFile::rename(game.path("Launcher/Launcher.exe"), game.path("Launcher/newLauncher.exe"))
        && game.writeScript("Launcher/Launcher.exe", "exit 0\n")
        && game.writeFile("Update/Launcher/UpdateList.xml", updateList(files, ServedFrom::MirroredFolders)));
    const auto copied = [&] {
        return std::count_if(files.cbegin(), files.cend(), [&](const GameFile &file) {
            return game.readFile("Launcher/" + file.localPath()) == file.content;
        });
    };
    for (int kills = 3; kills >= 0; --kills) {
        const int tick = int(copied() + random.bounded(1, 3)); // a kill after one or two more moves
        QProcess update;
        update.setWorkingDirectory(game.launcherDir());
        update.start(game.path("Launcher/newLauncher.exe"), {"update"});
        QVERIFY(kills ? QTest::qWaitFor([&] { return copied() >= tick; }, 10000)
                      : answerBox(waitForWindow(update.processId(), InfoTitle)));
        if (kills)
            update.kill();
        QVERIFY(update.waitForFinished());
        QCOMPARE(update.exitStatus() == QProcess::NormalExit && update.exitCode() == 0, kills == 0);
        QCOMPARE(copied() == files.size(), kills == 0);
        for (const GameFile &file : qAsConst(files))
            QVERIFY(QByteArrayList({file.content, "old"})
                        .contains(game.readFile("Launcher/" + file.localPath())));
    }
    // Staged downloads, their validators, the temporary copies of an install.
    QCOMPARE(filesBelow(game.gameDir()).filter(QRegularExpression("(^|/)\\.[^/]+\\.part")), QStringList());
}

QTEST_GUILESS_MAIN(TestSelfUpdate)
#include "tst_selfupdate.moc"
