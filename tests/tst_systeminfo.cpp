#include "SystemInformation.h"
#include "platform/SystemInfo.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

// The POSIX hardware report, read from fake system trees (tests/data/sysinfo) and once from
// this machine, and the log lines of the properties that could not be read.
class TestSystemInfo : public QObject
{
    Q_OBJECT

private slots:
    void report_data();
    void report();
    void adapter_data();
    void adapter();
    void textIsUtf8();
    void unreadablePropertiesAreLogged();
    void thisMachine();

private:
    static QString fixture(const QString &name);
};

namespace {

QStringList captured;

void captureMessage(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtDebugMsg)
        captured.append(message);
}

QStringList reportLines(const SystemInformation &info)
{
    return {info.getOperatingSystem(), info.getProcessor(), info.getPhysicalMemory(),
        info.getDirectXVersion(), info.getDisplayDescription(), info.getDisplayDriverName(),
        info.getDisplayDriverVersion(), info.getSoundDescription(),
        QString::number(info.getVertexShaderVersion()), QString::number(info.getPixelShaderVersion())};
}

QStringList unreadable(const SystemInfo::Report &report)
{
    QStringList names;
    for (const std::string &name : report.unreadableProperties)
        names.append(QString::fromStdString(name));
    return names;
}

bool copyTree(const QString &from, const QString &to)
{
    QDir source(from);
    if (!QDir().mkpath(to))
        return false;
    for (const QFileInfo &entry :
        source.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)) {
        const QString target = to + QLatin1Char('/') + entry.fileName();
        if (entry.isDir() ? !copyTree(entry.filePath(), target) : !QFile::copy(entry.filePath(), target))
            return false;
    }
    return true;
}

// "-path" removes a file or folder of the tree, "path=content" writes a file.
bool applyChanges(const QString &root, const QStringList &changes)
{
    for (const QString &change : changes) {
        if (change.startsWith(QLatin1Char('-'))) {
            const QString path = root + QLatin1Char('/') + change.mid(1);
            if (!(QFileInfo(path).isDir() ? QDir(path).removeRecursively() : QFile::remove(path)))
                return false;
            continue;
        }
        const int equals = change.indexOf(QLatin1Char('='));
        QFile file(root + QLatin1Char('/') + change.left(equals));
        if (!QDir().mkpath(QFileInfo(file).path()))
            return false;
        if (!file.open(QIODevice::WriteOnly) || file.write(change.mid(equals + 1).toUtf8()) < 0)
            return false;
    }
    return true;
}

} // namespace

QString TestSystemInfo::fixture(const QString &name)
{
    return QFINDTESTDATA(QStringLiteral("data/sysinfo/") + name);
}

void TestSystemInfo::report_data()
{
    QTest::addColumn<QString>("tree");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>("unreadable");

    QTest::newRow("two adapters: the first is reported")
        << fixture(QStringLiteral("two-adapters"))
        << QStringList {QStringLiteral("Ubuntu 22.04.4 LTS, Linux 6.5.0-27-generic x86_64"),
               QStringLiteral("Intel(R) Core(TM) i5-9400 CPU @ 2.90GHz (4 CPUs)"),
               QStringLiteral("15921MB RAM"), QStringLiteral("Vulkan 1.3.255"),
               QStringLiteral("Intel Corporation CoffeeLake-S GT2 [UHD Graphics 630]"),
               QStringLiteral("i915"), QStringLiteral("6.5.0-27-generic"), QStringLiteral("HDA Intel PCH"),
               QStringLiteral("3"), QStringLiteral("3")}
        << QStringList();
    // No model name on this board: its SoC or part number is not a processor name.
    QTest::newRow("no adapter")
        << fixture(QStringLiteral("no-adapter"))
        << QStringList {QStringLiteral("Debian GNU/Linux 12 (bookworm), Linux 6.1.0-rpi7-rpi-v8"), QString(),
               QStringLiteral("3793MB RAM"), QString(), QString(), QString(), QString(),
               QStringLiteral("USB Audio Device"), QStringLiteral("0"), QStringLiteral("0")}
        << QStringList {QStringLiteral("szProcessorEnglish"), QStringLiteral("szDirectXVersionLongEnglish"),
               QStringLiteral("szDescription"), QStringLiteral("szDriverName"),
               QStringLiteral("szDriverVersion")};
    QTest::newRow("no sound card, no PCI database")
        << fixture(QStringLiteral("no-sound"))
        << QStringList {QStringLiteral("Fedora Linux 39 (Workstation Edition), Linux 6.7.9-200.fc39.x86_64"),
               QStringLiteral("AMD Ryzen 5 5500U with Radeon Graphics (8 CPUs)"),
               QStringLiteral("7811MB RAM"), QStringLiteral("Vulkan 1.3.267"),
               QStringLiteral("Device 1002:164c"), QStringLiteral("amdgpu"),
               QStringLiteral("6.7.9-200.fc39.x86_64"), QString(), QStringLiteral("3"), QStringLiteral("3")}
        << QStringList {QStringLiteral("szDescription")};
    QTest::newRow("nothing readable")
        << QStringLiteral("/nonexistent-root")
        << QStringList {QString(), QString(), QString(), QString(), QString(), QString(), QString(),
               QString(), QStringLiteral("0"), QStringLiteral("0")}
        << QStringList {QStringLiteral("szOSExEnglish"), QStringLiteral("szProcessorEnglish"),
               QStringLiteral("szPhysicalMemoryEnglish"), QStringLiteral("szDirectXVersionLongEnglish"),
               QStringLiteral("szDescription"), QStringLiteral("szDriverName"),
               QStringLiteral("szDriverVersion"), QStringLiteral("szDescription")};
}

