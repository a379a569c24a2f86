#include "Patcher.h"

#include "Downloader.h"
#include "Logging.h"
#include "ReleaseTrust.h"
#include "StagedFile.h"
#include "UpdateManifest.h"
#include "Util.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QRegularExpression>
#include <QSet>

#include <limits>
#include <utility>

namespace {

// A hostile or broken list could name sizes whose sum wraps around and shows nonsense in the
// progress bars; the totals stop at the largest value instead.
qint64 addSizes(qint64 a, qint64 b)
{
    a = qMax<qint64>(a, 0);
    b = qMax<qint64>(b, 0);
    const qint64 largest = std::numeric_limits<qint64>::max();
    return a > largest - b ? largest : a + b;
}

QString unsafeText(const QString &manifest, const UpdateManifest::UnsafeEntry &entry)
{
    return QStringLiteral("Unsafe entry in %1: %2").arg(manifest, entry.describe());
}

} // namespace

Patcher::Patcher(const QString &listBaseUrl, const QString &downloadDir, const QString &installDir,
    const float &currentVersion, QObject *parent)
    : QObject(parent)
    , listBaseUrl(listBaseUrl)
    , downloadDir(downloadDir)
    , installDir(installDir)
    , currentVersion(currentVersion)
    , versionListName(UpdateManifest::VersionListName)
    , updateListName(UpdateManifest::UpdateListName)
    , fileDownloader(std::make_unique<SDownloader>())
    , listDownloader(std::make_unique<SDownloader>())
{
    connect(listDownloader.get(), &SDownloader::downloadFileFinished, this, &Patcher::listDownloaded);
    connect(listDownloader.get(), &SDownloader::downloadFailed, this, &Patcher::listDownloadFailed);
    connect(fileDownloader.get(), &SDownloader::downloadFileFinished, this, &Patcher::fileDownloaded);
    connect(fileDownloader.get(), &SDownloader::downloadFailed, this, &Patcher::fileDownloadFailed);
    connect(fileDownloader.get(), &SDownloader::downloadProgress, this, &Patcher::fileDownloadProgress);
    copyTimer.setSingleShot(true);
    connect(&copyTimer, &QTimer::timeout, this, &Patcher::copyStep);
}

Patcher::~Patcher() = default;

void Patcher::failCheck(const QString &reason)
{
    qCDebug(lcUpdate).noquote() << reason;
    currentPhase = Phase::Idle;
    lastError = reason;
    emit updateCheckFailed();
}

void Patcher::failRun(const QString &reason)
{
    qCDebug(lcUpdate).noquote() << reason;
    currentPhase = Phase::Idle;
    lastError = reason;
    emit downloadFileFailed();
}

// ---- Update check ---------------------------------------------------------------------------

void Patcher::setReleaseTrust(std::shared_ptr<ReleaseTrust> trust)
{
    this->trust = std::move(trust);
}

bool Patcher::signaturesRequired() const
{
    return trust && trust->isEnabled();
}

void Patcher::fetchList(Phase phase, const QString &url, const QString &name)
{
    currentPhase = phase;
    SDownloader::Limits limits;
    limits.maxBytes = ManifestSizeLimit;
    listDownloader->download(url, downloadDir, name, false, QByteArray(), limits);
}

void Patcher::UpdateCheck()
{
    fetchList(Phase::VersionList, UpdateManifest::versionListUrl(listBaseUrl), versionListName);
}

void Patcher::listDownloaded()
{
    const QString versionListUrl = UpdateManifest::versionListUrl(listBaseUrl);
    const QString updateListUrl = UpdateManifest::updateListUrl(fileBaseUrl);
    switch (currentPhase) {
    case Phase::VersionList:
        if (signaturesRequired())
            fetchList(Phase::VersionSignature, versionListUrl + ReleaseTrust::SignatureSuffix,
                versionListName + ReleaseTrust::SignatureSuffix);
        else
            versionListDownloadFinished();
        break;
    case Phase::VersionSignature:
        versionListDownloadFinished();
        break;
    case Phase::UpdateList:
        if (signaturesRequired())
            fetchList(Phase::UpdateListSignature, updateListUrl + ReleaseTrust::SignatureSuffix,
                updateListName + ReleaseTrust::SignatureSuffix);
        else
            updateListDownloadFinished();
        break;
    case Phase::UpdateListSignature:
        updateListDownloadFinished();
        break;
    default:
        break;
    }
}

