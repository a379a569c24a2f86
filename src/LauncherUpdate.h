#ifndef LAUNCHERUPDATE_H
#define LAUNCHERUPDATE_H

#include "GamePaths.h"

#include <QWidget>

namespace Ui {
class LauncherUpdate;
}

class Patcher;

// The window of the update mode: installs the launcher files the launcher window downloaded
// into Update/Launcher, one per copy interval, then restarts Launcher.exe and ends the event
// loop with 0. The copy run starts when the window is first shown, so nothing is replaced
// while start-up may still refuse to run (its refusal box runs an event loop of its own).
class LauncherUpdate : public QWidget
{
    Q_OBJECT

public:
    // The paths from the working directory, as qMain finds them.
    explicit LauncherUpdate(QWidget *parent = nullptr);
    explicit LauncherUpdate(const GamePaths &paths, QWidget *parent = nullptr);
    ~LauncherUpdate() override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void startCopyRun();
    void showCopyProgress(int nowCount, int totalCount);
    void copyFailed();
    void copyFinished();
    void restartLauncher();

    GamePaths paths;
    Ui::LauncherUpdate *ui;
    Patcher *patcher; // a child of the window
    bool updateListUsable;
    bool copyRunStarted;
};

#endif
