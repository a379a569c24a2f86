#include "BoxAnswerer.h"
#include "FaultServer.h"
#include "FormChecks.h"
#include "Launcher.h"
#include "LauncherFolder.h"

#include <QDesktopServices>
#include <QNetworkProxyFactory>
#include <QWebElement>
#include <QWebFrame>
#include <QWebView>
#include <QtTest>

// Every HTTP request asks the application's proxy factory first: a record of what was fetched.
class RequestRecorder : public QNetworkProxyFactory
{
public:
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery &query) override
    {
        asked.append(query.url());
        return {QNetworkProxy::NoProxy};
    }
    static inline QList<QUrl> asked;
};

QWebFrame *frame(const Launcher &window)
{
    return window.findChild<QWebView *>()->page()->mainFrame();
}

// The launcher window in process: its pictures and site configuration, the web page and its
// links, and dragging.
class TestLauncherWindow : public QObject
{
    Q_OBJECT

    BoxAnswerer m_boxes; // the update check's failure box, should one come up
    QList<QUrl> m_opened; // by the desktop

public slots:
    void open(const QUrl &url) { m_opened << url; }

private slots:
    void initTestCase()
    {
        for (const char *scheme : {"http", "https", "mailto", "file", "zarkcmd"})
            QDesktopServices::setUrlHandler(scheme, this, "open");
    }

    void launcherIni_data()
    {
        QTest::addColumn<QByteArray>("ini"); // null: none; LIST and PAGE stand for the test's addresses
        // QSettings reads a value with a comma as a list.
        QTest::newRow("UTF-8, commas") << QByteArray("[game]\nlist=LIST\n[launcher]\nsite=PAGE\n");
        // The publisher's home page and no list.
        QTest::newRow("file missing") << QByteArray();
    }
    void launcherIni()
    {
        QFETCH(QByteArray, ini);
        const bool configured = !ini.isNull();
        FaultServer server;
        QVERIFY(server.listen());
        LauncherFolder game;
        QVERIFY(game.writeFile(
            "網站/首頁,新.html", "<html><head><meta charset='utf-8'><title>首頁</title></head>"));
        ini.replace("PAGE", QUrl::fromLocalFile(game.path("網站/首頁,新.html")).toString().toUtf8());
        QVERIFY(ini.isNull()
            || game.writeFile(
                "Launcher/launcher.ini", ini.replace("LIST", server.url("/版本,新/").toUtf8())));
        RequestRecorder::asked.clear();
        QNetworkProxyFactory::setApplicationProxyFactory(new RequestRecorder);
        Launcher window;
        verifyForm(&window);
        QCOMPARE(frame(window)->scrollBarPolicy(Qt::Horizontal), Qt::ScrollBarAlwaysOff);
        QCOMPARE(frame(window)->scrollBarPolicy(Qt::Vertical), Qt::ScrollBarAlwaysOff);
        // One page load only: a second one aborts the first, whose queued failure then hits a
        // finished reply and Qt logs an internal problem.
        const QUrl home("https://www.zark-game.com/");
        QTRY_COMPARE(frame(window)->requestedUrl() == home, !configured);
        QTRY_VERIFY(!configured || frame(window)->title() == "首頁");
        QTRY_COMPARE(
            server.requestCount(QUrl("/版本,新/VersionList.xml").path(QUrl::FullyEncoded)) > 0, configured);
        QCOMPARE(RequestRecorder::asked.count(home), configured ? 0 : 1);
        QNetworkProxyFactory::setApplicationProxyFactory(nullptr);
    }

    void links_data()
    {
        QTest::addColumn<QString>("link"); // its attributes
        QTest::addColumn<QUrl>("opened"); // empty: must not be opened
        QTest::newRow("http") << "href='http://a.example/a?b=1'" << QUrl("http://a.example/a?b=1");
        QTest::newRow("https, new window")
            << "target='_blank' href='https://a.example/x'" << QUrl("https://a.example/x");
        QTest::newRow("mailto") << "href='mailto:gm@a.example'" << QUrl("mailto:gm@a.example");
        QTest::newRow("file") << "href='file:///bin/sh'" << QUrl();
        QTest::newRow("custom scheme") << "href='zarkcmd://run/calc'" << QUrl();
    }
    void links()
    {
        QFETCH(QString, link);
        QFETCH(QUrl, opened);
        LauncherFolder game;
        QVERIFY(game.writeFile("site/index.html",
            "<html><head><title>site</title></head><body><a id='link' " + link.toUtf8()
                + ">link</a><p><a id='after' href='http://after.example.com/'>after</a></body></html>"));
        const QUrl page = QUrl::fromLocalFile(game.path("site/index.html"));
        QVERIFY(game.writeFile("Launcher/launcher.ini", "[launcher]\nsite=" + page.toEncoded() + "\n"));
        Launcher window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTRY_COMPARE(frame(window)->title(), "site");
        m_opened.clear();
        for (const char *id : {"#link", "#after"})
            QTest::mouseClick(window.findChild<QWebView *>(), Qt::LeftButton, {},
                frame(window)->findFirstElement(id).geometry().center());
        // A refused link leaves no trace: the one clicked next is the only one seen.
        const QList<QUrl> all {opened, QUrl("http://after.example.com/")};
        QTRY_COMPARE(m_opened, all.mid(opened.isEmpty() ? 1 : 0));
        QCOMPARE(frame(window)->url(), page);
    }

    // Dragged by the left button on its uncovered parts, the grabbed point staying under the
    // pointer until any button is released; other buttons, and presses on a button or the
    // page, leave it where it is.
    void drag_data()
    {
        QTest::addColumn<QPoint>("at"); // window coordinates
        QTest::addColumn<int>("button");
        QTest::newRow("left") << QPoint(40, 20) << 1;
        QTest::newRow("left on a button") << QPoint(200, 250) << 1;
    }
    void drag()
    {
        QFETCH(QPoint, at);
        QFETCH(int, button);
        LauncherFolder game;
        QVERIFY(game.writeFile("Launcher/launcher.ini", "[launcher]\nsite=about:blank\n"));
        Launcher window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        // As the window system delivers it: to the widget under `at` (or holding the grab),
        // passed on to the parents while ignored.
        const auto send = [&](QEvent::Type type, QPoint global, int changed, int held) {
            QWidget *target = window.childAt(at) ? window.childAt(at) : &window;
            QMouseEvent event(type, target->mapFromGlobal(global), window.mapFromGlobal(global), global,
                Qt::MouseButton(changed), Qt::MouseButtons(held), {});
            QApplication::sendEvent(target, &event);
        };
        const QPoint start = window.pos(), grabbed = window.mapToGlobal(at), step(120, -60);
        send(QEvent::MouseButtonPress, grabbed, button, button);
        send(QEvent::MouseMove, grabbed + step, 0, button);
        QCOMPARE(window.pos(), button == 1 && at == QPoint(40, 20) ? start + step : start);
        send(QEvent::MouseButtonRelease, grabbed + step, 2, button & 1); // the right one, the left still held
        const QPoint settled = window.pos();
        at = QPoint(-50, -50); // no child there: the window itself receives the move
        send(QEvent::MouseMove, grabbed + QPoint(300, 40), 0, 1);
        QCOMPARE(window.pos(), settled);
    }
};

QTEST_MAIN(TestLauncherWindow)
#include "tst_launcherwindow.moc"
