#include "Launcher.h"
#include "ui_Launcher.h"

#include "Boxes.h"
#include "GameSettings.h"
#include "Logging.h"
#include "Patcher.h"
#include "ReleaseTrust.h"
#include "SettingsDialog.h"
#include "SystemInfoDialog.h"
#include "Util.h"

#include <QBrush>
#include <QColor>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPalette>
#include <QProcess>
#include <QProgressBar>
#include <QSettings>
#include <QTimer>
#include <QUrl>

#include <limits>

namespace {

// Shown until launcher.ini names the studio's page, and opened for manual downloads.
const char PublisherHomePage[] = "https://www.zark-game.com/";

// Lets a confirmed prompt close before the update takes over the window.
constexpr int StartDelayMs = 100;
constexpr int DefaultScreenWidth = 1024;
constexpr int DefaultScreenHeight = 768;

// An INI value with a comma comes back from QSettings as a list; an address may hold commas.
QString iniText(const QSettings &settings, const QString &key, const QString &defaultValue)
{
    const QVariant value = settings.value(key, defaultValue);
    if (value.type() == QVariant::StringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

} // namespace

Launcher::Launcher(QWidget *parent)
    : Launcher(GamePaths::fromWorkingDirectory(), parent)
{ }

Launcher::Launcher(const GamePaths &paths, QWidget *parent)
    : QDialog(parent)
    , paths(paths)
    , ui(new Ui::Launcher)
    , gamePatcher(nullptr)
    , launcherPatcher(nullptr)
    , hasGameUpdate(false)
    , hasLauncherUpdate(false)
    , gameVersion(0)
    , dragging(false)
{
    ui->setupUi(this);

    gameDir = paths.gameDir;
    launcherDir = paths.launcherDir;
    updateDir = gameDir + QStringLiteral("/Update");

    qCDebug(lcStartup) << "Read Launcher Settings....";
    QSettings ini(paths.launcherIni, QSettings::IniFormat);
    ini.setIniCodec("UTF-8");
    const QString homePage = QString::fromLatin1(PublisherHomePage);
    launcherListUrl = iniText(ini, QStringLiteral("launcher/list"), QString());
    launcherSiteUrl = iniText(ini, QStringLiteral("launcher/site"), homePage);
    gameListUrl = iniText(ini, QStringLiteral("game/list"), QString());
    gameSiteUrl = iniText(ini, QStringLiteral("game/site"), homePage);
    releaseTrust = std::make_shared<ReleaseTrust>(
        ReleaseTrust::fromLauncherIni(paths.launcherIni, paths.releaseState));

    initializeUI();

    dragging = false;
    checkGameUpdate();
}

Launcher::~Launcher()
{
    delete ui;
}

void Launcher::initializeUI()
{
    setWindowFlags(Qt::FramelessWindowHint);
    QPalette transparent = palette();
    transparent.setBrush(QPalette::All, QPalette::Window, QBrush(QColor(0, 255, 0, 0)));
    setPalette(transparent);
    setAttribute(Qt::WA_TranslucentBackground);

    initializeButtonEvent();

    ui->webView->showPage(QUrl(launcherSiteUrl));

    gameVersion = getGameVersion();
    setVersionLabel(gameVersion);

    ui->progressBar->setMaximum(100);
    ui->progressBar->setValue(0);
    ui->total_ProgressBar->setMaximum(100);
    ui->total_ProgressBar->setValue(0);
}

void Launcher::initializeButtonEvent()
{
    connect(ui->settingsButton, &QPushButton::clicked, this, [this] {
        QPoint position = pos();
        SettingsDialog dialog(nullptr, paths, &position);
        dialog.exec();
    });
    connect(ui->hardwareButton, &QPushButton::clicked, this, &Launcher::showSystemInfo);
    connect(ui->startButton, &QPushButton::clicked, this, &Launcher::startGame);
    connect(ui->updatePushButton, &QPushButton::clicked, this, &Launcher::updateButtonClicked);
}

void Launcher::showSystemInfo()
{
    SystemInfoDialog dialog(nullptr, gameDir);
    dialog.exec();
}

// ---- Dragging -----------------------------------------------------------------------------

void Launcher::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    dragOffset = event->globalPos() - frameGeometry().topLeft();
    event->accept();
    dragging = true;
}

void Launcher::mouseMoveEvent(QMouseEvent *event)
{
    if (!(event->buttons() & Qt::LeftButton) || !dragging)
        return;
    move(event->globalPos() - dragOffset);
    event->accept();
}

void Launcher::mouseReleaseEvent(QMouseEvent *)
{
    dragging = false;
}

// ---- Game start and version ---------------------------------------------------------------

void Launcher::startGame()
{
    QSettings settings(paths.settingsFile, QSettings::IniFormat);
    const int width = settings.value(SettingsKey::ResolutionWidth, DefaultScreenWidth).toInt();
    const int height = settings.value(SettingsKey::ResolutionHeight, DefaultScreenHeight).toInt();
    const QStringList arguments {QStringLiteral("-screen-width"), QString::number(width),
        QStringLiteral("-screen-height"), QString::number(height), QStringLiteral("-single-instance")};
    QProcess::startDetached(paths.gameExecutable, arguments);
    close();
}

float Launcher::getGameVersion()
{
    QSettings settings(paths.settingsFile, QSettings::IniFormat);
    return iniText(settings, SettingsKey::Version, QStringLiteral("1.0")).toFloat();
}

void Launcher::updateGameVersion()
{
    QSettings settings(paths.settingsFile, QSettings::IniFormat);
    settings.setIniCodec("UTF-8");
    gameVersion = gamePatcher->targetVersion();
    settings.setValue(SettingsKey::Version, QStringLiteral("%1").arg(double(gameVersion), 0, 'g', 6));
    setVersionLabel(gameVersion);
}

void Launcher::setVersionLabel(float version)
{
    ui->gameVersionLabel->setText(tr("遊戲版號") + QStringLiteral(": ") + QString::number(version, 'f', 2));
}

// ---- Update flow --------------------------------------------------------------------------

namespace {

// The bars count kilobytes. A bar whose maximum is 0 shows a busy indicator instead of a
// fill, so an empty count becomes 1; sizes beyond the bar's range stop at its end.
int kilobytes(qint64 bytes)
{
    const qint64 units = qMin<qint64>(bytes / 1024, std::numeric_limits<int>::max());
    return units == 0 ? 1 : int(units);
}

void setBar(QProgressBar *bar, qint64 value, qint64 maximum)
{
    bar->setRange(0, kilobytes(maximum));
    bar->setValue(kilobytes(value));
}

QString progressText(qint64 done, qint64 total)
{
    return LTools::sizeText(done) + QStringLiteral(" / ") + LTools::sizeText(total);
}

} // namespace

void Launcher::checkGameUpdate()
{
    ui->updatePushButton->setEnabled(false);
    ui->progressBar->setTextVisible(true);
    ui->progressBar->setFormat(tr("檢查更新檔案......"));

    gamePatcher = new Patcher(gameListUrl, paths.gameDownloadDir, gameDir, gameVersion, this);
    gamePatcher->setReleaseTrust(releaseTrust);
    connectRunSignals(gamePatcher, false);
    connect(gamePatcher, &Patcher::updateCheckFailed, this, &Launcher::showUpdateCheckFailed);
    connect(gamePatcher, &Patcher::updateFileFinished, this, &Launcher::updateGameVersion);
    // An up-to-date game is the normal case: the launcher's own check must still run.
    connect(gamePatcher, &Patcher::updateFileFinished, this, [this] {
        ui->progressBar->setTextVisible(false);
        checkLauncherUpdate();
    });
    connect(gamePatcher, &Patcher::updateCheckFinished, this, &Launcher::gameCheckFinished);
    gamePatcher->UpdateCheck();
}

void Launcher::gameCheckFinished()
{
    ui->progressBar->setTextVisible(false);
    hasGameUpdate = gamePatcher->hasUpdateFiles();
    if (!hasGameUpdate) {
        checkLauncherUpdate();
        return;
    }
    offerUpdate(false);
    askGameUpdate();
}

void Launcher::checkLauncherUpdate()
{
    // The launcher's own version is fixed; a new one arrives as a new executable.
    const float launcherVersion = 1.0f;
    if (launcherPatcher)
        launcherPatcher->deleteLater();
    launcherPatcher
        = new Patcher(launcherListUrl, paths.launcherDownloadDir, launcherDir, launcherVersion, this);
    launcherPatcher->setReleaseTrust(releaseTrust);
    connectRunSignals(launcherPatcher, true);
    connect(launcherPatcher, &Patcher::updateCheckFailed, this, &Launcher::showUpdateCheckFailed);
    connect(launcherPatcher, &Patcher::updateFileFinished, this, [this] {
        ui->progressBar->setTextVisible(false);
        checkManualUpdate();
    });
    connect(launcherPatcher, &Patcher::updateCheckFinished, this, &Launcher::launcherCheckFinished);
    launcherPatcher->UpdateCheck();
}

void Launcher::launcherCheckFinished()
{
    hasLauncherUpdate = launcherPatcher->hasUpdateFiles();
    ui->progressBar->setTextVisible(false);
    if (!hasLauncherUpdate) {
        checkManualUpdate();
        return;
    }
    offerUpdate(true);
    askLauncherUpdate();
}

// The update button asks again before it starts, as long as the update is not done.
void Launcher::offerUpdate(bool isLauncher)
{
    pendingOffer = isLauncher ? Offer::Launcher : Offer::Game;
    ui->updatePushButton->setEnabled(true);
}

void Launcher::updateButtonClicked()
{
    if (pendingOffer != Offer::None)
        startUpdate(pendingOffer == Offer::Launcher, true);
}

bool Launcher::askToUpdate(const QString &text)
{
    return Boxes::show(QMessageBox::Information, tr("更新提示"), text, tr("確定"), tr("取消"));
}

void Launcher::askGameUpdate()
{
    const QString size = LTools::sizeText(gamePatcher->totalDownloadSize());
    if (askToUpdate(tr("遊戲有更新版本,是否要立即更新?\n(檔案容量:") + size + QStringLiteral(")")))
        startUpdateSoon(false);
}

void Launcher::askLauncherUpdate()
{
    const QString size = LTools::sizeText(launcherPatcher->totalDownloadSize());
    if (askToUpdate(
            windowTitle() + tr(",有更新版本\n是否要立即更新?(檔案容量:") + size + QStringLiteral(")")))
        startUpdateSoon(true);
}

// The update starts once the prompt has closed. Until then the button is off, or a click in
// between would start a second run over the first.
void Launcher::startUpdateSoon(bool isLauncher)
{
    ui->updatePushButton->setEnabled(false);
    auto *timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, [this, timer, isLauncher] {
        timer->stop();
        timer->deleteLater();
        // startUpdate turns it off again once the run starts; a refusal leaves the offer open.
        ui->updatePushButton->setEnabled(true);
        startUpdate(isLauncher, false);
    });
    timer->start(StartDelayMs);
}

