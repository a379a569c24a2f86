#include "GameFolder.h"
#include "ProcessHelpers.h"

#include <QtTest>

using namespace ProcessHelpers;

// Real launcher processes under Xvfb: what a player sees, their exit codes, files and logs.
class TestLauncherProcess : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void startsAndLogs();
    void runsWhenTheGuardCannotBeMade();
    void secondLauncherRefused();
    void twoStartedTogetherOnlyOneRuns();
    void waitsForSelfUpdateToEnd();
    void secondUpdateModeRefused();
    void firstRunWithStandInTool();
    void firstRunFailureStillOpensWindow();

private:
    static void prepare(GameFolder &game, bool withSettings = true);
    static void stop(QProcess &process);
};

static const QString WindowTitle = QStringLiteral("^雲隼紀年-啟動器$");
static const QString WarningTitle = QStringLiteral("^警告訊息$");
static const QString InfoTitle = QStringLiteral("^訊息提示$");

void TestLauncherProcess::initTestCase()
{
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        QFAIL("xdotool is needed to drive the windows");
    QVERIFY(!qEnvironmentVariableIsEmpty("DISPLAY"));
}

void TestLauncherProcess::prepare(GameFolder &game, bool withSettings)
{
    QVERIFY(game.installLauncher());
    if (withSettings)
        game.writeSettings({{QStringLiteral("Settings/Version"), QStringLiteral("1.0")}});
}

void TestLauncherProcess::stop(QProcess &process)
{
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished();
    }
}

void TestLauncherProcess::startsAndLogs()
{
    GameFolder game;
    prepare(game);
    QVERIFY(game.writeFile(QStringLiteral("Launcher/newLauncher.exe"), "left by a finished self-update"));
    QVERIFY(game.writeFile(QStringLiteral("Launcher/debug.log"), "previous run\n"));
    QProcess launcher;
    startLauncher(launcher, game);
    QVERIFY(!waitForWindow(launcher.processId(), WindowTitle).isEmpty());
    QTRY_VERIFY(!game.exists(QStringLiteral("Launcher/newLauncher.exe")));
    const QByteArray log = game.readFile(QStringLiteral("Launcher/debug.log"));
    QVERIFY2(log.startsWith("Debug: Launcher start... "), log.constData());
    QVERIFY(!log.contains("previous run"));
    QCOMPARE(launcher.state(), QProcess::Running);
    stop(launcher);
}

// A lock folder that cannot hold the guard means nobody else runs: no refusal box.
void TestLauncherProcess::runsWhenTheGuardCannotBeMade()
{
    GameFolder game;
    prepare(game);
    QVERIFY(game.writeFile(QStringLiteral("not-a-folder"), QByteArray()));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), game.path(QStringLiteral("not-a-folder")));
    QProcess launcher;
    launcher.setProcessEnvironment(environment);
    startLauncher(launcher, game);
    QVERIFY(!waitForWindow(launcher.processId(), WindowTitle).isEmpty());
    QVERIFY(windows(launcher.processId(), WarningTitle).isEmpty());
    QVERIFY(game.readFile(QStringLiteral("Launcher/debug.log"))
                .contains("Warning: Cannot create ZARK_Launcher:"));
    stop(launcher);
}

