// The URL and HTTP helpers that the request service, the site analyzers and the protocol monitor
// share: URL splitting, the site icon address, video extensions in URLs, text splitting and
// cleaning, the cookies WinINet holds for a URL, and the media behind a redirecting play URL.
//
// Free functions without state; any thread may call them, and the WinINet ones block it. Every
// WinINet session is opened per call and closed on every way out. Failures are results of 0,
// empty strings or outputs left as they were; nothing is logged.
#pragma once

#include "windows.h"

#include <string>
#include <vector>

constexpr int kUrlComponentLength = 1000;

// A URL as the platform splits it, each component at most 999 characters and a terminator; extra
// information is the query and fragment, starting with "?" or "#". Callers zero it first.
struct CrackedUrl {
    WCHAR scheme[kUrlComponentLength];
    WCHAR host[kUrlComponentLength];
    WCHAR user[kUrlComponentLength];
    WCHAR password[kUrlComponentLength];
    WCHAR path[kUrlComponentLength];
    WCHAR extra[kUrlComponentLength];
};

// The ANSI form: bytes in the thread's code page.
struct CrackedUrlAnsi {
    char scheme[kUrlComponentLength];
    char host[kUrlComponentLength];
    char user[kUrlComponentLength];
    char password[kUrlComponentLength];
    char path[kUrlComponentLength];
    char extra[kUrlComponentLength];
};

// What GetTempVideoInfo finds out about a play URL's media.
struct TempVideoInfo {
    std::u16string url;
    std::u16string type; // a file extension such as "flv", or empty
    std::u16string cookie;
    DWORD length = 0; // 0 when no size was reported
};

struct MimeExtension {
    const WCHAR* mime;
    const WCHAR* extension;
};

// The response types that mark a video, searched in row order by LookupMimeExtension.
extern const MimeExtension ResponseMimeTable[10];

BOOL CrackUrl(LPCWSTR url, CrackedUrl* cracked);
BOOL CrackUrlAnsi(LPCSTR url, CrackedUrlAnsi* cracked);

// Shortens pageUrl (a writable buffer) in place to its scheme and host and writes
// "<that>/favicon.ico" into iconUrl (at least 1024 characters). 0 when either pointer is null.
int GetSiteIconUrl(LPWSTR pageUrl, LPWSTR iconUrl);

// 1 with the three letters of a video extension (mp4, flv, f4v, m4v, hlv) at the last dot of the
// URL's path in extension (at least 4 bytes), otherwise 0.
int GetUrlVideoExtension(LPCSTR url, LPSTR extension);

// Appends text's pieces between delimiters to tokens: no empty piece for a leading or doubled
// delimiter, but one for a trailing delimiter.
void SplitString(std::u16string text, std::u16string delimiter, std::vector<std::u16string>& tokens);

// Each removes characters in place, compacting the string, and returns it.
LPWSTR StripLineBreaks(LPWSTR text);
LPWSTR RemoveChar(LPWSTR text, WCHAR character);
LPWSTR ReplaceChar(LPWSTR text, WCHAR character, WCHAR replacement);

// 1 with the extension (into a buffer of 20 characters) of the first ResponseMimeTable row whose
// type occurs in contentType; 0 and the output untouched when none does.
int LookupMimeExtension(LPCWSTR contentType, LPWSTR extension);

// The cookie text WinINet holds for url, or empty.
void GetUrlCookie(LPCWSTR url, std::u16string& cookie);

// Follows a play URL's "301 Moved Permanently" (once, sending userAgent) to the media URL its
// Location names, and reads that media's length, type and cookie into info. 1 when its requests
// were sent, 0 when the session, a connection, a request or a send failed.
int GetTempVideoInfo(LPCWSTR playUrl, LPCWSTR userAgent, TempVideoInfo* info);
