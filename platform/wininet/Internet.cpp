// The handle functions of WinINet: sessions, connections, requests, their options and the
// response headers, over Transfer (libcurl) with redirects, cookies and the cache done here.
#include "wininet.h"

#include "CookieJar.h"
#include "Handles.h"
#include "Utf.h"
#include "errhandlingapi.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <optional>
#include <strings.h>

using namespace wininet;

namespace {

// WinINet gives up after this many redirects of one request.
constexpr int kMaxRedirects = 5;
// Additional headers that a caller may pass to one request.
constexpr size_t kMaxRequestHeaders = 64 * 1024;

BOOL Fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

HINTERNET FailHandle(DWORD error)
{
    SetLastError(error);
    return nullptr;
}

std::string Utf8(LPCWSTR text)
{
    return platform::ToUtf8(platform::WideView(text));
}

bool IsRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// The response head split into its status line and its header lines.
struct HeaderLines {
    std::string statusLine;
    std::vector<std::pair<std::string, std::string>> headers;
};

HeaderLines SplitHead(const std::string& head)
{
    HeaderLines lines;
    size_t position = 0;
    while (position < head.size()) {
        const size_t end = std::min(head.find("\r\n", position), head.size());
        const std::string line = head.substr(position, end - position);
        position = end + 2;
        if (lines.statusLine.empty()) {
            lines.statusLine = line;
            continue;
        }
        const size_t colon = line.find(':');
        if (line.empty() || colon == std::string::npos)
            continue;
        const size_t valueStart = line.find_first_not_of(" \t", colon + 1);
        lines.headers.emplace_back(
            line.substr(0, colon), valueStart == std::string::npos ? std::string() : line.substr(valueStart));
    }
    return lines;
}

const std::string* FindHeader(const HeaderLines& lines, const std::string& name, DWORD index = 0)
{
    for (const auto& [key, value] : lines.headers)
        if (strcasecmp(key.c_str(), name.c_str()) == 0 && index-- == 0)
            return &value;
    return nullptr;
}

// The additional headers of a call, as lines; false for a line that is no header.
bool ParseHeaders(LPCWSTR headers, DWORD length, std::vector<std::string>& lines)
{
    if (!headers)
        return true;
    std::u16string_view text
        = length == 0xFFFFFFFF ? platform::WideView(headers) : std::u16string_view(headers, length);
    if (text.size() > kMaxRequestHeaders)
        return false;
    text = text.substr(0, text.find(u'\0'));
    const std::string all = platform::ToUtf8(text);
    size_t position = 0;
    while (position < all.size()) {
        size_t end = all.find('\n', position);
        if (end == std::string::npos)
            end = all.size();
        std::string line = all.substr(position, end - position);
        position = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        const size_t colon = line.find(':');
        if (colon == std::string::npos || colon == 0)
            return false;
        lines.push_back(line);
    }
    return true;
}

bool HasHeader(const std::vector<std::string>& lines, const char* name)
{
    const size_t length = std::strlen(name);
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
        return line.size() > length && line[length] == ':' && strncasecmp(line.c_str(), name, length) == 0;
    });
}

Url RequestUrl(const Request& request)
{
    const Connection& connection = *request.connection;
    // As in WinINet, only the flag makes a request secure; port 443 alone does not.
    const bool secure = (request.flags & INTERNET_FLAG_SECURE) || (connection.flags & INTERNET_FLAG_SECURE);
    Url url;
    url.nScheme = secure ? INTERNET_SCHEME_HTTPS : INTERNET_SCHEME_HTTP;
    url.scheme = secure ? "https" : "http";
    std::string host = connection.server;
    std::transform(host.begin(), host.end(), host.begin(), [](unsigned char c) { return std::tolower(c); });
    url.host = host;
    url.port = connection.port == INTERNET_INVALID_PORT_NUMBER ? DefaultPort(url.nScheme) : connection.port;
    std::string object = request.object.empty() ? "/" : request.object;
    if (object[0] != '/')
        object.insert(0, "/");
    const size_t extra = std::min(object.find_first_of("?#"), object.size());
    url.path = object.substr(0, extra);
    url.extra = object.substr(extra);
    return url;
}

