// A demoweb process owned by one test: started on a free loopback port with the test's machine
// root (so that the root trusts its certificate authority), by default made the root's proxy (the
// Internet Settings in the registry, which WinINet and the hidden browser read), and ended by its
// process id when the object goes, or when the thread that made the object ends (so a test that
// crashes leaves no server behind). Its request log is collected on a thread of its own so that a test can wait for,
// and read, what demoweb was asked.
//
// Start throws when demoweb cannot be started or does not report its address within 10 seconds.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace testing_support {

enum class RootProxy { PointHere, Leave };

class DemowebServer {
public:
    explicit DemowebServer(RootProxy proxy = RootProxy::PointHere);
    ~DemowebServer();
    DemowebServer(const DemowebServer&) = delete;
    DemowebServer& operator=(const DemowebServer&) = delete;

    int Port() const
    {
        return m_port;
    }
    // "127.0.0.1:PORT", as a proxy setting names it.
    std::string Address() const;

    // Every request line logged so far ("METHOD URL Header=\"value\" ...").
    std::vector<std::string> Requests() const;
    // The first logged request containing text, waiting up to timeout for it; empty if none came.
    std::string WaitForRequest(
        const std::string& text, std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;

    // Writes the root's proxy setting (enabled with server and bypass, or disabled) and tells
    // WinINet that the setting changed, as programs that change it do.
    static void SetRootProxy(bool enabled, const std::string& server, const std::string& bypass = "");

private:
    void ReadLog(int pipe);
    void Stop();

    pid_t m_pid = -1;
    int m_port = 0;
    std::thread m_reader;
    mutable std::mutex m_lock;
    mutable std::condition_variable m_changed;
    std::vector<std::string> m_lines; // the log, without the first "listening" line
    bool m_ready = false;
    bool m_ended = false;
};

}