void TestSystemInfo::report()
{
    QFETCH(QString, tree);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, unreadable);
    QVERIFY(tree.startsWith(QLatin1String("/nonexistent")) || QFileInfo(tree).isDir());
    const SystemInfo::Report report = SystemInfo::collectFrom(tree.toStdString());
    QCOMPARE(reportLines(SystemInformation(report)), lines);
    QCOMPARE(::unreadable(report), unreadable);
}

void TestSystemInfo::adapter_data()
{
    QTest::addColumn<QStringList>("changes");
    QTest::addColumn<QStringList>("lines"); // description, driver, version, API, shaders

    QTest::newRow("driver with its own version, out of tree")
        << QStringList {QStringLiteral("-sys/class/drm/card0")}
        << QStringList {QStringLiteral("NVIDIA Corporation GP106 [GeForce GTX 1060 6GB]"),
               QStringLiteral("nvidia"), QStringLiteral("535.161.07"), QStringLiteral("Vulkan 1.3.277"),
               QStringLiteral("3")};
    QTest::newRow("out-of-tree driver without a version")
        << QStringList {QStringLiteral("-sys/class/drm/card0"), QStringLiteral("-sys/module/nvidia/version")}
        << QStringList {QStringLiteral("NVIDIA Corporation GP106 [GeForce GTX 1060 6GB]"),
               QStringLiteral("nvidia"), QString(), QStringLiteral("Vulkan 1.3.277"), QStringLiteral("3")};
    QTest::newRow("device missing from the PCI database")
        << QStringList {QStringLiteral("sys/class/drm/card0/device/uevent=DRIVER=i915\nPCI_ID=8086:9BC8\n")}
        << QStringList {QStringLiteral("Intel Corporation Device 9bc8"), QStringLiteral("i915"),
               QStringLiteral("6.5.0-27-generic"), QStringLiteral("Vulkan 1.3.255"), QStringLiteral("3")};
    QTest::newRow("only one Intel Vulkan driver installed")
        << QStringList {QStringLiteral("-usr/share/vulkan/icd.d/intel_hasvk_icd.x86_64.json")}
        << QStringList {QStringLiteral("Intel Corporation CoffeeLake-S GT2 [UHD Graphics 630]"),
               QStringLiteral("i915"), QStringLiteral("6.5.0-27-generic"), QStringLiteral("Vulkan 1.3.274"),
               QStringLiteral("3")};
    QTest::newRow("no Vulkan driver for the adapter: no API, no shaders")
        << QStringList {QStringLiteral("-usr/share/vulkan/icd.d/intel_hasvk_icd.x86_64.json"),
               QStringLiteral("-usr/share/vulkan/icd.d/intel_icd.x86_64.json")}
        << QStringList {QStringLiteral("Intel Corporation CoffeeLake-S GT2 [UHD Graphics 630]"),
               QStringLiteral("i915"), QStringLiteral("6.5.0-27-generic"), QString(), QStringLiteral("0")};
    QTest::newRow("device without a driver")
        << QStringList {QStringLiteral("sys/class/drm/card0/device/uevent=PCI_ID=8086:3E92\n")}
        << QStringList {QStringLiteral("Intel Corporation CoffeeLake-S GT2 [UHD Graphics 630]"), QString(),
               QString(), QString(), QStringLiteral("0")};
    QTest::newRow("unknown vendor, broken Vulkan manifest")
        << QStringList {QStringLiteral("sys/class/drm/card0/device/uevent=DRIVER=i915\nPCI_ID=1AF4:1050\n"),
               QStringLiteral("usr/share/vulkan/icd.d/intel_icd.x86_64.json={\"ICD\": {\"library_path\": "),
               QStringLiteral("-usr/share/vulkan/icd.d/intel_hasvk_icd.x86_64.json")}
        << QStringList {QStringLiteral("Device 1af4:1050"), QStringLiteral("i915"),
               QStringLiteral("6.5.0-27-generic"), QString(), QStringLiteral("0")};
}

