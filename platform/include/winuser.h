#pragma once

#include "windef.h"

// Formatting in the manner of wsprintfW (implemented in kernel32): at most 1024 characters with
// the terminator, the count returned without it. %s, %ls and %ws take const WCHAR*, %S and %hs const
// char*; %c a WCHAR, %C a char; %d %i %u %x %X (also with l, and I64 for 64-bit) and %p; flags
// '-', '0' and '#', a width and a precision.
#include <cstdarg>

extern "C" {
int WINAPIV wsprintfW(LPWSTR lpOut, LPCWSTR lpFmt, ...);
int WINAPI wvsprintfW(LPWSTR lpOut, LPCWSTR lpFmt, va_list arglist);
}
