#include "LauncherFolder.h"

#include <QSettings>

QMap<QString, QString> LauncherFolder::settingsValues() const
{
    QSettings settings(path(QStringLiteral("settings.ini")), QSettings::IniFormat);
    settings.setIniCodec("UTF-8");
    QMap<QString, QString> values;
    for (const QString &key : settings.allKeys())
        values.insert(key, settings.value(key).toString());
    return values;
}

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
