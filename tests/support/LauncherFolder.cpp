#include "LauncherFolder.h"

QByteArray resolutionDatFrom(const QByteArray &outputResolution, int quality, bool fog)
{
    return "{\"defualtQuilty\": " + QByteArray::number(quality) + ", \"defualtEnableFog\": "
        + (fog ? "true" : "false") + ", \"outputResolution\": " + outputResolution + '}';
}

QByteArray resolutionDat(const QList<QSize> &sizes, int quality, bool fog)
{
    QByteArrayList entries;
    for (const QSize &size : sizes)
        entries << "{\"Width\":\"" + QByteArray::number(size.width()) + "\",\"Height\":\""
                + QByteArray::number(size.height()) + "\"}";
    return resolutionDatFrom('[' + entries.join(',') + ']', quality, fog);
}
