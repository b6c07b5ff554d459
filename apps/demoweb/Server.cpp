#include "Server.h"

#include "Content.h"

#include <algorithm>
#include <arpa/inet.h>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <strings.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace demoweb {

namespace {

constexpr size_t kMaxHead = 64 * 1024;
constexpr size_t kMaxHeaderCount = 100;
constexpr std::uint64_t kMaxRequestBody = 1024 * 1024;
constexpr size_t kPieceSize = 64 * 1024;
constexpr size_t kEndlessChunk = 16 * 1024;

const char* const kNotableHeaders[] = { "User-Agent", "Cookie", "Referer", "Accept", "Accept-Language",
    "Accept-Encoding", "Pragma", "Cache-Control", "Range", "Authorization", "Proxy-Authorization" };

class Stream {
public:
    virtual ~Stream() = default;
    // Bytes read into buffer; 0 at the end of the stream or on error.
    virtual size_t Read(char* buffer, size_t size) = 0;
    virtual bool Write(const char* data, size_t size) = 0;
    bool Write(const std::string& text)
    {
        return Write(text.data(), text.size());
    }
};

class SocketStream final : public Stream {
public:
    explicit SocketStream(int socket)
        : m_socket(socket)
    {
    }
    size_t Read(char* buffer, size_t size) override
    {
        const ssize_t count = recv(m_socket, buffer, size, 0);
        return count > 0 ? static_cast<size_t>(count) : 0;
    }
    bool Write(const char* data, size_t size) override
    {
        while (size > 0) {
            const ssize_t count = send(m_socket, data, size, MSG_NOSIGNAL);
            if (count <= 0)
                return false;
            data += count;
            size -= static_cast<size_t>(count);
        }
        return true;
    }

private:
    int m_socket;
};

class TlsStream final : public Stream {
public:
    explicit TlsStream(SSL* ssl)
        : m_ssl(ssl)
    {
    }
    ~TlsStream() override
    {
        SSL_shutdown(m_ssl); // a close notify, as far as the peer still listens
        SSL_free(m_ssl);
    }
    size_t Read(char* buffer, size_t size) override
    {
        const int count = SSL_read(m_ssl, buffer, static_cast<int>(std::min<size_t>(size, 1 << 30)));
        return count > 0 ? static_cast<size_t>(count) : 0;
    }
    bool Write(const char* data, size_t size) override
    {
        while (size > 0) {
            const int count = SSL_write(m_ssl, data, static_cast<int>(std::min<size_t>(size, 1 << 30)));
            if (count <= 0)
                return false;
            data += count;
            size -= static_cast<size_t>(count);
        }
        return true;
    }

private:
    SSL* m_ssl;
};

struct Request {
    std::string method;
    std::string target;
    std::string version;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string head; // as received, for echo answers

    const std::string* Header(const char* name) const
    {
        for (const auto& [key, value] : headers)
            if (strcasecmp(key.c_str(), name) == 0)
                return &value;
        return nullptr;
    }
};

// Reads requests from a stream, keeping what arrived past the current request's end.
class RequestReader {
public:
    explicit RequestReader(Stream& stream)
        : m_stream(stream)
    {
    }

    enum class Outcome { Request, Closed, Malformed };

    Outcome Next(Request& request)
    {
        size_t end;
        while ((end = m_buffer.find("\r\n\r\n")) == std::string::npos) {
            if (m_buffer.size() > kMaxHead)
                return Outcome::Malformed;
            char piece[8192];
            const size_t count = m_stream.Read(piece, sizeof piece);
            if (count == 0)
                return m_buffer.empty() ? Outcome::Closed : Outcome::Malformed;
            m_buffer.append(piece, count);
        }
        if (end + 4 > kMaxHead)
            return Outcome::Malformed;
        request = Request {};
        request.head = m_buffer.substr(0, end + 4);
        m_buffer.erase(0, end + 4);
        return Parse(request) && SkipBody(request) ? Outcome::Request : Outcome::Malformed;
    }

