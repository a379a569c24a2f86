#include "main.h"

#include "GameSettings.h"
#include "Launcher.h"
#include "LauncherUpdate.h"
#include "Util.h"

#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QSettings>
#include <QSplashScreen>
#include <QTextStream>
#include <QTranslator>

#include <cstdlib>
#include <cstring>

namespace {

const char LogFileName[] = "debug.log";

QString linePattern(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return QStringLiteral("Debug: %1");
    case QtWarningMsg:
        return QStringLiteral("Warning: %1");
    case QtCriticalMsg:
        return QStringLiteral("Critical: %1");
    case QtFatalMsg:
        return QStringLiteral("Fatal: %1");
    default:
        return QString();
    }
}

} // namespace

void resetLogFile()
{
    QFile log(QString::fromLatin1(LogFileName));
    if (log.open(QIODevice::WriteOnly))
        log.close();
}

void logMessageHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    // Opened and closed per message, so the file is complete even if the process is killed.
    QString pattern = linePattern(type);
    const QString line = pattern.isEmpty() ? QString() : pattern.replace(QLatin1String("%1"), message);
    QFile log(QString::fromLatin1(LogFileName));
    if (log.open(QIODevice::WriteOnly | QIODevice::Append)) {
        QTextStream stream(&log);
        stream.setCodec("UTF-8");
        stream << line << '\n';
        stream.flush();
        log.close();
    }
    if (type == QtFatalMsg)
        std::abort();
}

