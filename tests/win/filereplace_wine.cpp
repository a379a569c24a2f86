// The atomic replace on Windows against a target that another process holds open without
// FILE_SHARE_DELETE, as a just-ended launcher's executable or a scanner holds it: this program
// started again with a sub-command is that other process.

#include "FileReplace.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

int passed = 0;
int failed = 0;

void check(bool ok, const char *what, long long detail = -1)
{
    if (ok) {
        ++passed;
        return;
    }
    ++failed;
    if (detail >= 0)
        std::printf("FAIL: %s (%lld)\n", what, detail);
    else
        std::printf("FAIL: %s\n", what);
    std::fflush(stdout);
}

class Stopwatch
{
public:
    long long ms() const { return (long long)(GetTickCount64() - m_start); }

private:
    ULONGLONG m_start = GetTickCount64();
};

bool writeFile(const std::wstring &path, const std::string &content)
{
    HANDLE file
        = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, content.data(), DWORD(content.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == content.size();
}

// "<missing>" when the file cannot be read.
std::string readFile(const std::wstring &path)
{
    HANDLE file
        = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "<missing>";
    std::string content;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        content.append(buffer, got);
    CloseHandle(file);
    return content;
}

// ---- child side: hold PATH EVENT MS ----------------------------------------------------------

int holdFile(const std::wstring &path, const std::wstring &eventName, DWORD ms)
{
    // Readers may share it; a replace (which deletes the old file) may not.
    HANDLE file = CreateFileW(
        path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 3;
    HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, eventName.c_str());
    if (!ready)
        return 4;
    SetEvent(ready);
    CloseHandle(ready);
    Sleep(ms);
    CloseHandle(file);
    return 0;
}

// ---- parent side -----------------------------------------------------------------------------

class Holder
{
public:
    ~Holder()
    {
        if (m_process) {
            TerminateProcess(m_process, 1);
            WaitForSingleObject(m_process, 5000);
            CloseHandle(m_process);
        }
    }

    // Returns once the child has the file open.
    bool start(const std::wstring &path, DWORD ms)
    {
        const std::wstring eventName = L"frtest_" + std::to_wstring(GetCurrentProcessId()) + L"_ready";
        HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, eventName.c_str());
        if (!ready)
            return false;
        wchar_t self[MAX_PATH];
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring commandLine = L"\"" + std::wstring(self) + L"\" hold \"" + path + L"\" \"" + eventName
            + L"\" " + std::to_wstring(ms);
        STARTUPINFOW startup {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info {};
        bool ok = CreateProcessW(
            self, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info);
        if (ok) {
            CloseHandle(info.hThread);
            m_process = info.hProcess;
            HANDLE waits[] = {ready, m_process};
            ok = WaitForMultipleObjects(2, waits, FALSE, 10000) == WAIT_OBJECT_0;
        }
        CloseHandle(ready);
        return ok;
    }

    bool finished(DWORD ms) { return WaitForSingleObject(m_process, ms) == WAIT_OBJECT_0; }

private:
    HANDLE m_process = nullptr;
};

struct Folder
{
    std::wstring path;

    Folder()
    {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        path = std::wstring(temp) + L"frtest_" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(path.c_str(), nullptr);
    }
    ~Folder()
    {
        for (const wchar_t *name :
            {L"plain.exe", L"busy.new", L"Launcher.exe", L"stuck.new", L"stuck.exe", L"other.new"}) {
            SetFileAttributesW(file(name).c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(file(name).c_str());
        }
        RemoveDirectoryW(file(L"folder.exe").c_str());
        RemoveDirectoryW(path.c_str());
    }
    std::wstring file(const wchar_t *name) const { return path + L"\\" + name; }
};

void replacesPlainFile(const Folder &folder)
{
    const std::wstring source = folder.file(L"plain.new");
    const std::wstring target = folder.file(L"plain.exe");
    check(writeFile(source, "new") && writeFile(target, "old"), "plain: set up");
    check(FileReplace::moveOver(source, target) == FileReplace::Result::Replaced, "plain: replaced");
    check(readFile(target) == "new", "plain: new content");
    check(readFile(source) == "<missing>", "plain: source moved");
}

void waitsForTargetReleasedWithinLimit(const Folder &folder)
{
    const std::wstring source = folder.file(L"busy.new");
    const std::wstring target = folder.file(L"Launcher.exe");
    check(writeFile(source, "new launcher") && writeFile(target, "old launcher"), "busy: set up");
    Holder holder;
    check(holder.start(target, 1000), "busy: holder started");
    // Without the retry this fails at once: the holder refuses deletion.
    check(MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) == 0,
        "busy: target really in use");
    Stopwatch clock;
    const FileReplace::Result result = FileReplace::moveOver(source, target);
    const long long elapsed = clock.ms();
    check(result == FileReplace::Result::Replaced, "busy: replaced once released", (long long)result);
    check(elapsed >= 700 && elapsed < 4000, "busy: waited for the release", elapsed);
    check(readFile(target) == "new launcher", "busy: new content");
    check(readFile(source) == "<missing>", "busy: source moved");
    check(holder.finished(5000), "busy: holder ended");
}

void givesUpAfterLimit(const Folder &folder)
{
    const std::wstring source = folder.file(L"stuck.new");
    const std::wstring target = folder.file(L"stuck.exe");
    check(writeFile(source, "new") && writeFile(target, "old"), "stuck: set up");
    Holder holder;
    check(holder.start(target, 20000), "stuck: holder started");
    Stopwatch clock;
    const FileReplace::Result result = FileReplace::moveOver(source, target);
    const long long elapsed = clock.ms();
    check(result == FileReplace::Result::Failed, "stuck: failed", (long long)result);
    check(elapsed >= 4900 && elapsed < 8000, "stuck: gave up after about 5 s", elapsed);
    check(readFile(target) == "old", "stuck: target unchanged");
    check(readFile(source) == "new", "stuck: source unchanged");
}

// (A read-only target cannot be shown here: wine replaces it where Windows denies access.)
void failsAtOnceWhenWaitingCannotHelp(const Folder &folder)
{
    const std::wstring source = folder.file(L"other.new");
    check(writeFile(source, "new"), "other: set up");

    const std::wstring directory = folder.file(L"folder.exe");
    check(CreateDirectoryW(directory.c_str(), nullptr) != 0, "other: folder target");
    const std::wstring missingSource = folder.file(L"missing.new");
    const std::wstring plain = folder.file(L"plain.exe");

    struct Case
    {
        const wchar_t *from;
        const wchar_t *to;
        const char *what;
    } cases[] = {
        {source.c_str(), directory.c_str(), "other: folder target fails at once"},
        {missingSource.c_str(), plain.c_str(), "other: missing source fails at once"},
    };
    for (const Case &c : cases) {
        Stopwatch clock;
        const FileReplace::Result result = FileReplace::moveOver(c.from, c.to);
        check(result == FileReplace::Result::Failed && clock.ms() < 1000, c.what, clock.ms());
    }
    check(readFile(source) == "new", "other: source unchanged");
    check(readFile(plain) == "new", "other: target unchanged");
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc == 5 && std::wstring(argv[1]) == L"hold")
        return holdFile(argv[2], argv[3], DWORD(std::wcstoul(argv[4], nullptr, 10)));

    const Folder folder;
    replacesPlainFile(folder);
    waitsForTargetReleasedWithinLimit(folder);
    givesUpAfterLimit(folder);
    failsAtOnceWhenWaitingCannotHelp(folder);

    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
