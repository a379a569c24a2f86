#include "NamedMutex.h"

#include <windows.h>

// A probe opens rather than creates, so it never creates the object a starting game is
// about to create. The timed wait does not ask for initial ownership, so it can never
// keep the mutex. ERROR_ACCESS_DENIED means a mutex exists that another (elevated) user owns.

namespace {

const wchar_t *wide(const std::u16string &name)
{
    static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t expected");
    return reinterpret_cast<const wchar_t *>(name.c_str());
}

// CreateMutexW asks for full access, which a mutex of another user or integrity level denies.
// SYNCHRONIZE alone suffices to wait on it and to release it once acquired.
HANDLE openForWait(const std::u16string &name)
{
    HANDLE handle = CreateMutexW(nullptr, FALSE, wide(name));
    if (!handle && GetLastError() == ERROR_ACCESS_DENIED)
        handle = OpenMutexW(SYNCHRONIZE, FALSE, wide(name));
    return handle;
}

// Waits on a handle from openForWait and closes it; an acquired mutex is released at once.
bool waitAndRelease(HANDLE handle, DWORD timeoutMs)
{
    const DWORD result = WaitForSingleObject(handle, timeoutMs);
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED)
        ReleaseMutex(handle);
    CloseHandle(handle);
    return result != WAIT_TIMEOUT;
}

// Denied even SYNCHRONIZE, the state cannot be read. Only a holder keeps its handle open for
// long, so the mutex counts as free once the object is gone.
bool waitUntilGone(const std::u16string &name, DWORD timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (HANDLE handle = OpenMutexW(SYNCHRONIZE, FALSE, wide(name))) {
            const ULONGLONG now = GetTickCount64();
            return waitAndRelease(handle, now < deadline ? DWORD(deadline - now) : 0);
        }
        if (GetLastError() != ERROR_ACCESS_DENIED)
            return true;
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(20);
    }
}

} // namespace

namespace NamedMutex {

bool exists(const std::u16string &name)
{
    HANDLE handle = OpenMutexW(SYNCHRONIZE, FALSE, wide(name));
    if (handle) {
        CloseHandle(handle);
        return true;
    }
    return GetLastError() == ERROR_ACCESS_DENIED;
}

bool waitUntilFree(const std::u16string &name, int timeoutMs)
{
    const DWORD limit = timeoutMs > 0 ? DWORD(timeoutMs) : 0; // negative would mean INFINITE
    if (HANDLE handle = openForWait(name))
        return waitAndRelease(handle, limit);
    if (GetLastError() == ERROR_ACCESS_DENIED)
        return waitUntilGone(name, limit);
    return true; // the name belongs to another kind of object: no mutex to wait for
}

Handle createOwned(const std::u16string &name)
{
    HANDLE handle = CreateMutexW(nullptr, TRUE, wide(name));
    if (!handle)
        return 0;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(handle);
        return 0;
    }
    return reinterpret_cast<Handle>(handle);
}

void release(Handle handle)
{
    if (handle == 0)
        return;
    HANDLE h = reinterpret_cast<HANDLE>(handle);
    ReleaseMutex(h);
    CloseHandle(h);
}

} // namespace NamedMutex
