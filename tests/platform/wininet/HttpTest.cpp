// WinINet's HTTP functions against demoweb over real loopback HTTP and HTTPS, through the proxy.
#include "wininet.h"

#include "DemowebServer.h"
#include "TestRoot.h"
#include "errhandlingapi.h"
#include "processthreadsapi.h"
#include "synchapi.h"
#include "winreg.h"

#include "handleapi.h"

#include <arpa/inet.h>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <netinet/in.h>
#include <optional>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using testing::HasSubstr;
using testing::Not;
using testing::StartsWith;

namespace {

std::u16string Wide(const std::string& text)
{
    return std::u16string(text.begin(), text.end());
}

std::string Narrow(const std::u16string& text)
{
    return std::string(text.begin(), text.end());
}

struct Body {
    std::string bytes;
    BOOL ok = TRUE;
    DWORD error = 0;
};

Body ReadAll(HINTERNET request, DWORD chunk = 8192, size_t limit = 64 << 20)
{
    Body body;
    std::string buffer(chunk, '\0');
    for (;;) {
        DWORD read = 0;
        if (!InternetReadFile(request, buffer.data(), chunk, &read)) {
            body.ok = FALSE;
            body.error = GetLastError();
            return body;
        }
        if (read == 0 || body.bytes.size() > limit)
            return body;
        body.bytes.append(buffer.data(), read);
    }
}

int UnusedPort()
{
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
    close(listener);
    return ntohs(address.sin_port);
}

std::string QueryText(HINTERNET request, DWORD level, DWORD* index = nullptr)
{
    char buffer[4096] = {};
    DWORD length = sizeof buffer;
    if (!HttpQueryInfoA(request, level, buffer, &length, index))
        return "<error " + std::to_string(GetLastError()) + ">";
    return std::string(buffer, length);
}

class WininetHttp : public testing::Test {
protected:
    // A session with the root's proxy setting, which points at demoweb.
    HINTERNET OpenSession(const char16_t* agent = u"WininetTest/1.0")
    {
        HINTERNET session = InternetOpenW(agent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
        EXPECT_NE(session, nullptr);
        return session;
    }

    HINTERNET OpenUrl(HINTERNET session, const std::string& url, DWORD flags = 0, const char16_t* headers = nullptr)
    {
        return InternetOpenUrlW(session, Wide(url).c_str(), headers, headers ? static_cast<DWORD>(-1) : 0, flags, 0);
    }

    testing_support::DemowebServer m_server;
};

TEST_F(WininetHttp, OpensAUrlAndStreamsItsBody)
{
    HINTERNET session = OpenSession();
    HINTERNET request = OpenUrl(session, "http://demoweb.test/pages/1mib.html");
    ASSERT_NE(request, nullptr) << GetLastError();
    const Body body = ReadAll(request, 1000);
    EXPECT_TRUE(body.ok);
    ASSERT_EQ(body.bytes.size(), 1048576u);
    for (size_t offset : { size_t(0), size_t(26 * 1000 + 3), size_t(1048575) })
        EXPECT_EQ(body.bytes[offset], static_cast<char>('a' + offset % 26)) << offset;
    DWORD read = 1;
    char byte;
    EXPECT_TRUE(InternetReadFile(request, &byte, 1, &read)); // after the end, still the end
    EXPECT_EQ(read, 0u);
    EXPECT_TRUE(InternetCloseHandle(request));
    EXPECT_TRUE(InternetCloseHandle(session));
    EXPECT_THAT(m_server.WaitForRequest("/pages/1mib.html"),
        StartsWith("GET http://demoweb.test/pages/1mib.html User-Agent=\"WininetTest/1.0\""));
}

TEST_F(WininetHttp, QueryInfoFollowsWinInetsBufferRules)
{
    HINTERNET session = OpenSession();
    HINTERNET request = OpenUrl(session, "http://demoweb.test/media/clip.mp4");
    ASSERT_NE(request, nullptr) << GetLastError();

    // Text, ANSI: the size needed counts the terminator, the size returned does not.
    char small[4];
    DWORD length = sizeof small;
    EXPECT_FALSE(HttpQueryInfoA(request, HTTP_QUERY_CONTENT_TYPE, small, &length, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(length, 10u);
    char exact[10];
    EXPECT_TRUE(HttpQueryInfoA(request, HTTP_QUERY_CONTENT_TYPE, exact, &length, nullptr));
    EXPECT_STREQ(exact, "video/mp4");
    EXPECT_EQ(length, 9u);

    // Text, wide: sizes are in bytes.
    length = 0;
    EXPECT_FALSE(HttpQueryInfoW(request, HTTP_QUERY_CONTENT_TYPE, nullptr, &length, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(length, 20u);
    WCHAR wide[10];
    EXPECT_TRUE(HttpQueryInfoW(request, HTTP_QUERY_CONTENT_TYPE, wide, &length, nullptr));
    EXPECT_EQ(std::u16string(wide), u"video/mp4");
    EXPECT_EQ(length, 18u);

    // Numbers.
    DWORD number = 0;
    length = sizeof number;
    EXPECT_TRUE(HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &number, &length, nullptr));
    EXPECT_EQ(number, 4096u);
    EXPECT_EQ(length, 4u);
    EXPECT_TRUE(HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &number, &length, nullptr));
    EXPECT_EQ(number, 200u);
    length = 2;
    EXPECT_FALSE(
        HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &number, &length, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(QueryText(request, HTTP_QUERY_CONTENT_LENGTH), "4096");
    EXPECT_EQ(QueryText(request, HTTP_QUERY_STATUS_CODE), "200");
    EXPECT_EQ(QueryText(request, HTTP_QUERY_STATUS_TEXT), "OK");

    // The whole head, and a header that is not there.
    const std::string raw = QueryText(request, HTTP_QUERY_RAW_HEADERS_CRLF);
    EXPECT_THAT(raw, StartsWith("HTTP/1.1 200 OK\r\n"));
    EXPECT_THAT(raw, HasSubstr("\r\nSet-Cookie: media=granted; Path=/media\r\n"));
    EXPECT_THAT(raw, testing::EndsWith("\r\n\r\n"));
    length = sizeof small;
    EXPECT_FALSE(HttpQueryInfoA(request, HTTP_QUERY_LOCATION, small, &length, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_HTTP_HEADER_NOT_FOUND));
    InternetCloseHandle(session);
}

TEST_F(WininetHttp, ContentLengthPast2To31AndChunkedBodies)
{
    HINTERNET session = OpenSession();
    HINTERNET huge = OpenUrl(session, "http://demoweb.test/media/huge.flv", INTERNET_FLAG_NO_CACHE_WRITE);
    ASSERT_NE(huge, nullptr) << GetLastError();
    DWORD number = 0, length = sizeof number;
    EXPECT_TRUE(HttpQueryInfoW(huge, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &number, &length, nullptr));
    EXPECT_EQ(number, 3000000000u);
    InternetCloseHandle(huge); // without reading the three gigabytes

    HINTERNET chunked = OpenUrl(session, "http://demoweb.test/media/chunked.flv");
    ASSERT_NE(chunked, nullptr) << GetLastError();
    length = sizeof number;
    EXPECT_FALSE(
        HttpQueryInfoW(chunked, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &number, &length, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_HTTP_HEADER_NOT_FOUND));
    EXPECT_EQ(ReadAll(chunked).bytes.size(), 100000u);
    InternetCloseHandle(session);
}

TEST_F(WininetHttp, FollowsRedirectsUnlessToldNot)
{
    HINTERNET session = OpenSession();
    for (const char* code : { "301", "302", "303", "307", "relative" }) {
        HINTERNET request = OpenUrl(session, std::string("http://demoweb.test/redirect/") + code);
        ASSERT_NE(request, nullptr) << code << " " << GetLastError();
        EXPECT_EQ(QueryText(request, HTTP_QUERY_STATUS_CODE), "200") << code;
        EXPECT_EQ(ReadAll(request).bytes, "the redirect target\n") << code;
        InternetCloseHandle(request);
    }

    HINTERNET kept = OpenUrl(session, "http://demoweb.test/redirect/301", INTERNET_FLAG_NO_AUTO_REDIRECT);
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(QueryText(kept, HTTP_QUERY_STATUS_CODE), "301");
    EXPECT_EQ(QueryText(kept, HTTP_QUERY_LOCATION), "http://demoweb.test/redirect/target.txt");
    EXPECT_THAT(ReadAll(kept).bytes, HasSubstr("Moved to"));

    EXPECT_EQ(OpenUrl(session, "http://demoweb.test/redirect/loop"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_HTTP_REDIRECT_FAILED));
    InternetCloseHandle(session);
}

TEST_F(WininetHttp, RedirectsBetweenHttpAndHttps)
{
    HINTERNET session = OpenSession();
    HINTERNET secure = OpenUrl(session, "http://demoweb.test/redirect/to-https");
    ASSERT_NE(secure, nullptr) << GetLastError();
    EXPECT_EQ(ReadAll(secure).bytes, "the redirect target\n");
    EXPECT_FALSE(m_server.WaitForRequest("GET https://demoweb.test/redirect/target.txt").empty());

    EXPECT_EQ(OpenUrl(session, "https://demoweb.test/redirect/to-http"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR));
    HINTERNET allowed
        = OpenUrl(session, "https://demoweb.test/redirect/to-http", INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP);
    ASSERT_NE(allowed, nullptr) << GetLastError();
    EXPECT_EQ(ReadAll(allowed).bytes, "the redirect target\n");
    InternetCloseHandle(session);
}

TEST_F(WininetHttp, HttpsIsVerifiedAgainstTheRootsCertificates)
{
    HINTERNET session = OpenSession();
    HINTERNET request = OpenUrl(session, "https://www.youtube.com/redirect/none");
    ASSERT_NE(request, nullptr) << GetLastError();
    EXPECT_EQ(QueryText(request, HTTP_QUERY_STATUS_CODE), "404");
    InternetCloseHandle(request);

    std::filesystem::remove(testing_support::TestRoot() + "/certs/demoweb-ca.pem");
    EXPECT_EQ(OpenUrl(session, "https://vimeo.com/"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_INVALID_CA));
    InternetCloseHandle(session);
}

TEST_F(WininetHttp, CookiesAreStoredAndSentUnlessARequestSaysNo)
{
    HINTERNET session = OpenSession();
    HINTERNET refused = OpenUrl(session, "http://demoweb.test/cookies/set", INTERNET_FLAG_NO_COOKIES);
    ASSERT_NE(refused, nullptr);
    DWORD size = 0;
    EXPECT_FALSE(InternetGetCookieW(u"http://demoweb.test/", nullptr, nullptr, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));

    HINTERNET set = OpenUrl(session, "http://demoweb.test/cookies/redirect");
    ASSERT_NE(set, nullptr);
    // Repeated headers are reached through the index, which each success moves on.
    DWORD index = 0;
    EXPECT_EQ(QueryText(set, HTTP_QUERY_SET_COOKIE, &index), "session=abc123; Path=/");
    EXPECT_EQ(QueryText(set, HTTP_QUERY_SET_COOKIE, &index), "secret=hidden; Path=/; HttpOnly");
    EXPECT_EQ(index, 2u);
    index = 6;
    EXPECT_EQ(QueryText(set, HTTP_QUERY_SET_COOKIE, &index), "<error 12150>");
    EXPECT_EQ(index, 6u);
    WCHAR cookies[512] = {};
    size = 512;
    ASSERT_TRUE(InternetGetCookieW(u"http://demoweb.test/cookies/x", nullptr, cookies, &size));
    // The redirect's cookie and the page's, except the HttpOnly, secure, expired and deeper ones.
    EXPECT_EQ(std::u16string(cookies), u"hop=1; session=abc123; wide=all");

    HINTERNET echo = OpenUrl(session, "http://demoweb.test/cookies/inner/echo.txt");
    ASSERT_NE(echo, nullptr);
    EXPECT_THAT(
        ReadAll(echo).bytes, HasSubstr("\r\nCookie: scoped=deep; hop=1; session=abc123; secret=hidden; wide=all\r\n"));

    HINTERNET anonymous = OpenUrl(session, "http://demoweb.test/echo.txt", INTERNET_FLAG_NO_COOKIES);
    ASSERT_NE(anonymous, nullptr);
    EXPECT_THAT(ReadAll(anonymous).bytes, Not(HasSubstr("Cookie:")));
    InternetCloseHandle(session);
}

TEST_F(WininetHttp, RequestsCarryTheirHeadersAndFlags)
{
    HINTERNET session = OpenSession();
    HINTERNET connection = InternetConnectW(
        session, u"demoweb.test", INTERNET_DEFAULT_HTTP_PORT, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    ASSERT_NE(connection, nullptr);
    LPCWSTR accept[] = { u"text/html", u"*/*", nullptr };
    HINTERNET request = HttpOpenRequestW(connection, u"GET", u"/echo.txt?x=1", nullptr, u"http://referrer.test/",
        accept, INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_RELOAD, 0);
    ASSERT_NE(request, nullptr);
    // An explicit length sends only that much of the headers.
    const std::u16string headers = u"User-Agent: Explicit/2.0\r\nX-Cut: yes\r\nX-Never: sent";
    ASSERT_TRUE(HttpSendRequestW(request, headers.c_str(), 38, nullptr, 0)) << GetLastError();
    const std::string echo = ReadAll(request).bytes;
    EXPECT_THAT(echo, StartsWith("GET http://demoweb.test/echo.txt?x=1 HTTP/1.1\r\n"));
    EXPECT_THAT(echo, HasSubstr("\r\nUser-Agent: Explicit/2.0\r\n"));
    EXPECT_THAT(echo, HasSubstr("\r\nX-Cut: yes\r\n"));
    EXPECT_THAT(echo, HasSubstr("\r\nReferer: http://referrer.test/\r\n"));
    EXPECT_THAT(echo, HasSubstr("\r\nAccept: text/html, */*\r\n"));
    EXPECT_THAT(echo, HasSubstr("\r\nPragma: no-cache\r\n"));
    EXPECT_THAT(echo, Not(HasSubstr("X-Never")));
    EXPECT_THAT(echo, Not(HasSubstr("WininetTest")));

    HINTERNET bad = HttpOpenRequestW(connection, u"GET", u"/", nullptr, nullptr, nullptr, 0, 0);
    EXPECT_FALSE(HttpSendRequestW(bad, u"no colon here", static_cast<DWORD>(-1), nullptr, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_HTTP_INVALID_HEADER));
    InternetCloseHandle(session);
}

TEST_F(WininetHttp, RefusesWhatItCannotOpen)
{
    HINTERNET session = OpenSession();
    const struct {
        const char* url;
        DWORD error;
    } cases[] = {
        { "www.youtube.com/watch?v=1", ERROR_INTERNET_UNRECOGNIZED_SCHEME },
        { "ftp://files.example/pub", ERROR_INTERNET_UNRECOGNIZED_SCHEME },
        { "mailto:someone@example.com", ERROR_INTERNET_UNRECOGNIZED_SCHEME },
        { "http://", ERROR_INTERNET_INVALID_URL },
        { "http://demoweb.test:70000/", ERROR_INTERNET_INVALID_URL },
        { "http://demoweb.test/hostile/garbage", ERROR_HTTP_INVALID_SERVER_RESPONSE },
    };
    for (const auto& test : cases) {
        EXPECT_EQ(OpenUrl(session, test.url), nullptr) << test.url;
        EXPECT_EQ(GetLastError(), test.error) << test.url;
    }
    EXPECT_EQ(
        InternetOpenUrlW(reinterpret_cast<HINTERNET>(0x1234), u"http://demoweb.test/", nullptr, 0, 0, 0), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(InternetCloseHandle(reinterpret_cast<HINTERNET>(0x1234)));

    // Nothing listens on a port that was just given up.
    HINTERNET direct = InternetOpenW(u"Direct", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    EXPECT_EQ(OpenUrl(direct, "http://127.0.0.1:" + std::to_string(UnusedPort()) + "/"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_CANNOT_CONNECT));
    InternetCloseHandle(direct);
    InternetCloseHandle(session);
}

TEST_F(WininetHttp, DirectSessionsReachTheServerItself)
{
    HINTERNET session = InternetOpenW(u"Direct", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    HINTERNET request = OpenUrl(session, "http://" + m_server.Address() + "/");
    ASSERT_NE(request, nullptr) << GetLastError();
    EXPECT_THAT(ReadAll(request).bytes, HasSubstr("<h1>demoweb</h1>"));
    EXPECT_THAT(m_server.WaitForRequest("User-Agent=\"Direct\""), StartsWith("GET http://" + m_server.Address() + "/"));
    InternetCloseHandle(session);
}

TEST_F(WininetHttp, BrokenBodiesFailTheRead)
{
    HINTERNET session = OpenSession();
    HINTERNET cut = OpenUrl(session, "http://demoweb.test/hostile/cut");
    ASSERT_NE(cut, nullptr);
    const Body body = ReadAll(cut);
    EXPECT_FALSE(body.ok);
    EXPECT_EQ(body.error, static_cast<DWORD>(ERROR_INTERNET_CONNECTION_ABORTED));
    EXPECT_EQ(body.bytes.size(), 5000u);
    DWORD size = 0;
    EXPECT_FALSE(GetUrlCacheEntryInfoW(u"http://demoweb.test/hostile/cut", nullptr, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    InternetCloseHandle(session);
}

TEST_F(WininetHttp, ReadsReturnWhatHasArrivedOfATricklingBody)
{
    HINTERNET session = OpenSession();
    HINTERNET trickle = OpenUrl(session, "http://demoweb.test/hostile/trickle");
    ASSERT_NE(trickle, nullptr);
    std::string body;
    int reads = 0;
    for (DWORD read = 1; read != 0; ++reads) {
        char buffer[64];
        ASSERT_TRUE(InternetReadFile(trickle, buffer, sizeof buffer, &read));
        body.append(buffer, read);
    }
    EXPECT_EQ(body, "slowly, byte by byte\n");
    EXPECT_GT(reads, 3); // the reads did not wait for the whole body
    InternetCloseHandle(session);
}

TEST_F(WininetHttp, TheReceiveTimeOutEndsAStalledAnswer)
{
    HINTERNET session = OpenSession();
    DWORD timeout = 0, length = sizeof timeout;
    ASSERT_TRUE(InternetQueryOptionW(session, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, &length));
    EXPECT_EQ(timeout, 30000u);
    ASSERT_TRUE(InternetQueryOptionW(session, INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, &length));
    EXPECT_EQ(timeout, 60000u);
    ASSERT_TRUE(InternetQueryOptionW(session, INTERNET_OPTION_SEND_TIMEOUT, &timeout, &length));
    EXPECT_EQ(timeout, 30000u);
    timeout = 300;
    ASSERT_TRUE(InternetSetOptionW(session, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout));
    EXPECT_FALSE(InternetSetOptionW(session, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, 2));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_BAD_OPTION_LENGTH));

    EXPECT_EQ(OpenUrl(session, "http://demoweb.test/hostile/stall"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_TIMEOUT));
    InternetCloseHandle(session);
}

// The client connection ("address:port") that demoweb saw a request of session arrive on.
std::string PeerOfRequest(HINTERNET session, HINTERNET connection)
{
    HINTERNET request = HttpOpenRequestW(connection, u"GET", u"/peer", nullptr, nullptr, nullptr,
        INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_RELOAD, 0);
    if (!request || !HttpSendRequestW(request, nullptr, 0, nullptr, 0))
        return "<error " + std::to_string(GetLastError()) + ">";
    const std::string peer = ReadAll(request).bytes;
    InternetCloseHandle(request);
    return peer;
}

TEST_F(WininetHttp, ASessionKeepsItsConnectionsForItsNextRequests)
{
    HINTERNET session = OpenSession();
    HINTERNET secure = InternetConnectW(session, u"demoweb.test", INTERNET_DEFAULT_HTTPS_PORT, nullptr, nullptr,
        INTERNET_SERVICE_HTTP, INTERNET_FLAG_SECURE, 0);
    const std::string tunnel = PeerOfRequest(session, secure);
    ASSERT_THAT(tunnel, StartsWith("127.0.0.1:"));
    EXPECT_EQ(PeerOfRequest(session, secure), tunnel) << "https, through the proxy's tunnel";

    HINTERNET connection = InternetConnectW(
        session, u"demoweb.test", INTERNET_DEFAULT_HTTP_PORT, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    ASSERT_NE(connection, nullptr);
    const std::string first = PeerOfRequest(session, connection);
    ASSERT_THAT(first, StartsWith("127.0.0.1:"));
    EXPECT_EQ(PeerOfRequest(session, connection), first);
    HINTERNET url = OpenUrl(session, "http://demoweb.test/peer", INTERNET_FLAG_KEEP_CONNECTION);
    ASSERT_NE(url, nullptr);
    EXPECT_EQ(ReadAll(url).bytes, first) << "InternetOpenUrlW on the same session";
    InternetCloseHandle(url);

    // A request closed before its body ended takes its connection with it: nothing is drained.
    HINTERNET endless = OpenUrl(session, "http://demoweb.test/hostile/endless", INTERNET_FLAG_KEEP_CONNECTION);
    ASSERT_NE(endless, nullptr);
    char buffer[1024];
    DWORD read = 0;
    ASSERT_TRUE(InternetReadFile(endless, buffer, sizeof buffer, &read));
    InternetCloseHandle(endless);
    const std::string afterAbandoned = PeerOfRequest(session, connection);
    EXPECT_THAT(afterAbandoned, StartsWith("127.0.0.1:"));
    EXPECT_NE(afterAbandoned, first);

    HINTERNET other = OpenSession();
    HINTERNET otherConnection = InternetConnectW(
        other, u"demoweb.test", INTERNET_DEFAULT_HTTP_PORT, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    const std::string ofOther = PeerOfRequest(other, otherConnection);
    EXPECT_THAT(ofOther, StartsWith("127.0.0.1:"));
    EXPECT_NE(ofOther, afterAbandoned) << "sessions do not share connections";
    InternetCloseHandle(other);
    InternetCloseHandle(session);
}

// A loopback listener that never accepts: with room in its backlog, connections complete and
// then nobody reads what they send; with a full backlog, connecting never completes.
class SilentListener {
public:
    enum class Backlog { Room, Full };

    explicit SilentListener(Backlog backlog)
    {
        m_listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(m_listener, backlog == Backlog::Full ? 0 : 16);
        getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &size);
        m_port = ntohs(address.sin_port);
        // A backlog of 0 holds one connection; the next ones' SYNs are dropped.
        for (int i = 0; backlog == Backlog::Full && i < 2; ++i) {
            const int filler = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address);
            m_fillers.push_back(filler);
        }
    }
    ~SilentListener()
    {
        for (int filler : m_fillers)
            close(filler);
        close(m_listener);
    }
    std::string Url() const
    {
        return "http://127.0.0.1:" + std::to_string(m_port) + "/";
    }

private:
    int m_listener = -1;
    int m_port = 0;
    std::vector<int> m_fillers;
};

enum class Target { Demoweb, ListenerWithRoom, ListenerWithFullBacklog };

struct TimeoutCase {
    const char* name;
    Target target;
    const char* url; // for demoweb
    DWORD option; // the one time-out set short; the others are set to an hour
    size_t bodySize; // a request body to POST, or 0 for a GET
    DWORD expected; // the error of the exchange, or 0 when it completes
};

const TimeoutCase kTimeoutCases[] = {
    { "a trickle within the receive time-out", Target::Demoweb, "http://demoweb.test/hostile/trickle",
        INTERNET_OPTION_RECEIVE_TIMEOUT, 0, 0 },
    { "a body slower than the receive time-out", Target::Demoweb, "http://demoweb.test/hostile/drip",
        INTERNET_OPTION_RECEIVE_TIMEOUT, 0, ERROR_INTERNET_TIMEOUT },
    { "an answer later than the receive time-out", Target::Demoweb, "http://demoweb.test/hostile/stall",
        INTERNET_OPTION_RECEIVE_TIMEOUT, 0, ERROR_INTERNET_TIMEOUT },
    { "a server that takes none of the request", Target::ListenerWithRoom, nullptr, INTERNET_OPTION_SEND_TIMEOUT,
        64u << 20, ERROR_INTERNET_TIMEOUT },
    { "a server that says nothing once the request is sent", Target::ListenerWithRoom, nullptr,
        INTERNET_OPTION_RECEIVE_TIMEOUT, 1000, ERROR_INTERNET_TIMEOUT },
    { "a connection that never completes", Target::ListenerWithFullBacklog, nullptr, INTERNET_OPTION_CONNECT_TIMEOUT, 0,
        ERROR_INTERNET_TIMEOUT },
};

// The whole exchange (send, then read to the end); 0 or the error that ended it.
DWORD Exchange(HINTERNET session, const std::string& url, size_t bodySize)
{
    URL_COMPONENTSW parts {};
    parts.dwStructSize = sizeof parts;
    WCHAR host[256], path[1024];
    parts.lpszHostName = host;
    parts.dwHostNameLength = 256;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = 1024;
    const std::u16string wide = Wide(url);
    if (!InternetCrackUrlW(wide.c_str(), 0, 0, &parts))
        return GetLastError();
    HINTERNET connection = InternetConnectW(session, host, parts.nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    HINTERNET request = HttpOpenRequestW(
        connection, bodySize ? u"POST" : u"GET", path, nullptr, nullptr, nullptr, INTERNET_FLAG_RELOAD, 0);
    std::string body(bodySize, 'x');
    if (!HttpSendRequestW(request, nullptr, 0, bodySize ? body.data() : nullptr, static_cast<DWORD>(bodySize)))
        return GetLastError();
    const Body read = ReadAll(request);
    return read.ok ? 0 : read.error;
}

TEST_F(WininetHttp, EachTimeOutEndsTheWaitItNames)
{
    for (const TimeoutCase& row : kTimeoutCases) {
        std::optional<SilentListener> listener;
        if (row.target != Target::Demoweb)
            listener.emplace(
                row.target == Target::ListenerWithRoom ? SilentListener::Backlog::Room : SilentListener::Backlog::Full);
        const std::string url = listener ? listener->Url() : row.url;
        HINTERNET session
            = listener ? InternetOpenW(u"Timeouts", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0) : OpenSession();
        for (DWORD option :
            { INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT }) {
            DWORD timeout = option == row.option ? 500 : 3600000;
            ASSERT_TRUE(InternetSetOptionW(session, option, &timeout, sizeof timeout)) << row.name;
        }
        // Should the time-out not act, closing the session ends the exchange.
        std::atomic<DWORD> error = 0xFFFFFFFF;
        HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        std::thread exchange([&] {
            error = Exchange(session, url, row.bodySize);
            SetEvent(done);
        });
        const bool inTime = WaitForSingleObject(done, 20000) == WAIT_OBJECT_0;
        InternetCloseHandle(session);
        exchange.join();
        CloseHandle(done);
        EXPECT_TRUE(inTime) << row.name << ": the time-out did not end the exchange";
        EXPECT_EQ(error.load(), row.expected) << row.name;
    }
}

struct EndlessRead {
    HINTERNET request;
    DWORD error = 0;
};

// Reads until a read fails, and keeps why.
DWORD WINAPI ReadEndlessBody(LPVOID parameter)
{
    auto& read = *static_cast<EndlessRead*>(parameter);
    char buffer[65536];
    DWORD count = 0;
    while (InternetReadFile(read.request, buffer, sizeof buffer, &count) && count > 0) { }
    read.error = GetLastError();
    return 0;
}

TEST_F(WininetHttp, AStoppedThreadsTransferIsCancelled)
{
    HINTERNET session = OpenSession();
    HINTERNET endless = OpenUrl(session, "http://demoweb.test/hostile/endless");
    ASSERT_NE(endless, nullptr);
    EndlessRead read { endless };
    HANDLE thread = CreateThread(nullptr, 0, ReadEndlessBody, &read, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, 300), static_cast<DWORD>(WAIT_TIMEOUT)); // still reading
    ASSERT_TRUE(TerminateThread(thread, 0));
    ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    EXPECT_EQ(read.error, static_cast<DWORD>(ERROR_INTERNET_OPERATION_CANCELLED));
    CloseHandle(thread);
    InternetCloseHandle(session);
}

TEST_F(WininetHttp, ClosingTheSessionCancelsAReadOnAnotherThread)
{
    HINTERNET session = OpenSession();
    // A body whose next byte is two seconds away, so that the read is waiting when the close comes.
    HINTERNET endless = OpenUrl(session, "http://demoweb.test/hostile/drip");
    ASSERT_NE(endless, nullptr);
    EndlessRead read { endless };
    std::thread reader([&] { ReadEndlessBody(&read); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_TRUE(InternetCloseHandle(session));
    reader.join();
    EXPECT_EQ(read.error, static_cast<DWORD>(ERROR_INTERNET_OPERATION_CANCELLED));
    char byte;
    DWORD count;
    EXPECT_FALSE(InternetReadFile(endless, &byte, 1, &count)); // closed with its session
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(WininetHttp, TheCacheKeepsFinishedResponses)
{
    HINTERNET session = OpenSession();
    DWORD size = 0;
    EXPECT_FALSE(GetUrlCacheEntryInfoW(u"http://demoweb.test/redirect/target.txt", nullptr, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    HINTERNET request = OpenUrl(session, "http://demoweb.test/redirect/target.txt");
    ASSERT_NE(request, nullptr);
    ReadAll(request);
    HINTERNET uncached = OpenUrl(session, "http://demoweb.test/media/clip.mp4", INTERNET_FLAG_NO_CACHE_WRITE);
    ReadAll(uncached);
    InternetCloseHandle(session);

    EXPECT_FALSE(GetUrlCacheEntryInfoW(u"http://demoweb.test/media/clip.mp4", nullptr, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    size = 0;
    EXPECT_FALSE(GetUrlCacheEntryInfoW(u"http://DEMOWEB.test:80/redirect/target.txt", nullptr, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    ASSERT_GT(size, sizeof(INTERNET_CACHE_ENTRY_INFOW));
    std::vector<char> buffer(size);
    auto* info = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOW*>(buffer.data());
    DWORD tooSmall = size - 1;
    EXPECT_FALSE(GetUrlCacheEntryInfoW(u"http://demoweb.test/redirect/target.txt", info, &tooSmall));
    EXPECT_EQ(tooSmall, size);
    ASSERT_TRUE(GetUrlCacheEntryInfoW(u"http://demoweb.test/redirect/target.txt", info, &size));
    EXPECT_EQ(std::u16string(info->lpszSourceUrlName), u"http://demoweb.test/redirect/target.txt");
    EXPECT_EQ(info->dwSizeLow, 20u);
    const std::string localFile = Narrow(info->lpszLocalFileName);
    EXPECT_THAT(localFile, StartsWith(testing_support::TestRoot() + "/cache/"));
    std::ifstream file(localFile);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), "the redirect target\n");

    // A cached URL asked for again without INTERNET_FLAG_RELOAD is still answered by the server.
    HINTERNET again = OpenSession();
    for (const char16_t* visit : { u"X-Visit: first\r\n", u"X-Visit: second\r\n" }) {
        HINTERNET echo = OpenUrl(again, "http://demoweb.test/echo.txt", 0, visit);
        ASSERT_NE(echo, nullptr);
        EXPECT_THAT(ReadAll(echo).bytes, HasSubstr(Narrow(visit)));
        InternetCloseHandle(echo);
    }
    size = 0;
    EXPECT_FALSE(GetUrlCacheEntryInfoW(u"http://demoweb.test/echo.txt", nullptr, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER)) << "the first visit was cached";
    InternetCloseHandle(again);
}

TEST_F(WininetHttp, ConnectedStateReportsTheLanAndTheProxy)
{
    DWORD flags = 0;
    ASSERT_TRUE(InternetGetConnectedState(&flags, 0));
    EXPECT_EQ(flags, static_cast<DWORD>(INTERNET_CONNECTION_LAN | INTERNET_CONNECTION_PROXY));
    testing_support::DemowebServer::SetRootProxy(false, m_server.Address());
    ASSERT_TRUE(InternetGetConnectedState(&flags, 0));
    EXPECT_EQ(flags, static_cast<DWORD>(INTERNET_CONNECTION_LAN));

    // WinINet keeps the setting it read until it is told that the setting changed.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", 0,
                  KEY_SET_VALUE, &key),
        ERROR_SUCCESS);
    const DWORD enable = 1;
    ASSERT_EQ(RegSetValueExW(key, u"ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&enable), sizeof enable),
        ERROR_SUCCESS);
    RegCloseKey(key);
    ASSERT_TRUE(InternetGetConnectedState(&flags, 0));
    EXPECT_EQ(flags, static_cast<DWORD>(INTERNET_CONNECTION_LAN));
    ASSERT_TRUE(InternetSetOptionW(nullptr, INTERNET_OPTION_SETTINGS_CHANGED, nullptr, 0));
    ASSERT_TRUE(InternetGetConnectedState(&flags, 0));
    EXPECT_EQ(flags, static_cast<DWORD>(INTERNET_CONNECTION_LAN | INTERNET_CONNECTION_PROXY));
}

// Access types: the root's setting (read when the session opens), direct, or the caller's proxy.
TEST_F(WininetHttp, SessionsTakeTheProxyTheirAccessTypeNames)
{
    const std::string dead = "127.0.0.1:" + std::to_string(UnusedPort());
    const std::string local = "http://localhost:" + std::to_string(m_server.Port()) + "/";
    const std::string loopback = "http://127.0.0.1:" + std::to_string(m_server.Port()) + "/";
    testing_support::DemowebServer::SetRootProxy(
        true, "http=" + dead + ";https=" + dead, "<local>;*.example;127.0.0.2");
    for (DWORD type : { INTERNET_OPEN_TYPE_PRECONFIG, INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY }) {
        HINTERNET session = InternetOpenW(u"Preconfig", type, nullptr, nullptr, 0);
        HINTERNET bypassed = OpenUrl(session, local);
        EXPECT_NE(bypassed, nullptr) << type << " " << GetLastError(); // "localhost" has no dot
        EXPECT_EQ(OpenUrl(session, loopback), nullptr) << type;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_CANNOT_CONNECT)) << type;
        InternetCloseHandle(session);
    }

    HINTERNET direct = InternetOpenW(u"Direct", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    EXPECT_NE(OpenUrl(direct, loopback), nullptr) << GetLastError();
    InternetCloseHandle(direct);

    const std::u16string proxy = Wide(m_server.Address());
    HINTERNET explicitProxy = InternetOpenW(u"Explicit", INTERNET_OPEN_TYPE_PROXY, proxy.c_str(), nullptr, 0);
    HINTERNET request = OpenUrl(explicitProxy, "http://demoweb.test/redirect/target.txt");
    ASSERT_NE(request, nullptr) << GetLastError();
    EXPECT_EQ(ReadAll(request).bytes, "the redirect target\n");
    InternetCloseHandle(explicitProxy);
    EXPECT_EQ(InternetOpenW(u"NoProxy", INTERNET_OPEN_TYPE_PROXY, nullptr, nullptr, 0), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

}
