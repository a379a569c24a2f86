#include "UpdateManifest.h"

#include <QIODevice>
#include <QRegularExpression>
#include <QStringList>
#include <QUrl>
#include <QXmlStreamReader>

#include <cmath>
#include <utility>

namespace UpdateManifest {

QString versionListUrl(const QString &listBaseUrl)
{
    return listBaseUrl + VersionListName;
}

QString fileBaseUrl(const QString &listBaseUrl, const QString &versionDir)
{
    return listBaseUrl + versionDir;
}

QString updateListUrl(const QString &fileBaseUrl)
{
    return fileBaseUrl + QLatin1Char('/') + UpdateListName;
}

UpdateFileInfo makeUpdateFileInfo(
    const FileEntry &entry, const QString &downloadDir, const QString &installDir, const QString &fileBaseUrl)
{
    const QChar slash = QLatin1Char('/');
    UpdateFileInfo info;
    info.name = entry.name;
    info.md5 = entry.md5;
    info.sha256 = entry.sha256;
    info.downloadDir = downloadDir + slash + entry.relativeDir;
    info.installDir = installDir + slash + entry.relativeDir;
    info.url = fileBaseUrl + slash + entry.dir + slash + entry.name;
    info.size = entry.size;
    return info;
}

UnsafeEntry::UnsafeEntry(const QString &element, const QString &attribute, const QString &value,
    const QString &reason, qint64 lineNumber)
    : element(element)
    , attribute(attribute)
    , value(value)
    , reason(reason)
    , lineNumber(lineNumber)
{ }

QString UnsafeEntry::describe() const
{
    // Control characters would break the one-line log format.
    QString shown;
    for (const QChar c : value) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            shown += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return QStringLiteral("%1 at line %2: %3=\"%4\" (%5)")
        .arg(element)
        .arg(lineNumber)
        .arg(attribute, shown, reason);
}

namespace {

const QLatin1String VersionElement("Version");
const QLatin1String MinVerAttribute("MinVer");
const QLatin1String MaxVerAttribute("MaxVer");
const QLatin1String DirAttribute("Dir");
const QLatin1String FileElement("File");
const QLatin1String NameAttribute("Name");
const QLatin1String RelativeDirAttribute("RelativeDir");
const QLatin1String Md5Attribute("MD5");
const QLatin1String SizeAttribute("Size");
const QLatin1String Sha256Attribute("SHA256");

// Windows takes a backslash as a separator, so it is one here on every platform.
QStringList segments(QString path)
{
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return path.split(QLatin1Char('/'));
}

// "..", and runs of dots and spaces that Windows may trim down to "..".
bool isParentSegment(const QString &segment)
{
    int dots = 0;
    for (const QChar c : segment) {
        if (c == QLatin1Char('.'))
            ++dots;
        else if (c != QLatin1Char(' '))
            return false;
    }
    return dots >= 2;
}

bool isTrimmedAway(const QString &segment)
{
    for (const QChar c : segment) {
        if (c != QLatin1Char('.') && c != QLatin1Char(' '))
            return false;
    }
    return true;
}

bool hasParentSegment(const QString &path)
{
    for (const QString &segment : segments(path)) {
        if (isParentSegment(segment))
            return true;
    }
    return false;
}

// In a URL a query, a fragment or a path parameter ends a segment ("..#x" leaves the
// folder just as ".." does), and "%2e%2e" is ".." to the server.
bool hasParentSegmentInUrl(const QString &text)
{
    const auto urlSegments = [](QString path) {
        for (const QChar end : {QLatin1Char('?'), QLatin1Char('#'), QLatin1Char(';')})
            path.replace(end, QLatin1Char('/'));
        return path;
    };
    if (hasParentSegment(urlSegments(text)))
        return true;
    if (!text.contains(QLatin1Char('%')))
        return false;
    return hasParentSegment(urlSegments(QString::fromUtf8(QByteArray::fromPercentEncoding(text.toUtf8()))));
}

bool isAbsolute(const QString &path)
{
    return path.startsWith(QLatin1Char('/')) || path.startsWith(QLatin1Char('\\'));
}

// Shared by Name and RelativeDir: both are joined below a local folder.
QString localPathProblem(const QString &path)
{
    if (path.contains(QChar(0)))
        return QStringLiteral("NUL character");
    if (isAbsolute(path))
        return QStringLiteral("absolute path");
    // A drive letter, a drive-relative path or an NTFS stream name.
    if (path.contains(QLatin1Char(':')))
        return QStringLiteral("drive letter or colon");
    if (hasParentSegment(path))
        return QStringLiteral("parent segment");
    return QString();
}

QString windowsPathProblem(const QString &path)
{
    for (const QString &segment : segments(path)) {
        // "a//b" and "a/./b" name the same place on Windows.
        if (segment.isEmpty() || segment == QLatin1String("."))
            continue;
        const QString problem = windowsNameProblem(segment);
        if (!problem.isEmpty())
            return problem;
    }
    return QString();
}

QString nameProblem(const QString &name)
{
    if (name.isEmpty())
        return QStringLiteral("empty name");
    if (const QString problem = localPathProblem(name); !problem.isEmpty())
        return problem;
    if (hasParentSegmentInUrl(name))
        return QStringLiteral("parent segment");
    // "a/", "a/." or "a/ " would name the folder itself: Windows drops trailing dots and
    // spaces of a segment.
    const QString last = segments(name).constLast();
    if (isTrimmedAway(last))
        return QStringLiteral("no file name");
    return windowsPathProblem(name);
}

// Empty, unparsable and non-finite texts give 0.
float toVersion(const QStringRef &text)
{
    bool ok = false;
    const float value = text.toFloat(&ok);
    return ok && std::isfinite(value) ? value : 0.0f;
}

qint64 toSize(const QStringRef &text)
{
    return text.toLongLong(nullptr, 10);
}

// Element names are compared case-sensitively; the root and every other element are ignored.
bool nextStartElement(QXmlStreamReader &reader, QLatin1String name)
{
    while (!reader.atEnd() && !reader.hasError()) {
        reader.readNext();
        if (reader.isStartElement() && reader.name() == name)
            return true;
    }
    return false;
}

VersionSelection selectVersion(QXmlStreamReader &reader, float currentVersion, const QString &listBaseUrl)
{
    VersionSelection result;
    while (nextStartElement(reader, VersionElement)) {
        const QXmlStreamAttributes attributes = reader.attributes();
        if (!attributes.hasAttribute(MaxVerAttribute) || !attributes.hasAttribute(MinVerAttribute)
            || !attributes.hasAttribute(DirAttribute))
            continue;
        const QString dir = attributes.value(DirAttribute).toString();
        const float max = toVersion(attributes.value(MaxVerAttribute));
        const float min = toVersion(attributes.value(MinVerAttribute));
        // Every range counts towards the latest version, also after the selection.
        if (max > result.latestVersion)
            result.latestVersion = max;
        if (!result.found && min <= currentVersion && currentVersion <= max) {
            // Only the range in use is judged: this installation never fetches the others.
            if (!listBaseUrl.isEmpty()
                && !staysOnServer(listBaseUrl, updateListUrl(fileBaseUrl(listBaseUrl, dir)))) {
                VersionSelection refused;
                refused.unsafe = UnsafeEntry(VersionElement, DirAttribute, dir,
                    QStringLiteral("leads off the list's server"), reader.lineNumber());
                return refused;
            }
            result.found = true;
            result.dir = dir;
            result.targetVersion = max;
        }
    }
    if (reader.hasError())
        result.xmlError = reader.errorString();
    return result;
}

std::optional<UnsafeEntry> checkFileEntry(const FileEntry &entry, qint64 lineNumber)
{
    const auto refused = [&](QLatin1String attribute, const QString &value, const QString &reason) {
        return UnsafeEntry(FileElement, attribute, value, reason, lineNumber);
    };
    if (const QString problem = nameProblem(entry.name); !problem.isEmpty())
        return refused(NameAttribute, entry.name, problem);
    if (const QString problem = relativeDirProblem(entry.relativeDir); !problem.isEmpty())
        return refused(RelativeDirAttribute, entry.relativeDir, problem);
    return std::nullopt;
}

// A digest no file can match would fail every download of it; the list is broken instead.
std::optional<UnsafeEntry> checkSha256(const QXmlStreamAttributes &attributes, qint64 lineNumber)
{
    static const QRegularExpression lowerHex(QStringLiteral("^[0-9a-f]{64}$"));
    if (!attributes.hasAttribute(Sha256Attribute))
        return std::nullopt;
    const QString value = attributes.value(Sha256Attribute).toString();
    if (lowerHex.match(value).hasMatch())
        return std::nullopt;
    return UnsafeEntry(FileElement, Sha256Attribute, value,
        QStringLiteral("not 64 lowercase hexadecimal digits"), lineNumber);
}

FileList readFileList(QXmlStreamReader &reader)
{
    FileList result;
    LetterCaseClashes clashes;
    while (nextStartElement(reader, FileElement)) {
        const QXmlStreamAttributes attributes = reader.attributes();
        if (!attributes.hasAttribute(NameAttribute) || !attributes.hasAttribute(RelativeDirAttribute)
            || !attributes.hasAttribute(Md5Attribute) || !attributes.hasAttribute(DirAttribute)
            || !attributes.hasAttribute(SizeAttribute))
            continue;
        FileEntry entry;
        entry.name = attributes.value(NameAttribute).toString();
        entry.relativeDir = attributes.value(RelativeDirAttribute).toString();
        entry.md5 = attributes.value(Md5Attribute).toString();
        entry.dir = attributes.value(DirAttribute).toString();
        entry.size = toSize(attributes.value(SizeAttribute));
        entry.sha256 = attributes.value(Sha256Attribute).toString();
        std::optional<UnsafeEntry> unsafe = checkFileEntry(entry, reader.lineNumber());
        if (!unsafe)
            unsafe = checkSha256(attributes, reader.lineNumber());
        if (!unsafe) {
            if (const QString clash = clashes.add(entry.relativeDir, entry.name); !clash.isEmpty())
                unsafe = UnsafeEntry(FileElement, NameAttribute, entry.name, clash, reader.lineNumber());
        }
        if (unsafe) {
            FileList refused;
            refused.unsafe = std::move(unsafe);
            return refused;
        }
        result.entries.append(entry);
    }
    if (reader.hasError())
        result.xmlError = reader.errorString();
    else
        result.complete = true;
    return result;
}

} // namespace

QString windowsNameProblem(const QString &segment)
{
    static const QString forbidden = QStringLiteral("<>:\"|?*\\");
    for (const QChar c : segment) {
        if (c.unicode() < 0x20)
            return QStringLiteral("control character");
        if (forbidden.contains(c))
            return QStringLiteral("character \"%1\" is not allowed in Windows file names").arg(c);
    }
    if (segment.endsWith(QLatin1Char('.')) || segment.endsWith(QLatin1Char(' ')))
        return QStringLiteral("Windows drops a trailing dot or space");
    // Windows ignores an extension and blanks before it: "nul .txt" is the device too.
    static const QRegularExpression reserved(
        QStringLiteral("^(CON|PRN|AUX|NUL|CONIN\\$|CONOUT\\$|(COM|LPT)[0-9\u00b9\u00b2\u00b3]) *(\\..*)?$"),
        QRegularExpression::CaseInsensitiveOption);
    if (reserved.match(segment).hasMatch())
        return QStringLiteral("a reserved device name on Windows");
    return QString();
}

QString LetterCaseClashes::add(const QString &relativeDir, const QString &name)
{
    QStringList kept;
    for (const QString &segment : segments(relativeDir) + segments(name)) {
        if (!segment.isEmpty() && segment != QLatin1String("."))
            kept.append(segment);
    }
    const QString path = kept.join(QLatin1Char('/'));
    const QString folded = path.toCaseFolded();
    const auto earlier = pathByFolded.constFind(folded);
    if (earlier == pathByFolded.constEnd()) {
        pathByFolded.insert(folded, path);
        return QString();
    }
    if (*earlier == path)
        return QString();
    return QStringLiteral("differs only in letter case from \"%1\"").arg(*earlier);
}

std::optional<UnsafeEntry> unsafeFileEntry(const FileEntry &entry)
{
    return checkFileEntry(entry, 0);
}

QString relativeDirProblem(const QString &relativeDir)
{
    if (const QString problem = localPathProblem(relativeDir); !problem.isEmpty())
        return problem;
    return windowsPathProblem(relativeDir);
}

bool staysOnServer(const QString &listBaseUrl, const QString &url)
{
    // Parsed as the downloader parses it: text joined to a base without a closing slash can
    // still reach into the host ("http://a" + "@b/x", "http://a" + ":81/x").
    const QUrl list(listBaseUrl, QUrl::TolerantMode);
    const QUrl target(url, QUrl::TolerantMode);
    return list.isValid() && target.isValid() && target.scheme() == list.scheme()
        && target.host(QUrl::FullyEncoded) == list.host(QUrl::FullyEncoded) && target.port() == list.port();
}

VersionSelection selectVersion(QIODevice *device, float currentVersion, const QString &listBaseUrl)
{
    QXmlStreamReader reader(device);
    return selectVersion(reader, currentVersion, listBaseUrl);
}

VersionSelection selectVersion(const QByteArray &xml, float currentVersion, const QString &listBaseUrl)
{
    QXmlStreamReader reader(xml);
    return selectVersion(reader, currentVersion, listBaseUrl);
}

FileList readFileList(QIODevice *device)
{
    QXmlStreamReader reader(device);
    return readFileList(reader);
}

FileList readFileList(const QByteArray &xml)
{
    QXmlStreamReader reader(xml);
    return readFileList(reader);
}

} // namespace UpdateManifest
