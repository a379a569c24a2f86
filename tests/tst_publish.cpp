#include "TestFiles.h"
#include "UpdateManifest.h"

#include <QtTest>

namespace {

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

Run publish(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(PUBLISH_PATH), arguments);
    Run run;
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QString md5Text(const QByteArray &content)
{
    return QString::fromLatin1(md5Hex(content));
}

struct VersionRange
{
    QString minVer;
    QString maxVer;
    QString dir;
    QString extra; // any other attribute, as "name=value"
};

QList<VersionRange> ranges(const QByteArray &xml)
{
    QList<VersionRange> result;
    QXmlStreamReader reader(xml);
    while (!reader.atEnd()) {
        reader.readNext();
        if (!reader.isStartElement() || reader.name() != QLatin1String("Version"))
            continue;
        VersionRange range;
        for (const QXmlStreamAttribute &attribute : reader.attributes()) {
            const QString name = attribute.name().toString();
            const QString value = attribute.value().toString();
            if (name == QLatin1String("MinVer"))
                range.minVer = value;
            else if (name == QLatin1String("MaxVer"))
                range.maxVer = value;
            else if (name == QLatin1String("Dir"))
                range.dir = value;
            else
                range.extra += name + QLatin1Char('=') + value;
        }
        result.append(range);
    }
    return result;
}

QString describe(const QList<VersionRange> &list)
{
    QStringList parts;
    for (const VersionRange &range : list)
        parts << QStringLiteral("[%1 %2 %3%4]")
                     .arg(range.minVer, range.maxVer, range.dir,
                         range.extra.isEmpty() ? QString() : QLatin1Char(' ') + range.extra);
    return parts.join(QLatin1Char(' '));
}

} // namespace

class TestPublish : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void publishesEveryFileAtItsAddress();
    void versions_data();
    void versions();
    void refusesUnsafeNames_data();
    void refusesUnsafeNames();
    void keepsOtherRanges();
    void refusesSite_data();
    void refusesSite();
    void commandLine();

private:
    QString release() const { return work->filePath(QStringLiteral("release")); }
    QString site() const { return work->filePath(QStringLiteral("site")); }
    void writeRelease(const QMap<QString, QByteArray> &files);

    std::unique_ptr<QTemporaryDir> work;
};

void TestPublish::init()
{
    work = std::make_unique<QTemporaryDir>();
    QVERIFY(work->isValid());
}

void TestPublish::writeRelease(const QMap<QString, QByteArray> &files)
{
    for (auto it = files.cbegin(); it != files.cend(); ++it)
        QVERIFY(writeFile(release() + QLatin1Char('/') + it.key(), it.value()));
}

void TestPublish::publishesEveryFileAtItsAddress()
{
    // Listed in the order the manifest must have: by folder, then by name.
    const QList<QPair<QString, QByteArray>> files = {
        {"ZARK.exe", QByteArray(70000, 'z')},
        {"empty.cfg", QByteArray()},
        {".hidden", "dot file"},
        {"Data/Maps/map01.bin", "map one"},
        {"Data/Maps/Extra/map02.bin", "map two"},
        {"Data/Sound Bank/music 01.ogg", "music"},
        {"Data/core.pak", "core"},
        {QStringLiteral("Data/地圖/地形.dat"), "terrain"},
        {"Bin/render.dll", "renderer"},
    };
    QMap<QString, QByteArray> tree;
    for (const auto &file : files)
        tree.insert(file.first, file.second);
    writeRelease(tree);

    const Run run = publish({release(), "1.1", "--site", site(), "--oldest", "1.0"});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QVERIFY(run.out.contains(QStringLiteral("%1 files").arg(files.size())));

    const QString range = site() + QStringLiteral("/v1.1");
    const QByteArray list = readFile(range + QStringLiteral("/UpdateList.xml"));
    const UpdateManifest::FileList read = UpdateManifest::readFileList(list);
    QVERIFY(read.usable());
    QStringList expectedOrder;
    for (const auto &file : files)
        expectedOrder << file.first;
    const auto byFolderThenName = [](const QString &a, const QString &b) {
        const QString folderA = a.contains('/') ? a.section('/', 0, -2) : QString();
        const QString folderB = b.contains('/') ? b.section('/', 0, -2) : QString();
        return folderA != folderB ? folderA < folderB : a.section('/', -1) < b.section('/', -1);
    };
    std::sort(expectedOrder.begin(), expectedOrder.end(), byFolderThenName);
    QStringList order;
    for (const UpdateManifest::FileEntry &entry : read.entries) {
        const QString path = entry.relativeDir.isEmpty() ? entry.name : entry.relativeDir + '/' + entry.name;
        order << path;
        const QByteArray content = tree.value(path);
        QCOMPARE(entry.md5, md5Text(content));
        QCOMPARE(entry.size, qint64(content.size()));
        // Where the launcher fetches it: range folder, Dir, Name.
        QCOMPARE(readFile(range + '/' + entry.dir + '/' + entry.name), content);
    }
    QCOMPARE(order, expectedOrder);

    const UpdateManifest::VersionSelection selection
        = UpdateManifest::selectVersion(readFile(site() + QStringLiteral("/VersionList.xml")), 1.0f);
    QVERIFY(selection.found);
    QCOMPARE(selection.dir, QStringLiteral("v1.1"));
    QCOMPARE(selection.targetVersion, 1.1f);

    // The same release gives the same list, wherever it is published.
    QVERIFY(publish({release(), "1.1", "--site", site(), "--oldest", "1.0", "--dir", "again"}).exitCode == 0);
    QCOMPARE(readFile(site() + QStringLiteral("/again/UpdateList.xml")), list);
}

