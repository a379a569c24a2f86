#ifndef UPDATESITE_H
#define UPDATESITE_H

#include "UpdateFixtures.h"

class FaultServer;
class GameFolder;

// Whole updates as a site holds them: a range's UpdateList.xml, its files under
// files/<RelativeDir>.
namespace UpdateTest {

// On disk, below folder.
bool writeUpdate(const QString &folder, const QList<GameFile> &files);
// On a server, below prefix ("/game/v1.1").
void serveUpdate(FaultServer &server, const QString &prefix, const QList<GameFile> &files);
QString servedPath(const QString &prefix, const GameFile &file);
// Every file below root with its content; a warning names the first that is not.
bool installedBelow(const QString &root, const QList<GameFile> &files);
// Settings/Version of the game folder's settings.ini.
QString storedVersion(const GameFolder &game);

} // namespace UpdateTest

#endif
