#ifndef LOGFILE_H
#define LOGFILE_H

#include <QString>
#include <QtGlobal>

// debug.log in the working directory: one line per message, "Debug: " and the text.

// Empties the file; called once per process before installing the handler.
void resetLogFile();
void logMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message);

#endif
