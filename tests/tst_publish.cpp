#include "Publishing.h"
#include "TestFiles.h"
#include "UpdateManifest.h"

#include <QtTest>

// Each Version element's attributes as written, without quotes, in document order.
static QStringList ranges(const QString &versionListPath)
{
    QStringList result;
    auto it
        = QRegularExpression("<Version ([^>]*)/>").globalMatch(QString::fromUtf8(readFile(versionListPath)));
    while (it.hasNext())
        result << it.next().captured(1).remove('"');
    return result;
}

class TestPublish : public QObject
{
    Q_OBJECT

    QString release() const { return work->filePath(QStringLiteral("release")); }
    QString site() const { return work->filePath(QStringLiteral("site")); }
    std::unique_ptr<QTemporaryDir> work;

private slots:
    void init()
    {
        work = std::make_unique<QTemporaryDir>();
        QVERIFY(writeFile(release() + QStringLiteral("/ZARK.exe"), "game"));
    }

    // Sorted by folder, then by name, and the same list wherever the release is published; the
    // new range goes first, the others stay with their attributes, and the one that named the
    // rewritten folder goes. "1.30" is written as the launcher records it.
    void publishes()
    {
        QVERIFY(writeTree(release(),
            {{".hidden", "dot file"}, {"empty.cfg", ""}, {"Data/Maps/map01.bin", "map one"},
                {"Data/Maps/Extra/map02.bin", "map two"}, {"Data/core.pak", "core"},
                {"Bin/render.dll", "renderer"}}));
        QVERIFY(writeFile(site() + "/VersionList.xml",
            "<?xml version=\"1.0\"?>\n<Versions><!-- written by hand -->\n"
            "<Version MinVer=\"1.1\" MaxVer=\"1.2\" Dir=\"v1.2\" Note=\"hotfix\"/>\n"
            "<Group><Version MinVer=\"1.0\" MaxVer=\"1.1\" Dir=\"v1.1\"/></Group>\n"
            "<Version MinVer=\"1.2\" MaxVer=\"1.25\" Dir=\"v1.3\"/></Versions>\n"));
        const ToolRun run = publish({release(), "1.30", "--site", site(), "--oldest", "1.2"});
        QVERIFY2(run.exitCode == 0 && run.out.contains("7 files") && run.out.contains("replaced 1 range"),
            qPrintable(run.err + run.out));
        QCOMPARE(ranges(site() + "/VersionList.xml"),
            QStringList({"MinVer=1.2 MaxVer=1.3 Dir=v1.3", "MinVer=1.1 MaxVer=1.2 Dir=v1.2 Note=hotfix",
                "MinVer=1.0 MaxVer=1.1 Dir=v1.1"}));
        const QByteArray list = readFile(site() + "/v1.3/UpdateList.xml");
        QStringList order;
        for (const UpdateManifest::FileEntry &entry : UpdateManifest::readFileList(list).entries)
            order << entry.relativeDir + '/' + entry.name;
        QCOMPARE(order,
            QStringList({"/.hidden", "/ZARK.exe", "/empty.cfg", "Bin/render.dll", "Data/core.pak",
                "Data/Maps/map01.bin", "Data/Maps/Extra/map02.bin"}));
        QCOMPARE(
            publish({release(), "1.3", "--site", site(), "--oldest", "1.2", "--dir", "again"}).exitCode, 0);
        QCOMPARE(readFile(site() + "/again/UpdateList.xml"), list);
    }