void TestPublish::versions_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("oldest");
    QTest::addColumn<QString>("maxVer"); // as written; empty when refused
    QTest::addColumn<QString>("refusal");

    QTest::newRow("1.1") << "1.1"
                         << "1.0"
                         << "1.1"
                         << "";
    QTest::newRow("trailing zero") << "1.10"
                                   << "1"
                                   << "1.1"
                                   << "";
    QTest::newRow("2.125") << "2.125"
                           << "0"
                           << "2.125"
                           << "";
    QTest::newRow("six digits") << "12.3457"
                                << "12.3456"
                                << "12.3457"
                                << "";
    QTest::newRow("100000") << "100000"
                            << "99999"
                            << "100000"
                            << "";
    QTest::newRow("one range for one version") << "1.05"
                                               << "1.05"
                                               << "1.05"
                                               << "";
    QTest::newRow("seven digits") << "1.000001"
                                  << "1"
                                  << ""
                                  << "six significant digits";
    QTest::newRow("below float precision") << "1.00000001"
                                           << "1"
                                           << ""
                                           << "six significant digits";
    QTest::newRow("large") << "1234567"
                           << "1"
                           << ""
                           << "six significant digits";
    QTest::newRow("negative") << "-1"
                              << "0"
                              << ""
                              << "not a version";
    QTest::newRow("exponent") << "1e2"
                              << "0"
                              << ""
                              << "not a version";
    QTest::newRow("comma") << "1,5"
                           << "0"
                           << ""
                           << "not a version";
    QTest::newRow("oldest not a version") << "1.1"
                                          << "old"
                                          << ""
                                          << "oldest version";
    QTest::newRow("oldest above new") << "1.1"
                                      << "1.2"
                                      << ""
                                      << "above the new version";
}

void TestPublish::versions()
{
    QFETCH(QString, version);
    QFETCH(QString, oldest);
    QFETCH(QString, maxVer);
    QFETCH(QString, refusal);
    writeRelease({{"ZARK.exe", "game"}});

    // "--" lets a version such as -1 reach the tool's own check.
    const Run run = publish({"--site", site(), "--oldest", oldest, "--", release(), version});
    if (!refusal.isEmpty()) {
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(refusal), qPrintable(run.err));
        QVERIFY(snapshot(site()).isEmpty());
        return;
    }
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    const QByteArray xml = readFile(site() + QStringLiteral("/VersionList.xml"));
    const QList<VersionRange> written = ranges(xml);
    QCOMPARE(written.size(), 1);
    QCOMPARE(written.first().maxVer, maxVer);

    // What the launcher does with it: select the range for the oldest installation, record the
    // reached version in settings.ini with six significant digits, read it back, check again.
    const UpdateManifest::VersionSelection first = UpdateManifest::selectVersion(xml, oldest.toFloat());
    QVERIFY(first.found);
    QCOMPARE(first.targetVersion, version.toFloat());
    const float recorded = QString::number(double(first.targetVersion), 'g', 6).toFloat();
    QCOMPARE(recorded, first.targetVersion);
    const UpdateManifest::VersionSelection again = UpdateManifest::selectVersion(xml, recorded);
    QVERIFY(again.found);
    QCOMPARE(again.dir, first.dir);
    QCOMPARE(again.latestVersion, recorded);
}

