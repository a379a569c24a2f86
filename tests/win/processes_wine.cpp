// Named mutexes and the file replace on Windows, against holders in other processes: this
// program started again.

#include "FileReplace.h"
#include "NamedMutex.h"
#include "WineTest.h"

#include <sddl.h>

#include <filesystem>
#include <fstream>
#include <tuple>

using Outcome = NamedMutex::Claim::Outcome;
using Result = FileReplace::Result;

// The holder, NAME MS HOW READY: holds the mutex NAME for MS, then releases it (HOW "release") or
// ends without (HOW "exit": abandoned); HOW "take" is ready only if it could take it. HOW "event"
// holds an event of that name, "file" the file NAME open without FILE_SHARE_DELETE, as an ending
// launcher's executable or a scanner holds it. Any other HOW is the security descriptor of another
// user's mutex (its owner is SYSTEM: wine grants an owner more than the DACL does). A released
// mutex lives on for a second.
static int hold(int argc, wchar_t **argv)
{
    const std::wstring how = argv[3];
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ConvertStringSecurityDescriptorToSecurityDescriptorW(argv[3], SDDL_REVISION_1, &descriptor, nullptr);
    SECURITY_ATTRIBUTES restricted {sizeof restricted, descriptor, FALSE};
    HANDLE handle = how == L"event" ? CreateEventW(nullptr, TRUE, FALSE, argv[1])
        : how == L"file"
        ? CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)
        : CreateMutexW(descriptor ? &restricted : nullptr, TRUE, argv[1]);
    if (how == L"take" && WaitForSingleObject(handle, 0) == WAIT_TIMEOUT)
        return 1;
    signalReady(argc, argv);
    Sleep(DWORD(_wtoi(argv[2])));
    if (how != L"exit")
        ReleaseMutex(handle);
    Sleep(1000);
    return 0;
}

int wmain(int argc, wchar_t **argv)
{
    if (argc == 5)
        return hold(argc, argv);

    // how: of the holder, none when null; then how long it holds, the wait's limit, what a probe, a
    // claim and the wait see, and the least and most time from the holder's start to the wait's end.
    const std::tuple<const char *, const wchar_t *, int, int, bool, Outcome, bool, long long, long long>
        mutexCases[] = {
            {"unused", nullptr, 0, 1000, false, Outcome::Owned, true, 0, 500},
            {"held", L"release", 60000, 1000, true, Outcome::Held, false, 950, 2500},
            {"held, negative limit", L"release", 60000, -5, true, Outcome::Held, false, 0, 500},
            {"released in the wait", L"release", 800, 5000, true, Outcome::Held, true, 700, 2000},
            {"abandoned in the wait", L"exit", 800, 5000, true, Outcome::Held, true, 700, 2000},
            // Waited on through SYNCHRONIZE: free at the release, not only once the object is gone.
            {"another user's, SYNCHRONIZE only", L"O:SYD:(A;;0x00100000;;;WD)", 800, 5000, true,
                Outcome::Held, true, 700, 1700},
            {"another user's, denied", L"O:SYD:", 60000, 1000, true, Outcome::Held, false, 950, 2500},
            {"another user's, denied, gone in the wait", L"O:SYD:", 800, 5000, true, Outcome::Held, true,
                1500, 3500},
            // Another kind of object holds the name: no mutex can be made, so nobody holds one.
            {"an event's name", L"event", 60000, 1000, false, Outcome::Unavailable, true, 0, 500},
        };
    int serial = 0;
    for (const auto &[what, how, holdMs, limit, exists, outcome, free, minMs, maxMs] : mutexCases) {
        const std::wstring name = L"nmtest" + std::to_wstring(GetCurrentProcessId() * 100 + ++serial);
        const std::u16string name16(name.begin(), name.end());
        const Child holder(how ? name + L" " + std::to_wstring(holdMs) + L" " + how : L"");
        const ULONGLONG start = GetTickCount64(); // the holder's time runs from here
        const bool probed = NamedMutex::exists(name16);
        const NamedMutex::Claim claim = NamedMutex::claim(name16);
        NamedMutex::release(claim.handle);
        const bool waitedFree = NamedMutex::waitUntilFree(name16, limit);
        const long long waited = GetTickCount64() - start;
        check(holder.ready && probed == exists && claim.outcome == outcome
                && (claim.handle != 0) == (outcome == Outcome::Owned)
                && (outcome != Outcome::Unavailable || claim.cause.rfind("error 6:", 0) == 0)
                && waitedFree == free && waited >= minMs && waited < maxMs
                && (!free || Child(name + L" 0 take").ready), // another process may take it after a free wait
            std::string(what) + ": claim " + std::to_string(int(claim.outcome)) + " " + claim.cause
                + ", wait gave " + std::to_string(waitedFree) + " after " + std::to_string(waited) + " ms");
    }

    const std::filesystem::path source
        = std::filesystem::temp_directory_path() / std::to_string(GetCurrentProcessId());
    const std::filesystem::path target = source.wstring() + L".exe";
    // How long another process keeps the target open, what the replace gives, and the least and
    // most it may take.
    const std::tuple<const char *, int, Result, long long, long long> replaceCases[] = {
        {"held 1 s: replaced once released", 1000, Result::Replaced, 700, 4000},
        {"held 20 s: given up after 5 s", 20000, Result::TargetInUse, 4900, 8000},
    };
    for (const auto &[what, holdMs, expected, minMs, maxMs] : replaceCases) {
        std::ofstream(source) << "new!"; // sizes tell the files apart
        std::ofstream(target) << "old";
        const Child holder(holdMs ? target.wstring() + L" " + std::to_wstring(holdMs) + L" file" : L"");
        const ULONGLONG start = GetTickCount64();
        const Result result = FileReplace::moveOver(source, target);
        const long long took = GetTickCount64() - start;
        const bool replaced = result == Result::Replaced; // else both files stay as they were
        check(holder.ready && result == expected && took >= minMs && took < maxMs
                && std::filesystem::exists(source) != replaced
                && std::filesystem::file_size(target) == (replaced ? 4u : 3u),
            std::string(what) + ": result " + std::to_string(int(result)) + " after " + std::to_string(took));
    }
    for (const std::filesystem::path &path : {source, target})
        std::filesystem::remove(path);
    return summary();
}
