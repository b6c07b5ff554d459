// The WebBrowser control in ATL's host window, with the real headless Chromium against demoweb in
// the test's root, driven as a Windows program drives it: from a single-threaded apartment with a
// message loop. Every test ends the Chromium it started, by its process id (Browser::Shutdown).
#include "Browser.h"
#include "DemowebServer.h"
#include "TestRoot.h"
#include "Utf.h"
#include "atlcom.h"
#include "atlhost.h"
#include "exdisp.h"
#include "exdispid.h"
#include "mshtml.h"
#include "urlmon.h"
#include "windows.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <deque>
#include <functional>
#include <future>
#include <netinet/in.h>
#include <set>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using ATL::CComBSTR;
using ATL::CComObject;
using ATL::CComPtr;
using ATL::CComQIPtr;

namespace {

const std::u16string kSite = u"http://demoweb.test/shdocvw/";
const std::string kSiteText = "http://demoweb.test/shdocvw/";

std::string Narrow(const OLECHAR* text)
{
    std::string narrow;
    for (; text && *text; ++text)
        narrow.push_back(static_cast<char>(*text));
    return narrow;
}

// Handles this thread's messages until done() holds or the time is up.
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 20s)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (done())
            return true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left <= 0ms)
            return false;
        MsgWaitForMultipleObjects(
            0, nullptr, FALSE, static_cast<DWORD>(std::min<long long>(left.count(), 50)), QS_ALLINPUT);
    }
}

// A DWebBrowserEvents2 sink that records each event as a line ("DocumentComplete top URL"), checks
// its arguments' types and order, notes the thread, and cancels what the test asks it to.
class EventSink : public ATL::CComObjectRootEx<ATL::CComSingleThreadModel>, public IDispatch {
public:
    BEGIN_COM_MAP(EventSink)
    COM_INTERFACE_ENTRY(IDispatch)
    COM_INTERFACE_ENTRY_IID(DIID_DWebBrowserEvents2, IDispatch)
    END_COM_MAP()

    IDispatch* m_browser = nullptr; // the top page's events carry it
    std::vector<std::string> m_lines;
    std::vector<std::string> m_faults; // arguments not as Internet Explorer passes them
    std::set<DWORD> m_threads;
    std::string m_cancelNavigationTo; // BeforeNavigate2 of a URL containing this is cancelled
    std::string m_cancelErrorOf; // NavigateError of a URL containing this is cancelled
    DISPID m_cancelWindowAt = 0; // DISPID_NEWWINDOW2 or DISPID_NEWWINDOW3, or 0
    std::function<void(const std::string& url)> m_onBeforeNavigate; // called inside the event

