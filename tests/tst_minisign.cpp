#include "Minisign.h"
#include "Publishing.h"
#include "ReleaseTrust.h"
#include "TestFiles.h"

#include <QtTest>

// Signatures in the minisign tool's format, both ways, and the release rules built on them.
class TestMinisign : public QObject
{
    Q_OBJECT

    QTemporaryDir work;
    Minisign::SecretKey studio;
    QString studioLine;
    QString foreignLine;

    QString path(const QString &name) const { return work.filePath(name); }
    // A key pair made by the minisign command, without a password; returns the public key line.
    QString makeKeys(const QString &name)
    {
        const ToolRun run
            = runTool("minisign", {"-G", "-W", "-p", path(name + ".pub"), "-s", path(name + ".key")});
        return run.exitCode == 0 ? QString::fromLatin1(readFile(path(name + ".pub"))).split('\n').value(1)
                                 : QString();
    }
    QByteArray toolSignature(
        const QString &key, const QByteArray &message, const QString &comment, bool legacy)
    {
        writeFile(path("message"), message);
        QStringList arguments {"-S", "-W", "-s", path(key + ".key"), "-m", path("message"), "-t", comment};
        if (legacy)
            arguments << "-l";
        return runTool("minisign", arguments).exitCode == 0 ? readFile(path("message.minisig"))
                                                            : QByteArray();
    }
    QByteArray signature(const QByteArray &message, const QByteArray &comment)
    {
        return Minisign::sign(studio, message, comment);
    }

private slots:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable("minisign").isEmpty())
            QFAIL("the minisign command is missing: scripts/install-deps installs it");
        studioLine = makeKeys("studio");
        foreignLine = makeKeys("foreign");
        QString error;
        const std::optional<Minisign::SecretKey> key
            = Minisign::SecretKey::parse(readFile(path("studio.key")), {}, &error);
        QVERIFY2(key && !foreignLine.isEmpty(), qPrintable(error));
        studio = *key;
    }

    void verify_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QByteArray>("signature");
        QTest::addColumn<QString>("error"); // empty: verifies

        const QByteArray list
            = "<VersionList><Version MinVer=\"1\" MaxVer=\"1.1\" Dir=\"v1.1\"/></VersionList>\n";
        const QString comment = "serial:3 expires:4102444800";
        const QByteArray ours = signature(list, comment.toUtf8());
        QTest::newRow("minisign, pre-hashed") << list << toolSignature("studio", list, comment, false) << "";
        QTest::newRow("minisign, legacy") << list << toolSignature("studio", list, comment, true) << "";
        QTest::newRow("ours") << list << ours << "";
        QByteArray changed = list;
        changed[30] = '2';
        QTest::newRow("one byte changed") << changed << ours << "does not match the content";
        QByteArray otherComment = ours;
        otherComment.replace("serial:3", "serial:9");
        QTest::newRow("trusted comment changed")
            << list << otherComment << "does not match its trusted comment";
        QTest::newRow("another key") << list << toolSignature("foreign", list, comment, false)
                                     << "not trusted";
        QTest::newRow("missing") << list << QByteArray() << "not a minisign signature";
        QTest::newRow("three lines") << list << ours.left(ours.lastIndexOf('\n', -2))
                                     << "not a minisign signature";
        QByteArray badBase64 = ours;
        badBase64.replace(badBase64.indexOf("\nRU") + 1, 2, "!!");
        QTest::newRow("broken base64") << list << badBase64 << "malformed signature line";
        QList<QByteArray> lines = ours.split('\n');
        QByteArray raw = QByteArray::fromBase64(lines[1]);
        raw.replace(0, 2, "Xy");
        lines[1] = raw.toBase64();
        QTest::newRow("unknown algorithm") << list << lines.join('\n') << "unknown signature algorithm";
    }

    void verify()
    {
        QFETCH(QByteArray, message);
        QFETCH(QByteArray, signature);
        QFETCH(QString, error);
        QString problem;
        const QList<Minisign::PublicKey> keys = *Minisign::parseKeyList(studioLine, &problem);
        const std::optional<QByteArray> comment = Minisign::verify(keys, message, signature, &problem);
        QVERIFY2(comment.has_value() == error.isEmpty() && problem.contains(error), qPrintable(problem));
        if (comment)
            QCOMPARE(Minisign::commentFields(*comment).value("serial"), QString("3"));
    }

    // What publish writes, the minisign command accepts.
    void toolVerifiesOurs()
    {
        QVERIFY(writeFile(path("list.xml"), "<UpdateList/>\n")
            && writeFile(path("list.xml.minisig"), signature("<UpdateList/>\n", "serial:1\texpires:1")));
        const ToolRun run = runTool("minisign", {"-V", "-P", studioLine, "-m", path("list.xml")});
        QVERIFY2(run.exitCode == 0 && run.out.contains("Trusted comment: serial:1\texpires:1"),
            qPrintable(run.err));
    }

    void trust_data()
    {
        QTest::addColumn<QByteArray>("comment");
        QTest::addColumn<QString>("dir"); // with version: the range an UpdateList.xml must name
        QTest::addColumn<float>("version");
        QTest::addColumn<QString>("error");
        QTest::addColumn<qint64>("recorded"); // the highest serial afterwards

        const QString future = "expires:4102444800";
        const auto row = [](const char *tag, const QString &comment, const QString &error, qint64 recorded,
                             const QString &dir = QString(), float version = 0) {
            QTest::newRow(tag) << comment.toUtf8() << dir << version << error << recorded;
        };
        row("higher serial", "serial:6 " + future, "", 6);
        row("same serial", "serial:5 " + future, "", 5);
        row("lower serial", "serial:4 " + future, "serial 4 is older than serial 5", 5);
        row("expired", "serial:7 expires:1700000000", "expired on 2023-11-14", 5);
        row("no expiry", "serial:7", "lacks a serial or an expiry", 5);
        row("no serial", future, "lacks a serial or an expiry", 5);
        row("tabs, unknown fields",
            "timestamp:1\tfile:UpdateList.xml\tserial:8\t" + future + "\tdir:v1.2\tversion:1.2", "", 8,
            "v1.2", 1.2f);
        row("older range in its place", "serial:8 " + future + " dir:v1.1 version:1.1",
            "signed for range dir:v1.1 version:1.1, not for dir:v1.2 version:1.2", 5, "v1.2", 1.2f);
        row("same dir, other version", "serial:8 " + future + " dir:v1.2 version:1.25", "signed for range", 5,
            "v1.2", 1.2f);
    }

    // Serials are kept per list address in a file beside launcher.ini.
    void trust()
    {
        QFETCH(QByteArray, comment);
        QFETCH(QString, dir);
        QFETCH(float, version);
        QFETCH(QString, error);
        QFETCH(qint64, recorded);
        const QString url = "http://updates.example/game/v1.2/UpdateList.xml";
        QVERIFY(writeFile(path("serials.json"), "{\"" + url.toUtf8() + "\": 5, \"http://other/\": 9}"));
        QString problem;
        ReleaseTrust trust(*Minisign::parseKeyList(studioLine, &problem), path("serials.json"));
        const QByteArray list = "<UpdateList/>";
        std::optional<ReleaseTrust::Range> range;
        if (!dir.isEmpty())
            range = ReleaseTrust::Range {dir, version};
        QCOMPARE(trust.accept(url, list, signature(list, comment), range, &problem), error.isEmpty());
        QVERIFY2(problem.contains(error), qPrintable(problem));
        const QJsonObject state = QJsonDocument::fromJson(readFile(path("serials.json"))).object();
        QCOMPARE(state.value(url).toInt(), int(recorded));
        QCOMPARE(state.value("http://other/").toInt(), 9);
    }

    void configuration_data()
    {
        QTest::addColumn<QString>("compiled");
        QTest::addColumn<QString>("ini");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QStringList>("keys"); // the public key lines in force
        QTest::addColumn<QString>("problem");

        const QString studio = studioLine;
        const QString foreign = foreignLine;
        QTest::newRow("none") << ""
                              << "" << false << QStringList() << "";
        QTest::newRow("launcher.ini") << "" << studio << true << QStringList {studio} << "";
        QTest::newRow("two, comma and blank")
            << "" << studio + ", " + foreign << true << QStringList {studio, foreign} << "";
        QTest::newRow("build wins") << studio << foreign << true << QStringList {studio} << "ignored";
        // A typo must not switch the checks off: nothing verifies then.
        QTest::newRow("unreadable") << ""
                                    << "RWQ-not-a-key" << true << QStringList()
                                    << "not a minisign public key";
    }

    void configuration()
    {
        QFETCH(QString, compiled);
        QFETCH(QString, ini);
        QFETCH(bool, enabled);
        QFETCH(QStringList, keys);
        QFETCH(QString, problem);
        QString told;
        const ReleaseTrust trust = ReleaseTrust::fromConfiguration(compiled, ini, path("s.json"), &told);
        QCOMPARE(trust.isEnabled(), enabled);
        QStringList inForce;
        for (const Minisign::PublicKey &key : trust.keys())
            inForce << QString::fromLatin1(("Ed" + key.id + key.key).toBase64());
        QCOMPARE(inForce, keys);
        QVERIFY2(told.contains(problem) && problem.isEmpty() == told.isEmpty(), qPrintable(told));
    }
};

QTEST_GUILESS_MAIN(TestMinisign)
#include "tst_minisign.moc"
