#include "BoxAnswerer.h"
#include "FaultServer.h"
#include "Launcher.h"
#include "LauncherFolder.h"
#include "LinkCatcher.h"
#include "TestFiles.h"

#include <QLabel>
#include <QNetworkProxyFactory>
#include <QWebElement>
#include <QWebFrame>
#include <QWebView>
#include <QtTest>

#include <memory>

namespace {

// Every HTTP request asks the application's proxy factory first: a record of what was fetched.
class RequestRecorder : public QNetworkProxyFactory
{
public:
    explicit RequestRecorder(QList<QUrl> *asked)
        : m_asked(asked)
    { }
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery &query) override
    {
        m_asked->append(query.url());
        return {QNetworkProxy::NoProxy};
    }

private:
    QList<QUrl> *m_asked;
};

} // namespace

// The launcher window's behaviour in process: its site configuration, the web page and its
// links, dragging, the version display and the first steps of the game update check.
class TestLauncherWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void launcherIni_data();
    void launcherIni();
    void linkGoesToDesktop_data();
    void linkGoesToDesktop();
    void drag_data();
    void drag();
    void version_data();
    void version();

private:
    // Writes launcher.ini (unless null) and shows the window at (100, 100).
    void openWindow(const QByteArray &launcherIni = "[launcher]\nsite=about:blank\n");
    template<typename T> T *widget(const char *name) const
    {
        return m_window->findChild<T *>(QLatin1String(name));
    }
    // A mouse event as the window system delivers it to the widget under the window point `at`
    // (or to the widget holding the grab), passed on to the parents while ignored.
    void sendMouse(QEvent::Type type, const QPoint &at, const QPoint &global, Qt::MouseButton button,
        Qt::MouseButtons buttons);

    std::unique_ptr<LauncherFolder> m_game;
    std::unique_ptr<Launcher> m_window;
    LinkCatcher m_links {{"http", "https", "mailto", "file", "zarkcmd"}};
    BoxAnswerer m_boxes; // the update check's failure box, should one come up
    QList<QUrl> m_asked; // while a RequestRecorder is installed
};

void TestLauncherWindow::init()
{
    m_game = std::make_unique<LauncherFolder>();
    QVERIFY(m_game->isInstalled());
}

void TestLauncherWindow::cleanup()
{
    m_window.reset();
    QNetworkProxyFactory::setApplicationProxyFactory(nullptr);
    m_asked.clear();
    m_game.reset();
    m_links.opened.clear();
}

void TestLauncherWindow::openWindow(const QByteArray &launcherIni)
{
    if (!launcherIni.isNull())
        QVERIFY(m_game->writeFile(QStringLiteral("Launcher/launcher.ini"), launcherIni));
    m_window = std::make_unique<Launcher>();
    m_window->move(100, 100);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QTRY_COMPARE(m_window->pos(), QPoint(100, 100));
}

void TestLauncherWindow::sendMouse(QEvent::Type type, const QPoint &at, const QPoint &global,
    Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QWidget *target = m_window->childAt(at) ? m_window->childAt(at) : m_window.get();
    QMouseEvent event(
        type, target->mapFromGlobal(global), m_window->mapFromGlobal(global), global, button, buttons, {});
    QApplication::sendEvent(target, &event);
}

// ---- Site configuration -------------------------------------------------------------------

void TestLauncherWindow::launcherIni_data()
{
    QTest::addColumn<QByteArray>("ini"); // null: no launcher.ini; LIST and PAGE stand for the addresses below
    QTest::addColumn<bool>("configured"); // or else the publisher's home page and no list
    QTest::newRow("non-ASCII addresses as UTF-8")
        << QByteArray("[game]\nlist=LIST\n[launcher]\nlist=http://127.0.0.1:1/\nsite=PAGE\n") << true;
    QTest::newRow("file missing") << QByteArray() << false;
    QTest::newRow("keys missing") << QByteArray("[game]\nsite=PAGE\n[launcher]\nlist=\n") << false;
}

void TestLauncherWindow::launcherIni()
{
    QFETCH(QByteArray, ini);
    QFETCH(bool, configured);
    FaultServer server;
    QVERIFY(server.listen());
    GameFolder pages;
    const QUrl page = QUrl::fromLocalFile(pages.path(QStringLiteral("網站/首頁.html")));
    QVERIFY(pages.writeFile(QStringLiteral("網站/首頁.html"),
        "<html><head><meta charset='utf-8'><title>雲隼首頁</title></head><body>news</body></html>"));
    QNetworkProxyFactory::setApplicationProxyFactory(new RequestRecorder(&m_asked));
    openWindow(ini.isNull() ? ini
                            : ini.replace("PAGE", page.toString().toUtf8())
                                  .replace("LIST", server.url(QStringLiteral("/版本/")).toUtf8()));

    // One page load only: a second one aborts the first, whose queued failure then hits a
    // finished reply and Qt logs an internal problem.
    QCOMPARE(m_asked.count(QUrl(QStringLiteral("https://www.zark-game.com/"))), configured ? 0 : 1);
    QWebFrame *frame = widget<QWebView>("webView")->page()->mainFrame();
    if (!configured) {
        QTRY_COMPARE(frame->requestedUrl(), QUrl(QStringLiteral("https://www.zark-game.com/")));
        QCOMPARE(server.totalRequests(), 0);
        return;
    }
    QTRY_COMPARE(frame->title(), QStringLiteral("雲隼首頁"));
    QCOMPARE(frame->url(), page);
    QTRY_VERIFY(
        server.requestCount(QUrl(QStringLiteral("/版本/VersionList.xml")).path(QUrl::FullyEncoded)) >= 1);
}

