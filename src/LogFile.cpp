#include "LogFile.h"

#include <QFile>
#include <QTextStream>

#include <cstdlib>

namespace {

const char LogFileName[] = "debug.log";

QString linePattern(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return QStringLiteral("Debug: %1");
    case QtWarningMsg:
        return QStringLiteral("Warning: %1");
    case QtCriticalMsg:
        return QStringLiteral("Critical: %1");
    case QtFatalMsg:
        return QStringLiteral("Fatal: %1");
    default:
        return QString();
    }
}

} // namespace

void resetLogFile()
{
    QFile log(QString::fromLatin1(LogFileName));
    if (log.open(QIODevice::WriteOnly))
        log.close();
}

void logMessageHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    // Opened and closed per message, so the file is complete even if the process is killed.
    QString pattern = linePattern(type);
    const QString line = pattern.isEmpty() ? QString() : pattern.replace(QLatin1String("%1"), message);
    QFile log(QString::fromLatin1(LogFileName));
    if (log.open(QIODevice::WriteOnly | QIODevice::Append)) {
        QTextStream stream(&log);
        stream.setCodec("UTF-8");
        stream << line << '\n';
        stream.flush();
        log.close();
    }
    if (type == QtFatalMsg)
        std::abort();
}
