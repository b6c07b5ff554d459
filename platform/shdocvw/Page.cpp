#include "Page.h"

#include "CookieJar.h"
#include "SiteIcon.h"
#include "urlmon.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <mutex>
#include <strings.h>

namespace shdocvw {

namespace {

constexpr char kPopupPath[] = "/__shdocvw/popup?";
constexpr std::chrono::milliseconds kSetupDeadline { 10000 };
// How long a loaded top page waits for its site icon (fetched since its document was committed)
// before it counts as loaded anyway: a slow icon host must not hold up the page's host.
constexpr std::chrono::milliseconds kIconPatience { 500 };
// Called by the page's scripts with each cookie they set through document.cookie.
constexpr char kCookieBinding[] = "__shdocvwCookieSet";
constexpr size_t kMaxScriptCookie = 8192; // a longer one no browser keeps
constexpr size_t kMaxContexts = 4096; // script contexts of a page's frames at once
// Requests of one page waiting for its host at once; a page that makes more is refused them.
constexpr size_t kMaxHeld = 256;

// Every way a page opens a window asks the host first: window.open, a link or a form aimed at a
// new window (clicked, submitted or submitted by script). The question is a synchronous request
// to kPopupPath of the page's own origin, which the page's request interception holds until the
// host decides, and answers "allow" or not.
const char kPopupScript[] = R"JS((() => {
    const open = window.open;
    const submit = HTMLFormElement.prototype.submit;
    const allowed = url => {
        let target = '';
        try { target = new URL(url === undefined || url === '' ? 'about:blank' : String(url), location.href).href; } catch (e) { return false; }
        const ask = new XMLHttpRequest();
        try {
            ask.open('GET', location.origin + '/__shdocvw/popup?' + encodeURIComponent(target), false);
            ask.send();
        } catch (e) { return false; }
        return ask.responseText === 'allow';
    };
    const named = (view, name) => {
        try {
            if (view.name === name)
                return true;
            for (let i = 0; i < view.frames.length; ++i)
                if (named(view.frames[i], name))
                    return true;
        } catch (e) { }
        return false;
    };
    const opensWindow = name => {
        const target = String(name || '').toLowerCase();
        if (target === '' || target === '_self' || target === '_parent' || target === '_top')
            return false;
        return target === '_blank' || !named(window.top, String(name));
    };
    window.open = function (url) {
        return allowed(url) ? open.apply(this, arguments) : null;
    };
    HTMLFormElement.prototype.submit = function () {
        if (!opensWindow(this.target) || allowed(this.action))
            submit.call(this);
    };
    window.addEventListener('click', event => {
        const link = event.target instanceof Element ? event.target.closest('a[href], area[href]') : null;
        if (!link || event.defaultPrevented || !opensWindow(link.target))
            return;
        event.preventDefault();
        if (allowed(link.href))
            open.call(window, link.href, link.target);
    });
    window.addEventListener('submit', event => {
        const form = event.target;
        if (!(form instanceof HTMLFormElement) || event.defaultPrevented || !opensWindow(form.target))
            return;
        event.preventDefault();
        if (allowed(form.action))
            submit.call(form);
    });
})();)JS";

// Hands the engine each cookie a script sets, so that it goes into the process's jar as well.
const char kCookieScript[] = R"JS((() => {
    const cookie = Object.getOwnPropertyDescriptor(Document.prototype, 'cookie');
    const tell = window.__shdocvwCookieSet;
    if (!cookie || typeof tell !== 'function')
        return;
    Object.defineProperty(Document.prototype, 'cookie', {
        configurable: true, enumerable: cookie.enumerable,
        get() { return cookie.get.call(this); },
        set(value) { cookie.set.call(this, value); try { tell(String(value)); } catch (e) { } },
    });
})();)JS";

const char kDocumentQuery[] = R"JS((() => {
    const box = e => { const r = e.getBoundingClientRect();
        return { tag: e.tagName.toLowerCase(), left: r.left, top: r.top, right: r.right, bottom: r.bottom }; };
    return { title: document.title, url: document.URL, contentType: document.contentType,
        applets: Array.from(document.querySelectorAll('object, applet')).map(box),
        embeds: Array.from(document.embeds).map(box) };
})())JS";

