#ifndef WINDOWHELPERS_H
#define WINDOWHELPERS_H

#include <QImage>
#include <QPoint>
#include <QProcess>
#include <QString>
#include <QStringList>

// More of the X side of process tests, beside ProcessHelpers.
namespace ProcessHelpers {

// Asks the process to end, then kills it if it does not.
void stop(QProcess &process);
// xdotool's output, trimmed.
QString xdotool(const QStringList &arguments);
// Like waitForWindow, but keeps this process's event loop (and its servers) running, and skips
// the windows in `besides`; empty on a time-out.
QString waitForNewWindow(
    qint64 pid, const QString &titlePattern, const QStringList &besides = {}, int timeoutMs = 30000);
// A window's top-left corner on the screen; (-1, -1) when unknown.
QPoint windowPosition(const QString &windowId);
// Moves the pointer and waits until it got there.
bool mouseMove(const QPoint &at);
// The whole screen, saved under screenshotPath(name); a null image when that failed.
QImage grabScreen(const QString &name);

} // namespace ProcessHelpers

#endif
