#ifndef LAUNCHER_H
#define LAUNCHER_H

#include <QDialog>
#include <QPoint>
#include <QString>

namespace Ui {
class Launcher;
}

class Patcher;

// The main window of the launcher mode: a frameless picture window with the studio's page,
// dragged with the left button anywhere on its uncovered parts.
class Launcher : public QDialog
{
    Q_OBJECT

public:
    explicit Launcher(QWidget *parent = nullptr);
    ~Launcher() override;

    void startGame();
    float getGameVersion();
    void updateGameVersion();
    void showSystemInfo();

    void checkGameUpdate();
    void checkLauncherUpdate();
    void askGameUpdate();
    void askLauncherUpdate();
    void checkManualUpdate();
    void showManualUpdateNotice();
    void showUpdateCheckFailed();
    void startUpdate(bool isLauncher, bool askFirst);

private slots:
    void processUpdateListFile(qint64 nowSize, int nowCount);
    void allGameDownloadFileFinish();
    void allLauncherDownloadFileFinish();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    void initializeUI();
    void initializeButtonEvent();
    void setVersionLabel(float version);
    void gameCheckFinished();
    void launcherCheckFinished();
    void offerUpdate(bool isLauncher);
    bool askToUpdate(const QString &text);
    void startUpdateSoon(bool isLauncher);
    void showFileProgress(qlonglong bytesReceived, qlonglong bytesTotal);
    void resetFileBar();
    void updateFailed();
    QString settingsPath() const;

    Ui::Launcher *ui;
    Patcher *gamePatcher;
    Patcher *launcherPatcher;
    QString gameDir;
    QString launcherDir;
    QString launcherListUrl;
    QString launcherSiteUrl;
    QString gameListUrl;
    QString gameSiteUrl;
    bool hasGameUpdate;
    bool hasLauncherUpdate;
    float gameVersion;
    QString updateDir;
    QPoint dragOffset;
    bool dragging;
};

#endif
