#include "Transfer.h"

#include "InternetSettings.h"
#include "ThreadStop.h"
#include "wininet.h"

#include <chrono>
#include <csignal>
#include <curl/curl.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

namespace wininet {

namespace {

constexpr int kPollMilliseconds = 50;
// Multi handles (each with its idle connections) that one session keeps between requests.
constexpr size_t kMaxIdleMultis = 4;

bool IsInfinite(DWORD timeout)
{
    return timeout == 0 || timeout == 0xFFFFFFFF;
}

// Adds the root's trusted certificates to the system's, which libcurl has already loaded.
CURLcode AddTrustedCertificates(CURL*, void* context, void*)
{
    X509_STORE* store = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(context));
    for (const auto& file : platform::TrustedCertificateFiles())
        X509_STORE_load_file(store, file.c_str()); // a file that is not a certificate adds nothing
    return CURLE_OK;
}

// With CURLOPT_NOSIGNAL libcurl leaves SIGPIPE to the program. A server that closes a kept
// connection must fail the next request on it, never end the process (Windows programs know no
// such signal), so a default disposition becomes "ignore"; a program's own handler stays.
void IgnoreBrokenPipes()
{
    struct sigaction current { };
    if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
        std::signal(SIGPIPE, SIG_IGN);
}

void InitializeCurl()
{
    static const bool initialized = [] {
        IgnoreBrokenPipes();
        return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    }();
    (void)initialized;
}

DWORD CertificateError(CURL* easy)
{
    long verify = 0;
    curl_easy_getinfo(easy, CURLINFO_SSL_VERIFYRESULT, &verify);
    switch (verify) {
    case X509_V_ERR_HOSTNAME_MISMATCH:
        return ERROR_INTERNET_SEC_CERT_CN_INVALID;
    case X509_V_ERR_CERT_NOT_YET_VALID:
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return ERROR_INTERNET_SEC_CERT_DATE_INVALID;
    default:
        return ERROR_INTERNET_INVALID_CA;
    }
}

}

ConnectionCache::~ConnectionCache()
{
    Close();
}

CURLM* ConnectionCache::Take()
{
    {
        std::lock_guard lock(m_lock);
        if (!m_idle.empty()) {
            CURLM* multi = m_idle.back();
            m_idle.pop_back();
            return multi;
        }
    }
    InitializeCurl();
    return curl_multi_init();
}

void ConnectionCache::Give(CURLM* multi)
{
    CURLM* ended = multi;
    {
        std::lock_guard lock(m_lock);
        if (!m_closed) {
            m_idle.push_back(multi);
            ended = nullptr;
            if (m_idle.size() > kMaxIdleMultis) {
                ended = m_idle.front();
                m_idle.erase(m_idle.begin());
            }
        }
    }
    if (ended)
        curl_multi_cleanup(ended); // closes its connections
}

void ConnectionCache::Close()
{
    std::vector<CURLM*> idle;
    {
        std::lock_guard lock(m_lock);
        m_closed = true;
        idle.swap(m_idle);
    }
    for (CURLM* multi : idle)
        curl_multi_cleanup(multi);
}

Transfer::Transfer(std::shared_ptr<ConnectionCache> connections)
    : m_connections(connections ? std::move(connections) : std::make_shared<ConnectionCache>())
{
}

Transfer::~Transfer()
{
    // Removing a transfer whose body has not ended closes its connection; a finished one leaves
    // its connection idle in the multi handle, ready for the session's next request.
    if (m_multi && m_easy)
        curl_multi_remove_handle(m_multi, m_easy);
    if (m_easy)
        curl_easy_cleanup(m_easy);
    if (m_multi)
        m_connections->Give(m_multi);
    curl_slist_free_all(m_headers);
}