void TestPublish::refusesUnsafeNames_data()
{
    QTest::addColumn<QStringList>("badFiles");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<bool>("launcherRule"); // the launcher's reader refuses it too

    QTest::newRow("colon in name") << QStringList {"Data/a:b.pak"} << "drive letter or colon" << true;
    QTest::newRow("colon in folder") << QStringList {"C:/x.pak"} << "RelativeDir" << true;
    QTest::newRow("dots as folder") << QStringList {".../x.pak"} << "parent segment" << true;
    QTest::newRow("dots as name") << QStringList {"Data/..."} << "parent segment" << true;
    QTest::newRow("dots and space") << QStringList {"Data/. ./x.pak"} << "parent segment" << true;
    QTest::newRow("percent-encoded dots") << QStringList {"Data/%2e%2e"} << "parent segment" << true;
    QTest::newRow("backslash") << QStringList {"Data/a\\b.pak"} << "not allowed in Windows" << false;
    QTest::newRow("question mark") << QStringList {"Data/what?.txt"} << "not allowed in Windows" << false;
    QTest::newRow("control character") << QStringList {"Data/tab\tname"} << "control character" << false;
    QTest::newRow("device name") << QStringList {"Data/con.txt"} << "reserved device name" << false;
    QTest::newRow("trailing dot") << QStringList {"Data/readme."} << "trailing dot" << false;
    QTest::newRow("fragment") << QStringList {"Data/notes#1.txt"} << "would not lead to the file" << false;
    QTest::newRow("percent escape") << QStringList {"Data/%41.txt"} << "would not lead to the file" << false;
    QTest::newRow("letter case") << QStringList {"Data/Map.pak", "data/map.pak"}
                                 << "differs only in letter case" << false;
}

void TestPublish::refusesUnsafeNames()
{
    QFETCH(QStringList, badFiles);
    QFETCH(QString, reason);
    QFETCH(bool, launcherRule);

    // A site with a published release, which a refusal must leave exactly as it is.
    writeRelease({{"ZARK.exe", "game 1.0"}, {"Data/core.pak", "core"}});
    QCOMPARE(publish({release(), "1.0", "--site", site(), "--oldest", "0.5"}).exitCode, 0);
    const QMap<QString, QByteArray> before = snapshot(site());
    for (const QString &bad : badFiles)
        QVERIFY(writeFile(release() + '/' + bad, "bad"));

    const Run run = publish({release(), "1.1", "--site", site(), "--oldest", "1.0"});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(reason), qPrintable(run.err));
    QVERIFY2(run.err.contains(badFiles.last()), qPrintable(run.err));
    QVERIFY(run.err.contains(QStringLiteral("nothing was published")));
    QVERIFY(!run.err.contains(QStringLiteral("core.pak")));
    QCOMPARE(snapshot(site()), before);

    // The tool's rules include the launcher's own: a list naming the file is refused by it.
    const QString bad = badFiles.last();
    const int slash = bad.lastIndexOf('/');
    const QString relativeDir = bad.left(slash);
    const QString xml
        = QStringLiteral("<UpdateList><File Name=\"%1\" RelativeDir=\"%2\" MD5=\"%3\" Dir=\"%4\" "
                         "Size=\"3\"/></UpdateList>")
              .arg(bad.mid(slash + 1).toHtmlEscaped(), relativeDir.toHtmlEscaped(), md5Text("bad"),
                  (QStringLiteral("files/") + relativeDir).toHtmlEscaped());
    QCOMPARE(bool(UpdateManifest::readFileList(xml.toUtf8()).unsafe), launcherRule);
}