// Sends request (following redirects unless it says not to) until a final response's headers are in.
DWORD Send(Request& request, const std::vector<std::string>& extraHeaders, const std::string& body)
{
    const Session& session = *request.connection->session;
    Url url = RequestUrl(request);
    std::string method = request.verb;
    std::string payload = body;
    request.transfer.reset();
    request.cache.reset();
    request.bodyEnded = false;

    for (int redirects = 0;; ++redirects) {
        TransferRequest spec;
        spec.url = url.Text();
        spec.method = method;
        spec.http10 = request.http10;
        spec.body = payload;
        spec.agent = session.agent;
        spec.proxy = platform::ProxyFor(session.proxy, url.scheme, url.host);
        {
            std::lock_guard lock(TableLock());
            spec.connectTimeout = request.timeouts.connect;
            spec.sendTimeout = request.timeouts.send;
            spec.receiveTimeout = request.timeouts.receive;
        }
        spec.headers = extraHeaders;
        if (!request.referrer.empty() && !HasHeader(spec.headers, "Referer"))
            spec.headers.push_back("Referer: " + request.referrer);
        if (!HasHeader(spec.headers, "Accept")) {
            std::string accept;
            for (const auto& type : request.acceptTypes)
                accept += (accept.empty() ? "" : ", ") + type;
            spec.headers.push_back("Accept:" + (accept.empty() ? std::string() : " " + accept));
        }
        if ((request.flags & INTERNET_FLAG_PRAGMA_NOCACHE) && !HasHeader(spec.headers, "Pragma"))
            spec.headers.push_back("Pragma: no-cache");
        if (!(request.flags & INTERNET_FLAG_NO_COOKIES)) {
            const std::string cookies = platform::CookieJar::Process().CookieHeader(
                url.scheme, url.host, url.path, platform::CookieAccess::Http);
            if (!cookies.empty())
                spec.headers.push_back("Cookie: " + cookies);
        }

        auto transfer = std::make_unique<Transfer>(session.connections);
        if (const DWORD error = transfer->Start(spec, request.closed))
            return error;
        const HeaderLines head = SplitHead(transfer->Head());
        if (!(request.flags & INTERNET_FLAG_NO_COOKIES)) {
            for (DWORD index = 0; const std::string* cookie = FindHeader(head, "Set-Cookie", index); ++index)
                platform::CookieJar::Process().Store(
                    url.scheme, url.host, url.path, *cookie, platform::CookieAccess::Http);
        }

        const std::string* location = FindHeader(head, "Location");
        Url next;
        if ((request.flags & INTERNET_FLAG_NO_AUTO_REDIRECT) || !IsRedirect(transfer->Status()) || !location
            || !ResolveUrl(url, *location, next)
            || (next.nScheme != INTERNET_SCHEME_HTTP && next.nScheme != INTERNET_SCHEME_HTTPS)) {
            request.transfer = std::move(transfer);
            if (method == "GET" && request.transfer->Status() == 200
                && !(request.flags & INTERNET_FLAG_NO_CACHE_WRITE)) {
                request.cache = platform::CacheWriter::Begin(url.Text(), request.transfer->Head());
                if (platform::CacheWriter* cache = request.cache.get())
                    request.transfer->SetBodyObserver(
                        [cache](const char* data, size_t size) { cache->Write(data, size); });
            }
            return 0;
        }
        if (redirects >= kMaxRedirects)
            return ERROR_HTTP_REDIRECT_FAILED;
        // Leaving https for plain http needs the caller's consent; going secure never does.
        if (url.nScheme == INTERNET_SCHEME_HTTPS && next.nScheme == INTERNET_SCHEME_HTTP
            && !(request.flags & INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP))
            return ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR;
        if (transfer->Status() == 303
            || ((transfer->Status() == 301 || transfer->Status() == 302) && method == "POST")) {
            method = "GET";
            payload.clear();
        }
        url = next;
    }
}

