#include "UpdateSite.h"

#include "FaultServer.h"

namespace UpdateTest {

void serveUpdate(FaultServer &server, const QString &prefix, const QList<GameFile> &files)
{
    for (const GameFile &file : files)
        server.serve(prefix + QStringLiteral("/files/") + file.localPath(), file.content);
    server.serve(prefix + QStringLiteral("/UpdateList.xml"), updateList(files, ServedFrom::MirroredFolders));
}

} // namespace UpdateTest
