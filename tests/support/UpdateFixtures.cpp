#include "UpdateFixtures.h"

#include "TestFiles.h"

#include <QCryptographicHash>

namespace UpdateTest {

namespace {

QByteArray attribute(const char *name, const QString &value)
{
    return QByteArray(" ") + name + "=\"" + value.toHtmlEscaped().toUtf8() + "\"";
}

const QByteArray XmlDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

} // namespace

QByteArray versionList(const QList<Range> &ranges)
{
    QByteArray xml = XmlDeclaration + "<VersionList>\n";
    for (const Range &range : ranges)
        xml += "  <Version" + attribute("MinVer", range.min) + attribute("MaxVer", range.max)
            + attribute("Dir", range.dir) + "/>\n";
    return xml + "</VersionList>\n";
}

QByteArray fileElement(const QString &name, const QString &relativeDir, const QString &md5,
    const QString &dir, qint64 size, const QString &sha256)
{
    return "  <File" + attribute("Name", name) + attribute("RelativeDir", relativeDir) + attribute("MD5", md5)
        + attribute("Dir", dir) + attribute("Size", QString::number(size))
        + (sha256.isEmpty() ? QByteArray() : attribute("SHA256", sha256)) + "/>\n";
}

QByteArray updateList(const QByteArray &elements)
{
    return XmlDeclaration + "<UpdateList>\n" + elements + "</UpdateList>\n";
}

QString GameFile::localPath() const
{
    return relativeDir.isEmpty() ? name : relativeDir + QLatin1Char('/') + name;
}

QByteArray updateList(const QList<GameFile> &files, ServedFrom served)
{
    QByteArray elements;
    for (const GameFile &file : files) {
        QString dir = QStringLiteral("files");
        if (served == ServedFrom::MirroredFolders && !file.relativeDir.isEmpty())
            dir += QLatin1Char('/') + file.relativeDir;
        elements += fileElement(file.name, file.relativeDir, QString::fromLatin1(md5Hex(file.content)), dir,
            file.content.size(),
            QString::fromLatin1(QCryptographicHash::hash(file.content, QCryptographicHash::Sha256).toHex()));
    }
    return updateList(elements);
}

} // namespace UpdateTest
