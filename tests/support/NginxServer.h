#ifndef NGINXSERVER_H
#define NGINXSERVER_H

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A private nginx on loopback serving one folder, through the nginx-fixture script.
class NginxServer
{
public:
    explicit NginxServer(const QString &root);
    ~NginxServer();
    NginxServer(const NginxServer &) = delete;
    NginxServer &operator=(const NginxServer &) = delete;

    // options: those of nginx-fixture start, e.g. "--tls".
    bool start(const QStringList &options = {});
    void stop();
    // "http://127.0.0.1:PORT/" (or https), empty until started.
    QString baseUrl() const { return m_baseUrl; }
    // With --tls: the throwaway CA that issued the server's certificate.
    QString caFile() const { return m_state.filePath(QStringLiteral("ca.pem")); }
    QString errorText() const { return m_error; }
    // Combined format: status and body bytes of every answer.
    QString accessLog() const { return m_state.filePath(QStringLiteral("access.log")); }

private:
    QString m_root;
    QTemporaryDir m_state;
    QString m_baseUrl;
    QString m_error;
};

#endif
