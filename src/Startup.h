#ifndef STARTUP_H
#define STARTUP_H

#include "GamePaths.h"
#include "platform/NamedMutex.h"

#include <QString>

#include <memory>
#include <optional>

class QSplashScreen;

// The steps of a process's start, in the order qMain takes them, and the two run modes.
namespace Startup {

enum class RunMode { Launcher, Update };

RunMode runMode(int argc, char *argv[]);
QString applicationTitle();

// Each guard shows its refusal box itself; false (or nothing) means the process must end
// with 0. A claimed guard's handle is 0 when the guard could not be made at all.
bool waitForRunningUpdate();
std::optional<NamedMutex::Handle> claimLauncherMutex();
bool waitForLauncherToEnd();
std::optional<NamedMutex::Handle> claimUpdateMutex();
bool confirmLauncherEnded();

// First start without settings.ini: runs the detection tool under a splash screen and tells
// the player the recommended quality. The splash stays up until the caller's window shows.
std::unique_ptr<QSplashScreen> runFirstRunConfiguration(const GamePaths &paths);

// Removes newLauncher.exe left by a completed self-update, once the update mode's process lets it.
void removeLeftoverNewLauncher(const GamePaths &paths);

// After the loop ended with Launcher::HandOverExitCode: starts "newLauncher.exe update" detached.
bool handOver(const GamePaths &paths);

// Each returns the process's exit code.
int runLauncherMode(const GamePaths &paths);
int runUpdateMode(const GamePaths &paths);

} // namespace Startup

#endif
