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
#include <wininet.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

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

    // The local file of the URL cache's entry for url (UTF-8), waiting up to 20 s for it; empty
    // if it never came.
    static std::string WaitForCachedFile(const std::string& url)
    {
        const std::u16string wide(url.begin(), url.end());
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        do {
            DWORD size = 0;
            if (!GetUrlCacheEntryInfoW(wide.c_str(), nullptr, &size) && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
                std::vector<BYTE> buffer(size);
                auto* entry = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOW*>(buffer.data());
                if (GetUrlCacheEntryInfoW(wide.c_str(), entry, &size) && entry->lpszLocalFileName) {
                    const std::u16string file(entry->lpszLocalFileName);
                    return std::string(file.begin(), file.end());
                }
            }
            PumpFor(std::chrono::milliseconds(20));
        } while (std::chrono::steady_clock::now() < end);
        return {};
    }

    testing_support::DemowebServer m_demoweb;
    StartedProgram m_server;
};

}

// Every field of both records exactly. demoweb holds the analyzer's last request until the hidden
// browser has put the site's icon into the cache and parsed the page to its closing script (which
// asks for "/page-parsed"), so that the report reads the page as loaded; without the hold the
// analyzer usually wins.
// The browser's HSTS preload list makes it load vimeo.com and www.youtube.com over https.
TEST_F(ServerProcessTest, EachKnownServicesPageGivesItsTwoRecordsAndAnUnknownPageNone)
{
    struct Case {
        const char* page;
        const char* href; // the address the document shows
        const char* title; // null: an unknown page, no record
        const char* cookie;
        const char* url;
        const char* type;
        const char* length;
        const char* held = nullptr; // the analyzer's last request as demoweb logs it; null: its media probe
    };
    const Case cases[] = {
        { "http://demoweb.test/shdocvw/title.html", "", nullptr, "", "", "", "" },
        { "http://vimeo.com/12345678", "https://vimeo.com/12345678", "Night Train on Vimeo", "av=granted", kVimeoMedia,
            "flv", "524288" },
        { "http://www.liveleak.com/view?i=a81_1278958800", "http://www.liveleak.com/view?i=a81_1278958800",
            "LiveLeak.com - Harbour Storm", "",
            "http://edge.liveleak.com/80281E/u/u/ll_a_s/2010/Jul/12/LiveLeak-dot-com-a81_1278958800.flv", "flv",
            "3145728" },
        { "http://www.metacafe.com/watch/4031227/night_train/", "http://www.metacafe.com/watch/4031227/night_train/",
            "Night Train - Video", "", "http://v.mccont.com/ItemFiles/4031227.mp4?__gda__=ZT1lMjk5Yz", "mp4",
            "2097152" },
        { "http://www.myvideo.de/watch/7712345/Sommer_am_See", "http://www.myvideo.de/watch/7712345/Sommer_am_See",
            "Sommer am See - MyVideo", "", "http://img3.myvideo.de/de/movie12/4a/7712345.flv", "flv", "1572864" },
        { "http://www.break.com/index/skateboard-fail.html", "http://www.break.com/index/skateboard-fail.html",
            "Skateboard Fail | Break.com", "bk=1",
            "http://media1.break.com/dnet/media/2010/7/skateboard-fail.flv?a1b2c3d4e5f6", "flv", "2621440" },
        // The page's title collapses its run of blanks, as a document's title does.
        { "http://www.youtube.com/watch?v=two-streams", "https://www.youtube.com/watch?v=two-streams",
            "YouTube - Two Streams & a Cat", "VISITOR_INFO1_LIVE=kP3xQ7Zt2Ys; PREF=f1=50000000",
            "http://v11.lscache2.c.youtube.com/videoplayback?sparams=id,expire,ip,ipbits,itag,algorithm,burst,"
            "factor&fexp=904410&algorithm=throttle-factor&itag=18&ipbits=0&burst=40&sver=3&expire=1294016400&key=yt1&"
            "signature=8E3D1A2B.4C5D6E7F&factor=1.25&id=2b9e4c5c1a3d1f0a",
            "MP4", "20971520", "GET http://www.youtube.com/watch?v=two-streams User-Agent=\"ReelscanApp\"" },
    };
    RecordClient client;
    CComPtr<IReqService> service = CreateService();
    ASSERT_TRUE(service);
    ASSERT_EQ(service->Initialize(client.Handle()), S_OK);
    size_t expected = 0;
    for (const Case& c : cases) {
        const std::string page = c.page;
        const std::string held = c.held ? c.held : "GET " + std::string(c.url) + " ";
        if (c.title)
            m_demoweb.Hold(held);
        ASSERT_EQ(service->RequestURL(CComBSTR(std::u16string(page.begin(), page.end()).c_str())), S_OK) << page;
        if (!c.title) {
            PumpFor(std::chrono::seconds(1));
            EXPECT_EQ(client.Records().size(), expected) << page;
            continue;
        }
        const std::string href = c.href;
        const std::string host = href.substr(0, href.find('/', href.find("://") + 3));
        const std::string icon = WaitForCachedFile(host + "/favicon.ico");
        ASSERT_FALSE(icon.empty()) << page << ": the site's icon never reached the cache";
        ASSERT_NE(m_demoweb.WaitForRequest("GET " + host + "/page-parsed ", std::chrono::seconds(20)), "")
            << page << ": the page's closing script never ran";
        ASSERT_EQ(client.Records().size(), expected) << page << ": a record while the analyzer was held";
        m_demoweb.Release(held);

        expected += 2;
        client.PumpUntil(expected);
        ASSERT_EQ(client.Records().size(), expected) << page;
        const std::vector<std::string> want = { c.title, icon, c.cookie, href, c.url, c.type, c.length };
        EXPECT_EQ(RecordFields(client.Records()[expected - 2]), want) << page;
        EXPECT_EQ(RecordFields(client.Records()[expected - 1]), want) << page;
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
