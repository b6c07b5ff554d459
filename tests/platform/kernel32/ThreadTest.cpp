#include "KernelObject.h"
#include "ThreadStop.h"
#include "windows.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace {

// A kernel handle closed at the end of the scope.
class Handle {
public:
    explicit Handle(HANDLE handle = nullptr)
        : m_handle(handle)
    {
    }
    ~Handle()
    {
        if (m_handle)
            CloseHandle(m_handle);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const
    {
        return m_handle;
    }

private:
    HANDLE m_handle;
};

HANDLE NewEvent(BOOL manualReset, BOOL initialState = FALSE)
{
    return CreateEventW(nullptr, manualReset, initialState, nullptr);
}

// The exit code of a thread or process, once it has ended; WAIT_FAILED if the wait fails.
DWORD ExitCodeOnceEnded(HANDLE thread)
{
    DWORD code = WAIT_FAILED;
    if (WaitForSingleObject(thread, INFINITE) != WAIT_OBJECT_0 || !GetExitCodeThread(thread, &code))
        return WAIT_FAILED;
    return code;
}

// A thread, created suspended, that counts its runs.
HANDLE NewSuspendedCounter(std::atomic<int>& runs)
{
    return CreateThread(
        nullptr, 0,
        [](LPVOID raw) -> DWORD {
            ++*static_cast<std::atomic<int>*>(raw);
            return 0;
        },
        &runs, CREATE_SUSPENDED, nullptr);
}

// What a thread blocked on an event that is never set saw when its wait ended.
struct BlockedWaiter {
    HANDLE never = NewEvent(TRUE);
    std::atomic<DWORD> waitResult { 0 };
    std::atomic<DWORD> waitError { 0 };
    std::atomic<DWORD> laterWaitResult { 0 };
    std::atomic<bool> stopSeen { false };
    HANDLE started = NewEvent(TRUE);
    ~BlockedWaiter()
    {
        CloseHandle(never);
        CloseHandle(started);
    }
    void Run()
    {
        SetEvent(started);
        waitResult = WaitForSingleObject(never, INFINITE);
        waitError = GetLastError();
        stopSeen = platform::IsStopRequested();
        const Handle signaled(NewEvent(TRUE, TRUE));
        laterWaitResult = WaitForSingleObject(signaled.get(), 0);
    }
    static DWORD WINAPI Proc(LPVOID self)
    {
        static_cast<BlockedWaiter*>(self)->Run();
        return 7;
    }
};

}