    bool HasPendingBytes() const
    {
        return !m_buffer.empty();
    }

private:
    static bool Parse(Request& request)
    {
        size_t lineEnd = request.head.find("\r\n");
        const std::string line = request.head.substr(0, lineEnd);
        const size_t first = line.find(' ');
        const size_t second = line.find(' ', first + 1);
        if (first == std::string::npos || second == std::string::npos || first == 0)
            return false;
        request.method = line.substr(0, first);
        request.target = line.substr(first + 1, second - first - 1);
        request.version = line.substr(second + 1);
        if (request.target.empty() || (request.version != "HTTP/1.1" && request.version != "HTTP/1.0"))
            return false;
        if (!std::all_of(request.method.begin(), request.method.end(), [](char c) { return c >= 'A' && c <= 'Z'; }))
            return false;
        size_t position = lineEnd + 2;
        while (position < request.head.size() - 2) {
            lineEnd = request.head.find("\r\n", position);
            const std::string header = request.head.substr(position, lineEnd - position);
            position = lineEnd + 2;
            const size_t colon = header.find(':');
            if (colon == std::string::npos || colon == 0 || request.headers.size() >= kMaxHeaderCount)
                return false;
            const size_t valueStart = header.find_first_not_of(" \t", colon + 1);
            const size_t valueEnd = header.find_last_not_of(" \t");
            request.headers.emplace_back(header.substr(0, colon),
                valueStart == std::string::npos ? std::string() : header.substr(valueStart, valueEnd - valueStart + 1));
        }
        return true;
    }

    // Reads past a request body; demoweb's answers never depend on one.
    bool SkipBody(const Request& request)
    {
        if (request.Header("Transfer-Encoding"))
            return false; // no client of demoweb sends chunked requests
        const std::string* lengthText = request.Header("Content-Length");
        if (!lengthText)
            return true;
        std::uint64_t length = 0;
        const auto [end, error] = std::from_chars(lengthText->data(), lengthText->data() + lengthText->size(), length);
        if (error != std::errc() || end != lengthText->data() + lengthText->size() || length > kMaxRequestBody)
            return false;
        while (m_buffer.size() < length) {
            char piece[8192];
            const size_t count = m_stream.Read(piece, sizeof piece);
            if (count == 0)
                return false;
            m_buffer.append(piece, count);
        }
        m_buffer.erase(0, length);
        return true;
    }

    Stream& m_stream;
    std::string m_buffer;
};

struct Target {
    std::string scheme;
    std::string host; // lower case, without port or brackets
    std::string authority; // as written, with the port
    std::string path;
    std::string query;
};

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

std::string HostOf(const std::string& authority)
{
    if (!authority.empty() && authority[0] == '[') {
        const size_t close = authority.find(']');
        return close == std::string::npos ? std::string() : Lower(authority.substr(1, close - 1));
    }
    return Lower(authority.substr(0, authority.find(':')));
}

std::optional<Target> ParseTarget(const Request& request, const std::string& tunnelAuthority)
{
    Target target;
    std::string rest;
    const std::string lowered = Lower(request.target.substr(0, 8));
    if (request.target[0] == '/') {
        target.scheme = tunnelAuthority.empty() ? "http" : "https";
        const std::string* host = request.Header("Host");
        target.authority = host ? *host : tunnelAuthority;
        rest = request.target;
    } else if (lowered.rfind("http://", 0) == 0 || lowered.rfind("https://", 0) == 0) {
        target.scheme = lowered[4] == 's' ? "https" : "http";
        const size_t start = target.scheme.size() + 3;
        const size_t slash = request.target.find_first_of("/?", start);
        target.authority = request.target.substr(start, slash - start);
        rest = slash == std::string::npos ? std::string("/") : request.target.substr(slash);
        if (rest[0] == '?')
            rest.insert(0, "/");
    } else {
        return std::nullopt;
    }
    target.host = HostOf(target.authority);
    if (target.authority.find_first_of(" \t@") != std::string::npos)
        return std::nullopt;
    rest = rest.substr(0, rest.find('#'));
    const size_t question = rest.find('?');
    target.path = rest.substr(0, question);
    if (question != std::string::npos)
        target.query = rest.substr(question + 1);
    return target;
}

std::string LogLine(const Request& request, const std::string& url)
{
    std::string line = request.method + " " + url;
    for (const char* name : kNotableHeaders) {
        const std::string* value = request.Header(name);
        if (!value)
            continue;
        line += std::string(" ") + name + "=\"";
        for (char c : *value)
            line += c == '"' ? std::string("\\\"") : std::string(1, c);
        line += '"';
    }
    return line;
}

// Byte i of every generated body is 'a' + i % 26: a pattern that a reader can check at any offset.
constexpr size_t kPatternPeriod = 26;

// The pattern from offset 0 on, long enough to cut any piece out of: generating a body costs a
// copy, so that a large media answer does not eat the machine a benchmark runs on.
const std::string& Pattern()
{
    static const std::string pattern = [] {
        std::string text(kPieceSize + kPatternPeriod, '\0');
        for (size_t i = 0; i < text.size(); ++i)
            text[i] = static_cast<char>('a' + i % kPatternPeriod);
        return text;
    }();
    return pattern;
}

class Answer {
public:
    Answer(Stream& stream, int socket, const Resource& resource, const Request& request)
        : m_stream(stream)
        , m_resource(resource)
        , m_request(request)
    {
        if (resource.mode == BodyMode::Peer)
            m_peer = PeerOf(socket);
    }

