#include "GameFolder.h"
#include "Launcher.h"
#include "NginxServer.h"
#include "ProcessHelpers.h"
#include "Publishing.h"
#include "TestFiles.h"

#include <QtTest>

#include <memory>

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>

using namespace ProcessHelpers;

namespace {

const QString WindowTitle = QStringLiteral("^雲隼紀年-啟動器$");
const QString PromptTitle = QStringLiteral("^更新提示$");
const QString InfoTitle = QStringLiteral("^訊息提示$");
const QString WarningTitle = QStringLiteral("^警告訊息$");

// A POSIX exit status keeps the low 8 bits of the code the program returns.
constexpr int HandOverStatus = Launcher::HandOverExitCode & 0xff;

// Running processes whose program is path (as the launcher and the hand-over start them). A
// zombie's command line is empty: only processes that still run match.
QList<qint64> processesOf(const QString &path)
{
    QList<qint64> pids;
    for (const QString &entry :
        QDir(QStringLiteral("/proc")).entryList({QStringLiteral("[0-9]*")}, QDir::Dirs)) {
        if (QFile::decodeName(readFile(QStringLiteral("/proc/%1/cmdline").arg(entry)).split('\0').value(0))
            == path)
            pids << entry.toLongLong();
    }
    return pids;
}

// A process of path other than except, 0 when none started in time.
qint64 waitForProcess(const QString &path, qint64 except = 0)
{
    qint64 found = 0;
    const auto started = [&] {
        for (qint64 pid : processesOf(path))
            found = pid != except ? pid : found;
        return found != 0;
    };
    return QTest::qWaitFor(started, 15000) ? found : 0;
}

// The hand-over starts its processes detached. This test process is their subreaper, so it
// can wait for them and read their exit status like a parent. -1: still running.
int waitForAdopted(qint64 pid, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    do {
        int status = 0;
        const pid_t ended = ::waitpid(pid_t(pid), &status, WNOHANG);
        if (ended == pid_t(pid))
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (ended < 0)
            return -2; // not a descendant this process adopted
        QTest::qWait(20);
    } while (clock.elapsed() < timeoutMs);
    return -1;
}

} // namespace

// The whole self-update between real processes under Xvfb, with the update site on a private
// nginx: driven through the windows with key presses and clicks, checked by titles, exit
// codes, files and logs.
class TestSelfUpdate : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void gameAndLauncherUpdateEndToEnd();
    void secondLauncherRefusedDuringSelfUpdate();

private:
    // Each start empties debug.log: keep what the process showing a box has written.
    QByteArray keepLog(const QString &stage);
    void endAdopted(qint64 pid);

    QTemporaryDir m_work;
    std::unique_ptr<GameFolder> m_game;
    QList<qint64> m_adopted;
};