    STDMETHOD(GetTypeInfoCount)(UINT* count) override
    {
        *count = 0;
        return S_OK;
    }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo**) override
    {
        return E_NOTIMPL;
    }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override
    {
        return E_NOTIMPL;
    }
    STDMETHOD(Invoke)(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override
    {
        m_threads.insert(GetCurrentThreadId());
        VARIANTARG* args = params->rgvarg;
        const UINT count = params->cArgs;
        auto expect = [&](UINT wanted, std::initializer_list<VARTYPE> types) {
            if (count != wanted) {
                m_faults.push_back(std::to_string(id) + ": " + std::to_string(count) + " arguments");
                return false;
            }
            UINT i = count;
            for (VARTYPE type : types) {
                --i;
                if (V_VT(&args[i]) != type)
                    m_faults.push_back(std::to_string(id) + ": argument " + std::to_string(i) + " type "
                        + std::to_string(V_VT(&args[i])));
            }
            return true;
        };
        auto where = [&](const VARIANT& dispatch) {
            return V_DISPATCH(&dispatch) == m_browser ? std::string("top ") : std::string("frame ");
        };
        auto url = [&](const VARIANT& reference) {
            const VARIANT* inner = V_VARIANTREF(&reference);
            return inner && V_VT(inner) == VT_BSTR ? Narrow(V_BSTR(inner)) : std::string("?");
        };
        // A frame's pDisp is that frame's browser, which knows the frame's address.
        auto checkFrame = [&](const VARIANT& dispatch, const std::string& address) {
            if (V_DISPATCH(&dispatch) == m_browser)
                return;
            CComQIPtr<IWebBrowser2> frame { V_DISPATCH(&dispatch) };
            CComBSTR location;
            if (!frame || frame->get_LocationURL(&location) != S_OK || Narrow(location) != address)
                m_faults.push_back(std::to_string(id) + ": the frame's browser is not at " + address);
        };
        const VARTYPE byRef = VT_VARIANT | VT_BYREF;
        switch (id) {
        case DISPID_BEFORENAVIGATE2:
            if (expect(7, { VT_DISPATCH, byRef, byRef, byRef, byRef, byRef, VT_BOOL | VT_BYREF })) {
                const std::string target = url(args[5]);
                m_lines.push_back("BeforeNavigate2 " + where(args[6]) + target);
                if (m_onBeforeNavigate)
                    m_onBeforeNavigate(target);
                if (!m_cancelNavigationTo.empty() && target.find(m_cancelNavigationTo) != std::string::npos)
                    *V_BOOLREF(&args[0]) = VARIANT_TRUE;
            }
            break;
        case DISPID_NAVIGATECOMPLETE2:
        case DISPID_DOCUMENTCOMPLETE:
            if (expect(2, { VT_DISPATCH, byRef })) {
                m_lines.push_back(
                    std::string(id == DISPID_DOCUMENTCOMPLETE ? "DocumentComplete " : "NavigateComplete2 ")
                    + where(args[1]) + url(args[0]));
                checkFrame(args[1], url(args[0]));
            }
            break;
        case DISPID_NAVIGATEERROR:
            if (expect(5, { VT_DISPATCH, byRef, byRef, byRef, VT_BOOL | VT_BYREF })) {
                const VARIANT* status = V_VARIANTREF(&args[1]);
                const std::string target = url(args[3]);
                m_lines.push_back("NavigateError " + where(args[4]) + target + " "
                    + (status && V_VT(status) == VT_I4 ? std::to_string(V_I4(status)) : std::string("?")));
                if (!m_cancelErrorOf.empty() && target.find(m_cancelErrorOf) != std::string::npos)
                    *V_BOOLREF(&args[0]) = VARIANT_TRUE;
            }
            break;
        case DISPID_TITLECHANGE:
            if (expect(1, { VT_BSTR }))
                m_lines.push_back("TitleChange " + Narrow(V_BSTR(&args[0])));
            break;
        case DISPID_NEWWINDOW2:
            if (expect(2, { VT_DISPATCH | VT_BYREF, VT_BOOL | VT_BYREF })) {
                m_lines.push_back("NewWindow2");
                if (m_cancelWindowAt == DISPID_NEWWINDOW2)
                    *V_BOOLREF(&args[0]) = VARIANT_TRUE;
            }
            break;
        case DISPID_NEWWINDOW3:
            if (expect(5, { VT_DISPATCH | VT_BYREF, VT_BOOL | VT_BYREF, VT_I4, VT_BSTR, VT_BSTR })) {
                m_lines.push_back("NewWindow3 " + Narrow(V_BSTR(&args[0])) + " from " + Narrow(V_BSTR(&args[1])));
                if (m_cancelWindowAt == DISPID_NEWWINDOW3)
                    *V_BOOLREF(&args[3]) = VARIANT_TRUE;
            }
            break;
        default:
            m_lines.push_back("other " + std::to_string(id));
        }
        return S_OK;
    }

    int Index(const std::string& line) const
    {
        const auto found = std::find(m_lines.begin(), m_lines.end(), line);
        return found == m_lines.end() ? -1 : static_cast<int>(found - m_lines.begin());
    }
    std::string Dump() const
    {
        std::string text;
        for (const std::string& line : m_lines)
            text += "\n  " + line;
        return text;
    }
};

// The host's ambient dispatch, as a program gives it: it answers DISPID_AMBIENT_DLCONTROL from the
// value the control preset, with its own bits cleared and set, and notes each value it was given.
class AmbientDispatch : public ATL::CComObjectRootEx<ATL::CComSingleThreadModel>, public IDispatch {
public:
    BEGIN_COM_MAP(AmbientDispatch)
    COM_INTERFACE_ENTRY(IDispatch)
    END_COM_MAP()

    LONG m_clear = DLCTL_DLIMAGES;
    LONG m_set = 0;
    std::vector<LONG> m_presets;

    STDMETHOD(GetTypeInfoCount)(UINT* count) override
    {
        *count = 0;
        return S_OK;
    }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo**) override
    {
        return E_NOTIMPL;
    }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override
    {
        return E_NOTIMPL;
    }
    STDMETHOD(Invoke)(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*) override
    {
        if (id != DISPID_AMBIENT_DLCONTROL)
            return DISP_E_MEMBERNOTFOUND;
        m_presets.push_back(V_VT(result) == VT_I4 ? V_I4(result) : -1);
        V_VT(result) = VT_I4;
        V_I4(result) = (V_I4(result) & ~m_clear) | m_set;
        return S_OK;
    }
};

// One control in its host window, created from "about:blank" as a program does it.
struct Hosted {
    HWND host = nullptr;
    CComPtr<IWebBrowser2> browser;
    CComObject<EventSink>* sink = nullptr;
    CComPtr<IUnknown> sinkHold;
    CComObject<AmbientDispatch>* ambient = nullptr;
    CComPtr<IUnknown> ambientHold;

