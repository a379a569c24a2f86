#include "Downloader.h"
#include "FaultServer.h"
#include "LogCapture.h"
#include "TestFiles.h"

#include <QtTest>

#include <memory>

#include <csignal>
#include <sys/resource.h>

Q_DECLARE_METATYPE(QList<FaultServer::Answer>)
Q_DECLARE_METATYPE(DownloadLimits)
Q_DECLARE_METATYPE(QList<QByteArray>)

using Answer = FaultServer::Answer;
using Fault = Answer::Fault;
using Answers = QList<Answer>;

class TestDownloader : public QObject
{
    Q_OBJECT

    // Downloads path from the server as name, checked against expectedHash unless it is empty.
    void start(const QString &path, const QString &name, const QByteArray &expectedHash = QByteArray())
    {
        downloader->download(server->url(path), saveDir(), name, !expectedHash.isEmpty(), expectedHash);
    }
    QString saveDir() const { return dir->filePath("Update/Game/data"); }
    // Waits for the outcome, and a little longer so that a second signal or a stray retry shows.
    QString result()
    {
        if (!QTest::qWaitFor([this] { return finished->count() + failed->count() > 0; }, 15000))
            return QStringLiteral("no outcome");
        QTest::qWait(100);
        return QStringLiteral("%1 finished, %2 failed").arg(finished->count()).arg(failed->count());
    }

    std::unique_ptr<FaultServer> server;
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<SDownloader> downloader;
    std::unique_ptr<QSignalSpy> finished;
    std::unique_ptr<QSignalSpy> failed;
    const QString Finished = QStringLiteral("1 finished, 0 failed");
    const QString Failed = QStringLiteral("0 finished, 1 failed");

private slots:
    void init()
    {
        server = std::make_unique<FaultServer>();
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(server->listen() && dir->isValid());
        downloader = std::make_unique<SDownloader>();
        finished = std::make_unique<QSignalSpy>(downloader.get(), &SDownloader::downloadFileFinished);
        failed = std::make_unique<QSignalSpy>(downloader.get(), &SDownloader::downloadFailed);
    }

