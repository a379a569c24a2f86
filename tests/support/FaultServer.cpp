#include "FaultServer.h"

#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <memory>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#endif

namespace {

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 304:
        return "Not Modified";
    case 307:
        return "Temporary Redirect";
    case 308:
        return "Permanent Redirect";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

// RST instead of FIN: the client sees a connection reset, not a short body.
void resetConnection(QTcpSocket *socket)
{
#ifdef Q_OS_UNIX
    const struct linger hard = {1, 0};
    ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
#endif
    socket->abort();
}

// Writes the answer's bytes to the socket, all at once or as a trickle, then ends the
// exchange as the answer's fault asks. Lives as long as its socket.
class Exchange : public QObject
{
public:
    Exchange(QTcpSocket *socket, const FaultServer::Answer &answer)
        : QObject(socket)
        , m_socket(socket)
        , m_answer(answer)
    {
        using Fault = FaultServer::Answer::Fault;
        m_limit = (m_answer.fault == Fault::StallAfter || m_answer.fault == Fault::ResetAfter)
            ? qBound<qint64>(0, m_answer.cut, m_answer.body.size())
            : m_answer.body.size();
    }

    void start()
    {
        if (m_answer.fault == FaultServer::Answer::Fault::StallBeforeHeaders)
            return;
        m_socket->write(head());
        if (m_answer.trickleBytes > 0) {
            connect(&m_timer, &QTimer::timeout, this, [this] { sendStep(m_answer.trickleBytes); });
            m_timer.start(qMax(1, m_answer.trickleIntervalMs));
            return;
        }
        sendStep(m_limit);
    }

private:
    QByteArray head() const
    {
        QByteArray text = "HTTP/1.1 " + QByteArray::number(m_answer.status) + ' '
            + reasonPhrase(m_answer.status) + "\r\n";
        for (const auto &header : m_answer.headers)
            text += header.first + ": " + header.second + "\r\n";
        if (m_answer.announceLength)
            text += "Content-Length: " + QByteArray::number(m_answer.body.size()) + "\r\n";
        text += "Connection: close\r\n\r\n";
        return text;
    }

    void sendStep(qint64 bytes)
    {
        const qint64 count = qMin(bytes, m_limit - m_sent);
        if (count > 0) {
            m_socket->write(m_answer.body.constData() + m_sent, count);
            m_sent += count;
        }
        if (m_sent < m_limit)
            return;
        m_timer.stop();
        finish();
    }

    void finish()
    {
        switch (m_answer.fault) {
        case FaultServer::Answer::Fault::None:
            m_socket->disconnectFromHost();
            break;
        case FaultServer::Answer::Fault::ResetAfter:
            // Only once the partial body has left, or the client might never see it.
            if (m_socket->bytesToWrite() == 0) {
                resetConnection(m_socket);
            } else {
                connect(m_socket, &QTcpSocket::bytesWritten, this, [this] {
                    if (m_socket->bytesToWrite() == 0)
                        resetConnection(m_socket);
                });
            }
            break;
        default:
            break;
        }
    }

    QTcpSocket *m_socket;
    FaultServer::Answer m_answer;
    QTimer m_timer;
    qint64 m_limit = 0;
    qint64 m_sent = 0;
};

} // namespace

FaultServer::Answer FaultServer::Answer::ok(const QByteArray &body)
{
    return withStatus(200, body);
}

FaultServer::Answer FaultServer::Answer::withStatus(int status, const QByteArray &body)
{
    Answer answer;
    answer.status = status;
    answer.body = body;
    return answer;
}

FaultServer::Answer FaultServer::Answer::redirect(const QByteArray &location, int status)
{
    Answer answer = withStatus(status, "moved\n");
    answer.headers.append({"Location", location});
    return answer;
}

FaultServer::Answer FaultServer::Answer::stallBeforeHeaders()
{
    Answer answer;
    answer.fault = Fault::StallBeforeHeaders;
    return answer;
}

