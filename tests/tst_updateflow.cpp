#include "BoxAnswerer.h"
#include "FaultServer.h"
#include "GameFolder.h"
#include "Launcher.h"
#include "TestFiles.h"
#include "Util.h"
#include "main.h"

#include <QCryptographicHash>
#include <QDesktopServices>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QtTest>

#include <memory>

using Answer = FaultServer::Answer;

namespace {

const QString Ok = QStringLiteral("OK"); // the standard button of the completion box
const QString Yes = QStringLiteral("確定");
const QString No = QStringLiteral("取消");
const QString Go = QStringLiteral("前往");
const QString SitePage = QStringLiteral("http://zark.example.com/下載 頁");

struct Range
{
    const char *min;
    const char *max;
    const char *dir;
};

QByteArray versionList(const QList<Range> &ranges)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<VersionList>\n";
    for (const Range &range : ranges)
        xml += QByteArray("  <Version MinVer=\"") + range.min + "\" MaxVer=\"" + range.max + "\" Dir=\""
            + range.dir + "\"/>\n";
    return xml + "</VersionList>\n";
}

// One file of an update: where it lies below the install folder and what the server holds.
struct File
{
    QString relativeDir;
    QString name;
    QByteArray content;

    QString localPath() const { return relativeDir.isEmpty() ? name : relativeDir + QLatin1Char('/') + name; }
};

QByteArray updateList(const QList<File> &files)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<UpdateList>\n";
    for (const File &file : files)
        xml += QStringLiteral(
            "  <File Name=\"%1\" RelativeDir=\"%2\" MD5=\"%3\" Dir=\"files\" Size=\"%4\"/>\n")
                   .arg(file.name, file.relativeDir, QString::fromLatin1(md5Hex(file.content)))
                   .arg(file.content.size())
                   .toUtf8();
    return xml + "</UpdateList>\n";
}

// The file bar at every step of a run, as the window left it when the step reached the total
// bar: the window logs each total step, after its file reaction. (Qt delivers a transfer's
// last progress step and its end in one event, so looking between events would miss it.)
class StepRecorder
{
public:
    explicit StepRecorder(QProgressBar *bar)
        : m_bar(bar)
    {
        s_current = this;
        m_previous = qInstallMessageHandler(&StepRecorder::handle);
    }
    ~StepRecorder()
    {
        qInstallMessageHandler(m_previous);
        s_current = nullptr;
    }

    static QString state(const QProgressBar *bar)
    {
        QString text = QStringLiteral("%1-%2 =%3").arg(bar->minimum()).arg(bar->maximum()).arg(bar->value());
        return bar->isTextVisible() ? text + QStringLiteral(" \"") + bar->format() + QLatin1Char('"')
                                    : text + QStringLiteral(" hidden");
    }
    // The states seen, the bar's present one last.
    QStringList states() const
    {
        QStringList all = m_states;
        if (m_bar && (all.isEmpty() || all.last() != state(m_bar)))
            all << state(m_bar);
        return all;
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        StepRecorder *self = s_current;
        if (message.startsWith(QLatin1String("Process Data From UpdateList"))) {
            if (self->m_bar) {
                const QString now = state(self->m_bar);
                if (self->m_states.isEmpty() || self->m_states.last() != now)
                    self->m_states << now;
            }
            return;
        }
        self->m_previous(type, context, message);
    }

    static StepRecorder *s_current;
    QPointer<QProgressBar> m_bar;
    QStringList m_states;
    QtMessageHandler m_previous;
};

StepRecorder *StepRecorder::s_current = nullptr;

} // namespace

// Receives what the window hands to the desktop.
class LinkCatcher : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> opened;

public slots:
    void open(const QUrl &url) { opened << url; }
};

// The launcher window's update flow with the real update engine against a scripted server:
// the game check, then the launcher's, the prompts, the runs with their two bars, the
// failures, and the hand-over to the self-update.
class TestUpdateFlow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void phases_data();
    void phases();
    void declinedThenOfferedAgain();
    void confirmedPromptClosesTheOffer();
    void runningGameRefusesUpdate();
    void fileBar_data();
    void fileBar();
    void failedDownloadThenRetry();
    void completedGameUpdateThenLauncherOffer();
    void upToDateGameGoesOnToLauncher();
    void checkFailure_data();
    void checkFailure();
    void manualUpdateNotice_data();
    void manualUpdateNotice();
    void handOver_data();
    void handOver();