struct UrlParts {
    std::string scheme;
    std::string host;
    std::string path;
};

UrlParts SplitUrl(const std::string& url)
{
    UrlParts parts;
    const size_t colon = url.find("://");
    if (colon == std::string::npos)
        return parts;
    parts.scheme = url.substr(0, colon);
    const size_t hostStart = colon + 3;
    const size_t hostEnd = std::min(url.find_first_of("/?#", hostStart), url.size());
    std::string authority = url.substr(hostStart, hostEnd - hostStart);
    if (const size_t at = authority.rfind('@'); at != std::string::npos)
        authority.erase(0, at + 1);
    if (const size_t port = authority.rfind(':'); port != std::string::npos && authority.find(']') == std::string::npos)
        authority.erase(port);
    std::transform(
        authority.begin(), authority.end(), authority.begin(), [](unsigned char c) { return std::tolower(c); });
    parts.host = authority;
    const size_t pathEnd = std::min(url.find_first_of("?#", hostEnd), url.size());
    parts.path = hostEnd < pathEnd ? url.substr(hostEnd, pathEnd - hostEnd) : "/";
    return parts;
}

std::string PercentDecode(const std::string& text)
{
    std::string decoded;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1]))
            && std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            decoded.push_back(static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)));
            i += 2;
        } else {
            decoded.push_back(text[i]);
        }
    }
    return decoded;
}

std::string UserAgent()
{
    char agent[4096];
    DWORD length = 0;
    if (UrlMkGetSessionOption(URLMON_OPTION_USERAGENT, agent, sizeof agent, &length, 0) != S_OK)
        return {};
    return std::string(agent, strnlen(agent, sizeof agent));
}

std::string Base64(const std::string& bytes)
{
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const unsigned value = (static_cast<unsigned char>(bytes[i]) << 16)
            | (i + 1 < bytes.size() ? static_cast<unsigned char>(bytes[i + 1]) << 8 : 0)
            | (i + 2 < bytes.size() ? static_cast<unsigned char>(bytes[i + 2]) : 0);
        text.push_back(kDigits[(value >> 18) & 63]);
        text.push_back(kDigits[(value >> 12) & 63]);
        text.push_back(i + 1 < bytes.size() ? kDigits[(value >> 6) & 63] : '=');
        text.push_back(i + 2 < bytes.size() ? kDigits[value & 63] : '=');
    }
    return text;
}

std::string Text(const Json& object, const char* key)
{
    const auto found = object.find(key);
    return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

// A paused request, held for the host's answer or about to go on.
struct HeldRequest {
    enum class Kind { Popup, Navigation, Failure };
    Kind kind = Kind::Navigation;
    std::string paused; // the Fetch id that answers it
    std::string networkId;
    std::string method;
    std::string url;
    std::string resourceType;
    std::string frame;
};

// The NavigateError status of a document request's answer, or 0 when it did not fail (or failed
// because we stopped it).
LONG FailureOf(const Json& params)
{
    if (params.contains("responseErrorReason")) {
        const std::string reason = Text(params, "responseErrorReason");
        if (reason == "Aborted" || reason == "BlockedByClient")
            return 0;
        if (reason == "NameNotResolved")
            return INET_E_RESOURCE_NOT_FOUND;
        if (reason == "ConnectionRefused" || reason == "ConnectionFailed" || reason == "AddressUnreachable"
            || reason == "InternetDisconnected")
            return INET_E_CANNOT_CONNECT;
        if (reason == "TimedOut")
            return INET_E_CONNECTION_TIMEOUT;
        return INET_E_DOWNLOAD_FAILURE;
    }
    const int status = params.value("responseStatusCode", 0);
    return status >= 400 ? status : 0;
}

}

