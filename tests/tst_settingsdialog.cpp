#include "BoxAnswerer.h"
#include "GameFolder.h"
#include "SettingsDialog.h"
#include "main.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QImageReader>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSettings>
#include <QtTest>

#include <memory>

// The settings dialog over a real game folder: settings.ini and resolution.dat written by the
// test, the stand-in detection tool or scripted tools, and modal boxes answered as a player would.
class TestSettingsDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void widgets_data();
    void widgets();
    void window();
    void resolutionList_data();
    void resolutionList();
    void listHeight_data();
    void listHeight();
    void applyFollowsChoice_data();
    void applyFollowsChoice();
    void pressOnBackgroundOnlyClosesList();
    void focusLossClosesList();
    void applySavesAndStaysOpen();
    void redetection_data();
    void redetection();
    void resolutionReadingFails_data();
    void resolutionReadingFails();
    void redetectionReadingFailsStops();
    void storedQualityWithoutBoxIsKept();
    void noUsableEntryWritesNothing();
    void unwritableSettingsAreReported();
    void missingSettingsUseBuiltInValues();
    void standInToolWritesMissingFiles();

private:
    template<typename T> T *widget(const QString &name) const { return m_dialog->findChild<T *>(name); }
    void open(const QPoint *position = nullptr);
    void click(const QString &name);
    void chooseRow(int row);
    QStringList rows() const;
    QVariant stored(const QString &key) const;
    bool isStored(const QString &key) const;
    void verifyForeignKeys() const;
    QByteArray settingsBytes() const { return m_game->readFile(QStringLiteral("settings.ini")); }
    void writeSize(int width, int height) const;

    std::unique_ptr<GameFolder> m_game;
    std::unique_ptr<GameFolder::WorkingDirectory> m_cwd;
    std::unique_ptr<BoxAnswerer> m_boxes;
    std::unique_ptr<SettingsDialog> m_dialog;
};

namespace {

const QString Current = QStringLiteral(" (目前)");

QByteArray sizes(std::initializer_list<QSize> list)
{
    QByteArray json = "[";
    for (const QSize &size : list) {
        if (json.size() > 1)
            json += ',';
        json += QStringLiteral("{\"Width\":\"%1\",\"Height\":\"%2\"}")
                    .arg(size.width())
                    .arg(size.height())
                    .toUtf8();
    }
    return json + ']';
}

QByteArray resolutionFile(const QByteArray &outputResolution, int quality = 1, bool fog = false)
{
    return QStringLiteral("{\"defualtQuilty\": %1, \"defualtEnableFog\": %2, \"outputResolution\": ")
               .arg(quality)
               .arg(fog ? QStringLiteral("true") : QStringLiteral("false"))
               .toUtf8()
        + outputResolution + '}';
}

// A tool that replaces resolution.dat with the game folder's next.dat, as a re-detection would.
const QByteArray CopyNextDat = "cp \"$(dirname \"$0\")/next.dat\" \"$(dirname \"$0\")/resolution.dat\"\n";

// Keys the tool and the game keep in settings.ini; every save must leave them alone.
const QByteArray ForeignKeys
    = "[Audio]\nVolume=80\n\n[Settings]\nVersion=1.05\nPlayer=玩家\n\n[Video]\nGamma=3\n";

QStringList imageUrls(const QString &styleSheet)
{
    static const QRegularExpression url(QStringLiteral("url\\(([^)]*)\\)"));
    QStringList urls;
    for (auto it = url.globalMatch(styleSheet); it.hasNext();)
        urls << it.next().captured(1);
    return urls;
}

QSize pictureSize(const QString &path)
{
    QImageReader reader(path); // relative to the launcher directory, as the dialog finds it
    return reader.format() == "png" ? reader.size() : QSize();
}

} // namespace

void TestSettingsDialog::initTestCase()
{
    qInstallMessageHandler(logMessageHandler);
}

void TestSettingsDialog::init()
{
    m_game = std::make_unique<GameFolder>();
    QVERIFY(m_game->installLauncher());
    m_cwd = std::make_unique<GameFolder::WorkingDirectory>(*m_game);
    resetLogFile();
    m_boxes = std::make_unique<BoxAnswerer>();
}

void TestSettingsDialog::cleanup()
{
    m_dialog.reset();
    m_boxes.reset();
    m_cwd.reset();
    m_game.reset();
}

