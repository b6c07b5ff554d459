// The URL and HTTP helpers: the text functions on tables of cases, the WinINet ones against demoweb.
#include "HttpHelpers.h"

#include "DemowebServer.h"
#include "wininet.h"

#include <gmock/gmock.h>

using testing::ElementsAreArray;
using testing::HasSubstr;
using testing::Not;

namespace {

std::string Narrow(const std::u16string& text)
{
    return std::string(text.begin(), text.end());
}

TEST(GetSiteIconUrl, KeepsSchemeAndHost)
{
    const struct {
        const char16_t* page;
        const char16_t* icon;
    } cases[] = {
        { u"http://www.youtube.com/watch?v=abc&feature=x", u"http://www.youtube.com/favicon.ico" },
        { u"http://vimeo.com/", u"http://vimeo.com/favicon.ico" },
        { u"http://vimeo.com", u"http://vimeo.com/favicon.ico" },
        { u"http://www.metacafe.com/?page=2", u"http://www.metacafe.com/?page=2/favicon.ico" },
        { u"http://user:pw@host.example:8080/a/b.html#top", u"http://user:pw@host.example:8080/favicon.ico" },
        { u"http://a.example/a", u"http://a.example/favicon.ico" }, // the path also occurs in the host
        { u"not a url/", u"not a url/favicon.ico" },
    };
    for (const auto& test : cases) {
        WCHAR page[1024] = {};
        WCHAR icon[1024] = {};
        lstrcpynW(page, test.page, 1024);
        EXPECT_EQ(GetSiteIconUrl(page, icon), 1) << Narrow(test.page);
        EXPECT_EQ(std::u16string(icon), test.icon) << Narrow(test.page);
    }
    WCHAR icon[1024];
    EXPECT_EQ(GetSiteIconUrl(nullptr, icon), 0);
}

TEST(GetSiteIconUrl, ALongQueryNeverGivesATruncatedAddress)
{
    std::u16string page = u"http://host.example/page?" + std::u16string(990, u'q');
    WCHAR buffer[1024] = {};
    WCHAR icon[1024] = {};
    lstrcpynW(buffer, page.c_str(), 1024);
    ASSERT_EQ(GetSiteIconUrl(buffer, icon), 1);
    EXPECT_EQ(std::u16string(icon), u"http://host.example/favicon.ico");
}

TEST(GetUrlVideoExtension, LooksAtTheLastDotOfThePathOnly)
{
    const struct {
        const char* url;
        const char* extension; // nullptr: none
    } cases[] = {
        { "http://cdn.example/v/clip.FLV", "flv" },
        { "http://cdn.example/v/clip.mp4?start=1", "mp4" },
        { "http://cdn.example/v/clip.flvx", "flv" },
        { "http://cdn.example/v/clip.f4v", "f4v" },
        { "http://cdn.example/v/a.mp4/b.m4v", "m4v" },
        { "http://cdn.example/v/clip.hlv", "hlv" },
        { "http://cdn.example/v/clip.avi", nullptr },
        { "http://cdn.example/v/clip", nullptr },
        { "http://cdn.mp4.example/v/clip", nullptr },
        { "http://cdn.example/get?file=a.mp4", nullptr },
        { "not a url", nullptr },
    };
    for (const auto& test : cases) {
        char extension[4] = "xyz"; // left alone when there is none
        EXPECT_EQ(GetUrlVideoExtension(test.url, extension), test.extension ? 1 : 0) << test.url;
        EXPECT_STREQ(extension, test.extension ? test.extension : "xyz") << test.url;
    }
}

TEST(SplitString, DropsLeadingAndDoubledDelimitersButNotATrailingOne)
{
    const struct {
        const char16_t* text;
        const char16_t* delimiter;
        std::vector<std::u16string> tokens;
    } cases[] = {
        { u"a&&b&", u"&", { u"a", u"b", u"" } },
        { u"&a", u"&", { u"a" } },
        { u"", u"&", {} },
        { u"one", u",", { u"one" } },
        { u"x::y::", u"::", { u"x", u"y", u"" } },
    };
    for (const auto& test : cases) {
        std::vector<std::u16string> tokens { u"kept" };
        SplitString(test.text, test.delimiter, tokens);
        std::vector<std::u16string> expected { u"kept" };
        expected.insert(expected.end(), test.tokens.begin(), test.tokens.end());
        EXPECT_THAT(tokens, ElementsAreArray(expected)) << Narrow(test.text);
    }
}

TEST(TextCleaning, CompactsInPlace)
{
    WCHAR lines[] = u"\r\na\rb\nc\r\n";
    EXPECT_EQ(StripLineBreaks(lines), lines);
    EXPECT_EQ(std::u16string(lines), u"abc");
    WCHAR quoted[] = u"\"a\"b\"";
    EXPECT_EQ(std::u16string(RemoveChar(quoted, u'"')), u"ab");
    WCHAR slashes[] = u"a\\/b\\/c";
    EXPECT_EQ(std::u16string(ReplaceChar(slashes, u'\\', u' ')), u"a /b /c");
}

TEST(LookupMimeExtension, FirstRowContainedInTheTypeWins)
{
    const struct {
        const char16_t* type;
        const char16_t* extension; // nullptr: no row
    } cases[] = {
        { u"flv-application/octet-stream", u"flv" },
        { u"video/mp4; codecs=x", u"mp4" },
        { u"VIDEO/MP4", nullptr },
        { u"video/f4v", u"f4v" },
        { u"video/x-msvideo", u"flv" },
        { u"video/m4v", u"m4v" },
        { u"text/html", nullptr },
    };
    for (const auto& test : cases) {
        WCHAR extension[20] = u"unset";
        EXPECT_EQ(LookupMimeExtension(test.type, extension), test.extension ? 1 : 0) << Narrow(test.type);
        EXPECT_EQ(std::u16string(extension), test.extension ? test.extension : u"unset") << Narrow(test.type);
    }
}

class HttpHelpersWeb : public testing::Test {
protected:
    TempVideoInfo Probe(const char16_t* playUrl)
    {
        TempVideoInfo info;
        info.url = u"http://caller.test/unchanged";
        EXPECT_EQ(GetTempVideoInfo(playUrl, u"Agent/7", &info), 1) << Narrow(playUrl);
        return info;
    }

