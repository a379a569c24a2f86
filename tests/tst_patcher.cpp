#include "FaultServer.h"
#include "Patcher.h"
#include "TestFiles.h"
#include "UpdateFixtures.h"

#include <QtTest>

#include <limits>
#include <memory>

using namespace UpdateTest;
using Answer = FaultServer::Answer;
using Fault = Answer::Fault;

// Every signal of one Patcher in emission order, with its arguments ("total 300 1").
struct Recorder : QObject
{
    explicit Recorder(Patcher *patcher)
    {
        on(patcher, &Patcher::updateCheckFailed, "checkFailed");
        on(patcher, &Patcher::updateCheckFinished, "checkFinished");
        on(patcher, &Patcher::updateFileFinished, "fileFinished");
        on(patcher, &Patcher::copyFileFailed, "copyFailed");
        on(patcher, &Patcher::copyFileFinished, "copyFinished");
        on(patcher, &Patcher::downloadFileFailed, "downloadFailed");
        on(patcher, &Patcher::downloadListFileFinished, "listFinished");
        on(patcher, &Patcher::downloadOneFileFinished, "oneFinished");
        on(patcher, &Patcher::updateCopyFileState, "copy");
        on(patcher, &Patcher::updateDownloadFileState, "file");
        on(patcher, &Patcher::updateTotalDownloadState, "total");
    }
    template<typename... Args> void on(Patcher *patcher, void (Patcher::*signal)(Args...), const char *name)
    {
        connect(patcher, signal, this, [=](Args... arguments) {
            events << (QStringList {name} << ... << QString::number(arguments)).join(' ');
        });
    }
    // Waits for an outcome, then a little longer so that anything following it shows.
    bool wait()
    {
        const bool ended = QTest::qWaitFor(
            [this] { return !events.filter(QRegularExpression("^(?!oneFinished)\\w+$")).isEmpty(); }, 20000);
        QTest::qWait(150);
        return ended;
    }
    // The outcomes and completed files, each with the total relayed right before it.
    QStringList completions() const
    {
        QStringList result;
        for (int i = 0; i < events.size(); ++i) {
            if (!events[i].contains(' ') || events.value(i + 1) == "oneFinished")
                result << events[i];
        }
        return result;
    }

    QStringList events;
};

struct Check
{
    Answer list; // r1's UpdateList.xml
    QString outcome;
    int files;
    qlonglong total;
    QString error = {}; // in errorString() at the failure
    int listRequests = 1;
    float version = 1.3f; // installed
    Answer versions = Answer::ok(versionList({{"1.0", "1.5", "r1"}, {"1.2", "2.0", "r2"}}));
};
Q_DECLARE_METATYPE(Check)

class TestPatcher : public QObject
{
    Q_OBJECT

    QString downloaded(const QString &path) const { return dir->filePath("game/Update/Game/" + path); }
    QString installed(const QString &path) const { return dir->filePath("game/" + path); }
    std::unique_ptr<Patcher> makePatcher(const QString &site, float version = 1.3f) const
    {
        return std::make_unique<Patcher>(site, downloaded(""), installed(""), version);
    }
    // Serves the three files in r1 and installs an old a; null unless the check lists all three.
    std::unique_ptr<Patcher> checkedPatcher()
    {
        server->serve("/VersionList.xml", versionList({{"1.0", "1.5", "r1"}}));
        server->serve("/r1/UpdateList.xml", updateList(threeFiles));
        for (const GameFile &file : threeFiles)
            server->serve("/r1/files/" + file.name, file.content);
        auto patcher = makePatcher(server->url("/"));
        Recorder check(patcher.get());
        patcher->UpdateCheck();
        const bool listed = writeFile(installed("data/a.pak"), "old a") && check.wait()
            && check.events == QStringList {"checkFinished"} && patcher->fileCount() == 3;
        return listed ? std::move(patcher) : nullptr;
    }
    // The files installed with their new content, e.g. "b.pak,c.pak".
    QString installedNow() const
    {
        QStringList present;
        for (const GameFile &file : threeFiles) {
            if (readFile(installed(file.localPath())) == file.content)
                present << file.name;
        }
        return present.join(',');
    }

