// What the Windows tests share: checks that count, and this program started again as the other
// process a test needs.
#pragma once

#include <process.h>
#include <windows.h>

#include <cstdio>
#include <string>

inline int passed = 0, failed = 0;

inline void check(bool ok, const std::string &what)
{
    ++(ok ? passed : failed);
    if (!ok)
        std::printf("FAIL: %s\n", what.c_str());
}

// The last line of every run; its result is the program's exit code.
inline int summary()
{
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed || !passed;
}

// This program started with arguments, then the name of an event it sets once ready; the
// constructor returns then (ready) or when the child ended first. Terminated when it goes.
// Without arguments, no child.
struct Child
{
    HANDLE process = nullptr;
    bool ready = true;

    explicit Child(const std::wstring &arguments)
    {
        static int serial = 0;
        if (arguments.empty())
            return;
        const std::wstring event = L"ready" + std::to_wstring(GetCurrentProcessId() * 100 + ++serial);
        HANDLE readyEvent = CreateEventW(nullptr, TRUE, FALSE, event.c_str());
        wchar_t self[MAX_PATH];
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        // Joined with blanks, unquoted: a blank inside the arguments separates two of them.
        process = HANDLE(_wspawnl(_P_NOWAIT, self, L"child", arguments.c_str(), event.c_str(), nullptr));
        HANDLE either[] = {readyEvent, process};
        ready = WaitForMultipleObjects(2, either, FALSE, 15000) == WAIT_OBJECT_0;
        CloseHandle(readyEvent);
    }
    ~Child()
    {
        TerminateProcess(process, 99);
        WaitForSingleObject(process, 5000);
        CloseHandle(process);
    }
};

// The child's side: its last argument names the event.
inline void signalReady(int argc, wchar_t **argv)
{
    SetEvent(OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[argc - 1]));
}