private:
    // A game at version whose launcher.ini names the server's /game/ and /launcher/ lists.
    void makeGame(const QByteArray &version = "1.0");
    static QString filePath(const QString &product, const char *dir, const File &file)
    {
        return QStringLiteral("/%1/%2/files/%3").arg(product, QLatin1String(dir), file.localPath());
    }
    void serveUpdate(const QString &product, const char *dir, const QList<File> &files);
    void serveGameUpdate(const QList<File> &files)
    {
        m_server->serve(QStringLiteral("/game/VersionList.xml"), versionList({{"1.0", "1.1", "v1.1"}}));
        serveUpdate(QStringLiteral("game"), "v1.1", files);
    }
    void serveLauncherUpdate(const QList<File> &files)
    {
        m_server->serve(QStringLiteral("/launcher/VersionList.xml"), versionList({{"1.0", "2.0", "l2"}}));
        serveUpdate(QStringLiteral("launcher"), "l2", files);
    }
    // A list whose only range lies above the installed version: nothing to fetch.
    void serveNoRange(const QString &product, const char *latest = "1.0")
    {
        m_server->serve(
            QStringLiteral("/%1/VersionList.xml").arg(product), versionList({{"9.0", latest, "none"}}));
    }
    void openWindow() { m_window = std::make_unique<Launcher>(); }
    // Waits until the server saw a request for path, then lets the window react to the answer.
    bool waitForRequest(const QString &path, int timeoutMs = 15000);
    bool waitForBoxes(int count, int timeoutMs = 20000) { return m_boxes->waitFor(count, timeoutMs); }
    QStringList boxTexts() const
    {
        QStringList texts;
        for (const BoxAnswerer::Box &box : m_boxes->boxes())
            texts << box.text;
        return texts;
    }
    int requests(const QString &path) const { return m_server->requestCount(path); }

    QPushButton *updateButton() const
    {
        return m_window->findChild<QPushButton *>(QStringLiteral("updatePushButton"));
    }
    QPushButton *startButton() const
    {
        return m_window->findChild<QPushButton *>(QStringLiteral("startButton"));
    }
    QProgressBar *fileProgress() const
    {
        return m_window->findChild<QProgressBar *>(QStringLiteral("progressBar"));
    }
    QProgressBar *totalBar() const
    {
        return m_window->findChild<QProgressBar *>(QStringLiteral("total_ProgressBar"));
    }
    QString versionLabel() const
    {
        return m_window->findChild<QLabel *>(QStringLiteral("gameVersionLabel"))->text();
    }
    QString storedVersion() const
    {
        QSettings settings(m_game->path(QStringLiteral("settings.ini")), QSettings::IniFormat);
        return settings.value(QStringLiteral("Settings/Version")).toString();
    }
    bool installed(const QList<File> &files) const;

    std::unique_ptr<FaultServer> m_server;
    std::unique_ptr<GameFolder> m_game;
    std::unique_ptr<GameFolder::WorkingDirectory> m_cwd;
    std::unique_ptr<Launcher> m_window;
    std::unique_ptr<BoxAnswerer> m_boxes;
    LinkCatcher m_links;
    QProcess m_gameProcess;
};

const QString GameList = QStringLiteral("/game/VersionList.xml");
const QString LauncherList = QStringLiteral("/launcher/VersionList.xml");

void TestUpdateFlow::initTestCase()
{
    for (const char *scheme : {"http", "https"})
        QDesktopServices::setUrlHandler(QLatin1String(scheme), &m_links, "open");
}

void TestUpdateFlow::cleanupTestCase()
{
    for (const char *scheme : {"http", "https"})
        QDesktopServices::unsetUrlHandler(QLatin1String(scheme));
}

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
    QVERIFY(m_game->isValid());
    QVERIFY(m_game->installLauncher());
    QVERIFY(m_game->writeFile(QStringLiteral("Launcher/launcher.ini"),
        "[launcher]\nlist=" + m_server->url(QStringLiteral("/launcher/")).toUtf8()
            + "\nsite=about:blank\n[game]\nlist=" + m_server->url(QStringLiteral("/game/")).toUtf8()
            + "\nsite=" + SitePage.toUtf8() + "\n"));
    QVERIFY(m_game->writeFile(QStringLiteral("Launcher/Launcher.exe"), "the running launcher"));
    QVERIFY(m_game->writeFile(QStringLiteral("settings.ini"),
        "[Video]\nResolutionWidth=1280\nResolutionHeight=720\n\n[Settings]\nVersion=" + version + "\n"));
    m_cwd = std::make_unique<GameFolder::WorkingDirectory>(*m_game);
}

void TestUpdateFlow::serveUpdate(const QString &product, const char *dir, const QList<File> &files)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<UpdateList>\n";
    for (const File &file : files) {
        const QString served = file.relativeDir.isEmpty() ? QStringLiteral("files")
                                                          : QStringLiteral("files/") + file.relativeDir;
        xml += QStringLiteral("  <File Name=\"%1\" RelativeDir=\"%2\" MD5=\"%3\" Dir=\"%4\" Size=\"%5\"/>\n")
                   .arg(file.name, file.relativeDir, QString::fromLatin1(md5Hex(file.content)), served)
                   .arg(file.content.size())
                   .toUtf8();
        m_server->serve(filePath(product, dir, file), file.content);
    }
    m_server->serve(
        QStringLiteral("/%1/%2/UpdateList.xml").arg(product, QLatin1String(dir)), xml + "</UpdateList>\n");
}

