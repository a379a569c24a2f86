#include "FaultServer.h"
#include "Patcher.h"
#include "TestFiles.h"

#include <QtTest>

#include <algorithm>
#include <limits>
#include <memory>

Q_DECLARE_METATYPE(FaultServer::Answer)
Q_DECLARE_METATYPE(QList<FaultServer::Answer>)

namespace {

using Answer = FaultServer::Answer;

QByteArray attribute(const char *name, const QString &value)
{
    return QByteArray(" ") + name + "=\"" + value.toHtmlEscaped().toUtf8() + "\"";
}

struct Range
{
    QString min;
    QString max;
    QString dir;
};

QByteArray versionList(const QList<Range> &ranges)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<VersionList>\n";
    for (const Range &range : ranges)
        xml += "  <Version" + attribute("MinVer", range.min) + attribute("MaxVer", range.max)
            + attribute("Dir", range.dir) + "/>\n";
    return xml + "</VersionList>\n";
}

// One File element; an attribute given as a null string is left out.
QByteArray fileElement(const QString &name, const QString &relativeDir, const QString &md5,
    const QString &dir, const QString &size)
{
    QByteArray element = "  <File";
    if (!name.isNull())
        element += attribute("Name", name);
    if (!relativeDir.isNull())
        element += attribute("RelativeDir", relativeDir);
    if (!md5.isNull())
        element += attribute("MD5", md5);
    if (!dir.isNull())
        element += attribute("Dir", dir);
    if (!size.isNull())
        element += attribute("Size", size);
    return element + "/>\n";
}

QByteArray updateList(const QByteArray &elements)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<UpdateList>\n" + elements + "</UpdateList>\n";
}

// A file of the game as the server lists it and serves it below its range.
struct GameFile
{
    QString name;
    QString relativeDir;
    QByteArray content;

    QString localPath() const { return relativeDir.isEmpty() ? name : relativeDir + QLatin1Char('/') + name; }
    QByteArray element() const
    {
        return fileElement(name, relativeDir, QString::fromLatin1(md5Hex(content)), QStringLiteral("files"),
            QString::number(content.size()));
    }
};

QByteArray updateList(const QList<GameFile> &files)
{
    QByteArray elements;
    for (const GameFile &file : files)
        elements += file.element();
    return updateList(elements);
}

// Every signal of one Patcher: a spy each, and one log of all of them in emission order.
struct PatcherSignals
{
    explicit PatcherSignals(Patcher *patcher)
        : checkFailed(patcher, &Patcher::updateCheckFailed)
        , checkFinished(patcher, &Patcher::updateCheckFinished)
        , fileFinished(patcher, &Patcher::updateFileFinished)
        , copyFailed(patcher, &Patcher::copyFileFailed)
        , copyFinished(patcher, &Patcher::copyFileFinished)
        , copyState(patcher, &Patcher::updateCopyFileState)
        , downloadFailed(patcher, &Patcher::downloadFileFailed)
        , fileState(patcher, &Patcher::updateDownloadFileState)
        , totalState(patcher, &Patcher::updateTotalDownloadState)
        , oneFinished(patcher, &Patcher::downloadOneFileFinished)
        , listFinished(patcher, &Patcher::downloadListFileFinished)
    {
        const auto log = [this](const QString &event) { events.append(event); };
        QObject::connect(patcher, &Patcher::updateCheckFailed, &context, [log] { log("updateCheckFailed"); });
        QObject::connect(
            patcher, &Patcher::updateCheckFinished, &context, [log] { log("updateCheckFinished"); });
        QObject::connect(
            patcher, &Patcher::updateFileFinished, &context, [log] { log("updateFileFinished"); });
        QObject::connect(patcher, &Patcher::copyFileFailed, &context, [log] { log("copyFileFailed"); });
        QObject::connect(patcher, &Patcher::copyFileFinished, &context, [log] { log("copyFileFinished"); });
        QObject::connect(patcher, &Patcher::updateCopyFileState, &context,
            [log](int now, int total) { log(QStringLiteral("copyState %1/%2").arg(now).arg(total)); });
        QObject::connect(
            patcher, &Patcher::downloadFileFailed, &context, [log] { log("downloadFileFailed"); });
        QObject::connect(
            patcher, &Patcher::updateDownloadFileState, &context, [log](qlonglong received, qlonglong total) {
                log(QStringLiteral("fileState %1/%2").arg(received).arg(total));
            });
        QObject::connect(patcher, &Patcher::updateTotalDownloadState, &context,
            [log](qlonglong size, int count) { log(QStringLiteral("total %1/%2").arg(size).arg(count)); });
        QObject::connect(patcher, &Patcher::downloadOneFileFinished, &context, [log] { log("oneFinished"); });
        QObject::connect(
            patcher, &Patcher::downloadListFileFinished, &context, [log] { log("listFinished"); });
    }

