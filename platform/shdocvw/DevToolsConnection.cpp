#include "DevToolsConnection.h"

#include "ThreadStop.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace shdocvw {

namespace {

struct PendingCall {
    std::string method;
    std::chrono::steady_clock::time_point deadline;
    bool done = false;
    CallResult result;
    std::function<void(const CallResult&)> onReply; // a posted command's, run on the dispatch thread
};

// An event for a session's handler, or a posted command's reply for its callback.
struct QueuedEvent {
    std::string session;
    std::string method;
    Json params;
    std::function<void(const CallResult&)> onReply;
    CallResult reply;
};

constexpr size_t kReadChunk = 64 * 1024;

}

struct DevToolsConnection::State {
    int writeFd = -1;
    int readFd = -1;
    std::mutex writeLock;

    std::mutex lock;
    std::condition_variable changed; // a reply came, an event was queued, or the connection closed
    bool open = true;
    std::string closeReason;
    long long nextId = 1;
    std::map<long long, std::shared_ptr<PendingCall>> pending;
    std::deque<QueuedEvent> events;
    std::map<std::string, EventHandler> handlers;

    std::thread reader;
    std::thread dispatcher;

    ~State()
    {
        close(writeFd);
        if (readFd != writeFd)
            close(readFd);
    }

    bool Send(long long id, const std::string& method, const Json& params, const std::string& session);
    void Fail(const std::string& reason);
    void ReadLoop();
    void DispatchLoop();
    bool Deliver(const std::string& text);
};

