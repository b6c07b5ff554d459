// The analysis base: its text operations on tables of cases, and FetchPage, GetBrowserUserAgent
// and FillResult over demoweb.
#include "BaseAnalysis.h"

#include "AnalysisTestSupport.h"
#include "urlmon.h"
#include "winreg.h"

#include <gmock/gmock.h>

#include <string>

using testing::HasSubstr;

namespace {

TEST(BaseAnalysis, TextOperations)
{
    const struct {
        const char* name;
        std::u16string got;
        std::u16string expected;
    } cases[] = {
        { "title with nbsp, spaces and a line break",
            CBaseAnalysis::ExtractTitle(u"<head><title>  A&nbsp;B \r\n</title></head>"), u"A B" },
        { "upper-case title tag", CBaseAnalysis::ExtractTitle(u"<TITLE>A</TITLE>"), u"" },
        { "no end tag", CBaseAnalysis::ExtractTitle(u"<title>A"), u"" },
        { "other references stay", CBaseAnalysis::ExtractTitle(u"<title>A &amp; B</title>"), u"A &amp; B" },
        { "replace restarts at the start", CBaseAnalysis::ReplaceAll(u"%2525", u"%25", u"%"), u"%" },
        { "replace by nothing", CBaseAnalysis::ReplaceAll(u"a/thumbs/b/thumbs", u"/thumbs", u""), u"a/b" },
        { "trim spaces only", CBaseAnalysis::TrimSpaces(u"  \tA B\t  "), u"\tA B\t" },
        { "trim all spaces", CBaseAnalysis::TrimSpaces(u"   "), u"" },
        { "doubly escaped colon", CBaseAnalysis::DecodeUrlEscapes(u"http%253A%252F%252Fa"), u"http://a" },
        { "lower-case and unknown escapes stay", CBaseAnalysis::DecodeUrlEscapes(u"%2f%20%3F"), u"%2f%20?" },
        { "all eleven", CBaseAnalysis::DecodeUrlEscapes(u"%25%3A%2F%3F%3D%2C%26%7B%7D%22%5C"), u"%:/?=,&{}\"\\" },
        { "marker rule", CutBetween(u"a[x]b[y]", u"[", u"]"), u"x" },
        { "marker rule without end", CutBetween(u"a[x", u"[", u"]"), u"" },
        { "marker rule without start", CutBetween(u"ax]", u"[", u"]"), u"" },
    };
    for (const auto& test : cases)
        EXPECT_EQ(Narrow(test.got), Narrow(test.expected)) << test.name;
}

class FetchPage : public testing::Test {
protected:
    testing_support::DemowebServer m_server;
};

TEST_F(FetchPage, ReadsTheWholeBodyBypassingTheCache)
{
    std::u16string page = u"kept:";
    ASSERT_EQ(CBaseAnalysis::FetchPage(u"http://demoweb.test/pages/1mib.html", page), 1);
    EXPECT_EQ(page.size(), 5u + 1048576u);
    EXPECT_EQ(page.substr(0, 5), u"kept:");
    EXPECT_THAT(m_server.WaitForRequest("/pages/1mib.html"),
        HasSubstr("User-Agent=\"_GET_HTML_CONTENT_\" Accept=\"*/*\" Pragma=\"no-cache\""));
}

TEST_F(FetchPage, FailuresGiveZero)
{
    const struct {
        const char16_t* url;
        size_t minimumKept; // text that arrived before the failure stays appended
    } cases[] = {
        { u"http://demoweb.test/hostile/cut", 4096 }, // the connection breaks during the body
        { u"http://demoweb.test/hostile/endless", kMaxPageBytes - kPageChunkBytes }, // a monstrous page
        { u"http://demoweb.test/hostile/garbage", 0 }, // no HTTP answer at all
        { u"ftp://demoweb.test/", 0 },
    };
    for (const auto& test : cases) {
        std::u16string page;
        EXPECT_EQ(CBaseAnalysis::FetchPage(test.url, page), 0) << Narrow(test.url);
        EXPECT_GE(page.size(), test.minimumKept) << Narrow(test.url);
        EXPECT_LE(page.size(), kMaxPageBytes) << Narrow(test.url);
    }
}

TEST_F(FetchPage, TheBodyOfAnErrorPageIsThePage)
{
    std::u16string page;
    ASSERT_EQ(CBaseAnalysis::FetchPage(u"http://demoweb.test/no/such/page", page), 1);
    EXPECT_THAT(Narrow(page), HasSubstr("404 Not Found"));
}

TEST(FetchPageCodePage, ACharacterAcrossTwoChunksIsKeptWhole)
{
    // The machine's ANSI code page is UTF-8 here; it is read once, so before anything converts.
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage", 0, nullptr, 0,
                  KEY_ALL_ACCESS, nullptr, &key, nullptr),
        ERROR_SUCCESS);
    const WCHAR utf8[] = u"65001";
    ASSERT_EQ(RegSetValueExW(key, u"ACP", 0, REG_SZ, reinterpret_cast<const BYTE*>(utf8), sizeof(utf8)), ERROR_SUCCESS);
    RegCloseKey(key);
    testing_support::DemowebServer server;

    // Byte 4095 starts a three-byte character, so the first chunk ends inside it.
    std::u16string page;
    ASSERT_EQ(CBaseAnalysis::FetchPage(u"http://www.youtube.com/watch?v=chunked-title", page), 1);
    EXPECT_EQ(page.find(u'\uFFFD'), std::u16string::npos);
    EXPECT_EQ(CBaseAnalysis::ExtractTitle(page), u"\u5927\u962A\u306E\u591C\u666F - YouTube");
}

