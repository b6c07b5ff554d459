#include "HttpHelpers.h"

#include "wininet.h"

#include <cstring>
#include <memory>

const MimeExtension ResponseMimeTable[10] = {
    { u"video/x-flv", u"flv" },
    { u"video/flv", u"flv" },
    { u"application/octet-stream", u"flv" },
    { u"flv-application/octet-stream", u"flv" },
    { u"video/f4v", u"f4v" },
    { u"video/x-f4v", u"f4v" },
    { u"video/x-mp4", u"mp4" },
    { u"video/mp4", u"mp4" },
    { u"video/m4v", u"m4v" },
    { u"video/x-msvideo", u"flv" },
};

namespace {

constexpr int kUrlLength = 1024;
constexpr int kExtensionLength = 20;
constexpr DWORD kFirstHeaderBuffer = 10;

template <typename Components, typename Cracked> void PointAtRecord(Components& parts, Cracked* cracked)
{
    parts.dwStructSize = sizeof parts;
    parts.lpszScheme = cracked->scheme;
    parts.dwSchemeLength = kUrlComponentLength;
    parts.lpszHostName = cracked->host;
    parts.dwHostNameLength = kUrlComponentLength;
    parts.lpszUserName = cracked->user;
    parts.dwUserNameLength = kUrlComponentLength;
    parts.lpszPassword = cracked->password;
    parts.dwPasswordLength = kUrlComponentLength;
    parts.lpszUrlPath = cracked->path;
    parts.dwUrlPathLength = kUrlComponentLength;
    parts.lpszExtraInfo = cracked->extra;
    parts.dwExtraInfoLength = kUrlComponentLength;
}

// The session both GetTempVideoInfo and the prober open: through the configured proxy when the
// connected state reports one.
struct SessionCloser {
    void operator()(void* session) const
    {
        InternetCloseHandle(session);
    }
};
using SessionHandle = std::unique_ptr<void, SessionCloser>;

SessionHandle OpenPreconfiguredSession(LPCWSTR agent)
{
    DWORD state = 0;
    InternetGetConnectedState(&state, 0);
    const DWORD access = (state & INTERNET_CONNECTION_PROXY) ? INTERNET_OPEN_TYPE_PRECONFIG
                                                             : INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY;
    return SessionHandle(InternetOpenW(agent, access, nullptr, nullptr, 0));
}

constexpr DWORD kPlayRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_KEEP_CONNECTION
    | INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_AUTH
    | INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP | INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS;

// A GET for the cracked URL's path and extra information on plain HTTP port 80, whatever its
// scheme and port said; nullptr when the connection, the request or the send fails.
HINTERNET SendPlayRequest(HINTERNET session, const CrackedUrl& url, const std::u16string& headers)
{
    HINTERNET connection = InternetConnectW(
        session, url.host, INTERNET_DEFAULT_HTTP_PORT, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    if (!connection)
        return nullptr;
    const std::u16string target = std::u16string(url.path) + url.extra;
    HINTERNET request
        = HttpOpenRequestW(connection, u"GET", target.c_str(), nullptr, nullptr, nullptr, kPlayRequestFlags, 0);
    if (!request)
        return nullptr;
    if (!HttpSendRequestW(
            request, headers.empty() ? nullptr : headers.c_str(), static_cast<DWORD>(headers.size()), nullptr, 0))
        return nullptr;
    return request;
}

// The Location header of request into a zeroed buffer of kUrlLength characters; false without one.
bool QueryLocation(HINTERNET request, WCHAR (&location)[kUrlLength])
{
    std::memset(location, 0, sizeof location);
    DWORD size = sizeof location;
    return HttpQueryInfoW(request, HTTP_QUERY_LOCATION, location, &size, nullptr);
}

// The raw headers as lower-case ANSI text, grown as the platform asks; empty when unreadable.
std::string LowerCaseHeaders(HINTERNET request)
{
    DWORD size = kFirstHeaderBuffer;
    std::unique_ptr<char[]> buffer(new char[size]());
    while (!HttpQueryInfoA(request, HTTP_QUERY_RAW_HEADERS_CRLF, buffer.get(), &size, nullptr)) {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            return {};
        size += 1;
        buffer.reset(new char[size]());
    }
    std::string headers(buffer.get(), size);
    for (char& c : headers)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return headers;
}

template <typename Char> Char* RemoveWhere(Char* text, auto remove)
{
    if (!text)
        return text;
    Char* out = text;
    for (Char* in = text; *in; ++in)
        if (!remove(*in))
            *out++ = *in;
    *out = 0;
    return text;
}

}

BOOL CrackUrl(LPCWSTR url, CrackedUrl* cracked)
{
    URL_COMPONENTSW parts {};
    PointAtRecord(parts, cracked);
    return InternetCrackUrlW(url, 0, 0, &parts);
}

BOOL CrackUrlAnsi(LPCSTR url, CrackedUrlAnsi* cracked)
{
    URL_COMPONENTSA parts {};
    PointAtRecord(parts, cracked);
    return InternetCrackUrlA(url, 0, 0, &parts);
}

int GetSiteIconUrl(LPWSTR pageUrl, LPWSTR iconUrl)
{
    if (!pageUrl || !iconUrl)
        return 0;
    auto cracked = std::make_unique<CrackedUrl>();
    if (CrackUrl(pageUrl, cracked.get()) && cracked->path[0] && std::u16string_view(cracked->path) != u"/") {
        std::u16string joined = cracked->path;
        joined += cracked->extra;
        // A join longer than a component can hold is not searched for: the URL is cut at its
        // path alone, so the icon address is never built from a truncated join.
        const std::u16string_view search = joined.size() <= kUrlComponentLength - 1
            ? std::u16string_view(joined)
            : std::u16string_view(cracked->path);
        // The search starts behind "://": a path such as "/a" also occurs in "http://a.example/a".
        const std::u16string_view whole(pageUrl);
        const size_t authority = whole.find(u"://");
        const size_t at = whole.find(search, authority == std::u16string_view::npos ? 0 : authority + 3);
        if (at != std::u16string_view::npos)
            pageUrl[at] = 0;
    }
    const int length = lstrlenW(pageUrl);
    if (length > 0 && pageUrl[length - 1] == u'/')
        pageUrl[length - 1] = 0;
    wsprintfW(iconUrl, u"%s/favicon.ico", pageUrl);
    return 1;
}

int GetUrlVideoExtension(LPCSTR url, LPSTR extension)
{
    if (!url || !extension)
        return 0;
    auto cracked = std::make_unique<CrackedUrlAnsi>();
    if (!CrackUrlAnsi(url, cracked.get()) || !cracked->path[0])
        return 0;
    const char* dot = std::strrchr(cracked->path, '.');
    if (!dot)
        return 0;
    std::string tail = dot;
    for (char& c : tail)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    for (const char* known : { ".mp4", ".flv", ".f4v", ".m4v", ".hlv" }) {
        const size_t at = tail.find(known);
        if (at != std::string::npos) {
            std::memcpy(extension, tail.c_str() + at + 1, 3);
            extension[3] = 0;
            return 1;
        }
    }
    return 0;
}

void SplitString(std::u16string text, std::u16string delimiter, std::vector<std::u16string>& tokens)
{
    if (text.empty() || delimiter.empty())
        return;
    size_t position = 0;
    for (size_t hit; (hit = text.find(delimiter, position)) != std::u16string::npos;
         position = hit + delimiter.size()) {
        if (hit != position)
            tokens.push_back(text.substr(position, hit - position));
    }
    tokens.push_back(text.substr(position));
}

LPWSTR StripLineBreaks(LPWSTR text)
{
    return RemoveWhere(text, [](WCHAR c) { return c == 13 || c == 10; });
}

LPWSTR RemoveChar(LPWSTR text, WCHAR character)
{
    return RemoveWhere(text, [character](WCHAR c) { return c == character; });
}

LPWSTR ReplaceChar(LPWSTR text, WCHAR character, WCHAR replacement)
{
    for (LPWSTR at = text; at && *at; ++at)
        if (*at == character)
            *at = replacement;
    return text;
}

int LookupMimeExtension(LPCWSTR contentType, LPWSTR extension)
{
    if (!contentType || !extension)
        return 0;
    const std::u16string_view type(contentType);
    for (const auto& row : ResponseMimeTable) {
        if (type.find(row.mime) != std::u16string_view::npos) {
            lstrcpynW(extension, row.extension, kExtensionLength);
            return 1;
        }
    }
    return 0;
}

void GetUrlCookie(LPCWSTR url, std::u16string& cookie)
{
    cookie.clear();
    if (!url)
        return;
    DWORD size = 0;
    if (!InternetGetCookieW(url, nullptr, nullptr, &size) && GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return;
    std::unique_ptr<WCHAR[]> buffer(new WCHAR[size + 1]());
    DWORD length = size + 1;
    if (InternetGetCookieW(url, nullptr, buffer.get(), &length))
        cookie = buffer.get();
}

int GetTempVideoInfo(LPCWSTR playUrl, LPCWSTR userAgent, TempVideoInfo* info)
{
    if (!playUrl || !info)
        return 0;
    SessionHandle session = OpenPreconfiguredSession(u"GetTempVideoInfo_0.000");
    if (!session)
        return 0;
    auto play = std::make_unique<CrackedUrl>();
    CrackUrl(playUrl, play.get());
    HINTERNET request = SendPlayRequest(session.get(), *play, {});
    if (!request)
        return 0;

    WCHAR location[kUrlLength];
    if (LowerCaseHeaders(request).find("301 moved permanently") != std::string::npos
        && QueryLocation(request, location)) {
        // A Location that the platform cannot split is not guessed at.
        auto moved = std::make_unique<CrackedUrl>();
        if (!CrackUrl(location, moved.get()))
            return 0;
        const std::u16string agentHeader = u"User-Agent: " + std::u16string(userAgent ? userAgent : u"") + u"\r\n";
        request = SendPlayRequest(session.get(), *moved, agentHeader);
        if (!request)
            return 0;
    }
    if (QueryLocation(request, location))
        info->url = location;

    HINTERNET media = InternetOpenUrlW(session.get(), info->url.c_str(), nullptr, 0,
        INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE, 0);
    if (media) {
        DWORD length = 0;
        DWORD size = sizeof length;
        if (HttpQueryInfoW(media, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &length, &size, nullptr))
            info->length = length;
        WCHAR contentType[kUrlLength] = {};
        size = sizeof contentType;
        if (HttpQueryInfoW(media, HTTP_QUERY_CONTENT_TYPE, contentType, &size, nullptr)) {
            WCHAR extension[kExtensionLength] = {};
            LookupMimeExtension(contentType, extension);
            info->type = extension;
        }
    }
    GetUrlCookie(info->url.c_str(), info->cookie);
    return 1;
}
