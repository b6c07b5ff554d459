// CReqService in process, on this test's single-threaded apartment thread: its COM face, the
// browser events it answers, the hand-off of reports to the client window, and the end of the
// process with the last service.
#include "ReqService.h"
#include "ClickLog.h"
#include "DemowebServer.h"
#include "HostBrowser.h"
#include "RecordClient.h"

#include <atlhost.h>
#include <exdispid.h>
#include <mshtmdid.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

class ReqServiceTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        // Held for the whole test, so that releasing the services under test never ends the
        // test's own process.
        ASSERT_EQ(CComObject<CReqService>::CreateInstance(&m_keeper), S_OK);
        m_keeper->AddRef();
        m_client = std::make_unique<RecordClient>();
    }

    CComPtr<IReqService> NewService()
    {
        CComPtr<IReqService> service;
        EXPECT_EQ(CReqService::CreateInstance(&service), S_OK);
        return service;
    }

    ULONG Client() const
    {
        return m_client->Handle();
    }
    const std::vector<std::string>& Received() const
    {
        return m_client->Records();
    }
    void PumpUntilRecords(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        m_client->PumpUntil(count, timeout);
    }

    CComObject<CReqService>* m_keeper = nullptr;
    std::unique_ptr<RecordClient> m_client;
};

// The by-reference boolean of an event call, and the arguments around it.
struct EventCall {
    DISPID id;
    UINT arguments;
    UINT flagIndex; // in rgvarg, where the last parameter comes first
};

}

