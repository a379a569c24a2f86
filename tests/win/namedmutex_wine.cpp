// Named mutexes on Windows against real child processes (this program started again with a
// sub-command) and threads, since a mutex is owned by a thread, not by a process.

#include "NamedMutex.h"
#include "WineTest.h"

#include <sddl.h>

#include <cwchar>

using namespace WineTest;

namespace {

std::wstring w(const std::u16string &text)
{
    return std::wstring(text.begin(), text.end());
}

std::u16string u16(const std::wstring &text)
{
    return std::u16string(text.begin(), text.end());
}

// Names unique to this run, so parallel runs in one wine prefix never meet.
std::u16string uniqueName(const wchar_t *base)
{
    return u16(L"nmtest_" + std::to_wstring(GetCurrentProcessId()) + L"_" + base);
}

NamedMutex::Claim::Outcome claimed(const std::u16string &name)
{
    const NamedMutex::Claim claim = NamedMutex::claim(name);
    NamedMutex::release(claim.handle);
    return claim.outcome;
}

using Outcome = NamedMutex::Claim::Outcome;

// ---- child side --------------------------------------------------------------------------

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

// hold|abandon READY NAME MS; hold-restricted READY NAME MS LINGER DACL; create-new NAME
// (0: created as new, 1: already existed); take NAME (0: acquired at once, 1: held by someone);
// race NAME MS START FINISH (0: won, 1: refused).
int childMain(int argc, wchar_t **argv)
{
    const std::wstring command = argv[1];
    const wchar_t *name = argv[2];
    if (command == L"hold" || command == L"abandon") {
        const NamedMutex::Handle handle = NamedMutex::claim(u16(argv[3])).handle;
        if (!handle)
            return 2;
        signalReady(argv[2]);
        Sleep(DWORD(_wtoi(argv[4])));
        if (command == L"hold")
            NamedMutex::release(handle);
        return 0;
    }
    if (command == L"hold-restricted" && argc == 7) {
        HANDLE handle = createRestricted(argv[3], argv[6]);
        if (!handle)
            return 2;
        signalReady(argv[2]);
        Sleep(DWORD(_wtoi(argv[4])));
        ReleaseMutex(handle);
        Sleep(DWORD(_wtoi(argv[5])));
        CloseHandle(handle);
        return 0;
    }
    if (command == L"create-new") {
        HANDLE handle = CreateMutexW(nullptr, FALSE, name);
        if (!handle)
            return 2;
        const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
        CloseHandle(handle);
        return existed ? 1 : 0;
    }
    if (command == L"take") {
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
    if (command == L"race" && argc == 6) {
        HANDLE start = OpenEventW(SYNCHRONIZE, FALSE, argv[4]);
        HANDLE finish = OpenEventW(SYNCHRONIZE, FALSE, argv[5]);
        if (!start || !finish)
            return 2;
        WaitForSingleObject(start, 10000);
        const NamedMutex::Handle handle = NamedMutex::claim(u16(name)).handle;
        if (!handle)
            return 1;
        WaitForSingleObject(finish, DWORD(_wtoi(argv[3])));
        NamedMutex::release(handle);
        return 0;
    }
    return 3;
}

// ---- parent side -------------------------------------------------------------------------

int runChild(const wchar_t *command, const std::u16string &name)
{
    Child child;
    return child.start({command, w(name)}) ? child.wait() : -1;
}

bool childCreatesNew(const std::u16string &name)
{
    return runChild(L"create-new", name) == 0;
}

bool childCanTake(const std::u16string &name)
{
    return runChild(L"take", name) == 0;
}

bool startHolder(Child &holder, const wchar_t *command, const std::u16string &name, const wchar_t *ms,
    std::vector<std::wstring> more = {})
{
    std::vector<std::wstring> args {command, w(name), ms};
    args.insert(args.end(), more.begin(), more.end());
    return holder.startReady(args);
}

template<typename Function> void runThread(Function function)
{
    struct Call
    {
        static DWORD WINAPI run(void *context)
        {
            (*static_cast<Function *>(context))();
            return 0;
        }
    };
    if (HANDLE thread = CreateThread(nullptr, 0, &Call::run, &function, 0, nullptr)) {
        WaitForSingleObject(thread, 15000);
        CloseHandle(thread);
    }
}

// A wait on name that must end as expected within [minMs, maxMs), owning nothing afterwards.
void timedWait(
    const std::u16string &name, int limit, bool expected, long long minMs, long long maxMs, const char *what)
{
    Stopwatch clock;
    const bool free = NamedMutex::waitUntilFree(name, limit);
    const long long waited = clock.ms();
    check(free == expected, what, expected ? "not free" : "free");
    check(waited >= minMs && waited < maxMs, what, "waited " + std::to_string(waited) + " ms");
    if (free)
        check(childCanTake(name), what, "the wait kept the mutex");
}

void unusedNameProbesFalseAndLeavesNothing()
{
    const std::u16string name = uniqueName(L"probe_遊戲");
    check(!NamedMutex::exists(name), "probe of an unused name is false");
    check(childCreatesNew(name), "a probe leaves no mutex behind");
    check(NamedMutex::waitUntilFree(name, 1000), "wait on an unused name succeeds");
    check(childCreatesNew(name), "a wait on an unused name leaves no mutex behind");
}

void heldMeansExistsForHolderToo()
{
    const std::u16string name = uniqueName(L"held");
    const NamedMutex::Handle own = NamedMutex::claim(name).handle;
    check(own != 0, "claim of a free name succeeds");
    check(NamedMutex::exists(name), "the holder sees its own mutex");
    check(NamedMutex::waitUntilFree(name, 0), "the holding thread may wait on its own mutex");
    check(!childCanTake(name), "the holder's own wait does not give up its ownership");
    Outcome fromThread = Outcome::Owned;
    bool freeForThread = true;
    runThread([&] {
        fromThread = claimed(name);
        freeForThread = NamedMutex::waitUntilFree(name, 200);
    });
    check(fromThread == Outcome::Held, "a claim from another thread of the holder finds it held");
    check(!freeForThread, "another thread of the holder cannot acquire it");
    NamedMutex::release(own);
    check(!NamedMutex::exists(name), "a released mutex no longer exists");
    check(childCreatesNew(name), "release destroys the mutex");

    Child holder;
    check(startHolder(holder, L"hold", name, L"60000"), "a child takes the released name");
    check(NamedMutex::exists(name), "a mutex held by a child exists");
    check(claimed(name) == Outcome::Held, "a claim while a child holds it finds it held");
    TerminateProcess(holder.process(), 1);
    holder.wait();
    const NamedMutex::Handle again = NamedMutex::claim(name).handle;
    check(again != 0, "claim succeeds once the holder is gone");
    NamedMutex::release(again);
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
    for (int running = count; running > 1 && clock.ms() <= 3000; Sleep(20)) {
        running = 0;
        for (Child &racer : racers)
            running += WaitForSingleObject(racer.process(), 0) == WAIT_TIMEOUT;
    }
    SetEvent(finishEvent);
    int winners = 0, losers = 0;
    for (Child &racer : racers) {
        const int code = racer.wait();
        winners += code == 0;
        losers += code == 1;
    }
    check(winners == 1 && losers == count - 1, "of simultaneous claims exactly one wins", winners);
    CloseHandle(startEvent);
    CloseHandle(finishEvent);
}

void abandonedCountsAsFree()
{
    // Keeping a handle of our own keeps the object alive, so the wait sees it abandoned
    // rather than destroyed.
    const std::u16string name = uniqueName(L"terminated");
    Child holder;
    check(startHolder(holder, L"hold", name, L"60000"), "child holder starts");
    HANDLE keeper = OpenMutexW(SYNCHRONIZE, FALSE, w(name).c_str());
    TerminateProcess(holder.process(), 1);
    holder.wait();
    timedWait(name, 3000, true, 0, 1000, "a terminated holder's mutex is free at once");
    CloseHandle(keeper);

    const std::u16string exited = uniqueName(L"exited");
    Child leaver;
    check(startHolder(leaver, L"abandon", exited, L"500"), "child holder starts");
    timedWait(exited, 5000, true, 0, 2000, "a holder that exits without releasing frees it soon");

    const std::u16string threadName = uniqueName(L"thread");
    NamedMutex::Handle fromThread = 0;
    runThread([&] { fromThread = NamedMutex::claim(threadName).handle; });
    check(fromThread != 0, "a thread creates the mutex");
    check(NamedMutex::exists(threadName), "the mutex outlives its owning thread while a handle is open");
    timedWait(threadName, 3000, true, 0, 1000, "a mutex whose owning thread ended is free at once");
    NamedMutex::release(fromThread);
}

void waitsForHolder()
{
    const std::u16string name = uniqueName(L"releasedsoon");
    Child holder;
    check(startHolder(holder, L"hold", name, L"800"), "child holder starts");
    HANDLE keeper = OpenMutexW(SYNCHRONIZE, FALSE, w(name).c_str()); // outlives the holder
    timedWait(name, 5000, true, 500, 2000, "the wait succeeds soon after the holder releases");
    check(holder.wait() == 0, "the holder ends normally");
    CloseHandle(keeper);

    const std::u16string held = uniqueName(L"heldlong");
    Child keeps;
    check(startHolder(keeps, L"hold", held, L"60000"), "child holder starts");
    timedWait(held, 1000, false, 950, 2500, "the wait fails after its limit while the holder keeps it");
    check(NamedMutex::exists(held), "the mutex still exists after a failed wait");
    check(!NamedMutex::waitUntilFree(held, -5), "a negative limit does not wait forever");
}

// A holder of another user or integrity level: CreateMutexW is denied, so the wait must
// fall back to what access it has instead of calling the mutex free.
void restrictedHolder()
{
    const std::u16string name = uniqueName(L"synchronizeonly");
    Child holder;
    check(startHolder(holder, L"hold-restricted", name, L"800", {L"3000", L"D:(A;;0x00100000;;;WD)"}),
        "restricted holder starts");
    check(NamedMutex::exists(name), "a mutex we may only synchronize with exists");
    check(claimed(name) == Outcome::Held, "a claim of a restricted held mutex finds it held");
    timedWait(name, 5000, true, 500, 2000, "the wait on a restricted mutex lasts until the release");

    const std::u16string denied = uniqueName(L"denied");
    Child closed;
    check(startHolder(closed, L"hold-restricted", denied, L"60000", {L"0", L"D:"}), "denied holder starts");
    check(NamedMutex::exists(denied), "a mutex we may not open exists");
    timedWait(denied, 1000, false, 950, 2500, "the wait on a denied held mutex fails after its limit");
    HANDLE killer = CreateThread(
        nullptr, 0,
        [](void *target) -> DWORD {
            Sleep(500);
            TerminateProcess(static_cast<HANDLE>(target), 1);
            return 0;
        },
        closed.process(), 0, nullptr);
    Stopwatch clock;
    check(
        NamedMutex::waitUntilFree(denied, 5000), "the wait on a denied mutex succeeds when its holder ends");
    check(clock.ms() < 2500, "the wait on a denied mutex returns soon after its holder ends", clock.ms());
    WaitForSingleObject(killer, 5000);
    CloseHandle(killer);
}

// A name another kind of object has taken cannot be a mutex: nobody holds it.
void nameOfAnotherObject()
{
    const std::u16string name = uniqueName(L"event");
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, w(name).c_str());
    const NamedMutex::Claim claim = NamedMutex::claim(name);
    check(claim.outcome == Outcome::Unavailable && claim.handle == 0,
        "a claim of a name held by an event is unavailable", int(claim.outcome));
    check(claim.cause.rfind("error 6:", 0) == 0, "the cause names the system error", claim.cause);
    check(!NamedMutex::exists(name), "a name held by an event is no mutex");
    check(NamedMutex::waitUntilFree(name, 1000), "a name held by an event is free to wait on");
    CloseHandle(event);
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc > 2)
        return childMain(argc, argv);

    unusedNameProbesFalseAndLeavesNothing();
    heldMeansExistsForHolderToo();
    simultaneousOwnersOnlyOneWins();
    abandonedCountsAsFree();
    waitsForHolder();
    restrictedHolder();
    nameOfAnotherObject();
    return summary();
}
