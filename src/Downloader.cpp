#include "Downloader.h"

#include "Logging.h"
#include "StagedFile.h"

#include <QDebug>
#include <QFile>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>
#if QT_CONFIG(ssl)
#include <QSslCertificate>
#include <QSslError>
#include <QSslSocket>
#endif

namespace {

constexpr int MaxAttempts = 3;
// Enough for a moved site or a CDN hop; a loop ends as a network error.
constexpr int MaxRedirects = 5;
// Back pressure: without a bound the reply buffers whatever the network delivers faster than
// the disk takes it, and a game file of a gigabyte or two no longer fits a 32-bit process.
// 4 MiB rather than 1: fewer hand-overs between the network thread and ours while we hash
// and write (a 1 GiB run about 7% faster, some 15 MiB more resident).
constexpr int ReplyBufferSize = 4 << 20;

} // namespace

SDownloader::SDownloader(QObject *parent)
    : QObject(parent)
{ }

SDownloader::~SDownloader()
{
    releaseReply();
}

void SDownloader::download(const QString &url, const QString &saveDir, const QString &fileName,
    bool verifyHash, const QByteArray &expectedHash, const Limits &limits)
{
    releaseReply();
    attempts = 0;
    lastError.clear();
    this->verifyHash = verifyHash;
    this->expectedHash = expectedHash;
    this->limits = limits;
    this->saveDir = saveDir;
    this->fileName = fileName;
    startRequest(QUrl(url, QUrl::TolerantMode));
}

bool SDownloader::CheckHash(const QByteArray &digestHex)
{
    if (!reply)
        return false;
    // The digest of empty input is a digest like any other: an empty file listed with it passes.
    if (digestHex != expectedHash) {
        qCDebug(lcNetwork) << digestHex;
        return false;
    }
    return true;
}

void SDownloader::Retry()
{
    if (!reply) {
        qCDebug(lcNetwork) << "Retry Error Not Found Object";
        return;
    }
    // The URL asked for, not where a redirect led: the next attempt follows the redirects anew.
    const QUrl url = reply->request().url();
    qCDebug(lcNetwork) << "Retry to Download :" << url.toString();
    releaseReply();
    startRequest(url);
}

void SDownloader::setTransferTimeout(int milliseconds)
{
    timeoutMs = qMax(0, milliseconds);
}

void SDownloader::trustEnvironmentCertificates()
{
#if QT_CONFIG(ssl)
    const QString path = qEnvironmentVariable("SSL_CERT_FILE");
    if (path.isEmpty())
        return;
    QFile file(path);
    const QList<QSslCertificate> authorities
        = file.open(QIODevice::ReadOnly) ? QSslCertificate::fromDevice(&file) : QList<QSslCertificate>();
    if (authorities.isEmpty()) {
        qCWarning(lcNetwork).noquote() << "SSL_CERT_FILE" << path << "holds no readable certificate";
        return;
    }
    // Not QSslConfiguration::addCaCertificates(), Qt 5.15's suggested replacement: a configuration
    // given authorities of its own stops looking up the system's, and public servers then fail.
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    QSslSocket::addDefaultCaCertificates(authorities);
    QT_WARNING_POP
#endif
}

void SDownloader::startRequest(const QUrl &url)
{
    staged = std::make_unique<StagedFile>(saveDir + QLatin1Char('/') + fileName, !limits.sha256Hex.isEmpty());
    stopReason.clear();
    if (readBuffer.isEmpty())
        readBuffer.resize(ReplyBufferSize);

    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(MaxRedirects);
    // An inactivity limit: a slow but steady transfer runs as long as it needs.
    request.setTransferTimeout(timeoutMs);
    // The bytes as stored: Qt would inflate a compressed body silently, past any size bound.
    request.setRawHeader("Accept-Encoding", "identity");
    certificateErrors.clear();
    reply = networkManager.get(request);
    reply->setReadBufferSize(ReplyBufferSize);
#if QT_CONFIG(ssl)
    connect(reply, &QNetworkReply::sslErrors, this, [this](const QList<QSslError> &errors) {
        for (const QSslError &error : errors)
            certificateErrors << error.errorString();
    });
#endif

    connect(reply, &QNetworkReply::downloadProgress, this, &SDownloader::downloadProgress);
    connect(reply, &QNetworkReply::metaDataChanged, this, [this] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (limits.maxBytes >= 0 && length.isValid() && length.toLongLong() > limits.maxBytes
            && reply->attribute(QNetworkRequest::RedirectionTargetAttribute).isNull())
            stopAttempt(QStringLiteral("The server announced %1 bytes where at most %2 were expected")
                            .arg(length.toLongLong())
                            .arg(limits.maxBytes));
    });
    connect(reply, &QNetworkReply::readyRead, this, [this] {
        if (!storeAvailableBytes())
            abandonUnsavable();
    });
    // Whatever arrived belongs to the page that redirected, not to the file.
    connect(reply, &QNetworkReply::redirected, this, [this] { staged->discard(); });
    connect(reply, &QNetworkReply::finished, this, &SDownloader::fileDownloadFinished);
}

