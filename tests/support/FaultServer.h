#ifndef FAULTSERVER_H
#define FAULTSERVER_H

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QTcpServer>

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
        QList<QPair<QByteArray, QByteArray>> headers;
        Fault fault = Fault::None;
        qint64 cut = 0;
        // A trickle sends the body in steps of trickleBytes every trickleIntervalMs.
        int trickleBytes = 0;
        int trickleIntervalMs = 0;
        // Without Content-Length the body ends when the connection closes: its size is unknown
        // to the client until then.
        bool announceLength = true;

        static Answer ok(const QByteArray &body);
        static Answer withStatus(int status, const QByteArray &body = QByteArray());
        // location: a path on this server or an absolute URL.
        static Answer redirect(const QByteArray &location, int status = 302);
        static Answer stallBeforeHeaders();
        static Answer stallAfter(const QByteArray &body, qint64 sentBytes);
        static Answer resetAfter(const QByteArray &body, qint64 sentBytes);
        static Answer trickle(const QByteArray &body, int bytesPerStep, int intervalMs);
    };

    explicit FaultServer(QObject *parent = nullptr);
    ~FaultServer() override;

    bool listen();
    quint16 port() const;
    // "http://127.0.0.1:<port>" followed by path (which starts with "/").
    QString url(const QString &path) const;

    // Answers to successive requests for path; the last one repeats. Paths without a script
    // get 404.
    void script(const QString &path, const QList<Answer> &answers);
    void serve(const QString &path, const Answer &answer);
    void serve(const QString &path, const QByteArray &body);
    void failThenServe(const QString &path, int failures, const Answer &failure, const Answer &success);
    // from redirects through hops - 1 intermediate paths to `to`: hops redirects in all.
    void redirectChain(const QString &from, int hops, const QString &to);

    int requestCount(const QString &path) const;
    int totalRequests() const;
    // Request line and headers of the latest request for path.
    QByteArray lastRequestHead(const QString &path) const;
    // Forgets scripts and counts; open connections are closed.
    void clear();

private:
    void acceptConnections();
    void answer(class QTcpSocket *socket, const QByteArray &head);

    QTcpServer m_server;
    QHash<QString, QList<Answer>> m_scripts;
    QHash<QString, int> m_counts;
    QHash<QString, QByteArray> m_heads;
};

#endif
