// The MyVideo and Break analyzers over demoweb's pages.
#include "PlayerAnalysis.h"

#include "AnalysisTestSupport.h"

#include <gtest/gtest.h>

namespace {

struct PlayerCase {
    const char16_t* page;
    int found;
    const char16_t* url;
    DWORD length;
    const char16_t* type;
    const char16_t* title;
};

template <typename Analysis> void RunCases(const std::vector<PlayerCase>& cases)
{
    for (const auto& test : cases) {
        Analysis analysis;
        AnalysisResult result;
        ASSERT_EQ(analysis.AnalyzePage(test.page, result), test.found) << Narrow(test.page);
        EXPECT_EQ(analysis.Analyze(u"anything", result, 0, 0), 0);
        if (!test.found)
            continue;
        EXPECT_EQ(Narrow(result.url), Narrow(test.url)) << Narrow(test.page);
        EXPECT_EQ(result.length, test.length) << Narrow(test.page);
        EXPECT_EQ(result.type, test.type) << Narrow(test.page);
        EXPECT_EQ(Narrow(result.title), Narrow(test.title)) << Narrow(test.page);
    }
}

class PlayerAnalysis : public testing::Test {
protected:
    testing_support::DemowebServer m_server;
};

TEST_F(PlayerAnalysis, MyVideoTakesTheFileBesideThePreviewPicture)
{
    RunCases<CMyVideoAnalysis>({
        { u"http://www.myvideo.de/watch/7712345/Sommer_am_See", 1, u"http://img3.myvideo.de/de/movie12/4a/7712345.flv",
            1572864, u"flv", u"Sommer am See - MyVideo" },
        // Without "_" the whole address, picture extension included, gets ".flv"; the server has no such
        // file, and the type comes from the link.
        { u"http://www.myvideo.de/watch/7712346/Kein_Strich", 1,
            u"http://img3.myvideo.de/de/movie12/4a/7712346.jpg.flv", 0, u"flv", u"Kein Strich - MyVideo" },
        { u"http://www.myvideo.de/watch/7712347/Leer", 0, u"", 0, u"", u"" },
        { u"http://www.myvideo.de/watch/7712348/Ohne_Bild", 0, u"", 0, u"", u"" },
    });
}

TEST_F(PlayerAnalysis, BreakJoinsFileNameAndToken)
{
    RunCases<CBreakAnalysis>({
        { u"http://www.break.com/index/skateboard-fail.html", 1,
            u"http://media1.break.com/dnet/media/2010/7/skateboard-fail.flv?a1b2c3d4e5f6", 2621440, u"flv",
            u"Skateboard Fail | Break.com" },
        // A bare name is no address: the probe gets no answer and the link is still reported.
        { u"http://www.break.com/index/bare-name.html", 1, u"skateboard-fail.flv?a1b2c3d4e5f6", 0, u"",
            u"Bare Name | Break.com" },
        { u"http://www.break.com/index/only-name.html", 0, u"", 0, u"", u"" },
        { u"http://www.break.com/index/only-token.html", 0, u"", 0, u"", u"" },
    });
}

TEST_F(PlayerAnalysis, AStoppedAnalysisFindsNothing)
{
    int found = -1;
    EXPECT_TRUE(RunThenStop(
        [&] {
            CBreakAnalysis analysis;
            AnalysisResult result;
            found = analysis.AnalyzePage(u"http://www.break.com/index/slow.html", result);
        },
        m_server, "/index/slow.html"));
    EXPECT_EQ(found, 0);
}

}
