// How WinINet splits a URL: the positions of its components in the text, without decoding
// anything. Shared by InternetCrackUrlA/W, the request functions and the cookie jar.
//
// Rules: the scheme runs to the first ':' (letters first, then letters, digits, '+', '-', '.');
// "//" after it opens an authority ([user[:password]@]host[:port]) that runs to the first '/',
// '?' or '#'; the path runs to the first '?' or '#', and the extra information is the rest. A
// missing port is the scheme's default. Failures are WinINet error codes.
#pragma once

#include "wininet.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace wininet {

struct Span {
    size_t offset = 0;
    size_t length = 0;
    bool present = false;
};

struct UrlParts {
    Span scheme, user, password, host, path, extra;
    INTERNET_SCHEME nScheme = INTERNET_SCHEME_UNKNOWN;
    INTERNET_PORT port = 0;
};

// Splits text; 0 with parts filled, or ERROR_INTERNET_UNRECOGNIZED_SCHEME / ERROR_INTERNET_INVALID_URL.
DWORD SplitUrl(std::u16string_view text, UrlParts& parts);

INTERNET_PORT DefaultPort(INTERNET_SCHEME scheme);

// %XX sequences turned into the bytes they stand for; other characters stay as they are.
std::string PercentDecode(std::string_view text);

// A URL in UTF-8 split into owned strings, for the platform's own requests.
struct Url {
    std::string scheme; // lower case
    std::string host; // lower case, without brackets
    INTERNET_PORT port = 0;
    std::string path; // at least "/"
    std::string extra; // "?..." or "#...", or empty
    INTERNET_SCHEME nScheme = INTERNET_SCHEME_UNKNOWN;

    std::string Text() const; // scheme://host[:port]path+query, without the fragment
    std::string Origin() const; // scheme://host[:port]
};

// Parses an absolute URL; 0 or the WinINet error.
DWORD ParseUrl(std::u16string_view text, Url& url);

// An absolute path without its "." and ".." segments.
std::string RemoveDotSegments(const std::string& path);

// target (absolute, or relative as in a Location header) resolved against base; false when it cannot be.
bool ResolveUrl(const Url& base, const std::string& target, Url& result);

}
