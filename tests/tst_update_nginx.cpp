#include "NginxServer.h"
#include "Patcher.h"
#include "TestFiles.h"
#include "Util.h"

#include <QtTest>

#include <memory>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace {

struct GameFile
{
    QString relativeDir;
    QString name;
    QByteArray content;

    QString localPath() const { return relativeDir.isEmpty() ? name : relativeDir + QLatin1Char('/') + name; }
};

// About twenty files as a game update has them: nested folders, an executable, an empty file,
// names with spaces, one file of a few MiB.
QList<GameFile> gameTree()
{
    QList<GameFile> files = {
        {"", "ZARK.exe", patterned(150 * 1024, 1)},
        {"", "readme.txt", "Read me first.\n"},
        {"", "empty.cfg", QByteArray()},
        {"Data", "core.pak", patterned(3 * 1024 * 1024 + 17, 2)},
        {"Data", "ui.pak", patterned(64 * 1024, 3)},
        {"Data/Maps", "map01.bin", patterned(40000, 4)},
        {"Data/Maps", "map02.bin", patterned(41000, 5)},
        {"Data/Maps/Extra", "map03.bin", patterned(42000, 6)},
        {"Data/Sound Bank", "music 01.ogg", patterned(90000, 7)},
        {"Data/Sound Bank", "music 02.ogg", patterned(91000, 8)},
        {"Data/Sound Bank/fx", "click.wav", patterned(3000, 9)},
        {"Data/Sound Bank/fx", "boom.wav", patterned(5000, 10)},
        {"Data/Textures/Hi/Res", "sky.dds", patterned(512 * 1024, 11)},
        {"Data/Textures/Hi/Res", "ground.dds", patterned(256 * 1024, 12)},
        {"Data/Textures", "font.dds", patterned(1024, 13)},
        {"Bin", "physics.dll", patterned(70000, 14)},
        {"Bin", "render.dll", patterned(80000, 15)},
        {"Bin/x64", "helper.exe", patterned(20000, 16)},
        {"Config", "default.ini", "[Video]\nQuality=1\n"},
        {"Config/Keys", "bindings.xml", "<Keys><Key Name=\"W\"/></Keys>\n"},
    };
    return files;
}

QByteArray versionList()
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<VersionList>\n"
           "  <Version MinVer=\"0.5\" MaxVer=\"0.9\" Dir=\"v1.0\"/>\n"
           "  <Version MinVer=\"0.9\" MaxVer=\"1.1\" Dir=\"v1.1\"/>\n"
           "  <Version MinVer=\"1.1\" MaxVer=\"1.2\" Dir=\"v1.2\"/>\n"
           "</VersionList>\n";
}

QByteArray updateList(const QList<GameFile> &files)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<UpdateList>\n";
    for (const GameFile &file : files) {
        const QString dir = file.relativeDir.isEmpty() ? QStringLiteral("files")
                                                       : QStringLiteral("files/") + file.relativeDir;
        xml += QStringLiteral("  <File Name=\"%1\" RelativeDir=\"%2\" MD5=\"%3\" Dir=\"%4\" Size=\"%5\"/>\n")
                   .arg(file.name.toHtmlEscaped(), file.relativeDir.toHtmlEscaped(),
                       QString::fromLatin1(md5Hex(file.content)), dir.toHtmlEscaped())
                   .arg(file.content.size())
                   .toUtf8();
    }
    return xml + "</UpdateList>\n";
}

bool waitFor(QSignalSpy &spy, const QList<QSignalSpy *> &others, int timeoutMs = 60000)
{
    const auto ended = [&] {
        if (spy.count() > 0)
            return true;
        for (QSignalSpy *other : others) {
            if (other->count() > 0)
                return true;
        }
        return false;
    };
    return QTest::qWaitFor(ended, timeoutMs) && spy.count() == 1;
}

} // namespace

class TestUpdateNginx : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void gameUpdateInstalledThenCurrent();
    void launcherDownloadedThenCopied();

private:
    QString gameDir() const { return game->filePath(QStringLiteral("Game")); }
    void check(Patcher *patcher, const char *expectedSignal);

    QTemporaryDir site;
    std::unique_ptr<NginxServer> nginx;
    std::unique_ptr<QTemporaryDir> game;
    const QList<GameFile> files = gameTree();
};

void TestUpdateNginx::initTestCase()
{
    QVERIFY(site.isValid());
    QVERIFY(writeFile(site.filePath(QStringLiteral("VersionList.xml")), versionList()));
    QVERIFY(writeFile(site.filePath(QStringLiteral("v1.1/UpdateList.xml")), updateList(files)));
    for (const GameFile &file : files)
        QVERIFY(writeFile(site.filePath(QStringLiteral("v1.1/files/") + file.localPath()), file.content));
    nginx = std::make_unique<NginxServer>(site.path());
    if (!nginx->start()) {
        if (QStandardPaths::findExecutable(QStringLiteral("nginx"), {"/usr/sbin", "/usr/bin"}).isEmpty())
            QSKIP("nginx is not installed");
        QFAIL(qPrintable(nginx->errorText()));
    }
}

void TestUpdateNginx::init()
{
    game = std::make_unique<QTemporaryDir>();
    QVERIFY(game->isValid());
}