struct Page::Core : std::enable_shared_from_this<Page::Core> {
    // Held while an event goes to the host, and by the Page's destructor, so that no event
    // reaches a host that has released its page (recursive: the host may release it from one).
    std::recursive_mutex eventLock;
    PageEvents* events = nullptr;
    RequestObserver* requests = nullptr;
    bool detached = false;

    std::mutex lock; // guards everything below
    PageOptions options;
    std::shared_ptr<DevToolsConnection> connection;
    std::string context;
    std::string target;
    std::string session;
    std::map<std::string, std::string> frameUrls;
    std::map<long long, std::string> scriptContexts; // the main script context of each frame -> the frame
    std::string title;
    std::map<std::string, HeldRequest> held; // by the id the host answers
    std::map<std::string, std::string> started; // requests reported as started and not ended, with their URL
    int nextHeld = 1;
    // The next top document request is the host's own (a Navigate that makes one has not made it
    // yet): a newer Navigate replaces an older one, as Chromium does.
    bool hostNavigation = false;

    bool Open(std::string& error);
    void Release();
    void SetCookies();
    void OnEvent(const std::string& method, const Json& params);
    void OnRequestPaused(const Json& params);
    template <typename Ask> void Hold(HeldRequest request, Ask&& ask);
    void Proceed(const HeldRequest& request);
    void DecideFor(const std::string& id, Decision decision);
    void QueryTitle();
    void TakeCookies(const Json& params);
    void TakeScriptCookie(const Json& params);

    template <typename Call> void Raise(Call&& call)
    {
        std::lock_guard guard(eventLock);
        if (!detached && events)
            call(*events);
    }
    template <typename Call> void Report(Call&& call)
    {
        std::lock_guard guard(eventLock);
        if (detached)
            return;
        if (requests)
            call(*requests);
        if (RequestObserver* hook = Browser::Process().RequestHook())
            call(*hook);
    }
    // The connection and session to send on, or nothing while the page has no live Chromium.
    std::pair<std::shared_ptr<DevToolsConnection>, std::string> Channel()
    {
        std::lock_guard guard(lock);
        return { connection, session };
    }
};

bool Page::Core::Open(std::string& error)
{
    BrowserConnection browser = Browser::Process().Connection();
    if (!browser.connection) {
        error = browser.error;
        return false;
    }
    auto& devtools = *browser.connection;
    const CallResult created
        = devtools.Call("Target.createBrowserContext", { { "disposeOnDetach", true } }, "", kSetupDeadline);
    if (!created.ok) {
        error = created.error;
        return false;
    }
    const std::string newContext = Text(created.result, "browserContextId");
    auto fail = [&](const CallResult& result) {
        error = result.error;
        devtools.Post("Target.disposeBrowserContext", { { "browserContextId", newContext } });
        return false;
    };
    const CallResult made = devtools.Call("Target.createTarget",
        { { "url", "about:blank" }, { "browserContextId", newContext }, { "width", options.width },
            { "height", options.height } },
        "", kSetupDeadline);
    if (!made.ok)
        return fail(made);
    const std::string newTarget = Text(made.result, "targetId");
    const CallResult attached = devtools.Call(
        "Target.attachToTarget", { { "targetId", newTarget }, { "flatten", true } }, "", kSetupDeadline);
    if (!attached.ok)
        return fail(attached);
    const std::string newSession = Text(attached.result, "sessionId");
    std::weak_ptr<Core> self = weak_from_this();
    devtools.SetEventHandler(newSession, [self](const std::string& method, const Json& params) {
        if (auto core = self.lock())
            core->OnEvent(method, params);
    });

    const Json patterns = Json::array({ { { "urlPattern", "*" }, { "requestStage", "Request" } },
        { { "urlPattern", "*" }, { "requestStage", "Response" } } });
    const std::pair<const char*, Json> setup[] = {
        { "Page.enable", Json::object() },
        { "Network.enable", Json::object() },
        { "Fetch.enable", { { "patterns", patterns } } },
        { "Emulation.setDeviceMetricsOverride",
            { { "width", options.width }, { "height", options.height }, { "deviceScaleFactor", 1 },
                { "mobile", false } } },
        { "Emulation.setUserAgentOverride", { { "userAgent", UserAgent() } } },
        { "Emulation.setScriptExecutionDisabled", { { "value", options.scripts == Scripts::Disable } } },
        { "Page.addScriptToEvaluateOnNewDocument", { { "source", kPopupScript } } },
        { "Runtime.enable", Json::object() },
        { "Runtime.addBinding", { { "name", kCookieBinding } } },
        { "Page.addScriptToEvaluateOnNewDocument", { { "source", kCookieScript } } },
    };
    for (const auto& [method, params] : setup) {
        const CallResult done = devtools.Call(method, params, newSession, kSetupDeadline);
        if (!done.ok) {
            devtools.RemoveEventHandler(newSession);
            return fail(done);
        }
    }
    std::lock_guard guard(lock);
    connection = browser.connection;
    context = newContext;
    target = newTarget;
    session = newSession;
    frameUrls.clear();
    scriptContexts.clear();
    held.clear();
    started.clear();
    hostNavigation = false;
    title.clear();
    return true;
}

