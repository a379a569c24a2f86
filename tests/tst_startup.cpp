#include "BoxAnswerer.h"
#include "ProcessHelpers.h"
#include "Startup.h"
#include "Util.h"

#include <QtTest>

// The start-up guards in process: which refuse while another process holds a mutex, how long
// they wait for it, and their boxes.
class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void guards_data()
    {
        QTest::addColumn<QString>("held"); // by a child for a minute, or a second after "briefly "
        QTest::addColumn<int>("guard"); // in the order of guards() below
        QTest::addColumn<int>("waitsMs"); // at least
        QTest::addColumn<QString>("box"); // "top" or "below" (not on top), then the refusal; empty: none
        const QString update = MutexName::LauncherUpdate, launcher = MutexName::Launcher;
        const QString stillOpen = "已開啟,請確認是否正常關閉後,再執行更新";
        QTest::newRow("update running: start waits, refused") << update << 0 << 5000 << "top 更新中";
        QTest::newRow("update ends within the wait") << "briefly " + update << 0 << 0 << "";
        QTest::newRow("second launcher") << launcher << 1 << 0 << "top 已開啟";
        QTest::newRow("second update") << update << 2 << 0 << "top 更新中";
        QTest::newRow("update while the launcher runs") << launcher << 3 << 10000 << "top " + stillOpen;
        QTest::newRow("second wait: box not on top") << launcher << 4 << 10000 << "below " + stillOpen;
    }
    void guards()
    {
        QFETCH(QString, held);
        QFETCH(int, guard);
        QFETCH(int, waitsMs);
        QFETCH(QString, box);
        QProcess holder;
        ProcessHelpers::startHelper(
            holder, {"hold-mutex", held.section(' ', -1), held.startsWith("briefly ") ? "1000" : "60000"});
        QVERIFY(holder.waitForReadyRead(5000) && holder.readLine() == "held\n");
        BoxAnswerer boxes;
        QElapsedTimer timer;
        timer.start();
        const bool passed = guard == 0 ? Startup::waitForRunningUpdate()
            : guard == 1               ? Startup::claimLauncherMutex().has_value()
            : guard == 2               ? Startup::claimUpdateMutex().has_value()
            : guard == 3               ? Startup::waitForLauncherToEnd()
                                       : Startup::confirmLauncherEnded();
        QVERIFY(timer.elapsed() >= waitsMs);
        QCOMPARE(passed, box.isEmpty());
        const QString refusal
            = QString(box.startsWith("top") ? " on top: " : ": ") + Startup::applicationTitle();
        QCOMPARE(boxes.seen(),
            box.isEmpty() ? QStringList() : QStringList {"Warning 確定" + refusal + box.section(' ', 1)});
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
