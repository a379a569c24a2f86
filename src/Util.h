#ifndef UTIL_H
#define UTIL_H

#include "platform/NamedMutex.h"

#include <QByteArray>
#include <QString>

// Names of the cross-process guards. ZARK_Game is created by the game; we only probe it.
namespace MutexName {
inline const QString Launcher = QStringLiteral("ZARK_Launcher");
inline const QString LauncherUpdate = QStringLiteral("ZARK_LauncherUpdate");
inline const QString Game = QStringLiteral("ZARK_Game");
} // namespace MutexName

class LTools
{
public:
    LTools() = delete;

    // Shared helpers
    static bool mutexExists(const QString &name);
    static bool waitForMutex(const QString &name, int seconds);
    // Test and creation in one step: 0 when another process already holds the mutex.
    static NamedMutex::Handle createOwnedMutex(const QString &name);
    static void releaseMutex(NamedMutex::Handle handle);
    static QString sizeText(qint64 bytes);
    static void showWarning(const QString &text);
    static bool deleteFile(const QString &path);

    // Runs of the hardware detection tool. Success is judged by the caller from the files
    // the tool leaves behind.
    static bool initSettings(QString toolPath);
    static bool initResolution(QString toolPath);
    static bool initAllSettings(QString toolPath);
    // A hung tool would freeze the launcher for ever; it is ended after this limit.
    static void setToolTimeLimit(int milliseconds);
    static int toolTimeLimit();

private:
    static bool runTool(const QString &toolPath, const QStringList &arguments, const char *errorText);
};

#endif
