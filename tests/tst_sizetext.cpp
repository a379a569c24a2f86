#include "Util.h"

#include <QtTest>

class TestSizeText : public QObject
{
    Q_OBJECT

private slots:
    void sizeText_data();
    void sizeText();
};

void TestSizeText::sizeText_data()
{
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QString>("expected");
    QTest::newRow("zero") << Q_INT64_C(0) << "0.00 Bytes";
    QTest::newRow("below KB") << Q_INT64_C(1023) << "1023.00 Bytes";
    QTest::newRow("one KB") << Q_INT64_C(1024) << "1.00 KB";
    QTest::newRow("KB and a half") << Q_INT64_C(1536) << "1.50 KB";
    QTest::newRow("unit chosen before rounding") << Q_INT64_C(1048575) << "1024.00 KB";
    QTest::newRow("one MB") << Q_INT64_C(1048576) << "1.00 MB";
    QTest::newRow("rounds half MB") << Q_INT64_C(1572864) << "1.50 MB";
    QTest::newRow("one GB") << Q_INT64_C(1073741824) << "1.00 GB";
    QTest::newRow("no unit above GB") << Q_INT64_C(5497558138880) << "5120.00 GB";
    QTest::newRow("negative") << Q_INT64_C(-1) << "-1.00 Bytes";
    QTest::newRow("large negative") << Q_INT64_C(-5000000) << "-5000000.00 Bytes";
}

void TestSizeText::sizeText()
{
    QFETCH(qint64, bytes);
    QFETCH(QString, expected);
    QCOMPARE(LTools::sizeText(bytes), expected);
}

QTEST_GUILESS_MAIN(TestSizeText)
#include "tst_sizetext.moc"
