#include "FaultServer.h"
#include "Patcher.h"
#include "TestFiles.h"
#include "UpdateFixtures.h"

#include <QtTest>

#include <limits>
#include <memory>

Q_DECLARE_METATYPE(FaultServer::Answer)

using namespace UpdateTest;
using Answer = FaultServer::Answer;

namespace {

const QStringList Outcomes = {"checkFailed", "checkFinished", "fileFinished", "copyFailed", "copyFinished",
    "downloadFailed", "listFinished"};

// Every signal of one Patcher in emission order with its arguments ("total 300 1"), and
// errorString() as it was at each failure signal.
struct Recorder
{
    explicit Recorder(Patcher *patcher)
        : patcher(patcher)
    {
        on(&Patcher::updateCheckFailed, "checkFailed");
        on(&Patcher::updateCheckFinished, "checkFinished");
        on(&Patcher::updateFileFinished, "fileFinished");
        on(&Patcher::copyFileFailed, "copyFailed");
        on(&Patcher::copyFileFinished, "copyFinished");
        on(&Patcher::downloadFileFailed, "downloadFailed");
        on(&Patcher::downloadListFileFinished, "listFinished");
        on(&Patcher::downloadOneFileFinished, "oneFinished");
        on(&Patcher::updateCopyFileState, "copy");
        on(&Patcher::updateDownloadFileState, "file");
        on(&Patcher::updateTotalDownloadState, "total");
    }
    template<typename... Args> void on(void (Patcher::*signal)(Args...), const char *name)
    {
        QObject::connect(patcher, signal, &context, [this, name](Args... arguments) {
            events << (QStringList {name} << ... << QString::number(arguments)).join(QLatin1Char(' '));
            if (events.last().endsWith(QLatin1String("Failed")))
                errors << patcher->errorString();
        });
    }
    // Waits for an outcome, then a little longer so that anything following it shows.
    bool wait()
    {
        const bool ended = QTest::qWaitFor(
            [this] {
                return std::any_of(
                    events.cbegin(), events.cend(), [](auto &e) { return Outcomes.contains(e); });
            },
            20000);
        QTest::qWait(150);
        return ended;
    }
    // The outcomes and completed files, each with the total relayed right before it.
    QStringList completions() const
    {
        QStringList result;
        for (int i = 0; i < events.size(); ++i) {
            if (Outcomes.contains(events[i]) || events[i] == "oneFinished"
                || events.value(i + 1) == "oneFinished")
                result << events[i];
        }
        return result;
    }

    Patcher *patcher;
    QObject context;
    QStringList events;
    QStringList errors;
};

} // namespace

class TestPatcher : public QObject
{
    Q_OBJECT

