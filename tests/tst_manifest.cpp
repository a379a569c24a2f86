#include "UpdateManifest.h"

#include <QtTest>

using namespace UpdateManifest;

Q_DECLARE_METATYPE(FileEntry)

class TestManifest : public QObject
{
    Q_OBJECT

private slots:
    void selectVersion_data();
    void selectVersion();
    void readFileList_data();
    void readFileList();
    void urlsAndPaths_data();
    void urlsAndPaths();
    void unsafeFileEntry_data();
    void unsafeFileEntry();
    void unsafeVersionDir_data();
    void unsafeVersionDir();
    void unsafeEntryAmongSafeOnes();
    void nulCharacterNeverAccepted();

private:
    static QByteArray fixture(const QString &name);
};

using FileEntries = QList<FileEntry>;

QByteArray TestManifest::fixture(const QString &name)
{
    const QString path = QFINDTESTDATA(QStringLiteral("data/manifests/") + name);
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        qFatal("fixture %s missing", qPrintable(name));
    return file.readAll();
}

// Opens a fixture the way the Patcher opens a downloaded manifest.
static std::unique_ptr<QFile> openFixture(const QString &name)
{
    auto file = std::make_unique<QFile>(QFINDTESTDATA(QStringLiteral("data/manifests/") + name));
    if (!file->open(QIODevice::ReadOnly | QIODevice::Text))
        return nullptr;
    return file;
}

void TestManifest::selectVersion_data()
{
    QTest::addColumn<QString>("fixture");
    QTest::addColumn<float>("installed");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("dir");
    QTest::addColumn<float>("target");
    QTest::addColumn<float>("latest");
    QTest::addColumn<bool>("xmlError");

    const QString overlapping = QStringLiteral("versions_overlapping.xml");
    QTest::newRow("overlap: first match wins, latest keeps growing")
        << overlapping << 1.3f << true << "v15" << 1.5f << 2.0f << false;
    QTest::newRow("overlap: MinVer inclusive")
        << overlapping << 1.0f << true << "v15" << 1.5f << 2.0f << false;
    QTest::newRow("overlap: MaxVer inclusive")
        << overlapping << 1.5f << true << "v15" << 1.5f << 2.0f << false;
    QTest::newRow("overlap: second range") << overlapping << 1.6f << true << "v20" << 2.0f << 2.0f << false;
    QTest::newRow("overlap: second MaxVer inclusive")
        << overlapping << 2.0f << true << "v20" << 2.0f << 2.0f << false;
    QTest::newRow("overlap: above every range")
        << overlapping << 2.1f << false << "" << 0.0f << 2.0f << false;
    QTest::newRow("overlap: below every range")
        << overlapping << 0.9f << false << "" << 0.0f << 2.0f << false;

    const QString emptyMax = QStringLiteral("versions_empty_max.xml");
    QTest::newRow("empty MaxVer and MinVer read as 0: matches 0")
        << emptyMax << 0.0f << true << "zero" << 0.0f << 1.1f << false;
    QTest::newRow("empty MaxVer: nothing above 0")
        << emptyMax << 0.5f << false << "" << 0.0f << 1.1f << false;
    QTest::newRow("empty MinVer: nothing below 0")
        << emptyMax << -1.0f << false << "" << 0.0f << 1.1f << false;

    QTest::newRow("element and attribute names are case-sensitive")
        << "versions_letter_case.xml" << 1.3f << true << "exact" << 2.0f << 2.0f << false;
    QTest::newRow("incomplete elements ignored, also for latest; empty Dir counts")
        << "versions_missing_attributes.xml" << 1.3f << true << "" << 2.0f << 2.0f << false;

    const QString unparsable = QStringLiteral("versions_unparsable.xml");
    QTest::newRow("unparsable, overflowing and non-finite numbers read as 0")
        << unparsable << 1.3f << true << "nan-min" << 1.4f << 1.4f << false;
    QTest::newRow("unparsable bounds give the range 0..0")
        << unparsable << 0.0f << true << "comma" << 0.0f << 1.4f << false;
    QTest::newRow("negative range") << unparsable << -0.7f << true << "negative" << -0.5f << 1.4f << false;
    QTest::newRow("latest never below 0")
        << "versions_negative.xml" << -2.5f << true << "below-zero" << -2.0f << 0.0f << false;

    QTest::newRow("any depth, comments skipped")
        << "versions_nested.xml" << 1.1f << true << "deep" << 1.2f << 1.9f << false;
    QTest::newRow("XML error after a match keeps it and what came before")
        << "versions_error_after_match.xml" << 1.3f << true << "v15" << 1.5f << 3.0f << true;
    QTest::newRow("XML error before a match: no update")
        << "versions_error_before_match.xml" << 1.3f << false << "" << 0.0f << 0.5f << true;
    QTest::newRow("truncated document keeps the ranges before the cut")
        << "versions_truncated.xml" << 1.3f << true << "v15" << 1.5f << 1.5f << true;
    QTest::newRow("not XML at all") << "not_xml.txt" << 1.0f << false << "" << 0.0f << 0.0f << true;
    QTest::newRow("empty file") << "empty.xml" << 1.0f << false << "" << 0.0f << 0.0f << true;
}