TEST(BrowserUserAgent, IsTheUrlMonikerAgentCutTo259Characters)
{
    const struct {
        std::string agent;
        std::u16string expected;
    } cases[] = {
        { "Mozilla/4.0 (compatible; MSIE 8.0; Windows NT 6.1)", u"Mozilla/4.0 (compatible; MSIE 8.0; Windows NT 6.1)" },
        { std::string(300, 'x'), std::u16string(259, u'x') },
    };
    for (const auto& test : cases) {
        ASSERT_EQ(UrlMkSetSessionOption(URLMON_OPTION_USERAGENT, const_cast<char*>(test.agent.c_str()),
                      static_cast<DWORD>(test.agent.size() + 1), 0),
            S_OK);
        WCHAR agent[kAgentLength] = {};
        EXPECT_NE(CBaseAnalysis::GetBrowserUserAgent(agent), 0);
        EXPECT_EQ(std::u16string(agent), test.expected) << test.agent.size();
    }
}

class FillResult : public testing::Test {
protected:
    testing_support::DemowebServer m_server;
};

TEST_F(FillResult, ProbesWithTheBrowserAgentAndTakesTheCookieAfterwards)
{
    const char agent[] = "Mozilla/5.0 (Windows; U; Windows NT 5.1; de; rv:1.9.2) Gecko/20100115 Firefox/3.6";
    ASSERT_EQ(UrlMkSetSessionOption(URLMON_OPTION_USERAGENT, const_cast<char*>(agent), sizeof(agent), 0), S_OK);
    AnalysisResult result;
    CBaseAnalysis::FillResult(u"http://demoweb.test/media/clip.mp4", u"<title> Clip </title>", result);
    EXPECT_EQ(result.url, u"http://demoweb.test/media/clip.mp4");
    EXPECT_EQ(result.length, 4096u);
    EXPECT_EQ(result.type, u"mp4");
    EXPECT_EQ(result.cookie, u"media=granted"); // set by the probe's answer
    EXPECT_EQ(result.title, u"Clip");
    EXPECT_TRUE(result.href.empty() && result.refer.empty() && result.icon.empty());
    EXPECT_THAT(m_server.WaitForRequest("/media/clip.mp4"), HasSubstr(std::string("User-Agent=\"") + agent + "\""));
}

TEST_F(FillResult, AnUnreachableLinkIsStillFilled)
{
    AnalysisResult result;
    result.length = 77;
    CBaseAnalysis::FillResult(u"bare-name.flv?token", u"", result);
    EXPECT_EQ(result.url, u"bare-name.flv?token");
    EXPECT_EQ(result.length, 0u);
    EXPECT_EQ(result.type, u"");
    EXPECT_EQ(result.title, u"");
}

}
