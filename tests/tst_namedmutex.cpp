#include "ProcessHelpers.h"
#include "TestFiles.h"
#include "Util.h"

#include <QtTest>

#include <cerrno>
#include <csignal>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

// Named mutexes against real holder processes.
class TestNamedMutex : public QObject
{
    Q_OBJECT

private slots:
    void unusedNameProbesFalseAndLeavesNothing();
    void heldMeansExistsForHolderToo();
    void secondOwnerRefused();
    void killedHolderFreesIt();
    void waitSucceedsWhenHolderExits();
    void waitFailsAfterLimitAndKeepsNothing();
    void probesNeverRefuseAnOwner();
    void otherUsersHolderDoesNotLockUsOut();
    void unusableLockFolder_data();
    void unusableLockFolder();

private:
    // Starts a child that holds name for ms; returns once it reports ownership.
    static bool holdInChild(QProcess &child, const QString &name, int ms);
    static bool childCanTake(const QString &name);
};

namespace {

void setOrUnset(const char *variable, const QByteArray &value)
{
    if (value.isNull())
        qunsetenv(variable);
    else
        qputenv(variable, value);
}

// Puts the lock files below runtime, or below tmp when runtime is null, until the guard goes.
auto lockFolders(const QByteArray &runtime, const QByteArray &tmp)
{
    const QByteArray oldRuntime = qgetenv("XDG_RUNTIME_DIR");
    const QByteArray oldTmp = qgetenv("TMPDIR");
    setOrUnset("XDG_RUNTIME_DIR", runtime);
    setOrUnset("TMPDIR", tmp);
    return qScopeGuard([oldRuntime, oldTmp] {
        setOrUnset("XDG_RUNTIME_DIR", oldRuntime);
        setOrUnset("TMPDIR", oldTmp);
    });
}

} // namespace

bool TestNamedMutex::holdInChild(QProcess &child, const QString &name, int ms)
{
    ProcessHelpers::startHelper(child, {QStringLiteral("hold-mutex"), name, QString::number(ms)});
    if (!child.waitForReadyRead(5000))
        return false;
    return child.readLine().trimmed() == "held";
}

bool TestNamedMutex::childCanTake(const QString &name)
{
    QProcess child;
    const bool held = holdInChild(child, name, 0);
    child.waitForFinished(5000);
    return held;
}

void TestNamedMutex::unusedNameProbesFalseAndLeavesNothing()
{
    const QString name = QStringLiteral("Probe_遊戲");
    QVERIFY(!LTools::mutexExists(name));
    QVERIFY(!LTools::mutexExists(name));
    QVERIFY(childCanTake(name));
    QVERIFY(LTools::waitForMutex(name, 1));
    QVERIFY(childCanTake(name)); // the wait kept nothing
}

void TestNamedMutex::heldMeansExistsForHolderToo()
{
    const QString name = QStringLiteral("HeldHere");
    const NamedMutex::Handle own = LTools::claimMutex(name).handle;
    QVERIFY(own != 0);
    QVERIFY(LTools::mutexExists(name));
    QVERIFY(LTools::mutexExists(name)); // probing twice changes nothing
    QVERIFY(!childCanTake(name));
    LTools::releaseMutex(own);
    QVERIFY(!LTools::mutexExists(name));

    QProcess child;
    QVERIFY(holdInChild(child, name, 60000));
    QVERIFY(LTools::mutexExists(name));
    child.kill();
    child.waitForFinished();
}

void TestNamedMutex::secondOwnerRefused()
{
    const QString name = QStringLiteral("OnlyOne");
    QProcess child;
    QVERIFY(holdInChild(child, name, 60000));
    const NamedMutex::Claim refused = NamedMutex::claim(name.toStdU16String());
    QVERIFY(refused.outcome == NamedMutex::Claim::Outcome::Held);
    QCOMPARE(refused.handle, NamedMutex::Handle(0));
    child.kill();
    child.waitForFinished();
    const NamedMutex::Claim own = NamedMutex::claim(name.toStdU16String());
    QVERIFY(own.outcome == NamedMutex::Claim::Outcome::Owned);
    QVERIFY(own.handle != 0);
    LTools::releaseMutex(own.handle);
}

void TestNamedMutex::killedHolderFreesIt()
{
    const QString name = QStringLiteral("Abandoned");
    QProcess child;
    QVERIFY(holdInChild(child, name, 60000));
    ::kill(pid_t(child.processId()), SIGKILL);
    QVERIFY(child.waitForFinished(5000));
    QTRY_VERIFY_WITH_TIMEOUT(!LTools::mutexExists(name), 1000);
    QVERIFY(LTools::waitForMutex(name, 1));
}

void TestNamedMutex::waitSucceedsWhenHolderExits()
{
    const QString name = QStringLiteral("ReleasedSoon");
    QProcess child;
    QVERIFY(holdInChild(child, name, 800));
    QElapsedTimer timer;
    timer.start();
    QVERIFY(LTools::waitForMutex(name, 5));
    const qint64 waited = timer.elapsed();
    QVERIFY2(waited >= 600, qPrintable(QString::number(waited)));
    QVERIFY2(waited < 800 + 400, qPrintable(QString::number(waited)));
    QVERIFY(child.waitForFinished(5000));
    QCOMPARE(child.exitCode(), 0);
    QVERIFY(childCanTake(name));
}

