#include "FileReplace.h"

#include <cerrno>
#include <cstdio>
#include <strings.h>
#include <sys/stat.h>

namespace {

bool endsWithExe(const std::string &path)
{
    static const char suffix[] = ".exe";
    const std::size_t length = sizeof(suffix) - 1;
    return path.size() > length && strcasecmp(path.c_str() + path.size() - length, suffix) == 0;
}

} // namespace

namespace FileReplace {

Result moveOver(const NativePath &source, const NativePath &target)
{
    struct stat sourceStat;
    if (::stat(source.c_str(), &sourceStat) != 0)
        return Result::Failed;
    const mode_t sourceMode = sourceStat.st_mode & 07777;

    mode_t wanted = sourceMode;
    struct stat targetStat;
    if (::stat(target.c_str(), &targetStat) == 0) {
        if (S_ISREG(targetStat.st_mode))
            wanted = targetStat.st_mode & 07777;
    } else if (endsWithExe(target)) {
        wanted = 0755;
    }
    if (wanted != sourceMode && ::chmod(source.c_str(), wanted) != 0)
        return Result::Failed;

    if (::rename(source.c_str(), target.c_str()) == 0)
        return Result::Replaced;
    const int error = errno;
    if (wanted != sourceMode)
        ::chmod(source.c_str(), sourceMode);
    errno = error; // the caller reports the rename's cause
    return error == EXDEV ? Result::OtherFileSystem : Result::Failed;
}

} // namespace FileReplace
