#ifndef NAMEDMUTEX_H
#define NAMEDMUTEX_H

// Cross-process named mutexes. Free of Qt so the Windows implementation can be built and
// exercised on its own; names are UTF-16 as the Windows kernel expects them.

#include <cstdint>
#include <string>

namespace NamedMutex {

// An owned mutex; 0 means none. On Windows a HANDLE, on POSIX a lock file descriptor + 1.
using Handle = std::intptr_t;

// True while any process, the caller included, holds or has opened the mutex.
// A probe never creates the mutex and leaves nothing held.
bool exists(const std::u16string &name);

// Waits up to timeoutMs for the mutex to be free. Never keeps it: when this returns the
// caller owns nothing. A mutex whose holder died counts as free.
bool waitUntilFree(const std::u16string &name, int timeoutMs);

// Creates the mutex owned by the caller in one atomic step. Returns 0 when another holder
// exists (or the mutex cannot be created), so of two simultaneous callers only one wins.
Handle createOwned(const std::u16string &name);

// Releases and closes a handle from createOwned; 0 is ignored.
void release(Handle handle);

} // namespace NamedMutex

#endif