void TestLauncherProcess::secondLauncherRefused()
{
    GameFolder game;
    prepare(game);
    QProcess first;
    startLauncher(first, game);
    QVERIFY(!waitForWindow(first.processId(), WindowTitle).isEmpty());

    QProcess second;
    startLauncher(second, game);
    const QString box = waitForWindow(second.processId(), WarningTitle);
    QVERIFY(!box.isEmpty());
    QVERIFY(windows(second.processId(), WindowTitle).isEmpty());
    screenshot(screenshotPath(QStringLiteral("refusal-warning.png")));
    QVERIFY(answerBox(box, QStringLiteral("Return")));
    QVERIFY(waitForExit(second, 5000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(first.state(), QProcess::Running);
    QVERIFY(!windows(first.processId(), WindowTitle).isEmpty());
    stop(first);
}

void TestLauncherProcess::twoStartedTogetherOnlyOneRuns()
{
    GameFolder game;
    prepare(game);
    QProcess a, b;
    startLauncher(a, game);
    startLauncher(b, game);

    QProcess *refused = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((refused = !windows(a.processId(), WarningTitle).isEmpty() ? &a
                                     : !windows(b.processId(), WarningTitle).isEmpty()  ? &b
                                                                                        : nullptr),
        15000);
    QProcess *running = refused == &a ? &b : &a;
    QVERIFY(!waitForWindow(running->processId(), WindowTitle).isEmpty());
    // The running launcher activates its window, which may take the focus from the box.
    QVERIFY(answerBox(waitForWindow(refused->processId(), WarningTitle), QStringLiteral("Return")));
    QVERIFY(waitForExit(*refused, 5000));
    QCOMPARE(refused->exitCode(), 0);
    QTest::qWait(300);
    QCOMPARE(running->state(), QProcess::Running);
    QVERIFY(windows(running->processId(), WarningTitle).isEmpty());
    stop(*running);
}

void TestLauncherProcess::waitsForSelfUpdateToEnd()
{
    GameFolder game;
    prepare(game);
    QProcess updater;
    startHelper(updater,
        {QStringLiteral("hold-mutex"), QStringLiteral("ZARK_LauncherUpdate"), QStringLiteral("2000")});
    QVERIFY(updater.waitForReadyRead(5000));
    QElapsedTimer timer;
    timer.start();
    QProcess launcher;
    startLauncher(launcher, game);
    QVERIFY(!waitForWindow(launcher.processId(), WindowTitle).isEmpty());
    QVERIFY2(timer.elapsed() >= 1500, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(windows(launcher.processId(), WarningTitle).isEmpty());
    stop(launcher);
    updater.waitForFinished();
}

void TestLauncherProcess::secondUpdateModeRefused()
{
    GameFolder game;
    prepare(game);
    QProcess first;
    startLauncher(first, game, {QStringLiteral("update")});
    QVERIFY(!waitForWindow(first.processId(), WindowTitle).isEmpty());
    QProcess second;
    startLauncher(second, game, {QStringLiteral("update")});
    // It waits 5 s for the running update, then refuses.
    const QString box = waitForWindow(second.processId(), WarningTitle, 15000);
    QVERIFY(!box.isEmpty());
    QVERIFY(answerBox(box, QStringLiteral("Return")));
    QVERIFY(waitForExit(second, 5000));
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(first.state(), QProcess::Running);
    stop(first);
}

void TestLauncherProcess::firstRunWithStandInTool()
{
    GameFolder game;
    prepare(game, false);
    QVERIFY(game.installDetectionTool());
    QProcess launcher;
    startLauncher(launcher, game);
    const QString box = waitForWindow(launcher.processId(), InfoTitle);
    QVERIFY(!box.isEmpty());
    QVERIFY(windows(launcher.processId(), WindowTitle).isEmpty());
    QTest::qWait(300);
    screenshot(screenshotPath(QStringLiteral("first-run-recommendation.png")));
    QVERIFY(game.exists(QStringLiteral("settings.ini")));
    QVERIFY(game.exists(QStringLiteral("resolution.dat")));
    QVERIFY(answerBox(box, QStringLiteral("Return")));
    QVERIFY(!waitForWindow(launcher.processId(), WindowTitle).isEmpty());
    stop(launcher);
}

void TestLauncherProcess::firstRunFailureStillOpensWindow()
{
    GameFolder game;
    prepare(game, false); // and no tool at all
    QProcess launcher;
    startLauncher(launcher, game);
    QVERIFY(answerBox(waitForWindow(launcher.processId(), WarningTitle), QStringLiteral("Return")));
    QVERIFY(!waitForWindow(launcher.processId(), WindowTitle).isEmpty());
    QVERIFY(game.readFile(QStringLiteral("Launcher/debug.log")).contains("Debug: Ini Create Error\n"));
    stop(launcher);
}

QTEST_GUILESS_MAIN(TestLauncherProcess)
#include "tst_launcherprocess.moc"
