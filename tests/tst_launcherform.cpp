#include "BoxAnswerer.h"
#include "GameFolder.h"
#include "Launcher.h"

#include <QImageReader>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
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
    void buttonPictures_data();
    void buttonPictures();
    void labelPictures_data();
    void labelPictures();
    void progressBars_data();
    void progressBars();
    void versionLabelLook();
    void windowIsFramelessAndSeeThrough();
    void minimiseAndCloseButtons();

private:
    template<typename T> T *widget(const char *name) const
    {
        return m_window->findChild<T *>(QLatin1String(name));
    }
    static QStringList imageUrls(const QString &styleSheet);
    static QSize pictureSize(const QString &path);

    std::unique_ptr<GameFolder> m_game;
    std::unique_ptr<GameFolder::WorkingDirectory> m_cwd;
    std::unique_ptr<Launcher> m_window;
    BoxAnswerer m_boxes; // the update check's failure box, should one come up
};

void TestLauncherForm::init()
{
    m_game = std::make_unique<GameFolder>();
    QVERIFY(m_game->installLauncher());
    QVERIFY(m_game->writeFile(QStringLiteral("Launcher/launcher.ini"), "[launcher]\nsite=about:blank\n"));
    m_cwd = std::make_unique<GameFolder::WorkingDirectory>(*m_game);
    m_window = std::make_unique<Launcher>();
}

void TestLauncherForm::cleanup()
{
    m_window.reset();
    m_cwd.reset();
    m_game.reset();
}

QStringList TestLauncherForm::imageUrls(const QString &styleSheet)
{
    static const QRegularExpression url(QStringLiteral("url\\(([^)]*)\\)"));
    QStringList urls;
    for (auto it = url.globalMatch(styleSheet); it.hasNext();)
        urls << it.next().captured(1);
    return urls;
}

QSize TestLauncherForm::pictureSize(const QString &path)
{
    QImageReader reader(path); // relative to the launcher directory, as the window finds it
    return reader.format() == "png" ? reader.size() : QSize();
}

void TestLauncherForm::widgets_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QString>("text");

    const QString none;
    const auto row
        = [](const char *name, const char *cls, QRect geometry, bool enabled, const QString &text) {
              QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(cls) << geometry
                                  << enabled << text;
          };
    row("settingsButton", "QPushButton", {175, 232, 145, 53}, true, none);
    row("progressBar", "QProgressBar", {140, 690, 479, 18}, true, none);
    row("startButton", "QPushButton", {750, 550, 252, 213}, true, none);
    row("hardwareButton", "QPushButton", {325, 232, 145, 53}, true, none);
    row("webView", "QWebView", {120, 290, 711, 371}, true, none);
    row("closePushButton", "QPushButton", {865, 300, 51, 51}, true, none);
    row("minimalPushButton", "QPushButton", {865, 353, 51, 51}, true, none);
    row("remind", "QLabel", {70, 740, 557, 37}, true, none);
    row("updatePushButton", "QPushButton", {650, 630, 145, 133}, false, none);
    row("backgroundlabel_5", "QLabel", {0, 0, 1024, 710}, true, none);
    row("progressBar_bottom", "QLabel", {140, 690, 479, 18}, true, none);
    row("progressBar_Top", "QLabel", {120, 680, 517, 49}, true, none);
    // Without settings.ini the installed version reads as 1.0.
    row("gameVersionLabel", "QLabel", {690, 238, 151, 41}, true, QStringLiteral("遊戲版號: 1.00"));
    row("total_ProgressBar", "QProgressBar", {140, 715, 479, 18}, true, none);
    row("total_ProgressBar_Top", "QLabel", {120, 705, 517, 49}, true, none);
    row("total_ProgressBar_bottom", "QLabel", {140, 715, 479, 18}, true, none);
}

void TestLauncherForm::widgets()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QRect, geometry);
    QFETCH(bool, enabled);
    QFETCH(QString, text);

    QCOMPARE(m_window->objectName(), QStringLiteral("Launcher"));
    QCOMPARE(m_window->size(), QSize(1024, 800));
    QCOMPARE(m_window->windowTitle(), QStringLiteral("雲隼紀年-啟動器"));

    auto *w = m_window->findChild<QWidget *>(name);
    QVERIFY(w);
    QCOMPARE(w->parentWidget(), m_window.get());
    QCOMPARE(QString::fromLatin1(w->metaObject()->className()), className);
    QCOMPARE(w->geometry(), geometry);
    QCOMPARE(w->isEnabled(), enabled);
    if (auto *button = qobject_cast<QPushButton *>(w)) {
        QCOMPARE(button->text(), text);
        QVERIFY(button->icon().isNull());
    }
    if (auto *label = qobject_cast<QLabel *>(w))
        QCOMPARE(label->text(), text);
}

