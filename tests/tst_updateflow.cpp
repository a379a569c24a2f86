#include "BoxAnswerer.h"
#include "FaultServer.h"
#include "GameFolder.h"
#include "Launcher.h"
#include "LinkCatcher.h"
#include "TestFiles.h"
#include "UpdateSite.h"
#include "Util.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

#include <memory>

using namespace UpdateTest;
using Answer = FaultServer::Answer;

namespace {

const QString Ok = QStringLiteral("OK"); // the standard button of the completion box
const QString Yes = QStringLiteral("確定");
const QString No = QStringLiteral("取消");
const QString Go = QStringLiteral("前往");
const QString SitePage = QStringLiteral("http://zark.example.com/下載 頁");
const QString GameSite = QStringLiteral("game");
const QString LauncherSite = QStringLiteral("launcher");
// Its only range lies above the installed version: nothing to fetch.
const Range NoRange {"9.0", "1.0", "none"};
const QString GameList = QStringLiteral("/game/VersionList.xml");
const QString LauncherList = QStringLiteral("/launcher/VersionList.xml");
const QString GameRange = QStringLiteral("/game/v1.1");
const QString Reset = QStringLiteral("0-100 =0 hidden"); // a bar as the form or a reset leaves it
const QString Done = QStringLiteral("更新已完成");
const QString Failed = QStringLiteral("更新失敗，請稍候再試。");
const QString BothOn = QStringLiteral("update on, start on");
const QString BothOff = QStringLiteral("update off, start off");
const QString StartOnly = QStringLiteral("update off, start on");

QString barState(const QProgressBar *bar)
{
    const QString range
        = QStringLiteral("%1-%2 =%3").arg(bar->minimum()).arg(bar->maximum()).arg(bar->value());
    return range
        + (bar->isTextVisible() ? QStringLiteral(" \"%1\"").arg(bar->format()) : QStringLiteral(" hidden"));
}

bool matches(const QString &pattern, const QString &text)
{
    return QRegularExpression(QRegularExpression::anchoredPattern(pattern)).match(text).hasMatch();
}

// The file bar at every step of a run, as the window left it when the step reached the total
// bar: the window logs each total step, after its file reaction. (Qt delivers a transfer's
// last progress step and its end in one event, so looking between events would miss it.)
class StepRecorder
{
public:
    explicit StepRecorder(QProgressBar *bar)
    {
        s_bar = bar;
        s_states.clear();
        s_previous = qInstallMessageHandler(&StepRecorder::handle);
    }
    ~StepRecorder() { qInstallMessageHandler(s_previous); }
    // The states seen, the bar's present one last.
    static QStringList states()
    {
        handle(QtDebugMsg, QMessageLogContext(), Step);
        return s_states;
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        if (!message.startsWith(Step))
            s_previous(type, context, message);
        else if (s_bar && (s_states.isEmpty() || s_states.last() != barState(s_bar)))
            s_states << barState(s_bar);
    }

    static inline const QString Step = QStringLiteral("Process Data From UpdateList");
    static inline QPointer<QProgressBar> s_bar;
    static inline QStringList s_states;
    static inline QtMessageHandler s_previous = nullptr;
};

} // namespace

// The launcher window's update flow with the real update engine against a scripted server:
// the game check, then the launcher's, the prompts, the runs with their two bars, the
// failures, and the hand-over to the self-update.
class TestUpdateFlow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void phases_data();
    void phases();
    void offerStands_data();
    void offerStands();
    void confirmedPromptClosesTheOffer();
    void fileBar_data();
    void fileBar();
    void completedGameUpdateThenLauncherOffer();
    void manualUpdateNotice_data();
    void manualUpdateNotice();
    void handOver_data();
    void handOver();