DWORD Transfer::Start(const TransferRequest& request, const std::atomic<bool>& cancelled)
{
    InitializeCurl();
    m_easy = curl_easy_init();
    m_multi = m_connections->Take();
    if (!m_easy || !m_multi)
        return ERROR_NOT_ENOUGH_MEMORY;
    m_sendTimeout = request.sendTimeout;
    m_receiveTimeout = request.receiveTimeout;
    m_bodySize = request.method == "HEAD" ? 0 : static_cast<long long>(request.body.size());

    curl_easy_setopt(m_easy, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(m_easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(m_easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(m_easy, CURLOPT_HTTP_VERSION, request.http10 ? CURL_HTTP_VERSION_1_0 : CURL_HTTP_VERSION_1_1);
    curl_easy_setopt(m_easy, CURLOPT_PROXY, request.proxy.c_str()); // empty: direct, whatever the environment says
    curl_easy_setopt(m_easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(m_easy, CURLOPT_BUFFERSIZE, static_cast<long>(kBodyDelivery));
    curl_easy_setopt(m_easy, CURLOPT_SSL_CTX_FUNCTION, AddTrustedCertificates);
    curl_easy_setopt(m_easy, CURLOPT_CA_CACHE_TIMEOUT, 0L); // the root's certificates are read for every connection
    if (!IsInfinite(request.connectTimeout))
        curl_easy_setopt(m_easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(request.connectTimeout));
    if (!request.agent.empty())
        curl_easy_setopt(m_easy, CURLOPT_USERAGENT, request.agent.c_str());

    if (request.method == "HEAD") {
        curl_easy_setopt(m_easy, CURLOPT_NOBODY, 1L);
    } else if (request.method == "GET" && request.body.empty()) {
        curl_easy_setopt(m_easy, CURLOPT_HTTPGET, 1L);
    } else {
        curl_easy_setopt(m_easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
        curl_easy_setopt(m_easy, CURLOPT_COPYPOSTFIELDS, request.body.c_str());
        if (request.method != "POST")
            curl_easy_setopt(m_easy, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    }
    for (const auto& header : request.headers)
        m_headers = curl_slist_append(m_headers, header.c_str());
    m_headers = curl_slist_append(m_headers, "Expect:"); // bodies go out at once, as WinINet sends them
    curl_easy_setopt(m_easy, CURLOPT_HTTPHEADER, m_headers);

    curl_easy_setopt(m_easy, CURLOPT_HEADERFUNCTION, &Transfer::OnHeader);
    curl_easy_setopt(m_easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(m_easy, CURLOPT_WRITEFUNCTION, &Transfer::OnBody);
    curl_easy_setopt(m_easy, CURLOPT_WRITEDATA, this);
    if (curl_multi_add_handle(m_multi, m_easy) != CURLM_OK)
        return ERROR_INTERNET_INTERNAL_ERROR;

    if (const DWORD error = Pump([this] { return m_headComplete; }, cancelled))
        return error;
    return m_headComplete ? 0 : Failure();
}

DWORD Transfer::Read(char* buffer, size_t size, size_t& read, const std::atomic<bool>& cancelled)
{
    read = 0;
    // A stopped thread gets no more bytes, not even those already here.
    if (cancelled.load() || platform::IsStopRequested())
        return ERROR_INTERNET_OPERATION_CANCELLED;
    if (m_bodyOffset == m_body.size() && !m_done) {
        m_body.clear();
        m_bodyOffset = 0;
        if (m_paused) {
            m_paused = false;
            curl_easy_pause(m_easy, CURLPAUSE_CONT); // may deliver the held bytes at once
        }
        if (const DWORD error = Pump([this] { return m_bodyOffset < m_body.size(); }, cancelled))
            return error;
    }
    if (m_bodyOffset < m_body.size()) {
        read = std::min(size, m_body.size() - m_bodyOffset);
        std::copy_n(m_body.data() + m_bodyOffset, read, buffer);
        m_bodyOffset += read;
        return 0;
    }
    return m_result == CURLE_OK ? 0 : Failure();
}

void Transfer::SetBodyObserver(std::function<void(const char*, size_t)> observer)
{
    m_observer = std::move(observer);
    if (m_observer && m_body.size() > m_bodyOffset)
        m_observer(m_body.data() + m_bodyOffset, m_body.size() - m_bodyOffset);
}

DWORD Transfer::Pump(const std::function<bool()>& ready, const std::atomic<bool>& cancelled)
{
    CURLM* multi = m_multi;
    platform::StopWakeup wakeup([multi] { curl_multi_wakeup(multi); });
    using Clock = std::chrono::steady_clock;
    auto lastProgress = Clock::now();
    size_t lastCount = static_cast<size_t>(-1);
    while (!ready() && !m_done) {
        if (cancelled.load() || platform::IsStopRequested()) {
            m_done = true;
            m_result = CURLE_ABORTED_BY_CALLBACK;
            return ERROR_INTERNET_OPERATION_CANCELLED;
        }
        int running = 0;
        curl_multi_perform(m_multi, &running);
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(m_multi, &queued)) {
            if (message->msg == CURLMSG_DONE) {
                m_done = true;
                m_result = message->data.result;
            }
        }
        if (ready() || m_done)
            break;
        // Connecting (up to the request going out) is bounded by libcurl's connect time-out; then
        // the request body by the send time-out, and the response by the receive time-out.
        curl_off_t connected = 0;
        curl_off_t sent = 0;
        curl_easy_getinfo(m_easy, CURLINFO_PRETRANSFER_TIME_T, &connected);
        curl_easy_getinfo(m_easy, CURLINFO_SIZE_UPLOAD_T, &sent);
        const bool sending = sent < m_bodySize;
        const size_t progress = m_received + static_cast<size_t>(sent);
        const DWORD timeout = sending ? m_sendTimeout : m_receiveTimeout;
        if (progress != lastCount || connected == 0) {
            lastCount = progress;
            lastProgress = Clock::now();
        } else if (!IsInfinite(timeout) && Clock::now() - lastProgress > std::chrono::milliseconds(timeout)) {
            m_done = true;
            m_result = CURLE_OPERATION_TIMEDOUT;
            return ERROR_INTERNET_TIMEOUT;
        }
        curl_multi_poll(m_multi, nullptr, 0, kPollMilliseconds, nullptr);
    }
    return 0;
}

DWORD Transfer::Failure() const
{
    if (m_headTooLarge)
        return ERROR_HTTP_INVALID_SERVER_RESPONSE;
    switch (m_result) {
    case CURLE_OK:
        return m_headComplete ? 0 : ERROR_HTTP_INVALID_SERVER_RESPONSE;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return ERROR_INTERNET_NAME_NOT_RESOLVED;
    case CURLE_COULDNT_CONNECT:
        return ERROR_INTERNET_CANNOT_CONNECT;
    case CURLE_OPERATION_TIMEDOUT:
        return ERROR_INTERNET_TIMEOUT;
    case CURLE_PEER_FAILED_VERIFICATION:
        return CertificateError(m_easy);
    case CURLE_SSL_CONNECT_ERROR:
        return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
    case CURLE_PARTIAL_FILE:
        return ERROR_INTERNET_CONNECTION_ABORTED;
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
        return ERROR_INTERNET_CONNECTION_RESET;
    case CURLE_GOT_NOTHING:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_BAD_CONTENT_ENCODING:
        return ERROR_HTTP_INVALID_SERVER_RESPONSE;
    case CURLE_ABORTED_BY_CALLBACK:
        return ERROR_INTERNET_OPERATION_CANCELLED;
    default:
        return m_headComplete ? ERROR_INTERNET_CONNECTION_ABORTED : ERROR_INTERNET_CANNOT_CONNECT;
    }
}

size_t Transfer::OnHeader(char* data, size_t size, size_t count, void* self)
{
    auto& transfer = *static_cast<Transfer*>(self);
    std::string line(data, size * count);
    transfer.m_received += line.size();
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    if (line.rfind("HTTP/", 0) == 0) {
        // A new response: an interim 1xx answer, or the next one after it.
        transfer.m_head.clear();
        const size_t space = line.find(' ');
        transfer.m_status = space == std::string::npos ? 0 : std::atoi(line.c_str() + space + 1);
    } else if (line.empty()) {
        if (transfer.m_status >= 200)
            transfer.m_headComplete = true;
    }
    if (transfer.m_head.size() + line.size() + 2 > kMaxResponseHead) {
        transfer.m_headTooLarge = true;
        return 0; // ends the transfer with an error
    }
    transfer.m_head += line + "\r\n";
    return size * count;
}

size_t Transfer::OnBody(char* data, size_t size, size_t count, void* self)
{
    auto& transfer = *static_cast<Transfer*>(self);
    const size_t length = size * count;
    if (transfer.m_bodyOffset < transfer.m_body.size()) {
        transfer.m_paused = true;
        return CURL_WRITEFUNC_PAUSE; // libcurl keeps these bytes and offers them again after the pause
    }
    if (transfer.m_bodyOffset > 0 && transfer.m_bodyOffset == transfer.m_body.size()) {
        transfer.m_body.clear();
        transfer.m_bodyOffset = 0;
    }
    transfer.m_body.append(data, length);
    transfer.m_received += length;
    if (transfer.m_observer)
        transfer.m_observer(data, length);
    return length;
}

}
