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
    rangeAllowed = true;
    refetched = false;
    // Only content known in advance can be continued later: its digest names the staged bytes
    // and proves the joined whole.
    resumable = verifyHash && !expectedHash.isEmpty();
    staged = std::make_unique<StagedFile>(saveDir + QLatin1Char('/') + fileName, !limits.sha256Hex.isEmpty());
    if (resumable && staged->openResumable(QString::fromLatin1(expectedHash)) && staged->size() > 0)
        qCDebug(lcNetwork).noquote() << "Resuming" << fileName << "at byte" << staged->size();
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
    stopReason.clear();
    restartReason.clear();
    acceptingBody = true;
    if (readBuffer.isEmpty())
        readBuffer.resize(ReplyBufferSize);
    if (!resumable || !rangeAllowed)
        staged->truncate();
    rangeStart = staged->size();

    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(MaxRedirects);
    // An inactivity limit: a slow but steady transfer runs as long as it needs.
    request.setTransferTimeout(timeoutMs);
    // The bytes as stored: Qt would inflate a compressed body silently, past any size bound.
    request.setRawHeader("Accept-Encoding", "identity");
    if (rangeStart > 0) {
        request.setRawHeader("Range", "bytes=" + QByteArray::number(rangeStart) + '-');
        // Without it a file changed on the server would be spliced onto the old bytes.
        QFile validator(StagedFile::validatorPath(staged->stagingPath()));
        if (validator.open(QIODevice::ReadOnly))
            request.setRawHeader("If-Range", validator.readAll().trimmed());
    }
    certificateErrors.clear();
    reply = networkManager.get(request);
    reply->setReadBufferSize(ReplyBufferSize);
#if QT_CONFIG(ssl)
    connect(reply, &QNetworkReply::sslErrors, this, [this](const QList<QSslError> &errors) {
        for (const QSslError &error : errors)
            certificateErrors << error.errorString();
    });
#endif

    // Counted from the file's start: bytes kept from before are done already.
    connect(reply, &QNetworkReply::downloadProgress, this, [this](qint64 received, qint64 total) {
        emit downloadProgress(rangeStart + received, total < 0 ? total : rangeStart + total);
    });
    connect(reply, &QNetworkReply::metaDataChanged, this, &SDownloader::responseStarted);
    connect(reply, &QNetworkReply::readyRead, this, [this] {
        if (!storeAvailableBytes())
            abandonUnsavable();
    });
    // A redirect's own body is no part of the file; the next answer's headers decide anew.
    connect(reply, &QNetworkReply::redirected, this, [this] { acceptingBody = false; });
    connect(reply, &QNetworkReply::finished, this, &SDownloader::fileDownloadFinished);
}

