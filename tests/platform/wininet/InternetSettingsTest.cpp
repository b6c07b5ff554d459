// Which proxy a request takes under the root's setting.
#include "InternetSettings.h"

#include <gmock/gmock.h>

namespace {

TEST(ProxyFor, PerSchemeEntriesAndTheBypassList)
{
    const platform::ProxySetting setting { true, "plain:8080;https=secure:3128", "<local>;*.intranet.example;10.*" };
    const struct {
        const char* scheme;
        const char* host;
        const char* proxy;
    } cases[] = {
        { "http", "www.youtube.com", "plain:8080" },
        { "https", "www.youtube.com", "secure:3128" },
        { "HTTPS", "vimeo.com", "secure:3128" },
        { "http", "printer", "" },
        { "http", "wiki.intranet.example", "" },
        { "http", "WIKI.Intranet.Example", "" },
        { "http", "intranet.example", "plain:8080" },
        { "http", "10.1.2.3", "" },
        { "http", "110.1.2.3", "plain:8080" },
    };
    for (const auto& test : cases)
        EXPECT_EQ(platform::ProxyFor(setting, test.scheme, test.host), test.proxy) << test.scheme << " " << test.host;

    EXPECT_EQ(platform::ProxyFor({ false, "plain:8080", "" }, "http", "a.example"), "");
    EXPECT_EQ(platform::ProxyFor({ true, "http://plain:8080", "" }, "http", "a.example"), "plain:8080");
    EXPECT_EQ(platform::ProxyFor({ true, "ftp=f:21", "" }, "http", "a.example"), "");
}

}