void TestNamedMutex::waitFailsAfterLimitAndKeepsNothing()
{
    const QString name = QStringLiteral("HeldLong");
    QProcess child;
    QVERIFY(holdInChild(child, name, 60000));
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!LTools::waitForMutex(name, 1));
    const qint64 waited = timer.elapsed();
    QVERIFY2(waited >= 1000 && waited < 1600, qPrintable(QString::number(waited)));
    QVERIFY(LTools::mutexExists(name));
    child.kill();
    child.waitForFinished();
    QTRY_VERIFY_WITH_TIMEOUT(!LTools::mutexExists(name), 1000);
}

// Another process probing and waiting without pause, as a launcher waiting for a
// self-update does, must never make the mutex look taken to someone creating it.
void TestNamedMutex::probesNeverRefuseAnOwner()
{
    const QString name = QStringLiteral("Probed");
    QProcess prober;
    ProcessHelpers::startHelper(prober, {QStringLiteral("probe-mutex"), name, QStringLiteral("1500")});
    QVERIFY(prober.waitForReadyRead(5000));
    int attempts = 0;
    int refused = 0;
    while (prober.state() != QProcess::NotRunning) {
        const NamedMutex::Handle own = LTools::claimMutex(name).handle;
        ++attempts;
        if (own == 0)
            ++refused;
        LTools::releaseMutex(own);
        prober.waitForFinished(0);
    }
    QCOMPARE(prober.exitCode(), 0);
    QVERIFY2(attempts > 1000, qPrintable(QString::number(attempts)));
    QCOMPARE(refused, 0);
}

// Without a runtime folder the lock files share the temporary folder with other users, as
// Windows sessions do not: another user's launcher must not refuse ours.
void TestNamedMutex::otherUsersHolderDoesNotLockUsOut()
{
    if (::geteuid() != 0)
        QSKIP("needs root to start a process as another user");
    if (QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
        QSKIP("setpriv is not installed");
    QTemporaryDir shared;
    QVERIFY(shared.isValid());
    QVERIFY(::chmod(QFile::encodeName(shared.path()).constData(), 01777) == 0);
    // The helper must be reachable by the other user wherever the build lies.
    const QString helper = shared.filePath(QStringLiteral("testhelper"));
    QVERIFY(QFile::copy(QStringLiteral(TESTHELPER_PATH), helper));

    const auto restore = lockFolders(QByteArray(), QFile::encodeName(shared.path()));

    const QString name = QStringLiteral("PerSession");
    QProcess other;
    other.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    other.start(QStringLiteral("setpriv"),
        {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"), QStringLiteral("--clear-groups"),
            helper, QStringLiteral("hold-mutex"), name, QStringLiteral("60000")});
    const auto stop = qScopeGuard([&] {
        other.kill();
        other.waitForFinished();
    });
    QVERIFY(other.waitForReadyRead(5000));
    QCOMPARE(other.readLine().trimmed(), QByteArray("held"));

    const NamedMutex::Handle own = LTools::claimMutex(name).handle;
    QVERIFY(own != 0);
    QVERIFY(!childCanTake(name)); // ours still excludes our own processes
    LTools::releaseMutex(own);
}

void TestNamedMutex::unusableLockFolder_data()
{
    QTest::addColumn<bool>("runtime"); // whether XDG_RUNTIME_DIR or TMPDIR names the folder
    QTest::addColumn<QString>("folder"); // below a fresh temporary folder holding a file "file"
    QTest::addColumn<int>("error");
    QTest::newRow("runtime folder is a file") << true << "file" << ENOTDIR;
    QTest::newRow("runtime folder missing") << true << "missing" << ENOENT;
    QTest::newRow("temporary folder is a file") << false << "file" << ENOTDIR;
}

// A lock file that cannot be made is no holder: nobody may be refused over it.
void TestNamedMutex::unusableLockFolder()
{
    QFETCH(bool, runtime);
    QFETCH(QString, folder);
    QFETCH(int, error);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(QStringLiteral("file")), "x"));
    const QByteArray path = QFile::encodeName(dir.filePath(folder));
    const auto restore = runtime ? lockFolders(path, QByteArray()) : lockFolders(QByteArray(), path);

    const std::u16string name = u"Unmakeable";
    const NamedMutex::Claim claim = NamedMutex::claim(name);
    QVERIFY(claim.outcome == NamedMutex::Claim::Outcome::Unavailable);
    QCOMPARE(claim.handle, NamedMutex::Handle(0));
    QVERIFY2(QString::fromStdString(claim.cause)
                 .endsWith(QString::fromStdString(std::generic_category().message(error))),
        claim.cause.c_str());
    QVERIFY(!NamedMutex::exists(name));
    QVERIFY(NamedMutex::waitUntilFree(name, 0));
}

QTEST_GUILESS_MAIN(TestNamedMutex)
#include "tst_namedmutex.moc"