bool TestUpdateFlow::waitForRequest(const QString &path, int timeoutMs)
{
    if (!QTest::qWaitFor([&] { return requests(path) > 0; }, timeoutMs))
        return false;
    QTest::qWait(300);
    return true;
}

bool TestUpdateFlow::installed(const QList<File> &files) const
{
    for (const File &file : files) {
        if (!LTools::checkFileMd5(m_game->path(file.localPath()), md5Hex(file.content))) {
            qWarning() << "not installed:" << file.localPath();
            return false;
        }
    }
    return true;
}

// ---- Phases ---------------------------------------------------------------------------------

void TestUpdateFlow::phases_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<QStringList>("answers"); // the buttons pressed, one box each
    QTest::addColumn<QString>("settle"); // a path whose request marks the phase
    QTest::addColumn<bool>("updateOn");
    QTest::addColumn<bool>("startOn");
    QTest::addColumn<QString>("file"); // pattern of the file bar's state
    QTest::addColumn<QString>("total"); // pattern of the total bar's state

    const QString untouched = QStringLiteral("0-100 =0 hidden");
    QTest::newRow("checking the game") << "game stalls" << QStringList() << GameList << false << true
                                       << "0-100 =0 \"檢查更新檔案\\.{6}\"" << untouched;
    QTest::newRow("game update offered")
        << "game offered" << QStringList {No} << "/game/v1.1/files/Data/a.pak" << true << true << untouched
        << untouched;
    QTest::newRow("checking the launcher")
        << "launcher stalls" << QStringList() << LauncherList << false << true << untouched << untouched;
    QTest::newRow("launcher update offered")
        << "launcher offered" << QStringList {No} << LauncherList << true << true << untouched << untouched;
    QTest::newRow("idle") << "nothing new" << QStringList() << LauncherList << false << true << untouched
                          << untouched;
    QTest::newRow("idle after a failed check")
        << "game fails" << QStringList {Yes} << GameList << false << true << untouched << untouched;
    QTest::newRow("updating") << "file stalls" << QStringList {Yes} << "/game/v1.1/files/Data/a.pak" << false
                              << false << "0-292 =\\d+ \"\\d+\\.\\d\\d KB / 292\\.97 KB\""
                              << "0-292 =\\d+ \"\\d+\\.\\d\\d KB / 292\\.97 KB \\(0/1\\)\"";
    QTest::newRow("update failed") << "file fails" << QStringList {Yes, Yes} << "/game/v1.1/files/Data/a.pak"
                                   << true << true << "0-\\d+ =0 hidden"
                                   << "0-\\d+ =0 hidden";
    QTest::newRow("game update done, checking the launcher")
        << "game done, launcher stalls" << QStringList {Yes, Ok} << LauncherList << false << true << untouched
        << "0-292 =292 \"292\\.97 KB / 292\\.97 KB \\(1/1\\)\"";
}

void TestUpdateFlow::phases()
{
    QFETCH(QString, scenario);
    QFETCH(QStringList, answers);
    QFETCH(QString, settle);
    QFETCH(bool, updateOn);
    QFETCH(bool, startOn);
    QFETCH(QString, file);
    QFETCH(QString, total);

    makeGame();
    const QList<File> files {{"Data", "a.pak", patterned(300000, 1)}};
    const QString filePath = this->filePath(QStringLiteral("game"), "v1.1", files.first());
    if (scenario == QLatin1String("game stalls")) {
        m_server->serve(GameList, Answer::stallBeforeHeaders());
    } else if (scenario.startsWith(QLatin1String("game offered"))
        || scenario.startsWith(QLatin1String("file")) || scenario.startsWith(QLatin1String("game done"))) {
        serveGameUpdate(files);
        if (scenario == QLatin1String("file stalls")) {
            // Qt reports progress at most every 150 ms: the bytes come in steps, then stop.
            Answer stalling = Answer::trickle(files.first().content, 25 * 1024, 200);
            stalling.fault = Answer::Fault::StallAfter;
            stalling.cut = 100 * 1024;
            m_server->serve(filePath, stalling);
        } else if (scenario == QLatin1String("file fails"))
            m_server->serve(filePath, Answer::withStatus(503, "busy"));
    } else if (scenario == QLatin1String("game fails")) {
        m_server->serve(GameList, Answer::withStatus(500));
    } else {
        serveNoRange(QStringLiteral("game"));
    }
    if (scenario.contains(QLatin1String("launcher stalls")))
        m_server->serve(LauncherList, Answer::stallBeforeHeaders());
    else if (scenario == QLatin1String("launcher offered"))
        serveLauncherUpdate({{"", "Launcher.exe", "new launcher"}});
    else
        serveNoRange(QStringLiteral("launcher"));

    openWindow();
    for (int i = 0; i < answers.size(); ++i) {
        m_boxes->setButtonText(answers.at(i));
        QVERIFY2(waitForBoxes(i + 1), qPrintable(boxTexts().join(QLatin1String(" | "))));
    }
    if (scenario == QLatin1String("game offered")) {
        // The launcher is not checked while a game update waits.
        QTest::qWait(300);
        QCOMPARE(requests(LauncherList), 0);
    } else {
        QVERIFY(waitForRequest(settle));
    }
    const auto matches = [](const QString &pattern, const QString &state) {
        return QRegularExpression(QRegularExpression::anchoredPattern(pattern)).match(state).hasMatch();
    };
    QTRY_VERIFY2(
        matches(file, StepRecorder::state(fileProgress())), qPrintable(StepRecorder::state(fileProgress())));
    QTRY_VERIFY2(
        matches(total, StepRecorder::state(totalBar())), qPrintable(StepRecorder::state(totalBar())));
    QCOMPARE(updateButton()->isEnabled(), updateOn);
    QCOMPARE(startButton()->isEnabled(), startOn);
    QCOMPARE(m_boxes->count(), answers.size());
}

