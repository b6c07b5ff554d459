#include "WebBrowser.h"

#include "HtmlDocument.h"
#include "InterfaceSlots.h"
#include "Module.h"
#include "Page.h"
#include "PlatformClasses.h"
#include "Utf.h"
#include "atlcom.h"
#include "exdispid.h"
#include "mshtmdid.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

namespace shdocvw {

namespace {

using ATL::CComObject;
using ATL::CComObjectRootEx;
using ATL::CComPtr;
using ATL::CComQIPtr;
using ATL::CComSingleThreadModel;

// What Internet Explorer assumes when its host does not answer DISPID_AMBIENT_DLCONTROL.
constexpr LONG kDefaultDownloadControl = DLCTL_DLIMAGES | DLCTL_VIDEOS | DLCTL_BGSOUNDS;
constexpr LCID kUserDefaultLocale = 0x0400;
// Posted to the control's event window when its page has queued events.
constexpr UINT kPageEventsMessage = WM_USER + 1;

constexpr char16_t kEmbeddingClass[] = u"Shell Embedding";
constexpr char16_t kDocObjectViewClass[] = u"Shell DocObject View";
constexpr char16_t kServerClass[] = u"Internet Explorer_Server";
constexpr char16_t kEventWindowClass[] = u"Shell WebBrowser Events";

enum class PageEventKind { Starting, Failed, Committed, Loaded, Title, Popup };

struct PageEvent {
    PageEventKind kind;
    FrameNavigation navigation; // all but Title; the pop-up's URL in navigation.url
    std::string text; // the title, or the id the page waits to have answered
    LONG status = 0; // Failed
};

// One thread that runs a control's page work in order: making the page (which may start
// Chromium), navigating it (which may start Chromium again), and everything sent to it.
class PageWorker {
public:
    PageWorker()
        : m_thread([this] { Run(); })
    {
    }
    ~PageWorker()
    {
        {
            std::lock_guard guard(m_lock);
            m_stopping = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }
    void Post(std::function<void()> task)
    {
        {
            std::lock_guard guard(m_lock);
            m_tasks.push_back(std::move(task));
        }
        m_wake.notify_one();
    }

private:
    // Runs every task posted before the stop, then ends.
    void Run()
    {
        std::unique_lock guard(m_lock);
        for (;;) {
            m_wake.wait(guard, [&] { return m_stopping || !m_tasks.empty(); });
            if (m_tasks.empty())
                return;
            std::function<void()> task = std::move(m_tasks.front());
            m_tasks.pop_front();
            guard.unlock();
            task();
            guard.lock();
        }
    }

    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_tasks;
    bool m_stopping = false;
    std::thread m_thread;
};

// What the control's threads share: the page (made and dropped by the worker, read by anyone) and
// the queue of the page's events for the control's thread. The page is the last member, so that
// it goes first and raises nothing into a half-destroyed core.
class ControlCore final : public PageEvents {
public:
    void OnNavigationStarting(const std::string& id, const FrameNavigation& navigation) override
    {
        Push({ PageEventKind::Starting, navigation, id });
    }
    void OnNavigationFailed(const std::string& id, const FrameNavigation& navigation, LONG status) override
    {
        Push({ PageEventKind::Failed, navigation, id, status });
    }
    void OnNavigationCommitted(const FrameNavigation& navigation) override
    {
        Push({ PageEventKind::Committed, navigation, {} });
    }
    void OnDocumentLoaded(const FrameNavigation& navigation) override
    {
        Push({ PageEventKind::Loaded, navigation, {} });
    }
    void OnTitleChanged(const std::string& title) override
    {
        Push({ PageEventKind::Title, {}, title });
    }
    void OnPopupRequested(const std::string& id, const std::string& url) override
    {
        Push({ PageEventKind::Popup, { {}, url, true, {} }, id });
    }

    void SetEventWindow(HWND window)
    {
        std::lock_guard guard(m_lock);
        m_eventWindow = window;
        if (!window)
            m_events.clear();
    }
    std::optional<PageEvent> NextEvent()
    {
        std::lock_guard guard(m_lock);
        if (m_events.empty())
            return std::nullopt;
        PageEvent event = std::move(m_events.front());
        m_events.pop_front();
        return event;
    }

