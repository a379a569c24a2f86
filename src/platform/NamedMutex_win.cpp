#include "NamedMutex.h"

#include <windows.h>

// A probe opens rather than creates, so it never creates the object a starting game is
// about to create. The timed wait does not ask for initial ownership, so it can never
// keep the mutex. ERROR_ACCESS_DENIED means a mutex exists that another (elevated) user owns;
// any other failure (the name taken by another kind of object, no memory) means no mutex can
// be made under that name, so none is held.

namespace {

const wchar_t *wide(const std::u16string &name)
{
    static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t expected");
    return reinterpret_cast<const wchar_t *>(name.c_str());
}

// "error 6: The handle is invalid.", in UTF-8 whatever the system's code page.
std::string errorText(DWORD error)
{
    std::string text = "error " + std::to_string(error);
    wchar_t *message = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        error, 0, reinterpret_cast<wchar_t *>(&message), 0, nullptr);
    if (length > 0) {
        std::wstring wide(message, length);
        while (!wide.empty() && (wide.back() == L'\n' || wide.back() == L'\r' || wide.back() == L' '))
            wide.pop_back();
        const int size
            = WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr, nullptr);
        std::string utf8(size_t(size), '\0');
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), &utf8[0], size, nullptr, nullptr);
        text += ": " + utf8;
    }
    LocalFree(message);
    return text;
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

Claim claim(const std::u16string &name)
{
    Claim result;
    HANDLE handle = CreateMutexW(nullptr, TRUE, wide(name));
    const DWORD error = GetLastError();
    if (handle && error != ERROR_ALREADY_EXISTS) {
        result.handle = reinterpret_cast<Handle>(handle);
        result.outcome = Claim::Outcome::Owned;
        return result;
    }
    if (handle)
        CloseHandle(handle);
    if (handle || error == ERROR_ACCESS_DENIED)
        result.outcome = Claim::Outcome::Held;
    else
        result.cause = errorText(error);
    return result;
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
