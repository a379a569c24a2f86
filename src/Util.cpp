#include "Util.h"

#include "FileIo.h"
#include "StagedFile.h"

#include "Crypto.h"

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

namespace {

// A read error yields no digest at all rather than the digest of what was read before it.
bool hashFile(const QString &path, QList<Crypto::Hash *> hashes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QByteArray block(FileIo::BlockSize, Qt::Uninitialized);
    for (;;) {
        const qint64 got = file.read(block.data(), block.size());
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        for (Crypto::Hash *hash : hashes)
            hash->addData(block.constData(), got);
    }
}

} // namespace

bool LTools::checkFileMd5(const QString &path, const QByteArray &md5Hex)
{
    return checkFileDigests(path, md5Hex, QByteArray());
}

bool LTools::checkFileDigests(const QString &path, const QByteArray &md5Hex, const QByteArray &sha256Hex)
{
    Crypto::Hash md5(Crypto::Algorithm::Md5);
    Crypto::Hash sha256(Crypto::Algorithm::Sha256);
    QList<Crypto::Hash *> hashes {&md5};
    if (!sha256Hex.isEmpty())
        hashes.append(&sha256);
    return hashFile(path, hashes) && md5.result().toHex() == md5Hex
        && (sha256Hex.isEmpty() || sha256.result().toHex() == sha256Hex);
}

QByteArray LTools::fileMd5(const QString &path)
{
    Crypto::Hash md5(Crypto::Algorithm::Md5);
    return hashFile(path, {&md5}) ? md5.result() : QByteArray();
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
