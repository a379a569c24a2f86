#include "BoxAnswerer.h"
#include "FormChecks.h"
#include "LauncherFolder.h"
#include "SettingsDialog.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QListWidget>
#include <QtTest>

const QString Current = " (目前)";
const QList<QSize> TwoSizes {{1024, 768}, {1280, 720}};
const QString Marked = "1280 X 720" + Current;

// The settings dialog over a real game folder: settings.ini and resolution.dat written by the
// test or by scripted tools, and modal boxes answered as a player would.
class TestSettingsDialog : public QObject
{
    Q_OBJECT

    std::unique_ptr<LauncherFolder> m_game;
    std::unique_ptr<BoxAnswerer> m_boxes;
    std::unique_ptr<SettingsDialog> m_dialog;
    QByteArray m_before; // settings.ini as the dialog found it

    // resolution.dat (unless null), settings.ini with a full-screen size (unless invalid), then
    // the dialog, opened from a launcher at (100, 50).
    void open(const QByteArray &dat, QSize size = {1024, 768}, int quality = 1)
    {
        QVERIFY(dat.isNull() || m_game->writeFile("resolution.dat", dat));
        QVERIFY(!size.isValid()
            || m_game->writeFile("settings.ini",
                QString(
                    "[Video]\nResolutionWidth=%1\nResolutionHeight=%2\nFullScreen=true\nQuickQuality=%3\n")
                    .arg(size.width())
                    .arg(size.height())
                    .arg(quality)
                    .toUtf8()));
        m_before = m_game->readFile("settings.ini");
        const QPoint launcher(100, 50);
        m_dialog = std::make_unique<SettingsDialog>(
            nullptr, m_game->path("settings.ini"), m_game->gameDir(), &launcher);
        QCOMPARE(m_dialog->pos(), launcher + QPoint(260, 170));
        m_dialog->show();
        QVERIFY(QTest::qWaitForWindowActive(m_dialog.get()));
    }
    QAbstractButton *button(const QString &name) const
    {
        return m_dialog->findChild<QAbstractButton *>(name);
    }
    QListWidget *list() const { return m_dialog->findChild<QListWidget *>(); }
    void click(const QString &name)
    {
        QVERIFY2(button(name)->isVisible() && button(name)->isEnabled(), qPrintable(name));
        QTest::mouseClick(button(name), Qt::LeftButton, {}, QPoint(13, button(name)->height() / 2));
    }
    // A box or a button, or "row N" of the list.
    void choose(const QString &name)
    {
        if (!name.startsWith("row "))
            return click(name);
        click("resolutionPushButton");
        const QRect row = list()->visualItemRect(list()->item(name.mid(4).toInt()));
        QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, row.center());
        QVERIFY(list()->isHidden());
    }
    // The list's rows, the button's text and whether apply is on.
    QString shown() const
    {
        QStringList rows;
        for (int i = 0; i < list()->count(); ++i)
            rows << list()->item(i)->text();
        return rows.join(", ") + " [" + button("resolutionPushButton")->text() + "] apply "
            + (button("applyPushButton")->isEnabled() ? "on" : "off");
    }
    // settings.ini's values of the dialog, "-" for a missing one.
    QString stored() const
    {
        QStringList values;
        for (const char *key : {"ResolutionWidth", "ResolutionHeight", "FullScreen", "QuickQuality", "Fog"})
            values << m_game->settingsValues().value("Video/" + QLatin1String(key), "-");
        return values.join(' ');
    }

