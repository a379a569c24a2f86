#include "BoxAnswerer.h"
#include "GameFolder.h"
#include "GameSettings.h"
#include "LogFile.h"
#include "Startup.h"
#include "Util.h"

#include <QSplashScreen>
#include <QtTest>

// The detection tool bridge and the first-run configuration, with the stand-in tool and with
// scripted tools that misbehave in the ways a real one can.
class TestToolBridge : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void argumentsPassed_data();
    void argumentsPassed();
    void missingToolRunsNothing();
    void toolThatCannotStartIsLogged();
    void standInToolWritesBothFiles();
    void standInToolKeepsUnknownKeys();
    void firstRun_data();
    void firstRun();

private:
    static QByteArray log(const GameFolder &game);
};

void TestToolBridge::initTestCase()
{
    qInstallMessageHandler(logMessageHandler);
}

void TestToolBridge::cleanup()
{
    LTools::setToolTimeLimit(2 * 60 * 1000);
}

QByteArray TestToolBridge::log(const GameFolder &game)
{
    return game.readFile(QStringLiteral("Launcher/debug.log"));
}

void TestToolBridge::argumentsPassed_data()
{
    QTest::addColumn<int>("operation");
    QTest::addColumn<QByteArray>("arguments");
    QTest::newRow("initSettings") << 0 << QByteArray("generateIni\n");
    QTest::newRow("initResolution") << 1 << QByteArray("resolution\n");
    QTest::newRow("initAllSettings, in this order") << 2 << QByteArray("generateIni\nresolution\n");
}

void TestToolBridge::argumentsPassed()
{
    QFETCH(int, operation);
    QFETCH(QByteArray, arguments);
    GameFolder game;
    // Records its arguments and its working directory, then fails: the exit code is ignored.
    QVERIFY(game.writeScript(QStringLiteral("hardwaredetect.exe"),
        "printf '%s\\n' \"$@\" > \"$(dirname \"$0\")/args.txt\"\npwd > \"$(dirname \"$0\")/cwd.txt\"\nexit "
        "1\n"));
    GameFolder::WorkingDirectory cwd(game);
    const QString tool = game.path(QStringLiteral("hardwaredetect.exe"));
    const bool ok = operation == 0 ? LTools::initSettings(tool)
        : operation == 1           ? LTools::initResolution(tool)
                                   : LTools::initAllSettings(tool);
    QVERIFY(ok);
    QCOMPARE(game.readFile(QStringLiteral("args.txt")), arguments);
    // The tool inherits the launcher's working directory.
    QCOMPARE(QString::fromUtf8(game.readFile(QStringLiteral("cwd.txt"))).trimmed(),
        QFileInfo(game.launcherDir()).canonicalFilePath());
}

void TestToolBridge::missingToolRunsNothing()
{
    GameFolder game;
    GameFolder::WorkingDirectory cwd(game);
    resetLogFile();
    const QString tool = game.path(QStringLiteral("hardwaredetect.exe"));
    QVERIFY(!LTools::initSettings(tool));
    QVERIFY(!LTools::initResolution(tool));
    QVERIFY(!LTools::initAllSettings(tool));
    QCOMPARE(log(game), QByteArray());
}

void TestToolBridge::toolThatCannotStartIsLogged()
{
    GameFolder game;
    // Without any execute bit even root cannot start it.
    QVERIFY(game.writeFile(QStringLiteral("hardwaredetect.exe"), "#!/bin/sh\nexit 0\n"));
    GameFolder::WorkingDirectory cwd(game);
    resetLogFile();
    const QString tool = game.path(QStringLiteral("hardwaredetect.exe"));
    QVERIFY(!LTools::initSettings(tool));
    QVERIFY(!LTools::initResolution(tool));
    QVERIFY(!LTools::initAllSettings(tool));
    QCOMPARE(log(game),
        QByteArray("Debug: \"Generate Game Settings Error(-2)\"\n"
                   "Debug: \"Generate Resolution Error(-2)\"\n"
                   "Debug: \"Generate All Settings Error(-2)\"\n"));
}

void TestToolBridge::standInToolWritesBothFiles()
{
    GameFolder game;
    QVERIFY(game.installDetectionTool());
    GameFolder::WorkingDirectory cwd(game);
    QVERIFY(LTools::initAllSettings(game.path(QStringLiteral("hardwaredetect.exe"))));

    QSettings settings(game.path(QStringLiteral("settings.ini")), QSettings::IniFormat);
    for (const char *key : {"Video/ResolutionWidth", "Video/ResolutionHeight", "Video/FullScreen",
             "Video/QuickQuality", "Video/Fog", "Settings/Version"})
        QVERIFY2(settings.contains(QLatin1String(key)), key);
    QCOMPARE(settings.value(QStringLiteral("Settings/Version")).toString(), QStringLiteral("1.0"));
    const int quality = settings.value(QStringLiteral("Video/QuickQuality")).toInt();
    QVERIFY(quality >= 0 && quality <= 2);

    const ResolutionFile resolutions = ResolutionFile::read(game.path(QStringLiteral("resolution.dat")));
    QCOMPARE(resolutions.status, ResolutionFile::Status::Read);
    QCOMPARE(resolutions.quality, quality);
    QVERIFY(!resolutions.entries.isEmpty());
    QCOMPARE(resolutions.entries.first().width, QStringLiteral("1024"));
    QCOMPARE(resolutions.entries.first().height, QStringLiteral("768"));
    // The offscreen screen is 800 x 600: only the minimum fits.
    QCOMPARE(resolutions.entries.size(), 1);
}

