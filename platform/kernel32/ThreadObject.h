// kernel32's own view of threads, shared by its waits, threads, processes and snapshots.
//
// A ThreadObject exists for every thread that kernel32 has seen: made by CreateThread, opened by
// OpenThread, or met when the thread itself first called a function that needs it. The thread keeps
// a reference to its own object until it ends; handles keep theirs. Wait state (ended, exit code)
// changes under the wait lock, through UpdateWaitState.
#pragma once

#include "KernelObject.h"
#include "ThreadStop.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <signal.h>
#include <sys/types.h>
#include <vector>

namespace platform {

// A thread's suspend count, how often its suspend handler has parked, and whether the thread is
// parked in that handler right now. Never freed, so that a signal handler may use it however late
// the signal arrives.
struct SuspendCell {
    std::atomic<int> count { 0 };
    std::atomic<int> parkings { 0 };
    std::atomic<int> parked { 0 };
};

// What GetExitCodeThread reads: a thread of this process, or the main thread of a child.
class ExitingObject {
public:
    virtual ~ExitingObject() = default;
    // STILL_ACTIVE until the thread or process has ended.
    virtual DWORD CurrentExitCode() const = 0;
};

class ThreadObject final : public KernelObject, public Waitable, public ExitingObject {
public:
    explicit ThreadObject(pid_t tid)
        : m_tid(tid)
    {
    }

    Waitable* AsWaitable() override
    {
        return this;
    }
    bool IsSignaled() const override
    {
        return m_ended.load();
    }
    DWORD CurrentExitCode() const override;

    // 0 until a thread made by CreateThread has started.
    std::atomic<pid_t> m_tid;
    SuspendCell* m_suspend = nullptr;

    std::atomic<bool> m_stopRequested { false };
    std::atomic<DWORD> m_stopExitCode { 0 };
    // What the thread's function returned or ExitThread gave; used when no stop was requested.
    DWORD m_returnedExitCode = 0;

    // Written under the wait lock, the exit code first.
    std::atomic<bool> m_ended { false };
    std::atomic<DWORD> m_exitCode { 0 };

    std::mutex m_wakeupsMutex;
    std::vector<std::function<void()>*> m_wakeups;
};

// The calling thread's object, made on first use.
std::shared_ptr<ThreadObject> CurrentThreadObject();
// The calling process's object (never signalled).
std::shared_ptr<KernelObject> CurrentProcessObject();

// Runs change under the wait lock, then wakes every waiter.
void UpdateWaitState(const std::function<void()>& change);

// Holds a mutex with the suspend signal blocked, so that no thread is ever suspended while holding
// one of kernel32's own tables (which SuspendThread itself needs).
class SuspendSafeLock {
public:
    explicit SuspendSafeLock(std::mutex& mutex);
    ~SuspendSafeLock();
    SuspendSafeLock(const SuspendSafeLock&) = delete;
    SuspendSafeLock& operator=(const SuspendSafeLock&) = delete;

private:
    std::mutex& m_mutex;
    sigset_t m_previous;
};

// The signal that parks a thread in SuspendThread.
int SuspendSignal();

}
