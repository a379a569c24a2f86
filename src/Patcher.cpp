#include "Patcher.h"

#include "Downloader.h"
#include "UpdateManifest.h"
#include "Util.h"

#include <QDebug>
#include <QFile>
#include <QMetaObject>
#include <QTimer>

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

void logUnsafe(const QString &manifest, const UpdateManifest::UnsafeEntry &entry)
{
    qDebug().noquote() << "Unsafe entry in" << manifest + QLatin1Char(':') << entry.describe();
}

} // namespace

Patcher::Patcher(const QString &listBaseUrl, const QString &downloadDir, const QString &installDir,
    const float &currentVersion)
    : listBaseUrl(listBaseUrl)
    , downloadDir(downloadDir)
    , installDir(installDir)
    , currentVersion(currentVersion)
    , versionListName(UpdateManifest::VersionListName)
    , updateListName(UpdateManifest::UpdateListName)
    , fileDownloader(std::make_unique<SDownloader>())
    , listDownloader(std::make_unique<SDownloader>())
{ }

Patcher::~Patcher()
{
    delete copyTimer.data();
}

// ---- Update check ---------------------------------------------------------------------------

void Patcher::UpdateCheck()
{
    listDownloader->download(
        UpdateManifest::versionListUrl(listBaseUrl), downloadDir, versionListName, false, QByteArray());
    // Stays connected for the whole check, so it also covers UpdateList.xml.
    connect(listDownloader.get(), &SDownloader::downloadFailed, this, &Patcher::updateCheckFailed);
    connect(listDownloader.get(), &SDownloader::downloadFileFinished, this,
        &Patcher::versionListDownloadFinished);
}

void Patcher::versionListDownloadFinished()
{
    const QString path = downloadDir + QLatin1Char('/') + versionListName;
    QFile file(path);
    if (!file.exists() || !file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        emit updateCheckFinished();
        return;
    }
    const UpdateManifest::VersionSelection selection = UpdateManifest::selectVersion(&file, currentVersion);
    file.close();
    LTools::deleteFile(path);

    if (selection.unsafe) {
        logUnsafe(versionListName, *selection.unsafe);
        emit updateCheckFailed();
        return;
    }
    latestMaxVersion = qMax(latestMaxVersion, selection.latestVersion);
    if (!selection.xmlError.isEmpty())
        qDebug() << selection.xmlError;
    // An unusable list or no range for this version: no update, which is not an error.
    if (!selection.found) {
        emit updateCheckFinished();
        return;
    }

    updateInfo.targetVersion = selection.targetVersion;
    fileBaseUrl = UpdateManifest::fileBaseUrl(listBaseUrl, selection.dir);
    listDownloader->download(
        UpdateManifest::updateListUrl(fileBaseUrl), downloadDir, updateListName, false, QByteArray());
    disconnect(listDownloader.get(), &SDownloader::downloadFileFinished, nullptr, nullptr);
    connect(
        listDownloader.get(), &SDownloader::downloadFileFinished, this, &Patcher::updateListDownloadFinished);
}

void Patcher::updateListDownloadFinished()
{
    // The list was just fetched: one that cannot be read, stops early or names unsafe paths
    // must not be taken for "all files current", or the caller records a version whose files
    // were never checked.
    if (readUpdateListFile() != ListReading::Read) {
        emit updateCheckFailed();
        return;
    }
    if (hasUpdateFiles())
        emit updateCheckFinished();
    else
        emit updateFileFinished();
}

bool Patcher::readUpdateList()
{
    return readUpdateListFile() != ListReading::Unusable;
}

Patcher::ListReading Patcher::readUpdateListFile()
{
    const QString path = downloadDir + QLatin1Char('/') + updateListName;
    QFile file(path);
    if (!file.exists())
        return ListReading::Missing;
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qDebug() << "Cannot read" << path << file.errorString();
        return ListReading::Unusable;
    }
    const UpdateManifest::FileList list = UpdateManifest::readFileList(&file);
    if (list.unsafe) {
        logUnsafe(updateListName, *list.unsafe);
        return ListReading::Unusable;
    }
    if (!list.complete) {
        qDebug() << "Incomplete" << updateListName << list.xmlError;
        return ListReading::Unusable;
    }

    for (const UpdateManifest::FileEntry &entry : list.entries) {
        UpdateFileInfo info = UpdateManifest::makeUpdateFileInfo(entry, downloadDir, installDir, fileBaseUrl);
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
    fileDownloader->disconnect();

    if (workQueue.isEmpty()) {
        // Nothing to fetch: the run is complete, reported like any other end.
        QMetaObject::invokeMethod(this, &Patcher::downloadListFileFinished, Qt::QueuedConnection);
        return;
    }
    currentFile = workQueue.takeLast();
    connectRunSignals(copyAfterDownload);
    downloadCurrentFile();
}

void Patcher::connectRunSignals(bool copyAfterDownload)
{
    SDownloader *downloader = fileDownloader.get();
    // A failed run reports once; whatever the downloader still delivers belongs to no run.
    connect(downloader, &SDownloader::downloadFailed, this, [this, downloader] {
        emit downloadFileFailed();
        downloader->disconnect();
    });
    connect(downloader, &SDownloader::downloadProgress, this, [this](qlonglong received, qlonglong total) {
        currentFileBytes = qMax<qint64>(received, 0);
        emit updateDownloadFileState(received, total);
        emit updateTotalDownloadState(addSizes(finishedBytes, currentFileBytes), nowCount);
    });
    connect(downloader, &SDownloader::downloadFileFinished, this,
        copyAfterDownload ? &Patcher::downloadAndCopyFileFinished : &Patcher::downloadFileFinished);
}

void Patcher::downloadCurrentFile()
{
    fileDownloader->download(
        currentFile.url, currentFile.downloadDir, currentFile.name, true, currentFile.md5.toUtf8());
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
        emit downloadFileFailed();
        fileDownloader->disconnect();
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
        emit downloadListFileFinished();
        return;
    }
    currentFile = workQueue.takeLast();
    downloadCurrentFile();
}

// ---- Copy run -------------------------------------------------------------------------------

void Patcher::startCopy()
{
    releaseCopyTimer();
    copyTimer = new QTimer;
    nowCount = 0;
    workQueue = updateInfo.files;
    connect(copyTimer, &QTimer::timeout, this, &Patcher::copyStep);
    copyTimer->start(copyInterval);
}

void Patcher::copyStep()
{
    copyTimer->stop();
    if (workQueue.isEmpty()) {
        releaseCopyTimer();
        emit copyFileFinished();
        return;
    }

    const UpdateFileInfo record = workQueue.takeLast();
    constexpr bool keepSource = false;
    constexpr bool verify = true;
    // The timer stays stopped: a failed run is not resumed.
    if (!LTools::copyFile(record.downloadPath(), record.installPath(), keepSource, verify)) {
        emit copyFileFailed();
        return;
    }

    ++nowCount;
    if (workQueue.isEmpty()) {
        releaseCopyTimer();
        emit copyFileFinished();
        return;
    }
    emit updateCopyFileState(nowCount, fileCount());
    if (copyTimer)
        copyTimer->start(copyInterval);
}

void Patcher::releaseCopyTimer()
{
    if (!copyTimer)
        return;
    copyTimer->stop();
    copyTimer->disconnect(this);
    copyTimer->deleteLater();
    copyTimer = nullptr;
}