    std::string Title()
    {
        CComPtr<IDispatch> document;
        if (FAILED(browser->get_Document(&document)))
            return "(no document)";
        CComQIPtr<IHTMLDocument2> html { document.p };
        CComBSTR title;
        if (!html || html->get_title(&title) != S_OK)
            return "(no title)";
        return Narrow(title);
    }
    // A real click of the left button at client coordinates of the page.
    void Click(int x, int y)
    {
        const HWND embedding = FindWindowExW(host, nullptr, u"Shell Embedding", u"");
        const HWND view = FindWindowExW(embedding, nullptr, u"Shell DocObject View", u"");
        const HWND server = FindWindowExW(view, nullptr, u"Internet Explorer_Server", u"");
        SendMessageW(server, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
        SendMessageW(server, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
    }
    // Runs script in the page and reads back what it made the title.
    std::string TitleAfter(const std::u16string& script)
    {
        CComPtr<IDispatch> document;
        EXPECT_EQ(browser->get_Document(&document), S_OK);
        CComQIPtr<IHTMLDocument2> html { document.p };
        CComPtr<IHTMLWindow2> window;
        EXPECT_TRUE(html && SUCCEEDED(html->get_parentWindow(&window)));
        if (!window)
            return "";
        VARIANT result;
        EXPECT_EQ(window->execScript(CComBSTR(script.c_str()), CComBSTR(u"JavaScript"), &result), S_OK);
        return Title();
    }
};

class WebBrowserControl : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        ASSERT_TRUE(AtlAxWinInit());
    }
    void TearDown() override
    {
        for (Hosted& hosted : m_hosted)
            DestroyWindow(hosted.host);
        m_hosted.clear();
        CoUninitialize();
        shdocvw::Browser::Process().Shutdown();
    }

    Hosted& Host(LONG clear = DLCTL_DLIMAGES, LONG set = 0)
    {
        Hosted& hosted = m_hosted.emplace_back();
        hosted.host = CreateWindowExW(
            0, u"AtlAxWin90", nullptr, WS_OVERLAPPEDWINDOW, 0, 0, 700, 520, nullptr, nullptr, nullptr, nullptr);
        EXPECT_TRUE(hosted.host);
        CComPtr<IUnknown> unknown;
        EXPECT_EQ(AtlAxGetHost(hosted.host, &unknown), S_OK);
        CComQIPtr<IAxWinAmbientDispatchEx> ambientHost { unknown.p };
        CComQIPtr<IAxWinHostWindow> host { unknown.p };
        EXPECT_TRUE(ambientHost && host);
        EXPECT_EQ(CComObject<AmbientDispatch>::CreateInstance(&hosted.ambient), S_OK);
        hosted.ambientHold = hosted.ambient->GetUnknown();
        hosted.ambient->m_clear = clear;
        hosted.ambient->m_set = set;
        EXPECT_EQ(ambientHost->SetAmbientDispatch(hosted.ambient), S_OK);
        EXPECT_EQ(host->CreateControl(u"about:blank", hosted.host, nullptr), S_OK);
        EXPECT_EQ(host->QueryControl(&hosted.browser), S_OK);

        EXPECT_EQ(CComObject<EventSink>::CreateInstance(&hosted.sink), S_OK);
        hosted.sinkHold = hosted.sink->GetUnknown();
        hosted.sink->m_browser = CComQIPtr<IDispatch> { hosted.browser.p };
        CComQIPtr<IConnectionPointContainer> container { hosted.browser.p };
        CComPtr<IConnectionPoint> point;
        EXPECT_EQ(container->FindConnectionPoint(DIID_DWebBrowserEvents2, &point), S_OK);
        DWORD cookie = 0;
        EXPECT_EQ(point->Advise(hosted.sinkHold, &cookie), S_OK);
        EXPECT_TRUE(PumpUntil([&] { return hosted.sink->Index("DocumentComplete top about:blank") >= 0; }))
            << hosted.sink->Dump();
        hosted.sink->m_lines.clear();
        return hosted;
    }

