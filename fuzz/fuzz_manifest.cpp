// Feeds arbitrary bytes to both manifest readers and the signature reader and checks what
// they promise: no crash, a consistent version selection on the list's server, no accepted
// file that reaches outside its folders or shares its place on Windows with another one, and
// no signature that verifies without the secret key.
#include "Minisign.h"
#include "UpdateManifest.h"

#include <QDir>
#include <QHash>
#include <QUrl>

#include <cmath>
#include <cstdio>
#include <cstdlib>

using namespace UpdateManifest;

namespace {

const QString DownloadDir = QStringLiteral("/fuzz/Update/Game");
const QString InstallDir = QStringLiteral("/fuzz/game");
const QString ListBaseUrl = QStringLiteral("http://updates.invalid/list/");
// Without a closing slash a range's Dir can reach into the host part.
const QString BareListBaseUrl = QStringLiteral("http://updates.invalid");

[[noreturn]] void fail(const char *what, const QString &detail)
{
    std::fprintf(stderr, "invariant broken: %s: %s\n", what, detail.toUtf8().constData());
    std::abort();
}

// The ways Windows may read a path: backslashes as separators, and trailing dots or spaces
// of a segment dropped.
QStringList windowsReadings(QString path)
{
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    QStringList trimmedSpaces;
    QStringList trimmedBoth;
    for (const QString &segment : path.split(QLatin1Char('/'))) {
        QString spaces = segment;
        while (spaces.endsWith(QLatin1Char(' ')))
            spaces.chop(1);
        QString both = segment;
        while (both.endsWith(QLatin1Char(' ')) || both.endsWith(QLatin1Char('.')))
            both.chop(1);
        trimmedSpaces << spaces;
        // A segment of only dots stays a dot segment rather than vanishing.
        trimmedBoth << (both.isEmpty() && segment.startsWith(QLatin1Char('.')) ? segment.trimmed() : both);
    }
    return {path, trimmedSpaces.join(QLatin1Char('/')), trimmedBoth.join(QLatin1Char('/'))};
}

void checkInside(const QString &path, const QString &folder)
{
    if (path.contains(QChar(0)) || path.mid(folder.size()).contains(QLatin1Char(':')))
        fail("NUL or colon accepted", path);
    for (const QString &reading : windowsReadings(path)) {
        const QString clean = QDir::cleanPath(reading);
        if (!clean.startsWith(folder + QLatin1Char('/')))
            fail("path leaves its folder", path);
    }
}

void checkOnServer(const QString &url)
{
    const QUrl parsed(url, QUrl::TolerantMode);
    if (!parsed.isValid() || parsed.scheme() != QLatin1String("http")
        || parsed.host() != QLatin1String("updates.invalid") || parsed.port() != -1)
        fail("URL leaves the server", url);
}

void fuzzVersionList(const QByteArray &xml, float currentVersion)
{
    const VersionSelection selection = selectVersion(xml, currentVersion, BareListBaseUrl);
    if (selection.unsafe) {
        selection.unsafe->describe();
        return;
    }
    if (!std::isfinite(selection.latestVersion) || selection.latestVersion < 0)
        fail("latest version", QString::number(selection.latestVersion));
    if (selection.found) {
        if (selection.targetVersion > selection.latestVersion)
            fail("target above latest", QString::number(selection.targetVersion));
        if (selection.targetVersion < currentVersion)
            fail("target below installed", QString::number(selection.targetVersion));
        checkOnServer(updateListUrl(fileBaseUrl(BareListBaseUrl, selection.dir)));
    }
}

void fuzzFileList(const QByteArray &xml)
{
    const FileList list = readFileList(xml);
    if (list.unsafe)
        list.unsafe->describe();
    if (list.usable() && !list.xmlError.isEmpty())
        fail("usable list with an XML error", list.xmlError);
    const QString base = fileBaseUrl(ListBaseUrl, QStringLiteral("v2"));
    QHash<QString, QString> installedByFolded;
    for (const FileEntry &entry : list.entries) {
        const UpdateFileInfo info = makeUpdateFileInfo(entry, DownloadDir, InstallDir, base);
        checkInside(info.downloadPath(), DownloadDir);
        checkInside(info.installPath(), InstallDir);
        checkOnServer(info.url);
        // One file listed twice is allowed; two files that Windows takes for one are not.
        const QString installed = QDir::cleanPath(windowsReadings(info.installPath()).constFirst());
        const QString earlier = installedByFolded.value(installed.toCaseFolded(), installed);
        if (earlier != installed)
            fail("two files in one place on Windows", earlier + QLatin1Char(' ') + installed);
        installedByFolded.insert(installed.toCaseFolded(), installed);
    }
}

// The key of the seed signature; its secret half is not known here.
void fuzzSignature(const QByteArray &text)
{
    static const QList<Minisign::PublicKey> keys = [] {
        QString error;
        return *Minisign::parseKeyList(
            QStringLiteral("RWR2CMCOmJmp45iXoZV9BfgePZVCKQT1aE+VxhVo+LlxZpMdWdEpEtin"), &error);
    }();
    QString error;
    if (const std::optional<Minisign::Signature> signature = Minisign::Signature::parse(text, &error)) {
        if (signature->keyId.size() != 8 || signature->signature.size() != 64
            || signature->globalSignature.size() != 64)
            fail("signature parts of the wrong size", QString::fromLatin1(text.toBase64()));
        Minisign::commentFields(signature->trustedComment);
    }
    // The seed signs exactly this message; no other input may verify.
    const QByteArray message("<UpdateList/>\n");
    const std::optional<QByteArray> comment = Minisign::verify(keys, message + text.left(1), text, &error);
    if (comment && !text.isEmpty())
        fail("a signature verified for another message", QString::fromLatin1(text.toBase64()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray xml = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    fuzzVersionList(xml, 1.3f);
    fuzzFileList(xml);
    fuzzSignature(xml);
    return 0;
}