void Page::Core::Release()
{
    std::shared_ptr<DevToolsConnection> old;
    std::string oldContext;
    std::string oldSession;
    {
        std::lock_guard guard(lock);
        old = std::move(connection);
        oldContext = context;
        oldSession = session;
    }
    if (!old)
        return;
    old->RemoveEventHandler(oldSession);
    // Disposing the context closes the page and every pop-up it opened.
    old->Post("Target.disposeBrowserContext", { { "browserContextId", oldContext } });
}

void Page::Core::SetCookies()
{
    auto [devtools, on] = Channel();
    Json cookies = Json::array();
    for (const platform::Cookie& cookie : platform::CookieJar::Process().Cookies()) {
        Json entry = { { "name", cookie.name }, { "value", cookie.value }, { "path", cookie.path },
            { "secure", cookie.secure }, { "httpOnly", cookie.httpOnly } };
        if (cookie.hostOnly)
            entry["url"] = std::string(cookie.secure ? "https://" : "http://") + cookie.domain + cookie.path;
        else
            entry["domain"] = "." + cookie.domain;
        if (cookie.expires)
            entry["expires"] = std::chrono::duration<double>(cookie.expires->time_since_epoch()).count();
        cookies.push_back(std::move(entry));
    }
    if (cookies.empty())
        return;
    // Waited for, so that the navigation that follows carries them; the cookie store answers
    // without the page, so this never waits for page loading.
    const CallResult stored = devtools->Call("Network.setCookies", { { "cookies", cookies } }, on, kSetupDeadline);
    (void)stored; // a cookie Chromium refuses is one the page would not have sent either
}