void Patcher::listDownloadFailed()
{
    // A list whose signature could not be fetched is not left for a later run to read.
    if (currentPhase == Phase::VersionSignature)
        LTools::deleteFile(downloadDir + QLatin1Char('/') + versionListName);
    if (currentPhase == Phase::UpdateListSignature)
        LTools::deleteFile(downloadDir + QLatin1Char('/') + updateListName);
    if (currentPhase == Phase::VersionList || currentPhase == Phase::VersionSignature
        || currentPhase == Phase::UpdateList || currentPhase == Phase::UpdateListSignature)
        failCheck(listDownloader->errorString());
}

// Read whole, so that the bytes parsed are the bytes whose signature was checked.
std::optional<QByteArray> Patcher::readManifest(const QString &name)
{
    QFile file(downloadDir + QLatin1Char('/') + name);
    if (!file.open(QIODevice::ReadOnly)) {
        lastError = QStringLiteral("Cannot read %1: %2").arg(file.fileName(), file.errorString());
        return std::nullopt;
    }
    if (file.size() > ManifestSizeLimit) {
        lastError = QStringLiteral("%1 is larger than %2 bytes").arg(file.fileName()).arg(ManifestSizeLimit);
        return std::nullopt;
    }
    return file.readAll();
}

// url: where the manifest came from, or empty for a list read again by the copy run.
bool Patcher::checkSignature(const QString &name, const QByteArray &manifest, const QString &url)
{
    if (!signaturesRequired())
        return true;
    const QString signatureName = name + ReleaseTrust::SignatureSuffix;
    const std::optional<QByteArray> signature = readManifest(signatureName);
    QString cause = lastError;
    bool trusted = false;
    if (signature && url.isEmpty()) {
        trusted = trust->verifyStored(manifest, *signature, &cause);
    } else if (signature) {
        std::optional<ReleaseTrust::Range> range;
        if (name == updateListName)
            range = ReleaseTrust::Range {selectedDir, updateInfo.targetVersion};
        trusted = trust->accept(url, manifest, *signature, range, &cause);
    }
    if (trusted)
        return true;
    lastError = QStringLiteral("Signature check of %1 failed: %2").arg(url.isEmpty() ? name : url, cause);
    // What failed its check is not left for a later copy run to find.
    LTools::deleteFile(downloadDir + QLatin1Char('/') + name);
    LTools::deleteFile(downloadDir + QLatin1Char('/') + signatureName);
    return false;
}

void Patcher::versionListDownloadFinished()
{
    const QString path = downloadDir + QLatin1Char('/') + versionListName;
    if (!QFile::exists(path)) {
        currentPhase = Phase::Idle;
        emit updateCheckFinished();
        return;
    }
    const std::optional<QByteArray> xml = readManifest(versionListName);
    if (!xml && !signaturesRequired()) {
        currentPhase = Phase::Idle;
        emit updateCheckFinished();
        return;
    }
    if (!xml || !checkSignature(versionListName, *xml, UpdateManifest::versionListUrl(listBaseUrl))) {
        failCheck(lastError);
        return;
    }
    const UpdateManifest::VersionSelection selection
        = UpdateManifest::selectVersion(*xml, currentVersion, listBaseUrl);
    LTools::deleteFile(path);
    LTools::deleteFile(path + ReleaseTrust::SignatureSuffix);

    if (selection.unsafe) {
        failCheck(unsafeText(versionListName, *selection.unsafe));
        return;
    }
    latestMaxVersion = qMax(latestMaxVersion, selection.latestVersion);
    if (!selection.xmlError.isEmpty())
        qCDebug(lcUpdate) << selection.xmlError;
    // An unusable list or no range for this version: no update, which is not an error.
    if (!selection.found) {
        currentPhase = Phase::Idle;
        emit updateCheckFinished();
        return;
    }

    updateInfo.targetVersion = selection.targetVersion;
    selectedDir = selection.dir;
    fileBaseUrl = UpdateManifest::fileBaseUrl(listBaseUrl, selection.dir);
    fetchList(Phase::UpdateList, UpdateManifest::updateListUrl(fileBaseUrl), updateListName);
}

void Patcher::updateListDownloadFinished()
{
    currentPhase = Phase::Idle;
    // The list was just fetched: one that cannot be read, stops early or names unsafe paths
    // must not be taken for "all files current", or the caller records a version whose files
    // were never checked.
    if (readUpdateListFile(true) != ListReading::Read) {
        failCheck(lastError);
        return;
    }
    if (hasUpdateFiles())
        emit updateCheckFinished();
    else
        emit updateFileFinished();
}

bool Patcher::readUpdateList()
{
    if (readUpdateListFile(false) != ListReading::Unusable)
        return true;
    qCDebug(lcUpdate).noquote() << lastError;
    return false;
}

