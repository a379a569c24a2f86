#ifndef NAMEDMUTEX_H
#define NAMEDMUTEX_H

// Cross-process named mutexes. Free of Qt so the Windows implementation can be built and
// exercised on its own; names are UTF-16 as the Windows kernel expects them.

#include <cstdint>
#include <string>

namespace NamedMutex {

// An owned mutex; 0 means none. On Windows a HANDLE, on POSIX a lock file descriptor + 1.
using Handle = std::intptr_t;

// The result of claim(). A mutex that cannot be made is not another instance: a caller that
// refuses to run only on Held does not lock a player out over a broken lock folder.
struct Claim
{
    Handle handle = 0; // non-zero only when Owned; give it back with release()
    enum class Outcome {
        Owned,
        Held, // by another process, or on Windows by another thread, session or integrity level
        Unavailable, // could not be made; cause says why
    } outcome
        = Outcome::Unavailable;
    std::string cause; // UTF-8 text for the log, empty unless Unavailable
};

// True while any process, the caller included, holds or has opened the mutex. A probe never
// creates the mutex and leaves nothing held; a mutex that cannot be made does not exist.
bool exists(const std::u16string &name);

// Waits up to timeoutMs for the mutex to be free. Never keeps it: when this returns the
// caller owns nothing. A mutex whose holder died, or one that cannot be made, counts as free.
bool waitUntilFree(const std::u16string &name, int timeoutMs);

// Creates the mutex owned by the caller in one atomic step, so of two simultaneous callers
// only one owns it.
Claim claim(const std::u16string &name);

// Releases and closes a handle from claim; 0 is ignored.
void release(Handle handle);

} // namespace NamedMutex

#endif
