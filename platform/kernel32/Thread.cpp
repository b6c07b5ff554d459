#include "processthreadsapi.h"

#include "ThreadObject.h"
#include "errhandlingapi.h"
#include "synchapi.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <linux/futex.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <unordered_map>

namespace platform {

namespace {

// How long SuspendThread waits for the thread to park before it reports success anyway (the
// thread then parks as soon as it unblocks the signal).
constexpr int ParkTimeoutMilliseconds = 2000;

struct ThreadRegistry {
    std::mutex mutex;
    // Threads by id, from their first sighting to their end.
    std::unordered_map<pid_t, std::shared_ptr<ThreadObject>> threads;
    std::unordered_map<pid_t, SuspendCell*> cells;
};

ThreadRegistry& Registry()
{
    // Never destroyed: threads end while the process exits.
    static ThreadRegistry* registry = new ThreadRegistry;
    return *registry;
}

// Registry lock held.
SuspendCell* CellFor(pid_t tid)
{
    SuspendCell*& cell = Registry().cells[tid];
    if (!cell)
        cell = new SuspendCell;
    return cell;
}

// Registry lock held.
std::shared_ptr<ThreadObject> FindOrMakeThread(pid_t tid)
{
    std::shared_ptr<ThreadObject>& entry = Registry().threads[tid];
    if (!entry) {
        entry = std::make_shared<ThreadObject>(tid);
        entry->m_suspend = CellFor(tid);
    }
    return entry;
}

void FinishThread(ThreadObject& thread)
{
    UpdateWaitState([&] {
        thread.m_exitCode = thread.m_stopRequested.load() ? thread.m_stopExitCode.load() : thread.m_returnedExitCode;
        thread.m_ended = true;
    });
}

thread_local ThreadObject* t_object = nullptr; // the object that t_current holds, for quick looks
thread_local bool t_ended = false;
thread_local pid_t t_tid = 0;

// The calling thread's hold on its own object; ends the object when the thread ends, however it
// ends (its function returns, ExitThread, or a thread kernel32 did not make).
struct CurrentThread {
    std::shared_ptr<ThreadObject> object;
    ~CurrentThread()
    {
        // Later calls from other thread-exit code (exit handlers, on the main thread) get a state of
        // their own that no one can stop.
        t_object = nullptr;
        t_ended = true;
        if (!object)
            return;
        FinishThread(*object);
        ThreadRegistry& registry = Registry();
        SuspendSafeLock lock(registry.mutex);
        auto found = registry.threads.find(object->m_tid);
        if (found != registry.threads.end() && found->second == object)
            registry.threads.erase(found);
    }
};

thread_local CurrentThread t_current;

void AdoptCurrentThread(std::shared_ptr<ThreadObject> object)
{
    t_object = object.get();
    t_current.object = std::move(object);
}

long Futex(std::atomic<int>* word, int operation, int value, const timespec* timeout)
{
    return syscall(SYS_futex, reinterpret_cast<int*>(word), operation | FUTEX_PRIVATE_FLAG, value, timeout, nullptr, 0);
}

void WaitWhileSuspended(SuspendCell& cell)
{
    for (int count; (count = cell.count.load()) > 0;)
        Futex(&cell.count, FUTEX_WAIT, count, nullptr);
}

// Runs on the suspended thread, and only uses what is safe in a signal handler.
void OnSuspendSignal(int, siginfo_t* info, void*)
{
    if (info->si_code != SI_QUEUE || !info->si_value.sival_ptr)
        return;
    const int savedErrno = errno;
    SuspendCell& cell = *static_cast<SuspendCell*>(info->si_value.sival_ptr);
    cell.parkings.fetch_add(1);
    Futex(&cell.parkings, FUTEX_WAKE, INT_MAX, nullptr);
    WaitWhileSuspended(cell);
    errno = savedErrno;
}

void InstallSuspendHandler()
{
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action { };
        action.sa_sigaction = OnSuspendSignal;
        action.sa_flags = SA_SIGINFO | SA_RESTART;
        sigemptyset(&action.sa_mask);
        sigaction(SuspendSignal(), &action, nullptr);
    });
}

bool SendSuspendSignal(pid_t tid, SuspendCell* cell)
{
    siginfo_t info {};
    info.si_signo = SuspendSignal();
    info.si_code = SI_QUEUE;
    info.si_pid = getpid();
    info.si_uid = getuid();
    info.si_value.sival_ptr = cell;
    return syscall(SYS_rt_tgsigqueueinfo, getpid(), tid, SuspendSignal(), &info) == 0;
}