    static void Navigate(Hosted& hosted, const std::u16string& url)
    {
        VARIANT address;
        VariantInit(&address);
        V_VT(&address) = VT_BSTR;
        V_BSTR(&address) = SysAllocString(url.c_str());
        VARIANT empty;
        VariantInit(&empty);
        EXPECT_EQ(hosted.browser->Navigate2(&address, &empty, &empty, &empty, &empty), S_OK);
        VariantClear(&address);
    }
    static bool Load(Hosted& hosted, const std::u16string& name)
    {
        Navigate(hosted, kSite + name);
        const std::string done = "DocumentComplete top " + kSiteText + Narrow(name.c_str());
        return PumpUntil([&] { return hosted.sink->Index(done) >= 0; });
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
    std::deque<Hosted> m_hosted;
};

TEST_F(WebBrowserControl, RaisesEventsOnItsThreadInInternetExplorersOrder)
{
    Hosted& hosted = Host();
    EventSink& sink = *hosted.sink;

    // A cancelled navigation goes nowhere; the next one loads a page with two frames.
    sink.m_cancelNavigationTo = "title.html";
    Navigate(hosted, kSite + u"title.html");
    ASSERT_TRUE(Load(hosted, u"frames.html")) << sink.Dump();
    ASSERT_TRUE(PumpUntil([&] { return sink.Index("TitleChange Two frames") >= 0; })) << sink.Dump();

    const std::string top = kSiteText + "frames.html";
    const int before = sink.Index("BeforeNavigate2 top " + top);
    const int committed = sink.Index("NavigateComplete2 top " + top);
    const int complete = sink.Index("DocumentComplete top " + top);
    EXPECT_EQ(sink.Index("BeforeNavigate2 top " + kSiteText + "title.html"), 0) << sink.Dump();
    EXPECT_EQ(before, 1) << sink.Dump();
    EXPECT_GT(committed, before);
    for (const char* frame : { "frame-a.html", "frame-b.html" }) {
        const std::string url = kSiteText + frame;
        const int frameBefore = sink.Index("BeforeNavigate2 frame " + url);
        const int frameCommitted = sink.Index("NavigateComplete2 frame " + url);
        const int frameComplete = sink.Index("DocumentComplete frame " + url);
        EXPECT_GT(frameBefore, committed) << frame << sink.Dump();
        EXPECT_GT(frameCommitted, frameBefore) << frame << sink.Dump();
        EXPECT_GT(frameComplete, frameCommitted) << frame << sink.Dump();
        EXPECT_LT(frameComplete, complete) << frame << sink.Dump();
    }
    EXPECT_EQ(std::count(sink.m_lines.begin(), sink.m_lines.end(), "BeforeNavigate2 top " + top), 1) << sink.Dump();
    EXPECT_TRUE(sink.m_faults.empty()) << sink.m_faults.front();
    EXPECT_EQ(sink.m_threads, std::set<DWORD> { GetCurrentThreadId() });
    EXPECT_TRUE(RequestsFor("/shdocvw/title.html").empty());

    CComBSTR url;
    CComBSTR name;
    ASSERT_EQ(hosted.browser->get_LocationURL(&url), S_OK);
    ASSERT_EQ(hosted.browser->get_LocationName(&name), S_OK);
    EXPECT_EQ(Narrow(url), top);
    EXPECT_EQ(Narrow(name), "Two frames");
    VARIANT_BOOL busy = VARIANT_TRUE;
    READYSTATE state = READYSTATE_UNINITIALIZED;
    EXPECT_EQ(hosted.browser->get_Busy(&busy), S_OK);
    EXPECT_EQ(hosted.browser->get_ReadyState(&state), S_OK);
    EXPECT_EQ(busy, VARIANT_FALSE);
    EXPECT_EQ(state, READYSTATE_COMPLETE);
}

struct PopupCase {
    const char* name;
    DISPID cancelAt;
    std::vector<std::string> events; // the pop-up's events, in order
    const char* openResult; // what window.open gave the page
};

TEST_F(WebBrowserControl, APopupOpensOnlyWhenNeitherNewWindowEventCancelsIt)
{
    const std::string opener = kSiteText + "popup.html";
    const std::string third = "NewWindow3 " + kSiteText + "popped.html from " + opener;
    const PopupCase cases[] = {
        { "cancelled by NewWindow2", DISPID_NEWWINDOW2, { "NewWindow2" }, "null" },
        { "cancelled by NewWindow3", DISPID_NEWWINDOW3, { "NewWindow2", third }, "null" },
        { "allowed", 0, { "NewWindow2", third }, "window" },
    };
    for (const PopupCase& row : cases) {
        SCOPED_TRACE(row.name);
        Hosted& hosted = Host();
        hosted.sink->m_cancelWindowAt = row.cancelAt;
        ASSERT_TRUE(Load(hosted, u"popup.html")) << hosted.sink->Dump();
        std::vector<std::string> events;
        for (const std::string& line : hosted.sink->m_lines)
            if (line.rfind("NewWindow", 0) == 0)
                events.push_back(line);
        EXPECT_EQ(events, row.events) << hosted.sink->Dump();
        EXPECT_TRUE(hosted.sink->m_faults.empty()) << hosted.sink->m_faults.front();
        EXPECT_EQ(hosted.TitleAfter(u"document.title = window.openResult"), row.openResult);
        if (row.cancelAt != 0) {
            m_demoweb.WaitForRequest("popup.html");
            EXPECT_TRUE(RequestsFor("popped.html").empty());
        }
    }
}

struct AmbientCase {
    const char* name;
    LONG clear;
    LONG set;
    bool imagesRequested;
    bool scriptsRun;
};

TEST_F(WebBrowserControl, TheAmbientDownloadControlDecidesImagesAndScripts)
{
    const AmbientCase cases[] = {
        { "images cleared", DLCTL_DLIMAGES, 0, false, true },
        { "no scripts", 0, DLCTL_NO_SCRIPTS, true, false },
    };
    for (const AmbientCase& row : cases) {
        SCOPED_TRACE(row.name);
        Hosted& hosted = Host(row.clear, row.set);
        ASSERT_TRUE(Load(hosted, u"images.html")) << hosted.sink->Dump();
        ASSERT_NE(m_demoweb.WaitForRequest("images.html"), "");
        if (row.imagesRequested) {
            EXPECT_NE(m_demoweb.WaitForRequest("pixel.gif"), "");
        } else {
            EXPECT_TRUE(RequestsFor("pixel.gif").empty());
            EXPECT_TRUE(RequestsFor("backdrop.gif").empty());
        }
        ASSERT_TRUE(Load(hosted, u"popup.html")) << hosted.sink->Dump();
        EXPECT_EQ(hosted.sink->Index("NewWindow2") >= 0, row.scriptsRun) << hosted.sink->Dump();
        // Asked when the site was set and before each navigation, preset to the default bits.
        EXPECT_GE(hosted.ambient->m_presets.size(), 4u);
        for (LONG preset : hosted.ambient->m_presets)
            EXPECT_EQ(preset, DLCTL_DLIMAGES | DLCTL_VIDEOS | DLCTL_BGSOUNDS);
    }
}

TEST_F(WebBrowserControl, TheDocumentAnswersFromAnyThreadAsThePageIsNow)
{
    Hosted& hosted = Host();
    ASSERT_TRUE(Load(hosted, u"objects.html")) << hosted.sink->Dump();
    CComPtr<IDispatch> dispatch;
    ASSERT_EQ(hosted.browser->get_Document(&dispatch), S_OK);
    CComQIPtr<IHTMLDocument2> document { dispatch.p };
    ASSERT_TRUE(document);

    // Another thread reads the document while this one goes on handling its messages.
    auto read = std::async(std::launch::async, [&] {
        std::string text;
        CComBSTR title;
        CComBSTR url;
        if (document->get_title(&title) != S_OK || document->get_URL(&url) != S_OK)
            return std::string("no title or address");
        text = Narrow(title) + " " + Narrow(url);
        for (bool applets : { true, false }) {
            CComPtr<IHTMLElementCollection> collection;
            if (FAILED(applets ? document->get_applets(&collection) : document->get_embeds(&collection)))
                return text + " no collection";
            LONG length = 0;
            collection->get_length(&length);
            for (LONG i = 0; i <= length; ++i) {
                VARIANT index;
                VariantInit(&index);
                V_VT(&index) = VT_I4;
                V_I4(&index) = i;
                VARIANT none;
                VariantInit(&none);
                CComPtr<IDispatch> item;
                if (collection->item(index, none, &item) != S_OK)
                    return text + " item failed";
                if (!item) {
                    text += i == length ? " |" : " missing";
                    continue;
                }
                CComQIPtr<IHTMLElement> element { item.p };
                CComQIPtr<IHTMLElement2> element2 { item.p };
                CComBSTR tag;
                CComPtr<IHTMLRect> rect;
                if (!element || !element2 || element->get_tagName(&tag) != S_OK
                    || element2->getBoundingClientRect(&rect) != S_OK)
                    return text + " element failed";
                LONG left = 0, top = 0, right = 0, bottom = 0;
                rect->get_left(&left);
                rect->get_top(&top);
                rect->get_right(&right);
                rect->get_bottom(&bottom);
                text += " " + Narrow(tag) + " " + std::to_string(left) + "," + std::to_string(top) + ","
                    + std::to_string(right) + "," + std::to_string(bottom);
            }
        }
        return text;
    });
    ASSERT_TRUE(PumpUntil([&] { return read.wait_for(0s) == std::future_status::ready; }));
    EXPECT_EQ(read.get(),
        "Plug-ins " + kSiteText + "objects.html OBJECT 10,20,330,260 APPLET 400,30,500,80 | EMBED 40,300,200,390 |");

    EXPECT_EQ(hosted.TitleAfter(u"document.title = 'Scripted'"), "Scripted");
    CComPtr<IHTMLWindow2> window;
    ASSERT_EQ(document->get_parentWindow(&window), S_OK);
    VARIANT result;
    EXPECT_EQ(window->execScript(CComBSTR(u"x = 1"), CComBSTR(u"VBScript"), &result), E_INVALIDARG);

    // A media file is a document, but not an HTML one.
    Navigate(hosted, u"http://player.demoweb.test/media/clip.mp4");
    ASSERT_TRUE(PumpUntil([&] {
        return hosted.sink->Index("NavigateComplete2 top http://player.demoweb.test/media/clip.mp4") >= 0;
    })) << hosted.sink->Dump();
    CComPtr<IDispatch> media;
    ASSERT_EQ(hosted.browser->get_Document(&media), S_OK);
    CComPtr<IHTMLDocument2> none;
    EXPECT_EQ(media->QueryInterface(&none), E_NOINTERFACE);
}

TEST_F(WebBrowserControl, ItsWindowsFillTheHostAndTakeMouseInputAsRealClicks)
{
    Hosted& hosted = Host();
    ASSERT_TRUE(Load(hosted, u"click.html")) << hosted.sink->Dump();
    const HWND embedding = FindWindowExW(hosted.host, nullptr, u"Shell Embedding", u"");
    const HWND view = FindWindowExW(embedding, nullptr, u"Shell DocObject View", u"");
    const HWND server = FindWindowExW(view, nullptr, u"Internet Explorer_Server", u"");
    ASSERT_TRUE(embedding && view && server);
    auto size = [](HWND window) {
        RECT rect {};
        GetClientRect(window, &rect);
        return std::to_string(rect.right - rect.left) + "x" + std::to_string(rect.bottom - rect.top);
    };
    for (HWND window : { embedding, view, server }) {
        EXPECT_EQ(GetWindowTextLengthW(window), 0);
        EXPECT_EQ(size(window), size(hosted.host));
    }

    SendMessageW(server, WM_MOUSEMOVE, 0, MAKELPARAM(150, 80));
    SendMessageW(server, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(150, 80));
    SendMessageW(server, WM_LBUTTONUP, 0, MAKELPARAM(150, 80));
    std::string clicks;
    PumpUntil([&] { return (clicks = hosted.TitleAfter(u"document.title = JSON.stringify(clicks)")) != "[]"; });
    EXPECT_EQ(clicks, R"([{"x":150,"y":80,"onTarget":true,"trusted":true,"gesture":true}])");

    // The host's new size reaches the windows and the page's viewport.
    MoveWindow(hosted.host, 0, 0, 500, 400, TRUE);
    EXPECT_EQ(size(server), size(hosted.host));
    std::string viewport;
    PumpUntil([&] {
        return (viewport = hosted.TitleAfter(u"document.title = innerWidth + 'x' + innerHeight")) == size(server);
    });
    EXPECT_EQ(viewport, size(server));
}

TEST_F(WebBrowserControl, StuckPagesHoldUpOnlyThemselvesAndAKilledChromiumEndsOnlyItsPages)
{
    Hosted& looping = Host();
    Hosted& endless = Host();
    Hosted& plain = Host();
    Navigate(looping, kSite + u"loop.html");
    ASSERT_TRUE(PumpUntil([&] { return looping.sink->Index("NavigateComplete2 top " + kSiteText + "loop.html") >= 0; }))
        << looping.sink->Dump();
    Navigate(endless, kSite + u"endless.html");
    ASSERT_NE(m_demoweb.WaitForRequest("endless.html"), "");

    ASSERT_TRUE(Load(plain, u"title.html")) << plain.sink->Dump();
    VARIANT_BOOL busy = VARIANT_FALSE;
    EXPECT_EQ(endless.browser->get_Busy(&busy), S_OK);
    EXPECT_EQ(busy, VARIANT_TRUE);

    // The looping page's document holds up only the thread that asks it (by now its script runs).
    CComPtr<IDispatch> dispatch;
    ASSERT_EQ(looping.browser->get_Document(&dispatch), S_OK);
    CComQIPtr<IHTMLDocument2> stuck { dispatch.p };
    auto asked = std::async(std::launch::async, [&] {
        CComBSTR title;
        return stuck->get_title(&title);
    });
    ASSERT_TRUE(Load(plain, u"frame-b.html")) << plain.sink->Dump();
    ASSERT_TRUE(PumpUntil([&] { return asked.wait_for(0s) == std::future_status::ready; }));
    EXPECT_EQ(asked.get(), E_FAIL);

    const pid_t first = shdocvw::Browser::Process().ProcessId();
    ASSERT_GT(first, 0);
    ASSERT_EQ(kill(first, SIGKILL), 0);
    ASSERT_TRUE(PumpUntil([&] { return plain.Title() == "(no title)"; }));
    const size_t loopingEvents = looping.sink->m_lines.size();
    const size_t endlessEvents = endless.sink->m_lines.size();
    PumpUntil([] { return false; }, 500ms);
    EXPECT_EQ(looping.sink->m_lines.size(), loopingEvents) << looping.sink->Dump();
    EXPECT_EQ(endless.sink->m_lines.size(), endlessEvents) << endless.sink->Dump();

    // The next navigation works, in a new Chromium.
    ASSERT_TRUE(Load(plain, u"frame-a.html")) << plain.sink->Dump();
    EXPECT_NE(shdocvw::Browser::Process().ProcessId(), first);
    EXPECT_EQ(plain.Title(), "Frame A");
}

TEST_F(WebBrowserControl, DestroyingTheControlClosesItsPageAndContext)
{
    auto count = [](const char* method, const char* list) {
        const shdocvw::BrowserConnection browser = shdocvw::Browser::Process().Connection();
        const shdocvw::CallResult answer = browser.connection->Call(method);
        return answer.ok ? answer.result.value(list, shdocvw::Json::array()).size() : size_t(0);
    };
    Hosted& kept = Host();
    Hosted& ended = Host();
    ASSERT_TRUE(kept.browser && ended.browser);
    // A control makes its page without waiting for Chromium: count once both have loaded.
    ASSERT_TRUE(Load(kept, u"title.html")) << kept.sink->Dump();
    ASSERT_TRUE(Load(ended, u"title.html")) << ended.sink->Dump();
    const size_t pages = count("Target.getTargets", "targetInfos");
    const size_t contexts = count("Target.getBrowserContexts", "browserContextIds");
    DestroyWindow(ended.host);
    ended.browser.Release();
    EXPECT_TRUE(PumpUntil([&] {
        return count("Target.getTargets", "targetInfos") == pages - 1
            && count("Target.getBrowserContexts", "browserContextIds") == contexts - 1;
    }));
    EXPECT_TRUE(Load(kept, u"frame-a.html")) << kept.sink->Dump();
}

struct TargetCase {
    const char* name;
    const char16_t* script; // what opens the window; none: a real click on the link
    DISPID cancelAt;
    std::vector<std::string> events;
    const char* request; // the pop-up's request in demoweb's log
};

TEST_F(WebBrowserControl, LinksAndFormsAimedAtANewWindowAskTheHostFirst)
{
    const std::string opener = kSiteText + "targets.html";
    const std::string link = "NewWindow3 " + kSiteText + "popped.html?link from " + opener;
    const std::string form = "NewWindow3 " + kSiteText + "popped.html from " + opener;
    const TargetCase cases[] = {
        { "link cancelled by NewWindow2", nullptr, DISPID_NEWWINDOW2, { "NewWindow2" }, "popped.html?link" },
        { "form cancelled by NewWindow3", u"document.getElementById('form').requestSubmit()", DISPID_NEWWINDOW3,
            { "NewWindow2", form }, "popped.html?form" },
        { "form.submit() cancelled", u"document.getElementById('form').submit()", DISPID_NEWWINDOW2, { "NewWindow2" },
            "popped.html?form" },
        { "link allowed", nullptr, 0, { "NewWindow2", link }, "popped.html?link" },
    };
    for (const TargetCase& row : cases) {
        SCOPED_TRACE(row.name);
        Hosted& hosted = Host();
        hosted.sink->m_cancelWindowAt = row.cancelAt;
        ASSERT_TRUE(Load(hosted, u"targets.html")) << hosted.sink->Dump();
        if (row.script) {
            hosted.TitleAfter(row.script);
        } else {
            hosted.Click(50, 20);
        }
        auto windowEvents = [&] {
            std::vector<std::string> events;
            for (const std::string& line : hosted.sink->m_lines)
                if (line.rfind("NewWindow", 0) == 0)
                    events.push_back(line);
            return events;
        };
        ASSERT_TRUE(PumpUntil([&] { return windowEvents().size() == row.events.size(); })) << hosted.sink->Dump();
        if (row.cancelAt == 0) {
            EXPECT_NE(m_demoweb.WaitForRequest(row.request), "");
        } else {
            // The opener's next page comes after anything the pop-up would have asked for.
            ASSERT_TRUE(Load(hosted, u"title.html")) << hosted.sink->Dump();
            EXPECT_TRUE(RequestsFor(row.request).empty()) << RequestsFor(row.request).front();
        }
        EXPECT_EQ(windowEvents(), row.events) << hosted.sink->Dump();
        EXPECT_TRUE(hosted.sink->m_faults.empty()) << hosted.sink->m_faults.front();
    }
}

struct PageNavigationCase {
    const char* name;
    const char16_t* script; // what navigates; none: a real click on the same-window link
    const char* cancel; // BeforeNavigate2 of this address is cancelled; none: all go on
    const char* address; // the navigation's
};

TEST_F(WebBrowserControl, NavigationsThePageStartsAreRaisedBeforeTheirRequest)
{
    const PageNavigationCase cases[] = {
        { "link clicked, cancelled", nullptr, "title.html?link", "title.html?link" },
        { "location set, cancelled", u"location = 'title.html?script'", "title.html?script", "title.html?script" },
        { "location set, allowed", u"location = 'title.html?script'", nullptr, "title.html?script" },
    };
    for (const PageNavigationCase& row : cases) {
        SCOPED_TRACE(row.name);
        Hosted& hosted = Host();
        ASSERT_TRUE(Load(hosted, u"targets.html")) << hosted.sink->Dump();
        const std::string address = kSiteText + row.address;
        std::vector<std::string> requestedBefore;
        hosted.sink->m_onBeforeNavigate = [&](const std::string& url) {
            for (const std::string& line : RequestsFor(url))
                requestedBefore.push_back(line);
        };
        hosted.sink->m_cancelNavigationTo = row.cancel ? row.cancel : "";
        hosted.sink->m_lines.clear();
        if (row.script) {
            hosted.TitleAfter(row.script);
        } else {
            hosted.Click(50, 120);
        }
        ASSERT_TRUE(PumpUntil([&] { return hosted.sink->Index("BeforeNavigate2 top " + address) >= 0; }))
            << hosted.sink->Dump();
        EXPECT_TRUE(requestedBefore.empty()) << requestedBefore.front();
        if (row.cancel) {
            ASSERT_TRUE(Load(hosted, u"frame-a.html")) << hosted.sink->Dump();
            EXPECT_TRUE(RequestsFor(row.address).empty()) << RequestsFor(row.address).front();
            EXPECT_EQ(hosted.sink->Index("NavigateComplete2 top " + address), -1) << hosted.sink->Dump();
        } else {
            ASSERT_TRUE(PumpUntil([&] { return hosted.sink->Index("DocumentComplete top " + address) >= 0; }))
                << hosted.sink->Dump();
            EXPECT_NE(m_demoweb.WaitForRequest(row.address), "");
        }
    }

    // A frame's load, cancelled, is never requested; the page completes without it.
    Hosted& hosted = Host();
    hosted.sink->m_cancelNavigationTo = "frame-b.html";
    ASSERT_TRUE(Load(hosted, u"frames.html")) << hosted.sink->Dump();
    EXPECT_GE(hosted.sink->Index("BeforeNavigate2 frame " + kSiteText + "frame-b.html"), 0) << hosted.sink->Dump();
    EXPECT_GE(hosted.sink->Index("DocumentComplete frame " + kSiteText + "frame-a.html"), 0) << hosted.sink->Dump();
    EXPECT_TRUE(RequestsFor("frame-b.html").empty());
    EXPECT_TRUE(hosted.sink->m_faults.empty()) << hosted.sink->m_faults.front();
}

// A loopback port that nothing listens on (Chromium reaches loopback directly, not through the proxy).
int ClosedPort()
{
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    close(probe);
    return ntohs(address.sin_port);
}

struct ErrorCase {
    const char* name;
    std::string address;
    LONG status;
    bool cancel;
};

TEST_F(WebBrowserControl, AFailedNavigationRaisesNavigateErrorBeforeItsErrorPage)
{
    const ErrorCase cases[] = {
        { "connection refused", "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/", INET_E_CANNOT_CONNECT,
            false },
        { "HTTP error status", kSiteText + "missing.html", 404, false },
        { "host unknown to the proxy, cancelled", "http://no-such-host.test/", 502, true },
    };
    Hosted& hosted = Host();
    ASSERT_TRUE(Load(hosted, u"title.html")) << hosted.sink->Dump();
    for (const ErrorCase& row : cases) {
        SCOPED_TRACE(row.name);
        hosted.sink->m_lines.clear();
        hosted.sink->m_cancelErrorOf = row.cancel ? row.address : "";
        CComBSTR previous;
        ASSERT_EQ(hosted.browser->get_LocationURL(&previous), S_OK);
        const std::string title = hosted.Title();
        Navigate(hosted, platform::FromUtf8(row.address));
        const std::string error = "NavigateError top " + row.address + " " + std::to_string(row.status);
        ASSERT_TRUE(PumpUntil([&] { return hosted.sink->Index(error) >= 0; })) << hosted.sink->Dump();
        if (row.cancel) {
            // No error page comes (a server's answer loads in well under this time) and the
            // control stays at the page it had.
            EXPECT_FALSE(PumpUntil([&] { return hosted.sink->Index("NavigateComplete2 top " + row.address) >= 0; }, 2s))
                << hosted.sink->Dump();
            CComBSTR location;
            ASSERT_EQ(hosted.browser->get_LocationURL(&location), S_OK);
            EXPECT_EQ(Narrow(location), Narrow(previous));
            EXPECT_EQ(hosted.Title(), title);
            continue;
        }
        ASSERT_TRUE(PumpUntil([&] { return hosted.sink->Index("DocumentComplete top " + row.address) >= 0; }))
            << hosted.sink->Dump();
        const int before = hosted.sink->Index("BeforeNavigate2 top " + row.address);
        EXPECT_GE(before, 0) << hosted.sink->Dump();
        EXPECT_GT(hosted.sink->Index(error), before) << hosted.sink->Dump();
        EXPECT_GT(hosted.sink->Index("NavigateComplete2 top " + row.address), hosted.sink->Index(error))
            << hosted.sink->Dump();
        CComBSTR location;
        ASSERT_EQ(hosted.browser->get_LocationURL(&location), S_OK);
        EXPECT_EQ(Narrow(location), row.address);
    }
    EXPECT_TRUE(hosted.sink->m_faults.empty()) << hosted.sink->m_faults.front();
}

}
