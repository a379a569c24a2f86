#ifndef PATCHER_H
#define PATCHER_H

#include "UpdateInfo.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>
#include <optional>

class ReleaseTrust;
class SDownloader;

// The update engine of one product (the game or the launcher). A Patcher runs one check in
// its life and then at most one run at a time:
//   - UpdateCheck(): fetches VersionList.xml, selects the range of the installed version,
//     fetches its UpdateList.xml and lists the files whose installed copy is missing or
//     differs; ends with exactly one of updateCheckFailed, updateCheckFinished or
//     updateFileFinished;
//   - startDownload(true): downloads and installs every listed file;
//   - startDownload(false): only downloads them, for a later startCopy();
//   - startCopy(): installs the downloaded files, one per copyInterval.
// Files are processed last record first. Every outcome is emitted from the event loop, so a
// caller may connect after starting; errorString() tells why the latest failure signal came.
// Nothing is written outside the download and install folders, whatever the server's
// manifests say. With release keys set (setReleaseTrust), each manifest is read only after
// its detached signature (NAME.minisig beside it) checked out, and every file must match the
// SHA-256 its signed list gives as well as its MD5.
class Patcher : public QObject
{
    Q_OBJECT

public:
    // What the Patcher is waiting for. A failure or the end of a step returns it to Idle, and
    // whatever a downloader still delivers then belongs to no step.
    enum class Phase {
        Idle,
        VersionList,
        VersionSignature,
        UpdateList,
        UpdateListSignature,
        Downloading,
        Copying
    };

    // Far above any real list: a bound on what a hostile server can make us store and parse.
    static constexpr qint64 ManifestSizeLimit = 64 << 20;

    Patcher(const QString &listBaseUrl, const QString &downloadDir, const QString &installDir,
        const float &currentVersion, QObject *parent = nullptr);
    ~Patcher() override;

    Phase phase() const { return currentPhase; }
    QString errorString() const { return lastError; }

    void UpdateCheck();
    // Appends the files of UpdateList.xml in the download folder that are not current in the
    // install folder. A missing list adds nothing and counts as read; an unreadable, broken or
    // unsafe one adds nothing and gives false.
    bool readUpdateList();

    bool hasUpdateFiles() const;
    int fileCount() const;
    qlonglong totalDownloadSize() const;
    float targetVersion() const;
    float latestVersion() const;

    void startDownload(bool copyAfterDownload);
    void startCopy();

    // Inactivity limit of both downloaders (30 s unless set); 0 disables it.
    void setTransferTimeout(int milliseconds);
    // Before UpdateCheck() or readUpdateList(); shared by the Patchers of one launcher.
    void setReleaseTrust(std::shared_ptr<ReleaseTrust> trust);

signals:
    void updateCheckFailed();
    void updateCheckFinished();
    void updateFileFinished();
    void copyFileFailed();
    void copyFileFinished();
    void updateCopyFileState(int nowCount, int totalCount);
    void downloadFileFailed();
    void updateDownloadFileState(qlonglong bytesReceived, qlonglong bytesTotal);
    void updateTotalDownloadState(qlonglong totalSize, int totalCount);
    void downloadOneFileFinished();
    void downloadListFileFinished();

private slots:
    void updateListDownloadFinished();
    void downloadFileFinished();
    void downloadAndCopyFileFinished();

private:
    enum class ListReading { Read, Missing, Unusable };

    void listDownloaded();
    void fetchList(Phase phase, const QString &url, const QString &name);
    bool signaturesRequired() const;
    bool checkSignature(const QString &name, const QByteArray &manifest, const QString &url);
    std::optional<QByteArray> readManifest(const QString &name);
    void listDownloadFailed();
    void versionListDownloadFinished();
    ListReading readUpdateListFile(bool fetched);
    void fileDownloaded();
    void fileDownloadFailed();
    void fileDownloadProgress(qlonglong received, qlonglong total);
    void downloadCurrentFile();
    void completeCurrentFile();
    void copyStep();
    void clearStaleStaging() const;
    void failCheck(const QString &reason);
    void failRun(const QString &reason);

    QString listBaseUrl;
    QString fileBaseUrl;
    QString selectedDir;
    QString downloadDir;
    QString installDir;
    float currentVersion;
    // The largest MaxVer seen; read through latestVersion().
    float latestMaxVersion = 0;
    int copyInterval = 100;
    const QString versionListName;
    const QString updateListName;

    std::unique_ptr<SDownloader> fileDownloader;
    std::unique_ptr<SDownloader> listDownloader;
    std::shared_ptr<ReleaseTrust> trust;
    UpdateInfo updateInfo;
    QList<UpdateFileInfo> listedFiles; // every entry of the list read, current or not

    QList<UpdateFileInfo> workQueue;
    UpdateFileInfo currentFile;
    int nowCount = 0;
    qint64 currentFileBytes = 0;
    qint64 finishedBytes = 0;
    QTimer copyTimer;

    Phase currentPhase = Phase::Idle;
    bool installAfterDownload = false;
    QString lastError;
};

#endif