void TestManifest::selectVersion()
{
    QFETCH(QString, fixture);
    QFETCH(float, installed);
    QFETCH(bool, found);
    QFETCH(QString, dir);
    QFETCH(float, target);
    QFETCH(float, latest);
    QFETCH(bool, xmlError);

    const auto file = openFixture(fixture);
    QVERIFY(file);
    const VersionSelection selection = UpdateManifest::selectVersion(file.get(), installed);
    QCOMPARE(selection.found, found);
    QCOMPARE(selection.dir, dir);
    QCOMPARE(selection.targetVersion, target);
    QCOMPARE(selection.latestVersion, latest);
    QCOMPARE(!selection.xmlError.isEmpty(), xmlError);
    QVERIFY(!selection.unsafe);

    // Reading from bytes gives the same result.
    const VersionSelection fromBytes = UpdateManifest::selectVersion(this->fixture(fixture), installed);
    QCOMPARE(fromBytes.found, found);
    QCOMPARE(fromBytes.dir, dir);
    QCOMPARE(fromBytes.latestVersion, latest);
}

static FileEntry entry(
    const char *name, const char *relativeDir, const char *md5, const char *dir, qint64 size)
{
    return FileEntry {QString::fromUtf8(name), QString::fromUtf8(relativeDir), QString::fromUtf8(md5),
        QString::fromUtf8(dir), size};
}

void TestManifest::readFileList_data()
{
    QTest::addColumn<QString>("fixture");
    QTest::addColumn<bool>("complete");
    QTest::addColumn<FileEntries>("entries");

    const FileEntry a = entry("a.pak", "", "00112233445566778899aabbccddeeff", "data", 100);
    const FileEntry b = entry("b.pak", "", "00112233445566778899aabbccddeeff", "data", 200);

    QTest::newRow("document order; incomplete and wrongly cased elements skipped; sizes")
        << "files_basic.xml" << true
        << FileEntries {
               entry("ZARK.exe", "", "0123456789abcdef0123456789abcdef", "bin", 1048576),
               entry("a.pak", "data/maps", "00112233445566778899aabbccddeeff", "data", 300),
               entry("Upper.cfg", "cfg", "0123456789ABCDEF0123456789ABCDEF", "cfg", 0),
               entry("huge.pak", "data", "ffffffffffffffffffffffffffffffff", "data", Q_INT64_C(8589934592)),
               entry("negative.pak", "data", "eeeeeeeeeeeeeeeeeeeeeeeeeeeeeeee", "data", -5),
               entry("sub/readme.txt", "docs", "dddddddddddddddddddddddddddddddd", "", 0),
               entry("empty.dat", "", "d41d8cd98f00b204e9800998ecf8427e", "d", 0),
           };
    QTest::newRow("no files") << "files_empty_list.xml" << true << FileEntries {};
    QTest::newRow("truncated inside an element") << "files_truncated.xml" << false << FileEntries {a, b};
    QTest::newRow("root element never closed") << "files_unclosed_root.xml" << false << FileEntries {a, b};
    QTest::newRow("not XML at all") << "not_xml.txt" << false << FileEntries {};
    QTest::newRow("empty file") << "empty.xml" << false << FileEntries {};
}

