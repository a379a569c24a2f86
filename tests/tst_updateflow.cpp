#include "BoxAnswerer.h"
#include "FaultServer.h"
#include "FormChecks.h"
#include "GameFolder.h"
#include "Launcher.h"
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
const QString Done = "NoIcon OK: .*", Warning = "Warning 確定: .*";
// The buttons, then the file and the total bar as "min-max =value" and their text or "hidden".
const QString Idle = "update off, start on; 0-100 =0 hidden; 0-100 =0 hidden";
const QString Offered = "update on, start on; 0-100 =0 hidden; 0-100 =0 hidden";

// A prompt offering an update of the given size.
QString prompt(const QString &size)
{
    return "Information 確定,取消: .*\\(.*" + QRegularExpression::escape(size) + "\\)";
}

struct Phase
{
    QString game, launcher, file; // what the sites' lists and the game file do
    QStringList answers; // the buttons pressed, one box each
    QString lastBox;
    QString settle; // a path whose request marks the phase; empty: none follows
    QString state; // pattern
};
Q_DECLARE_METATYPE(Phase)

// The launcher window's update flow with the real update engine against a scripted server:
// the game check, then the launcher's, the prompts, the runs with their two bars, the
// failures, and the hand-over to the self-update.
class TestUpdateFlow : public QObject
{
    Q_OBJECT

    std::unique_ptr<FaultServer> m_server;
    std::unique_ptr<GameFolder> m_game;
    std::unique_ptr<GameFolder::WorkingDirectory> m_cwd;
    std::unique_ptr<BoxAnswerer> m_boxes;
    std::unique_ptr<Launcher> m_window;
    QProcess m_gameProcess;

    // /<site>/VersionList.xml and the update it offers ("offers"), none ("none", "current"),
    // a manual one (2.5), or a failure ("stalls", an HTTP status).
    void serve(const QString &site, const QString &what, const QList<GameFile> &files)
    {
        const Range offer {"1.0", "1.1", "v1.1"}, manual {"9.0", "2.5", "none"}, none {"9.0", "1.0", "none"};
        const QString list = "/" + site + "/VersionList.xml";
        m_server->serve(list,
            versionList({what.startsWith("offers") || what == "current" ? offer
                    : what == "manual"                                  ? manual
                                                                        : none}));
        serveUpdate(*m_server, "/" + site + "/v1.1", files);
        if (what == "stalls")
            m_server->serve(list, Answer::stallBeforeHeaders());
        else if (what.toInt())
            m_server->serve(list, Answer::withStatus(what.toInt()));
    }
    void openWindow()
    {
        m_window = std::make_unique<Launcher>();
        m_update = m_window->findChild<QPushButton *>("updatePushButton");
    }
    // Waits until the server saw a request for path, then lets the window react to the answer.
    bool waitForRequest(const QString &path)
    {
        return QTest::qWaitFor([&] { return m_server->requestCount(path) > 0; }, 15000)
            && (QTest::qWait(500), true);
    }
    QString state() const
    {
        QStringList parts {
            QStringLiteral("update %1, start %2")
                .arg(m_update->isEnabled() ? "on" : "off",
                    m_window->findChild<QPushButton *>("startButton")->isEnabled() ? "on" : "off")};
        for (const char *name : {"progressBar", "total_ProgressBar"}) {
            const auto *bar = m_window->findChild<QProgressBar *>(name);
            parts << QStringLiteral("%1-%2 =%3 ").arg(bar->minimum()).arg(bar->maximum()).arg(bar->value())
                    + (bar->isTextVisible() ? '"' + bar->format() + '"' : QStringLiteral("hidden"));
        }
        return parts.join("; ");
    }
    QPushButton *m_update = nullptr;

private slots:
    // A server per test: the window's engines live on after it, and their retries must find
    // nothing to talk to rather than the next test's answers.
    void init()
    {
        m_server = std::make_unique<FaultServer>();
        QVERIFY(m_server->listen());
        m_boxes = std::make_unique<BoxAnswerer>("確定");
        m_game = std::make_unique<GameFolder>();
        QVERIFY(m_game->installLauncher());
        QVERIFY(m_game->writeFile("Launcher/launcher.ini",
            "[launcher]\nlist=" + m_server->url("/launcher/").toUtf8()
                + "\nsite=about:blank\n[game]\nlist=" + m_server->url("/game/").toUtf8() + "\n"));
        QVERIFY(m_game->writeFile("Launcher/Launcher.exe", "the running launcher"));
        QVERIFY(m_game->writeFile("settings.ini", "[Settings]\nVersion=1.0\n"));
        m_cwd = std::make_unique<GameFolder::WorkingDirectory>(*m_game);
    }
    void cleanup()
    {
        m_window.reset();
        m_server.reset();
        m_gameProcess.kill();
        m_gameProcess.waitForFinished();
        QTest::qWait(50); // the engines' transfers end on the closed connections
        m_boxes.reset();
        m_cwd.reset();
        m_game.reset();
    }