    QString downloaded(const QString &relative) const
    {
        return dir->filePath("game/Update/Game/" + relative);
    }
    QString installed(const QString &relative) const { return dir->filePath("game/" + relative); }
    std::unique_ptr<Patcher> makePatcher(float version = 1.3f) const
    {
        return std::make_unique<Patcher>(server->url("/"), downloaded(""), installed(""), version);
    }
    // As the self-update makes it: no site, only the kept list.
    std::unique_ptr<Patcher> makeCopier() const
    {
        return std::make_unique<Patcher>(QString(), downloaded(""), installed(""), 1.0f);
    }
    // Serves the three files in r1 and installs an old a; null unless the check lists all three.
    std::unique_ptr<Patcher> checkedPatcher()
    {
        server->serve("/VersionList.xml", versionList({{"1.0", "1.5", "r1"}}));
        server->serve("/r1/UpdateList.xml", updateList(threeFiles));
        for (const GameFile &file : threeFiles)
            server->serve("/r1/files/" + file.name, file.content);
        auto patcher = makePatcher();
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
        return present.join(QLatin1Char(','));
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
        QTest::addColumn<Answer>("versions");
        QTest::addColumn<Answer>("list"); // r1's UpdateList.xml
        QTest::addColumn<float>("version"); // installed
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<int>("files");
        QTest::addColumn<qlonglong>("total");
        QTest::addColumn<int>("listRequests");
        QTest::addColumn<QString>("error"); // in errorString() at the failure

        const Answer ranges = Answer::ok(versionList({{"1.0", "1.5", "r1"}, {"1.2", "2.0", "r2"}}));
        const QByteArray one = updateList(fileElement("a.pak", "", "0", "d", 5));
        const auto row = [&](const char *tag, const QByteArray &list, const char *outcome, int files,
                             qlonglong total, const char *error = "") {
            QTest::newRow(tag) << ranges << Answer::ok(list) << 1.3f << QString(outcome) << files << total
                               << 1 << QString(error);
        };
        const auto file
            = [&](const char *name, qint64 size) { return fileElement(name, "", "0", "d", size); };
        // data/current.pak is installed with this content.
        const QByteArray current = fileElement("current.pak", "data", QString(md5Hex("installed")), "d", 9);
        const qint64 huge = std::numeric_limits<qint64>::max() / 3 * 2;

        row("files listed", one, "checkFinished", 1, 5);
        QTest::newRow("no range for the version")
            << ranges << Answer::ok(one) << 3.0f << "checkFinished" << 0 << 0LL << 0 << QString();
        QTest::newRow("version list missing") << Answer::withStatus(404) << Answer::ok(one) << 1.3f
                                              << "checkFailed" << 0 << 0LL << 0 << "failed 3 times";
        // A list that stops early must not be taken for "all files current".
        row("file list truncated", one.left(one.indexOf("</UpdateList>")), "checkFailed", 0, 0, "Incomplete");
        row("unsafe file list", updateList(file("ok.txt", 4) + file("../../outside/evil.txt", 4)),
            "checkFailed", 0, 0,
            "Unsafe entry in UpdateList.xml: File at line 4: Name=\"../../outside/evil.txt\"");
        row("all files current", updateList(current), "fileFinished", 0, 0);
        row("current skipped, negative size counts 0", updateList(current + file("a", -500) + file("b", 20)),
            "checkFinished", 2, 20);
        row("totals stop at the largest size", updateList(file("a", huge) + file("b", huge)), "checkFinished",
            2, std::numeric_limits<qlonglong>::max());
        QTest::newRow("file list fails") << ranges << Answer::withStatus(500) << 1.3f << "checkFailed" << 0
                                         << 0LL << 3 << "r1/UpdateList.xml failed 3 times";
    }
    void check()
    {
        QFETCH(Answer, versions);
        QFETCH(Answer, list);
        QFETCH(float, version);
        QFETCH(int, listRequests);
        QFETCH(QString, error);

        server->serve("/VersionList.xml", versions);
        server->serve("/r1/UpdateList.xml", list);
        QVERIFY(writeFile(installed("data/current.pak"), "installed"));
        const auto patcher = makePatcher(version);
        Recorder record(patcher.get());
        patcher->UpdateCheck();
        // Callers connect after starting: nothing may come before control returns.
        QCOMPARE(record.events, QStringList());
        QVERIFY(record.wait());

        QTEST(record.events.join(','), "outcome");
        QCOMPARE(record.errors.size(), error.isEmpty() ? 0 : 1);
        QVERIFY2(record.errors.value(0).contains(error), qPrintable(record.errors.value(0)));
        QCOMPARE(server->requestCount("/r1/UpdateList.xml"), listRequests);
        QCOMPARE(server->requestCount("/r2/UpdateList.xml"), 0);
        QTEST(patcher->fileCount(), "files");
        QTEST(patcher->totalDownloadSize(), "total");
        QCOMPARE(patcher->targetVersion(), listRequests ? 1.5f : 0.0f);
        QCOMPARE(patcher->latestVersion(), versions.status == 200 ? 2.0f : 0.0f);
        QVERIFY(!QFile::exists(downloaded("VersionList.xml")));
    }

    void downloadAndInstallOrderAndTotals()
    {
        const auto patcher = checkedPatcher();
        QVERIFY(patcher);
        // The second file processed (b, 200 bytes) arrives in steps of 50, far enough apart that
        // the server's TCP stack does not merge them.
        server->serve("/r1/files/b.pak", Answer::trickle(threeFiles[1].content, 50, 120));
        Recorder run(patcher.get());
        // Which files are installed when each one completes shows the processing order.
        QStringList installedAtEachFile;
        connect(patcher.get(), &Patcher::downloadOneFileFinished, &run.context,
            [&] { installedAtEachFile << installedNow(); });
        patcher->startDownload(true);
        QCOMPARE(run.events, QStringList());
        QVERIFY(run.wait());

        QCOMPARE(run.completions(),
            (QStringList {"total 300 1", "oneFinished", "total 500 2", "oneFinished", "total 600 3",
                "oneFinished", "listFinished"}));
        QCOMPARE(installedAtEachFile, (QStringList {"c.pak", "b.pak,c.pak", "a.pak,b.pak,c.pak"}));
        // A step within the second file relays the total so far.
        QCOMPARE(run.events.value(run.events.indexOf("file 50 200") + 1), QStringLiteral("total 350 1"));
        QCOMPARE(filesBelow(downloaded("")), QStringList {"UpdateList.xml"});
    }