std::shared_ptr<Request> OpenRequest(const std::shared_ptr<Connection>& connection, LPCWSTR verb, LPCWSTR object,
    LPCWSTR version, LPCWSTR referrer, LPCWSTR* acceptTypes, DWORD flags)
{
    auto request = std::make_shared<Request>();
    request->connection = connection;
    request->verb = verb && *verb ? Utf8(verb) : "GET";
    request->object = object ? Utf8(object) : "/";
    request->http10 = version && Utf8(version) == "HTTP/1.0";
    request->referrer = referrer ? Utf8(referrer) : std::string();
    for (LPCWSTR* type = acceptTypes; type && *type; ++type)
        request->acceptTypes.push_back(Utf8(*type));
    request->flags = flags | connection->flags;
    return request;
}

DWORD* TimeoutField(Timeouts& timeouts, DWORD option)
{
    switch (option) {
    case INTERNET_OPTION_CONNECT_TIMEOUT:
        return &timeouts.connect;
    case INTERNET_OPTION_SEND_TIMEOUT:
    case INTERNET_OPTION_DATA_SEND_TIMEOUT:
        return &timeouts.send;
    case INTERNET_OPTION_RECEIVE_TIMEOUT:
    case INTERNET_OPTION_DATA_RECEIVE_TIMEOUT:
        return &timeouts.receive;
    case INTERNET_OPTION_CONNECT_RETRIES:
        return &timeouts.retries;
    default:
        return nullptr;
    }
}

// WinINet reads the root's proxy setting once and keeps it until a program says that the setting
// changed (INTERNET_OPTION_SETTINGS_CHANGED or INTERNET_OPTION_REFRESH, which programs that write
// the Internet Settings send), so that opening a session or asking for the connected state costs
// no registry lookup. A session keeps the setting it was opened with.
class ProxySettingCache {
public:
    static ProxySettingCache& Process()
    {
        static ProxySettingCache cache;
        return cache;
    }

    platform::ProxySetting Get()
    {
        std::lock_guard lock(m_lock);
        if (!m_setting)
            m_setting = platform::ReadProxySetting();
        return *m_setting;
    }

    void Forget()
    {
        std::lock_guard lock(m_lock);
        m_setting.reset();
    }

private:
    std::mutex m_lock;
    std::optional<platform::ProxySetting> m_setting;
};

const std::pair<DWORD, const char*> kHeaderLevels[] = {
    { HTTP_QUERY_MIME_VERSION, "MIME-Version" },
    { HTTP_QUERY_CONTENT_TYPE, "Content-Type" },
    { HTTP_QUERY_CONTENT_TRANSFER_ENCODING, "Content-Transfer-Encoding" },
    { HTTP_QUERY_CONTENT_ID, "Content-ID" },
    { HTTP_QUERY_CONTENT_DESCRIPTION, "Content-Description" },
    { HTTP_QUERY_CONTENT_LENGTH, "Content-Length" },
    { HTTP_QUERY_CONTENT_LANGUAGE, "Content-Language" },
    { HTTP_QUERY_ALLOW, "Allow" },
    { HTTP_QUERY_PUBLIC, "Public" },
    { HTTP_QUERY_DATE, "Date" },
    { HTTP_QUERY_EXPIRES, "Expires" },
    { HTTP_QUERY_LAST_MODIFIED, "Last-Modified" },
    { HTTP_QUERY_MESSAGE_ID, "Message-ID" },
    { HTTP_QUERY_URI, "URI" },
    { HTTP_QUERY_DERIVED_FROM, "Derived-From" },
    { HTTP_QUERY_COST, "Cost" },
    { HTTP_QUERY_LINK, "Link" },
    { HTTP_QUERY_PRAGMA, "Pragma" },
    { HTTP_QUERY_CONNECTION, "Connection" },
    { HTTP_QUERY_ACCEPT, "Accept" },
    { HTTP_QUERY_ACCEPT_CHARSET, "Accept-Charset" },
    { HTTP_QUERY_ACCEPT_ENCODING, "Accept-Encoding" },
    { HTTP_QUERY_ACCEPT_LANGUAGE, "Accept-Language" },
    { HTTP_QUERY_AUTHORIZATION, "Authorization" },
    { HTTP_QUERY_CONTENT_ENCODING, "Content-Encoding" },
    { HTTP_QUERY_FORWARDED, "Forwarded" },
    { HTTP_QUERY_FROM, "From" },
    { HTTP_QUERY_IF_MODIFIED_SINCE, "If-Modified-Since" },
    { HTTP_QUERY_LOCATION, "Location" },
    { HTTP_QUERY_ORIG_URI, "Orig-URI" },
    { HTTP_QUERY_REFERER, "Referer" },
    { HTTP_QUERY_RETRY_AFTER, "Retry-After" },
    { HTTP_QUERY_SERVER, "Server" },
    { HTTP_QUERY_TITLE, "Title" },
    { HTTP_QUERY_USER_AGENT, "User-Agent" },
    { HTTP_QUERY_WWW_AUTHENTICATE, "WWW-Authenticate" },
    { HTTP_QUERY_PROXY_AUTHENTICATE, "Proxy-Authenticate" },
    { HTTP_QUERY_ACCEPT_RANGES, "Accept-Ranges" },
    { HTTP_QUERY_SET_COOKIE, "Set-Cookie" },
    { HTTP_QUERY_COOKIE, "Cookie" },
    { HTTP_QUERY_TRANSFER_ENCODING, "Transfer-Encoding" },
};