void TestManifest::readFileList()
{
    QFETCH(QString, fixture);
    QFETCH(bool, complete);
    QFETCH(FileEntries, entries);

    const auto file = openFixture(fixture);
    QVERIFY(file);
    const FileList list = UpdateManifest::readFileList(file.get());
    QCOMPARE(list.complete, complete);
    QCOMPARE(list.usable(), complete);
    QCOMPARE(list.xmlError.isEmpty(), complete);
    QVERIFY(!list.unsafe);
    QCOMPARE(list.entries.size(), entries.size());
    for (int i = 0; i < entries.size(); ++i) {
        const FileEntry &got = list.entries.at(i);
        const FileEntry &want = entries.at(i);
        QCOMPARE(got.name, want.name);
        QCOMPARE(got.relativeDir, want.relativeDir);
        QCOMPARE(got.md5, want.md5);
        QCOMPARE(got.dir, want.dir);
        QCOMPARE(got.size, want.size);
    }

    const FileList fromBytes = UpdateManifest::readFileList(this->fixture(fixture));
    QCOMPARE(fromBytes.complete, complete);
    QCOMPARE(fromBytes.entries.size(), entries.size());
}

void TestManifest::urlsAndPaths_data()
{
    QTest::addColumn<QString>("listBaseUrl");
    QTest::addColumn<QString>("versionDir");
    QTest::addColumn<FileEntry>("file");
    QTest::addColumn<QString>("versionListUrl");
    QTest::addColumn<QString>("updateListUrl");
    QTest::addColumn<QString>("fileUrl");
    QTest::addColumn<QString>("downloadPath");
    QTest::addColumn<QString>("installPath");

    const QString base = QStringLiteral("http://patch.example.com/zark/");
    QTest::newRow("plain") << base << "v2" << entry("a.pak", "data", "m", "data", 7)
                           << base + "VersionList.xml" << base + "v2/UpdateList.xml" << base + "v2/data/a.pak"
                           << "/g/Update/Game/data/a.pak"
                           << "/g/data/a.pak";
    QTest::newRow("empty RelativeDir still joined with a slash")
        << base << "v2" << entry("ZARK.exe", "", "m", "bin", 7) << base + "VersionList.xml"
        << base + "v2/UpdateList.xml" << base + "v2/bin/ZARK.exe"
        << "/g/Update/Game//ZARK.exe"
        << "/g//ZARK.exe";
    QTest::newRow("empty file and version Dir")
        << base << "" << entry("a.pak", "x/y", "m", "", 7) << base + "VersionList.xml"
        << base + "/UpdateList.xml" << base + "//a.pak"
        << "/g/Update/Game/x/y/a.pak"
        << "/g/x/y/a.pak";
    QTest::newRow("nested version Dir, Name with a folder")
        << base << "game/v2.1" << entry("maps/m1.bsp", "data", "m", "pak/data", 7) << base + "VersionList.xml"
        << base + "game/v2.1/UpdateList.xml" << base + "game/v2.1/pak/data/maps/m1.bsp"
        << "/g/Update/Game/data/maps/m1.bsp"
        << "/g/data/maps/m1.bsp";
}

void TestManifest::urlsAndPaths()
{
    QFETCH(QString, listBaseUrl);
    QFETCH(QString, versionDir);
    QFETCH(FileEntry, file);

    QTEST(UpdateManifest::versionListUrl(listBaseUrl), "versionListUrl");
    const QString fileBase = UpdateManifest::fileBaseUrl(listBaseUrl, versionDir);
    QTEST(UpdateManifest::updateListUrl(fileBase), "updateListUrl");

    const UpdateFileInfo info
        = makeUpdateFileInfo(file, QStringLiteral("/g/Update/Game"), QStringLiteral("/g"), fileBase);
    QTEST(info.url, "fileUrl");
    QTEST(info.downloadPath(), "downloadPath");
    QTEST(info.installPath(), "installPath");
    QCOMPARE(info.name, file.name);
    QCOMPARE(info.md5, file.md5);
    QCOMPARE(info.size, file.size);
}

static QString attributeXml(const QString &name, const QString &value)
{
    return QStringLiteral(" %1=\"%2\"").arg(name, value.toHtmlEscaped());
}

