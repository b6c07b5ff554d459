// kernel32: the virtual memory of the own process.
//
// Only the calling process is supported: a process handle must be GetCurrentProcess() or another
// handle to the calling process; a handle to any other process fails with ERROR_ACCESS_DENIED, a
// value that is no handle with ERROR_INVALID_HANDLE. Every function may be called from any thread,
// also while the other threads of the process are suspended: none of them allocates from the heap,
// and the only locks they take (the handle table's, VirtualAlloc's table of allocations) are never
// held by a suspended thread.
//
// VirtualQuery reads the process's mappings as the kernel reports them: a mapping is committed
// memory, a gap is free; a region runs over adjacent pages of one allocation with one protection.
// ReadProcessMemory and WriteProcessMemory never fault: memory that cannot be read or written ends
// the copy, reports the bytes copied so far and fails (ERROR_PARTIAL_COPY, or ERROR_NOACCESS for a
// write that copied nothing). WriteProcessMemory honours the page protection: to write code, make
// it writable first with VirtualProtect.
// VirtualAlloc supports only allocations that reserve and commit at once; VirtualFree only
// MEM_RELEASE of a whole allocation; at most 256 allocations live at once (beyond that VirtualAlloc
// fails with ERROR_NOT_ENOUGH_MEMORY). Neither supports PAGE_GUARD, PAGE_NOCACHE or PAGE_WRITECOMBINE.
#pragma once

#include "windef.h"

#define PAGE_NOACCESS 0x01
#define PAGE_READONLY 0x02
#define PAGE_READWRITE 0x04
#define PAGE_WRITECOPY 0x08
#define PAGE_EXECUTE 0x10
#define PAGE_EXECUTE_READ 0x20
#define PAGE_EXECUTE_READWRITE 0x40
#define PAGE_EXECUTE_WRITECOPY 0x80
#define PAGE_GUARD 0x100
#define PAGE_NOCACHE 0x200
#define PAGE_WRITECOMBINE 0x400

#define MEM_COMMIT 0x00001000
#define MEM_RESERVE 0x00002000
#define MEM_DECOMMIT 0x00004000
#define MEM_RELEASE 0x00008000
#define MEM_FREE 0x00010000
#define MEM_PRIVATE 0x00020000
#define MEM_MAPPED 0x00040000
#define MEM_RESET 0x00080000
#define MEM_TOP_DOWN 0x00100000
#define MEM_IMAGE 0x01000000

typedef struct _MEMORY_BASIC_INFORMATION {
    PVOID BaseAddress;
    PVOID AllocationBase;
    DWORD AllocationProtect;
    WORD PartitionId;
    SIZE_T RegionSize;
    DWORD State;
    DWORD Protect;
    DWORD Type;
} MEMORY_BASIC_INFORMATION, *PMEMORY_BASIC_INFORMATION;

extern "C" {
SIZE_T WINAPI VirtualQuery(LPCVOID lpAddress, PMEMORY_BASIC_INFORMATION lpBuffer, SIZE_T dwLength);
SIZE_T WINAPI VirtualQueryEx(HANDLE hProcess, LPCVOID lpAddress, PMEMORY_BASIC_INFORMATION lpBuffer, SIZE_T dwLength);
BOOL WINAPI VirtualProtect(LPVOID lpAddress, SIZE_T dwSize, DWORD flNewProtect, PDWORD lpflOldProtect);
BOOL WINAPI VirtualProtectEx(
    HANDLE hProcess, LPVOID lpAddress, SIZE_T dwSize, DWORD flNewProtect, PDWORD lpflOldProtect);
BOOL WINAPI ReadProcessMemory(
    HANDLE hProcess, LPCVOID lpBaseAddress, LPVOID lpBuffer, SIZE_T nSize, SIZE_T* lpNumberOfBytesRead);
BOOL WINAPI WriteProcessMemory(
    HANDLE hProcess, LPVOID lpBaseAddress, LPCVOID lpBuffer, SIZE_T nSize, SIZE_T* lpNumberOfBytesWritten);
BOOL WINAPI FlushInstructionCache(HANDLE hProcess, LPCVOID lpBaseAddress, SIZE_T dwSize);
LPVOID WINAPI VirtualAlloc(LPVOID lpAddress, SIZE_T dwSize, DWORD flAllocationType, DWORD flProtect);
BOOL WINAPI VirtualFree(LPVOID lpAddress, SIZE_T dwSize, DWORD dwFreeType);
}
