#include "Publisher.h"

#include "Crypto.h"
#include "Minisign.h"
#include "ReleaseTrust.h"
#include "UpdateManifest.h"
#include "Util.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QUrl>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <algorithm>
#include <functional>
#include <utility>

namespace {

const QString FilesDir = QStringLiteral("files");

QString quoted(const QString &text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

QString joined(const QString &relativeDir, const QString &name)
{
    return relativeDir.isEmpty() ? name : relativeDir + QLatin1Char('/') + name;
}

// Below a folder of their own, so that no release file can take the place of UpdateList.xml.
QString serverDir(const QString &relativeDir)
{
    return relativeDir.isEmpty() ? FilesDir : FilesDir + QLatin1Char('/') + relativeDir;
}

// The launcher joins the address as text and parses it tolerantly; the server decodes it.
// Whatever comes out must still name this very file ('#', '?' or "%41" would not).
bool reachesPath(const QString &path)
{
    const QString slashed = QLatin1Char('/') + path;
    const QUrl url(QStringLiteral("http://127.0.0.1") + slashed, QUrl::TolerantMode);
    return url.isValid() && !url.hasQuery() && !url.hasFragment() && url.path(QUrl::FullyDecoded) == slashed;
}

bool writeXml(const QString &path, const std::function<void(QXmlStreamWriter &)> &body, QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    QXmlStreamWriter xml(&file);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(2);
    xml.writeStartDocument();
    body(xml);
    xml.writeEndDocument();
    if (xml.hasError() || !file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace

std::optional<PublishVersion> PublishVersion::parse(const QString &given, QString *problem)
{
    static const QRegularExpression decimal(QStringLiteral("^[0-9]+(\\.[0-9]+)?$"));
    if (!decimal.match(given).hasMatch()) {
        *problem = QStringLiteral("%1 is not a version: write digits with at most one decimal point")
                       .arg(quoted(given));
        return std::nullopt;
    }
    PublishVersion version;
    version.value = given.toFloat();
    version.text = QString::number(double(version.value), 'g', 6);
    // The launcher writes the reached version with six significant digits and reads it back as
    // a float; both must give the value it compares with the ranges.
    if (version.text.toFloat() != version.value || version.text.toDouble() != given.toDouble()) {
        *problem
            = QStringLiteral("%1 cannot be kept exactly: the launcher records versions as 32-bit numbers "
                             "with six significant digits (the nearest is %2)")
                  .arg(quoted(given), quoted(version.text));
        return std::nullopt;
    }
    return version;
}

struct Publisher::Release
{
    struct File
    {
        QString relativeDir;
        QString name;
        QString source;
    };
    QList<File> files;
};

struct Publisher::Site
{
    QString versionListPath;
    QString rangePath;
    QList<QXmlStreamAttributes> keptRanges; // document order
    int replacedRanges = 0;
    std::optional<Minisign::SecretKey> key;
    qint64 serial = 0; // of this release's signatures: one above the site's
    qint64 expires = 0;
};

namespace {

// A trusted comment separates its fields with blanks.
bool fitsComment(const QString &text)
{
    return !text.isEmpty() && !text.contains(QRegularExpression(QStringLiteral("[\\s]")));
}

QString rangeFields(const QString &dir, const QString &version)
{
    return QStringLiteral("\tdir:%1\tversion:%2").arg(dir, version);
}

} // namespace

Publisher::Publisher(PublishOptions options)
    : m_options(std::move(options))
{ }

bool Publisher::refuse(const QString &problem)
{
    m_problems.append(problem);
    return false;
}

bool Publisher::publish()
{
    m_problems.clear();
    m_summary.clear();
    QString problem;
    const std::optional<PublishVersion> version = PublishVersion::parse(m_options.version, &problem);
    if (!version)
        refuse(QStringLiteral("version: ") + problem);
    const std::optional<PublishVersion> oldest = PublishVersion::parse(m_options.oldestVersion, &problem);
    if (!oldest)
        refuse(QStringLiteral("oldest version: ") + problem);
    if (version && oldest && oldest->value > version->value)
        refuse(QStringLiteral("the oldest version %1 is above the new version %2")
                   .arg(quoted(oldest->text), quoted(version->text)));
    if (!m_problems.isEmpty())
        return false;
    if (m_options.rangeDir.isEmpty())
        m_options.rangeDir = QLatin1Char('v') + version->text;

    Release release;
    Site site;
    const bool releaseRead = readRelease(release);
    const bool siteRead = readSite(site, *version);
    if (!releaseRead || !siteRead || !readSigning(site))
        return false;
    return write(release, site, *version, *oldest);
}

bool Publisher::readRelease(Release &release)
{
    const QFileInfo root(m_options.releaseDir);
    if (!root.isDir())
        return refuse(QStringLiteral("release folder %1 does not exist").arg(quoted(m_options.releaseDir)));
    const QString rootPath = root.canonicalFilePath();
    const QString sitePath = QFileInfo(m_options.siteDir).absoluteFilePath();
    const QString siteCanonical = QFileInfo(sitePath).canonicalFilePath();
    for (const QString &site : {QDir::cleanPath(sitePath), siteCanonical}) {
        if (!site.isEmpty() && (site == rootPath || site.startsWith(rootPath + QLatin1Char('/'))))
            return refuse(QStringLiteral("the site folder lies inside the release folder"));
    }

    bool complete = true;
    QDirIterator it(rootPath, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString source = it.next();
        const QString relative = QDir(rootPath).relativeFilePath(source);
        if (it.fileInfo().isDir()) {
            // The walk does not enter linked folders; publishing without their files would
            // ship an incomplete release.
            if (it.fileInfo().isSymLink())
                complete = refuse(QStringLiteral("folder %1 is a symbolic link: copy it into the release")
                                      .arg(quoted(relative)));
            continue;
        }
        const int slash = relative.lastIndexOf(QLatin1Char('/'));
        release.files.append({relative.left(qMax(slash, 0)), relative.mid(slash + 1), source});
    }
    if (!complete)
        return false;
    if (release.files.isEmpty())
        return refuse(QStringLiteral("release folder %1 holds no files").arg(quoted(m_options.releaseDir)));
    // Sorted by folder, then name: the list reads the same for the same release.
    std::sort(release.files.begin(), release.files.end(), [](const Release::File &a, const Release::File &b) {
        return a.relativeDir != b.relativeDir ? a.relativeDir < b.relativeDir : a.name < b.name;
    });

    bool safe = true;
    UpdateManifest::LetterCaseClashes clashes;
    for (const Release::File &file : std::as_const(release.files)) {
        const QString path = joined(file.relativeDir, file.name);
        UpdateManifest::FileEntry entry;
        entry.name = file.name;
        entry.relativeDir = file.relativeDir;
        entry.dir = serverDir(file.relativeDir);
        QString why;
        if (const std::optional<UpdateManifest::UnsafeEntry> unsafe
            = UpdateManifest::unsafeFileEntry(entry)) {
            why = QStringLiteral("the launcher refuses %1 %2 (%3)")
                      .arg(unsafe->attribute, quoted(unsafe->value), unsafe->reason);
        } else {
            // A backslash is a separator to the launcher but a character of this file's name.
            for (const QString &segment : path.split(QLatin1Char('/'))) {
                why = UpdateManifest::windowsNameProblem(segment);
                if (!why.isEmpty()) {
                    why = quoted(segment) + QStringLiteral(": ") + why;
                    break;
                }
            }
        }
        if (why.isEmpty()
            && !reachesPath(
                m_options.rangeDir + QLatin1Char('/') + entry.dir + QLatin1Char('/') + entry.name))
            why = QStringLiteral("its address would not lead to the file (a '#', '?' or '%' in the name)");
        const QString clash = clashes.add(file.relativeDir, file.name);
        if (why.isEmpty())
            why = clash;
        if (!why.isEmpty())
            safe = refuse(QStringLiteral("file %1: %2").arg(quoted(path), why));
    }
    return safe;
}

bool Publisher::readSite(Site &site, const PublishVersion &version)
{
    const QString rangeDir = m_options.rangeDir;
    bool usable = true;
    const QString localProblem = UpdateManifest::relativeDirProblem(rangeDir);
    if (rangeDir.startsWith(QLatin1Char('/')) || rangeDir.contains(QStringLiteral("//"))
        || rangeDir.endsWith(QLatin1Char('/'))
        || rangeDir.split(QLatin1Char('/')).contains(QStringLiteral(".")))
        usable = refuse(
            QStringLiteral("range folder %1: give a relative folder such as v1.1").arg(quoted(rangeDir)));
    else if (!localProblem.isEmpty())
        usable = refuse(QStringLiteral("range folder %1: %2").arg(quoted(rangeDir), localProblem));
    else if (!reachesPath(rangeDir + QStringLiteral("/") + UpdateManifest::UpdateListName))
        usable = refuse(QStringLiteral("range folder %1: its address would not lead to the folder")
                            .arg(quoted(rangeDir)));
    else {
        for (const QString &segment : rangeDir.split(QLatin1Char('/'))) {
            const QString why = UpdateManifest::windowsNameProblem(segment);
            if (!why.isEmpty())
                usable = refuse(QStringLiteral("range folder %1: %2").arg(quoted(rangeDir), why));
        }
    }

    const QDir siteDir(m_options.siteDir);
    site.versionListPath = siteDir.filePath(UpdateManifest::VersionListName);
    site.rangePath = siteDir.filePath(rangeDir);
    if (QFileInfo::exists(m_options.siteDir) && !QFileInfo(m_options.siteDir).isDir())
        return refuse(QStringLiteral("site folder %1 is not a folder").arg(quoted(m_options.siteDir)));
    if (usable && QFileInfo::exists(site.rangePath))
        usable = refuse(QStringLiteral("range folder %1 exists already: players may be downloading from it; "
                                       "choose another --dir or remove it first")
                            .arg(quoted(QDir::toNativeSeparators(site.rangePath))));

    QFile versionList(site.versionListPath);
    if (!versionList.exists())
        return usable;
    if (!versionList.open(QIODevice::ReadOnly))
        return refuse(QStringLiteral("cannot read %1: %2")
                          .arg(quoted(site.versionListPath), versionList.errorString()));
    const QByteArray xml = versionList.readAll();

    // A list the launcher would not use is not quietly carried forward.
    const UpdateManifest::VersionSelection check = UpdateManifest::selectVersion(xml, version.value);
    if (!check.xmlError.isEmpty())
        return refuse(QStringLiteral("%1 is not well-formed: %2").arg(site.versionListPath, check.xmlError));
    if (version.value < check.latestVersion)
        usable = refuse(
            QStringLiteral("%1 already reaches version %2; a new release must not be older")
                .arg(UpdateManifest::VersionListName, QString::number(double(check.latestVersion), 'g', 6)));

    QXmlStreamReader reader(xml);
    while (!reader.atEnd()) {
        reader.readNext();
        if (!reader.isStartElement() || reader.name() != QLatin1String("Version"))
            continue;
        // The folder is written anew, so a range that named it no longer describes it.
        if (reader.attributes().value(QLatin1String("Dir")) == rangeDir)
            ++site.replacedRanges;
        else
            site.keptRanges.append(reader.attributes());
    }
    return usable;
}

bool Publisher::write(
    const Release &release, const Site &site, const PublishVersion &version, const PublishVersion &oldest)
{
    // What this run creates is removed again when a write fails.
    QString createdRoot = QDir::cleanPath(QFileInfo(site.rangePath).absoluteFilePath());
    for (QString parent = QFileInfo(createdRoot).path(); !QFileInfo::exists(parent);
         parent = QFileInfo(parent).path())
        createdRoot = parent;
    const auto fail = [&](const QString &problem) {
        QDir(createdRoot).removeRecursively();
        return refuse(problem);
    };

    const QDir range(site.rangePath);
    QList<UpdateManifest::FileEntry> entries;
    qint64 totalSize = 0;
    for (const Release::File &file : release.files) {
        UpdateManifest::FileEntry entry;
        entry.name = file.name;
        entry.relativeDir = file.relativeDir;
        entry.dir = serverDir(file.relativeDir);
        const QString target = range.filePath(entry.dir + QLatin1Char('/') + entry.name);
        if (!QDir().mkpath(QFileInfo(target).path()) || !QFile::copy(file.source, target))
            return fail(QStringLiteral("cannot copy %1 to %2").arg(quoted(file.source), quoted(target)));
        // The digest and size of the copy players download, whatever the source did meanwhile.
        const QByteArray md5 = LTools::fileMd5(target);
        if (md5.isEmpty())
            return fail(QStringLiteral("cannot read back %1").arg(quoted(target)));
        entry.md5 = QString::fromLatin1(md5.toHex());
        QFile copy(target);
        if (!copy.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("cannot read back %1").arg(quoted(target)));
        Crypto::Hash sha256(Crypto::Algorithm::Sha256);
        while (!copy.atEnd())
            sha256.addData(copy.read(1 << 20));
        entry.sha256 = QString::fromLatin1(sha256.result().toHex());
        entry.size = QFileInfo(target).size();
        totalSize += entry.size;
        entries.append(entry);
    }

    QString error;
    const bool listWritten = writeXml(
        range.filePath(UpdateManifest::UpdateListName),
        [&](QXmlStreamWriter &xml) {
            xml.writeStartElement(QStringLiteral("UpdateList"));
            for (const UpdateManifest::FileEntry &entry : std::as_const(entries)) {
                xml.writeEmptyElement(QStringLiteral("File"));
                xml.writeAttribute(QStringLiteral("Name"), entry.name);
                xml.writeAttribute(QStringLiteral("RelativeDir"), entry.relativeDir);
                xml.writeAttribute(QStringLiteral("MD5"), entry.md5);
                xml.writeAttribute(QStringLiteral("Dir"), entry.dir);
                xml.writeAttribute(QStringLiteral("Size"), QString::number(entry.size));
                xml.writeAttribute(QStringLiteral("SHA256"), entry.sha256);
            }
            xml.writeEndElement();
        },
        &error);
    if (!listWritten)
        return fail(QStringLiteral("cannot write %1: %2").arg(UpdateManifest::UpdateListName, error));
    if (site.key
        && !writeSignature(range.filePath(UpdateManifest::UpdateListName),
            rangeFields(m_options.rangeDir, version.text), site, &error))
        return fail(error);
    // Every range the site keeps gets the new serial and expiry too, or older installations
    // would be refused once the old signatures expire.
    for (const QXmlStreamAttributes &kept : site.keptRanges) {
        const QString dir = kept.value(QLatin1String("Dir")).toString();
        if (site.key
            && !writeSignature(
                QDir(m_options.siteDir).filePath(dir + QLatin1Char('/') + UpdateManifest::UpdateListName),
                rangeFields(dir, kept.value(QLatin1String("MaxVer")).toString()), site, &error))
            return fail(error);
    }

    // Written last and replaced in one step: players never see a range whose files are missing.
    const bool versionsWritten = writeXml(
        site.versionListPath,
        [&](QXmlStreamWriter &xml) {
            xml.writeStartElement(QStringLiteral("VersionList"));
            xml.writeEmptyElement(QStringLiteral("Version"));
            xml.writeAttribute(QStringLiteral("MinVer"), oldest.text);
            xml.writeAttribute(QStringLiteral("MaxVer"), version.text);
            xml.writeAttribute(QStringLiteral("Dir"), m_options.rangeDir);
            for (const QXmlStreamAttributes &kept : site.keptRanges) {
                xml.writeEmptyElement(QStringLiteral("Version"));
                xml.writeAttributes(kept);
            }
            xml.writeEndElement();
        },
        &error);
    if (!versionsWritten)
        return fail(QStringLiteral("cannot write %1: %2").arg(site.versionListPath, error));
    if (site.key && !writeSignature(site.versionListPath, QString(), site, &error))
        return fail(error);

    m_summary = QStringLiteral("Published version %1 for installed versions %2 to %1: %3 files, %4, in %5.\n"
                               "%6 now lists %7 range(s)%8.")
                    .arg(version.text, oldest.text)
                    .arg(entries.size())
                    .arg(LTools::sizeText(totalSize), QDir::toNativeSeparators(site.rangePath),
                        QDir::toNativeSeparators(site.versionListPath))
                    .arg(site.keptRanges.size() + 1)
                    .arg(site.replacedRanges ? QStringLiteral("; replaced %1 range(s) naming %2")
                                                   .arg(site.replacedRanges)
                                                   .arg(quoted(m_options.rangeDir))
                                             : QString());
    if (site.key)
        m_summary += QStringLiteral("\nSigned with key %1: serial %2, valid until %3.")
                         .arg(site.key->publicKey().idText())
                         .arg(site.serial)
                         .arg(QDateTime::fromSecsSinceEpoch(site.expires, Qt::UTC).toString(Qt::ISODate));
    return true;
}

bool Publisher::readSigning(Site &site)
{
    if (m_options.secretKeyFile.isEmpty())
        return true;
    QFile keyFile(m_options.secretKeyFile);
    if (!keyFile.open(QIODevice::ReadOnly))
        return refuse(QStringLiteral("cannot read the secret key %1: %2")
                          .arg(quoted(m_options.secretKeyFile), keyFile.errorString()));
    QString problem;
    site.key = Minisign::SecretKey::parse(keyFile.readAll(), m_options.keyPassword, &problem);
    if (!site.key)
        return refuse(QStringLiteral("secret key %1: %2").arg(quoted(m_options.secretKeyFile), problem));
    if (m_options.expiryDays < 1)
        return refuse(QStringLiteral("the expiry must be at least one day"));

    bool usable = true;
    if (!fitsComment(m_options.rangeDir))
        usable = refuse(QStringLiteral("range folder %1: a signed range's folder has no blanks")
                            .arg(quoted(m_options.rangeDir)));
    for (const QXmlStreamAttributes &kept : std::as_const(site.keptRanges)) {
        const QString dir = kept.value(QLatin1String("Dir")).toString();
        if (!fitsComment(dir) || !fitsComment(kept.value(QLatin1String("MaxVer")).toString()))
            usable = refuse(QStringLiteral("range %1: a signed range's folder and version have no blanks")
                                .arg(quoted(dir)));
        else if (!QFileInfo::exists(QDir(m_options.siteDir)
                                        .filePath(dir + QLatin1Char('/') + UpdateManifest::UpdateListName)))
            usable = refuse(
                QStringLiteral("range %1: its %2 is not in the site folder, so it cannot be signed again")
                    .arg(quoted(dir), UpdateManifest::UpdateListName));
    }

    // The serial only grows: the launcher refuses a list older than one it has seen.
    QFile previous(site.versionListPath + ReleaseTrust::SignatureSuffix);
    if (previous.open(QIODevice::ReadOnly)) {
        const std::optional<Minisign::Signature> signature
            = Minisign::Signature::parse(previous.readAll(), &problem);
        const qint64 serial = signature
            ? Minisign::commentFields(signature->trustedComment).value(QStringLiteral("serial")).toLongLong()
            : 0;
        site.serial = serial;
    }
    site.serial += 1;
    site.expires = QDateTime::currentSecsSinceEpoch() + qint64(m_options.expiryDays) * 24 * 60 * 60;
    return usable;
}

bool Publisher::writeSignature(
    const QString &manifestPath, const QString &rangeFields, const Site &site, QString *error)
{
    QFile manifest(manifestPath);
    if (!manifest.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1 to sign it: %2")
                     .arg(quoted(manifestPath), manifest.errorString());
        return false;
    }
    const QString comment = QStringLiteral("timestamp:%1\tfile:%2\tserial:%3\texpires:%4")
                                .arg(QDateTime::currentSecsSinceEpoch())
                                .arg(QFileInfo(manifestPath).fileName())
                                .arg(site.serial)
                                .arg(site.expires)
        + rangeFields;
    const QByteArray signature = Minisign::sign(*site.key, manifest.readAll(), comment.toUtf8());
    if (signature.isEmpty() || !LTools::saveFile(manifestPath + ReleaseTrust::SignatureSuffix, signature)) {
        *error = QStringLiteral("cannot write the signature of %1").arg(quoted(manifestPath));
        return false;
    }
    return true;
}
