#include "BoxAnswerer.h"
#include "FaultServer.h"
#include "FormChecks.h"
#include "Launcher.h"
#include "LauncherFolder.h"
#include "TestFiles.h"
#include "UpdateSite.h"
#include "Util.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

using namespace UpdateTest;
using Answer = FaultServer::Answer;

const QString GameList = "/game/VersionList.xml", LauncherList = "/launcher/VersionList.xml";
const QString FilePath = "/game/v1.1/files/Data/a.pak";
const QString Done = "NoIcon OK: .*", Warning = "Warning 確定 on top: .*";
// The version shown, the buttons, then the file and the total bar as "min-max =value" and
// their text or "hidden".
const QString Idle = "1.00 update off, start on; 0-100 =0 hidden; 0-100 =0 hidden";
const QString Offered = "1.00 update on, start on; 0-100 =0 hidden; 0-100 =0 hidden";
const QString Updated = "1.10 update off, start on; 0-100 =0 hidden; 0-";

// A prompt offering an update of the given size.
QString prompt(const QString &size)
{
    return "Information 確定,取消: .*\\(.*" + QRegularExpression::escape(size) + "\\)";
}

struct Phase
{
    QString game, launcher; // what the sites' lists do; see serve
    QStringList answers; // the buttons pressed, one box each
    QString boxes; // pattern for the boxes' descriptions, one a line
    QString settle; // a path whose request marks the phase; empty: none follows
    QString state; // pattern
    QString file; // what the game's file does; "game running"; "blocked": newLauncher.exe
    int exit = 0; // of the application's event loop
};
Q_DECLARE_METATYPE(Phase)

