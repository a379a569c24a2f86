#include "Startup.h"

#include "Boxes.h"
#include "GameSettings.h"
#include "Launcher.h"
#include "LauncherUpdate.h"
#include "Logging.h"
#include "Util.h"

#include <QApplication>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QSplashScreen>
#include <QTimer>

#include <cstring>

namespace Startup {

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

namespace {

// Test and creation in one step, so two processes started together cannot both run. A guard
// that cannot be made (no lock folder) is not another instance: the process runs unguarded.
std::optional<NamedMutex::Handle> claimGuard(const QString &name, const QString &refusal)
{
    const NamedMutex::Claim claim = LTools::claimMutex(name);
    switch (claim.outcome) {
    case NamedMutex::Claim::Outcome::Owned:
        return claim.handle;
    case NamedMutex::Claim::Outcome::Unavailable:
        qCWarning(lcStartup).noquote() << "Cannot create" << name + QLatin1Char(':')
                                       << QString::fromStdString(claim.cause) << "- running without it";
        return NamedMutex::Handle(0);
    case NamedMutex::Claim::Outcome::Held:
        break;
    }
    LTools::showWarning(applicationTitle() + refusal);
    return std::nullopt;
}

} // namespace

std::optional<NamedMutex::Handle> claimLauncherMutex()
{
    return claimGuard(MutexName::Launcher, QObject::tr("已開啟"));
}

bool waitForLauncherToEnd()
{
    if (LTools::waitForMutex(MutexName::Launcher, 10))
        return true;
    LTools::showWarning(applicationTitle() + QObject::tr("已開啟,請確認是否正常關閉後,再執行更新"));
    return false;
}

std::optional<NamedMutex::Handle> claimUpdateMutex()
{
    return claimGuard(MutexName::LauncherUpdate, QObject::tr("更新中"));
}

bool confirmLauncherEnded()
{
    if (LTools::waitForMutex(MutexName::Launcher, 10))
        return true;
    // Unlike the shared warning box, this one does not stay on top.
    Boxes::show(QMessageBox::Warning, QObject::tr("警告訊息"),
        applicationTitle() + QObject::tr("已開啟,請確認是否正常關閉後,再執行更新"), QObject::tr("確定"));
    return false;
}

std::unique_ptr<QSplashScreen> runFirstRunConfiguration(const GamePaths &paths)
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
        qCDebug(lcStartup) << "Ini Create Error";
        LTools::showWarning(QObject::tr("初始遊戲配置失敗"));
        return splash;
    }
    if (!QFileInfo::exists(paths.settingsFile)) {
        qCDebug(lcStartup) << "Ini File Not Found";
        LTools::showWarning(QObject::tr("初始遊戲配置失敗"));
        return splash;
    }

    QSettings settings(paths.settingsFile, QSettings::IniFormat);
    settings.setIniCodec("UTF-8");
    const int quality = settings.value(SettingsKey::QuickQuality, 2).toInt();

    const QString text = QObject::tr("偵測完畢\n系統建議畫面配置為【") + qualityWord(quality, "QObject")
        + QStringLiteral("】\n") + QObject::tr("如您想自行調整，可於啟動介面\n上點選【遊戲設置】進行調整。");
    Boxes::show(QMessageBox::Information, QObject::tr("訊息提示"), text, QObject::tr("確定"), QString(),
        Boxes::OnTop::Yes);
    return splash;
}

void removeLeftoverNewLauncher(const GamePaths &paths)
{
    if (!LTools::mutexExists(MutexName::Launcher) || !QFileInfo(paths.newLauncher).isFile()
        || LTools::deleteFile(paths.newLauncher))
        return;
    // Windows refuses to delete the program of a process that has not quite ended, and the
    // update mode starts this launcher just before it ends: try again for a while.
    auto *retry = new QTimer(QCoreApplication::instance());
    QObject::connect(retry, &QTimer::timeout, retry, [retry, path = paths.newLauncher, left = 50]() mutable {
        const bool removed = LTools::deleteFile(path);
        if (removed || --left == 0) {
            if (!removed)
                qCWarning(lcStartup).noquote() << "Cannot remove" << path;
            retry->stop();
            retry->deleteLater();
        }
    });
    retry->start(200);
}

bool handOver(const GamePaths &paths)
{
    if (QProcess::startDetached(paths.newLauncher, {QStringLiteral("update")}, QDir::currentPath()))
        return true;
    LTools::showWarning(applicationTitle() + QObject::tr("更新失敗,請重新啟動更新"));
    return false;
}

namespace {

int runEventLoop(const GamePaths &paths)
{
    const int result = QApplication::exec();
    if (result == Launcher::HandOverExitCode)
        handOver(paths);
    return result;
}

} // namespace

int runLauncherMode(const GamePaths &paths)
{
    const std::optional<NamedMutex::Handle> mutex = claimLauncherMutex();
    if (!mutex)
        return 0;

    std::unique_ptr<QSplashScreen> splash;
    if (!QFileInfo::exists(paths.settingsFile))
        splash = runFirstRunConfiguration(paths);

    Launcher window(paths);
    window.show();
    window.activateWindow();
    if (splash) {
        splash->finish(&window);
        splash.reset();
    }

    removeLeftoverNewLauncher(paths);
    const int result = runEventLoop(paths);
    LTools::releaseMutex(*mutex);
    return result;
}

int runUpdateMode(const GamePaths &paths)
{
    if (!waitForLauncherToEnd())
        return 0;
    LauncherUpdate window(paths);
    const std::optional<NamedMutex::Handle> mutex = claimUpdateMutex();
    if (!mutex)
        return 0;
    if (!confirmLauncherEnded())
        return 0; // the process ends, which frees the update mutex
    window.show();

    removeLeftoverNewLauncher(paths);
    const int result = runEventLoop(paths);
    LTools::releaseMutex(*mutex);
    return result;
}

} // namespace Startup