void TestToolBridge::standInToolKeepsUnknownKeys()
{
    GameFolder game;
    QVERIFY(game.installDetectionTool());
    QVERIFY(game.writeFile(QStringLiteral("settings.ini"),
        "[Audio]\nVolume=80\n\n[Settings]\nVersion=1.1\nPlayer=玩家\n\n[Video]\nGamma=3\n"));
    QVERIFY(LTools::initSettings(game.path(QStringLiteral("hardwaredetect.exe"))));
    QSettings settings(game.path(QStringLiteral("settings.ini")), QSettings::IniFormat);
    settings.setIniCodec("UTF-8");
    QCOMPARE(settings.value(QStringLiteral("Audio/Volume")).toInt(), 80);
    QCOMPARE(settings.value(QStringLiteral("Video/Gamma")).toInt(), 3);
    QCOMPARE(settings.value(QStringLiteral("Settings/Player")).toString(), QStringLiteral("玩家"));
    QCOMPARE(settings.value(QStringLiteral("Settings/Version")).toString(), QStringLiteral("1.1"));
    QVERIFY(settings.contains(QStringLiteral("Video/QuickQuality")));
    QVERIFY(!game.exists(QStringLiteral("resolution.dat")));
}

void TestToolBridge::firstRun_data()
{
    QTest::addColumn<QByteArray>("script"); // empty: no tool at all
    QTest::addColumn<int>("limitMs");
    QTest::addColumn<QString>("text"); // expected box text; empty means the failure warning
    QTest::addColumn<QByteArray>("logLine");

    const QString prefix = QStringLiteral("偵測完畢\n系統建議畫面配置為【");
    const QString suffix = QStringLiteral("】\n如您想自行調整，可於啟動介面\n上點選【遊戲設置】進行調整。");
    const QByteArray writeIni
        = "d=$(dirname \"$0\")\nprintf '[Video]\\nResolutionWidth=1280\\n%s' \"$Q\" > \"$d/settings.ini\"\n";

    QTest::newRow("tool missing") << QByteArray() << 0 << QString()
                                  << QByteArray("Debug: Ini Create Error\n");
    QTest::newRow("exits 1, writes nothing")
        << QByteArray("exit 1\n") << 0 << QString() << QByteArray("Debug: Ini File Not Found\n");
    QTest::newRow("crashes") << QByteArray("kill -SEGV $$\n") << 0 << QString()
                             << QByteArray("Debug: Ini File Not Found\n");
    QTest::newRow("hangs past the limit")
        << QByteArray("exec sleep 600\n") << 1000 << QString() << QByteArray("Debug: Ini File Not Found\n");
    QTest::newRow("quality missing means high")
        << QByteArray("Q=''\n" + writeIni) << 0 << prefix + "高" + suffix << QByteArray();
    QTest::newRow("quality 0") << QByteArray("Q='QuickQuality=0\n'\n" + writeIni) << 0
                               << prefix + "低" + suffix << QByteArray();
    QTest::newRow("quality 1, then crashes")
        << QByteArray("Q='QuickQuality=1\n'\n" + writeIni + "kill -SEGV $$\n") << 0 << prefix + "中" + suffix
        << QByteArray();
    QTest::newRow("quality 7 gives an empty word")
        << QByteArray("Q='QuickQuality=7\n'\n" + writeIni) << 0 << prefix + suffix << QByteArray();
}

void TestToolBridge::firstRun()
{
    QFETCH(QByteArray, script);
    QFETCH(int, limitMs);
    QFETCH(QString, text);
    QFETCH(QByteArray, logLine);

    GameFolder game;
    QVERIFY(game.installLauncher());
    if (!script.isEmpty())
        QVERIFY(game.writeScript(QStringLiteral("hardwaredetect.exe"), script));
    if (limitMs)
        LTools::setToolTimeLimit(limitMs);
    GameFolder::WorkingDirectory cwd(game);
    resetLogFile();

    BoxAnswerer answerer;
    QElapsedTimer timer;
    timer.start();
    const auto splash = Startup::runFirstRunConfiguration(GamePaths::fromWorkingDirectory());
    QVERIFY(splash);
    QVERIFY(splash->isVisible()); // stays until the launcher window takes over
    QVERIFY(!splash->pixmap().isNull());
    QCOMPARE(splash->pixmap().size(), QSize(520, 70));
    if (limitMs)
        QVERIFY(timer.elapsed() < limitMs + 5000);

    QCOMPARE(answerer.count(), 1);
    const BoxAnswerer::Box box = answerer.boxes().first();
    QVERIFY(box.flags & Qt::WindowStaysOnTopHint);
    QCOMPARE(box.buttons, QStringList {QStringLiteral("確定")});
    if (text.isEmpty()) {
        QCOMPARE(box.title, QStringLiteral("警告訊息"));
        QCOMPARE(box.text, QStringLiteral("初始遊戲配置失敗"));
        // The platform may add warnings of its own after ours.
        QVERIFY2(log(game).contains(logLine), log(game).constData());
    } else {
        QCOMPARE(box.title, QStringLiteral("訊息提示"));
        QCOMPARE(box.icon, QMessageBox::Information);
        QCOMPARE(box.text, text);
        QVERIFY(!log(game).contains("Ini "));
    }
}

QTEST_MAIN(TestToolBridge)
#include "tst_toolbridge.moc"
