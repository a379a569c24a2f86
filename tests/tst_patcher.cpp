#include "FaultServer.h"
#include "Patcher.h"
#include "TestFiles.h"
#include "UpdateFixtures.h"

#include <QtTest>

#include <algorithm>
#include <limits>
#include <memory>

Q_DECLARE_METATYPE(FaultServer::Answer)
Q_DECLARE_METATYPE(QList<FaultServer::Answer>)

using namespace UpdateTest;

namespace {

using Answer = FaultServer::Answer;
using Answers = QList<Answer>;

const QList<Range> TwoRanges = {{"1.0", "1.5", "r1"}, {"1.2", "2.0", "r2"}};

} // namespace

class TestPatcher : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void checkOutcome_data();
    void checkOutcome();
    void outcomesReportedFromEventLoop();
    void unsafeManifestRefused_data();
    void unsafeManifestRefused();
    void selfUpdateReading_data();
    void selfUpdateReading();

    void downloadAndInstallOrderAndTotals();
    void progressStepWithinSecondFile();
    void downloadOnlyThenCopy();
    void copyRunOverEmptyList();
    void failureInMidRunReportedOnce_data();
    void failureInMidRunReportedOnce();
    void failedInstallKeepsInstalledFiles_data();
    void failedInstallKeepsInstalledFiles();
    void copyFailureStopsRun();
    void retriedRunStaysWithinTotal();

private:
    QString downloadDir() const { return dir->filePath(QStringLiteral("game/Update/Game")); }
    QString installDir() const { return dir->filePath(QStringLiteral("game")); }
    QString installed(const QString &relative) const { return installDir() + QLatin1Char('/') + relative; }
    QString downloaded(const QString &relative) const { return downloadDir() + QLatin1Char('/') + relative; }
    std::unique_ptr<Patcher> makePatcher(float installedVersion = 1.3f) const
    {
        return std::make_unique<Patcher>(
            server.url(QStringLiteral("/")), downloadDir(), installDir(), installedVersion);
    }
    // As the self-update makes it: no site, only the kept list.
    std::unique_ptr<Patcher> makeCopier() const
    {
        return std::make_unique<Patcher>(QString(), downloadDir(), installDir(), 1.0f);
    }
    // Publishes the three files in r1 and installs an old a; null unless the check lists all three.
    std::unique_ptr<Patcher> checkedPatcher();
    // The files installed with their new content, e.g. "b.pak,c.pak".
    QString installedNow() const;
    // The install folder without the download folder inside it.
    QMap<QString, QByteArray> installedTree() const;

    FaultServer server;
    std::unique_ptr<QTemporaryDir> dir;
    const QList<GameFile> threeFiles = {
        {"data", "a.pak", patterned(100, 1)},
        {"data/sub", "b.pak", patterned(200, 2)},
        {"", "c.pak", patterned(300, 3)},
    };
};

void TestPatcher::initTestCase()
{
    QVERIFY(server.listen());
}

