// The Metacafe analyzer over demoweb's watch pages and their flash parameters.
#include "MetacafeAnalysis.h"

#include "AnalysisTestSupport.h"

#include <gtest/gtest.h>

namespace {

class Metacafe : public testing::Test {
protected:
    testing_support::DemowebServer m_server;
};

TEST_F(Metacafe, TheFirstMediaLinkWithItsKey)
{
    const struct {
        const char16_t* page;
        int found;
        const char16_t* url;
        DWORD length;
        const char16_t* type;
        const char16_t* title;
    } cases[] = {
        { u"http://www.metacafe.com/watch/4031227/night_train/", 1,
            u"http://v.mccont.com/ItemFiles/4031227.mp4?__gda__=ZT1lMjk5Yz", 2097152, u"mp4", u"Night Train - Video" },
        // A piece without a key gives nothing; in the next, the unterminated key is passed over and
        // the space in the link removed.
        { u"http://www.metacafe.com/watch/4031228/quirks/", 1,
            u"http://v.mccont.com/ItemFiles/4031228.flv?__gda__=kept", 1000, u"flv", u"Quirks - Video" },
        { u"http://www.metacafe.com/watch/4031229/empty_link/", 1, u"?__gda__=k3", 0, u"", u"Empty Link - Video" },
        { u"http://www.metacafe.com/watch/4031230/no_media/", 0, u"", 0, u"", u"" },
        { u"http://www.metacafe.com/watch/4031231/no_flashvars/", 0, u"", 0, u"", u"" },
        { u"http://www.metacafe.com/watch/cut/", 0, u"", 0, u"", u"" },
    };
    for (const auto& test : cases) {
        CMetacafeAnalysis analysis;
        AnalysisResult result;
        ASSERT_EQ(analysis.AnalyzePage(test.page, result), test.found) << Narrow(test.page);
        if (!test.found)
            continue;
        EXPECT_EQ(Narrow(result.url), Narrow(test.url)) << Narrow(test.page);
        EXPECT_EQ(result.length, test.length) << Narrow(test.page);
        EXPECT_EQ(result.type, test.type) << Narrow(test.page);
        EXPECT_EQ(Narrow(result.title), Narrow(test.title)) << Narrow(test.page);
    }
}

}
