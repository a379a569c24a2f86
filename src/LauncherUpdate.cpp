#include "LauncherUpdate.h"
#include "ui_LauncherUpdate.h"

#include "Boxes.h"
#include "Patcher.h"
#include "ReleaseTrust.h"
#include "Util.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QPalette>
#include <QProcess>
#include <QTimer>

LauncherUpdate::LauncherUpdate(QWidget *parent)
    : LauncherUpdate(GamePaths::fromWorkingDirectory(), parent)
{ }

LauncherUpdate::LauncherUpdate(const GamePaths &paths, QWidget *parent)
    : QWidget(parent)
    , paths(paths)
    , ui(new Ui::LauncherUpdate)
    , patcher(nullptr)
    , updateListUsable(false)
    , copyRunStarted(false)
{
    ui->setupUi(this);

    setWindowFlags(Qt::FramelessWindowHint);
    QPalette seeThrough = palette();
    seeThrough.setBrush(QPalette::Window, QBrush(QColor(0, 255, 0, 0)));
    setPalette(seeThrough);
    setAttribute(Qt::WA_TranslucentBackground);

    patcher = new Patcher(QString(), paths.launcherDownloadDir, paths.launcherDir, 1.0f, this);
    patcher->setReleaseTrust(
        std::make_shared<ReleaseTrust>(ReleaseTrust::fromLauncherIni(paths.launcherIni, paths.releaseState)));
    updateListUsable = patcher->readUpdateList();

    connect(patcher, &Patcher::copyFileFailed, this, &LauncherUpdate::copyFailed);
    connect(patcher, &Patcher::updateCopyFileState, this, &LauncherUpdate::showCopyProgress);
    connect(patcher, &Patcher::copyFileFinished, this, &LauncherUpdate::copyFinished);

    ui->progressBar->setTextVisible(true);
}

LauncherUpdate::~LauncherUpdate()
{
    delete ui;
}

void LauncherUpdate::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!copyRunStarted) {
        copyRunStarted = true;
        startCopyRun();
    }
}

void LauncherUpdate::startCopyRun()
{
    // A list that is there but cannot be trusted installs nothing; announcing completion and
    // restarting the old launcher would report a failed update as done.
    if (!updateListUsable) {
        QTimer::singleShot(0, this, &LauncherUpdate::copyFailed);
        return;
    }
    patcher->startCopy();
}

void LauncherUpdate::showCopyProgress(int nowCount, int totalCount)
{
    ui->progressBar->setRange(0, totalCount);
    ui->progressBar->setValue(nowCount);
    ui->progressBar->setFormat(QStringLiteral("%v / ") + QString::number(totalCount));
}

void LauncherUpdate::copyFailed()
{
    ui->progressBar->setRange(0, 100);
    ui->progressBar->setValue(0);
    ui->progressBar->setTextVisible(false);
    LTools::showWarning(tr("更新失敗，請重新執行") + windowTitle() + tr("。"));
    QApplication::exit(0);
}

void LauncherUpdate::copyFinished()
{
    ui->progressBar->setRange(0, 100);
    ui->progressBar->setValue(100);
    ui->progressBar->setTextVisible(false);

    Boxes::show(QMessageBox::Information, QObject::tr("訊息提示"),
        tr("更新已完成,") + windowTitle() + tr("將重新啟動,若沒自動啟動,\n請手動重新啟動"),
        QObject::tr("確定"));

    restartLauncher();
    QApplication::exit(0);
}

void LauncherUpdate::restartLauncher()
{
    if (!QProcess::startDetached(paths.launcherExecutable, QStringList(), QDir::currentPath()))
        LTools::showWarning(windowTitle() + QObject::tr("啟動失敗,請重新啟動"));
}
