#include "StagedFile.h"

#include "FileIo.h"
#include "Util.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

StagedFile::StagedFile(const QString &targetPath, bool withSha256)
    : m_targetPath(targetPath)
    , m_hash(withSha256)
{ }

StagedFile::~StagedFile()
{
    if (m_resumable)
        m_file.close();
    else
        discard();
}

QString StagedFile::resumablePath(const QString &targetPath, const QString &tag)
{
    const QFileInfo target(targetPath);
    return target.absolutePath() + QStringLiteral("/.") + target.fileName().left(100) + QLatin1Char('.') + tag
        + QStringLiteral(".part");
}

bool StagedFile::openResumable(const QString &tag)
{
    if (m_file.isOpen())
        return true;
    const QString path = resumablePath(m_targetPath, tag);
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        m_error = QStringLiteral("cannot create the folder %1").arg(QFileInfo(path).absolutePath());
        m_failed = true;
        return false;
    }
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::ReadWrite)) {
        m_error = m_file.errorString();
        m_file.setFileName(QString());
        m_failed = true;
        return false;
    }
    m_resumable = true;
    // Bytes from an earlier run are hashed again, never trusted: the next check compares them.
    QByteArray block(FileIo::BlockSize, Qt::Uninitialized);
    for (qint64 got; (got = m_file.read(block.data(), block.size())) > 0;) {
        m_hash.addData(block.constData(), got);
        m_size += got;
    }
    if (!m_file.atEnd())
        return truncate();
    return true;
}

bool StagedFile::truncate()
{
    m_hash.reset();
    m_size = 0;
    if (m_file.isOpen() && (!m_file.resize(0) || !m_file.seek(0))) {
        m_error = m_file.errorString();
        m_failed = true;
        return false;
    }
    return true;
}

bool StagedFile::open()
{
    if (m_file.isOpen())
        return true;
    if (m_failed)
        return false;
    const QFileInfo target(m_targetPath);
    const QString folder = target.absolutePath();
    if (!QDir().mkpath(folder)) {
        m_error = QStringLiteral("cannot create the folder %1").arg(folder);
        m_failed = true;
        return false;
    }
    // Hidden beside the target, so the final rename stays on one file system; the random part
    // keeps two writers of one target apart.
    const QString stem = folder + QStringLiteral("/.") + target.fileName().left(100) + QLatin1Char('.');
    for (int tries = 0; tries < 16; ++tries) {
        m_file.setFileName(
            stem + QString::number(QRandomGenerator::global()->generate64(), 36) + QStringLiteral(".part"));
        if (m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return true;
        if (!m_file.exists())
            break;
    }
    m_error = m_file.errorString();
    m_file.setFileName(QString());
    m_failed = true;
    return false;
}

bool StagedFile::isOpen() const
{
    return m_file.isOpen();
}

bool StagedFile::write(const char *data, qint64 size)
{
    if (!open())
        return false;
    if (size <= 0)
        return true;
    if (m_file.write(data, size) != size) {
        m_error = m_file.errorString();
        m_failed = true;
        return false;
    }
    m_hash.addData(data, size);
    m_size += size;
    return true;
}

QByteArray StagedFile::md5() const
{
    return m_hash.result();
}

bool StagedFile::commit(Verification verification)
{
    if (!open() || m_failed) {
        discard();
        return false;
    }
    const bool flushed = m_file.flush();
    m_file.close();
    const bool written = flushed && m_file.error() == QFileDevice::NoError;
    if (!written)
        m_error = m_file.errorString();
    else if (verification == VerifyOnDisk && LTools::fileMd5(m_file.fileName()) != md5())
        m_error = QStringLiteral("the written copy differs from what was written");
    else if (!FileIo::moveOver(m_file.fileName(), m_targetPath))
        m_error = QStringLiteral("cannot put it in place: %1").arg(qt_error_string());
    else
        m_error.clear();
    if (!m_error.isEmpty()) {
        discard();
        return false;
    }
    if (m_resumable)
        QFile::remove(validatorPath(m_file.fileName()));
    m_resumable = false;
    m_file.setFileName(QString());
    m_hash.reset();
    m_size = 0;
    return true;
}

void StagedFile::discard()
{
    if (m_file.isOpen())
        m_file.close();
    if (!m_file.fileName().isEmpty())
        QFile::remove(m_file.fileName());
    if (m_resumable)
        QFile::remove(validatorPath(m_file.fileName()));
    m_resumable = false;
    m_file.setFileName(QString());
    m_hash.reset();
    m_size = 0;
    m_failed = false;
}
