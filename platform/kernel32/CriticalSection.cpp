#include "synchapi.h"

#include "processthreadsapi.h"

#include <atomic>
#include <climits>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

// The lock word is LockCount: 0 free, 1 held, 2 held with waiters. OwningThread holds the owner's
// thread id, so that a re-entry by the owner only counts.

namespace {

constexpr LONG Free = 0;
constexpr LONG Held = 1;
constexpr LONG Contended = 2;

std::atomic_ref<LONG> LockWord(LPCRITICAL_SECTION section)
{
    return std::atomic_ref<LONG>(section->LockCount);
}

std::atomic_ref<HANDLE> Owner(LPCRITICAL_SECTION section)
{
    return std::atomic_ref<HANDLE>(section->OwningThread);
}

HANDLE CallerAsOwner()
{
    return reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(GetCurrentThreadId()));
}

void Futex(LPCRITICAL_SECTION section, int operation, int value)
{
    syscall(SYS_futex, &section->LockCount, operation | FUTEX_PRIVATE_FLAG, value, nullptr, nullptr, 0);
}

bool TryLock(LPCRITICAL_SECTION section)
{
    LONG expected = Free;
    return LockWord(section).compare_exchange_strong(expected, Held, std::memory_order_acquire);
}

void Lock(LPCRITICAL_SECTION section)
{
    for (ULONG_PTR spin = 0; spin < section->SpinCount; ++spin) {
        if (TryLock(section))
            return;
    }
    LONG state = Free;
    if (LockWord(section).compare_exchange_strong(state, Held, std::memory_order_acquire))
        return;
    if (state != Contended)
        state = LockWord(section).exchange(Contended, std::memory_order_acquire);
    while (state != Free) {
        Futex(section, FUTEX_WAIT, Contended);
        state = LockWord(section).exchange(Contended, std::memory_order_acquire);
    }
}

void Unlock(LPCRITICAL_SECTION section)
{
    if (LockWord(section).exchange(Free, std::memory_order_release) == Contended)
        Futex(section, FUTEX_WAKE, 1);
}

}

extern "C" void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection)
{
    InitializeCriticalSectionAndSpinCount(lpCriticalSection, 0);
}

extern "C" BOOL WINAPI InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION lpCriticalSection, DWORD dwSpinCount)
{
    *lpCriticalSection = CRITICAL_SECTION {};
    lpCriticalSection->SpinCount = dwSpinCount;
    return TRUE;
}

extern "C" void WINAPI EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection)
{
    if (Owner(lpCriticalSection).load(std::memory_order_relaxed) == CallerAsOwner()) {
        ++lpCriticalSection->RecursionCount;
        return;
    }
    Lock(lpCriticalSection);
    Owner(lpCriticalSection).store(CallerAsOwner(), std::memory_order_relaxed);
    lpCriticalSection->RecursionCount = 1;
}

extern "C" BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection)
{
    if (Owner(lpCriticalSection).load(std::memory_order_relaxed) == CallerAsOwner()) {
        ++lpCriticalSection->RecursionCount;
        return TRUE;
    }
    if (!TryLock(lpCriticalSection))
        return FALSE;
    Owner(lpCriticalSection).store(CallerAsOwner(), std::memory_order_relaxed);
    lpCriticalSection->RecursionCount = 1;
    return TRUE;
}

extern "C" void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection)
{
    if (--lpCriticalSection->RecursionCount > 0)
        return;
    Owner(lpCriticalSection).store(nullptr, std::memory_order_relaxed);
    Unlock(lpCriticalSection);
}

extern "C" void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection)
{
    *lpCriticalSection = CRITICAL_SECTION {};
}
