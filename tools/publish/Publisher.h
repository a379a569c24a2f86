#ifndef PUBLISHER_H
#define PUBLISHER_H

#include <QString>
#include <QStringList>

#include <optional>

// One release of a product as the launcher's update engine reads it: the files of a release
// folder copied into a new range folder of an update site with their UpdateList.xml, and the
// range put first in the site's VersionList.xml.
struct PublishOptions
{
    QString releaseDir; // the complete release, as it is installed
    QString siteDir; // the folder served at the list address (game/list or launcher/list)
    QString version; // the version the release is
    QString oldestVersion; // the oldest installed version the range still brings up to date
    QString rangeDir; // the range's folder below siteDir; empty gives "v" and the version
    // With a minisign secret key, every manifest of the site gets a .minisig beside it.
    QString secretKeyFile;
    QByteArray keyPassword; // for an encrypted secret key
    int expiryDays = 90;
};

// A version as the launcher keeps it: a 32-bit float, recorded in settings.ini with six
// significant digits and read back from there. Only values that survive that trip exactly
// are accepted; otherwise an installation would no longer find itself inside its own range.
struct PublishVersion
{
    float value = 0;
    QString text; // the form written into VersionList.xml and read back as value

    static std::optional<PublishVersion> parse(const QString &given, QString *problem);
};

class Publisher
{
public:
    explicit Publisher(PublishOptions options);

    // Checks everything first and writes only when nothing was refused. False with
    // problems() saying why; a refusal writes nothing, a failed write removes what it wrote.
    bool publish();

    QStringList problems() const { return m_problems; }
    // After a successful publish().
    QString summary() const { return m_summary; }

private:
    struct Release;
    struct Site;

    bool readRelease(Release &release);
    bool readSite(Site &site, const PublishVersion &version);
    bool write(const Release &release, const Site &site, const PublishVersion &version,
        const PublishVersion &oldest);
    bool refuse(const QString &problem);
    bool readSigning(Site &site);
    bool writeSignature(
        const QString &manifestPath, const QString &rangeFields, const Site &site, QString *error);

    PublishOptions m_options;
    QStringList m_problems;
    QString m_summary;
};

#endif
