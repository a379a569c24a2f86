#include "BoxAnswerer.h"
#include "SystemInfoDialog.h"
#include "SystemInformation.h"
#include "TestFiles.h"

#include <QPushButton>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QtTest>

// The hardware report dialog: its waiting state, the ten report lines and system_info.txt.
class TestSystemInfoDialog : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void waitsBeforeCollecting();
    void reportLines();
    void savesTheReport();
    void failedSaveShowsNoBox_data();
    void failedSaveShowsNoBox();
    void closingWhileWaitingCollectsNothing();
    void screenshot();

private:
    // A dialog for a game directory of its own, its report not yet shown.
    std::unique_ptr<QTemporaryDir> folder;
    std::unique_ptr<SystemInfoDialog> dialog;
    QTextBrowser *text = nullptr;
    QPushButton *close = nullptr;
    QPushButton *save = nullptr;
};

namespace {

const QString waitingText = QStringLiteral("資料讀取中....");
const QString reportFile = QStringLiteral("/system_info.txt");

bool showReport(SystemInfoDialog &dialog)
{
    dialog.show();
    QPushButton *save = dialog.findChild<QPushButton *>(QStringLiteral("saveButton"));
    return save && QTest::qWaitFor([save] { return save->isEnabled(); }, 10000);
}

} // namespace

void TestSystemInfoDialog::init()
{
    folder = std::make_unique<QTemporaryDir>();
    dialog = std::make_unique<SystemInfoDialog>(nullptr, folder->path());
    text = dialog->findChild<QTextBrowser *>(QStringLiteral("textBrowser"));
    close = dialog->findChild<QPushButton *>(QStringLiteral("pushButton"));
    save = dialog->findChild<QPushButton *>(QStringLiteral("saveButton"));
    QVERIFY(text && close && save);
}

void TestSystemInfoDialog::waitsBeforeCollecting()
{
    dialog->show();
    QCOMPARE(dialog->windowTitle(), QStringLiteral("硬體訊息"));
    QCOMPARE(text->toPlainText(), waitingText);
    QVERIFY(!save->isEnabled());
    QVERIFY(close->isEnabled());

    // The waiting text can never be saved.
    BoxAnswerer answerer;
    QTest::mouseClick(save, Qt::LeftButton);
    QVERIFY(!QFile::exists(folder->path() + reportFile));

    QElapsedTimer clock;
    clock.start();
    QVERIFY(showReport(*dialog));
    QVERIFY2(clock.elapsed() >= 80, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(text->toPlainText() != waitingText);
    QCOMPARE(answerer.count(), 0);
}

void TestSystemInfoDialog::reportLines()
{
    QVERIFY(showReport(*dialog));
    const SystemInformation info;
    const QStringList values {info.getOperatingSystem(), info.getProcessor(), info.getPhysicalMemory(),
        info.getDisplayDescription(), info.getDirectXVersion(), info.getDisplayDriverName(),
        info.getDisplayDriverVersion(), QString::number(info.getVertexShaderVersion()),
        QString::number(info.getPixelShaderVersion()), info.getSoundDescription()};
    const QStringList labels {"OS", "CPU", "Memory", "Display", "DirectX", "Driver", "Driver Version",
        "Vertex Shader Version", "Pixel Shader Version", "Sound"};
    QStringList expected;
    for (int i = 0; i < labels.size(); ++i)
        expected << labels.at(i) + QStringLiteral(" : ") + values.at(i);
    expected << QString(); // after the final line feed
    QCOMPARE(text->toPlainText().split(QLatin1Char('\n')), expected);

    // The collection runs once: the timer does not fill the text again.
    text->setPlainText(QStringLiteral("edited"));
    QTest::qWait(350);
    QCOMPARE(text->toPlainText(), QStringLiteral("edited"));
}

void TestSystemInfoDialog::savesTheReport()
{
    // An older, longer report: a save must leave nothing of it.
    const QString path = folder->path() + reportFile;
    QVERIFY(writeFile(path, QByteArray(8192, 'x')));
    QVERIFY(showReport(*dialog));
    const QByteArray expected = text->toPlainText().toUtf8();

    BoxAnswerer answerer;
    for (int saves = 1; saves <= 2; ++saves) {
        QTest::mouseClick(save, Qt::LeftButton);
        QCOMPARE(answerer.count(), saves);
        QCOMPARE(readFile(path), expected);
    }
    QVERIFY(!expected.startsWith("\xEF\xBB\xBF"));
    QVERIFY(!expected.contains('\r'));
    const QList<QByteArray> lines = expected.split('\n');
    QCOMPARE(lines.size(), 11);
    QVERIFY(lines.at(9).startsWith("Sound : "));
    QVERIFY(expected.endsWith('\n'));

    const BoxAnswerer::Box box = answerer.boxes().first();
    QCOMPARE(box.title, QStringLiteral("訊息提示"));
    QCOMPARE(box.text, QStringLiteral("硬體資訊儲存成功"));
    QCOMPARE(box.icon, QMessageBox::Information);
    QCOMPARE(box.buttons, QStringList {QStringLiteral("確定")});
    QVERIFY(dialog->isVisible());
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
        QVERIFY(writeFile(directory, QByteArray()));
    } else if (layout == QLatin1String("missing")) {
        directory = root.filePath(QStringLiteral("gone"));
    } else if (layout == QLatin1String("folder")) {
        QVERIFY(QDir(root.path()).mkpath(QStringLiteral("system_info.txt/inside")));
    } else {
        if (!QFile::exists(QStringLiteral("/dev/full")))
            QSKIP("no /dev/full here");
        QVERIFY(QFile::link(QStringLiteral("/dev/full"), root.path() + reportFile));
    }

    SystemInfoDialog other(nullptr, directory);
    QVERIFY(showReport(other));
    BoxAnswerer answerer;
    QTest::mouseClick(other.findChild<QPushButton *>(QStringLiteral("saveButton")), Qt::LeftButton);
    QTest::qWait(200);
    QCOMPARE(answerer.count(), 0);
    QVERIFY(!QFileInfo(directory + reportFile).isFile());
}

void TestSystemInfoDialog::closingWhileWaitingCollectsNothing()
{
    dialog->show();
    QTest::mouseClick(close, Qt::LeftButton);
    QVERIFY(!dialog->isVisible());
    QCOMPARE(dialog->result(), int(QDialog::Accepted));
    QTest::qWait(400);
    QCOMPARE(text->toPlainText(), waitingText);
    QVERIFY(!save->isEnabled());
}

// With LAUNCHER_SCREENSHOT set (under a real X server), the dialog with its report as a PNG.
void TestSystemInfoDialog::screenshot()
{
    const QString target = qEnvironmentVariable("LAUNCHER_SCREENSHOT");
    if (target.isEmpty())
        QSKIP("LAUNCHER_SCREENSHOT not set");
    QVERIFY(showReport(*dialog));
    QTest::qWait(300);
    // The dialog's own X window: without a window manager it has no frame to show anyway.
    const QStringList arguments {QStringLiteral("-window"), QString::number(dialog->winId()), target};
    QCOMPARE(QProcess::execute(QStringLiteral("import"), arguments), 0);
}

QTEST_MAIN(TestSystemInfoDialog)
#include "tst_systeminfodialog.moc"