    int outcomes() const
    {
        return checkFailed.count() + checkFinished.count() + fileFinished.count() + copyFailed.count()
            + copyFinished.count() + downloadFailed.count() + listFinished.count();
    }
    // Waits for the first outcome, then a little longer so that anything following it shows.
    bool waitForOutcome(int timeoutMs = 20000)
    {
        if (!QTest::qWaitFor([this] { return outcomes() > 0; }, timeoutMs))
            return false;
        QTest::qWait(150);
        return true;
    }
    // The log without the per-step progress relays.
    QStringList milestones() const
    {
        QStringList result;
        for (const QString &event : events) {
            if (!event.startsWith(QLatin1String("fileState")))
                result.append(event);
        }
        return result;
    }
    QList<qlonglong> totals() const
    {
        QList<qlonglong> result;
        for (const QList<QVariant> &arguments : totalState)
            result.append(arguments.at(0).toLongLong());
        return result;
    }

    QObject context;
    QStringList events;
    QSignalSpy checkFailed;
    QSignalSpy checkFinished;
    QSignalSpy fileFinished;
    QSignalSpy copyFailed;
    QSignalSpy copyFinished;
    QSignalSpy copyState;
    QSignalSpy downloadFailed;
    QSignalSpy fileState;
    QSignalSpy totalState;
    QSignalSpy oneFinished;
    QSignalSpy listFinished;
};

QStringList g_debugLines;

