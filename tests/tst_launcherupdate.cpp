#include "BoxAnswerer.h"
#include "GameFolder.h"
#include "LauncherUpdate.h"
#include "TestFiles.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QImageReader>
#include <QLabel>
#include <QProgressBar>
#include <QtTest>

#include <memory>

namespace {

using Files = QMap<QString, QByteArray>; // path below Launcher/ -> content

// UpdateList.xml as the launcher window's check leaves it in Update/Launcher, and the files
// its download-only run put beside it.
QByteArray updateList(const Files &files)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<UpdateList>\n";
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        const QFileInfo info(it.key());
        const QString dir = info.path() == QLatin1String(".") ? QString() : info.path();
        xml += QStringLiteral(
            "  <File Name=\"%1\" RelativeDir=\"%2\" MD5=\"%3\" Dir=\"files/%2\" Size=\"%4\"/>\n")
                   .arg(info.fileName(), dir, QString::fromLatin1(md5Hex(it.value())))
                   .arg(it.value().size())
                   .toUtf8();
    }
    return xml + "</UpdateList>\n";
}

bool writeDownloads(const GameFolder &game, const Files &files)
{
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        if (!game.writeFile(QStringLiteral("Update/Launcher/") + it.key(), it.value()))
            return false;
    }
    return game.writeFile(QStringLiteral("Update/Launcher/UpdateList.xml"), updateList(files));
}

// Every file below a folder with its digest: what a player has installed.
QMap<QString, QByteArray> tree(const QString &root)
{
    QMap<QString, QByteArray> result;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        result.insert(QDir(root).relativeFilePath(path),
            file.open(QIODevice::ReadOnly) ? md5Hex(file.readAll()) : QByteArray("unreadable"));
    }
    return result;
}

// Five launcher files: a new picture, a changed catalogue and three files in sub-folders.
Files fiveFiles()
{
    return {
        {"images/new_badge.png", "picture bytes"},
        {"launcher_cn.qm", "new catalogue"},
        {"data/a.bin", QByteArray(3000, 'a')},
        {"data/deep/b.bin", QByteArray(20, 'b')},
        {"notes.txt", "release notes"},
    };
}

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
    void initTestCase();
    void init();
    void cleanup();

    void widgets_data();
    void widgets();
    void stackingOrder();
    void pictures_data();
    void pictures();
    void progressBarLook();
    void statusText();
    void windowIsFramelessAndSeeThrough();

    void constructionStartsNoCopy();
    void copyRunShowsProgressThenRestarts();
    void nothingToCopy_data();
    void nothingToCopy();
    void copyFailureKeepsInstalledLauncher_data();
    void copyFailureKeepsInstalledLauncher();

private:
    template<typename T> T *widget(LauncherUpdate &window, const char *name) const
    {
        return window.findChild<T *>(QLatin1String(name));
    }
    // A stand-in Launcher.exe that notes where and with how many arguments it was started.
    void installRecordingLauncher() const;
    QString restartRecord() const;
    // Runs the application's loop until the window ends it; -1 when it does not within the limit.
    static int exitCode(int timeoutMs = 15000);

    std::unique_ptr<GameFolder> m_game;
    std::unique_ptr<GameFolder::WorkingDirectory> m_cwd;
};

void TestLauncherUpdate::initTestCase()
{
    QCOMPARE(QApplication::platformName(), QStringLiteral("offscreen"));
}

void TestLauncherUpdate::init()
{
    m_game = std::make_unique<GameFolder>();
    QVERIFY(m_game->installLauncher());
    installRecordingLauncher();
    m_cwd = std::make_unique<GameFolder::WorkingDirectory>(*m_game);
}

void TestLauncherUpdate::cleanup()
{
    m_cwd.reset();
    m_game.reset();
}

void TestLauncherUpdate::installRecordingLauncher() const
{
    QVERIFY(m_game->writeScript(QStringLiteral("Launcher/Launcher.exe"),
        "{ pwd; echo \"$#\"; } > \"$0.ran.tmp\" && mv \"$0.ran.tmp\" \"$0.ran\"\n"));
}

QString TestLauncherUpdate::restartRecord() const
{
    return QString::fromUtf8(m_game->readFile(QStringLiteral("Launcher/Launcher.exe.ran")));
}

int TestLauncherUpdate::exitCode(int timeoutMs)
{
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, [] { QApplication::exit(-1); });
    limit.start(timeoutMs);
    return QApplication::exec();
}

// ---- Form -------------------------------------------------------------------------------

