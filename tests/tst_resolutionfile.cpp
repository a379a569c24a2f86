#include "GameSettings.h"

#include <QtTest>

#include <climits>

Q_DECLARE_METATYPE(ResolutionFile::Status)
Q_DECLARE_METATYPE(ResolutionEntry)

class TestResolutionFile : public QObject
{
    Q_OBJECT

private slots:
    void read_data();
    void read();
    void missingFile();
};

using Status = ResolutionFile::Status;

static ResolutionList sizes(std::initializer_list<std::pair<const char *, const char *>> list)
{
    ResolutionList result;
    for (const auto &[width, height] : list)
        result.append(ResolutionEntry {QString::fromLatin1(height), QString::fromLatin1(width)});
    return result;
}

void TestResolutionFile::read_data()
{
    QTest::addColumn<QString>("fixture");
    QTest::addColumn<Status>("status");
    QTest::addColumn<int>("quality");
    QTest::addColumn<bool>("fog");
    QTest::addColumn<ResolutionList>("entries");

    QTest::newRow("file order kept, duplicates kept")
        << "valid.dat" << Status::Read << 2 << true
        << sizes({{"1024", "768"}, {"1280", "720"}, {"1024", "768"}});
    QTest::newRow("elements without Width or Height skipped; 1.9 truncates to 1")
        << "incomplete_elements.dat" << Status::Read << 1 << false << sizes({{"1280", "720"}});
    QTest::newRow("non-string, zero, negative and non-numeric sizes skipped; -0.5 gives 0; fog not a bool")
        << "non_numeric.dat" << Status::Read << 0 << false << sizes({{"1600", "900"}});
    QTest::newRow("every element unusable gives an empty list")
        << "all_unusable.dat" << Status::Read << 1 << false << ResolutionList();
    QTest::newRow("empty array keeps the defaults; a text quality reads 0")
        << "empty_list.dat" << Status::NoEntries << 0 << false << ResolutionList();
    // Beyond int: saturated, so still no level, where a plain conversion is undefined.
    QTest::newRow("quality 1e10") << "quality_huge.dat" << Status::NoEntries << INT_MAX << false
                                  << ResolutionList();
    QTest::newRow("quality -1e10") << "quality_huge_negative.dat" << Status::NoEntries << INT_MIN << false
                                   << ResolutionList();
    QTest::newRow("quality 1e308") << "quality_largest.dat" << Status::NoEntries << INT_MAX << false
                                   << ResolutionList();
    QTest::newRow("outputResolution not an array keeps the defaults")
        << "list_not_array.dat" << Status::NoEntries << 1 << false << ResolutionList();
    QTest::newRow("empty object") << "empty_object.dat" << Status::Failed << 0 << false << ResolutionList();
    QTest::newRow("top level not an object")
        << "top_array.dat" << Status::Failed << 0 << false << ResolutionList();
    QTest::newRow("defualtQuilty missing")
        << "no_quality.dat" << Status::Failed << 0 << false << ResolutionList();
    QTest::newRow("outputResolution missing")
        << "no_list.dat" << Status::Failed << 0 << false << ResolutionList();
    QTest::newRow("truncated JSON") << "truncated.dat" << Status::Failed << 0 << false << ResolutionList();
    QTest::newRow("not JSON") << "garbage.dat" << Status::Failed << 0 << false << ResolutionList();
}

void TestResolutionFile::read()
{
    QFETCH(QString, fixture);
    QFETCH(Status, status);
    QFETCH(int, quality);
    QFETCH(bool, fog);
    QFETCH(ResolutionList, entries);

    const QString path = QFINDTESTDATA(QStringLiteral("data/resolution/") + fixture);
    QVERIFY(!path.isEmpty());
    const ResolutionFile file = ResolutionFile::read(path);
    QCOMPARE(file.status, status);
    if (status == Status::Failed)
        return;
    QCOMPARE(file.quality, quality);
    QCOMPARE(file.fog, fog);
    QCOMPARE(file.entries.size(), entries.size());
    for (int i = 0; i < entries.size(); ++i) {
        QCOMPARE(file.entries.at(i).width, entries.at(i).width);
        QCOMPARE(file.entries.at(i).height, entries.at(i).height);
    }
}

void TestResolutionFile::missingFile()
{
    QTemporaryDir dir;
    QCOMPARE(ResolutionFile::read(dir.filePath(QStringLiteral("resolution.dat"))).status, Status::Failed);
    // A folder where the file should be cannot be read either.
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("resolution.dat")));
    QCOMPARE(ResolutionFile::read(dir.filePath(QStringLiteral("resolution.dat"))).status, Status::Failed);
}

QTEST_GUILESS_MAIN(TestResolutionFile)
#include "tst_resolutionfile.moc"
