#ifndef UTIL_H
#define UTIL_H

#include "StreamDigest.h"
#include "platform/NamedMutex.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QFile>
#include <QMessageBox>
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
    // A modal message box without a parent, the texts already translated by the caller. True
    // when the yes-role button was pressed; noText adds a no-role button.
    enum class OnTop { No, Yes };
    static bool showMessage(QMessageBox::Icon icon, const QString &title, const QString &text,
        const QString &yesText, const QString &noText = QString(), OnTop onTop = OnTop::No);
    static bool deleteFile(const QString &path);

    // Runs of the hardware detection tool. Success is judged by the caller from the files
    // the tool leaves behind.
    static bool initSettings(QString toolPath);
    static bool initResolution(QString toolPath);
    static bool initAllSettings(QString toolPath);
    // A hung tool would freeze the launcher for ever; it is ended after this limit.
    static void setToolTimeLimit(int milliseconds);
    static int toolTimeLimit();

    // ---- File operations of the update engine -------------------------------------------
    // Digests are MD5; their text form is 32 lowercase hexadecimal digits, compared exactly.
    // Files are read in blocks, so memory stays small whatever their size. A file that cannot
    // be read completely has no digest and never matches one.

    // Replaces the file at path with data in one step, creating missing folders.
    static bool saveFile(const QString &path, const QByteArray &data);
    static bool checkFileMd5(const QString &path, const QByteArray &md5Hex);
    // The raw 16-byte digest; empty when the file is missing or unreadable.
    static QByteArray fileMd5(const QString &path);
    // Installs source at target. A move over the target when the source need not be kept and
    // both lie on one file system; otherwise a copy written beside the target, verified when
    // asked, then put in place in one step. On failure target and source stay as they were.
    static bool copyFile(const QString &source, const QString &target, bool keepSource, bool verify);
    // ---- end of file operations ---------------------------------------------------------

private:
    static bool runTool(const QString &toolPath, const QStringList &arguments, const char *errorText);
};

// ---- Staged file: new content for a path, hashed on its way to disk ----------------------
// Bytes go to a temporary file beside the target while their MD5 is computed; the target
// changes only on commit(), in one step, and keeps the mode of the file it replaces. A
// staged file destroyed or discarded before commit() leaves nothing behind.
//
// No fdatasync per file (QSaveFile does one): an update writes thousands of small files, and
// a file torn by a power cut fails its digest at the next check and is fetched again.
class StagedFile
{
public:
    enum Verification { TrustWrites, VerifyOnDisk };

    explicit StagedFile(const QString &targetPath);
    ~StagedFile();
    StagedFile(const StagedFile &) = delete;
    StagedFile &operator=(const StagedFile &) = delete;

    // Creates missing folders and the temporary file; write() and commit() open it on demand.
    bool open();
    bool isOpen() const;
    bool write(const char *data, qint64 size);
    bool write(const QByteArray &data) { return write(data.constData(), data.size()); }
    // False once a write failed; the content is then incomplete.
    bool hasFailed() const { return m_failed; }
    qint64 size() const { return m_size; }
    // Digest of everything written so far.
    QByteArray md5() const;
    QByteArray md5Hex() const { return md5().toHex(); }
    // With VerifyOnDisk the temporary file is read back and must match md5().
    bool commit(Verification verification = TrustWrites);
    void discard();
    QString targetPath() const { return m_targetPath; }

private:
    QString m_targetPath;
    QFile m_file;
    mutable StreamDigest m_hash;
    qint64 m_size = 0;
    bool m_failed = false;
};

#endif
