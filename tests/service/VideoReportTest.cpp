// The wire form of VideoRecord: one valid block, then a table of field variations.
#include "VideoReport.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Text(const std::vector<BYTE>& block)
{
    return std::string(block.begin() + 4, block.end());
}

DWORD Count(const std::vector<BYTE>& block)
{
    return static_cast<DWORD>(block[0]) | static_cast<DWORD>(block[1]) << 8 | static_cast<DWORD>(block[2]) << 16
        | static_cast<DWORD>(block[3]) << 24;
}

}

TEST(VideoRecord, CountThenSevenFieldsJoinedByCarriageReturns)
{
    const VideoReport report { u"Clip", u"", u"C", u"H", u"U", u"flv", 1234 };
    const std::vector<BYTE> block = BuildVideoRecord(report);
    ASSERT_EQ(block.size(), 24u);
    EXPECT_EQ(block[0], 0x14);
    EXPECT_EQ(block[1], 0x00);
    EXPECT_EQ(block[2], 0x00);
    EXPECT_EQ(block[3], 0x00);
    EXPECT_EQ(Text(block), std::string("Clip\r\rC\rH\rU\rflv\r1234"));
}

TEST(VideoRecord, FieldVariations)
{
    struct Case {
        const char* name;
        VideoReport report;
        std::string text; // in the machine's default code page, 1252
    };
    const Case cases[] = {
        { "length 0", { u"T", u"I", u"C", u"H", u"U", u"mp4", 0 }, "T\rI\rC\rH\rU\rmp4\r0" },
        { "length -1", { u"T", u"I", u"C", u"H", u"U", u"mp4", -1 }, "T\rI\rC\rH\rU\rmp4\r-1" },
        { "largest length", { u"", u"", u"", u"", u"", u"", 2147483647 }, "\r\r\r\r\r\r2147483647" },
        { "all empty", { u"", u"", u"", u"", u"", u"", 20971520 }, "\r\r\r\r\r\r20971520" },
        { "carriage return kept", { u"A\rB", u"", u"", u"", u"U", u"flv", 5 }, "A\rB\r\r\r\rU\rflv\r5" },
        { "code page 1252 letter", { u"Caf\u00E9", u"", u"", u"", u"", u"", 1 }, "Caf\xE9\r\r\r\r\r\r1" },
        { "outside the code page", { u"\u4E2D\u6587 clip", u"", u"", u"", u"", u"", 1 }, "?? clip\r\r\r\r\r\r1" },
    };
    for (const Case& c : cases) {
        const std::vector<BYTE> block = BuildVideoRecord(c.report);
        ASSERT_GE(block.size(), 4u) << c.name;
        EXPECT_EQ(Text(block), c.text) << c.name;
        EXPECT_EQ(Count(block), block.size() - 4) << c.name;
    }
}
