#include "Downloader.h"
#include "FaultServer.h"
#include "TestFiles.h"
#include "main.h"

#include <QtTest>

#include <memory>

Q_DECLARE_METATYPE(FaultServer::Answer)
Q_DECLARE_METATYPE(QList<FaultServer::Answer>)

namespace {

using Answer = FaultServer::Answer;

const QByteArray EmptyDigest = "d41d8cd98f00b204e9800998ecf8427e";

// The real log handler writing debug.log in a temporary working directory.
class LogCapture
{
public:
    explicit LogCapture(const QString &workingDir)
        : m_previousDir(QDir::currentPath())
        , m_log(workingDir + QStringLiteral("/debug.log"))
    {
        QDir::setCurrent(workingDir);
        resetLogFile();
        m_previousHandler = qInstallMessageHandler(logMessageHandler);
    }
    ~LogCapture() { stop(); }

    QByteArray stop()
    {
        if (!m_previousDir.isEmpty()) {
            qInstallMessageHandler(m_previousHandler);
            QDir::setCurrent(m_previousDir);
            m_previousDir.clear();
        }
        return readFile(m_log);
    }

private:
    QString m_previousDir;
    QString m_log;
    QtMessageHandler m_previousHandler = nullptr;
};

// The signals of one downloader, and waiting for its single outcome.
struct Watch
{
    explicit Watch(SDownloader *downloader)
        : finished(downloader, &SDownloader::downloadFileFinished)
        , failed(downloader, &SDownloader::downloadFailed)
        , progress(downloader, &SDownloader::downloadProgress)
    { }

    bool waitForOutcome(int timeoutMs = 15000)
    {
        if (!QTest::qWaitFor([this] { return finished.count() + failed.count() > 0; }, timeoutMs))
            return false;
        // Anything that would follow the outcome (a second signal, a stray retry) shows up here.
        QTest::qWait(100);
        return true;
    }

    QSignalSpy finished;
    QSignalSpy failed;
    QSignalSpy progress;
};

} // namespace

class TestDownloader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void succeeds_data();
    void succeeds();
    void failsAfterThreeAttempts_data();
    void failsAfterThreeAttempts();
    void redirects_data();
    void redirects();
    void logLines_data();
    void logLines();
    void saveFailureNotRetried_data();
    void saveFailureNotRetried();
    void failureReportedFromEventLoop();
    void targetAppearsOnlyWhenComplete();
    void newDownloadReplacesRunningTransfer();
    void destroyedMidTransferLeavesNothing();
    void progressRelayed_data();
    void progressRelayed();

private:
    FaultServer server;
    std::unique_ptr<QTemporaryDir> dir;
    QString saveDir() const { return dir->filePath(QStringLiteral("Update/Game/data")); }
};

void TestDownloader::initTestCase()
{
    QVERIFY(server.listen());
}

