// Code pages: conversion between UTF-16 and the byte encodings of Windows code pages.
//
// CP_ACP and CP_THREAD_ACP are the machine's ANSI code page, CP_OEMCP its OEM code page: the
// values ACP and OEMCP of HKLM\SYSTEM\CurrentControlSet\Control\Nls\CodePage (defaults 1252 and
// 437), read once per process on first use. No thread sets a code page of its own. The functions
// are safe on any thread; they fail as Windows documents, with the last error set.
#pragma once

#include "windef.h"

#define CP_ACP 0
#define CP_OEMCP 1
#define CP_MACCP 2
#define CP_THREAD_ACP 3
#define CP_UTF7 65000
#define CP_UTF8 65001

#define MB_PRECOMPOSED 0x00000001
#define MB_COMPOSITE 0x00000002
#define MB_USEGLYPHCHARS 0x00000004
#define MB_ERR_INVALID_CHARS 0x00000008

#define WC_COMPOSITECHECK 0x00000200
#define WC_DISCARDNS 0x00000010
#define WC_SEPCHARS 0x00000020
#define WC_DEFAULTCHAR 0x00000040
#define WC_ERR_INVALID_CHARS 0x00000080
#define WC_NO_BEST_FIT_CHARS 0x00000400

#define MAX_LEADBYTES 12
#define MAX_DEFAULTCHAR 2

typedef struct _cpinfo {
    UINT MaxCharSize;
    BYTE DefaultChar[MAX_DEFAULTCHAR];
    BYTE LeadByte[MAX_LEADBYTES];
} CPINFO, *LPCPINFO;

extern "C" {
int WINAPI MultiByteToWideChar(
    UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte, LPWSTR lpWideCharStr, int cchWideChar);
int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
    LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar);
UINT WINAPI GetACP();
UINT WINAPI GetOEMCP();
BOOL WINAPI IsValidCodePage(UINT CodePage);
BOOL WINAPI GetCPInfo(UINT CodePage, LPCPINFO lpCPInfo);
}