    std::unique_ptr<FaultServer> server;
    std::unique_ptr<QTemporaryDir> dir;
    const QList<GameFile> threeFiles = {{"data", "a.pak", patterned(100, 1)},
        {"data/sub", "b.pak", patterned(200, 2)}, {"", "c.pak", patterned(300, 3)}};

private slots:
    void init()
    {
        server = std::make_unique<FaultServer>();
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(server->listen() && dir->isValid());
    }

    void check_data()
    {
        QTest::addColumn<Check>("row");
        const QByteArray one = updateList(fileElement("a.pak", "", "0", "d", 5));
        const auto file = [](const char *name, qint64 size) { return fileElement(name, "", "0", "d", size); };
        // data/current.pak is installed with this content.
        const QByteArray current = fileElement("current.pak", "data", md5Hex("installed"), "d", 9);
        const qint64 huge = std::numeric_limits<qint64>::max() / 3 * 2;
        QTest::newRow("files listed") << Check {Answer::ok(one), "checkFinished", 1, 5};
        QTest::newRow("no range for the version")
            << Check {Answer::ok(one), "checkFinished", 0, 0, "", 0, 3.0f};
        QTest::newRow("version list missing") << Check {
            Answer::ok(one), "checkFailed", 0, 0, "failed 3 times", 0, 1.3f, Answer::withStatus(404)};
        QTest::newRow("version list too large")
            << Check {Answer::ok(one), "checkFailed", 0, 0, "announced 67108865 bytes where at most 67108864",
                   0, 1.3f, Answer::ok(QByteArray((64 << 20) + 1, ' '))};
        QTest::newRow("file list fails")
            << Check {Answer::withStatus(500), "checkFailed", 0, 0, "r1/UpdateList.xml failed 3 times", 3};
        // A list that stops early must not be taken for "all files current".
        QTest::newRow("file list truncated")
            << Check {Answer::ok(one.left(one.indexOf("</UpdateList>"))), "checkFailed", 0, 0, "Incomplete"};
        QTest::newRow("unsafe file list") << Check {
            Answer::ok(updateList(file("ok.txt", 4) + file("../../outside/evil.txt", 4))), "checkFailed", 0,
            0, "Unsafe entry in UpdateList.xml: File at line 4: Name=\"../../outside/evil.txt\""};
        QTest::newRow("all files current") << Check {Answer::ok(updateList(current)), "fileFinished", 0, 0};
        QTest::newRow("current skipped, negative size counts 0") << Check {
            Answer::ok(updateList(current + file("a", -500) + file("b", 20))), "checkFinished", 2, 20};
        QTest::newRow("totals stop at the largest size")
            << Check {Answer::ok(updateList(file("a", huge) + file("b", huge))), "checkFinished", 2,
                   std::numeric_limits<qlonglong>::max()};
    }
    void check()
    {
        QFETCH(Check, row);
        server->serve("/VersionList.xml", row.versions);
        server->serve("/r1/UpdateList.xml", row.list);
        QVERIFY(writeFile(installed("data/current.pak"), "installed"));
        const auto patcher = makePatcher(server->url("/"), row.version);
        Recorder record(patcher.get());
        patcher->UpdateCheck();
        // Callers connect after starting: nothing may come before control returns.
        QCOMPARE(record.events, QStringList());
        QVERIFY(record.wait());
        QCOMPARE(record.events, QStringList {row.outcome});
        QVERIFY2(patcher->errorString().contains(row.error), qPrintable(patcher->errorString()));
        QCOMPARE((QList<qlonglong> {server->requestCount("/r1/UpdateList.xml"),
                     server->requestCount("/r2/UpdateList.xml"), patcher->fileCount(),
                     patcher->totalDownloadSize()}),
            (QList<qlonglong> {row.listRequests, 0, row.files, row.total}));
        QCOMPARE(patcher->targetVersion(), row.listRequests ? 1.5f : 0.0f);
        QCOMPARE(patcher->latestVersion(), row.versions.body.startsWith("<?xml") ? 2.0f : 0.0f);
        // A check writes nothing but the file list, whatever the lists say.
        QCOMPARE(filesBelow(installed("")).filter(QRegularExpression("^(?!Update/Game/UpdateList.xml)")),
            QStringList {"data/current.pak"});
        if (row.outcome != "fileFinished")
            return;
        // Nothing to fetch: the run ends like any other, from the event loop.
        Recorder run(patcher.get());
        patcher->startDownload(true);
        QVERIFY(run.events.isEmpty() && run.wait());
        QCOMPARE(run.events, QStringList {"listFinished"});
    }

