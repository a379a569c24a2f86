#include "NginxServer.h"

#include <QProcess>

namespace {
const QString Fixture = QStringLiteral(LAUNCHER_SOURCE_DIR "/tests/support/nginx-fixture");
}

NginxServer::NginxServer(const QString &root)
    : m_root(root)
{ }

NginxServer::~NginxServer()
{
    stop();
}

bool NginxServer::start(const QStringList &options)
{
    QProcess fixture;
    fixture.start(Fixture, QStringList {QStringLiteral("start")} + options << m_root << m_state.path());
    if (!fixture.waitForFinished(30000) || fixture.exitCode() != 0) {
        m_error = QString::fromUtf8(fixture.readAllStandardError());
        return false;
    }
    m_baseUrl = QString::fromUtf8(fixture.readAllStandardOutput()).trimmed();
    return !m_baseUrl.isEmpty();
}

void NginxServer::stop()
{
    if (m_baseUrl.isEmpty())
        return;
    QProcess::execute(Fixture, {QStringLiteral("stop"), m_state.path()});
    m_baseUrl.clear();
}