enum class TextWidth { Ansi, Wide };

// HttpQueryInfoA and HttpQueryInfoW: sizes are in bytes for both.
BOOL QueryInfo(HINTERNET hRequest, DWORD level, LPVOID buffer, LPDWORD length, LPDWORD index, TextWidth width)
{
    auto request = FindHandle<Request>(hRequest, HandleKind::Request);
    if (!request)
        return FALSE;
    if (!length)
        return Fail(ERROR_INVALID_PARAMETER);
    if (level & (HTTP_QUERY_FLAG_REQUEST_HEADERS | HTTP_QUERY_FLAG_SYSTEMTIME))
        return Fail(ERROR_HTTP_INVALID_QUERY_REQUEST);
    std::string head;
    {
        std::lock_guard lock(request->busy);
        if (!request->transfer)
            return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
        head = request->transfer->Head();
    }
    const HeaderLines lines = SplitHead(head);
    const DWORD which = level & HTTP_QUERY_HEADER_MASK;
    const DWORD occurrence = index ? *index : 0;

    std::string value;
    bool multiple = false; // headers that can occur more than once advance the index
    if (which == HTTP_QUERY_RAW_HEADERS_CRLF) {
        value = head;
    } else if (which == HTTP_QUERY_RAW_HEADERS) {
        value = head;
        for (size_t at; (at = value.find("\r\n")) != std::string::npos;)
            value.replace(at, 2, std::string(1, '\0'));
    } else if (which == HTTP_QUERY_STATUS_CODE || which == HTTP_QUERY_VERSION || which == HTTP_QUERY_STATUS_TEXT) {
        const size_t first = lines.statusLine.find(' ');
        const size_t second = lines.statusLine.find(' ', first + 1);
        value = which == HTTP_QUERY_VERSION ? lines.statusLine.substr(0, first)
            : which == HTTP_QUERY_STATUS_CODE
            ? lines.statusLine.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1)
            : second == std::string::npos ? std::string()
                                          : lines.statusLine.substr(second + 1);
    } else {
        std::string name;
        if (which == HTTP_QUERY_CUSTOM) {
            if (!buffer)
                return Fail(ERROR_INVALID_PARAMETER);
            name = width == TextWidth::Ansi
                ? std::string(static_cast<const char*>(buffer), strnlen(static_cast<const char*>(buffer), *length))
                : platform::ToUtf8(std::u16string_view(static_cast<const char16_t*>(buffer),
                    std::char_traits<char16_t>::length(static_cast<const char16_t*>(buffer))));
        } else {
            for (const auto& [number, header] : kHeaderLevels)
                if (number == which)
                    name = header;
            if (name.empty())
                return Fail(ERROR_HTTP_INVALID_QUERY_REQUEST);
        }
        const std::string* found = FindHeader(lines, name, occurrence);
        if (!found)
            return Fail(ERROR_HTTP_HEADER_NOT_FOUND);
        value = *found;
        multiple = true;
    }

    if (level & HTTP_QUERY_FLAG_NUMBER) {
        char* end = nullptr;
        const unsigned long long number = std::strtoull(value.c_str(), &end, 10);
        if (value.empty() || *end != '\0' || number > 0xFFFFFFFFull)
            return Fail(ERROR_HTTP_INVALID_HEADER);
        if (!buffer || *length < sizeof(DWORD)) {
            *length = sizeof(DWORD);
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        }
        const DWORD result = static_cast<DWORD>(number);
        std::memcpy(buffer, &result, sizeof result);
        *length = sizeof(DWORD);
    } else if (width == TextWidth::Ansi) {
        if (!buffer || *length < value.size() + 1) {
            *length = static_cast<DWORD>(value.size() + 1);
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        }
        std::memcpy(buffer, value.c_str(), value.size() + 1);
        *length = static_cast<DWORD>(value.size());
    } else {
        const std::u16string wide = platform::FromUtf8(value);
        const size_t bytes = wide.size() * sizeof(char16_t);
        if (!buffer || *length < bytes + sizeof(char16_t)) {
            *length = static_cast<DWORD>(bytes + sizeof(char16_t));
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        }
        std::memcpy(buffer, wide.c_str(), bytes + sizeof(char16_t));
        *length = static_cast<DWORD>(bytes);
    }
    if (index && multiple)
        ++*index;
    return TRUE;
}

}