    void runs_data()
    {
        QTest::addColumn<bool>("install");
        QTest::addColumn<QString>("blocker"); // a non-empty folder where b is installed
        QTest::newRow("download only, b reset mid-body") << false << QString();
        // The downloaded copy stays for a later attempt.
        QTest::newRow("install refused") << true << "data/sub/b.pak/x";
    }
    // A failure is reported once; the files before it stay, the ones after are never fetched.
    // Run again, the files arrive last record first, each step relays the total so far, and the
    // totals count from zero, or the bars pass 100%.
    void runs()
    {
        QFETCH(bool, install);
        QFETCH(QString, blocker);
        const auto patcher = checkedPatcher();
        QVERIFY(patcher && (blocker.isEmpty() || writeFile(installed(blocker), "keep")));
        if (blocker.isEmpty())
            server->serve("/r1/files/b.pak", Answer::broken(Fault::ResetAfter, threeFiles[1].content, 50));
        Recorder run(patcher.get());
        patcher->startDownload(install);
        QCOMPARE(run.events, QStringList());
        QVERIFY(run.wait());
        QCOMPARE(run.completions(), (QStringList {"total 300 1", "oneFinished", "downloadFailed"}));
        QVERIFY2(patcher->errorString().contains(install ? "Cannot install" : "b.pak failed 3 times"),
            qPrintable(patcher->errorString()));
        QCOMPARE(server->requestCount("/r1/files/b.pak"), install ? 1 : 3);
        QCOMPARE(server->requestCount("/r1/files/a.pak"), 0);
        QCOMPARE(QFile::exists(downloaded("data/sub/b.pak")), install);
        QCOMPARE(installedNow(), QString(install ? "c.pak" : ""));
        QCOMPARE(readFile(installed("data/a.pak")), QByteArray("old a"));
        if (install)
            return; // the folder stays in the way

        // b arrives in steps of 50, far enough apart that the server's TCP stack does not merge them.
        server->serve("/r1/files/b.pak", Answer::trickle(threeFiles[1].content, 50, 120));
        Recorder again(patcher.get());
        patcher->startDownload(true);
        QVERIFY(again.wait());
        QCOMPARE(again.completions(),
            (QStringList {"total 300 1", "oneFinished", "total 500 2", "oneFinished", "total 600 3",
                "oneFinished", "listFinished"}));
        QCOMPARE(again.events.value(again.events.indexOf("file 50 200") + 1), QStringLiteral("total 350 1"));
        for (const QString &total : again.events.filter(QRegularExpression("^total ")))
            QVERIFY2(total.section(' ', 1, 1).toLongLong() <= 600, qPrintable(total));
        QCOMPARE(installedNow(), QStringLiteral("a.pak,b.pak,c.pak"));
        QCOMPARE(filesBelow(downloaded("")), QStringList {"UpdateList.xml"});
    }