void TestSettingsDialog::open(const QPoint *position)
{
    m_dialog = std::make_unique<SettingsDialog>(
        nullptr, m_game->path(QStringLiteral("settings.ini")), m_game->gameDir(), position);
    m_dialog->show();
    QVERIFY(QTest::qWaitForWindowActive(m_dialog.get()));
}

void TestSettingsDialog::click(const QString &name)
{
    auto *button = widget<QAbstractButton>(name);
    QVERIFY2(button, qPrintable(name));
    QVERIFY2(button->isVisible() && button->isEnabled(), qPrintable(name));
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(13, button->height() / 2));
}

void TestSettingsDialog::chooseRow(int row)
{
    click("resolutionPushButton");
    auto *list = widget<QListWidget>("resolutionListView");
    QVERIFY(list->isVisible());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(row)).center());
    QVERIFY(list->isHidden());
}

QStringList TestSettingsDialog::rows() const
{
    QStringList texts;
    auto *list = widget<QListWidget>("resolutionListView");
    for (int i = 0; i < list->count(); ++i)
        texts << list->item(i)->text();
    return texts;
}

QVariant TestSettingsDialog::stored(const QString &key) const
{
    QSettings settings(m_game->path(QStringLiteral("settings.ini")), QSettings::IniFormat);
    settings.setIniCodec("UTF-8");
    return settings.value(key);
}

bool TestSettingsDialog::isStored(const QString &key) const
{
    return QSettings(m_game->path(QStringLiteral("settings.ini")), QSettings::IniFormat).contains(key);
}

void TestSettingsDialog::verifyForeignKeys() const
{
    QCOMPARE(stored(QStringLiteral("Audio/Volume")).toInt(), 80);
    QCOMPARE(stored(QStringLiteral("Settings/Version")).toString(), QStringLiteral("1.05"));
    QCOMPARE(stored(QStringLiteral("Settings/Player")).toString(), QStringLiteral("玩家"));
    QCOMPARE(stored(QStringLiteral("Video/Gamma")).toInt(), 3);
}

void TestSettingsDialog::writeSize(int width, int height) const
{
    m_game->writeSettings(
        {{QStringLiteral("Video/ResolutionWidth"), width}, {QStringLiteral("Video/ResolutionHeight"), height},
            {QStringLiteral("Video/FullScreen"), true}, {QStringLiteral("Video/QuickQuality"), 1}});
}

// ---- Form ------------------------------------------------------------------------------------

void TestSettingsDialog::widgets_data()
{
    QTest::addColumn<QString>("className");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<int>("layer"); // 0 is the bottom
    QTest::addColumn<QSize>("pictureSize");

    const QSize box(26, 30); // the check-box indicator pictures sit inside their 38 x 51 box
    QTest::newRow("bgImage") << "QLabel" << QRect(0, 0, 550, 450) << 0 << QSize(550, 450);
    QTest::newRow("bgLabel") << "QLabel" << QRect(80, 70, 350, 240) << 1 << QSize(350, 240);
    QTest::newRow("applyPushButton") << "QPushButton" << QRect(280, 330, 119, 48) << 2 << QSize(119, 48);
    // Hidden for good; it shares the re-detect button's wider pictures.
    QTest::newRow("cancelPushButton") << "QPushButton" << QRect(280, 330, 119, 48) << 3 << QSize(135, 48);
    QTest::newRow("closePushButton") << "QPushButton" << QRect(430, 10, 69, 69) << 4 << QSize(69, 69);
    QTest::newRow("fullScreenEnabelCheckBox") << "QCheckBox" << QRect(190, 200, 38, 51) << 5 << box;
    QTest::newRow("fullScreenDisabelCheckBox") << "QCheckBox" << QRect(280, 200, 38, 51) << 6 << box;
    QTest::newRow("low") << "QCheckBox" << QRect(370, 270, 38, 51) << 7 << box;
    QTest::newRow("middle") << "QCheckBox" << QRect(280, 270, 38, 51) << 8 << box;
    QTest::newRow("hight") << "QCheckBox" << QRect(190, 270, 38, 51) << 9 << box;
    QTest::newRow("resolutionPushButton")
        << "QPushButton" << QRect(180, 140, 251, 39) << 10 << QSize(251, 39);
    QTest::newRow("resolutionListView") << "QListWidget" << QRect(180, 170, 215, 24) << 11 << QSize();
    QTest::newRow("reDetectionButton") << "QPushButton" << QRect(90, 330, 135, 48) << 12 << QSize(135, 48);
}

