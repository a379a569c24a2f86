#include "BoxAnswerer.h"
#include "FormChecks.h"
#include "LauncherFolder.h"
#include "LauncherUpdate.h"
#include "Minisign.h"
#include "TestFiles.h"
#include "UpdateFixtures.h"

#include <QProgressBar>
#include <QtTest>

using namespace UpdateTest;

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
        QTest::addColumn<QByteArray>("list"); // null: from the downloads; "missing": none; "blocked":
        // from the downloads, with a file in the way of the second install
        QTest::addColumn<bool>("exe"); // Launcher.exe there to restart
        QTest::addColumn<QString>("seen"); // the bar's states, then the boxes' icons and buttons
        const QString done = "|Information 確定", failed = "|Warning 確定 on top";
        QTest::newRow("five files") << QByteArray() << true << "1 / 5|2 / 5|3 / 5|4 / 5|100 of 100" + done;
        QTest::newRow("Launcher.exe cannot start")
            << QByteArray("missing") << false << "100 of 100" + done + failed;
        QTest::newRow("second file blocked") << QByteArray("blocked") << true << "1 / 5|0 of 100" + failed;
        // A list that is there but cannot be read must not pass for "nothing to install".
        QTest::newRow("broken list") << QByteArray("<UpdateList><File Name=\"a\"") << true
                                     << "0 of 100" + failed;
        // With a release key: the list changed after signing, or a file after its download.
        QTest::newRow("signed list changed") << QByteArray("signed list") << true << "0 of 100" + failed;
        QTest::newRow("signed, file changed") << QByteArray("signed file") << true << "0 of 100" + failed;
    }
    void copyRun()
    {
        QFETCH(QByteArray, list);
        QFETCH(bool, exe);
        QFETCH(QString, seen);
        LauncherFolder game;
        QVERIFY(game.isInstalled());
        // A stand-in Launcher.exe that notes where and with how many arguments it was started.
        QVERIFY(exe ? game.writeScript(
                    "Launcher/Launcher.exe", "{ pwd; echo $#; } > \"$0.tmp\" && mv \"$0.tmp\" \"$0.ran\"\n")
                    : QFile::remove(game.path("Launcher/Launcher.exe")));
        for (const GameFile &file : FiveFiles)
            QVERIFY(game.writeFile("Update/Launcher/" + file.localPath(), file.content));
        const QByteArray downloaded = updateList(FiveFiles, ServedFrom::MirroredFolders);
        QVERIFY(list == "missing"
            || game.writeFile(
                "Update/Launcher/UpdateList.xml", list.isNull() || list == "blocked" ? downloaded : list));
        QVERIFY(list != "blocked" || game.writeFile("Launcher/data/deep/b.bin/keep", "in the way"));
        if (list.startsWith("signed")) {
            const Minisign::SecretKey key {"studio01", QByteArray(32, 's')};
            QVERIFY(game.writeFile("Launcher/launcher.ini",
                "[update]\npublicKeys=" + ("Ed" + key.id + key.publicKey().key).toBase64() + "\n"));
            QVERIFY(game.writeFile("Update/Launcher/UpdateList.xml.minisig",
                Minisign::sign(key, downloaded, "serial:1 expires:4102444800")));
            QVERIFY(game.writeFile(
                QString("Update/Launcher/") + (list == "signed list" ? "UpdateList.xml" : "notes.txt"),
                list == "signed list" ? QByteArray(downloaded).replace("files/data", "files/DATA")
                                      : QByteArray("other notes")));
        }

        // Start-up may still be waiting for the old launcher here, with its refusal box open.
        BoxAnswerer answerer;
        LauncherUpdate window;
        verifyForm(&window);
        const auto before = snapshot(game.gameDir());
        QTest::qWait(300);
        QCOMPARE(snapshot(game.gameDir()), before);
        // The bar's states, then the window ends the loop: the last one is seen afterwards.
        auto *bar = window.findChild<QProgressBar *>();
        QStringList states;
        int ticks = 0;
        const auto record = [&] {
            const QString state = bar->isTextVisible()
                ? bar->text()
                : QString("%1 of %2").arg(bar->value()).arg(bar->maximum());
            if (state != "0%" && states.value(states.size() - 1) != state)
                states << state;
            if (++ticks > 7500) // about 15 s
                QApplication::exit(-1);
        };
        QTimer watch;
        connect(&watch, &QTimer::timeout, record);
        watch.start(2);
        window.show();
        QCOMPARE(QApplication::exec(), 0);
        record();
        for (const QString &box : answerer.seen())
            states << box.section(':', 0, 0);
        QCOMPARE(states.join('|'), seen);
        // Each step of the bar is a file copied; the completion is the last one.
        const int copied = seen.count(" / 5") + (list.isNull() ? 1 : 0);
        for (int i = 0; i < FiveFiles.size(); ++i) {
            const bool installed = i >= FiveFiles.size() - copied;
            QCOMPARE(game.readFile("Launcher/" + FiveFiles.at(i).localPath()) == FiveFiles.at(i).content,
                installed);
            QCOMPARE(game.exists("Update/Launcher/" + FiveFiles.at(i).localPath()), !installed);
        }
        // Launcher.exe restarted without arguments, in this process's working directory.
        const bool restarts = exe && seen.endsWith("|Information 確定");
        QTRY_COMPARE(game.readFile("Launcher/Launcher.exe.ran"),
            restarts ? game.launcherDir().toUtf8() + "\n0\n" : "");
        QTest::qWait(300);
        QCOMPARE(game.exists("Launcher/Launcher.exe.ran"), restarts);
    }
};

QTEST_MAIN(TestLauncherUpdate)
#include "tst_launcherupdate.moc"