// ---- Links ---------------------------------------------------------------------------------

void TestLauncherWindow::linkGoesToDesktop_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QUrl>("opened"); // empty: must not be opened
    QTest::newRow("http") << QStringLiteral("web") << QUrl(QStringLiteral("http://news.example.com/a?b=1"));
    QTest::newRow("https, new window")
        << QStringLiteral("blank") << QUrl(QStringLiteral("https://example.com/x"));
    QTest::newRow("mailto") << QStringLiteral("mail") << QUrl(QStringLiteral("mailto:gm@example.com"));
    QTest::newRow("file") << QStringLiteral("file") << QUrl();
    QTest::newRow("custom scheme") << QStringLiteral("custom") << QUrl();
}

void TestLauncherWindow::linkGoesToDesktop()
{
    QFETCH(QString, id);
    QFETCH(QUrl, opened);
    GameFolder pages;
    QVERIFY(pages.writeFile(QStringLiteral("site/index.html"),
        "<html><head><title>site</title><style>a{display:block;height:30px}</style></head><body>"
        "<a id='web' href='http://news.example.com/a?b=1'>web</a>"
        "<a id='blank' target='_blank' href='https://example.com/x'>blank</a>"
        "<a id='mail' href='mailto:gm@example.com'>mail</a>"
        "<a id='file' href='file:///bin/sh'>file</a>"
        "<a id='custom' href='zarkcmd://run/calc'>custom</a>"
        "<a id='after' href='http://after.example.com/'>after</a>"
        "</body></html>"));
    const QUrl pageUrl = QUrl::fromLocalFile(pages.path(QStringLiteral("site/index.html")));
    openWindow("[launcher]\nsite=" + pageUrl.toEncoded() + "\n");
    auto *view = widget<QWebView>("webView");
    QWebFrame *frame = view->page()->mainFrame();
    QTRY_COMPARE(frame->title(), QStringLiteral("site"));

    const auto click = [&](const QString &element) {
        const QRect box = frame->findFirstElement(QLatin1Char('#') + element).geometry();
        QVERIFY(!box.isEmpty());
        QTest::mouseClick(view, Qt::LeftButton, Qt::NoModifier, box.center());
    };
    // Every link is logged; a refused one leaves no other trace, so the next one clicked is the
    // only one seen.
    QList<QUrl> expected {QUrl(QStringLiteral("http://after.example.com/"))};
    if (opened.isValid()) {
        QTest::ignoreMessage(QtDebugMsg, qPrintable(QLatin1Char('"') + opened.toString() + QLatin1Char('"')));
        expected.prepend(opened);
    }
    click(id);
    click(QStringLiteral("after"));
    QTRY_COMPARE(m_links.opened, expected);
    QTest::qWait(100);
    QCOMPARE(m_links.opened, expected);
    QCOMPARE(frame->url(), pageUrl);
    QCOMPARE(frame->title(), QStringLiteral("site"));
}

// ---- Dragging ------------------------------------------------------------------------------

void TestLauncherWindow::drag_data()
{
    QTest::addColumn<QPoint>("at"); // window coordinates
    QTest::addColumn<int>("button");
    QTest::addColumn<int>("releaseButton"); // none: no drag is expected to begin
    QTest::addColumn<QPoint>("releaseAt");
    const auto row
        = [](const char *name, QPoint at, int button, int release = Qt::NoButton, QPoint releaseAt = {}) {
              QTest::newRow(name) << at << button << release << releaseAt;
          };
    const QPoint background(40, 20);
    row("left, released inside", background, Qt::LeftButton, Qt::LeftButton, {60, 30});
    row("left, released outside the window", background, Qt::LeftButton, Qt::LeftButton, {-80, 1200});
    row("left, right released while dragging", background, Qt::LeftButton, Qt::RightButton, {60, 30});
    row("right button", background, Qt::RightButton);
    row("middle button", background, Qt::MiddleButton);
    row("left on a button", {200, 250}, Qt::LeftButton);
    row("left on the page", {400, 400}, Qt::LeftButton);
}

