#include "WindowHelpers.h"

#include "ProcessHelpers.h"

#include <QTest>

namespace ProcessHelpers {

void stop(QProcess &process)
{
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished();
    }
}

QString xdotool(const QStringList &arguments)
{
    QProcess tool;
    tool.start(QStringLiteral("xdotool"), arguments);
    if (!tool.waitForFinished(10000)) {
        tool.kill();
        tool.waitForFinished();
    }
    return QString::fromUtf8(tool.readAllStandardOutput()).trimmed();
}

QString waitForNewWindow(qint64 pid, const QString &titlePattern, const QStringList &besides, int timeoutMs)
{
    QString found;
    // found stays empty on a time-out.
    static_cast<void>(QTest::qWaitFor(
        [&] {
            for (const QString &window : windows(pid, titlePattern)) {
                if (!besides.contains(window)) {
                    found = window;
                    return true;
                }
            }
            return false;
        },
        timeoutMs));
    return found;
}

QPoint windowPosition(const QString &windowId)
{
    QPoint position(-1, -1);
    const QString shell = xdotool({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), windowId});
    for (const QString &line : shell.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("X=")))
            position.setX(line.mid(2).toInt());
        else if (line.startsWith(QLatin1String("Y=")))
            position.setY(line.mid(2).toInt());
    }
    return position;
}

bool mouseMove(const QPoint &at)
{
    QProcess tool;
    tool.start(QStringLiteral("xdotool"),
        {QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(at.x()),
            QString::number(at.y())});
    return tool.waitForFinished(10000) && tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
}

QImage grabScreen(const QString &name)
{
    const QString path = screenshotPath(name);
    return screenshot(path) ? QImage(path) : QImage();
}

} // namespace ProcessHelpers