// False when the thread ended before it could park.
bool WaitUntilParked(pid_t tid, SuspendCell& cell, int parkingsBefore)
{
    const timespec slice { 0, 10 * 1000 * 1000 };
    for (int waited = 0; cell.parkings.load() == parkingsBefore && waited < ParkTimeoutMilliseconds; waited += 10) {
        Futex(&cell.parkings, FUTEX_WAIT, parkingsBefore, &slice);
        if (cell.parkings.load() == parkingsBefore && syscall(SYS_tgkill, getpid(), tid, 0) != 0)
            return false;
    }
    return true;
}

struct Launch {
    std::shared_ptr<ThreadObject> object;
    LPTHREAD_START_ROUTINE start;
    LPVOID parameter;
    int initialSuspendCount;
};

void* ThreadStart(void* raw)
{
    std::unique_ptr<Launch> launch(static_cast<Launch*>(raw));
    const std::shared_ptr<ThreadObject> object = launch->object;
    {
        ThreadRegistry& registry = Registry();
        SuspendSafeLock lock(registry.mutex);
        const pid_t tid = gettid();
        object->m_suspend = CellFor(tid);
        object->m_suspend->count = launch->initialSuspendCount;
        registry.threads[tid] = object;
        object->m_tid = tid;
    }
    AdoptCurrentThread(object);
    object->m_tid.notify_all();
    WaitWhileSuspended(*object->m_suspend);
    // A thread stopped before it started never runs its function.
    if (!object->m_stopRequested.load())
        object->m_returnedExitCode = launch->start(launch->parameter);
    return nullptr;
}

std::shared_ptr<ThreadObject> LiveThread(HANDLE hThread)
{
    std::shared_ptr<ThreadObject> thread = ReferenceHandleAs<ThreadObject>(hThread);
    if (thread && (thread->m_ended.load() || !thread->m_suspend)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return thread;
}

}

DWORD ThreadObject::CurrentExitCode() const
{
    return m_ended.load() ? m_exitCode.load() : STILL_ACTIVE;
}

std::shared_ptr<ThreadObject> CurrentThreadObject()
{
    if (t_object)
        return t_current.object;
    if (t_ended)
        return std::make_shared<ThreadObject>(GetCurrentThreadId());
    ThreadRegistry& registry = Registry();
    SuspendSafeLock lock(registry.mutex);
    AdoptCurrentThread(FindOrMakeThread(GetCurrentThreadId()));
    return t_current.object;
}

SuspendSafeLock::SuspendSafeLock(std::mutex& mutex)
    : m_mutex(mutex)
{
    sigset_t suspend;
    sigemptyset(&suspend);
    sigaddset(&suspend, SuspendSignal());
    pthread_sigmask(SIG_BLOCK, &suspend, &m_previous);
    m_mutex.lock();
}

SuspendSafeLock::~SuspendSafeLock()
{
    m_mutex.unlock();
    pthread_sigmask(SIG_SETMASK, &m_previous, nullptr);
}

int SuspendSignal()
{
    static const int signal = SIGRTMIN + 2;
    return signal;
}

bool IsStopRequested()
{
    const ThreadObject* self = t_object ? t_object : CurrentThreadObject().get();
    return self->m_stopRequested.load();
}

struct StopWakeup::Registration {
    std::shared_ptr<ThreadObject> thread;
    std::function<void()> wake;
};

StopWakeup::StopWakeup(std::function<void()> wake)
    : m_registration(new Registration { CurrentThreadObject(), std::move(wake) })
{
    std::lock_guard lock(m_registration->thread->m_wakeupsMutex);
    m_registration->thread->m_wakeups.push_back(&m_registration->wake);
}

StopWakeup::~StopWakeup()
{
    {
        ThreadObject& thread = *m_registration->thread;
        std::lock_guard lock(thread.m_wakeupsMutex);
        std::erase(thread.m_wakeups, &m_registration->wake);
    }
    delete m_registration;
}

}

using namespace platform;

extern "C" HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, SIZE_T dwStackSize,
    LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter, DWORD dwCreationFlags, LPDWORD lpThreadId)
{
    if (!lpStartAddress) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto object = std::make_shared<ThreadObject>(0);
    auto launch = std::make_unique<Launch>(
        Launch { object, lpStartAddress, lpParameter, (dwCreationFlags & CREATE_SUSPENDED) ? 1 : 0 });
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    if (dwStackSize)
        pthread_attr_setstacksize(&attributes, std::max<SIZE_T>(dwStackSize, PTHREAD_STACK_MIN));
    pthread_t thread;
    const int error = pthread_create(&thread, &attributes, ThreadStart, launch.get());
    pthread_attr_destroy(&attributes);
    if (error) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    launch.release(); // the thread owns it now
    object->m_tid.wait(0);
    if (lpThreadId)
        *lpThreadId = static_cast<DWORD>(object->m_tid.load());
    return InsertHandle(std::move(object));
}