void Launcher::checkManualUpdate()
{
    const float installed = getGameVersion();
    if (gamePatcher && gamePatcher->latestVersion() > installed)
        showManualUpdateNotice();
}

void Launcher::showManualUpdateNotice()
{
    const QString latest = QStringLiteral("%1").arg(double(gamePatcher->latestVersion()), 0, 'g', 6);
    const QString text = tr("本遊戲目前最新版本為") + latest
        + tr("版，由於資\n料量過於龐大，必須進行手動下載更新\n，製作團隊強烈建議玩家更新至此版本\n，以便享受"
             "到更多有趣的遊戲內容。");
    if (Boxes::show(QMessageBox::Information, QObject::tr("訊息提示"), text, tr("前往"), tr("取消")))
        QDesktopServices::openUrl(QUrl(gameSiteUrl, QUrl::TolerantMode));
}

void Launcher::showUpdateCheckFailed()
{
    ui->progressBar->setTextVisible(false);
    ui->progressBar->setValue(0);
    ui->progressBar->setMaximum(100);
    ui->updatePushButton->setEnabled(false);

    Boxes::show(QMessageBox::Information, tr("訊息提示"), tr("系統通知\n目前無法取得更新資訊"), tr("確定"));
}

void Launcher::startUpdate(bool isLauncher, bool askFirst)
{
    qCDebug(lcUpdate) << "Start Update" << Qt::endl;
    if (!isLauncher && LTools::mutexExists(MutexName::Game)) {
        LTools::showWarning(tr("請關閉遊戲，繼續更新"));
        return;
    }

    Patcher *patcher = isLauncher ? launcherPatcher : gamePatcher;
    const QString size = LTools::sizeText(patcher->totalDownloadSize());
    if (askFirst && !askToUpdate(tr("是否要立即更新?\n(下載容量:") + size + tr(")")))
        return;

    ui->updatePushButton->setEnabled(false);
    ui->startButton->setEnabled(false);
    ui->total_ProgressBar->setTextVisible(true);
    ui->total_ProgressBar->setRange(0, 100);
    ui->total_ProgressBar->setValue(0);
    ui->total_ProgressBar->setFormat(QObject::tr("更新中"));
    resetFileBar();

    // The launcher's files replace the running program: the self-update mode installs them.
    const bool installAfterDownload = !isLauncher;
    patcher->startDownload(installAfterDownload);
}