void SDownloader::responseStarted()
{
    if (!reply->attribute(QNetworkRequest::RedirectionTargetAttribute).isNull())
        return;
    const QVariant statusAttribute = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const int status = statusAttribute.isValid() ? statusAttribute.toInt() : 200;
    acceptingBody = status >= 200 && status <= 299;
    if (rangeStart > 0 && status == 206) {
        const QByteArray range = reply->rawHeader("Content-Range");
        const qint64 start = range.startsWith("bytes ") ? range.mid(6).split('-').value(0).toLongLong() : -1;
        if (start != rangeStart)
            return restartWithoutRange(QStringLiteral("Content-Range \"%1\" does not start at byte %2")
                                           .arg(QString::fromLatin1(range))
                                           .arg(rangeStart));
    } else if (rangeStart > 0 && acceptingBody) {
        // The whole file came instead (no ranges here, or it changed): it replaces what was kept.
        qCDebug(lcNetwork).noquote() << "The server sent all of" << fileName << "again";
        staged->truncate();
        rangeStart = 0;
    }
    if (resumable && acceptingBody && rangeStart == 0) {
        QByteArray validator = reply->rawHeader("ETag");
        if (validator.isEmpty() || validator.startsWith("W/"))
            validator = reply->rawHeader("Last-Modified");
        QFile file(StagedFile::validatorPath(staged->stagingPath()));
        if (!validator.isEmpty() && file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(validator);
    }
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    if (acceptingBody && limits.maxBytes >= 0 && length.isValid()
        && rangeStart + length.toLongLong() > limits.maxBytes)
        stopAttempt(QStringLiteral("The server announced %1 bytes where at most %2 were expected")
                        .arg(rangeStart + length.toLongLong())
                        .arg(limits.maxBytes));
}

// Disconnects before aborting: abort() emits finished at once, and that must not count as an
// attempt nor reach the owner.
void SDownloader::releaseReply()
{
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
    while (reply && reply == current && stopReason.isEmpty() && restartReason.isEmpty()) {
        const qint64 got = reply->read(readBuffer.data(), readBuffer.size());
        if (got <= 0)
            return true;
        if (!acceptingBody)
            continue;
        if (limits.maxBytes >= 0 && staged->size() + got > limits.maxBytes) {
            stopAttempt(QStringLiteral("More than the %1 bytes expected arrived").arg(limits.maxBytes));
            return true;
        }
        if (!staged->write(readBuffer.constData(), got))
            return false;
    }
    return true;
}

// A hostile server could otherwise fill the disk: the attempt ends here and counts as failed,
// and what it sent is not kept to be continued.
void SDownloader::stopAttempt(const QString &reason)
{
    if (!reply || !stopReason.isEmpty())
        return;
    stopReason = reason;
    staged->truncate();
    reply->abort(); // finished follows at once and counts the attempt
}

// A server that answers a range request wrongly gets the plain request instead, at once and
// without spending an attempt; ranges are not asked of it again for this file.
void SDownloader::restartWithoutRange(const QString &reason)
{
    if (!reply || !restartReason.isEmpty())
        return;
    qCDebug(lcNetwork).noquote() << reason << "- starting" << fileName << "again from its first byte";
    rangeAllowed = false;
    restartReason = reason;
    reply->abort(); // finished follows at once
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

// A disk that refuses the bytes will not take them on the next attempt either. What was
// staged stays for a later run to continue or to clear away.
void SDownloader::abandonUnsavable()
{
    const QString reason
        = QStringLiteral("Cannot save %1: %2").arg(staged->targetPath(), staged->errorString());
    qCDebug(lcNetwork).noquote() << reason;
    releaseReply();
    staged.reset();
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

// Bytes that arrived whole are kept: the next attempt, or a later run, asks for the rest.
// Bytes that failed their digest are not.
void SDownloader::retryOrGiveUp(const QString &reason, bool keepBytes)
{
    if (!keepBytes)
        staged->truncate();
    if (attempts < MaxAttempts) {
        Retry();
        return;
    }
    const QString url = reply->request().url().toString();
    qCDebug(lcNetwork) << "Download Failed :" << url;
    releaseReply();
    if (staged->size() == 0)
        staged->discard();
    staged.reset();
    fail(QStringLiteral("%1 failed %2 times, last: %3").arg(url).arg(MaxAttempts).arg(reason));
}

void SDownloader::fileDownloadFinished()
{
    if (!reply) {
        fail(QStringLiteral("No transfer running"));
        return;
    }
    if (!restartReason.isEmpty()) {
        Retry();
        return;
    }
    ++attempts;

    // Asked for the rest of a file that is all here already.
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (rangeStart > 0 && status.toInt() == 416) {
        if (verifyHash && digestProblem().isEmpty())
            return commitStaged();
        --attempts;
        restartReason = QStringLiteral("Range refused");
        rangeAllowed = false;
        Retry();
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
            // Joined bytes that do not add up are fetched once more from zero before the attempt
            // counts: the server's file may have changed under a missing or weak validator.
            rangeAllowed = false;
            if (resumable && rangeStart > 0 && !refetched) {
                refetched = true;
                --attempts;
                qCDebug(lcNetwork).noquote() << problem << "- fetching all of" << fileName << "again";
                Retry();
                return;
            }
            retryOrGiveUp(problem, false);
            return;
        }
    }
    commitStaged();
}

void SDownloader::commitStaged()
{
    if (!staged->commit()) {
        abandonUnsavable();
        return;
    }
    releaseReply();
    emit downloadFileFinished();
}