TEST_F(ReqServiceTest, AnswersItsInterfacesAndOneConnectionPoint)
{
    CComPtr<IReqService> service = NewService();
    ASSERT_TRUE(service);
    CComPtr<IDispatch> dispatch;
    ASSERT_EQ(service->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
    EXPECT_EQ(static_cast<void*>(dispatch.p), static_cast<void*>(service.p));
    UINT count = 0;
    EXPECT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);

    CComQIPtr<IConnectionPointContainer> container(service);
    ASSERT_TRUE(container);
    CComPtr<IConnectionPoint> point;
    ASSERT_EQ(container->FindConnectionPoint(DIID__IReqServiceEvents, &point), S_OK);
    CComPtr<IConnectionPoint> none;
    EXPECT_EQ(container->FindConnectionPoint(IID_IReqService, &none), CONNECT_E_NOCONNECTION);
    CComPtr<IEnumConnectionPoints> points;
    ASSERT_EQ(container->EnumConnectionPoints(&points), S_OK);
    IConnectionPoint* listed[2] = {};
    ULONG fetched = 0;
    EXPECT_EQ(points->Next(2, listed, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 1u);
    for (ULONG i = 0; i < fetched; ++i)
        listed[i]->Release();

    // A sink that does not answer the event interface is refused.
    CComPtr<IReqService> sinkObject = NewService();
    DWORD cookie = 0;
    EXPECT_EQ(point->Advise(sinkObject, &cookie), CONNECT_E_CANNOTCONNECT);
    CComPtr<IUnknown> unknown;
    EXPECT_EQ(service->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    // The browser's events reach the same IDispatch.
    CComPtr<IUnknown> events;
    EXPECT_EQ(service->QueryInterface(DIID_DWebBrowserEvents2, reinterpret_cast<void**>(&events)), S_OK);
    EXPECT_EQ(static_cast<void*>(events.p), static_cast<void*>(dispatch.p));
}

TEST_F(ReqServiceTest, CallsBeforeInitializeAndLateBoundCallsDoNothing)
{
    CComPtr<IReqService> service = NewService();
    EXPECT_EQ(service->RequestURL(CComBSTR(u"http://www.vimeo.com/1")), S_OK);
    EXPECT_EQ(service->UnInitialize(), S_OK);
    EXPECT_EQ(service->UnInitialize(), S_OK);

    // Invoke is the browser's event sink: IReqService's own DISPIDs do nothing.
    for (DISPID id : { 1, 2, 3, 99 }) {
        CComVariant argument(u"http://www.vimeo.com/1");
        DISPPARAMS params { &argument, nullptr, 1, 0 };
        EXPECT_EQ(service->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr), S_OK) << id;
    }
    // Nothing was reported: there was nothing to report to.
    EXPECT_EQ(ReportFoundVideo(u"U", u"flv", nullptr, 1, static_cast<CReqService*>(m_keeper)), 1);
    PumpUntilRecords(1, std::chrono::seconds(1));
    EXPECT_TRUE(Received().empty());
}

TEST_F(ReqServiceTest, PopUpsOfEveryKindAreCancelled)
{
    CComPtr<IReqService> service = NewService();
    const EventCall calls[] = {
        { DISPID_NEWWINDOW, 6, 0 },
        { DISPID_NEWWINDOW2, 2, 0 },
        { DISPID_NEWWINDOW3, 5, 3 },
    };
    for (const EventCall& call : calls) {
        std::vector<CComVariant> arguments(call.arguments);
        VARIANT_BOOL flag = VARIANT_FALSE;
        arguments[call.flagIndex].vt = VT_BOOL | VT_BYREF;
        arguments[call.flagIndex].pboolVal = &flag;
        DISPPARAMS params { arguments.data(), nullptr, call.arguments, 0 };
        EXPECT_EQ(service->Invoke(call.id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr), S_OK)
            << call.id;
        EXPECT_EQ(flag, VARIANT_TRUE) << call.id;
        arguments[call.flagIndex].vt = VT_EMPTY;
    }
}

TEST(AmbientDispatch, ClearsOnlyTheImageDownloadsOfTheDownloadControl)
{
    CComObject<CAmbientDispatch>* ambient = nullptr;
    ASSERT_EQ(CComObject<CAmbientDispatch>::CreateInstance(&ambient), S_OK);
    CComPtr<IDispatch> dispatch(ambient);
    struct Case {
        DISPID id;
        VARTYPE type;
        LONG proposed;
        HRESULT result;
        LONG answer;
    };
    const Case cases[] = {
        { DISPID_AMBIENT_DLCONTROL, VT_I4, DLCTL_DLIMAGES | 0x20 | 0x40, S_OK, 0x20 | 0x40 },
        { DISPID_AMBIENT_DLCONTROL, VT_I4, 0x20, S_OK, 0x20 },
        { DISPID_AMBIENT_DLCONTROL, VT_EMPTY, 0, S_OK, 0 },
        { -5501, VT_I4, 7, DISP_E_MEMBERNOTFOUND, 7 },
        { 1, VT_I4, 7, DISP_E_MEMBERNOTFOUND, 7 },
    };
    for (const Case& c : cases) {
        VARIANT result;
        VariantInit(&result);
        result.vt = c.type;
        result.lVal = c.proposed;
        DISPPARAMS none {};
        EXPECT_EQ(dispatch->Invoke(c.id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr), c.result)
            << c.id << " " << c.proposed;
        EXPECT_EQ(result.lVal, c.answer) << c.id << " " << c.proposed;
        if (c.result == S_OK) {
            EXPECT_EQ(result.vt, VT_I4) << c.id;
        }
    }
}

TEST(SiteIcon, IsTheHostsFaviconAddressWhenTheCacheLacksIt)
{
    const std::u16string longPath(2000, u'a');
    struct Case {
        const char* name;
        std::u16string document;
        std::optional<std::u16string> icon;
    };
    const Case cases[] = {
        { "page", u"http://www.vimeo.com/12345?x=1", u"http://www.vimeo.com/favicon.ico" },
        { "host only", u"http://demo.example", u"http://demo.example/favicon.ico" },
        { "address of 2000 characters", u"http://long.example/" + longPath, u"http://long.example/favicon.ico" },
        { "host too long", u"http://" + longPath + u".example/", std::nullopt },
    };
    for (const Case& c : cases)
        EXPECT_EQ(SiteIconFor(c.document), c.icon) << c.name;
}

namespace {

// Two services in a process of their own: the first release leaves the process running, the
// second ends it with 0.
[[noreturn]] void ReleaseTwoServices()
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    CComPtr<IReqService> first, second;
    CReqService::CreateInstance(&first);
    CReqService::CreateInstance(&second);
    // The second has its browser and is released without UnInitialize.
    RecordClient client;
    if (second->Initialize(client.Handle()) != S_OK)
        std::_Exit(2);
    first.Release();
    if (CReqService::LiveServices() != 1)
        std::_Exit(3);
    second.Release();
    std::_Exit(4); // never reached: the last release ends the process
}

}

