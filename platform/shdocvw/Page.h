// One page of the hidden browser: a Chromium target in a browser context of its own, sized as
// asked, sending the process's user agent, sharing the process's cookie jar with WinINet (the
// jar's cookies go into the context before each navigation; cookies that responses set come back
// into the jar as the responses arrive, those that scripts set in order with the page's events, so
// that one set while the page loads is in the jar when the page counts as loaded), and reporting
// every request it makes.
//
// Threads: every member may be called from any thread. Navigate, Stop and mouse input only send;
// they never wait for the page. Queries (Evaluate, QueryDocument) wait for the page's answer until
// their deadline, and block only their caller: a page that loops in script or never finishes
// loading holds up nothing else. PageEvents are called one at a time, on the connection's dispatch
// thread (the top page's OnDocumentLoaded on a site-icon thread, once the icon is cached or after a
// short wait for it), and must not block; after the Page is destroyed none is called.
//
// Failure: when Chromium dies, pending queries fail, the page raises no further event, and the
// next Navigate makes the page afresh in a new Chromium. Create fails with a reason.
#pragma once

#include "Browser.h"

#include "winnt.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace shdocvw {

enum class Images { Load, Block };
enum class Scripts { Run, Disable };
// The host's answer to a held pop-up or navigation.
enum class Decision { Allow, Cancel };
enum class MouseAction { Move, LeftDown, LeftUp };

struct PageOptions {
    int width = 800;
    int height = 600;
    Images images = Images::Load;
    Scripts scripts = Scripts::Run;
};

// The frame that navigates: its DevTools id and whether it is the top-level page.
struct FrameNavigation {
    std::string frame;
    std::string url;
    bool top = false;
    std::string mimeType; // of the committed document ("text/html", a media file's type); empty before
};

// The events that hold a request (OnNavigationStarting, OnNavigationFailed, OnPopupRequested) give
// it an id; the request waits, and the page with it, until the host answers Page::Decide(id, ...).
// Nothing else waits for that answer: other pages, and this page's other requests, go on.
class PageEvents {
public:
    virtual ~PageEvents() = default;
    // A document request that the page or a frame starts itself (a link, a script, a frame's
    // load; not Navigate, nor a server's redirect) is about to go out (BeforeNavigate2). Allowed,
    // it goes out; cancelled, it is never made.
    virtual void OnNavigationStarting(const std::string& id, const FrameNavigation& navigation) = 0;
    // A document request failed: status is the HTTP status (400 and up) of its answer, or an
    // INET_E_ code when no answer came (NavigateError). Allowed, the frame shows the server's
    // answer or an error page; cancelled, the frame keeps the document it had.
    virtual void OnNavigationFailed(const std::string& id, const FrameNavigation& navigation, LONG status) = 0;
    // The frame's new document is committed (NavigateComplete2).
    virtual void OnNavigationCommitted(const FrameNavigation& navigation) = 0;
    // The frame's document and its subresources have loaded (DocumentComplete; the top frame last,
    // once its site's icon is in the URL cache).
    virtual void OnDocumentLoaded(const FrameNavigation& navigation) = 0;
    virtual void OnTitleChanged(const std::string& title) = 0;
    // The page asks for a new window for url (window.open, a link or a form aimed at one); it
    // waits (blocked in that call) for the decision; cancelled, no window opens and no request is
    // made, and window.open returns null.
    virtual void OnPopupRequested(const std::string& id, const std::string& url) = 0;
};

struct Rect {
    double left = 0;
    double top = 0;
    double right = 0;
    double bottom = 0;
};

struct Element {
    std::string tag; // lower case: "object", "applet", "embed"
    Rect bounds; // in the page's client coordinates (CSS pixels of the viewport)
};

// The document as it is at the moment of the query.
struct DocumentState {
    std::string title;
    std::string url;
    std::string contentType; // "text/html" for a page; a media file's own type otherwise
    std::vector<Element> applets; // object and applet elements, in document order
    std::vector<Element> embeds;
};

struct EvaluateResult {
    bool ok = false;
    Json value; // the expression's value, as JSON
    std::string error;
};

class Page {
public:
    // events (may be null) must outlive the page; requests go to it and to the process's hook.
    static std::unique_ptr<Page> Create(
        const PageOptions& options, PageEvents* events, RequestObserver* requests, std::string& error);
    ~Page();
    Page(const Page&) = delete;
    Page& operator=(const Page&) = delete;

    // Starts a navigation of the top-level page (its document request is not held: the host
    // decided on it already); false when Chromium cannot be reached.
    bool Navigate(const std::string& url);
    void Stop();
    void Resize(int width, int height);
    // Images and scripts as the host wants them from the next navigation on.
    void SetContentPolicy(Images images, Scripts scripts);
    // Answers a held request (an unknown or already answered id is ignored).
    void Decide(const std::string& id, Decision decision);
    void Mouse(MouseAction action, int x, int y);

    // Runs script in the top-level page without waiting for it; false when Chromium cannot be reached.
    bool Run(const std::string& script);
    EvaluateResult Evaluate(const std::string& expression, std::chrono::milliseconds deadline = kDefaultDeadline);
    std::optional<DocumentState> QueryDocument(std::chrono::milliseconds deadline = kDefaultDeadline);

    // The DevTools id of the page's target (the id of its top-level frame), for logs and tests.
    std::string TargetId() const;

private:
    Page() = default;
    struct Core;
    std::shared_ptr<Core> m_core;
};

}
