#ifndef SETTINGSDIALOG_H
#define SETTINGSDIALOG_H

#include "GamePaths.h"
#include "GameSettings.h"

#include <QDialog>
#include <QPoint>
#include <QString>

#include <memory>

namespace Ui {
class SettingsDialog;
}

// Offered when resolution.dat yields nothing better.
inline const ResolutionList defaultResolutions {
    ResolutionEntry {QStringLiteral("768"), QStringLiteral("1024")}};

struct VideoSettings
{
    int resolutionWidth = 1024;
    int resolutionHeight = 768;
    bool fullScreen = false;
    int quickQuality = 1;
    bool fog = false;
};

// The video settings of the game: resolution from the detection tool's list, full screen or
// window, one of three quality levels; written to settings.ini on apply. The launcher runs it
// modally and ignores its result.
class SettingsDialog : public QDialog
{
    Q_OBJECT

public:
    // launcherPosition may be null; otherwise the dialog opens at an offset from it.
    SettingsDialog(QWidget *parent, const GamePaths &paths, const QPoint *launcherPosition);
    // The game's files below gameDir, its settings at iniPath.
    SettingsDialog(
        QWidget *parent, const QString &iniPath, const QString &gameDir, const QPoint *launcherPosition);
    ~SettingsDialog() override;

    void reDetectHardware();
    bool eventFilter(QObject *watched, QEvent *event) override;

public slots:
    void accept() override;
    void checkApplyBtn();

protected:
    // The dialog is not draggable, and presses on its background must not reach QDialog.
    void mousePressEvent(QMouseEvent *) override { }
    void mouseMoveEvent(QMouseEvent *) override { }

private:
    enum class SaveResult { Saved, NothingChosen, WriteFailed };

    bool loadResolutionFile();
    void loadSettings(const QString &path);
    void showSettings(const VideoSettings &settings);
    void buildResolutionList();
    void updateResolutionButton();
    SaveResult saveSettings();
    void openResolutionList();
    void closeResolutionList();
    void resolutionChosen();

    bool isLoadedSize(const ResolutionEntry &entry) const;
    QString rowText(const ResolutionEntry &entry) const;
    const ResolutionEntry *chosenEntry() const;
    bool chosenFullScreen() const;
    int chosenQuality() const;

    std::unique_ptr<Ui::SettingsDialog> ui;
    GamePaths paths;
    QString iniPath;
    VideoSettings loadedSettings;
    ResolutionList resolutions;
    int maxVisibleRows = 6;
    int listBaseHeight = 24;
    int listRowHeight = 20;
    bool listOpen = false;
    QPoint dialogOffset {260, 170};
    int detectedQuality = -1;
    bool detectedFog = false;
    bool redetected = false;
    // The last reading of resolution.dat failed: the list holds only the fallback entry.
    bool resolutionReadFailed = false;
};

#endif