FaultServer::Answer FaultServer::Answer::stallAfter(const QByteArray &body, qint64 sentBytes)
{
    Answer answer = ok(body);
    answer.fault = Fault::StallAfter;
    answer.cut = sentBytes;
    return answer;
}

FaultServer::Answer FaultServer::Answer::resetAfter(const QByteArray &body, qint64 sentBytes)
{
    Answer answer = ok(body);
    answer.fault = Fault::ResetAfter;
    answer.cut = sentBytes;
    return answer;
}

FaultServer::Answer FaultServer::Answer::trickle(const QByteArray &body, int bytesPerStep, int intervalMs)
{
    Answer answer = ok(body);
    answer.trickleBytes = qMax(1, bytesPerStep);
    answer.trickleIntervalMs = intervalMs;
    return answer;
}

FaultServer::FaultServer(QObject *parent)
    : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &FaultServer::acceptConnections);
}

FaultServer::~FaultServer()
{
    clear();
}

bool FaultServer::listen()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

quint16 FaultServer::port() const
{
    return m_server.serverPort();
}

QString FaultServer::url(const QString &path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path);
}

void FaultServer::script(const QString &path, const QList<Answer> &answers)
{
    m_scripts.insert(path, answers);
}

void FaultServer::serve(const QString &path, const Answer &answer)
{
    script(path, {answer});
}

void FaultServer::serve(const QString &path, const QByteArray &body)
{
    script(path, {Answer::ok(body)});
}

void FaultServer::failThenServe(
    const QString &path, int failures, const Answer &failure, const Answer &success)
{
    QList<Answer> answers;
    for (int i = 0; i < failures; ++i)
        answers.append(failure);
    answers.append(success);
    script(path, answers);
}

void FaultServer::redirectChain(const QString &from, int hops, const QString &to)
{
    QString current = from;
    for (int hop = 1; hop < hops; ++hop) {
        const QString next = from + QStringLiteral("~") + QString::number(hop);
        serve(current, Answer::redirect(next.toUtf8()));
        current = next;
    }
    serve(current, Answer::redirect(to.toUtf8()));
}

int FaultServer::requestCount(const QString &path) const
{
    return m_counts.value(path);
}

int FaultServer::totalRequests() const
{
    int total = 0;
    for (int count : m_counts)
        total += count;
    return total;
}

QByteArray FaultServer::lastRequestHead(const QString &path) const
{
    return m_heads.value(path);
}

void FaultServer::clear()
{
    m_scripts.clear();
    m_counts.clear();
    m_heads.clear();
    const QList<QTcpSocket *> sockets = findChildren<QTcpSocket *>(QString(), Qt::FindDirectChildrenOnly);
    for (QTcpSocket *socket : sockets) {
        socket->abort();
        delete socket;
    }
}

void FaultServer::acceptConnections()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        struct Pending
        {
            QByteArray received;
            bool answered = false;
        };
        auto pending = std::make_shared<Pending>();
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, pending] {
            if (pending->answered) {
                socket->readAll(); // one request per connection; the rest is ignored
                return;
            }
            pending->received.append(socket->readAll());
            const int end = pending->received.indexOf("\r\n\r\n");
            if (end < 0)
                return;
            pending->answered = true;
            answer(socket, pending->received.left(end));
        });
    }
}

void FaultServer::answer(QTcpSocket *socket, const QByteArray &head)
{
    const QList<QByteArray> requestLine = head.left(head.indexOf("\r\n")).split(' ');
    const QString path
        = requestLine.size() >= 2 ? QUrl::fromEncoded(requestLine.at(1)).path(QUrl::FullyEncoded) : QString();
    m_counts[path] += 1;
    m_heads[path] = head;

    Answer chosen = Answer::withStatus(404, "not found\n");
    auto script = m_scripts.find(path);
    if (script != m_scripts.end() && !script->isEmpty())
        chosen = script->size() > 1 ? script->takeFirst() : script->first();
    auto *exchange = new Exchange(socket, chosen);
    exchange->start();
}