// The launcher window's update flow with the real update engine against a scripted server:
// the game check, then the launcher's, the prompts, the runs with their two bars, the
// failures, and the hand-over to the self-update (newLauncher.exe, 6735).
class TestUpdateFlow : public QObject
{
    Q_OBJECT

private slots:
    void phases_data()
    {
        QTest::addColumn<Phase>("phase");
        const QString updating = "0-292 =\\d+ \"\\d+\\.\\d\\d KB / 292\\.97 KB",
                      handedOver = "1.00 update off, start off;.*";
        const QString gamePrompt = prompt("292.97 KB"), failed = "Information 確定: .*";
        const QStringList no {"取消"}, yes {"確定"}, twice {"確定", "確定"}, done {"確定", "OK"};
        QTest::newRow("checking the game") << Phase {"stalls", "none", {}, "", GameList,
            "1.00 update off, start on; 0-100 =0 \"檢查更新檔案\\.{6}\"; 0-100 =0 hidden"};
        QTest::newRow("game update offered") << Phase {"offers", "none", no, gamePrompt, "", Offered};
        QTest::newRow("launcher update offered")
            << Phase {"none", "offers", no, prompt("12.00 Bytes"), LauncherList, Offered};
        // An up-to-date game records the range's version and goes on to the launcher's check.
        QTest::newRow("game current, checking the launcher")
            << Phase {"current", "stalls", {}, "", LauncherList, Updated + "100 =0 hidden"};
        QTest::newRow("idle") << Phase {"none", "none", {}, "", LauncherList, Idle};
        // A failed check shows its box once and goes no further.
        QTest::newRow("failed game check") << Phase {"500", "none", yes, failed, GameList, Idle};
        QTest::newRow("failed launcher check") << Phase {"none", "404", yes, failed, LauncherList, Idle};
        QTest::newRow("manual update notice") << Phase {
            "manual", "none", no, "Information 前往,取消: \\D*2\\.5(?![\\d.]).*", LauncherList, Idle};
        QTest::newRow("update started") << Phase {"offers", "none", yes, gamePrompt, FilePath,
            "1.00 update off, start off; 0-100 =0 hidden; 0-100 =0 \"更新中\"", "silent"};
        QTest::newRow("updating") << Phase {"offers", "none", yes, gamePrompt, FilePath,
            "1.00 update off, start off; " + updating + "\"; " + updating + " \\(0/1\\)\"", "stalls"};
        // A refusal for a running game (ZARK_Game held) leaves the offer open.
        QTest::newRow("game running")
            << Phase {"offers", "none", twice, gamePrompt + "\n" + Warning, "", Offered, "game running"};
        QTest::newRow("update failed") << Phase {"offers", "none", twice, gamePrompt + "\n" + Warning,
            FilePath, "1.00 update on, start on; 0-\\d+ =0 hidden; 0-\\d+ =0 hidden", "503"};
        QTest::newRow("game updated, checking the launcher")
            << Phase {"offers", "stalls", done, gamePrompt + "\n" + Done, LauncherList,
                   Updated + "292 =292 \"292\\.97 KB / 292\\.97 KB \\(1/1\\)\""};
        // The bars count whole kilobytes, and never have 0 as their maximum.
        QTest::newRow("1023 bytes updated")
            << Phase {"offers", "stalls", done, prompt("1023.00 Bytes") + "\n" + Done, LauncherList,
                   Updated + "1 =1 \"1023\\.00 Bytes / 1023\\.00 Bytes \\(1/1\\)\"", "1023"};
        QTest::newRow("hand-over") << Phase {
            "none", "offers", yes, prompt("12.00 Bytes"), "", handedOver, "", 6735};
        QTest::newRow("hand-over, other files only: the running program goes over")
            << Phase {"none", "offers files", yes, prompt("900.00 Bytes"), "", handedOver, "", 6735};
        QTest::newRow("hand-over blocked") << Phase {
            "none", "offers", twice, prompt("12.00 Bytes") + "\n" + Warning, "", handedOver, "blocked"};
    }
    void phases()
    {
        QFETCH(Phase, phase);
        FaultServer server;
        QVERIFY(server.listen());
        LauncherFolder game;
        QVERIFY(game.isInstalled());
        QVERIFY(game.writeFile("Launcher/launcher.ini",
            "[launcher]\nlist=" + server.url("/launcher/").toUtf8()
                + "\nsite=about:blank\n[game]\nlist=" + server.url("/game/").toUtf8() + "\n"));
        QVERIFY(game.writeFile("Launcher/Launcher.exe", "the running launcher"));
        // /<site>/VersionList.xml and the update it offers ("offers", "offers files"), none
        // ("none", "current"), a manual one (2.5), or a failure ("stalls", an HTTP status).
        const auto serve = [&](const QString &site, const QString &what, const GameFile &file) {
            const Range offer {"1.0", "1.1", "v1.1"}, manual {"9.0", "2.5", "none"},
                none {"9.0", "1.0", "none"};
            const QString list = "/" + site + "/VersionList.xml";
            server.serve(list,
                versionList({what.startsWith("offers") || what == "current" ? offer
                        : what == "manual"                                  ? manual
                                                                            : none}));
            serveUpdate(server, "/" + site + "/v1.1", {file});
            if (what == "stalls" || what.toInt())
                server.serve(
                    list, what.toInt() ? Answer::withStatus(what.toInt()) : Answer::stallBeforeHeaders());
        };
        const GameFile file {"Data", "a.pak", patterned(phase.file == "1023" ? 1023 : 300000, 1)};
        QVERIFY(phase.game != "current" || game.writeFile("Data/a.pak", file.content));
        serve("game", phase.game, file);
        serve("launcher", phase.launcher,
            phase.launcher == "offers" ? GameFile {"", "Launcher.exe", "new launcher"}
                                       : GameFile {"images", "a.png", patterned(900)});
        QVERIFY(phase.file != "blocked" || game.writeFile("Launcher/newLauncher.exe/in the way", "a folder"));
        // Qt reports progress at most every 150 ms: the bytes come in steps, then stop.
        Answer stalling = Answer::trickle(file.content, 25 * 1024, 200);
        stalling.fault = Answer::Fault::StallAfter;
        stalling.cut = 100 * 1024;
        const QMap<QString, Answer> answers {
            {"stalls", stalling}, {"503", Answer::withStatus(503)}, {"silent", Answer::stallBeforeHeaders()}};
        if (answers.contains(phase.file))
            server.serve(FilePath, answers.value(phase.file));
        QProcess zark;
        if (phase.file == "game running")
            zark.start(builtFile("ZARK.exe"), QStringList());
        QTRY_COMPARE(LTools::mutexExists(MutexName::Game), phase.file == "game running");

        BoxAnswerer boxes(phase.answers.value(0));
        Launcher window;
        const auto state = [&] {
            const auto on = [&](const char *name) {
                return window.findChild<QPushButton *>(name)->isEnabled() ? "on" : "off";
            };
            QString state = window.findChild<QLabel *>("gameVersionLabel")->text().right(4)
                + QString(" update %1, start %2").arg(on("updatePushButton"), on("startButton"));
            for (const char *name : {"progressBar", "total_ProgressBar"}) {
                const auto *bar = window.findChild<QProgressBar *>(name);
                state += QString("; %1-%2 =%3 ").arg(bar->minimum()).arg(bar->maximum()).arg(bar->value())
                    + (bar->isTextVisible() ? '"' + bar->format() + '"' : QString("hidden"));
            }
            return state;
        };
        // The window ends the application's event loop to hand over: it must be this test's own.
        // Else the loop ends once the boxes are answered and the phase's last request has had
        // time for its answer, or after 30 s.
        QElapsedTimer elapsed, settled;
        elapsed.start();
        settled.start();
        QString confirmed; // the state right after the first box closed
        QTimer watch;
        connect(&watch, &QTimer::timeout, [&] {
            boxes.setButtonText(phase.answers.value(boxes.count()));
            // Once the box's own loop has ended and the window went on.
            if (boxes.count() == 1 && confirmed.isNull()) {
                confirmed = "";
                QTimer::singleShot(0, this, [&] { confirmed = state(); });
            }
            if (boxes.count() < phase.answers.size()
                || !(phase.settle.isEmpty() || server.requestCount(phase.settle)))
                settled.start();
            if (settled.hasExpired(500) || elapsed.hasExpired(30000))
                QApplication::exit(settled.hasExpired(500) ? 0 : -1);
        });
        watch.start(20);
        window.show(); // as qMain does
        QCOMPARE(QApplication::exec(), phase.exit);
        VERIFY_MATCHES(phase.boxes, boxes.seen().join('\n'));
        // A prompt confirmed turns the update button off at once, or a click would start a second run.
        QVERIFY2(phase.answers.value(0) != "確定" || confirmed.contains("update off"), qPrintable(confirmed));
        QCOMPARE(
            server.requestCount(LauncherList) > 0, phase.settle == LauncherList || phase.launcher != "none");
        VERIFY_MATCHES(phase.state, state());
        // Written as plain text: QVariant's comparison would let a number pass.
        QCOMPARE(game.readFile("settings.ini").contains("Version=1.1\n"), phase.state.startsWith(Updated));
        QCOMPARE(game.readFile("Launcher/newLauncher.exe"),
            !phase.exit                      ? ""
                : phase.launcher == "offers" ? "new launcher"
                                             : "the running launcher");
    }
};

QTEST_MAIN(TestUpdateFlow)
#include "tst_updateflow.moc"