void Page::Core::OnRequestPaused(const Json& params)
{
    auto [devtools, on] = Channel();
    if (!devtools)
        return;
    HeldRequest request;
    request.paused = Text(params, "requestId");
    request.networkId = params.contains("networkId") ? Text(params, "networkId") : request.paused;
    const Json details = params.value("request", Json::object());
    request.method = Text(details, "method");
    request.url = Text(details, "url");
    request.resourceType = Text(params, "resourceType");
    request.frame = Text(params, "frameId");
    const bool document = request.resourceType == "Document";

    if (params.contains("responseStatusCode") || params.contains("responseErrorReason")) {
        const int status = params.value("responseStatusCode", 0);
        std::vector<std::string> lines;
        for (const Json& header : params.value("responseHeaders", Json::array()))
            lines.push_back(Text(header, "name") + ": " + Text(header, "value"));
        if (status != 0)
            Report([&](RequestObserver& observer) { observer.OnResponseHeaders(request.networkId, status, lines); });
        if (const LONG failure = document ? FailureOf(params) : 0; failure != 0) {
            request.kind = HeldRequest::Kind::Failure;
            Hold(request, [&](PageEvents& host, const std::string& id, const FrameNavigation& navigation) {
                host.OnNavigationFailed(id, navigation, failure);
            });
            return;
        }
        devtools->Post("Fetch.continueRequest", { { "requestId", request.paused } }, on);
        return;
    }

    if (const size_t probe = request.url.find(kPopupPath);
        probe != std::string::npos && probe == request.url.find('/', request.url.find("://") + 3)) {
        const std::string target = PercentDecode(request.url.substr(probe + sizeof kPopupPath - 1));
        request.kind = HeldRequest::Kind::Popup;
        Hold(request, [&](PageEvents& host, const std::string& id, const FrameNavigation&) {
            host.OnPopupRequested(id, target);
        });
        return;
    }

    bool byHost = false;
    {
        std::lock_guard guard(lock);
        if (options.images == Images::Block && request.resourceType == "Image") {
            devtools->Post(
                "Fetch.failRequest", { { "requestId", request.paused }, { "errorReason", "BlockedByClient" } }, on);
            return;
        }
        if (document && request.frame == target && hostNavigation) {
            hostNavigation = false;
            byHost = true;
        }
    }
    // The host raised BeforeNavigate2 for its own navigations; a server's redirect raises none.
    if (document && !byHost && !params.contains("redirectedRequestId")) {
        request.kind = HeldRequest::Kind::Navigation;
        Hold(request, [&](PageEvents& host, const std::string& id, const FrameNavigation& navigation) {
            host.OnNavigationStarting(id, navigation);
        });
        return;
    }
    Proceed(request);
}

// Keeps the request paused and asks the host; a page without a host goes on at once.
template <typename Ask> void Page::Core::Hold(HeldRequest request, Ask&& ask)
{
    FrameNavigation navigation { request.frame, request.url, false, {} };
    std::string id;
    bool full = false;
    {
        std::lock_guard guard(lock);
        navigation.top = request.frame == target;
        id = std::to_string(nextHeld++);
        full = held.size() >= kMaxHeld;
        held[id] = std::move(request);
    }
    if (full) {
        DecideFor(id, Decision::Cancel);
        return;
    }
    bool asked = false;
    Raise([&](PageEvents& host) {
        asked = true;
        ask(host, id, navigation);
    });
    if (!asked)
        DecideFor(id, Decision::Allow);
}

// Lets a request out, reported as started.
void Page::Core::Proceed(const HeldRequest& request)
{
    auto [devtools, on] = Channel();
    if (!devtools)
        return;
    {
        std::lock_guard guard(lock);
        started[request.networkId] = request.url;
    }
    Report([&](RequestObserver& observer) {
        observer.OnRequestStarted(request.networkId, request.method, request.url, request.resourceType, request.frame);
    });
    devtools->Post("Fetch.continueRequest", { { "requestId", request.paused } }, on);
}

void Page::Core::DecideFor(const std::string& id, Decision decision)
{
    HeldRequest request;
    {
        std::lock_guard guard(lock);
        const auto found = held.find(id);
        if (found == held.end())
            return;
        request = std::move(found->second);
        held.erase(found);
    }
    auto [devtools, on] = Channel();
    if (!devtools)
        return;
    // Aborted, unlike other errors, shows no error page: the frame keeps its document.
    const Json abort = { { "requestId", request.paused }, { "errorReason", "Aborted" } };
    switch (request.kind) {
    case HeldRequest::Kind::Popup: {
        const Json headers = Json::array({ { { "name", "Content-Type" }, { "value", "text/plain" } },
            { { "name", "Cache-Control" }, { "value", "no-store" } } });
        devtools->Post("Fetch.fulfillRequest",
            { { "requestId", request.paused }, { "responseCode", 200 }, { "responseHeaders", headers },
                { "body", Base64(decision == Decision::Allow ? "allow" : "cancel") } },
            on);
        break;
    }
    case HeldRequest::Kind::Navigation:
        if (decision == Decision::Allow)
            Proceed(request);
        else
            devtools->Post("Fetch.failRequest", abort, on);
        break;
    case HeldRequest::Kind::Failure:
        if (decision == Decision::Allow)
            devtools->Post("Fetch.continueRequest", { { "requestId", request.paused } }, on);
        else
            devtools->Post("Fetch.failRequest", abort, on);
        break;
    }
}

