#include "BoxAnswerer.h"
#include "FormChecks.h"
#include "Launcher.h"
#include "LauncherFolder.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QWebFrame>
#include <QWebView>
#include <QtTest>

#include <memory>

// The launcher window's form as a player's install builds it: every widget in its place, in its
// layer, with its pictures, and the adjustments the window makes to it.
class TestLauncherForm : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void widgets_data();
    void widgets();
    void stackingOrder();
    void progressBars_data();
    void progressBars();
    void versionLabelLook();
    void windowIsFramelessAndSeeThrough();
    void minimiseAndCloseButtons();

private:
    template<typename T> T *widget(const QString &name) const { return m_window->findChild<T *>(name); }
    void show();

    std::unique_ptr<LauncherFolder> m_game;
    std::unique_ptr<Launcher> m_window;
    BoxAnswerer m_boxes; // the update check's failure box, should one come up
};

void TestLauncherForm::init()
{
    m_game = std::make_unique<LauncherFolder>();
    QVERIFY(m_game->isInstalled());
    QVERIFY(m_game->writeFile(QStringLiteral("Launcher/launcher.ini"), "[launcher]\nsite=about:blank\n"));
    m_window = std::make_unique<Launcher>();
}

void TestLauncherForm::cleanup()
{
    m_window.reset();
    m_game.reset();
}