void TestSettingsDialog::widgets()
{
    QFETCH(QString, className);
    QFETCH(QRect, geometry);
    QFETCH(int, layer);
    QFETCH(QSize, pictureSize);
    QVERIFY(m_game->writeFile(QStringLiteral("resolution.dat"), resolutionFile(sizes({{1024, 768}}))));
    writeSize(1024, 768);
    open();

    const QString name = QString::fromLatin1(QTest::currentDataTag());
    auto *w = m_dialog->findChild<QWidget *>(name);
    QVERIFY(w);
    QCOMPARE(w->metaObject()->className(), className.toLatin1());
    QCOMPARE(w->parentWidget(), m_dialog.get());
    QCOMPARE(w->geometry(), geometry);

    QList<QWidget *> stack;
    for (QObject *child : m_dialog->children()) {
        if (child->isWidgetType())
            stack << static_cast<QWidget *>(child);
    }
    QCOMPARE(stack.indexOf(w), layer);

    QStringList pictures = imageUrls(w->styleSheet());
    if (auto *label = qobject_cast<QLabel *>(w)) {
        QVERIFY(!label->pixmap(Qt::ReturnByValue).isNull());
        QCOMPARE(label->pixmap(Qt::ReturnByValue).size(), pictureSize);
    }
    if (qobject_cast<QCheckBox *>(w))
        pictures = imageUrls(m_dialog->styleSheet());
    for (const QString &picture : qAsConst(pictures))
        QVERIFY2(::pictureSize(picture) == pictureSize, qPrintable(picture));
}