// ---- Prompts --------------------------------------------------------------------------------

void TestUpdateFlow::declinedThenOfferedAgain()
{
    makeGame();
    const QList<File> files {{"Data", "a.pak", patterned(5000, 1)}};
    serveGameUpdate(files);
    serveNoRange(QStringLiteral("launcher"));
    m_boxes->setButtonText(No);
    openWindow();
    QVERIFY(waitForBoxes(1));
    const BoxAnswerer::Box prompt = m_boxes->boxes().at(0);
    QCOMPARE(prompt.title, QStringLiteral("更新提示"));
    QCOMPARE(prompt.text, QStringLiteral("遊戲有更新版本,是否要立即更新?\n(檔案容量:4.88 KB)"));
    QCOMPARE(prompt.icon, QMessageBox::Information);
    QCOMPARE(prompt.buttons, (QStringList {Yes, No}));
    QTest::qWait(300);
    QCOMPARE(requests(LauncherList), 0);
    QCOMPARE(requests(filePath(QStringLiteral("game"), "v1.1", files.first())), 0);
    QVERIFY(updateButton()->isEnabled());

    // The button asks with the download size and starts at once, without the prompt's delay.
    m_boxes->setButtonText(Yes);
    updateButton()->click();
    QCOMPARE(m_boxes->count(), 2);
    const BoxAnswerer::Box question = m_boxes->boxes().at(1);
    QCOMPARE(question.title, QStringLiteral("更新提示"));
    QCOMPARE(question.text, QStringLiteral("是否要立即更新?\n(下載容量:4.88 KB)"));
    QCOMPARE(question.buttons, (QStringList {Yes, No}));
    QVERIFY(!updateButton()->isEnabled());
    QVERIFY(!startButton()->isEnabled());
    QCOMPARE(StepRecorder::state(totalBar()), QStringLiteral("0-100 =0 \"更新中\""));

    m_boxes->setButtonText(Ok);
    QVERIFY(waitForBoxes(3));
    QCOMPARE(m_boxes->boxes().at(2).text, QStringLiteral("更新已完成"));
    QVERIFY(installed(files));
    QCOMPARE(storedVersion(), QStringLiteral("1.1"));
}

void TestUpdateFlow::confirmedPromptClosesTheOffer()
{
    makeGame();
    const QList<File> files {{"", "b.pak", patterned(2000, 2)}};
    serveGameUpdate(files);
    serveNoRange(QStringLiteral("launcher"));
    openWindow();
    QVERIFY(waitForBoxes(1));
    // Confirmed, not yet started: a click now must not start a second run.
    QVERIFY(startButton()->isEnabled());
    QVERIFY(!totalBar()->isTextVisible());
    QVERIFY(!updateButton()->isEnabled());
    updateButton()->click();
    m_boxes->setButtonText(Ok);
    QTRY_VERIFY(!startButton()->isEnabled() || m_boxes->count() == 2);
    QVERIFY(waitForBoxes(2));
    QTest::qWait(200);
    QCOMPARE(boxTexts(),
        (QStringList {QStringLiteral("遊戲有更新版本,是否要立即更新?\n(檔案容量:1.95 KB)"),
            QStringLiteral("更新已完成")}));
    QCOMPARE(requests(filePath(QStringLiteral("game"), "v1.1", files.first())), 1);
    QVERIFY(installed(files));
}