void TestDownloader::init()
{
    server.clear();
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

void TestDownloader::succeeds_data()
{
    QTest::addColumn<QList<Answer>>("answers");
    QTest::addColumn<bool>("verify");
    QTest::addColumn<QByteArray>("expectedHash");
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<int>("requests");
    QTest::addColumn<QByteArray>("content");

    const QByteArray body = patterned(200 * 1024 + 3);
    const QByteArray digest = md5Hex(body);
    const int longTimeout = 30000;
    QTest::newRow("checked") << QList<Answer> {Answer::ok(body)} << true << digest << longTimeout << 1
                             << body;
    QTest::newRow("unchecked") << QList<Answer> {Answer::ok(body)} << false << QByteArray() << longTimeout
                               << 1 << body;
    QTest::newRow("empty body unchecked") << QList<Answer> {Answer::ok(QByteArray())} << false << QByteArray()
                                          << longTimeout << 1 << QByteArray();
    QTest::newRow("empty body with the empty digest") << QList<Answer> {Answer::ok(QByteArray())} << true
                                                      << EmptyDigest << longTimeout << 1 << QByteArray();
    QTest::newRow("fail twice then serve")
        << QList<Answer> {Answer::withStatus(500, "busy"), Answer::withStatus(503), Answer::ok(body)} << true
        << digest << longTimeout << 3 << body;
    QTest::newRow("reset mid-body then serve")
        << QList<Answer> {Answer::resetAfter(body, 70000), Answer::ok(body)} << true << digest << longTimeout
        << 2 << body;
    QTest::newRow("wrong bytes then right ones")
        << QList<Answer> {Answer::ok(patterned(1000)), Answer::ok(body)} << true << digest << longTimeout << 2
        << body;
    QTest::newRow("stall before headers, then serve")
        << QList<Answer> {Answer::stallBeforeHeaders(), Answer::ok(body)} << true << digest << 300 << 2
        << body;
    QTest::newRow("stall mid-body, then serve")
        << QList<Answer> {Answer::stallAfter(body, 1000), Answer::ok(body)} << true << digest << 300 << 2
        << body;
    // 40 steps of 25 ms: far longer in all than the time-out, never idle for that long.
    QTest::newRow("slow trickle outlasts the time-out")
        << QList<Answer> {Answer::trickle(patterned(4000), 100, 25)} << true << md5Hex(patterned(4000)) << 400
        << 1 << patterned(4000);
}

void TestDownloader::succeeds()
{
    QFETCH(QList<Answer>, answers);
    QFETCH(bool, verify);
    QFETCH(QByteArray, expectedHash);
    QFETCH(int, timeoutMs);
    QFETCH(int, requests);
    QFETCH(QByteArray, content);

    server.script(QStringLiteral("/v2/data/a.pak"), answers);
    SDownloader downloader;
    downloader.setTransferTimeout(timeoutMs);
    Watch watch(&downloader);
    downloader.download(server.url(QStringLiteral("/v2/data/a.pak")), saveDir(), QStringLiteral("a.pak"),
        verify, expectedHash);
    QVERIFY(watch.waitForOutcome());

    QCOMPARE(watch.finished.count(), 1);
    QCOMPARE(watch.failed.count(), 0);
    QCOMPARE(server.requestCount(QStringLiteral("/v2/data/a.pak")), requests);
    QCOMPARE(readFile(saveDir() + QStringLiteral("/a.pak")), content);
    QCOMPARE(filesBelow(dir->path()), QStringList {QStringLiteral("Update/Game/data/a.pak")});
}

void TestDownloader::failsAfterThreeAttempts_data()
{
    QTest::addColumn<Answer>("answer");
    QTest::addColumn<bool>("verify");
    QTest::addColumn<QByteArray>("expectedHash");
    QTest::addColumn<int>("timeoutMs");

    const QByteArray body = patterned(100 * 1024);
    const QByteArray digest = md5Hex(body);
    QTest::newRow("404") << Answer::withStatus(404, "no such file") << false << QByteArray() << 30000;
    QTest::newRow("404 with hash check")
        << Answer::withStatus(404, "no such file") << true << digest << 30000;
    QTest::newRow("empty body, digest of something")
        << Answer::ok(QByteArray()) << true << md5Hex("x") << 30000;
    QTest::newRow("uppercase digest") << Answer::ok(body) << true << digest.toUpper() << 30000;
    QTest::newRow("wrong bytes") << Answer::ok(patterned(100 * 1024 - 1)) << true << digest << 30000;
    QTest::newRow("reset mid-body") << Answer::resetAfter(body, 50000) << false << QByteArray() << 30000;
    QTest::newRow("stall before headers") << Answer::stallBeforeHeaders() << true << digest << 250;
    QTest::newRow("stall mid-body") << Answer::stallAfter(body, 20000) << true << digest << 250;
    QTest::newRow("304 is no file") << Answer::withStatus(304) << false << QByteArray() << 30000;
    QTest::newRow("redirect without a target")
        << Answer::withStatus(302, "moved") << false << QByteArray() << 30000;
}

void TestDownloader::failsAfterThreeAttempts()
{
    QFETCH(Answer, answer);
    QFETCH(bool, verify);
    QFETCH(QByteArray, expectedHash);
    QFETCH(int, timeoutMs);

    server.serve(QStringLiteral("/f"), answer);
    SDownloader downloader;
    downloader.setTransferTimeout(timeoutMs);
    Watch watch(&downloader);
    downloader.download(
        server.url(QStringLiteral("/f")), saveDir(), QStringLiteral("a.pak"), verify, expectedHash);
    QVERIFY(watch.waitForOutcome());

    QCOMPARE(watch.failed.count(), 1);
    QCOMPARE(watch.finished.count(), 0);
    QCOMPARE(server.requestCount(QStringLiteral("/f")), 3);
    QCOMPARE(filesBelow(dir->path()), QStringList());
}

void TestDownloader::redirects_data()
{
    QTest::addColumn<int>("hops");
    QTest::addColumn<bool>("loop");
    QTest::addColumn<bool>("succeeds");
    QTest::newRow("one hop") << 1 << false << true;
    QTest::newRow("five hops") << 5 << false << true;
    QTest::newRow("six hops") << 6 << false << false;
    QTest::newRow("loop") << 0 << true << false;
}

void TestDownloader::redirects()
{
    QFETCH(int, hops);
    QFETCH(bool, loop);
    QFETCH(bool, succeeds);

    const QByteArray body = "the real file";
    server.serve(QStringLiteral("/real"), body);
    if (loop) {
        server.serve(QStringLiteral("/old"), Answer::redirect("/other", 301));
        server.serve(
            QStringLiteral("/other"), Answer::redirect(server.url(QStringLiteral("/old")).toUtf8(), 307));
    } else {
        server.redirectChain(QStringLiteral("/old"), hops, QStringLiteral("/real"));
    }
    SDownloader downloader;
    Watch watch(&downloader);
    downloader.download(
        server.url(QStringLiteral("/old")), saveDir(), QStringLiteral("a.txt"), true, md5Hex(body));
    QVERIFY(watch.waitForOutcome());

    QCOMPARE(watch.finished.count(), succeeds ? 1 : 0);
    QCOMPARE(watch.failed.count(), succeeds ? 0 : 1);
    if (succeeds) {
        QCOMPARE(server.requestCount(QStringLiteral("/old")), 1);
        QCOMPARE(server.requestCount(QStringLiteral("/real")), 1);
        QCOMPARE(filesBelow(dir->path()), QStringList {QStringLiteral("Update/Game/data/a.txt")});
        QCOMPARE(readFile(saveDir() + QStringLiteral("/a.txt")), body);
    } else {
        QCOMPARE(server.requestCount(QStringLiteral("/old")), loop ? 9 : 3);
        QCOMPARE(server.requestCount(QStringLiteral("/real")), 0);
        QCOMPARE(filesBelow(dir->path()), QStringList());
    }
}

void TestDownloader::logLines_data()
{
    QTest::addColumn<Answer>("answer");
    QTest::addColumn<QByteArray>("expectedHash");
    QTest::addColumn<QByteArray>("reason"); // the line each failed attempt logs

    QTest::newRow("404") << Answer::withStatus(404, "gone") << QByteArray()
                         << QByteArray("Debug: \"Error transferring %1 - server replied: Not Found\"");
    QTest::newRow("digest mismatch") << Answer::ok("wrong") << md5Hex("right")
                                     << "Debug: \"" + md5Hex("wrong") + '"';
    QTest::newRow("empty body") << Answer::ok(QByteArray()) << md5Hex("right")
                                << "Debug: \"" + EmptyDigest + '"';
}

void TestDownloader::logLines()
{
    QFETCH(Answer, answer);
    QFETCH(QByteArray, expectedHash);
    QFETCH(QByteArray, reason);

    server.serve(QStringLiteral("/list/VersionList.xml"), answer);
    const QString url = server.url(QStringLiteral("/list/VersionList.xml"));
    LogCapture log(dir->path());
    {
        SDownloader downloader;
        Watch watch(&downloader);
        downloader.download(
            url, saveDir(), QStringLiteral("VersionList.xml"), !expectedHash.isEmpty(), expectedHash);
        watch.waitForOutcome();
    }
    const QByteArray logged = log.stop();

    const QByteArray failure = QByteArray(reason).replace("%1", url.toUtf8());
    const QByteArray retry = "Debug: Retry to Download : \"" + url.toUtf8() + '"';
    const QByteArray expected = failure + '\n' + retry + '\n' + failure + '\n' + retry + '\n' + failure + '\n'
        + "Debug: Download Failed : \"" + url.toUtf8() + "\"\n";
    QCOMPARE(QString::fromUtf8(logged), QString::fromUtf8(expected));
}

void TestDownloader::saveFailureNotRetried_data()
{
    QTest::addColumn<QString>("saveDir");
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("folder under a file") << QStringLiteral("blocker/data") << patterned(300 * 1024);
    QTest::newRow("folder under a file, empty body") << QStringLiteral("blocker/data") << QByteArray();
    QTest::newRow("non-empty folder at the target") << QStringLiteral("Game") << patterned(1000);
}

void TestDownloader::saveFailureNotRetried()
{
    QFETCH(QString, saveDir);
    QFETCH(QByteArray, body);

    QFile blocker(dir->filePath(QStringLiteral("blocker")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QVERIFY(QDir(dir->path()).mkpath(QStringLiteral("Game/a.pak")));
    QFile inside(dir->filePath(QStringLiteral("Game/a.pak/inside")));
    QVERIFY(inside.open(QIODevice::WriteOnly));
    inside.close();
    const QStringList before = filesBelow(dir->path());

    server.serve(QStringLiteral("/a.pak"), body);
    SDownloader downloader;
    Watch watch(&downloader);
    downloader.download(server.url(QStringLiteral("/a.pak")), dir->filePath(saveDir), QStringLiteral("a.pak"),
        true, md5Hex(body));
    QVERIFY(watch.waitForOutcome());
    QCOMPARE(watch.failed.count(), 1);
    QCOMPARE(watch.finished.count(), 0);
    QCOMPARE(server.requestCount(QStringLiteral("/a.pak")), 1);
    QCOMPARE(filesBelow(dir->path()), before);
}

// Callers connect after download() returns; nothing may be reported before that.
void TestDownloader::failureReportedFromEventLoop()
{
    const QStringList urls = {
        QString(), QStringLiteral("nosuchscheme://host/file"), QStringLiteral("http://127.0.0.1:1/refused")};
    for (const QString &url : urls) {
        SDownloader downloader;
        Watch watch(&downloader);
        downloader.download(url, saveDir(), QStringLiteral("a.pak"), false, QByteArray());
        QCOMPARE(watch.failed.count(), 0);
        QVERIFY(watch.waitForOutcome());
        QCOMPARE(watch.failed.count(), 1);
        QCOMPARE(watch.finished.count(), 0);
    }
    QCOMPARE(filesBelow(dir->path()), QStringList());
}

void TestDownloader::targetAppearsOnlyWhenComplete()
{
    const QByteArray body = patterned(3000);
    server.serve(QStringLiteral("/slow"), Answer::trickle(body, 300, 40));
    QVERIFY(QDir(dir->path()).mkpath(QStringLiteral("Update/Game/data")));
    QFile old(saveDir() + QStringLiteral("/a.pak"));
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("old download");
    old.close();

    SDownloader downloader;
    Watch watch(&downloader);
    downloader.download(
        server.url(QStringLiteral("/slow")), saveDir(), QStringLiteral("a.pak"), true, md5Hex(body));
    QVERIFY(QTest::qWaitFor([&] { return filesBelow(dir->path()).size() == 2; }, 5000));
    QCOMPARE(readFile(saveDir() + QStringLiteral("/a.pak")), QByteArray("old download"));
    QVERIFY(watch.waitForOutcome());
    QCOMPARE(watch.finished.count(), 1);
    QCOMPARE(readFile(saveDir() + QStringLiteral("/a.pak")), body);
    QCOMPARE(filesBelow(dir->path()), QStringList {QStringLiteral("Update/Game/data/a.pak")});
}

// The abort of the replaced transfer must neither count as an attempt nor be reported.
void TestDownloader::newDownloadReplacesRunningTransfer()
{
    const QByteArray body = "second file";
    server.serve(QStringLiteral("/stalls"), Answer::stallAfter(patterned(5000), 1000));
    server.failThenServe(QStringLiteral("/second"), 2, Answer::withStatus(500), Answer::ok(body));

    QTemporaryDir logDir;
    LogCapture log(logDir.path());
    SDownloader downloader;
    Watch watch(&downloader);
    downloader.download(
        server.url(QStringLiteral("/stalls")), saveDir(), QStringLiteral("first"), false, QByteArray());
    QVERIFY(QTest::qWaitFor([&] { return !filesBelow(dir->path()).isEmpty(); }, 5000));
    downloader.download(
        server.url(QStringLiteral("/second")), saveDir(), QStringLiteral("second"), true, md5Hex(body));
    QVERIFY(watch.waitForOutcome());

    QCOMPARE(watch.finished.count(), 1);
    QCOMPARE(watch.failed.count(), 0);
    QCOMPARE(server.requestCount(QStringLiteral("/stalls")), 1);
    QCOMPARE(server.requestCount(QStringLiteral("/second")), 3);
    QCOMPARE(filesBelow(dir->path()), QStringList {QStringLiteral("Update/Game/data/second")});
    // Two failed attempts of the second file, each an error and a retry line; nothing about the first.
    const QList<QByteArray> lines = log.stop().split('\n');
    QCOMPARE(lines.size(), 5);
    QVERIFY(lines.at(1).startsWith("Debug: Retry to Download : \"http") && lines.at(1).endsWith("/second\""));
    QVERIFY(lines.at(3).startsWith("Debug: Retry to Download : \"http") && lines.at(3).endsWith("/second\""));
}

void TestDownloader::destroyedMidTransferLeavesNothing()
{
    server.serve(QStringLiteral("/stalls"), Answer::stallAfter(patterned(50000), 20000));
    QTemporaryDir logDir;
    LogCapture log(logDir.path());
    auto downloader = std::make_unique<SDownloader>();
    Watch watch(downloader.get());
    downloader->download(
        server.url(QStringLiteral("/stalls")), saveDir(), QStringLiteral("a.pak"), false, QByteArray());
    QVERIFY(QTest::qWaitFor([&] { return !filesBelow(dir->path()).isEmpty(); }, 5000));
    QVERIFY(!QFileInfo::exists(saveDir() + QStringLiteral("/a.pak")));
    downloader.reset();
    QTest::qWait(100);
    QCOMPARE(watch.finished.count(), 0);
    QCOMPARE(watch.failed.count(), 0);
    QCOMPARE(filesBelow(dir->path()), QStringList());
    QCOMPARE(log.stop(), QByteArray());
}

void TestDownloader::progressRelayed_data()
{
    QTest::addColumn<QList<Answer>>("answers");
    const QByteArray body = patterned(2 * 1024 * 1024);
    QTest::newRow("one attempt") << QList<Answer> {Answer::ok(body)};
    QTest::newRow("after a reset") << QList<Answer> {Answer::resetAfter(body, 1024 * 1024), Answer::ok(body)};
}

void TestDownloader::progressRelayed()
{
    QFETCH(QList<Answer>, answers);
    const QByteArray body = answers.last().body;
    server.script(QStringLiteral("/big"), answers);
    SDownloader downloader;
    Watch watch(&downloader);
    downloader.download(
        server.url(QStringLiteral("/big")), saveDir(), QStringLiteral("big"), true, md5Hex(body));
    QVERIFY(watch.waitForOutcome());
    QCOMPARE(watch.finished.count(), 1);

    QVERIFY(!watch.progress.isEmpty());
    const QList<QVariant> last = watch.progress.last();
    QCOMPARE(last.at(0).userType(), qMetaTypeId<qlonglong>());
    QCOMPARE(last.at(0).toLongLong(), qlonglong(body.size()));
    QCOMPARE(last.at(1).toLongLong(), qlonglong(body.size()));
    // Within the successful attempt the count only grows; it starts again after a retry.
    qlonglong previous = -1;
    for (int i = watch.progress.size() - 1; i >= 0; --i) {
        const qlonglong received = watch.progress.at(i).at(0).toLongLong();
        if (previous >= 0 && received > previous)
            break;
        QVERIFY(received <= qlonglong(body.size()));
        previous = received;
    }
}

QTEST_GUILESS_MAIN(TestDownloader)
#include "tst_downloader.moc"
