#include "LogCapture.h"
#include "SystemInformation.h"
#include "platform/SystemInfo.h"

#include <QtTest>

// The POSIX hardware report, read from fake system trees, and the log lines of what it could not read.
class TestSystemInfo : public QObject
{
    Q_OBJECT

private slots:
    void report_data();
    void report();
};

void TestSystemInfo::report_data()
{
    QTest::addColumn<QStringList>("tree"); // below data/sysinfo, then the paths it lacks
    QTest::addColumn<QString>("lines"); // the report's lines in its order, '|' between them
    const QString ubuntu = "Ubuntu 22.04.4 LTS, Linux 6.5.0-27-generic x86_64|"
                           "Intel(R) Core(TM) i5-9400 CPU @ 2.90GHz (4 CPUs)|15921MB RAM|";
    const QString intel = ubuntu + "Intel Corporation CoffeeLake-S GT2 [UHD Graphics 630]|";
    const QString nvidia = ubuntu + "NVIDIA Corporation GP106 [GeForce GTX 1060 6GB]|Vulkan 1.3.277|nvidia|";
    const QString icd = "usr/share/vulkan/icd.d/intel", sound = "|HDA Intel PCH|";
    QTest::newRow("two adapters: the first")
        << QStringList {"two-adapters"} << intel + "Vulkan 1.3.255|i915|6.5.0-27-generic" + sound + "3|3";
    QTest::newRow("driver out of tree")
        << QStringList {"two-adapters", "sys/class/drm/card0"} << nvidia + "535.161.07" + sound + "3|3";
    QTest::newRow("no Vulkan driver for the adapter")
        << QStringList {"two-adapters", icd + "_hasvk_icd.x86_64.json", icd + "_icd.x86_64.json"}
        << intel + "|i915|6.5.0-27-generic" + sound + "0|0";
    // No model name on this board: its SoC or part number is not a processor name.
    QTest::newRow("no adapter") << QStringList {"no-adapter"}
                                << "Debian GNU/Linux 12 (bookworm), Linux 6.1.0-rpi7-rpi-v8||3793MB RAM|||||"
                                   "USB Audio Device|0|0";
    QTest::newRow("no sound card, no PCI database")
        << QStringList {"no-sound"}
        << "Fedora Linux 39 (Workstation Edition), Linux 6.7.9-200.fc39.x86_64|AMD Ryzen 5 5500U with Radeon "
           "Graphics (8 CPUs)|7811MB RAM|Device 1002:164c|Vulkan 1.3.267|amdgpu|6.7.9-200.fc39.x86_64||3|3";
    QTest::newRow("UTF-8 and escapes") << QStringList {"utf8"} << "Deepin 20.9 \"社区版\"||||||||0|0";
    QTest::newRow("nothing") << QStringList {"utf8", "etc"} << "||||||||0|0";
}

void TestSystemInfo::report()
{
    QFETCH(QStringList, tree);
    QFETCH(QString, lines);
    QTemporaryDir root;
    QCOMPARE(
        QProcess::execute("cp", {"-R", QFINDTESTDATA("data/sysinfo/" + tree.first()) + "/.", root.path()}),
        0);
    for (const QString &path : tree.mid(1))
        QVERIFY(QFile::remove(root.filePath(path)) || QDir(root.filePath(path)).removeRecursively());
    const LogCapture log;
    const SystemInformation info(SystemInfo::collectFrom(root.path().toStdString()));
    const QStringList shown {info.getOperatingSystem(), info.getProcessor(), info.getPhysicalMemory(),
        info.getDisplayDescription(), info.getDirectXVersion(), info.getDisplayDriverName(),
        info.getDisplayDriverVersion(), info.getSoundDescription(),
        QString::number(info.getVertexShaderVersion()), QString::number(info.getPixelShaderVersion())};
    QCOMPARE(shown.join('|'), lines);
    // One line per empty text, in the report's line order, the name as plain text.
    const char *names[] = {"szOSExEnglish", "szProcessorEnglish", "szPhysicalMemoryEnglish", "szDescription",
        "szDirectXVersionLongEnglish", "szDriverName", "szDriverVersion", "szDescription"};
    QByteArray expected;
    for (int i = 0; i < 8; ++i)
        expected += shown[i].isEmpty()
            ? "Debug: DxDiag : Get Property [ " + QByteArray(names[i]) + " ] error... \n\n"
            : "";
    QCOMPARE(log.text(), expected);
}

QTEST_GUILESS_MAIN(TestSystemInfo)
#include "tst_systeminfo.moc"