void TestUpdateFlow::runningGameRefusesUpdate()
{
    makeGame();
    const QList<File> files {{"Data", "c.pak", patterned(3000, 3)}};
    serveGameUpdate(files);
    serveNoRange(QStringLiteral("launcher"));
    m_gameProcess.start(builtFile(QStringLiteral("ZARK.exe")), QStringList());
    QVERIFY(m_gameProcess.waitForStarted());
    QTRY_VERIFY(LTools::mutexExists(MutexName::Game));

    openWindow();
    QVERIFY(waitForBoxes(2));
    const BoxAnswerer::Box warning = m_boxes->boxes().at(1);
    QCOMPARE(warning.title, QStringLiteral("警告訊息"));
    QCOMPARE(warning.text, QStringLiteral("請關閉遊戲，繼續更新"));
    QCOMPARE(warning.icon, QMessageBox::Warning);
    QTest::qWait(300);
    QCOMPARE(m_boxes->count(), 2);
    QCOMPARE(requests(filePath(QStringLiteral("game"), "v1.1", files.first())), 0);
    QVERIFY(updateButton()->isEnabled());
    QVERIFY(startButton()->isEnabled());
    QVERIFY(!totalBar()->isTextVisible());

    m_gameProcess.terminate();
    QVERIFY(m_gameProcess.waitForFinished());
    QTRY_VERIFY(!LTools::mutexExists(MutexName::Game));
    updateButton()->click();
    QCOMPARE(m_boxes->count(), 3);
    QCOMPARE(m_boxes->boxes().at(2).text, QStringLiteral("是否要立即更新?\n(下載容量:2.93 KB)"));
    m_boxes->setButtonText(Ok);
    QVERIFY(waitForBoxes(4));
    QCOMPARE(m_boxes->boxes().at(3).text, QStringLiteral("更新已完成"));
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

    const QString reset = QStringLiteral("0-100 =0 hidden");
    QTest::newRow("1023 bytes") << patterned(1023, 4) << true << QString()
                                << "0-1 =1 \"\\d+\\.00 Bytes / 1023\\.00 Bytes\""
                                << QStringList {"0-1 =1 \"1023.00 Bytes / 1023.00 Bytes\"", reset}
                                << "0-1 =1 \"1023.00 Bytes / 1023.00 Bytes (1/1)\"";
    QTest::newRow("3000 bytes") << patterned(3000, 5) << true << QString()
                                << "0-2 =[12] \"\\d+\\.\\d\\d (Bytes|KB) / 2\\.93 KB\""
                                << QStringList {"0-2 =2 \"2.93 KB / 2.93 KB\"", reset}
                                << "0-2 =2 \"2.93 KB / 2.93 KB (1/1)\"";
    QTest::newRow("size not announced")
        << patterned(3000, 6) << false << "0-1 =1 \"\\d+\\.\\d\\d (Bytes|KB) / -1\\.00 Bytes\""
        << "0-[12] =[12] \"\\d+\\.\\d\\d (Bytes|KB) / (-1\\.00 Bytes|2\\.93 KB)\"" << QStringList {reset}
        << "0-2 =2 \"2.93 KB / 2.93 KB (1/1)\"";
    QTest::newRow("empty file") << QByteArray() << true << QString()
                                << "0-1 =1 \"0\\.00 Bytes / 0\\.00 Bytes\"" << QStringList {reset}
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
    const QList<File> files {{"Data", "d.bin", content}};
    serveGameUpdate(files);
    // Slower than Qt's limit of one progress notice per 150 ms, so that steps show.
    Answer slow = Answer::trickle(content, 300, 200);
    slow.announceLength = announced;
    m_server->serve(filePath(QStringLiteral("game"), "v1.1", files.first()), slow);
    serveNoRange(QStringLiteral("launcher"));

    openWindow();
    StepRecorder recorder(fileProgress());
    QVERIFY(waitForBoxes(1));
    m_boxes->setButtonText(Ok);
    QVERIFY(waitForBoxes(2));
    QCOMPARE(m_boxes->boxes().at(1).text, QStringLiteral("更新已完成"));
    QVERIFY(installed(files));

    const QStringList states = recorder.states();
    const QString seenStates = states.join(QLatin1String(" | "));
    QVERIFY2(states.size() >= last.size(), qPrintable(seenStates));
    QVERIFY2(states.mid(states.size() - last.size()) == last, qPrintable(seenStates));
    const QRegularExpression shown(QRegularExpression::anchoredPattern(everyShown));
    for (const QString &state : states) {
        if (!state.endsWith(QLatin1String(" hidden")))
            QVERIFY2(shown.match(state).hasMatch(), qPrintable(seenStates));
    }
    if (!seen.isEmpty()) {
        const QRegularExpression wanted(QRegularExpression::anchoredPattern(seen));
        QVERIFY2(std::any_of(states.cbegin(), states.cend(),
                     [&](const QString &state) { return wanted.match(state).hasMatch(); }),
            qPrintable(seenStates));
    }
    QCOMPARE(StepRecorder::state(totalBar()), total);
}

