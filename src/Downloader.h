#ifndef DOWNLOADER_H
#define DOWNLOADER_H

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class QNetworkReply;
class QUrl;
class StagedFile;

// More that a download must satisfy besides its MD5.
struct DownloadLimits
{
    QByteArray sha256Hex; // checked with the MD5 when not empty
    qint64 maxBytes = -1; // a transfer that delivers more fails as an attempt; -1: no bound
};

// Fetches one file at a time over HTTP into saveDir/fileName, optionally checked against an
// MD5 digest, with at most three attempts. A checked file that breaks off is continued where
// it stopped (a range request), by the next attempt and by a later run: its staged bytes keep
// a name derived from the file and its digest. Exactly one of downloadFileFinished or
// downloadFailed follows each download() call, always from the event loop.
//
// The body is streamed to a temporary file beside the target while its digest is computed;
// the target appears only once the transfer succeeded and the digest matched.
class SDownloader : public QObject
{
    Q_OBJECT

public:
    static constexpr int DefaultTransferTimeout = 30 * 1000;
    using Limits = DownloadLimits;

    explicit SDownloader(QObject *parent = nullptr);
    ~SDownloader() override;

    void download(const QString &url, const QString &saveDir, const QString &fileName, bool verifyHash,
        const QByteArray &expectedHash, const Limits &limits = Limits());
    // digestHex: lowercase hexadecimal MD5 of the received body.
    bool CheckHash(const QByteArray &digestHex);
    void Retry();

    // Why the last download failed; set before downloadFailed is emitted.
    QString errorString() const { return lastError; }

    // Time without any data after which a transfer counts as failed; 0 disables it.
    void setTransferTimeout(int milliseconds);
    int transferTimeout() const { return timeoutMs; }

    // Trusts the certificates of the PEM file named by SSL_CERT_FILE for every https address, in
    // addition to the system's authorities: OpenSSL's variable, which Qt does not read itself.
    // Called once at start, before the first download.
    static void trustEnvironmentCertificates();

signals:
    void downloadProgress(qlonglong bytesReceived, qlonglong bytesTotal);
    void downloadFailed();
    void downloadFileFinished();

private slots:
    void fileDownloadFinished();

private:
    void startRequest(const QUrl &url);
    void responseStarted();
    void restartWithoutRange(const QString &reason);
    void commitStaged();
    void releaseReply();
    bool storeAvailableBytes();
    void stopAttempt(const QString &reason);
    QString digestProblem();
    void abandonUnsavable();
    bool transferSucceeded(QString *errorText) const;
    void retryOrGiveUp(const QString &reason, bool keepBytes = true);
    void fail(const QString &reason);

    QNetworkAccessManager networkManager;
    QNetworkReply *reply = nullptr;
    bool verifyHash = false;
    QByteArray expectedHash;
    Limits limits;
    QString stopReason; // why this side ended the running attempt
    QString restartReason; // set when it ended the attempt to ask again without a range
    bool resumable = false;
    bool rangeAllowed = true;
    bool refetched = false; // the one fetch from zero after joined bytes failed their digest
    bool acceptingBody = true; // false while the answer is no content of the file
    qint64 rangeStart = 0; // where the running attempt's bytes begin in the file
    QString saveDir;
    QString fileName;
    int attempts = 0;

    int timeoutMs = DefaultTransferTimeout;
    std::unique_ptr<StagedFile> staged;
    QByteArray readBuffer;
    QString lastError;
    // Why the current attempt's certificate check failed; Qt's error text does not say.
    QStringList certificateErrors;
};

#endif
