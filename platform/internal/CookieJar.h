// The process's one cookie jar (RFC 6265 storage and matching), kept in libwininet.so and shared
// by WinINet's requests, InternetGetCookieW/InternetSetCookieW and the hidden browser.
//
// Thread-safe: every member may be called from any thread. Cookies live in memory for the life of
// the process; expired cookies are dropped when they are next looked at. Host names are compared
// in lower case; an IP address only ever matches itself.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct Cookie {
    std::string name;
    std::string value;
    std::string domain; // lower case, without a leading dot
    std::string path;
    bool hostOnly = true;
    bool secure = false;
    bool httpOnly = false;
    std::optional<std::chrono::system_clock::time_point> expires; // none: a session cookie
};

// Who looks at the jar: HTTP requests see HttpOnly cookies, scripts and InternetGetCookieW do not.
enum class CookieAccess { Http, Script };

class CookieJar {
public:
    static CookieJar& Process();

    // Stores the cookie of one Set-Cookie header value received from url's host; false when the
    // header is malformed or not allowed for that host (or, for script access, is HttpOnly).
    bool Store(const std::string& scheme, const std::string& host, const std::string& path,
        const std::string& setCookie, CookieAccess access);

    // "name=value; name2=value2" of the cookies that a request to url carries, longest path first;
    // empty when none match.
    std::string CookieHeader(
        const std::string& scheme, const std::string& host, const std::string& path, CookieAccess access);

    // Every live cookie, for a browser that loads them into its own store.
    std::vector<Cookie> Cookies();

    // Forgets every cookie.
    void Clear();

    // Parses a cookie date (RFC 6265, section 5.1.1); nothing when it is not one.
    static std::optional<std::chrono::system_clock::time_point> ParseDate(const std::string& text);
};

}
