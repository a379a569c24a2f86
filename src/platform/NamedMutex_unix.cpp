#include "NamedMutex.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

// Each name is one lock file in the user's runtime folder, held as an flock. A lock dies
// with its holder, which gives the abandoned-mutex behaviour for free. O_CLOEXEC matters:
// detached children (the game, the new launcher) must not inherit the lock.

namespace {

std::string toUtf8(const std::u16string &text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00
            && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string lockPath(const std::u16string &name)
{
    std::string dir;
    if (const char *runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
        dir = runtime;
    else if (const char *tmp = std::getenv("TMPDIR"); tmp && *tmp)
        dir = tmp;
    else
        dir = "/tmp";
    std::string file = toUtf8(name);
    for (char &c : file) {
        if (c == '/')
            c = '_';
    }
    return dir + "/" + file + ".lock";
}

int openLock(const std::u16string &name)
{
    int fd;
    do {
        fd = ::open(lockPath(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// 1 acquired, 0 held by someone, -1 error
int tryLock(int fd)
{
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0)
        return 1;
    return errno == EWOULDBLOCK ? 0 : -1;
}

} // namespace

namespace NamedMutex {

bool exists(const std::u16string &name)
{
    const int fd = openLock(name);
    if (fd < 0)
        return false;
    const int state = tryLock(fd);
    ::close(fd); // closing drops a lock this probe took
    return state == 0;
}

bool waitUntilFree(const std::u16string &name, int timeoutMs)
{
    const int fd = openLock(name);
    if (fd < 0)
        return true; // nothing to wait on; same as a mutex that could not be opened
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const int state = tryLock(fd);
        if (state != 0) {
            ::close(fd);
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::close(fd);
    return false;
}

Handle createOwned(const std::u16string &name)
{
    const int fd = openLock(name);
    if (fd < 0)
        return 0;
    if (tryLock(fd) != 1) {
        ::close(fd);
        return 0;
    }
    return Handle(fd) + 1;
}

void release(Handle handle)
{
    if (handle == 0)
        return;
    const int fd = int(handle - 1);
    ::flock(fd, LOCK_UN);
    ::close(fd);
}

} // namespace NamedMutex
