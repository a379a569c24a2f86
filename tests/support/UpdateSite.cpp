#include "UpdateSite.h"

#include "FaultServer.h"
#include "GameFolder.h"
#include "TestFiles.h"

#include <QDebug>
#include <QSettings>

namespace UpdateTest {

bool writeUpdate(const QString &folder, const QList<GameFile> &files)
{
    for (const GameFile &file : files) {
        if (!writeFile(folder + QStringLiteral("/files/") + file.localPath(), file.content))
            return false;
    }
    return writeFile(
        folder + QStringLiteral("/UpdateList.xml"), updateList(files, ServedFrom::MirroredFolders));
}

QString servedPath(const QString &prefix, const GameFile &file)
{
    return prefix + QStringLiteral("/files/") + file.localPath();
}

void serveUpdate(FaultServer &server, const QString &prefix, const QList<GameFile> &files)
{
    for (const GameFile &file : files)
        server.serve(servedPath(prefix, file), file.content);
    server.serve(prefix + QStringLiteral("/UpdateList.xml"), updateList(files, ServedFrom::MirroredFolders));
}

bool installedBelow(const QString &root, const QList<GameFile> &files)
{
    for (const GameFile &file : files) {
        if (md5Hex(readFile(root + QLatin1Char('/') + file.localPath())) != md5Hex(file.content)) {
            qWarning() << "not installed:" << file.localPath();
            return false;
        }
    }
    return true;
}

QString storedVersion(const GameFolder &game)
{
    const QSettings settings(game.path(QStringLiteral("settings.ini")), QSettings::IniFormat);
    return settings.value(QStringLiteral("Settings/Version")).toString();
}

} // namespace UpdateTest
