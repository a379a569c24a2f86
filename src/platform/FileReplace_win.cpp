#include "FileReplace.h"

#include <windows.h>

namespace {

// A launcher that hands over to the update mode frees its mutex just before its process ends,
// and Windows keeps the executable of an ending process locked a moment longer; scanners and
// indexers hold fresh files briefly too. Replacing such a file is retried for this long.
constexpr ULONGLONG InUseRetryLimitMs = 5000;
constexpr DWORD InUseRetryPauseMs = 50;

// A running executable refuses replacement with ERROR_ACCESS_DENIED, a file opened without
// FILE_SHARE_DELETE with ERROR_SHARING_VIOLATION. Access is also denied for good to a read-only
// file or a folder: waiting would not change those.
bool mayBeInUse(DWORD error, const FileReplace::NativePath &target)
{
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION)
        return true;
    if (error != ERROR_ACCESS_DENIED)
        return false;
    const DWORD attributes = GetFileAttributesW(target.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES
        && !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY));
}

} // namespace

namespace FileReplace {

Result moveOver(const NativePath &source, const NativePath &target)
{
    // Without MOVEFILE_COPY_ALLOWED a move never degrades into a non-atomic copy; the caller
    // copies and verifies itself.
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        if (MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING))
            return Result::Replaced;
        const DWORD error = GetLastError();
        if (error == ERROR_NOT_SAME_DEVICE)
            return Result::OtherFileSystem;
        if (!mayBeInUse(error, target)) {
            SetLastError(error); // the caller reports the move's cause
            return Result::Failed;
        }
        if (GetTickCount64() - start >= InUseRetryLimitMs)
            return Result::TargetInUse;
        Sleep(InUseRetryPauseMs);
    }
}

} // namespace FileReplace