void TestLauncherUpdate::widgets_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QRect>("geometry");
    const auto row = [](const char *name, const char *cls, QRect geometry) {
        QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(cls) << geometry;
    };
    row("progressBar_Top", "QLabel", {0, 40, 517, 49});
    row("progressBar", "QProgressBar", {20, 50, 479, 18});
    row("progressBar_bottom", "QLabel", {20, 50, 479, 18});
    row("Hit", "QLabel", {0, 13, 520, 30});
    row("Hit_BG", "QLabel", {0, -10, 520, 70});
}

void TestLauncherUpdate::widgets()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QRect, geometry);

    LauncherUpdate window;
    QCOMPARE(window.objectName(), QStringLiteral("LauncherUpdate"));
    QCOMPARE(window.size(), QSize(520, 80));
    QCOMPARE(window.windowTitle(), QStringLiteral("雲隼紀年-啟動器"));
    auto *w = window.findChild<QWidget *>(name);
    QVERIFY(w);
    QCOMPARE(w->parentWidget(), &window);
    QCOMPARE(QString::fromLatin1(w->metaObject()->className()), className);
    QCOMPARE(w->geometry(), geometry);
}

void TestLauncherUpdate::stackingOrder()
{
    // Created in the form's member order, then raised: the child list runs bottom to top.
    LauncherUpdate window;
    QStringList order;
    for (QObject *child : window.children()) {
        if (child->isWidgetType())
            order << child->objectName();
    }
    QCOMPARE(order, QStringList({"progressBar_bottom", "progressBar", "progressBar_Top", "Hit_BG", "Hit"}));
}

void TestLauncherUpdate::pictures_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("image");
    const auto row = [](const char *name, const char *image) {
        QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(image);
    };
    row("progressBar_Top", "images/Launcher_progressbar_top.png");
    row("progressBar_bottom", "images/Launcher_progressbar_bottom.png");
    row("Hit_BG", "images/ui_windows_title2.png");
}

void TestLauncherUpdate::pictures()
{
    QFETCH(QString, name);
    QFETCH(QString, image);

    LauncherUpdate window;
    auto *label = window.findChild<QLabel *>(name);
    QVERIFY(label);
    QCOMPARE(label->text(), QString());
    const QPixmap pixmap = label->pixmap(Qt::ReturnByValue);
    QVERIFY2(!pixmap.isNull(), "the empty text must leave the picture in place");
    QImageReader reader(image); // relative to the launcher directory, as the window finds it
    QCOMPARE(reader.format(), QByteArray("png"));
    QCOMPARE(reader.size(), label->size());
    QCOMPARE(pixmap.toImage(), QPixmap(image).toImage());
}

void TestLauncherUpdate::progressBarLook()
{
    LauncherUpdate window;
    auto *bar = widget<QProgressBar>(window, "progressBar");
    QCOMPARE(bar->styleSheet(),
        QStringLiteral("QProgressBar {\n    border-style: none;\n    background-color: rgba(0,0,0,0);\n"
                       "    text-align: center;\n\tfont-size:12px;\n\tfont-family:\"Arial\"\n}\n\n"
                       "QProgressBar::chunk {\nbackground-image: url(images/Launcher_progressbar.png);\n}"));
    QCOMPARE(QImageReader(QStringLiteral("images/Launcher_progressbar.png")).size(), bar->size());
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
    // The frame reaches 20 px further left, 18 right, 10 up and 21 down, see-through where
    // the bar lies.
    auto *frame = widget<QLabel>(window, "progressBar_Top");
    QCOMPARE(frame->geometry(), bar->geometry().adjusted(-20, -10, 18, 21));
    const QImage frameImage = frame->pixmap(Qt::ReturnByValue).toImage();
    QCOMPARE(qAlpha(frameImage.pixel(bar->geometry().center() - frame->geometry().topLeft())), 0);
}

void TestLauncherUpdate::statusText()
{
    LauncherUpdate window;
    window.ensurePolished(); // the style sheets decide the fonts
    auto *hit = widget<QLabel>(window, "Hit");
    QCOMPARE(hit->text(), QStringLiteral("更新中"));
    QCOMPARE(hit->styleSheet(),
        QStringLiteral("color: rgb(255, 255, 255);\nfont-size:18px;\nfont-family:\"Arial\""));
    QCOMPARE(hit->alignment(), Qt::AlignHCenter | Qt::AlignVCenter);
    QCOMPARE(hit->font().family(), QStringLiteral("Arial"));
    QCOMPARE(hit->font().pixelSize(), 18);

    auto *title = widget<QLabel>(window, "Hit_BG");
    QCOMPARE(title->alignment(), Qt::AlignHCenter | Qt::AlignVCenter);
    QCOMPARE(title->font().family(), QStringLiteral("Arial"));
    QCOMPARE(title->font().pointSize(), 12);
    QCOMPARE(title->font().weight(), int(QFont::Bold));
}