void TestPublish::keepsOtherRanges()
{
    QVERIFY(writeFile(site() + QStringLiteral("/VersionList.xml"),
        "<?xml version=\"1.0\"?>\n<Versions>\n"
        "  <!-- written by hand -->\n"
        "  <Version MinVer=\"1.1\" MaxVer=\"1.2\" Dir=\"v1.2\" Note=\"hotfix\"/>\n"
        "  <Group><Version MinVer=\"1.0\" MaxVer=\"1.1\" Dir=\"v1.1\"/></Group>\n"
        "  <Version MinVer=\"1.2\" MaxVer=\"1.25\" Dir=\"v1.3\"/>\n"
        "  <Version MinVer=\"0.5\" MaxVer=\"1.0\" Dir=\"base\"/>\n"
        "</Versions>\n"));
    writeRelease({{"ZARK.exe", "game 1.3"}});

    const Run run = publish({release(), "1.3", "--site", site(), "--oldest", "1.2", "--dir", "v1.3"});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    const QByteArray xml = readFile(site() + QStringLiteral("/VersionList.xml"));
    // The new range first; the others in their order, attributes kept; the range that named
    // the rewritten folder is gone.
    QCOMPARE(describe(ranges(xml)),
        QStringLiteral("[1.2 1.3 v1.3] [1.1 1.2 v1.2 Note=hotfix] [1.0 1.1 v1.1] [0.5 1.0 base]"));
    QVERIFY(run.out.contains(QStringLiteral("replaced 1 range")));

    const QList<QPair<float, QString>> selections
        = {{0.7f, "base"}, {1.0f, "v1.1"}, {1.05f, "v1.1"}, {1.15f, "v1.2"}, {1.2f, "v1.3"}, {1.3f, "v1.3"}};
    for (const auto &expected : selections) {
        const UpdateManifest::VersionSelection selection = UpdateManifest::selectVersion(xml, expected.first);
        QVERIFY(selection.found);
        QCOMPARE(selection.dir, expected.second);
    }
}

void TestPublish::refusesSite_data()
{
    QTest::addColumn<QByteArray>("versionList"); // the site's list before; empty: none
    QTest::addColumn<QString>("existingFolder");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("reason");

    const QByteArray list = "<VersionList><Version MinVer=\"1\" MaxVer=\"2\" Dir=\"v2\"/></VersionList>";
    QTest::newRow("older than the list")
        << list << "" << QStringList {"1.5", "--oldest", "1"} << "must not be older";
    QTest::newRow("list not XML") << QByteArray("<VersionList><Version") << ""
                                  << QStringList {"3", "--oldest", "2"} << "not well-formed";
    QTest::newRow("list the launcher refuses")
        << QByteArray("<VersionList><Version MinVer=\"1\" MaxVer=\"2\" Dir=\"../up\"/></VersionList>") << ""
        << QStringList {"3", "--oldest", "2"} << "parent segment";
    QTest::newRow("range folder exists")
        << list << "v3" << QStringList {"3", "--oldest", "2"} << "exists already";
    QTest::newRow("range folder escapes")
        << list << "" << QStringList {"3", "--oldest", "2", "--dir", "../v3"} << "parent segment";
    QTest::newRow("range folder absolute")
        << list << "" << QStringList {"3", "--oldest", "2", "--dir", "/srv/v3"} << "relative folder";
    QTest::newRow("range folder with fragment")
        << list << "" << QStringList {"3", "--oldest", "2", "--dir", "v#3"} << "would not lead";
    QTest::newRow("site inside the release")
        << QByteArray() << "" << QStringList {"3", "--oldest", "2", "--site-in-release"}
        << "inside the release folder";
}

void TestPublish::refusesSite()
{
    QFETCH(QByteArray, versionList);
    QFETCH(QString, existingFolder);
    QFETCH(QStringList, options);
    QFETCH(QString, reason);

    writeRelease({{"ZARK.exe", "game"}});
    QString siteDir = site();
    if (options.removeAll(QStringLiteral("--site-in-release")))
        siteDir = release() + QStringLiteral("/site");
    QVERIFY(QDir().mkpath(siteDir));
    if (!versionList.isEmpty())
        QVERIFY(writeFile(siteDir + QStringLiteral("/VersionList.xml"), versionList));
    if (!existingFolder.isEmpty())
        QVERIFY(writeFile(siteDir + '/' + existingFolder + QStringLiteral("/old.txt"), "old"));
    const QMap<QString, QByteArray> before = snapshot(work->path());

    const Run run = publish(QStringList {release()} + options + QStringList {"--site", siteDir});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(reason), qPrintable(run.err));
    QCOMPARE(snapshot(work->path()), before);
}

void TestPublish::commandLine()
{
    const Run help = publish({"--help"});
    QCOMPARE(help.exitCode, 0);
    for (const char *option : {"--site", "--oldest", "--dir", "RELEASE", "VERSION"})
        QVERIFY2(help.out.contains(QLatin1String(option)), option);

    writeRelease({{"ZARK.exe", "game"}});
    const Run missing = publish({release(), "1.1", "--oldest", "1"});
    QCOMPARE(missing.exitCode, 2);
    QVERIFY(missing.err.contains(QStringLiteral("--site is required")));
    QCOMPARE(snapshot(work->path()).keys(), (QStringList {"release", "release/ZARK.exe"}));
}

QTEST_GUILESS_MAIN(TestPublish)
#include "tst_publish.moc"
