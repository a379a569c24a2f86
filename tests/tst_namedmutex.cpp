#include "ProcessHelpers.h"
#include "Util.h"

#include <QtTest>

#include <unistd.h>

using Outcome = NamedMutex::Claim::Outcome;

// The POSIX named mutexes (lock files) against holders in other processes. Lock files go below
// XDG_RUNTIME_DIR, else below TMPDIR: the tests that move them come last.
class TestNamedMutex : public QObject
{
    Q_OBJECT

private slots:
    void killedHolderFreesIt();
    void probesNeverRefuseAnOwner();
    void lockFolders();
};

void TestNamedMutex::killedHolderFreesIt()
{
    const NamedMutex::Claim own = LTools::claimMutex("Held_遊戲");
    // The holder sees it too, and keeps it when it probes.
    QVERIFY(own.outcome == Outcome::Owned && LTools::mutexExists("Held_遊戲")
        && LTools::claimMutex("Held_遊戲").outcome == Outcome::Held);
    LTools::releaseMutex(own.handle);
    QProcess child;
    ProcessHelpers::startHelper(child, {"hold-mutex", "Held_遊戲", "60000"});
    QVERIFY(child.waitForReadyRead(5000) && child.readLine() == "held\n");
    QVERIFY(LTools::mutexExists("Held_遊戲") && LTools::claimMutex("Held_遊戲").outcome == Outcome::Held
        && !LTools::waitForMutex("Held_遊戲", 1));
    child.kill(); // SIGKILL
    QVERIFY(child.waitForFinished(5000) && !LTools::mutexExists("Held_遊戲")
        && LTools::waitForMutex("Held_遊戲", 0));
}

// Another process probing and waiting without pause, as a launcher waiting for a self-update
// does, must never make the mutex look taken to someone claiming it.
void TestNamedMutex::probesNeverRefuseAnOwner()
{
    QProcess prober;
    ProcessHelpers::startHelper(prober, {"probe-mutex", "Probed", "1500"});
    QVERIFY(prober.waitForReadyRead(5000));
    int attempts = 0, refused = 0;
    for (; prober.state() != QProcess::NotRunning; ++attempts, prober.waitForFinished(0)) {
        const NamedMutex::Claim claim = LTools::claimMutex("Probed");
        refused += claim.outcome != Outcome::Owned;
        LTools::releaseMutex(claim.handle);
    }
    QVERIFY2(prober.exitCode() == 0 && attempts > 1000 && refused == 0,
        qPrintable(QString("%1 of %2 claims refused").arg(refused).arg(attempts)));
}

// Without a runtime folder the lock files share the temporary folder with other users, as
// Windows sessions do not: one file per user, or another user's launcher (or a stale file it
// left, which this user cannot open) would refuse ours. And a lock file that cannot be made is
// no holder: nobody may be refused over it.
void TestNamedMutex::lockFolders()
{
    QTemporaryDir dir;
    QVERIFY(QFile(dir.filePath("file")).open(QIODevice::WriteOnly));
    const auto claimBelow = [&](const char *variable, const char *folder) {
        qunsetenv("XDG_RUNTIME_DIR");
        qputenv(variable, QFile::encodeName(dir.filePath(folder)));
        const NamedMutex::Claim claim = LTools::claimMutex("Name");
        LTools::releaseMutex(claim.handle);
        return QString::fromStdString(claim.outcome == Outcome::Owned ? "owned" : claim.cause);
    };
    QCOMPARE(claimBelow("TMPDIR", "."), "owned");
    QVERIFY(QFile::exists(dir.filePath("Name-" + QString::number(::getuid()) + ".lock")));
    for (const auto &[variable, folder, error] : {std::tuple {"XDG_RUNTIME_DIR", "file", ENOTDIR},
             std::tuple {"XDG_RUNTIME_DIR", "missing", ENOENT}, std::tuple {"TMPDIR", "file", ENOTDIR}}) {
        QVERIFY(claimBelow(variable, folder).endsWith(qt_error_string(error)));
        QVERIFY(!LTools::mutexExists("Name") && LTools::waitForMutex("Name", 0));
    }
}

QTEST_GUILESS_MAIN(TestNamedMutex)
#include "tst_namedmutex.moc"
