#include "Publishing.h"
#include "TestFiles.h"
#include "UpdateManifest.h"

#include <QtTest>

namespace {

QString md5Text(const QByteArray &content)
{
    return QString::fromLatin1(md5Hex(content));
}

// Each Version element as "MinVer MaxVer Dir" and its other attributes as name=value, in
// document order.
QStringList ranges(const QByteArray &xml)
{
    const QStringList known {"MinVer", "MaxVer", "Dir"};
    QStringList result;
    QXmlStreamReader reader(xml);
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement || reader.name() != QLatin1String("Version"))
            continue;
        QStringList parts;
        for (const QString &name : known)
            parts << reader.attributes().value(name).toString();
        for (const QXmlStreamAttribute &attribute : reader.attributes()) {
            if (!known.contains(attribute.name().toString()))
                parts << attribute.name() + QLatin1Char('=') + attribute.value();
        }
        result << parts.join(QLatin1Char(' '));
    }
    return result;
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

    std::unique_ptr<QTemporaryDir> work;
};

void TestPublish::init()
{
    work = std::make_unique<QTemporaryDir>();
    QVERIFY(writeFile(release() + QStringLiteral("/ZARK.exe"), "game"));
}

void TestPublish::publishesEveryFileAtItsAddress()
{
    const FileTree tree = {{"ZARK.exe", QByteArray(70000, 'z')}, {"empty.cfg", QByteArray()},
        {".hidden", "dot file"}, {"Data/Maps/map01.bin", "map one"}, {"Data/Maps/Extra/map02.bin", "map two"},
        {"Data/Sound Bank/music 01.ogg", "music"}, {"Data/core.pak", "core"},
        {QStringLiteral("Data/地圖/地形.dat"), "terrain"}, {"Bin/render.dll", "renderer"}};
    QVERIFY(writeTree(release(), tree));

    const ToolRun run = publish({release(), "1.1", "--site", site(), "--oldest", "1.0"});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QVERIFY(run.out.contains(QStringLiteral("%1 files").arg(tree.size())));

    const QString range = site() + QStringLiteral("/v1.1");
    const QByteArray list = readFile(range + QStringLiteral("/UpdateList.xml"));
    const UpdateManifest::FileList read = UpdateManifest::readFileList(list);
    QStringList order;
    for (const UpdateManifest::FileEntry &entry : read.entries) {
        const QString path = entry.relativeDir.isEmpty() ? entry.name : entry.relativeDir + '/' + entry.name;
        order << path;
        QCOMPARE(entry.md5, md5Text(tree.value(path)));
        QCOMPARE(entry.size, qint64(tree.value(path).size()));
        // Where the launcher fetches it: range folder, Dir, Name.
        QCOMPARE(readFile(range + '/' + entry.dir + '/' + entry.name), tree.value(path));
    }
    // By folder, then by name.
    QCOMPARE(order,
        QStringList({".hidden", "ZARK.exe", "empty.cfg", "Bin/render.dll", "Data/core.pak",
            "Data/Maps/map01.bin", "Data/Maps/Extra/map02.bin", "Data/Sound Bank/music 01.ogg",
            QStringLiteral("Data/地圖/地形.dat")}));

    const UpdateManifest::VersionSelection selection
        = UpdateManifest::selectVersion(readFile(site() + QStringLiteral("/VersionList.xml")), 1.0f);
    QCOMPARE(selection.dir, QStringLiteral("v1.1"));
    QCOMPARE(selection.targetVersion, 1.1f);

    // The same release gives the same list, wherever it is published.
    QCOMPARE(publish({release(), "1.1", "--site", site(), "--oldest", "1.0", "--dir", "again"}).exitCode, 0);
    QCOMPARE(readFile(site() + QStringLiteral("/again/UpdateList.xml")), list);
}

