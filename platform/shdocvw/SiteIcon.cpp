#include "SiteIcon.h"

#include "Utf.h"
#include "urlmon.h"
#include "wininet.h"

#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <set>
#include <thread>

namespace shdocvw {

namespace {

constexpr size_t kMaxQueued = 64; // more hosts than this at once are not worth an icon each

class IconWorker {
public:
    static IconWorker& Process()
    {
        static IconWorker worker;
        return worker;
    }

    void Queue(const std::string& iconUrl)
    {
        std::lock_guard guard(m_lock);
        if (m_stopping || m_queue.size() >= kMaxQueued || !m_seen.insert(iconUrl).second)
            return;
        m_queue.push_back(iconUrl);
        if (!m_thread.joinable())
            m_thread = std::thread([this] { Run(); });
        m_changed.notify_all();
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
    }

private:
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
    bool m_stopping = false;
    std::thread m_thread;
};

}

void CacheSiteIconOf(const std::string& pageUrl)
{
    const size_t scheme = pageUrl.find("://");
    if (scheme == std::string::npos)
        return;
    const std::string name = pageUrl.substr(0, scheme);
    if (name != "http" && name != "https")
        return;
    const size_t hostEnd = pageUrl.find_first_of("/?#", scheme + 3);
    IconWorker::Process().Queue(pageUrl.substr(0, hostEnd) + "/favicon.ico");
}

}