void TestManifest::unsafeFileEntry_data()
{
    QTest::addColumn<QString>("attribute");
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<QString>("earlier"); // Name of an entry before it, RelativeDir empty

    const QString name = QStringLiteral("Name");
    const QString relativeDir = QStringLiteral("RelativeDir");
    const QString dir = QStringLiteral("Dir");

    struct Row
    {
        const QString &attribute;
        const char *value;
        bool refused;
        const char *earlier = "";
    };
    const Row rows[] = {
        {name, "", true},
        {name, ".", true},
        {name, "..", true},
        {name, "../evil.dll", true},
        {name, "..\\evil.dll", true},
        {name, "data/../../evil.dll", true},
        {name, "data\\..\\..\\evil.dll", true},
        {name, "/etc/cron.d/evil", true},
        {name, "\\evil.dll", true},
        {name, "\\\\server\\share\\evil.dll", true},
        {name, "C:evil.dll", true},
        {name, "C:\\Windows\\evil.dll", true},
        {name, "C:/Windows/evil.dll", true},
        {name, "a.pak:stream", true},
        {name, ".. /evil.dll", true},
        {name, "...\\evil.dll", true},
        {name, "%2e%2e/evil.dll", true},
        {name, "%2E%2E%5Cevil.dll", true},
        {name, "data/", true},
        {name, "data\\.", true},
        {name, " ", true},
        {name, "data/ .", true},
        {name, "data/. ", true},
        {name, "a.pak.", true},
        {name, "a.pak ", true},
        {name, "CON", true},
        {name, "aux.txt", true},
        {name, "COM1/x.bin", true},
        {name, "nul .txt", true},
        {name, "what?.txt", true},
        {name, "CONSOLE.txt", false},
        {relativeDir, "data\\lpt\u00b9", true},
        {relativeDir, "data./maps", true},
        {name, "Zark.EXE", true, "data/ZARK.exe"},
        {name, "A.PAK", true, "Data\\.\\a.pak"},
        {name, "a.pak", false, "data//a.pak"},
        {name, "a.pak", false},
        {name, "data/a.pak", false},
        {name, "..a.pak", false},
        {name, "a..pak", false},
        {name, ".hidden", false},
        {name, "a b.pak", false},
        {name, "100%.txt", false},
        {name, "..?/evil.dll", true},
        {name, "..#/evil.dll", true},
        {relativeDir, "/", true},
        {relativeDir, "/etc", true},
        {relativeDir, "\\Windows", true},
        {relativeDir, "C:", true},
        {relativeDir, "D:\\Games", true},
        {relativeDir, "..", true},
        {relativeDir, "../..", true},
        {relativeDir, "data/../..", true},
        {relativeDir, "data\\..\\..", true},
        {relativeDir, ".. ", true},
        {relativeDir, "", false},
        {relativeDir, ".", false},
        {relativeDir, "data/maps", false},
        {relativeDir, "data\\maps", false},
        {relativeDir, "data/", false},
        {relativeDir, "a..b", false},
        // Only a URL would decode it: locally it is a plain folder name.
        {relativeDir, "%2e%2e", false},
        // Only a URL on the list's server: where it leads there is the server's business.
        {dir, "..", false},
        {dir, "data/../../other", false},
        {dir, "%2e%2e/other", false},
        {dir, "..#fragment", false},
        {dir, "data?v=2", false},
        {dir, "", false},
        {dir, "/data", false},
    };
    for (const Row &row : rows) {
        const QString earlier = QString::fromUtf8(row.earlier);
        QTest::addRow("%s \"%s\"%s", qPrintable(row.attribute), row.value,
            earlier.isEmpty() ? "" : qPrintable(QStringLiteral(" after \"%1\"").arg(earlier)))
            << row.attribute << QString::fromUtf8(row.value) << row.refused << earlier;
    }
}

void TestManifest::unsafeFileEntry()
{
    QFETCH(QString, attribute);
    QFETCH(QString, value);
    QFETCH(bool, refused);
    QFETCH(QString, earlier);

    QMap<QString, QString> attributes {{QStringLiteral("Name"), QStringLiteral("a.pak")},
        {QStringLiteral("RelativeDir"), QStringLiteral("data")},
        {QStringLiteral("MD5"), QStringLiteral("00112233445566778899aabbccddeeff")},
        {QStringLiteral("Dir"), QStringLiteral("data")}, {QStringLiteral("Size"), QStringLiteral("1")}};
    attributes[attribute] = value;
    QString xml = QStringLiteral("<UpdateList>\n<File");
    if (!earlier.isEmpty())
        xml += attributeXml(QStringLiteral("Name"), earlier)
            + QStringLiteral(" RelativeDir=\"\" MD5=\"m\" Dir=\"d\" "
                             "Size=\"1\"/><File");
    for (auto it = attributes.cbegin(); it != attributes.cend(); ++it)
        xml += attributeXml(it.key(), it.value());
    xml += QStringLiteral("/>\n</UpdateList>\n");

    const FileList list = UpdateManifest::readFileList(xml.toUtf8());
    QVERIFY2(list.xmlError.isEmpty(), qPrintable(list.xmlError));
    QCOMPARE(list.usable(), !refused);
    if (!refused) {
        QCOMPARE(list.entries.size(), earlier.isEmpty() ? 1 : 2);
        QCOMPARE(list.entries.last().name, attributes.value(QStringLiteral("Name")));
        return;
    }
    QVERIFY(list.entries.isEmpty());
    QVERIFY(list.unsafe);
    QCOMPARE(list.unsafe->element, QStringLiteral("File"));
    QCOMPARE(list.unsafe->attribute, attribute);
    QCOMPARE(list.unsafe->value, value);
    QCOMPARE(list.unsafe->lineNumber, 2);
    const QString described = list.unsafe->describe();
    QVERIFY2(described.contains(QStringLiteral("File at line 2: %1=\"%2\"").arg(attribute, value)),
        qPrintable(described));
}

