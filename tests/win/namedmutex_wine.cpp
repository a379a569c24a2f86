// Named mutexes on Windows against real child processes (this program started again with a
// sub-command) and threads, since a mutex is owned by a thread, not by a process.

#include "NamedMutex.h"

#include <windows.h>

#include <sddl.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

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

std::u16string u16(const std::wstring &text)
{
    return std::u16string(text.begin(), text.end());
}

const wchar_t *wide(const std::u16string &text)
{
    return reinterpret_cast<const wchar_t *>(text.c_str());
}

// Names unique to this run, so parallel runs in one wine prefix never meet.
std::u16string uniqueName(const wchar_t *base)
{
    return u16(L"nmtest_" + std::to_wstring(GetCurrentProcessId()) + L"_" + base);
}

class Stopwatch
{
public:
    long long ms() const { return (long long)(GetTickCount64() - m_start); }

private:
    ULONGLONG m_start = GetTickCount64();
};

// ---- child side --------------------------------------------------------------------------

// Tells the parent that the child now holds the mutex.
void signalReady(const wchar_t *event)
{
    if (HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, event)) {
        SetEvent(ready);
        CloseHandle(ready);
    }
}

// A mutex as another user or an elevated process leaves it: dacl "D:(A;;0x00100000;;;WD)"
// grants everyone SYNCHRONIZE only, "D:" grants nothing.
HANDLE createRestricted(const wchar_t *name, const wchar_t *dacl)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(dacl, SDDL_REVISION_1, &descriptor, nullptr))
        return nullptr;
    SECURITY_ATTRIBUTES attributes {sizeof attributes, descriptor, FALSE};
    HANDLE handle = CreateMutexW(&attributes, TRUE, name);
    if (handle && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(handle);
        handle = nullptr;
    }
    LocalFree(descriptor);
    return handle;
}

int childMain(int argc, wchar_t **argv)
{
    const std::wstring command = argv[1];
    const wchar_t *name = argc > 2 ? argv[2] : L"";
    const std::u16string name16 = u16(name);
    const DWORD ms = argc > 3 ? DWORD(_wtoi(argv[3])) : 0;
    const wchar_t *ready = argc > 4 ? argv[4] : L"";

    if (command == L"hold" || command == L"abandon") {
        const NamedMutex::Handle handle = NamedMutex::createOwned(name16);
        if (!handle)
            return 2;
        signalReady(ready);
        Sleep(ms);
        if (command == L"hold")
            NamedMutex::release(handle);
        return 0;
    }
    if (command == L"hold-restricted") { // hold-restricted NAME MS READY LINGER DACL
        HANDLE handle = createRestricted(name, argv[6]);
        if (!handle)
            return 2;
        signalReady(ready);
        Sleep(ms);
        ReleaseMutex(handle);
        Sleep(DWORD(_wtoi(argv[5])));
        CloseHandle(handle);
        return 0;
    }
    if (command == L"create-new") { // 0: created as new, 1: already existed
        HANDLE handle = CreateMutexW(nullptr, FALSE, name);
        if (!handle)
            return 2;
        const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
        CloseHandle(handle);
        return existed ? 1 : 0;
    }
    if (command == L"take") { // 0: acquired at once, 1: held by someone
        HANDLE handle = CreateMutexW(nullptr, FALSE, name);
        if (!handle)
            handle = OpenMutexW(SYNCHRONIZE, FALSE, name);
        if (!handle)
            return 2;
        const DWORD result = WaitForSingleObject(handle, 0);
        if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED)
            ReleaseMutex(handle);
        CloseHandle(handle);
        return result == WAIT_TIMEOUT ? 1 : (result == WAIT_FAILED ? 2 : 0);
    }
    if (command == L"race") { // race NAME MS START FINISH: 0 won, 1 refused
        HANDLE start = OpenEventW(SYNCHRONIZE, FALSE, argv[4]);
        HANDLE finish = OpenEventW(SYNCHRONIZE, FALSE, argv[5]);
        if (!start || !finish)
            return 2;
        WaitForSingleObject(start, 10000);
        const NamedMutex::Handle handle = NamedMutex::createOwned(name16);
        if (!handle)
            return 1;
        WaitForSingleObject(finish, ms);
        NamedMutex::release(handle);
        return 0;
    }
    return 3;
}

