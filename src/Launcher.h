#ifndef LAUNCHER_H
#define LAUNCHER_H

#include <QDialog>
#include <QPoint>
#include <QString>

namespace Ui {
class Launcher;
}

class Patcher;
class QUrl;

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
    void checkGameUpdate();
    void showSystemInfo();

    // The page is served over plain HTTP into a program that may run elevated: only links a
    // browser or mail program handles are passed on, never file: or custom schemes.
    static bool isSafeExternalLink(const QUrl &url);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    void initializeUI();
    void initializeButtonEvent();
    void setVersionLabel(float version);
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