TEST(ReqServiceLifetime, TheProcessEndsWithTheLastServiceOnly)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(ReleaseTwoServices(), testing::ExitedWithCode(0), "");
}

TEST_F(ReqServiceTest, EachAcceptedReportReachesTheClientOnceInOrderWithItsOwnValues)
{
    CComObject<CReqService>* object = nullptr;
    ASSERT_EQ(CComObject<CReqService>::CreateInstance(&object), S_OK);
    CComPtr<IReqService> service(object);
    ASSERT_EQ(service->Initialize(Client()), S_OK);

    // All reports come from another thread before the service thread handles the first.
    std::thread reporter([object] {
        EXPECT_EQ(ReportFoundVideo(u"http://m.example/1.flv", u"flv", u"a=1", 1234, object), 1);
        EXPECT_EQ(ReportFoundVideo(u"http://m.example/2.mp4", u"mp4", nullptr, 0, object), 1);
        EXPECT_EQ(ReportFoundVideo(nullptr, u"mp4", u"c", 5, object), 0);
        EXPECT_EQ(ReportFoundVideo(u"http://m.example/3", nullptr, u"c", 5, object), 0);
        EXPECT_EQ(ReportFoundVideo(u"", u"", u"", -1, object), 1);
    });
    reporter.join();
    PumpUntilRecords(3);
    // Nothing more comes: one record per accepted report.
    PumpUntilRecords(4, std::chrono::seconds(1));
    ASSERT_EQ(Received().size(), 3u);
    const char* expected[][4] = {
        { "a=1", "http://m.example/1.flv", "flv", "1234" },
        { "", "http://m.example/2.mp4", "mp4", "0" },
        { "", "", "", "-1" },
    };
    const std::vector<std::string> first = RecordFields(Received()[0]);
    for (size_t i = 0; i < Received().size(); ++i) {
        const std::vector<std::string> fields = RecordFields(Received()[i]);
        ASSERT_EQ(fields.size(), 7u) << i;
        EXPECT_EQ(fields[2], expected[i][0]) << i;
        EXPECT_EQ(fields[4], expected[i][1]) << i;
        EXPECT_EQ(fields[5], expected[i][2]) << i;
        EXPECT_EQ(fields[6], expected[i][3]) << i;
        // The browser shows the same document throughout: the same title, address and icon.
        EXPECT_EQ(fields[0], first[0]) << i;
        EXPECT_EQ(fields[1], first[1]) << i;
        EXPECT_EQ(fields[3], first[3]) << i;
    }

    // After UnInitialize a report is still taken, and nothing is sent.
    EXPECT_EQ(service->UnInitialize(), S_OK);
    EXPECT_EQ(ReportFoundVideo(u"http://m.example/4.flv", u"flv", nullptr, 1, object), 1);
    PumpUntilRecords(4, std::chrono::seconds(1));
    EXPECT_EQ(Received().size(), 3u);
}

TEST_F(ReqServiceTest, ASecondInitializeRedirectsTheRecordsAndBuildsNothing)
{
    CComObject<CReqService>* object = nullptr;
    ASSERT_EQ(CComObject<CReqService>::CreateInstance(&object), S_OK);
    CComPtr<IReqService> service(object);
    RecordClient other;
    ASSERT_EQ(service->Initialize(other.Handle()), S_OK);
    ASSERT_EQ(service->Initialize(Client()), S_OK);
    int hosts = 0;
    EnumWindows(
        [](HWND window, LPARAM count) -> BOOL {
            WCHAR name[64] = {};
            DWORD process = 0;
            GetWindowThreadProcessId(window, &process);
            if (process == GetCurrentProcessId() && GetClassNameW(window, name, 64)
                && lstrcmpW(name, u"AtlAxWin90") == 0)
                ++*reinterpret_cast<int*>(count);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&hosts));
    EXPECT_EQ(hosts, 1);
    EXPECT_EQ(ReportFoundVideo(u"U", u"flv", nullptr, 1, object), 1);
    PumpUntilRecords(1);
    EXPECT_EQ(Received().size(), 1u); // to Client(), the window of the second call
    EXPECT_TRUE(other.Records().empty());
}