    void outcome_data()
    {
        QTest::addColumn<Answers>("answers"); // the last one repeats
        QTest::addColumn<QByteArray>("expectedHash"); // empty: no hash check
        QTest::addColumn<int>("timeoutMs");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("error"); // in errorString(); empty: succeeds
        QTest::addColumn<DownloadLimits>("limits");

        const QByteArray body = patterned(200 * 1024 + 3);
        const QByteArray digest = md5Hex(body);
        const auto row = [](const char *tag, const Answers &answers, const QByteArray &expectedHash,
                             const char *error = "", int timeoutMs = 30000, const QString &name = "a.pak",
                             const DownloadLimits &limits = {}) {
            QTest::newRow(tag) << answers << expectedHash << timeoutMs << name << QString(error) << limits;
        };
        row("checked", {Answer::ok(body)}, digest);
        // Large enough for the digests to be computed on their worker thread.
        const QByteArray large = patterned(3 << 20);
        const QByteArray largeSha = QCryptographicHash::hash(large, QCryptographicHash::Sha256).toHex();
        row("both digests, exactly the listed size", {Answer::ok(large)}, md5Hex(large), "", 30000, "a.pak",
            {largeSha, large.size()});
        // What an MD5 collision gives: the MD5 matches, the SHA-256 does not.
        row("right MD5, other SHA-256", {Answer::ok(large)}, md5Hex(large), "SHA-256 ", 30000, "a.pak",
            {QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex(), -1});
        row("more bytes than listed, announced", {Answer::ok(body)}, digest,
            "The server announced 204803 bytes where at most 204802", 30000, "a.pak", {{}, body.size() - 1});
        Answer endless = Answer::ok(large);
        endless.announceLength = false;
        // Qt would inflate it, past any bound, were the body not asked for as stored.
        Answer gzip = Answer::ok(body);
        gzip.headers = "Content-Encoding: gzip\r\n";
        row("gzip body taken as sent", {gzip}, digest);
        row("more bytes than listed, unannounced", {endless}, md5Hex(large),
            "last: More than the 1024 bytes expected arrived", 30000, "a.pak", {{}, 1024});

        row("empty body with the empty digest", {Answer::ok(QByteArray())}, md5Hex(QByteArray()));
        row("fail twice then serve", {Answer::withStatus(500), Answer::withStatus(503), Answer::ok(body)},
            digest);
        row("reset mid-body then serve", {Answer::broken(Fault::ResetAfter, body, 70000), Answer::ok(body)},
            digest);
        // The limit is one of inactivity: 40 steps of 25 ms outlast 400 ms, and with 0 none applies.
        row("slow trickle", {Answer::trickle(patterned(4000), 100, 25)}, md5Hex(patterned(4000)), "", 400);
        row("no limit", {Answer::trickle(patterned(400), 100, 50)}, QByteArray(), "", 0);

        row("404", {Answer::withStatus(404)}, QByteArray(), "failed 3 times");
        row("empty body, digest of something", {Answer::ok(QByteArray())}, md5Hex("x"),
            "MD5 d41d8cd98f00b204e9800998ecf8427e where");
        row("uppercase digest", {Answer::ok(body)}, digest.toUpper(), "was expected");
        row("wrong bytes", {Answer::ok(body.left(body.size() - 1))}, digest, "was expected");
        row("reset mid-body", {Answer::broken(Fault::ResetAfter, body, 50000)}, QByteArray(),
            "failed 3 times");
        row("stall before headers", {Answer::stallBeforeHeaders()}, digest,
            "last: No data for 250 ms: the transfer's inactivity limit ended it", 250);
        // What arrived stays for a later run to continue.
        row("stall mid-body", {Answer::broken(Fault::StallAfter, body, 20000)}, digest,
            "last: No data for 250 ms", 250);
        row("304 is no file", {Answer::withStatus(304)}, QByteArray(), "Server replied with HTTP status 304");
        row("redirect without a target", {Answer::withStatus(302)}, QByteArray(), "failed 3 times");
        // A disk that refuses the bytes will not take them on the next attempt either.
        row("folder under a file", {Answer::ok(body)}, digest, "Cannot save", 30000, "blocker/a.pak");
        row("folder under a file, empty body", {Answer::ok("")}, QByteArray(), "Cannot save", 30000,
            "blocker/a.pak");
        row("name too long", {Answer::ok(body)}, digest, "Cannot save", 30000, QString(300, 'n'));
    }
    // Exactly one outcome, always from the event loop; a failure only after three attempts. Nothing
    // is left beside the file, and a failure leaves the old one as it was.
    void outcome()
    {
        QFETCH(Answers, answers);
        QFETCH(QByteArray, expectedHash);
        QFETCH(int, timeoutMs);
        QFETCH(QString, name);
        QFETCH(QString, error);
        QFETCH(DownloadLimits, limits);

        QVERIFY(writeFile(saveDir() + "/a.pak", "old") && writeFile(saveDir() + "/blocker", "a file"));
        server->script("/a.pak", answers);

        const LogCapture log;
        downloader->setTransferTimeout(timeoutMs);
        downloader->download(
            server->url("/a.pak"), saveDir(), name, !expectedHash.isEmpty(), expectedHash, limits);
        QCOMPARE(failed->count() + finished->count(), 0);
        QCOMPARE(result(), error.isEmpty() ? Finished : Failed);
        QVERIFY2(downloader->errorString().contains(error)
                && error.isEmpty() == downloader->errorString().isEmpty(),
            qPrintable(downloader->errorString()));
        QVERIFY(name == "a.pak"
            || downloader->errorString().startsWith("Cannot save " + saveDir() + '/' + name + ": "));
        QCOMPARE(server->requestCount("/a.pak"), error.isEmpty() ? answers.size() : name == "a.pak" ? 3 : 1);
        const QString kept = "." + name + "." + expectedHash + ".part";
        const bool keeps = QByteArray(QTest::currentDataTag()) == "stall mid-body";
        QCOMPARE(filesBelow(saveDir()),
            (keeps ? QStringList {kept} : QStringList()) + QStringList({"a.pak", "blocker"}));
        QVERIFY(!keeps || readFile(saveDir() + '/' + kept) == answers.last().body.left(20000));
        QCOMPARE(readFile(saveDir() + "/a.pak"), error.isEmpty() ? answers.last().body : "old");
        // The log names each retry and the final failure by the address asked for.
        const QByteArray url = "\"" + server->url("/a.pak").toUtf8() + "\"\n";
        QCOMPARE(log.text().count("Debug: Retry to Download : " + url), server->requestCount("/a.pak") - 1);
        QCOMPARE(log.text().contains("Debug: Download Failed : " + url), !error.isEmpty() && name == "a.pak");
    }

