#include "BoxAnswerer.h"
#include "GameFolder.h"
#include "ProcessHelpers.h"
#include "Startup.h"
#include "Util.h"

#include <QtTest>

// The start-up decisions in process: run mode, guards and their boxes, hand-over.
class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void runMode_data();
    void runMode();
    void warningBox();
    void updateRunningBlocksStart();
    void updateEndingWithinWaitLetsStartGoOn();
    void secondLauncherRefused();
    void secondUpdateRefused();
    void updateRefusedWhileLauncherRuns_data();
    void updateRefusedWhileLauncherRuns();
    void handOverStartsNewLauncherWithUpdate();
    void handOverFailureShowsWarning();
    void leftoverNewLauncherRemovedOnlyByLauncher();
    void deleteFile();

private:
    static bool holdInChild(QProcess &child, const QString &name, int ms);
};

static const QString Title = QStringLiteral("雲隼紀年-啟動器");

bool TestStartup::holdInChild(QProcess &child, const QString &name, int ms)
{
    ProcessHelpers::startHelper(child, {QStringLiteral("hold-mutex"), name, QString::number(ms)});
    return child.waitForReadyRead(5000) && child.readLine().trimmed() == "held";
}

void TestStartup::runMode_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("update");
    QTest::newRow("no argument") << QStringList() << false;
    QTest::newRow("update") << QStringList {"update"} << true;
    QTest::newRow("case differs") << QStringList {"Update"} << false;
    QTest::newRow("trailing space") << QStringList {"update "} << false;
    QTest::newRow("other argument") << QStringList {"start"} << false;
    QTest::newRow("update plus another") << QStringList {"update", "x"} << false;
    QTest::newRow("another plus update") << QStringList {"x", "update"} << false;
}

void TestStartup::runMode()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, update);
    QList<QByteArray> storage {"Launcher.exe"};
    for (const QString &argument : arguments)
        storage.append(argument.toUtf8());
    QVector<char *> argv;
    for (QByteArray &argument : storage)
        argv.append(argument.data());
    argv.append(nullptr);
    const auto mode = Startup::runMode(storage.size(), argv.data());
    QCOMPARE(mode == Startup::RunMode::Update, update);
}

void TestStartup::warningBox()
{
    BoxAnswerer answerer;
    LTools::showWarning(QStringLiteral("訊息內容"));
    QCOMPARE(answerer.count(), 1);
    const BoxAnswerer::Box box = answerer.boxes().first();
    QCOMPARE(box.title, QStringLiteral("警告訊息"));
    QCOMPARE(box.text, QStringLiteral("訊息內容"));
    QCOMPARE(box.icon, QMessageBox::Warning);
    QCOMPARE(box.buttons, QStringList {QStringLiteral("確定")});
    QVERIFY(box.flags & Qt::WindowStaysOnTopHint);
}

void TestStartup::updateRunningBlocksStart()
{
    QProcess updater;
    QVERIFY(holdInChild(updater, MutexName::LauncherUpdate, 60000));
    BoxAnswerer answerer;
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!Startup::waitForRunningUpdate());
    QVERIFY(timer.elapsed() >= 5000);
    QCOMPARE(answerer.count(), 1);
    QCOMPARE(answerer.boxes().first().text, Title + QStringLiteral("更新中"));
    QVERIFY(answerer.boxes().first().flags & Qt::WindowStaysOnTopHint);
    updater.kill();
    updater.waitForFinished();
}

void TestStartup::updateEndingWithinWaitLetsStartGoOn()
{
    QProcess updater;
    QVERIFY(holdInChild(updater, MutexName::LauncherUpdate, 1000));
    BoxAnswerer answerer;
    QVERIFY(Startup::waitForRunningUpdate());
    QCOMPARE(answerer.count(), 0);
    updater.waitForFinished();
}

void TestStartup::secondLauncherRefused()
{
    QProcess first;
    QVERIFY(holdInChild(first, MutexName::Launcher, 60000));
    BoxAnswerer answerer;
    QVERIFY(!Startup::claimLauncherMutex());
    QCOMPARE(answerer.count(), 1);
    QCOMPARE(answerer.boxes().first().title, QStringLiteral("警告訊息"));
    QCOMPARE(answerer.boxes().first().text, Title + QStringLiteral("已開啟"));
    first.kill();
    first.waitForFinished();

    const std::optional<NamedMutex::Handle> mine = Startup::claimLauncherMutex();
    QVERIFY(mine && *mine != 0);
    QCOMPARE(answerer.count(), 1);
    LTools::releaseMutex(*mine);
}