void TestLauncherUpdate::windowIsFramelessAndSeeThrough()
{
    LauncherUpdate window;
    QVERIFY(window.isWindow());
    QVERIFY(window.windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(window.testAttribute(Qt::WA_TranslucentBackground));
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        QCOMPARE(window.palette().brush(group, QPalette::Window).color(), QColor(0, 255, 0, 0));

    // Drawn, only the pictures and the text show: below the bar's frame nothing is painted,
    // and the title picture is cut at the window's top edge.
    const QImage drawn = window.grab().toImage();
    QCOMPARE(drawn.size(), QSize(520, 80));
    QCOMPARE(qAlpha(drawn.pixel(519, 79)), 0);
    const QImage title(QStringLiteral("images/ui_windows_title2.png"));
    QCOMPARE(drawn.pixel(5, 0), title.pixel(5, 10));
}

// ---- Copy run ---------------------------------------------------------------------------

void TestLauncherUpdate::constructionStartsNoCopy()
{
    const Files files = fiveFiles();
    QVERIFY(writeDownloads(*m_game, files));
    BoxAnswerer boxes;
    LauncherUpdate window;
    // Start-up may still be waiting for the old launcher here, with its refusal box open.
    QTest::qWait(500);
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        QVERIFY(m_game->exists(QStringLiteral("Update/Launcher/") + it.key()));
        QVERIFY(m_game->readFile(QStringLiteral("Launcher/") + it.key()) != it.value());
    }
    QCOMPARE(boxes.count(), 0);

    window.show();
    QCOMPARE(exitCode(), 0);
    for (auto it = files.cbegin(); it != files.cend(); ++it)
        QCOMPARE(m_game->readFile(QStringLiteral("Launcher/") + it.key()), it.value());
}

void TestLauncherUpdate::copyRunShowsProgressThenRestarts()
{
    const Files files = fiveFiles();
    QVERIFY(writeDownloads(*m_game, files));
    QVERIFY(m_game->writeFile(QStringLiteral("Launcher/launcher_cn.qm"), "old catalogue"));
    const QFile::Permissions launcherMode
        = QFile::permissions(m_game->path(QStringLiteral("Launcher/Launcher.exe")));

    BoxAnswerer boxes;
    LauncherUpdate window;
    auto *bar = widget<QProgressBar>(window, "progressBar");
    window.show();
    const QString initial = barState(bar);
    QStringList seen;
    QTimer watch;
    connect(&watch, &QTimer::timeout, [&] {
        const QString state = barState(bar);
        if (state != initial && (seen.isEmpty() || seen.last() != state))
            seen << state;
    });
    watch.start(2);
    QCOMPARE(exitCode(), 0);

    QCOMPARE(seen, QStringList({"1 / 5", "2 / 5", "3 / 5", "4 / 5", "100 of 100, no text"}));
    QCOMPARE(boxes.count(), 1);
    const BoxAnswerer::Box done = boxes.boxes().first();
    QCOMPARE(done.title, QStringLiteral("訊息提示"));
    QCOMPARE(done.text, QStringLiteral("更新已完成,雲隼紀年-啟動器將重新啟動,若沒自動啟動,\n請手動重新啟動"));
    QCOMPARE(done.icon, QMessageBox::Information);
    QCOMPARE(done.buttons, QStringList {QStringLiteral("確定")});

    // Every file installed, its download gone; the list stays.
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        QCOMPARE(m_game->readFile(QStringLiteral("Launcher/") + it.key()), it.value());
        QVERIFY(!m_game->exists(QStringLiteral("Update/Launcher/") + it.key()));
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

    const Files installed = {{"launcher_cn.qm", "current catalogue"}};
    QTest::newRow("empty list") << updateList({}) << true;
    QTest::newRow("every file current") << updateList(installed) << true;
    QTest::newRow("missing list") << QByteArray("missing") << true;
    QTest::newRow("Launcher.exe cannot start") << updateList({}) << false;
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

    BoxAnswerer boxes;
    LauncherUpdate window;
    auto *bar = widget<QProgressBar>(window, "progressBar");
    QElapsedTimer clock;
    QTimer watch;
    qint64 announcedAfter = -1;
    connect(&watch, &QTimer::timeout, [&] {
        if (announcedAfter < 0 && bar->value() == 100) // set just before the box opens
            announcedAfter = clock.elapsed();
    });
    watch.start(2);
    clock.start();
    window.show();
    QCOMPARE(exitCode(), 0);

    // The completion comes from the copy run's first tick, one interval after the show.
    QVERIFY2(announcedAfter >= 90, qPrintable(QString::number(announcedAfter)));
    QCOMPARE(bar->value(), 100);
    QVERIFY(!bar->isTextVisible());
    QCOMPARE(m_game->readFile(QStringLiteral("Launcher/launcher_cn.qm")), QByteArray("current catalogue"));
    QVERIFY(boxes.count() >= 1);
    QCOMPARE(boxes.boxes().first().title, QStringLiteral("訊息提示"));
    if (launcherStarts) {
        QCOMPARE(boxes.count(), 1);
        QTRY_COMPARE(restartRecord(), m_game->launcherDir() + QStringLiteral("\n0\n"));
    } else {
        QCOMPARE(boxes.count(), 2);
        const BoxAnswerer::Box warning = boxes.boxes().at(1);
        QCOMPARE(warning.title, QStringLiteral("警告訊息"));
        QCOMPARE(warning.text, QStringLiteral("雲隼紀年-啟動器啟動失敗,請重新啟動"));
        QCOMPARE(warning.icon, QMessageBox::Warning);
    }
}