    void failureStopsRun_data()
    {
        QTest::addColumn<bool>("install");
        QTest::addColumn<Answer>("b"); // the second file processed
        QTest::addColumn<QString>("blocker"); // a non-empty folder where b is installed
        QTest::addColumn<int>("bRequests");
        QTest::addColumn<QString>("error");
        const QByteArray b = patterned(200, 2);
        QTest::newRow("install, 404")
            << true << Answer::withStatus(404) << QString() << 3 << "b.pak failed 3 times";
        QTest::newRow("download only, reset mid-body")
            << false << Answer::resetAfter(b, 50) << QString() << 3 << "b.pak failed 3 times";
        // The downloaded copy stays for a later attempt.
        QTest::newRow("install refused")
            << true << Answer::ok(b) << "data/sub/b.pak/x" << 1 << "Cannot install";
    }
    // Reported once; the files before stay, the ones after are never fetched. Run again, the
    // totals count from zero, or the bars pass 100%.
    void failureStopsRun()
    {
        QFETCH(bool, install);
        QFETCH(QString, blocker);
        QFETCH(QString, error);

        const auto patcher = checkedPatcher();
        QVERIFY(patcher && (blocker.isEmpty() || writeFile(installed(blocker), "keep")));
        QFETCH(Answer, b);
        server->serve("/r1/files/b.pak", b);
        Recorder run(patcher.get());
        patcher->startDownload(install);
        QVERIFY(run.wait());
        QCOMPARE(run.completions(), (QStringList {"total 300 1", "oneFinished", "downloadFailed"}));
        QCOMPARE(run.errors.size(), 1);
        QVERIFY2(run.errors[0].contains(error), qPrintable(run.errors[0]));
        QTEST(server->requestCount("/r1/files/b.pak"), "bRequests");
        QCOMPARE(server->requestCount("/r1/files/a.pak"), 0);
        QCOMPARE(QFile::exists(downloaded("data/sub/b.pak")), !blocker.isEmpty());
        QCOMPARE(installedNow(), QString(install ? "c.pak" : ""));
        QCOMPARE(readFile(installed("data/a.pak")), QByteArray("old a"));
        if (!blocker.isEmpty()) {
            QCOMPARE(readFile(installed(blocker)), QByteArray("keep"));
            return;
        }

        server->serve("/r1/files/b.pak", Answer::trickle(threeFiles[1].content, 40, 20));
        Recorder again(patcher.get());
        patcher->startDownload(install);
        QVERIFY(again.wait());
        const QStringList totals = again.events.filter(QRegularExpression("^total "));
        QCOMPARE(totals.last(), QStringLiteral("total 600 3"));
        for (const QString &total : totals)
            QVERIFY2(total.section(' ', 1, 1).toLongLong() <= 600, qPrintable(total));
    }

    void copyRun_data()
    {
        QTest::addColumn<QByteArray>("list"); // empty: no UpdateList.xml at all
        QTest::addColumn<QStringList>("downloads");
        QTest::addColumn<bool>("read");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QStringList>("installedAtEachStep");

        const QByteArray list = updateList(threeFiles);
        const QStringList all = {"data/a.pak", "data/sub/b.pak", "c.pak"};
        QTest::newRow("missing list means empty")
            << QByteArray() << QStringList() << true << QStringList {"copyFinished"} << QStringList();
        QTest::newRow("every file downloaded")
            << list << all << true << QStringList {"copy 1 3", "copy 2 3", "copyFinished"}
            << QStringList {"c.pak", "b.pak,c.pak", "a.pak,b.pak,c.pak"};
        QTest::newRow("b missing") << list << QStringList {"data/a.pak", "c.pak"} << true
                                   << QStringList {"copy 1 3", "copyFailed"}
                                   << QStringList {"c.pak", "c.pak"};
        QTest::newRow("truncated list")
            << list.left(list.indexOf("c.pak")) << all << false << QStringList() << QStringList();
        QTest::newRow("unsafe list") << QByteArray(list).replace("\"c.pak\"", "\"../c.pak\"") << all << false
                                     << QStringList() << QStringList();
    }
    // The self-update reads the kept list again and copies on a timer, one file per step.
    void copyRun()
    {
        QFETCH(QByteArray, list);
        QFETCH(QStringList, downloads);
        QFETCH(QStringList, events);
        QFETCH(QStringList, installedAtEachStep);

        for (const GameFile &file : threeFiles)
            QVERIFY(!downloads.contains(file.localPath())
                || writeFile(downloaded(file.localPath()), file.content));
        QVERIFY(list.isEmpty() || writeFile(downloaded("UpdateList.xml"), list));
        const auto copier = makeCopier();
        QTEST(copier->readUpdateList(), "read");
        QCOMPARE(copier->fileCount(), events.size() > 1 ? 3 : 0);
        if (events.isEmpty())
            return;
        Recorder copy(copier.get());
        QStringList installedAtEach;
        connect(copier.get(), &Patcher::updateCopyFileState, &copy.context,
            [&] { installedAtEach << installedNow(); });
        QElapsedTimer clock;
        clock.start();
        copier->startCopy();
        QCOMPARE(copy.events, QStringList());
        QVERIFY(copy.wait());
        QVERIFY(clock.elapsed() >= events.size() * 95);
        QCOMPARE(copy.events, events);
        installedAtEach << installedNow();
        QCOMPARE(
            installedAtEach, installedAtEachStep.isEmpty() ? QStringList {QString()} : installedAtEachStep);
        // Whatever was not installed stays downloaded.
        QCOMPARE(QFile::exists(downloaded("data/a.pak")), events.last() == "copyFailed");
    }
};

QTEST_GUILESS_MAIN(TestPatcher)
#include "tst_patcher.moc"
