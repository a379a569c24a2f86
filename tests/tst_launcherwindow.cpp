#include "BoxAnswerer.h"
#include "FaultServer.h"
#include "GameFolder.h"
#include "Launcher.h"

#include <QCryptographicHash>
#include <QDesktopServices>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QWebElement>
#include <QWebFrame>
#include <QWebView>
#include <QtTest>

#include <memory>

// Receives the links the window hands to the desktop.
class LinkCatcher : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> opened;

public slots:
    void open(const QUrl &url) { opened << url; }
};

// The launcher window's behaviour in process: its site configuration, the web page and its
// links, dragging, the version display and the first steps of the game update check.
class TestLauncherWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void siteAddress_data();
    void siteAddress();
    void listAddressReadAsUtf8();
    void linkGoesToDesktop_data();
    void linkGoesToDesktop();
    void leftDragMovesWindow();
    void otherPressesStartNoDrag_data();
    void otherPressesStartNoDrag();
    void releaseEndsDrag_data();
    void releaseEndsDrag();
    void versionLabel_data();
    void versionLabel();
    void checkReachesCurrentVersion_data();
    void checkReachesCurrentVersion();

private:
    // A game folder with pictures and launcher.ini, the process inside its launcher directory.
    void makeGame(const QByteArray &launcherIni);
    void openWindow();
    template<typename T> T *widget(const char *name) const
    {
        return m_window->findChild<T *>(QLatin1String(name));
    }
    // A mouse event as the window system delivers it: to the widget under the point (or to the
    // widget holding the grab), passed on to the parents while ignored.
    void sendMouse(QEvent::Type type, QWidget *target, const QPoint &global, Qt::MouseButton button,
        Qt::MouseButtons buttons);
    QWidget *widgetAt(const QPoint &windowPos) const;

    std::unique_ptr<GameFolder> m_game;
    std::unique_ptr<GameFolder::WorkingDirectory> m_cwd;
    std::unique_ptr<Launcher> m_window;
    LinkCatcher m_links;
    BoxAnswerer m_boxes; // the update check's failure box, should one come up
};

static const QStringList LinkSchemes {QStringLiteral("http"), QStringLiteral("https"),
    QStringLiteral("mailto"), QStringLiteral("file"), QStringLiteral("zarkcmd")};

void TestLauncherWindow::initTestCase()
{
    for (const QString &scheme : LinkSchemes)
        QDesktopServices::setUrlHandler(scheme, &m_links, "open");
}

void TestLauncherWindow::cleanupTestCase()
{
    for (const QString &scheme : LinkSchemes)
        QDesktopServices::unsetUrlHandler(scheme);
}

void TestLauncherWindow::cleanup()
{
    m_window.reset();
    m_cwd.reset();
    m_game.reset();
    m_links.opened.clear();
}

void TestLauncherWindow::makeGame(const QByteArray &launcherIni)
{
    m_game = std::make_unique<GameFolder>();
    QVERIFY(m_game->installLauncher());
    if (!launcherIni.isNull())
        QVERIFY(m_game->writeFile(QStringLiteral("Launcher/launcher.ini"), launcherIni));
    m_cwd = std::make_unique<GameFolder::WorkingDirectory>(*m_game);
}

void TestLauncherWindow::openWindow()
{
    m_window = std::make_unique<Launcher>();
    m_window->move(100, 100);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QTRY_COMPARE(m_window->pos(), QPoint(100, 100));
}

QWidget *TestLauncherWindow::widgetAt(const QPoint &windowPos) const
{
    QWidget *child = m_window->childAt(windowPos);
    return child ? child : m_window.get();
}

