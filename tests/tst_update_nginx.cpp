#include "Downloader.h"
#include "NginxServer.h"
#include "Patcher.h"
#include "Publishing.h"
#include "ReleaseTrust.h"
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
    QString siteUrl;

    QString keyLine(const QString &name)
    {
        const QString pub = work.filePath(name + ".pub");
        runTool("minisign", {"-G", "-W", "-p", pub, "-s", work.filePath(name + ".key")});
        return QString::fromLatin1(readFile(pub)).split('\n').value(1);
    }
    // The studio's keys, as launcher.ini gives them; state beside it in the game folder.
    std::shared_ptr<ReleaseTrust> studioTrust(const QString &gameDir)
    {
        QString problem;
        return std::make_shared<ReleaseTrust>(ReleaseTrust::fromConfiguration(
            {}, keyLine("studio"), gameDir + "/release-serials.json", &problem));
    }
    // https, each with a CA of its own; only tls's is trusted.
    NginxServer tls {work.filePath(QStringLiteral("root"))};
    NginxServer stranger {work.filePath(QStringLiteral("root"))};

private slots:
    void initTestCase()
    {
        QVERIFY(work.isValid());
        keyLine("studio");
        const QString site = work.filePath(QStringLiteral("root/site"));
        for (int minor : {1, 2}) {
            const QString folder = work.filePath(QStringLiteral("release-1.%1").arg(minor));
            QVERIFY(writeTree(folder, release(minor)));
            const ToolRun run = publish({folder, QStringLiteral("1.%1").arg(minor), "--site", site,
                "--oldest", "1.0", "--sign", work.filePath("studio.key")});
            QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        }
        nginx = std::make_unique<NginxServer>(work.filePath("root"));
        if (!nginx->start()) {
            if (QStandardPaths::findExecutable(QStringLiteral("nginx"), {"/usr/sbin", "/usr/bin"}).isEmpty())
                QSKIP("nginx is not installed");
            QFAIL(qPrintable(nginx->errorText()));
        }
        siteUrl = nginx->baseUrl() + "site/";
        QVERIFY2(tls.start({"--tls"}) && stranger.start({"--tls"}), qPrintable(tls.errorText()));
        qputenv("SSL_CERT_FILE", QFile::encodeName(tls.caFile()));
        SDownloader::trustEnvironmentCertificates(); // as the launcher does at start
    }

    // An https list address with the certificate checks on; https never hands over to http.
    void httpsListAddress_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("error"); // in errorString(); empty: the files are listed
        const QString toHttp
            = QString("%1to-http/%2/site/").arg(tls.baseUrl()).arg(QUrl(nginx->baseUrl()).port());
        QTest::newRow("trusted") << tls.baseUrl() + "site/" << QString();
        QTest::newRow("untrusted") << stranger.baseUrl() + "site/" << QString("issuer certificate");
        QTest::newRow("wrong host") << tls.baseUrl().replace("127.0.0.1", "localhost") + "site/"
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
        QTest::addColumn<bool>("keyed"); // without a key the signatures are not looked at
        QTest::newRow("from 1.0, installed while downloading") << 0 << false << false;
        QTest::newRow("from 1.1, downloaded then copied, signed") << 1 << true << true;
    }

    void updatesOlderInstall()
    {
        QFETCH(int, installedMinor);
        QFETCH(bool, copyRun);
        QFETCH(bool, keyed);
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
        Patcher patcher(siteUrl, downloadDir, game.path(), version);
        const std::shared_ptr<ReleaseTrust> trust = keyed ? studioTrust(game.path()) : nullptr;
        patcher.setReleaseTrust(trust);
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
            copier.setReleaseTrust(trust);
            QSignalSpy copied(&copier, &Patcher::copyFileFinished);
            QVERIFY(copier.readUpdateList());
            copier.startCopy();
            QVERIFY(copied.wait(60000));
        }

        // The installed tree equals the published release, file by file. Besides: the player's file,
        // the kept list, and what the old release had that the new one dropped (updates never delete).
        FileTree expected = readTree(work.filePath(QStringLiteral("root/site/v1.2/files")));
        QCOMPARE(expected, latest);
        expected.insert("Saves/slot1.sav", "the player's own file");
        for (const QString name : {"UpdateList.xml", "UpdateList.xml.minisig"}) {
            if (keyed || !name.endsWith("minisig"))
                expected.insert("Update/Game/" + name, readFile(work.filePath("root/site/v1.2/" + name)));
        }
        if (keyed)
            expected.insert("release-serials.json", readFile(game.filePath("release-serials.json")));
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
        Patcher again(siteUrl, downloadDir, game.path(), version);
        again.setReleaseTrust(trust);
        QSignalSpy current(&again, &Patcher::updateFileFinished);
        again.UpdateCheck();
        QVERIFY(current.wait(60000));
        QCOMPARE(again.targetVersion(), 1.2f);
    }

    void refusesUntrusted_data()
    {
        QTest::addColumn<QString>("file"); // below the site copy
        QTest::addColumn<QByteArray>("content"); // empty: removed
        QTest::addColumn<QString>("error");

        const QString site = work.filePath("root/site/");
        QByteArray versions = readFile(site + "VersionList.xml");
        versions.replace("MinVer=\"1\"", "MinVer=\"0\"");
        const QString signedList = "v1.2/UpdateList.xml";
        QByteArray list = readFile(site + signedList);
        list.replace(list.indexOf("MD5=\"") + 5, 1, "f");
        QTest::newRow("list changed by one byte")
            << "VersionList.xml" << versions << "does not match the content";
        QTest::newRow("range list changed") << signedList << list << "does not match the content";
        QTest::newRow("no signature") << "VersionList.xml.minisig" << QByteArray() << "failed 3 times";
        // Published first, so signed with a lower serial and for its own range.
        QTest::newRow("older range list in its place")
            << signedList + ".minisig" << readFile(site + "v1.1/UpdateList.xml.minisig")
            << "signed for range dir:v1.1";
    }

    // Each ends the check as a failure with the cause, and nothing is installed.
    void refusesUntrusted()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, content);
        QFETCH(QString, error);
        const QString copy = work.filePath("root/" + QString(QTest::currentDataTag()).replace(' ', '-'));
        QVERIFY(writeTree(copy, readTree(work.filePath("root/site"))));
        if (QByteArray(QTest::currentDataTag()) == "older range list in its place")
            QVERIFY(writeFile(copy + "/v1.2/UpdateList.xml", readFile(copy + "/v1.1/UpdateList.xml")));
        if (content.isEmpty())
            QFile::remove(copy + '/' + file);
        else
            QVERIFY(writeFile(copy + '/' + file, content));
        const QString listBase = nginx->baseUrl() + QFileInfo(copy).fileName() + '/';

        QTemporaryDir game;
        QVERIFY(writeTree(game.path(), release(0)));
        const auto before = snapshot(game.path());
        Patcher patcher(listBase, game.filePath("Update/Game"), game.path(), 1.0f);
        patcher.setReleaseTrust(studioTrust(game.path()));
        QSignalSpy failed(&patcher, &Patcher::updateCheckFailed);
        patcher.UpdateCheck();
        QVERIFY(failed.wait(60000));
        QVERIFY2(patcher.errorString().contains(error), qPrintable(patcher.errorString()));
        QCOMPARE(patcher.fileCount(), 0);
        auto after = snapshot(game.path());
        after.remove("Update");
        after.remove("Update/Game");
        after.remove("release-serials.json"); // the VersionList.xml accepted before a range list failed
        QCOMPARE(after, before);
    }
};

QTEST_GUILESS_MAIN(TestUpdateNginx)
#include "tst_update_nginx.moc"