    void phases_data()
    {
        QTest::addColumn<Phase>("phase");
        const QString checking = "update off, start on; 0-100 =0 \"檢查更新檔案\\.{6}\"; 0-100 =0 hidden";
        const QString updating = "0-292 =\\d+ \"\\d+\\.\\d\\d KB / 292\\.97 KB";
        const QString gamePrompt = prompt("292.97 KB");
        const QStringList no {"取消"}, yes {"確定"};
        // A failed check shows its box once and goes no further.
        const QString failed = "Information 確定: .*";
        QTest::newRow("checking the game") << Phase {"stalls", "none", "", {}, "", GameList, checking};
        QTest::newRow("game update offered") << Phase {"offers", "none", "", no, gamePrompt, "", Offered};
        QTest::newRow("checking the launcher") << Phase {"none", "stalls", "", {}, "", LauncherList, Idle};
        QTest::newRow("launcher update offered")
            << Phase {"none", "offers", "", no, prompt("12.00 Bytes"), LauncherList, Offered};
        // An up-to-date game (every file current) goes on to the launcher's check all the same.
        QTest::newRow("game current, checking the launcher")
            << Phase {"current", "stalls", "", {}, "", LauncherList, Idle};
        QTest::newRow("idle") << Phase {"none", "none", "", {}, "", LauncherList, Idle};
        QTest::newRow("failed game check") << Phase {"500", "none", "", yes, failed, GameList, Idle};
        QTest::newRow("failed launcher check") << Phase {"none", "404", "", yes, failed, LauncherList, Idle};
        QTest::newRow("manual update notice") << Phase {
            "manual", "none", "", no, "Information 前往,取消: \\D*2\\.5(?![\\d.]).*", LauncherList, Idle};
        QTest::newRow("updating") << Phase {"offers", "none", "stalls", yes, gamePrompt, FilePath,
            "update off, start off; " + updating + "\"; " + updating + " \\(0/1\\)\""};
        QTest::newRow("update failed") << Phase {"offers", "none", "503", {"確定", "確定"}, Warning, FilePath,
            "update on, start on; 0-\\d+ =0 hidden; 0-\\d+ =0 hidden"};
        QTest::newRow("game updated, checking the launcher") << Phase {"offers", "stalls", "", {"確定", "OK"},
            Done, LauncherList,
            "update off, start on; 0-100 =0 hidden; 0-292 =292 \"292\\.97 KB / 292\\.97 KB \\(1/1\\)\""};
        // The bars count whole kilobytes, and never have 0 as their maximum.
        QTest::newRow("1023 bytes updated") << Phase {"offers 1023", "stalls", "", {"確定", "OK"}, Done,
            LauncherList,
            "update off, start on; 0-100 =0 hidden; 0-1 =1 \"1023\\.00 Bytes / 1023\\.00 Bytes \\(1/1\\)\""};
    }
    void phases()
    {
        QFETCH(Phase, phase);
        const QList<GameFile> files {
            {"Data", "a.pak", patterned(phase.game.endsWith("1023") ? 1023 : 300000, 1)}};
        QVERIFY(
            phase.game != "current" || m_game->writeFile(files.first().localPath(), files.first().content));
        serve("game", phase.game, files);
        serve("launcher", phase.launcher, {{"", "Launcher.exe", "new launcher"}});
        // Qt reports progress at most every 150 ms: the bytes come in steps, then stop.
        Answer stalling = Answer::trickle(files.first().content, 25 * 1024, 200);
        stalling.fault = Answer::Fault::StallAfter;
        stalling.cut = 100 * 1024;
        if (phase.file == "stalls")
            m_server->serve(FilePath, stalling);
        else if (phase.file.toInt())
            m_server->serve(FilePath, Answer::withStatus(phase.file.toInt()));

        openWindow();
        for (int i = 0; i < phase.answers.size(); ++i) {
            m_boxes->setButtonText(phase.answers.at(i));
            QVERIFY2(m_boxes->waitFor(i + 1, 20000), qPrintable(m_boxes->seen().join(" | ")));
        }
        QVERIFY(phase.settle.isEmpty() ? (QTest::qWait(300), true) : waitForRequest(phase.settle));
        QCOMPARE(m_boxes->count(), phase.answers.size());
        if (!phase.answers.isEmpty())
            VERIFY_MATCHES(phase.lastBox, m_boxes->seen().last());
        QCOMPARE(m_server->requestCount(LauncherList) > 0, phase.settle == LauncherList);
        QTRY_VERIFY2(matches(phase.state, state()), qPrintable(state()));
        // An update, or files found current, record the range's version as plain text.
        const QByteArray version = phase.game == "current" || phase.answers.contains("OK") ? "1.1" : "1.0";
        QVERIFY(m_game->readFile("settings.ini").contains("Version=" + version + "\n"));
        QCOMPARE(m_window->findChild<QLabel *>("gameVersionLabel")->text().right(4),
            QString::fromLatin1(version + "0"));
    }

