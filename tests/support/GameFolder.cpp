#include "GameFolder.h"

#include "TestFiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

QString windowsGame()
{
    return qEnvironmentVariable("LAUNCHER_WINDOWS_GAME");
}

QString builtFile(const QString &name)
{
    const QString windows = windowsGame();
    if (windows.isEmpty())
        return QStringLiteral(LAUNCHER_BIN_DIR "/") + name;
    const QString inLauncher = windows + QStringLiteral("/Launcher/") + name;
    return QFileInfo::exists(inLauncher) ? inLauncher : windows + QLatin1Char('/') + name;
}

namespace {

bool copyExecutable(const QString &from, const QString &to)
{
    QDir().mkpath(QFileInfo(to).absolutePath());
    QFile::remove(to);
    if (!QFile::copy(from, to))
        return false;
    return QFile::setPermissions(
        to, QFile::permissions(from) | QFileDevice::ExeOwner | QFileDevice::ExeGroup | QFileDevice::ExeOther);
}

// Every file below from into to, but for the top-level entries named in skip.
bool copyTree(const QString &from, const QString &to, const QStringList &skip = {})
{
    QDirIterator it(from, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString relative = QDir(from).relativeFilePath(it.next());
        if (!skip.contains(relative.section(QLatin1Char('/'), 0, 0))
            && !copyExecutable(it.filePath(), to + QLatin1Char('/') + relative))
            return false;
    }
    return true;
}

} // namespace

GameFolder::GameFolder()
{
    QDir(m_dir.path()).mkpath(QStringLiteral("Launcher"));
}

QString GameFolder::gameDir() const
{
    return QDir(m_dir.path()).absolutePath();
}

QString GameFolder::launcherDir() const
{
    return gameDir() + QStringLiteral("/Launcher");
}

QString GameFolder::path(const QString &relative) const
{
    return gameDir() + QLatin1Char('/') + relative;
}

bool GameFolder::writeFile(const QString &relative, const QByteArray &content) const
{
    return ::writeFile(path(relative), content);
}

QByteArray GameFolder::readFile(const QString &relative) const
{
    QFile file(path(relative));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool GameFolder::exists(const QString &relative) const
{
    return QFileInfo::exists(path(relative));
}

void GameFolder::writeSettings(const QMap<QString, QVariant> &values) const
{
    QSettings settings(path(QStringLiteral("settings.ini")), QSettings::IniFormat);
    settings.setIniCodec("UTF-8");
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        settings.setValue(it.key(), it.value());
}

bool GameFolder::installLauncher() const
{
    if (!windowsGame().isEmpty())
        return copyTree(windowsGame() + QStringLiteral("/Launcher"), launcherDir());
    if (!copyExecutable(
            builtFile(QStringLiteral("Launcher.exe")), path(QStringLiteral("Launcher/Launcher.exe"))))
        return false;
    const QString catalogue = builtFile(QStringLiteral("launcher_cn.qm"));
    if (QFileInfo::exists(catalogue))
        QFile::copy(catalogue, path(QStringLiteral("Launcher/launcher_cn.qm")));
    const QString images = QStringLiteral(LAUNCHER_SOURCE_DIR "/images");
    QDirIterator it(images, {QStringLiteral("*.png")}, QDir::Files);
    while (it.hasNext()) {
        const QString source = it.next();
        const QString target = path(QStringLiteral("Launcher/images/") + it.fileName());
        QDir().mkpath(QFileInfo(target).absolutePath());
        if (!QFile::copy(source, target))
            return false;
    }
    return true;
}

bool GameFolder::installDetectionTool() const
{
    if (!windowsGame().isEmpty())
        return copyTree(windowsGame(), gameDir(), {QStringLiteral("Launcher"), QStringLiteral("ZARK.exe")});
    return copyExecutable(
        builtFile(QStringLiteral("hardwaredetect.exe")), path(QStringLiteral("hardwaredetect.exe")));
}

bool GameFolder::writeScript(const QString &relative, const QByteArray &body) const
{
    if (!writeFile(relative, QByteArrayLiteral("#!/bin/sh\n") + body))
        return false;
    return QFile::setPermissions(path(relative),
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup
            | QFileDevice::ExeGroup);
}

GameFolder::WorkingDirectory::WorkingDirectory(const GameFolder &folder)
    : m_previous(QDir::currentPath())
{
    QDir::setCurrent(folder.launcherDir());
}

GameFolder::WorkingDirectory::~WorkingDirectory()
{
    QDir::setCurrent(m_previous);
}
