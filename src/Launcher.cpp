#include "Launcher.h"
#include "ui_Launcher.h"

#include "GameSettings.h"
#include "Patcher.h"
#include "SettingsDialog.h"
#include "SystemInfoDialog.h"
#include "main.h"

#include <QBrush>
#include <QColor>
#include <QDebug>
#include <QDesktopServices>
#include <QMouseEvent>
#include <QPalette>
#include <QProcess>
#include <QSettings>
#include <QUrl>
#include <QWebFrame>
#include <QWebPage>

#include <exception>

namespace {

// Shown until launcher.ini names the studio's page, and opened for manual downloads.
const char PublisherHomePage[] = "https://www.zark-game.com/";

const char GameExecutable[] = "ZARK.exe";
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

// The page comes over plain HTTP into a program that may run elevated: a file: or custom
// scheme link handed to the desktop could start a local program.
bool isSafeExternalLink(const QUrl &url)
{
    static const QStringList allowed {
        QStringLiteral("http"), QStringLiteral("https"), QStringLiteral("mailto")};
    return url.isValid() && allowed.contains(url.scheme().toLower());
}

void openLink(const QUrl &url)
{
    qDebug() << url.toString();
    if (!isSafeExternalLink(url)) {
        qDebug() << "Link not opened, scheme not allowed:" << url.scheme();
        return;
    }
    QDesktopServices::openUrl(url);
}

} // namespace

Launcher::Launcher(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::Launcher)
    , gamePatcher(nullptr)
    , launcherPatcher(nullptr)
    , hasGameUpdate(false)
    , hasLauncherUpdate(false)
    , gameVersion(0)
    , dragging(false)
{
    ui->setupUi(this);

    gameDir = Startup::Paths::fromWorkingDirectory().gameDir;
    launcherDir = gameDir + QStringLiteral("/Launcher");
    updateDir = gameDir + QStringLiteral("/Update");

    qDebug() << "Read Launcher Settings....";
    QSettings ini(launcherDir + QStringLiteral("/launcher.ini"), QSettings::IniFormat);
    ini.setIniCodec("UTF-8");
    const QString homePage = QString::fromLatin1(PublisherHomePage);
    launcherListUrl = iniText(ini, QStringLiteral("launcher/list"), QString());
    launcherSiteUrl = iniText(ini, QStringLiteral("launcher/site"), homePage);
    gameListUrl = iniText(ini, QStringLiteral("game/list"), QString());
    gameSiteUrl = iniText(ini, QStringLiteral("game/site"), homePage);

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

    ui->webView->load(QUrl(launcherSiteUrl));
    QWebFrame *frame = ui->webView->page()->mainFrame();
    frame->setScrollBarPolicy(Qt::Horizontal, Qt::ScrollBarAlwaysOff);
    frame->setScrollBarPolicy(Qt::Vertical, Qt::ScrollBarAlwaysOff);
    ui->webView->page()->setLinkDelegationPolicy(QWebPage::DelegateAllLinks);
    connect(ui->webView, &QWebView::linkClicked, this, &openLink);

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
        SettingsDialog dialog(nullptr, settingsPath(), gameDir, &position);
        dialog.exec();
    });
    connect(ui->hardwareButton, &QPushButton::clicked, this, &Launcher::showSystemInfo);
    connect(ui->startButton, &QPushButton::clicked, this, &Launcher::startGame);
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

QString Launcher::settingsPath() const
{
    return gameDir + QStringLiteral("/settings.ini");
}

void Launcher::startGame()
{
    QSettings settings(settingsPath(), QSettings::IniFormat);
    const int width = settings.value(SettingsKey::ResolutionWidth, DefaultScreenWidth).toInt();
    const int height = settings.value(SettingsKey::ResolutionHeight, DefaultScreenHeight).toInt();
    const QStringList arguments {QStringLiteral("-screen-width"), QString::number(width),
        QStringLiteral("-screen-height"), QString::number(height), QStringLiteral("-single-instance")};
    QProcess::startDetached(gameDir + QLatin1Char('/') + QLatin1String(GameExecutable), arguments);
    close();
}

float Launcher::getGameVersion()
{
    try {
        QSettings settings(settingsPath(), QSettings::IniFormat);
        return iniText(settings, SettingsKey::Version, QStringLiteral("1.0")).toFloat();
    } catch (const std::exception &e) {
        qDebug() << e.what() << Qt::endl;
        return 0;
    }
}

void Launcher::updateGameVersion()
{
    QSettings settings(settingsPath(), QSettings::IniFormat);
    settings.setIniCodec("UTF-8");
    gameVersion = gamePatcher->targetVersion();
    settings.setValue(SettingsKey::Version, QStringLiteral("%1").arg(double(gameVersion), 0, 'g', 6));
    setVersionLabel(gameVersion);
}

void Launcher::setVersionLabel(float version)
{
    ui->gameVersionLabel->setText(tr("遊戲版號") + QStringLiteral(": ") + QString::number(version, 'f', 2));
}

// ---- Update check -------------------------------------------------------------------------

void Launcher::checkGameUpdate()
{
    ui->updatePushButton->setEnabled(false);
    ui->progressBar->setTextVisible(true);
    ui->progressBar->setFormat(tr("檢查更新檔案......"));

    gamePatcher = new Patcher(gameListUrl, updateDir + QStringLiteral("/Game"), gameDir, gameVersion);
    // INTEGRATION: the update flow connects updateCheckFailed to showUpdateCheckFailed() here,
    // before updateFileFinished.
    connect(gamePatcher, &Patcher::updateFileFinished, this, &Launcher::updateGameVersion);
    // INTEGRATION: the update flow connects updateCheckFinished to its game-check reaction here.
    gamePatcher->UpdateCheck();
}
