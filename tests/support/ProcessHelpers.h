#ifndef PROCESSHELPERS_H
#define PROCESSHELPERS_H

#include <QProcess>
#include <QString>
#include <QStringList>

class GameFolder;

// Real processes and real windows, driven through the X server as a player would.
namespace ProcessHelpers {

// Starts the launcher installed in folder's Launcher/ with that folder as working directory.
// The Windows build runs under wine as the child of cmd, a Windows parent, which prints the
// exit code as Windows gives it, all 32 bits of it, and then ends with it.
void startLauncher(QProcess &process, const GameFolder &folder, const QStringList &arguments = {});
// How Windows programs under wine name a path: "Z:\tmp\x" for /tmp/x.
QString windowsPath(const QString &path);
// Runs the test helper with a subcommand; for holding mutexes and logging in a child.
void startHelper(QProcess &process, const QStringList &arguments);

// xdotool's standard output.
QString xdotool(const QStringList &arguments);
// Visible X windows of one process whose title matches the regular expression.
QStringList windows(qint64 pid, const QString &titlePattern);
// Waits until such a window is visible; returns its id, or an empty text on time-out.
QString waitForWindow(qint64 pid, const QString &titlePattern, int timeoutMs = 30000);
// Answers a box with a key and waits until it is gone. Presses again while it stays, since a
// window activated by another process at that moment may take the key.
bool answerBox(const QString &windowId, const QString &key = QStringLiteral("Return"), int timeoutMs = 10000);

} // namespace ProcessHelpers

#endif