void TestLauncherWindow::sendMouse(QEvent::Type type, QWidget *target, const QPoint &global,
    Qt::MouseButton button, Qt::MouseButtons buttons)
{
    const QPointF local = target->mapFromGlobal(global);
    const QPointF inWindow = target->window()->mapFromGlobal(global);
    QMouseEvent event(type, local, inWindow, global, button, buttons, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

// ---- Site configuration -------------------------------------------------------------------

void TestLauncherWindow::siteAddress_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QString>("expected"); // "PAGE" stands for the local page below
    const QString home = QStringLiteral("https://www.zark-game.com/");
    QTest::newRow("non-ASCII address as UTF-8")
        << QByteArray("[launcher]\nlist=http://127.0.0.1:1/\nsite=PAGE\n") << QStringLiteral("PAGE");
    QTest::newRow("file missing") << QByteArray() << home;
    QTest::newRow("key missing") << QByteArray("[game]\nsite=PAGE\n[launcher]\nlist=\n") << home;
}

void TestLauncherWindow::siteAddress()
{
    QFETCH(QByteArray, ini);
    QFETCH(QString, expected);

    GameFolder pages;
    const QString page = pages.path(QStringLiteral("網站/首頁.html"));
    QVERIFY(pages.writeFile(QStringLiteral("網站/首頁.html"),
        "<html><head><meta charset='utf-8'><title>雲隼首頁</title></head><body>news</body></html>"));
    const QByteArray pageUrl = QUrl::fromLocalFile(page).toString().toUtf8();
    makeGame(ini.isNull() ? ini : QByteArray(ini).replace("PAGE", pageUrl));
    openWindow();

    QWebFrame *frame = widget<QWebView>("webView")->page()->mainFrame();
    if (expected == QLatin1String("PAGE")) {
        QTRY_COMPARE(frame->title(), QStringLiteral("雲隼首頁"));
        QCOMPARE(frame->url(), QUrl::fromLocalFile(page));
    } else {
        QTRY_COMPARE(frame->requestedUrl(), QUrl(expected));
    }
}

void TestLauncherWindow::listAddressReadAsUtf8()
{
    FaultServer server;
    QVERIFY(server.listen());
    const QString base = server.url(QStringLiteral("/版本/"));
    makeGame("[game]\nlist=" + base.toUtf8() + "\n[launcher]\nsite=about:blank\n");
    openWindow();

    // While the check runs: the update button is off and the file bar says so.
    QVERIFY(!widget<QPushButton>("updatePushButton")->isEnabled());
    auto *fileBar = widget<QProgressBar>("progressBar");
    QVERIFY(fileBar->isTextVisible());
    QCOMPARE(fileBar->format(), QStringLiteral("檢查更新檔案......"));

    const QString requested = QUrl(QStringLiteral("/版本/VersionList.xml")).path(QUrl::FullyEncoded);
    QTRY_VERIFY(server.requestCount(requested) >= 1);
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
    makeGame("[launcher]\nsite=" + pageUrl.toEncoded() + "\n");
    openWindow();
    auto *view = widget<QWebView>("webView");
    QWebFrame *frame = view->page()->mainFrame();
    QTRY_COMPARE(frame->title(), QStringLiteral("site"));

    const auto click = [&](const QString &element) {
        const QRect box = frame->findFirstElement(QLatin1Char('#') + element).geometry();
        QVERIFY(!box.isEmpty());
        QTest::mouseClick(view, Qt::LeftButton, Qt::NoModifier, box.center());
    };
    if (opened.isValid()) {
        QTest::ignoreMessage(QtDebugMsg, qPrintable(QLatin1Char('"') + opened.toString() + QLatin1Char('"')));
        click(id);
        QTRY_COMPARE(m_links.opened, QList<QUrl> {opened});
    } else {
        // A link that is refused leaves no trace; the next one clicked must be the only one seen.
        const QUrl after(QStringLiteral("http://after.example.com/"));
        click(id);
        click(QStringLiteral("after"));
        QTRY_VERIFY(!m_links.opened.isEmpty());
        QTest::qWait(100);
        QCOMPARE(m_links.opened, QList<QUrl> {after});
    }
    QTest::qWait(100);
    QCOMPARE(frame->url(), pageUrl);
    QCOMPARE(frame->title(), QStringLiteral("site"));
}

// ---- Dragging ------------------------------------------------------------------------------

void TestLauncherWindow::leftDragMovesWindow()
{
    makeGame("[launcher]\nsite=about:blank\n");
    openWindow();
    const QPoint grabbed(40, 20); // on the background picture
    QWidget *target = widgetAt(grabbed);
    QCOMPARE(target->objectName(), QStringLiteral("backgroundlabel_5"));

    QPoint pointer = m_window->mapToGlobal(grabbed);
    sendMouse(QEvent::MouseButtonPress, target, pointer, Qt::LeftButton, Qt::LeftButton);
    for (const QPoint step : {QPoint(30, 15), QPoint(-7, 40), QPoint(120, -60)}) {
        pointer += step;
        sendMouse(QEvent::MouseMove, target, pointer, Qt::NoButton, Qt::LeftButton);
        QCOMPARE(m_window->pos(), pointer - grabbed);
    }
    QCOMPARE(m_window->mapToGlobal(grabbed), pointer);
    sendMouse(QEvent::MouseButtonRelease, target, pointer, Qt::LeftButton, Qt::NoButton);
    QCOMPARE(m_window->pos(), QPoint(100, 100) + QPoint(143, -5));
}

void TestLauncherWindow::otherPressesStartNoDrag_data()
{
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<int>("button");
    QTest::newRow("right button on the background") << QPoint(40, 20) << int(Qt::RightButton);
    QTest::newRow("middle button on the background") << QPoint(40, 20) << int(Qt::MiddleButton);
    QTest::newRow("left button on a button") << QPoint(200, 250) << int(Qt::LeftButton);
    QTest::newRow("left button on the page") << QPoint(400, 400) << int(Qt::LeftButton);
}

void TestLauncherWindow::otherPressesStartNoDrag()
{
    QFETCH(QPoint, at);
    QFETCH(int, button);
    makeGame("[launcher]\nsite=about:blank\n");
    openWindow();

    QWidget *target = widgetAt(at);
    const auto pressed = Qt::MouseButton(button);
    QPoint pointer = m_window->mapToGlobal(at);
    sendMouse(QEvent::MouseButtonPress, target, pointer, pressed, pressed);
    pointer += QPoint(50, 50);
    sendMouse(QEvent::MouseMove, target, pointer, Qt::NoButton, pressed);
    // Even a move that claims the left button held reaches the window without a drag begun.
    sendMouse(QEvent::MouseMove, m_window.get(), pointer, Qt::NoButton, pressed | Qt::LeftButton);
    QCOMPARE(m_window->pos(), QPoint(100, 100));
}

void TestLauncherWindow::releaseEndsDrag_data()
{
    QTest::addColumn<QPoint>("releaseAt"); // relative to the window
    QTest::addColumn<int>("button");
    QTest::newRow("left, inside") << QPoint(60, 30) << int(Qt::LeftButton);
    QTest::newRow("left, outside the window") << QPoint(-80, 1200) << int(Qt::LeftButton);
    QTest::newRow("right, while dragging") << QPoint(60, 30) << int(Qt::RightButton);
}

void TestLauncherWindow::releaseEndsDrag()
{
    QFETCH(QPoint, releaseAt);
    QFETCH(int, button);
    makeGame("[launcher]\nsite=about:blank\n");
    openWindow();

    const QPoint grabbed(40, 20);
    QWidget *target = widgetAt(grabbed);
    QPoint pointer = m_window->mapToGlobal(grabbed);
    sendMouse(QEvent::MouseButtonPress, target, pointer, Qt::LeftButton, Qt::LeftButton);
    pointer += QPoint(10, 10);
    sendMouse(QEvent::MouseMove, target, pointer, Qt::NoButton, Qt::LeftButton);
    const QPoint moved = m_window->pos();
    QCOMPARE(moved, QPoint(110, 110));

    // The window holds the grab, so the release reaches it wherever the pointer is.
    sendMouse(QEvent::MouseButtonRelease, target, m_window->mapToGlobal(releaseAt), Qt::MouseButton(button),
        button == Qt::LeftButton ? Qt::NoButton : Qt::LeftButton);
    sendMouse(QEvent::MouseMove, target, pointer + QPoint(200, 100), Qt::NoButton, Qt::LeftButton);
    QCOMPARE(m_window->pos(), moved);
}

// ---- Version ------------------------------------------------------------------------------

void TestLauncherWindow::versionLabel_data()
{
    QTest::addColumn<QByteArray>("settings"); // null: no settings.ini
    QTest::addColumn<QString>("label");
    QTest::newRow("1.0") << QByteArray("[Settings]\nVersion=1.0\n") << QStringLiteral("遊戲版號: 1.00");
    QTest::newRow("1.05") << QByteArray("[Settings]\nVersion=1.05\n") << QStringLiteral("遊戲版號: 1.05");
    QTest::newRow("whole number") << QByteArray("[Settings]\nVersion=2\n")
                                  << QStringLiteral("遊戲版號: 2.00");
    QTest::newRow("not a number") << QByteArray("[Settings]\nVersion=beta\n")
                                  << QStringLiteral("遊戲版號: 0.00");
    QTest::newRow("key missing") << QByteArray("[Video]\nResolutionWidth=800\n")
                                 << QStringLiteral("遊戲版號: 1.00");
    QTest::newRow("settings.ini missing") << QByteArray() << QStringLiteral("遊戲版號: 1.00");
}

void TestLauncherWindow::versionLabel()
{
    QFETCH(QByteArray, settings);
    QFETCH(QString, label);
    makeGame("[launcher]\nsite=about:blank\n");
    if (!settings.isNull())
        QVERIFY(m_game->writeFile(QStringLiteral("settings.ini"), settings));
    m_window = std::make_unique<Launcher>();
    QCOMPARE(widget<QLabel>("gameVersionLabel")->text(), label);
    QCOMPARE(m_game->readFile(QStringLiteral("settings.ini")), settings); // only read
}

void TestLauncherWindow::checkReachesCurrentVersion_data()
{
    QTest::addColumn<QByteArray>("maxVer");
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QString>("label");
    QTest::newRow("1.1") << QByteArray("1.1") << QByteArray("1.1") << QStringLiteral("遊戲版號: 1.10");
    QTest::newRow("1.05") << QByteArray("1.05") << QByteArray("1.05") << QStringLiteral("遊戲版號: 1.05");
    QTest::newRow("2.0") << QByteArray("2.0") << QByteArray("2") << QStringLiteral("遊戲版號: 2.00");
}

void TestLauncherWindow::checkReachesCurrentVersion()
{
    QFETCH(QByteArray, maxVer);
    QFETCH(QByteArray, stored);
    QFETCH(QString, label);

    // The installed files already match the range's list: only the version is rewritten.
    const QByteArray content("map data");
    const QByteArray md5 = QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex();
    FaultServer server;
    QVERIFY(server.listen());
    server.serve(QStringLiteral("/zark/VersionList.xml"),
        "<VersionList><Version MinVer=\"1.0\" MaxVer=\"" + maxVer + "\" Dir=\"v2\"/></VersionList>");
    server.serve(QStringLiteral("/zark/v2/UpdateList.xml"),
        "<UpdateList><File Name=\"a.pak\" RelativeDir=\"data\" MD5=\"" + md5
            + "\" Dir=\"data\" Size=\"8\"/></UpdateList>");

    makeGame(
        "[game]\nlist=" + server.url(QStringLiteral("/zark/")).toUtf8() + "\n[launcher]\nsite=about:blank\n");
    QVERIFY(m_game->writeFile(QStringLiteral("data/a.pak"), content));
    QVERIFY(m_game->writeFile(QStringLiteral("settings.ini"),
        "[General]\nLanguage=\xe7\xb9\x81\xe9\xab\x94\n\n"
        "[Video]\nResolutionWidth=1920\nResolutionHeight=1080\nFullScreen=true\n\n"
        "[Settings]\nVersion=1.0\nChannel=beta\n\n"
        "[Tool]\nDetected=\xe9\x9b\xb2\xe9\x9a\xbc\n"));
    const auto readAll = [&] {
        QSettings settings(m_game->path(QStringLiteral("settings.ini")), QSettings::IniFormat);
        settings.setIniCodec("UTF-8");
        QMap<QString, QVariant> values;
        for (const QString &key : settings.allKeys())
            values.insert(key, settings.value(key));
        return values;
    };
    QMap<QString, QVariant> expected = readAll();
    expected.insert(QStringLiteral("Settings/Version"), QString::fromLatin1(stored));

    m_window = std::make_unique<Launcher>();
    QCOMPARE(widget<QLabel>("gameVersionLabel")->text(), QStringLiteral("遊戲版號: 1.00"));
    QTRY_COMPARE(widget<QLabel>("gameVersionLabel")->text(), label);
    QVERIFY(m_game->readFile(QStringLiteral("settings.ini")).contains("Version=" + stored + '\n'));
    QCOMPARE(readAll(), expected);
    QCOMPARE(m_game->readFile(QStringLiteral("data/a.pak")), content);
}

QTEST_MAIN(TestLauncherWindow)
#include "tst_launcherwindow.moc"
