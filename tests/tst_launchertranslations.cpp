#include "TestFiles.h"

#include <QtTest>

// The translation catalogue against the texts of the sources and forms: every text the player
// can see is in it, under its context, with a finished translation equal to the text, so the
// program reads the same with or without it.
class TestLauncherTranslations : public QObject
{
    Q_OBJECT

private slots:
    void catalogueHoldsEveryText()
    {
        // A copy brought up to date with the sources and forms as scripts/update-translations
        // does it: a text missing from the catalogue comes in unfinished, one no longer used
        // is marked vanished.
        QTemporaryDir scratch;
        const QString ts = scratch.filePath("launcher_cn.ts");
        QVERIFY(QFile::copy(LAUNCHER_SOURCE_DIR "/translations/launcher_cn.ts", ts));
        QProcess lupdate;
        lupdate.setWorkingDirectory(LAUNCHER_SOURCE_DIR);
        lupdate.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        lupdate.start(LUPDATE_EXECUTABLE, {"-silent", "-locations", "none", "src", "forms", "-ts", ts});
        QVERIFY(lupdate.waitForFinished(120000) && lupdate.exitStatus() == QProcess::NormalExit);
        QCOMPARE(lupdate.exitCode(), 0);
        const QStringList messages = QString::fromUtf8(readFile(ts)).split("<message").mid(1);
        const QRegularExpression finished("<source>(.*)</source>\\s*<translation>\\1</translation>",
            QRegularExpression::DotMatchesEverythingOption);
        QStringList wrong;
        for (const QString &message : messages) {
            if (!finished.match(message).hasMatch())
                wrong << message.section("</message>", 0, 0).simplified();
        }
        QVERIFY(messages.size() > 10);
        QVERIFY2(
            wrong.isEmpty(), qPrintable("run scripts/update-translations and finish:\n" + wrong.join('\n')));
    }
};

QTEST_GUILESS_MAIN(TestLauncherTranslations)
#include "tst_launchertranslations.moc"
