// kernel32: the base services. The areas live in their own headers, as in the SDK.
#pragma once

#include "errhandlingapi.h"
#include "handleapi.h"
#include "libloaderapi.h"
#include "memoryapi.h"
#include "minwinbase.h"
#include "processenv.h"
#include "processthreadsapi.h"
#include "synchapi.h"
#include "sysinfoapi.h"
#include "windef.h"
#include "winerror.h"
#include "winnls.h"

// String helpers. A null string counts as empty. The comparisons approximate Windows' sorting:
// characters compare without regard to case (ASCII letters as lower case, so '_' and digits come
// first), and lstrcmp then puts lower case before upper case; the 'A' forms fold ASCII only.
// Windows' word sort (ignoring hyphens and apostrophes) is not reproduced.
extern "C" {
int WINAPI lstrlenW(LPCWSTR lpString);
int WINAPI lstrlenA(LPCSTR lpString);
LPWSTR WINAPI lstrcpyW(LPWSTR lpString1, LPCWSTR lpString2);
LPSTR WINAPI lstrcpyA(LPSTR lpString1, LPCSTR lpString2);
// Copies at most iMaxLength - 1 characters and always terminates when iMaxLength > 0.
LPWSTR WINAPI lstrcpynW(LPWSTR lpString1, LPCWSTR lpString2, int iMaxLength);
LPSTR WINAPI lstrcpynA(LPSTR lpString1, LPCSTR lpString2, int iMaxLength);
LPWSTR WINAPI lstrcatW(LPWSTR lpString1, LPCWSTR lpString2);
LPSTR WINAPI lstrcatA(LPSTR lpString1, LPCSTR lpString2);
int WINAPI lstrcmpW(LPCWSTR lpString1, LPCWSTR lpString2);
int WINAPI lstrcmpA(LPCSTR lpString1, LPCSTR lpString2);
int WINAPI lstrcmpiW(LPCWSTR lpString1, LPCWSTR lpString2);
int WINAPI lstrcmpiA(LPCSTR lpString1, LPCSTR lpString2);
}

// INI files. A file name is a path with '/' or '\' (relative paths from the current directory).
// A file is read as UTF-16 when it starts with a UTF-16 byte-order mark, as UTF-8 after a UTF-8
// mark, and in the ANSI code page otherwise; writes keep the file's encoding (ANSI for a new
// file). Writes replace the file whole (through a temporary file and a rename), so a reader never
// sees half a file. Sections and keys are matched without regard to case.
extern "C" {
DWORD WINAPI GetPrivateProfileStringW(
    LPCWSTR lpAppName, LPCWSTR lpKeyName, LPCWSTR lpDefault, LPWSTR lpReturnedString, DWORD nSize, LPCWSTR lpFileName);
DWORD WINAPI GetPrivateProfileStringA(
    LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault, LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName);
UINT WINAPI GetPrivateProfileIntW(LPCWSTR lpAppName, LPCWSTR lpKeyName, INT nDefault, LPCWSTR lpFileName);
UINT WINAPI GetPrivateProfileIntA(LPCSTR lpAppName, LPCSTR lpKeyName, INT nDefault, LPCSTR lpFileName);
// A null lpString deletes the key, a null lpKeyName the whole section.
BOOL WINAPI WritePrivateProfileStringW(LPCWSTR lpAppName, LPCWSTR lpKeyName, LPCWSTR lpString, LPCWSTR lpFileName);
BOOL WINAPI WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString, LPCSTR lpFileName);
}

// Global memory, as drop handles (CF_HDROP) and the clipboard use it. A fixed block's handle is
// its address; a moveable block's handle is not, and GlobalLock gives its address while counting
// locks. Safe on any thread; a handle that is not a live block fails with ERROR_INVALID_HANDLE.
#define GMEM_FIXED 0x0000
#define GMEM_MOVEABLE 0x0002
#define GMEM_ZEROINIT 0x0040
#define GHND (GMEM_MOVEABLE | GMEM_ZEROINIT)
#define GPTR (GMEM_FIXED | GMEM_ZEROINIT)

extern "C" {
HGLOBAL WINAPI GlobalAlloc(UINT uFlags, SIZE_T dwBytes);
LPVOID WINAPI GlobalLock(HGLOBAL hMem);
// TRUE while the block stays locked; FALSE with ERROR_SUCCESS when the last lock goes, FALSE with
// ERROR_NOT_LOCKED when it was not locked.
BOOL WINAPI GlobalUnlock(HGLOBAL hMem);
// Null on success, hMem on failure.
HGLOBAL WINAPI GlobalFree(HGLOBAL hMem);
SIZE_T WINAPI GlobalSize(HGLOBAL hMem);
}

// Resources: the tables that the rc tool compiles into a module, registered with kernel32 when
// the module loads and withdrawn when it unloads. Names and types are numbers (MAKEINTRESOURCEW),
// strings (matched without regard to case) or "#123". A resource's data stays valid while its
// module is loaded; LoadResource and LockResource only hand out its address.
// winuser.h repeats the first two, token for token, as the SDK does.
#define MAKEINTRESOURCEW(i) ((LPWSTR)((ULONG_PTR)((WORD)(i))))
#define IS_INTRESOURCE(r) ((((ULONG_PTR)(r)) >> 16) == 0)
#define MAKEINTRESOURCEA(i) ((LPSTR)((ULONG_PTR)((WORD)(i))))
#define MAKEINTRESOURCE MAKEINTRESOURCEW

#define RT_CURSOR MAKEINTRESOURCEW(1)
#define RT_BITMAP MAKEINTRESOURCEW(2)
#define RT_ICON MAKEINTRESOURCEW(3)
#define RT_MENU MAKEINTRESOURCEW(4)
#define RT_DIALOG MAKEINTRESOURCEW(5)
#define RT_STRING MAKEINTRESOURCEW(6)
#define RT_FONTDIR MAKEINTRESOURCEW(7)
#define RT_FONT MAKEINTRESOURCEW(8)
#define RT_ACCELERATOR MAKEINTRESOURCEW(9)
#define RT_RCDATA MAKEINTRESOURCEW(10)
#define RT_MESSAGETABLE MAKEINTRESOURCEW(11)
#define RT_GROUP_CURSOR MAKEINTRESOURCEW(12)
#define RT_GROUP_ICON MAKEINTRESOURCEW(14)
#define RT_VERSION MAKEINTRESOURCEW(16)
#define RT_HTML MAKEINTRESOURCEW(23)
#define RT_MANIFEST MAKEINTRESOURCEW(24)

extern "C" {
// hModule null is the program. Fails with ERROR_RESOURCE_DATA_NOT_FOUND for a module without
// resources, ERROR_RESOURCE_TYPE_NOT_FOUND, ERROR_RESOURCE_NAME_NOT_FOUND or (for an explicit
// language) ERROR_RESOURCE_LANG_NOT_FOUND.
HRSRC WINAPI FindResourceW(HMODULE hModule, LPCWSTR lpName, LPCWSTR lpType);
HRSRC WINAPI FindResourceExW(HMODULE hModule, LPCWSTR lpType, LPCWSTR lpName, WORD wLanguage);
HGLOBAL WINAPI LoadResource(HMODULE hModule, HRSRC hResInfo);
LPVOID WINAPI LockResource(HGLOBAL hResData);
DWORD WINAPI SizeofResource(HMODULE hModule, HRSRC hResInfo);
BOOL WINAPI FreeResource(HGLOBAL hResData);
}