extern "C" HINTERNET WINAPI InternetOpenW(
    LPCWSTR lpszAgent, DWORD dwAccessType, LPCWSTR lpszProxy, LPCWSTR lpszProxyBypass, DWORD dwFlags)
{
    auto session = std::make_shared<Session>();
    session->agent = lpszAgent ? Utf8(lpszAgent) : std::string();
    switch (dwAccessType) {
    case INTERNET_OPEN_TYPE_PRECONFIG:
    case INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY:
        session->proxy = ProxySettingCache::Process().Get();
        break;
    case INTERNET_OPEN_TYPE_DIRECT:
        break;
    case INTERNET_OPEN_TYPE_PROXY:
        if (!lpszProxy || !*lpszProxy)
            return FailHandle(ERROR_INVALID_PARAMETER);
        session->proxy.enabled = true;
        session->proxy.server = Utf8(lpszProxy);
        session->proxy.bypass = lpszProxyBypass ? Utf8(lpszProxyBypass) : std::string();
        break;
    default:
        return FailHandle(ERROR_INVALID_PARAMETER);
    }
    if (dwFlags & INTERNET_FLAG_ASYNC)
        return FailHandle(ERROR_NOT_SUPPORTED); // every caller here works synchronously
    return AddHandle(session, nullptr);
}

extern "C" HINTERNET WINAPI InternetConnectW(HINTERNET hInternet, LPCWSTR lpszServerName, INTERNET_PORT nServerPort,
    LPCWSTR lpszUserName, LPCWSTR lpszPassword, DWORD dwService, DWORD dwFlags, DWORD_PTR dwContext)
{
    auto session = FindHandle<Session>(hInternet, HandleKind::Session);
    if (!session)
        return nullptr;
    if (dwService != INTERNET_SERVICE_HTTP)
        return FailHandle(ERROR_INTERNET_INVALID_OPERATION);
    if (!lpszServerName || !*lpszServerName)
        return FailHandle(ERROR_INVALID_PARAMETER);
    auto connection = std::make_shared<Connection>();
    connection->session = session;
    connection->server = Utf8(lpszServerName);
    connection->port = nServerPort;
    connection->flags = dwFlags;
    return AddHandle(connection, session);
}

extern "C" HINTERNET WINAPI HttpOpenRequestW(HINTERNET hConnect, LPCWSTR lpszVerb, LPCWSTR lpszObjectName,
    LPCWSTR lpszVersion, LPCWSTR lpszReferrer, LPCWSTR* lplpszAcceptTypes, DWORD dwFlags, DWORD_PTR dwContext)
{
    auto connection = FindHandle<Connection>(hConnect, HandleKind::Connection);
    if (!connection)
        return nullptr;
    auto request
        = OpenRequest(connection, lpszVerb, lpszObjectName, lpszVersion, lpszReferrer, lplpszAcceptTypes, dwFlags);
    return AddHandle(request, connection);
}

