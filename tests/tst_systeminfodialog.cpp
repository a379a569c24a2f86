#include "BoxAnswerer.h"
#include "SystemInfoDialog.h"
#include "SystemInformation.h"

#include <QPushButton>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QtTest>

// The hardware report dialog: its waiting state, the ten report lines and system_info.txt.
class TestSystemInfoDialog : public QObject
{
    Q_OBJECT

private slots:
    void waitsBeforeCollecting();
    void reportLines();
    void savesTheReport();
    void failedSaveShowsNoBox_data();
    void failedSaveShowsNoBox();
    void closingWhileWaitingCollectsNothing();
    void screenshot();

private:
    struct Parts
    {
        QTextBrowser *text;
        QPushButton *close;
        QPushButton *save;
    };
    static Parts parts(SystemInfoDialog &dialog);
    static bool waitForReport(SystemInfoDialog &dialog);
};

namespace {

const QString waitingText = QStringLiteral("資料讀取中....");
const QString reportFile = QStringLiteral("/system_info.txt");

} // namespace

TestSystemInfoDialog::Parts TestSystemInfoDialog::parts(SystemInfoDialog &dialog)
{
    return {dialog.findChild<QTextBrowser *>(QStringLiteral("textBrowser")),
        dialog.findChild<QPushButton *>(QStringLiteral("pushButton")),
        dialog.findChild<QPushButton *>(QStringLiteral("saveButton"))};
}

bool TestSystemInfoDialog::waitForReport(SystemInfoDialog &dialog)
{
    QPushButton *save = parts(dialog).save;
    return save && QTest::qWaitFor([save] { return save->isEnabled(); }, 10000);
}

void TestSystemInfoDialog::waitsBeforeCollecting()
{
    QTemporaryDir folder;
    SystemInfoDialog dialog(nullptr, folder.path());
    const Parts ui = parts(dialog);
    QVERIFY(ui.text && ui.close && ui.save);
    dialog.show();
    QCOMPARE(dialog.windowTitle(), QStringLiteral("硬體訊息"));
    QCOMPARE(ui.text->toPlainText(), waitingText);
    QVERIFY(!ui.save->isEnabled());
    QVERIFY(ui.close->isEnabled());

    // The waiting text can never be saved.
    BoxAnswerer answerer;
    QTest::mouseClick(ui.save, Qt::LeftButton);
    QVERIFY(!QFile::exists(folder.path() + reportFile));

    QElapsedTimer clock;
    clock.start();
    QVERIFY(waitForReport(dialog));
    QVERIFY2(clock.elapsed() >= 80, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(ui.text->toPlainText() != waitingText);
    QCOMPARE(answerer.count(), 0);
}

void TestSystemInfoDialog::reportLines()
{
    QTemporaryDir folder;
    SystemInfoDialog dialog(nullptr, folder.path());
    dialog.show();
    QVERIFY(waitForReport(dialog));
    const Parts ui = parts(dialog);
    const QString text = ui.text->toPlainText();

    const SystemInformation info;
    const QStringList expected {
        QStringLiteral("OS : ") + info.getOperatingSystem(), QStringLiteral("CPU : ") + info.getProcessor(),
        QStringLiteral("Memory : ") + info.getPhysicalMemory(),
        QStringLiteral("Display : ") + info.getDisplayDescription(),
        QStringLiteral("DirectX : ") + info.getDirectXVersion(),
        QStringLiteral("Driver : ") + info.getDisplayDriverName(),
        QStringLiteral("Driver Version : ") + info.getDisplayDriverVersion(),
        QStringLiteral("Vertex Shader Version : ") + QString::number(info.getVertexShaderVersion()),
        QStringLiteral("Pixel Shader Version : ") + QString::number(info.getPixelShaderVersion()),
        QStringLiteral("Sound : ") + info.getSoundDescription(),
        QString(), // after the final line feed
    };
    QCOMPARE(text.split(QLatin1Char('\n')), expected);

    // The collection runs once: the timer does not fill the text again.
    ui.text->setPlainText(QStringLiteral("edited"));
    QTest::qWait(350);
    QCOMPARE(ui.text->toPlainText(), QStringLiteral("edited"));
}

void TestSystemInfoDialog::savesTheReport()
{
    QTemporaryDir folder;
    const QString path = folder.path() + reportFile;
    {
        // An older, longer report: a save must leave nothing of it.
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(8192, 'x'));
    }
    SystemInfoDialog dialog(nullptr, folder.path());
    dialog.show();
    QVERIFY(waitForReport(dialog));
    const Parts ui = parts(dialog);
    const QByteArray expected = ui.text->toPlainText().toUtf8();

    BoxAnswerer answerer;
    for (int save = 1; save <= 2; ++save) {
        QTest::mouseClick(ui.save, Qt::LeftButton);
        QCOMPARE(answerer.count(), save);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), expected);
    }
    QVERIFY(!expected.startsWith("\xEF\xBB\xBF"));
    QVERIFY(!expected.contains('\r'));
    QVERIFY(expected.endsWith('\n'));
    const QList<QByteArray> lines = expected.split('\n');
    QCOMPARE(lines.size(), 11);
    QVERIFY(lines.at(9).startsWith("Sound : "));
    QVERIFY(lines.at(10).isEmpty());

    const BoxAnswerer::Box box = answerer.boxes().first();
    QCOMPARE(box.title, QStringLiteral("訊息提示"));
    QCOMPARE(box.text, QStringLiteral("硬體資訊儲存成功"));
    QCOMPARE(box.icon, QMessageBox::Information);
    QCOMPARE(box.buttons, QStringList {QStringLiteral("確定")});
    QVERIFY(dialog.isVisible());
}

