// One HTTP exchange over libcurl, driven on the calling thread: Start returns once the response
// headers are in, Read hands out the body as it arrives. The platform holds at most one delivery
// of libcurl's (kBodyDelivery bytes) that the caller has not read: the transfer then pauses until
// the caller reads, so a caller that only wants the headers (or closes early) costs no more body
// than that.
//
// One thread at a time drives a transfer. Every wait gives up within 50 ms of the owner's handle
// being closed or of the thread being stopped (ERROR_INTERNET_OPERATION_CANCELLED). Time-outs
// keep WinINet's meanings (ERROR_INTERNET_TIMEOUT): the connect time-out bounds setting up the
// connection (TCP, the proxy's tunnel, TLS), the send time-out a request body that the server
// stops taking, the receive time-out a wait in which no byte of the response arrives. Redirects,
// cookies and the cache are the caller's business; this class only moves bytes.
//
// A session's ConnectionCache keeps the connections of its finished transfers, so that its next
// request to the same server (through the same proxy) goes over the same TCP connection, as
// WinINet keeps its HTTP/1.1 connections alive (INTERNET_FLAG_KEEP_CONNECTION asks for what is
// done anyway). A transfer abandoned before its body ended closes its connection instead: nothing
// is drained. Closing the cache closes every connection in it.
#pragma once

#include "windef.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

typedef void CURL;
typedef void CURLM;
struct curl_slist;

namespace wininet {

constexpr size_t kBodyDelivery = 64 * 1024;
constexpr size_t kMaxResponseHead = 256 * 1024;

struct TransferRequest {
    std::string url; // absolute, without a fragment
    std::string method = "GET";
    bool http10 = false;
    std::vector<std::string> headers; // "Name: value"; "Name:" removes one that libcurl would add
    std::string body;
    std::string proxy; // "host:port", or empty for a direct connection
    std::string agent;
    DWORD connectTimeout = 0; // milliseconds; 0 or 0xFFFFFFFF waits for ever
    DWORD sendTimeout = 0;
    DWORD receiveTimeout = 0;
};

// The idle connections of one session, each kept by the libcurl multi handle that used it.
// Thread-safe; Take and Give may be called from any thread.
class ConnectionCache {
public:
    ConnectionCache() = default;
    ~ConnectionCache();
    ConnectionCache(const ConnectionCache&) = delete;
    ConnectionCache& operator=(const ConnectionCache&) = delete;

    // A multi handle with idle connections, or a new one; nullptr when libcurl has no memory.
    CURLM* Take();
    // Keeps multi (with its idle connections) for a later Take; a closed cache ends it at once.
    void Give(CURLM* multi);
    // Closes every kept connection; later Gives close theirs at once.
    void Close();

private:
    std::mutex m_lock;
    std::vector<CURLM*> m_idle; // the most recently given last
    bool m_closed = false;
};

class Transfer {
public:
    // A transfer whose connections come from, and return to, connections (nullptr: a cache of
    // its own, closed with the transfer).
    explicit Transfer(std::shared_ptr<ConnectionCache> connections);
    ~Transfer();
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    // Sends the request and waits for the response headers; 0 or a WinINet error.
    DWORD Start(const TransferRequest& request, const std::atomic<bool>& cancelled);

    int Status() const
    {
        return m_status;
    }
    // The final response's status line and headers, each line ended by CR LF, then an empty line.
    const std::string& Head() const
    {
        return m_head;
    }

    // Copies up to size body bytes, blocking until at least one is there or the body has ended
    // (read is then 0); 0 or a WinINet error for a body that broke off.
    DWORD Read(char* buffer, size_t size, size_t& read, const std::atomic<bool>& cancelled);

    // Receives every body byte as it arrives (for the URL cache), starting with those that came
    // with the headers. Set it before the first Read.
    void SetBodyObserver(std::function<void(const char*, size_t)> observer);

private:
    static size_t OnHeader(char* data, size_t size, size_t count, void* self);
    static size_t OnBody(char* data, size_t size, size_t count, void* self);
    DWORD Pump(const std::function<bool()>& ready, const std::atomic<bool>& cancelled);
    DWORD Failure() const;

    std::shared_ptr<ConnectionCache> m_connections;
    CURL* m_easy = nullptr;
    CURLM* m_multi = nullptr;
    curl_slist* m_headers = nullptr;
    DWORD m_sendTimeout = 0;
    DWORD m_receiveTimeout = 0;
    long long m_bodySize = 0; // the request body's length in bytes
    int m_status = 0;
    std::string m_head;
    bool m_headComplete = false;
    bool m_headTooLarge = false;
    std::string m_body; // bytes from m_bodyOffset on are not yet read
    size_t m_bodyOffset = 0;
    bool m_paused = false;
    bool m_done = false;
    int m_result = 0; // the CURLcode the transfer ended with
    size_t m_received = 0;
    std::function<void(const char*, size_t)> m_observer;
};

}
