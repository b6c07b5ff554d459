#include "CookieJar.h"

#include "UrlParts.h"
#include "Utf.h"
#include "errhandlingapi.h"
#include "wininet.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <ctime>
#include <mutex>
#include <strings.h>

namespace platform {

namespace {

// A jar that a hostile site cannot grow without bound.
constexpr size_t kMaxCookies = 3000;
constexpr size_t kMaxCookieSize = 4096;

struct StoredCookie {
    Cookie cookie;
    std::chrono::system_clock::time_point created;
};

std::mutex g_lock;
std::vector<StoredCookie> g_cookies;

std::string Trim(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

bool IsIpAddress(const std::string& host)
{
    unsigned char address[16];
    return inet_pton(AF_INET, host.c_str(), address) == 1 || inet_pton(AF_INET6, host.c_str(), address) == 1;
}

bool DomainMatches(const std::string& host, const std::string& domain)
{
    if (host == domain)
        return true;
    return !IsIpAddress(host) && host.size() > domain.size()
        && host.compare(host.size() - domain.size(), domain.size(), domain) == 0
        && host[host.size() - domain.size() - 1] == '.';
}

bool PathMatches(const std::string& requestPath, const std::string& cookiePath)
{
    if (requestPath == cookiePath)
        return true;
    return requestPath.rfind(cookiePath, 0) == 0 && (cookiePath.back() == '/' || requestPath[cookiePath.size()] == '/');
}

std::string DefaultPath(const std::string& requestPath)
{
    if (requestPath.empty() || requestPath[0] != '/')
        return "/";
    const size_t last = requestPath.rfind('/');
    return last == 0 ? "/" : requestPath.substr(0, last);
}

}

CookieJar& CookieJar::Process()
{
    static CookieJar jar;
    return jar;
}

std::optional<std::chrono::system_clock::time_point> CookieJar::ParseDate(const std::string& text)
{
    static const char* const months[]
        = { "jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec" };
    int hour = -1, minute = 0, second = 0, day = -1, month = -1, year = -1;
    auto isDelimiter = [](unsigned char c) {
        return c == 0x09 || (c >= 0x20 && c <= 0x2f) || (c >= 0x3b && c <= 0x40) || (c >= 0x5b && c <= 0x60)
            || (c >= 0x7b && c <= 0x7e);
    };
    size_t position = 0;
    while (position < text.size()) {
        while (position < text.size() && isDelimiter(text[position]))
            ++position;
        const size_t start = position;
        while (position < text.size() && !isDelimiter(text[position]))
            ++position;
        const std::string token = text.substr(start, position - start);
        if (token.empty())
            continue;
        int h, m, s;
        char rest;
        if (hour < 0 && std::sscanf(token.c_str(), "%2d:%2d:%2d%c", &h, &m, &s, &rest) == 3) {
            hour = h, minute = m, second = s;
        } else if (day < 0 && std::isdigit(static_cast<unsigned char>(token[0])) && token.size() <= 2
            && std::all_of(token.begin(), token.end(), ::isdigit)) {
            day = std::stoi(token);
        } else if (month < 0 && token.size() >= 3 && std::isalpha(static_cast<unsigned char>(token[0]))) {
            for (int i = 0; i < 12; ++i)
                if (strncasecmp(token.c_str(), months[i], 3) == 0)
                    month = i;
        } else if (year < 0 && (token.size() == 2 || token.size() == 4)
            && std::all_of(token.begin(), token.end(), ::isdigit)) {
            year = std::stoi(token);
        }
    }
    if (year >= 70 && year <= 99)
        year += 1900;
    else if (year >= 0 && year <= 69)
        year += 2000;
    if (hour < 0 || day < 1 || day > 31 || month < 0 || year < 1601 || hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    std::tm parts {};
    parts.tm_year = year - 1900;
    parts.tm_mon = month;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    return std::chrono::system_clock::from_time_t(timegm(&parts));
}

bool CookieJar::Store(const std::string& scheme, const std::string& rawHost, const std::string& requestPath,
    const std::string& setCookie, CookieAccess access)
{
    if (setCookie.size() > kMaxCookieSize)
        return false;
    const std::string host = Lower(rawHost);
    const size_t firstSemicolon = setCookie.find(';');
    const std::string pair = setCookie.substr(0, firstSemicolon);
    const size_t equals = pair.find('=');
    if (equals == std::string::npos)
        return false;
    Cookie cookie;
    cookie.name = Trim(pair.substr(0, equals));
    cookie.value = Trim(pair.substr(equals + 1));
    if (cookie.name.empty())
        return false;

    const auto now = std::chrono::system_clock::now();
    std::optional<std::chrono::system_clock::time_point> maxAgeExpiry;
    std::string domain;
    std::string path;
    size_t position = firstSemicolon;
    while (position != std::string::npos) {
        const size_t next = setCookie.find(';', position + 1);
        const std::string attribute
            = setCookie.substr(position + 1, next == std::string::npos ? std::string::npos : next - position - 1);
        position = next;
        const size_t attributeEquals = attribute.find('=');
        const std::string name = Lower(Trim(attribute.substr(0, attributeEquals)));
        const std::string value
            = attributeEquals == std::string::npos ? std::string() : Trim(attribute.substr(attributeEquals + 1));
        if (name == "expires") {
            if (auto date = ParseDate(value))
                cookie.expires = date;
        } else if (name == "max-age") {
            char* end = nullptr;
            const long long seconds = std::strtoll(value.c_str(), &end, 10);
            if (!value.empty() && *end == '\0'
                && (std::isdigit(static_cast<unsigned char>(value[0])) || value[0] == '-'))
                maxAgeExpiry = seconds <= 0 ? std::chrono::system_clock::time_point::min() + std::chrono::hours(1)
                                            : now + std::chrono::seconds(std::min(seconds, 400LL * 24 * 3600));
        } else if (name == "domain") {
            domain = Lower(value);
            if (!domain.empty() && domain[0] == '.')
                domain.erase(0, 1);
        } else if (name == "path") {
            path = value;
        } else if (name == "secure") {
            cookie.secure = true;
        } else if (name == "httponly") {
            cookie.httpOnly = true;
        }
    }
    if (maxAgeExpiry)
        cookie.expires = maxAgeExpiry;
    if (domain.empty()) {
        cookie.domain = host;
    } else {
        if (!DomainMatches(host, domain) || domain.find('.') == std::string::npos)
            return false; // a cookie for another site, or for a whole top-level domain
        cookie.domain = domain;
        cookie.hostOnly = false;
    }
    cookie.path = path.empty() || path[0] != '/' ? DefaultPath(requestPath) : path;
    if (access == CookieAccess::Script && cookie.httpOnly)
        return false;
    (void)scheme; // a secure cookie from plain http is kept, as RFC 6265 allows

    std::lock_guard lock(g_lock);
    auto same = std::find_if(g_cookies.begin(), g_cookies.end(), [&](const StoredCookie& stored) {
        return stored.cookie.name == cookie.name && stored.cookie.domain == cookie.domain
            && stored.cookie.path == cookie.path;
    });
    auto created = now;
    if (same != g_cookies.end()) {
        if (access == CookieAccess::Script && same->cookie.httpOnly)
            return false;
        created = same->created;
        g_cookies.erase(same);
    }
    if (cookie.expires && *cookie.expires <= now)
        return true; // an expiry in the past deletes the cookie
    if (g_cookies.size() >= kMaxCookies)
        g_cookies.erase(g_cookies.begin()); // the oldest stored goes first
    g_cookies.push_back({ cookie, created });
    return true;
}

std::string CookieJar::CookieHeader(
    const std::string& scheme, const std::string& rawHost, const std::string& requestPath, CookieAccess access)
{
    const std::string host = Lower(rawHost);
    const std::string path = requestPath.empty() ? "/" : requestPath;
    const bool secure = Lower(scheme) == "https";
    const auto now = std::chrono::system_clock::now();
    std::vector<StoredCookie> matching;
    {
        std::lock_guard lock(g_lock);
        std::erase_if(g_cookies,
            [&](const StoredCookie& stored) { return stored.cookie.expires && *stored.cookie.expires <= now; });
        for (const auto& stored : g_cookies) {
            const Cookie& cookie = stored.cookie;
            if ((cookie.hostOnly ? host == cookie.domain : DomainMatches(host, cookie.domain))
                && PathMatches(path, cookie.path) && (!cookie.secure || secure)
                && (access == CookieAccess::Http || !cookie.httpOnly))
                matching.push_back(stored);
        }
    }
    std::stable_sort(matching.begin(), matching.end(), [](const StoredCookie& a, const StoredCookie& b) {
        if (a.cookie.path.size() != b.cookie.path.size())
            return a.cookie.path.size() > b.cookie.path.size();
        return a.created < b.created;
    });
    std::string header;
    for (const auto& stored : matching)
        header += (header.empty() ? "" : "; ") + stored.cookie.name + "=" + stored.cookie.value;
    return header;
}

std::vector<Cookie> CookieJar::Cookies()
{
    const auto now = std::chrono::system_clock::now();
    std::lock_guard lock(g_lock);
    std::vector<Cookie> cookies;
    for (const auto& stored : g_cookies)
        if (!stored.cookie.expires || *stored.cookie.expires > now)
            cookies.push_back(stored.cookie);
    return cookies;
}

void CookieJar::Clear()
{
    std::lock_guard lock(g_lock);
    g_cookies.clear();
}

}

namespace {

bool SplitCookieUrl(LPCWSTR lpszUrl, wininet::Url& url)
{
    return lpszUrl && wininet::ParseUrl(platform::WideView(lpszUrl), url) == 0
        && (url.nScheme == INTERNET_SCHEME_HTTP || url.nScheme == INTERNET_SCHEME_HTTPS);
}

}

extern "C" BOOL WINAPI InternetGetCookieW(
    LPCWSTR lpszUrl, LPCWSTR lpszCookieName, LPWSTR lpszCookieData, LPDWORD lpdwSize)
{
    wininet::Url url;
    if (!lpdwSize || !SplitCookieUrl(lpszUrl, url)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::u16string cookies = platform::FromUtf8(
        platform::CookieJar::Process().CookieHeader(url.scheme, url.host, url.path, platform::CookieAccess::Script));
    if (cookies.empty()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    // The buffer is counted in characters, but a size query answers in bytes, as WinINet does.
    const DWORD neededBytes = static_cast<DWORD>((cookies.size() + 1) * sizeof(char16_t));
    if (!lpszCookieData) {
        *lpdwSize = neededBytes;
        return TRUE;
    }
    if (*lpdwSize < cookies.size() + 1) {
        *lpdwSize = neededBytes;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(lpszCookieData, cookies.c_str(), neededBytes);
    *lpdwSize = static_cast<DWORD>(cookies.size());
    return TRUE;
}

extern "C" BOOL WINAPI InternetSetCookieW(LPCWSTR lpszUrl, LPCWSTR lpszCookieName, LPCWSTR lpszCookieData)
{
    wininet::Url url;
    if (!lpszCookieData || !SplitCookieUrl(lpszUrl, url)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string text = platform::ToUtf8(platform::WideView(lpszCookieData));
    if (lpszCookieName && *lpszCookieName)
        text = platform::ToUtf8(platform::WideView(lpszCookieName)) + "=" + text;
    if (!platform::CookieJar::Process().Store(url.scheme, url.host, url.path, text, platform::CookieAccess::Script)) {
        SetLastError(ERROR_INVALID_OPERATION);
        return FALSE;
    }
    return TRUE;
}