void TestLauncherForm::stackingOrder()
{
    // raise() moves a widget to the end of its parent's children: that list is bottom to top.
    QStringList order;
    for (QObject *child : m_window->children()) {
        if (child->isWidgetType())
            order << child->objectName();
    }
    const QStringList expected {QStringLiteral("backgroundlabel_5"), QStringLiteral("settingsButton"),
        QStringLiteral("webView"), QStringLiteral("closePushButton"), QStringLiteral("minimalPushButton"),
        QStringLiteral("remind"), QStringLiteral("startButton"), QStringLiteral("updatePushButton"),
        QStringLiteral("progressBar_bottom"), QStringLiteral("progressBar"),
        QStringLiteral("progressBar_Top"), QStringLiteral("hardwareButton"),
        QStringLiteral("gameVersionLabel"), QStringLiteral("total_ProgressBar_bottom"),
        QStringLiteral("total_ProgressBar"), QStringLiteral("total_ProgressBar_Top")};
    QCOMPARE(order, expected);
}

void TestLauncherForm::buttonPictures_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("images"); // normal, hover, pressed[, disabled]

    const auto states
        = [](const QString &normal, const QString &over, const QString &click, const QString &disable) {
              QStringList list {normal, over, click};
              if (!disable.isEmpty())
                  list << disable;
              return list;
          };
    const auto full = [&](const char *base) {
        const QString b = QStringLiteral("images/Launcher_%1_btn_").arg(QLatin1String(base));
        return states(b + QStringLiteral("Normal.png"), b + QStringLiteral("Over.png"),
            b + QStringLiteral("Click.png"), b + QStringLiteral("Disable.png"));
    };
    QTest::newRow("settingsButton") << QStringLiteral("settingsButton")
                                    << states(QStringLiteral("images/Launcher_settings_btn_Normal2.png"),
                                           QStringLiteral("images/Launcher_settings_btn_Over2.png"),
                                           QStringLiteral("images/Launcher_settings_btn_Over2.png"),
                                           QString());
    QTest::newRow("startButton") << QStringLiteral("startButton") << full("start");
    // Both path forms name files in the same folder.
    QTest::newRow("hardwareButton") << QStringLiteral("hardwareButton")
                                    << states(QStringLiteral("./images/Launcher_hardware_btn_Normal2.png"),
                                           QStringLiteral("images/Launcher_hardware_btn_Over2.png"),
                                           QStringLiteral("images/Launcher_hardware_btn_Over2.png"),
                                           QString());
    QTest::newRow("closePushButton") << QStringLiteral("closePushButton") << full("close");
    QTest::newRow("minimalPushButton") << QStringLiteral("minimalPushButton") << full("minimalize");
    QTest::newRow("updatePushButton") << QStringLiteral("updatePushButton") << full("update");
}

void TestLauncherForm::buttonPictures()
{
    QFETCH(QString, name);
    QFETCH(QStringList, images);

    auto *button = m_window->findChild<QPushButton *>(name);
    QVERIFY(button);
    const QString sheet = button->styleSheet();
    QCOMPARE(imageUrls(sheet), images);
    QVERIFY(sheet.contains(QLatin1String("background-color: rgba(0, 0, 0, 0);")));
    const QStringList selectors {QStringLiteral("QPushButton {"), QStringLiteral("QPushButton:hover {"),
        QStringLiteral("QPushButton:pressed {"), QStringLiteral("QPushButton:disabled {")};
    for (int i = 0; i < selectors.size(); ++i)
        QCOMPARE(sheet.contains(selectors.at(i)), i < images.size());
    for (const QString &image : images)
        QCOMPARE(pictureSize(image), button->size());
}

void TestLauncherForm::labelPictures_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("image");
    QTest::newRow("remind") << QStringLiteral("remind") << QStringLiteral("images/Launcher_remind_lab.png");
    QTest::newRow("backgroundlabel_5")
        << QStringLiteral("backgroundlabel_5") << QStringLiteral("images/Launcher_bg_lab.png");
    QTest::newRow("progressBar_bottom")
        << QStringLiteral("progressBar_bottom") << QStringLiteral("images/Launcher_progressbar_bottom.png");
    QTest::newRow("progressBar_Top") << QStringLiteral("progressBar_Top")
                                     << QStringLiteral("images/Launcher_progressbar_top.png");
    QTest::newRow("total_ProgressBar_Top")
        << QStringLiteral("total_ProgressBar_Top") << QStringLiteral("images/Launcher_progressbar_top.png");
    QTest::newRow("total_ProgressBar_bottom") << QStringLiteral("total_ProgressBar_bottom")
                                              << QStringLiteral("images/Launcher_progressbar_bottom.png");
}

void TestLauncherForm::labelPictures()
{
    QFETCH(QString, name);
    QFETCH(QString, image);

    auto *label = m_window->findChild<QLabel *>(name);
    QVERIFY(label);
    const QPixmap pixmap = label->pixmap(Qt::ReturnByValue);
    QVERIFY2(!pixmap.isNull(), "the empty text must leave the picture in place");
    QCOMPARE(pictureSize(image), label->size());
    QCOMPARE(pixmap.toImage(), QPixmap(image).toImage());
}

