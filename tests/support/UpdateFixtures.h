#ifndef UPDATEFIXTURES_H
#define UPDATEFIXTURES_H

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSignalSpy>
#include <QString>
#include <QStringList>

class Patcher;

// What the update engine's tests share: manifests as a site serves them, and the signals of a
// Patcher in the order they came.
namespace UpdateTest {

struct Range
{
    QString min;
    QString max;
    QString dir;
};
QByteArray versionList(const QList<Range> &ranges);
// One File element; an attribute given as a null string is left out.
QByteArray fileElement(const QString &name, const QString &relativeDir, const QString &md5,
    const QString &dir, const QString &size);
QByteArray updateList(const QByteArray &elements);

// A file of the game as a site lists it.
struct GameFile
{
    QString relativeDir;
    QString name;
    QByteArray content;

    QString localPath() const;
};
// Dir is "files", or with MirroredFolders "files/<RelativeDir>".
enum class ServedFrom { OneFolder, MirroredFolders };
QByteArray updateList(const QList<GameFile> &files, ServedFrom served = ServedFrom::OneFolder);

// Every signal of one Patcher: a spy each, and one log of all of them in emission order.
class PatcherSignals
{
public:
    explicit PatcherSignals(Patcher *patcher);

    int outcomes() const;
    // Waits for the first outcome, then a little longer so that anything following it shows.
    bool waitForOutcome(int timeoutMs = 20000);
    // The log without the per-step progress relays.
    QStringList milestones() const;
    // The outcomes, each completed file with the total relayed right before it.
    QStringList completions() const;
    QList<qlonglong> totals() const;

    QObject context;
    QStringList events;
    QSignalSpy checkFailed;
    QSignalSpy checkFinished;
    QSignalSpy fileFinished;
    QSignalSpy copyFailed;
    QSignalSpy copyFinished;
    QSignalSpy copyState;
    QSignalSpy downloadFailed;
    QSignalSpy fileState;
    QSignalSpy totalState;
    QSignalSpy oneFinished;
    QSignalSpy listFinished;
};

// POSIX permission bits of a file, -1 when it cannot be read (and always elsewhere).
int fileMode(const QString &path);
// Sets them; does nothing where there are none.
bool setFileMode(const QString &path, int mode);

} // namespace UpdateTest

#endif
