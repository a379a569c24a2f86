// Drives the update engine against a real server for bench/run-bench; prints key=value lines.
//   bench_update install LIST_URL GAME_DIR   check, then a download-and-install run
//   bench_update check LIST_URL INSTALL_DIR DOWNLOAD_DIR   a check of installed files only
// With BENCH_KEY set to a minisign public key line, the manifests must be signed by it.

#include "Patcher.h"
#include "ReleaseTrust.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTextStream>

#include <cstdio>

namespace {

// From /proc/self/status, in KiB; 0 where the system has no such file.
qint64 statusValue(const char *key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray prefix = QByteArray(key) + ':';
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

void print(const char *key, const QString &value)
{
    std::printf("%s=%s\n", key, qPrintable(value));
}

// Runs the check; returns the name of the signal that ended it.
QString runCheck(Patcher &patcher)
{
    QEventLoop loop;
    QString outcome;
    const auto end = [&](const char *name) {
        return [&, name] {
            outcome = QString::fromLatin1(name);
            loop.quit();
        };
    };
    QObject::connect(&patcher, &Patcher::updateCheckFailed, &loop, end("updateCheckFailed"));
    QObject::connect(&patcher, &Patcher::updateCheckFinished, &loop, end("updateCheckFinished"));
    QObject::connect(&patcher, &Patcher::updateFileFinished, &loop, end("updateFileFinished"));
    patcher.UpdateCheck();
    loop.exec();
    return outcome;
}

QString runDownload(Patcher &patcher)
{
    QEventLoop loop;
    QString outcome;
    QObject::connect(&patcher, &Patcher::downloadListFileFinished, &loop, [&] {
        outcome = QStringLiteral("downloadListFileFinished");
        loop.quit();
    });
    QObject::connect(&patcher, &Patcher::downloadFileFailed, &loop, [&] {
        outcome = QStringLiteral("downloadFileFailed");
        loop.quit();
    });
    patcher.startDownload(true);
    loop.exec();
    return outcome;
}

int usage()
{
    std::fprintf(stderr,
        "usage: bench_update install LIST_URL GAME_DIR\n"
        "       bench_update check LIST_URL INSTALL_DIR DOWNLOAD_DIR\n");
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const bool install = args.value(0) == QLatin1String("install") && args.size() == 3;
    const bool checkOnly = args.value(0) == QLatin1String("check") && args.size() == 4;
    if (!install && !checkOnly)
        return usage();

    const QString listUrl = args.at(1);
    const QString installDir = args.at(2);
    const QString downloadDir = install ? installDir + QStringLiteral("/Update/Game") : args.at(3);
    const float installedVersion = 1.0f;
    Patcher patcher(listUrl, downloadDir, installDir, installedVersion);
    QString problem;
    patcher.setReleaseTrust(std::make_shared<ReleaseTrust>(ReleaseTrust::fromConfiguration(
        QString(), qEnvironmentVariable("BENCH_KEY"), downloadDir + QStringLiteral("/serials.json"), &problem)));

    const qint64 baseline = statusValue("VmRSS");
    QElapsedTimer clock;
    clock.start();
    const QString checkOutcome = runCheck(patcher);
    const double checkSeconds = clock.nsecsElapsed() / 1e9;
    print("check_outcome", checkOutcome);
    print("check_s", QString::number(checkSeconds, 'f', 3));
    print("files", QString::number(patcher.fileCount()));
    print("bytes", QString::number(patcher.totalDownloadSize()));

    int status = 0;
    if (install) {
        if (checkOutcome != QLatin1String("updateCheckFinished"))
            return 1;
        clock.restart();
        const QString runOutcome = runDownload(patcher);
        print("run_outcome", runOutcome);
        print("run_s", QString::number(clock.nsecsElapsed() / 1e9, 'f', 3));
        status = runOutcome == QLatin1String("downloadListFileFinished") ? 0 : 1;
    } else {
        status = checkOutcome == QLatin1String("updateFileFinished") ? 0 : 1;
    }
    print("baseline_rss_kib", QString::number(baseline));
    print("peak_rss_kib", QString::number(statusValue("VmHWM")));
    return status;
}