void TestPublish::versions_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("oldest");
    QTest::addColumn<QString>("maxVer"); // as written; empty when refused
    QTest::addColumn<QString>("refusal");
    const auto row = [](const char *name, const char *version, const char *oldest, const char *maxVer,
                         const char *refusal = "") {
        QTest::newRow(name) << QString(version) << QString(oldest) << QString(maxVer) << QString(refusal);
    };
    row("1.1", "1.1", "1.0", "1.1");
    row("trailing zero", "1.10", "1", "1.1");
    row("2.125", "2.125", "0", "2.125");
    row("six digits", "12.3457", "12.3456", "12.3457");
    row("100000", "100000", "99999", "100000");
    row("one range for one version", "1.05", "1.05", "1.05");
    row("seven digits", "1.000001", "1", "", "six significant digits");
    row("below float precision", "1.00000001", "1", "", "six significant digits");
    row("large", "1234567", "1", "", "six significant digits");
    row("negative", "-1", "0", "", "not a version");
    row("exponent", "1e2", "0", "", "not a version");
    row("comma", "1,5", "0", "", "not a version");
    row("oldest not a version", "1.1", "old", "", "oldest version");
    row("oldest above new", "1.1", "1.2", "", "above the new version");
}

void TestPublish::versions()
{
    QFETCH(QString, version);
    QFETCH(QString, oldest);
    QFETCH(QString, maxVer);
    QFETCH(QString, refusal);

    // "--" lets a version such as -1 reach the tool's own check.
    const ToolRun run = publish({"--site", site(), "--oldest", oldest, "--", release(), version});
    if (!refusal.isEmpty()) {
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(refusal), qPrintable(run.err));
        QVERIFY(snapshot(site()).isEmpty());
        return;
    }
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    const QByteArray xml = readFile(site() + QStringLiteral("/VersionList.xml"));
    const QStringList written = ranges(xml);
    QCOMPARE(written.size(), 1);
    QCOMPARE(written.first().section(QLatin1Char(' '), 1, 1), maxVer);

    // What the launcher does with it: select the range for the oldest installation, record the
    // reached version in settings.ini with six significant digits, read it back, check again.
    const UpdateManifest::VersionSelection first = UpdateManifest::selectVersion(xml, oldest.toFloat());
    QCOMPARE(first.targetVersion, version.toFloat());
    const float recorded = QString::number(double(first.targetVersion), 'g', 6).toFloat();
    QCOMPARE(recorded, first.targetVersion);
    const UpdateManifest::VersionSelection again = UpdateManifest::selectVersion(xml, recorded);
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
    QTest::newRow("question mark") << QStringList {"Data/what?.txt"} << "not allowed in Windows" << true;
    QTest::newRow("control character") << QStringList {"Data/tab\tname"} << "control character" << false;
    QTest::newRow("device name") << QStringList {"Data/con.txt"} << "reserved device name" << true;
    QTest::newRow("trailing dot") << QStringList {"Data/readme."} << "trailing dot" << true;
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
    QVERIFY(writeFile(release() + QStringLiteral("/Data/core.pak"), "core"));
    QCOMPARE(publish({release(), "1.0", "--site", site(), "--oldest", "0.5"}).exitCode, 0);
    const QMap<QString, QByteArray> before = snapshot(site());
    for (const QString &bad : badFiles)
        QVERIFY(writeFile(release() + '/' + bad, "bad"));

    const ToolRun run = publish({release(), "1.1", "--site", site(), "--oldest", "1.0"});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(reason), qPrintable(run.err));
    QVERIFY2(run.err.contains(badFiles.last()), qPrintable(run.err));
    QVERIFY(run.err.contains(QStringLiteral("nothing was published")));
    QVERIFY(!run.err.contains(QStringLiteral("core.pak")));
    QCOMPARE(snapshot(site()), before);

    // The tool's rules include the launcher's own: a list naming the file is refused by it.
    const QString bad = badFiles.last();
    const QString relativeDir = bad.section('/', 0, -2).toHtmlEscaped();
    const QString xml = QStringLiteral("<UpdateList><File Name=\"%1\" RelativeDir=\"%2\" MD5=\"%3\" "
                                       "Dir=\"files/%2\" Size=\"3\"/></UpdateList>")
                            .arg(bad.section('/', -1).toHtmlEscaped(), relativeDir, md5Text("bad"));
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

    const ToolRun run = publish({release(), "1.3", "--site", site(), "--oldest", "1.2", "--dir", "v1.3"});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QVERIFY(run.out.contains(QStringLiteral("replaced 1 range")));
    const QByteArray xml = readFile(site() + QStringLiteral("/VersionList.xml"));
    // The new range first; the others in their order, attributes kept; the range that named
    // the rewritten folder is gone.
    QCOMPARE(ranges(xml),
        QStringList({"1.2 1.3 v1.3", "1.1 1.2 v1.2 Note=hotfix", "1.0 1.1 v1.1", "0.5 1.0 base"}));

    const QList<QPair<float, QString>> selections
        = {{0.7f, "base"}, {1.0f, "v1.1"}, {1.05f, "v1.1"}, {1.15f, "v1.2"}, {1.2f, "v1.3"}, {1.3f, "v1.3"}};
    for (const auto &expected : selections)
        QCOMPARE(UpdateManifest::selectVersion(xml, expected.first).dir, expected.second);
}

