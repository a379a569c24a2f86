#ifndef GAMEFOLDER_H
#define GAMEFOLDER_H

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QTemporaryDir>
#include <QVariant>

// A throw-away game folder: <root>/Launcher is the launcher's working directory,
// <root> the game directory.
class GameFolder
{
public:
    GameFolder();

    bool isValid() const { return m_dir.isValid(); }
    QString gameDir() const;
    QString launcherDir() const;
    QString path(const QString &relative) const; // relative to the game directory

    // Writes a file below the game directory, creating its folders.
    bool writeFile(const QString &relative, const QByteArray &content) const;
    QByteArray readFile(const QString &relative) const;
    bool exists(const QString &relative) const;

    // settings.ini in the game directory, keys as "Group/Key".
    void writeSettings(const QMap<QString, QVariant> &values) const;

    // The built program, its catalogue and images into Launcher/, as a player's install has them
    // (the Windows build's Launcher/ folder with its DLLs).
    bool installLauncher() const;
    // The stand-in detection tool as <game>/hardwaredetect.exe (with the Windows build's DLLs).
    bool installDetectionTool() const;
    // A shell script as an executable below the game directory (POSIX stand-ins for tools).
    bool writeScript(const QString &relative, const QByteArray &body) const;

    // Switches the process's working directory to Launcher/ for the lifetime of the object.
    class WorkingDirectory
    {
    public:
        explicit WorkingDirectory(const GameFolder &folder);
        ~WorkingDirectory();

    private:
        QString m_previous;
    };

private:
    QTemporaryDir m_dir;
};

// The Windows build's game folder (scripts/build-windows) when a test drives it under wine
// (LAUNCHER_WINDOWS_GAME); empty for the build's own programs.
QString windowsGame();
// A file of the build: in its bin folder, or in the Windows game folder.
QString builtFile(const QString &name);

#endif