void TestLauncherUpdate::copyFailureKeepsInstalledLauncher_data()
{
    // Tests run as root: permission bits cannot make a write fail, so the first file copied
    // (the last listed) is blocked by what lies at or above its place.
    QTest::addColumn<QString>("lastListed");
    QTest::addColumn<QString>("blocker");
    QTest::addColumn<QByteArray>("list"); // empty: written from the downloads
    QTest::newRow("non-empty folder where the file goes")
        << QStringLiteral("notes.txt") << QStringLiteral("Launcher/notes.txt/keep.me") << QByteArray();
    QTest::newRow("parent folder is a regular file")
        << QStringLiteral("zdata/notes.txt") << QStringLiteral("Launcher/zdata") << QByteArray();
    // A list that exists but cannot be read must not pass for "nothing to install".
    QTest::newRow("broken list") << QStringLiteral("notes.txt") << QString()
                                 << QByteArray("<?xml version=\"1.0\"?>\n<UpdateList>\n  <File Name=\"a\"");
}

void TestLauncherUpdate::copyFailureKeepsInstalledLauncher()
{
    QFETCH(QString, lastListed);
    QFETCH(QString, blocker);
    QFETCH(QByteArray, list);

    Files files = fiveFiles();
    files.insert(lastListed, files.take(QStringLiteral("notes.txt")));
    QCOMPARE(files.lastKey(), lastListed);
    QVERIFY(writeDownloads(*m_game, files));
    if (!list.isEmpty())
        QVERIFY(m_game->writeFile(QStringLiteral("Update/Launcher/UpdateList.xml"), list));
    QVERIFY(m_game->writeFile(QStringLiteral("Launcher/launcher_cn.qm"), "old catalogue"));
    if (!blocker.isEmpty())
        QVERIFY(m_game->writeFile(blocker, "in the way"));
    const auto installedBefore = tree(m_game->launcherDir());
    const auto downloadsBefore = tree(m_game->path(QStringLiteral("Update/Launcher")));

    BoxAnswerer boxes;
    LauncherUpdate window;
    auto *bar = widget<QProgressBar>(window, "progressBar");
    window.show();
    QCOMPARE(exitCode(), 0);

    QCOMPARE(boxes.count(), 1);
    const BoxAnswerer::Box warning = boxes.boxes().first();
    QCOMPARE(warning.title, QStringLiteral("警告訊息"));
    QCOMPARE(warning.text, QStringLiteral("更新失敗，請重新執行雲隼紀年-啟動器。"));
    QCOMPARE(warning.icon, QMessageBox::Warning);
    QCOMPARE(bar->value(), 0);
    QCOMPARE(bar->maximum(), 100);
    QVERIFY(!bar->isTextVisible());

    QCOMPARE(tree(m_game->launcherDir()), installedBefore);
    QCOMPARE(tree(m_game->path(QStringLiteral("Update/Launcher"))), downloadsBefore);
    QTest::qWait(300); // a restarted launcher would have left its note by now
    QVERIFY(!m_game->exists(QStringLiteral("Launcher/Launcher.exe.ran")));
}

QTEST_MAIN(TestLauncherUpdate)
#include "tst_launcherupdate.moc"