// ---- Failures and completion ------------------------------------------------------------------

void TestUpdateFlow::failedDownloadThenRetry()
{
    makeGame();
    const QList<File> files {{"Data", "e.pak", patterned(2000, 7)}};
    serveGameUpdate(files);
    const QString path = filePath(QStringLiteral("game"), "v1.1", files.first());
    m_server->serve(path, Answer::withStatus(500, "busy"));
    serveNoRange(QStringLiteral("launcher"));
    openWindow();
    QVERIFY(waitForBoxes(2));
    const BoxAnswerer::Box warning = m_boxes->boxes().at(1);
    QCOMPARE(warning.title, QStringLiteral("警告訊息"));
    QCOMPARE(warning.text, QStringLiteral("更新失敗，請稍候再試。"));
    QCOMPARE(warning.icon, QMessageBox::Warning);
    QCOMPARE(requests(path), 3);
    QVERIFY(updateButton()->isEnabled());
    QVERIFY(startButton()->isEnabled());
    QVERIFY(!fileProgress()->isTextVisible());
    QCOMPARE(fileProgress()->value(), 0);
    QVERIFY(!totalBar()->isTextVisible());
    QCOMPARE(totalBar()->value(), 0);
    QCOMPARE(storedVersion(), QStringLiteral("1.0"));

    // The offer stands: a click asks again and runs from the start.
    m_server->serve(path, files.first().content);
    updateButton()->click();
    QCOMPARE(m_boxes->count(), 3);
    QCOMPARE(m_boxes->boxes().at(2).text, QStringLiteral("是否要立即更新?\n(下載容量:1.95 KB)"));
    m_boxes->setButtonText(Ok);
    QVERIFY(waitForBoxes(4));
    QCOMPARE(m_boxes->boxes().at(3).text, QStringLiteral("更新已完成"));
    QCOMPARE(StepRecorder::state(totalBar()), QStringLiteral("0-1 =1 \"1.95 KB / 1.95 KB (1/1)\""));
    QVERIFY(installed(files));
    QCOMPARE(storedVersion(), QStringLiteral("1.1"));
}

void TestUpdateFlow::completedGameUpdateThenLauncherOffer()
{
    makeGame();
    QVERIFY(m_game->writeFile(QStringLiteral("Data/Maps/m1.bin"), "an older map"));
    const QList<File> gameFiles {{"", "ZARK.dat", patterned(1500, 8)},
        {"Data/Maps", "m1.bin", patterned(70000, 9)}, {"Data/Maps/Deep", "m2.bin", patterned(9000, 10)}};
    serveGameUpdate(gameFiles);
    serveLauncherUpdate({{"", "Launcher.exe", "new launcher"}});
    openWindow();
    QCOMPARE(versionLabel(), QStringLiteral("遊戲版號: 1.00"));
    QVERIFY(waitForBoxes(1));
    QCOMPARE(
        m_boxes->boxes().at(0).text, QStringLiteral("遊戲有更新版本,是否要立即更新?\n(檔案容量:78.61 KB)"));

    m_boxes->setButtonText(Ok);
    QVERIFY(waitForBoxes(2));
    const BoxAnswerer::Box done = m_boxes->boxes().at(1);
    QCOMPARE(done.title, QStringLiteral("訊息提示"));
    QCOMPARE(done.text, QStringLiteral("更新已完成"));
    QCOMPARE(done.icon, QMessageBox::NoIcon);
    QCOMPARE(done.buttons, QStringList {Ok});
    QVERIFY(installed(gameFiles));
    QCOMPARE(storedVersion(), QStringLiteral("1.1"));
    QCOMPARE(versionLabel(), QStringLiteral("遊戲版號: 1.10"));
    QSettings settings(m_game->path(QStringLiteral("settings.ini")), QSettings::IniFormat);
    QCOMPARE(settings.value(QStringLiteral("Video/ResolutionWidth")).toInt(), 1280);

    // The launcher check follows, and its update is offered at once.
    m_boxes->setButtonText(No);
    QVERIFY(waitForBoxes(3));
    const BoxAnswerer::Box launcher = m_boxes->boxes().at(2);
    QCOMPARE(launcher.title, QStringLiteral("更新提示"));
    QCOMPARE(
        launcher.text, QStringLiteral("雲隼紀年-啟動器,有更新版本\n是否要立即更新?(檔案容量:12.00 Bytes)"));
    QCOMPARE(launcher.buttons, (QStringList {Yes, No}));
    QVERIFY(updateButton()->isEnabled());
    QVERIFY(startButton()->isEnabled());
    QCOMPARE(StepRecorder::state(totalBar()), QStringLiteral("0-78 =78 \"78.61 KB / 78.61 KB (3/3)\""));
    QCOMPARE(m_game->readFile(QStringLiteral("Launcher/Launcher.exe")), QByteArray("the running launcher"));
}

