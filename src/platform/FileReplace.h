#ifndef FILEREPLACE_H
#define FILEREPLACE_H

// Installing a file over another in one step. Free of Qt so the Windows implementation can be
// built and exercised on its own.

#include <string>

namespace FileReplace {

#ifdef _WIN32
using NativePath = std::wstring; // UTF-16 with backslashes
#else
using NativePath = std::string; // the file system's own encoding
#endif

enum class Result {
    Replaced,
    OtherFileSystem, // a move cannot cross file systems: copy instead
    TargetInUse, // still locked after the retries: a copy would wait as long and fail too
    Failed,
};

// Moves source over target atomically: target shows either its old or its new content, never
// a mix, and an existing target is replaced. On POSIX the moved file first takes the mode
// target should have (that of the file it replaces; 0755 for a new ".exe", so an updated
// game or launcher still starts). On failure both files stay as they were, mode included, and
// errno (GetLastError on Windows) holds the cause of a Failed move.
Result moveOver(const NativePath &source, const NativePath &target);

} // namespace FileReplace

#endif