private:
    // A game at version whose launcher.ini names the server's /game/ and /launcher/ lists.
    void makeGame(const QByteArray &version = "1.0");
    // /<site>/VersionList.xml with one range, and the range's update.
    void serve(const QString &site, const QList<GameFile> &files, const Range &range = {"1.0", "1.1", "v1.1"})
    {
        m_server->serve(QStringLiteral("/%1/VersionList.xml").arg(site), versionList({range}));
        serveUpdate(*m_server, QStringLiteral("/%1/%2").arg(site, range.dir), files);
    }
    void openWindow();
    // Waits until the server saw a request for path, then lets the window react to the answer.
    bool waitForRequest(const QString &path, int timeoutMs = 15000);
    bool waitForBoxes(int count) { return m_boxes->waitFor(count, 20000); }
    int requests(const QString &path) const { return m_server->requestCount(path); }
    QStringList boxTexts() const;
    // "title | text | icon | buttons" of each box, for one comparison.
    QStringList describedBoxes() const;
    QString buttons() const
    {
        const auto state = [](const QPushButton *button) {
            return button->isEnabled() ? QStringLiteral("on") : QStringLiteral("off");
        };
        return QStringLiteral("update %1, start %2").arg(state(m_update), state(m_start));
    }
    bool installed(const QList<GameFile> &files) const { return installedBelow(m_game->gameDir(), files); }

    std::unique_ptr<FaultServer> m_server;
    std::unique_ptr<GameFolder> m_game;
    std::unique_ptr<GameFolder::WorkingDirectory> m_cwd;
    std::unique_ptr<Launcher> m_window;
    std::unique_ptr<BoxAnswerer> m_boxes;
    LinkCatcher m_links {{QStringLiteral("http"), QStringLiteral("https")}};
    QProcess m_gameProcess;
    QPushButton *m_update = nullptr;
    QPushButton *m_start = nullptr;
    QProgressBar *m_fileBar = nullptr;
    QProgressBar *m_totalBar = nullptr;
};

// A server per test: the window's engines live on after it, and their retries must find
// nothing to talk to rather than the next test's answers.
void TestUpdateFlow::init()
{
    m_server = std::make_unique<FaultServer>();
    QVERIFY(m_server->listen());
    m_boxes = std::make_unique<BoxAnswerer>(Yes);
    m_links.opened.clear();
}

void TestUpdateFlow::cleanup()
{
    m_window.reset();
    m_server.reset();
    if (m_gameProcess.state() != QProcess::NotRunning) {
        m_gameProcess.kill();
        m_gameProcess.waitForFinished();
    }
    QTest::qWait(50); // the engines' transfers end on the closed connections
    m_boxes.reset();
    m_cwd.reset();
    m_game.reset();
}

void TestUpdateFlow::makeGame(const QByteArray &version)
{
    m_game = std::make_unique<GameFolder>();
    QVERIFY(m_game->installLauncher());
    QVERIFY(m_game->writeFile(QStringLiteral("Launcher/launcher.ini"),
        "[launcher]\nlist=" + m_server->url(QStringLiteral("/launcher/")).toUtf8()
            + "\nsite=about:blank\n[game]\nlist=" + m_server->url(QStringLiteral("/game/")).toUtf8()
            + "\nsite=" + SitePage.toUtf8() + "\n"));
    QVERIFY(m_game->writeFile(QStringLiteral("Launcher/Launcher.exe"), "the running launcher"));
    QVERIFY(m_game->writeFile(QStringLiteral("settings.ini"), "[Settings]\nVersion=" + version + "\n"));
    m_cwd = std::make_unique<GameFolder::WorkingDirectory>(*m_game);
}

void TestUpdateFlow::openWindow()
{
    m_window = std::make_unique<Launcher>();
    m_update = m_window->findChild<QPushButton *>(QStringLiteral("updatePushButton"));
    m_start = m_window->findChild<QPushButton *>(QStringLiteral("startButton"));
    m_fileBar = m_window->findChild<QProgressBar *>(QStringLiteral("progressBar"));
    m_totalBar = m_window->findChild<QProgressBar *>(QStringLiteral("total_ProgressBar"));
}

bool TestUpdateFlow::waitForRequest(const QString &path, int timeoutMs)
{
    if (!QTest::qWaitFor([&] { return requests(path) > 0; }, timeoutMs))
        return false;
    QTest::qWait(500);
    return true;
}

QStringList TestUpdateFlow::boxTexts() const
{
    QStringList texts;
    for (const BoxAnswerer::Box &box : m_boxes->boxes())
        texts << box.text;
    return texts;
}

QStringList TestUpdateFlow::describedBoxes() const
{
    static const QStringList icons {"none", "information", "warning", "critical", "question"};
    QStringList described;
    for (const BoxAnswerer::Box &box : m_boxes->boxes())
        described << QStringList {box.title, box.text, icons.value(box.icon),
            box.buttons.join(QLatin1Char(','))}
                         .join(QLatin1String(" | "));
    return described;
}