void TestSettingsDialog::window()
{
    QVERIFY(m_game->writeFile(QStringLiteral("resolution.dat"), resolutionFile(sizes({{1024, 768}}))));
    writeSize(1024, 768);
    const QPoint launcher(100, 50);
    open(&launcher);

    QCOMPARE(m_dialog->pos(), QPoint(360, 220));
    QCOMPARE(m_dialog->size(), QSize(500, 450));
    QCOMPARE(m_dialog->windowTitle(), QStringLiteral("設置"));
    QVERIFY(m_dialog->windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(m_dialog->testAttribute(Qt::WA_TranslucentBackground));
    QCOMPARE(m_dialog->palette().color(QPalette::Inactive, QPalette::Window).alpha(), 0);

    auto *fullScreen = widget<QButtonGroup>("FullScreenGroup");
    auto *quality = widget<QButtonGroup>("QualityGroup");
    QVERIFY(fullScreen && quality);
    QVERIFY(fullScreen->exclusive() && quality->exclusive());
    QCOMPARE(fullScreen->button(0), widget<QAbstractButton>("fullScreenDisabelCheckBox"));
    QCOMPARE(fullScreen->button(1), widget<QAbstractButton>("fullScreenEnabelCheckBox"));
    QCOMPARE(quality->button(0), widget<QAbstractButton>("low"));
    QCOMPARE(quality->button(1), widget<QAbstractButton>("middle"));
    QCOMPARE(quality->button(2), widget<QAbstractButton>("hight"));

    QVERIFY(widget<QWidget>("cancelPushButton")->isHidden());
    QVERIFY(widget<QWidget>("resolutionListView")->isHidden());
    QVERIFY(!widget<QWidget>("applyPushButton")->isEnabled());

    QSignalSpy rejected(m_dialog.get(), &QDialog::rejected);
    click("closePushButton");
    QCOMPARE(rejected.count(), 1);
    QVERIFY(m_dialog->isHidden());

    // Without a launcher position the dialog is left where the window system puts it.
    m_dialog = std::make_unique<SettingsDialog>(
        nullptr, m_game->path(QStringLiteral("settings.ini")), m_game->gameDir(), nullptr);
    QVERIFY(!m_dialog->testAttribute(Qt::WA_Moved));
}

// ---- Resolution list -------------------------------------------------------------------------

void TestSettingsDialog::resolutionList_data()
{
    QTest::addColumn<QByteArray>("outputResolution");
    QTest::addColumn<QSize>("storedSize");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<int>("currentRow");
    QTest::addColumn<QString>("buttonText");
    QTest::addColumn<QSize>("saved"); // invalid: settings.ini not touched

    QTest::newRow("stored size marked")
        << sizes({{1024, 768}, {1280, 720}}) << QSize(1280, 720)
        << QStringList {"1024 X 768", "1280 X 720" + Current} << 1 << "   1280 X 720" + Current << QSize();
    QTest::newRow("size no entry has: last entry taken and saved")
        << sizes({{1024, 768}, {1280, 720}}) << QSize(1920, 1080)
        << QStringList {"1024 X 768", "1280 X 720" + Current} << 1 << "   1280 X 720" + Current
        << QSize(1280, 720);
    QTest::newRow("duplicates all marked, the last is current")
        << sizes({{1280, 720}, {1024, 768}, {1280, 720}}) << QSize(1280, 720)
        << QStringList {"1280 X 720" + Current, "1024 X 768", "1280 X 720" + Current} << 2
        << "   1280 X 720" + Current << QSize();
    QTest::newRow("sizes that are not positive numbers never offered")
        << QByteArray(R"([{"Width":"0","Height":"768"},{"Width":"1280","Height":"-720"},)"
                      R"({"Width":"","Height":"600"},{"Width":"1600","Height":"900"}])")
        << QSize(1024, 768) << QStringList {"1600 X 900" + Current} << 0 << "   1600 X 900" + Current
        << QSize(1600, 900);
    QTest::newRow("empty list: the fallback entry")
        << QByteArray("[]") << QSize(1024, 768) << QStringList {"1024 X 768" + Current} << 0
        << "   1024 X 768" + Current << QSize();
    QTest::newRow("no usable entry: empty list, nothing saved")
        << QByteArray(R"([{"Width":"800"},{"Width":"x","Height":"600"}])") << QSize(1920, 1080)
        << QStringList() << -1 << "1024 X 768" << QSize();
}

void TestSettingsDialog::resolutionList()
{
    QFETCH(QByteArray, outputResolution);
    QFETCH(QSize, storedSize);
    QFETCH(QStringList, rows);
    QFETCH(int, currentRow);
    QFETCH(QString, buttonText);
    QFETCH(QSize, saved);
    QVERIFY(m_game->writeFile(QStringLiteral("resolution.dat"), resolutionFile(outputResolution)));
    QVERIFY(m_game->writeFile(QStringLiteral("settings.ini"), ForeignKeys));
    writeSize(storedSize.width(), storedSize.height());
    const QByteArray before = settingsBytes();
    open();

    QCOMPARE(this->rows(), rows);
    QCOMPARE(widget<QListWidget>("resolutionListView")->currentRow(), currentRow);
    QCOMPARE(widget<QPushButton>("resolutionPushButton")->text(), buttonText);
    QVERIFY(!widget<QWidget>("applyPushButton")->isEnabled());
    QCOMPARE(m_boxes->count(), 0);
    if (!saved.isValid()) {
        QCOMPARE(settingsBytes(), before);
        return;
    }
    QCOMPARE(stored(QStringLiteral("Video/ResolutionWidth")).toInt(), saved.width());
    QCOMPARE(stored(QStringLiteral("Video/ResolutionHeight")).toInt(), saved.height());
    QCOMPARE(stored(QStringLiteral("Video/QuickQuality")).toInt(), 1);
    QVERIFY(!isStored(QStringLiteral("Video/Fog")));
    verifyForeignKeys();
}

void TestSettingsDialog::listHeight_data()
{
    QTest::addColumn<int>("entries");
    QTest::addColumn<int>("height");
    QTest::addColumn<bool>("scrollBar");
    QTest::newRow("one") << 1 << 24 << false;
    QTest::newRow("three") << 3 << 64 << false;
    QTest::newRow("six") << 6 << 124 << false;
    QTest::newRow("eight") << 8 << 124 << true;
}

void TestSettingsDialog::listHeight()
{
    QFETCH(int, entries);
    QFETCH(int, height);
    QFETCH(bool, scrollBar);
    QByteArray list = "[";
    for (int i = 0; i < entries; ++i)
        list += QStringLiteral("%1{\"Width\":\"%2\",\"Height\":\"768\"}")
                    .arg(i ? "," : "")
                    .arg(1024 + 100 * i)
                    .toUtf8();
    QVERIFY(m_game->writeFile(QStringLiteral("resolution.dat"), resolutionFile(list + ']')));
    writeSize(1024, 768);
    open();

    auto *view = widget<QListWidget>("resolutionListView");
    QCOMPARE(view->height(), height);
    QCOMPARE(view->width(), 215);
    click("resolutionPushButton");
    QVERIFY(view->isVisible());
    QVERIFY(QTest::qWaitFor([&] { return view->verticalScrollBar()->isVisible() == scrollBar; }, 1000));
    QVERIFY(!view->horizontalScrollBar()->isVisible());
    // Every row is reachable: the last one can be scrolled to and chosen.
    view->scrollToItem(view->item(entries - 1));
    QTest::mouseClick(
        view->viewport(), Qt::LeftButton, {}, view->visualItemRect(view->item(entries - 1)).center());
    QCOMPARE(widget<QPushButton>("resolutionPushButton")->text(),
        QStringLiteral("   %1 X 768").arg(1024 + 100 * (entries - 1)) + (entries == 1 ? Current : QString()));
}

// ---- Choosing and applying -------------------------------------------------------------------

void TestSettingsDialog::applyFollowsChoice_data()
{
    QTest::addColumn<QString>("other"); // a box name, or "row" for the list's other entry
    QTest::addColumn<QString>("original");
    QTest::newRow("quality") << "hight"
                             << "middle";
    QTest::newRow("lower quality") << "low"
                                   << "middle";
    QTest::newRow("window mode") << "fullScreenDisabelCheckBox"
                                 << "fullScreenEnabelCheckBox";
    QTest::newRow("resolution") << "row"
                                << "row";
}

void TestSettingsDialog::applyFollowsChoice()
{
    QFETCH(QString, other);
    QFETCH(QString, original);
    QVERIFY(m_game->writeFile(
        QStringLiteral("resolution.dat"), resolutionFile(sizes({{1024, 768}, {1280, 720}}))));
    writeSize(1280, 720); // full screen, quality 1
    open();
    auto *apply = widget<QPushButton>("applyPushButton");
    QVERIFY(!apply->isEnabled());

    if (other == QLatin1String("row"))
        chooseRow(0);
    else
        click(other);
    QVERIFY(apply->isEnabled());
    if (other == QLatin1String("row")) {
        QCOMPARE(widget<QPushButton>("resolutionPushButton")->text(), QStringLiteral("   1024 X 768"));
        chooseRow(1);
    } else {
        click(original);
    }
    QVERIFY(!apply->isEnabled());
}

void TestSettingsDialog::pressOnBackgroundOnlyClosesList()
{
    QVERIFY(m_game->writeFile(
        QStringLiteral("resolution.dat"), resolutionFile(sizes({{1024, 768}, {1280, 720}}))));
    writeSize(1280, 720);
    open();
    auto *list = widget<QListWidget>("resolutionListView");
    auto *button = widget<QPushButton>("resolutionPushButton");

    click("resolutionPushButton");
    QVERIFY(list->isVisible() && list->isEnabled());
    QVERIFY(!button->isEnabled());
    QVERIFY(list->hasFocus());

    const QPoint background(40, 420);
    QWidget *under = m_dialog->childAt(background);
    QCOMPARE(under, widget<QWidget>("bgImage"));
    QSignalSpy rejected(m_dialog.get(), &QDialog::rejected);
    QTest::mouseClick(under, Qt::LeftButton, {}, background);
    QVERIFY(list->isHidden() && !list->isEnabled());
    QVERIFY(button->isEnabled());
    QCOMPARE(list->currentRow(), 1);
    QCOMPARE(button->text(), "   1280 X 720" + Current);
    QVERIFY(!widget<QWidget>("applyPushButton")->isEnabled());
    QVERIFY(m_dialog->isVisible());
    QCOMPARE(rejected.count(), 0);

    // With the list closed the next press opens it again.
    click("resolutionPushButton");
    QVERIFY(list->isVisible());
}

void TestSettingsDialog::focusLossClosesList()
{
    QVERIFY(m_game->writeFile(
        QStringLiteral("resolution.dat"), resolutionFile(sizes({{1024, 768}, {1280, 720}}))));
    writeSize(1280, 720);
    open();
    auto *list = widget<QListWidget>("resolutionListView");

    click("resolutionPushButton");
    QVERIFY(list->hasFocus());
    // A click on another box takes the focus: the list closes and the box still counts.
    click("hight");
    QVERIFY(list->isHidden());
    QVERIFY(widget<QAbstractButton>("hight")->isChecked());
    QVERIFY(widget<QWidget>("applyPushButton")->isEnabled());
    QVERIFY(widget<QWidget>("resolutionPushButton")->isEnabled());
}

void TestSettingsDialog::applySavesAndStaysOpen()
{
    QVERIFY(m_game->writeFile(
        QStringLiteral("resolution.dat"), resolutionFile(sizes({{1024, 768}, {1280, 720}}))));
    QVERIFY(m_game->writeFile(QStringLiteral("settings.ini"), ForeignKeys));
    writeSize(1280, 720);
    open();

    chooseRow(0);
    click("fullScreenDisabelCheckBox");
    click("low");
    click("applyPushButton");

    QCOMPARE(m_boxes->count(), 1);
    const BoxAnswerer::Box box = m_boxes->boxes().first();
    QCOMPARE(box.text, QStringLiteral("畫面配置已套用成功"));
    QCOMPARE(box.title, QStringLiteral("訊息提示"));
    QCOMPARE(box.icon, QMessageBox::Information);
    QCOMPARE(box.buttons, QStringList {QStringLiteral("確定")});
    QVERIFY(m_dialog->isVisible());
    QCOMPARE(m_dialog->result(), int(QDialog::Rejected)); // not accepted: the dialog stays open
    QVERIFY(!widget<QWidget>("applyPushButton")->isEnabled());
    QCOMPARE(rows(), (QStringList {"1024 X 768" + Current, "1280 X 720"}));
    QCOMPARE(widget<QPushButton>("resolutionPushButton")->text(), "   1024 X 768" + Current);

    QCOMPARE(stored(QStringLiteral("Video/ResolutionWidth")).toInt(), 1024);
    QCOMPARE(stored(QStringLiteral("Video/ResolutionHeight")).toInt(), 768);
    QCOMPARE(stored(QStringLiteral("Video/FullScreen")).toString(), QStringLiteral("false"));
    QCOMPARE(stored(QStringLiteral("Video/QuickQuality")).toInt(), 0);
    // Fog is written only after a re-detection.
    QVERIFY(!isStored(QStringLiteral("Video/Fog")));
    verifyForeignKeys();
}

void TestSettingsDialog::redetection_data()
{
    QTest::addColumn<int>("quality"); // recommended by the re-detection
    QTest::addColumn<bool>("fog");
    QTest::addColumn<QString>("checkedBox");
    QTest::addColumn<bool>("applyEnabled");
    QTest::addColumn<QString>("word");

    // settings.ini: quality 1, fog off
    QTest::newRow("other fog only") << 1 << true << "middle" << true << "中";
    QTest::newRow("same recommendation") << 1 << false << "middle" << false << "中";
    QTest::newRow("other quality") << 2 << false << "hight" << true << "高";
    QTest::newRow("level without a box") << 7 << false << "middle" << false << "";
}

void TestSettingsDialog::redetection()
{
    QFETCH(int, quality);
    QFETCH(bool, fog);
    QFETCH(QString, checkedBox);
    QFETCH(bool, applyEnabled);
    QFETCH(QString, word);
    QVERIFY(m_game->writeFile(QStringLiteral("resolution.dat"), resolutionFile(sizes({{1024, 768}}))));
    QVERIFY(m_game->writeFile(
        QStringLiteral("next.dat"), resolutionFile(sizes({{1024, 768}, {1280, 720}}), quality, fog)));
    QVERIFY(m_game->writeScript(QStringLiteral("hardwaredetect.exe"), CopyNextDat));
    QVERIFY(m_game->writeFile(QStringLiteral("settings.ini"), ForeignKeys));
    writeSize(1024, 768);
    open();

    click("reDetectionButton");
    QCOMPARE(m_boxes->count(), 1);
    const BoxAnswerer::Box box = m_boxes->boxes().first();
    QCOMPARE(box.text, QStringLiteral("偵測完畢\n系統建議畫面配置為【") + word + QStringLiteral("】"));
    QCOMPARE(box.title, QString());
    QCOMPARE(box.icon, QMessageBox::Information);
    QVERIFY(box.flags & Qt::WindowStaysOnTopHint);
    const QByteArray log = m_game->readFile(QStringLiteral("Launcher/debug.log"));
    QVERIFY2(log.split('\n').contains(QStringLiteral("Debug: Detect Quility:  %1").arg(quality).toUtf8()),
        log.constData());

    QCOMPARE(rows(), (QStringList {"1024 X 768" + Current, "1280 X 720"}));
    QVERIFY(widget<QAbstractButton>(checkedBox)->isChecked());
    QVERIFY(widget<QAbstractButton>("fullScreenEnabelCheckBox")->isChecked());
    QCOMPARE(widget<QWidget>("applyPushButton")->isEnabled(), applyEnabled);
    if (!applyEnabled)
        return;

    click("applyPushButton");
    QCOMPARE(m_boxes->count(), 2);
    QCOMPARE(stored(QStringLiteral("Video/Fog")).toString(),
        fog ? QStringLiteral("true") : QStringLiteral("false"));
    QCOMPARE(stored(QStringLiteral("Video/QuickQuality")).toInt(), qMin(quality, 2));
    verifyForeignKeys();
    QVERIFY(!widget<QWidget>("applyPushButton")->isEnabled());

    // The next save, without a re-detection, leaves the fog alone.
    QVERIFY(m_game->writeFile(QStringLiteral("settings.ini"), "[Video]\nQuickQuality=1\n"));
    click("low");
    click("applyPushButton");
    QCOMPARE(m_boxes->count(), 3);
    QVERIFY(!isStored(QStringLiteral("Video/Fog")));
}

// ---- Failures --------------------------------------------------------------------------------

void TestSettingsDialog::resolutionReadingFails_data()
{
    QTest::addColumn<QByteArray>("file"); // empty: no resolution.dat
    QTest::addColumn<QByteArray>("tool"); // empty: no tool

    QTest::newRow("file and tool missing") << QByteArray() << QByteArray();
    QTest::newRow("tool writes nothing") << QByteArray() << QByteArray("exit 0\n");
    QTest::newRow("not JSON") << QByteArray("\x89PNG garbage") << QByteArray();
    QTest::newRow("outputResolution missing") << QByteArray(R"({"defualtQuilty": 2})") << QByteArray();
}

void TestSettingsDialog::resolutionReadingFails()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, tool);
    if (!file.isEmpty())
        QVERIFY(m_game->writeFile(QStringLiteral("resolution.dat"), file));
    if (!tool.isEmpty())
        QVERIFY(m_game->writeScript(QStringLiteral("hardwaredetect.exe"), tool));
    QVERIFY(m_game->writeFile(QStringLiteral("settings.ini"), ForeignKeys));
    writeSize(1920, 1080);
    const QByteArray before = settingsBytes();

    open(); // the rejection during construction does not keep the launcher from showing it
    QCOMPARE(m_boxes->count(), 1);
    QCOMPARE(m_boxes->boxes().first().title, QStringLiteral("警告訊息"));
    QCOMPARE(m_boxes->boxes().first().text, QStringLiteral("偵測可用解析度失敗"));
    QCOMPARE(rows(), QStringList {"1024 X 768"});
    QCOMPARE(widget<QPushButton>("resolutionPushButton")->text(), QStringLiteral("   1024 X 768"));
    // Merely opening the dialog must not replace the player's 1920 x 1080.
    QCOMPARE(settingsBytes(), before);
    QVERIFY(!widget<QWidget>("applyPushButton")->isEnabled());

    // The fallback can still be chosen deliberately.
    click("hight");
    click("applyPushButton");
    QCOMPARE(m_boxes->count(), 2);
    QCOMPARE(stored(QStringLiteral("Video/ResolutionWidth")).toInt(), 1024);
    QCOMPARE(stored(QStringLiteral("Video/QuickQuality")).toInt(), 2);
}