void Launcher::connectRunSignals(Patcher *patcher, bool isLauncher)
{
    connect(patcher, &Patcher::downloadFileFailed, this, &Launcher::updateFailed);
    connect(patcher, &Patcher::updateDownloadFileState, this, &Launcher::showFileProgress);
    connect(patcher, &Patcher::updateTotalDownloadState, this, &Launcher::processUpdateListFile);
    connect(patcher, &Patcher::downloadOneFileFinished, this, &Launcher::resetFileBar);
    connect(patcher, &Patcher::downloadListFileFinished, this,
        isLauncher ? &Launcher::allLauncherDownloadFileFinish : &Launcher::allGameDownloadFileFinish);
}

void Launcher::showFileProgress(qlonglong bytesReceived, qlonglong bytesTotal)
{
    ui->progressBar->setTextVisible(true);
    setBar(ui->progressBar, bytesReceived, bytesTotal);
    ui->progressBar->setFormat(progressText(bytesReceived, bytesTotal));
}

void Launcher::resetFileBar()
{
    ui->progressBar->setTextVisible(false);
    ui->progressBar->setRange(0, 100);
    ui->progressBar->setValue(0);
}

void Launcher::processUpdateListFile(qint64 nowSize, int nowCount)
{
    qCDebug(lcUpdate) << "Process Data From UpdateList" << Qt::endl;
    const auto *patcher = qobject_cast<const Patcher *>(sender());
    if (!patcher)
        return;
    const qint64 total = patcher->totalDownloadSize();
    ui->total_ProgressBar->setTextVisible(true);
    setBar(ui->total_ProgressBar, nowSize, total);
    ui->total_ProgressBar->setFormat(progressText(nowSize, total) + QStringLiteral(" (")
        + QString::number(nowCount) + QLatin1Char('/') + QString::number(patcher->fileCount())
        + QLatin1Char(')'));
}