TEST(Thread, RunsItsFunctionAndKeepsItsExitCode)
{
    struct Shared {
        HANDLE go = NewEvent(TRUE);
        std::atomic<DWORD> idInside { 0 };
    } shared;
    DWORD id = 0;
    const Handle thread(CreateThread(
        nullptr, 0,
        [](LPVOID raw) -> DWORD {
            auto* shared = static_cast<Shared*>(raw);
            shared->idInside = GetCurrentThreadId();
            WaitForSingleObject(shared->go, INFINITE);
            return 1234;
        },
        &shared, 0, &id));
    ASSERT_NE(thread.get(), nullptr);
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeThread(thread.get(), &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_EQ(WaitForSingleObject(thread.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    SetEvent(shared.go);
    EXPECT_EQ(ExitCodeOnceEnded(thread.get()), 1234u);
    EXPECT_EQ(shared.idInside.load(), id);
    EXPECT_EQ(GetThreadId(thread.get()), id);
    EXPECT_NE(id, GetCurrentThreadId());
    CloseHandle(shared.go);
}

TEST(Thread, ExitThreadEndsTheThreadWithItsCode)
{
    const Handle thread(CreateThread(
        nullptr, 64 * 1024, [](LPVOID) -> DWORD { ExitThread(55); }, nullptr, 0, nullptr));
    EXPECT_EQ(ExitCodeOnceEnded(thread.get()), 55u);
}

TEST(Thread, CreatedSuspendedRunsOnlyOnceResumed)
{
    std::atomic<int> runs { 0 };
    const Handle thread(NewSuspendedCounter(runs));
    ASSERT_NE(thread.get(), nullptr);
    EXPECT_EQ(WaitForSingleObject(thread.get(), 50), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(runs.load(), 0);
    EXPECT_EQ(SuspendThread(thread.get()), 1u);
    EXPECT_EQ(ResumeThread(thread.get()), 2u);
    EXPECT_EQ(WaitForSingleObject(thread.get(), 50), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(ResumeThread(thread.get()), 1u);
    ASSERT_EQ(WaitForSingleObject(thread.get(), INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(runs.load(), 1);
}

TEST(Wait, ReportsWhichObjectsSatisfiedTheWait)
{
    struct Case {
        const char* name;
        bool firstSignaled;
        bool secondSignaled;
        BOOL waitAll;
        DWORD expected;
    } cases[] = {
        { "any, none signalled", false, false, FALSE, WAIT_TIMEOUT },
        { "any, second signalled", false, true, FALSE, WAIT_OBJECT_0 + 1 },
        { "any, both signalled gives the lowest", true, true, FALSE, WAIT_OBJECT_0 },
        { "all, one signalled", true, false, TRUE, WAIT_TIMEOUT },
        { "all, both signalled", true, true, TRUE, WAIT_OBJECT_0 },
    };
    for (const Case& c : cases) {
        const Handle first(NewEvent(TRUE, c.firstSignaled));
        const Handle second(NewEvent(TRUE, c.secondSignaled));
        const HANDLE both[] = { first.get(), second.get() };
        EXPECT_EQ(WaitForMultipleObjects(2, both, c.waitAll, 10), c.expected) << c.name;
    }
}

TEST(Wait, AutoResetEventsReleaseOneWaitEachAndOnlyWhenAWaitSucceeds)
{
    const Handle automatic(NewEvent(FALSE, TRUE));
    const Handle manual(NewEvent(TRUE, TRUE));
    const Handle unset(NewEvent(TRUE));
    const HANDLE withUnset[] = { automatic.get(), unset.get() };
    // A wait for all that fails takes nothing from the events it saw signalled.
    EXPECT_EQ(WaitForMultipleObjects(2, withUnset, TRUE, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(WaitForSingleObject(automatic.get(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(automatic.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(WaitForSingleObject(manual.get(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(manual.get(), 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ResetEvent(manual.get()));
    EXPECT_EQ(WaitForSingleObject(manual.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST(Wait, SetEventWakesAThreadBlockedWithoutTimeOut)
{
    const Handle event(NewEvent(FALSE));
    std::atomic<DWORD> result { WAIT_FAILED };
    std::thread waiter([&] { result = WaitForSingleObject(event.get(), INFINITE); });
    SetEvent(event.get());
    waiter.join();
    EXPECT_EQ(result.load(), WAIT_OBJECT_0);
}

TEST(Wait, ALibrarysOwnObjectWaitsTogetherWithHandles)
{
    // What user32's message queue does: state of its own, changed outside the wait lock, and a
    // wake-up after each change.
    struct Flag : platform::Waitable {
        std::atomic<bool> raised { false };
        bool IsSignaled() const override
        {
            return raised.load();
        }
        void Acquire() override
        {
            raised = false;
        }
    } flag;
    const Handle event(NewEvent(FALSE));
    const HANDLE handles[] = { event.get() };
    platform::Waitable* const extra[] = { &flag };
    EXPECT_EQ(platform::WaitForHandles(handles, extra, platform::WaitMode::Any, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    std::thread raiser([&] {
        flag.raised = true;
        platform::WakeWaiters();
    });
    EXPECT_EQ(platform::WaitForHandles(handles, extra, platform::WaitMode::Any, INFINITE), WAIT_OBJECT_0 + 1);
    raiser.join();
    EXPECT_FALSE(flag.raised.load()) << "acquired";
    flag.raised = true;
    EXPECT_EQ(platform::WaitForHandles(handles, extra, platform::WaitMode::All, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    SetEvent(event.get());
    EXPECT_EQ(platform::WaitForHandles(handles, extra, platform::WaitMode::All, 0), WAIT_OBJECT_0);
    EXPECT_EQ(platform::WaitForHandles({}, extra, platform::WaitMode::Any, 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << "the queue alone";
}

TEST(Wait, NeverTakesASignalItReportsAsATimeOut)
{
    // An object that becomes signalled while the wait is under way, as if set right at its
    // deadline: a wait either takes it and says so, or leaves it alone.
    struct LateSignal : platform::Waitable {
        mutable int looks = 0;
        int taken = 0;
        bool IsSignaled() const override
        {
            return ++looks >= 2 && taken == 0;
        }
        void Acquire() override
        {
            ++taken;
        }
    };
    for (DWORD timeout : { 0u, 5u }) {
        LateSignal late;
        platform::Waitable* const objects[] = { &late };
        const DWORD result = platform::WaitForObjects(objects, platform::WaitMode::Any, timeout);
        EXPECT_EQ(result == WAIT_OBJECT_0, late.taken == 1) << "time-out " << timeout << ", result " << result;
    }
}

TEST(Wait, FailsOnBadInput)
{
    const Handle event(NewEvent(TRUE, TRUE));
    const HANDLE closed = NewEvent(TRUE);
    ASSERT_TRUE(CloseHandle(closed));
    HANDLE many[MAXIMUM_WAIT_OBJECTS + 1];
    for (HANDLE& h : many)
        h = event.get();
    const HANDLE twice[] = { event.get(), event.get() };
    const HANDLE null = nullptr;
    struct Case {
        const char* name;
        DWORD count;
        const HANDLE* handles;
        BOOL waitAll;
        DWORD error;
    } cases[] = {
        { "null handle", 1, &null, FALSE, ERROR_INVALID_HANDLE },
        { "closed handle", 1, &closed, FALSE, ERROR_INVALID_HANDLE },
        { "no handles", 0, many, FALSE, ERROR_INVALID_PARAMETER },
        { "too many handles", MAXIMUM_WAIT_OBJECTS + 1, many, FALSE, ERROR_INVALID_PARAMETER },
        { "one object twice in a wait for all", 2, twice, TRUE, ERROR_INVALID_PARAMETER },
    };
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_EQ(WaitForMultipleObjects(c.count, c.handles, c.waitAll, 0), WAIT_FAILED) << c.name;
        EXPECT_EQ(GetLastError(), c.error) << c.name;
    }
    EXPECT_EQ(WaitForMultipleObjects(2, twice, FALSE, 0), WAIT_OBJECT_0) << "the same object twice in a wait for any";
}

TEST(Sleep, LastsAtLeastItsTimeByTheTickCount)
{
    const ULONGLONG before = GetTickCount64();
    Sleep(25);
    const ULONGLONG after = GetTickCount64();
    EXPECT_GE(after - before, 25u);
    EXPECT_LE(GetTickCount() - static_cast<DWORD>(after), 1000u) << "GetTickCount is the low 32 bits";
}

TEST(Handle, AreSmallMultiplesOfFourNotReusedAtOnceAndFailWhenClosedTwice)
{
    const HANDLE first = NewEvent(TRUE);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(first) % 4, 0u);
    EXPECT_LT(reinterpret_cast<std::uintptr_t>(first), 0x40000000u);
    ASSERT_TRUE(CloseHandle(first));
    const Handle second(NewEvent(TRUE));
    EXPECT_NE(second.get(), first);
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(first));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(CloseHandle(nullptr));
    EXPECT_TRUE(CloseHandle(GetCurrentThread())) << "pseudo-handles need no closing";

    const Handle thread(CreateThread(
        nullptr, 0, [](LPVOID) -> DWORD { return 0; }, nullptr, 0, nullptr));
    SetLastError(0);
    EXPECT_FALSE(SetEvent(thread.get())) << "a thread is not an event";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(Handle, DuplicatingThePseudoHandleGivesAHandleOtherThreadsCanWaitOn)
{
    const Handle done(NewEvent(TRUE));
    HANDLE self = nullptr;
    std::atomic<DWORD> result { 0 };
    std::thread worker([&] {
        ASSERT_TRUE(DuplicateHandle(
            GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &self, 0, FALSE, DUPLICATE_SAME_ACCESS));
        SetEvent(done.get());
        result = WaitForSingleObject(self, 10); // not signalled while it runs
    });
    worker.join();
    const Handle duplicate(self);
    EXPECT_EQ(result.load(), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(WaitForSingleObject(duplicate.get(), INFINITE), WAIT_OBJECT_0) << "signalled once the thread ended";
}

TEST(StopFacility, WakesABlockedWaitThatThenFailsAndEndsWithTheGivenCode)
{
    BlockedWaiter waiter;
    const Handle thread(CreateThread(nullptr, 0, BlockedWaiter::Proc, &waiter, 0, nullptr));
    ASSERT_EQ(WaitForSingleObject(waiter.started, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(TerminateThread(thread.get(), 42));
    EXPECT_EQ(ExitCodeOnceEnded(thread.get()), 42u) << "the code TerminateThread gave, not the function's";
    EXPECT_EQ(waiter.waitResult.load(), WAIT_FAILED);
    EXPECT_EQ(waiter.waitError.load(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    EXPECT_TRUE(waiter.stopSeen.load());
    EXPECT_EQ(waiter.laterWaitResult.load(), WAIT_FAILED) << "every later wait fails too";
    EXPECT_TRUE(TerminateThread(thread.get(), 1)) << "an ended thread";
    EXPECT_EQ(ExitCodeOnceEnded(thread.get()), 42u);
}

TEST(StopFacility, CutsSleepShortAndStopsThreadsKernel32DidNotMake)
{
    const Handle asleep(NewEvent(TRUE));
    std::atomic<DWORD> tid { 0 };
    std::thread sleeper([&] {
        tid = GetCurrentThreadId();
        SetEvent(asleep.get());
        Sleep(INFINITE);
    });
    ASSERT_EQ(WaitForSingleObject(asleep.get(), INFINITE), WAIT_OBJECT_0);
    const Handle thread(OpenThread(THREAD_TERMINATE | SYNCHRONIZE, FALSE, tid));
    ASSERT_NE(thread.get(), nullptr);
    EXPECT_TRUE(TerminateThread(thread.get(), 3));
    sleeper.join();
    EXPECT_EQ(ExitCodeOnceEnded(thread.get()), 3u);
}

TEST(StopFacility, AThreadStoppedBeforeItStartsNeverRuns)
{
    std::atomic<int> runs { 0 };
    const Handle thread(NewSuspendedCounter(runs));
    EXPECT_TRUE(TerminateThread(thread.get(), 9));
    EXPECT_EQ(ResumeThread(thread.get()), 1u);
    EXPECT_EQ(ExitCodeOnceEnded(thread.get()), 9u);
    EXPECT_EQ(runs.load(), 0);
}

TEST(StopFacility, DoesNotCutACriticalSectionShort)
{
    struct Shared {
        CRITICAL_SECTION section;
        HANDLE running = NewEvent(TRUE);
        std::atomic<bool> entered { false };
        std::atomic<DWORD> waitAfterwards { 0 };
    } shared;
    InitializeCriticalSection(&shared.section);
    EnterCriticalSection(&shared.section);
    const Handle thread(CreateThread(
        nullptr, 0,
        [](LPVOID raw) -> DWORD {
            auto* shared = static_cast<Shared*>(raw);
            SetEvent(shared->running);
            EnterCriticalSection(&shared->section);
            shared->entered = true;
            LeaveCriticalSection(&shared->section);
            shared->waitAfterwards = WaitForSingleObject(GetCurrentThread(), INFINITE);
            return 0;
        },
        &shared, 0, nullptr));
    ASSERT_EQ(WaitForSingleObject(shared.running, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(TerminateThread(thread.get(), 6));
    EXPECT_EQ(WaitForSingleObject(thread.get(), 20), static_cast<DWORD>(WAIT_TIMEOUT)) << "still waiting to enter";
    LeaveCriticalSection(&shared.section);
    EXPECT_EQ(ExitCodeOnceEnded(thread.get()), 6u);
    EXPECT_TRUE(shared.entered.load());
    EXPECT_EQ(shared.waitAfterwards.load(), WAIT_FAILED);
    DeleteCriticalSection(&shared.section);
    CloseHandle(shared.running);
}

TEST(StopFacility, CallsTheWakeupsOfTheStoppedThreadOnly)
{
    const Handle registered(NewEvent(TRUE));
    const Handle release(NewEvent(TRUE));
    std::atomic<int> wakes { 0 };
    std::atomic<DWORD> tid { 0 };
    std::thread blocked([&] {
        tid = GetCurrentThreadId();
        const platform::StopWakeup wakeup([&] { ++wakes; });
        SetEvent(registered.get());
        // Blocks outside the platform's waits until the wake-up (or the test) lets it go.
        while (!platform::IsStopRequested() && WaitForSingleObject(release.get(), 0) != WAIT_OBJECT_0)
            std::this_thread::yield();
    });
    const platform::StopWakeup other([&] { wakes += 100; });
    ASSERT_EQ(WaitForSingleObject(registered.get(), INFINITE), WAIT_OBJECT_0);
    const Handle thread(OpenThread(THREAD_TERMINATE, FALSE, tid));
    EXPECT_TRUE(TerminateThread(thread.get(), 0));
    EXPECT_TRUE(TerminateThread(thread.get(), 0));
    SetEvent(release.get());
    blocked.join();
    EXPECT_EQ(wakes.load(), 1);
}

TEST(CriticalSection, IsRecursiveForItsOwnerAndExcludesOthers)
{
    CRITICAL_SECTION section;
    ASSERT_TRUE(InitializeCriticalSectionAndSpinCount(&section, 100));
    EnterCriticalSection(&section);
    EXPECT_TRUE(TryEnterCriticalSection(&section));
    std::atomic<BOOL> otherGotIt { TRUE };
    std::thread([&] { otherGotIt = TryEnterCriticalSection(&section); }).join();
    EXPECT_FALSE(otherGotIt.load());
    LeaveCriticalSection(&section);
    std::thread([&] { otherGotIt = TryEnterCriticalSection(&section); }).join();
    EXPECT_FALSE(otherGotIt.load()) << "still held once";
    LeaveCriticalSection(&section);
    std::thread([&] {
        otherGotIt = TryEnterCriticalSection(&section);
        LeaveCriticalSection(&section);
    }).join();
    EXPECT_TRUE(otherGotIt.load());

    long counter = 0; // plain, guarded only by the section
    auto work = [&] {
        for (int i = 0; i < 100000; ++i) {
            EnterCriticalSection(&section);
            EnterCriticalSection(&section);
            ++counter;
            LeaveCriticalSection(&section);
            LeaveCriticalSection(&section);
        }
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_EQ(counter, 200000);
    DeleteCriticalSection(&section);
}

TEST(Interlocked, ReturnTheValuesWindowsDocuments)
{
    LONG value = 5;
    EXPECT_EQ(InterlockedIncrement(&value), 6);
    EXPECT_EQ(InterlockedDecrement(&value), 5);
    EXPECT_EQ(InterlockedExchangeAdd(&value, 10), 5);
    EXPECT_EQ(InterlockedExchange(&value, 3), 15);
    EXPECT_EQ(InterlockedCompareExchange(&value, 9, 4), 3) << "no exchange when the comparand differs";
    EXPECT_EQ(value, 3);
    EXPECT_EQ(InterlockedCompareExchange(&value, 9, 3), 3);
    EXPECT_EQ(value, 9);
    int a = 0, b = 0;
    PVOID pointer = &a;
    EXPECT_EQ(InterlockedCompareExchangePointer(&pointer, &b, &a), &a);
    EXPECT_EQ(InterlockedExchangePointer(&pointer, nullptr), &b);
    EXPECT_EQ(pointer, nullptr);
}

TEST(Suspend, ASuspendedSpinningThreadMakesNoProgressUntilResumedTwice)
{
    struct Spinner {
        std::atomic<long> progress { 0 };
        std::atomic<bool> quit { false };
    } spinner;
    const Handle thread(CreateThread(
        nullptr, 0,
        [](LPVOID raw) -> DWORD {
            auto* spinner = static_cast<Spinner*>(raw);
            while (!spinner->quit.load())
                spinner->progress.fetch_add(1, std::memory_order_relaxed);
            return 0;
        },
        &spinner, 0, nullptr));
    while (spinner.progress.load() == 0)
        std::this_thread::yield();
    EXPECT_EQ(SuspendThread(thread.get()), 0u);
    EXPECT_EQ(SuspendThread(thread.get()), 1u);
    const long frozen = spinner.progress.load();
    Sleep(30);
    EXPECT_EQ(spinner.progress.load(), frozen);
    EXPECT_EQ(ResumeThread(thread.get()), 2u);
    Sleep(30);
    EXPECT_EQ(spinner.progress.load(), frozen) << "still suspended once";
    EXPECT_EQ(ResumeThread(thread.get()), 1u);
    while (spinner.progress.load() == frozen)
        std::this_thread::yield();
    EXPECT_EQ(ResumeThread(thread.get()), 0u) << "a running thread";
    spinner.quit = true;
    ASSERT_EQ(WaitForSingleObject(thread.get(), INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(SuspendThread(thread.get()), static_cast<DWORD>(-1)) << "an ended thread";
    EXPECT_EQ(SuspendThread(nullptr), static_cast<DWORD>(-1));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}
