#ifndef UPDATEFIXTURES_H
#define UPDATEFIXTURES_H

#include <QByteArray>
#include <QList>
#include <QString>

// Update manifests as a site serves them.
namespace UpdateTest {

struct Range
{
    QString min;
    QString max;
    QString dir;
};
QByteArray versionList(const QList<Range> &ranges);
QByteArray fileElement(const QString &name, const QString &relativeDir, const QString &md5,
    const QString &dir, qint64 size, const QString &sha256 = QString());
QByteArray updateList(const QByteArray &elements);

// A file of the game as a site lists it.
struct GameFile
{
    QString relativeDir;
    QString name;
    QByteArray content;

    QString localPath() const;
};
// Dir is "files", or with MirroredFolders "files/<RelativeDir>"; with both digests, as publish writes.
enum class ServedFrom { OneFolder, MirroredFolders };
QByteArray updateList(const QList<GameFile> &files, ServedFrom served = ServedFrom::OneFolder);

} // namespace UpdateTest

#endif
