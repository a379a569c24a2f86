#include "GameSettings.h"

#include <QtTest>

class TestResolutionFile : public QObject
{
    Q_OBJECT

private slots:
    void read_data();
    void read();
};

// Each row reads data/resolution/ROW: status, quality, "fog" when on, then the sizes.
void TestResolutionFile::read_data()
{
    QTest::addColumn<QString>("expected");
    QTest::newRow("valid.dat") << "read 2 fog 1024x768 1280x720 1024x768"; // file order, duplicates kept
    QTest::newRow("incomplete_elements.dat") << "read 1 1280x720"; // no Width or Height; 1.9 is 1
    QTest::newRow("non_numeric.dat") << "read 0 1600x900"; // sizes not positive numbers; -0.5; fog "yes"
    QTest::newRow("all_unusable.dat") << "read 1";
    QTest::newRow("empty_list.dat") << "no entries 0"; // a text quality is 0
    // Beyond int: saturated, so still no level, where a plain conversion is undefined.
    QTest::newRow("quality_huge.dat") << "no entries 2147483647";
    QTest::newRow("quality_huge_negative.dat") << "no entries -2147483648";
    QTest::newRow("quality_largest.dat") << "no entries 2147483647";
    QTest::newRow("list_not_array.dat") << "no entries 1";
    for (const char *failed : {"empty_object.dat", "top_array.dat", "no_quality.dat", "no_list.dat",
             "truncated.dat", "garbage.dat", "missing.dat", "."})
        QTest::newRow(failed) << "failed 0";
}

void TestResolutionFile::read()
{
    QFETCH(QString, expected);
    const ResolutionFile file
        = ResolutionFile::read(QFINDTESTDATA("data/resolution") + '/' + QTest::currentDataTag());
    QString read = QStringList {"failed", "no entries", "read"}.at(int(file.status)) + ' '
        + QString::number(file.quality) + (file.fog ? " fog" : "");
    for (const ResolutionEntry &entry : file.entries)
        read += ' ' + entry.width + 'x' + entry.height;
    QCOMPARE(read, expected);
}

QTEST_GUILESS_MAIN(TestResolutionFile)
#include "tst_resolutionfile.moc"