    testing_support::DemowebServer m_server;
};

TEST_F(HttpHelpersWeb, GetUrlCookieReturnsTheJarsTextForTheUrl)
{
    std::u16string cookie = u"stale";
    GetUrlCookie(u"http://demoweb.test/media/clip.mp4", cookie);
    EXPECT_EQ(cookie, u"");
    GetUrlCookie(nullptr, cookie);
    EXPECT_EQ(cookie, u"");
    ASSERT_TRUE(InternetSetCookieW(u"http://demoweb.test/media/", nullptr, u"a=1; path=/media"));
    GetUrlCookie(u"http://demoweb.test/media/clip.mp4", cookie);
    EXPECT_EQ(cookie, u"a=1");
}

TEST_F(HttpHelpersWeb, A301IsFollowedOnceWithTheCallersAgent)
{
    const TempVideoInfo info = Probe(u"https://demoweb.test/play/moved");
    EXPECT_EQ(info.url, u"http://demoweb.test/media/clip.mp4");
    EXPECT_EQ(info.type, u"mp4");
    EXPECT_EQ(info.length, 4096u);
    EXPECT_EQ(info.cookie, u"media=granted");
    // Plain http on port 80 although the play URL said https, and the second request carries the agent.
    EXPECT_THAT(m_server.WaitForRequest("/play/moved"),
        HasSubstr("GET http://demoweb.test/play/moved User-Agent=\"GetTempVideoInfo_0.000\""));
    EXPECT_THAT(m_server.WaitForRequest("/play/second"), HasSubstr("User-Agent=\"Agent/7\""));
    for (const auto& request : m_server.Requests())
        EXPECT_THAT(request, Not(HasSubstr("CONNECT"))) << request;
}

TEST_F(HttpHelpersWeb, A302GivesItsLocationWithoutASecondRequest)
{
    const TempVideoInfo info = Probe(u"http://demoweb.test/play/found");
    EXPECT_EQ(info.url, u"http://demoweb.test/media/chunked.flv");
    EXPECT_EQ(info.type, u"flv");
    EXPECT_EQ(info.length, 0u); // chunked: no Content-Length
    EXPECT_EQ(info.cookie, u"");
    // The media request comes after any second play request would have.
    EXPECT_FALSE(m_server.WaitForRequest("/media/chunked.flv").empty());
    EXPECT_EQ(m_server.WaitForRequest("/play/second", std::chrono::milliseconds(0)), "");
}

TEST_F(HttpHelpersWeb, NoLocationLeavesTheCallersUrl)
{
    const TempVideoInfo info = Probe(u"http://demoweb.test/play/none");
    EXPECT_EQ(info.url, u"http://caller.test/unchanged");
    EXPECT_EQ(info.type, u"");
    TempVideoInfo relative;
    EXPECT_EQ(GetTempVideoInfo(u"http://demoweb.test/play/moved-relative", u"Agent/7", &relative), 0);
    EXPECT_EQ(GetTempVideoInfo(nullptr, u"Agent/7", &relative), 0);
}

}