    // A run starts by clearing what killed runs left: stale staged downloads and the temporary
    // copies beside installed files. A staged download of a listed file is continued instead, and
    // nothing of the player's is touched, however alike its name.
    void clearsStaleStaging()
    {
        const QByteArray a = threeFiles[0].content;
        const QString resumed = "data/.a.pak." + md5Hex(a) + ".part";
        const QStringList players {"data/.a.pak.backup", "data/a.pak.part", "data/.a.pak.K2J3.part",
            "data/.a.pak.old.k2j3.part", ".notes.txt.k2j3.part"};
        for (const QString &path : players + QStringList {"data/.a.pak.k2j3h4.part"})
            QVERIFY(writeFile(installed(path), "mine"));
        for (const QString &path :
            {".c.pak.0123456789abcdef0123456789abcdef.part", ".UpdateList.xml.x1y2.part"})
            QVERIFY(writeFile(downloaded(path), "stale"));
        const auto patcher = checkedPatcher();
        QVERIFY(patcher && writeFile(downloaded(resumed), a.left(40)));
        server->script("/r1/files/a.pak", {[&] {
            Answer x = Answer::ok(a);
            x.ranges = true;
            return x;
        }()});
        Recorder run(patcher.get());
        patcher->startDownload(true);
        QVERIFY(run.wait() && run.events.last() == "listFinished");
        QCOMPARE(server->requestHeaders("/r1/files/a.pak", "Range"), QList<QByteArray> {"bytes=40-"});
        QCOMPARE(installedNow(), QStringLiteral("a.pak,b.pak,c.pak"));
        QStringList left = players;
        for (const GameFile &file : threeFiles)
            left << file.localPath();
        left << "Update/Game/UpdateList.xml";
        std::sort(left.begin(), left.end());
        QCOMPARE(filesBelow(installed("")), left);
    }

    void copyRun_data()
    {
        QTest::addColumn<QByteArray>("list"); // empty: no UpdateList.xml at all
        QTest::addColumn<QStringList>("downloads");
        QTest::addColumn<bool>("read");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QString>("installed");
        const QByteArray list = updateList(threeFiles);
        const QStringList all = {"data/a.pak", "data/sub/b.pak", "c.pak"};
        QTest::newRow("missing list means empty")
            << QByteArray() << QStringList() << true << QStringList {"copyFinished"} << "";
        QTest::newRow("every file downloaded")
            << list << all << true << QStringList {"copy 1 3", "copy 2 3", "copyFinished"}
            << "a.pak,b.pak,c.pak";
        QTest::newRow("b missing") << list << QStringList {"data/a.pak", "c.pak"} << true
                                   << QStringList {"copy 1 3", "copyFailed"} << "c.pak";
        QTest::newRow("truncated list")
            << list.left(list.indexOf("c.pak")) << all << false << QStringList() << "";
        QTest::newRow("unsafe list") << QByteArray(list).replace("\"c.pak\"", "\"../c.pak\"") << all << false
                                     << QStringList() << "";
    }
    // The self-update reads the kept list again and copies on a timer, last record first.
    void copyRun()
    {
        QFETCH(QByteArray, list);
        QFETCH(QStringList, downloads);
        QFETCH(bool, read);
        QFETCH(QStringList, events);
        for (const GameFile &file : threeFiles)
            QVERIFY(!downloads.contains(file.localPath())
                || writeFile(downloaded(file.localPath()), file.content));
        QVERIFY(list.isEmpty() || writeFile(downloaded("UpdateList.xml"), list));
        const auto copier = makePatcher(QString(), 1.0f);
        QCOMPARE(copier->readUpdateList(), read);
        QCOMPARE(copier->fileCount(), events.size() > 1 ? 3 : 0);
        if (!read)
            return;
        Recorder copy(copier.get());
        QElapsedTimer clock;
        clock.start();
        copier->startCopy();
        QCOMPARE(copy.events, QStringList());
        QVERIFY(copy.wait());
        QVERIFY(clock.elapsed() >= events.size() * 95);
        QCOMPARE(copy.events, events);
        QTEST(installedNow(), "installed");
        // Whatever was not installed stays downloaded.
        QCOMPARE(QFile::exists(downloaded("data/a.pak")), events.last() == "copyFailed");
    }
};

QTEST_GUILESS_MAIN(TestPatcher)
#include "tst_patcher.moc"
