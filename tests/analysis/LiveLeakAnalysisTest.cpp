// The LiveLeak analyzer over demoweb's view pages and their player configurations.
#include "LiveLeakAnalysis.h"

#include "AnalysisTestSupport.h"

#include <gmock/gmock.h>

namespace {

class LiveLeak : public testing::Test {
protected:
    testing_support::DemowebServer m_server;
};

TEST_F(LiveLeak, TheFirstFileUrlIsTheLink)
{
    const struct {
        const char16_t* page;
        int found;
        const char16_t* url;
        DWORD length;
        const char16_t* type;
    } cases[] = {
        { u"http://www.liveleak.com/view?i=a81_1278958800", 1,
            u"http://edge.liveleak.com/80281E/u/u/ll_a_s/2010/Jul/12/LiveLeak-dot-com-a81_1278958800.flv", 3145728,
            u"flv" },
        // The link's own escaped "&" is decoded before the split: only its first parameter stays.
        { u"http://www.liveleak.com/view?i=b22_1278958801", 1, u"http://edge.liveleak.com/clip.flv?rs=1", 4096,
            u"flv" },
        { u"http://www.liveleak.com/view?i=c33_1278958802", 1, u"file_url", 0, u"" }, // no "=": the name itself
        { u"http://www.liveleak.com/view?i=d44_1278958803", 0, u"", 0, u"" },
        { u"http://www.liveleak.com/view?i=e55_1278958804", 0, u"", 0, u"" },
    };
    for (const auto& test : cases) {
        CLiveLeakAnalysis analysis;
        AnalysisResult result;
        ASSERT_EQ(analysis.AnalyzePage(test.page, result), test.found) << Narrow(test.page);
        if (!test.found)
            continue;
        EXPECT_EQ(Narrow(result.url), Narrow(test.url)) << Narrow(test.page);
        EXPECT_EQ(result.length, test.length) << Narrow(test.page);
        EXPECT_EQ(result.type, test.type) << Narrow(test.page);
        EXPECT_THAT(Narrow(result.title), testing::StartsWith("LiveLeak.com - ")) << Narrow(test.page);
    }
}

}
