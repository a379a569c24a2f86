#ifndef LOGCAPTURE_H
#define LOGCAPTURE_H

#include <QByteArray>
#include <QtGlobal>

// Collects what the process logs, one "Debug: TEXT" line per message as debug.log shows it,
// while it exists. Engine tests use it where a log line is itself the behaviour.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QByteArray text() const;
    void clear();

private:
    QtMessageHandler m_previous;
};

#endif