void TestLauncherForm::show()
{
    m_window->showNormal();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void TestLauncherForm::widgets_data()
{
    QTest::addColumn<QString>("className");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QString>("text");
    // A label's picture; a button's normal, hover, pressed[, disabled] pictures; a bar's chunk.
    QTest::addColumn<QStringList>("pictures");

    const auto row = [](const char *name, const char *cls, QRect geometry, const QStringList &pictures,
                         bool enabled = true, const QString &text = QString()) {
        QTest::newRow(name) << QString::fromLatin1(cls) << geometry << enabled << text << pictures;
    };
    const auto states = [](const char *base) {
        const QString b = QStringLiteral("images/Launcher_%1_btn_").arg(QLatin1String(base));
        return QStringList {b + "Normal.png", b + "Over.png", b + "Click.png", b + "Disable.png"};
    };
    const QString bar = QStringLiteral("images/Launcher_progressbar_");
    row("settingsButton", "QPushButton", {175, 232, 145, 53},
        {"images/Launcher_settings_btn_Normal2.png", "images/Launcher_settings_btn_Over2.png",
            "images/Launcher_settings_btn_Over2.png"});
    row("progressBar", "QProgressBar", {140, 690, 479, 18}, {"images/Launcher_progressbar.png"});
    row("startButton", "QPushButton", {750, 550, 252, 213}, states("start"));
    // Both path forms name files in the same folder.
    row("hardwareButton", "QPushButton", {325, 232, 145, 53},
        {"./images/Launcher_hardware_btn_Normal2.png", "images/Launcher_hardware_btn_Over2.png",
            "images/Launcher_hardware_btn_Over2.png"});
    row("webView", "QWebView", {120, 290, 711, 371}, {});
    row("closePushButton", "QPushButton", {865, 300, 51, 51}, states("close"));
    row("minimalPushButton", "QPushButton", {865, 353, 51, 51}, states("minimalize"));
    row("remind", "QLabel", {70, 740, 557, 37}, {"images/Launcher_remind_lab.png"});
    row("updatePushButton", "QPushButton", {650, 630, 145, 133}, states("update"), false);
    row("backgroundlabel_5", "QLabel", {0, 0, 1024, 710}, {"images/Launcher_bg_lab.png"});
    row("progressBar_bottom", "QLabel", {140, 690, 479, 18}, {bar + "bottom.png"});
    row("progressBar_Top", "QLabel", {120, 680, 517, 49}, {bar + "top.png"});
    // Without settings.ini the installed version reads as 1.0.
    row("gameVersionLabel", "QLabel", {690, 238, 151, 41}, {}, true, QStringLiteral("遊戲版號: 1.00"));
    row("total_ProgressBar", "QProgressBar", {140, 715, 479, 18}, {"images/Launcher_progressbar_total.png"});
    row("total_ProgressBar_Top", "QLabel", {120, 705, 517, 49}, {bar + "top.png"});
    row("total_ProgressBar_bottom", "QLabel", {140, 715, 479, 18}, {bar + "bottom.png"});
}

void TestLauncherForm::widgets()
{
    QFETCH(QString, className);
    QFETCH(QRect, geometry);
    QFETCH(bool, enabled);
    QFETCH(QString, text);
    QFETCH(QStringList, pictures);

    auto *w = widget<QWidget>(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(w);
    QCOMPARE(w->parentWidget(), m_window.get());
    QCOMPARE(w->metaObject()->className(), className.toLatin1());
    QCOMPARE(w->geometry(), geometry);
    QCOMPARE(w->isEnabled(), enabled);
    if (auto *label = qobject_cast<QLabel *>(w)) {
        QCOMPARE(label->text(), text);
        // The empty text must leave the picture in place.
        if (!pictures.isEmpty())
            QCOMPARE(label->pixmap(Qt::ReturnByValue).toImage(), QPixmap(pictures.first()).toImage());
    } else {
        QCOMPARE(imageUrls(w->styleSheet()), pictures);
    }
    if (auto *button = qobject_cast<QPushButton *>(w)) {
        QCOMPARE(button->text(), text);
        QVERIFY(button->icon().isNull());
        QVERIFY(button->styleSheet().contains(QLatin1String("background-color: rgba(0, 0, 0, 0);")));
        const QStringList selectors {QStringLiteral("QPushButton {"), QStringLiteral("QPushButton:hover {"),
            QStringLiteral("QPushButton:pressed {"), QStringLiteral("QPushButton:disabled {")};
        for (int i = 0; i < selectors.size(); ++i)
            QCOMPARE(button->styleSheet().contains(selectors.at(i)), i < pictures.size());
    }
    for (const QString &picture : qAsConst(pictures))
        QCOMPARE(pngSize(picture), w->size());
}

void TestLauncherForm::stackingOrder()
{
    QCOMPARE(childStack(m_window.get()),
        QStringLiteral("backgroundlabel_5 settingsButton webView closePushButton minimalPushButton remind "
                       "startButton updatePushButton progressBar_bottom progressBar progressBar_Top "
                       "hardwareButton gameVersionLabel total_ProgressBar_bottom total_ProgressBar "
                       "total_ProgressBar_Top")
            .split(QLatin1Char(' ')));
}

void TestLauncherForm::progressBars_data()
{
    QTest::addColumn<QString>("chunk");
    QTest::newRow("progressBar") << QStringLiteral("images/Launcher_progressbar.png");
    QTest::newRow("total_ProgressBar") << QStringLiteral("images/Launcher_progressbar_total.png");
}

void TestLauncherForm::progressBars()
{
    QFETCH(QString, chunk);
    const QString name = QString::fromLatin1(QTest::currentDataTag());
    verifyFramedBar(
        widget<QProgressBar>(name), chunk, widget<QLabel>(name + "_Top"), widget<QLabel>(name + "_bottom"));
}

void TestLauncherForm::versionLabelLook()
{
    auto *label = widget<QLabel>(QStringLiteral("gameVersionLabel"));
    // The style sheet decides the font the player sees: 16 px, 標楷體 first.
    QCOMPARE(label->font().family(), QStringLiteral("標楷體"));
    QCOMPARE(label->font().pixelSize(), 16);
    QCOMPARE(label->alignment(), Qt::AlignHCenter | Qt::AlignBottom);
    QCOMPARE(widget<QProgressBar>(QStringLiteral("total_ProgressBar"))->format(), QStringLiteral("%p%"));
}

void TestLauncherForm::windowIsFramelessAndSeeThrough()
{
    QCOMPARE(m_window->objectName(), QStringLiteral("Launcher"));
    QCOMPARE(m_window->size(), QSize(1024, 800));
    QCOMPARE(m_window->windowTitle(), QStringLiteral("雲隼紀年-啟動器"));
    verifySeeThrough(m_window.get());
    QCOMPARE(m_window->styleSheet(), QStringLiteral("QPushButton { border: 0px; }"));
    QWebFrame *frame = widget<QWebView>(QStringLiteral("webView"))->page()->mainFrame();
    QCOMPARE(frame->scrollBarPolicy(Qt::Horizontal), Qt::ScrollBarAlwaysOff);
    QCOMPARE(frame->scrollBarPolicy(Qt::Vertical), Qt::ScrollBarAlwaysOff);

    // Uncovered parts of the window stay see-through when it is drawn.
    show();
    const QImage drawn = m_window->grab().toImage();
    QCOMPARE(qAlpha(drawn.pixel(1015, 795)), 0);
    QCOMPARE(qAlpha(drawn.pixel(500, 100)),
        qAlpha(QImage(QStringLiteral("images/Launcher_bg_lab.png")).pixel(500, 100)));
}

void TestLauncherForm::minimiseAndCloseButtons()
{
    show();
    QTest::mouseClick(widget<QPushButton>(QStringLiteral("minimalPushButton")), Qt::LeftButton);
    QTRY_VERIFY(m_window->isMinimized());
    show();
    QTest::mouseClick(widget<QPushButton>(QStringLiteral("closePushButton")), Qt::LeftButton);
    QTRY_VERIFY(!m_window->isVisible());
}

QTEST_MAIN(TestLauncherForm)
#include "tst_launcherform.moc"
