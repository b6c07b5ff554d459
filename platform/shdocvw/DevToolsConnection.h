// One DevTools protocol connection over a pair of pipe descriptors (messages are JSON objects, each
// ended by a NUL byte), as Chromium speaks it with --remote-debugging-pipe.
//
// Threads: Call and Post may be made from any thread. One reader thread takes replies and events
// off the pipe; replies complete their pending call at once, events go to a dispatch thread that
// hands each to the handler registered for its session ("" for the browser's own). Handlers run on
// that thread one at a time and must not wait for Chromium: they answer with Post, so that a
// Fetch.requestPaused is answered even while some other thread's Call waits for its reply.
//
// Failure: a call fails with a reason when Chromium answers an error, its deadline passes, its
// thread is stopped, or the connection closes. The connection closes when the pipe ends, a message
// is past kMaxMessage or is not a JSON object, or Close is called; then every pending call fails at
// once with the reason, and no further event or reply callback is dispatched.
#pragma once

#include <nlohmann/json.hpp>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace shdocvw {

using Json = nlohmann::json;

// A message larger than this ends the connection: it cannot be a sane answer to anything we ask.
constexpr size_t kMaxMessage = 64 * 1024 * 1024;
constexpr std::chrono::milliseconds kDefaultDeadline { 15000 };

struct CallResult {
    bool ok = false;
    Json result; // the reply's "result" when ok
    std::string error; // why it failed otherwise
};

using EventHandler = std::function<void(const std::string& method, const Json& params)>;

class DevToolsConnection {
public:
    // Takes ownership of both descriptors: commands are written to writeFd, messages read from readFd.
    static std::shared_ptr<DevToolsConnection> Open(int writeFd, int readFd);
    ~DevToolsConnection();
    DevToolsConnection(const DevToolsConnection&) = delete;
    DevToolsConnection& operator=(const DevToolsConnection&) = delete;

    // Sends method to session ("" for the browser) and waits for its reply until deadline.
    [[nodiscard]] CallResult Call(const std::string& method, const Json& params = Json::object(),
        const std::string& session = "", std::chrono::milliseconds deadline = kDefaultDeadline);
    // Sends method without waiting for its reply. onReply (if any) gets the reply on the dispatch
    // thread, in order with the events; it is never called once the connection has closed.
    void Post(const std::string& method, const Json& params, const std::string& session = "",
        std::function<void(const CallResult&)> onReply = {});

    void SetEventHandler(const std::string& session, EventHandler handler);
    void RemoveEventHandler(const std::string& session);

    bool IsOpen() const;
    void Close(const std::string& reason);

private:
    struct State;
    explicit DevToolsConnection(std::shared_ptr<State> state);
    std::shared_ptr<State> m_state;
};

}
