#ifndef GAMESETTINGS_H
#define GAMESETTINGS_H

#include <QByteArray>
#include <QList>
#include <QString>

// Keys of the game's settings.ini. The launcher reads and writes only these; QSettings keeps
// every other key the detection tool or the game put there.
namespace SettingsKey {
inline const QString ResolutionWidth = QStringLiteral("Video/ResolutionWidth");
inline const QString ResolutionHeight = QStringLiteral("Video/ResolutionHeight");
inline const QString FullScreen = QStringLiteral("Video/FullScreen");
inline const QString QuickQuality = QStringLiteral("Video/QuickQuality");
inline const QString Fog = QStringLiteral("Video/Fog");
inline const QString Version = QStringLiteral("Settings/Version");
} // namespace SettingsKey

// The word shown for a quality level (0, 1, 2; empty for any other), translated in the
// caller's context.
QString qualityWord(int quality, const char *context);

struct ResolutionEntry
{
    QString height;
    QString width;

    bool operator==(const ResolutionEntry &other) const
    {
        return height == other.height && width == other.width;
    }
};
using ResolutionList = QList<ResolutionEntry>;

// resolution.dat as the detection tool writes it.
struct ResolutionFile
{
    enum class Status {
        Failed, // missing, unreadable, not a JSON object, empty, or a required member missing
        NoEntries, // outputResolution empty or not an array: the caller keeps its defaults
        Read, // entries holds the usable elements, possibly none
    };

    Status status = Status::Failed;
    int quality = 0; // as the file has it, levels or not; a number beyond int saturates
    bool fog = false;
    ResolutionList entries;

    static ResolutionFile read(const QString &path);
    static ResolutionFile parse(const QByteArray &json);
};

#endif
