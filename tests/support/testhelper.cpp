// A child process for tests. Under its own name it takes a subcommand:
//   hold-mutex NAME MS   hold a named mutex (prints "held" once owned) for MS ms or until killed
//   probe-mutex NAME MS  probe a named mutex without pause for MS ms (prints "probing" first)
//   fatal MESSAGE        empty debug.log, install the log handler, log MESSAGE as fatal

#include "LogFile.h"
#include "Util.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const QString command = args.value(1);
    if (command == QLatin1String("hold-mutex")) {
        const NamedMutex::Handle handle = LTools::claimMutex(args.value(2)).handle;
        std::printf(handle ? "held\n" : "busy\n");
        std::fflush(stdout);
        if (!handle)
            return 3;
        QThread::msleep(args.value(3, QStringLiteral("60000")).toULong());
        LTools::releaseMutex(handle);
        return 0;
    }
    if (command == QLatin1String("probe-mutex")) {
        std::printf("probing\n");
        std::fflush(stdout);
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < args.value(3).toLongLong()) {
            LTools::mutexExists(args.value(2));
            LTools::waitForMutex(args.value(2), 0);
        }
        return 0;
    }
    if (command == QLatin1String("fatal")) {
        resetLogFile();
        qInstallMessageHandler(logMessageHandler);
        qFatal("%s", args.value(2).toUtf8().constData());
    }
    return 2; // an unknown command
}
