#ifndef STAGEDFILE_H
#define STAGEDFILE_H

#include "StreamDigest.h"

#include <QByteArray>
#include <QFile>
#include <QString>

// New content for a path, hashed on its way to disk.
// Bytes go to a temporary file beside the target while their MD5 is computed; the target
// changes only on commit(), in one step, and keeps the mode of the file it replaces. A
// staged file destroyed or discarded before commit() leaves nothing behind, except a
// resumable one: its name is derived from the content it is meant to become, so a later run
// finds the bytes again and carries on.
//
// No fdatasync per file (QSaveFile does one): an update writes thousands of small files, and
// a file torn by a power cut fails its digest at the next check and is fetched again.
class StagedFile
{
public:
    enum Verification { TrustWrites, VerifyOnDisk };

    explicit StagedFile(const QString &targetPath, bool withSha256 = false);
    ~StagedFile();
    StagedFile(const StagedFile &) = delete;
    StagedFile &operator=(const StagedFile &) = delete;

    // Creates missing folders and the temporary file; write() and commit() open it on demand.
    bool open();
    // Opens the stable staging file for this target and content (tag: the expected digest),
    // keeping and hashing again whatever an earlier attempt or run left in it. It stays on disk
    // when this object goes without commit() or discard().
    bool openResumable(const QString &tag);
    // Drops the bytes written so far and starts the content again.
    bool truncate();
    // The stable staging path for a target and tag, and the file that keeps what identifies the
    // server's version of the bytes (an ETag or a Last-Modified date).
    static QString resumablePath(const QString &targetPath, const QString &tag);
    static QString validatorPath(const QString &stagingPath)
    {
        return stagingPath + QStringLiteral(".validator");
    }
    QString stagingPath() const { return m_file.fileName(); }
    bool isOpen() const;
    bool write(const char *data, qint64 size);
    bool write(const QByteArray &data) { return write(data.constData(), data.size()); }
    // False once a write failed; the content is then incomplete.
    bool hasFailed() const { return m_failed; }
    qint64 size() const { return m_size; }
    // Digest of everything written so far.
    QByteArray md5() const;
    QByteArray md5Hex() const { return md5().toHex(); }
    // Empty unless asked for at construction.
    QByteArray sha256Hex() const { return m_hash.sha256().toHex(); }
    // With VerifyOnDisk the temporary file is read back and must match md5().
    bool commit(Verification verification = TrustWrites);
    void discard();
    QString targetPath() const { return m_targetPath; }
    // Why the last open, write or commit failed; kept after discard().
    QString errorString() const { return m_error; }

private:
    QString m_targetPath;
    QFile m_file;
    mutable StreamDigest m_hash;
    qint64 m_size = 0;
    bool m_failed = false;
    bool m_resumable = false;
    QString m_error;
};

#endif
