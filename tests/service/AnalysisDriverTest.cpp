// The choice of the YouTube stream to report.
#include "AnalysisDriver.h"

#include <gtest/gtest.h>

#include <vector>

TEST(AnalysisDriver, ChoosesTheLowestRankAndTheEarliestAmongEquals)
{
    struct Case {
        const char* name;
        std::vector<int> ranks;
        int chosen; // index, -1 for none
    };
    const Case cases[] = {
        { "empty list", {}, -1 },
        { "one stream", { 7 }, 0 },
        { "ranks 2, 0, 0", { 2, 0, 0 }, 1 },
        { "first is best", { 0, 3, 0 }, 0 },
        { "last is best", { 5, 4, 3 }, 2 },
        { "all equal", { 4, 4, 4 }, 0 },
    };
    for (const Case& c : cases) {
        std::vector<StreamInfo> streams;
        for (int rank : c.ranks) {
            StreamInfo stream;
            stream.rank = rank;
            streams.push_back(stream);
        }
        const StreamInfo* chosen = ChooseStream(streams);
        if (c.chosen < 0)
            EXPECT_EQ(chosen, nullptr) << c.name;
        else
            EXPECT_EQ(chosen, &streams[static_cast<size_t>(c.chosen)]) << c.name;
    }
}