// Disconnects before aborting: abort() emits finished at once, and that must not count as an
// attempt nor reach the owner.
void SDownloader::releaseReply()
{
    if (staged)
        staged->discard();
    if (!reply)
        return;
    disconnect(reply, nullptr, this, nullptr);
    if (reply->isRunning())
        reply->abort();
    reply->deleteLater();
    reply = nullptr;
}

bool SDownloader::storeAvailableBytes()
{
    // Stopping ends this reply, and the retry may already have started the next one.
    const QNetworkReply *const current = reply;
    while (reply && reply == current && stopReason.isEmpty()) {
        const qint64 got = reply->read(readBuffer.data(), readBuffer.size());
        if (got <= 0)
            return true;
        if (limits.maxBytes >= 0 && staged->size() + got > limits.maxBytes) {
            stopAttempt(QStringLiteral("More than the %1 bytes expected arrived").arg(limits.maxBytes));
            return true;
        }
        if (!staged->write(readBuffer.constData(), got))
            return false;
    }
    return true;
}

// A hostile server could otherwise fill the disk: the attempt ends here and counts as failed.
void SDownloader::stopAttempt(const QString &reason)
{
    if (!reply || !stopReason.isEmpty())
        return;
    stopReason = reason;
    staged->discard();
    reply->abort(); // finished follows at once and counts the attempt
}

QString SDownloader::digestProblem()
{
    const QByteArray digest = staged->md5Hex();
    if (!CheckHash(digest))
        return QStringLiteral("MD5 %1 where %2 was expected")
            .arg(QString::fromLatin1(digest), QString::fromLatin1(expectedHash));
    const QByteArray sha256 = staged->sha256Hex();
    if (!limits.sha256Hex.isEmpty() && sha256 != limits.sha256Hex)
        return QStringLiteral("SHA-256 %1 where %2 was expected")
            .arg(QString::fromLatin1(sha256), QString::fromLatin1(limits.sha256Hex));
    return QString();
}

// A disk that refuses the bytes will not take them on the next attempt either.
void SDownloader::abandonUnsavable()
{
    const QString reason
        = QStringLiteral("Cannot save %1: %2").arg(staged->targetPath(), staged->errorString());
    qCDebug(lcNetwork).noquote() << reason;
    releaseReply();
    fail(reason);
}

void SDownloader::fail(const QString &reason)
{
    lastError = reason;
    emit downloadFailed();
}

bool SDownloader::transferSucceeded(QString *errorText) const
{
    if (!stopReason.isEmpty()) {
        *errorText = stopReason;
        return false;
    }
    if (reply->error() == QNetworkReply::OperationCanceledError) {
        // Nothing here aborts a running reply without disconnecting first: only the transfer's
        // inactivity limit cancels one.
        *errorText
            = QStringLiteral("No data for %1 ms: the transfer's inactivity limit ended it").arg(timeoutMs);
        return false;
    }
    if (reply->error() != QNetworkReply::NoError) {
        *errorText = reply->errorString();
        if (!certificateErrors.isEmpty())
            *errorText += QLatin1String(": ") + certificateErrors.join(QLatin1String("; "));
        return false;
    }
    // A 3xx that was not followed (a less safe target, no Location) is no file either.
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && (status.toInt() < 200 || status.toInt() > 299)) {
        *errorText = QStringLiteral("Server replied with HTTP status %1").arg(status.toInt());
        return false;
    }
    return true;
}

void SDownloader::retryOrGiveUp(const QString &reason)
{
    staged->discard();
    if (attempts < MaxAttempts) {
        Retry();
        return;
    }
    const QString url = reply->request().url().toString();
    qCDebug(lcNetwork) << "Download Failed :" << url;
    releaseReply();
    fail(QStringLiteral("%1 failed %2 times, last: %3").arg(url).arg(MaxAttempts).arg(reason));
}

void SDownloader::fileDownloadFinished()
{
    ++attempts;
    if (!reply) {
        fail(QStringLiteral("No transfer running"));
        return;
    }

    QString errorText;
    if (!transferSucceeded(&errorText)) {
        qCDebug(lcNetwork) << errorText;
        retryOrGiveUp(errorText);
        return;
    }
    if (!storeAvailableBytes()) {
        abandonUnsavable();
        return;
    }
    if (!stopReason.isEmpty()) {
        retryOrGiveUp(stopReason);
        return;
    }
    if (verifyHash) {
        if (const QString problem = digestProblem(); !problem.isEmpty()) {
            retryOrGiveUp(problem);
            return;
        }
    }
    if (!staged->commit()) {
        abandonUnsavable();
        return;
    }
    emit downloadFileFinished();
}
