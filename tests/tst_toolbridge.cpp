#include "BoxAnswerer.h"
#include "FormChecks.h"
#include "LauncherFolder.h"
#include "LogFile.h"
#include "Startup.h"
#include "Util.h"

#include <QSplashScreen>

#include <QtTest>
#include <functional>

// The first-run configuration through the detection tool bridge, with scripted tools that
// misbehave in the ways a real one can.
class TestToolBridge : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qInstallMessageHandler(logMessageHandler);
        LTools::setToolTimeLimit(1000);
    }

    void firstRun_data()
    {
        QTest::addColumn<QByteArray>("script"); // empty: no tool at all
        QTest::addColumn<QString>("word"); // the recommended quality; null: the failure warning
        // From the launcher's folder, the working directory it inherits.
        const QByteArray writeIni
            = "printf '%s\\n' \"$@\" > ../args.txt\nprintf '[Video]\\n%s' \"$Q\" > ../settings.ini\n";
        QTest::newRow("tool missing") << QByteArray() << QString();
        QTest::newRow("writes nothing") << QByteArray("exit 1\n") << QString();
        QTest::newRow("hangs past the limit, ended") << QByteArray("exec sleep 600\n") << QString();
        QTest::newRow("quality missing means high") << "Q=''\n" + writeIni << "高";
        QTest::newRow("quality 1, then crashes") << "Q='QuickQuality=1\n'\n" + writeIni + "kill -SEGV $$\n"
                                                 << "中";
        QTest::newRow("quality 7 has no word") << "Q='QuickQuality=7\n'\n" + writeIni << "";
    }
    void firstRun()
    {
        QFETCH(QByteArray, script);
        QFETCH(QString, word);
        LauncherFolder game;
        QVERIFY(game.isInstalled());
        QVERIFY(script.isEmpty() || game.writeScript("hardwaredetect.exe", script));
        resetLogFile();
        BoxAnswerer boxes;
        QElapsedTimer timer;
        timer.start();
        const auto splash = Startup::runFirstRunConfiguration(GamePaths::fromWorkingDirectory());
        QVERIFY(timer.elapsed() < 6000); // the tool's time limit is a second
        QVERIFY(splash && splash->isVisible()); // until the launcher window takes over
        QCOMPARE(splash->pixmap().size(), QSize(520, 70));
        VERIFY_MATCHES(
            word.isNull() ? "Warning 確定 on top: .*" : "Information 確定 on top: .*【" + word + "】.*",
            boxes.seen().join('\n'));
        const QByteArray log = game.readFile("Launcher/debug.log");
        QCOMPARE(
            log.contains("Ini "), word.isNull()); // the reason, "Ini Create Error" or "Ini File Not Found"
        QCOMPARE(log.contains("did not finish in 1000 ms"), script.contains("sleep"));
    }
};

QTEST_MAIN(TestToolBridge)
#include "tst_toolbridge.moc"
