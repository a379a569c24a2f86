#include "FaultServer.h"

#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <memory>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#endif

namespace {

using Fault = FaultServer::Answer::Fault;

void finish(QTcpSocket *socket, Fault fault)
{
    if (fault == Fault::None)
        return socket->disconnectFromHost();
    if (fault != Fault::ResetAfter)
        return;
    // RST instead of FIN, so that the client sees a reset rather than a short body; only once
    // the partial body has left, or the client might never see it.
    const auto resetWhenSent = [socket] {
        if (socket->bytesToWrite() > 0)
            return;
#ifdef Q_OS_UNIX
        const struct linger hard = {1, 0};
        ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
#endif
        socket->abort();
    };
    QObject::connect(socket, &QTcpSocket::bytesWritten, socket, resetWhenSent);
    resetWhenSent();
}

} // namespace

// Sockets are children of the server: they go with it.
FaultServer::FaultServer(QObject *parent)
    : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            auto received = std::make_shared<QByteArray>(""); // null once the request is answered
            connect(socket, &QTcpSocket::readyRead, this, [this, socket, received] {
                if (received->isNull())
                    return void(socket->readAll()); // one request per connection
                received->append(socket->readAll());
                const int end = received->indexOf("\r\n\r\n");
                if (end < 0)
                    return;
                const QByteArray head = received->left(end);
                *received = QByteArray();
                answer(socket, head);
            });
        }
    });
}

QList<QByteArray> FaultServer::requestHeaders(const QString &path, const QByteArray &name) const
{
    QList<QByteArray> values;
    for (const QByteArray &head : m_heads.value(path)) {
        QByteArray value;
        for (const QByteArray &line : head.split('\n')) {
            if (line.toLower().startsWith(name.toLower() + ':'))
                value = line.mid(name.size() + 1).trimmed();
        }
        values << value;
    }
    return values;
}

void FaultServer::answer(QTcpSocket *socket, const QByteArray &head)
{
    const QList<QByteArray> requestLine = head.left(head.indexOf("\r\n")).split(' ');
    const QString path = QUrl::fromEncoded(requestLine.value(1)).path(QUrl::FullyEncoded);
    m_counts[path] += 1;
    m_heads[path] << head;
    Answer chosen = Answer::withStatus(404, "not found\n");
    if (QList<Answer> &script = m_scripts[path]; !script.isEmpty())
        chosen = script.size() > 1 ? script.takeFirst() : script.first();
    if (chosen.fault == Fault::StallBeforeHeaders)
        return;
    const QByteArray range = requestHeaders(path, "Range").constLast();
    const QByteArray ifRange = requestHeaders(path, "If-Range").constLast();
    const QByteArray etag = chosen.headers.contains("ETag: ")
        ? chosen.headers.mid(chosen.headers.indexOf("ETag: ") + 6).split('\r').value(0)
        : QByteArray();
    if (chosen.ranges && range.startsWith("bytes=") && (ifRange.isEmpty() || ifRange == etag)) {
        const qint64 from = range.mid(6, range.indexOf('-') - 6).toLongLong();
        chosen.headers += "Content-Range: bytes " + QByteArray::number(from + chosen.rangeShift) + '-'
            + QByteArray::number(chosen.body.size() - 1) + '/' + QByteArray::number(chosen.body.size())
            + "\r\n";
        chosen.status = 206;
        chosen.body = chosen.body.mid(from);
    }

    QByteArray text
        = "HTTP/1.1 " + QByteArray::number(chosen.status) + (chosen.status == 200 ? " OK" : " Scripted");
    text += "\r\n" + chosen.headers;
    text.chop(2);
    if (!chosen.location.isEmpty())
        text += "\r\nLocation: " + chosen.location;
    if (chosen.announceLength)
        text += "\r\nContent-Length: " + QByteArray::number(chosen.body.size());
    socket->write(text + "\r\nConnection: close\r\n\r\n");
    const QByteArray body = chosen.fault == Fault::None
        ? chosen.body
        : chosen.body.left(int(qBound<qint64>(0, chosen.cut, chosen.body.size())));
    // Written on a timer even at once, so that a trickle and a whole body take one path.
    const int step = chosen.trickleBytes > 0 ? chosen.trickleBytes : qMax(1, body.size());
    auto *timer = new QTimer(socket);
    connect(timer, &QTimer::timeout, socket,
        [this, path, socket, timer, body, step, fault = chosen.fault, sent = 0]() mutable {
            m_sent[path] += socket->write(body.mid(sent, step));
            sent += step;
            if (sent < body.size())
                return;
            timer->stop();
            finish(socket, fault);
        });
    timer->start(chosen.trickleBytes > 0 ? chosen.trickleIntervalMs : 0);
}