namespace Startup {

Paths Paths::fromWorkingDirectory()
{
    QDir parent(QDir::currentPath());
    parent.cdUp();
    return forGameDirectory(parent.absolutePath());
}

Paths Paths::forGameDirectory(const QString &gameDir)
{
    Paths paths;
    paths.gameDir = gameDir;
    paths.launcherDir = gameDir + QStringLiteral("/Launcher");
    paths.settingsFile = gameDir + QStringLiteral("/settings.ini");
    paths.detectionTool = gameDir + QStringLiteral("/hardwaredetect.exe");
    paths.newLauncher = paths.launcherDir + QStringLiteral("/newLauncher.exe");
    return paths;
}

RunMode runMode(int argc, char *argv[])
{
    if (argc == 2 && argv[1] && std::strcmp(argv[1], "update") == 0)
        return RunMode::Update;
    return RunMode::Launcher;
}

QString applicationTitle()
{
    return QObject::tr("雲隼紀年-啟動器");
}

bool waitForRunningUpdate()
{
    if (LTools::waitForMutex(MutexName::LauncherUpdate, 5))
        return true;
    LTools::showWarning(applicationTitle() + QObject::tr("更新中"));
    return false;
}

NamedMutex::Handle claimLauncherMutex()
{
    // Test and creation in one step, so two launchers started together cannot both run.
    const NamedMutex::Handle handle = LTools::createOwnedMutex(MutexName::Launcher);
    if (!handle)
        LTools::showWarning(applicationTitle() + QObject::tr("已開啟"));
    return handle;
}

bool waitForLauncherToEnd()
{
    if (LTools::waitForMutex(MutexName::Launcher, 10))
        return true;
    LTools::showWarning(applicationTitle() + QObject::tr("已開啟,請確認是否正常關閉後,再執行更新"));
    return false;
}

NamedMutex::Handle claimUpdateMutex()
{
    const NamedMutex::Handle handle = LTools::createOwnedMutex(MutexName::LauncherUpdate);
    if (!handle)
        LTools::showWarning(applicationTitle() + QObject::tr("更新中"));
    return handle;
}

bool confirmLauncherEnded()
{
    if (LTools::waitForMutex(MutexName::Launcher, 10))
        return true;
    // Unlike the shared warning box, this one does not stay on top.
    LTools::showMessage(QMessageBox::Warning, QObject::tr("警告訊息"),
        applicationTitle() + QObject::tr("已開啟,請確認是否正常關閉後,再執行更新"), QObject::tr("確定"));
    return false;
}

QString qualityWord(int quality)
{
    switch (quality) {
    case 0:
        return QObject::tr("低");
    case 1:
        return QObject::tr("中");
    case 2:
        return QObject::tr("高");
    default:
        return QString();
    }
}

std::unique_ptr<QSplashScreen> runFirstRunConfiguration(const Paths &paths)
{
    QFont font;
    font.setFamily(QStringLiteral("Arial"));
    font.setPixelSize(16);

    auto splash = std::make_unique<QSplashScreen>(QPixmap());
    splash->setFont(font);
    splash->setPixmap(QPixmap(QStringLiteral("images/ui_windows_title2")));
    splash->show();
    splash->showMessage(QObject::tr("初始遊戲配置"), Qt::AlignHCenter | Qt::AlignVCenter, Qt::white);
    QCoreApplication::processEvents();

    if (!LTools::initAllSettings(paths.detectionTool)) {
        qDebug() << "Ini Create Error";
        LTools::showWarning(QObject::tr("初始遊戲配置失敗"));
        return splash;
    }
    if (!QFileInfo::exists(paths.settingsFile)) {
        qDebug() << "Ini File Not Found";
        LTools::showWarning(QObject::tr("初始遊戲配置失敗"));
        return splash;
    }

    QSettings settings(paths.settingsFile, QSettings::IniFormat);
    settings.setIniCodec("UTF-8");
    const int quality = settings.value(SettingsKey::QuickQuality, 2).toInt();

    const QString text = QObject::tr("偵測完畢\n系統建議畫面配置為【") + qualityWord(quality)
        + QStringLiteral("】\n") + QObject::tr("如您想自行調整，可於啟動介面\n上點選【遊戲設置】進行調整。");
    LTools::showMessage(QMessageBox::Information, QObject::tr("訊息提示"), text, QObject::tr("確定"),
        QString(), LTools::OnTop::Yes);
    return splash;
}

void removeLeftoverNewLauncher(const Paths &paths)
{
    if (LTools::mutexExists(MutexName::Launcher) && QFileInfo(paths.newLauncher).isFile())
        LTools::deleteFile(paths.newLauncher);
}

bool handOver(const Paths &paths)
{
    if (QProcess::startDetached(paths.newLauncher, {QStringLiteral("update")}, QDir::currentPath()))
        return true;
    LTools::showWarning(applicationTitle() + QObject::tr("更新失敗,請重新啟動更新"));
    return false;
}

namespace {

int runEventLoop(const Paths &paths)
{
    const int result = QApplication::exec();
    if (result == HandOverExitCode)
        handOver(paths);
    return result;
}

int runLauncherMode(const Paths &paths)
{
    const NamedMutex::Handle mutex = claimLauncherMutex();
    if (!mutex)
        return 0;

    std::unique_ptr<QSplashScreen> splash;
    if (!QFileInfo::exists(paths.settingsFile))
        splash = runFirstRunConfiguration(paths);

    Launcher *window = new Launcher(nullptr); // lives until the process ends
    window->show();
    window->activateWindow();
    if (splash) {
        splash->finish(window);
        splash.reset();
    }

    removeLeftoverNewLauncher(paths);
    const int result = runEventLoop(paths);
    LTools::releaseMutex(mutex);
    return result;
}

int runUpdateMode(const Paths &paths)
{
    if (!waitForLauncherToEnd())
        return 0;
    LauncherUpdate *window = new LauncherUpdate(nullptr); // lives until the process ends
    const NamedMutex::Handle mutex = claimUpdateMutex();
    if (!mutex)
        return 0;
    if (!confirmLauncherEnded())
        return 0; // the process ends, which frees the update mutex
    window->show();

    removeLeftoverNewLauncher(paths);
    const int result = runEventLoop(paths);
    LTools::releaseMutex(mutex);
    return result;
}

} // namespace
} // namespace Startup

int qMain(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const Startup::Paths paths = Startup::Paths::fromWorkingDirectory();

    resetLogFile();
    qInstallMessageHandler(logMessageHandler);
    qDebug() << "Launcher start... ";

    QTranslator translator;
    translator.load(QStringLiteral("launcher_cn.qm"));
    app.installTranslator(&translator);

    if (!Startup::waitForRunningUpdate())
        return 0;
    if (Startup::runMode(argc, argv) == Startup::RunMode::Update)
        return Startup::runUpdateMode(paths);
    return Startup::runLauncherMode(paths);
}