void TestLauncherWindow::drag()
{
    QFETCH(QPoint, at);
    QFETCH(int, button);
    QFETCH(int, releaseButton);
    QFETCH(QPoint, releaseAt);
    const bool drags = releaseButton != Qt::NoButton;
    openWindow();
    const auto pressed = Qt::MouseButton(button);
    const QPoint start = m_window->pos();
    QPoint pointer = m_window->mapToGlobal(at);
    sendMouse(QEvent::MouseButtonPress, at, pointer, pressed, pressed);
    // The grabbed point stays under the pointer.
    for (const QPoint step : {QPoint(30, 15), QPoint(-7, 40), QPoint(120, -60)}) {
        pointer += step;
        sendMouse(QEvent::MouseMove, at, pointer, Qt::NoButton, pressed);
        QCOMPARE(m_window->pos(), drags ? pointer - at : start);
    }
    // The window holds the grab, so the release reaches it wherever the pointer is.
    if (drags) {
        sendMouse(QEvent::MouseButtonRelease, at, m_window->mapToGlobal(releaseAt),
            Qt::MouseButton(releaseButton), releaseButton == Qt::LeftButton ? Qt::NoButton : Qt::LeftButton);
    }
    // Released, or never begun: even a move that claims the left button held leaves the window.
    const QPoint settled = m_window->pos();
    const QPoint outside(-50, -50); // no child there: the window itself receives the move
    sendMouse(QEvent::MouseMove, outside, pointer + QPoint(200, 100), Qt::NoButton, pressed | Qt::LeftButton);
    QCOMPARE(m_window->pos(), settled);
}

// ---- Version ------------------------------------------------------------------------------

void TestLauncherWindow::version_data()
{
    QTest::addColumn<QByteArray>("version"); // null: no settings.ini; empty: no Version key
    QTest::addColumn<QByteArray>("maxVer"); // the update list's range; empty: no list configured
    QTest::addColumn<QString>("label");
    QTest::addColumn<QByteArray>("stored");
    const auto row = [](const char *name, const char *version, const char *maxVer, const char *label,
                         const char *stored = "") {
        QTest::newRow(name) << QByteArray(version) << QByteArray(maxVer) << QString::fromUtf8(label)
                            << QByteArray(stored);
    };
    row("1.0", "1.0", "", "1.00");
    row("1.05", "1.05", "", "1.05");
    row("whole number", "2", "", "2.00");
    row("not a number", "beta", "", "0.00");
    row("key missing", "", "", "1.00");
    row("settings.ini missing", nullptr, "", "1.00");
    // The check finds the installed files current: only the version is rewritten.
    row("updated to 1.1", "1.0", "1.1", "1.10", "1.1");
    row("updated to 1.05", "1.0", "1.05", "1.05", "1.05");
    row("updated to 2.0", "1.0", "2.0", "2.00", "2");
}

void TestLauncherWindow::version()
{
    QFETCH(QByteArray, version);
    QFETCH(QByteArray, maxVer);
    QFETCH(QString, label);
    QFETCH(QByteArray, stored);
    const QByteArray content("map data");
    FaultServer server;
    QVERIFY(server.listen());
    server.serve(QStringLiteral("/zark/VersionList.xml"),
        "<VersionList><Version MinVer=\"1.0\" MaxVer=\"" + maxVer + "\" Dir=\"v2\"/></VersionList>");
    server.serve(QStringLiteral("/zark/v2/UpdateList.xml"),
        "<UpdateList><File Name=\"a.pak\" RelativeDir=\"data\" MD5=\"" + md5Hex(content)
            + "\" Dir=\"data\" Size=\"8\"/></UpdateList>");
    const QByteArray list = "[game]\nlist=" + server.url(QStringLiteral("/zark/")).toUtf8() + '\n';
    QVERIFY(m_game->writeFile(QStringLiteral("data/a.pak"), content));
    const QByteArray settings = version.isNull()
        ? version
        : "[General]\nLanguage=繁體\n\n[Settings]\n" + (version.isEmpty() ? "" : "Version=" + version + '\n')
            + "Channel=beta\n\n[Tool]\nDetected=雲隼\n";
    if (!settings.isNull())
        QVERIFY(m_game->writeFile(QStringLiteral("settings.ini"), settings));
    QMap<QString, QString> expected = m_game->settingsValues();
    openWindow((maxVer.isEmpty() ? QByteArray() : list) + "[launcher]\nsite=about:blank\n");
    QTRY_COMPARE(widget<QLabel>("gameVersionLabel")->text(), QStringLiteral("遊戲版號: ") + label);
    if (maxVer.isEmpty()) {
        QCOMPARE(m_game->readFile(QStringLiteral("settings.ini")), settings); // only read
        return;
    }
    // Written as plain text (QVariant's comparison would let a number pass), every other key kept.
    QVERIFY(m_game->readFile(QStringLiteral("settings.ini")).contains("Version=" + stored + '\n'));
    expected.insert(QStringLiteral("Settings/Version"), QString::fromLatin1(stored));
    QCOMPARE(m_game->settingsValues(), expected);
    QCOMPARE(m_game->readFile(QStringLiteral("data/a.pak")), content);
}

QTEST_MAIN(TestLauncherWindow)
#include "tst_launcherwindow.moc"
