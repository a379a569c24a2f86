#ifndef LAUNCHER_H
#define LAUNCHER_H

#include "GamePaths.h"

#include <QDialog>
#include <QPoint>
#include <QString>

#include <memory>

namespace Ui {
class Launcher;
}

class Patcher;
class ReleaseTrust;

// The main window of the launcher mode: a frameless picture window with the studio's page,
// dragged with the left button anywhere on its uncovered parts.
class Launcher : public QDialog
{
    Q_OBJECT

public:
    // The window ends the event loop with this to hand over to the update mode.
    static constexpr int HandOverExitCode = 6735;

    // The paths from the working directory, as qMain finds them.
    explicit Launcher(QWidget *parent = nullptr);
    explicit Launcher(const GamePaths &paths, QWidget *parent = nullptr);
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
    // What the update button starts: the update the last check offered.
    enum class Offer { None, Game, Launcher };

    void initializeUI();
    void updateButtonClicked();
    void connectRunSignals(Patcher *patcher, bool isLauncher);
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

    GamePaths paths;
    Ui::Launcher *ui;
    Patcher *gamePatcher;
    Patcher *launcherPatcher;
    std::shared_ptr<ReleaseTrust> releaseTrust;
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
    Offer pendingOffer = Offer::None;
};

#endif
