// LookupSiteId over addresses of the known services and others.
#include "SiteTable.h"

#include <gtest/gtest.h>

namespace {

TEST(SiteTable, LookupSiteIdTakesTheFirstRowWhoseDomainOccurs)
{
    const struct {
        const char16_t* url;
        int id;
    } cases[] = {
        { u"http://www.youtube.com/watch?v=abc", 0 },
        { u"http://WWW.YOUTUBE.COM/watch?v=abc", 0 },
        { u"http://vimeo.com/123456", 1 },
        { u"http://www.liveleak.com/view?i=abc_123", 2 },
        { u"http://www.metacafe.com/watch/1/title/", 3 },
        { u"http://www.myvideo.de/watch/7712345", 4 },
        { u"http://www.break.com/index/title.html", 5 },
        { u"http://example.org/share?u=http://vimeo.com/1", 1 }, // anywhere, also in the query
        { u"http://www.break.com/?from=youtube.com", 0 }, // the earlier row wins
        { u"http://example.org/video.flv", -1 },
        { u"", -1 },
    };
    for (const auto& test : cases) {
        const std::u16string url = test.url;
        EXPECT_EQ(LookupSiteId(url), test.id) << std::string(url.begin(), url.end());
    }
}

}
