// The server as its clients meet it: ReelscanModule.exe registered by its own switch, started by
// COM (or by the test, to read its exit code), serving ReqService to this process and to
// CmdReelscan.exe, against demoweb with the real headless Chromium.
#include "ServerProcess.h"
#include "CmdReelscanWindow.h"
#include "DemowebServer.h"
#include "RecordClient.h"
#include "ReelscanModule.h"
#include "TestRoot.h"

#include <atlbase.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

namespace {

const char* kVimeoMedia = "http://av.vimeo.com/58921/742/27368213.flv?token=1278962400_9a3f";

class ServerProcessTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(RunProgramToEnd("ReelscanModule.exe", "/RegServer"), static_cast<DWORD>(S_OK));
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    }
    void TearDown() override
    {
        EndProgram(m_server);
        CoUninitialize();
    }

    CComPtr<IReqService> CreateService()
    {
        CComPtr<IReqService> service;
        EXPECT_EQ(CoCreateInstance(CLSID_ReqService, nullptr, CLSCTX_LOCAL_SERVER, IID_IReqService,
                      reinterpret_cast<void**>(&service)),
            S_OK);
        return service;
    }

    // Starts the server itself, so that the test holds its process, and waits until it serves.
    void StartOwnServer()
    {
        m_server = StartProgram("ReelscanModule.exe", "-Embedding");
        ASSERT_TRUE(m_server.process);
        const std::string table = testing_support::TestRoot() + "/run/com";
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!Serving(table)) {
            ASSERT_LT(std::chrono::steady_clock::now(), end) << "the server did not register its class";
            ASSERT_EQ(WaitForSingleObject(m_server.process, 20), static_cast<DWORD>(WAIT_TIMEOUT));
        }
    }

    static bool Serving(const std::string& table)
    {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(table, error)) {
            if (entry.path().filename().string().rfind("{6F1B3C20-5A47-4E8B-9C31-2D7E8A4B1C03}.", 0) == 0)
                return true;
        }
        return false;
    }

    testing_support::DemowebServer m_demoweb;
    StartedProgram m_server;
};

}

TEST_F(ServerProcessTest, EachKnownServicesPageGivesItsTwoRecordsAndAnUnknownPageNone)
{
    struct Case {
        const char16_t* page;
        size_t records;
        const char* cookie;
        const char* url;
        const char* type;
        const char* length;
    };
    const Case cases[] = {
        { u"http://demoweb.test/shdocvw/title.html", 0, "", "", "", "" },
        { u"http://vimeo.com/12345678", 2, "av=granted", kVimeoMedia, "flv", "524288" },
        { u"http://www.liveleak.com/view?i=a81_1278958800", 2, "",
            "http://edge.liveleak.com/80281E/u/u/ll_a_s/2010/Jul/12/LiveLeak-dot-com-a81_1278958800.flv", "flv",
            "3145728" },
        { u"http://www.metacafe.com/watch/4031227/night_train/", 2, "",
            "http://v.mccont.com/ItemFiles/4031227.mp4?__gda__=ZT1lMjk5Yz", "mp4", "2097152" },
        { u"http://www.myvideo.de/watch/7712345/Sommer_am_See", 2, "",
            "http://img3.myvideo.de/de/movie12/4a/7712345.flv", "flv", "1572864" },
        { u"http://www.break.com/index/skateboard-fail.html", 2, "bk=1",
            "http://media1.break.com/dnet/media/2010/7/skateboard-fail.flv?a1b2c3d4e5f6", "flv", "2621440" },
        { u"http://www.youtube.com/watch?v=two-streams", 2, "VISITOR_INFO1_LIVE=kP3xQ7Zt2Ys; PREF=f1=50000000",
            "http://v11.lscache2.c.youtube.com/videoplayback?sparams=id,expire,ip,ipbits,itag,algorithm,burst,"
            "factor&fexp=904410&algorithm=throttle-factor&itag=18&ipbits=0&burst=40&sver=3&expire=1294016400&key=yt1&"
            "signature=8E3D1A2B.4C5D6E7F&factor=1.25&id=2b9e4c5c1a3d1f0a",
            "MP4", "20971520" },
    };
    RecordClient client;
    CComPtr<IReqService> service = CreateService();
    ASSERT_TRUE(service);
    ASSERT_EQ(service->Initialize(client.Handle()), S_OK);
    size_t expected = 0;
    for (const Case& c : cases) {
        const std::string page(c.page, c.page + std::char_traits<char16_t>::length(c.page));
        ASSERT_EQ(service->RequestURL(CComBSTR(c.page)), S_OK) << page;
        expected += c.records;
        client.PumpUntil(expected);
        ASSERT_EQ(client.Records().size(), expected) << page;
        for (size_t i = expected - c.records; i < expected; ++i) {
            const std::vector<std::string> fields = RecordFields(client.Records()[i]);
            ASSERT_EQ(fields.size(), 7u) << page;
            EXPECT_EQ(fields[2], c.cookie) << page;
            EXPECT_EQ(fields[4], c.url) << page;
            EXPECT_EQ(fields[5], c.type) << page;
            EXPECT_EQ(fields[6], c.length) << page;
        }
    }
    EXPECT_EQ(service->UnInitialize(), S_OK);
}

TEST_F(ServerProcessTest, ASecondClientKeepsWorkingAndTheLastReleaseEndsTheServerWithZero)
{
    StartOwnServer();
    RecordClient first;
    RecordClient second;
    CComPtr<IReqService> own = CreateService();
    ASSERT_TRUE(own);
    ASSERT_EQ(own->Initialize(first.Handle()), S_OK);

    // CmdReelscan is the second client, in a process of its own, with the second window.
    StartedProgram companion = StartProgram(
        "CmdReelscan.exe", "http://vimeo.com/12345678 " + std::to_string(reinterpret_cast<LONG_PTR>(second.Window())));
    ASSERT_TRUE(companion.process);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    HWND companionWindow = nullptr;
    while (!(companionWindow = FindWindowW(CMDREELSCAN_WND_CLASS, nullptr)) && std::chrono::steady_clock::now() < end)
        PumpFor(std::chrono::milliseconds(20));
    ASSERT_TRUE(companionWindow);

    // Once the second client's request is under way, the first goes without UnInitialize; the
    // server stays for the second.
    ASSERT_FALSE(m_demoweb.WaitForRequest("vimeo.com/12345678", std::chrono::seconds(20)).empty());
    own.Release();
    second.PumpUntil(2);
    ASSERT_EQ(second.Records().size(), 2u);
    EXPECT_EQ(RecordFields(second.Records()[0])[4], kVimeoMedia);
    EXPECT_TRUE(first.Records().empty());
    EXPECT_EQ(WaitForSingleObject(m_server.process, 0), static_cast<DWORD>(WAIT_TIMEOUT));

    // The proxy's way to end CmdReelscan; its release is the server's last.
    PostMessageW(companionWindow, WM_DESTROY, 0, 0);
    EXPECT_EQ(WaitForExit(companion), 0u);
    EndProgram(companion);
    EXPECT_EQ(WaitForExit(m_server), 0u);
}

TEST_F(ServerProcessTest, TheLastReleaseEndsTheServerWithZero)
{
    StartOwnServer();
    RecordClient client;
    CComPtr<IReqService> service = CreateService();
    ASSERT_TRUE(service);
    ASSERT_EQ(service->Initialize(client.Handle()), S_OK);
    // Released without UnInitialize.
    service.Release();
    EXPECT_EQ(WaitForExit(m_server), 0u);
}