void TestManifest::unsafeVersionDir_data()
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

void TestManifest::unsafeVersionDir()
{
    QFETCH(QString, listBaseUrl);
    QFETCH(QString, dir);
    QFETCH(bool, refused);

    QCOMPARE(staysOnServer(listBaseUrl, updateListUrl(fileBaseUrl(listBaseUrl, dir))), !refused);
    const QString xml
        = QStringLiteral("<VersionList>\n<Version MinVer=\"1.0\" MaxVer=\"2.0\"%1/>\n</VersionList>")
              .arg(attributeXml(QStringLiteral("Dir"), dir));
    const VersionSelection selection = UpdateManifest::selectVersion(xml.toUtf8(), 1.3f, listBaseUrl);
    QVERIFY(selection.xmlError.isEmpty());
    QCOMPARE(bool(selection.unsafe), refused);
    QCOMPARE(selection.found, !refused);
    if (!refused) {
        QCOMPARE(selection.dir, dir);
        return;
    }
    QCOMPARE(selection.unsafe->element, QStringLiteral("Version"));
    QCOMPARE(selection.unsafe->attribute, QStringLiteral("Dir"));
    QCOMPARE(selection.unsafe->value, dir);
    QCOMPARE(selection.unsafe->lineNumber, 2);
}

// An unsafe file entry anywhere makes the whole list unusable, also after files that were
// fine; of the ranges only the selected one is judged. The entry is named by its line.
void TestManifest::unsafeEntryAmongSafeOnes()
{
    const QString base = QStringLiteral("http://patch.example.com");
    const auto versions = openFixture(QStringLiteral("versions_unsafe_dir.xml"));
    QVERIFY(versions);
    const VersionSelection first = UpdateManifest::selectVersion(versions.get(), 1.3f, base);
    QVERIFY(!first.unsafe);
    QCOMPARE(first.dir, QStringLiteral("/v15"));
    QCOMPARE(first.latestVersion, 4.0f);
    const VersionSelection selection
        = UpdateManifest::selectVersion(fixture(QStringLiteral("versions_unsafe_dir.xml")), 3.5f, base);
    QVERIFY(selection.unsafe);
    QVERIFY(!selection.found);
    QCOMPARE(selection.targetVersion, 0.0f);
    QCOMPARE(selection.unsafe->value, QStringLiteral("@evil.example/private"));
    QCOMPARE(selection.unsafe->lineNumber, 5);

    const auto files = openFixture(QStringLiteral("files_unsafe.xml"));
    QVERIFY(files);
    const FileList list = UpdateManifest::readFileList(files.get());
    QVERIFY(!list.usable());
    QVERIFY(list.entries.isEmpty());
    QVERIFY(list.unsafe);
    QCOMPARE(list.unsafe->attribute, QStringLiteral("RelativeDir"));
    QCOMPARE(list.unsafe->value, QStringLiteral("..\\..\\Windows\\System32"));
    QCOMPARE(list.unsafe->lineNumber, 5);
    QCOMPARE(list.unsafe->describe(),
        QStringLiteral("File at line 5: RelativeDir=\"..\\..\\Windows\\System32\" (parent segment)"));
}

// XML cannot carry a NUL; the reader must stop there rather than hand one on.
void TestManifest::nulCharacterNeverAccepted()
{
    const QByteArray xml = "<UpdateList><File Name=\"a.pak&#0;.exe\" RelativeDir=\"\" MD5=\"m\" Dir=\"d\" "
                           "Size=\"1\"/></UpdateList>";
    const FileList list = UpdateManifest::readFileList(xml);
    QVERIFY(!list.usable());
    QVERIFY(list.entries.isEmpty());
}

QTEST_GUILESS_MAIN(TestManifest)
#include "tst_manifest.moc"
