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

    QTemporaryDir m_folder;
    std::unique_ptr<SystemInfoDialog> m_dialog;
    BoxAnswerer m_boxes;

    QString text() const { return m_dialog->findChild<QTextBrowser *>()->toPlainText(); }
    QPushButton *button(const char *name) const { return m_dialog->findChild<QPushButton *>(name); }
    QString path() const { return m_folder.filePath("system_info.txt"); }

private slots:
    void init()
    {
        m_dialog = std::make_unique<SystemInfoDialog>(nullptr, m_folder.path());
        m_dialog->show();
        verifyPictures(m_dialog.get());
    }

    void reportShownAndSaved()
    {
        QVERIFY(writeFile(path(), QByteArray(8192, 'x'))); // a save leaves nothing of a longer, older report
        QTest::mouseClick(button("saveButton"), Qt::LeftButton); // the waiting text cannot be saved
        QVERIFY(QTest::qWaitFor([&] { return button("saveButton")->isEnabled(); }, 10000));
        QCOMPARE(readFile(path()), QByteArray(8192, 'x'));
        const SystemInformation info;
        const QString report
            = QString("OS : %1\nCPU : %2\nMemory : %3\nDisplay : %4\nDirectX : %5\nDriver : %6\n"
                      "Driver Version : %7\nVertex Shader Version : %8\nPixel Shader Version : %9\n")
                  .arg(info.getOperatingSystem(), info.getProcessor(), info.getPhysicalMemory(),
                      info.getDisplayDescription(), info.getDirectXVersion(), info.getDisplayDriverName(),
                      info.getDisplayDriverVersion(), QString::number(info.getVertexShaderVersion()),
                      QString::number(info.getPixelShaderVersion()))
            + "Sound : " + info.getSoundDescription() + "\n";
        QCOMPARE(text(), report);
        QTest::mouseClick(button("saveButton"), Qt::LeftButton);
        QCOMPARE(readFile(path()), report.toUtf8()); // UTF-8 without a byte-order mark, line feeds
        VERIFY_MATCHES("Information 確定: [^\n]*", m_boxes.seen().join("\n"));
        // The collection runs once: the timer does not fill the text again.
        m_dialog->findChild<QTextBrowser *>()->setPlainText("edited");
        QTest::qWait(350);
        QCOMPARE(text(), "edited");
    }

    void fullDiskShowsNoBox()
    {
        const int boxes = m_boxes.count();
        QFile::remove(path());
        QVERIFY(QFile::link("/dev/full", path()));
        QVERIFY(QTest::qWaitFor([&] { return button("saveButton")->isEnabled(); }, 10000));
        QTest::mouseClick(button("saveButton"), Qt::LeftButton);
        QTest::qWait(200);
        QCOMPARE(m_boxes.count(), boxes);
    }

    void closingWhileWaitingCollectsNothing()
    {
        const QString waiting = text();
        QTest::mouseClick(button("pushButton"), Qt::LeftButton);
        QVERIFY(!m_dialog->isVisible());
        QTest::qWait(400);
        QCOMPARE(text(), waiting);
        QVERIFY(!button("saveButton")->isEnabled());
    }
};

QTEST_MAIN(TestSystemInfoDialog)
#include "tst_systeminfodialog.moc"
