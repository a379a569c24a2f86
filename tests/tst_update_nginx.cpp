#include "NginxServer.h"
#include "Patcher.h"
#include "TestFiles.h"
#include "UpdateFixtures.h"
#include "UpdateSite.h"

#include <QtTest>

#include <memory>

using namespace UpdateTest;

namespace {

// About twenty files as a game update has them: nested folders, an executable, an empty file,
// names with spaces, one file of a few MiB.
const QList<GameFile> Files = {
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
    // Runs the check; true when it ends with the outcome signal alone.
    bool check(Patcher &patcher, const QString &outcome);

    QTemporaryDir site;
    std::unique_ptr<NginxServer> nginx;
    std::unique_ptr<QTemporaryDir> game;
};

void TestUpdateNginx::initTestCase()
{
    QVERIFY(site.isValid());
    QVERIFY(writeFile(site.filePath(QStringLiteral("VersionList.xml")),
        versionList({{"0.5", "0.9", "v1.0"}, {"0.9", "1.1", "v1.1"}, {"1.1", "1.2", "v1.2"}})));
    QVERIFY(writeUpdate(site.filePath(QStringLiteral("v1.1")), Files));
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

bool TestUpdateNginx::check(Patcher &patcher, const QString &outcome)
{
    PatcherSignals spies(&patcher);
    patcher.UpdateCheck();
    return spies.waitForOutcome(30000) && spies.events == QStringList {outcome};
}

void TestUpdateNginx::gameUpdateInstalledThenCurrent()
{
    const GameFile &current = Files.at(4);
    QVERIFY(writeFile(gameDir() + QLatin1Char('/') + current.localPath(), current.content));
    QVERIFY(writeFile(gameDir() + QStringLiteral("/Data/core.pak"), "an older core"));
    QVERIFY(writeFile(gameDir() + QStringLiteral("/Saves/slot1.sav"), "the player's own file"));
    const QString downloadDir = gameDir() + QStringLiteral("/Update/Game");

    Patcher patcher(nginx->baseUrl(), downloadDir, gameDir(), 1.05f);
    QVERIFY(check(patcher, QStringLiteral("updateCheckFinished")));
    QCOMPARE(patcher.fileCount(), Files.size() - 1);
    qlonglong expectedTotal = 0;
    for (const GameFile &file : Files)
        expectedTotal += &file == &current ? 0 : file.content.size();
    QCOMPARE(patcher.totalDownloadSize(), expectedTotal);
    QCOMPARE(patcher.targetVersion(), 1.1f);
    QCOMPARE(patcher.latestVersion(), 1.2f);

    PatcherSignals run(&patcher);
    patcher.startDownload(true);
    QVERIFY(run.waitForOutcome(60000));
    QCOMPARE(run.listFinished.count(), 1);
    QCOMPARE(run.oneFinished.count(), Files.size() - 1);
    const QStringList totals = run.events.filter(QStringLiteral("total "));
    QCOMPARE(totals.value(totals.size() - 1),
        QStringLiteral("total %1/%2").arg(expectedTotal).arg(Files.size() - 1));

    QVERIFY(installedBelow(gameDir(), Files));
    QCOMPARE(filesBelow(downloadDir), QStringList {"UpdateList.xml"});
    QCOMPARE(readFile(gameDir() + QStringLiteral("/Saves/slot1.sav")), QByteArray("the player's own file"));
#ifdef Q_OS_UNIX
    QCOMPARE(fileMode(gameDir() + QStringLiteral("/ZARK.exe")), 0755);
#endif

    // The launcher has recorded the reached version by now.
    Patcher again(nginx->baseUrl(), downloadDir, gameDir(), patcher.targetVersion());
    QVERIFY(check(again, QStringLiteral("updateFileFinished")));
    QCOMPARE(again.targetVersion(), 1.1f);
}

void TestUpdateNginx::launcherDownloadedThenCopied()
{
    const QString downloadDir = gameDir() + QStringLiteral("/Update/Launcher");
    const QString installDir = gameDir() + QStringLiteral("/Launcher");
    QVERIFY(writeFile(installDir + QStringLiteral("/Bin/render.dll"), "old renderer"));

    Patcher patcher(nginx->baseUrl(), downloadDir, installDir, 1.0f);
    QVERIFY(check(patcher, QStringLiteral("updateCheckFinished")));
    QCOMPARE(patcher.fileCount(), Files.size());
    PatcherSignals download(&patcher);
    patcher.startDownload(false);
    QVERIFY(download.waitForOutcome(60000));
    QCOMPARE(download.listFinished.count(), 1);
    QVERIFY(installedBelow(downloadDir, Files));
    QCOMPARE(filesBelow(installDir), QStringList {"Bin/render.dll"});

    // What the self-update does in its own process: read the kept list, copy on a timer.
    Patcher copier(QString(), downloadDir, installDir, 1.0f);
    QVERIFY(copier.readUpdateList());
    QCOMPARE(copier.fileCount(), Files.size());
    PatcherSignals copy(&copier);
    copier.startCopy();
    QVERIFY(copy.waitForOutcome(60000));
    QCOMPARE(copy.copyState.count(), Files.size() - 1);
    QCOMPARE(copy.events.mid(copy.events.size() - 2),
        (QStringList {
            QStringLiteral("copyState %1/%2").arg(Files.size() - 1).arg(Files.size()), "copyFileFinished"}));

    QVERIFY(installedBelow(installDir, Files));
    QCOMPARE(filesBelow(downloadDir), QStringList {"UpdateList.xml"});
}

QTEST_GUILESS_MAIN(TestUpdateNginx)
#include "tst_update_nginx.moc"
