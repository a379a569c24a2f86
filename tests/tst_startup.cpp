#include "BoxAnswerer.h"
#include "GameFolder.h"
#include "ProcessHelpers.h"
#include "Startup.h"
#include "Util.h"

#include <QtTest>

// A claimed mutex is released at once; a guard that could not be made (0) does not count here.
bool claimed(std::optional<NamedMutex::Handle> handle)
{
    if (handle && *handle)
        LTools::releaseMutex(*handle);
    return handle && *handle;
}

// The start-up decisions in process: run mode, guards and their boxes, hand-over.
class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void runMode_data()
    {
        QTest::addColumn<QByteArrayList>("arguments");
        QTest::addColumn<bool>("update");
        QTest::newRow("no argument") << QByteArrayList() << false;
        QTest::newRow("update") << QByteArrayList {"update"} << true;
        QTest::newRow("case differs") << QByteArrayList {"Update"} << false;
        QTest::newRow("trailing space") << QByteArrayList {"update "} << false;
        QTest::newRow("update plus another") << QByteArrayList {"update", "x"} << false;
        QTest::newRow("another plus update") << QByteArrayList {"x", "update"} << false;
    }
    void runMode()
    {
        QFETCH(QByteArrayList, arguments);
        QFETCH(bool, update);
        arguments.prepend("Launcher.exe");
        QVector<char *> argv;
        for (QByteArray &argument : arguments)
            argv << argument.data();
        QCOMPARE(Startup::runMode(argv.size(), argv.data()) == Startup::RunMode::Update, update);
    }

    void guards_data()
    {
        QTest::addColumn<QString>("held"); // by a child for 60 s, or 1 s after "briefly "
        QTest::addColumn<int>("guard"); // below
        QTest::addColumn<int>("waitsMs"); // at least
        QTest::addColumn<QString>("box"); // "<on top?> <refusal after the title>"; empty: passes
        const QString update = MutexName::LauncherUpdate, launcher = MutexName::Launcher;
        const QString stillOpen = "已開啟,請確認是否正常關閉後,再執行更新";
        QTest::newRow("update running: start waits, refused") << update << 0 << 5000 << "top 更新中";
        QTest::newRow("update ends within the wait") << "briefly " + update << 0 << 0 << "";
        QTest::newRow("second launcher") << launcher << 1 << 0 << "top 已開啟";
        QTest::newRow("first launcher") << "" << 1 << 0 << "";
        QTest::newRow("second update") << update << 2 << 0 << "top 更新中";
        QTest::newRow("update while the launcher runs") << launcher << 3 << 10000 << "top " + stillOpen;
        QTest::newRow("second wait: box not on top") << launcher << 4 << 10000 << "not-top " + stillOpen;
    }
    void guards()
    {
        QFETCH(QString, held);
        QFETCH(int, guard);
        QFETCH(int, waitsMs);
        QFETCH(QString, box);
        QProcess holder;
        if (!held.isEmpty()) {
            const QString ms = held.startsWith("briefly ") ? "1000" : "60000";
            ProcessHelpers::startHelper(holder, {"hold-mutex", held.section(' ', -1), ms});
            QVERIFY(holder.waitForReadyRead(5000) && holder.readLine() == "held\n");
        }
        BoxAnswerer boxes;
        QElapsedTimer timer;
        timer.start();
        const bool passed = guard == 0 ? Startup::waitForRunningUpdate()
            : guard == 1               ? claimed(Startup::claimLauncherMutex())
            : guard == 2               ? claimed(Startup::claimUpdateMutex())
            : guard == 3               ? Startup::waitForLauncherToEnd()
                                       : Startup::confirmLauncherEnded();
        QVERIFY(timer.elapsed() >= waitsMs);
        holder.kill();
        holder.waitForFinished();
        QCOMPARE(passed, box.isEmpty());
        const QString refusal = "Warning 確定: " + Startup::applicationTitle() + box.section(' ', 1);
        QCOMPARE(boxes.seen(), box.isEmpty() ? QStringList() : QStringList {refusal});
        QVERIFY(box.isEmpty()
            || bool(boxes.boxes().first().flags & Qt::WindowStaysOnTopHint) == box.startsWith("top"));
    }

    void handOver_data()
    {
        QTest::addColumn<bool>("installed"); // newLauncher.exe
        QTest::newRow("starts newLauncher.exe update") << true;
        QTest::newRow("newLauncher.exe missing: warning") << false;
    }
    void handOver()
    {
        QFETCH(bool, installed);
        GameFolder game;
        QVERIFY(!installed || game.installRecorder("Launcher/newLauncher.exe"));
        GameFolder::WorkingDirectory cwd(game);
        BoxAnswerer boxes;
        QCOMPARE(Startup::handOver(GamePaths::fromWorkingDirectory()), installed);
        QTRY_COMPARE_WITH_TIMEOUT(
            game.readFile("Launcher/newLauncher.exe.args"), installed ? "update\n--\n" : "", 5000);
        QCOMPARE(boxes.seen().join("").startsWith("Warning 確定: "), !installed);
    }

    void leftoverNewLauncherRemovedOnlyByLauncher()
    {
        GameFolder game;
        QVERIFY(game.writeFile("Launcher/newLauncher.exe", "old copy"));
        const auto paths = GamePaths::forGameDirectory(game.gameDir());
        // An update-mode process holds no launcher mutex and must not delete its own executable.
        Startup::removeLeftoverNewLauncher(paths);
        QVERIFY(game.exists("Launcher/newLauncher.exe"));
        const NamedMutex::Handle mine = LTools::claimMutex(MutexName::Launcher).handle;
        QVERIFY(mine != 0);
        Startup::removeLeftoverNewLauncher(paths);
        LTools::releaseMutex(mine);
        QVERIFY(!game.exists("Launcher/newLauncher.exe"));
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
