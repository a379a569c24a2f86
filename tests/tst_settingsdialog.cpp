#include "BoxAnswerer.h"
#include "FormChecks.h"
#include "LauncherFolder.h"
#include "SettingsDialog.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QListWidget>
#include <QSettings>
#include <QtTest>

// One player's visit: the files found, the clicks made, then what the dialog shows, what
// settings.ini holds and the boxes answered on the way.
struct Visit
{
    QByteArray dat; // resolution.dat; null: none
    QString settings; // "width height fullScreen quality" in settings.ini; "none"; "folder"
    QString clicks; // names below, "rowN" of the list, "accept" the default action, "redetectQ" or
    // "redetectQfog" to re-detect with a tool recommending quality Q (and fog), "redetectfails"
    QString shown; // see the end of visit()
    QString saved; // settings.ini's values and fog, "-" for a missing one; empty: as they were
    QString boxes; // pattern for the boxes' descriptions, one a line
};
Q_DECLARE_METATYPE(Visit)

const QMap<QString, QString> Names {{"window", "fullScreenDisabelCheckBox"}, {"list", "resolutionPushButton"},
    {"apply", "applyPushButton"}, {"redetect", "reDetectionButton"}};

// The settings dialog over a real game folder, with scripted detection tools and modal boxes
// answered as a player would.
class TestSettingsDialog : public QObject
{
    Q_OBJECT

private slots:
    void visit_data()
    {
        QTest::addColumn<Visit>("visit");
        const QByteArray two = resolutionDat({{1024, 768}, {1280, 720}}), one = resolutionDat({{1024, 768}});
        const QString both = "1024 X 768, 1280 X 720+ [1280 X 720+] q1 f1 ", stored = "1280 720 true 1";
        const QString done = "Information 確定: .*", warning = "Warning 確定 on top: .*";
        QTest::newRow("stored size marked")
            << Visit {two, "1024 768 true 1", "", "1024 X 768+, 1280 X 720 [1024 X 768+] q1 f1 off"};
        QTest::newRow("size no entry has: last one saved")
            << Visit {two, "1920 1080 true 1", "", both + "off", "1280 720 true 1 -"};
        QTest::newRow("no settings.ini: built-in values") << Visit {resolutionDat({{1280, 720}}), "none", "",
            "1280 X 720+ [1280 X 720+] q1 f0 off", "1280 720 false 1 -"};
        QTest::newRow("sizes not positive numbers never offered")
            << Visit {resolutionDatFrom(R"([{"Width":"0","Height":"768"},{"Width":"1280","Height":"-720"},)"
                                        R"({"Width":"","Height":"600"},{"Width":"1600","Height":"900"}])"),
                   stored, "", "1600 X 900+ [1600 X 900+] q1 f1 off", "1600 900 true 1 -"};
        QTest::newRow("empty list: the fallback entry")
            << Visit {resolutionDatFrom("[]"), "1024 768 true 1", "", "1024 X 768+ [1024 X 768+] q1 f1 off"};
        QTest::newRow("no usable entry: nothing can be saved")
            << Visit {resolutionDatFrom(R"([{"Width":"800"},{"Width":"x","Height":"600"}])"), stored,
                   "hight accept", " [1024 X 768] q2 f1 off"};
        QTest::newRow("reading fails: nothing saved")
            << Visit {nullptr, "1920 1080 true 1", "", "1024 X 768 [1024 X 768] q1 f1 off", "", warning};
        QTest::newRow("not JSON: the fallback chosen deliberately") << Visit {"\x89PNG", "1920 1080 true 1",
            "hight apply", "1024 X 768+ [1024 X 768+] q2 f1 off", "1024 768 true 2 -", warning + "\n" + done};
        QTest::newRow("another quality, then the stored one")
            << Visit {two, stored, "hight middle", both + "off"};
        QTest::newRow("quality applied") << Visit {two, stored, "hight apply",
            "1024 X 768, 1280 X 720+ [1280 X 720+] q2 f1 off", "1280 720 true 2 -", done};
        QTest::newRow("size applied") << Visit {two, stored, "list row0 apply",
            "1024 X 768+, 1280 X 720 [1024 X 768+] q1 f1 off", "1024 768 true 1 -", done};
        // No box shows a stored level of 5: saving keeps it rather than writing -1.
        QTest::newRow("stored quality without a box") << Visit {two, "1280 720 true 5", "window apply",
            "1024 X 768, 1280 X 720+ [1280 X 720+] q-1 f0 off", "1280 720 false 5 -", done};
        QTest::newRow("failed write") << Visit {one, "folder", "low apply",
            "1024 X 768+ [1024 X 768+] q0 f1 on", "- - - - -", "Warning 確定 on top: 畫面配置儲存失敗"};
        QTest::newRow("list closed by a press on the background, opened again")
            << Visit {two, stored, "list background list", both + "open off"};
        // The box takes the focus from the list, and still counts.
        QTest::newRow("list closed by another box")
            << Visit {two, stored, "list hight", "1024 X 768, 1280 X 720+ [1280 X 720+] q2 f1 on"};
        const QString redetected = "1024 X 768+, 1280 X 720 [1024 X 768+] q%1 f1 off";
        QTest::newRow("re-detection: other quality") << Visit {one, "1024 768 true 1", "redetect2 apply",
            redetected.arg(2), "1024 768 true 2 false", "Information 確定 on top: .*【高】\n" + done};
        QTest::newRow("re-detection: other fog") << Visit {one, "1024 768 true 1", "redetect1fog apply",
            redetected.arg(1), "1024 768 true 1 true", "Information 確定 on top: .*【中】\n" + done};
        QTest::newRow("re-detection: level without a box")
            << Visit {one, "1024 768 true 1", "redetect7", redetected.arg(1), "", ".* on top: .*【】"};
        // A failed reading stops the re-detection: no recommendation, nothing saved.
        QTest::newRow("re-detection fails")
            << Visit {one, "1024 768 true 1", "redetectfails", "closed", "", warning};
    }
    void visit()
    {
        QFETCH(Visit, visit);
        LauncherFolder game;
        QVERIFY(game.isInstalled());
        QVERIFY(visit.dat.isNull() || game.writeFile("resolution.dat", visit.dat));
        const char *keys[] = {"ResolutionWidth", "ResolutionHeight", "FullScreen", "QuickQuality", "Fog"};
        for (int i = 0; i < 4 && visit.settings.count(' ') == 3; ++i)
            QSettings(game.path("settings.ini"), QSettings::IniFormat)
                .setValue("Video/" + QLatin1String(keys[i]), visit.settings.section(' ', i, i));
        // A folder where the file should be: no process, root included, can replace it.
        QVERIFY(visit.settings != "folder" || game.writeFile("settings.ini/keep", "x"));
        BoxAnswerer boxes;
        const QPoint launcher(100, 50);
        SettingsDialog dialog(nullptr, game.path("settings.ini"), game.gameDir(), &launcher);
        QCOMPARE(dialog.pos(), launcher + QPoint(260, 170));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        verifyForm(&dialog);
        const auto button = [&](const QString &name) {
            return dialog.findChild<QAbstractButton *>(Names.value(name, name));
        };
        auto *list = dialog.findChild<QListWidget *>();
        // One row height, whatever font draws the marker: the list's height counts with it.
        for (int i = 0; i < list->count(); ++i)
            QCOMPARE(list->sizeHintForRow(i), 20);

        for (QString click : visit.clicks.split(' ', Qt::SkipEmptyParts)) {
            if (click.startsWith("redetect") && click != "redetect") {
                // The tool replaces resolution.dat with two sizes and its recommendation, or removes it.
                const QByteArray next = resolutionDat(
                    {{1024, 768}, {1280, 720}}, click.mid(8, 1).toInt(), click.endsWith("fog"));
                QVERIFY(click.endsWith("fails") || game.writeFile("next.dat", next));
                QVERIFY(game.writeScript("hardwaredetect.exe",
                    "cd \"$(dirname \"$0\")\" && [ \"$*\" = resolution ] && rm resolution.dat && mv next.dat "
                    "resolution.dat\n"));
                click = "redetect";
            }
            QWidget *target = click.startsWith("row") ? list->viewport()
                : click == "background"               ? dialog.childAt(40, 420)
                                                      : button(click);
            QVERIFY2(click == "accept" || (target->isVisible() && target->isEnabled()), qPrintable(click));
            if (click == "accept")
                dialog.accept();
            else if (click.startsWith("row"))
                QTest::mouseClick(target, Qt::LeftButton, {},
                    list->visualItemRect(list->item(click.mid(3).toInt())).center());
            else
                QTest::mouseClick(target, Qt::LeftButton, {}, QPoint(13, target->height() / 2));
        }
        // "closed", or the rows and the button's text (the current marker as '+'), the checked
        // quality and full-screen ids, whether the list is open, and whether apply is on.
        QStringList rows;
        for (int i = 0; i < list->count(); ++i)
            rows << list->item(i)->text();
        const auto group
            = [&](const char *name) { return dialog.findChild<QButtonGroup *>(name)->checkedId(); };
        const QString shown = QString("%1 [%2] q%3 f%4%5 %6")
                                  .arg(rows.join(", "), button("list")->text().trimmed())
                                  .arg(group("QualityGroup"))
                                  .arg(group("FullScreenGroup"))
                                  .arg(list->isVisible() || list->isEnabled() ? " open" : "",
                                      button("apply")->isEnabled() ? "on" : "off")
                                  .replace(" (目前)", "+");
        QCOMPARE(dialog.isVisible() ? shown : "closed", visit.shown);
        QStringList values;
        const QSettings stored(game.path("settings.ini"), QSettings::IniFormat);
        for (const char *key : keys)
            values << stored.value("Video/" + QLatin1String(key), "-").toString();
        QCOMPARE(values.join(' '), visit.saved.isEmpty() ? visit.settings + " -" : visit.saved);
        VERIFY_MATCHES(visit.boxes, boxes.seen().join('\n'));
    }
};

QTEST_MAIN(TestSettingsDialog)
#include "tst_settingsdialog.moc"