void TestUpdateFlow::upToDateGameGoesOnToLauncher()
{
    makeGame();
    const QList<File> gameFiles {{"Data", "f.pak", patterned(4000, 11)}};
    QVERIFY(m_game->writeFile(gameFiles.first().localPath(), gameFiles.first().content));
    serveGameUpdate(gameFiles);
    serveLauncherUpdate({{"", "Launcher.exe", patterned(2500, 12)}});
    m_boxes->setButtonText(No);
    openWindow();
    QVERIFY(waitForBoxes(1));
    QCOMPARE(m_boxes->boxes().at(0).text,
        QStringLiteral("雲隼紀年-啟動器,有更新版本\n是否要立即更新?(檔案容量:2.44 KB)"));
    QCOMPARE(storedVersion(), QStringLiteral("1.1"));
    QCOMPARE(versionLabel(), QStringLiteral("遊戲版號: 1.10"));
    QVERIFY(!fileProgress()->isTextVisible());
    QCOMPARE(requests(filePath(QStringLiteral("game"), "v1.1", gameFiles.first())), 0);

    // The button now offers the launcher's update.
    updateButton()->click();
    QCOMPARE(m_boxes->count(), 2);
    QCOMPARE(m_boxes->boxes().at(1).text, QStringLiteral("是否要立即更新?\n(下載容量:2.44 KB)"));
}

void TestUpdateFlow::checkFailure_data()
{
    QTest::addColumn<QString>("failing"); // the manifest that cannot be fetched
    QTest::addColumn<bool>("launcherChecked");
    QTest::newRow("game versions") << GameList << false;
    QTest::newRow("game files") << "/game/v1.1/UpdateList.xml" << false;
    QTest::newRow("launcher versions") << LauncherList << true;
}

void TestUpdateFlow::checkFailure()
{
    QFETCH(QString, failing);
    QFETCH(bool, launcherChecked);
    makeGame();
    if (failing == LauncherList)
        serveNoRange(QStringLiteral("game"));
    else
        serveGameUpdate({{"", "g.pak", "g"}});
    serveLauncherUpdate({{"", "Launcher.exe", "new launcher"}});
    m_server->serve(failing, Answer::withStatus(404, "gone"));

    openWindow();
    QVERIFY(waitForBoxes(1));
    QTest::qWait(500);
    QCOMPARE(m_boxes->count(), 1);
    const BoxAnswerer::Box box = m_boxes->boxes().at(0);
    QCOMPARE(box.title, QStringLiteral("訊息提示"));
    QCOMPARE(box.text, QStringLiteral("系統通知\n目前無法取得更新資訊"));
    QCOMPARE(box.icon, QMessageBox::Information);
    QCOMPARE(box.buttons, QStringList {Yes});
    QCOMPARE(requests(failing), 3);
    QCOMPARE(requests(LauncherList) > 0, launcherChecked);
    QCOMPARE(StepRecorder::state(fileProgress()), QStringLiteral("0-100 =0 hidden"));
    QVERIFY(!updateButton()->isEnabled());
    QVERIFY(startButton()->isEnabled());
    QCOMPARE(storedVersion(), QStringLiteral("1.0"));
}

// ---- Manual update notice ----------------------------------------------------------------------

void TestUpdateFlow::manualUpdateNotice_data()
{
    QTest::addColumn<QByteArray>("installed");
    QTest::addColumn<QByteArray>("latest");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("named"); // the version the notice names; empty: no notice

    QTest::newRow("2.5 over 2.0, go") << QByteArray("2.0") << QByteArray("2.5") << Go << "2.5";
    QTest::newRow("2.5 over 2.0, cancel") << QByteArray("2.0") << QByteArray("2.5") << No << "2.5";
    QTest::newRow("1.25 over 1.0") << QByteArray("1.0") << QByteArray("1.25") << No << "1.25";
    QTest::newRow("3 over 2.99") << QByteArray("2.99") << QByteArray("3.0") << No << "3";
    QTest::newRow("equal") << QByteArray("2.0") << QByteArray("2.0") << Go << QString();
    QTest::newRow("older") << QByteArray("2.0") << QByteArray("1.5") << Go << QString();
}