private slots:
    void init()
    {
        m_game = std::make_unique<LauncherFolder>();
        QVERIFY(m_game->isInstalled());
        m_boxes = std::make_unique<BoxAnswerer>();
    }
    void cleanup()
    {
        m_dialog.reset();
        m_boxes.reset();
        m_game.reset();
    }

    void resolutionList_data()
    {
        QTest::addColumn<QByteArray>("dat");
        QTest::addColumn<QSize>("size"); // stored; invalid: no settings.ini
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("saved"); // empty: settings.ini not touched
        const QString both = "1024 X 768, " + Marked + " [   " + Marked + "] apply off";
        QTest::newRow("stored size marked") << resolutionDat(TwoSizes) << QSize(1280, 720) << both << "";
        QTest::newRow("size no entry has: last one saved")
            << resolutionDat(TwoSizes) << QSize(1920, 1080) << both << "1280 720 true 1 -";
        QTest::newRow("no settings.ini: built-in values")
            << resolutionDat({{1280, 720}}) << QSize() << Marked + " [   " + Marked + "] apply off"
            << "1280 720 false 1 -";
        QTest::newRow("duplicates all marked, the last is current")
            << resolutionDat({{1280, 720}, {1024, 768}, {1280, 720}}) << QSize(1280, 720)
            << Marked + ", 1024 X 768, " + Marked + " [   " + Marked + "] apply off"
            << "";
        QTest::newRow("sizes not positive numbers never offered")
            << resolutionDatFrom(R"([{"Width":"0","Height":"768"},{"Width":"1280","Height":"-720"},)"
                                 R"({"Width":"","Height":"600"},{"Width":"1600","Height":"900"}])")
            << QSize(1024, 768) << "1600 X 900" + Current + " [   1600 X 900" + Current + "] apply off"
            << "1600 900 true 1 -";
        QTest::newRow("empty list: the fallback entry")
            << resolutionDatFrom("[]") << QSize(1024, 768)
            << "1024 X 768" + Current + " [   1024 X 768" + Current + "] apply off"
            << "";
        // Choices cannot make it savable; even a direct apply writes and announces nothing.
        QTest::newRow("no usable entry: nothing saved")
            << resolutionDatFrom(R"([{"Width":"800"},{"Width":"x","Height":"600"}])") << QSize(1920, 1080)
            << " [1024 X 768] apply off"
            << "";
    }
    void resolutionList()
    {
        QFETCH(QByteArray, dat);
        QFETCH(QSize, size);
        QFETCH(QString, shown);
        QFETCH(QString, saved);
        open(dat, size);
        verifyPictures(m_dialog.get());
        verifySeeThrough(m_dialog.get());
        QCOMPARE(this->shown(), shown);
        // One row height, whatever font draws the marker: the list's height counts with it.
        for (int i = 0; i < list()->count(); ++i)
            QCOMPARE(list()->sizeHintForRow(i), 20);
        if (list()->count() == 0) {
            click("hight");
            m_dialog->accept();
            QVERIFY(this->shown().endsWith("off"));
        }
        QCOMPARE(m_boxes->count(), 0);
        if (saved.isEmpty())
            QCOMPARE(m_game->readFile("settings.ini"), m_before);
        else
            QCOMPARE(stored(), saved);
    }

    void apply_data()
    {
        QTest::addColumn<QString>("other"); // a box, or "row N" of the list
        QTest::addColumn<QString>("original");
        QTest::addColumn<int>("quality"); // stored
        QTest::addColumn<QString>("saved"); // fog only after a re-detection
        const QString fullScreen = "fullScreenEnabelCheckBox", window = "fullScreenDisabelCheckBox";
        QTest::newRow("quality") << "hight"
                                 << "middle" << 1 << "1280 720 true 2 -";
        QTest::newRow("window mode") << window << fullScreen << 1 << "1280 720 false 1 -";
        QTest::newRow("resolution") << "row 0"
                                    << "row 1" << 1 << "1024 768 true 1 -";
        // No box shows a stored level of 5: saving keeps it rather than writing -1.
        QTest::newRow("stored quality without a box") << window << fullScreen << 5 << "1280 720 false 5 -";
    }
    void apply()
    {
        QFETCH(QString, other);
        QFETCH(QString, original);
        QFETCH(int, quality);
        QFETCH(QString, saved);
        open(resolutionDat(TwoSizes), {1280, 720}, quality);
        QCOMPARE(
            m_dialog->findChild<QButtonGroup *>("QualityGroup")->checkedId(), quality <= 2 ? quality : -1);
        // Apply follows the choice: on for another one, off again for the stored one.
        choose(other);
        QVERIFY(shown().endsWith("on"));
        choose(original);
        QVERIFY(shown().endsWith("off"));
        choose(other);
        click("applyPushButton");
        VERIFY_MATCHES("Information 確定: .*", m_boxes->seen().join('\n'));
        QVERIFY(m_dialog->isVisible() && shown().endsWith("off"));
        QCOMPARE(stored(), saved);
        // The saved size is the one marked.
        QVERIFY(shown().contains("[   " + saved.section(' ', 0, 1).replace(" ", " X ") + Current + "]"));
    }

    void listClosesWithoutChoice_data()
    {
        QTest::addColumn<QString>("box"); // clicked with the list open; none: a press on the background
        QTest::newRow("press on the background") << QString();
        // The box takes the focus from the list, and still counts.
        QTest::newRow("click on another box") << "hight";
    }
    void listClosesWithoutChoice()
    {
        QFETCH(QString, box);
        open(resolutionDat(TwoSizes), {1280, 720});
        click("resolutionPushButton");
        QVERIFY(list()->isVisible() && list()->isEnabled() && list()->hasFocus());
        QVERIFY(!button("resolutionPushButton")->isEnabled());
        if (box.isEmpty())
            QTest::mouseClick(m_dialog->childAt(40, 420), Qt::LeftButton, {}, QPoint(40, 420));
        else
            click(box);
        QVERIFY(list()->isHidden() && !list()->isEnabled() && m_dialog->isVisible());
        QCOMPARE(shown(),
            "1024 X 768, " + Marked + " [   " + Marked + "] apply " + (box.isEmpty() ? "off" : "on"));
        // With the list closed the next press opens it again.
        click("resolutionPushButton");
        QVERIFY(list()->isVisible());
    }

    void redetection_data()
    {
        QTest::addColumn<int>("quality"); // recommended; settings.ini holds 1 without fog
        QTest::addColumn<bool>("fog");
        QTest::addColumn<QString>("word");
        QTest::addColumn<QString>("saved"); // empty: nothing to apply
        QTest::newRow("other quality") << 2 << false << "高"
                                       << "1024 768 true 2 false";
        QTest::newRow("other fog only") << 1 << true << "中"
                                        << "1024 768 true 1 true";
        QTest::newRow("same recommendation") << 1 << false << "中"
                                             << "";
        QTest::newRow("level without a box") << 7 << false << ""
                                             << "";
    }
    void redetection()
    {
        QFETCH(int, quality);
        QFETCH(bool, fog);
        QFETCH(QString, word);
        QFETCH(QString, saved);
        // A tool that replaces resolution.dat with next.dat, as a re-detection would.
        QVERIFY(m_game->writeFile("next.dat", resolutionDat(TwoSizes, quality, fog)));
        QVERIFY(m_game->writeScript(
            "hardwaredetect.exe", "cd \"$(dirname \"$0\")\" && cp next.dat resolution.dat\n"));
        open(resolutionDat({{1024, 768}}));
        click("reDetectionButton");
        VERIFY_MATCHES("Information 確定: .*【" + word + "】", m_boxes->seen().join('\n'));
        QVERIFY(m_boxes->boxes().first().flags & Qt::WindowStaysOnTopHint);
        QCOMPARE(shown(),
            "1024 X 768" + Current + ", 1280 X 720 [   1024 X 768" + Current + "] apply "
                + (saved.isEmpty() ? "off" : "on"));
        QVERIFY(button(quality == 2 ? "hight" : "middle")->isChecked());
        if (saved.isEmpty())
            return;
        click("applyPushButton");
        QCOMPARE(stored(), saved);
        // The next save, without a re-detection, leaves the fog alone.
        QVERIFY(m_game->writeFile("settings.ini", "[Video]\nQuickQuality=1\n"));
        click("low");
        click("applyPushButton");
        QCOMPARE(stored(), "1024 768 true 0 -");
    }

    void resolutionReadingFails_data()
    {
        QTest::addColumn<QByteArray>("file"); // null: no resolution.dat
        QTest::addColumn<QByteArray>("tool"); // empty: no tool
        QTest::newRow("file and tool missing") << QByteArray() << QByteArray();
        QTest::newRow("tool writes nothing") << QByteArray() << QByteArray("exit 0\n");
        QTest::newRow("not JSON") << QByteArray("\x89PNG garbage") << QByteArray();
    }
    void resolutionReadingFails()
    {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, tool);
        QVERIFY(tool.isEmpty() || m_game->writeScript("hardwaredetect.exe", tool));
        open(file, {1920, 1080}); // rejected while constructed, it still shows when the launcher asks
        VERIFY_MATCHES("Warning 確定: .*", m_boxes->seen().join('\n'));
        QCOMPARE(shown(), "1024 X 768 [   1024 X 768] apply off");
        // Merely opening the dialog must not replace the player's 1920 x 1080.
        QCOMPARE(m_game->readFile("settings.ini"), m_before);
        // The fallback can still be chosen deliberately.
        click("hight");
        click("applyPushButton");
        QCOMPARE(stored(), "1024 768 true 2 -");
    }

    // A failed reading during a re-detection stops it there: no recommendation, nothing saved.
    void redetectionReadingFailsStops()
    {
        QVERIFY(m_game->writeScript("hardwaredetect.exe", "rm -f \"$(dirname \"$0\")/resolution.dat\"\n"));
        open(resolutionDat({{1280, 720}}), {1280, 720});
        click("reDetectionButton");
        QTest::qWait(100);
        QVERIFY(m_dialog->isHidden());
        VERIFY_MATCHES("Warning 確定: .*", m_boxes->seen().join('\n'));
        QCOMPARE(m_game->readFile("settings.ini"), m_before);
    }

    void unwritableSettingsAreReported()
    {
        // A folder where the file should be: no process, root included, can replace it.
        QVERIFY(m_game->writeFile("settings.ini/keep", "x"));
        open(resolutionDat({{1024, 768}}), QSize());
        click("low");
        click("applyPushButton");
        QCOMPARE(m_boxes->seen(), QStringList {"Warning 確定: 畫面配置儲存失敗"});
        QVERIFY(shown().endsWith("on")); // still unsaved: the player can try again
    }
};

QTEST_MAIN(TestSettingsDialog)
#include "tst_settingsdialog.moc"