    std::shared_ptr<Page> CurrentPage()
    {
        std::lock_guard guard(m_lock);
        return m_page;
    }
    // The worker's: the page, made first if there is none yet (nullptr when Chromium cannot start).
    std::shared_ptr<Page> EnsurePage()
    {
        PageOptions options;
        {
            std::lock_guard guard(m_lock);
            if (m_page)
                return m_page;
            options = m_options;
        }
        std::string error;
        std::shared_ptr<Page> made = Page::Create(options, this, nullptr, error);
        std::lock_guard guard(m_lock);
        m_page = made;
        return made;
    }
    // The worker's: the viewport of the page, now or when it is made.
    void Resize(int width, int height)
    {
        std::shared_ptr<Page> page;
        {
            std::lock_guard guard(m_lock);
            m_options.width = width;
            m_options.height = height;
            page = m_page;
        }
        if (page)
            page->Resize(width, height);
    }
    // The worker's: closes the page (outside the lock: its end waits for an event being raised).
    void DropPage()
    {
        std::shared_ptr<Page> page;
        {
            std::lock_guard guard(m_lock);
            page = std::move(m_page);
        }
    }

private:
    void Push(PageEvent event)
    {
        std::lock_guard guard(m_lock);
        if (!m_eventWindow)
            return;
        m_events.push_back(std::move(event));
        if (m_events.size() == 1)
            PostMessageW(m_eventWindow, kPageEventsMessage, 0, 0);
    }

