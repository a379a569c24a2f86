#include "BoxAnswerer.h"
#include "FormChecks.h"
#include "GameFolder.h"
#include "LogFile.h"
#include "Startup.h"
#include "Util.h"

#include <QSplashScreen>

#include <QtTest>
#include <functional>

// The detection tool bridge and the first-run configuration, with scripted tools that
// misbehave in the ways a real one can.
class TestToolBridge : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qInstallMessageHandler(logMessageHandler); }
    void cleanup() { LTools::setToolTimeLimit(2 * 60 * 1000); }

    void runTool()
    {
        GameFolder game;
        GameFolder::WorkingDirectory cwd(game);
        const QString path = game.path("hardwaredetect.exe");
        const std::function<bool(QString)> operations[] {
            LTools::initSettings, LTools::initResolution, LTools::initAllSettings};
        const QByteArray arguments[] {"generateIni\n", "resolution\n", "generateIni\nresolution\n"};
        const QByteArray errors[] {"Game Settings", "Resolution", "All Settings"};
        for (int i = 0; i < 3; ++i) {
            // It records its arguments and working directory, then fails: the exit code is ignored.
            QVERIFY(game.writeScript(
                "hardwaredetect.exe", "{ printf '%s\\n' \"$@\"; pwd -P; } > \"$0.txt\"\nexit 1\n"));
            QVERIFY(operations[i](path));
            QCOMPARE(game.readFile("hardwaredetect.exe.txt"),
                arguments[i] + QFileInfo(game.launcherDir()).canonicalFilePath().toUtf8() + '\n');
            QVERIFY(QFile::setPermissions(path, QFile::ReadOwner)); // even root cannot start it now
            resetLogFile();
            QVERIFY(!operations[i](path));
            QCOMPARE(
                game.readFile("Launcher/debug.log"), "Debug: \"Generate " + errors[i] + " Error(-2)\"\n");
        }
    }

    void firstRun_data()
    {
        QTest::addColumn<QByteArray>("script"); // empty: no tool at all
        QTest::addColumn<int>("limitMs"); // 0: the default two minutes
        QTest::addColumn<QString>("word"); // the recommended quality; null: the failure warning
        const QByteArray writeIni = "printf '[Video]\\nResolutionWidth=1280\\n%s' \"$Q\" > ../settings.ini\n";
        QTest::newRow("tool missing") << QByteArray() << 0 << QString();
        QTest::newRow("writes nothing") << QByteArray("exit 1\n") << 0 << QString();
        QTest::newRow("hangs past the limit, ended") << QByteArray("exec sleep 600\n") << 1000 << QString();
        QTest::newRow("quality missing means high") << "Q=''\n" + writeIni << 0 << "高";
        QTest::newRow("quality 0") << "Q='QuickQuality=0\n'\n" + writeIni << 0 << "低";
        QTest::newRow("quality 1, then crashes") << "Q='QuickQuality=1\n'\n" + writeIni + "kill -SEGV $$\n"
                                                 << 0 << "中";
        QTest::newRow("quality 7 has no word") << "Q='QuickQuality=7\n'\n" + writeIni << 0 << "";
    }
    void firstRun()
    {
        QFETCH(QByteArray, script);
        QFETCH(int, limitMs);
        QFETCH(QString, word);
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
        VERIFY_MATCHES(
            word.isNull() ? "Warning 確定 on top: .*" : "Information 確定 on top: .*【" + word + "】.*",
            boxes.seen().join('\n'));
        const QByteArray log = game.readFile("Launcher/debug.log");
        QCOMPARE(
            log.contains("Ini "), word.isNull()); // the reason, "Ini Create Error" or "Ini File Not Found"
        QCOMPARE(log.contains("did not finish in 1000 ms"), limitMs > 0);
    }
};

QTEST_MAIN(TestToolBridge)
#include "tst_toolbridge.moc"