    // A refusal for a running game (ZARK_Game held) leaves the offer open: the update button
    // asks again and runs at once.
    void runningGameLeavesTheOfferOpen()
    {
        const QList<GameFile> files {{"Data", "a.pak", patterned(5000, 1)}};
        serve("game", "offers", files);
        serve("launcher", "none", {});
        m_gameProcess.start(builtFile("ZARK.exe"), QStringList());
        QTRY_VERIFY(LTools::mutexExists(MutexName::Game));
        openWindow();
        QVERIFY(m_boxes->waitFor(2, 20000));
        VERIFY_MATCHES(prompt("4.88 KB") + "\n" + Warning, m_boxes->seen().join("\n"));
        QTest::qWait(300);
        QCOMPARE(m_server->requestCount(FilePath), 0);
        QCOMPARE(state(), Offered);

        m_gameProcess.kill();
        m_gameProcess.waitForFinished();
        QTRY_VERIFY(!LTools::mutexExists(MutexName::Game));
        m_update->click();
        VERIFY_MATCHES(prompt("4.88 KB"), m_boxes->seen().value(2));
        QCOMPARE(state(), "update off, start off; 0-100 =0 hidden; 0-100 =0 \"更新中\"");
        m_boxes->setButtonText("OK");
        QVERIFY(m_boxes->waitFor(4, 20000));
        VERIFY_MATCHES(Done, m_boxes->seen().value(3));
        QVERIFY(installedBelow(m_game->gameDir(), files));
        QCOMPARE(storedVersion(*m_game), "1.1");
    }

    void confirmedPromptClosesTheOffer()
    {
        const QList<GameFile> files {{"Data", "a.pak", patterned(2000, 2)}};
        serve("game", "offers", files);
        serve("launcher", "none", {});
        openWindow();
        QVERIFY(m_boxes->waitFor(1));
        // Confirmed, not yet started (the start button and the bars untouched): a click now
        // must not start a second run.
        QCOMPARE(state(), Idle);
        m_update->click();
        m_boxes->setButtonText("OK");
        QVERIFY(m_boxes->waitFor(2, 20000));
        QTest::qWait(200);
        QCOMPARE(m_boxes->count(), 2);
        QCOMPARE(m_server->requestCount(FilePath), 1);
        QVERIFY(installedBelow(m_game->gameDir(), files));
    }

    void handOver_data()
    {
        QTest::addColumn<bool>("withExecutable"); // the update brings a new Launcher.exe
        QTest::addColumn<bool>("blocked"); // newLauncher.exe cannot be written
        QTest::newRow("new executable") << true << false;
        QTest::newRow("other files only (the running one goes over)") << false << false;
        QTest::newRow("target blocked") << true << true;
    }
    void handOver()
    {
        QFETCH(bool, withExecutable);
        QFETCH(bool, blocked);
        serve("game", "none", {});
        QList<GameFile> files {{"images", "Launcher_bg.png", patterned(900, 13)}};
        if (withExecutable)
            files.append({"", "Launcher.exe", "launcher build 2"});
        serve("launcher", "offers", files);
        QVERIFY(!blocked || m_game->writeFile("Launcher/newLauncher.exe/in the way", "a folder"));
        // The window ends the application's event loop: it must be this test's own loop. A
        // refused copy leaves it running; the warning marks that end, 30 s the test's.
        QElapsedTimer elapsed;
        elapsed.start();
        QTimer watch;
        connect(&watch, &QTimer::timeout, [&] {
            if (m_boxes->count() >= 2 || elapsed.hasExpired(30000))
                QCoreApplication::exit(m_boxes->count() >= 2 ? 0 : -1);
        });
        watch.start(50);
        openWindow();
        m_window->show(); // as qMain does: the loop runs while the window is open
        const int code = QApplication::exec();
        VERIFY_MATCHES(
            prompt(withExecutable ? "916.00 Bytes" : "900.00 Bytes") + (blocked ? "\n" + Warning : ""),
            m_boxes->seen().join("\n"));
        VERIFY_MATCHES("update off, start off;.*", state());
        QCOMPARE(code, blocked ? 0 : Launcher::HandOverExitCode);
        QCOMPARE(m_game->readFile("Launcher/newLauncher.exe"),
            blocked              ? QByteArray()
                : withExecutable ? "launcher build 2"
                                 : "the running launcher");
    }
};

QTEST_MAIN(TestUpdateFlow)
#include "tst_updateflow.moc"
