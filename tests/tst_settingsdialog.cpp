#include "BoxAnswerer.h"
#include "FormChecks.h"
#include "LauncherFolder.h"
#include "LogFile.h"
#include "SettingsDialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QtTest>

#include <memory>

namespace {

const QString Current = QStringLiteral(" (目前)");
const QList<QSize> TwoSizes {{1024, 768}, {1280, 720}};

// A tool that replaces resolution.dat with the game folder's next.dat, as a re-detection would.
const QByteArray CopyNextDat = "cp \"$(dirname \"$0\")/next.dat\" \"$(dirname \"$0\")/resolution.dat\"\n";

// Keys the tool and the game keep in settings.ini; every save must leave them alone. The Video
// section comes last, for the dialog's keys to follow.
const QByteArray ForeignKeys
    = "[Audio]\nVolume=80\n\n[Settings]\nVersion=1.05\nPlayer=玩家\n\n[Video]\nGamma=3\n";
const QString ForeignKeyNames = QStringLiteral("Audio/Volume Settings/Version Settings/Player Video/Gamma");
const QString ForeignValues = QStringLiteral("80 1.05 玩家 3");
const QString VideoKeys = QStringLiteral(
    "Video/ResolutionWidth Video/ResolutionHeight Video/FullScreen Video/QuickQuality Video/Fog");

} // namespace

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
    void apply_data();
    void apply();
    void listClosesWithoutChoice_data();
    void listClosesWithoutChoice();
    void redetection_data();
    void redetection();
    void resolutionReadingFails_data();
    void resolutionReadingFails();
    void redetectionReadingFailsStops();
    void unwritableSettingsAreReported();
    void missingSettingsUseBuiltInValues();
    void standInToolWritesMissingFiles();

private:
    template<typename T> T *widget(const QString &name) const { return m_dialog->findChild<T *>(name); }
    bool applyEnabled() const { return widget<QWidget>(QStringLiteral("applyPushButton"))->isEnabled(); }
    QString buttonText() const { return widget<QPushButton>(QStringLiteral("resolutionPushButton"))->text(); }
    // resolution.dat (unless null) and settings.ini with the foreign keys and a full-screen size,
    // then the dialog.
    void open(const QByteArray &resolutionDat, QSize size = {1024, 768}, int quality = 1);
    void show(const QPoint *launcherPosition = nullptr);
    void click(const QString &name);
    void chooseRow(int row);
    QStringList rows() const;
    // settings.ini's values of the space-separated keys, "-" for a missing one.
    QString stored(const QString &keys) const;
    QString video() const { return stored(VideoKeys); }
    QByteArray settingsBytes() const { return m_game->readFile(QStringLiteral("settings.ini")); }

    std::unique_ptr<LauncherFolder> m_game;
    std::unique_ptr<BoxAnswerer> m_boxes;
    std::unique_ptr<SettingsDialog> m_dialog;
    QByteArray m_settingsBefore; // settings.ini as the dialog found it
};

void TestSettingsDialog::initTestCase()
{
    qInstallMessageHandler(logMessageHandler);
}

void TestSettingsDialog::init()
{
    m_game = std::make_unique<LauncherFolder>();
    QVERIFY(m_game->isInstalled());
    resetLogFile();
    m_boxes = std::make_unique<BoxAnswerer>();
}

void TestSettingsDialog::cleanup()
{
    m_dialog.reset();
    m_boxes.reset();
    m_game.reset();
}

void TestSettingsDialog::open(const QByteArray &resolutionDat, QSize size, int quality)
{
    if (!resolutionDat.isNull())
        QVERIFY(m_game->writeFile(QStringLiteral("resolution.dat"), resolutionDat));
    QVERIFY(m_game->writeFile(QStringLiteral("settings.ini"),
        ForeignKeys
            + QStringLiteral("ResolutionWidth=%1\nResolutionHeight=%2\nFullScreen=true\nQuickQuality=%3\n")
                  .arg(size.width())
                  .arg(size.height())
                  .arg(quality)
                  .toUtf8()));
    show();
}

void TestSettingsDialog::show(const QPoint *launcherPosition)
{
    m_settingsBefore = settingsBytes();
    m_dialog = std::make_unique<SettingsDialog>(
        nullptr, m_game->path(QStringLiteral("settings.ini")), m_game->gameDir(), launcherPosition);
    m_dialog->show();
    QVERIFY(QTest::qWaitForWindowActive(m_dialog.get()));
}