Patcher::ListReading Patcher::readUpdateListFile(bool fetched)
{
    if (!QFile::exists(downloadDir + QLatin1Char('/') + updateListName))
        return ListReading::Missing;
    const std::optional<QByteArray> xml = readManifest(updateListName);
    if (!xml
        || !checkSignature(
            updateListName, *xml, fetched ? UpdateManifest::updateListUrl(fileBaseUrl) : QString()))
        return ListReading::Unusable;
    const UpdateManifest::FileList list = UpdateManifest::readFileList(*xml);
    if (list.unsafe) {
        lastError = unsafeText(updateListName, *list.unsafe);
        return ListReading::Unusable;
    }
    if (!list.complete) {
        lastError = QStringLiteral("Incomplete %1: %2").arg(updateListName, list.xmlError);
        return ListReading::Unusable;
    }

    for (const UpdateManifest::FileEntry &entry : list.entries) {
        UpdateFileInfo info = UpdateManifest::makeUpdateFileInfo(entry, downloadDir, installDir, fileBaseUrl);
        // The copy run reads a list it never downloads from: it has no server to stay on.
        if (!fileBaseUrl.isEmpty() && !UpdateManifest::staysOnServer(listBaseUrl, info.url)) {
            lastError = unsafeText(updateListName,
                UpdateManifest::UnsafeEntry(QStringLiteral("File"), QStringLiteral("Dir"), entry.dir,
                    QStringLiteral("leads off the list's server"), 0));
            updateInfo.files.clear();
            return ListReading::Unusable;
        }
        // An MD5 alone can be forged by a collision; a signed list must pin the SHA-256 too.
        if (signaturesRequired() && info.sha256.isEmpty()) {
            lastError = unsafeText(updateListName,
                UpdateManifest::UnsafeEntry(QStringLiteral("File"), QStringLiteral("SHA256"), QString(),
                    QStringLiteral("missing from a signed list"), 0));
            updateInfo.files.clear();
            return ListReading::Unusable;
        }
        listedFiles.append(info);
        if (LTools::checkFileDigests(info.installPath(), info.md5.toUtf8(), info.sha256.toUtf8()))
            continue;
        info.size = qMax<qint64>(info.size, 0);
        updateInfo.files.append(info);
    }
    return ListReading::Read;
}

bool Patcher::hasUpdateFiles() const
{
    return !updateInfo.files.isEmpty();
}

int Patcher::fileCount() const
{
    return updateInfo.files.size();
}

qlonglong Patcher::totalDownloadSize() const
{
    qint64 total = 0;
    for (const UpdateFileInfo &file : updateInfo.files)
        total = addSizes(total, file.size);
    return total;
}

float Patcher::targetVersion() const
{
    return updateInfo.targetVersion;
}

float Patcher::latestVersion() const
{
    return latestMaxVersion;
}

void Patcher::setTransferTimeout(int milliseconds)
{
    fileDownloader->setTransferTimeout(milliseconds);
    listDownloader->setTransferTimeout(milliseconds);
}

// ---- Download runs --------------------------------------------------------------------------

