#ifndef GAMEPATHS_H
#define GAMEPATHS_H

#include <QDir>
#include <QString>

// Where everything of one installed game lies. qMain makes it once from the working directory
// (the launcher folder) and hands it to the windows; paths are joined as text, never normalised.
struct GamePaths
{
    QString gameDir;
    QString launcherDir; // the launcher's own folder, normally the working directory
    QString settingsFile;
    QString resolutionFile;
    QString systemInfoFile;
    QString detectionTool;
    QString gameExecutable;
    QString launcherExecutable;
    QString newLauncher;
    QString launcherIni;
    QString releaseState; // the highest serial accepted per signed list, beside launcher.ini
    QString gameDownloadDir;
    QString launcherDownloadDir;

    static GamePaths forGameDirectory(const QString &gameDir)
    {
        const QChar slash = QLatin1Char('/');
        GamePaths paths;
        paths.gameDir = gameDir;
        paths.launcherDir = gameDir + QStringLiteral("/Launcher");
        paths.settingsFile = gameDir + slash + QStringLiteral("settings.ini");
        paths.resolutionFile = gameDir + slash + QStringLiteral("resolution.dat");
        paths.systemInfoFile = gameDir + slash + QStringLiteral("system_info.txt");
        paths.detectionTool = gameDir + slash + QStringLiteral("hardwaredetect.exe");
        paths.gameExecutable = gameDir + slash + QStringLiteral("ZARK.exe");
        paths.launcherExecutable = paths.launcherDir + slash + QStringLiteral("Launcher.exe");
        paths.newLauncher = paths.launcherDir + slash + QStringLiteral("newLauncher.exe");
        paths.launcherIni = paths.launcherDir + slash + QStringLiteral("launcher.ini");
        paths.releaseState = paths.launcherDir + slash + QStringLiteral("release-serials.json");
        paths.gameDownloadDir = gameDir + QStringLiteral("/Update/Game");
        paths.launcherDownloadDir = gameDir + QStringLiteral("/Update/Launcher");
        return paths;
    }

    // The game folder is the parent of the working directory, which is the launcher folder.
    static GamePaths fromWorkingDirectory()
    {
        QDir parent(QDir::currentPath());
        parent.cdUp();
        return forGameDirectory(parent.absolutePath());
    }
};

#endif
