#include "BoxAnswerer.h"
#include "FormChecks.h"
#include "SystemInfoDialog.h"
#include "SystemInformation.h"
#include "TestFiles.h"

#include <QPushButton>
#include <QTextBrowser>
#include <QtTest>

// The hardware report dialog: its waiting state, the ten report lines and system_info.txt.
class TestSystemInfoDialog : public QObject
{
    Q_OBJECT

private slots:
    void report_data()
    {
        QTest::addColumn<bool>("diskFull");
        QTest::newRow("saved over a longer report") << false;
        // The write fails after the file opened: the player must not be told it was saved.
        QTest::newRow("disk full") << true;
    }
    void report()
    {
        QFETCH(bool, diskFull);
        QTemporaryDir folder;
        const QString path = folder.filePath("system_info.txt");
        QVERIFY(diskFull ? QFile::link("/dev/full", path) : writeFile(path, QByteArray(8192, 'x')));
        SystemInfoDialog dialog(nullptr, folder.path());
        BoxAnswerer boxes;
        dialog.show();
        verifyForm(&dialog);
        auto *save = dialog.findChild<QPushButton *>("saveButton");
        auto *text = dialog.findChild<QTextBrowser *>();
        QTest::mouseClick(save, Qt::LeftButton); // the waiting text cannot be saved
        QVERIFY(QTest::qWaitFor([&] { return save->isEnabled(); }, 10000));
        QCOMPARE(boxes.count(), 0);
        const SystemInformation info;
        const QString report
            = QString("OS : %1\nCPU : %2\nMemory : %3\nDisplay : %4\nDirectX : %5\nDriver : %6\n"
                      "Driver Version : %7\nVertex Shader Version : %8\nPixel Shader Version : %9\n")
                  .arg(info.getOperatingSystem(), info.getProcessor(), info.getPhysicalMemory(),
                      info.getDisplayDescription(), info.getDirectXVersion(), info.getDisplayDriverName(),
                      info.getDisplayDriverVersion(), QString::number(info.getVertexShaderVersion()),
                      QString::number(info.getPixelShaderVersion()))
            + "Sound : " + info.getSoundDescription() + "\n";
        QCOMPARE(text->toPlainText(), report);
        QTest::mouseClick(save, Qt::LeftButton);
        // UTF-8 without a byte-order mark, line feeds as they stand.
        QCOMPARE(QFileInfo(path).isFile() ? readFile(path) : "", diskFull ? "" : report.toUtf8());
        VERIFY_MATCHES(diskFull ? "" : "Information 確定: [^\n]*", boxes.seen().join('\n'));
    }

    void closingWhileWaitingCollectsNothing()
    {
        SystemInfoDialog dialog(nullptr, QDir::tempPath());
        dialog.show();
        const QString waiting = dialog.findChild<QTextBrowser *>()->toPlainText();
        QTest::mouseClick(dialog.findChild<QPushButton *>("pushButton"), Qt::LeftButton);
        QVERIFY(!dialog.isVisible());
        QTest::qWait(400);
        QCOMPARE(dialog.findChild<QTextBrowser *>()->toPlainText(), waiting);
        QVERIFY(!dialog.findChild<QPushButton *>("saveButton")->isEnabled());
    }
};

QTEST_MAIN(TestSystemInfoDialog)
#include "tst_systeminfodialog.moc"