// What a killed or failed run left behind: staged downloads that no file of this list will
// continue, and the temporary copies an install writes beside the files it replaces. Only
// names of those two patterns are touched; in the game folder only beside listed files.
void Patcher::clearStaleStaging() const
{
    static const QRegularExpression staging(QStringLiteral("^\\..+\\.[0-9a-z]{1,13}\\.part$"));
    static const QRegularExpression resumable(QStringLiteral("^\\..+\\.[0-9a-f]{32}\\.part(\\.validator)?$"));
    QSet<QString> wanted;
    for (const UpdateFileInfo &file : updateInfo.files) {
        const QString path = StagedFile::resumablePath(file.downloadPath(), file.md5);
        wanted << path << StagedFile::validatorPath(path);
    }
    QDirIterator downloads(downloadDir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (downloads.hasNext()) {
        const QString path = downloads.next();
        const QString name = downloads.fileName();
        if ((staging.match(name).hasMatch() || resumable.match(name).hasMatch())
            && !wanted.contains(QFileInfo(path).absoluteFilePath()))
            QFile::remove(path);
    }
    for (const UpdateFileInfo &file : listedFiles) {
        const QString prefix
            = QLatin1Char('.') + file.name.section(QLatin1Char('/'), -1).left(100) + QLatin1Char('.');
        const QDir folder(QFileInfo(file.installPath()).absolutePath());
        for (const QString &name :
            folder.entryList({prefix + QStringLiteral("*.part")}, QDir::Files | QDir::Hidden)) {
            if (staging.match(name).hasMatch() && name.mid(prefix.size()).count(QLatin1Char('.')) == 1)
                QFile::remove(folder.filePath(name));
        }
    }
}

void Patcher::startDownload(bool copyAfterDownload)
{
    clearStaleStaging();
    nowCount = 0;
    currentFileBytes = 0;
    // A run started again after a failure counts from zero, or the bars pass 100%.
    finishedBytes = 0;
    workQueue = updateInfo.files;
    installAfterDownload = copyAfterDownload;

    if (workQueue.isEmpty()) {
        // Nothing to fetch: the run is complete, reported like any other end.
        currentPhase = Phase::Idle;
        QMetaObject::invokeMethod(this, &Patcher::downloadListFileFinished, Qt::QueuedConnection);
        return;
    }
    currentPhase = Phase::Downloading;
    currentFile = workQueue.takeLast();
    downloadCurrentFile();
}

void Patcher::downloadCurrentFile()
{
    SDownloader::Limits limits;
    limits.sha256Hex = currentFile.sha256.toUtf8();
    // A correct list gives each file's size; more bytes than that are a server filling the disk.
    // A signed list is trusted to give it, even when it is 0.
    if (currentFile.size > 0 || signaturesRequired())
        limits.maxBytes = currentFile.size;
    fileDownloader->download(
        currentFile.url, currentFile.downloadDir, currentFile.name, true, currentFile.md5.toUtf8(), limits);
}

void Patcher::fileDownloadProgress(qlonglong received, qlonglong total)
{
    if (currentPhase != Phase::Downloading)
        return;
    currentFileBytes = qMax<qint64>(received, 0);
    emit updateDownloadFileState(received, total);
    emit updateTotalDownloadState(addSizes(finishedBytes, currentFileBytes), nowCount);
}

void Patcher::fileDownloadFailed()
{
    if (currentPhase == Phase::Downloading)
        failRun(fileDownloader->errorString());
}

void Patcher::fileDownloaded()
{
    if (currentPhase != Phase::Downloading)
        return;
    if (installAfterDownload)
        downloadAndCopyFileFinished();
    else
        downloadFileFinished();
}

void Patcher::downloadFileFinished()
{
    completeCurrentFile();
}

void Patcher::downloadAndCopyFileFinished()
{
    constexpr bool keepSource = false;
    constexpr bool verify = true;
    if (!LTools::copyFile(currentFile.downloadPath(), currentFile.installPath(), keepSource, verify)) {
        failRun(QStringLiteral("Cannot install %1").arg(currentFile.installPath()));
        return;
    }
    completeCurrentFile();
}

void Patcher::completeCurrentFile()
{
    ++nowCount;
    finishedBytes = addSizes(finishedBytes, currentFile.size);
    currentFileBytes = 0;
    currentFile = UpdateFileInfo();

    emit updateTotalDownloadState(finishedBytes, nowCount);
    emit downloadOneFileFinished();

    if (workQueue.isEmpty()) {
        currentPhase = Phase::Idle;
        emit downloadListFileFinished();
        return;
    }
    currentFile = workQueue.takeLast();
    downloadCurrentFile();
}

// ---- Copy run -------------------------------------------------------------------------------

void Patcher::startCopy()
{
    clearStaleStaging();
    currentPhase = Phase::Copying;
    nowCount = 0;
    workQueue = updateInfo.files;
    copyTimer.start(copyInterval);
}

void Patcher::copyStep()
{
    if (currentPhase != Phase::Copying)
        return;
    if (workQueue.isEmpty()) {
        currentPhase = Phase::Idle;
        emit copyFileFinished();
        return;
    }

    const UpdateFileInfo record = workQueue.takeLast();
    constexpr bool keepSource = false;
    constexpr bool verify = true;
    // The downloads waited on disk since they were checked: a signed list's files are checked again.
    const bool intact = record.sha256.isEmpty()
        || LTools::checkFileDigests(record.downloadPath(), record.md5.toUtf8(), record.sha256.toUtf8());
    // The timer stays stopped: a failed run is not resumed.
    if (!intact || !LTools::copyFile(record.downloadPath(), record.installPath(), keepSource, verify)) {
        currentPhase = Phase::Idle;
        lastError = intact
            ? QStringLiteral("Cannot copy %1 to %2").arg(record.downloadPath(), record.installPath())
            : QStringLiteral("%1 no longer matches its digests").arg(record.downloadPath());
        qCDebug(lcUpdate).noquote() << lastError;
        emit copyFileFailed();
        return;
    }

    ++nowCount;
    if (workQueue.isEmpty()) {
        currentPhase = Phase::Idle;
        emit copyFileFinished();
        return;
    }
    emit updateCopyFileState(nowCount, fileCount());
    copyTimer.start(copyInterval);
}
