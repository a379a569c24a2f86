// publish: writes one release of the game (or of the launcher) into an update site.
#include "Minisign.h"
#include "Publisher.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

#include <cstdio>

namespace {

void printError(const QString &text)
{
    std::fprintf(stderr, "publish: %s\n", qPrintable(text));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("publish"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Publishes a release to an update site the launcher reads.\n\n"
        "Copies every file of RELEASE into a new range folder of the site together with its\n"
        "UpdateList.xml (name, folder, MD5 and size of each file), then puts the range first in\n"
        "the site's VersionList.xml, keeping the ranges already there. An installation whose\n"
        "version lies between --oldest and VERSION receives exactly the files that differ.\n"
        "Nothing is written when a file name, a version or the site is refused; the reasons\n"
        "are printed and the exit code is 1.\n\n"
        "Versions are decimal numbers with at most six significant digits (1.1, 2.05, 10).\n"
        "For the launcher's own site use 1 as VERSION and --oldest: the launcher always\n"
        "counts itself as version 1, so each release needs its own --dir.\n\n"
        "With --sign, each list of the site gets a minisign signature beside it (NAME.minisig),\n"
        "as launchers with release keys require: a serial one above the site's last and an\n"
        "expiry; the ranges already listed are signed again. The password of an encrypted\n"
        "key is read from standard input. Keep the secret key off the server."));
    parser.addHelpOption();
    const QCommandLineOption siteOption({QStringLiteral("s"), QStringLiteral("site")},
        QStringLiteral("The update site folder, served at the game/list (or launcher/list) address. "
                       "Created when missing. Required."),
        QStringLiteral("folder"));
    const QCommandLineOption oldestOption({QStringLiteral("o"), QStringLiteral("oldest")},
        QStringLiteral("The oldest installed version this release still updates; older installations "
                       "keep the ranges already listed. Required."),
        QStringLiteral("version"));
    const QCommandLineOption dirOption({QStringLiteral("d"), QStringLiteral("dir")},
        QStringLiteral("The range's folder on the site; must not exist yet. Default: v and VERSION."),
        QStringLiteral("name"));
    const QCommandLineOption signOption(QStringLiteral("sign"),
        QStringLiteral("Sign the lists with this minisign secret key file."), QStringLiteral("secret-key"));
    const QCommandLineOption expiryOption(QStringLiteral("expiry-days"),
        QStringLiteral("Days until the signatures expire and launchers refuse the site (default 90)."),
        QStringLiteral("days"), QStringLiteral("90"));
    parser.addOptions({siteOption, oldestOption, dirOption, signOption, expiryOption});
    parser.addPositionalArgument(
        QStringLiteral("RELEASE"), QStringLiteral("Folder holding the release as it is installed."));
    parser.addPositionalArgument(QStringLiteral("VERSION"), QStringLiteral("The version of the release."));
    parser.process(app);

    const QStringList positional = parser.positionalArguments();
    QStringList usage;
    if (positional.size() != 2)
        usage << QStringLiteral("give the release folder and its version");
    if (!parser.isSet(siteOption))
        usage << QStringLiteral("--site is required");
    if (!parser.isSet(oldestOption))
        usage << QStringLiteral("--oldest is required");
    if (!usage.isEmpty()) {
        for (const QString &text : std::as_const(usage))
            printError(text);
        std::fprintf(stderr, "Try 'publish --help'.\n");
        return 2;
    }

    PublishOptions options;
    options.releaseDir = positional.at(0);
    options.version = positional.at(1);
    options.siteDir = parser.value(siteOption);
    options.oldestVersion = parser.value(oldestOption);
    options.rangeDir = parser.value(dirOption);
    options.secretKeyFile = parser.value(signOption);
    bool daysOk = false;
    options.expiryDays = parser.value(expiryOption).toInt(&daysOk);
    if (!daysOk)
        options.expiryDays = 0;
    QFile key(options.secretKeyFile);
    if (!options.secretKeyFile.isEmpty() && key.open(QIODevice::ReadOnly)
        && Minisign::SecretKey::isEncrypted(key.readAll())) {
        std::fprintf(stderr, "Password of %s: ", qPrintable(options.secretKeyFile));
        options.keyPassword = QTextStream(stdin).readLine().toUtf8();
        std::fprintf(stderr, "\n");
    }
    Publisher publisher(options);
    if (!publisher.publish()) {
        for (const QString &problem : publisher.problems())
            printError(problem);
        printError(QStringLiteral("nothing was published"));
        return 1;
    }
    std::printf("%s\n", qPrintable(publisher.summary()));
    return 0;
}
