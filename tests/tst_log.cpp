#include "LogFile.h"
#include "ProcessHelpers.h"

#include <QtTest>

class TestLog : public QObject
{
    Q_OBJECT

private slots:
    void prefixes_data();
    void prefixes();
    void childLogsUtf8WithLineFeeds();
    void fatalLineWrittenBeforeAbort();
    void unwritableLogIsIgnored();

private:
    static QByteArray runHelper(
        const QString &dir, const QStringList &arguments, QProcess::ExitStatus *status, int *code = nullptr);
};

QByteArray TestLog::runHelper(
    const QString &dir, const QStringList &arguments, QProcess::ExitStatus *status, int *code)
{
    QProcess child;
    child.setWorkingDirectory(dir);
    ProcessHelpers::startHelper(child, arguments);
    if (!child.waitForFinished(10000))
        return QByteArray("(child did not finish)");
    *status = child.exitStatus();
    if (code)
        *code = child.exitCode();
    QFile log(dir + QStringLiteral("/debug.log"));
    return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray("(no log)");
}

void TestLog::prefixes_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("debug") << int(QtDebugMsg) << "hello" << QByteArray("Debug: hello\n");
    QTest::newRow("warning") << int(QtWarningMsg) << "careful" << QByteArray("Warning: careful\n");
    QTest::newRow("critical") << int(QtCriticalMsg) << "bad" << QByteArray("Critical: bad\n");
    QTest::newRow("info has no pattern") << int(QtInfoMsg) << "ignored" << QByteArray("\n");
    QTest::newRow("empty message") << int(QtDebugMsg) << "" << QByteArray("Debug: \n");
    QTest::newRow("percent sign kept")
        << int(QtDebugMsg) << "100% %1 %2" << QByteArray("Debug: 100% %1 %2\n");
}

void TestLog::prefixes()
{
    QFETCH(int, type);
    QFETCH(QString, message);
    QFETCH(QByteArray, line);

    QTemporaryDir dir;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    QFile stale(QStringLiteral("debug.log"));
    QVERIFY(stale.open(QIODevice::WriteOnly));
    stale.write("old run\n");
    stale.close();

    resetLogFile();
    logMessageHandler(QtMsgType(type), QMessageLogContext(), message);
    logMessageHandler(QtDebugMsg, QMessageLogContext(), QStringLiteral("next"));
    QFile log(QStringLiteral("debug.log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QByteArray content = log.readAll();
    QDir::setCurrent(previous);
    QCOMPARE(content, line + "Debug: next\n");
}

void TestLog::childLogsUtf8WithLineFeeds()
{
    QTemporaryDir dir;
    QFile stale(dir.filePath(QStringLiteral("debug.log")));
    QVERIFY(stale.open(QIODevice::WriteOnly));
    stale.write("left over from the previous start\r\n");
    stale.close();

    QProcess::ExitStatus status;
    int code = -1;
    const QByteArray log = runHelper(dir.path(),
        {QStringLiteral("log"), QStringLiteral("遊戲更新完成"), QString(), QStringLiteral("two\nlines")},
        &status, &code);
    QCOMPARE(status, QProcess::NormalExit);
    QCOMPARE(code, 0);
    const QByteArray expected
        = "Debug: " + QStringLiteral("遊戲更新完成").toUtf8() + "\nDebug: \nDebug: two\nlines\n";
    QCOMPARE(log, expected);
    QVERIFY(!log.startsWith("\xEF\xBB\xBF"));
    QVERIFY(!log.contains('\r'));
}

void TestLog::fatalLineWrittenBeforeAbort()
{
    QTemporaryDir dir;
    QProcess::ExitStatus status;
    const QByteArray log
        = runHelper(dir.path(), {QStringLiteral("fatal"), QStringLiteral("致命錯誤 boom")}, &status);
    QCOMPARE(status, QProcess::CrashExit);
    QCOMPARE(log, "Fatal: " + QStringLiteral("致命錯誤 boom").toUtf8() + "\n");
}

void TestLog::unwritableLogIsIgnored()
{
    QTemporaryDir dir;
    // A folder where the log should be: opening fails even for root.
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("debug.log/inside")));
    QProcess::ExitStatus status;
    int code = -1;
    runHelper(dir.path(), {QStringLiteral("log"), QStringLiteral("lost")}, &status, &code);
    QCOMPARE(status, QProcess::NormalExit);
    QCOMPARE(code, 0);
    QVERIFY(QFileInfo(dir.filePath(QStringLiteral("debug.log"))).isDir());
}

QTEST_GUILESS_MAIN(TestLog)
#include "tst_log.moc"
