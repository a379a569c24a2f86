#ifndef UPDATEMANIFEST_H
#define UPDATEMANIFEST_H

#include "UpdateInfo.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <optional>

class QIODevice;

// Readers of the two update manifests. They see only bytes: fetching, storing and the local
// MD5 comparison belong to the Patcher.
namespace UpdateManifest {

inline const QString VersionListName = QStringLiteral("VersionList.xml");
inline const QString UpdateListName = QStringLiteral("UpdateList.xml");

// URLs are concatenated as text: listBaseUrl must end with "/" and nothing is normalised.
QString versionListUrl(const QString &listBaseUrl);
QString fileBaseUrl(const QString &listBaseUrl, const QString &versionDir);
QString updateListUrl(const QString &fileBaseUrl);

// An entry whose paths could lead outside the download or install folder, or off the list's
// server, or that Windows cannot store as named (checking "CON" opens the console). One such
// entry makes its whole manifest unusable: the launcher runs elevated on Windows, so a hostile
// list could otherwise write anywhere.
struct UnsafeEntry
{
    UnsafeEntry(const QString &element, const QString &attribute, const QString &value, const QString &reason,
        qint64 lineNumber);

    QString element; // "Version" or "File"
    QString attribute;
    QString value;
    QString reason;
    qint64 lineNumber; // 0 where no document was read

    // One line naming the entry, for the log.
    QString describe() const;
};

struct VersionSelection
{
    bool found = false;
    QString dir; // Dir of the selected range
    float targetVersion = 0; // its MaxVer
    float latestVersion = 0; // largest MaxVer read, never below 0
    QString xmlError; // set when the reader stopped on an XML error; what came before counts
    // Set when the selected range's Dir leads off the list's server: reading stopped there and
    // every other field is reset.
    std::optional<UnsafeEntry> unsafe;
};

// The attributes of one complete File element, as written.
struct FileEntry
{
    QString name;
    QString relativeDir;
    QString md5;
    QString dir;
    qint64 size = 0;
    QString sha256; // empty when the entry has no SHA256 attribute
};

struct FileList
{
    QList<FileEntry> entries; // document order
    // True only when the document was read to its end without an XML error: a truncated
    // list would otherwise install part of an update and record it as whole.
    bool complete = false;
    QString xmlError;
    std::optional<UnsafeEntry> unsafe; // reading stopped at this entry; entries is then empty

    bool usable() const { return complete && !unsafe; }
};

// The first range with MinVer <= currentVersion <= MaxVer is selected. Given the list's base
// URL, the selected range must stay on its server (staysOnServer); the other ranges are not
// judged, and without it none is.
VersionSelection selectVersion(
    QIODevice *device, float currentVersion, const QString &listBaseUrl = QString());
VersionSelection selectVersion(
    const QByteArray &xml, float currentVersion, const QString &listBaseUrl = QString());

FileList readFileList(QIODevice *device);
FileList readFileList(const QByteArray &xml);

// The rules the readers apply to one entry, for tools that write manifests: the entry the
// readers would refuse (lineNumber 0), or nothing. Clashes between entries are
// LetterCaseClashes' part.
std::optional<UnsafeEntry> unsafeFileEntry(const FileEntry &entry);

// Why a RelativeDir, or any folder given relative to a local one, could lead outside it or
// cannot be stored on Windows, or an empty string.
QString relativeDirProblem(const QString &relativeDir);

// Whether url, built from listBaseUrl by the functions above, still names the list's server
// (scheme, host and port). Dir values may climb with ".." on that server but not leave it.
bool staysOnServer(const QString &listBaseUrl, const QString &url);

// Why Windows cannot hold this one segment of a path as a file or folder name, or an empty
// string. The game runs there: such a name would fail on every update. A backslash counts as
// a character here; the readers split paths at it first.
QString windowsNameProblem(const QString &segment);

// Windows ignores letter case, so two entries whose paths differ only in it are one file
// there. Fed the entries of one list in turn.
class LetterCaseClashes
{
public:
    // Why this entry clashes with an earlier one, or an empty string. The same path given
    // twice is no clash.
    QString add(const QString &relativeDir, const QString &name);

private:
    QHash<QString, QString> pathByFolded;
};

UpdateFileInfo makeUpdateFileInfo(const FileEntry &entry, const QString &downloadDir,
    const QString &installDir, const QString &fileBaseUrl);

} // namespace UpdateManifest

#endif