// ---- Phases ---------------------------------------------------------------------------------

void TestUpdateFlow::phases_data()
{
    QTest::addColumn<QString>("server"); // what the game's and the launcher's lists and files do
    QTest::addColumn<QStringList>("answers"); // the buttons pressed, one box each
    QTest::addColumn<QString>("lastBox"); // "title | text | icon | buttons"
    QTest::addColumn<QString>("settle"); // a path whose request marks the phase; empty: none follows
    QTest::addColumn<bool>("launcherChecked");
    QTest::addColumn<QString>("buttons");
    QTest::addColumn<QString>("file"); // pattern of the file bar's state
    QTest::addColumn<QString>("total"); // pattern of the total bar's state

    const QString file = QStringLiteral("/game/v1.1/files/Data/a.pak");
    const QString checking = QStringLiteral("0-100 =0 \"檢查更新檔案\\.{6}\"");
    const QString updating = QStringLiteral("0-292 =\\d+ \"\\d+\\.\\d\\d KB / 292\\.97 KB");
    const QString failedRun = QStringLiteral("0-\\d+ =0 hidden");
    const QString gamePrompt = QStringLiteral(
        "更新提示 | 遊戲有更新版本,是否要立即更新?\n(檔案容量:292.97 KB) | information | 確定,取消");
    const QString launcherPrompt
        = QStringLiteral("更新提示 | 雲隼紀年-啟動器,有更新版本\n是否要立即更新?(檔案容量:12.00 Bytes) | "
                         "information | 確定,取消");
    // A failed check shows its box once and goes no further.
    const QString checkFailed
        = QStringLiteral("訊息提示 | 系統通知\n目前無法取得更新資訊 | information | 確定");
    const QStringList none;
    QTest::newRow("checking the game")
        << "game stalls" << none << QString() << GameList << false << StartOnly << checking << Reset;
    QTest::newRow("game update offered")
        << "game offers" << QStringList {No} << gamePrompt << QString() << false << BothOn << Reset << Reset;
    QTest::newRow("checking the launcher")
        << "launcher stalls" << none << QString() << LauncherList << true << StartOnly << Reset << Reset;
    QTest::newRow("launcher update offered") << "launcher offers" << QStringList {No} << launcherPrompt
                                             << LauncherList << true << BothOn << Reset << Reset;
    // An up-to-date game (every file current) goes on to the launcher's check all the same.
    QTest::newRow("game current, launcher update offered")
        << "game current, launcher offers" << QStringList {No} << launcherPrompt << LauncherList << true
        << BothOn << Reset << Reset;
    QTest::newRow("idle") << "nothing new" << none << QString() << LauncherList << true << StartOnly << Reset
                          << Reset;
    QTest::newRow("idle after a failed game check") << "game fails" << QStringList {Yes} << checkFailed
                                                    << GameList << false << StartOnly << Reset << Reset;
    QTest::newRow("idle after a failed file list")
        << "file list fails" << QStringList {Yes} << checkFailed << "/game/v1.1/UpdateList.xml" << false
        << StartOnly << Reset << Reset;
    QTest::newRow("idle after a failed launcher check")
        << "launcher fails" << QStringList {Yes} << checkFailed << LauncherList << true << StartOnly << Reset
        << Reset;
    QTest::newRow("updating") << "file stalls" << QStringList {Yes} << gamePrompt << file << false << BothOff
                              << updating + "\"" << updating + " \\(0/1\\)\"";
    QTest::newRow("update failed") << "file fails" << QStringList {Yes, Yes}
                                   << QStringLiteral("警告訊息 | ") + Failed
            + QStringLiteral(" | warning | 確定")
                                   << file << false << BothOn << failedRun << failedRun;
    QTest::newRow("game update done, checking the launcher")
        << "game offers, launcher stalls" << QStringList {Yes, Ok}
        << QStringLiteral("訊息提示 | 更新已完成 | none | OK") << LauncherList << true << StartOnly << Reset
        << "0-292 =292 \"292\\.97 KB / 292\\.97 KB \\(1/1\\)\"";
}