void TestPatcher::init()
{
    server.clear();
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

std::unique_ptr<Patcher> TestPatcher::checkedPatcher()
{
    server.serve(QStringLiteral("/VersionList.xml"), versionList(TwoRanges));
    server.serve(QStringLiteral("/r1/UpdateList.xml"), updateList(threeFiles));
    for (const GameFile &file : threeFiles)
        server.serve(QStringLiteral("/r1/files/") + file.name, file.content);
    if (!writeFile(installed(QStringLiteral("data/a.pak")), "old a"))
        return nullptr;
    auto patcher = makePatcher();
    PatcherSignals check(patcher.get());
    patcher->UpdateCheck();
    const bool listed = check.waitForOutcome() && check.events == QStringList {"updateCheckFinished"}
        && patcher->fileCount() == 3;
    return listed ? std::move(patcher) : nullptr;
}

QString TestPatcher::installedNow() const
{
    QStringList present;
    for (const GameFile &file : threeFiles) {
        if (readFile(installed(file.localPath())) == file.content)
            present.append(file.name);
    }
    return present.join(QLatin1Char(','));
}

QMap<QString, QByteArray> TestPatcher::installedTree() const
{
    auto tree = snapshot(installDir());
    for (auto it = tree.begin(); it != tree.end();)
        it = it.key().startsWith(QLatin1String("Update")) ? tree.erase(it) : std::next(it);
    return tree;
}

// ---- Update check -----------------------------------------------------------------------------

void TestPatcher::checkOutcome_data()
{
    QTest::addColumn<Answers>("versionAnswers");
    QTest::addColumn<Answers>("r1Answers");
    QTest::addColumn<float>("installedVersion");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<int>("files");
    QTest::addColumn<qlonglong>("totalSize");
    QTest::addColumn<float>("target");
    QTest::addColumn<float>("latest");
    QTest::addColumn<int>("r1Requests");

    const char *finished = "updateCheckFinished";
    const char *failed = "updateCheckFailed";
    const char *current = "updateFileFinished";
    // Without a total, each listed file counts its Size of 5.
    const auto row = [](const char *tag, const Answers &versionAnswers, const Answers &r1Answers,
                         float installed, const char *outcome, int files, int r1Requests, float target = 1.5f,
                         float latest = 2.0f, qlonglong total = -1) {
        QTest::newRow(tag) << versionAnswers << r1Answers << installed << QString(outcome) << files
                           << (total < 0 ? files * 5LL : total) << target << latest << r1Requests;
    };
    // The elements as r1's list; data/current.pak is installed.
    const auto listed = [&](const char *tag, const QByteArray &elements, int files, qlonglong total) {
        row(tag, {Answer::ok(versionList(TwoRanges))}, {Answer::ok(updateList(elements))}, 1.3f,
            files > 0 ? finished : current, files, 1, 1.5f, 2.0f, total);
    };

    const Answers ranges {Answer::ok(versionList(TwoRanges))};
    const QByteArray r1 = updateList(fileElement("a.pak", "data", md5Hex("new a"), "files", "5"));
    const Answers list {Answer::ok(r1)};
    row("first matching range wins", ranges, list, 1.3f, finished, 1, 1);
    row("installed equals MinVer", ranges, list, 1.0f, finished, 1, 1);
    row("installed equals MaxVer", ranges, list, 1.5f, finished, 1, 1);
    row("above every range", ranges, list, 3.0f, finished, 0, 0, 0.0f);
    row("below every range", ranges, list, 0.5f, finished, 0, 0, 0.0f);
    row("version manifest not XML", {Answer::ok("this is no manifest\n")}, list, 1.3f, finished, 0, 0, 0.0f,
        0.0f);
    row("version manifest redirected", {Answer::redirect("/elsewhere/VersionList.xml")}, list, 1.3f, finished,
        1, 1);
    row("version manifest missing", {Answer::withStatus(404)}, list, 1.3f, failed, 0, 0);
    row("file manifest fails three times", ranges, {Answer::withStatus(500)}, 1.3f, failed, 0, 3);
    row("file manifest fails twice, then served", ranges,
        {Answer::withStatus(500), Answer::withStatus(503), Answer::ok(r1)}, 1.3f, finished, 1, 3);
    row("file manifest stalls three times", ranges, {Answer::stallBeforeHeaders()}, 1.3f, failed, 0, 3);
    row("file manifest truncated", ranges, {Answer::ok(r1.left(r1.indexOf("</UpdateList>")))}, 1.3f, failed,
        0, 1);
    row("file manifest cut inside an element", ranges, {Answer::ok(r1.left(r1.indexOf("Size")))}, 1.3f,
        failed, 0, 1);
    row("file manifest not XML", ranges, {Answer::ok("<html>moved</body>")}, 1.3f, failed, 0, 1);

    const QString digest = QString::fromLatin1(md5Hex("installed"));
    const QString other = QString::fromLatin1(md5Hex("other"));
    const QString huge = QString::number(std::numeric_limits<qint64>::max() / 3 * 2);
    const auto file
        = [&](const QString &name, const QString &size) { return fileElement(name, "", other, "d", size); };
    listed("no File elements", QByteArray(), 0, 0);
    listed("all files current", fileElement("current.pak", "data", digest, "d", "9"), 0, 0);
    listed(
        "current file skipped", fileElement("current.pak", "data", digest, "d", "9") + file("b", "3"), 1, 3);
    listed(
        "uppercase MD5 always listed", fileElement("current.pak", "data", digest.toUpper(), "d", "9"), 1, 9);
    listed("differing copy listed", fileElement("current.pak", "data", other, "d", "9"), 1, 9);
    listed("File without Size skipped", file("a", QString()) + file("b", "7"), 1, 7);
    listed("File without each other attribute skipped",
        fileElement(QString(), "", other, "d", "1") + fileElement("a", QString(), other, "d", "2")
            + fileElement("a", "", QString(), "d", "4") + fileElement("a", "", other, QString(), "8"),
        0, 0);
    listed("non-numeric Size counts 0", file("a", "12kB"), 1, 0);
    listed("negative Size counts 0", file("a", "-500") + file("b", "20"), 2, 20);
    listed("totals stop at the largest size", file("a", huge) + file("b", huge), 2,
        std::numeric_limits<qlonglong>::max());
    listed("lower-case element names ignored",
        "<file Name=\"a\" RelativeDir=\"\" MD5=\"x\" Dir=\"d\" Size=\"1\"/>", 0, 0);
}

void TestPatcher::checkOutcome()
{
    QFETCH(Answers, versionAnswers);
    QFETCH(Answers, r1Answers);
    QFETCH(float, installedVersion);
    QFETCH(QString, outcome);
    QFETCH(int, files);
    QFETCH(qlonglong, totalSize);
    QFETCH(float, target);
    QFETCH(float, latest);
    QFETCH(int, r1Requests);

    server.script(QStringLiteral("/VersionList.xml"), versionAnswers);
    server.serve(QStringLiteral("/elsewhere/VersionList.xml"), versionList(TwoRanges));
    server.script(QStringLiteral("/r1/UpdateList.xml"), r1Answers);
    server.serve(QStringLiteral("/r2/UpdateList.xml"), updateList(fileElement("z", "", "x", "", "1")));
    QVERIFY(writeFile(installed(QStringLiteral("data/current.pak")), "installed"));

    const auto patcher = makePatcher(installedVersion);
    // A stalled transfer ends only by the inactivity limit.
    if (r1Answers.first().fault == Answer::Fault::StallBeforeHeaders)
        patcher->setTransferTimeout(200);
    PatcherSignals spies(patcher.get());
    patcher->UpdateCheck();
    QVERIFY(spies.waitForOutcome());

    QCOMPARE(spies.events, QStringList {outcome});
    QCOMPARE(server.requestCount(QStringLiteral("/r1/UpdateList.xml")), r1Requests);
    QCOMPARE(server.requestCount(QStringLiteral("/r2/UpdateList.xml")), 0);
    QCOMPARE(patcher->fileCount(), files);
    QCOMPARE(patcher->totalDownloadSize(), totalSize);
    if (outcome != QLatin1String("updateCheckFailed")) {
        QCOMPARE(patcher->targetVersion(), target);
        QCOMPARE(patcher->latestVersion(), latest);
    }
    QVERIFY(!QFile::exists(downloaded(QStringLiteral("VersionList.xml"))));
    if (files > 0)
        QVERIFY(QFile::exists(downloaded(QStringLiteral("UpdateList.xml"))));
}

void TestPatcher::outcomesReportedFromEventLoop()
{
    // Callers connect after starting: nothing may be emitted before control returns.
    const auto failing = makePatcher();
    PatcherSignals failingSpies(failing.get());
    failing->UpdateCheck();
    QCOMPARE(failingSpies.events, QStringList());
    QVERIFY(failingSpies.waitForOutcome());
    QCOMPARE(failingSpies.events, QStringList {"updateCheckFailed"});

    const auto patcher = checkedPatcher();
    QVERIFY(patcher);
    server.serve(QStringLiteral("/r1/files/c.pak"), Answer::withStatus(404));
    PatcherSignals run(patcher.get());
    patcher->startDownload(true);
    QCOMPARE(run.events, QStringList());
    QVERIFY(run.waitForOutcome());
    QCOMPARE(run.outcomes(), 1);
    QCOMPARE(run.downloadFailed.count(), 1);

    // A run over nothing ends like any other, from the event loop.
    const auto idle = makePatcher();
    PatcherSignals idleRun(idle.get());
    idle->startDownload(false);
    QCOMPARE(idleRun.events, QStringList());
    QVERIFY(idleRun.waitForOutcome());
    QCOMPARE(idleRun.events, QStringList {"listFinished"});
}

void TestPatcher::unsafeManifestRefused_data()
{
    QTest::addColumn<QByteArray>("versions");
    QTest::addColumn<QByteArray>("fileElement");
    QTest::addColumn<QString>("named"); // what the debug line must name

    const QByteArray ranges = versionList(TwoRanges);
    const QString md5 = QString::fromLatin1(md5Hex("evil"));
    const QByteArray harmless = fileElement("ok.txt", "", md5, "files", "4");
    // The unsafe entry after a harmless one: reading must refuse the list as a whole.
    const auto row = [&](const char *tag, const QString &name, const QString &relativeDir, const QString &dir,
                         const QString &named) {
        QTest::newRow(tag) << ranges << harmless + fileElement(name, relativeDir, md5, dir, "4") << named;
    };
    row("Name with ..", "../../outside/evil.txt", "", "files", "Name=\"../../outside/evil.txt\"");
    row("Name with backslash ..", "..\\..\\outside\\evil.txt", "", "files", "Name=\"..\\..\\outside");
    row("Name with inner ..", "data/../../../outside/evil.txt", "", "files", "Name=\"data/../");
    row("absolute Name", "@ROOT@/outside/evil.txt", "", "files", "Name=\"/");
    row("Name with backslash root", "\\outside\\evil.txt", "", "files", "Name=\"\\outside");
    row("Name with drive letter", "C:evil.txt", "", "files", "Name=\"C:evil.txt\"");
    row("Name with stream colon", "evil.txt:stream", "", "files", "Name=\"evil.txt:stream\"");
    row("empty Name", "", "", "files", "Name=\"\"");
    row("Name .", ".", "", "files", "Name=\".\"");
    row("Name ..", "..", "", "files", "Name=\"..\"");
    row("Name of a folder", "data/", "", "files", "Name=\"data/\"");
    row("RelativeDir with ..", "evil.txt", "../../outside", "files", "RelativeDir=\"../../outside\"");
    row("RelativeDir with backslash ..", "evil.txt", "..\\..\\outside", "files", "RelativeDir=\"..\\");
    row("absolute RelativeDir", "evil.txt", "@ROOT@/outside", "files", "RelativeDir=\"/");
    row("RelativeDir with drive", "evil.txt", "C:\\outside", "files", "RelativeDir=\"C:\\outside\"");
    row("RelativeDir with inner ..", "evil.txt", "data/../../..", "files", "RelativeDir=\"data/");
}

void TestPatcher::unsafeManifestRefused()
{
    QFETCH(QByteArray, versions);
    QFETCH(QByteArray, fileElement);
    QFETCH(QString, named);
    // Absolute paths point into this test's own tree, where the snapshot would see a write.
    fileElement.replace("@ROOT@", dir->path().toUtf8());

    server.serve(QStringLiteral("/VersionList.xml"), versions);
    server.serve(QStringLiteral("/r1/UpdateList.xml"), updateList(fileElement));
    server.serve(QStringLiteral("/UpdateList.xml"), updateList(fileElement));
    server.serve(QStringLiteral("/r1/files/evil.txt"), QByteArray("evil"));
    server.serve(QStringLiteral("/r1/files/ok.txt"), QByteArray("evil"));
    QVERIFY(writeFile(dir->filePath(QStringLiteral("outside/keep.txt")), "outside"));
    QVERIFY(writeFile(installed(QStringLiteral("data/keep.txt")), "installed"));
    const auto before = snapshot(dir->path());

    const auto patcher = makePatcher();
    PatcherSignals spies(patcher.get());
    patcher->UpdateCheck();
    QVERIFY(spies.waitForOutcome());

    QCOMPARE(spies.events, QStringList {"updateCheckFailed"});
    QVERIFY(!patcher->hasUpdateFiles());
    QVERIFY2(patcher->errorString().startsWith(QStringLiteral("Unsafe entry")),
        qPrintable(patcher->errorString()));
    QVERIFY2(patcher->errorString().contains(named), qPrintable(patcher->errorString()));

    // At most the file manifest itself may have appeared, in the download folder.
    auto after = snapshot(dir->path());
    for (const char *allowed : {"game/Update/Game/UpdateList.xml", "game/Update/Game", "game/Update"})
        after.remove(QLatin1String(allowed));
    QCOMPARE(after, before);
    QCOMPARE(server.requestCount(QStringLiteral("/r1/files/evil.txt")), 0);
}

void TestPatcher::selfUpdateReading_data()
{
    QTest::addColumn<QByteArray>("list"); // empty: no UpdateList.xml at all
    QTest::addColumn<bool>("read");
    QTest::addColumn<int>("files");

    const QByteArray good = updateList(threeFiles);
    QTest::newRow("missing means empty") << QByteArray() << true << 0;
    QTest::newRow("complete list") << good << true << 3;
    QTest::newRow("truncated list") << good.left(good.indexOf("c.pak")) << false << 0;
    QTest::newRow("unsafe list") << QByteArray(good).replace("\"c.pak\"", "\"../c.pak\"") << false << 0;
}

void TestPatcher::selfUpdateReading()
{
    QFETCH(QByteArray, list);
    QFETCH(bool, read);
    QFETCH(int, files);

    if (!list.isEmpty())
        QVERIFY(writeFile(downloaded(QStringLiteral("UpdateList.xml")), list));
    const auto copier = makeCopier();
    QCOMPARE(copier->readUpdateList(), read);
    QCOMPARE(copier->fileCount(), files);
}

// ---- Download and copy runs -------------------------------------------------------------------

void TestPatcher::downloadAndInstallOrderAndTotals()
{
    const auto patcher = checkedPatcher();
    QVERIFY(patcher);
    PatcherSignals run(patcher.get());
    // Which files are installed when each one completes shows the processing order.
    QStringList installedAtEachFile;
    connect(patcher.get(), &Patcher::downloadOneFileFinished, &run.context,
        [&] { installedAtEachFile.append(installedNow()); });
    patcher->startDownload(true);
    QVERIFY(run.waitForOutcome());

    QCOMPARE(run.completions(),
        (QStringList {"total 300/1", "oneFinished", "total 500/2", "oneFinished", "total 600/3",
            "oneFinished", "listFinished"}));
    QCOMPARE(installedAtEachFile, (QStringList {"c.pak", "b.pak,c.pak", "a.pak,b.pak,c.pak"}));
    // Every relayed step belongs to the file in transfer.
    for (const QList<QVariant> &step : run.fileState)
        QVERIFY(QList<qlonglong>({100, 200, 300}).contains(step.at(1).toLongLong()));
    const QList<qlonglong> totals = run.totals();
    QVERIFY(std::is_sorted(totals.cbegin(), totals.cend()));
    QCOMPARE(filesBelow(downloadDir()), QStringList {"UpdateList.xml"});
}

void TestPatcher::progressStepWithinSecondFile()
{
    const auto patcher = checkedPatcher();
    QVERIFY(patcher);
    // The second file processed (b, 200 bytes) arrives in steps of 50, far enough apart that
    // the server's TCP stack does not merge them.
    server.serve(QStringLiteral("/r1/files/b.pak"), Answer::trickle(threeFiles.at(1).content, 50, 120));
    PatcherSignals run(patcher.get());
    patcher->startDownload(true);
    QVERIFY(run.waitForOutcome());
    QCOMPARE(run.listFinished.count(), 1);

    const int step = run.events.indexOf(QStringLiteral("fileState 50/200"));
    QVERIFY2(step >= 0, qPrintable(run.events.join(QLatin1String("; "))));
    QCOMPARE(run.events.value(step + 1), QStringLiteral("total 350/1"));
}

void TestPatcher::downloadOnlyThenCopy()
{
    const auto downloader = checkedPatcher();
    QVERIFY(downloader);
    PatcherSignals download(downloader.get());
    downloader->startDownload(false);
    QVERIFY(download.waitForOutcome());
    QCOMPARE(download.listFinished.count(), 1);
    QCOMPARE(download.oneFinished.count(), 3);
    for (const GameFile &file : threeFiles)
        QCOMPARE(readFile(downloaded(file.localPath())), file.content);
    QCOMPARE(readFile(installed(QStringLiteral("data/a.pak"))), QByteArray("old a"));
    QVERIFY(!QFile::exists(installed(QStringLiteral("c.pak"))));

    // The self-update reads the kept list again and copies on a timer.
    const auto copier = makeCopier();
    QVERIFY(copier->readUpdateList());
    QCOMPARE(copier->fileCount(), 3);
    PatcherSignals copy(copier.get());
    QStringList installedAtEachStep;
    connect(copier.get(), &Patcher::updateCopyFileState, &copy.context,
        [&] { installedAtEachStep.append(installedNow()); });
    QElapsedTimer clock;
    clock.start();
    copier->startCopy();
    QCOMPARE(copy.events, QStringList());
    QVERIFY(copy.waitForOutcome());
    QVERIFY(clock.elapsed() >= 3 * 100);

    QCOMPARE(copy.events, (QStringList {"copyState 1/3", "copyState 2/3", "copyFileFinished"}));
    QCOMPARE(installedAtEachStep, (QStringList {"c.pak", "b.pak,c.pak"}));
    QCOMPARE(installedNow(), QStringLiteral("a.pak,b.pak,c.pak"));
    QCOMPARE(filesBelow(downloadDir()), QStringList {"UpdateList.xml"});
}

void TestPatcher::copyRunOverEmptyList()
{
    const auto copier = makeCopier();
    QVERIFY(copier->readUpdateList());
    PatcherSignals copy(copier.get());
    QElapsedTimer clock;
    clock.start();
    copier->startCopy();
    QCOMPARE(copy.events, QStringList());
    QVERIFY(copy.waitForOutcome());
    QCOMPARE(copy.events, QStringList {"copyFileFinished"});
    QVERIFY(clock.elapsed() >= 95);
}

void TestPatcher::failureInMidRunReportedOnce_data()
{
    QTest::addColumn<bool>("copyAfterDownload");
    QTest::addColumn<Answer>("failure");
    QTest::newRow("install, 404") << true << Answer::withStatus(404);
    QTest::newRow("install, wrong bytes") << true << Answer::ok(patterned(200, 9));
    QTest::newRow("download only, reset mid-body") << false << Answer::resetAfter(patterned(200, 2), 50);
}

void TestPatcher::failureInMidRunReportedOnce()
{
    QFETCH(bool, copyAfterDownload);
    QFETCH(Answer, failure);

    const auto patcher = checkedPatcher();
    QVERIFY(patcher);
    server.serve(QStringLiteral("/r1/files/b.pak"), failure);
    PatcherSignals run(patcher.get());
    patcher->startDownload(copyAfterDownload);
    QVERIFY(run.waitForOutcome());
    QTest::qWait(300);

    const QStringList milestones = run.milestones();
    QCOMPARE(milestones.count(QStringLiteral("downloadFileFailed")), 1);
    QCOMPARE(milestones.last(), QStringLiteral("downloadFileFailed"));
    QCOMPARE(run.oneFinished.count(), 1);
    QCOMPARE(run.listFinished.count(), 0);
    QCOMPARE(server.requestCount(QStringLiteral("/r1/files/b.pak")), 3);
    QCOMPARE(server.requestCount(QStringLiteral("/r1/files/a.pak")), 0);
    QVERIFY(!QFile::exists(downloaded(QStringLiteral("data/sub/b.pak"))));
    QVERIFY(!QFile::exists(installed(QStringLiteral("data/sub/b.pak"))));
}

void TestPatcher::failedInstallKeepsInstalledFiles_data()
{
    QTest::addColumn<QString>("blocker"); // made before the run, below the install folder
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("non-empty folder at the target") << "data/sub/b.pak/inside.txt" << QByteArray("keep me");
    QTest::newRow("target's folder is a file") << "data/sub" << QByteArray("a file, not a folder");
}

void TestPatcher::failedInstallKeepsInstalledFiles()
{
    QFETCH(QString, blocker);
    QFETCH(QByteArray, content);

    QVERIFY(writeFile(installed(blocker), content));
    const auto patcher = checkedPatcher();
    QVERIFY(patcher);
    const auto before = installedTree();
    PatcherSignals run(patcher.get());
    patcher->startDownload(true);
    QVERIFY(run.waitForOutcome());

    QCOMPARE(run.completions(), (QStringList {"total 300/1", "oneFinished", "downloadFileFailed"}));
    QCOMPARE(run.milestones().last(), QStringLiteral("downloadFileFailed"));
    // Only c was installed; b failed, a was never touched.
    auto after = installedTree();
    QCOMPARE(after.take(QStringLiteral("c.pak")), threeFiles.at(2).content);
    QCOMPARE(after, before);
    // The downloaded copy of the failed file stays for a later attempt.
    QCOMPARE(readFile(downloaded(QStringLiteral("data/sub/b.pak"))), threeFiles.at(1).content);
    QCOMPARE(server.requestCount(QStringLiteral("/r1/files/a.pak")), 0);
}

void TestPatcher::copyFailureStopsRun()
{
    // Downloaded b is missing: the copy run stops at it and never reaches a.
    for (const GameFile &file : {threeFiles.at(0), threeFiles.at(2)})
        QVERIFY(writeFile(downloaded(file.localPath()), file.content));
    QVERIFY(writeFile(downloaded(QStringLiteral("UpdateList.xml")), updateList(threeFiles)));
    QVERIFY(writeFile(installed(QStringLiteral("data/a.pak")), "old a"));

    const auto copier = makeCopier();
    QVERIFY(copier->readUpdateList());
    PatcherSignals copy(copier.get());
    copier->startCopy();
    QVERIFY(copy.waitForOutcome());
    QTest::qWait(300);
    QCOMPARE(copy.events, (QStringList {"copyState 1/3", "copyFileFailed"}));
    QCOMPARE(readFile(installed(QStringLiteral("c.pak"))), threeFiles.at(2).content);
    QCOMPARE(readFile(installed(QStringLiteral("data/a.pak"))), QByteArray("old a"));
    QCOMPARE(readFile(downloaded(QStringLiteral("data/a.pak"))), threeFiles.at(0).content);
}

void TestPatcher::retriedRunStaysWithinTotal()
{
    const auto patcher = checkedPatcher();
    QVERIFY(patcher);
    server.serve(QStringLiteral("/r1/files/a.pak"), Answer::withStatus(404));
    PatcherSignals first(patcher.get());
    patcher->startDownload(true);
    QVERIFY(first.waitForOutcome());
    QCOMPARE(first.downloadFailed.count(), 1);
    QCOMPARE(first.oneFinished.count(), 2);

    // The player tries again; one file breaks off mid-body once more before it arrives whole.
    server.script(QStringLiteral("/r1/files/a.pak"),
        {Answer::resetAfter(threeFiles.at(0).content, 60), Answer::ok(threeFiles.at(0).content)});
    server.serve(QStringLiteral("/r1/files/b.pak"), Answer::trickle(threeFiles.at(1).content, 40, 20));
    PatcherSignals second(patcher.get());
    patcher->startDownload(true);
    QVERIFY(second.waitForOutcome());
    QCOMPARE(second.listFinished.count(), 1);
    const QStringList totals = second.events.filter(QRegularExpression(QStringLiteral("^total ")));
    QCOMPARE(totals.value(totals.size() - 1), QStringLiteral("total 600/3"));
    for (const qlonglong total : second.totals())
        QVERIFY2(total <= patcher->totalDownloadSize(), qPrintable(QString::number(total)));
    QCOMPARE(installedNow(), QStringLiteral("a.pak,b.pak,c.pak"));
}

QTEST_GUILESS_MAIN(TestPatcher)
#include "tst_patcher.moc"
