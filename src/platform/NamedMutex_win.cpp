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

// Denied even SYNCHRONIZE, the state cannot be read. Only a holder keeps its handle open for
// long, so the mutex counts as free once the object is gone.
bool waitUntilGone(const std::u16string &name, int timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + ULONGLONG(timeoutMs);
    for (;;) {
        HANDLE handle = OpenMutexW(SYNCHRONIZE, FALSE, wide(name));
        if (handle)
            CloseHandle(handle);
        else if (GetLastError() != ERROR_ACCESS_DENIED)
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
    if (timeoutMs < 0)
        timeoutMs = 0; // a negative limit would become INFINITE
    HANDLE handle = openForWait(name);
    if (!handle) {
        if (GetLastError() == ERROR_ACCESS_DENIED)
            return waitUntilGone(name, timeoutMs);
        return true; // the name belongs to another kind of object: no mutex to wait for
    }
    const DWORD result = WaitForSingleObject(handle, DWORD(timeoutMs));
    if (result == WAIT_TIMEOUT) {
        CloseHandle(handle);
        return false;
    }
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED)
        ReleaseMutex(handle);
    CloseHandle(handle);
    return true;
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
