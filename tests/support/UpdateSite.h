#ifndef UPDATESITE_H
#define UPDATESITE_H

#include "UpdateFixtures.h"

class FaultServer;

// Whole updates as a site holds them: a range's UpdateList.xml, its files under
// files/<RelativeDir>.
namespace UpdateTest {

// On a server, below prefix ("/game/v1.1").
void serveUpdate(FaultServer &server, const QString &prefix, const QList<GameFile> &files);

} // namespace UpdateTest

#endif