void TestSettingsDialog::redetectionReadingFailsStops()
{
    QVERIFY(m_game->writeFile(QStringLiteral("resolution.dat"), resolutionFile(sizes({{1280, 720}}))));
    QVERIFY(m_game->writeScript(
        QStringLiteral("hardwaredetect.exe"), "rm -f \"$(dirname \"$0\")/resolution.dat\"\n"));
    writeSize(1280, 720);
    const QByteArray before = settingsBytes();
    open();
    QSignalSpy rejected(m_dialog.get(), &QDialog::rejected);

    click("reDetectionButton");
    QCOMPARE(m_boxes->count(), 1);
    QCOMPARE(m_boxes->boxes().first().text, QStringLiteral("偵測可用解析度失敗"));
    QCOMPARE(rejected.count(), 1);
    QVERIFY(m_dialog->isHidden());
    // No recommendation announced and nothing saved.
    QTest::qWait(100);
    QCOMPARE(m_boxes->count(), 1);
    QVERIFY(!m_game->readFile(QStringLiteral("Launcher/debug.log")).contains("Detect Quility"));
    QCOMPARE(settingsBytes(), before);
}

void TestSettingsDialog::storedQualityWithoutBoxIsKept()
{
    QVERIFY(m_game->writeFile(QStringLiteral("resolution.dat"), resolutionFile(sizes({{1024, 768}}))));
    m_game->writeSettings(
        {{QStringLiteral("Video/ResolutionWidth"), 1024}, {QStringLiteral("Video/ResolutionHeight"), 768},
            {QStringLiteral("Video/FullScreen"), true}, {QStringLiteral("Video/QuickQuality"), 5}});
    open();
    QCOMPARE(widget<QButtonGroup>("QualityGroup")->checkedId(), -1);

    auto *apply = widget<QWidget>("applyPushButton");
    click("fullScreenDisabelCheckBox");
    QVERIFY(apply->isEnabled());
    click("fullScreenEnabelCheckBox");
    QVERIFY(!apply->isEnabled());
    click("fullScreenDisabelCheckBox");
    click("applyPushButton");
    QCOMPARE(m_boxes->count(), 1);
    QCOMPARE(stored(QStringLiteral("Video/QuickQuality")).toInt(), 5);
    QCOMPARE(stored(QStringLiteral("Video/FullScreen")).toString(), QStringLiteral("false"));
    QVERIFY(!apply->isEnabled());
}

