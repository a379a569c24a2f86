#include "main.h"

#include "Downloader.h"
#include "GamePaths.h"
#include "LogFile.h"
#include "Logging.h"
#include "Startup.h"

#include <QApplication>
#include <QTranslator>

int qMain(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const GamePaths paths = GamePaths::fromWorkingDirectory();

    resetLogFile();
    qInstallMessageHandler(logMessageHandler);
    qCDebug(lcStartup) << "Launcher start... ";
    SDownloader::trustEnvironmentCertificates();

    QTranslator translator;
    translator.load(QStringLiteral("launcher_cn.qm"));
    app.installTranslator(&translator);

    if (!Startup::waitForRunningUpdate())
        return 0;
    if (Startup::runMode(argc, argv) == Startup::RunMode::Update)
        return Startup::runUpdateMode(paths);
    return Startup::runLauncherMode(paths);
}
