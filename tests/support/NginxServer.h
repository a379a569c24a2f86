#ifndef NGINXSERVER_H
#define NGINXSERVER_H

#include <QString>
#include <QTemporaryDir>

// A private nginx on loopback serving one folder, through the nginx-fixture script.
class NginxServer
{
public:
    explicit NginxServer(const QString &root);
    ~NginxServer();
    NginxServer(const NginxServer &) = delete;
    NginxServer &operator=(const NginxServer &) = delete;

    bool start();
    void stop();
    // "http://127.0.0.1:PORT/", empty until started.
    QString baseUrl() const { return m_baseUrl; }
    QString errorText() const { return m_error; }

private:
    QString m_root;
    QTemporaryDir m_state;
    QString m_baseUrl;
    QString m_error;
};

#endif
