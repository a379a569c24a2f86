#ifndef LOGGING_H
#define LOGGING_H

#include <QLoggingCategory>

// Every category goes to debug.log through the one handler; the file shows the text only.
Q_DECLARE_LOGGING_CATEGORY(lcStartup)
Q_DECLARE_LOGGING_CATEGORY(lcNetwork)
Q_DECLARE_LOGGING_CATEGORY(lcUpdate)

#endif
