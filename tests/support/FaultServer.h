#ifndef FAULTSERVER_H
#define FAULTSERVER_H

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QTcpServer>

#include <numeric>

// A small HTTP/1.1 server on 127.0.0.1 (port chosen by the system) for the update engine's
// tests: scripted answers per path, with the faults a real network produces. Each connection
// carries one request and is closed after the answer. Runs in the test's own thread, so the
// test must spin the event loop (QSignalSpy::wait, QTest::qWaitFor) while a client talks to it.
class FaultServer : public QObject
{
    Q_OBJECT

public:
    struct Answer
    {
        enum class Fault {
            None,
            StallBeforeHeaders, // reads the request and never answers
            StallAfter, // sends the headers (full Content-Length) and `cut` body bytes, then nothing
            ResetAfter, // sends the headers and `cut` body bytes, then resets the connection
        };

        int status = 200;
        QByteArray body;
        QByteArray location; // sent as Location when set: a path on this server or a URL
        Fault fault = Fault::None;
        qint64 cut = 0;
        // A trickle sends the body in steps of trickleBytes every trickleIntervalMs.
        int trickleBytes = 0;
        int trickleIntervalMs = 0;
        // Without Content-Length the body ends when the connection closes: its size is unknown
        // to the client until then.
        bool announceLength = true;
        // "Range: bytes=N-" gets 206 and the body from N (where the fault's cut then counts),
        // unless If-Range names another validator than etag; Content-Range is shifted by
        // rangeShift bytes, as a broken server might.
        bool ranges = false;
        qint64 rangeShift = 0;
        QByteArray headers; // more header lines, each ending in "\r\n" (ETag, Content-Encoding)

        static Answer ok(const QByteArray &body) { return {200, body}; }
        static Answer withStatus(int status, const QByteArray &body = QByteArray()) { return {status, body}; }
        static Answer redirect(const QByteArray &location) { return {302, "moved\n", location}; }
        static Answer stallBeforeHeaders() { return {200, {}, {}, Fault::StallBeforeHeaders}; }
        // Sends `sent` body bytes, then stalls or resets as fault says.
        static Answer broken(Fault fault, const QByteArray &body, qint64 sent)
        {
            return {200, body, {}, fault, sent};
        }
        static Answer trickle(const QByteArray &body, int step, int ms)
        {
            return {200, body, {}, {}, 0, step, ms};
        }
    };

    explicit FaultServer(QObject *parent = nullptr);

    bool listen() { return m_server.listen(QHostAddress::LocalHost, 0); }
    // "http://127.0.0.1:<port>" followed by path (which starts with "/").
    QString url(const QString &path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path);
    }

    // Answers to successive requests for path; the last one repeats. Paths without a script
    // get 404.
    void script(const QString &path, const QList<Answer> &answers) { m_scripts.insert(path, answers); }
    void serve(const QString &path, const Answer &answer) { script(path, {answer}); }
    void serve(const QString &path, const QByteArray &body) { script(path, {Answer::ok(body)}); }

    int requestCount(const QString &path) const { return m_counts.value(path); }
    // The value of one header in each request for path, in order ("" where absent).
    QList<QByteArray> requestHeaders(const QString &path, const QByteArray &name) const;
    qint64 bodyBytesSent(const QString &path) const { return m_sent.value(path); }
    int totalRequests() const { return std::accumulate(m_counts.cbegin(), m_counts.cend(), 0); }

private:
    void answer(class QTcpSocket *socket, const QByteArray &head);

    QTcpServer m_server;
    QHash<QString, QList<Answer>> m_scripts;
    QHash<QString, int> m_counts;
    QHash<QString, QList<QByteArray>> m_heads;
    QHash<QString, qint64> m_sent;
};

#endif
