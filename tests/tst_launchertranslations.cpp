#include "GameFolder.h"

#include <QTranslator>
#include <QXmlStreamReader>
#include <QtTest>

// "context: source" of every message of a .ts file, with " -> translation" and its type
// where the translation is not finished as the text itself; empty when the file cannot be read.
QStringList readTs(const QString &path)
{
    QFile file(path);
    QXmlStreamReader xml(&file);
    QStringList messages;
    QString context, source;
    while (file.isOpen() || file.open(QIODevice::ReadOnly)) {
        if (xml.readNext() == QXmlStreamReader::EndDocument || xml.hasError())
            return xml.hasError() ? QStringList() : messages;
        if (xml.name() == QLatin1String("name") && xml.isStartElement())
            context = xml.readElementText();
        else if (xml.name() == QLatin1String("source") && xml.isStartElement())
            source = context + ": " + xml.readElementText();
        else if (xml.name() == QLatin1String("translation") && xml.isStartElement()) {
            const QString type = xml.attributes().value("type").toString();
            const QString translation = xml.readElementText(QXmlStreamReader::IncludeChildElements);
            messages << source
                    + (type.isEmpty() && source.endsWith(": " + translation)
                            ? ""
                            : " -> " + translation + " " + type);
        }
    }
    return messages;
}

// The translation catalogue against the texts of the sources and forms: every text the player
// can see is in it, under its context, with a finished translation equal to the text, and the
// built catalogue gives each back, so the program reads the same with or without it.
class TestLauncherTranslations : public QObject
{
    Q_OBJECT

private slots:
    void catalogueHoldsEveryText()
    {
        // A fresh scan of the sources and forms, as scripts/update-translations makes it.
        QTemporaryDir scratch;
        QProcess lupdate;
        lupdate.setWorkingDirectory(LAUNCHER_SOURCE_DIR);
        lupdate.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        lupdate.start(LUPDATE_EXECUTABLE,
            {"-silent", "-locations", "none", "src", "forms", "-ts", scratch.filePath("scan.ts")});
        QVERIFY(lupdate.waitForFinished(120000) && lupdate.exitStatus() == QProcess::NormalExit
            && lupdate.exitCode() == 0);
        const QStringList catalogue = readTs(LAUNCHER_SOURCE_DIR "/translations/launcher_cn.ts");
        QStringList wrong;
        for (const QString &message : readTs(scratch.filePath("scan.ts")))
            if (!catalogue.contains(message.section(" -> ", 0, 0)))
                wrong << "missing (run scripts/update-translations): " + message.section(" -> ", 0, 0);
        QTranslator built;
        QVERIFY(built.load(builtFile("launcher_cn.qm")) && !catalogue.isEmpty());
        for (const QString &message : catalogue) {
            const QString context = message.section(": ", 0, 0), source = message.section(": ", 1);
            if (message.contains(" -> ")
                || built.translate(context.toUtf8().constData(), source.toUtf8().constData()) != source)
                wrong << "not finished as the text: " + message;
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join('\n')));
    }
};

QTEST_GUILESS_MAIN(TestLauncherTranslations)
#include "tst_launchertranslations.moc"
