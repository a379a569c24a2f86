#include "Downloader.h"
#include "FaultServer.h"
#include "LogCapture.h"
#include "TestFiles.h"

#include <QtTest>

#include <memory>

Q_DECLARE_METATYPE(FaultServer::Answer)
Q_DECLARE_METATYPE(QList<FaultServer::Answer>)

namespace {

using Answer = FaultServer::Answer;
using Answers = QList<Answer>;

const QByteArray EmptyDigest = "d41d8cd98f00b204e9800998ecf8427e";
constexpr int LongTimeout = 30000;
const QString Finished = QStringLiteral("1 finished, 0 failed");
const QString Failed = QStringLiteral("0 finished, 1 failed");

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
    // Both counts, so that a failure shows any second or missing signal.
    QString outcome() const
    {
        return QStringLiteral("%1 finished, %2 failed").arg(finished.count()).arg(failed.count());
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
    void cleanupTestCase();

    void outcome_data();
    void outcome();
    void redirects_data();
    void redirects();
    void saveFailureNotRetried_data();
    void saveFailureNotRetried();
    void failureReportedFromEventLoop_data();
    void failureReportedFromEventLoop();
    void targetAppearsOnlyWhenComplete();
    void newDownloadReplacesRunningTransfer();
    void destroyedMidTransferLeavesNothing();

private:
    // Downloads path from the server as name, checked against expectedHash unless it is empty.
    void start(const QString &path, const QString &name, const QByteArray &expectedHash = QByteArray())
    {
        downloader->download(server.url(path), saveDir(), name, !expectedHash.isEmpty(), expectedHash);
    }
    QString saveDir() const { return dir->filePath(QStringLiteral("Update/Game/data")); }
    QByteArray log() const { return logCapture->text(); }

    FaultServer server;
    std::unique_ptr<LogCapture> logCapture;
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<SDownloader> downloader;
    std::unique_ptr<Watch> watch;
};

void TestDownloader::initTestCase()
{
    QVERIFY(server.listen());
    logCapture = std::make_unique<LogCapture>();
}

void TestDownloader::init()
{
    server.clear();
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    downloader = std::make_unique<SDownloader>();
    watch = std::make_unique<Watch>(downloader.get());
    logCapture->clear();
}

void TestDownloader::cleanupTestCase()
{
    logCapture.reset();
}

void TestDownloader::outcome_data()
{
    QTest::addColumn<Answers>("answers"); // the last one repeats
    QTest::addColumn<QByteArray>("expectedHash"); // empty: no hash check
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<bool>("succeeds");
    QTest::addColumn<QByteArray>("reason"); // the line each failed attempt logs; empty: not checked

    const QByteArray body = patterned(200 * 1024 + 3);
    const QByteArray digest = md5Hex(body);
    const auto row
        = [](const char *tag, const Answers &answers, const QByteArray &expectedHash, bool succeeds,
              int timeoutMs = LongTimeout, const QByteArray &reason = QByteArray()) {
              QTest::newRow(tag) << answers << expectedHash << timeoutMs << succeeds << reason;
          };
    row("checked", {Answer::ok(body)}, digest, true);
    row("unchecked", {Answer::ok(body)}, QByteArray(), true);
    row("empty body unchecked", {Answer::ok(QByteArray())}, QByteArray(), true);
    row("empty body with the empty digest", {Answer::ok(QByteArray())}, EmptyDigest, true);
    row("fail twice then serve", {Answer::withStatus(500, "busy"), Answer::withStatus(503), Answer::ok(body)},
        digest, true);
    row("reset mid-body then serve", {Answer::resetAfter(body, 70000), Answer::ok(body)}, digest, true);
    row("wrong bytes then right ones", {Answer::ok(patterned(1000)), Answer::ok(body)}, digest, true);
    row("stall before headers, then serve", {Answer::stallBeforeHeaders(), Answer::ok(body)}, digest, true,
        300);
    row("stall mid-body, then serve", {Answer::stallAfter(body, 1000), Answer::ok(body)}, digest, true, 300);
    // 40 steps of 25 ms: far longer in all than the time-out, never idle for that long.
    row("slow trickle outlasts the time-out", {Answer::trickle(patterned(4000), 100, 25)},
        md5Hex(patterned(4000)), true, 400);

    row("404", {Answer::withStatus(404, "no such file")}, QByteArray(), false, LongTimeout,
        "Debug: \"Error transferring %1 - server replied: Not Found\"");
    row("404 with hash check", {Answer::withStatus(404, "no such file")}, digest, false);
    row("empty body, digest of something", {Answer::ok(QByteArray())}, md5Hex("x"), false, LongTimeout,
        "Debug: \"" + EmptyDigest + '"');
    row("uppercase digest", {Answer::ok(body)}, digest.toUpper(), false);
    row("wrong bytes", {Answer::ok(body.left(body.size() - 1))}, digest, false, LongTimeout,
        "Debug: \"" + md5Hex(body.left(body.size() - 1)) + '"');
    row("reset mid-body", {Answer::resetAfter(body, 50000)}, QByteArray(), false);
    row("stall before headers", {Answer::stallBeforeHeaders()}, digest, false, 250);
    row("stall mid-body", {Answer::stallAfter(body, 20000)}, digest, false, 250,
        "Debug: \"No data for 250 ms: the transfer's inactivity limit ended it\"");
    row("304 is no file", {Answer::withStatus(304)}, QByteArray(), false);
    row("redirect without a target", {Answer::withStatus(302, "moved")}, QByteArray(), false);
}

void TestDownloader::outcome()
{
    QFETCH(Answers, answers);
    QFETCH(QByteArray, expectedHash);
    QFETCH(int, timeoutMs);
    QFETCH(bool, succeeds);
    QFETCH(QByteArray, reason);

    server.script(QStringLiteral("/v2/data/a.pak"), answers);
    downloader->setTransferTimeout(timeoutMs);
    start(QStringLiteral("/v2/data/a.pak"), QStringLiteral("a.pak"), expectedHash);
    QVERIFY(watch->waitForOutcome());

    QCOMPARE(watch->outcome(), succeeds ? Finished : Failed);
    QCOMPARE(downloader->errorString().isEmpty(), succeeds);
    // Every scripted answer is asked for once; a failure only after three attempts.
    QCOMPARE(server.requestCount(QStringLiteral("/v2/data/a.pak")), succeeds ? answers.size() : 3);
    QCOMPARE(filesBelow(dir->path()), succeeds ? QStringList {"Update/Game/data/a.pak"} : QStringList());
    if (succeeds)
        QCOMPARE(readFile(saveDir() + QStringLiteral("/a.pak")), answers.last().body);
    if (succeeds && !answers.last().body.isEmpty()) {
        // The last step shows the whole body; within the successful attempt the count only
        // grows, and it starts again after a retry.
        const qlonglong size = answers.last().body.size();
        QCOMPARE(watch->progress.value(watch->progress.size() - 1), (QList<QVariant> {size, size}));
        for (int i = watch->progress.size() - 1; i > 0; --i) {
            const qlonglong received = watch->progress.at(i).at(0).toLongLong();
            const qlonglong before = watch->progress.at(i - 1).at(0).toLongLong();
            QVERIFY(received <= size);
            if (before > received)
                break;
        }
    }
    if (!reason.isEmpty()) {
        const QByteArray url = server.url(QStringLiteral("/v2/data/a.pak")).toUtf8();
        const QByteArray failure = reason.replace("%1", url) + '\n';
        const QByteArray retry = "Debug: Retry to Download : \"" + url + "\"\n";
        const QByteArray failed = "Debug: Download Failed : \"" + url + "\"\n";
        QCOMPARE(QString::fromUtf8(log()),
            QString::fromUtf8(failure + retry + failure + retry + failure + failed));
    }
}

void TestDownloader::redirects_data()
{
    QTest::addColumn<int>("hops"); // 0: a loop
    QTest::addColumn<bool>("succeeds");
    QTest::addColumn<int>("oldRequests");
    QTest::newRow("one hop") << 1 << true << 1;
    QTest::newRow("five hops") << 5 << true << 1;
    QTest::newRow("six hops") << 6 << false << 3;
    QTest::newRow("loop") << 0 << false << 9;
}

void TestDownloader::redirects()
{
    QFETCH(int, hops);
    QFETCH(bool, succeeds);
    QFETCH(int, oldRequests);

    const QByteArray body = "the real file";
    server.serve(QStringLiteral("/real"), body);
    if (hops == 0) {
        server.serve(QStringLiteral("/old"), Answer::redirect("/other", 301));
        server.serve(
            QStringLiteral("/other"), Answer::redirect(server.url(QStringLiteral("/old")).toUtf8(), 307));
    } else {
        server.redirectChain(QStringLiteral("/old"), hops, QStringLiteral("/real"));
    }
    start(QStringLiteral("/old"), QStringLiteral("a.txt"), md5Hex(body));
    QVERIFY(watch->waitForOutcome());

    QCOMPARE(watch->outcome(), succeeds ? Finished : Failed);
    QCOMPARE(server.requestCount(QStringLiteral("/old")), oldRequests);
    QCOMPARE(server.requestCount(QStringLiteral("/real")), succeeds ? 1 : 0);
    QCOMPARE(readFile(saveDir() + QStringLiteral("/a.txt")), succeeds ? body : QByteArray("(unreadable)"));
    QCOMPARE(filesBelow(dir->path()).size(), succeeds ? 1 : 0);
}

void TestDownloader::saveFailureNotRetried_data()
{
    QTest::addColumn<QString>("saveDir");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("body");
    const QString name = QStringLiteral("a.pak");
    QTest::newRow("folder under a file") << QStringLiteral("blocker/data") << name << patterned(300 * 1024);
    QTest::newRow("folder under a file, empty body")
        << QStringLiteral("blocker/data") << name << QByteArray();
    QTest::newRow("non-empty folder at the target") << QStringLiteral("Game") << name << patterned(1000);
    QTest::newRow("name too long") << QStringLiteral("Game") << QString(300, QLatin1Char('n'))
                                   << patterned(1000);
}

void TestDownloader::saveFailureNotRetried()
{
    QFETCH(QString, saveDir);
    QFETCH(QString, name);
    QFETCH(QByteArray, body);

    QVERIFY(writeFile(dir->filePath(QStringLiteral("blocker")), QByteArray()));
    QVERIFY(writeFile(dir->filePath(QStringLiteral("Game/a.pak/inside")), QByteArray()));
    const QStringList before = filesBelow(dir->path());

    server.serve(QStringLiteral("/a.pak"), body);
    downloader->download(
        server.url(QStringLiteral("/a.pak")), dir->filePath(saveDir), name, true, md5Hex(body));
    QVERIFY(watch->waitForOutcome());
    QCOMPARE(watch->outcome(), Failed);
    QCOMPARE(server.requestCount(QStringLiteral("/a.pak")), 1);
    QCOMPARE(filesBelow(dir->path()), before);
    // The cause reaches the log and the caller.
    QVERIFY2(log().startsWith("Debug: Cannot save " + dir->filePath(saveDir).toUtf8()), log().constData());
    QCOMPARE(log().count('\n'), 1);
    QVERIFY(downloader->errorString().startsWith(QStringLiteral("Cannot save")));
}

void TestDownloader::failureReportedFromEventLoop_data()
{
    QTest::addColumn<QString>("url");
    QTest::newRow("no URL") << QString();
    QTest::newRow("unknown scheme") << QStringLiteral("nosuchscheme://host/file");
    QTest::newRow("connection refused") << QStringLiteral("http://127.0.0.1:1/refused");
}

// Callers connect after download() returns; nothing may be reported before that.
void TestDownloader::failureReportedFromEventLoop()
{
    QFETCH(QString, url);
    downloader->download(url, saveDir(), QStringLiteral("a.pak"), false, QByteArray());
    QCOMPARE(watch->failed.count(), 0);
    QVERIFY(watch->waitForOutcome());
    QCOMPARE(watch->outcome(), Failed);
    QCOMPARE(filesBelow(dir->path()), QStringList());
}

void TestDownloader::targetAppearsOnlyWhenComplete()
{
    const QByteArray body = patterned(3000);
    server.serve(QStringLiteral("/slow"), Answer::trickle(body, 300, 40));
    QVERIFY(writeFile(saveDir() + QStringLiteral("/a.pak"), "old download"));

    start(QStringLiteral("/slow"), QStringLiteral("a.pak"), md5Hex(body));
    QVERIFY(QTest::qWaitFor([&] { return filesBelow(dir->path()).size() == 2; }, 5000));
    QCOMPARE(readFile(saveDir() + QStringLiteral("/a.pak")), QByteArray("old download"));
    QVERIFY(watch->waitForOutcome());
    QCOMPARE(watch->outcome(), Finished);
    QCOMPARE(readFile(saveDir() + QStringLiteral("/a.pak")), body);
    QCOMPARE(filesBelow(dir->path()), QStringList {QStringLiteral("Update/Game/data/a.pak")});
}

// The abort of the replaced transfer must neither count as an attempt nor be reported.
void TestDownloader::newDownloadReplacesRunningTransfer()
{
    const QByteArray body = "second file";
    server.serve(QStringLiteral("/stalls"), Answer::stallAfter(patterned(5000), 1000));
    server.failThenServe(QStringLiteral("/second"), 2, Answer::withStatus(500), Answer::ok(body));

    start(QStringLiteral("/stalls"), QStringLiteral("first"));
    QVERIFY(QTest::qWaitFor([&] { return !filesBelow(dir->path()).isEmpty(); }, 5000));
    start(QStringLiteral("/second"), QStringLiteral("second"), md5Hex(body));
    QVERIFY(watch->waitForOutcome());

    QCOMPARE(watch->outcome(), Finished);
    QCOMPARE(server.requestCount(QStringLiteral("/stalls")), 1);
    QCOMPARE(server.requestCount(QStringLiteral("/second")), 3);
    QCOMPARE(filesBelow(dir->path()), QStringList {QStringLiteral("Update/Game/data/second")});
    // Two failed attempts of the second file, each an error and a retry line; nothing about the first.
    const QList<QByteArray> lines = log().split('\n');
    QCOMPARE(lines.size(), 5);
    QVERIFY(lines.at(1).startsWith("Debug: Retry to Download : \"http") && lines.at(1).endsWith("/second\""));
    QVERIFY(lines.at(3).startsWith("Debug: Retry to Download : \"http") && lines.at(3).endsWith("/second\""));
}

void TestDownloader::destroyedMidTransferLeavesNothing()
{
    server.serve(QStringLiteral("/stalls"), Answer::stallAfter(patterned(50000), 20000));
    start(QStringLiteral("/stalls"), QStringLiteral("a.pak"));
    QVERIFY(QTest::qWaitFor([&] { return !filesBelow(dir->path()).isEmpty(); }, 5000));
    QVERIFY(!QFileInfo::exists(saveDir() + QStringLiteral("/a.pak")));
    downloader.reset();
    QTest::qWait(100);
    QCOMPARE(watch->outcome(), QStringLiteral("0 finished, 0 failed"));
    QCOMPARE(filesBelow(dir->path()), QStringList());
    QCOMPARE(log(), QByteArray());
}

QTEST_GUILESS_MAIN(TestDownloader)
#include "tst_downloader.moc"
