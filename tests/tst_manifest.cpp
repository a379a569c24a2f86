#include "UpdateManifest.h"

#include <QtTest>

using namespace UpdateManifest;

static QByteArray fixture(const QString &name)
{
    QFile file(QFINDTESTDATA("data/manifests/" + name));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("fixture %s missing", qPrintable(name));
    return file.readAll();
}

class TestManifest : public QObject
{
    Q_OBJECT

private slots:
    // For each installed version the range selected (Dir@MaxVer, "-" for none), and the latest
    // version, which every complete range counts towards.
    void selectVersion_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("selections");
        QTest::addColumn<float>("latest");
        QTest::addColumn<bool>("xmlError"); // what came before the error counts
        const auto row
            = [](const char *tag, const char *file, const char *selections, float latest, bool error) {
                  QTest::newRow(tag) << QString(file) << QString(selections) << latest << error;
              };
        row("first match wins, bounds inclusive", "versions_overlapping.xml",
            "0.9:- 1:v15@1.5 1.3:v15@1.5 1.5:v15@1.5 1.6:v20@2 2:v20@2 2.1:-", 2.0f, false);
        row("empty bounds read as 0", "versions_empty_max.xml", "-1:- 0:zero@0 0.5:- 1:v11@1.1", 1.1f, false);
        row("names are case-sensitive", "versions_letter_case.xml", "1.3:exact@2", 2.0f, false);
        row("incomplete elements ignored; empty Dir counts", "versions_missing_attributes.xml", "1.3:@2",
            2.0f, false);
        row("unparsable, overflowing and non-finite numbers read as 0", "versions_unparsable.xml",
            "0:comma@0 1.3:nan-min@1.4 -0.7:negative@-0.5", 1.4f, false);
        row("latest never below 0", "versions_negative.xml", "-2.5:below-zero@-2", 0.0f, false);
        row("any depth, comments skipped", "versions_nested.xml", "1.1:deep@1.2", 1.9f, false);
        row("XML error after a match", "versions_error_after_match.xml", "1.3:v15@1.5", 3.0f, true);
        row("XML error before a match", "versions_error_before_match.xml", "1.3:-", 0.5f, true);
        row("truncated", "versions_truncated.xml", "1.3:v15@1.5", 1.5f, true);
        row("not XML", "not_xml.txt", "1:-", 0.0f, true);
    }
    void selectVersion()
    {
        QFETCH(QString, file);
        QFETCH(QString, selections);
        QStringList selected;
        for (const QString &installed : selections.split(' ')) {
            const VersionSelection selection
                = UpdateManifest::selectVersion(fixture(file), installed.section(':', 0, 0).toFloat());
            selected << installed.section(':', 0, 0) + ':'
                    + (selection.found ? selection.dir + '@' + QString::number(selection.targetVersion)
                                       : "-");
            QTEST(selection.latestVersion, "latest");
            QTEST(!selection.xmlError.isEmpty(), "xmlError");
        }
        QCOMPARE(selected.join(' '), selections);
    }

    void readFileList_data()
    {
        QTest::addColumn<QByteArray>("xml");
        QTest::addColumn<QStringList>("entries"); // Name|RelativeDir|MD5|Dir|Size
        QTest::addColumn<QString>("reading"); // complete, incomplete, or why it was refused
        const QString md5 = QStringLiteral("00112233445566778899aabbccddeeff");
        const QStringList ab = {"a.pak||" + md5 + "|data|100", "b.pak||" + md5 + "|data|200"};
        QTest::newRow("document order; incomplete and wrongly cased elements skipped; sizes")
            << fixture("files_basic.xml")
            << QStringList {"ZARK.exe||0123456789abcdef0123456789abcdef|bin|1048576",
                   "a.pak|data/maps|" + md5 + "|data|300",
                   "Upper.cfg|cfg|0123456789ABCDEF0123456789ABCDEF|cfg|0",
                   "huge.pak|data|ffffffffffffffffffffffffffffffff|data|8589934592",
                   "negative.pak|data|eeeeeeeeeeeeeeeeeeeeeeeeeeeeeeee|data|-5",
                   "sub/readme.txt|docs|dddddddddddddddddddddddddddddddd||0",
                   "empty.dat||d41d8cd98f00b204e9800998ecf8427e|d|0"}
            << "complete";
        QTest::newRow("no files") << fixture("files_empty_list.xml") << QStringList() << "complete";
        QTest::newRow("truncated inside an element") << fixture("files_truncated.xml") << ab << "incomplete";
        QTest::newRow("root never closed") << fixture("files_unclosed_root.xml") << ab << "incomplete";
        QTest::newRow("not XML") << fixture("not_xml.txt") << QStringList() << "incomplete";
        // XML cannot carry a NUL: the reader stops there rather than hand one on.
        QTest::newRow("NUL character") << QByteArray(
            "<UpdateList><File Name=\"a&#0;.exe\" RelativeDir=\"\" MD5=\"m\" Dir=\"d\" Size=\"1\"/>")
                                       << QStringList() << "incomplete";
        QTest::newRow("unsafe entry after safe ones")
            << fixture("files_unsafe.xml") << QStringList()
            << "File at line 5: RelativeDir=\"..\\..\\Windows\\System32\" (parent segment)";
    }
    void readFileList()
    {
        QFETCH(QByteArray, xml);
        QFETCH(QString, reading);
        const FileList list = UpdateManifest::readFileList(xml);
        QStringList entries;
        for (const FileEntry &entry : list.entries)
            entries << QStringList {entry.name, entry.relativeDir, entry.md5, entry.dir,
                QString::number(entry.size)}
                           .join('|');
        QTEST(entries, "entries");
        QCOMPARE(list.unsafe ? list.unsafe->describe() : list.complete ? "complete" : "incomplete", reading);
        QCOMPARE(list.xmlError.isEmpty(), reading != "incomplete");
        QCOMPARE(list.usable(), reading == "complete");
    }

    void unsafeFileEntry_data()
    {
        QTest::addColumn<QString>("attribute");
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("refused");
        QTest::addColumn<QString>("earlier"); // Name of the entry before it, RelativeDir empty
        const auto rows = [](const char *attribute, bool refused, std::initializer_list<const char *> values,
                              const char *earlier = "first.pak") {
            for (const char *value : values)
                QTest::addRow("%s \"%s\" after %s", attribute, value, earlier)
                    << QString(attribute) << QString::fromUtf8(value) << refused << QString(earlier);
        };
        rows("Name", true,
            {"", ".", "..", "../evil.dll", "..\\evil.dll", "data/../../evil.dll", "data\\..\\..\\evil.dll",
                "/etc/cron.d/evil", "\\evil.dll", "\\\\server\\share\\evil.dll", "C:evil.dll",
                "C:\\Windows\\evil.dll", "C:/Windows/evil.dll", "a.pak:stream", ".. /evil.dll",
                "...\\evil.dll", "%2e%2e/evil.dll", "%2E%2E%5Cevil.dll", "..?/evil.dll", "..#/evil.dll",
                "data/", "data\\.", " ", "data/ .", "data/. ", "a.pak.", "a.pak ", "CON", "aux.txt",
                "COM1/x.bin", "nul .txt", "what?.txt"});
        rows("Name", false,
            {"a.pak", "data/a.pak", "..a.pak", "a..pak", ".hidden", "a b.pak", "100%.txt", "CONSOLE.txt"});
        rows("RelativeDir", true,
            {"/", "/etc", "\\Windows", "C:", "D:\\Games", "..", "../..", "data/../..", "data\\..\\..", ".. ",
                "data\\lpt\u00b9", "data./maps"});
        // "%2e%2e": only a URL would decode it; locally it is a plain folder name.
        rows("RelativeDir", false, {"", ".", "data/maps", "data\\maps", "data/", "a..b", "%2e%2e"});
        // Only a URL on the list's server: where it leads there is the server's business.
        rows(
            "Dir", false, {"..", "data/../../other", "%2e%2e/other", "..#fragment", "data?v=2", "", "/data"});
        // Windows ignores letter case; "data/a.pak" twice is one file named twice.
        rows("Name", true, {"Zark.EXE"}, "data/ZARK.exe");
        rows("Name", true, {"A.PAK"}, "Data\\.\\a.pak");
        rows("Name", false, {"a.pak"}, "data//a.pak");
    }
    // One unsafe entry refuses the whole list, also after entries that were fine.
    void unsafeFileEntry()
    {
        QFETCH(QString, attribute);
        QFETCH(QString, value);
        QFETCH(bool, refused);
        QFETCH(QString, earlier);
        const auto given = [&](const char *name, const char *otherwise) {
            return (attribute == QLatin1String(name) ? value : QString(otherwise)).toHtmlEscaped();
        };
        const FileList list
            = UpdateManifest::readFileList(QStringLiteral(
                "<UpdateList>\n<File Name=\"%1\" RelativeDir=\"\" MD5=\"m\" Dir=\"d\" Size=\"1\"/>"
                "<File Name=\"%2\" RelativeDir=\"%3\" MD5=\"m\" Dir=\"%4\" Size=\"1\"/></UpdateList>")
                                               .arg(earlier.toHtmlEscaped(), given("Name", "a.pak"),
                                                   given("RelativeDir", "data"), given("Dir", "data"))
                                               .toUtf8());
        QVERIFY2(list.xmlError.isEmpty(), qPrintable(list.xmlError));
        QCOMPARE(list.entries.size(), refused ? 0 : 2);
        QCOMPARE(list.unsafe ? list.unsafe->describe().section(" (", 0, 0) : QString(),
            refused ? QStringLiteral("File at line 2: %1=\"%2\"").arg(attribute, value) : QString());
    }

    void unsafeVersionDir_data()
    {
        QTest::addColumn<QString>("listBaseUrl");
        QTest::addColumn<QString>("dir");
        QTest::addColumn<bool>("refused");

        const auto rows = [](const char *base, std::initializer_list<const char *> dirs, bool refused) {
            for (const char *dir : dirs)
                QTest::addRow("%s + \"%s\"", base, dir) << QString(base) << QString::fromUtf8(dir) << refused;
        };
        rows("http://patch.example.com/zark/",
            {"", "v2", "..", "../v2", "v2\\..\\..\\x", "%2e%2e", ". .", "..#x", "//evil.example/v2",
                "http://evil.example/v2", "@evil.example/v2"},
            false);
        rows("http://patch.example.com", {"/v2", "?@evil.example/v2"}, false);
        rows("http://patch.example.com",
            {"@evil.example/v2", ".evil.example/v2", "%2eevil.example/v2", ":8080/v2", " @evil.example/v2"},
            true);
        rows("https://user@patch.example.com:8443", {"/v2", "#x"}, false);
        rows("https://user@patch.example.com:8443", {"0/v2", "\\@evil.example/v2"}, true);
    }

    // Only the selected range is judged: the one before it, which leads off the server, is not.

    // A refusal resets every other field.

    void unsafeVersionDir()
    {
        QFETCH(QString, listBaseUrl);
        QFETCH(QString, dir);
        QFETCH(bool, refused);

        QCOMPARE(staysOnServer(listBaseUrl, updateListUrl(fileBaseUrl(listBaseUrl, dir))), !refused);
        const QString xml = "<VersionList>\n<Version MinVer=\"5\" MaxVer=\"6\" Dir=\"@evil.example/x\"/>\n"
                            "<Version MinVer=\"1.0\" MaxVer=\"2.0\" Dir=\""
            + dir.toHtmlEscaped() + "\"/>\n</VersionList>";
        const VersionSelection selection = UpdateManifest::selectVersion(xml.toUtf8(), 1.3f, listBaseUrl);
        QVERIFY(selection.xmlError.isEmpty());
        // A refusal resets every other field.
        QCOMPARE((QStringList {QString::number(selection.found), selection.dir,
                     QString::number(selection.targetVersion), QString::number(selection.latestVersion)}),
            refused ? QStringList({"0", "", "0", "0"}) : QStringList({"1", dir, "2", "6"}));
        QCOMPARE(selection.unsafe ? selection.unsafe->describe() : QString(),
            refused ? QStringLiteral("Version at line 3: Dir=\"%1\" (leads off the list's server)").arg(dir)
                    : QString());
    }
};

QTEST_GUILESS_MAIN(TestManifest)
#include "tst_manifest.moc"