    std::mutex m_lock;
    HWND m_eventWindow = nullptr;
    std::deque<PageEvent> m_events;
    PageOptions m_options;
    std::shared_ptr<Page> m_page;
};

HINSTANCE ThisModule()
{
    return platform::ModuleFromAddress(reinterpret_cast<const void*>(&ThisModule));
}

VARIANT VariantOf(BSTR text)
{
    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = VT_BSTR;
    V_BSTR(&value) = text;
    return value;
}

VARIANT VariantOf(IDispatch* dispatch)
{
    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = VT_DISPATCH;
    V_DISPATCH(&value) = dispatch;
    return value;
}

VARIANT ReferenceTo(VARIANT* inner)
{
    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = VT_VARIANT | VT_BYREF;
    V_VARIANTREF(&value) = inner;
    return value;
}

VARIANT ReferenceTo(VARIANT_BOOL* flag)
{
    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = VT_BOOL | VT_BYREF;
    V_BOOLREF(&value) = flag;
    return value;
}

VARIANT ReferenceTo(IDispatch** dispatch)
{
    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = VT_DISPATCH | VT_BYREF;
    V_DISPATCHREF(&value) = dispatch;
    return value;
}

BSTR BstrOf(std::u16string_view text)
{
    return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

HRESULT CopyOut(const std::u16string& text, BSTR* out)
{
    if (!out)
        return E_POINTER;
    *out = BstrOf(text);
    return *out ? S_OK : E_OUTOFMEMORY;
}

// The address a Navigate2 URL variant holds (a BSTR, also by reference), or false.
bool AddressOf(const VARIANT* url, std::u16string& address)
{
    while (url && V_VT(url) == (VT_VARIANT | VT_BYREF))
        url = V_VARIANTREF(url);
    if (!url)
        return false;
    if (V_VT(url) == VT_BSTR) {
        address = platform::WideView(V_BSTR(url));
        return true;
    }
    if (V_VT(url) == (VT_BSTR | VT_BYREF) && V_BSTRREF(url)) {
        address = platform::WideView(*V_BSTRREF(url));
        return true;
    }
    return false;
}

// A frame's WebBrowser object, which its events carry as pDisp: it tells the frame's address.
class CFrameBrowser : public CComObjectRootEx<CComSingleThreadModel>, public IWebBrowser2Slots {
public:
    BEGIN_COM_MAP(CFrameBrowser)
    COM_INTERFACE_ENTRY(IWebBrowser2)
    COM_INTERFACE_ENTRY2(IWebBrowserApp, IWebBrowser2)
    COM_INTERFACE_ENTRY2(IWebBrowser, IWebBrowser2)
    COM_INTERFACE_ENTRY2(IDispatch, IWebBrowser2)
    END_COM_MAP()

    STDMETHOD(get_LocationURL)(BSTR* LocationURL) override
    {
        return CopyOut(m_url, LocationURL);
    }
    STDMETHOD(get_LocationName)(BSTR* LocationName) override
    {
        return CopyOut(m_url, LocationName);
    }

    std::u16string m_url; // of the frame's committed document; empty before the first
};

LRESULT CALLBACK PlainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK ServerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK EventWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

void RegisterWindowClasses()
{
    static std::once_flag once;
    std::call_once(once, [] {
        const std::pair<const char16_t*, WNDPROC> classes[] = {
            { kEmbeddingClass, PlainWindowProc },
            { kDocObjectViewClass, PlainWindowProc },
            { kServerClass, ServerWindowProc },
            { kEventWindowClass, EventWindowProc },
        };
        for (const auto& [name, procedure] : classes) {
            WNDCLASSW windowClass {};
            windowClass.lpfnWndProc = procedure;
            windowClass.hInstance = ThisModule();
            windowClass.lpszClassName = name;
            RegisterClassW(&windowClass);
        }
    });
}

class CWebBrowser : public CComObjectRootEx<CComSingleThreadModel>,
                    public IWebBrowser2Slots,
                    public ATL::IConnectionPointContainerImpl<CWebBrowser>,
                    public ATL::IConnectionPointImpl<CWebBrowser, &DIID_DWebBrowserEvents2>,
                    public IOleObjectSlots,
                    public IOleInPlaceObjectSlots {
public:
    BEGIN_COM_MAP(CWebBrowser)
    COM_INTERFACE_ENTRY(IWebBrowser2)
    COM_INTERFACE_ENTRY2(IWebBrowserApp, IWebBrowser2)
    COM_INTERFACE_ENTRY2(IWebBrowser, IWebBrowser2)
    COM_INTERFACE_ENTRY2(IDispatch, IWebBrowser2)
    COM_INTERFACE_ENTRY(IConnectionPointContainer)
    COM_INTERFACE_ENTRY(IOleObject)
    COM_INTERFACE_ENTRY(IOleInPlaceObject)
    COM_INTERFACE_ENTRY2(IOleWindow, IOleInPlaceObject)
    END_COM_MAP()

    BEGIN_CONNECTION_POINT_MAP(CWebBrowser)
    CONNECTION_POINT_ENTRY(DIID_DWebBrowserEvents2)
    END_CONNECTION_POINT_MAP()

    HRESULT FinalConstruct()
    {
        RegisterWindowClasses();
        m_eventWindow
            = CreateWindowExW(0, kEventWindowClass, u"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, ThisModule(), nullptr);
        if (!m_eventWindow)
            return E_FAIL;
        SetWindowLongPtrW(m_eventWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        m_core->SetEventWindow(m_eventWindow);
        // The page is made at once, so that it is (nearly) ready when the host first navigates.
        m_worker.Post([core = m_core] { core->EnsurePage(); });
        return S_OK;
    }

    void FinalRelease()
    {
        Deactivate();
        m_core->SetEventWindow(nullptr);
        DestroyWindow(m_eventWindow);
        m_worker.Post([core = m_core] { core->DropPage(); });
    }

    // --- IWebBrowser2 -------------------------------------------------------------------------

    STDMETHOD(Navigate)(BSTR URL, VARIANT*, VARIANT*, VARIANT*, VARIANT*) override
    {
        if (!URL)
            return E_INVALIDARG;
        return StartNavigation(platform::WideView(URL));
    }
    // Flags, frame, post data and headers are taken empty: the page is always the top one, got.
    STDMETHOD(Navigate2)(VARIANT* URL, VARIANT*, VARIANT*, VARIANT*, VARIANT*) override
    {
        std::u16string address;
        if (!AddressOf(URL, address))
            return E_INVALIDARG;
        return StartNavigation(address);
    }
    STDMETHOD(Stop)() override
    {
        m_worker.Post([core = m_core] {
            if (std::shared_ptr<Page> page = core->CurrentPage())
                page->Stop();
        });
        m_busy = false;
        return S_OK;
    }
    STDMETHOD(get_Application)(IDispatch** ppDisp) override
    {
        if (!ppDisp)
            return E_POINTER;
        *ppDisp = Self();
        (*ppDisp)->AddRef();
        return S_OK;
    }
    STDMETHOD(get_Document)(IDispatch** ppDisp) override
    {
        if (!ppDisp)
            return E_POINTER;
        *ppDisp = nullptr;
        std::shared_ptr<Page> page = m_core->CurrentPage();
        if (!page)
            return E_FAIL;
        return CreateDocument(page, DocumentKindOf(m_mimeType), ppDisp);
    }
    STDMETHOD(get_LocationName)(BSTR* LocationName) override
    {
        return CopyOut(m_locationName, LocationName);
    }
    STDMETHOD(get_LocationURL)(BSTR* LocationURL) override
    {
        return CopyOut(m_locationUrl, LocationURL);
    }
    STDMETHOD(get_Busy)(VARIANT_BOOL* pBool) override
    {
        if (!pBool)
            return E_POINTER;
        *pBool = m_busy ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    STDMETHOD(get_ReadyState)(READYSTATE* plReadyState) override
    {
        if (!plReadyState)
            return E_POINTER;
        *plReadyState = m_readyState;
        return S_OK;
    }
    STDMETHOD(get_Silent)(VARIANT_BOOL* pbSilent) override
    {
        if (!pbSilent)
            return E_POINTER;
        *pbSilent = m_silent;
        return S_OK;
    }
    // A hidden browser shows no dialog in any case; the setting is kept for those who read it.
    STDMETHOD(put_Silent)(VARIANT_BOOL bSilent) override
    {
        m_silent = bSilent;
        return S_OK;
    }

    // --- IOleObject ---------------------------------------------------------------------------

    STDMETHOD(SetClientSite)(IOleClientSite* pClientSite) override
    {
        m_site = pClientSite;
        if (m_site)
            ApplyDownloadControl();
        return S_OK;
    }
    STDMETHOD(GetClientSite)(IOleClientSite** ppClientSite) override
    {
        if (!ppClientSite)
            return E_POINTER;
        *ppClientSite = m_site;
        if (m_site)
            m_site->AddRef();
        return S_OK;
    }
    STDMETHOD(SetHostNames)(LPCOLESTR, LPCOLESTR) override
    {
        return S_OK;
    }
    STDMETHOD(Close)(DWORD) override
    {
        Deactivate();
        m_site.Release();
        return S_OK;
    }
    STDMETHOD(DoVerb)
    (LONG iVerb, LPMSG, IOleClientSite* pActiveSite, LONG, HWND hwndParent, LPCRECT lprcPosRect) override
    {
        switch (iVerb) {
        case OLEIVERB_PRIMARY:
        case OLEIVERB_SHOW:
        case OLEIVERB_UIACTIVATE:
        case OLEIVERB_INPLACEACTIVATE:
            return Activate(pActiveSite ? pActiveSite : m_site.p, hwndParent, lprcPosRect);
        case OLEIVERB_HIDE:
            if (m_embedding)
                ShowWindow(m_embedding, SW_HIDE);
            return S_OK;
        default:
            return E_NOTIMPL;
        }
    }
    STDMETHOD(GetUserClassID)(CLSID* pClsid) override
    {
        if (!pClsid)
            return E_POINTER;
        *pClsid = CLSID_WebBrowser;
        return S_OK;
    }
    STDMETHOD(GetMiscStatus)(DWORD, DWORD* pdwStatus) override
    {
        if (!pdwStatus)
            return E_POINTER;
        *pdwStatus = OLEMISC_SETCLIENTSITEFIRST | OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_INSIDEOUT
            | OLEMISC_CANTLINKINSIDE | OLEMISC_RECOMPOSEONRESIZE;
        return S_OK;
    }

    // --- IOleInPlaceObject --------------------------------------------------------------------

    STDMETHOD(GetWindow)(HWND* phwnd) override
    {
        if (!phwnd)
            return E_POINTER;
        *phwnd = m_embedding;
        return m_embedding ? S_OK : E_FAIL;
    }
    STDMETHOD(InPlaceDeactivate)() override
    {
        Deactivate();
        return S_OK;
    }
    STDMETHOD(UIDeactivate)() override
    {
        return S_OK;
    }
    STDMETHOD(SetObjectRects)(LPCRECT lprcPosRect, LPCRECT) override
    {
        if (!lprcPosRect)
            return E_POINTER;
        Place(*lprcPosRect);
        return S_OK;
    }

    // --- The control's windows ----------------------------------------------------------------

    void Mouse(MouseAction action, int x, int y)
    {
        m_worker.Post([core = m_core, action, x, y] {
            if (std::shared_ptr<Page> page = core->CurrentPage())
                page->Mouse(action, x, y);
        });
    }

    // Raises the page's queued events, one at a time (a sink may pump messages inside one).
    void DispatchPageEvents()
    {
        CComPtr<IUnknown> alive(GetUnknown()); // a sink may release the control from an event
        while (std::optional<PageEvent> event = m_core->NextEvent())
            Raise(*event);
    }

private:
    IDispatch* Self()
    {
        return static_cast<IWebBrowser2*>(this);
    }

    void ApplyDownloadControl()
    {
        LONG flags = kDefaultDownloadControl;
        if (CComQIPtr<IDispatch> ambient { static_cast<IUnknown*>(m_site.p) }) {
            VARIANT result;
            VariantInit(&result);
            V_VT(&result) = VT_I4;
            V_I4(&result) = flags;
            DISPPARAMS none { nullptr, nullptr, 0, 0 };
            if (SUCCEEDED(ambient->Invoke(DISPID_AMBIENT_DLCONTROL, IID_NULL, kUserDefaultLocale, DISPATCH_PROPERTYGET,
                    &none, &result, nullptr, nullptr))
                && V_VT(&result) == VT_I4)
                flags = V_I4(&result);
            VariantClear(&result);
        }
        const Images images = (flags & DLCTL_DLIMAGES) ? Images::Load : Images::Block;
        const Scripts scripts = (flags & DLCTL_NO_SCRIPTS) ? Scripts::Disable : Scripts::Run;
        // Only a change goes to the page: each costs Chromium a round before the next navigation.
        if (m_policy && *m_policy == std::make_pair(images, scripts))
            return;
        m_policy = std::make_pair(images, scripts);
        m_worker.Post([core = m_core, images, scripts] {
            if (std::shared_ptr<Page> page = core->EnsurePage())
                page->SetContentPolicy(images, scripts);
        });
    }

    HRESULT StartNavigation(std::u16string_view address)
    {
        ApplyDownloadControl();
        if (FireBeforeNavigate2(Self(), address))
            return S_OK;
        m_busy = true;
        m_readyState = READYSTATE_LOADING;
        m_worker.Post([core = m_core, url = platform::ToUtf8(address)] {
            if (std::shared_ptr<Page> page = core->EnsurePage())
                page->Navigate(url);
        });
        return S_OK;
    }

    HRESULT Activate(IOleClientSite* site, HWND parent, LPCRECT position)
    {
        CComQIPtr<IOleInPlaceSite> inPlace { static_cast<IUnknown*>(site) };
        if (m_embedding) {
            if (position)
                Place(*position);
            return S_OK;
        }
        if (!inPlace || inPlace->CanInPlaceActivate() != S_OK)
            return E_FAIL;
        inPlace->OnInPlaceActivate();
        if (!parent && FAILED(inPlace->GetWindow(&parent)))
            return E_FAIL;
        RECT rect {};
        if (position) {
            rect = *position;
        } else {
            CComPtr<IOleInPlaceFrame> frame;
            CComPtr<IOleInPlaceUIWindow> document;
            RECT clip {};
            OLEINPLACEFRAMEINFO info { sizeof info, FALSE, nullptr, nullptr, 0 };
            inPlace->GetWindowContext(&frame, &document, &rect, &clip, &info);
        }
        const DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
        m_embedding
            = CreateWindowExW(0, kEmbeddingClass, u"", style, 0, 0, 0, 0, parent, nullptr, ThisModule(), nullptr);
        m_docObjectView = CreateWindowExW(
            0, kDocObjectViewClass, u"", style, 0, 0, 0, 0, m_embedding, nullptr, ThisModule(), nullptr);
        m_server
            = CreateWindowExW(0, kServerClass, u"", style, 0, 0, 0, 0, m_docObjectView, nullptr, ThisModule(), nullptr);
        if (!m_embedding || !m_docObjectView || !m_server) {
            Deactivate();
            return E_FAIL;
        }
        SetWindowLongPtrW(m_server, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        m_inPlaceSite = inPlace;
        Place(rect);
        return S_OK;
    }

    void Place(const RECT& rect)
    {
        const int width = std::max(0, static_cast<int>(rect.right - rect.left));
        const int height = std::max(0, static_cast<int>(rect.bottom - rect.top));
        if (m_embedding) {
            MoveWindow(m_embedding, rect.left, rect.top, width, height, FALSE);
            MoveWindow(m_docObjectView, 0, 0, width, height, FALSE);
            MoveWindow(m_server, 0, 0, width, height, FALSE);
        }
        if (width > 0 && height > 0)
            m_worker.Post([core = m_core, width, height] { core->Resize(width, height); });
    }

    void Deactivate()
    {
        if (!m_embedding)
            return;
        if (IsWindow(m_server))
            SetWindowLongPtrW(m_server, GWLP_USERDATA, 0);
        DestroyWindow(m_embedding); // and its children with it
        m_embedding = m_docObjectView = m_server = nullptr;
        if (m_inPlaceSite) {
            m_inPlaceSite->OnInPlaceDeactivate();
            m_inPlaceSite.Release();
        }
    }

    // --- Events -------------------------------------------------------------------------------

    void Raise(const PageEvent& event)
    {
        const FrameNavigation& navigation = event.navigation;
        const std::u16string url = platform::FromUtf8(navigation.url);
        switch (event.kind) {
        case PageEventKind::Starting: {
            if (navigation.top) {
                m_busy = true;
                m_readyState = READYSTATE_LOADING;
            }
            const bool cancel = FireBeforeNavigate2(EventTarget(navigation), url);
            if (cancel && navigation.top)
                Settle();
            Decide(event.text, cancel ? Decision::Cancel : Decision::Allow);
            break;
        }
        case PageEventKind::Failed: {
            const bool cancel = FireNavigateError(EventTarget(navigation), url, event.status);
            if (cancel && navigation.top)
                Settle();
            Decide(event.text, cancel ? Decision::Cancel : Decision::Allow);
            break;
        }
        case PageEventKind::Committed:
            if (navigation.top) {
                m_frames.clear();
                m_locationUrl = url;
                m_locationName = url;
                m_mimeType = navigation.mimeType;
                m_readyState = READYSTATE_INTERACTIVE;
            } else if (CComObject<CFrameBrowser>* frame = FrameBrowser(navigation.frame)) {
                frame->m_url = url;
            }
            FireUrlEvent(DISPID_NAVIGATECOMPLETE2, EventTarget(navigation), url);
            break;
        case PageEventKind::Loaded:
            if (navigation.top)
                Settle();
            FireUrlEvent(DISPID_DOCUMENTCOMPLETE, EventTarget(navigation), url);
            break;
        case PageEventKind::Title: {
            const std::u16string title = platform::FromUtf8(event.text);
            if (!title.empty())
                m_locationName = title;
            VARIANT argument = VariantOf(BstrOf(title));
            Fire(DISPID_TITLECHANGE, &argument, 1);
            VariantClear(&argument);
            break;
        }
        case PageEventKind::Popup:
            Decide(event.text, FireNewWindow(url) ? Decision::Cancel : Decision::Allow);
            break;
        }
    }

    // The top page is done: loaded, or its navigation cancelled.
    void Settle()
    {
        m_readyState = READYSTATE_COMPLETE;
        m_busy = false;
    }

    void Decide(const std::string& id, Decision decision)
    {
        m_worker.Post([core = m_core, id, decision] {
            if (std::shared_ptr<Page> page = core->CurrentPage())
                page->Decide(id, decision);
        });
    }

    CComObject<CFrameBrowser>* FrameBrowser(const std::string& frame)
    {
        CComPtr<CComObject<CFrameBrowser>>& browser = m_frames[frame];
        if (!browser) {
            CComObject<CFrameBrowser>* made = nullptr;
            if (SUCCEEDED(CComObject<CFrameBrowser>::CreateInstance(&made)))
                browser = made;
        }
        return browser;
    }

    // The pDisp of a navigation's events: the control for the top page, else the frame's browser.
    IDispatch* EventTarget(const FrameNavigation& navigation)
    {
        if (navigation.top)
            return Self();
        CComObject<CFrameBrowser>* frame = FrameBrowser(navigation.frame);
        return frame ? static_cast<IWebBrowser2*>(frame) : nullptr;
    }

    // Calls every connected sink's Invoke; args are in DISPPARAMS order (the last parameter first).
    void Fire(DISPID dispid, VARIANTARG* args, UINT count)
    {
        std::vector<CComPtr<IDispatch>> sinks;
        for (IUnknown* sink : m_vec) {
            if (sink)
                sinks.emplace_back(reinterpret_cast<IDispatch*>(sink)); // advised as DWebBrowserEvents2
        }
        for (const CComPtr<IDispatch>& sink : sinks) {
            DISPPARAMS params { args, nullptr, count, 0 };
            sink->Invoke(dispid, IID_NULL, kUserDefaultLocale, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
        }
    }

    // BeforeNavigate2(pDisp, URL, Flags, TargetFrameName, PostData, Headers, Cancel); true: cancelled.
    bool FireBeforeNavigate2(IDispatch* dispatch, std::u16string_view url)
    {
        VARIANT address = VariantOf(BstrOf(url));
        VARIANT flags;
        VariantInit(&flags);
        V_VT(&flags) = VT_I4;
        V_I4(&flags) = 0;
        VARIANT frame = VariantOf(BstrOf(u""));
        VARIANT postData;
        VariantInit(&postData);
        VARIANT headers = VariantOf(BstrOf(u""));
        VARIANT_BOOL cancel = VARIANT_FALSE;
        VARIANTARG args[7] = { ReferenceTo(&cancel), ReferenceTo(&headers), ReferenceTo(&postData), ReferenceTo(&frame),
            ReferenceTo(&flags), ReferenceTo(&address), VariantOf(dispatch) };
        Fire(DISPID_BEFORENAVIGATE2, args, 7);
        for (VARIANT* owned : { &address, &flags, &frame, &postData, &headers })
            VariantClear(owned);
        return cancel != VARIANT_FALSE;
    }

    // NavigateComplete2 and DocumentComplete: (pDisp, URL).
    void FireUrlEvent(DISPID dispid, IDispatch* dispatch, const std::u16string& url)
    {
        VARIANT address = VariantOf(BstrOf(url));
        VARIANTARG args[2] = { ReferenceTo(&address), VariantOf(dispatch) };
        Fire(dispid, args, 2);
        VariantClear(&address);
    }

    // NavigateError(pDisp, URL, TargetFrameName, StatusCode, Cancel); true: cancelled.
    bool FireNavigateError(IDispatch* dispatch, std::u16string_view url, LONG status)
    {
        VARIANT address = VariantOf(BstrOf(url));
        VARIANT frame = VariantOf(BstrOf(u""));
        VARIANT code;
        VariantInit(&code);
        V_VT(&code) = VT_I4;
        V_I4(&code) = status;
        VARIANT_BOOL cancel = VARIANT_FALSE;
        VARIANTARG args[5] = { ReferenceTo(&cancel), ReferenceTo(&code), ReferenceTo(&frame), ReferenceTo(&address),
            VariantOf(dispatch) };
        Fire(DISPID_NAVIGATEERROR, args, 5);
        for (VARIANT* owned : { &address, &frame, &code })
            VariantClear(owned);
        return cancel != VARIANT_FALSE;
    }

    // NewWindow2(ppDisp, Cancel), then NewWindow3(ppDisp, Cancel, dwFlags, bstrUrlContext, bstrUrl)
    // unless the first cancelled; true: the window is cancelled. A browser that a sink offers in
    // ppDisp is let go: the page's pop-up stays in the page's own browser.
    bool FireNewWindow(const std::u16string& url)
    {
        IDispatch* offered = nullptr;
        VARIANT_BOOL cancel = VARIANT_FALSE;
        VARIANTARG second[2] = { ReferenceTo(&cancel), ReferenceTo(&offered) };
        Fire(DISPID_NEWWINDOW2, second, 2);
        if (offered)
            std::exchange(offered, nullptr)->Release();
        if (cancel == VARIANT_FALSE) {
            VARIANT flags;
            VariantInit(&flags);
            V_VT(&flags) = VT_I4;
            V_I4(&flags) = NWMF_FIRST;
            VARIANT context = VariantOf(BstrOf(m_locationUrl));
            VARIANT target = VariantOf(BstrOf(url));
            VARIANTARG third[5] = { target, context, flags, ReferenceTo(&cancel), ReferenceTo(&offered) };
            Fire(DISPID_NEWWINDOW3, third, 5);
            if (offered)
                offered->Release();
            VariantClear(&context);
            VariantClear(&target);
        }
        return cancel != VARIANT_FALSE;
    }

    std::shared_ptr<ControlCore> m_core = std::make_shared<ControlCore>();
    PageWorker m_worker;
    HWND m_eventWindow = nullptr;
    HWND m_embedding = nullptr;
    HWND m_docObjectView = nullptr;
    HWND m_server = nullptr;
    CComPtr<IOleClientSite> m_site;
    CComPtr<IOleInPlaceSite> m_inPlaceSite;
    std::map<std::string, CComPtr<CComObject<CFrameBrowser>>> m_frames; // of the top page's current document
    std::optional<std::pair<Images, Scripts>> m_policy; // as last given to the page
    bool m_busy = false;
    READYSTATE m_readyState = READYSTATE_UNINITIALIZED;
    VARIANT_BOOL m_silent = VARIANT_FALSE;
    std::u16string m_locationUrl;
    std::u16string m_locationName;
    std::string m_mimeType;
};

LRESULT CALLBACK ServerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    MouseAction action;
    switch (message) {
    case WM_MOUSEMOVE:
        action = MouseAction::Move;
        break;
    case WM_LBUTTONDOWN:
        action = MouseAction::LeftDown;
        break;
    case WM_LBUTTONUP:
        action = MouseAction::LeftUp;
        break;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
    if (auto* control = reinterpret_cast<CWebBrowser*>(GetWindowLongPtrW(window, GWLP_USERDATA)))
        control->Mouse(action, static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
    return 0;
}

LRESULT CALLBACK EventWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != kPageEventsMessage)
        return DefWindowProcW(window, message, wParam, lParam);
    if (auto* control = reinterpret_cast<CWebBrowser*>(GetWindowLongPtrW(window, GWLP_USERDATA)))
        control->DispatchPageEvents();
    return 0;
}

// The class object: one for the process, never freed.
class WebBrowserFactory final : public IClassFactory {
public:
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualGUID(riid, IID_IUnknown) && !IsEqualGUID(riid, IID_IClassFactory))
            return E_NOINTERFACE;
        *ppv = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override
    {
        return 2;
    }
    STDMETHOD_(ULONG, Release)() override
    {
        return 1;
    }
    STDMETHOD(CreateInstance)(IUnknown* pUnkOuter, REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (pUnkOuter)
            return CLASS_E_NOAGGREGATION;
        CComObject<CWebBrowser>* control = nullptr;
        const HRESULT hr = CComObject<CWebBrowser>::CreateInstance(&control);
        if (FAILED(hr))
            return hr;
        control->AddRef();
        const HRESULT answer = control->QueryInterface(riid, ppv);
        control->Release();
        return answer;
    }
    STDMETHOD(LockServer)(BOOL) override
    {
        return S_OK;
    }
};

const bool g_registered = [] {
    platform::AddPlatformClass(CLSID_WebBrowser, GetWebBrowserClassObject);
    return true;
}();

}

HRESULT WINAPI GetWebBrowserClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv)
{
    static WebBrowserFactory factory;
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualGUID(rclsid, CLSID_WebBrowser))
        return CLASS_E_CLASSNOTAVAILABLE;
    return factory.QueryInterface(riid, ppv);
}

}
