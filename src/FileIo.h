#ifndef FILEIO_H
#define FILEIO_H

#include "platform/FileReplace.h"

#include <QDir>
#include <QFile>
#include <QString>

namespace FileIo {

// Large enough for read(2) to run at disk speed, small enough to be irrelevant to memory.
constexpr int BlockSize = 1 << 20;

inline FileReplace::NativePath nativePath(const QString &path)
{
#ifdef Q_OS_WIN
    return QDir::toNativeSeparators(path).toStdWString();
#else
    return QFile::encodeName(path).toStdString();
#endif
}

inline bool moveOver(const QString &source, const QString &target)
{
    return FileReplace::moveOver(nativePath(source), nativePath(target)) == FileReplace::Result::Replaced;
}

} // namespace FileIo

#endif
