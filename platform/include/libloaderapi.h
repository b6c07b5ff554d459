// Modules: the program and the shared libraries loaded into it. An HMODULE is the base address of
// the module's image (see platform/internal/Module.h), so it stays the same for as long as the
// module stays loaded.
//
// Library names follow Windows: "name" and "name.dll" mean the file "libname.so" (compared without
// regard to case among loaded modules); a name with a directory part names that file, or the
// library of that name in that directory. LoadLibraryW looks beside the program first, then on the
// loader's search path. Each LoadLibraryW or counting GetModuleHandleExW needs one FreeLibrary.
// Safe to call from any thread.
#pragma once

#include "windef.h"

#define GET_MODULE_HANDLE_EX_FLAG_PIN 0x00000001
#define GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT 0x00000002
#define GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS 0x00000004

extern "C" {
HMODULE WINAPI GetModuleHandleW(LPCWSTR lpModuleName);
BOOL WINAPI GetModuleHandleExW(DWORD dwFlags, LPCWSTR lpModuleName, HMODULE* phModule);
HMODULE WINAPI LoadLibraryW(LPCWSTR lpLibFileName);
BOOL WINAPI FreeLibrary(HMODULE hLibModule);
// Finds only the module's own exports, by name; ordinals are not supported.
FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
DWORD WINAPI GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize);
}
