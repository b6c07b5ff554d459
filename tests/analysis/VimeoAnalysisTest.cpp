// The Vimeo analyzer over demoweb: clip page, description document, play link and its redirects.
#include "VimeoAnalysis.h"

#include "AnalysisTestSupport.h"

#include <gtest/gtest.h>

namespace {

class Vimeo : public testing::Test {
protected:
    testing_support::DemowebServer m_server;
};

TEST_F(Vimeo, FollowsThePlayLinkToTheMedia)
{
    CVimeoAnalysis analysis;
    AnalysisResult result;
    ASSERT_EQ(analysis.AnalyzePage(u"http://vimeo.com/12345678", result), 1);
    EXPECT_EQ(result.url, u"http://av.vimeo.com/58921/742/27368213.flv?token=1278962400_9a3f");
    EXPECT_EQ(result.length, 524288u);
    EXPECT_EQ(result.type, u"flv");
    EXPECT_EQ(result.cookie, u"av=granted");
    EXPECT_EQ(result.title, u""); // from the description document, which has no title element
    EXPECT_FALSE(m_server.WaitForRequest("GET http://www.vimeo.com/moogaloop/load/clip:12345678 ").empty());
    EXPECT_FALSE(m_server
                     .WaitForRequest("/moogaloop/play/clip:12345678/7c1a9f2e48b3d05a6e9f1b2c3d4e5f60/1278962400/"
                                     "?q=sd&type=embed")
                     .empty());
}

TEST_F(Vimeo, ThePlayLinkIsBuiltFromWhateverTheDocumentHolds)
{
    const struct {
        const char16_t* page;
        const char* playLink;
        const char16_t* title;
    } cases[] = {
        { u"http://vimeo.com/777", "http://vimeo.com/moogaloop/play/clip:777///?q=sd&type=embed", u"Clip 777" },
        { u"http://vimeo.com/888", "http://vimeo.com/moogaloop/play/clip:888/abc/99/?q=sd&type=embed", u"" },
    };
    for (const auto& test : cases) {
        CVimeoAnalysis analysis;
        AnalysisResult result;
        EXPECT_EQ(analysis.AnalyzePage(test.page, result), 1) << Narrow(test.page);
        EXPECT_FALSE(m_server.WaitForRequest(test.playLink).empty()) << test.playLink;
        EXPECT_EQ(result.url, u"") << Narrow(test.page); // the play link did not redirect
        EXPECT_EQ(result.length, 0u) << Narrow(test.page);
        EXPECT_EQ(result.title, test.title) << Narrow(test.page);
    }
}

TEST_F(Vimeo, NoClipIdOrNoDescriptionIsNothing)
{
    // The pages without a clip id come first, so that the description request of clip 666 shows
    // that none was asked for before it.
    for (const char16_t* page : { u"http://vimeo.com/no-player", u"http://vimeo.com/no-underscore",
             u"http://vimeo.com/not-served-at-all", u"http://vimeo.com/666" }) {
        CVimeoAnalysis analysis;
        AnalysisResult result;
        EXPECT_EQ(analysis.AnalyzePage(page, result), 0) << Narrow(page);
    }
    ASSERT_FALSE(m_server.WaitForRequest("/moogaloop/load/clip:666").empty());
    int descriptions = 0;
    for (const std::string& line : m_server.Requests())
        descriptions += line.find("/moogaloop/load/") != std::string::npos;
    EXPECT_EQ(descriptions, 1);
}

TEST_F(Vimeo, AStoppedAnalysisFindsNothing)
{
    int found = -1;
    EXPECT_TRUE(RunThenStop(
        [&] {
            CVimeoAnalysis analysis;
            AnalysisResult result;
            found = analysis.AnalyzePage(u"http://vimeo.com/slow", result);
        },
        m_server, "vimeo.com/slow"));
    EXPECT_EQ(found, 0);
}

}
