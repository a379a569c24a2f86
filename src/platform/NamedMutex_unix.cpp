#include "NamedMutex.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

// Each name is one lock file in the user's runtime folder, write-locked whole through an
// open-file-description lock. A lock dies with its holder, which gives the abandoned-mutex
// behaviour for free, and it can be tested without being taken, so a probe never makes a
// starting launcher think another one runs. O_CLOEXEC matters: detached children (the game,
// the new launcher) must not inherit the lock.

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

// Windows mutexes are per session; the runtime folder is per user. A shared temporary
// folder gets the user id in the name, or another user's file would lock this user out.
std::string lockPath(const std::u16string &name)
{
    std::string file = toUtf8(name);
    for (char &c : file) {
        if (c == '/')
            c = '_';
    }
    if (const char *runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
        return std::string(runtime) + "/" + file + ".lock";
    const char *tmp = std::getenv("TMPDIR");
    const std::string dir = tmp && *tmp ? tmp : "/tmp";
    return dir + "/" + file + "-" + std::to_string(::getuid()) + ".lock";
}

int openLock(const std::string &path)
{
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

int openLock(const std::u16string &name)
{
    return openLock(lockPath(name));
}

std::string failure(const std::string &path, int error)
{
    return path + ": " + std::generic_category().message(error);
}

struct flock wholeFile(short type)
{
    struct flock lock = {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    return lock; // start 0, length 0: the whole file
}

// 1 acquired, 0 held by someone, -1 error (errno tells)
int tryLock(int fd)
{
    struct flock lock = wholeFile(F_WRLCK);
    int rc;
    do {
        rc = ::fcntl(fd, F_OFD_SETLK, &lock);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0)
        return 1;
    return errno == EAGAIN || errno == EACCES ? 0 : -1;
}

// 1 held by someone (the caller included, through another descriptor), 0 free, -1 error
int isLocked(int fd)
{
    struct flock lock = wholeFile(F_WRLCK);
    if (::fcntl(fd, F_OFD_GETLK, &lock) != 0)
        return -1;
    return lock.l_type == F_UNLCK ? 0 : 1;
}

} // namespace

namespace NamedMutex {

bool exists(const std::u16string &name)
{
    const int fd = openLock(name);
    if (fd < 0)
        return false;
    const int state = isLocked(fd);
    ::close(fd);
    return state == 1;
}

bool waitUntilFree(const std::u16string &name, int timeoutMs)
{
    const int fd = openLock(name);
    if (fd < 0)
        return true; // a lock that cannot be made has no holder to wait for
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (isLocked(fd) != 1) {
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

Claim claim(const std::u16string &name)
{
    Claim result;
    const std::string path = lockPath(name);
    const int fd = openLock(path);
    if (fd < 0) {
        result.cause = failure(path, errno);
        return result;
    }
    const int state = tryLock(fd);
    if (state == 1) {
        result.handle = Handle(fd) + 1;
        result.outcome = Claim::Outcome::Owned;
        return result;
    }
    if (state == 0)
        result.outcome = Claim::Outcome::Held;
    else
        result.cause = failure(path, errno);
    ::close(fd);
    return result;
}


void release(Handle handle)
{
    if (handle == 0)
        return;
    const int fd = int(handle - 1);
    struct flock unlock = wholeFile(F_UNLCK);
    ::fcntl(fd, F_OFD_SETLK, &unlock);
    ::close(fd);
}

} // namespace NamedMutex
