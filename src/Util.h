#ifndef UTIL_H
#define UTIL_H

#include "platform/NamedMutex.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// Names of the cross-process guards. ZARK_Game is created by the game; we only probe it.
namespace MutexName {
inline const QString Launcher = QStringLiteral("ZARK_Launcher");
inline const QString LauncherUpdate = QStringLiteral("ZARK_LauncherUpdate");
inline const QString Game = QStringLiteral("ZARK_Game");
} // namespace MutexName

// The shared static operations. The file operations, deleteFile and sizeText belong to the
// update library (Util.cpp); the mutexes, the warning box and the detection tool to the
// desktop one (UtilDesktop.cpp), so the engine needs no widget.
class LTools
{
public:
    LTools() = delete;

    // ---- Shared helpers (desktop) -------------------------------------------------------
    static bool mutexExists(const QString &name);
    static bool waitForMutex(const QString &name, int seconds);
    // Test and creation in one step; the handle is 0 unless the claim is Owned.
    static NamedMutex::Claim claimMutex(const QString &name);
    static void releaseMutex(NamedMutex::Handle handle);
    static void showWarning(const QString &text);

    // Runs of the hardware detection tool. Success is judged by the caller from the files
    // the tool leaves behind.
    static bool initSettings(QString toolPath);
    static bool initResolution(QString toolPath);
    static bool initAllSettings(QString toolPath);
    // A hung tool would freeze the launcher for ever; it is ended after this limit.
    static void setToolTimeLimit(int milliseconds);
    static int toolTimeLimit();

    // ---- Shared helpers (update library) ------------------------------------------------
    static QString sizeText(qint64 bytes);
    static bool deleteFile(const QString &path);

    // ---- File operations of the update engine -------------------------------------------
    // Digests are MD5; their text form is 32 lowercase hexadecimal digits, compared exactly.
    // Files are read in blocks, so memory stays small whatever their size. A file that cannot
    // be read completely has no digest and never matches one.

    // Replaces the file at path with data in one step, creating missing folders.
    static bool saveFile(const QString &path, const QByteArray &data);
    static bool checkFileMd5(const QString &path, const QByteArray &md5Hex);
    // Both digests in one read; an empty sha256Hex checks the MD5 alone.
    static bool checkFileDigests(const QString &path, const QByteArray &md5Hex, const QByteArray &sha256Hex);
    // The raw 16-byte digest; empty when the file is missing or unreadable.
    static QByteArray fileMd5(const QString &path);
    // Installs source at target. A move over the target when the source need not be kept and
    // both lie on one file system; otherwise a copy written beside the target, verified when
    // asked, then put in place in one step. On failure target and source stay as they were.
    static bool copyFile(const QString &source, const QString &target, bool keepSource, bool verify);

private:
    static bool runTool(const QString &toolPath, const QStringList &arguments, const char *errorText);
};

#endif
