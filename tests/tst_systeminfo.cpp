#include "SystemInformation.h"
#include "TestFiles.h"
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

// Fields of one text, '|' between them.
QStringList fields(const char *text, char separator = '|')
{
    return QString::fromUtf8(text).split(QLatin1Char(separator));
}

// The name streamed as plain text, then a line feed: debug.log shows an empty line after it.
QStringList logLines(const QStringList &unreadable)
{
    QStringList lines;
    for (const QString &name : unreadable)
        lines.append(QStringLiteral("DxDiag : Get Property [ %1 ] error... \n").arg(name));
    return lines;
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
        if (!writeFile(root + QLatin1Char('/') + change.left(equals), change.mid(equals + 1).toUtf8()))
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
        << fields("Ubuntu 22.04.4 LTS, Linux 6.5.0-27-generic x86_64|"
                  "Intel(R) Core(TM) i5-9400 CPU @ 2.90GHz (4 CPUs)|15921MB RAM|Vulkan 1.3.255|"
                  "Intel Corporation CoffeeLake-S GT2 [UHD Graphics 630]|i915|6.5.0-27-generic|"
                  "HDA Intel PCH|3|3")
        << QStringList();
    // No model name on this board: its SoC or part number is not a processor name.
    QTest::newRow("no adapter")
        << fixture(QStringLiteral("no-adapter"))
        << fields(
               "Debian GNU/Linux 12 (bookworm), Linux 6.1.0-rpi7-rpi-v8||3793MB RAM|||||USB Audio Device|0|0")
        << fields(
               "szProcessorEnglish|szDescription|szDirectXVersionLongEnglish|szDriverName|szDriverVersion");
    QTest::newRow("no sound card, no PCI database")
        << fixture(QStringLiteral("no-sound"))
        << fields("Fedora Linux 39 (Workstation Edition), Linux 6.7.9-200.fc39.x86_64|"
                  "AMD Ryzen 5 5500U with Radeon Graphics (8 CPUs)|7811MB RAM|Vulkan 1.3.267|"
                  "Device 1002:164c|amdgpu|6.7.9-200.fc39.x86_64||3|3")
        << fields("szDescription");
    QTest::newRow("nothing readable")
        << QStringLiteral("/nonexistent-root") << fields("||||||||0|0")
        << fields("szOSExEnglish|szProcessorEnglish|szPhysicalMemoryEnglish|szDescription|"
                  "szDirectXVersionLongEnglish|szDriverName|szDriverVersion|szDescription");
}

void TestSystemInfo::report()
{
    QFETCH(QString, tree);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, unreadable);
    QVERIFY(tree.startsWith(QLatin1String("/nonexistent")) || QFileInfo(tree).isDir());
    captured.clear();
    const QtMessageHandler previous = qInstallMessageHandler(captureMessage);
    const SystemInformation info(SystemInfo::collectFrom(tree.toStdString()));
    qInstallMessageHandler(previous);
    QCOMPARE(reportLines(info), lines);
    // In the report's line order, one per unreadable text.
    QCOMPARE(captured, logLines(unreadable));
}

void TestSystemInfo::adapter_data()
{
    QTest::addColumn<QStringList>("changes");
    QTest::addColumn<QStringList>("lines"); // description, driver, version, API, shaders
    const QString intel = QStringLiteral("Intel Corporation CoffeeLake-S GT2 [UHD Graphics 630]|i915|");
    const QString nvidia = QStringLiteral("NVIDIA Corporation GP106 [GeForce GTX 1060 6GB]|nvidia|");
    const QString hasvk = QStringLiteral("-usr/share/vulkan/icd.d/intel_hasvk_icd.x86_64.json");

    QTest::newRow("driver with its own version, out of tree")
        << fields("-sys/class/drm/card0") << (nvidia + "535.161.07|Vulkan 1.3.277|3").split('|');
    QTest::newRow("out-of-tree driver without a version")
        << fields("-sys/class/drm/card0,-sys/module/nvidia/version", ',')
        << (nvidia + "|Vulkan 1.3.277|3").split('|');
    QTest::newRow("device missing from the PCI database")
        << fields("sys/class/drm/card0/device/uevent=DRIVER=i915\nPCI_ID=8086:9BC8\n")
        << fields("Intel Corporation Device 9bc8|i915|6.5.0-27-generic|Vulkan 1.3.255|3");
    QTest::newRow("only one Intel Vulkan driver installed")
        << QStringList {hasvk} << (intel + "6.5.0-27-generic|Vulkan 1.3.274|3").split('|');
    QTest::newRow("no Vulkan driver for the adapter: no API, no shaders")
        << QStringList {hasvk, QStringLiteral("-usr/share/vulkan/icd.d/intel_icd.x86_64.json")}
        << (intel + "6.5.0-27-generic||0").split('|');
    QTest::newRow("device without a driver")
        << fields("sys/class/drm/card0/device/uevent=PCI_ID=8086:3E92\n")
        << fields("Intel Corporation CoffeeLake-S GT2 [UHD Graphics 630]||||0");
    QTest::newRow("unknown vendor, broken Vulkan manifest") << QStringList {
        QStringLiteral("sys/class/drm/card0/device/uevent=DRIVER=i915\nPCI_ID=1AF4:1050\n"),
        QStringLiteral("usr/share/vulkan/icd.d/intel_icd.x86_64.json={\"ICD\": {\"library_path\": "),
        hasvk} << fields("Device 1af4:1050|i915|6.5.0-27-generic||0");
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