void TestPublish::refusesSite_data()
{
    QTest::addColumn<QByteArray>("versionList"); // the site's list before; empty: none
    QTest::addColumn<QString>("existingFolder");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("reason");

    const auto row = [](const char *name, const QByteArray &list, const char *folder, const char *options,
                         const char *reason) {
        QTest::newRow(name) << list << QString(folder) << QString(options).split(' ') << QString(reason);
    };
    const QByteArray list = "<VersionList><Version MinVer=\"1\" MaxVer=\"2\" Dir=\"v2\"/></VersionList>";
    row("older than the list", list, "", "1.5 --oldest 1", "must not be older");
    row("list not XML", "<VersionList><Version", "", "3 --oldest 2", "not well-formed");
    row("range folder exists", list, "v3", "3 --oldest 2", "exists already");
    row("range folder escapes", list, "", "3 --oldest 2 --dir ../v3", "parent segment");
    row("range folder absolute", list, "", "3 --oldest 2 --dir /srv/v3", "relative folder");
    row("range folder with fragment", list, "", "3 --oldest 2 --dir v#3", "would not lead");
    row("site inside the release", "", "", "3 --oldest 2 --site-in-release", "inside the release folder");
}

void TestPublish::refusesSite()
{
    QFETCH(QByteArray, versionList);
    QFETCH(QString, existingFolder);
    QFETCH(QStringList, options);
    QFETCH(QString, reason);

    QString siteDir = site();
    if (options.removeAll(QStringLiteral("--site-in-release")))
        siteDir = release() + QStringLiteral("/site");
    QVERIFY(QDir().mkpath(siteDir));
    if (!versionList.isEmpty())
        QVERIFY(writeFile(siteDir + QStringLiteral("/VersionList.xml"), versionList));
    if (!existingFolder.isEmpty())
        QVERIFY(writeFile(siteDir + '/' + existingFolder + QStringLiteral("/old.txt"), "old"));
    const QMap<QString, QByteArray> before = snapshot(work->path());

    const ToolRun run = publish(QStringList {release()} + options + QStringList {"--site", siteDir});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(reason), qPrintable(run.err));
    QCOMPARE(snapshot(work->path()), before);
}

void TestPublish::commandLine()
{
    const ToolRun help = publish({"--help"});
    QCOMPARE(help.exitCode, 0);
    for (const char *option : {"--site", "--oldest", "--dir", "RELEASE", "VERSION"})
        QVERIFY2(help.out.contains(QLatin1String(option)), option);

    const ToolRun missing = publish({release(), "1.1", "--oldest", "1"});
    QCOMPARE(missing.exitCode, 2);
    QVERIFY(missing.err.contains(QStringLiteral("--site is required")));
    QCOMPARE(snapshot(work->path()).keys(), (QStringList {"release", "release/ZARK.exe"}));
}

QTEST_GUILESS_MAIN(TestPublish)
#include "tst_publish.moc"