void TestUpdateFlow::manualUpdateNotice()
{
    QFETCH(QByteArray, installed);
    QFETCH(QByteArray, latest);
    QFETCH(QString, button);
    QFETCH(QString, named);

    makeGame(installed);
    m_server->serve(GameList, versionList({{"0.1", "0.5", "old"}, {"9.0", latest.constData(), "none"}}));
    serveNoRange(QStringLiteral("launcher"));
    m_boxes->setButtonText(button);
    openWindow();
    if (named.isEmpty()) {
        QVERIFY(waitForRequest(LauncherList));
        QCOMPARE(m_boxes->count(), 0);
        QVERIFY(m_links.opened.isEmpty());
        return;
    }
    QVERIFY(waitForBoxes(1));
    const BoxAnswerer::Box notice = m_boxes->boxes().at(0);
    QCOMPARE(notice.title, QStringLiteral("訊息提示"));
    QCOMPARE(notice.text,
        QStringLiteral("本遊戲目前最新版本為") + named
            + QStringLiteral("版，由於資\n料量過於龐大，必須進行手動下載更新\n，製作團隊強烈建議玩家更新至此"
                             "版本\n，以便享受到更多有趣的遊戲內容。"));
    QCOMPARE(notice.icon, QMessageBox::Information);
    QCOMPARE(notice.buttons, (QStringList {Go, No}));
    QCOMPARE(requests(LauncherList), 1);
    if (button == Go)
        QTRY_COMPARE(m_links.opened, QList<QUrl> {QUrl(SitePage, QUrl::TolerantMode)});
    QTest::qWait(100);
    QCOMPARE(m_links.opened.size(), button == Go ? 1 : 0);
    QVERIFY(!updateButton()->isEnabled());
    QVERIFY(startButton()->isEnabled());
}

// ---- Hand-over --------------------------------------------------------------------------------

void TestUpdateFlow::handOver_data()
{
    QTest::addColumn<bool>("withExecutable"); // the update brings a new Launcher.exe
    QTest::addColumn<bool>("targetBlocked"); // newLauncher.exe cannot be written
    QTest::addColumn<QByteArray>("newLauncher"); // its content afterwards
    QTest::newRow("new executable") << true << false << QByteArray("launcher build 2");
    QTest::newRow("other files only") << false << false << QByteArray("the running launcher");
    QTest::newRow("target blocked") << true << true << QByteArray();
}

void TestUpdateFlow::handOver()
{
    QFETCH(bool, withExecutable);
    QFETCH(bool, targetBlocked);
    QFETCH(QByteArray, newLauncher);

    makeGame();
    serveNoRange(QStringLiteral("game"));
    QList<File> files {{"images", "Launcher_bg.png", patterned(900, 13)}};
    if (withExecutable)
        files.append({"", "Launcher.exe", "launcher build 2"});
    serveLauncherUpdate(files);
    if (targetBlocked)
        QVERIFY(m_game->writeFile(QStringLiteral("Launcher/newLauncher.exe/in the way"), "a folder"));

    // The window ends the application's event loop: it must be this test's own loop.
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(-1); });
    guard.start(30000);
    QTimer refused;
    connect(&refused, &QTimer::timeout, [this] {
        if (m_boxes->count() >= 2)
            QCoreApplication::exit(0);
    });
    refused.start(50);
    openWindow();
    m_window->show(); // as qMain does: the loop runs while the window is open
    const int code = QApplication::exec();
    guard.stop();
    refused.stop();

    const QString prompt = QStringLiteral("雲隼紀年-啟動器,有更新版本\n是否要立即更新?(檔案容量:%1)")
                               .arg(LTools::sizeText(withExecutable ? 916 : 900));
    QVERIFY(!updateButton()->isEnabled());
    QVERIFY(!startButton()->isEnabled());
    QCOMPARE(m_game->readFile(QStringLiteral("Launcher/Launcher.exe")), QByteArray("the running launcher"));
    QVERIFY(m_game->exists(QStringLiteral("Update/Launcher/images/Launcher_bg.png")));
    QVERIFY(!m_game->exists(QStringLiteral("Launcher/images/Launcher_bg.png")));
    if (targetBlocked) {
        QCOMPARE(code, 0);
        QCOMPARE(boxTexts(), (QStringList {prompt, QStringLiteral("更新失敗，請稍候再試。")}));
        QVERIFY(QFileInfo(m_game->path(QStringLiteral("Launcher/newLauncher.exe"))).isDir());
        return;
    }
    QCOMPARE(code, Startup::HandOverExitCode);
    QCOMPARE(boxTexts(), QStringList {prompt});
    QCOMPARE(m_game->readFile(QStringLiteral("Launcher/newLauncher.exe")), newLauncher);
    QCOMPARE(m_game->exists(QStringLiteral("Update/Launcher/Launcher.exe")), withExecutable);
}

QTEST_MAIN(TestUpdateFlow)
#include "tst_updateflow.moc"
