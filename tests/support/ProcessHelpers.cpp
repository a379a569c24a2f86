#include "ProcessHelpers.h"

#include "GameFolder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTest>
#include <QThread>

namespace {

QString runTool(const QString &program, const QStringList &arguments, int *exitCode = nullptr)
{
    QProcess tool;
    tool.start(program, arguments);
    if (!tool.waitForFinished(10000)) {
        tool.kill();
        tool.waitForFinished();
    }
    if (exitCode)
        *exitCode = tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
    return QString::fromUtf8(tool.readAllStandardOutput());
}

} // namespace

namespace ProcessHelpers {

void startLauncher(QProcess &process, const GameFolder &folder, const QStringList &arguments)
{
    process.setWorkingDirectory(folder.launcherDir());
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(folder.path(QStringLiteral("Launcher/Launcher.exe")), arguments);
    process.waitForStarted();
}

void startHelper(QProcess &process, const QStringList &arguments)
{
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QStringLiteral(TESTHELPER_PATH), arguments);
    process.waitForStarted();
}

bool waitForExit(QProcess &process, int timeoutMs)
{
    if (process.state() == QProcess::NotRunning)
        return true;
    return process.waitForFinished(timeoutMs);
}

QStringList windows(qint64 pid, const QString &titlePattern)
{
    const QString out = runTool(QStringLiteral("xdotool"),
        {QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--onlyvisible"),
            QStringLiteral("--pid"), QString::number(pid), QStringLiteral("--name"), titlePattern});
    return out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QString waitForWindow(qint64 pid, const QString &titlePattern, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    do {
        const QStringList found = windows(pid, titlePattern);
        if (!found.isEmpty())
            return found.first();
        QThread::msleep(50);
    } while (timer.elapsed() < timeoutMs);
    return QString();
}

bool pressKey(const QString &key, const QString &windowId)
{
    int code = -1;
    if (!windowId.isEmpty()) {
        runTool(QStringLiteral("xdotool"),
            {QStringLiteral("windowfocus"), QStringLiteral("--sync"), windowId}, &code);
        if (code != 0)
            return false;
    }
    runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), key}, &code);
    return code == 0;
}

namespace {

bool isVisible(const QString &windowId)
{
    const QString out = runTool(QStringLiteral("xdotool"),
        {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"), QString()});
    return out.split(QLatin1Char('\n'), Qt::SkipEmptyParts).contains(windowId);
}

} // namespace

bool answerBox(const QString &windowId, const QString &key, int timeoutMs)
{
    if (windowId.isEmpty())
        return false;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        pressKey(key, windowId);
        for (int waited = 0; waited < 1000; waited += 50) {
            if (!isVisible(windowId))
                return true;
            QThread::msleep(50);
        }
    }
    return !isVisible(windowId);
}

bool click(int x, int y)
{
    int code = -1;
    runTool(QStringLiteral("xdotool"),
        {QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(x), QString::number(y),
            QStringLiteral("click"), QStringLiteral("1")},
        &code);
    return code == 0;
}

bool screenshot(const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    int code = -1;
    runTool(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), path}, &code);
    return code == 0;
}

QString screenshotPath(const QString &name)
{
    QString dir = qEnvironmentVariable("LAUNCHER_SCREENSHOTS");
    if (dir.isEmpty())
        dir = QStringLiteral(LAUNCHER_BIN_DIR "/../screenshots");
    return QDir(dir).absoluteFilePath(name);
}

} // namespace ProcessHelpers
