#include "BoxAnswerer.h"
#include "FormChecks.h"
#include "LauncherFolder.h"
#include "LauncherUpdate.h"
#include "TestFiles.h"
#include "UpdateFixtures.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QtTest>

#include <memory>

namespace {

using UpdateTest::GameFile;
using UpdateTest::ServedFrom;

const QString Done
    = QStringLiteral("Information 訊息提示: "
                     "更新已完成,雲隼紀年-啟動器將重新啟動,若沒自動啟動,\n請手動重新啟動 [確定]");

// Five launcher files: a new picture, a changed catalogue and three files in sub-folders.
const QList<GameFile> FiveFiles {
    {"images", "new_badge.png", "picture bytes"},
    {"", "launcher_cn.qm", "new catalogue"},
    {"data", "a.bin", QByteArray(3000, 'a')},
    {"data/deep", "b.bin", QByteArray(20, 'b')},
    {"", "notes.txt", "release notes"},
};

QString barState(const QProgressBar *bar)
{
    if (bar->isTextVisible())
        return bar->text();
    return QStringLiteral("%1 of %2, no text").arg(bar->value()).arg(bar->maximum());
}

} // namespace

// The self-update window in process: its form as a player's install draws it, and its copy
// run with the boxes that end it.
class TestLauncherUpdate : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void widgets_data();
    void widgets();
    void form();

    void copyRunStartsWhenShownThenRestarts();
    void nothingToCopy_data();
    void nothingToCopy();
    void copyFailureKeepsInstalledLauncher_data();
    void copyFailureKeepsInstalledLauncher();

private:
    // The downloads and their list, as the launcher window's download-only run leaves them.
    bool writeDownloads(const QList<GameFile> &files) const;
    // Shows the window and runs the application's loop until the window ends it; -1 when it
    // does not within the limit.
    int showAndRun();
    QString restartRecord() const { return QString::fromUtf8(m_game->readFile("Launcher/Launcher.exe.ran")); }
    QProgressBar *bar() const { return m_window->findChild<QProgressBar *>(QStringLiteral("progressBar")); }

    std::unique_ptr<LauncherFolder> m_game;
    std::unique_ptr<BoxAnswerer> m_boxes;
    std::unique_ptr<LauncherUpdate> m_window;
};

void TestLauncherUpdate::init()
{
    m_game = std::make_unique<LauncherFolder>();
    QVERIFY(m_game->isInstalled());
    // A stand-in Launcher.exe that notes where and with how many arguments it was started.
    QVERIFY(m_game->writeScript(QStringLiteral("Launcher/Launcher.exe"),
        "{ pwd; echo \"$#\"; } > \"$0.ran.tmp\" && mv \"$0.ran.tmp\" \"$0.ran\"\n"));
    m_boxes = std::make_unique<BoxAnswerer>();
}

void TestLauncherUpdate::cleanup()
{
    m_window.reset();
    m_boxes.reset();
    m_game.reset();
}

bool TestLauncherUpdate::writeDownloads(const QList<GameFile> &files) const
{
    for (const GameFile &file : files) {
        if (!m_game->writeFile(QStringLiteral("Update/Launcher/") + file.localPath(), file.content))
            return false;
    }
    return m_game->writeFile(QStringLiteral("Update/Launcher/UpdateList.xml"),
        UpdateTest::updateList(files, ServedFrom::MirroredFolders));
}

int TestLauncherUpdate::showAndRun()
{
    if (!m_window)
        m_window = std::make_unique<LauncherUpdate>();
    m_window->show();
    QTimer limit;
    connect(&limit, &QTimer::timeout, [] { QApplication::exit(-1); });
    limit.start(15000);
    return QApplication::exec();
}

// ---- Form -------------------------------------------------------------------------------

void TestLauncherUpdate::widgets_data()
{
    QTest::addColumn<QString>("className");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("picture");
    const auto row = [](const char *name, const char *cls, QRect geometry, const char *picture = "") {
        QTest::newRow(name) << QString::fromLatin1(cls) << geometry << QString::fromLatin1(picture);
    };
    row("progressBar_Top", "QLabel", {0, 40, 517, 49}, "images/Launcher_progressbar_top.png");
    row("progressBar", "QProgressBar", {20, 50, 479, 18});
    row("progressBar_bottom", "QLabel", {20, 50, 479, 18}, "images/Launcher_progressbar_bottom.png");
    row("Hit", "QLabel", {0, 13, 520, 30});
    row("Hit_BG", "QLabel", {0, -10, 520, 70}, "images/ui_windows_title2.png");
}

