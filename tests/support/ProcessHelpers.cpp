#include "ProcessHelpers.h"

#include "GameFolder.h"

#include <QElapsedTimer>
#include <QTest>

namespace ProcessHelpers {

void startLauncher(QProcess &process, const GameFolder &folder, const QStringList &arguments)
{
    process.setWorkingDirectory(folder.launcherDir());
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const QString launcher = folder.path(QStringLiteral("Launcher/Launcher.exe"));
    if (windowsGame().isEmpty())
        process.start(launcher, arguments);
    else
        process.start(QStringLiteral("wine"),
            {QStringLiteral("cmd"), QStringLiteral("/v:on"), QStringLiteral("/c"),
                (QStringList {windowsPath(launcher)} + arguments).join(QLatin1Char(' '))
                    + QStringLiteral(" & echo !errorlevel! & exit !errorlevel!")});
    process.waitForStarted();
}

QString windowsPath(const QString &path)
{
    return QStringLiteral("Z:") + QString(path).replace(QLatin1Char('/'), QLatin1Char('\\'));
}

void startHelper(QProcess &process, const QStringList &arguments)
{
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QStringLiteral(TESTHELPER_PATH), arguments);
    process.waitForStarted();
}

QString xdotool(const QStringList &arguments)
{
    // A window that vanishes while xdotool looks at it ends xdotool with an X error: ask again.
    for (int attempt = 1;; ++attempt) {
        QProcess tool;
        tool.start(QStringLiteral("xdotool"), arguments);
        if (!tool.waitForFinished(10000))
            tool.kill();
        tool.waitForFinished();
        if (attempt == 10 || !tool.readAllStandardError().contains("X Error"))
            return QString::fromUtf8(tool.readAllStandardOutput());
    }
}

QStringList windows(qint64 pid, const QString &titlePattern)
{
    return xdotool({QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--onlyvisible"),
                       QStringLiteral("--pid"), QString::number(pid), QStringLiteral("--name"), titlePattern})
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QString waitForWindow(qint64 pid, const QString &titlePattern, int timeoutMs)
{
    QStringList found;
    static_cast<void>(
        QTest::qWaitFor([&] { return !(found = windows(pid, titlePattern)).isEmpty(); }, timeoutMs));
    return found.value(0);
}

bool answerBox(const QString &windowId, const QString &key, int timeoutMs)
{
    const auto gone = [&] {
        const QString visible = xdotool(
            {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"), QString()});
        return !visible.split(QLatin1Char('\n')).contains(windowId);
    };
    QElapsedTimer timer;
    timer.start();
    while (!windowId.isEmpty() && timer.elapsed() < timeoutMs) {
        xdotool(
            {QStringLiteral("windowfocus"), QStringLiteral("--sync"), windowId, QStringLiteral("key"), key});
        if (QTest::qWaitFor(gone, 1000))
            return true;
    }
    return false;
}

} // namespace ProcessHelpers