    // Sends the answer; false when the connection must be closed after it.
    bool Send(bool keepAlive)
    {
        if (m_resource.delayMilliseconds > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(m_resource.delayMilliseconds));
        if (m_resource.mode == BodyMode::Garbage) {
            m_stream.Write(m_resource.body.empty() ? std::string("\x01\x02garbage\xff\xfe\r\n\r\n") : m_resource.body);
            return false;
        }
        const bool chunked = m_resource.mode == BodyMode::Chunked || m_resource.mode == BodyMode::Endless;
        const bool headOnly = m_request.method == "HEAD" || m_resource.status == 204 || m_resource.status == 304;
        keepAlive = keepAlive && m_resource.mode != BodyMode::Cut;

        std::string head = "HTTP/1.1 " + std::to_string(m_resource.status) + " " + m_resource.reason + "\r\n";
        for (const auto& [name, value] : m_resource.headers)
            head += name + ": " + value + "\r\n";
        if (m_resource.mode == BodyMode::Echo && !m_resource.HasHeader("Content-Type"))
            head += "Content-Type: text/plain\r\n";
        if (chunked)
            head += "Transfer-Encoding: chunked\r\n";
        else if (!m_resource.HasHeader("Content-Length"))
            head += "Content-Length: " + std::to_string(BodyLength()) + "\r\n";
        if (!keepAlive)
            head += "Connection: close\r\n";
        head += "\r\n";
        if (!m_stream.Write(head))
            return false;
        if (headOnly)
            return keepAlive;

        switch (m_resource.mode) {
        case BodyMode::Endless:
            for (std::uint64_t offset = 0;; offset += kEndlessChunk)
                if (!WriteChunk(Generated(offset, kEndlessChunk)))
                    return false;
        case BodyMode::Chunked:
            return SendBody(BodyLength(), [this](const std::string& piece) { return WriteChunk(piece); })
                && m_stream.Write("0\r\n\r\n") && keepAlive;
        case BodyMode::Cut:
            SendBody(std::min(m_resource.cutAfter, BodyLength()),
                [this](const std::string& piece) { return m_stream.Write(piece); });
            return false;
        case BodyMode::Trickle:
            return SendBody(BodyLength(), [this](const std::string& piece) {
                for (char c : piece) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(m_resource.trickleMilliseconds));
                    if (!m_stream.Write(&c, 1))
                        return false;
                }
                return true;
            }) && keepAlive;
        default:
            return SendBody(BodyLength(), [this](const std::string& piece) { return m_stream.Write(piece); })
                && keepAlive;
        }
    }