// ---- parent side -------------------------------------------------------------------------

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

    // Starts a holder and returns once it holds the mutex (false when it gave up instead).
    bool startHolder(std::vector<std::wstring> args)
    {
        static int serial = 0;
        const std::wstring ready
            = L"nmtest_ready_" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(++serial);
        HANDLE event = CreateEventW(nullptr, TRUE, FALSE, ready.c_str());
        args.insert(args.begin() + 3, ready);
        bool held = false;
        if (event && start(args)) {
            HANDLE both[] = {event, m_process};
            held = WaitForMultipleObjects(2, both, FALSE, 15000) == WAIT_OBJECT_0;
        }
        if (event)
            CloseHandle(event);
        return held;
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

std::wstring w(const std::u16string &text)
{
    return std::wstring(text.begin(), text.end());
}

int runChild(const std::vector<std::wstring> &args)
{
    Child child;
    return child.start(args) ? child.wait() : -1;
}

bool childCreatesNew(const std::u16string &name)
{
    return runChild({L"create-new", w(name)}) == 0;
}

bool childCanTake(const std::u16string &name)
{
    return runChild({L"take", w(name)}) == 0;
}

template<typename Function> DWORD runThread(Function function)
{
    struct Call
    {
        static DWORD WINAPI run(void *context)
        {
            (*static_cast<Function *>(context))();
            return 0;
        }
    };
    HANDLE thread = CreateThread(nullptr, 0, &Call::run, &function, 0, nullptr);
    if (!thread)
        return WAIT_FAILED;
    const DWORD result = WaitForSingleObject(thread, 15000);
    CloseHandle(thread);
    return result;
}

void unusedNameProbesFalseAndLeavesNothing()
{
    const std::u16string name = uniqueName(L"probe_遊戲");
    check(!NamedMutex::exists(name), "probe of an unused name is false");
    check(!NamedMutex::exists(name), "second probe of an unused name is false");
    check(childCreatesNew(name), "a probe leaves no mutex behind");
    check(NamedMutex::waitUntilFree(name, 1000), "wait on an unused name succeeds");
    check(childCreatesNew(name), "a wait on an unused name leaves no mutex behind");
}

void heldMeansExistsForHolderToo()
{
    const std::u16string name = uniqueName(L"held");
    const NamedMutex::Handle own = NamedMutex::createOwned(name);
    check(own != 0, "createOwned of a free name succeeds");
    check(NamedMutex::exists(name), "the holder sees its own mutex");
    check(NamedMutex::waitUntilFree(name, 0), "the holding thread may wait on its own mutex");
    check(!childCanTake(name), "the holder's own wait does not give up its ownership");
    NamedMutex::Handle fromThread = 1;
    runThread([&] { fromThread = NamedMutex::createOwned(name); });
    check(fromThread == 0, "createOwned from another thread of the holder is refused");
    bool freeForThread = true;
    runThread([&] { freeForThread = NamedMutex::waitUntilFree(name, 200); });
    check(!freeForThread, "another thread of the holder cannot acquire it");
    NamedMutex::release(own);
    check(!NamedMutex::exists(name), "a released mutex no longer exists");
    check(childCreatesNew(name), "release destroys the mutex");

    Child holder;
    check(holder.startHolder({L"hold", w(name), L"60000"}), "a child takes the released name");
    check(NamedMutex::exists(name), "a mutex held by a child exists");
    check(NamedMutex::exists(name), "probing twice changes nothing");
}

void secondOwnerRefused()
{
    const std::u16string name = uniqueName(L"onlyone");
    Child holder;
    check(holder.startHolder({L"hold", w(name), L"60000"}), "child holder starts");
    check(NamedMutex::createOwned(name) == 0, "createOwned while a child holds it returns 0");
    TerminateProcess(holder.process(), 1);
    holder.wait();
    const NamedMutex::Handle own = NamedMutex::createOwned(name);
    check(own != 0, "createOwned succeeds once the holder is gone");
    NamedMutex::release(own);
}

void simultaneousOwnersOnlyOneWins()
{
    const std::u16string name = uniqueName(L"race");
    const std::wstring start = w(name) + L"_start", finish = w(name) + L"_finish";
    HANDLE startEvent = CreateEventW(nullptr, TRUE, FALSE, start.c_str());
    HANDLE finishEvent = CreateEventW(nullptr, TRUE, FALSE, finish.c_str());
    const int count = 4;
    Child racers[count];
    for (Child &racer : racers)
        racer.start({L"race", w(name), L"15000", start, finish});
    Sleep(300); // let all of them reach the start line
    SetEvent(startEvent);
    // Losers end at once; the winner stays until told to finish, two winners would both stay.
    Stopwatch clock;
    for (;;) {
        int running = 0;
        for (Child &racer : racers)
            running += WaitForSingleObject(racer.process(), 0) == WAIT_TIMEOUT;
        if (running <= 1 || clock.ms() > 3000)
            break;
        Sleep(20);
    }
    SetEvent(finishEvent);
    int winners = 0, losers = 0;
    for (Child &racer : racers) {
        const int code = racer.wait();
        winners += code == 0;
        losers += code == 1;
    }
    check(winners == 1 && losers == count - 1, "of simultaneous createOwned calls exactly one wins", winners);
    CloseHandle(startEvent);
    CloseHandle(finishEvent);
}

void abandonedCountsAsFree()
{
    // Keeping a handle of our own keeps the object alive, so the waits below see it abandoned
    // rather than destroyed.
    const std::u16string name = uniqueName(L"terminated");
    Child holder;
    check(holder.startHolder({L"hold", w(name), L"60000"}), "child holder starts");
    HANDLE keeper = OpenMutexW(SYNCHRONIZE, FALSE, wide(name));
    TerminateProcess(holder.process(), 1);
    holder.wait();
    Stopwatch clock;
    check(NamedMutex::waitUntilFree(name, 3000), "a terminated holder's mutex counts as free");
    check(clock.ms() < 1000, "an abandoned mutex is free at once", clock.ms());
    check(childCanTake(name), "the wait on an abandoned mutex keeps nothing");
    CloseHandle(keeper);

    const std::u16string exited = uniqueName(L"exited");
    Child leaver;
    check(leaver.startHolder({L"abandon", w(exited), L"500"}), "child holder starts");
    clock = Stopwatch();
    check(NamedMutex::waitUntilFree(exited, 5000), "a holder that exits without releasing frees it");
    check(clock.ms() < 2000, "the wait ends soon after the holder exits", clock.ms());
    check(childCanTake(exited), "the wait on an abandoned mutex keeps nothing");

    const std::u16string threadName = uniqueName(L"thread");
    NamedMutex::Handle fromThread = 0;
    runThread([&] { fromThread = NamedMutex::createOwned(threadName); });
    check(fromThread != 0, "a thread creates the mutex");
    check(NamedMutex::exists(threadName), "the mutex outlives its owning thread while a handle is open");
    clock = Stopwatch();
    check(NamedMutex::waitUntilFree(threadName, 3000), "a mutex whose owning thread ended is free");
    check(clock.ms() < 1000, "the ended thread's mutex is free at once", clock.ms());
    check(childCanTake(threadName), "the wait keeps nothing");
    NamedMutex::release(fromThread);
}

void waitSucceedsWhenHolderExits()
{
    const std::u16string name = uniqueName(L"releasedsoon");
    Child holder;
    check(holder.startHolder({L"hold", w(name), L"800"}), "child holder starts");
    HANDLE keeper = OpenMutexW(SYNCHRONIZE, FALSE, wide(name)); // outlives the holder
    Stopwatch clock;
    check(NamedMutex::waitUntilFree(name, 5000), "the wait succeeds when the holder releases");
    const long long waited = clock.ms();
    check(waited >= 500, "the wait lasted until the release", waited);
    check(waited < 2000, "the wait returns soon after the release", waited);
    check(holder.wait() == 0, "the holder ends normally");
    check(childCanTake(name), "the successful wait keeps nothing");
    CloseHandle(keeper);
}

void waitFailsAfterLimit()
{
    const std::u16string name = uniqueName(L"heldlong");
    Child holder;
    check(holder.startHolder({L"hold", w(name), L"60000"}), "child holder starts");
    Stopwatch clock;
    check(!NamedMutex::waitUntilFree(name, 1000), "the wait fails while the holder keeps it");
    const long long waited = clock.ms();
    check(waited >= 950 && waited < 2500, "the failed wait took its limit", waited);
    check(NamedMutex::exists(name), "the mutex still exists after a failed wait");
    check(!NamedMutex::waitUntilFree(name, -5), "a negative limit does not wait forever");
}

// A holder of another user or integrity level: CreateMutexW is denied, so the wait must
// fall back to what access it has instead of calling the mutex free.
void restrictedHolder()
{
    const std::u16string name = uniqueName(L"synchronizeonly");
    Child holder;
    check(holder.startHolder({L"hold-restricted", w(name), L"800", L"3000", L"D:(A;;0x00100000;;;WD)"}),
        "restricted holder starts");
    check(NamedMutex::exists(name), "a mutex we may only synchronize with exists");
    check(NamedMutex::createOwned(name) == 0, "createOwned of a restricted held mutex returns 0");
    Stopwatch clock;
    check(NamedMutex::waitUntilFree(name, 5000), "the wait on a restricted mutex succeeds on release");
    const long long waited = clock.ms();
    check(waited >= 500 && waited < 2000, "the wait on a restricted mutex lasted until the release", waited);
    check(childCanTake(name), "the wait on a restricted mutex keeps nothing");

    const std::u16string denied = uniqueName(L"denied");
    Child closed;
    check(closed.startHolder({L"hold-restricted", w(denied), L"60000", L"0", L"D:"}),
        "fully denied holder starts");
    check(NamedMutex::exists(denied), "a mutex we may not open exists");
    clock = Stopwatch();
    check(!NamedMutex::waitUntilFree(denied, 1000), "the wait on a denied held mutex fails after its limit");
    check(clock.ms() >= 950 && clock.ms() < 2500, "the failed wait on a denied mutex took its limit",
        clock.ms());
    HANDLE process = closed.process();
    HANDLE killer = CreateThread(
        nullptr, 0,
        [](void *target) -> DWORD {
            Sleep(500);
            TerminateProcess(static_cast<HANDLE>(target), 1);
            return 0;
        },
        process, 0, nullptr);
    clock = Stopwatch();
    check(
        NamedMutex::waitUntilFree(denied, 5000), "the wait on a denied mutex succeeds when its holder ends");
    check(clock.ms() < 2500, "the wait on a denied mutex returns soon after its holder ends", clock.ms());
    WaitForSingleObject(killer, 5000);
    CloseHandle(killer);
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc > 1)
        return childMain(argc, argv);

    unusedNameProbesFalseAndLeavesNothing();
    heldMeansExistsForHolderToo();
    secondOwnerRefused();
    simultaneousOwnersOnlyOneWins();
    abandonedCountsAsFree();
    waitSucceedsWhenHolderExits();
    waitFailsAfterLimit();
    restrictedHolder();

    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
