// The atomic replace on Windows against a target that another process holds open without
// FILE_SHARE_DELETE, as a just-ended launcher's executable or a scanner holds it: this program
// started again with a sub-command is that other process.

#include "FileReplace.h"
#include "WineTest.h"

#include <cwchar>

using namespace WineTest;

namespace {

bool writeFile(const std::wstring &path, const std::string &content)
{
    FILE *file = _wfopen(path.c_str(), L"wb");
    const bool ok = file && std::fwrite(content.data(), 1, content.size(), file) == content.size();
    return file && std::fclose(file) == 0 && ok;
}

// "<missing>" when the file cannot be read.
std::string readFile(const std::wstring &path)
{
    FILE *file = _wfopen(path.c_str(), L"rb");
    if (!file)
        return "<missing>";
    std::string content;
    char buffer[4096];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        content.append(buffer, got);
    std::fclose(file);
    return content;
}

// Child side: hold READY PATH MS. Readers may share the file; a replace (which deletes the
// old file) may not.
int holdFile(const wchar_t *ready, const wchar_t *path, DWORD ms)
{
    HANDLE file = CreateFileW(
        path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 3;
    signalReady(ready);
    Sleep(ms);
    CloseHandle(file);
    return 0;
}

bool startHolder(Child &holder, const std::wstring &path, DWORD ms)
{
    return holder.startReady({L"hold", path, std::to_wstring(ms)});
}

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
        for (const wchar_t *name : {L"plain.exe", L"Launcher.exe", L"stuck.new", L"stuck.exe", L"other.new"})
            DeleteFileW(file(name).c_str());
        RemoveDirectoryW(file(L"folder.exe").c_str());
        RemoveDirectoryW(path.c_str());
    }
    std::wstring file(const wchar_t *name) const { return path + L"\\" + name; }
};

// Sets up source and target, replaces while a holder keeps target open for holdMs (none when
// 0), and checks the result, the time it took and both files afterwards.
void replace(const Folder &folder, const char *what, const wchar_t *sourceName, const wchar_t *targetName,
    DWORD holdMs, FileReplace::Result expected, long long minMs, long long maxMs)
{
    const std::wstring source = folder.file(sourceName), target = folder.file(targetName);
    check(writeFile(source, "new") && writeFile(target, "old"), what, "set up");
    Child holder;
    if (holdMs) {
        check(startHolder(holder, target, holdMs), what, "holder started");
        // Without the retry the replace fails at once: the holder refuses deletion.
        check(MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) == 0, what,
            "target really in use");
    }
    Stopwatch clock;
    const FileReplace::Result result = FileReplace::moveOver(source, target);
    const long long elapsed = clock.ms();
    check(result == expected, what, "result " + std::to_string(int(result)));
    check(elapsed >= minMs && elapsed < maxMs, what, "took " + std::to_string(elapsed) + " ms");
    const bool replaced = expected == FileReplace::Result::Replaced;
    check(readFile(target) == (replaced ? "new" : "old"), what, "target content");
    check(readFile(source) == (replaced ? "<missing>" : "new"), what, "source content");
    if (holdMs && replaced)
        check(holder.wait(5000) == 0, what, "holder ended");
}

// (A read-only target cannot be shown here: wine replaces it where Windows denies access.)
void failsAtOnceWhenWaitingCannotHelp(const Folder &folder)
{
    const std::wstring source = folder.file(L"other.new"), directory = folder.file(L"folder.exe");
    const std::wstring plain = folder.file(L"plain.exe");
    check(writeFile(source, "new") && CreateDirectoryW(directory.c_str(), nullptr), "other: set up");
    const std::wstring cases[][3] = {
        {source, directory, L"folder target"},
        {folder.file(L"missing.new"), plain, L"missing source"},
    };
    for (const auto &c : cases) {
        Stopwatch clock;
        const FileReplace::Result result = FileReplace::moveOver(c[0], c[1]);
        check(result == FileReplace::Result::Failed && clock.ms() < 1000, "other: fails at once",
            std::string(c[2].begin(), c[2].end()) + ", " + std::to_string(clock.ms()) + " ms");
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
    const auto Replaced = FileReplace::Result::Replaced, InUse = FileReplace::Result::TargetInUse;
    replace(folder, "plain", L"plain.new", L"plain.exe", 0, Replaced, 0, 1000);
    replace(folder, "busy: replaced once released", L"busy.new", L"Launcher.exe", 1000, Replaced, 700, 4000);
    replace(folder, "stuck: gives up after about 5 s", L"stuck.new", L"stuck.exe", 20000, InUse, 4900, 8000);
    failsAtOnceWhenWaitingCannotHelp(folder);
    return summary();
}
