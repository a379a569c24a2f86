#include "BoxAnswerer.h"
#include "FormChecks.h"
#include "LauncherFolder.h"
#include "LauncherUpdate.h"
#include "TestFiles.h"
#include "UpdateFixtures.h"

#include <QProgressBar>
#include <QtTest>

using UpdateTest::GameFile;

// Five launcher files: a new picture, a changed catalogue and three files in sub-folders,
// copied from the last listed to the first.
const QList<GameFile> FiveFiles {{"images", "new_badge.png", "picture bytes"},
    {"", "launcher_cn.qm", "new catalogue"}, {"data", "a.bin", QByteArray(3000, 'a')},
    {"data/deep", "b.bin", QByteArray(20, 'b')}, {"", "notes.txt", "notes"}};

// The self-update window in process: its copy run, from the first show on, and the boxes that
// end it.
class TestLauncherUpdate : public QObject
{
    Q_OBJECT

private slots:
    void copyRun_data()
    {
        QTest::addColumn<QByteArray>("list"); // null: from the downloads; "missing": none
        QTest::addColumn<QString>("blocker"); // a file in the way of an install
        QTest::addColumn<bool>("exe"); // Launcher.exe there to restart
        QTest::addColumn<QString>("bar"); // the states it passes through
        QTest::addColumn<int>("copied"); // files installed, from the last listed
        QTest::addColumn<QString>("boxes"); // icons and buttons
        const QString done = "Information 確定", failed = "Warning 確定 on top";
        QTest::newRow("five files") << QByteArray() << "" << true << "1 / 5|2 / 5|3 / 5|4 / 5|100 of 100" << 5
                                    << done;
        QTest::newRow("missing list: nothing to do")
            << QByteArray("missing") << "" << true << "100 of 100" << 0 << done;
        QTest::newRow("Launcher.exe cannot start")
            << QByteArray("missing") << "" << false << "100 of 100" << 0 << done + "|" + failed;
        QTest::newRow("second file blocked")
            << QByteArray() << "Launcher/data/deep/b.bin/keep" << true << "1 / 5|0 of 100" << 1 << failed;
        // A list that is there but cannot be read must not pass for "nothing to install".
        QTest::newRow("broken list") << QByteArray("<UpdateList><File Name=\"a\"") << "" << true << "0 of 100"
                                     << 0 << failed;
    }
    void copyRun()
    {
        QFETCH(QByteArray, list);
        QFETCH(QString, blocker);
        QFETCH(bool, exe);
        QFETCH(QString, bar);
        QFETCH(int, copied);
        QFETCH(QString, boxes);
        LauncherFolder game;
        QVERIFY(game.isInstalled());
        // A stand-in Launcher.exe that notes where and with how many arguments it was started.
        QVERIFY(exe ? game.writeScript(
                    "Launcher/Launcher.exe", "{ pwd; echo $#; } > \"$0.tmp\" && mv \"$0.tmp\" \"$0.ran\"\n")
                    : QFile::remove(game.path("Launcher/Launcher.exe")));
        for (const GameFile &file : FiveFiles)
            QVERIFY(game.writeFile("Update/Launcher/" + file.localPath(), file.content));
        if (list != "missing")
            QVERIFY(game.writeFile("Update/Launcher/UpdateList.xml",
                list.isNull() ? UpdateTest::updateList(FiveFiles, UpdateTest::ServedFrom::MirroredFolders)
                              : list));
        QVERIFY(blocker.isEmpty() || game.writeFile(blocker, "in the way"));

        // Start-up may still be waiting for the old launcher here, with its refusal box open.
        BoxAnswerer answerer;
        LauncherUpdate window;
        verifyPictures(&window);
        verifySeeThrough(&window);
        const auto before = snapshot(game.gameDir());
        QTest::qWait(300);
        QCOMPARE(snapshot(game.gameDir()), before);
        auto *progress = window.findChild<QProgressBar *>();
        QStringList seen;
        int ticks = 0;
        // The bar's states, then the window ends the loop: the last one is seen afterwards.
        const auto record = [&] {
            const QString state = progress->isTextVisible()
                ? progress->text()
                : QString("%1 of %2").arg(progress->value()).arg(progress->maximum());
            if (state != "0%" && seen.value(seen.size() - 1) != state)
                seen << state;
            if (++ticks > 7500) // about 15 s
                QApplication::exit(-1);
        };
        QTimer watch;
        connect(&watch, &QTimer::timeout, record);
        watch.start(2);
        window.show();
        QCOMPARE(QApplication::exec(), 0);
        record();
        QCOMPARE(seen.join('|'), bar);
        QStringList shown;
        for (const QString &box : answerer.seen())
            shown << box.section(':', 0, 0);
        QCOMPARE(shown.join('|'), boxes);
        for (int i = 0; i < FiveFiles.size(); ++i) {
            const bool installed = i >= FiveFiles.size() - copied;
            QCOMPARE(game.readFile("Launcher/" + FiveFiles.at(i).localPath()) == FiveFiles.at(i).content,
                installed);
            QCOMPARE(game.exists("Update/Launcher/" + FiveFiles.at(i).localPath()), !installed);
        }
        // Launcher.exe restarted without arguments, in this process's working directory.
        const bool restarts = exe && boxes.startsWith("Information");
        QTRY_COMPARE(game.readFile("Launcher/Launcher.exe.ran"),
            restarts ? game.launcherDir().toUtf8() + "\n0\n" : "");
        QTest::qWait(300);
        QCOMPARE(game.exists("Launcher/Launcher.exe.ran"), restarts);
    }
};

QTEST_MAIN(TestLauncherUpdate)
#include "tst_launcherupdate.moc"
