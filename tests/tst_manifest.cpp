#include "UpdateManifest.h"

#include <QtTest>

using namespace UpdateManifest;

static QByteArray fixture(const char *name)
{
    QFile file(QFINDTESTDATA(QStringLiteral("data/manifests/") + QLatin1String(name)));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("fixture %s missing", name);
    return file.readAll();
}

class TestManifest : public QObject
{
    Q_OBJECT

private slots:
    void selectVersion_data()
    {
        QTest::addColumn<QByteArray>("xml");
        QTest::addColumn<float>("installed");
        QTest::addColumn<bool>("found");
        QTest::addColumn<QString>("dir");
        QTest::addColumn<float>("target");
        QTest::addColumn<float>("latest");
        QTest::addColumn<bool>("xmlError");

        const auto row = [](const char *tag, const char *file, float installed, bool found, const char *dir,
                             float target, float latest, bool xmlError = false) {
            QTest::newRow(tag) << fixture(file) << installed << found << QString(dir) << target << latest
                               << xmlError;
        };
        const char *overlapping = "versions_overlapping.xml";
        row("overlap: first match wins, latest keeps growing", overlapping, 1.3f, true, "v15", 1.5f, 2.0f);
        row("MinVer inclusive", overlapping, 1.0f, true, "v15", 1.5f, 2.0f);
        row("MaxVer inclusive", overlapping, 1.5f, true, "v15", 1.5f, 2.0f);
        row("second range", overlapping, 1.6f, true, "v20", 2.0f, 2.0f);
        row("above every range", overlapping, 2.1f, false, "", 0.0f, 2.0f);
        row("below every range", overlapping, 0.9f, false, "", 0.0f, 2.0f);
        row("empty bounds read as 0", "versions_empty_max.xml", 0.0f, true, "zero", 0.0f, 1.1f);
        row("names are case-sensitive", "versions_letter_case.xml", 1.3f, true, "exact", 2.0f, 2.0f);
        row("incomplete elements ignored, also for latest; empty Dir counts",
            "versions_missing_attributes.xml", 1.3f, true, "", 2.0f, 2.0f);
        row("unparsable, overflowing and non-finite numbers read as 0", "versions_unparsable.xml", 1.3f, true,
            "nan-min", 1.4f, 1.4f);
        row("negative range", "versions_unparsable.xml", -0.7f, true, "negative", -0.5f, 1.4f);
        row("latest never below 0", "versions_negative.xml", -2.5f, true, "below-zero", -2.0f, 0.0f);
        row("any depth, comments skipped", "versions_nested.xml", 1.1f, true, "deep", 1.2f, 1.9f);
        row("XML error after a match keeps it", "versions_error_after_match.xml", 1.3f, true, "v15", 1.5f,
            3.0f, true);
        row("XML error before a match", "versions_error_before_match.xml", 1.3f, false, "", 0.0f, 0.5f, true);
        row("truncated keeps the ranges before the cut", "versions_truncated.xml", 1.3f, true, "v15", 1.5f,
            1.5f, true);
        row("not XML", "not_xml.txt", 1.0f, false, "", 0.0f, 0.0f, true);
    }

    void selectVersion()
    {
        QFETCH(QByteArray, xml);
        QFETCH(float, installed);
        QFETCH(QString, dir);

        const VersionSelection selection = UpdateManifest::selectVersion(xml, installed);
        QTEST(selection.found, "found");
        QCOMPARE(selection.dir, dir);
        QTEST(selection.targetVersion, "target");
        QTEST(selection.latestVersion, "latest");
        QTEST(!selection.xmlError.isEmpty(), "xmlError");
    }

    void readFileList_data()
    {
        QTest::addColumn<QByteArray>("xml");
        QTest::addColumn<bool>("complete");
        QTest::addColumn<QStringList>("entries"); // Name|RelativeDir|MD5|Dir|Size
        QTest::addColumn<QString>("unsafe"); // describe() of the refused entry

        const QString md5 = QStringLiteral("00112233445566778899aabbccddeeff");
        const QStringList ab = {"a.pak||" + md5 + "|data|100", "b.pak||" + md5 + "|data|200"};
        QTest::newRow("document order; incomplete and wrongly cased elements skipped; sizes")
            << fixture("files_basic.xml") << true
            << QStringList {"ZARK.exe||0123456789abcdef0123456789abcdef|bin|1048576",
                   "a.pak|data/maps|" + md5 + "|data|300",
                   "Upper.cfg|cfg|0123456789ABCDEF0123456789ABCDEF|cfg|0",
                   "huge.pak|data|ffffffffffffffffffffffffffffffff|data|8589934592",
                   "negative.pak|data|eeeeeeeeeeeeeeeeeeeeeeeeeeeeeeee|data|-5",
                   "sub/readme.txt|docs|dddddddddddddddddddddddddddddddd||0",
                   "empty.dat||d41d8cd98f00b204e9800998ecf8427e|d|0"}
            << QString();
        QTest::newRow("no files") << fixture("files_empty_list.xml") << true << QStringList() << QString();
        QTest::newRow("truncated inside an element")
            << fixture("files_truncated.xml") << false << ab << QString();
        QTest::newRow("root never closed") << fixture("files_unclosed_root.xml") << false << ab << QString();
        QTest::newRow("not XML") << fixture("not_xml.txt") << false << QStringList() << QString();
        // XML cannot carry a NUL: the reader stops there rather than hand one on.
        QTest::newRow("NUL character") << QByteArray(
            "<UpdateList><File Name=\"a&#0;.exe\" RelativeDir=\"\" MD5=\"m\" Dir=\"d\" Size=\"1\"/>")
                                       << false << QStringList() << QString();
        QTest::newRow("unsafe entry after safe ones refuses the whole list")
            << fixture("files_unsafe.xml") << false << QStringList()
            << "File at line 5: RelativeDir=\"..\\..\\Windows\\System32\" (parent segment)";
    }

