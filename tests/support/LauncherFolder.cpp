#include "LauncherFolder.h"

#include <QSettings>

LauncherFolder::LauncherFolder()
    : m_installed(installLauncher())
    , m_cwd(*this)
{ }

QMap<QString, QString> LauncherFolder::settingsValues() const
{
    QSettings settings(path(QStringLiteral("settings.ini")), QSettings::IniFormat);
    settings.setIniCodec("UTF-8");
    QMap<QString, QString> values;
    for (const QString &key : settings.allKeys())
        values.insert(key, settings.value(key).toString());
    return values;
}

QByteArray resolutionDat(const QList<QSize> &sizes, int quality, bool fog)
{
    QStringList entries;
    for (const QSize &size : sizes)
        entries
            << QStringLiteral("{\"Width\":\"%1\",\"Height\":\"%2\"}").arg(size.width()).arg(size.height());
    return resolutionDatFrom('[' + entries.join(QLatin1Char(',')).toUtf8() + ']', quality, fog);
}

QByteArray resolutionDatFrom(const QByteArray &outputResolution, int quality, bool fog)
{
    return QStringLiteral("{\"defualtQuilty\": %1, \"defualtEnableFog\": %2, \"outputResolution\": ")
               .arg(quality)
               .arg(fog ? QStringLiteral("true") : QStringLiteral("false"))
               .toUtf8()
        + outputResolution + '}';
}