void TestUpdateFlow::phases()
{
    QFETCH(QString, server);
    QFETCH(QStringList, answers);
    QFETCH(QString, lastBox);
    QFETCH(QString, settle);
    QFETCH(bool, launcherChecked);
    QFETCH(QString, buttons);
    QFETCH(QString, file);
    QFETCH(QString, total);

    makeGame();
    const QList<GameFile> files {{"Data", "a.pak", patterned(300000, 1)}};
    const QString filePath = servedPath(GameRange, files.first());
    if (server.contains(QLatin1String("game current")))
        QVERIFY(m_game->writeFile(files.first().localPath(), files.first().content));
    if (server.contains(QLatin1String("game offers")) || server.contains(QLatin1String("game current"))
        || server.startsWith(QLatin1String("file")))
        serve(GameSite, files);
    else
        serve(GameSite, {}, NoRange);
    if (server == QLatin1String("game stalls"))
        m_server->serve(GameList, Answer::stallBeforeHeaders());
    else if (server == QLatin1String("game fails"))
        m_server->serve(GameList, Answer::withStatus(500));
    else if (server == QLatin1String("file list fails"))
        m_server->serve(QStringLiteral("/game/v1.1/UpdateList.xml"), Answer::withStatus(404, "gone"));
    if (server == QLatin1String("file stalls")) {
        // Qt reports progress at most every 150 ms: the bytes come in steps, then stop.
        Answer stalling = Answer::trickle(files.first().content, 25 * 1024, 200);
        stalling.fault = Answer::Fault::StallAfter;
        stalling.cut = 100 * 1024;
        m_server->serve(filePath, stalling);
    } else if (server == QLatin1String("file fails")) {
        m_server->serve(filePath, Answer::withStatus(503, "busy"));
    }
    if (server.contains(QLatin1String("launcher stalls")))
        m_server->serve(LauncherList, Answer::stallBeforeHeaders());
    else if (server == QLatin1String("launcher fails"))
        m_server->serve(LauncherList, Answer::withStatus(404, "gone"));
    else if (server.contains(QLatin1String("launcher offers")))
        serve(LauncherSite, {{"", "Launcher.exe", "new launcher"}});
    else
        serve(LauncherSite, {}, NoRange);

    openWindow();
    for (int i = 0; i < answers.size(); ++i) {
        m_boxes->setButtonText(answers.at(i));
        QVERIFY2(waitForBoxes(i + 1), qPrintable(boxTexts().join(QLatin1String(" | "))));
    }
    if (settle.isEmpty())
        QTest::qWait(300);
    else
        QVERIFY(waitForRequest(settle));
    QCOMPARE(describedBoxes().value(answers.size() - 1), lastBox);
    QCOMPARE(requests(LauncherList) > 0, launcherChecked);
    QTRY_VERIFY2(matches(file, barState(m_fileBar)), qPrintable(barState(m_fileBar)));
    QTRY_VERIFY2(matches(total, barState(m_totalBar)), qPrintable(barState(m_totalBar)));
    QCOMPARE(this->buttons(), buttons);
    QCOMPARE(m_boxes->count(), answers.size());
}

// ---- Prompts --------------------------------------------------------------------------------

void TestUpdateFlow::offerStands_data()
{
    QTest::addColumn<QString>("obstacle");
    QTest::addColumn<QStringList>("boxes"); // before the update button is clicked
    QTest::addColumn<int>("fetched"); // requests for the file by then

    const QString prompt = QStringLiteral(
        "更新提示 | 遊戲有更新版本,是否要立即更新?\n(檔案容量:4.88 KB) | information | 確定,取消");
    const QString warning = QStringLiteral("警告訊息 | %1 | warning | 確定");
    QTest::newRow("declined") << "declined" << QStringList {prompt} << 0;
    QTest::newRow("game running") << "game running"
                                  << QStringList {prompt, warning.arg(QStringLiteral("請關閉遊戲，繼續更新"))}
                                  << 0;
    QTest::newRow("download failed") << "download failed" << QStringList {prompt, warning.arg(Failed)} << 3;
}