void TestUpdateNginx::check(Patcher *patcher, const char *expectedSignal)
{
    QSignalSpy failed(patcher, &Patcher::updateCheckFailed);
    QSignalSpy finished(patcher, &Patcher::updateCheckFinished);
    QSignalSpy current(patcher, &Patcher::updateFileFinished);
    patcher->UpdateCheck();
    QVERIFY(QTest::qWaitFor([&] { return failed.count() + finished.count() + current.count() > 0; }, 30000));
    QTest::qWait(100);
    const QString outcome = failed.count() ? QStringLiteral("updateCheckFailed")
        : finished.count()                 ? QStringLiteral("updateCheckFinished")
                                           : QStringLiteral("updateFileFinished");
    QCOMPARE(failed.count() + finished.count() + current.count(), 1);
    QCOMPARE(outcome, QString::fromLatin1(expectedSignal));
}

void TestUpdateNginx::gameUpdateInstalledThenCurrent()
{
    const GameFile &current = files.at(4);
    QVERIFY(writeFile(gameDir() + QLatin1Char('/') + current.localPath(), current.content));
    QVERIFY(writeFile(gameDir() + QStringLiteral("/Data/core.pak"), "an older core"));
    QVERIFY(writeFile(gameDir() + QStringLiteral("/Saves/slot1.sav"), "the player's own file"));
    const QString downloadDir = gameDir() + QStringLiteral("/Update/Game");
    float installedVersion = 1.05f;

    Patcher patcher(nginx->baseUrl(), downloadDir, gameDir(), installedVersion);
    check(&patcher, "updateCheckFinished");
    QCOMPARE(patcher.fileCount(), files.size() - 1);
    qlonglong expectedTotal = 0;
    for (const GameFile &file : files)
        expectedTotal += file.localPath() == current.localPath() ? 0 : file.content.size();
    QCOMPARE(patcher.totalDownloadSize(), expectedTotal);
    QCOMPARE(patcher.targetVersion(), 1.1f);
    QCOMPARE(patcher.latestVersion(), 1.2f);

    QSignalSpy done(&patcher, &Patcher::downloadListFileFinished);
    QSignalSpy failed(&patcher, &Patcher::downloadFileFailed);
    QSignalSpy one(&patcher, &Patcher::downloadOneFileFinished);
    QSignalSpy totals(&patcher, &Patcher::updateTotalDownloadState);
    patcher.startDownload(true);
    QVERIFY(waitFor(done, {&failed}));
    QCOMPARE(failed.count(), 0);
    QCOMPARE(one.count(), files.size() - 1);
    QCOMPARE(totals.last().at(0).toLongLong(), expectedTotal);
    QCOMPARE(totals.last().at(1).toInt(), files.size() - 1);

    for (const GameFile &file : files) {
        const QString path = gameDir() + QLatin1Char('/') + file.localPath();
        QVERIFY2(LTools::checkFileMd5(path, md5Hex(file.content)), qPrintable(path));
    }
    QCOMPARE(filesBelow(downloadDir), QStringList {"UpdateList.xml"});
    QCOMPARE(LTools::fileMd5(gameDir() + QStringLiteral("/Saves/slot1.sav")),
        QCryptographicHash::hash("the player's own file", QCryptographicHash::Md5));
#ifdef Q_OS_UNIX
    struct stat info;
    QCOMPARE(::stat(QFile::encodeName(gameDir() + QStringLiteral("/ZARK.exe")).constData(), &info), 0);
    QCOMPARE(int(info.st_mode & 0777), 0755);
#endif

    // The launcher has recorded the reached version by now.
    installedVersion = patcher.targetVersion();
    Patcher again(nginx->baseUrl(), downloadDir, gameDir(), installedVersion);
    check(&again, "updateFileFinished");
    QCOMPARE(again.targetVersion(), 1.1f);
    QVERIFY(!again.hasUpdateFiles());
}

void TestUpdateNginx::launcherDownloadedThenCopied()
{
    const QString downloadDir = gameDir() + QStringLiteral("/Update/Launcher");
    const QString installDir = gameDir() + QStringLiteral("/Launcher");
    QVERIFY(writeFile(installDir + QStringLiteral("/Bin/render.dll"), "old renderer"));

    Patcher patcher(nginx->baseUrl(), downloadDir, installDir, 1.0f);
    check(&patcher, "updateCheckFinished");
    QCOMPARE(patcher.fileCount(), files.size());

    QSignalSpy done(&patcher, &Patcher::downloadListFileFinished);
    QSignalSpy failed(&patcher, &Patcher::downloadFileFailed);
    patcher.startDownload(false);
    QVERIFY(waitFor(done, {&failed}));
    for (const GameFile &file : files)
        QVERIFY(
            LTools::checkFileMd5(downloadDir + QLatin1Char('/') + file.localPath(), md5Hex(file.content)));
    QCOMPARE(filesBelow(installDir), QStringList {"Bin/render.dll"});

    // What the self-update does in its own process: read the kept list, copy on a timer.
    Patcher copier(QString(), downloadDir, installDir, 1.0f);
    QVERIFY(copier.readUpdateList());
    QCOMPARE(copier.fileCount(), files.size());
    QSignalSpy copied(&copier, &Patcher::copyFileFinished);
    QSignalSpy copyFailed(&copier, &Patcher::copyFileFailed);
    QSignalSpy steps(&copier, &Patcher::updateCopyFileState);
    copier.startCopy();
    QVERIFY(waitFor(copied, {&copyFailed}));
    QCOMPARE(steps.count(), files.size() - 1);
    QCOMPARE(steps.last().at(0).toInt(), files.size() - 1);
    QCOMPARE(steps.last().at(1).toInt(), files.size());

    for (const GameFile &file : files)
        QVERIFY(LTools::checkFileMd5(installDir + QLatin1Char('/') + file.localPath(), md5Hex(file.content)));
    QCOMPARE(filesBelow(downloadDir), QStringList {"UpdateList.xml"});
}

QTEST_GUILESS_MAIN(TestUpdateNginx)
#include "tst_update_nginx.moc"