// The raw response headers (only these show Set-Cookie) bring the page's cookies into the jar.
void Page::Core::TakeCookies(const Json& params)
{
    UrlParts parts;
    {
        std::lock_guard guard(lock);
        const auto request = started.find(Text(params, "requestId"));
        if (request == started.end())
            return;
        parts = SplitUrl(request->second);
    }
    const Json headers = params.value("headers", Json::object());
    if (!headers.is_object())
        return;
    for (const auto& [name, value] : headers.items()) {
        if (strcasecmp(name.c_str(), "set-cookie") != 0 || !value.is_string())
            continue;
        // Several Set-Cookie headers come folded into one value, a line each.
        const std::string all = value.get<std::string>();
        for (size_t start = 0; start < all.size();) {
            const size_t end = std::min(all.find('\n', start), all.size());
            platform::CookieJar::Process().Store(
                parts.scheme, parts.host, parts.path, all.substr(start, end - start), platform::CookieAccess::Http);
            start = end + 1;
        }
    }
}

// A cookie a script set goes into the jar for the address of the frame whose script set it, as
// the engine knows that address: the page names only the cookie.
void Page::Core::TakeScriptCookie(const Json& params)
{
    const std::string cookie = Text(params, "payload");
    if (cookie.empty() || cookie.size() > kMaxScriptCookie
        || !params.value("executionContextId", Json()).is_number_integer())
        return;
    UrlParts parts;
    {
        std::lock_guard guard(lock);
        const auto context = scriptContexts.find(params["executionContextId"].get<long long>());
        if (context == scriptContexts.end())
            return;
        const auto frame = frameUrls.find(context->second);
        if (frame == frameUrls.end())
            return;
        parts = SplitUrl(frame->second);
    }
    if (parts.scheme != "http" && parts.scheme != "https")
        return;
    // A cookie the jar refuses is one the page's own browser refused as well.
    (void)platform::CookieJar::Process().Store(
        parts.scheme, parts.host, parts.path, cookie, platform::CookieAccess::Script);
}

void Page::Core::QueryTitle()
{
    auto [devtools, on] = Channel();
    if (!devtools)
        return;
    std::weak_ptr<Core> self = weak_from_this();
    devtools->Post("Runtime.evaluate", { { "expression", "document.title" }, { "returnByValue", true } }, on,
        [self](const CallResult& reply) {
            auto core = self.lock();
            if (!core || !reply.ok)
                return;
            const Json value = reply.result.value("result", Json::object()).value("value", Json());
            if (!value.is_string())
                return;
            {
                std::lock_guard guard(core->lock);
                if (core->title == value.get<std::string>())
                    return;
                core->title = value.get<std::string>();
            }
            core->Raise([&](PageEvents& host) { host.OnTitleChanged(value.get<std::string>()); });
        });
}

