// A child process for tests. Under its own name it takes a subcommand:
//   hold-mutex NAME MS   hold a named mutex (prints "held" once owned) for MS ms or until killed
//   probe-mutex NAME MS  probe a named mutex without pause for MS ms (prints "probing" first)
//   fatal MESSAGE        empty debug.log, install the log handler, log MESSAGE as fatal
// Under any other name (a stand-in newLauncher.exe, say) it appends its arguments, one per
// line, then "--", to <its own path>.args and exits 0.

#include "LogFile.h"
#include "Util.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const QString self = QFileInfo(QCoreApplication::applicationFilePath()).fileName();

    if (self != QLatin1String("testhelper")) {
        QFile record(QCoreApplication::applicationFilePath() + QStringLiteral(".args"));
        if (!record.open(QIODevice::Append))
            return 1;
        for (const QString &arg : args.mid(1))
            record.write(arg.toUtf8() + '\n');
        record.write("--\n");
        return 0;
    }

    const QString command = args.value(1);
    if (command == QLatin1String("hold-mutex")) {
        const NamedMutex::Handle handle = LTools::claimMutex(args.value(2)).handle;
        if (!handle) {
            std::printf("busy\n");
            return 3;
        }
        std::printf("held\n");
        std::fflush(stdout);
        QThread::msleep(args.value(3, QStringLiteral("60000")).toULong());
        LTools::releaseMutex(handle);
        return 0;
    }
    if (command == QLatin1String("probe-mutex")) {
        std::printf("probing\n");
        std::fflush(stdout);
        QElapsedTimer timer;
        timer.start();
        const qint64 ms = args.value(3).toLongLong();
        while (timer.elapsed() < ms) {
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
    std::fprintf(stderr, "testhelper: unknown command\n");
    return 2;
}
