#include "LogCapture.h"

#include <QString>

namespace {

QByteArray g_text;

void capture(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtDebugMsg)
        g_text += "Debug: " + message.toUtf8() + '\n';
}

} // namespace

LogCapture::LogCapture()
    : m_previous(qInstallMessageHandler(capture))
{
    g_text.clear();
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
}

QByteArray LogCapture::text() const
{
    return g_text;
}

void LogCapture::clear()
{
    g_text.clear();
}
