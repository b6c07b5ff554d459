// The hidden browser's pages with the real headless Chromium against demoweb in the test's root.
// Every test ends the Chromium it started, by its process id (Browser::Shutdown).
#include "Page.h"

#include "CookieJar.h"
#include "DemowebServer.h"
#include "TestRoot.h"
#include "urlmon.h"
#include "windows.h"
#include "wininet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <csignal>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

using namespace shdocvw;
using namespace std::chrono_literals;

namespace {

const std::string kSite = "http://demoweb.test/shdocvw/";

// Records what a page raises as lines ("loaded top URL", "title T", ...) for tests to wait on, and
// lets every held navigation go on.
class Recorder : public PageEvents, public RequestObserver {
public:
    Page* m_page = nullptr;

    bool m_holdNavigations = false; // keep them waiting in Held() instead of letting them go on

    void OnNavigationStarting(const std::string& id, const FrameNavigation& n) override
    {
        Add("start " + Where(n) + n.url);
        if (!m_holdNavigations) {
            m_page->Decide(id, Decision::Allow);
            return;
        }
        std::lock_guard guard(m_lock);
        m_held.push_back(id);
    }
    void OnNavigationFailed(const std::string& id, const FrameNavigation& n, LONG status) override
    {
        Add("error " + Where(n) + n.url + " " + std::to_string(status));
        m_page->Decide(id, Decision::Allow);
    }
    void OnNavigationCommitted(const FrameNavigation& n) override
    {
        Add("commit " + Where(n) + n.url);
    }
    void OnDocumentLoaded(const FrameNavigation& n) override
    {
        Add("loaded " + Where(n) + n.url);
    }
    void OnTitleChanged(const std::string& title) override
    {
        Add("title " + title);
    }
    void OnPopupRequested(const std::string& id, const std::string& url) override
    {
        std::lock_guard guard(m_lock);
        m_popup = id;
        AddLocked("popup " + url);
    }
    void OnRequestStarted(const std::string& id, const std::string& method, const std::string& url,
        const std::string& type, const std::string&) override
    {
        Add("request " + method + " " + type + " " + url, id);
    }
    void OnResponseHeaders(const std::string& id, int status, const std::vector<std::string>&) override
    {
        Add("response " + std::to_string(status), id);
    }
    void OnRequestEnded(const std::string& id, bool succeeded) override
    {
        Add(succeeded ? "ended" : "failed", id);
    }

    bool WaitFor(const std::string& line, std::chrono::milliseconds timeout = 15s)
    {
        std::unique_lock guard(m_lock);
        return m_changed.wait_for(guard, timeout, [&] { return Index(line) >= 0; });
    }
    // The position of the first line equal to line, or -1.
    int Index(const std::string& line) const
    {
        const auto found = std::find(m_lines.begin(), m_lines.end(), line);
        return found == m_lines.end() ? -1 : static_cast<int>(found - m_lines.begin());
    }
    int IndexOf(const std::string& line)
    {
        std::lock_guard guard(m_lock);
        return Index(line);
    }
    std::vector<std::string> Lines()
    {
        std::lock_guard guard(m_lock);
        return m_lines;
    }
    // The lines of one request, in order, without its id.
    std::vector<std::string> RequestLines(const std::string& url)
    {
        std::lock_guard guard(m_lock);
        std::string id;
        for (const auto& [line, request] : m_requests)
            if (line.find(" " + url) != std::string::npos && line.rfind("request ", 0) == 0)
                id = request;
        std::vector<std::string> lines;
        for (const auto& [line, request] : m_requests)
            if (request == id)
                lines.push_back(line);
        return lines;
    }
    std::vector<std::string> Held()
    {
        std::lock_guard guard(m_lock);
        return m_held;
    }
    std::string Popup()
    {
        std::lock_guard guard(m_lock);
        return m_popup;
    }
    void Clear()
    {
        std::lock_guard guard(m_lock);
        m_lines.clear();
    }

private:
    static std::string Where(const FrameNavigation& n)
    {
        return n.top ? "top " : "frame ";
    }
    void Add(const std::string& line, const std::string& request = {})
    {
        std::lock_guard guard(m_lock);
        if (!request.empty())
            m_requests.emplace_back(line, request);
        else
            AddLocked(line);
    }
    void AddLocked(const std::string& line)
    {
        m_lines.push_back(line);
        m_changed.notify_all();
    }

    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<std::string> m_lines;
    std::vector<std::pair<std::string, std::string>> m_requests;
    std::string m_popup;
    std::vector<std::string> m_held;
};

class Engine : public testing::Test {
protected:
    void TearDown() override
    {
        m_pages.clear();
        Browser::Process().Shutdown();
    }

