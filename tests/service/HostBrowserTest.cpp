// The service's browser helpers against a real WebBrowser control in an "AtlAxWin90" host, on a
// demoweb page: which rectangles are collected, where the clicks land, the script that swallows
// errors, and what a report reads from the document.
#include "HostBrowser.h"

#include "ClickLog.h"
#include "DemowebServer.h"

#include <atlhost.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>

namespace {

std::string Narrow(const std::u16string& text)
{
    return std::string(text.begin(), text.end());
}

class HostBrowserTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        ASSERT_TRUE(AtlAxWinInit());
    }
    void TearDown() override
    {
        m_browser.Release();
        if (m_host)
            DestroyWindow(m_host);
        CoUninitialize();
    }

    // A host window showing page, once its document is complete.
    void Open(const char16_t* page)
    {
        m_host = CreateWindowExW(0, u"AtlAxWin90", nullptr, WS_OVERLAPPEDWINDOW, 0, 0, 800, 600, nullptr, nullptr,
            GetModuleHandleW(nullptr), nullptr);
        ASSERT_TRUE(m_host);
        CComPtr<IUnknown> unknown;
        ASSERT_EQ(AtlAxGetHost(m_host, &unknown), S_OK);
        CComQIPtr<IAxWinHostWindow> host(unknown);
        ASSERT_TRUE(host);
        ASSERT_EQ(host->CreateControl(u"about:blank", m_host, nullptr), S_OK);
        ASSERT_EQ(host->QueryControl(&m_browser), S_OK);
        CComVariant address(page);
        CComVariant empty;
        ASSERT_EQ(m_browser->Navigate2(&address, &empty, &empty, &empty, &empty), S_OK);
        ASSERT_TRUE(PumpUntil([&] {
            READYSTATE state = READYSTATE_UNINITIALIZED;
            CComBSTR location;
            return SUCCEEDED(m_browser->get_ReadyState(&state)) && state == READYSTATE_COMPLETE
                && SUCCEEDED(m_browser->get_LocationURL(&location)) && location == page;
        })) << "the page did not complete; demoweb saw "
            << m_server.Requests().size() << " requests";
    }

    void RunScript(const char16_t* script)
    {
        CComPtr<IHTMLDocument2> document = GetHtmlDocument(m_browser);
        ASSERT_TRUE(document);
        CComPtr<IHTMLWindow2> window;
        ASSERT_EQ(document->get_parentWindow(&window), S_OK);
        CComVariant result;
        ASSERT_EQ(window->execScript(CComBSTR(script), CComBSTR(u"JavaScript"), &result), S_OK);
    }

    std::u16string Title()
    {
        CComPtr<IHTMLDocument2> document = GetHtmlDocument(m_browser);
        CComBSTR title;
        if (!document || document->get_title(&title) != S_OK || !title)
            return u"";
        return std::u16string(title.m_str, title.Length());
    }

    // Handles this thread's messages until done says so or 20 seconds have passed.
    static bool PumpUntil(const std::function<bool()>& done)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        MSG message;
        while (!done()) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&message);
        }
        return true;
    }

    testing_support::DemowebServer m_server;
    HWND m_host = nullptr;
    CComPtr<IWebBrowser2> m_browser;
};

}

TEST_F(HostBrowserTest, ClicksTheCentreOfEachObjectThenEachEmbed)
{
    Open(u"http://demoweb.test/shdocvw/objects.html");
    const std::vector<ElementRect> rects = CollectElementRects(GetHtmlDocument(m_browser));
    const ElementRect expected[] = { { 10, 20, 330, 260 }, { 400, 30, 500, 80 }, { 40, 300, 200, 390 } };
    ASSERT_EQ(rects.size(), std::size(expected));
    for (size_t i = 0; i < rects.size(); ++i) {
        EXPECT_EQ(rects[i].left, expected[i].left) << i;
        EXPECT_EQ(rects[i].top, expected[i].top) << i;
        EXPECT_EQ(rects[i].right, expected[i].right) << i;
        EXPECT_EQ(rects[i].bottom, expected[i].bottom) << i;
    }

    const HWND content = FindContentWindow(m_host);
    ASSERT_TRUE(content);
    ClickLog::Watch(content);
    ClickElementRects(content, rects);
    const std::vector<ClickLog::Click> expectedClicks = ObjectsPageClicks();
    EXPECT_EQ(ClickLog::Of(content), expectedClicks);
}

TEST_F(HostBrowserTest, ScriptErrorsAreSwallowedAfterTheScriptRan)
{
    Open(u"http://demoweb.test/shdocvw/title.html");
    SuppressScriptErrors(m_browser);
    // The page's own error handler is now the service's, which answers true.
    RunScript(u"document.title = String(window.onerror && window.onerror('m', 'u', 1));");
    EXPECT_TRUE(PumpUntil([&] { return Title() == u"true"; })) << Narrow(Title());
}

TEST_F(HostBrowserTest, AReportReadsTheTitleTheAddressAndTheSiteIcon)
{
    struct Case {
        const char16_t* page;
        const char* title;
        bool iconCached; // else the icon is the site's icon address
    };
    const Case cases[] = {
        { u"http://shdocvw.test/", "A site with an icon", true },
        { u"http://demoweb.test/shdocvw/title.html", "Engine title page", false },
    };
    for (const Case& c : cases) {
        const std::string page = Narrow(c.page);
        Open(c.page);
        const DocumentInfo info = ReadDocumentInfo(GetHtmlDocument(m_browser));
        ASSERT_TRUE(info.title && info.href && info.icon) << page;
        EXPECT_EQ(Narrow(*info.title), c.title) << page;
        EXPECT_EQ(Narrow(*info.href), page) << page;
        const std::string address = page.substr(0, page.find('/', 7)) + "/favicon.ico";
        if (c.iconCached) {
            // The browser put the icon into the URL cache; the report names the cached file.
            EXPECT_NE(Narrow(*info.icon), address) << page;
            EXPECT_TRUE(std::filesystem::exists(Narrow(*info.icon))) << Narrow(*info.icon);
        } else {
            EXPECT_EQ(Narrow(*info.icon), address) << page;
        }
        m_browser.Release();
        DestroyWindow(std::exchange(m_host, nullptr));
    }
    EXPECT_FALSE(ReadDocumentInfo(nullptr).title);
}