    void redirects_data()
    {
        QTest::addColumn<int>("hops");
        QTest::newRow("five hops") << 5;
        QTest::newRow("six hops") << 6;
    }
    void redirects()
    {
        QFETCH(int, hops);
        const QByteArray body = "the real file";
        server->serve("/real", body);
        for (int hop = 1; hop <= hops; ++hop)
            server->serve(QString("/%1").arg(hop),
                Answer::redirect(hop == hops ? "/real" : "/" + QByteArray::number(hop + 1)));
        // Checked: the redirects' own bodies must not reach the file.
        start("/1", "a.txt", md5Hex(body));
        QCOMPARE(result(), hops <= 5 ? Finished : Failed);
        // Each attempt starts again at the URL asked for.
        QCOMPARE(server->requestCount("/1"), hops <= 5 ? 1 : 3);
        QCOMPARE(server->requestCount("/real"), hops <= 5 ? 1 : 0);
        QCOMPARE(readFile(saveDir() + "/a.txt"), hops <= 5 ? body : "(unreadable)");
    }

    void resumes_data()
    {
        QTest::addColumn<Answers>("answers");
        QTest::addColumn<QByteArray>("planted"); // in the staging file, as an earlier run left it
        QTest::addColumn<QList<QByteArray>>("ranges"); // asked for, request by request
        QTest::addColumn<QList<QByteArray>>("ifRanges");
        QTest::addColumn<qint64>("sent"); // body bytes the server sent in all

        const QByteArray body = patterned(300000), changed = patterned(300000, 9);
        const auto answer
            = [&](const QByteArray &content, const QByteArray &etag, bool ranges, qint64 cut = -1) {
                  Answer a = cut < 0 ? Answer::ok(content) : Answer::broken(Fault::ResetAfter, content, cut);
                  a.headers = etag.isEmpty() ? QByteArray() : "ETag: " + etag + "\r\n";
                  a.ranges = ranges;
                  return a;
              };
        const QList<QByteArray> none {"", ""}, resumed {"", "bytes=100000-"},
            restarted {"", "bytes=100000-", ""};
        QTest::newRow("reset, then the rest")
            << Answers {answer(body, "\"v1\"", true, 100000), answer(body, "\"v1\"", true)} << QByteArray()
            << resumed << QList<QByteArray> {"", "\"v1\""} << qint64(300000);
        QTest::newRow("ranges ignored") << Answers {answer(body, "", false, 100000), answer(body, "", false)}
                                        << QByteArray() << resumed << none << qint64(400000);
        Answer shifted = answer(body, "", true);
        shifted.rangeShift = 5;
        QTest::newRow("wrong Content-Range")
            << Answers {answer(body, "", true, 100000), shifted, answer(body, "", false)} << QByteArray()
            << restarted << QList<QByteArray> {"", "", ""} << qint64(400000 + 200000);
        QTest::newRow("416") << Answers {answer(body, "", true, 100000), Answer::withStatus(416),
            answer(body, "", false)}
                             << QByteArray() << restarted << QList<QByteArray> {"", "", ""} << qint64(400000);
        // The validator keeps a changed file from being spliced; without one the digest does.
        QTest::newRow("changed, other ETag")
            << Answers {answer(changed, "\"v1\"", true, 100000), answer(body, "\"v2\"", true)} << QByteArray()
            << resumed << QList<QByteArray> {"", "\"v1\""} << qint64(400000);
        QTest::newRow("changed, no validator")
            << Answers {answer(changed, "", true, 100000), answer(body, "", true)} << QByteArray()
            << restarted << QList<QByteArray> {"", "", ""} << qint64(600000);
        QTest::newRow("left by an earlier run")
            << Answers {answer(body, "", true)} << body.left(100000) << QList<QByteArray> {"bytes=100000-"}
            << QList<QByteArray> {""} << qint64(200000);
        QTest::newRow("complete, not yet in place")
            << Answers {answer(body, "", true)} << body << QList<QByteArray> {"bytes=300000-"}
            << QList<QByteArray> {""} << qint64(0);
    }
    // One copy of the file's bytes where the server allows it, and always the right file.
    void resumes()
    {
        QFETCH(Answers, answers);
        QFETCH(QByteArray, planted);
        QFETCH(QList<QByteArray>, ranges);
        QFETCH(QList<QByteArray>, ifRanges);
        QFETCH(qint64, sent);
        const QByteArray body = patterned(300000);
        if (!planted.isEmpty())
            QVERIFY(writeFile(saveDir() + "/." + "a.pak." + md5Hex(body) + ".part", planted));
        server->script("/a.pak", answers);
        QSignalSpy progress(downloader.get(), &SDownloader::downloadProgress);
        start("/a.pak", "a.pak", md5Hex(body));
        QCOMPARE(result(), Finished);
        QCOMPARE(readFile(saveDir() + "/a.pak"), body);
        QCOMPARE(filesBelow(saveDir()), QStringList {"a.pak"});
        QCOMPARE(server->requestHeaders("/a.pak", "Range"), ranges);
        QCOMPARE(server->requestHeaders("/a.pak", "If-Range"), ifRanges);
        QCOMPARE(server->bodyBytesSent("/a.pak"), sent);
        // A continued file's bar starts at the bytes already there.
        QVERIFY(
            planted.isEmpty() || progress.isEmpty() || progress.first().at(0).toLongLong() >= planted.size());
    }