void TestStartup::secondUpdateRefused()
{
    QProcess first;
    QVERIFY(holdInChild(first, MutexName::LauncherUpdate, 60000));
    BoxAnswerer answerer;
    QVERIFY(!Startup::claimUpdateMutex());
    QCOMPARE(answerer.count(), 1);
    QCOMPARE(answerer.boxes().first().text, Title + QStringLiteral("更新中"));
    first.kill();
    first.waitForFinished();
}

void TestStartup::updateRefusedWhileLauncherRuns_data()
{
    QTest::addColumn<bool>("secondWait");
    QTest::newRow("first wait: shared warning box") << false;
    QTest::newRow("second wait: box not on top") << true;
}

void TestStartup::updateRefusedWhileLauncherRuns()
{
    QFETCH(bool, secondWait);
    QProcess launcher;
    QVERIFY(holdInChild(launcher, MutexName::Launcher, 60000));
    BoxAnswerer answerer;
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!(secondWait ? Startup::confirmLauncherEnded() : Startup::waitForLauncherToEnd()));
    QVERIFY(timer.elapsed() >= 10000);
    QCOMPARE(answerer.count(), 1);
    const BoxAnswerer::Box box = answerer.boxes().first();
    QCOMPARE(box.title, QStringLiteral("警告訊息"));
    QCOMPARE(box.text, Title + QStringLiteral("已開啟,請確認是否正常關閉後,再執行更新"));
    QCOMPARE(box.icon, QMessageBox::Warning);
    QCOMPARE(box.buttons, QStringList {QStringLiteral("確定")});
    QCOMPARE(bool(box.flags & Qt::WindowStaysOnTopHint), !secondWait);
    launcher.kill();
    launcher.waitForFinished();
}

void TestStartup::handOverStartsNewLauncherWithUpdate()
{
    GameFolder game;
    QVERIFY(game.installRecorder(QStringLiteral("Launcher/newLauncher.exe")));
    GameFolder::WorkingDirectory cwd(game);
    BoxAnswerer answerer;
    QVERIFY(Startup::handOver(GamePaths::fromWorkingDirectory()));
    const QString record = QStringLiteral("Launcher/newLauncher.exe.args");
    QTRY_VERIFY_WITH_TIMEOUT(game.readFile(record).endsWith("--\n"), 5000);
    QCOMPARE(game.readFile(record), QByteArray("update\n--\n"));
    QCOMPARE(answerer.count(), 0);
}

void TestStartup::handOverFailureShowsWarning()
{
    GameFolder game;
    GameFolder::WorkingDirectory cwd(game);
    BoxAnswerer answerer;
    QVERIFY(!Startup::handOver(GamePaths::fromWorkingDirectory()));
    QCOMPARE(answerer.count(), 1);
    QCOMPARE(answerer.boxes().first().title, QStringLiteral("警告訊息"));
    QCOMPARE(answerer.boxes().first().text, Title + QStringLiteral("更新失敗,請重新啟動更新"));
}

void TestStartup::leftoverNewLauncherRemovedOnlyByLauncher()
{
    GameFolder game;
    QVERIFY(game.writeFile(QStringLiteral("Launcher/newLauncher.exe"), "old copy"));
    const auto paths = GamePaths::forGameDirectory(game.gameDir());

    // An update-mode process holds no launcher mutex and must not delete its own executable.
    Startup::removeLeftoverNewLauncher(paths);
    QVERIFY(game.exists(QStringLiteral("Launcher/newLauncher.exe")));

    const NamedMutex::Handle mine = LTools::claimMutex(MutexName::Launcher).handle;
    QVERIFY(mine != 0);
    Startup::removeLeftoverNewLauncher(paths);
    LTools::releaseMutex(mine);
    QVERIFY(!game.exists(QStringLiteral("Launcher/newLauncher.exe")));
}

void TestStartup::deleteFile()
{
    GameFolder game;
    QVERIFY(LTools::deleteFile(game.path(QStringLiteral("missing.txt"))));
    QVERIFY(game.writeFile(QStringLiteral("a.txt"), "x"));
    QVERIFY(LTools::deleteFile(game.path(QStringLiteral("a.txt"))));
    QVERIFY(!game.exists(QStringLiteral("a.txt")));
    QVERIFY(game.writeFile(QStringLiteral("folder/inside.txt"), "x"));
    QVERIFY(!LTools::deleteFile(game.path(QStringLiteral("folder"))));
    QVERIFY(game.exists(QStringLiteral("folder/inside.txt")));
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
