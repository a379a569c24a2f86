#include "GameFolder.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTranslator>
#include <QXmlStreamReader>
#include <QtTest>

// The translation catalogue against the texts of the sources and forms: every text the player
// can see is in it, under its context, with a finished translation equal to the text, so the
// program reads the same with or without it.
class TestLauncherTranslations : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void everyTextIsInTheCatalogue();
    void everyTranslationIsFinished();
    void builtCatalogueTranslatesEveryText();

private:
    struct Message
    {
        QString context;
        QString source;
        QString translation;
        QString type; // "unfinished", "vanished", "obsolete" or empty
    };
    static QList<Message> readTs(const QString &path, QString *error);
    static QString describe(const Message &message);

    QList<Message> m_catalogue;
    QList<Message> m_sources;
};

static const QString CataloguePath = QStringLiteral(LAUNCHER_SOURCE_DIR "/translations/launcher_cn.ts");

QList<TestLauncherTranslations::Message> TestLauncherTranslations::readTs(const QString &path, QString *error)
{
    QList<Message> messages;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return messages;
    }
    QXmlStreamReader xml(&file);
    QString context;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("name")) {
            context = xml.readElementText();
        } else if (xml.name() == QLatin1String("message")) {
            Message message {context, QString(), QString(), QString()};
            while (xml.readNextStartElement()) {
                if (xml.name() == QLatin1String("source")) {
                    message.source = xml.readElementText();
                } else if (xml.name() == QLatin1String("translation")) {
                    message.type = xml.attributes().value(QLatin1String("type")).toString();
                    message.translation = xml.readElementText(QXmlStreamReader::IncludeChildElements);
                } else {
                    xml.skipCurrentElement();
                }
            }
            messages << message;
        }
    }
    if (xml.hasError())
        *error = xml.errorString();
    return messages;
}

QString TestLauncherTranslations::describe(const Message &message)
{
    return message.context + QStringLiteral(": \"") + message.source + QLatin1Char('"');
}

void TestLauncherTranslations::initTestCase()
{
    QString error;
    m_catalogue = readTs(CataloguePath, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(!m_catalogue.isEmpty());

    // A fresh scan of the sources and forms, as scripts/update-translations makes it.
    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    const QString scanned = scratch.filePath(QStringLiteral("scan.ts"));
    QProcess lupdate;
    lupdate.setWorkingDirectory(QStringLiteral(LAUNCHER_SOURCE_DIR));
    lupdate.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    lupdate.start(QStringLiteral(LUPDATE_EXECUTABLE),
        {QStringLiteral("-silent"), QStringLiteral("-locations"), QStringLiteral("none"),
            QStringLiteral("src"), QStringLiteral("forms"), QStringLiteral("-ts"), scanned});
    QVERIFY2(lupdate.waitForFinished(120000), "lupdate did not finish");
    QCOMPARE(lupdate.exitStatus(), QProcess::NormalExit);
    QCOMPARE(lupdate.exitCode(), 0);
    m_sources = readTs(scanned, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(!m_sources.isEmpty());
}

void TestLauncherTranslations::everyTextIsInTheCatalogue()
{
    QSet<QPair<QString, QString>> catalogued;
    for (const Message &message : qAsConst(m_catalogue))
        catalogued.insert({message.context, message.source});
    QStringList missing;
    for (const Message &message : qAsConst(m_sources)) {
        if (!catalogued.contains({message.context, message.source}))
            missing << describe(message);
    }
    QVERIFY2(missing.isEmpty(),
        qPrintable(QStringLiteral("missing from launcher_cn.ts (run scripts/update-translations):\n")
            + missing.join(QLatin1Char('\n'))));
}

void TestLauncherTranslations::everyTranslationIsFinished()
{
    QStringList unfinished;
    for (const Message &message : qAsConst(m_catalogue)) {
        if (!message.type.isEmpty() || message.translation != message.source)
            unfinished << describe(message) + QStringLiteral(" -> \"") + message.translation
                    + QStringLiteral("\" ") + message.type;
    }
    QVERIFY2(unfinished.isEmpty(), qPrintable(unfinished.join(QLatin1Char('\n'))));
}

void TestLauncherTranslations::builtCatalogueTranslatesEveryText()
{
    QTranslator translator;
    QVERIFY(translator.load(builtFile(QStringLiteral("launcher_cn.qm"))));
    QStringList wrong;
    for (const Message &message : qAsConst(m_catalogue)) {
        if (!message.type.isEmpty())
            continue;
        const QString translated
            = translator.translate(message.context.toUtf8().constData(), message.source.toUtf8().constData());
        if (translated != message.source)
            wrong << describe(message) + QStringLiteral(" -> \"") + translated + QLatin1Char('"');
    }
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QLatin1Char('\n'))));
}

QTEST_GUILESS_MAIN(TestLauncherTranslations)
#include "tst_launchertranslations.moc"