extern "C" BOOL WINAPI HttpSendRequestW(
    HINTERNET hRequest, LPCWSTR lpszHeaders, DWORD dwHeadersLength, LPVOID lpOptional, DWORD dwOptionalLength)
{
    auto request = FindHandle<Request>(hRequest, HandleKind::Request);
    if (!request)
        return FALSE;
    std::vector<std::string> headers;
    if (!ParseHeaders(lpszHeaders, dwHeadersLength, headers))
        return Fail(ERROR_HTTP_INVALID_HEADER);
    const std::string body = lpOptional ? std::string(static_cast<const char*>(lpOptional), dwOptionalLength) : "";
    std::lock_guard lock(request->busy);
    if (const DWORD error = Send(*request, headers, body)) {
        request->transfer.reset();
        return Fail(request->closed ? ERROR_INTERNET_OPERATION_CANCELLED : error);
    }
    return TRUE;
}

extern "C" HINTERNET WINAPI InternetOpenUrlW(HINTERNET hInternet, LPCWSTR lpszUrl, LPCWSTR lpszHeaders,
    DWORD dwHeadersLength, DWORD dwFlags, DWORD_PTR dwContext)
{
    auto session = FindHandle<Session>(hInternet, HandleKind::Session);
    if (!session)
        return nullptr;
    if (!lpszUrl)
        return FailHandle(ERROR_INVALID_PARAMETER);
    Url url;
    if (const DWORD error = ParseUrl(platform::WideView(lpszUrl), url))
        return FailHandle(error);
    if (url.nScheme != INTERNET_SCHEME_HTTP && url.nScheme != INTERNET_SCHEME_HTTPS)
        return FailHandle(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
    std::vector<std::string> headers;
    if (!ParseHeaders(lpszHeaders, dwHeadersLength, headers))
        return FailHandle(ERROR_HTTP_INVALID_HEADER);

    auto connection = std::make_shared<Connection>();
    connection->session = session;
    connection->server = url.host;
    connection->port = url.port;
    connection->hidden = true;
    if (url.nScheme == INTERNET_SCHEME_HTTPS)
        connection->flags = INTERNET_FLAG_SECURE;
    AddHidden(connection, session);
    auto request = std::make_shared<Request>();
    request->connection = connection;
    request->verb = "GET";
    request->object = url.path + url.extra.substr(0, url.extra.find('#'));
    request->flags = dwFlags | connection->flags;
    const HINTERNET handle = AddHandle(request, connection);

    std::unique_lock lock(request->busy);
    if (const DWORD error = Send(*request, headers, {})) {
        const bool closed = request->closed;
        lock.unlock();
        CloseHandleTree(handle);
        return FailHandle(closed ? ERROR_INTERNET_OPERATION_CANCELLED : error);
    }
    return handle;
}

extern "C" BOOL WINAPI InternetReadFile(
    HINTERNET hFile, LPVOID lpBuffer, DWORD dwNumberOfBytesToRead, LPDWORD lpdwNumberOfBytesRead)
{
    if (!lpdwNumberOfBytesRead)
        return Fail(ERROR_INVALID_PARAMETER);
    *lpdwNumberOfBytesRead = 0;
    auto request = FindHandle<Request>(hFile, HandleKind::Request);
    if (!request)
        return FALSE;
    if (!lpBuffer && dwNumberOfBytesToRead)
        return Fail(ERROR_INVALID_PARAMETER);
    std::lock_guard lock(request->busy);
    if (!request->transfer)
        return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    if (dwNumberOfBytesToRead == 0)
        return TRUE;
    size_t read = 0;
    if (const DWORD error
        = request->transfer->Read(static_cast<char*>(lpBuffer), dwNumberOfBytesToRead, read, request->closed)) {
        request->cache.reset(); // a broken body is not kept
        return Fail(request->closed ? ERROR_INTERNET_OPERATION_CANCELLED : error);
    }
    if (read == 0 && !request->bodyEnded) {
        request->bodyEnded = true;
        if (request->cache)
            request->cache->Commit();
    }
    *lpdwNumberOfBytesRead = static_cast<DWORD>(read);
    return TRUE;
}

extern "C" BOOL WINAPI InternetCloseHandle(HINTERNET hInternet)
{
    if (!CloseHandleTree(hInternet))
        return Fail(ERROR_INVALID_HANDLE);
    return TRUE;
}

extern "C" BOOL WINAPI HttpQueryInfoA(
    HINTERNET hRequest, DWORD dwInfoLevel, LPVOID lpBuffer, LPDWORD lpdwBufferLength, LPDWORD lpdwIndex)
{
    return QueryInfo(hRequest, dwInfoLevel, lpBuffer, lpdwBufferLength, lpdwIndex, TextWidth::Ansi);
}

extern "C" BOOL WINAPI HttpQueryInfoW(
    HINTERNET hRequest, DWORD dwInfoLevel, LPVOID lpBuffer, LPDWORD lpdwBufferLength, LPDWORD lpdwIndex)
{
    return QueryInfo(hRequest, dwInfoLevel, lpBuffer, lpdwBufferLength, lpdwIndex, TextWidth::Wide);
}

extern "C" BOOL WINAPI InternetSetOptionW(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer, DWORD dwBufferLength)
{
    if (dwOption == INTERNET_OPTION_SETTINGS_CHANGED || dwOption == INTERNET_OPTION_REFRESH) {
        if (hInternet && !FindAnyHandle(hInternet))
            return FALSE;
        ProxySettingCache::Process().Forget(); // the next session reads the registry again
        return TRUE;
    }
    auto object = FindAnyHandle(hInternet);
    if (!object)
        return FALSE;
    std::lock_guard lock(TableLock());
    DWORD* field = TimeoutField(object->timeouts, dwOption);
    if (!field)
        return Fail(dwOption == INTERNET_OPTION_HANDLE_TYPE ? ERROR_INTERNET_OPTION_NOT_SETTABLE
                                                            : ERROR_INTERNET_INVALID_OPTION);
    if (!lpBuffer || dwBufferLength < sizeof(DWORD))
        return Fail(ERROR_INTERNET_BAD_OPTION_LENGTH);
    std::memcpy(field, lpBuffer, sizeof(DWORD));
    return TRUE;
}

extern "C" BOOL WINAPI InternetQueryOptionW(
    HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer, LPDWORD lpdwBufferLength)
{
    if (!lpdwBufferLength)
        return Fail(ERROR_INVALID_PARAMETER);
    auto object = FindAnyHandle(hInternet);
    if (!object)
        return FALSE;
    DWORD value = 0;
    if (dwOption == INTERNET_OPTION_HANDLE_TYPE) {
        value = object->kind == HandleKind::Session  ? INTERNET_HANDLE_TYPE_INTERNET
            : object->kind == HandleKind::Connection ? INTERNET_HANDLE_TYPE_CONNECT_HTTP
                                                     : INTERNET_HANDLE_TYPE_HTTP_REQUEST;
    } else {
        std::lock_guard lock(TableLock());
        DWORD* field = TimeoutField(object->timeouts, dwOption);
        if (!field)
            return Fail(ERROR_INTERNET_INVALID_OPTION);
        value = *field;
    }
    if (!lpBuffer || *lpdwBufferLength < sizeof(DWORD)) {
        *lpdwBufferLength = sizeof(DWORD);
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(lpBuffer, &value, sizeof value);
    *lpdwBufferLength = sizeof(DWORD);
    return TRUE;
}

extern "C" BOOL WINAPI InternetGetConnectedState(LPDWORD lpdwFlags, DWORD dwReserved)
{
    if (lpdwFlags)
        *lpdwFlags
            = INTERNET_CONNECTION_LAN | (ProxySettingCache::Process().Get().enabled ? INTERNET_CONNECTION_PROXY : 0);
    return TRUE;
}