void TestSelfUpdate::initTestCase()
{
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        QFAIL("xdotool is needed to drive the windows");
    QVERIFY(!qEnvironmentVariableIsEmpty("DISPLAY"));
    if (QStandardPaths::findExecutable(QStringLiteral("nginx"), {"/usr/sbin", "/usr/bin"}).isEmpty())
        QSKIP("nginx is not installed");
    QVERIFY(m_work.isValid());
    QCOMPARE(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
}

void TestSelfUpdate::init()
{
    m_game = std::make_unique<GameFolder>();
    QVERIFY(m_game->installLauncher());
    m_adopted.clear();
}

void TestSelfUpdate::cleanup()
{
    for (qint64 pid : m_adopted)
        endAdopted(pid);
    m_game.reset();
}

void TestSelfUpdate::endAdopted(qint64 pid)
{
    ::kill(pid_t(pid), SIGTERM);
    if (waitForAdopted(pid, 5000) == -1) {
        ::kill(pid_t(pid), SIGKILL);
        waitForAdopted(pid, 5000);
    }
    m_adopted.removeAll(pid);
}

QByteArray TestSelfUpdate::keepLog(const QString &stage)
{
    const QByteArray log = m_game->readFile(QStringLiteral("Launcher/debug.log"));
    QFile copy(m_work.filePath(QStringLiteral("debug-%1.log").arg(stage)));
    if (copy.open(QIODevice::WriteOnly))
        copy.write(log);
    return log;
}

void TestSelfUpdate::gameAndLauncherUpdateEndToEnd()
{
    // ---- The studio publishes game 1.1 and a new launcher build ----
    const FileTree game10 = {{"ZARK.exe", patterned(150000, 1)}, {"Data/core.pak", patterned(300000, 2)},
        {"Data/ui.pak", patterned(50000, 3)}};
    FileTree game11 = game10;
    game11.insert("ZARK.exe", patterned(160000, 11));
    game11.insert("Data/core.pak", patterned(310000, 12));
    game11.insert("Data/Maps/map01.bin", patterned(40000, 13));

    // The new launcher is the built program with bytes appended: another digest, still runnable.
    FileTree launcher2 = readTree(m_game->launcherDir()); // the launcher as installed, images and all
    launcher2.insert("Launcher.exe",
        readFile(builtFile(QStringLiteral("Launcher.exe")))
            + QByteArray("\n-- launcher build 2 --\n").repeated(64));
    // Enough new files that the copy run, one file per 100 ms, is there to be seen.
    for (int i = 1; i <= 30; ++i)
        launcher2.insert(QStringLiteral("data/release-note-%1.txt").arg(i, 2, 10, QLatin1Char('0')),
            "launcher build 2, part " + QByteArray::number(i) + '\n');

    const QString release = m_work.filePath(QStringLiteral("release-%1"));
    const QString site = m_work.filePath(QStringLiteral("site"));
    QVERIFY(writeTree(release.arg(QStringLiteral("game-1.1")), game11));
    QVERIFY(writeTree(release.arg(QStringLiteral("launcher-2")), launcher2));
    for (const QStringList &arguments :
        {QStringList {"--site", site + "/game", "--oldest", "1.0", release.arg("game-1.1"), "1.1"},
            QStringList {"--site", site + "/launcher", "--oldest", "1", "--dir", "launcher-2",
                release.arg("launcher-2"), "1"}}) {
        const ToolRun run = publish(arguments);
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    }
    NginxServer nginx(site);
    QVERIFY2(nginx.start(), qPrintable(nginx.errorText()));

    // ---- A player's install of game 1.0 ----
    QVERIFY(writeTree(m_game->gameDir(), game10));
    QVERIFY(QFile::setPermissions(m_game->path(QStringLiteral("ZARK.exe")),
        QFile::permissions(m_game->path(QStringLiteral("ZARK.exe"))) | QFileDevice::ExeOwner
            | QFileDevice::ExeGroup | QFileDevice::ExeOther));
    m_game->writeSettings({{QStringLiteral("Settings/Version"), QStringLiteral("1.0")}});
    QVERIFY(m_game->writeFile(QStringLiteral("Launcher/launcher.ini"),
        QStringLiteral(
            "[launcher]\nlist=%1launcher/\nsite=about:blank\n[game]\nlist=%1game/\nsite=about:blank\n")
            .arg(nginx.baseUrl())
            .toUtf8()));
    const QString launcherPath = m_game->path(QStringLiteral("Launcher/Launcher.exe"));
    const QString newLauncherPath = m_game->path(QStringLiteral("Launcher/newLauncher.exe"));

    // ---- The launcher applies the game update ----
    QProcess launcher;
    startLauncher(launcher, *m_game);
    const qint64 launcherPid = launcher.processId();
    QVERIFY(!waitForWindow(launcherPid, WindowTitle).isEmpty());
    QString box = waitForWindow(launcherPid, PromptTitle, 30000);
    QVERIFY2(!box.isEmpty(), "the game update is offered");
    QVERIFY(answerBox(box, QStringLiteral("Return")));
    box = waitForWindow(launcherPid, InfoTitle, 60000);
    QVERIFY2(!box.isEmpty(), "the game update is announced as done");
    QSettings settings(m_game->path(QStringLiteral("settings.ini")), QSettings::IniFormat);
    QCOMPARE(settings.value(QStringLiteral("Settings/Version")).toString(), QStringLiteral("1.1"));
    for (auto it = game11.cbegin(); it != game11.cend(); ++it)
        QCOMPARE(md5Hex(m_game->readFile(it.key())), md5Hex(it.value()));
    QVERIFY(answerBox(box, QStringLiteral("Return")));

    // ---- It offers the launcher update, downloads it and hands over ----
    box = waitForWindow(launcherPid, PromptTitle, 30000);
    QVERIFY2(!box.isEmpty(), "the launcher update is offered");
    QByteArray log = keepLog(QStringLiteral("1-launcher"));
    QVERIFY2(log.startsWith("Debug: Launcher start... \n"), log.constData());
    QVERIFY(log.contains("Debug: Start Update"));
    QVERIFY(answerBox(box, QStringLiteral("Return")));

    QVERIFY(waitForExit(launcher, 60000));
    QCOMPARE(launcher.exitStatus(), QProcess::NormalExit);
    QCOMPARE(launcher.exitCode(), HandOverStatus);

    // ---- "newLauncher.exe update" waits for it, installs the launcher files and restarts it ----
    const qint64 updatePid = waitForProcess(newLauncherPath);
    QVERIFY2(updatePid > 0, "the hand-over started newLauncher.exe");
    m_adopted << updatePid;
    QCOMPARE(readFile(QStringLiteral("/proc/%1/cmdline").arg(updatePid)),
        QFile::encodeName(newLauncherPath) + QByteArray("\0update\0", 8));
    QCOMPARE(md5Hex(m_game->readFile(QStringLiteral("Launcher/newLauncher.exe"))),
        md5Hex(launcher2.value("Launcher.exe")));

    QVERIFY(!waitForWindow(updatePid, WindowTitle).isEmpty());
    QTest::qWait(1000); // some ten of the 31 files copied
    QVERIFY(screenshot(screenshotPath(QStringLiteral("selfupdate-copying.png"))));
    box = waitForWindow(updatePid, InfoTitle, 30000);
    QVERIFY2(!box.isEmpty(), "the self-update is announced as done");
    QTest::qWait(300);
    QVERIFY(screenshot(screenshotPath(QStringLiteral("selfupdate-done.png"))));
    log = keepLog(QStringLiteral("2-update"));
    QVERIFY2(log.startsWith("Debug: Launcher start... \n"), log.constData());
    QVERIFY(!log.contains("Start Update"));
    QVERIFY(processesOf(launcherPath).isEmpty());

    // Every launcher file installed with its digest; executables stay executable.
    for (auto it = launcher2.cbegin(); it != launcher2.cend(); ++it) {
        const QString installed = m_game->path(QStringLiteral("Launcher/") + it.key());
        QCOMPARE(md5Hex(readFile(installed)), md5Hex(it.value()));
        const QFile::Permissions mode = QFile::permissions(installed);
        const bool executable = it.key().endsWith(QLatin1String(".exe"));
        QVERIFY2(bool(mode & QFileDevice::ReadOther), qPrintable(it.key()));
        QCOMPARE(bool(mode & QFileDevice::ExeOwner), executable);
        QCOMPARE(bool(mode & QFileDevice::ExeOther), executable);
        QVERIFY(!m_game->exists(QStringLiteral("Update/Launcher/") + it.key()));
    }
    for (auto it = game11.cbegin(); it != game11.cend(); ++it) {
        const QFile::Permissions mode = QFile::permissions(m_game->path(it.key()));
        QCOMPARE(bool(mode & QFileDevice::ExeOwner), it.key().endsWith(QLatin1String(".exe")));
    }

    QVERIFY(answerBox(box, QStringLiteral("Return")));
    QCOMPARE(waitForAdopted(updatePid, 10000), 0);
    m_adopted.removeAll(updatePid);

    // ---- The new launcher comes back, removes newLauncher.exe and finds nothing to do ----
    const qint64 restartedPid = waitForProcess(launcherPath, launcherPid);
    QVERIFY2(restartedPid > 0, "Launcher.exe was restarted");
    m_adopted << restartedPid;
    QCOMPARE(md5Hex(readFile(QStringLiteral("/proc/%1/exe").arg(restartedPid))),
        md5Hex(launcher2.value("Launcher.exe")));
    const QString window = waitForWindow(restartedPid, WindowTitle);
    QVERIFY(!window.isEmpty());
    QTRY_VERIFY(!m_game->exists(QStringLiteral("Launcher/newLauncher.exe")));
    QTRY_VERIFY_WITH_TIMEOUT(
        keepLog(QStringLiteral("3-restarted")).contains("Debug: Launcher start... \n"), 5000);
    QTest::qWait(2000); // both update checks are answered by now
    log = keepLog(QStringLiteral("3-restarted"));
    QVERIFY2(!log.contains("Start Update"), log.constData());
    QVERIFY(windows(restartedPid, PromptTitle).isEmpty());
    QVERIFY(windows(restartedPid, InfoTitle).isEmpty());
    QCOMPARE(processesOf(launcherPath), QList<qint64> {restartedPid});
    QVERIFY(processesOf(newLauncherPath).isEmpty());
    QCOMPARE(settings.value(QStringLiteral("Settings/Version")).toString(), QStringLiteral("1.1"));

    // The player closes it with its close button.
    QCOMPARE(QProcess::execute(QStringLiteral("xdotool"),
                 {QStringLiteral("mousemove"), QStringLiteral("--window"), window, QStringLiteral("890"),
                     QStringLiteral("325"), QStringLiteral("click"), QStringLiteral("1")}),
        0);
    QCOMPARE(waitForAdopted(restartedPid, 10000), 0);
    m_adopted.removeAll(restartedPid);
}

void TestSelfUpdate::secondLauncherRefusedDuringSelfUpdate()
{
    // Launcher files downloaded by an earlier launcher run, waiting to be installed.
    const FileTree downloads = {{"data/a.txt", "a"}, {"data/b.txt", "b"}, {"notes.txt", "notes"}};
    const QString pending = m_game->path(QStringLiteral("Update/Launcher"));
    QVERIFY(writeTree(pending, downloads));
    const ToolRun run = publish({"--site", m_work.filePath("pending"), "--oldest", "1", pending, "1"});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QVERIFY(QFile::copy(m_work.filePath("pending/v1/UpdateList.xml"), pending + "/UpdateList.xml"));
    m_game->writeSettings({{QStringLiteral("Settings/Version"), QStringLiteral("1.0")}});

    QProcess updater;
    startLauncher(updater, *m_game, {QStringLiteral("update")});
    const QString done = waitForWindow(updater.processId(), InfoTitle);
    QVERIFY2(!done.isEmpty(), "the self-update announces its end and waits for the player");

    // A launcher started now waits for the update, which outlasts its 5 s, then refuses.
    QElapsedTimer clock;
    clock.start();
    QProcess second;
    startLauncher(second, *m_game);
    QTest::qWait(3500);
    QVERIFY(windows(second.processId(), QStringLiteral(".")).isEmpty());
    const QString refusal = waitForWindow(second.processId(), WarningTitle, 10000);
    QVERIFY(!refusal.isEmpty());
    QVERIFY2(clock.elapsed() >= 4800, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(windows(second.processId(), WindowTitle).isEmpty());
    const QByteArray log = keepLog(QStringLiteral("second-launcher"));
    QCOMPARE(log, QByteArray("Debug: Launcher start... \n"));
    QVERIFY(answerBox(refusal, QStringLiteral("Return")));
    QVERIFY(waitForExit(second, 5000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);

    // The update goes on as before.
    QCOMPARE(updater.state(), QProcess::Running);
    QVERIFY(answerBox(done, QStringLiteral("Return")));
    QVERIFY(waitForExit(updater, 10000));
    QCOMPARE(updater.exitCode(), 0);
    for (auto it = downloads.cbegin(); it != downloads.cend(); ++it)
        QCOMPARE(m_game->readFile(QStringLiteral("Launcher/") + it.key()), it.value());
    const qint64 restarted = waitForProcess(m_game->path(QStringLiteral("Launcher/Launcher.exe")));
    QVERIFY(restarted > 0);
    m_adopted << restarted;
    QVERIFY(!waitForWindow(restarted, WindowTitle).isEmpty());
}

QTEST_GUILESS_MAIN(TestSelfUpdate)
#include "tst_selfupdate.moc"
