// Threads and processes.
//
// Thread ids are the kernel's thread ids and process ids its process ids, so that ids seen in
// snapshots, OpenThread and other programs agree. A thread handle is signalled when its thread
// ends, a process handle when its process ends; both stay valid until closed.
//
// TerminateThread kills nothing: it is the platform's stop facility. It marks the thread as being
// stopped, wakes it from the platform wait it is in and returns TRUE at once. From then on every
// blocking platform call on that thread (waits, Sleep, message waits, WinINet transfers) fails at
// once with its documented failure, so that the thread leaves through its ordinary failure paths and
// never holds a lock when it ends. Callers wait on the handle to know that it has ended; its exit
// code is then the one TerminateThread gave. A thread stopped before it started never runs.
//
// Threads that kernel32 did not create (std::thread, the main thread) get their kernel32 state
// when they first wait, sleep or are opened; a handle to one is signalled when it ends only if it
// has waited or slept since it started.
//
// SuspendThread really stops the thread (with a signal whose handler waits) before it returns;
// counts are Windows': each call returns the previous count, or (DWORD)-1 on failure, and a thread
// suspended n times runs again after n resumes. Only threads of the calling process can be opened
// and suspended.
//
// CreateProcessW hands the child the exact command line, which its GetCommandLineW returns; a
// program started otherwise (from a shell) sees a command line rebuilt from its arguments with
// Windows' quoting. The child does not inherit kernel handles (bInheritHandles is accepted and has
// nothing to pass) nor any file descriptor but its standard ones; with STARTF_USESTDHANDLES those
// are /dev/null, whatever handles are given. CREATE_NO_WINDOW has nothing to do (there are no
// consoles); CREATE_SUSPENDED fails with ERROR_NOT_SUPPORTED.
#pragma once

#include "minwinbase.h"
#include "windef.h"

typedef DWORD(WINAPI* PTHREAD_START_ROUTINE)(LPVOID lpThreadParameter);
typedef PTHREAD_START_ROUTINE LPTHREAD_START_ROUTINE;

#define CREATE_SUSPENDED 0x00000004
#define STACK_SIZE_PARAM_IS_A_RESERVATION 0x00010000
#define MAXIMUM_SUSPEND_COUNT 0x7F

#define DEBUG_PROCESS 0x00000001
#define DEBUG_ONLY_THIS_PROCESS 0x00000002
#define DETACHED_PROCESS 0x00000008
#define CREATE_NEW_CONSOLE 0x00000010
#define NORMAL_PRIORITY_CLASS 0x00000020
#define CREATE_NEW_PROCESS_GROUP 0x00000200
#define CREATE_UNICODE_ENVIRONMENT 0x00000400
#define CREATE_DEFAULT_ERROR_MODE 0x04000000
#define CREATE_NO_WINDOW 0x08000000

#define THREAD_TERMINATE 0x0001
#define THREAD_SUSPEND_RESUME 0x0002
#define THREAD_GET_CONTEXT 0x0008
#define THREAD_SET_CONTEXT 0x0010
#define THREAD_QUERY_INFORMATION 0x0040
#define THREAD_SET_INFORMATION 0x0020
#define THREAD_QUERY_LIMITED_INFORMATION 0x0800
#define THREAD_ALL_ACCESS (STANDARD_RIGHTS_REQUIRED | SYNCHRONIZE | 0xFFFF)

#define PROCESS_TERMINATE 0x0001
#define PROCESS_VM_OPERATION 0x0008
#define PROCESS_VM_READ 0x0010
#define PROCESS_VM_WRITE 0x0020
#define PROCESS_QUERY_INFORMATION 0x0400
#define PROCESS_QUERY_LIMITED_INFORMATION 0x1000
#define PROCESS_ALL_ACCESS (STANDARD_RIGHTS_REQUIRED | SYNCHRONIZE | 0xFFFF)

#define STARTF_USESHOWWINDOW 0x00000001
#define STARTF_USESIZE 0x00000002
#define STARTF_USEPOSITION 0x00000004
#define STARTF_USESTDHANDLES 0x00000100

typedef struct _STARTUPINFOW {
    DWORD cb;
    LPWSTR lpReserved;
    LPWSTR lpDesktop;
    LPWSTR lpTitle;
    DWORD dwX;
    DWORD dwY;
    DWORD dwXSize;
    DWORD dwYSize;
    DWORD dwXCountChars;
    DWORD dwYCountChars;
    DWORD dwFillAttribute;
    DWORD dwFlags;
    WORD wShowWindow;
    WORD cbReserved2;
    LPBYTE lpReserved2;
    HANDLE hStdInput;
    HANDLE hStdOutput;
    HANDLE hStdError;
} STARTUPINFOW, *LPSTARTUPINFOW;

typedef struct _PROCESS_INFORMATION {
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
} PROCESS_INFORMATION, *PPROCESS_INFORMATION, *LPPROCESS_INFORMATION;

extern "C" {
HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, SIZE_T dwStackSize,
    LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter, DWORD dwCreationFlags, LPDWORD lpThreadId);
// Unwinds the thread's stack (destructors run), so no noexcept frame may lie between the thread's
// start and the call.
[[noreturn]] void WINAPI ExitThread(DWORD dwExitCode);
BOOL WINAPI TerminateThread(HANDLE hThread, DWORD dwExitCode);
BOOL WINAPI GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode);
HANDLE WINAPI GetCurrentThread();
DWORD WINAPI GetCurrentThreadId();
DWORD WINAPI GetThreadId(HANDLE Thread);
HANDLE WINAPI OpenThread(DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwThreadId);
DWORD WINAPI SuspendThread(HANDLE hThread);
DWORD WINAPI ResumeThread(HANDLE hThread);

HANDLE WINAPI GetCurrentProcess();
DWORD WINAPI GetCurrentProcessId();
DWORD WINAPI GetProcessId(HANDLE Process);
BOOL WINAPI CreateProcessW(LPCWSTR lpApplicationName, LPWSTR lpCommandLine, LPSECURITY_ATTRIBUTES lpProcessAttributes,
    LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles, DWORD dwCreationFlags, LPVOID lpEnvironment,
    LPCWSTR lpCurrentDirectory, LPSTARTUPINFOW lpStartupInfo, LPPROCESS_INFORMATION lpProcessInformation);
// A handle to a process that is not a child of this one can be waited on; its exit code is not
// known and reads as 0 once it has ended.
HANDLE WINAPI OpenProcess(DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwProcessId);
BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode);
// Kills the process (for tests and emergencies); its exit code becomes uExitCode. A child that dies
// of a signal that no TerminateProcess sent ends with 128 + the signal's number.
BOOL WINAPI TerminateProcess(HANDLE hProcess, UINT uExitCode);
// Runs the process's exit handlers and ends it with uExitCode. The creator's GetExitCodeProcess sees
// all 32 bits; a program that returns from main instead reports only the low 8 (a Linux exit status).
[[noreturn]] void WINAPI ExitProcess(UINT uExitCode);
void WINAPI GetStartupInfoW(LPSTARTUPINFOW lpStartupInfo);
}
