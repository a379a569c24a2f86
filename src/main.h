#ifndef MAIN_H
#define MAIN_H

#include "platform/NamedMutex.h"

#include <QString>
#include <QtGlobal>

#include <memory>

class QSplashScreen;

// The process entry: returns the exit code (0, HandOverExitCode or the event loop's result).
int qMain(int argc, char *argv[]);

// Empties debug.log in the working directory; called once per process before installing the handler.
void resetLogFile();
void logMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message);

namespace Startup {

// The launcher window ends its event loop with this to hand over to the update mode.
constexpr int HandOverExitCode = 6735;

enum class RunMode { Launcher, Update };

struct Paths
{
    QString gameDir;
    QString launcherDir;
    QString settingsFile;
    QString detectionTool;
    QString newLauncher;

    // From the process's working directory, normally the launcher directory.
    static Paths fromWorkingDirectory();
    static Paths forGameDirectory(const QString &gameDir);
};

RunMode runMode(int argc, char *argv[]);
QString applicationTitle();

// Each guard shows its refusal box itself; false (or 0) means the process must end with 0.
bool waitForRunningUpdate();
NamedMutex::Handle claimLauncherMutex();
bool waitForLauncherToEnd();
NamedMutex::Handle claimUpdateMutex();
bool confirmLauncherEnded();

// First start without settings.ini: runs the detection tool under a splash screen and tells
// the player the recommended quality. The splash stays up until the caller's window shows.
std::unique_ptr<QSplashScreen> runFirstRunConfiguration(const Paths &paths);
QString qualityWord(int quality);

// Removes newLauncher.exe left by a completed self-update.
void removeLeftoverNewLauncher(const Paths &paths);

// After the loop ended with HandOverExitCode: starts "newLauncher.exe update" detached.
bool handOver(const Paths &paths);

} // namespace Startup

#endif
