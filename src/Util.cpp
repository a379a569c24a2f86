#include "Util.h"

#include "FileIo.h"
#include "StagedFile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

QString LTools::sizeText(qint64 bytes)
{
    struct Unit
    {
        qint64 bound;
        const char *pattern;
    };
    static const Unit units[] = {
        {Q_INT64_C(1073741824), "%.2lf GB"},
        {Q_INT64_C(1048576), "%.2lf MB"},
        {Q_INT64_C(1024), "%.2lf KB"},
    };
    for (const Unit &unit : units) {
        if (bytes >= unit.bound)
            return QString::asprintf(unit.pattern, double(bytes) / double(unit.bound));
    }
    return QString::asprintf("%.2lf Bytes", double(bytes));
}

bool LTools::deleteFile(const QString &path)
{
    if (!QFileInfo::exists(path))
        return true;
    return QFile::remove(path);
}

bool LTools::saveFile(const QString &path, const QByteArray &data)
{
    StagedFile staged(path);
    return staged.write(data) && staged.commit();
}

bool LTools::checkFileMd5(const QString &path, const QByteArray &md5Hex)
{
    const QByteArray digest = fileMd5(path);
    return !digest.isEmpty() && digest.toHex() == md5Hex;
}

// A read error yields no digest at all rather than the digest of what was read before it.
QByteArray LTools::fileMd5(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    QCryptographicHash hash(QCryptographicHash::Md5);
    QByteArray block(FileIo::BlockSize, Qt::Uninitialized);
    for (;;) {
        const qint64 got = file.read(block.data(), block.size());
        if (got < 0)
            return QByteArray();
        if (got == 0)
            return hash.result();
        hash.addData(block.constData(), int(got));
    }
}

bool LTools::copyFile(const QString &source, const QString &target, bool keepSource, bool verify)
{
    const QFileInfo targetInfo(target);
    if (!QDir().mkpath(targetInfo.absolutePath()))
        return false;
    const QFileInfo sourceInfo(source);
    if (!sourceInfo.isFile())
        return false;
    // Copying a file onto itself would otherwise end by deleting it.
    if (targetInfo.exists() && sourceInfo == targetInfo)
        return true;

    // A move is atomic and leaves the content untouched: nothing to verify. Any other refusal
    // (other file system, odd permissions) falls back to the copy, which fails cleanly if it must.
    if (!keepSource) {
        const FileReplace::Result moved
            = FileReplace::moveOver(FileIo::nativePath(source), FileIo::nativePath(target));
        if (moved == FileReplace::Result::Replaced)
            return true;
        if (moved == FileReplace::Result::TargetInUse)
            return false;
    }

    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    StagedFile staged(target);
    if (!staged.open())
        return false;
    QByteArray block(FileIo::BlockSize, Qt::Uninitialized);
    for (;;) {
        const qint64 got = in.read(block.data(), block.size());
        if (got < 0)
            return false;
        if (got == 0)
            break;
        if (!staged.write(block.constData(), got))
            return false;
    }
    in.close();
    // The staged digest is that of the source as read; verifying compares it with the copy on disk.
    if (!staged.commit(verify ? StagedFile::VerifyOnDisk : StagedFile::TrustWrites))
        return false;
    return keepSource || deleteFile(source);
}