void Page::Core::OnEvent(const std::string& method, const Json& params)
{
    if (method == "Fetch.requestPaused") {
        OnRequestPaused(params);
    } else if (method == "Network.loadingFinished" || method == "Network.loadingFailed") {
        const std::string id = Text(params, "requestId");
        {
            std::lock_guard guard(lock);
            if (started.erase(id) == 0)
                return;
        }
        const bool succeeded = method == "Network.loadingFinished";
        Report([&](RequestObserver& observer) { observer.OnRequestEnded(id, succeeded); });
    } else if (method == "Network.responseReceivedExtraInfo") {
        TakeCookies(params);
    } else if (method == "Page.frameNavigated") {
        const Json frame = params.value("frame", Json::object());
        // An error page stands for the address that could not be shown, as Internet Explorer's does.
        const std::string unreachable = Text(frame, "unreachableUrl");
        FrameNavigation navigation { Text(frame, "id"),
            unreachable.empty() ? Text(frame, "url") + Text(frame, "urlFragment") : unreachable, false,
            Text(frame, "mimeType") };
        {
            std::lock_guard guard(lock);
            navigation.top = navigation.frame == target;
            frameUrls[navigation.frame] = navigation.url;
        }
        if (navigation.top)
            CacheSiteIconOf(navigation.url); // fetched while the page loads
        Raise([&](PageEvents& host) { host.OnNavigationCommitted(navigation); });
    } else if (method == "Page.frameStoppedLoading") {
        FrameNavigation navigation { Text(params, "frameId"), {}, false };
        {
            std::lock_guard guard(lock);
            const auto known = frameUrls.find(navigation.frame);
            if (known == frameUrls.end())
                return; // a frame that never committed a document of ours (the first about:blank)
            navigation.url = known->second;
            navigation.top = navigation.frame == target;
        }
        if (!navigation.top) {
            Raise([&](PageEvents& host) { host.OnDocumentLoaded(navigation); });
            return;
        }
        QueryTitle();
        // The top page has loaded once its site icon is in the URL cache (or has had its
        // chance), as a host expects it.
        std::weak_ptr<Core> self = weak_from_this();
        CacheSiteIconOf(
            navigation.url,
            [self, navigation] {
                if (auto core = self.lock())
                    core->Raise([&](PageEvents& host) { host.OnDocumentLoaded(navigation); });
            },
            kIconPatience);
    } else if (method == "Runtime.bindingCalled") {
        if (Text(params, "name") == kCookieBinding)
            TakeScriptCookie(params);
    } else if (method == "Runtime.executionContextCreated") {
        const Json context = params.value("context", Json::object());
        const Json aux = context.value("auxData", Json::object());
        if (context.value("id", Json()).is_number_integer() && aux.is_object() && aux.value("isDefault", false)) {
            std::lock_guard guard(lock);
            if (scriptContexts.size() < kMaxContexts)
                scriptContexts[context["id"].get<long long>()] = Text(aux, "frameId");
        }
    } else if (method == "Runtime.executionContextDestroyed") {
        if (params.value("executionContextId", Json()).is_number_integer()) {
            std::lock_guard guard(lock);
            scriptContexts.erase(params["executionContextId"].get<long long>());
        }
    } else if (method == "Runtime.executionContextsCleared") {
        std::lock_guard guard(lock);
        scriptContexts.clear();
    } else if (method == "Page.domContentEventFired") {
        QueryTitle();
    } else if (method == "Page.javascriptDialogOpening") {
        // A hidden page has nobody to answer a dialog; leaving it open would stall the page.
        auto [devtools, on] = Channel();
        if (devtools)
            devtools->Post("Page.handleJavaScriptDialog", { { "accept", true } }, on);
    }
}

std::unique_ptr<Page> Page::Create(
    const PageOptions& options, PageEvents* events, RequestObserver* requests, std::string& error)
{
    std::unique_ptr<Page> page(new Page);
    page->m_core = std::make_shared<Core>();
    page->m_core->options = options;
    page->m_core->events = events;
    page->m_core->requests = requests;
    if (!page->m_core->Open(error))
        return nullptr;
    return page;
}

Page::~Page()
{
    {
        std::lock_guard guard(m_core->eventLock);
        m_core->detached = true;
    }
    m_core->Release();
}

bool Page::Navigate(const std::string& url)
{
    auto [devtools, on] = m_core->Channel();
    if (!devtools || !devtools->IsOpen()) {
        // Chromium died since the page was made: make it again in a fresh one.
        m_core->Release();
        std::string error;
        if (!m_core->Open(error))
            return false;
        std::tie(devtools, on) = m_core->Channel();
    }
    m_core->SetCookies();
    {
        std::lock_guard guard(m_core->lock);
        const std::string scheme = SplitUrl(url).scheme;
        m_core->hostNavigation = strcasecmp(scheme.c_str(), "http") == 0 || strcasecmp(scheme.c_str(), "https") == 0;
    }
    devtools->Post("Page.navigate", { { "url", url } }, on);
    return true;
}

