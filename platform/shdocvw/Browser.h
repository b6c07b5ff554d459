// The process's one headless Chromium, driven over --remote-debugging-pipe.
//
// It starts on the first Connection() and again on the next one after it died; it ends with the
// process: at exit through Shutdown, and when the process crashes because it was started with a
// parent-death signal from a thread that lives as long as the process, and because its pipe closes.
// It runs headless, muted and quiet (no request of its own: background networking, updates, time,
// search and https upgrades are all off), in a temporary profile under the root's temp/ that is
// removed when it ends (a crashed process's profile goes at the next start), through the root's
// proxy setting, trusting the root's certs/ through an NSS database in that profile's home, and
// sandboxed unless the process runs as root.
//
// Thread-safe: every member may be called from any thread. Connection waits for Chromium's start
// (about half a second) and fails with a reason when it cannot start.
#pragma once

#include "DevToolsConnection.h"

#include <memory>
#include <string>
#include <sys/types.h>

namespace shdocvw {

struct BrowserConnection {
    std::shared_ptr<DevToolsConnection> connection; // nullptr when Chromium could not start
    std::string error;
};

// Sees every request that any page of the process makes (the URL-moniker session watches here).
// Called on the connection's dispatch thread; must not block.
class RequestObserver {
public:
    virtual ~RequestObserver() = default;
    // id names the request in the later calls; frame is the DevTools frame that asked for it.
    virtual void OnRequestStarted(const std::string& id, const std::string& method, const std::string& url,
        const std::string& resourceType, const std::string& frame)
        = 0;
    // The status and the response's header lines ("Name: value"), in the order they came.
    virtual void OnResponseHeaders(const std::string& id, int status, const std::vector<std::string>& headers) = 0;
    virtual void OnRequestEnded(const std::string& id, bool succeeded) = 0;
};

class Browser {
public:
    static Browser& Process();

    BrowserConnection Connection();

    // Chromium's process id, or 0 while none runs.
    pid_t ProcessId() const;

    // Ends Chromium and its renderers (by its process group) and removes its profile.
    void Shutdown();

    // The process-wide request observer; nullptr removes it. The observer must outlive its setting.
    void SetRequestObserver(RequestObserver* observer);
    RequestObserver* RequestHook() const;

    ~Browser();

private:
    Browser() = default;
    struct State;
    State& Get() const;
};

}
