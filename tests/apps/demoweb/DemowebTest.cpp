// demoweb over real loopback sockets: the exact bytes of a request in, the answer out.
#include "DemowebServer.h"
#include "TestRoot.h"

#include <arpa/inet.h>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <memory>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using testing::HasSubstr;
using testing::Not;
using testing::StartsWith;
using testing_support::DemowebServer;

namespace {

int Connect(int port)
{
    const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
    timeval timeout { 5, 0 };
    setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    return socket;
}

// Sends request and reads until demoweb closes the connection or limit bytes came.
std::string Exchange(int port, const std::string& request, size_t limit = 1 << 20)
{
    const int socket = Connect(port);
    EXPECT_EQ(send(socket, request.data(), request.size(), 0), static_cast<ssize_t>(request.size()));
    std::string answer;
    char buffer[16384];
    for (ssize_t count; answer.size() < limit && (count = recv(socket, buffer, sizeof buffer, 0)) > 0;)
        answer.append(buffer, static_cast<size_t>(count));
    close(socket);
    return answer;
}

std::string Body(const std::string& answer)
{
    const size_t end = answer.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : answer.substr(end + 4);
}

struct AnswerCase {
    const char* name;
    std::string request;
    const char* statusLine;
    std::vector<std::string> contains;
    std::vector<std::string> lacks;
};

TEST(Demoweb, AnswersEachRequestAsItsFilesSay)
{
    DemowebServer server;
    const std::string close = "Connection: close\r\n\r\n";
    const AnswerCase cases[] = {
        { "origin form", "GET /redirect/target.txt HTTP/1.1\r\nHost: demoweb.test\r\n" + close, "HTTP/1.1 200 OK",
            { "Content-Type: text/plain", "Content-Length: 20", "\r\n\r\nthe redirect target\n" }, {} },
        { "absolute form", "GET http://demoweb.test/redirect/302 HTTP/1.1\r\n" + close, "HTTP/1.1 302 Found",
            { "Location: http://demoweb.test/redirect/target.txt\r\n" }, {} },
        { "loopback host", "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n" + close, "HTTP/1.1 200 OK", { "<h1>demoweb</h1>" },
            {} },
        { "unknown host", "GET http://nowhere.test/ HTTP/1.1\r\n" + close, "HTTP/1.1 404 Not Found", {}, {} },
        { "escape from the host folder", "GET http://demoweb.test/../localhost/index.html HTTP/1.1\r\n" + close,
            "HTTP/1.1 404 Not Found", {}, { "<h1>demoweb</h1>" } },
        { "head of a length past 2^31", "HEAD http://demoweb.test/media/huge.flv HTTP/1.1\r\n" + close,
            "HTTP/1.1 200 OK", { "Content-Length: 3000000000\r\n" }, {} },
        { "no type when the head names none", "HEAD http://demoweb.test/media/untyped HTTP/1.1\r\n" + close,
            "HTTP/1.1 200 OK", { "Content-Length: 2048" }, { "Content-Type" } },
        { "chunked body", "GET http://demoweb.test/media/chunked.flv HTTP/1.1\r\n" + close, "HTTP/1.1 200 OK",
            { "Transfer-Encoding: chunked\r\n", "\r\n\r\n10000\r\nabcdefghijklmnopqrstuvwxyzabcd", "\r\n0\r\n\r\n" },
            { "Content-Length" } },
        { "several cookies", "GET http://demoweb.test/cookies/set HTTP/1.1\r\n" + close, "HTTP/1.1 200 OK",
            { "Set-Cookie: session=abc123; Path=/\r\n", "Set-Cookie: secret=hidden; Path=/; HttpOnly\r\n" }, {} },
        { "echo of the request", "GET http://demoweb.test/echo HTTP/1.1\r\nCookie: a=b\r\n" + close, "HTTP/1.1 200 OK",
            { "\r\n\r\nGET http://demoweb.test/echo HTTP/1.1\r\nCookie: a=b\r\n" }, {} },
        { "not HTTP", "\x16\x03\x01\x02\xff\r\n\r\n", "HTTP/1.1 400 Bad Request", {}, {} },
        { "unknown version", "GET / HTTP/2.0\r\n\r\n", "HTTP/1.1 400 Bad Request", {}, {} },
        { "relative target", "GET index.html HTTP/1.1\r\nHost: demoweb.test\r\n\r\n", "HTTP/1.1 400 Bad Request", {},
            {} },
        { "head past its limit", "GET / HTTP/1.1\r\nX: " + std::string(70000, 'x') + "\r\n\r\n",
            "HTTP/1.1 400 Bad Request", {}, {} },
    };
    for (const auto& test : cases) {
        const std::string answer = Exchange(server.Port(), test.request);
        EXPECT_THAT(answer, StartsWith(std::string(test.statusLine) + "\r\n")) << test.name;
        for (const auto& text : test.contains)
            EXPECT_THAT(answer, HasSubstr(text)) << test.name;
        for (const auto& text : test.lacks)
            EXPECT_THAT(answer, Not(HasSubstr(text))) << test.name;
    }
}

TEST(Demoweb, LogsEachRequestWithItsNotableHeaders)
{
    DemowebServer server;
    Exchange(server.Port(),
        "GET /echo?x=1 HTTP/1.1\r\nHost: Demoweb.test:80\r\nUser-Agent: Probe \"1\"\r\nCookie: a=b\r\nX-Other: "
        "no\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(server.WaitForRequest("/echo"),
        "GET http://Demoweb.test:80/echo?x=1 User-Agent=\"Probe \\\"1\\\"\" Cookie=\"a=b\"");
}

TEST(Demoweb, KeepsTheConnectionForTheNextRequest)
{
    DemowebServer server;
    const std::string answer = Exchange(server.Port(),
        "GET http://demoweb.test/redirect/target.txt HTTP/1.1\r\n\r\n"
        "GET http://demoweb.test/redirect/301 HTTP/1.1\r\nConnection: close\r\n\r\n");
    EXPECT_THAT(answer, HasSubstr("the redirect target\nHTTP/1.1 301 Moved Permanently\r\n"));
}

TEST(Demoweb, HostileAnswersBreakTheRulesAsNamed)
{
    DemowebServer server;
    const std::string cut = Exchange(server.Port(), "GET http://demoweb.test/hostile/cut HTTP/1.1\r\n\r\n");
    EXPECT_THAT(cut, HasSubstr("Content-Length: 100000\r\n"));
    EXPECT_EQ(Body(cut).size(), 5000u);

    const std::string endless
        = Exchange(server.Port(), "GET http://demoweb.test/hostile/endless HTTP/1.1\r\n\r\n", 3 << 20);
    EXPECT_GE(endless.size(), 3u << 20);

    const std::string garbage = Exchange(server.Port(), "GET http://demoweb.test/hostile/garbage HTTP/1.1\r\n\r\n");
    EXPECT_THAT(garbage, StartsWith("\x16\x03\x01 this is not HTTP"));
}

// CONNECT answers with TLS under a certificate for the requested host that the test root trusts.
TEST(Demoweb, TunnelsAreServedWithCertificatesTheRootTrusts)
{
    DemowebServer server;
    const int socket = Connect(server.Port());
    const std::string connect = "CONNECT www.youtube.com:443 HTTP/1.1\r\nHost: www.youtube.com:443\r\n\r\n";
    send(socket, connect.data(), connect.size(), 0);
    char head[256] = {};
    ASSERT_GT(recv(socket, head, sizeof head - 1, 0), 0);
    ASSERT_EQ(std::string(head), "HTTP/1.1 200 Connection Established\r\n\r\n");

    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    ASSERT_EQ(SSL_CTX_load_verify_locations(
                  context, (testing_support::TestRoot() + "/certs/demoweb-ca.pem").c_str(), nullptr),
        1);
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    SSL* ssl = SSL_new(context);
    SSL_set_fd(ssl, socket);
    SSL_set_tlsext_host_name(ssl, "www.youtube.com");
    SSL_set1_host(ssl, "www.youtube.com");
    ASSERT_EQ(SSL_connect(ssl), 1);
    EXPECT_EQ(SSL_get_verify_result(ssl), X509_V_OK);

    const std::string request = "GET /redirect/target.txt HTTP/1.1\r\nHost: demoweb.test\r\nConnection: close\r\n\r\n";
    SSL_write(ssl, request.data(), static_cast<int>(request.size()));
    std::string answer;
    char buffer[4096];
    for (int count; (count = SSL_read(ssl, buffer, sizeof buffer)) > 0;)
        answer.append(buffer, static_cast<size_t>(count));
    EXPECT_THAT(answer, HasSubstr("the redirect target"));
    EXPECT_FALSE(server.WaitForRequest("GET https://demoweb.test/redirect/target.txt").empty());
    SSL_free(ssl);
    SSL_CTX_free(context);
    close(socket);
}

}

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

TEST(Demoweb, KeepsTheRootsAuthorityForLaterRuns)
{
    const std::string certificate = testing_support::TestRoot() + "/certs/demoweb-ca.pem";
    std::string first;
    {
        DemowebServer server;
        first = ReadFile(certificate);
    }
    EXPECT_THAT(first, StartsWith("-----BEGIN CERTIFICATE-----"));
    DemowebServer again;
    EXPECT_EQ(ReadFile(certificate), first);
    EXPECT_EQ(std::filesystem::status(testing_support::TestRoot() + "/demoweb-ca.key").permissions()
            & std::filesystem::perms::others_read,
        std::filesystem::perms::none);
}

}

// A test that dies leaves no demoweb behind: the server ends with the thread that started it.
TEST(Demoweb, EndsWithTheThreadThatStartedIt)
{
    std::unique_ptr<DemowebServer> server;
    std::thread([&server] { server = std::make_unique<DemowebServer>(testing_support::RootProxy::Leave); }).join();
    ASSERT_TRUE(server);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(server->Port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool refused = false;
    for (int attempt = 0; attempt < 500 && !refused; ++attempt) {
        const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
        refused = connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0;
        close(socket);
        if (!refused)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(refused) << "demoweb still listens after the thread that started it ended";
}
