#include "tlhelp32.h"
#include "windows.h"

#include <atomic>
#include <gtest/gtest.h>
#include <set>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// Every entry of a thread snapshot, read the way tool-help callers read it.
std::vector<THREADENTRY32> ReadAll(HANDLE snapshot)
{
    std::vector<THREADENTRY32> entries;
    THREADENTRY32 entry {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        entries.push_back(entry);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    return entries;
}

std::set<DWORD> ThreadsOfThisProcess()
{
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    EXPECT_NE(snapshot, INVALID_HANDLE_VALUE);
    std::set<DWORD> threads;
    for (const THREADENTRY32& entry : ReadAll(snapshot)) {
        if (entry.th32OwnerProcessID == GetCurrentProcessId())
            threads.insert(entry.th32ThreadID);
    }
    CloseHandle(snapshot);
    return threads;
}

}

TEST(Snapshot, ListsTheThreadsOfEveryProcessWithTheirOwners)
{
    const HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD created = 0;
    const HANDLE thread = CreateThread(
        nullptr, 0, [](LPVOID event) -> DWORD { return WaitForSingleObject(event, INFINITE); }, release, 0, &created);
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    ASSERT_NE(snapshot, INVALID_HANDLE_VALUE);
    const std::vector<THREADENTRY32> entries = ReadAll(snapshot);
    std::set<DWORD> ours;
    bool otherProcess = false;
    for (const THREADENTRY32& entry : entries) {
        EXPECT_EQ(entry.dwSize, sizeof(THREADENTRY32));
        if (entry.th32OwnerProcessID == GetCurrentProcessId())
            ours.insert(entry.th32ThreadID);
        otherProcess |= entry.th32OwnerProcessID == static_cast<DWORD>(getppid());
    }
    EXPECT_TRUE(ours.count(GetCurrentThreadId()));
    EXPECT_TRUE(ours.count(created));
    EXPECT_TRUE(otherProcess) << "the parent's threads are listed too";
    THREADENTRY32 entry {};
    entry.dwSize = sizeof entry;
    ASSERT_TRUE(Thread32First(snapshot, &entry)) << "reading starts again";
    EXPECT_EQ(entry.th32ThreadID, entries.front().th32ThreadID);
    CloseHandle(snapshot);
    SetEvent(release);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    CloseHandle(release);
}

TEST(Snapshot, FailsOnBadInput)
{
    SetLastError(0);
    EXPECT_EQ(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry {};
    struct Case {
        const char* name;
        HANDLE snapshot;
        DWORD size;
        DWORD error;
    } cases[] = {
        { "dwSize not set", snapshot, 0, ERROR_BAD_LENGTH },
        { "dwSize too small", snapshot, sizeof entry - 1, ERROR_BAD_LENGTH },
        { "not a snapshot", GetCurrentThread(), sizeof entry, ERROR_INVALID_HANDLE },
        { "null handle", nullptr, sizeof entry, ERROR_INVALID_HANDLE },
    };
    for (const Case& c : cases) {
        entry.dwSize = c.size;
        SetLastError(0);
        EXPECT_FALSE(Thread32First(c.snapshot, &entry)) << c.name;
        EXPECT_EQ(GetLastError(), c.error) << c.name;
    }
    CloseHandle(snapshot);

    SetLastError(0);
    EXPECT_EQ(OpenThread(THREAD_SUSPEND_RESUME, FALSE, 0), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(OpenThread(THREAD_SUSPEND_RESUME, FALSE, static_cast<DWORD>(getppid())), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << "a thread of another process";
}

TEST(Snapshot, OtherThreadsFoundInASnapshotCanBeSuspendedAndResumed)
{
    // What the audio mute does: stop every other thread of the process, including ones kernel32 did
    // not make, and let them go again.
    std::atomic<long> progress[2] = { 0, 0 };
    std::atomic<bool> quit { false };
    std::vector<std::thread> spinners;
    for (std::atomic<long>& counter : progress) {
        spinners.emplace_back([&] {
            while (!quit.load())
                counter.fetch_add(1, std::memory_order_relaxed);
        });
    }
    for (std::atomic<long>& counter : progress) {
        while (counter.load() == 0)
            std::this_thread::yield();
    }
    std::vector<HANDLE> suspended;
    for (DWORD id : ThreadsOfThisProcess()) {
        if (id == GetCurrentThreadId())
            continue;
        // A thread of an earlier test may end between the snapshot and now.
        const HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, id);
        if (thread && SuspendThread(thread) == 0)
            suspended.push_back(thread);
        else if (thread)
            CloseHandle(thread);
    }
    EXPECT_GE(suspended.size(), spinners.size());
    const long frozen[2] = { progress[0].load(), progress[1].load() };
    Sleep(30);
    EXPECT_EQ(progress[0].load(), frozen[0]);
    EXPECT_EQ(progress[1].load(), frozen[1]);
    for (HANDLE thread : suspended) {
        EXPECT_EQ(ResumeThread(thread), 1u);
        CloseHandle(thread);
    }
    for (int i = 0; i < 2; ++i) {
        while (progress[i].load() == frozen[i])
            std::this_thread::yield();
    }
    quit = true;
    for (std::thread& spinner : spinners)
        spinner.join();
}
