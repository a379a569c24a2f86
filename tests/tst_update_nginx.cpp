#include "Downloader.h"
#include "NginxServer.h"
#include "Patcher.h"
#include "Publishing.h"
#include "TestFiles.h"

#include <QtTest>

#include <memory>

// Three releases as a studio ships them: files changed, added, removed, moved into deeper
// folders, and files no release touches.
static FileTree release(int minor)
{
    FileTree tree = {{"ZARK.exe", patterned(200 * 1024, minor)},
        {"Data/core.pak", patterned(3 * 1024 * 1024 + 5, 10 + minor)}, {"Data/ui.pak", patterned(90000, 20)},
        {"Data/Maps/map01.bin", patterned(40000, 30)}, {"Data/Sound Bank/music 01.ogg", patterned(70000, 40)},
        {"empty.cfg", QByteArray()}};
    if (minor >= 1)
        tree.insert({{"Data/Maps/map02.bin", patterned(41000, 31)},
            {"Data/Maps/Extra/map03.bin", patterned(42000, 32)}});
    if (minor >= 2) {
        tree.remove("Data/ui.pak"); // moved into a folder of its own
        tree.insert({{"Data/UI/ui.pak", patterned(95000, 21)}, {"Data/Maps/map02.bin", patterned(41000, 33)},
            {QStringLiteral("Data/地圖/地形.dat"), "terrain"}});
    }
    return tree;
}

// Releases published with the tool, served by nginx, installed by the update engine.
class TestUpdateNginx : public QObject
{
    Q_OBJECT

    QTemporaryDir work;
    std::unique_ptr<NginxServer> nginx;
    // https, each with a CA of its own; only tls's is trusted.
    NginxServer tls {work.filePath(QStringLiteral("site"))};
    NginxServer stranger {work.filePath(QStringLiteral("site"))};

private slots:
    void initTestCase()
    {
        QVERIFY(work.isValid());
        const QString site = work.filePath(QStringLiteral("site"));
        for (int minor : {1, 2}) {
            const QString folder = work.filePath(QStringLiteral("release-1.%1").arg(minor));
            QVERIFY(writeTree(folder, release(minor)));
            const ToolRun run
                = publish({folder, QStringLiteral("1.%1").arg(minor), "--site", site, "--oldest", "1.0"});
            QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        }
        nginx = std::make_unique<NginxServer>(site);
        if (!nginx->start()) {
            if (QStandardPaths::findExecutable(QStringLiteral("nginx"), {"/usr/sbin", "/usr/bin"}).isEmpty())
                QSKIP("nginx is not installed");
            QFAIL(qPrintable(nginx->errorText()));
        }
        QVERIFY2(tls.start({"--tls"}) && stranger.start({"--tls"}), qPrintable(tls.errorText()));
        qputenv("SSL_CERT_FILE", QFile::encodeName(tls.caFile()));
        SDownloader::trustEnvironmentCertificates(); // as the launcher does at start
    }

