// Waits, events, critical sections, interlocked operations and Sleep.
//
// Waits and Sleep can be cut short: once TerminateThread has been called for a thread, every wait
// on it fails at once with WAIT_FAILED and ERROR_OPERATION_ABORTED, and Sleep returns at once (see
// TerminateThread in processthreadsapi.h). EnterCriticalSection is not cut short.
// Critical sections are recursive and need no resources: DeleteCriticalSection only forgets one.
#pragma once

#include "minwinbase.h"
#include "windef.h"

#define INFINITE 0xFFFFFFFF
#define MAXIMUM_WAIT_OBJECTS 64
#define WAIT_OBJECT_0 (STATUS_WAIT_0 + 0)
#define WAIT_ABANDONED_0 (STATUS_ABANDONED_WAIT_0 + 0)
#define WAIT_FAILED ((DWORD)0xFFFFFFFF)
// WAIT_TIMEOUT is defined in winerror.h, where Windows puts it.

#define EVENT_MODIFY_STATE 0x0002
#define EVENT_ALL_ACCESS 0x1F0003

extern "C" {
DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
DWORD WINAPI WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds);
void WINAPI Sleep(DWORD dwMilliseconds);

// Named events are not supported: a name fails with ERROR_NOT_SUPPORTED.
HANDLE WINAPI CreateEventW(
    LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState, LPCWSTR lpName);
BOOL WINAPI SetEvent(HANDLE hEvent);
BOOL WINAPI ResetEvent(HANDLE hEvent);

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
BOOL WINAPI InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION lpCriticalSection, DWORD dwSpinCount);
void WINAPI EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection);

// Each returns the value that Windows documents: the new value for Increment and Decrement, the
// previous value for the others. All are full barriers.
LONG WINAPI InterlockedIncrement(LONG volatile* Addend);
LONG WINAPI InterlockedDecrement(LONG volatile* Addend);
LONG WINAPI InterlockedExchange(LONG volatile* Target, LONG Value);
LONG WINAPI InterlockedExchangeAdd(LONG volatile* Addend, LONG Value);
LONG WINAPI InterlockedCompareExchange(LONG volatile* Destination, LONG Exchange, LONG Comparand);
PVOID WINAPI InterlockedExchangePointer(PVOID volatile* Target, PVOID Value);
PVOID WINAPI InterlockedCompareExchangePointer(PVOID volatile* Destination, PVOID Exchange, PVOID Comparand);
}
