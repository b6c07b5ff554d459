// One HTTP exchange over libcurl, driven on the calling thread: Start returns once the response
// headers are in, Read hands out the body as it arrives. The body is held only up to
// kMaxBufferedBody bytes; past that the transfer pauses until the caller reads.
//
// One thread at a time drives a transfer. Every wait gives up within 50 ms of the owner's handle
// being closed or of the thread being stopped (ERROR_INTERNET_OPERATION_CANCELLED), and when no
// byte arrives for the receive time-out (ERROR_INTERNET_TIMEOUT). Redirects, cookies and the
// cache are the caller's business; this class only moves bytes.
#pragma once

#include "windef.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

typedef void CURL;
typedef void CURLM;
struct curl_slist;

namespace wininet {

constexpr size_t kMaxBufferedBody = 256 * 1024;
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
    DWORD receiveTimeout = 0;
};

class Transfer {
public:
    Transfer() = default;
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

    CURL* m_easy = nullptr;
    CURLM* m_multi = nullptr;
    curl_slist* m_headers = nullptr;
    DWORD m_receiveTimeout = 0;
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
