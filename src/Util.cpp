#include "Util.h"

#include "platform/FileReplace.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QProcess>
#include <QRandomGenerator>

#include <exception>

namespace {
int g_toolTimeLimitMs = 2 * 60 * 1000;
}

bool LTools::mutexExists(const QString &name)
{
    return NamedMutex::exists(name.toStdU16String());
}

bool LTools::waitForMutex(const QString &name, int seconds)
{
    return NamedMutex::waitUntilFree(name.toStdU16String(), seconds * 1000);
}

NamedMutex::Handle LTools::createOwnedMutex(const QString &name)
{
    return NamedMutex::createOwned(name.toStdU16String());
}

void LTools::releaseMutex(NamedMutex::Handle handle)
{
    NamedMutex::release(handle);
}

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

void LTools::showWarning(const QString &text)
{
    showMessage(
        QMessageBox::Warning, QObject::tr("警告訊息"), text, QObject::tr("確定"), QString(), OnTop::Yes);
}

bool LTools::showMessage(QMessageBox::Icon icon, const QString &title, const QString &text,
    const QString &yesText, const QString &noText, OnTop onTop)
{
    QMessageBox box;
    box.setIcon(icon);
    box.setWindowTitle(title);
    box.setText(text);
    QAbstractButton *yes = box.addButton(yesText, QMessageBox::YesRole);
    if (!noText.isEmpty())
        box.addButton(noText, QMessageBox::NoRole);
    if (onTop == OnTop::Yes)
        box.setWindowFlags(box.windowFlags() | Qt::WindowStaysOnTopHint);
    box.exec();
    return box.clickedButton() == yes;
}

bool LTools::deleteFile(const QString &path)
{
    try {
        if (!QFileInfo::exists(path))
            return true;
        return QFile::remove(path);
    } catch (const std::exception &e) {
        qDebug() << e.what();
        return false;
    }
}

bool LTools::initSettings(QString toolPath)
{
    return runTool(toolPath, {QStringLiteral("generateIni")}, "Generate Game Settings Error(");
}

bool LTools::initResolution(QString toolPath)
{
    return runTool(toolPath, {QStringLiteral("resolution")}, "Generate Resolution Error(");
}

bool LTools::initAllSettings(QString toolPath)
{
    return runTool(toolPath, {QStringLiteral("generateIni"), QStringLiteral("resolution")},
        "Generate All Settings Error(");
}

void LTools::setToolTimeLimit(int milliseconds)
{
    g_toolTimeLimitMs = milliseconds;
}

int LTools::toolTimeLimit()
{
    return g_toolTimeLimitMs;
}

bool LTools::runTool(const QString &toolPath, const QStringList &arguments, const char *errorText)
{
    if (!QFileInfo::exists(toolPath))
        return false;
    QProcess tool;
    tool.setProcessChannelMode(QProcess::ForwardedChannels);
    tool.setInputChannelMode(QProcess::ForwardedInputChannel);
    tool.start(toolPath, arguments);
    if (!tool.waitForStarted(-1)) {
        qDebug() << QString(QLatin1String(errorText) + QString::number(-2) + QLatin1Char(')'));
        return false;
    }
    if (!tool.waitForFinished(g_toolTimeLimitMs)) {
        qDebug() << "Hardware detection tool did not finish in" << g_toolTimeLimitMs << "ms; ending it";
        tool.kill();
        tool.waitForFinished(-1);
    }
    return true;
}

// ---- File operations of the update engine ---------------------------------------------------

namespace {

// Large enough for read(2) to run at disk speed, small enough to be irrelevant to memory.
constexpr int BlockSize = 1 << 20;

FileReplace::NativePath nativePath(const QString &path)
{
#ifdef Q_OS_WIN
    return QDir::toNativeSeparators(path).toStdWString();
#else
    return QFile::encodeName(path).toStdString();
#endif
}

void addToHash(QCryptographicHash &hash, const char *data, qint64 size)
{
    while (size > 0) {
        const int part = int(qMin<qint64>(size, BlockSize));
        hash.addData(data, part);
        data += part;
        size -= part;
    }
}

// A read error yields no digest at all rather than the digest of what was read before it.
QByteArray md5OfFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    QCryptographicHash hash(QCryptographicHash::Md5);
    QByteArray block(BlockSize, Qt::Uninitialized);
    for (;;) {
        const qint64 got = file.read(block.data(), block.size());
        if (got < 0)
            return QByteArray();
        if (got == 0)
            return hash.result();
        hash.addData(block.constData(), int(got));
    }
}

} // namespace

bool LTools::saveFile(const QString &path, const QByteArray &data)
{
    try {
        StagedFile staged(path);
        return staged.write(data) && staged.commit();
    } catch (const std::exception &e) {
        qDebug() << e.what();
        return false;
    }
}

bool LTools::checkFileMd5(const QString &path, const QByteArray &md5Hex)
{
    const QByteArray digest = fileMd5(path);
    return !digest.isEmpty() && digest.toHex() == md5Hex;
}

QByteArray LTools::fileMd5(const QString &path)
{
    return md5OfFile(path);
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
        const FileReplace::Result moved = FileReplace::moveOver(nativePath(source), nativePath(target));
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
    QByteArray block(BlockSize, Qt::Uninitialized);
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

StagedFile::StagedFile(const QString &targetPath)
    : m_targetPath(targetPath)
{ }

StagedFile::~StagedFile()
{
    discard();
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
    if (!written || (verification == VerifyOnDisk && md5OfFile(m_file.fileName()) != md5())
        || FileReplace::moveOver(nativePath(m_file.fileName()), nativePath(m_targetPath))
            != FileReplace::Result::Replaced) {
        discard();
        return false;
    }
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
    m_file.setFileName(QString());
    m_hash.reset();
    m_size = 0;
    m_failed = false;
}