void captureDebug(QtMsgType, const QMessageLogContext &, const QString &message)
{
    g_debugLines.append(message);
}

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
    void listedFiles_data();
    void listedFiles();
    void outcomesReportedFromEventLoop();
    void stalledManifestEndsByTimeout();
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
    std::unique_ptr<Patcher> makePatcher(float installedVersion = 1.3f) const;
    // Serves VersionList.xml with TwoRanges, the range r1 with files and each file's body.
    void publish(const QList<GameFile> &files);
    // Runs a check that must list files.
    bool checkFindsFiles(Patcher *patcher);

    FaultServer server;
    std::unique_ptr<QTemporaryDir> dir;
    const QList<GameFile> threeFiles = {
        {"a.pak", "data", patterned(100, 1)},
        {"b.pak", "data/sub", patterned(200, 2)},
        {"c.pak", "", patterned(300, 3)},
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

std::unique_ptr<Patcher> TestPatcher::makePatcher(float installedVersion) const
{
    return std::make_unique<Patcher>(
        server.url(QStringLiteral("/")), downloadDir(), installDir(), installedVersion);
}

void TestPatcher::publish(const QList<GameFile> &files)
{
    server.serve(QStringLiteral("/VersionList.xml"), versionList(TwoRanges));
    server.serve(QStringLiteral("/r1/UpdateList.xml"), updateList(files));
    for (const GameFile &file : files)
        server.serve(QStringLiteral("/r1/files/") + file.name, file.content);
}

bool TestPatcher::checkFindsFiles(Patcher *patcher)
{
    PatcherSignals check(patcher);
    patcher->UpdateCheck();
    return check.waitForOutcome() && check.milestones() == QStringList {"updateCheckFinished"}
    && patcher->hasUpdateFiles();
}

// ---- Update check -----------------------------------------------------------------------------

void TestPatcher::checkOutcome_data()
{
    QTest::addColumn<QList<Answer>>("versionAnswers");
    QTest::addColumn<QList<Answer>>("r1Answers");
    QTest::addColumn<float>("installedVersion");
    QTest::addColumn<bool>("alreadyCurrent");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<int>("files");
    QTest::addColumn<float>("target");
    QTest::addColumn<float>("latest");
    QTest::addColumn<int>("r1Requests");

    const QList<Answer> ranges {Answer::ok(versionList(TwoRanges))};
    const QByteArray r1 = updateList(fileElement("a.pak", "data", md5Hex("new a"), "files", "5"));
    const QList<Answer> list {Answer::ok(r1)};
    const QString finished = QStringLiteral("updateCheckFinished");
    const QString failed = QStringLiteral("updateCheckFailed");
    const QString current = QStringLiteral("updateFileFinished");

    QTest::newRow("first matching range wins")
        << ranges << list << 1.3f << false << finished << 1 << 1.5f << 2.0f << 1;
    QTest::newRow("installed equals MinVer")
        << ranges << list << 1.0f << false << finished << 1 << 1.5f << 2.0f << 1;
    QTest::newRow("installed equals MaxVer")
        << ranges << list << 1.5f << false << finished << 1 << 1.5f << 2.0f << 1;
    QTest::newRow("above every range")
        << ranges << list << 3.0f << false << finished << 0 << 0.0f << 2.0f << 0;
    QTest::newRow("below every range")
        << ranges << list << 0.5f << false << finished << 0 << 0.0f << 2.0f << 0;
    QTest::newRow("version manifest not XML") << QList<Answer> {Answer::ok("this is no manifest\n")} << list
                                              << 1.3f << false << finished << 0 << 0.0f << 0.0f << 0;
    QTest::newRow("version manifest redirected")
        << QList<Answer> {Answer::redirect("/elsewhere/VersionList.xml")} << list << 1.3f << false << finished
        << 1 << 1.5f << 2.0f << 1;
    QTest::newRow("version manifest missing") << QList<Answer> {Answer::withStatus(404)} << list << 1.3f
                                              << false << failed << 0 << 0.0f << 0.0f << 0;
    QTest::newRow("all files current") << ranges << list << 1.3f << true << current << 0 << 1.5f << 2.0f << 1;
    QTest::newRow("no File elements") << ranges << QList<Answer> {Answer::ok(updateList(QByteArray()))}
                                      << 1.3f << false << current << 0 << 1.5f << 2.0f << 1;
    QTest::newRow("file manifest fails three times") << ranges << QList<Answer> {Answer::withStatus(500)}
                                                     << 1.3f << false << failed << 0 << 1.5f << 2.0f << 3;
    QTest::newRow("file manifest fails twice, then served")
        << ranges << QList<Answer> {Answer::withStatus(500), Answer::withStatus(503), Answer::ok(r1)} << 1.3f
        << false << finished << 1 << 1.5f << 2.0f << 3;
    QTest::newRow("file manifest truncated")
        << ranges << QList<Answer> {Answer::ok(r1.left(r1.indexOf("</UpdateList>")))} << 1.3f << false
        << failed << 0 << 1.5f << 2.0f << 1;
    QTest::newRow("file manifest cut inside an element")
        << ranges << QList<Answer> {Answer::ok(r1.left(r1.indexOf("Size")))} << 1.3f << false << failed << 0
        << 1.5f << 2.0f << 1;
    QTest::newRow("file manifest not XML") << ranges << QList<Answer> {Answer::ok("<html>moved</body>")}
                                           << 1.3f << false << failed << 0 << 1.5f << 2.0f << 1;
}

void TestPatcher::checkOutcome()
{
    QFETCH(QList<Answer>, versionAnswers);
    QFETCH(QList<Answer>, r1Answers);
    QFETCH(float, installedVersion);
    QFETCH(bool, alreadyCurrent);
    QFETCH(QString, outcome);
    QFETCH(int, files);
    QFETCH(float, target);
    QFETCH(float, latest);
    QFETCH(int, r1Requests);

    server.script(QStringLiteral("/VersionList.xml"), versionAnswers);
    server.serve(QStringLiteral("/elsewhere/VersionList.xml"), versionList(TwoRanges));
    server.script(QStringLiteral("/r1/UpdateList.xml"), r1Answers);
    server.serve(QStringLiteral("/r2/UpdateList.xml"), updateList(fileElement("z", "", "x", "", "1")));
    if (alreadyCurrent)
        QVERIFY(writeFile(installed(QStringLiteral("data/a.pak")), "new a"));

    const auto patcher = makePatcher(installedVersion);
    PatcherSignals spies(patcher.get());
    patcher->UpdateCheck();
    QVERIFY(spies.waitForOutcome());

    QCOMPARE(spies.events, QStringList {outcome});
    QCOMPARE(server.requestCount(QStringLiteral("/r1/UpdateList.xml")), r1Requests);
    QCOMPARE(server.requestCount(QStringLiteral("/r2/UpdateList.xml")), 0);
    QCOMPARE(patcher->fileCount(), files);
    QCOMPARE(patcher->hasUpdateFiles(), files > 0);
    if (outcome != QLatin1String("updateCheckFailed")) {
        QCOMPARE(patcher->targetVersion(), target);
        QCOMPARE(patcher->latestVersion(), latest);
    }
    QVERIFY(!QFile::exists(downloaded(QStringLiteral("VersionList.xml"))));
    if (files > 0)
        QVERIFY(QFile::exists(downloaded(QStringLiteral("UpdateList.xml"))));
}

void TestPatcher::listedFiles_data()
{
    QTest::addColumn<QByteArray>("elements");
    QTest::addColumn<int>("files");
    QTest::addColumn<qlonglong>("totalSize");

    const QString digest = QString::fromLatin1(md5Hex("installed"));
    const QString other = QString::fromLatin1(md5Hex("other"));
    const QString huge = QString::number(std::numeric_limits<qint64>::max() / 3 * 2);

    QTest::newRow("File without Size skipped")
        << fileElement("a", "", other, "d", QString()) + fileElement("b", "", other, "d", "7") << 1 << 7LL;
    QTest::newRow("File without each other attribute skipped") << fileElement(QString(), "", other, "d", "1")
            + fileElement("a", QString(), other, "d", "2") + fileElement("a", "", QString(), "d", "4")
            + fileElement("a", "", other, QString(), "8") << 0 << 0LL;
    QTest::newRow("non-numeric Size counts 0") << fileElement("a", "", other, "d", "12kB") << 1 << 0LL;
    QTest::newRow("negative Size counts 0")
        << fileElement("a", "", other, "d", "-500") + fileElement("b", "", other, "d", "20") << 2 << 20LL;
    QTest::newRow("totals stop at the largest size")
        << fileElement("a", "", other, "d", huge) + fileElement("b", "", other, "d", huge) << 2
        << std::numeric_limits<qlonglong>::max();
    QTest::newRow("current file skipped")
        << fileElement("current.pak", "data", digest, "d", "9") + fileElement("b", "", other, "d", "3") << 1
        << 3LL;
    QTest::newRow("uppercase MD5 always listed")
        << fileElement("current.pak", "data", digest.toUpper(), "d", "9") << 1 << 9LL;
    QTest::newRow("differing copy listed") << fileElement("current.pak", "data", other, "d", "9") << 1 << 9LL;
    QTest::newRow("lower-case element names ignored")
        << QByteArray("<file Name=\"a\" RelativeDir=\"\" MD5=\"x\" Dir=\"d\" Size=\"1\"/>") << 0 << 0LL;
}

void TestPatcher::listedFiles()
{
    QFETCH(QByteArray, elements);
    QFETCH(int, files);
    QFETCH(qlonglong, totalSize);

    QVERIFY(writeFile(installed(QStringLiteral("data/current.pak")), "installed"));
    server.serve(QStringLiteral("/VersionList.xml"), versionList(TwoRanges));
    server.serve(QStringLiteral("/r1/UpdateList.xml"), updateList(elements));

    const auto patcher = makePatcher();
    PatcherSignals spies(patcher.get());
    patcher->UpdateCheck();
    QVERIFY(spies.waitForOutcome());
    QCOMPARE(spies.events, QStringList {files > 0 ? "updateCheckFinished" : "updateFileFinished"});
    QCOMPARE(patcher->fileCount(), files);
    QCOMPARE(patcher->totalDownloadSize(), totalSize);
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

    publish({threeFiles.at(0)});
    const auto patcher = makePatcher();
    QVERIFY(checkFindsFiles(patcher.get()));
    server.serve(QStringLiteral("/r1/files/a.pak"), Answer::withStatus(404));
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

void TestPatcher::stalledManifestEndsByTimeout()
{
    server.serve(QStringLiteral("/VersionList.xml"), versionList(TwoRanges));
    server.script(QStringLiteral("/r1/UpdateList.xml"), {Answer::stallBeforeHeaders()});
    const auto patcher = makePatcher();
    patcher->setTransferTimeout(200);
    PatcherSignals spies(patcher.get());
    patcher->UpdateCheck();
    QVERIFY(spies.waitForOutcome(10000));
    QCOMPARE(spies.events, QStringList {"updateCheckFailed"});
    QCOMPARE(server.requestCount(QStringLiteral("/r1/UpdateList.xml")), 3);
}

void TestPatcher::unsafeManifestRefused_data()
{
    QTest::addColumn<QByteArray>("versions");
    QTest::addColumn<QByteArray>("fileElement");
    QTest::addColumn<QString>("named"); // what the debug line must name

    const QByteArray ranges = versionList(TwoRanges);
    const QString md5 = QString::fromLatin1(md5Hex("evil"));
    const auto file = [&](const QString &name, const QString &relativeDir, const QString &dir) {
        return fileElement(name, relativeDir, md5, dir, "4");
    };
    const struct
    {
        const char *tag;
        QByteArray element;
        QString named;
    } files[] = {
        {"Name with ..", file("../../outside/evil.txt", "", "files"), "Name=\"../../outside/evil.txt\""},
        {"Name with backslash ..", file("..\\..\\outside\\evil.txt", "", "files"), "Name=\"..\\..\\outside"},
        {"Name with inner ..", file("data/../../../outside/evil.txt", "", "files"), "Name=\"data/../"},
        {"absolute Name", file("@ROOT@/outside/evil.txt", "", "files"), "Name=\"/"},
        {"Name with backslash root", file("\\outside\\evil.txt", "", "files"), "Name=\"\\outside"},
        {"Name with drive letter", file("C:evil.txt", "", "files"), "Name=\"C:evil.txt\""},
        {"Name with stream colon", file("evil.txt:stream", "", "files"), "Name=\"evil.txt:stream\""},
        {"empty Name", file("", "", "files"), "Name=\"\""},
        {"Name .", file(".", "", "files"), "Name=\".\""},
        {"Name ..", file("..", "", "files"), "Name=\"..\""},
        {"Name of a folder", file("data/", "", "files"), "Name=\"data/\""},
        {"RelativeDir with ..", file("evil.txt", "../../outside", "files"), "RelativeDir=\"../../outside\""},
        {"RelativeDir with backslash ..", file("evil.txt", "..\\..\\outside", "files"), "RelativeDir=\"..\\"},
        {"absolute RelativeDir", file("evil.txt", "@ROOT@/outside", "files"), "RelativeDir=\"/"},
        {"RelativeDir with drive", file("evil.txt", "C:\\outside", "files"), "RelativeDir=\"C:\\outside\""},
        {"RelativeDir with inner ..", file("evil.txt", "data/../../..", "files"), "RelativeDir=\"data/"},
        {"File Dir with ..", file("evil.txt", "", "../files"), "Dir=\"../files\""},
        {"File Dir with encoded ..", file("evil.txt", "", "%2e%2e/files"), "Dir=\"%2e%2e/files\""},
    };
    for (const auto &row : files) {
        // The unsafe entry after a harmless one: reading must refuse the list as a whole.
        QTest::newRow(row.tag) << ranges << (fileElement("ok.txt", "", md5, "files", "4") + row.element)
                               << row.named;
    }
    QTest::newRow("Version Dir with ..")
        << versionList({{"1.0", "1.5", "../r1"}}) << fileElement("ok.txt", "", md5, "files", "4")
        << QStringLiteral("Dir=\"../r1\"");
    QTest::newRow("Version Dir with .. after the match")
        << versionList({{"1.0", "1.5", "r1"}, {"1.2", "2.0", "r2/../../r1"}})
        << fileElement("ok.txt", "", md5, "files", "4") << QStringLiteral("Dir=\"r2/../../r1\"");
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

    g_debugLines.clear();
    const QtMessageHandler previous = qInstallMessageHandler(captureDebug);
    const auto patcher = makePatcher();
    PatcherSignals spies(patcher.get());
    patcher->UpdateCheck();
    const bool ended = spies.waitForOutcome();
    qInstallMessageHandler(previous);
    QVERIFY(ended);

    QCOMPARE(spies.events, QStringList {"updateCheckFailed"});
    QVERIFY(!patcher->hasUpdateFiles());
    const QStringList naming = g_debugLines.filter(QStringLiteral("Unsafe entry"));
    QCOMPARE(naming.size(), 1);
    QVERIFY2(naming.first().contains(named), qPrintable(naming.first()));

    // At most the file manifest itself may have appeared, in the download folder.
    auto after = snapshot(dir->path());
    after.remove(QStringLiteral("game/Update/Game/UpdateList.xml"));
    after.remove(QStringLiteral("game/Update/Game"));
    after.remove(QStringLiteral("game/Update"));
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
    QTest::newRow("unsafe list") << updateList(
        threeFiles.at(0).element() + fileElement("../x", "", "0", "files", "1"))
                                 << false << 0;
}

void TestPatcher::selfUpdateReading()
{
    QFETCH(QByteArray, list);
    QFETCH(bool, read);
    QFETCH(int, files);

    if (!list.isEmpty())
        QVERIFY(writeFile(downloaded(QStringLiteral("UpdateList.xml")), list));
    Patcher patcher(QString(), downloadDir(), installDir(), 1.0f);
    QCOMPARE(patcher.readUpdateList(), read);
    QCOMPARE(patcher.fileCount(), files);
}

// ---- Download and copy runs -------------------------------------------------------------------

void TestPatcher::downloadAndInstallOrderAndTotals()
{
    publish(threeFiles);
    QVERIFY(writeFile(installed(QStringLiteral("data/a.pak")), "old a"));
    const auto patcher = makePatcher();
    QVERIFY(checkFindsFiles(patcher.get()));
    QCOMPARE(patcher->fileCount(), 3);
    QCOMPARE(patcher->totalDownloadSize(), 600LL);

    PatcherSignals run(patcher.get());
    // Which files are installed when each one completes shows the processing order.
    QStringList installedAtEachFile;
    connect(patcher.get(), &Patcher::downloadOneFileFinished, &run.context, [&] {
        QStringList present;
        for (const GameFile &file : threeFiles) {
            if (readFile(installed(file.localPath())) == file.content)
                present.append(file.name);
        }
        installedAtEachFile.append(present.join(QLatin1Char(',')));
    });
    patcher->startDownload(true);
    QVERIFY(run.waitForOutcome());

    QStringList expected {"total 300/1", "oneFinished", "total 500/2", "oneFinished", "total 600/3",
        "oneFinished", "listFinished"};
    QStringList completions;
    const QStringList milestones = run.milestones();
    for (int i = 0; i < milestones.size(); ++i) {
        if (milestones.at(i) == QLatin1String("oneFinished")
            || milestones.at(i) == QLatin1String("listFinished")
            || (i + 1 < milestones.size() && milestones.at(i + 1) == QLatin1String("oneFinished")))
            completions.append(milestones.at(i));
    }
    QCOMPARE(completions, expected);
    QCOMPARE(installedAtEachFile, (QStringList {"c.pak", "b.pak,c.pak", "a.pak,b.pak,c.pak"}));
    QCOMPARE(run.downloadFailed.count(), 0);
    // Every relayed step belongs to the file in transfer and counts the files completed before it.
    for (const QList<QVariant> &step : run.fileState)
        QVERIFY(QList<qlonglong>({100, 200, 300}).contains(step.at(1).toLongLong()));
    const QList<qlonglong> totals = run.totals();
    QVERIFY(std::is_sorted(totals.cbegin(), totals.cend()));

    for (const GameFile &file : threeFiles) {
        QCOMPARE(readFile(installed(file.localPath())), file.content);
        QVERIFY(!QFile::exists(downloaded(file.localPath())));
    }
    QVERIFY(QFile::exists(downloaded(QStringLiteral("UpdateList.xml"))));
    QCOMPARE(patcher->fileCount(), 3);
    QCOMPARE(patcher->totalDownloadSize(), 600LL);
}

void TestPatcher::progressStepWithinSecondFile()
{
    publish(threeFiles);
    // The second file processed (b, 200 bytes) arrives in steps of 50, far enough apart that
    // the server's TCP stack does not merge them.
    server.serve(QStringLiteral("/r1/files/b.pak"), Answer::trickle(threeFiles.at(1).content, 50, 120));
    const auto patcher = makePatcher();
    QVERIFY(checkFindsFiles(patcher.get()));
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
    publish(threeFiles);
    QVERIFY(writeFile(installed(QStringLiteral("data/a.pak")), "old a"));
    const auto downloader = makePatcher();
    QVERIFY(checkFindsFiles(downloader.get()));
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
    Patcher copier(QString(), downloadDir(), installDir(), 1.0f);
    QVERIFY(copier.readUpdateList());
    QCOMPARE(copier.fileCount(), 3);
    PatcherSignals copy(&copier);
    QStringList installedAtEachStep;
    connect(&copier, &Patcher::updateCopyFileState, &copy.context, [&] {
        QStringList present;
        for (const GameFile &file : threeFiles) {
            if (readFile(installed(file.localPath())) == file.content)
                present.append(file.name);
        }
        installedAtEachStep.append(present.join(QLatin1Char(',')));
    });
    QElapsedTimer clock;
    clock.start();
    copier.startCopy();
    QCOMPARE(copy.events, QStringList());
    QVERIFY(copy.waitForOutcome());
    QVERIFY(clock.elapsed() >= 3 * 100);

    QCOMPARE(copy.events, (QStringList {"copyState 1/3", "copyState 2/3", "copyFileFinished"}));
    QCOMPARE(installedAtEachStep, (QStringList {"c.pak", "b.pak,c.pak"}));
    for (const GameFile &file : threeFiles) {
        QCOMPARE(readFile(installed(file.localPath())), file.content);
        QVERIFY(!QFile::exists(downloaded(file.localPath())));
    }
    QVERIFY(QFile::exists(downloaded(QStringLiteral("UpdateList.xml"))));
}

void TestPatcher::copyRunOverEmptyList()
{
    Patcher copier(QString(), downloadDir(), installDir(), 1.0f);
    QVERIFY(copier.readUpdateList());
    PatcherSignals copy(&copier);
    QElapsedTimer clock;
    clock.start();
    copier.startCopy();
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

    publish(threeFiles);
    server.serve(QStringLiteral("/r1/files/b.pak"), failure);
    const auto patcher = makePatcher();
    QVERIFY(checkFindsFiles(patcher.get()));
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
    QTest::addColumn<bool>("blockerIsFile");
    QTest::newRow("non-empty folder at the target") << QStringLiteral("data/sub/b.pak/inside.txt") << false;
    QTest::newRow("target's folder is a file") << QStringLiteral("data/sub") << true;
}

void TestPatcher::failedInstallKeepsInstalledFiles()
{
    QFETCH(QString, blocker);
    QFETCH(bool, blockerIsFile);

    publish(threeFiles);
    QVERIFY(writeFile(installed(QStringLiteral("data/a.pak")), "old a"));
    QVERIFY(writeFile(installed(blocker), blockerIsFile ? "a file, not a folder" : "keep me"));
    const auto patcher = makePatcher();
    QVERIFY(checkFindsFiles(patcher.get()));
    const auto installedBefore = snapshot(installDir());

    PatcherSignals run(patcher.get());
    patcher->startDownload(true);
    QVERIFY(run.waitForOutcome());

    const QStringList milestones = run.milestones();
    QCOMPARE(milestones.filter(QRegularExpression(QStringLiteral("^(?!total)"))),
        (QStringList {"oneFinished", "downloadFileFailed"}));
    QCOMPARE(milestones.value(milestones.indexOf(QStringLiteral("oneFinished")) - 1),
        QStringLiteral("total 300/1"));
    QCOMPARE(milestones.last(), QStringLiteral("downloadFileFailed"));
    // Only c was installed; b failed, a was never touched.
    auto installedAfter = snapshot(installDir());
    QCOMPARE(installedAfter.take(QStringLiteral("c.pak")), threeFiles.at(2).content);
    for (auto it = installedAfter.begin(); it != installedAfter.end();) {
        if (it.key().startsWith(QLatin1String("Update")))
            it = installedAfter.erase(it);
        else
            ++it;
    }
    for (auto it = installedBefore.cbegin(); it != installedBefore.cend(); ++it) {
        if (!it.key().startsWith(QLatin1String("Update")))
            QCOMPARE(installedAfter.value(it.key()), it.value());
    }
    QCOMPARE(readFile(installed(QStringLiteral("data/a.pak"))), QByteArray("old a"));
    // The downloaded copy of the failed file stays for a later attempt.
    QCOMPARE(readFile(downloaded(QStringLiteral("data/sub/b.pak"))), threeFiles.at(1).content);
    QCOMPARE(server.requestCount(QStringLiteral("/r1/files/a.pak")), 0);
}

void TestPatcher::copyFailureStopsRun()
{
    // Downloaded b is missing: the copy run stops at it and never reaches a.
    for (const GameFile &file : threeFiles) {
        if (file.name != QLatin1String("b.pak"))
            QVERIFY(writeFile(downloaded(file.localPath()), file.content));
    }
    QVERIFY(writeFile(downloaded(QStringLiteral("UpdateList.xml")), updateList(threeFiles)));
    QVERIFY(writeFile(installed(QStringLiteral("data/a.pak")), "old a"));

    Patcher copier(QString(), downloadDir(), installDir(), 1.0f);
    QVERIFY(copier.readUpdateList());
    PatcherSignals copy(&copier);
    copier.startCopy();
    QVERIFY(copy.waitForOutcome());
    QTest::qWait(300);
    QCOMPARE(copy.events, (QStringList {"copyState 1/3", "copyFileFailed"}));
    QCOMPARE(readFile(installed(QStringLiteral("c.pak"))), threeFiles.at(2).content);
    QCOMPARE(readFile(installed(QStringLiteral("data/a.pak"))), QByteArray("old a"));
    QCOMPARE(readFile(downloaded(QStringLiteral("data/a.pak"))), threeFiles.at(0).content);
}

void TestPatcher::retriedRunStaysWithinTotal()
{
    publish(threeFiles);
    server.serve(QStringLiteral("/r1/files/a.pak"), Answer::withStatus(404));
    const auto patcher = makePatcher();
    QVERIFY(checkFindsFiles(patcher.get()));
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
    QVERIFY(!second.totals().isEmpty());
    for (const qlonglong total : second.totals())
        QVERIFY2(total <= patcher->totalDownloadSize(), qPrintable(QString::number(total)));
    QCOMPARE(second.totals().last(), 600LL);
    QCOMPARE(second.totalState.last().at(1).toInt(), 3);
    for (const GameFile &file : threeFiles)
        QCOMPARE(readFile(installed(file.localPath())), file.content);
}

QTEST_GUILESS_MAIN(TestPatcher)
#include "tst_patcher.moc"