    // An https list address with the certificate checks on; https never hands over to http.
    void httpsListAddress_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("error"); // in errorString(); empty: the files are listed
        const QString toHttp = QString("%1to-http/%2/").arg(tls.baseUrl()).arg(QUrl(nginx->baseUrl()).port());
        QTest::newRow("trusted") << tls.baseUrl() << QString();
        QTest::newRow("untrusted") << stranger.baseUrl() << QString("issuer certificate");
        QTest::newRow("wrong host") << tls.baseUrl().replace("127.0.0.1", "localhost")
                                    << QString("host name");
        QTest::newRow("redirect to http") << toHttp << QString("Insecure redirect");
    }
    void httpsListAddress()
    {
        QFETCH(QString, address);
        QFETCH(QString, error);
        Patcher patcher(address, work.filePath("https"), work.filePath("https"), 1.0f);
        patcher.UpdateCheck();
        QVERIFY(QTest::qWaitFor([&] { return patcher.phase() == Patcher::Phase::Idle; }, 60000));
        QVERIFY2(patcher.errorString().contains(error), qPrintable(patcher.errorString()));
        QCOMPARE(patcher.hasUpdateFiles(), error.isEmpty());
    }

    void updatesOlderInstall_data()
    {
        QTest::addColumn<int>("installedMinor");
        // Downloaded only, then installed by a copy run as the self-update does.
        QTest::addColumn<bool>("copyRun");
        QTest::newRow("from 1.0, installed while downloading") << 0 << false;
        QTest::newRow("from 1.1, downloaded then copied") << 1 << true;
    }

    void updatesOlderInstall()
    {
        QFETCH(int, installedMinor);
        QFETCH(bool, copyRun);
        const FileTree installed = release(installedMinor);
        const FileTree latest = release(2);
        QTemporaryDir game;
        QVERIFY(writeTree(game.path(), installed));
        QVERIFY(writeTree(game.path(), {{"Saves/slot1.sav", "the player's own file"}}));
        const QString downloadDir = game.filePath(QStringLiteral("Update/Game"));

        // Exactly the files that differ from the newest release come down.
        int differing = 0;
        qint64 differingBytes = 0;
        for (auto it = latest.cbegin(); it != latest.cend(); ++it) {
            if (installed.value(it.key(), QByteArrayLiteral("\0missing")) != it.value()) {
                ++differing;
                differingBytes += it.value().size();
            }
        }
        float version = QStringLiteral("1.%1").arg(installedMinor).toFloat();
        Patcher patcher(nginx->baseUrl(), downloadDir, game.path(), version);
        QSignalSpy listed(&patcher, &Patcher::updateCheckFinished);
        patcher.UpdateCheck();
        QVERIFY(listed.wait(60000));
        QCOMPARE(patcher.fileCount(), differing);
        QCOMPARE(patcher.totalDownloadSize(), differingBytes);
        QCOMPARE(patcher.targetVersion(), 1.2f);
        QCOMPARE(patcher.latestVersion(), 1.2f);

        QSignalSpy done(&patcher, &Patcher::downloadListFileFinished);
        QSignalSpy downloaded(&patcher, &Patcher::downloadOneFileFinished);
        patcher.startDownload(!copyRun);
        QVERIFY(done.wait(60000));
        QCOMPARE(downloaded.count(), differing);
        if (copyRun) {
            QCOMPARE(readFile(game.filePath("Data/Maps/map02.bin")), installed.value("Data/Maps/map02.bin"));
            Patcher copier(QString(), downloadDir, game.path(), 1.0f);
            QSignalSpy copied(&copier, &Patcher::copyFileFinished);
            QVERIFY(copier.readUpdateList());
            copier.startCopy();
            QVERIFY(copied.wait(60000));
        }

        // The installed tree equals the published release, file by file. Besides: the player's file,
        // the kept list, and what the old release had that the new one dropped (updates never delete).
        FileTree expected = readTree(work.filePath(QStringLiteral("site/v1.2/files")));
        QCOMPARE(expected, latest);
        expected.insert("Saves/slot1.sav", "the player's own file");
        expected.insert("Update/Game/UpdateList.xml",
            readFile(work.filePath(QStringLiteral("site/v1.2/UpdateList.xml"))));
        for (auto it = installed.cbegin(); it != installed.cend(); ++it) {
            if (!latest.contains(it.key()))
                expected.insert(it.key(), it.value());
        }
        const FileTree result = readTree(game.path());
        QCOMPARE(result.keys(), expected.keys());
        for (auto it = expected.cbegin(); it != expected.cend(); ++it)
            QVERIFY2(md5Hex(result.value(it.key())) == md5Hex(it.value()), qPrintable(it.key()));

        // The launcher records the reached version in settings.ini with six significant digits;
        // with it read back, the next check finds nothing to do.
        version = QString::number(double(patcher.targetVersion()), 'g', 6).toFloat();
        Patcher again(nginx->baseUrl(), downloadDir, game.path(), version);
        QSignalSpy current(&again, &Patcher::updateFileFinished);
        again.UpdateCheck();
        QVERIFY(current.wait(60000));
        QCOMPARE(again.targetVersion(), 1.2f);
    }
};

QTEST_GUILESS_MAIN(TestUpdateNginx)
#include "tst_update_nginx.moc"