    void refusals_data()
    {
        QTest::addColumn<QStringList>("files"); // added to the release
        QTest::addColumn<QByteArray>("versionList"); // the site's list before
        QTest::addColumn<QStringList>("arguments"); // the version first, then options
        QTest::addColumn<QString>("reason");
        QTest::addColumn<int>("launcherRule"); // whether the launcher's reader refuses the last file too

        const QByteArray list = "<VersionList><Version MinVer=\"1\" MaxVer=\"2\" Dir=\"v2\"/></VersionList>";
        const auto row = [&](const char *tag, const char *arguments, const char *reason,
                             const QStringList &files = {}, int launcherRule = -1) {
            QTest::newRow(tag) << files << list << QString(arguments).split(' ') << QString(reason)
                               << launcherRule;
        };
        const char *usual = "3 --oldest 2";
        row("colon in name", usual, "drive letter or colon", {"Data/a:b.pak"}, 1);
        row("device name", usual, "reserved device name", {"Data/con.txt"}, 1);
        row("backslash", usual, "not allowed in Windows", {"Data/a\\b.pak"}, 0);
        row("control character", usual, "control character", {"Data/tab\tname"}, 1);
        row("fragment", usual, "would not lead to the file", {"Data/notes#1.txt"}, 0);
        row("letter case", usual, "differs only in letter case", {"Data/Map.pak", "data/map.pak"}, 0);
        row("not a version", "-1 --oldest 0", "not a version");
        row("seven digits", "2.000001 --oldest 2", "six significant digits");
        row("oldest above new", "3 --oldest 4", "above the new version");
        row("older than the list", "1.5 --oldest 1", "must not be older");
        row("range folder exists", "3 --oldest 2 --dir v2", "exists already");
        row("range folder escapes", "3 --oldest 2 --dir ../v3", "parent segment");
        row("range folder absolute", "3 --oldest 2 --dir /srv/v3", "relative folder");
        row("site inside the release", "3 --oldest 2 --site-in-release", "inside the release folder");
        row("no secret key", "3 --oldest 2 --sign /nonexistent.key", "cannot read the secret key");
        QTest::newRow("list not XML") << QStringList() << QByteArray("<VersionList><Version")
                                      << QString(usual).split(' ') << "not well-formed" << -1;
    }

    // Nothing is written on a refusal.
    void refusals()
    {
        QFETCH(QStringList, files);
        QFETCH(QByteArray, versionList);
        QFETCH(QStringList, arguments);
        QFETCH(QString, reason);
        QFETCH(int, launcherRule);

        const QString siteDir = arguments.removeAll("--site-in-release") ? release() + "/site" : site();
        QVERIFY(writeFile(siteDir + QStringLiteral("/VersionList.xml"), versionList));
        QVERIFY(writeFile(siteDir + QStringLiteral("/v2/old.txt"), "old"));
        for (const QString &file : files)
            QVERIFY(writeFile(release() + '/' + file, "bad"));
        const QMap<QString, QByteArray> before = snapshot(work->path());

        // "--" lets a version such as -1 reach the tool's own check.
        const QString version = arguments.takeFirst();
        const ToolRun run
            = publish(QStringList {"--site", siteDir} + arguments + QStringList {"--", release(), version});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(reason) && run.err.contains(QStringLiteral("nothing was published")),
            qPrintable(run.err));
        QCOMPARE(snapshot(work->path()), before);
        if (launcherRule < 0)
            return;

        // The tool's rules include the launcher's own: a list naming the file is refused by it.
        const QString bad = files.last();
        const UpdateManifest::FileEntry entry {
            bad.section('/', -1), bad.section('/', 0, -2), "m", "files", 3};
        QCOMPARE(int(bool(UpdateManifest::unsafeFileEntry(entry))), launcherRule);
    }

    // Each list signed as the minisign command checks it: the serial one above the site's, the kept
    // range signed again for its own range, and an expiry 90 days ahead.
    void signs()
    {
        const QString key = work->filePath("studio.key"), pub = work->filePath("studio.pub");
        QCOMPARE(runTool("minisign", {"-G", "-W", "-p", pub, "-s", key}).exitCode, 0);
        for (const char *version : {"1.1", "1.2"})
            QCOMPARE(
                publish({release(), version, "--site", site(), "--oldest", "1.0", "--sign", key}).exitCode,
                0);
        const qint64 expires = QDateTime::currentSecsSinceEpoch() + 90 * 86400;
        for (const QString &list : {"VersionList.xml", "v1.1/UpdateList.xml", "v1.2/UpdateList.xml"}) {
            const ToolRun check = runTool("minisign", {"-V", "-p", pub, "-m", site() + '/' + list});
            QVERIFY2(check.exitCode == 0, qPrintable(list + check.err));
            const QString range = list.startsWith('v')
                ? "\tdir:" + list.section('/', 0, 0) + "\tversion:" + list.mid(1, 3)
                : "";
            const QString comment = check.out.section("Trusted comment: ", 1).trimmed();
            QVERIFY2(comment.endsWith("\tserial:2\texpires:"
                         + comment.section("expires:", 1, 1).section('\t', 0, 0) + range),
                qPrintable(comment));
            QVERIFY(qAbs(comment.section("expires:", 1, 1).section('\t', 0, 0).toLongLong() - expires) < 60);
        }
    }

    void commandLine()
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
};

QTEST_GUILESS_MAIN(TestPublish)
#include "tst_publish.moc"