void TestSystemInfo::adapter()
{
    QFETCH(QStringList, changes);
    QFETCH(QStringList, lines);
    QTemporaryDir root;
    QVERIFY(copyTree(fixture(QStringLiteral("two-adapters")), root.path()));
    QVERIFY(applyChanges(root.path(), changes));
    const SystemInformation info(SystemInfo::collectFrom(root.path().toStdString()));
    const QStringList shown {info.getDisplayDescription(), info.getDisplayDriverName(),
        info.getDisplayDriverVersion(), info.getDirectXVersion(),
        QString::number(info.getVertexShaderVersion())};
    QCOMPARE(shown, lines);
    QCOMPARE(info.getPixelShaderVersion(), info.getVertexShaderVersion());
}

void TestSystemInfo::textIsUtf8()
{
    QTemporaryDir root;
    QVERIFY(applyChanges(root.path(),
        {QStringLiteral("etc/os-release=PRETTY_NAME=\"Deepin 20.9 \\\"社区版\\\"\"\nNAME=x\n")}));
    const SystemInformation info(SystemInfo::collectFrom(root.path().toStdString()));
    QCOMPARE(info.getOperatingSystem(), QStringLiteral("Deepin 20.9 \"社区版\""));
}

void TestSystemInfo::unreadablePropertiesAreLogged()
{
    SystemInfo::Report report;
    report.processor = "CPU";
    report.unreadableProperties = {"szOSExEnglish", "szDescription"};
    captured.clear();
    const QtMessageHandler previous = qInstallMessageHandler(captureMessage);
    {
        const SystemInformation info(report);
        QCOMPARE(info.getProcessor(), QStringLiteral("CPU"));
        QVERIFY(info.getOperatingSystem().isEmpty());
    }
    qInstallMessageHandler(previous);
    // The trailing line feed leaves an empty line after each message in debug.log.
    QCOMPARE(captured,
        QStringList({QStringLiteral("DxDiag : Get Property [ \"szOSExEnglish\" ] error... \n"),
            QStringLiteral("DxDiag : Get Property [ \"szDescription\" ] error... \n")}));
}

void TestSystemInfo::thisMachine()
{
    captured.clear();
    const QtMessageHandler previous = qInstallMessageHandler(captureMessage);
    const SystemInformation info;
    qInstallMessageHandler(previous);
    const QStringList lines = reportLines(info);
    qInfo().noquote() << lines.join(QStringLiteral(" | "));

    QFile release(QStringLiteral("/proc/sys/kernel/osrelease"));
    QVERIFY(release.open(QIODevice::ReadOnly));
    QVERIFY2(info.getOperatingSystem().contains(QString::fromUtf8(release.readAll().trimmed())),
        qPrintable(info.getOperatingSystem()));
    QVERIFY(!info.getProcessor().isEmpty());
    const QRegularExpressionMatch memory
        = QRegularExpression(QStringLiteral("^(\\d+)MB RAM$")).match(info.getPhysicalMemory());
    QVERIFY2(memory.hasMatch(), qPrintable(info.getPhysicalMemory()));
    const qint64 megabytes = qint64(sysconf(_SC_PHYS_PAGES)) * sysconf(_SC_PAGESIZE) / (1024 * 1024);
    QVERIFY2(qAbs(memory.captured(1).toLongLong() - megabytes) <= 1, qPrintable(QString::number(megabytes)));

    const bool hasCard = !QDir(QStringLiteral("/sys/class/drm"))
                              .entryList({QStringLiteral("card[0-9]*")}, QDir::AllEntries)
                              .filter(QRegularExpression(QStringLiteral("^card\\d+$")))
                              .isEmpty();
    QCOMPARE(!info.getDisplayDriverName().isEmpty() || !info.getDisplayDescription().isEmpty(), hasCard);
    QCOMPARE(info.getVertexShaderVersion() == 0, info.getDirectXVersion().isEmpty());
    // One log line per empty text, no more.
    QCOMPARE(captured.size(), int(std::count_if(lines.begin(), lines.begin() + 8, [](const QString &line) {
        return line.isEmpty();
    })));
}

QTEST_GUILESS_MAIN(TestSystemInfo)
#include "tst_systeminfo.moc"
