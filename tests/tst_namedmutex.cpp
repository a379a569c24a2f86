#include "ProcessHelpers.h"
#include "Util.h"

#include <QtTest>

#include <csignal>

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

private:
    // Starts a child that holds name for ms; returns once it reports ownership.
    static bool holdInChild(QProcess &child, const QString &name, int ms);
    static bool childCanTake(const QString &name);
};

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
    const NamedMutex::Handle own = LTools::createOwnedMutex(name);
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
    QCOMPARE(LTools::createOwnedMutex(name), NamedMutex::Handle(0));
    child.kill();
    child.waitForFinished();
    const NamedMutex::Handle own = LTools::createOwnedMutex(name);
    QVERIFY(own != 0);
    LTools::releaseMutex(own);
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

QTEST_GUILESS_MAIN(TestNamedMutex)
#include "tst_namedmutex.moc"