private:
    const std::string& Body() const
    {
        return m_resource.mode == BodyMode::Echo ? m_request.head
            : m_resource.mode == BodyMode::Peer  ? m_peer
                                                 : m_resource.body;
    }

    static std::string PeerOf(int socket)
    {
        sockaddr_storage address {};
        socklen_t size = sizeof address;
        char host[INET6_ADDRSTRLEN] = {};
        if (getpeername(socket, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            return "unknown";
        if (address.ss_family == AF_INET) {
            const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
            inet_ntop(AF_INET, &v4.sin_addr, host, sizeof host);
            return std::string(host) + ":" + std::to_string(ntohs(v4.sin_port));
        }
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
        inet_ntop(AF_INET6, &v6.sin6_addr, host, sizeof host);
        return "[" + std::string(host) + "]:" + std::to_string(ntohs(v6.sin6_port));
    }

    std::uint64_t BodyLength() const
    {
        return m_resource.generatedLength ? *m_resource.generatedLength : Body().size();
    }

    // size (at most kPieceSize) generated bytes from offset on.
    static std::string Generated(std::uint64_t offset, size_t size)
    {
        return Pattern().substr(static_cast<size_t>(offset % kPatternPeriod), size);
    }

    template <typename Writer> bool SendBody(std::uint64_t length, Writer write)
    {
        for (std::uint64_t offset = 0; offset < length; offset += kPieceSize) {
            const size_t size = static_cast<size_t>(std::min<std::uint64_t>(kPieceSize, length - offset));
            const std::string piece
                = m_resource.generatedLength ? Generated(offset, size) : Body().substr(offset, size);
            if (!write(piece))
                return false;
        }
        return true;
    }

    bool WriteChunk(const std::string& piece)
    {
        char size[32];
        const auto end = std::to_chars(size, size + sizeof size - 2, piece.size(), 16).ptr;
        return m_stream.Write(std::string(size, end) + "\r\n") && m_stream.Write(piece) && m_stream.Write("\r\n");
    }

    Stream& m_stream;
    const Resource& m_resource;
    const Request& m_request;
    std::string m_peer;
};

void SendError(Stream& stream, int status, const char* reason)
{
    stream.Write("HTTP/1.1 " + std::to_string(status) + " " + reason
        + "\r\nContent-Type: text/plain\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
}

void ServeTunnel(
    Stream& outer, RequestReader& reader, int socket, const std::string& authority, const ServerContext& context);

// Logs a request and lets it on once no hold is on it.
void Admit(const std::string& line, const ServerContext& context)
{
    context.log(line);
    if (context.holds)
        context.holds->Await(line);
}

// Serves requests on stream; tunnelAuthority is the CONNECT target inside a TLS tunnel.
void ServeRequests(Stream& stream, int socket, const std::string& tunnelAuthority, const ServerContext& context)
{
    RequestReader reader(stream);
    Request request;
    for (;;) {
        const auto outcome = reader.Next(request);
        if (outcome == RequestReader::Outcome::Closed)
            return;
        if (outcome == RequestReader::Outcome::Malformed)
            return SendError(stream, 400, "Bad Request");

        if (request.method == "CONNECT") {
            if (!tunnelAuthority.empty() || request.target.find(':') == std::string::npos)
                return SendError(stream, 400, "Bad Request");
            Admit(LogLine(request, request.target), context);
            return ServeTunnel(stream, reader, socket, request.target, context);
        }
        const auto target = ParseTarget(request, tunnelAuthority);
        if (!target)
            return SendError(stream, 400, "Bad Request");
        Admit(LogLine(request,
                  target->scheme + "://" + target->authority + target->path
                      + (target->query.empty() ? "" : "?" + target->query)),
            context);

        const std::string* connection = request.Header("Connection");
        const std::string* proxyConnection = request.Header("Proxy-Connection");
        const bool close = request.version == "HTTP/1.0"
            || (connection && strcasecmp(connection->c_str(), "close") == 0)
            || (proxyConnection && strcasecmp(proxyConnection->c_str(), "close") == 0);
        const Resource resource
            = Resolve(context.sitesDirectory, target->host, target->path, target->query).value_or(NotFound());
        if (!Answer(stream, socket, resource, request).Send(!close))
            return;
    }
}

void ServeTunnel(
    Stream& outer, RequestReader& reader, int socket, const std::string& authority, const ServerContext& context)
{
    const std::string host = HostOf(authority);
    SSL_CTX* tlsContext = host.empty() ? nullptr : context.authority->ContextFor(host);
    if (!tlsContext)
        return SendError(outer, 502, "Bad Gateway");
    if (!outer.Write("HTTP/1.1 200 Connection Established\r\n\r\n") || reader.HasPendingBytes())
        return; // a client that speaks before the tunnel stands is not one we serve
    SSL* ssl = SSL_new(tlsContext);
    if (!ssl)
        return;
    TlsStream tls(ssl);
    SSL_set_fd(ssl, socket);
    if (SSL_accept(ssl) != 1)
        return;
    ServeRequests(tls, socket, authority, context);
}

}

void ServeConnection(int socket, const ServerContext& context)
{
    // An answer's head and body go out in separate writes; without this, the body of an answer on
    // a kept connection waits for the client's delayed acknowledgement of the head (40 ms).
    const int noDelay = 1;
    setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay); // a failure only costs time
    {
        SocketStream stream(socket);
        ServeRequests(stream, socket, {}, context);
    }
    close(socket);
}

}