// A declined prompt, a running game (ZARK_Game held) or a failed download leave the offer open:
// the update button asks again and runs at once.
void TestUpdateFlow::offerStands()
{
    QFETCH(QString, obstacle);
    QFETCH(QStringList, boxes);
    QFETCH(int, fetched);

    makeGame();
    const QList<GameFile> files {{"Data", "a.pak", patterned(5000, 1)}};
    const QString path = servedPath(GameRange, files.first());
    serve(GameSite, files);
    serve(LauncherSite, {}, NoRange);
    if (obstacle == QLatin1String("declined"))
        m_boxes->setButtonText(No);
    if (obstacle == QLatin1String("download failed"))
        m_server->serve(path, Answer::withStatus(500, "busy"));
    if (obstacle == QLatin1String("game running")) {
        m_gameProcess.start(builtFile(QStringLiteral("ZARK.exe")), QStringList());
        QTRY_VERIFY(LTools::mutexExists(MutexName::Game));
    }
    openWindow();
    QVERIFY(waitForBoxes(boxes.size()));
    QTest::qWait(300);
    QCOMPARE(describedBoxes(), boxes);
    QCOMPARE(requests(path), fetched);
    QCOMPARE(buttons(), BothOn);
    QCOMPARE(storedVersion(*m_game), QStringLiteral("1.0"));

    m_server->serve(path, files.first().content);
    m_gameProcess.terminate();
    m_gameProcess.waitForFinished();
    QTRY_VERIFY(!LTools::mutexExists(MutexName::Game));
    m_boxes->setButtonText(Yes);
    m_update->click();
    QCOMPARE(describedBoxes().value(boxes.size()),
        QStringLiteral("更新提示 | 是否要立即更新?\n(下載容量:4.88 KB) | information | 確定,取消"));
    QCOMPARE(buttons(), BothOff);
    QCOMPARE(barState(m_totalBar), QStringLiteral("0-100 =0 \"更新中\""));
    m_boxes->setButtonText(Ok);
    QVERIFY(waitForBoxes(boxes.size() + 2));
    QCOMPARE(boxTexts().last(), Done);
    QCOMPARE(barState(m_totalBar), QStringLiteral("0-4 =4 \"4.88 KB / 4.88 KB (1/1)\""));
    QVERIFY(installed(files));
    QCOMPARE(storedVersion(*m_game), QStringLiteral("1.1"));
}

void TestUpdateFlow::confirmedPromptClosesTheOffer()
{
    makeGame();
    const QList<GameFile> files {{"", "b.pak", patterned(2000, 2)}};
    serve(GameSite, files);
    serve(LauncherSite, {}, NoRange);
    openWindow();
    QVERIFY(waitForBoxes(1));
    // Confirmed, not yet started (the start button and the total bar untouched): a click now
    // must not start a second run.
    QCOMPARE(buttons(), StartOnly);
    QCOMPARE(barState(m_totalBar), Reset);
    m_update->click();
    m_boxes->setButtonText(Ok);
    QVERIFY(waitForBoxes(2));
    QTest::qWait(200);
    QCOMPARE(boxTexts(),
        (QStringList {QStringLiteral("遊戲有更新版本,是否要立即更新?\n(檔案容量:1.95 KB)"), Done}));
    QCOMPARE(requests(servedPath(GameRange, files.first())), 1);
    QVERIFY(installed(files));
}

// ---- Bars -----------------------------------------------------------------------------------

void TestUpdateFlow::fileBar_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("announced"); // Content-Length sent
    QTest::addColumn<QString>("seen"); // a state of the file bar that must show (pattern)
    QTest::addColumn<QString>("everyShown"); // what every state with text must look like
    QTest::addColumn<QStringList>("last"); // the file bar's last states
    QTest::addColumn<QString>("total"); // the total bar at the end

    QTest::newRow("1023 bytes") << patterned(1023, 4) << true << QString()
                                << "0-1 =1 \"\\d+\\.00 Bytes / 1023\\.00 Bytes\""
                                << QStringList {"0-1 =1 \"1023.00 Bytes / 1023.00 Bytes\"", Reset}
                                << "0-1 =1 \"1023.00 Bytes / 1023.00 Bytes (1/1)\"";
    QTest::newRow("size not announced")
        << patterned(3000, 6) << false << "0-1 =1 \"\\d+\\.\\d\\d (Bytes|KB) / -1\\.00 Bytes\""
        << "0-[12] =[12] \"\\d+\\.\\d\\d (Bytes|KB) / (-1\\.00 Bytes|2\\.93 KB)\"" << QStringList {Reset}
        << "0-2 =2 \"2.93 KB / 2.93 KB (1/1)\"";
    QTest::newRow("empty file") << QByteArray() << true << QString()
                                << "0-1 =1 \"0\\.00 Bytes / 0\\.00 Bytes\"" << QStringList {Reset}
                                << "0-1 =1 \"0.00 Bytes / 0.00 Bytes (1/1)\"";
}