    // Recorders live as long as the test's pages, which report to them until they are destroyed.
    Recorder& NewRecorder()
    {
        return m_recorders.emplace_back();
    }

    Page& NewPage(Recorder& recorder, const PageOptions& options = {})
    {
        std::string error;
        auto page = Page::Create(options, &recorder, &recorder, error);
        EXPECT_TRUE(page) << error;
        if (!page)
            throw std::runtime_error(error);
        recorder.m_page = page.get();
        m_pages.push_back(std::move(page));
        return *m_pages.back();
    }

    // Navigates to a page of the site and waits for its top-level document to load.
    void Load(Page& page, Recorder& recorder, const std::string& name)
    {
        ASSERT_TRUE(page.Navigate(kSite + name));
        ASSERT_TRUE(recorder.WaitFor("loaded top " + kSite + name)) << Dump(recorder);
    }

    static std::string Dump(Recorder& recorder)
    {
        std::string text;
        for (const std::string& line : recorder.Lines())
            text += "\n  " + line;
        return text;
    }

    std::vector<std::string> RequestsFor(const std::string& text) const
    {
        std::vector<std::string> found;
        for (const std::string& line : m_demoweb.Requests())
            if (line.find(text) != std::string::npos)
                found.push_back(line);
        return found;
    }

    testing_support::DemowebServer m_demoweb; // first: Chromium reads the proxy setting when it starts
    std::deque<Recorder> m_recorders;
    std::vector<std::unique_ptr<Page>> m_pages;
};

std::string Agent()
{
    char agent[1024];
    DWORD length = 0;
    EXPECT_EQ(UrlMkGetSessionOption(URLMON_OPTION_USERAGENT, agent, sizeof agent, &length, 0), S_OK);
    return agent;
}

TEST_F(Engine, LoadsAPageWithItsOwnRequestsOnlyAndTheProcessAgent)
{
    Recorder& recorder = NewRecorder();
    Page& page = NewPage(recorder);
    EXPECT_GT(Browser::Process().ProcessId(), 0);
    Load(page, recorder, "title.html");
    EXPECT_TRUE(recorder.WaitFor("title Engine title page")) << Dump(recorder);
    m_demoweb.WaitForRequest("/favicon.ico");

    const std::vector<std::string> requests = m_demoweb.Requests();
    ASSERT_FALSE(requests.empty());
    for (const std::string& line : requests) {
        const bool own = line.rfind("GET " + kSite + "title.html ", 0) == 0
            || line.rfind("GET http://demoweb.test/favicon.ico ", 0) == 0;
        EXPECT_TRUE(own) << "a request the page did not make: " << line;
        EXPECT_NE(line.find("User-Agent=\"" + Agent() + "\""), std::string::npos) << line;
    }
}

TEST_F(Engine, RaisesNavigationEventsForThePageAndEachFrameInOrder)
{
    Recorder& recorder = NewRecorder();
    Page& page = NewPage(recorder);
    Load(page, recorder, "frames.html");
    const std::string top = kSite + "frames.html";
    const int topCommit = recorder.IndexOf("commit top " + top);
    const int topLoaded = recorder.IndexOf("loaded top " + top);
    EXPECT_GE(topCommit, 0) << Dump(recorder);
    EXPECT_EQ(recorder.IndexOf("start top " + top), -1) << "the host's own navigation is not asked about";
    for (const char* name : { "frame-a.html", "frame-b.html" }) {
        const std::string frame = kSite + name;
        const int start = recorder.IndexOf("start frame " + frame);
        const int commit = recorder.IndexOf("commit frame " + frame);
        const int loaded = recorder.IndexOf("loaded frame " + frame);
        EXPECT_LT(topCommit, start) << name << Dump(recorder);
        EXPECT_LT(start, commit) << name << Dump(recorder);
        EXPECT_LT(commit, loaded) << name << Dump(recorder);
        EXPECT_LT(loaded, topLoaded) << name << Dump(recorder);
    }
    EXPECT_TRUE(recorder.WaitFor("title Two frames")) << Dump(recorder);
    EXPECT_EQ(recorder.RequestLines(top),
        (std::vector<std::string> { "request GET Document " + top, "response 200", "ended" }));
}

TEST_F(Engine, HoldsEachPopupForTheHostsDecision)
{
    struct Case {
        Decision decision;
        const char* openResult;
    };
    Recorder& recorder = NewRecorder();
    Page& page = NewPage(recorder);
    const std::string popped = kSite + "popped.html";
    for (const Case& c : { Case { Decision::Cancel, "null" }, Case { Decision::Allow, "window" } }) {
        recorder.Clear();
        ASSERT_TRUE(page.Navigate(kSite + "popup.html"));
        ASSERT_TRUE(recorder.WaitFor("popup " + popped)) << c.openResult << Dump(recorder);
        EXPECT_EQ(recorder.IndexOf("loaded top " + kSite + "popup.html"), -1) << "the opener did not wait";
        page.Decide(recorder.Popup(), c.decision);
        ASSERT_TRUE(recorder.WaitFor("loaded top " + kSite + "popup.html")) << Dump(recorder);
        const EvaluateResult result = page.Evaluate("window.openResult");
        ASSERT_TRUE(result.ok) << result.error;
        EXPECT_EQ(result.value, c.openResult);
        if (c.decision == Decision::Cancel)
            EXPECT_TRUE(RequestsFor("popped.html").empty()) << "a cancelled pop-up loaded";
        else
            EXPECT_NE(m_demoweb.WaitForRequest("GET " + popped), "");
    }
    EXPECT_TRUE(RequestsFor("__shdocvw").empty()) << "the host's question reached the network";
}

TEST_F(Engine, RequestsNoImageWhileImagesAreOff)
{
    Recorder& recorder = NewRecorder();
    PageOptions options;
    options.images = Images::Block;
    Page& page = NewPage(recorder, options);
    Load(page, recorder, "images.html");
    // A later page's load proves that anything the first one asked for has been logged.
    Load(page, recorder, "title.html");
    EXPECT_FALSE(RequestsFor("images.html").empty());
    EXPECT_TRUE(RequestsFor(".gif").empty()) << RequestsFor(".gif").front();

    page.SetContentPolicy(Images::Load, Scripts::Run);
    recorder.Clear();
    Load(page, recorder, "images.html");
    EXPECT_NE(m_demoweb.WaitForRequest("shdocvw/pixel.gif"), "");
    EXPECT_NE(m_demoweb.WaitForRequest("shdocvw/backdrop.gif"), "");
}

TEST_F(Engine, MouseInputIsARealClickAtClientCoordinates)
{
    Recorder& recorder = NewRecorder();
    Page& page = NewPage(recorder);
    Load(page, recorder, "click.html");
    page.Mouse(MouseAction::Move, 150, 80);
    page.Mouse(MouseAction::LeftDown, 150, 80);
    page.Mouse(MouseAction::LeftUp, 150, 80);
    // Input is only sent; this query queues behind it in the same renderer.
    EvaluateResult clicks;
    for (int tries = 0; tries < 50; ++tries) {
        clicks = page.Evaluate("window.clicks");
        if (!clicks.ok || clicks.value.size() > 0)
            break;
        std::this_thread::sleep_for(100ms);
    }
    ASSERT_TRUE(clicks.ok) << clicks.error;
    ASSERT_EQ(clicks.value.size(), 1u) << clicks.value.dump();
    const Json click = clicks.value[0];
    EXPECT_EQ(click["x"], 150);
    EXPECT_EQ(click["y"], 80);
    EXPECT_EQ(click["onTarget"], true);
    EXPECT_EQ(click["trusted"], true);
    EXPECT_EQ(click["gesture"], true);
}

TEST_F(Engine, QueriesTheDocumentAsItIsAndEvaluatesScript)
{
    Recorder& recorder = NewRecorder();
    PageOptions options;
    options.width = 640;
    options.height = 480;
    Page& page = NewPage(recorder, options);
    Load(page, recorder, "objects.html");

    const auto document = page.QueryDocument();
    ASSERT_TRUE(document);
    EXPECT_EQ(document->title, "Plug-ins");
    EXPECT_EQ(document->url, kSite + "objects.html");
    EXPECT_EQ(document->contentType, "text/html");
    auto text = [](const std::vector<Element>& elements) {
        std::vector<std::string> lines;
        for (const Element& e : elements)
            lines.push_back(e.tag + " " + std::to_string(int(e.bounds.left)) + "," + std::to_string(int(e.bounds.top))
                + "-" + std::to_string(int(e.bounds.right)) + "," + std::to_string(int(e.bounds.bottom)));
        return lines;
    };
    EXPECT_EQ(text(document->applets), (std::vector<std::string> { "object 10,20-330,260", "applet 400,30-500,80" }));
    EXPECT_EQ(text(document->embeds), (std::vector<std::string> { "embed 40,300-200,390" }));

    const EvaluateResult size = page.Evaluate("[innerWidth, innerHeight]");
    ASSERT_TRUE(size.ok) << size.error;
    EXPECT_EQ(size.value, Json::array({ 640, 480 }));
    const EvaluateResult changed = page.Evaluate("document.title = 'Changed'; document.title");
    ASSERT_TRUE(changed.ok) << changed.error;
    EXPECT_EQ(page.QueryDocument()->title, "Changed");
    const EvaluateResult thrown = page.Evaluate("throw new Error('boom')");
    EXPECT_FALSE(thrown.ok);
    EXPECT_NE(thrown.error.find("boom"), std::string::npos) << thrown.error;

    // With scripts off the page's own script never runs, yet the host still queries the document.
    page.SetContentPolicy(Images::Load, Scripts::Disable);
    Load(page, recorder, "popup.html");
    const EvaluateResult ran = page.Evaluate("String(window.openResult)");
    ASSERT_TRUE(ran.ok) << ran.error;
    EXPECT_EQ(ran.value, "undefined");
    EXPECT_EQ(page.QueryDocument()->title, "Pop-up opener");
}

TEST_F(Engine, SharesTheCookieJarWithWininetBothWays)
{
    auto& jar = platform::CookieJar::Process();
    ASSERT_TRUE(jar.Store("http", "demoweb.test", "/", "fromJar=wininet; Path=/", platform::CookieAccess::Http));
    Recorder& recorder = NewRecorder();
    Page& page = NewPage(recorder);
    Load(page, recorder, "cookie-set.html");
    EXPECT_NE(jar.CookieHeader("http", "demoweb.test", "/", platform::CookieAccess::Http).find("fromPage=chromium"),
        std::string::npos);
    EXPECT_NE(RequestsFor("cookie-set.html").at(0).find("fromJar=wininet"), std::string::npos);

    // What the page was given, WinINet sends on its own requests.
    HINTERNET session = InternetOpenW(u"EngineTest", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    ASSERT_NE(session, nullptr);
    HINTERNET request = InternetOpenUrlW(session, u"http://demoweb.test/shdocvw/cookie-echo.html", nullptr, 0, 0, 0);
    ASSERT_NE(request, nullptr) << GetLastError();
    InternetCloseHandle(request);
    InternetCloseHandle(session);
    const std::string echoed = m_demoweb.WaitForRequest("cookie-echo.html");
    EXPECT_NE(echoed.find("fromPage=chromium"), std::string::npos) << echoed;
}

TEST_F(Engine, PutsTheSiteIconIntoTheUrlCache)
{
    Recorder& recorder = NewRecorder();
    Page& page = NewPage(recorder);
    auto cached = [](const char16_t* url) {
        DWORD size = 0;
        return !GetUrlCacheEntryInfoW(url, nullptr, &size) && GetLastError() == ERROR_INSUFFICIENT_BUFFER;
    };
    EXPECT_FALSE(cached(u"http://shdocvw.test/favicon.ico"));
    ASSERT_TRUE(page.Navigate("http://shdocvw.test/"));
    ASSERT_TRUE(recorder.WaitFor("loaded top http://shdocvw.test/")) << Dump(recorder);
    // The load waits for the icon only briefly; a slower icon reaches the cache after it.
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (!cached(u"http://shdocvw.test/favicon.ico") && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(cached(u"http://shdocvw.test/favicon.ico"));
}

TEST_F(Engine, TrustsTheRootsCertificatesWithoutIgnoringErrors)
{
    struct Case {
        const char* address;
        const char* committed; // as the page's navigation commits it
    };
    const Case cases[] = {
        { "https://demoweb.test/shdocvw/title.html", "https://demoweb.test/shdocvw/title.html" },
        // On the HSTS preload list: always https, which demoweb serves under its own authority.
        { "http://www.youtube.com/shdocvw-hsts", "https://www.youtube.com/shdocvw-hsts" },
        { "http://demoweb.test/shdocvw/title.html", "http://demoweb.test/shdocvw/title.html" },
    };
    Recorder& recorder = NewRecorder();
    Page& page = NewPage(recorder);
    for (const Case& c : cases) {
        recorder.Clear();
        ASSERT_TRUE(page.Navigate(c.address));
        EXPECT_TRUE(recorder.WaitFor(std::string("loaded top ") + c.committed)) << c.address << Dump(recorder);
    }
    EXPECT_NE(m_demoweb.WaitForRequest("GET https://demoweb.test/shdocvw/title.html"), "");
    EXPECT_NE(m_demoweb.WaitForRequest("GET https://www.youtube.com/shdocvw-hsts"), "");

    // A certificate the root does not trust is an error page, never the page.
    std::remove((testing_support::TestRoot() + "/certs/demoweb-ca.pem").c_str());
    Browser::Process().Shutdown();
    recorder.Clear();
    ASSERT_TRUE(page.Navigate("https://demoweb.test/shdocvw/frame-a.html"));
    // The error page stands for the address it could not show.
    ASSERT_TRUE(recorder.WaitFor("loaded top https://demoweb.test/shdocvw/frame-a.html")) << Dump(recorder);
    EXPECT_EQ(recorder.Lines().front(), "error top https://demoweb.test/shdocvw/frame-a.html -2146697208")
        << Dump(recorder);
    EXPECT_TRUE(RequestsFor("GET https://demoweb.test/shdocvw/frame-a.html").empty());
}

TEST_F(Engine, AStuckPageHoldsUpOnlyItselfAndAKilledBrowserComesBack)
{
    Recorder& looping = NewRecorder();
    Recorder& endless = NewRecorder();
    Recorder& plain = NewRecorder();
    Page& loop = NewPage(looping);
    Page& stuck = NewPage(endless);
    Page& page = NewPage(plain);
    ASSERT_TRUE(loop.Navigate(kSite + "loop.html"));
    ASSERT_TRUE(looping.WaitFor("commit top " + kSite + "loop.html")) << Dump(looping);
    ASSERT_TRUE(stuck.Navigate(kSite + "endless.html"));
    ASSERT_NE(m_demoweb.WaitForRequest("endless.html"), "");
    Load(page, plain, "title.html");
    EXPECT_FALSE(loop.Evaluate("1", 300ms).ok);

    // A call waits in the looping page while Chromium is killed: it fails with the reason.
    auto pending = std::async(std::launch::async, [&] { return loop.Evaluate("2", 60s); });
    const pid_t first = Browser::Process().ProcessId();
    ASSERT_GT(first, 0);
    ASSERT_EQ(kill(first, SIGKILL), 0);
    ASSERT_EQ(pending.wait_for(20s), std::future_status::ready);
    const EvaluateResult failed = pending.get();
    EXPECT_FALSE(failed.ok);
    // Closed while waiting, or broken when the call went out after the kill.
    EXPECT_TRUE(failed.error.find("closed") != std::string::npos || failed.error.find("broken") != std::string::npos)
        << failed.error;
    EXPECT_FALSE(page.QueryDocument());

    // The next navigation starts a fresh Chromium; the old page raised nothing since.
    const size_t before = plain.Lines().size();
    Load(page, plain, "frame-a.html");
    EXPECT_NE(Browser::Process().ProcessId(), first);
    const std::vector<std::string> after = plain.Lines();
    for (size_t i = before; i < after.size(); ++i)
        EXPECT_TRUE(after[i].find("frame-a.html") != std::string::npos || after[i] == "title Frame A") << after[i];
    EXPECT_EQ(endless.IndexOf("loaded top " + kSite + "endless.html"), -1);
}

// Waits up to timeout for holds(), looking every 50 ms.
bool Eventually(const std::function<bool()>& holds, std::chrono::milliseconds timeout = 5s)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!holds()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

TEST_F(Engine, CookiesThatScriptsSetReachTheJarSharedWithWininet)
{
    auto& jar = platform::CookieJar::Process();
    auto sent = [&](const char* path) {
        return jar.CookieHeader("http", "demoweb.test", path, platform::CookieAccess::Http);
    };
    Recorder& recorder = NewRecorder();
    Page& page = NewPage(recorder);
    // Set while the page loads: in the jar by the time the page counts as loaded, each on its path.
    Load(page, recorder, "cookie-script.html");
    EXPECT_NE(sent("/shdocvw/x").find("fromScript=early"), std::string::npos) << sent("/shdocvw/x");
    EXPECT_NE(sent("/shdocvw/x").find("scoped=yes"), std::string::npos) << sent("/shdocvw/x");
    EXPECT_EQ(sent("/").find("scoped=yes"), std::string::npos) << sent("/");

    // Set later: in the jar soon after (its news comes behind the script's answer).
    ASSERT_TRUE(page.Evaluate("document.cookie = 'late=1; path=/'; 0").ok);
    EXPECT_TRUE(Eventually([&] { return sent("/").find("late=1") != std::string::npos; })) << sent("/");

    HINTERNET session = InternetOpenW(u"EngineTest", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    ASSERT_NE(session, nullptr);
    HINTERNET request
        = InternetOpenUrlW(session, u"http://demoweb.test/shdocvw/cookie-echo.html?script", nullptr, 0, 0, 0);
    ASSERT_NE(request, nullptr) << GetLastError();
    InternetCloseHandle(request);
    InternetCloseHandle(session);
    const std::string echoed = m_demoweb.WaitForRequest("cookie-echo.html?script");
    EXPECT_NE(echoed.find("fromScript=early"), std::string::npos) << echoed;
    EXPECT_NE(echoed.find("late=1"), std::string::npos) << echoed;
}

TEST_F(Engine, ASlowSiteIconHoldsUpTheLoadOnlyBrieflyAndStillReachesTheCache)
{
    struct Case {
        const char* page;
        const char16_t* icon;
        bool cachedAtLoad;
    };
    const Case cases[] = {
        { "http://shdocvw.test/", u"http://shdocvw.test/favicon.ico", true },
        // Its icon takes 2 s to answer: the page counts as loaded long before.
        { "http://slow-icon.test/", u"http://slow-icon.test/favicon.ico", false },
    };
    auto cached = [](const char16_t* url) {
        DWORD size = 0;
        return !GetUrlCacheEntryInfoW(url, nullptr, &size) && GetLastError() == ERROR_INSUFFICIENT_BUFFER;
    };
    Recorder& recorder = NewRecorder();
    Page& page = NewPage(recorder);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.page);
        ASSERT_TRUE(page.Navigate(c.page));
        ASSERT_TRUE(recorder.WaitFor(std::string("loaded top ") + c.page)) << Dump(recorder);
        EXPECT_EQ(cached(c.icon), c.cachedAtLoad);
        EXPECT_TRUE(Eventually([&] { return cached(c.icon); }));
    }
}

TEST_F(Engine, AHeldNavigationHoldsUpOnlyItsOwnPageUntilTheHostAnswers)
{
    Recorder& holding = NewRecorder();
    holding.m_holdNavigations = true;
    Recorder& plain = NewRecorder();
    Page& held = NewPage(holding);
    Page& page = NewPage(plain);
    ASSERT_TRUE(held.Navigate(kSite + "frames.html"));
    for (const char* frame : { "frame-a.html", "frame-b.html" })
        ASSERT_TRUE(holding.WaitFor("start frame " + kSite + frame)) << Dump(holding);

    // Another page loads while those frames wait, unrequested, and their page with them.
    Load(page, plain, "title.html");
    EXPECT_TRUE(RequestsFor("frame-").empty()) << RequestsFor("frame-").front();
    EXPECT_EQ(holding.IndexOf("loaded top " + kSite + "frames.html"), -1) << Dump(holding);

    const std::vector<std::string> ids = holding.Held();
    ASSERT_EQ(ids.size(), 2u);
    for (const std::string& id : ids)
        held.Decide(id, Decision::Allow);
    ASSERT_TRUE(holding.WaitFor("loaded top " + kSite + "frames.html")) << Dump(holding);
    EXPECT_NE(m_demoweb.WaitForRequest("frame-b.html"), "");

    // An answer to an id answered before, or never given, changes nothing; the host's own
    // navigation is never held.
    held.Decide(ids[0], Decision::Cancel);
    held.Decide("no such id", Decision::Cancel);
    Load(held, holding, "title.html");
}

}
