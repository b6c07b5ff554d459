// Kernel handles: threads, processes, events and snapshots. A handle is a small multiple of 4,
// valid in the process that made it until it is closed, and not handed out again soon after.
// Closing a handle releases the object only when no handle refers to it any more (a closed thread
// handle does not end the thread). The pseudo-handles of GetCurrentProcess and GetCurrentThread
// need no closing. Any thread may use any handle.
#pragma once

#include "windef.h"

#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)

#define DUPLICATE_CLOSE_SOURCE 0x00000001
#define DUPLICATE_SAME_ACCESS 0x00000002

extern "C" {
BOOL WINAPI CloseHandle(HANDLE hObject);
// Only within the calling process: both process handles must name it.
BOOL WINAPI DuplicateHandle(HANDLE hSourceProcessHandle, HANDLE hSourceHandle, HANDLE hTargetProcessHandle,
    LPHANDLE lpTargetHandle, DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwOptions);
}