void TestUpdateFlow::fileBar()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, announced);
    QFETCH(QString, seen);
    QFETCH(QString, everyShown);
    QFETCH(QStringList, last);
    QFETCH(QString, total);

    makeGame();
    const QList<GameFile> files {{"Data", "d.bin", content}};
    serve(GameSite, files);
    // Slower than Qt's limit of one progress notice per 150 ms, so that steps show.
    Answer slow = Answer::trickle(content, 300, 200);
    slow.announceLength = announced;
    m_server->serve(servedPath(GameRange, files.first()), slow);
    serve(LauncherSite, {}, NoRange);

    openWindow();
    StepRecorder recorder(m_fileBar);
    QVERIFY(waitForBoxes(1));
    m_boxes->setButtonText(Ok);
    QVERIFY(waitForBoxes(2));
    QCOMPARE(boxTexts().value(1), Done);
    QVERIFY(installed(files));

    const QStringList states = recorder.states();
    const QByteArray history = states.join(QLatin1String(" | ")).toUtf8();
    const char *seenStates = history.constData();
    QVERIFY2(states.mid(states.size() - last.size()) == last, seenStates);
    for (const QString &state : states)
        QVERIFY2(state.endsWith(QLatin1String(" hidden")) || matches(everyShown, state), seenStates);
    QVERIFY2(seen.isEmpty()
            || std::any_of(
                states.cbegin(), states.cend(), [&](const QString &state) { return matches(seen, state); }),
        seenStates);
    QCOMPARE(barState(m_totalBar), total);
}

// ---- Failures and completion ------------------------------------------------------------------

void TestUpdateFlow::completedGameUpdateThenLauncherOffer()
{
    makeGame();
    QVERIFY(m_game->writeFile(QStringLiteral("Data/Maps/m1.bin"), "an older map"));
    const QList<GameFile> gameFiles {{"", "ZARK.dat", patterned(1500, 8)},
        {"Data/Maps", "m1.bin", patterned(70000, 9)}, {"Data/Maps/Deep", "m2.bin", patterned(9000, 10)}};
    serve(GameSite, gameFiles);
    serve(LauncherSite, {{"", "Launcher.exe", "new launcher"}});
    openWindow();
    QVERIFY(waitForBoxes(1));
    QCOMPARE(boxTexts().value(0), QStringLiteral("遊戲有更新版本,是否要立即更新?\n(檔案容量:78.61 KB)"));

    m_boxes->setButtonText(Ok);
    QVERIFY(waitForBoxes(2));
    QCOMPARE(describedBoxes().value(1), QStringLiteral("訊息提示 | 更新已完成 | none | OK"));
    QVERIFY(installed(gameFiles));
    QCOMPARE(storedVersion(*m_game), QStringLiteral("1.1"));
    QCOMPARE(m_window->findChild<QLabel *>(QStringLiteral("gameVersionLabel"))->text(),
        QStringLiteral("遊戲版號: 1.10"));

    // The launcher check follows, and its update is offered at once.
    m_boxes->setButtonText(No);
    QVERIFY(waitForBoxes(3));
    QCOMPARE(describedBoxes().value(2),
        QStringLiteral(
            "更新提示 | 雲隼紀年-啟動器,有更新版本\n是否要立即更新?(檔案容量:12.00 Bytes) | information | "
            "確定,取消"));
    QCOMPARE(buttons(), BothOn);
    QCOMPARE(barState(m_totalBar), QStringLiteral("0-78 =78 \"78.61 KB / 78.61 KB (3/3)\""));
}

// ---- Manual update notice ----------------------------------------------------------------------

void TestUpdateFlow::manualUpdateNotice_data()
{
    QTest::addColumn<QByteArray>("installed");
    QTest::addColumn<QString>("latest");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("named"); // the version the notice names; empty: no notice

    QTest::newRow("2.5 over 2.0, go") << QByteArray("2.0") << "2.5" << Go << "2.5";
    QTest::newRow("2.5 over 2.0, cancel") << QByteArray("2.0") << "2.5" << No << "2.5";
    QTest::newRow("1.25 over 1.0") << QByteArray("1.0") << "1.25" << No << "1.25";
    QTest::newRow("3 over 2.99") << QByteArray("2.99") << "3.0" << No << "3";
    QTest::newRow("equal") << QByteArray("2.0") << "2.0" << Go << QString();
    QTest::newRow("older") << QByteArray("2.0") << "1.5" << Go << QString();
}

