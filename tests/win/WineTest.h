#ifndef WINETEST_H
#define WINETEST_H

// What the Windows tests share: checks that count and report, a stopwatch, and this program
// started again with a sub-command as the other process a test needs.

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace WineTest {

inline int passed = 0;
inline int failed = 0;

inline void check(bool ok, const char *what, const std::string &detail = std::string())
{
    if (ok) {
        ++passed;
        return;
    }
    ++failed;
    std::printf("FAIL: %s%s%s\n", what, detail.empty() ? "" : ": ", detail.c_str());
    std::fflush(stdout);
}

inline void check(bool ok, const char *what, long long detail)
{
    check(ok, what, std::to_string(detail));
}

// The last line of every run; its result is the program's exit code.
inline int summary()
{
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}

class Stopwatch
{
public:
    long long ms() const { return (long long)(GetTickCount64() - m_start); }

private:
    ULONGLONG m_start = GetTickCount64();
};

// A child started with "COMMAND READY-EVENT ..." sets its event once it is ready.
inline void signalReady(const wchar_t *event)
{
    if (HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, event)) {
        SetEvent(ready);
        CloseHandle(ready);
    }
}

// This program started again; a child still running when the object goes is terminated.
class Child
{
public:
    Child() = default;
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;
    ~Child()
    {
        if (m_process) {
            TerminateProcess(m_process, 99);
            WaitForSingleObject(m_process, 5000);
            CloseHandle(m_process);
        }
    }

    bool start(const std::vector<std::wstring> &args)
    {
        wchar_t self[MAX_PATH];
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring commandLine = L"\"" + std::wstring(self) + L"\"";
        for (const std::wstring &arg : args)
            commandLine += L" \"" + arg + L"\"";
        STARTUPINFOW startup {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info {};
        if (!CreateProcessW(
                self, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
            return false;
        CloseHandle(info.hThread);
        m_process = info.hProcess;
        return true;
    }

    // Inserts a fresh event's name after the command and returns once the child set it (false
    // when the child ended first or took too long).
    bool startReady(std::vector<std::wstring> args)
    {
        static int serial = 0;
        const std::wstring ready
            = L"winetest_ready_" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(++serial);
        HANDLE event = CreateEventW(nullptr, TRUE, FALSE, ready.c_str());
        args.insert(args.begin() + 1, ready);
        bool isReady = false;
        if (event && start(args)) {
            HANDLE both[] = {event, m_process};
            isReady = WaitForMultipleObjects(2, both, FALSE, 15000) == WAIT_OBJECT_0;
        }
        if (event)
            CloseHandle(event);
        return isReady;
    }

    // Exit code, or -1 when the child did not end in time.
    int wait(DWORD ms = 15000)
    {
        if (!m_process || WaitForSingleObject(m_process, ms) != WAIT_OBJECT_0)
            return -1;
        DWORD code = 0;
        GetExitCodeProcess(m_process, &code);
        CloseHandle(m_process);
        m_process = nullptr;
        return int(code);
    }

    HANDLE process() const { return m_process; }

private:
    HANDLE m_process = nullptr;
};

} // namespace WineTest

#endif