void Page::Stop()
{
    {
        std::lock_guard guard(m_core->lock);
        m_core->hostNavigation = false;
    }
    if (auto [devtools, on] = m_core->Channel(); devtools)
        devtools->Post("Page.stopLoading", Json::object(), on);
}

void Page::Resize(int width, int height)
{
    {
        std::lock_guard guard(m_core->lock);
        m_core->options.width = width;
        m_core->options.height = height;
    }
    if (auto [devtools, on] = m_core->Channel(); devtools)
        devtools->Post("Emulation.setDeviceMetricsOverride",
            { { "width", width }, { "height", height }, { "deviceScaleFactor", 1 }, { "mobile", false } }, on);
}

void Page::SetContentPolicy(Images images, Scripts scripts)
{
    {
        std::lock_guard guard(m_core->lock);
        m_core->options.images = images;
        m_core->options.scripts = scripts;
    }
    if (auto [devtools, on] = m_core->Channel(); devtools)
        devtools->Post("Emulation.setScriptExecutionDisabled", { { "value", scripts == Scripts::Disable } }, on);
}

void Page::Decide(const std::string& id, Decision decision)
{
    m_core->DecideFor(id, decision);
}

void Page::Mouse(MouseAction action, int x, int y)
{
    auto [devtools, on] = m_core->Channel();
    if (!devtools)
        return;
    Json event = { { "x", x }, { "y", y } };
    switch (action) {
    case MouseAction::Move:
        event.update({ { "type", "mouseMoved" }, { "button", "none" }, { "buttons", 0 } });
        break;
    case MouseAction::LeftDown:
        event.update({ { "type", "mousePressed" }, { "button", "left" }, { "buttons", 1 }, { "clickCount", 1 } });
        break;
    case MouseAction::LeftUp:
        event.update({ { "type", "mouseReleased" }, { "button", "left" }, { "buttons", 0 }, { "clickCount", 1 } });
        break;
    }
    // Sent, not waited for: the renderer answers input only when its script lets it.
    devtools->Post("Input.dispatchMouseEvent", event, on);
}

bool Page::Run(const std::string& script)
{
    auto [devtools, on] = m_core->Channel();
    if (!devtools || !devtools->IsOpen())
        return false;
    devtools->Post("Runtime.evaluate", { { "expression", script } }, on);
    return true;
}

EvaluateResult Page::Evaluate(const std::string& expression, std::chrono::milliseconds deadline)
{
    auto [devtools, on] = m_core->Channel();
    if (!devtools)
        return { false, {}, "the page has no browser" };
    const CallResult reply
        = devtools->Call("Runtime.evaluate", { { "expression", expression }, { "returnByValue", true } }, on, deadline);
    if (!reply.ok)
        return { false, {}, reply.error };
    const Json details = reply.result.value("exceptionDetails", Json());
    if (details.is_object()) {
        const Json exception = details.value("exception", Json::object());
        const std::string description = Text(exception, "description");
        return { false, {}, description.empty() ? Text(details, "text") : description };
    }
    return { true, reply.result.value("result", Json::object()).value("value", Json()), {} };
}

std::optional<DocumentState> Page::QueryDocument(std::chrono::milliseconds deadline)
{
    const EvaluateResult answer = Evaluate(kDocumentQuery, deadline);
    if (!answer.ok || !answer.value.is_object())
        return std::nullopt;
    const Json& value = answer.value;
    auto elements = [&](const char* key) {
        std::vector<Element> list;
        for (const Json& item : value.value(key, Json::array())) {
            if (!item.is_object())
                continue;
            list.push_back({ Text(item, "tag"),
                { item.value("left", 0.0), item.value("top", 0.0), item.value("right", 0.0),
                    item.value("bottom", 0.0) } });
        }
        return list;
    };
    return DocumentState { Text(value, "title"), Text(value, "url"), Text(value, "contentType"), elements("applets"),
        elements("embeds") };
}

std::string Page::TargetId() const
{
    std::lock_guard guard(m_core->lock);
    return m_core->target;
}

}