void TestSettingsDialog::noUsableEntryWritesNothing()
{
    QVERIFY(m_game->writeFile(QStringLiteral("resolution.dat"), resolutionFile(R"([{"Height":"768"}])")));
    writeSize(1024, 768);
    const QByteArray before = settingsBytes();
    open();
    auto *apply = widget<QPushButton>("applyPushButton");

    click("hight");
    click("fullScreenDisabelCheckBox");
    QVERIFY(!apply->isEnabled());
    // Even a direct apply (keyboard default handling, say) writes nothing and announces nothing.
    m_dialog->accept();
    QTest::qWait(100);
    QCOMPARE(m_boxes->count(), 0);
    QCOMPARE(settingsBytes(), before);
    QVERIFY(!apply->isEnabled());
}

void TestSettingsDialog::unwritableSettingsAreReported()
{
    QVERIFY(m_game->writeFile(QStringLiteral("resolution.dat"), resolutionFile(sizes({{1024, 768}}))));
    // A folder where the file should be: no process, root included, can replace it.
    QVERIFY(m_game->writeFile(QStringLiteral("settings.ini/keep"), "x"));
    open();
    auto *apply = widget<QWidget>("applyPushButton");

    click("low");
    click("applyPushButton");
    QCOMPARE(m_boxes->count(), 1);
    const BoxAnswerer::Box box = m_boxes->boxes().first();
    QCOMPARE(box.title, QStringLiteral("警告訊息"));
    QCOMPARE(box.text, QStringLiteral("畫面配置儲存失敗"));
    QCOMPARE(box.icon, QMessageBox::Warning);
    // Still unsaved: the player can try again.
    QVERIFY(apply->isEnabled());
    QCOMPARE(rows(), QStringList {"1024 X 768" + Current});
    QVERIFY(m_dialog->isVisible());
}

