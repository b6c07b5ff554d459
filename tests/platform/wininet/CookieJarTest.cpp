// The process's cookie jar: RFC 6265 storage and matching, and InternetGetCookieW's size rules.
#include "CookieJar.h"
#include "wininet.h"

#include "errhandlingapi.h"

#include <gmock/gmock.h>

using platform::CookieAccess;
using platform::CookieJar;

namespace {

std::string Header(const std::string& scheme, const std::string& host, const std::string& path,
    CookieAccess access = CookieAccess::Http)
{
    return CookieJar::Process().CookieHeader(scheme, host, path, access);
}

class CookieJarTest : public testing::Test {
protected:
    void SetUp() override
    {
        CookieJar::Process().Clear();
    }
    void Store(const std::string& host, const std::string& path, const std::string& setCookie)
    {
        EXPECT_TRUE(CookieJar::Process().Store("http", host, path, setCookie, CookieAccess::Http)) << setCookie;
    }
};

TEST_F(CookieJarTest, MatchesDomainPathAndSecurity)
{
    Store("www.example.com", "/account/login", "host=1");
    Store("www.example.com", "/", "wide=2; Domain=.Example.COM");
    Store("www.example.com", "/", "deep=3; Path=/account");
    Store("www.example.com", "/", "safe=4; Secure");
    const struct {
        const char* scheme;
        const char* host;
        const char* path;
        const char* expected;
    } cases[] = {
        { "http", "www.example.com", "/account/login", "host=1; deep=3; wide=2" },
        { "http", "www.example.com", "/accounting", "wide=2" },
        { "http", "www.example.com", "/account", "host=1; deep=3; wide=2" },
        { "http", "WWW.EXAMPLE.COM", "/", "wide=2" },
        { "https", "www.example.com", "/", "wide=2; safe=4" },
        { "http", "sub.example.com", "/account/x", "wide=2" },
        { "http", "example.com", "/", "wide=2" },
        { "http", "badexample.com", "/", "" },
        { "http", "other.test", "/", "" },
    };
    for (const auto& test : cases)
        EXPECT_EQ(Header(test.scheme, test.host, test.path), test.expected)
            << test.scheme << "://" << test.host << test.path;
}

TEST_F(CookieJarTest, RefusesCookiesForOtherSitesAndMalformedOnes)
{
    const char* refused[] = {
        "a=1; Domain=other.test",
        "a=1; Domain=com",
        "novalue",
        "=1",
    };
    for (const char* setCookie : refused)
        EXPECT_FALSE(CookieJar::Process().Store("http", "www.example.com", "/", setCookie, CookieAccess::Http))
            << setCookie;
    EXPECT_EQ(Header("http", "www.example.com", "/"), "");
}

TEST_F(CookieJarTest, ExpiryReplacesAndDeletes)
{
    Store("example.com", "/", "a=1");
    Store("example.com", "/", "a=2");
    EXPECT_EQ(Header("http", "example.com", "/"), "a=2");
    Store("example.com", "/", "a=3; Expires=Thu, 01 Jan 1970 00:00:00 GMT");
    EXPECT_EQ(Header("http", "example.com", "/"), "");
    Store("example.com", "/", "b=1; Max-Age=0; Expires=Fri, 01 Jan 2100 00:00:00 GMT");
    EXPECT_EQ(Header("http", "example.com", "/"), ""); // Max-Age wins over Expires
    Store("example.com", "/", "c=1; Expires=Fri, 01-Jan-2100 00:00:00 GMT");
    EXPECT_EQ(Header("http", "example.com", "/"), "c=1");
}

TEST_F(CookieJarTest, ParsesTheDateFormsSitesSend)
{
    const struct {
        const char* text;
        std::int64_t seconds;
    } cases[] = {
        { "Sun, 06 Nov 1994 08:49:37 GMT", 784111777 },
        { "Sunday, 06-Nov-94 08:49:37 GMT", 784111777 },
        { "Sun Nov  6 08:49:37 1994", 784111777 },
        { "Thu, 01 Jan 1970 00:00:00 GMT", 0 },
    };
    for (const auto& test : cases) {
        const auto date = CookieJar::ParseDate(test.text);
        ASSERT_TRUE(date.has_value()) << test.text;
        EXPECT_EQ(std::chrono::duration_cast<std::chrono::seconds>(date->time_since_epoch()).count(), test.seconds)
            << test.text;
    }
    EXPECT_FALSE(CookieJar::ParseDate("not a date").has_value());
    EXPECT_FALSE(CookieJar::ParseDate("Sun, 32 Nov 1994 08:49:37 GMT").has_value());
}

TEST_F(CookieJarTest, HttpOnlyCookiesStayAwayFromScripts)
{
    Store("example.com", "/", "secret=1; HttpOnly");
    Store("example.com", "/", "open=2");
    EXPECT_EQ(Header("http", "example.com", "/"), "secret=1; open=2");
    EXPECT_EQ(Header("http", "example.com", "/", CookieAccess::Script), "open=2");

    EXPECT_FALSE(InternetSetCookieW(u"http://example.com/", nullptr, u"secret=overwritten"));
    EXPECT_FALSE(InternetSetCookieW(u"http://example.com/", nullptr, u"new=1; HttpOnly"));
    EXPECT_EQ(Header("http", "example.com", "/"), "secret=1; open=2");
}

TEST_F(CookieJarTest, InternetGetCookieFollowsWinInetsSizeRules)
{
    DWORD size = 0;
    EXPECT_FALSE(InternetGetCookieW(u"http://example.com/", nullptr, nullptr, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));

    ASSERT_TRUE(InternetSetCookieW(u"http://example.com/path", u"name", u"value; path=/"));
    ASSERT_TRUE(InternetSetCookieW(u"http://example.com/", nullptr, u"other=x"));
    const std::u16string expected = u"name=value; other=x";
    ASSERT_TRUE(InternetGetCookieW(u"http://example.com/page", nullptr, nullptr, &size));
    EXPECT_EQ(size, (expected.size() + 1) * sizeof(WCHAR)); // a size query answers in bytes

    WCHAR small[4] = {};
    DWORD smallSize = 4;
    EXPECT_FALSE(InternetGetCookieW(u"http://example.com/page", nullptr, small, &smallSize));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

    std::u16string buffer(size / sizeof(WCHAR), u'\0');
    DWORD length = static_cast<DWORD>(buffer.size());
    ASSERT_TRUE(InternetGetCookieW(u"http://example.com/page", nullptr, buffer.data(), &length));
    EXPECT_EQ(std::u16string(buffer.c_str()), expected);
    EXPECT_EQ(length, expected.size());

    EXPECT_FALSE(InternetGetCookieW(nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

}
