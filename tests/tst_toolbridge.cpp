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
        QTest::addColumn<int>("operation"); // initSettings, initResolution, initAllSettings
        QTest::addColumn<QByteArray>("arguments");
        QTest::addColumn<QByteArray>("error"); // logged when the tool cannot start
        QTest::newRow("initSettings")
            << 0 << QByteArray("generateIni\n") << QByteArray("Generate Game Settings");
        QTest::newRow("initResolution")
            << 1 << QByteArray("resolution\n") << QByteArray("Generate Resolution");
        QTest::newRow("initAllSettings")
            << 2 << QByteArray("generateIni\nresolution\n") << QByteArray("Generate All Settings");
    }
    void runTool()
    {
        QFETCH(int, operation);
        QFETCH(QByteArray, arguments);
        QFETCH(QByteArray, error);
        GameFolder game;
        GameFolder::WorkingDirectory cwd(game);
        const QString path = game.path("hardwaredetect.exe");
        const auto run = [&] {
            resetLogFile();
            return operation == 0 ? LTools::initSettings(path)
                : operation == 1  ? LTools::initResolution(path)
                                  : LTools::initAllSettings(path);
        };
        // It records its arguments and working directory, then fails: the exit code is ignored.
        QVERIFY(game.writeScript(
            "hardwaredetect.exe", "{ printf '%s\\n' \"$@\"; pwd -P; } > \"$0.txt\"\nexit 1\n"));
        QVERIFY(run());
        QCOMPARE(game.readFile("hardwaredetect.exe.txt"),
            arguments + QFileInfo(game.launcherDir()).canonicalFilePath().toUtf8() + '\n');
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner)); // even root cannot start it now
        QVERIFY(!run());
        QCOMPARE(game.readFile("Launcher/debug.log"), "Debug: \"" + error + " Error(-2)\"\n");
    }

    void firstRun_data()
    {
        QTest::addColumn<QByteArray>("script"); // empty: no tool at all
        QTest::addColumn<int>("limitMs"); // 0: the default two minutes
        QTest::addColumn<QString>("word"); // the recommended quality; null: the failure warning
        QTest::addColumn<QByteArray>("logLine");
        const QByteArray writeIni = "printf '[Video]\\nResolutionWidth=1280\\n%s' \"$Q\" > ../settings.ini\n";
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
        LTools::setToolTimeLimit(limitMs ? limitMs : LTools::toolTimeLimit());
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
