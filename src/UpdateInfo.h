#ifndef UPDATEINFO_H
#define UPDATEINFO_H

#include <QList>
#include <QString>

// One file of an update range whose installed copy is missing or differs from the list.
struct UpdateFileInfo
{
    QString name;
    QString md5;
    QString sha256; // empty where the list gives none
    QString downloadDir;
    QString installDir;
    QString url;
    qint64 size = 0;

    // Joined as text, never normalised: an empty RelativeDir still gives "dir//name".
    QString downloadPath() const { return downloadDir + QLatin1Char('/') + name; }
    QString installPath() const { return installDir + QLatin1Char('/') + name; }
};

struct UpdateInfo
{
    float targetVersion = 0;
    QList<UpdateFileInfo> files;
};

#endif