void TestLauncherUpdate::widgets()
{
    QFETCH(QString, className);
    QFETCH(QRect, geometry);
    QFETCH(QString, picture);

    LauncherUpdate window;
    auto *w = window.findChild<QWidget *>(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(w);
    QCOMPARE(w->parentWidget(), &window);
    QCOMPARE(w->metaObject()->className(), className.toLatin1());
    QCOMPARE(w->geometry(), geometry);
    if (picture.isEmpty())
        return;
    // The empty text must leave the picture in place.
    auto *label = qobject_cast<QLabel *>(w);
    QCOMPARE(label->text(), QString());
    QCOMPARE(pngSize(picture), label->size());
    QCOMPARE(label->pixmap(Qt::ReturnByValue).toImage(), QPixmap(picture).toImage());
}

void TestLauncherUpdate::form()
{
    LauncherUpdate window;
    QCOMPARE(window.objectName(), QStringLiteral("LauncherUpdate"));
    QCOMPARE(window.size(), QSize(520, 80));
    QCOMPARE(window.windowTitle(), QStringLiteral("雲隼紀年-啟動器"));
    QCOMPARE(childStack(&window),
        QStringList({"progressBar_bottom", "progressBar", "progressBar_Top", "Hit_BG", "Hit"}));
    verifySeeThrough(&window);
    const auto label = [&](const char *name) { return window.findChild<QLabel *>(QLatin1String(name)); };
    verifyFramedBar(window.findChild<QProgressBar *>(QStringLiteral("progressBar")),
        QStringLiteral("images/Launcher_progressbar.png"), label("progressBar_Top"),
        label("progressBar_bottom"));

    window.ensurePolished(); // the style sheets decide the fonts
    QCOMPARE(label("Hit")->text(), QStringLiteral("更新中"));
    QCOMPARE(label("Hit")->alignment(), Qt::AlignHCenter | Qt::AlignVCenter);
    QCOMPARE(label("Hit")->font().family(), QStringLiteral("Arial"));
    QCOMPARE(label("Hit")->font().pixelSize(), 18);
    QCOMPARE(label("Hit")->palette().color(QPalette::WindowText), QColor(Qt::white));

    // Drawn, only the pictures and the text show: below the bar's frame nothing is painted,
    // and the title picture is cut at the window's top edge.
    const QImage drawn = window.grab().toImage();
    QCOMPARE(drawn.size(), QSize(520, 80));
    QCOMPARE(qAlpha(drawn.pixel(519, 79)), 0);
    QCOMPARE(drawn.pixel(5, 0), QImage(QStringLiteral("images/ui_windows_title2.png")).pixel(5, 10));
}

// ---- Copy run ---------------------------------------------------------------------------

void TestLauncherUpdate::copyRunStartsWhenShownThenRestarts()
{
    QVERIFY(writeDownloads(FiveFiles));
    QVERIFY(m_game->writeFile(QStringLiteral("Launcher/launcher_cn.qm"), "old catalogue"));
    const auto launcherMode = QFile::permissions(m_game->path(QStringLiteral("Launcher/Launcher.exe")));

    // Start-up may still be waiting for the old launcher here, with its refusal box open.
    m_window = std::make_unique<LauncherUpdate>();
    const auto before = snapshot(m_game->gameDir());
    QTest::qWait(500);
    QCOMPARE(snapshot(m_game->gameDir()), before);
    QCOMPARE(m_boxes->count(), 0);

    const QString initial = barState(bar());
    QStringList seen;
    QTimer watch;
    connect(&watch, &QTimer::timeout, [&] {
        const QString state = barState(bar());
        if (state != initial && (seen.isEmpty() || seen.last() != state))
            seen << state;
    });
    watch.start(2);
    QCOMPARE(showAndRun(), 0);

    QCOMPARE(seen, QStringList({"1 / 5", "2 / 5", "3 / 5", "4 / 5", "100 of 100, no text"}));
    QCOMPARE(seenBoxes(*m_boxes), QStringList {Done});
    // Every file installed, its download gone; the list stays.
    for (const GameFile &file : FiveFiles) {
        QCOMPARE(m_game->readFile(QStringLiteral("Launcher/") + file.localPath()), file.content);
        QVERIFY(!m_game->exists(QStringLiteral("Update/Launcher/") + file.localPath()));
    }
    QVERIFY(m_game->exists(QStringLiteral("Update/Launcher/UpdateList.xml")));
    // Launcher.exe restarted without arguments, in this process's working directory.
    QTRY_COMPARE(restartRecord(), m_game->launcherDir() + QStringLiteral("\n0\n"));
    QCOMPARE(QFile::permissions(m_game->path(QStringLiteral("Launcher/Launcher.exe"))), launcherMode);
}

void TestLauncherUpdate::nothingToCopy_data()
{
    QTest::addColumn<QByteArray>("list"); // "missing": no UpdateList.xml at all
    QTest::addColumn<bool>("launcherStarts");
    const QByteArray empty = UpdateTest::updateList(QByteArray());
    QTest::newRow("empty list") << empty << true;
    QTest::newRow("every file current")
        << UpdateTest::updateList({{"", "launcher_cn.qm", "current catalogue"}}) << true;
    QTest::newRow("missing list") << QByteArray("missing") << true;
    QTest::newRow("Launcher.exe cannot start") << empty << false;
}

void TestLauncherUpdate::nothingToCopy()
{
    QFETCH(QByteArray, list);
    QFETCH(bool, launcherStarts);
    QVERIFY(m_game->writeFile(QStringLiteral("Launcher/launcher_cn.qm"), "current catalogue"));
    if (list != "missing")
        QVERIFY(m_game->writeFile(QStringLiteral("Update/Launcher/UpdateList.xml"), list));
    if (!launcherStarts)
        QVERIFY(QFile::remove(m_game->path(QStringLiteral("Launcher/Launcher.exe"))));

    m_window = std::make_unique<LauncherUpdate>();
    QElapsedTimer clock;
    qint64 announcedAfter = -1;
    // The full bar is set just before the completion box opens.
    connect(bar(), &QProgressBar::valueChanged, this, [&](int value) {
        if (announcedAfter < 0 && value == 100)
            announcedAfter = clock.elapsed();
    });
    clock.start();
    QCOMPARE(showAndRun(), 0);

    // The completion comes from the copy run's first tick, one interval after the show.
    QVERIFY2(announcedAfter >= 90, qPrintable(QString::number(announcedAfter)));
    QCOMPARE(barState(bar()), QStringLiteral("100 of 100, no text"));
    QCOMPARE(m_game->readFile(QStringLiteral("Launcher/launcher_cn.qm")), QByteArray("current catalogue"));
    if (launcherStarts) {
        QCOMPARE(seenBoxes(*m_boxes), QStringList {Done});
        QTRY_COMPARE(restartRecord(), m_game->launcherDir() + QStringLiteral("\n0\n"));
    } else {
        QCOMPARE(seenBoxes(*m_boxes),
            QStringList({Done, "Warning 警告訊息: 雲隼紀年-啟動器啟動失敗,請重新啟動 [確定]"}));
    }
}

void TestLauncherUpdate::copyFailureKeepsInstalledLauncher_data()
{
    // Tests run as root: permission bits cannot make a write fail, so the first file copied
    // (the last listed, notes.txt) is blocked by what lies at or above its place.
    QTest::addColumn<QString>("notesDir");
    QTest::addColumn<QString>("blocker");
    QTest::addColumn<QByteArray>("list"); // empty: written from the downloads
    QTest::newRow("non-empty folder where the file goes")
        << QString() << QStringLiteral("Launcher/notes.txt/keep.me") << QByteArray();
    QTest::newRow("parent folder is a regular file")
        << QStringLiteral("zdata") << QStringLiteral("Launcher/zdata") << QByteArray();
    // A list that exists but cannot be read must not pass for "nothing to install".
    QTest::newRow("broken list") << QString() << QString()
                                 << QByteArray("<?xml version=\"1.0\"?>\n<UpdateList>\n  <File Name=\"a\"");
}

void TestLauncherUpdate::copyFailureKeepsInstalledLauncher()
{
    QFETCH(QString, notesDir);
    QFETCH(QString, blocker);
    QFETCH(QByteArray, list);
    QList<GameFile> files = FiveFiles;
    if (!notesDir.isEmpty())
        files.last().relativeDir = notesDir;
    QVERIFY(writeDownloads(files));
    if (!list.isEmpty())
        QVERIFY(m_game->writeFile(QStringLiteral("Update/Launcher/UpdateList.xml"), list));
    QVERIFY(m_game->writeFile(QStringLiteral("Launcher/launcher_cn.qm"), "old catalogue"));
    if (!blocker.isEmpty())
        QVERIFY(m_game->writeFile(blocker, "in the way"));
    const auto before = snapshot(m_game->gameDir());

    QCOMPARE(showAndRun(), 0);
    QCOMPARE(
        seenBoxes(*m_boxes), QStringList {"Warning 警告訊息: 更新失敗，請重新執行雲隼紀年-啟動器。 [確定]"});
    QCOMPARE(barState(bar()), QStringLiteral("0 of 100, no text"));
    // Installed launcher and downloads untouched; a restarted launcher would have left its note.
    QTest::qWait(300);
    QCOMPARE(snapshot(m_game->gameDir()), before);
}

QTEST_MAIN(TestLauncherUpdate)
#include "tst_launcherupdate.moc"
