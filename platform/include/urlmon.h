// URL monikers: so far the session options, of which the user agent is the one that matters. The
// process's agent is the text that every request of the URL-moniker layer and the hidden browser
// sends; it starts as a current Chromium-style agent on Windows. Any thread may call these.
#pragma once

#include "windef.h"
#include "winerror.h"

#define URLMON_OPTION_USERAGENT 0x10000001
#define URLMON_OPTION_USERAGENT_REFRESH 0x10000002

// URL-moniker errors (also the NavigateError status of a request that got no answer).
#define INET_E_CANNOT_CONNECT _HRESULT_TYPEDEF_(0x800C0004L)
#define INET_E_RESOURCE_NOT_FOUND _HRESULT_TYPEDEF_(0x800C0005L)
#define INET_E_DOWNLOAD_FAILURE _HRESULT_TYPEDEF_(0x800C0008L)
#define INET_E_CONNECTION_TIMEOUT _HRESULT_TYPEDEF_(0x800C000BL)

extern "C" {
// Copies the agent (ANSI text and its terminator) into pBuffer; *pdwBufferLength receives its size
// in bytes. A buffer that is missing or too small gives E_OUTOFMEMORY with that size.
HRESULT WINAPI UrlMkGetSessionOption(
    DWORD dwOption, LPVOID pBuffer, DWORD dwBufferLength, DWORD* pdwBufferLength, DWORD dwReserved);
// Sets the agent to the dwBufferLength bytes at pBuffer (up to a terminator);
// URLMON_OPTION_USERAGENT_REFRESH restores the default.
HRESULT WINAPI UrlMkSetSessionOption(DWORD dwOption, LPVOID pBuffer, DWORD dwBufferLength, DWORD dwReserved);
}
