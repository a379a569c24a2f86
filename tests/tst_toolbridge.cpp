#include "BoxAnswerer.h"
#include "FormChecks.h"
#include "GameFolder.h"
#include "LogFile.h"
#include "Startup.h"
#include "Util.h"

#include <QSplashScreen>
#include <QtTest>

// The detection tool bridge and the first-run configuration, with scripted tools that
// misbehave in the ways a real one can.
class TestToolBridge : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qInstallMessageHandler(logMessageHandler); }
    void cleanup() { LTools::setToolTimeLimit(2 * 60 * 1000); }

    void runTool_data()
    {
        QTest::addColumn<QString>("tool"); // "recorder", "missing" or "not executable"
        QTest::addColumn<int>("operation"); // initSettings, initResolution, initAllSettings
        QTest::addColumn<QByteArray>("seen"); // the recorder's arguments and folder, or else debug.log
        QTest::newRow("initSettings") << "recorder" << 0 << QByteArray("generateIni\nLAUNCHER\n");
        QTest::newRow("initResolution") << "recorder" << 1 << QByteArray("resolution\nLAUNCHER\n");
        QTest::newRow("initAllSettings")
            << "recorder" << 2 << QByteArray("generateIni\nresolution\nLAUNCHER\n");
        QTest::newRow("missing") << "missing" << 2 << QByteArray();
        QTest::newRow("cannot start: initSettings")
            << "not executable" << 0 << QByteArray("Debug: \"Generate Game Settings Error(-2)\"\n");
        QTest::newRow("cannot start: initResolution")
            << "not executable" << 1 << QByteArray("Debug: \"Generate Resolution Error(-2)\"\n");
        QTest::newRow("cannot start: initAllSettings")
            << "not executable" << 2 << QByteArray("Debug: \"Generate All Settings Error(-2)\"\n");
    }
    void runTool()
    {
        QFETCH(QString, tool);
        QFETCH(int, operation);
        QFETCH(QByteArray, seen);
        GameFolder game;
        // The recorder notes its arguments and working directory, then fails: the exit code is ignored.
        if (tool == "recorder")
            QVERIFY(game.writeScript(
                "hardwaredetect.exe", "{ printf '%s\\n' \"$@\"; pwd -P; } > \"$0.txt\"\nexit 1\n"));
        else if (tool == "not executable") // even root cannot start it
            QVERIFY(game.writeFile("hardwaredetect.exe", "#!/bin/sh\nexit 0\n"));
        GameFolder::WorkingDirectory cwd(game);
        resetLogFile();
        const QString path = game.path("hardwaredetect.exe");
        const bool ran = operation == 0 ? LTools::initSettings(path)
            : operation == 1            ? LTools::initResolution(path)
                                        : LTools::initAllSettings(path);
        QCOMPARE(ran, tool == "recorder");
        QCOMPARE(game.readFile(ran ? "hardwaredetect.exe.txt" : "Launcher/debug.log"),
            seen.replace("LAUNCHER", QFileInfo(game.launcherDir()).canonicalFilePath().toUtf8()));
    }

    void firstRun_data()
    {
        QTest::addColumn<QByteArray>("script"); // empty: no tool at all
        QTest::addColumn<int>("limitMs"); // 0: the default two minutes
        QTest::addColumn<QString>("word"); // the recommended quality; null: the failure warning
        QTest::addColumn<QByteArray>("logLine");
        const QByteArray writeIni
            = "printf '[Video]\\nResolutionWidth=1280\\n%s' \"$Q\" > \"$(dirname \"$0\")/settings.ini\"\n";
        QTest::newRow("tool missing") << QByteArray() << 0 << QString() << QByteArray("Ini Create Error");
        QTest::newRow("writes nothing")
            << QByteArray("exit 1\n") << 0 << QString() << QByteArray("Ini File Not Found");
        QTest::newRow("hangs past the limit, ended")
            << QByteArray("exec sleep 600\n") << 1000 << QString() << QByteArray("did not finish in 1000 ms");
        QTest::newRow("quality missing means high") << "Q=''\n" + writeIni << 0 << "高" << QByteArray();
        QTest::newRow("quality 0") << "Q='QuickQuality=0\n'\n" + writeIni << 0 << "低" << QByteArray();
        QTest::newRow("quality 1, then crashes") << "Q='QuickQuality=1\n'\n" + writeIni + "kill -SEGV $$\n"
                                                 << 0 << "中" << QByteArray();
        QTest::newRow("quality 7 has no word")
            << "Q='QuickQuality=7\n'\n" + writeIni << 0 << "" << QByteArray();
    }
    void firstRun()
    {
        QFETCH(QByteArray, script);
        QFETCH(int, limitMs);
        QFETCH(QString, word);
        QFETCH(QByteArray, logLine);
        GameFolder game;
        QVERIFY(game.installLauncher());
        QVERIFY(script.isEmpty() || game.writeScript("hardwaredetect.exe", script));
        if (limitMs)
            LTools::setToolTimeLimit(limitMs);
        GameFolder::WorkingDirectory cwd(game);
        resetLogFile();
        BoxAnswerer boxes;
        QElapsedTimer timer;
        timer.start();
        const auto splash = Startup::runFirstRunConfiguration(GamePaths::fromWorkingDirectory());
        QVERIFY(!limitMs || timer.elapsed() < limitMs + 5000);
        QVERIFY(splash && splash->isVisible()); // until the launcher window takes over
        QCOMPARE(splash->pixmap().size(), QSize(520, 70));
        VERIFY_MATCHES(word.isNull() ? "Warning 確定: .*" : "Information 確定: .*【" + word + "】.*",
            boxes.seen().join('\n'));
        QVERIFY(boxes.boxes().first().flags & Qt::WindowStaysOnTopHint);
        const QByteArray log = game.readFile("Launcher/debug.log");
        QVERIFY2(log.contains(logLine) && log.contains("Ini ") == word.isNull(), log.constData());
        QCOMPARE(log.contains("did not finish"), limitMs > 0);
    }
};

QTEST_MAIN(TestToolBridge)
#include "tst_toolbridge.moc"
