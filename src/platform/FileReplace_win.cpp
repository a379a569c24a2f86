#include "FileReplace.h"

#include <windows.h>

namespace FileReplace {

Result moveOver(const NativePath &source, const NativePath &target)
{
    // Without MOVEFILE_COPY_ALLOWED a move never degrades into a non-atomic copy; the caller
    // copies and verifies itself. A target held open by another program (the game, an
    // antivirus scan) fails here at once; a bounded retry on sharing violations belongs here.
    if (MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING))
        return Result::Replaced;
    return GetLastError() == ERROR_NOT_SAME_DEVICE ? Result::OtherFileSystem : Result::Failed;
}

} // namespace FileReplace