class ReqServicePageTest : public ReqServiceTest {
protected:
    testing_support::DemowebServer m_server;
};

TEST_F(ReqServicePageTest, AKnownPageGivesItsVideoTwice)
{
    CComPtr<IReqService> service = NewService();
    ASSERT_EQ(service->Initialize(Client()), S_OK);
    ASSERT_EQ(service->RequestURL(CComBSTR(u"http://vimeo.com/12345678")), S_OK);
    PumpUntilRecords(2, std::chrono::seconds(20));
    PumpUntilRecords(3, std::chrono::seconds(1));
    ASSERT_EQ(Received().size(), 2u);
    for (const std::string& record : Received()) {
        const std::vector<std::string> fields = RecordFields(record);
        ASSERT_EQ(fields.size(), 7u);
        EXPECT_EQ(fields[2], "av=granted");
        EXPECT_EQ(fields[4], "http://av.vimeo.com/58921/742/27368213.flv?token=1278962400_9a3f");
        EXPECT_EQ(fields[5], "flv");
        EXPECT_EQ(fields[6], "524288");
    }
    EXPECT_EQ(service->UnInitialize(), S_OK);
}

TEST_F(ReqServicePageTest, TwoQuickRequestsAnalyseOnlyTheSecondPage)
{
    const std::string firstProbe = "GET http://edge.liveleak.com/";
    CComPtr<IReqService> service = NewService();
    ASSERT_EQ(service->Initialize(Client()), S_OK);
    // The first page's run waits for the answer to its media probe; it is stopped after its grace.
    m_server.Hold(firstProbe);
    ASSERT_EQ(service->RequestURL(CComBSTR(u"http://www.liveleak.com/view?i=a81_1278958800")), S_OK);
    ASSERT_FALSE(m_server.WaitForRequest(firstProbe, std::chrono::seconds(20)).empty());
    ASSERT_EQ(service->RequestURL(CComBSTR(u"http://vimeo.com/12345678")), S_OK);
    PumpUntilRecords(2, std::chrono::seconds(20));
    // A first run still alive would now find its video.
    m_server.Release(firstProbe);
    PumpUntilRecords(3, std::chrono::seconds(2));
    ASSERT_EQ(Received().size(), 2u);
    for (const std::string& record : Received())
        EXPECT_EQ(RecordFields(record)[4], "http://av.vimeo.com/58921/742/27368213.flv?token=1278962400_9a3f");
    EXPECT_EQ(service->UnInitialize(), S_OK);
}