    void readFileList()
    {
        QFETCH(QByteArray, xml);
        QFETCH(bool, complete);
        QFETCH(QString, unsafe);

        const FileList list = UpdateManifest::readFileList(xml);
        QStringList entries;
        for (const FileEntry &entry : list.entries)
            entries << QStringList {entry.name, entry.relativeDir, entry.md5, entry.dir,
                QString::number(entry.size)}
                           .join(QLatin1Char('|'));
        QTEST(entries, "entries");
        QCOMPARE(list.complete, complete);
        QCOMPARE(list.xmlError.isEmpty(), complete || !unsafe.isEmpty());
        QCOMPARE(list.unsafe ? list.unsafe->describe() : QString(), unsafe);
        QCOMPARE(list.usable(), complete);
    }

    void unsafeFileEntry_data()
    {
        QTest::addColumn<QString>("attribute");
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("refused");
        QTest::addColumn<QString>("earlier"); // Name of an entry before it, RelativeDir empty

        const auto rows
            = [](const char *attribute, bool refused, std::initializer_list<const char *> values) {
                  for (const char *value : values)
                      QTest::addRow("%s \"%s\"", attribute, value)
                          << QString(attribute) << QString::fromUtf8(value) << refused << QString();
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
        QTest::newRow("letter case clash") << "Name"
                                           << "Zark.EXE" << true << "data/ZARK.exe";
        QTest::newRow("letter case clash, other spelling") << "Name"
                                                           << "A.PAK" << true << "Data\\.\\a.pak";
        QTest::newRow("same path twice") << "Name"
                                         << "a.pak" << false << "data//a.pak";
    }

    void unsafeFileEntry()
    {
        QFETCH(QString, attribute);
        QFETCH(QString, value);
        QFETCH(bool, refused);
        QFETCH(QString, earlier);

        const auto given = [&](const char *name, const char *otherwise) {
            return (attribute == QLatin1String(name) ? value : QString(otherwise)).toHtmlEscaped();
        };
        const QString before = earlier.isEmpty() ? QString()
                                                 : "<File Name=\"" + earlier.toHtmlEscaped()
                + "\" RelativeDir=\"\" MD5=\"m\" Dir=\"d\" Size=\"1\"/>";
        const FileList list = UpdateManifest::readFileList(
            QStringLiteral(
                "<UpdateList>\n%1<File Name=\"%2\" RelativeDir=\"%3\" MD5=\"m\" Dir=\"%4\" Size=\"1\"/>"
                "</UpdateList>")
                .arg(before, given("Name", "a.pak"), given("RelativeDir", "data"), given("Dir", "data"))
                .toUtf8());

        QVERIFY2(list.xmlError.isEmpty(), qPrintable(list.xmlError));
        QCOMPARE(list.usable(), !refused);
        QCOMPARE(list.entries.size(), refused ? 0 : earlier.isEmpty() ? 1 : 2);
        if (refused)
            QVERIFY2(list.unsafe->describe().startsWith(
                         QStringLiteral("File at line 2: %1=\"%2\" (").arg(attribute, value)),
                qPrintable(list.unsafe->describe()));
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
        QCOMPARE(selection.found, !refused);
        QCOMPARE(selection.dir, refused ? QString() : dir);
        QCOMPARE(selection.targetVersion, refused ? 0.0f : 2.0f);
        QCOMPARE(selection.latestVersion, refused ? 0.0f : 6.0f);
        QCOMPARE(selection.unsafe ? selection.unsafe->describe() : QString(),
            refused ? QStringLiteral("Version at line 3: Dir=\"%1\" (leads off the list's server)").arg(dir)
                    : QString());
    }
};

QTEST_GUILESS_MAIN(TestManifest)
#include "tst_manifest.moc"
