#include "Patcher.h"

#include "Downloader.h"
#include "Logging.h"
#include "UpdateManifest.h"
#include "Util.h"

#include <QFile>
#include <QMetaObject>

#include <limits>

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
    if (copyTimer.isActive())
        copyTimer.stop();
    emit downloadFileFailed();
}

// ---- Update check ---------------------------------------------------------------------------

void Patcher::UpdateCheck()
{
    currentPhase = Phase::VersionList;
    listDownloader->download(
        UpdateManifest::versionListUrl(listBaseUrl), downloadDir, versionListName, false, QByteArray());
}

void Patcher::listDownloaded()
{
    switch (currentPhase) {
    case Phase::VersionList:
        versionListDownloadFinished();
        break;
    case Phase::UpdateList:
        updateListDownloadFinished();
        break;
    default:
        break;
    }
}

void Patcher::listDownloadFailed()
{
    if (currentPhase == Phase::VersionList || currentPhase == Phase::UpdateList)
        failCheck(listDownloader->errorString());
}

void Patcher::versionListDownloadFinished()
{
    const QString path = downloadDir + QLatin1Char('/') + versionListName;
    QFile file(path);
    if (!file.exists() || !file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        currentPhase = Phase::Idle;
        emit updateCheckFinished();
        return;
    }
    const UpdateManifest::VersionSelection selection
        = UpdateManifest::selectVersion(&file, currentVersion, listBaseUrl);
    file.close();
    LTools::deleteFile(path);

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
    fileBaseUrl = UpdateManifest::fileBaseUrl(listBaseUrl, selection.dir);
    currentPhase = Phase::UpdateList;
    listDownloader->download(
        UpdateManifest::updateListUrl(fileBaseUrl), downloadDir, updateListName, false, QByteArray());
}

void Patcher::updateListDownloadFinished()
{
    currentPhase = Phase::Idle;
    // The list was just fetched: one that cannot be read, stops early or names unsafe paths
    // must not be taken for "all files current", or the caller records a version whose files
    // were never checked.
    if (readUpdateListFile() != ListReading::Read) {
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
    if (readUpdateListFile() != ListReading::Unusable)
        return true;
    qCDebug(lcUpdate).noquote() << lastError;
    return false;
}

Patcher::ListReading Patcher::readUpdateListFile()
{
    const QString path = downloadDir + QLatin1Char('/') + updateListName;
    QFile file(path);
    if (!file.exists())
        return ListReading::Missing;
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        lastError = QStringLiteral("Cannot read %1: %2").arg(path, file.errorString());
        return ListReading::Unusable;
    }
    const UpdateManifest::FileList list = UpdateManifest::readFileList(&file);
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
        if (LTools::checkFileMd5(info.installPath(), info.md5.toUtf8()))
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

void Patcher::startDownload(bool copyAfterDownload)
{
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
    fileDownloader->download(
        currentFile.url, currentFile.downloadDir, currentFile.name, true, currentFile.md5.toUtf8());
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
    // The timer stays stopped: a failed run is not resumed.
    if (!LTools::copyFile(record.downloadPath(), record.installPath(), keepSource, verify)) {
        currentPhase = Phase::Idle;
        lastError = QStringLiteral("Cannot copy %1 to %2").arg(record.downloadPath(), record.installPath());
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
