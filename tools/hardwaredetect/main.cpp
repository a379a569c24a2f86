// Stand-in for the game's hardware detection tool: writes settings.ini and resolution.dat
// beside its own executable, with a recommendation derived from this machine.

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QScreen>
#include <QSettings>
#include <QSize>
#include <QThread>

#include <memory>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif
#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

const QSize StandardSizes[] = {
    {1024, 768},
    {1152, 864},
    {1280, 720},
    {1280, 800},
    {1280, 1024},
    {1366, 768},
    {1440, 900},
    {1600, 900},
    {1680, 1050},
    {1920, 1080},
    {1920, 1200},
    {2560, 1440},
    {3840, 2160},
};

bool hasDisplay()
{
#ifdef Q_OS_WIN
    return true; // a Windows desktop session always has one
#else
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
#endif
}

QSize primaryScreenSize()
{
    if (auto *gui = qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        if (QScreen *screen = gui->primaryScreen())
            return screen->size();
    }
    return {};
}

QList<QSize> availableSizes(const QSize &screen)
{
    QList<QSize> sizes;
    for (const QSize &size : StandardSizes) {
        if (!screen.isValid() || (size.width() <= screen.width() && size.height() <= screen.height()))
            sizes.append(size);
    }
    if (sizes.isEmpty())
        sizes.append(StandardSizes[0]); // 1024 x 768 at least
    return sizes;
}

qint64 physicalMemoryMiB()
{
#ifdef Q_OS_UNIX
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages > 0 && pageSize > 0)
        return qint64(pages) * pageSize / (1024 * 1024);
#elif defined(Q_OS_WIN)
    MEMORYSTATUSEX status {};
    status.dwLength = sizeof status;
    if (GlobalMemoryStatusEx(&status))
        return qint64(status.ullTotalPhys / (1024 * 1024));
#endif
    return 0;
}

// 2 (high) for a machine with 8 GiB and 4 threads, 1 (medium) for 4 GiB and 2 threads, else 0.
int recommendedQuality()
{
    const qint64 memory = physicalMemoryMiB();
    const int threads = QThread::idealThreadCount();
    if (memory >= 8 * 1024 && threads >= 4)
        return 2;
    if (memory >= 4 * 1024 && threads >= 2)
        return 1;
    return 0;
}

bool writeSettings(const QString &path, int quality, const QSize &size)
{
    QSettings settings(path, QSettings::IniFormat);
    settings.setIniCodec("UTF-8");
    settings.setValue(QStringLiteral("Video/ResolutionWidth"), size.width());
    settings.setValue(QStringLiteral("Video/ResolutionHeight"), size.height());
    settings.setValue(QStringLiteral("Video/FullScreen"), true);
    settings.setValue(QStringLiteral("Video/QuickQuality"), quality);
    settings.setValue(QStringLiteral("Video/Fog"), quality >= 2);
    if (!settings.contains(QStringLiteral("Settings/Version")))
        settings.setValue(QStringLiteral("Settings/Version"), QStringLiteral("1.0"));
    settings.sync();
    return settings.status() == QSettings::NoError;
}

bool writeResolutions(const QString &path, int quality, const QList<QSize> &sizes)
{
    QJsonArray list;
    for (const QSize &size : sizes) {
        list.append(QJsonObject {{QStringLiteral("Width"), QString::number(size.width())},
            {QStringLiteral("Height"), QString::number(size.height())}});
    }
    const QJsonObject root {{QStringLiteral("defualtQuilty"), quality},
        {QStringLiteral("defualtEnableFog"), quality >= 2}, {QStringLiteral("outputResolution"), list}};
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QJsonDocument(root).toJson(QJsonDocument::Indented));
    return file.commit();
}

} // namespace

int main(int argc, char *argv[])
{
    std::unique_ptr<QCoreApplication> app;
    if (hasDisplay())
        app = std::make_unique<QGuiApplication>(argc, argv);
    else
        app = std::make_unique<QCoreApplication>(argc, argv);

    const QStringList arguments = QCoreApplication::arguments().mid(1);
    const bool generateIni = arguments.contains(QLatin1String("generateIni"));
    const bool resolution = arguments.contains(QLatin1String("resolution"));
    if (!generateIni && !resolution) {
        qWarning("usage: hardwaredetect.exe [generateIni] [resolution]");
        return 2;
    }

    const QDir home(QCoreApplication::applicationDirPath());
    const int quality = recommendedQuality();
    const QSize screen = primaryScreenSize();
    const bool screenKnown = screen.isValid();
    const QList<QSize> sizes = availableSizes(screen);

    bool ok = true;
    if (generateIni)
        ok = writeSettings(home.filePath(QStringLiteral("settings.ini")), quality,
                 screenKnown ? sizes.last() : StandardSizes[0])
            && ok;
    if (resolution)
        ok = writeResolutions(home.filePath(QStringLiteral("resolution.dat")), quality, sizes) && ok;
    return ok ? 0 : 1;
}