void TestUpdateFlow::manualUpdateNotice()
{
    QFETCH(QByteArray, installed);
    QFETCH(QString, latest);
    QFETCH(QString, button);
    QFETCH(QString, named);

    makeGame(installed);
    m_server->serve(GameList, versionList({{"0.1", "0.5", "old"}, {"9.0", latest, "none"}}));
    serve(LauncherSite, {}, NoRange);
    m_boxes->setButtonText(button);
    openWindow();
    if (named.isEmpty()) {
        QVERIFY(waitForRequest(LauncherList));
        QCOMPARE(m_boxes->count(), 0);
        return;
    }
    QVERIFY(waitForBoxes(1));
    QCOMPARE(describedBoxes().value(0),
        QStringLiteral("訊息提示 | 本遊戲目前最新版本為") + named
            + QStringLiteral("版，由於資\n料量過於龐大，必須進行手動下載更新\n，製作團隊強烈建議玩家更新至此"
                             "版本\n，以便享受到更多有趣的遊戲內容。 | information | 前往,取消"));
    QCOMPARE(requests(LauncherList), 1);
    if (button == Go)
        QTRY_VERIFY(!m_links.opened.isEmpty());
    QTest::qWait(100);
    QCOMPARE(m_links.opened, button == Go ? QList<QUrl> {QUrl(SitePage, QUrl::TolerantMode)} : QList<QUrl>());
}

// ---- Hand-over --------------------------------------------------------------------------------

void TestUpdateFlow::handOver_data()
{
    QTest::addColumn<bool>("withExecutable"); // the update brings a new Launcher.exe
    QTest::addColumn<bool>("targetBlocked"); // newLauncher.exe cannot be written
    QTest::newRow("new executable") << true << false;
    QTest::newRow("other files only (the running one goes over)") << false << false;
    QTest::newRow("target blocked") << true << true;
}

void TestUpdateFlow::handOver()
{
    QFETCH(bool, withExecutable);
    QFETCH(bool, targetBlocked);

    makeGame();
    serve(GameSite, {}, NoRange);
    QList<GameFile> files {{"images", "Launcher_bg.png", patterned(900, 13)}};
    if (withExecutable)
        files.append({"", "Launcher.exe", "launcher build 2"});
    serve(LauncherSite, files);
    if (targetBlocked)
        QVERIFY(m_game->writeFile(QStringLiteral("Launcher/newLauncher.exe/in the way"), "a folder"));

    // The window ends the application's event loop: it must be this test's own loop. A refused
    // copy leaves it running; the warning marks that end, 30 s the test's.
    QElapsedTimer elapsed;
    elapsed.start();
    QTimer watch;
    connect(&watch, &QTimer::timeout, [&] {
        if (m_boxes->count() >= 2)
            QCoreApplication::exit(0);
        else if (elapsed.hasExpired(30000))
            QCoreApplication::exit(-1);
    });
    watch.start(50);
    openWindow();
    m_window->show(); // as qMain does: the loop runs while the window is open
    const int code = QApplication::exec();
    watch.stop();

    const QString prompt = QStringLiteral("雲隼紀年-啟動器,有更新版本\n是否要立即更新?(檔案容量:%1)")
                               .arg(withExecutable ? "916.00 Bytes" : "900.00 Bytes");
    QCOMPARE(buttons(), BothOff);
    if (targetBlocked) {
        QCOMPARE(code, 0);
        QCOMPARE(boxTexts(), (QStringList {prompt, Failed}));
        QVERIFY(QFileInfo(m_game->path(QStringLiteral("Launcher/newLauncher.exe"))).isDir());
        return;
    }
    QCOMPARE(code, Launcher::HandOverExitCode);
    QCOMPARE(boxTexts(), QStringList {prompt});
    QCOMPARE(m_game->readFile(QStringLiteral("Launcher/newLauncher.exe")),
        withExecutable ? QByteArray("launcher build 2") : QByteArray("the running launcher"));
}

QTEST_MAIN(TestUpdateFlow)
#include "tst_updateflow.moc"