void TestSettingsDialog::click(const QString &name)
{
    auto *button = widget<QAbstractButton>(name);
    QVERIFY2(button && button->isVisible() && button->isEnabled(), qPrintable(name));
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

QString TestSettingsDialog::stored(const QString &keys) const
{
    const QMap<QString, QString> values = m_game->settingsValues();
    QStringList found;
    for (const QString &key : keys.split(QLatin1Char(' ')))
        found << values.value(key, QStringLiteral("-"));
    return found.join(QLatin1Char(' '));
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
    open(resolutionDat({{1024, 768}}));

    const QString name = QString::fromLatin1(QTest::currentDataTag());
    auto *w = widget<QWidget>(name);
    QVERIFY(w);
    QCOMPARE(w->metaObject()->className(), className.toLatin1());
    QCOMPARE(w->parentWidget(), m_dialog.get());
    QCOMPARE(w->geometry(), geometry);
    QCOMPARE(childStack(m_dialog.get()).indexOf(name), layer);
    if (auto *label = qobject_cast<QLabel *>(w))
        QCOMPARE(label->pixmap(Qt::ReturnByValue).size(), pictureSize);
    // The check boxes' indicator pictures come from the dialog's style sheet.
    const bool checkBox = qobject_cast<QCheckBox *>(w);
    for (const QString &picture : imageUrls((checkBox ? m_dialog.get() : w)->styleSheet()))
        QVERIFY2(pngSize(picture) == pictureSize, qPrintable(picture));
}

void TestSettingsDialog::window()
{
    QVERIFY(m_game->writeFile(QStringLiteral("resolution.dat"), resolutionDat({{1024, 768}})));
    const QPoint launcher(100, 50);
    show(&launcher);
    QCOMPARE(m_dialog->pos(), QPoint(360, 220));
    QCOMPARE(m_dialog->size(), QSize(500, 450));
    QCOMPARE(m_dialog->windowTitle(), QStringLiteral("設置"));
    verifySeeThrough(m_dialog.get());

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
    QTest::addColumn<QByteArray>("dat");
    QTest::addColumn<QSize>("storedSize");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<int>("currentRow"); // the button shows it after three spaces
    QTest::addColumn<QSize>("saved"); // invalid: settings.ini not touched
    const auto row
        = [](const char *name, const QByteArray &dat, QSize stored, const QStringList &rows, int current,
              QSize saved = {}) { QTest::newRow(name) << dat << stored << rows << current << saved; };
    const QString marked = "1280 X 720" + Current;
    row("stored size marked", resolutionDat(TwoSizes), {1280, 720}, {"1024 X 768", marked}, 1);
    row("size no entry has: last entry taken and saved", resolutionDat(TwoSizes), {1920, 1080},
        {"1024 X 768", marked}, 1, {1280, 720});
    row("duplicates all marked, the last is current", resolutionDat({{1280, 720}, {1024, 768}, {1280, 720}}),
        {1280, 720}, {marked, "1024 X 768", marked}, 2);
    row("sizes that are not positive numbers never offered",
        resolutionDatFrom(R"([{"Width":"0","Height":"768"},{"Width":"1280","Height":"-720"},)"
                          R"({"Width":"","Height":"600"},{"Width":"1600","Height":"900"}])"),
        {1024, 768}, {"1600 X 900" + Current}, 0, {1600, 900});
    row("empty list: the fallback entry", resolutionDatFrom("[]"), {1024, 768}, {"1024 X 768" + Current}, 0);
    row("no usable entry: empty list, nothing saved",
        resolutionDatFrom(R"([{"Width":"800"},{"Width":"x","Height":"600"}])"), {1920, 1080}, {}, -1);
}

void TestSettingsDialog::resolutionList()
{
    QFETCH(QByteArray, dat);
    QFETCH(QSize, storedSize);
    QFETCH(QStringList, rows);
    QFETCH(int, currentRow);
    QFETCH(QSize, saved);
    open(dat, storedSize);

    QCOMPARE(this->rows(), rows);
    QCOMPARE(widget<QListWidget>("resolutionListView")->currentRow(), currentRow);
    QCOMPARE(buttonText(), currentRow < 0 ? QStringLiteral("1024 X 768") : "   " + rows.at(currentRow));
    QVERIFY(!applyEnabled());
    QCOMPARE(m_boxes->count(), 0);
    if (rows.isEmpty()) {
        // Choices cannot make it savable; even a direct apply (keyboard default handling, say)
        // writes nothing and announces nothing.
        click("hight");
        click("fullScreenDisabelCheckBox");
        QVERIFY(!applyEnabled());
        m_dialog->accept();
        QTest::qWait(100);
        QCOMPARE(m_boxes->count(), 0);
    }
    if (!saved.isValid()) {
        QCOMPARE(settingsBytes(), m_settingsBefore);
        return;
    }
    QCOMPARE(video(), QStringLiteral("%1 %2 true 1 -").arg(saved.width()).arg(saved.height()));
    QCOMPARE(stored(ForeignKeyNames), ForeignValues);
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
    QList<QSize> sizes;
    for (int i = 0; i < entries; ++i)
        sizes << QSize(1024 + 100 * i, 768);
    open(resolutionDat(sizes));

    auto *view = widget<QListWidget>("resolutionListView");
    QCOMPARE(view->size(), QSize(215, height));
    click("resolutionPushButton");
    QVERIFY(view->isVisible());
    QVERIFY(QTest::qWaitFor([&] { return view->verticalScrollBar()->isVisible() == scrollBar; }, 1000));
    QVERIFY(!view->horizontalScrollBar()->isVisible());
    // Every row is reachable: the last one can be scrolled to and chosen.
    view->scrollToItem(view->item(entries - 1));
    QTest::mouseClick(
        view->viewport(), Qt::LeftButton, {}, view->visualItemRect(view->item(entries - 1)).center());
    QCOMPARE(buttonText(),
        QStringLiteral("   %1 X 768").arg(sizes.last().width()) + (entries == 1 ? Current : ""));
}

// ---- Choosing and applying -------------------------------------------------------------------

void TestSettingsDialog::apply_data()
{
    QTest::addColumn<QString>("other"); // a box, or "row N" of the list
    QTest::addColumn<QString>("original");
    QTest::addColumn<int>("storedQuality");
    QTest::addColumn<QString>("saved"); // the Video values after the other choice is applied
    const auto row = [](const char *name, const char *other, const char *original, int quality,
                         const char *saved) { QTest::newRow(name) << other << original << quality << saved; };
    row("quality", "hight", "middle", 1, "1280 720 true 2 -");
    row("lower quality", "low", "middle", 1, "1280 720 true 0 -");
    row("window mode", "fullScreenDisabelCheckBox", "fullScreenEnabelCheckBox", 1, "1280 720 false 1 -");
    row("resolution", "row 0", "row 1", 1, "1024 768 true 1 -");
    // No box shows a stored level of 5: saving keeps it rather than writing -1.
    row("stored quality without a box", "fullScreenDisabelCheckBox", "fullScreenEnabelCheckBox", 5,
        "1280 720 false 5 -");
}

void TestSettingsDialog::apply()
{
    QFETCH(QString, other);
    QFETCH(QString, original);
    QFETCH(int, storedQuality);
    QFETCH(QString, saved);
    open(resolutionDat(TwoSizes), {1280, 720}, storedQuality); // full screen
    QCOMPARE(widget<QButtonGroup>("QualityGroup")->checkedId(), storedQuality <= 2 ? storedQuality : -1);
    const auto choose = [&](const QString &name) {
        if (name.startsWith(QLatin1String("row ")))
            chooseRow(name.mid(4).toInt());
        else
            click(name);
    };
    // Apply follows the choice: on for another one, off again for the stored one.
    QVERIFY(!applyEnabled());
    choose(other);
    QVERIFY(applyEnabled());
    choose(original);
    QVERIFY(!applyEnabled());

    choose(other);
    click("applyPushButton");
    QCOMPARE(seenBoxes(*m_boxes), QStringList {"Information 訊息提示: 畫面配置已套用成功 [確定]"});
    QVERIFY(m_dialog->isVisible());
    QCOMPARE(m_dialog->result(), int(QDialog::Rejected)); // not accepted: the dialog stays open
    QVERIFY(!applyEnabled());
    // Fog is written only after a re-detection.
    QCOMPARE(video(), saved);
    QCOMPARE(stored(ForeignKeyNames), ForeignValues);
    // The saved size is the one marked.
    const QString marked = saved.section(QLatin1Char(' '), 0, 1).replace(QLatin1Char(' '), " X ") + Current;
    QCOMPARE(rows().filter(Current), QStringList {marked});
    QCOMPARE(buttonText(), "   " + marked);
}

void TestSettingsDialog::listClosesWithoutChoice_data()
{
    QTest::addColumn<QString>("box"); // clicked with the list open; none: a press on the background
    QTest::newRow("press on the background") << QString();
    // The box takes the focus from the list, and still counts.
    QTest::newRow("click on another box") << QStringLiteral("hight");
}

void TestSettingsDialog::listClosesWithoutChoice()
{
    QFETCH(QString, box);
    open(resolutionDat(TwoSizes), {1280, 720});
    auto *list = widget<QListWidget>("resolutionListView");
    auto *button = widget<QPushButton>("resolutionPushButton");
    click("resolutionPushButton");
    QVERIFY(list->isVisible() && list->isEnabled() && list->hasFocus());
    QVERIFY(!button->isEnabled());

    QSignalSpy rejected(m_dialog.get(), &QDialog::rejected);
    const QPoint background(40, 420);
    QCOMPARE(m_dialog->childAt(background), widget<QWidget>("bgImage"));
    if (box.isEmpty())
        QTest::mouseClick(m_dialog->childAt(background), Qt::LeftButton, {}, background);
    else
        click(box);
    QVERIFY(list->isHidden() && !list->isEnabled() && button->isEnabled());
    QCOMPARE(list->currentRow(), 1);
    QCOMPARE(button->text(), "   1280 X 720" + Current);
    QCOMPARE(applyEnabled(), !box.isEmpty());
    QVERIFY(box.isEmpty() || widget<QAbstractButton>(box)->isChecked());
    QVERIFY(m_dialog->isVisible());
    QCOMPARE(rejected.count(), 0);
    // With the list closed the next press opens it again.
    click("resolutionPushButton");
    QVERIFY(list->isVisible());
}

void TestSettingsDialog::redetection_data()
{
    QTest::addColumn<int>("quality"); // recommended by the re-detection
    QTest::addColumn<bool>("fog");
    QTest::addColumn<QString>("checkedBox");
    QTest::addColumn<bool>("applies");
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
    QFETCH(bool, applies);
    QFETCH(QString, word);
    QVERIFY(m_game->writeFile(QStringLiteral("next.dat"), resolutionDat(TwoSizes, quality, fog)));
    QVERIFY(m_game->writeScript(QStringLiteral("hardwaredetect.exe"), CopyNextDat));
    open(resolutionDat({{1024, 768}}));

    click("reDetectionButton");
    QCOMPARE(seenBoxes(*m_boxes),
        QStringList {"Information : 偵測完畢\n系統建議畫面配置為【" + word + "】 [確定]"});
    QVERIFY(m_boxes->boxes().first().flags & Qt::WindowStaysOnTopHint);
    const QByteArray log = m_game->readFile(QStringLiteral("Launcher/debug.log"));
    QVERIFY2(log.split('\n').contains(QStringLiteral("Debug: Detect Quility:  %1").arg(quality).toUtf8()),
        log.constData());
    QCOMPARE(rows(), (QStringList {"1024 X 768" + Current, "1280 X 720"}));
    QVERIFY(widget<QAbstractButton>(checkedBox)->isChecked());
    QVERIFY(widget<QAbstractButton>("fullScreenEnabelCheckBox")->isChecked());
    QCOMPARE(applyEnabled(), applies);
    if (!applies)
        return;

    click("applyPushButton");
    QCOMPARE(m_boxes->count(), 2);
    QCOMPARE(
        video(), QStringLiteral("1024 768 true %1 %2").arg(qMin(quality, 2)).arg(fog ? "true" : "false"));
    QCOMPARE(stored(ForeignKeyNames), ForeignValues);
    QVERIFY(!applyEnabled());

    // The next save, without a re-detection, leaves the fog alone.
    QVERIFY(m_game->writeFile(QStringLiteral("settings.ini"), "[Video]\nQuickQuality=1\n"));
    click("low");
    click("applyPushButton");
    QCOMPARE(m_boxes->count(), 3);
    QCOMPARE(video(), QStringLiteral("1024 768 true 0 -"));
}

// ---- Failures --------------------------------------------------------------------------------

void TestSettingsDialog::resolutionReadingFails_data()
{
    QTest::addColumn<QByteArray>("file"); // null: no resolution.dat
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
    if (!tool.isEmpty())
        QVERIFY(m_game->writeScript(QStringLiteral("hardwaredetect.exe"), tool));
    open(file, {1920, 1080}); // the rejection during construction does not keep the launcher from showing it

    QCOMPARE(seenBoxes(*m_boxes), QStringList {"Warning 警告訊息: 偵測可用解析度失敗 [確定]"});
    QCOMPARE(rows(), QStringList {"1024 X 768"});
    QCOMPARE(buttonText(), QStringLiteral("   1024 X 768"));
    // Merely opening the dialog must not replace the player's 1920 x 1080.
    QCOMPARE(settingsBytes(), m_settingsBefore);
    QVERIFY(!applyEnabled());

    // The fallback can still be chosen deliberately.
    click("hight");
    click("applyPushButton");
    QCOMPARE(m_boxes->count(), 2);
    QCOMPARE(video(), QStringLiteral("1024 768 true 2 -"));
}

void TestSettingsDialog::redetectionReadingFailsStops()
{
    QVERIFY(m_game->writeScript(
        QStringLiteral("hardwaredetect.exe"), "rm -f \"$(dirname \"$0\")/resolution.dat\"\n"));
    open(resolutionDat({{1280, 720}}), {1280, 720});
    QSignalSpy rejected(m_dialog.get(), &QDialog::rejected);

    click("reDetectionButton");
    QCOMPARE(seenBoxes(*m_boxes), QStringList {"Warning 警告訊息: 偵測可用解析度失敗 [確定]"});
    QCOMPARE(rejected.count(), 1);
    QVERIFY(m_dialog->isHidden());
    // No recommendation announced and nothing saved.
    QTest::qWait(100);
    QCOMPARE(m_boxes->count(), 1);
    QVERIFY(!m_game->readFile(QStringLiteral("Launcher/debug.log")).contains("Detect Quility"));
    QCOMPARE(settingsBytes(), m_settingsBefore);
}

void TestSettingsDialog::unwritableSettingsAreReported()
{
    QVERIFY(m_game->writeFile(QStringLiteral("resolution.dat"), resolutionDat({{1024, 768}})));
    // A folder where the file should be: no process, root included, can replace it.
    QVERIFY(m_game->writeFile(QStringLiteral("settings.ini/keep"), "x"));
    show();
    click("low");
    click("applyPushButton");
    QCOMPARE(seenBoxes(*m_boxes), QStringList {"Warning 警告訊息: 畫面配置儲存失敗 [確定]"});
    // Still unsaved: the player can try again.
    QVERIFY(applyEnabled());
    QCOMPARE(rows(), QStringList {"1024 X 768" + Current});
    QVERIFY(m_dialog->isVisible());
}

void TestSettingsDialog::missingSettingsUseBuiltInValues()
{
    QVERIFY(m_game->writeFile(QStringLiteral("resolution.dat"), resolutionDat({{1280, 720}})));
    show(); // no tool: settings.ini stays missing until the list forces a save
    QVERIFY(widget<QAbstractButton>("fullScreenDisabelCheckBox")->isChecked());
    QVERIFY(widget<QAbstractButton>("middle")->isChecked());
    QCOMPARE(rows(), QStringList {"1280 X 720" + Current});
    QCOMPARE(m_game->settingsValues().size(), 4);
    QCOMPARE(video(), QStringLiteral("1280 720 false 1 -"));
}

void TestSettingsDialog::standInToolWritesMissingFiles()
{
    QVERIFY(m_game->installDetectionTool());
    show();
    QCOMPARE(m_boxes->count(), 0);
    QVERIFY(m_game->exists(QStringLiteral("resolution.dat")));
    const QMap<QString, QString> values = m_game->settingsValues();
    QCOMPARE(widget<QButtonGroup>("QualityGroup")->checkedId(), values.value("Video/QuickQuality").toInt());
    QCOMPARE(widget<QButtonGroup>("FullScreenGroup")->checkedId(),
        QVariant(values.value("Video/FullScreen")).toBool() ? 1 : 0);
    // The tool runs offscreen here, where only 1024 x 768 fits, and stores that size.
    QCOMPARE(rows(), QStringList {"1024 X 768" + Current});
    QVERIFY(!applyEnabled());
}

QTEST_MAIN(TestSettingsDialog)
#include "tst_settingsdialog.moc"