namespace {

// The host windows of this process's services, with the text their title events gave them.
std::vector<HWND> HostWindowsTitled(const std::u16string& title)
{
    struct Search {
        std::u16string title;
        std::vector<HWND> found;
    } search { title, {} };
    EnumWindows(
        [](HWND window, LPARAM parameter) -> BOOL {
            auto* search = reinterpret_cast<Search*>(parameter);
            WCHAR name[64] = {};
            WCHAR text[256] = {};
            DWORD process = 0;
            GetWindowThreadProcessId(window, &process);
            if (process == GetCurrentProcessId() && GetClassNameW(window, name, 64)
                && lstrcmpW(name, u"AtlAxWin90") == 0 && GetWindowTextW(window, text, 256) >= 0
                && search->title == text)
                search->found.push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}

TEST_F(ReqServicePageTest, PopUpsOpenNothing)
{
    CComPtr<IReqService> service = NewService();
    ASSERT_EQ(service->Initialize(Client()), S_OK);
    ASSERT_EQ(service->RequestURL(CComBSTR(u"http://player.demoweb.test/popup.html")), S_OK);
    // The page is shown once its title reached the host window; its script ran before.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (HostWindowsTitled(u"A pop-up").empty() && std::chrono::steady_clock::now() < end)
        PumpFor(std::chrono::milliseconds(50));
    ASSERT_EQ(HostWindowsTitled(u"A pop-up").size(), 1u);
    PumpFor(std::chrono::seconds(1));
    for (const std::string& request : m_server.Requests())
        EXPECT_EQ(request.find("video.html"), std::string::npos) << request;
    EXPECT_EQ(service->UnInitialize(), S_OK);
}

TEST_F(ReqServicePageTest, ImagesAreNeverRequested)
{
    CComPtr<IReqService> service = NewService();
    ASSERT_EQ(service->Initialize(Client()), S_OK);
    ASSERT_EQ(service->RequestURL(CComBSTR(u"http://demoweb.test/shdocvw/images.html")), S_OK);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (HostWindowsTitled(u"Images").empty() && std::chrono::steady_clock::now() < end)
        PumpFor(std::chrono::milliseconds(50));
    ASSERT_EQ(HostWindowsTitled(u"Images").size(), 1u);
    PumpFor(std::chrono::seconds(1));
    bool pageServed = false;
    for (const std::string& request : m_server.Requests()) {
        pageServed = pageServed || request.find("images.html") != std::string::npos;
        EXPECT_EQ(request.find(".gif"), std::string::npos) << request;
    }
    EXPECT_TRUE(pageServed);
    EXPECT_EQ(service->UnInitialize(), S_OK);
}

TEST_F(ReqServicePageTest, PlayersAreClickedOnceAfterTheLastDocumentCompleteUnlessAVideoWasReported)
{
    CComObject<CReqService>* reporting = nullptr;
    ASSERT_EQ(CComObject<CReqService>::CreateInstance(&reporting), S_OK);
    CComPtr<IReqService> reported(reporting);
    CComPtr<IReqService> clicked = NewService();
    ASSERT_EQ(clicked->Initialize(Client()), S_OK);
    ASSERT_EQ(reported->Initialize(Client()), S_OK);
    ASSERT_EQ(clicked->RequestURL(CComBSTR(u"http://demoweb.test/shdocvw/objects.html")), S_OK);
    ASSERT_EQ(reported->RequestURL(CComBSTR(u"http://demoweb.test/shdocvw/objects.html")), S_OK);

    // Each host's browser, once its page is complete.
    std::vector<HWND> hosts;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while ((hosts = HostWindowsTitled(u"Plug-ins")).size() < 2 && std::chrono::steady_clock::now() < end)
        PumpFor(std::chrono::milliseconds(50));
    ASSERT_EQ(hosts.size(), 2u);
    for (HWND host : hosts) {
        CComPtr<IUnknown> control;
        ASSERT_EQ(AtlAxGetControl(host, &control), S_OK);
        CComQIPtr<IWebBrowser2> browser(control);
        ASSERT_TRUE(browser);
        READYSTATE state = READYSTATE_UNINITIALIZED;
        while ((FAILED(browser->get_ReadyState(&state)) || state != READYSTATE_COMPLETE)
            && std::chrono::steady_clock::now() < end)
            PumpFor(std::chrono::milliseconds(50));
        ASSERT_EQ(state, READYSTATE_COMPLETE);
        ASSERT_TRUE(FindContentWindow(host));
        ClickLog::Watch(FindContentWindow(host));
    }
    // The DocumentComplete events have been handled; a report now stops one page's clicks.
    PumpFor(std::chrono::milliseconds(500));
    EXPECT_EQ(ReportFoundVideo(u"http://m.example/v.flv", u"flv", nullptr, 1, reporting), 1);
    PumpFor(std::chrono::seconds(17));

    const std::vector<ClickLog::Click> expected = ObjectsPageClicks();
    size_t clickedHosts = 0;
    for (HWND host : hosts) {
        const std::vector<std::pair<UINT, LPARAM>> clicks = ClickLog::Of(FindContentWindow(host));
        if (!clicks.empty()) {
            ++clickedHosts;
            EXPECT_EQ(clicks, expected);
        }
    }
    EXPECT_EQ(clickedHosts, 1u);
    EXPECT_EQ(clicked->UnInitialize(), S_OK);
    EXPECT_EQ(reported->UnInitialize(), S_OK);
}
