// The YouTube stream-map analyzer: its decoding on tables of cases, and whole analyses of
// demoweb's watch pages.
#include "YouTubeAnalysis.h"

#include "AnalysisTestSupport.h"

#include <gmock/gmock.h>

using testing::HasSubstr;

namespace {

const std::u16string kMedia
    = u"http://v11.lscache2.c.youtube.com/videoplayback?sparams=id,expire,ip,ipbits,itag,algorithm,"
      u"burst,factor&fexp=904410&algorithm=throttle-factor&itag=";
const std::u16string kMediaTail = u"&ipbits=0&burst=40&sver=3&expire=1294016400&key=yt1&signature=8E3D1A2B.4C5D6E7F&"
                                  u"factor=1.25&id=2b9e4c5c1a3d1f0a";

TEST(YouTube, SplitAllKeepsEmptyPieces)
{
    const struct {
        const char16_t* text;
        std::vector<std::u16string> pieces;
    } cases[] = {
        { u"a,,b,", { u"a", u"", u"b", u"" } },
        { u",a", { u"", u"a" } },
        { u"a", { u"a" } },
        { u"", {} },
    };
    for (const auto& test : cases) {
        std::vector<std::u16string> pieces { u"kept" };
        SplitAll(test.text, u",", pieces);
        pieces.erase(pieces.begin());
        EXPECT_EQ(pieces, test.pieces) << Narrow(test.text);
    }
}

TEST(YouTube, CleanStreamUrl)
{
    const struct {
        const char16_t* piece;
        const char16_t* entry;
    } cases[] = {
        { u"url=http%253A%252F%252Fv1.c.youtube.com%252Fvideoplayback%253Fitag%253D18",
            u"http://v1.c.youtube.com/videoplayback?itag=18" },
        { u"http%3A%2F%2Fa%2Fvideoplayback%3Fitag%3D5\\u0026quality=small",
            u"http://a/videoplayback?itag=5&quality=small" },
        { u"http%25253A%2F%2Fa", u"http://a" }, // escaped over and over
        { u"http://a/videoplayback?itag=18", u"" }, // nothing to decode: the text and its end do not fit
        { u"x%41url=", u"xAurl=" }, // nothing after "url=": the whole piece is decoded
    };
    for (const auto& test : cases)
        EXPECT_EQ(Narrow(CleanStreamUrl(test.piece)), Narrow(test.entry)) << Narrow(test.piece);
}

TEST(YouTube, ParseStreamMapEdges)
{
    EXPECT_TRUE(ParseStreamMap(u"<html>no map here</html>").empty());
    // The map ends at the first ">" after its key; what follows is no stream.
    const auto streams
        = ParseStreamMap(u"url_encoded_fmt_stream_map=url%3Dhttp%253A%252F%252Fa%252Fvideoplayback%253F"
                         u"itag%253D35%26quality%3Dlarge>url%3Dhttp%253A%252F%252Fb%252Fvideoplayback%253Fitag%253D18");
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].url, u"http://a/videoplayback?itag=35");
    EXPECT_EQ(streams[0].rank, 1);
    EXPECT_EQ(streams[0].quality, 480);
    EXPECT_EQ(streams[0].type, u"FLV");
    EXPECT_TRUE(streams[0].cookie.empty());
}

class YouTubePage : public testing::Test {
protected:
    testing_support::DemowebServer m_server;
};

TEST_F(YouTubePage, StreamsInPageOrderWithThePageCookie)
{
    const auto streams = AnalyzeYouTube(u"http://www.youtube.com/watch?v=two-streams");
    ASSERT_EQ(streams.size(), 2u);
    const struct {
        const char16_t* itag;
        const char16_t* type;
        int quality;
        int rank;
    } expected[] = { { u"34", u"FLV", 360, 2 }, { u"18", u"MP4", 480, 0 } };
    for (size_t i = 0; i < streams.size(); ++i) {
        EXPECT_EQ(Narrow(streams[i].url), Narrow(kMedia + expected[i].itag + kMediaTail)) << i;
        EXPECT_EQ(streams[i].type, expected[i].type) << i;
        EXPECT_EQ(streams[i].quality, expected[i].quality) << i;
        EXPECT_EQ(streams[i].rank, expected[i].rank) << i;
        EXPECT_THAT(Narrow(streams[i].cookie), HasSubstr("VISITOR_INFO1_LIVE=kP3xQ7Zt2Ys")) << i;
        EXPECT_THAT(Narrow(streams[i].cookie), HasSubstr("PREF=f1=50000000")) << i;
    }
    EXPECT_THAT(
        m_server.WaitForRequest("/watch?v=two-streams"), HasSubstr("User-Agent=\"ReelscanApp\" Accept=\"*/*\""));
}

TEST_F(YouTubePage, OddEntriesAreDroppedOneByOne)
{
    // itag 43 (quiet), 100 (unknown) and letters (0) are dropped; the 22 without "&quality=" keeps
    // its whole text, trailing parameters included; the entry without a media address is skipped; the 5 is kept.
    const auto streams = AnalyzeYouTube(u"http://www.youtube.com/watch?v=odd-entries");
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(Narrow(streams[0].url),
        Narrow(kMedia + u"22" + kMediaTail + u"&fallback_host=tc.v11.cache2.c.youtube.com&type=video/mp4&itag=22,"));
    EXPECT_EQ(streams[0].rank, 3);
    EXPECT_EQ(Narrow(streams[1].url), Narrow(kMedia + u"5" + kMediaTail));
    EXPECT_EQ(streams[1].rank, 6);
    EXPECT_TRUE(streams[0].cookie.empty() && streams[1].cookie.empty()); // the page sets none
}

TEST_F(YouTubePage, NothingFromAFailedOrMaplessPage)
{
    for (const char16_t* url : { u"http://www.youtube.com/watch?v=no-map", u"http://www.youtube.com/watch?v=cut" })
        EXPECT_TRUE(AnalyzeYouTube(url).empty()) << Narrow(url);
}

TEST_F(YouTubePage, AStoppedAnalysisEndsWithNothing)
{
    std::vector<StreamInfo> streams(1);
    EXPECT_TRUE(RunThenStop(
        [&] { streams = AnalyzeYouTube(u"http://www.youtube.com/watch?v=slow"); }, m_server, "/watch?v=slow"));
    EXPECT_TRUE(streams.empty());
}

}