void TestLauncherForm::progressBars_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("chunk");
    QTest::addColumn<QString>("frame");
    QTest::addColumn<QString>("bottom");
    QTest::newRow("file bar") << QStringLiteral("progressBar")
                              << QStringLiteral("images/Launcher_progressbar.png")
                              << QStringLiteral("progressBar_Top") << QStringLiteral("progressBar_bottom");
    QTest::newRow("total bar") << QStringLiteral("total_ProgressBar")
                               << QStringLiteral("images/Launcher_progressbar_total.png")
                               << QStringLiteral("total_ProgressBar_Top")
                               << QStringLiteral("total_ProgressBar_bottom");
}

void TestLauncherForm::progressBars()
{
    QFETCH(QString, name);
    QFETCH(QString, chunk);
    QFETCH(QString, frame);
    QFETCH(QString, bottom);

    auto *bar = m_window->findChild<QProgressBar *>(name);
    QVERIFY(bar);
    QCOMPARE(imageUrls(bar->styleSheet()), QStringList {chunk});
    QVERIFY(bar->styleSheet().contains(QLatin1String("background-color: rgba(0,0,0,0);")));
    QCOMPARE(pictureSize(chunk), bar->size());
    QCOMPARE(bar->font().family(), QStringLiteral("Arial"));
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 100);
    QCOMPARE(bar->value(), 0);

    const QPalette palette = bar->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        for (auto role : {QPalette::Button, QPalette::Base, QPalette::Window})
            QCOMPARE(palette.color(group, role), QColor(0, 0, 0, 0));
        QCOMPARE(palette.color(group, QPalette::Text),
            group == QPalette::Disabled ? QColor(120, 120, 120) : QColor(255, 255, 255));
    }

    // The frame reaches 20 px further left, 18 right, 10 up and 21 down, and its middle is
    // see-through where the bar lies, so the bar shows between its two pictures.
    auto *top = m_window->findChild<QLabel *>(frame);
    auto *under = m_window->findChild<QLabel *>(bottom);
    QVERIFY(top && under);
    QCOMPARE(under->geometry(), bar->geometry());
    QCOMPARE(top->geometry(), bar->geometry().adjusted(-20, -10, 18, 21));
    const QImage frameImage = top->pixmap(Qt::ReturnByValue).toImage();
    const QPoint middle = bar->geometry().center() - top->geometry().topLeft();
    QCOMPARE(qAlpha(frameImage.pixel(middle)), 0);
    QVERIFY(qAlpha(frameImage.pixel(2, frameImage.height() / 2)) > 0);
}

void TestLauncherForm::versionLabelLook()
{
    auto *label = widget<QLabel>("gameVersionLabel");
    // The style sheet decides the font the player sees: 16 px, 標楷體 first.
    QCOMPARE(label->font().family(), QStringLiteral("標楷體"));
    QCOMPARE(label->font().pixelSize(), 16);
    QCOMPARE(label->styleSheet(), QStringLiteral("font-size:16px;\nfont-family:\"標楷體\",\"Arial\""));
    QCOMPARE(label->alignment(), Qt::AlignHCenter | Qt::AlignBottom);
    QCOMPARE(label->textInteractionFlags(), Qt::NoTextInteraction);
    QVERIFY(!label->autoFillBackground());
    QVERIFY(!label->wordWrap());
    QVERIFY(!label->openExternalLinks());
    QCOMPARE(widget<QProgressBar>("total_ProgressBar")->format(), QStringLiteral("%p%"));
}

void TestLauncherForm::windowIsFramelessAndSeeThrough()
{
    QVERIFY(m_window->isWindow());
    QVERIFY(m_window->windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(m_window->testAttribute(Qt::WA_TranslucentBackground));
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        QCOMPARE(m_window->palette().brush(group, QPalette::Window).color().alpha(), 0);
    QCOMPARE(m_window->styleSheet(), QStringLiteral("QPushButton { border: 0px; }"));

    QWebFrame *frame = widget<QWebView>("webView")->page()->mainFrame();
    QCOMPARE(frame->scrollBarPolicy(Qt::Horizontal), Qt::ScrollBarAlwaysOff);
    QCOMPARE(frame->scrollBarPolicy(Qt::Vertical), Qt::ScrollBarAlwaysOff);

    // Uncovered parts of the window stay see-through when it is drawn.
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    const QImage drawn = m_window->grab().toImage();
    QCOMPARE(qAlpha(drawn.pixel(1015, 795)), 0);
    QCOMPARE(qAlpha(drawn.pixel(500, 100)),
        qAlpha(QImage(QStringLiteral("images/Launcher_bg_lab.png")).pixel(500, 100)));
}

void TestLauncherForm::minimiseAndCloseButtons()
{
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QTest::mouseClick(widget<QPushButton>("minimalPushButton"), Qt::LeftButton);
    QTRY_VERIFY(m_window->isMinimized());

    m_window->showNormal();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QTest::mouseClick(widget<QPushButton>("closePushButton"), Qt::LeftButton);
    QTRY_VERIFY(!m_window->isVisible());
}

QTEST_MAIN(TestLauncherForm)
#include "tst_launcherform.moc"