void TestSettingsDialog::missingSettingsUseBuiltInValues()
{
    QVERIFY(m_game->writeFile(QStringLiteral("resolution.dat"), resolutionFile(sizes({{1280, 720}}))));
    open(); // no tool: settings.ini stays missing until the list forces a save

    QVERIFY(widget<QAbstractButton>("fullScreenDisabelCheckBox")->isChecked());
    QVERIFY(widget<QAbstractButton>("middle")->isChecked());
    QCOMPARE(rows(), QStringList {"1280 X 720" + Current});
    QCOMPARE(
        QSettings(m_game->path(QStringLiteral("settings.ini")), QSettings::IniFormat).allKeys().size(), 4);
    QCOMPARE(stored(QStringLiteral("Video/ResolutionWidth")).toInt(), 1280);
    QCOMPARE(stored(QStringLiteral("Video/ResolutionHeight")).toInt(), 720);
    QCOMPARE(stored(QStringLiteral("Video/FullScreen")).toString(), QStringLiteral("false"));
    QCOMPARE(stored(QStringLiteral("Video/QuickQuality")).toInt(), 1);
}

void TestSettingsDialog::standInToolWritesMissingFiles()
{
    QVERIFY(m_game->installDetectionTool());
    open();

    QCOMPARE(m_boxes->count(), 0);
    QVERIFY(m_game->exists(QStringLiteral("resolution.dat")));
    const int quality = stored(QStringLiteral("Video/QuickQuality")).toInt();
    QCOMPARE(widget<QButtonGroup>("QualityGroup")->checkedId(), quality);
    QCOMPARE(widget<QButtonGroup>("FullScreenGroup")->checkedId(),
        stored(QStringLiteral("Video/FullScreen")).toBool() ? 1 : 0);
    // The tool runs offscreen here, where only 1024 x 768 fits, and stores that size.
    QCOMPARE(rows(), QStringList {"1024 X 768" + Current});
    QVERIFY(!widget<QWidget>("applyPushButton")->isEnabled());
}

QTEST_MAIN(TestSettingsDialog)
#include "tst_settingsdialog.moc"