void Launcher::updateFailed()
{
    ui->progressBar->setValue(0);
    ui->progressBar->setTextVisible(false);
    ui->total_ProgressBar->setValue(0);
    ui->total_ProgressBar->setTextVisible(false);
    ui->updatePushButton->setEnabled(true);
    ui->startButton->setEnabled(true);
    LTools::showWarning(tr("更新失敗，請稍候再試。"));
}

void Launcher::allGameDownloadFileFinish()
{
    updateGameVersion();
    setVersionLabel(getGameVersion());
    ui->startButton->setEnabled(true);

    QMessageBox box;
    box.setWindowTitle(tr("訊息提示"));
    box.setText(tr("更新已完成"));
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();

    checkLauncherUpdate();
}

void Launcher::allLauncherDownloadFileFinish()
{
    QString source = paths.launcherDownloadDir + QStringLiteral("/Launcher.exe");
    // An update of the launcher's other files only: the running executable goes over again.
    if (!QFileInfo(source).isFile())
        source = paths.launcherExecutable;
    const QString target = paths.newLauncher;

    constexpr bool keepSource = true;
    constexpr bool verify = true;
    if (!LTools::copyFile(source, target, keepSource, verify)) {
        LTools::showWarning(tr("更新失敗，請稍候再試。"));
        return;
    }
    ui->updatePushButton->setEnabled(false);
    QCoreApplication::exit(HandOverExitCode);
}