    // A disk that refuses bytes ends the download at once; the old file stays, and what was
    // staged is continued once there is room again.
    void diskFull()
    {
        const QByteArray body = patterned(3 << 20);
        QVERIFY(writeFile(saveDir() + "/a.pak", "old"));
        Answer ranged = Answer::ok(body);
        ranged.ranges = true;
        server->serve("/a.pak", ranged);
        ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit;
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &limit), 0);
        const rlim_t unlimited = limit.rlim_cur;
        limit.rlim_cur = 1 << 20;
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limit), 0);
        start("/a.pak", "a.pak", md5Hex(body));
        const QString outcome = result();
        limit.rlim_cur = unlimited;
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limit), 0);
        QCOMPARE(outcome, Failed);
        QVERIFY2(downloader->errorString().startsWith("Cannot save"), qPrintable(downloader->errorString()));
        QCOMPARE(server->requestCount("/a.pak"), 1);
        QCOMPARE(readFile(saveDir() + "/a.pak"), QByteArray("old"));

        failed->clear();
        start("/a.pak", "a.pak", md5Hex(body));
        QCOMPARE(result(), Finished);
        QCOMPARE(server->requestHeaders("/a.pak", "Range").value(1), QByteArray("bytes=1048576-"));
        QCOMPARE(readFile(saveDir() + "/a.pak"), body);
    }

    // The body streams into a temporary file beside the target; the old file stays until the end.
    void targetAppearsOnlyWhenComplete()
    {
        const QByteArray body = patterned(3000);
        server->serve("/slow", Answer::trickle(body, 300, 40));
        QVERIFY(writeFile(saveDir() + "/a.pak", "old download"));
        start("/slow", "a.pak", md5Hex(body));
        QVERIFY(QTest::qWaitFor([&] { return filesBelow(dir->path()).size() == 2; }, 5000));
        QCOMPARE(readFile(saveDir() + "/a.pak"), QByteArray("old download"));
        QCOMPARE(result(), Finished);
        QCOMPARE(readFile(saveDir() + "/a.pak"), body);
        QCOMPARE(filesBelow(dir->path()), QStringList {"Update/Game/data/a.pak"});
    }

    // The abort of the replaced transfer must neither count as an attempt nor be reported.
    void newDownloadReplacesRunningTransfer()
    {
        server->serve("/stalls", Answer::broken(Fault::StallAfter, patterned(5000), 1000));
        server->script("/second", {Answer::withStatus(500), Answer::withStatus(500), Answer::ok("second")});
        start("/stalls", "first");
        QVERIFY(QTest::qWaitFor([&] { return !filesBelow(dir->path()).isEmpty(); }, 5000));
        start("/second", "second", md5Hex("second"));
        QCOMPARE(result(), Finished);
        QCOMPARE(server->requestCount("/stalls"), 1);
        QCOMPARE(server->requestCount("/second"), 3);
        QCOMPARE(filesBelow(dir->path()), QStringList {"Update/Game/data/second"});
    }

    void destroyedMidTransferLeavesNothing()
    {
        server->serve("/stalls", Answer::broken(Fault::StallAfter, patterned(50000), 20000));
        start("/stalls", "a.pak");
        QVERIFY(QTest::qWaitFor([&] { return !filesBelow(dir->path()).isEmpty(); }, 5000));
        downloader.reset();
        QTest::qWait(100);
        QCOMPARE(finished->count() + failed->count(), 0);
        QCOMPARE(filesBelow(dir->path()), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestDownloader)
#include "tst_downloader.moc"