extern "C" void WINAPI ExitThread(DWORD dwExitCode)
{
    CurrentThreadObject()->m_returnedExitCode = dwExitCode;
    pthread_exit(nullptr);
}

extern "C" BOOL WINAPI TerminateThread(HANDLE hThread, DWORD dwExitCode)
{
    const std::shared_ptr<ThreadObject> thread = ReferenceHandleAs<ThreadObject>(hThread);
    if (!thread)
        return FALSE;
    {
        std::lock_guard lock(thread->m_wakeupsMutex);
        if (thread->m_stopRequested.load())
            return TRUE;
        thread->m_stopExitCode = dwExitCode;
        thread->m_stopRequested = true;
        for (std::function<void()>* wake : thread->m_wakeups)
            (*wake)();
    }
    WakeWaiters();
    return TRUE;
}

extern "C" BOOL WINAPI GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode)
{
    const std::shared_ptr<ExitingObject> thread = ReferenceHandleAs<ExitingObject>(hThread);
    if (!thread)
        return FALSE;
    if (!lpExitCode) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *lpExitCode = thread->CurrentExitCode();
    return TRUE;
}

extern "C" HANDLE WINAPI GetCurrentThread()
{
    return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-2));
}

extern "C" DWORD WINAPI GetCurrentThreadId()
{
    if (!t_tid) {
        // A child forked from this thread must not keep the parent thread's id.
        static std::once_flag once;
        std::call_once(once, [] { pthread_atfork(nullptr, nullptr, [] { t_tid = 0; }); });
        t_tid = gettid();
    }
    return static_cast<DWORD>(t_tid);
}

extern "C" DWORD WINAPI GetThreadId(HANDLE Thread)
{
    const std::shared_ptr<ThreadObject> thread = ReferenceHandleAs<ThreadObject>(Thread);
    return thread ? static_cast<DWORD>(thread->m_tid.load()) : 0;
}

extern "C" HANDLE WINAPI OpenThread(DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwThreadId)
{
    const pid_t tid = static_cast<pid_t>(dwThreadId);
    char path[64];
    struct stat info { };
    if (tid > 0) {
        std::snprintf(path, sizeof path, "/proc/self/task/%d", tid);
        if (stat(path, &info) == 0) {
            ThreadRegistry& registry = Registry();
            std::shared_ptr<ThreadObject> thread;
            {
                SuspendSafeLock lock(registry.mutex);
                thread = FindOrMakeThread(tid);
            }
            return InsertHandle(std::move(thread));
        }
        std::snprintf(path, sizeof path, "/proc/%d", tid);
        if (stat(path, &info) == 0) {
            SetLastError(ERROR_ACCESS_DENIED); // a thread of another process
            return nullptr;
        }
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
}

extern "C" DWORD WINAPI SuspendThread(HANDLE hThread)
{
    const std::shared_ptr<ThreadObject> thread = LiveThread(hThread);
    if (!thread)
        return static_cast<DWORD>(-1);
    InstallSuspendHandler();
    SuspendCell& cell = *thread->m_suspend;
    int previous = cell.count.load();
    do {
        if (previous >= MAXIMUM_SUSPEND_COUNT) {
            SetLastError(ERROR_SIGNAL_REFCOUNT_EXCEEDED);
            return static_cast<DWORD>(-1);
        }
    } while (!cell.count.compare_exchange_weak(previous, previous + 1));
    if (previous == 0) {
        const int parkingsBefore = cell.parkings.load();
        if (!SendSuspendSignal(thread->m_tid, &cell) || !WaitUntilParked(thread->m_tid, cell, parkingsBefore)) {
            cell.count.fetch_sub(1);
            SetLastError(ERROR_ACCESS_DENIED); // the thread has just ended
            return static_cast<DWORD>(-1);
        }
    }
    return static_cast<DWORD>(previous);
}

extern "C" DWORD WINAPI ResumeThread(HANDLE hThread)
{
    const std::shared_ptr<ThreadObject> thread = LiveThread(hThread);
    if (!thread)
        return static_cast<DWORD>(-1);
    SuspendCell& cell = *thread->m_suspend;
    int previous = cell.count.load();
    do {
        if (previous == 0)
            return 0;
    } while (!cell.count.compare_exchange_weak(previous, previous - 1));
    if (previous == 1)
        Futex(&cell.count, FUTEX_WAKE, INT_MAX, nullptr);
    return static_cast<DWORD>(previous);
}