bool DevToolsConnection::State::Send(
    long long id, const std::string& method, const Json& params, const std::string& session)
{
    Json message = { { "id", id }, { "method", method }, { "params", params } };
    if (!session.empty())
        message["sessionId"] = session;
    std::string text = message.dump();
    text.push_back('\0');
    std::lock_guard guard(writeLock);
    size_t sent = 0;
    while (sent < text.size()) {
        const ssize_t n = send(writeFd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

void DevToolsConnection::State::Fail(const std::string& reason)
{
    std::map<long long, std::shared_ptr<PendingCall>> failed;
    {
        std::lock_guard guard(lock);
        if (!open)
            return;
        open = false;
        closeReason = reason;
        failed.swap(pending);
        for (auto& [id, call] : failed) {
            call->done = true;
            call->result = { false, {}, call->method + ": " + reason };
        }
    }
    // Wakes the reader out of its read and makes Chromium see the end of its pipe.
    shutdown(readFd, SHUT_RDWR);
    shutdown(writeFd, SHUT_RDWR);
    changed.notify_all();
}

bool DevToolsConnection::State::Deliver(const std::string& text)
{
    Json message = Json::parse(text, nullptr, false);
    if (message.is_discarded() || !message.is_object())
        return false;
    const auto id = message.find("id");
    if (id != message.end()) {
        if (!id->is_number_integer())
            return false;
        std::lock_guard guard(lock);
        const auto found = pending.find(id->get<long long>());
        if (found == pending.end())
            return true; // a posted command's reply, or one whose caller gave up
        auto call = found->second;
        pending.erase(found);
        call->done = true;
        const auto error = message.find("error");
        if (error != message.end() && error->is_object())
            call->result = { false, {}, call->method + ": " + error->value("message", std::string("error")) };
        else
            call->result = { true, message.value("result", Json::object()), {} };
        if (call->onReply)
            events.push_back({ {}, {}, {}, std::move(call->onReply), std::move(call->result) });
        changed.notify_all();
        return true;
    }
    const auto method = message.find("method");
    if (method == message.end() || !method->is_string())
        return false;
    QueuedEvent event;
    event.method = method->get<std::string>();
    event.session = message.value("sessionId", std::string());
    event.params = message.value("params", Json::object());
    std::lock_guard guard(lock);
    events.push_back(std::move(event));
    changed.notify_all();
    return true;
}

void DevToolsConnection::State::ReadLoop()
{
    std::string buffer;
    char chunk[kReadChunk];
    for (;;) {
        const ssize_t n = read(readFd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            Fail("the browser closed the connection");
            return;
        }
        size_t start = buffer.size();
        buffer.append(chunk, static_cast<size_t>(n));
        size_t from = 0;
        for (size_t end = buffer.find('\0', start); end != std::string::npos; end = buffer.find('\0', from)) {
            if (!Deliver(buffer.substr(from, end - from))) {
                Fail("the browser sent a malformed message");
                return;
            }
            from = end + 1;
        }
        buffer.erase(0, from);
        if (buffer.size() > kMaxMessage) {
            Fail("the browser sent a message past the size limit");
            return;
        }
    }
}

void DevToolsConnection::State::DispatchLoop()
{
    std::unique_lock guard(lock);
    for (;;) {
        changed.wait(guard, [this] { return !events.empty() || !open; });
        if (!open)
            break;
        QueuedEvent event = std::move(events.front());
        events.pop_front();
        if (event.onReply) {
            guard.unlock();
            event.onReply(event.reply);
            guard.lock();
            continue;
        }
        const auto handler = handlers.find(event.session);
        if (handler == handlers.end())
            continue;
        EventHandler run = handler->second;
        guard.unlock();
        run(event.method, event.params);
        guard.lock();
    }
    events.clear();
}

DevToolsConnection::DevToolsConnection(std::shared_ptr<State> state)
    : m_state(std::move(state))
{
}

std::shared_ptr<DevToolsConnection> DevToolsConnection::Open(int writeFd, int readFd)
{
    auto state = std::make_shared<State>();
    state->writeFd = writeFd;
    state->readFd = readFd;
    // The threads keep the state alive, so a connection released on its own dispatch thread is safe.
    state->reader = std::thread([state] { state->ReadLoop(); });
    state->dispatcher = std::thread([state] { state->DispatchLoop(); });
    return std::shared_ptr<DevToolsConnection>(new DevToolsConnection(state));
}

DevToolsConnection::~DevToolsConnection()
{
    m_state->Fail("the connection was released");
    // The last reference may go on the dispatch thread itself (a handler that drops its page).
    for (std::thread* thread : { &m_state->reader, &m_state->dispatcher }) {
        if (thread->get_id() == std::this_thread::get_id())
            thread->detach();
        else
            thread->join();
    }
}

CallResult DevToolsConnection::Call(
    const std::string& method, const Json& params, const std::string& session, std::chrono::milliseconds deadline)
{
    auto call = std::make_shared<PendingCall>();
    call->method = method;
    call->deadline = std::chrono::steady_clock::now() + deadline;
    long long id = 0;
    {
        std::lock_guard guard(m_state->lock);
        if (!m_state->open)
            return { false, {}, method + ": " + m_state->closeReason };
        id = m_state->nextId++;
        m_state->pending.emplace(id, call);
    }
    if (!m_state->Send(id, method, params, session)) {
        m_state->Fail("the browser's pipe is broken");
        std::lock_guard guard(m_state->lock);
        return call->result;
    }
    std::atomic<bool> stopped = false;
    platform::StopWakeup wakeup([this, &stopped] {
        std::lock_guard guard(m_state->lock);
        stopped = true;
        m_state->changed.notify_all();
    });
    stopped = stopped || platform::IsStopRequested();
    std::unique_lock guard(m_state->lock);
    m_state->changed.wait_until(guard, call->deadline, [&] { return call->done || stopped; });
    if (call->done)
        return call->result;
    m_state->pending.erase(id);
    return { false, {}, method + (stopped ? ": the calling thread is stopping" : ": no answer before the deadline") };
}

void DevToolsConnection::Post(const std::string& method, const Json& params, const std::string& session,
    std::function<void(const CallResult&)> onReply)
{
    long long id = 0;
    {
        std::lock_guard guard(m_state->lock);
        if (!m_state->open)
            return;
        id = m_state->nextId++;
        if (onReply) {
            auto call = std::make_shared<PendingCall>();
            call->method = method;
            call->onReply = std::move(onReply);
            m_state->pending.emplace(id, std::move(call));
        }
    }
    if (!m_state->Send(id, method, params, session))
        m_state->Fail("the browser's pipe is broken");
}

void DevToolsConnection::SetEventHandler(const std::string& session, EventHandler handler)
{
    std::lock_guard guard(m_state->lock);
    m_state->handlers[session] = std::move(handler);
}

void DevToolsConnection::RemoveEventHandler(const std::string& session)
{
    std::lock_guard guard(m_state->lock);
    m_state->handlers.erase(session);
}

bool DevToolsConnection::IsOpen() const
{
    std::lock_guard guard(m_state->lock);
    return m_state->open;
}

void DevToolsConnection::Close(const std::string& reason)
{
    m_state->Fail(reason);
}

}
