#include "SiteIcon.h"

#include "Utf.h"
#include "urlmon.h"
#include "wininet.h"

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace shdocvw {

namespace {

constexpr size_t kMaxQueued = 64; // more hosts than this at once are not worth an icon each
constexpr size_t kMaxImpatient = 256; // callers waiting with a deadline; more wait for the icon

using Clock = std::chrono::steady_clock;

// A caller's then, run by whichever comes first: the icon or the end of the caller's patience.
struct Waiter {
    std::atomic<bool> done { false };
    std::function<void()> then;
    void Run()
    {
        if (!done.exchange(true) && then)
            then();
    }
};

// How long an icon may take to connect and to answer (a page's load waits for it only as long as
// its own patience).
constexpr DWORD kIconTimeoutMs = 3000;

class IconWorker {
public:
    static IconWorker& Process()
    {
        static IconWorker worker;
        return worker;
    }

    // then runs once the icon has been fetched (on the worker), or at once here when it was
    // fetched before or will not be; an impatient caller's then also when its deadline passes.
    void Queue(const std::string& iconUrl, std::function<void()> then, std::chrono::milliseconds patience)
    {
        auto waiter = std::make_shared<Waiter>();
        waiter->then = std::move(then);
        if (!Await(iconUrl, waiter))
            waiter->Run();
        else if (patience != std::chrono::milliseconds::max())
            Expire(waiter, patience);
    }

    ~IconWorker()
    {
        {
            std::lock_guard guard(m_lock);
            m_stopping = true;
            m_queue.clear();
        }
        m_changed.notify_all();
        if (m_thread.joinable())
            m_thread.join();
        if (m_patience.joinable())
            m_patience.join();
    }

private:
    // Files waiter under the icon, queueing its fetch if it is new; false when it will not come.
    bool Await(const std::string& iconUrl, const std::shared_ptr<Waiter>& waiter)
    {
        std::lock_guard guard(m_lock);
        if (const auto waiting = m_waiting.find(iconUrl); waiting != m_waiting.end()) {
            waiting->second.push_back(waiter);
            return true;
        }
        if (!m_stopping && m_queue.size() < kMaxQueued && m_seen.insert(iconUrl).second) {
            m_queue.push_back(iconUrl);
            m_waiting[iconUrl].push_back(waiter);
            if (!m_thread.joinable())
                m_thread = std::thread([this] { Run(); });
            m_changed.notify_all();
            return true;
        }
        return false;
    }

    void Expire(const std::shared_ptr<Waiter>& waiter, std::chrono::milliseconds patience)
    {
        std::lock_guard guard(m_lock);
        if (m_stopping || m_deadlines.size() >= kMaxImpatient)
            return;
        m_deadlines.emplace(Clock::now() + patience, waiter);
        if (!m_patience.joinable())
            m_patience = std::thread([this] { KeepPatience(); });
        m_changed.notify_all();
    }

    // Runs each impatient caller's then at its deadline (if the icon has not run it before).
    void KeepPatience()
    {
        std::unique_lock guard(m_lock);
        while (!m_stopping) {
            if (m_deadlines.empty()) {
                m_changed.wait(guard);
                continue;
            }
            const auto next = m_deadlines.begin();
            if (Clock::now() < next->first) {
                m_changed.wait_until(guard, next->first);
                continue;
            }
            std::shared_ptr<Waiter> due = next->second;
            m_deadlines.erase(next);
            guard.unlock();
            due->Run();
            guard.lock();
        }
    }

    void Run()
    {
        std::unique_lock guard(m_lock);
        for (;;) {
            m_changed.wait(guard, [this] { return m_stopping || !m_queue.empty(); });
            if (m_stopping)
                return;
            const std::string url = m_queue.front();
            m_queue.pop_front();
            guard.unlock();
            Fetch(url);
            guard.lock();
            std::vector<std::shared_ptr<Waiter>> waiting = std::move(m_waiting[url]);
            m_waiting.erase(url);
            guard.unlock();
            for (const std::shared_ptr<Waiter>& waiter : waiting)
                waiter->Run();
            guard.lock();
        }
    }

    // A session per icon, so that each reads the root's proxy setting as it is now. Reading the
    // answer through is what makes WinINet commit it to the cache.
    static void Fetch(const std::string& url)
    {
        char agent[1024] = {};
        DWORD length = 0;
        if (UrlMkGetSessionOption(URLMON_OPTION_USERAGENT, agent, sizeof agent, &length, 0) != S_OK)
            agent[0] = '\0';
        HINTERNET session = InternetOpenW(platform::FromUtf8(std::string(agent, strnlen(agent, sizeof agent))).c_str(),
            INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
        if (!session)
            return;
        for (DWORD option : { INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT }) {
            DWORD timeout = kIconTimeoutMs;
            InternetSetOptionW(session, option, &timeout, sizeof timeout);
        }
        HINTERNET request
            = InternetOpenUrlW(session, platform::FromUtf8(url).c_str(), nullptr, 0, INTERNET_FLAG_NO_UI, 0);
        if (request) {
            char buffer[16 * 1024];
            DWORD read = 0;
            while (InternetReadFile(request, buffer, sizeof buffer, &read) && read > 0) { }
            InternetCloseHandle(request);
        }
        // No request: no icon to be had, and the cache simply has none for this host.
        InternetCloseHandle(session);
    }

    std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<std::string> m_queue;
    std::set<std::string> m_seen;
    std::map<std::string, std::vector<std::shared_ptr<Waiter>>> m_waiting; // by icon, while it is fetched
    std::multimap<Clock::time_point, std::shared_ptr<Waiter>> m_deadlines;
    bool m_stopping = false;
    std::thread m_thread;
    std::thread m_patience;
};

}

void CacheSiteIconOf(const std::string& pageUrl, std::function<void()> then, std::chrono::milliseconds patience)
{
    const size_t scheme = pageUrl.find("://");
    const std::string name = scheme == std::string::npos ? std::string() : pageUrl.substr(0, scheme);
    if (name != "http" && name != "https") {
        if (then)
            then();
        return;
    }
    const size_t hostEnd = pageUrl.find_first_of("/?#", scheme + 3);
    IconWorker::Process().Queue(pageUrl.substr(0, hostEnd) + "/favicon.ico", std::move(then), patience);
}

}
