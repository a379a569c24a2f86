#ifndef LAUNCHERFOLDER_H
#define LAUNCHERFOLDER_H

#include "GameFolder.h"

#include <QSize>

// A game folder with the built launcher installed (program, catalogue, pictures) and the
// process inside its launcher directory while the object lives: where the windows run.
class LauncherFolder : public GameFolder
{
public:
    LauncherFolder()
        : m_installed(installLauncher())
        , m_cwd(*this)
    { }
    bool isInstalled() const { return m_installed; }

private:
    bool m_installed;
    WorkingDirectory m_cwd;
};

// resolution.dat as the detection tool writes it (its key spellings included), around the
// given outputResolution value or one listing the sizes.
inline QByteArray resolutionDatFrom(const QByteArray &outputResolution, int quality = 1, bool fog = false)
{
    return "{\"defualtQuilty\": " + QByteArray::number(quality) + ", \"defualtEnableFog\": "
        + (fog ? "true" : "false") + ", \"outputResolution\": " + outputResolution + '}';
}
inline QByteArray resolutionDat(const QList<QSize> &sizes, int quality = 1, bool fog = false)
{
    QByteArrayList entries;
    for (const QSize &size : sizes)
        entries << "{\"Width\":\"" + QByteArray::number(size.width()) + "\",\"Height\":\""
                + QByteArray::number(size.height()) + "\"}";
    return resolutionDatFrom('[' + entries.join(',') + ']', quality, fog);
}

#endif