void TestSystemInfoDialog::failedSaveShowsNoBox_data()
{
    QTest::addColumn<QString>("layout");
    QTest::newRow("folder is a regular file") << QStringLiteral("file");
    QTest::newRow("folder is missing") << QStringLiteral("missing");
    QTest::newRow("a folder where the file should be") << QStringLiteral("folder");
    QTest::newRow("disk full after opening") << QStringLiteral("full");
}

void TestSystemInfoDialog::failedSaveShowsNoBox()
{
    QFETCH(QString, layout);
    QTemporaryDir root;
    QString directory = root.path();
    if (layout == QLatin1String("file")) {
        directory = root.filePath(QStringLiteral("game"));
        QFile file(directory);
        QVERIFY(file.open(QIODevice::WriteOnly));
    } else if (layout == QLatin1String("missing")) {
        directory = root.filePath(QStringLiteral("gone"));
    } else if (layout == QLatin1String("folder")) {
        QVERIFY(QDir(root.path()).mkpath(QStringLiteral("system_info.txt/inside")));
    } else {
        if (!QFile::exists(QStringLiteral("/dev/full")))
            QSKIP("no /dev/full here");
        QVERIFY(QFile::link(QStringLiteral("/dev/full"), root.path() + reportFile));
    }

    SystemInfoDialog dialog(nullptr, directory);
    dialog.show();
    QVERIFY(waitForReport(dialog));
    BoxAnswerer answerer;
    QTest::mouseClick(parts(dialog).save, Qt::LeftButton);
    QTest::qWait(200);
    QCOMPARE(answerer.count(), 0);
    QVERIFY(!QFileInfo(directory + reportFile).isFile());
}

void TestSystemInfoDialog::closingWhileWaitingCollectsNothing()
{
    QTemporaryDir folder;
    SystemInfoDialog dialog(nullptr, folder.path());
    dialog.show();
    const Parts ui = parts(dialog);
    QTest::mouseClick(ui.close, Qt::LeftButton);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QTest::qWait(400);
    QCOMPARE(ui.text->toPlainText(), waitingText);
    QVERIFY(!ui.save->isEnabled());
}

// With LAUNCHER_SCREENSHOT set (under a real X server), the dialog with its report as a PNG.
void TestSystemInfoDialog::screenshot()
{
    const QString target = qEnvironmentVariable("LAUNCHER_SCREENSHOT");
    if (target.isEmpty())
        QSKIP("LAUNCHER_SCREENSHOT not set");
    QTemporaryDir folder;
    SystemInfoDialog dialog(nullptr, folder.path());
    dialog.show();
    QVERIFY(waitForReport(dialog));
    QTest::qWait(300);
    // The dialog's own X window: without a window manager it has no frame to show anyway.
    const QStringList arguments {QStringLiteral("-window"), QString::number(dialog.winId()), target};
    QCOMPARE(QProcess::execute(QStringLiteral("import"), arguments), 0);
}

QTEST_MAIN(TestSystemInfoDialog)
#include "tst_systeminfodialog.moc"
