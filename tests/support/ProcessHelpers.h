#ifndef PROCESSHELPERS_H
#define PROCESSHELPERS_H

#include <QProcess>
#include <QString>
#include <QStringList>

class GameFolder;

// Real processes and real windows, driven through the X server as a player would.
namespace ProcessHelpers {

// Starts the launcher installed in folder's Launcher/ with that folder as working directory.
void startLauncher(QProcess &process, const GameFolder &folder, const QStringList &arguments = {});
// Runs the test helper with a subcommand; for holding mutexes and logging in a child.
void startHelper(QProcess &process, const QStringList &arguments);

bool waitForExit(QProcess &process, int timeoutMs);

// X windows of one process whose title matches the regular expression (xdotool syntax).
QStringList windows(qint64 pid, const QString &titlePattern);
// Waits until such a window is visible; returns its id, or an empty text on time-out.
QString waitForWindow(qint64 pid, const QString &titlePattern, int timeoutMs = 15000);
// Sends a key to the focused window (a modal box focuses itself); with a window id, focuses
// that window first, for when another process's window may have taken the focus.
bool pressKey(const QString &key, const QString &windowId = QString());
// Answers a box with a key and waits until the box is gone. Presses again while it stays,
// since a window activated by another process at that moment may take the key.
bool answerBox(const QString &windowId, const QString &key = QStringLiteral("Return"), int timeoutMs = 10000);
bool click(int x, int y);
// The whole screen to a PNG (imagemagick's import).
bool screenshot(const QString &path);
// Where screenshots of process tests go: $LAUNCHER_SCREENSHOTS or a folder in the build tree.
QString screenshotPath(const QString &name);

} // namespace ProcessHelpers

#endif
