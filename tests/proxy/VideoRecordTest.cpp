#include "VideoRecord.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <vector>

namespace {

std::vector<unsigned char> Block(const std::string& text, DWORD count)
{
    std::vector<unsigned char> block(4 + text.size());
    for (int i = 0; i < 4; ++i)
        block[i] = static_cast<unsigned char>(count >> (8 * i));
    std::copy(text.begin(), text.end(), block.begin() + 4);
    return block;
}

std::optional<ReceivedVideo> Decode(std::vector<unsigned char> block)
{
    COPYDATASTRUCT data { 0, static_cast<DWORD>(block.size()), block.data() };
    return DecodeVideoRecord(data);
}

}

TEST(VideoRecord, ValidRecordGivesEveryField)
{
    const std::optional<ReceivedVideo> video = Decode(Block("T\rI\rC\rH\rU\rflv\r1234", 18));
    ASSERT_TRUE(video);
    EXPECT_EQ(video->title, u"T");
    EXPECT_EQ(video->icon, u"I");
    EXPECT_EQ(video->cookie, u"C");
    EXPECT_EQ(video->href, u"H");
    EXPECT_EQ(video->url, u"U");
    EXPECT_EQ(video->type, u"flv");
    EXPECT_EQ(video->length, 1234);
}

// The valid record above, changed one way at a time.
TEST(VideoRecord, MutationsOfTheText)
{
    struct Case {
        const char* name;
        std::string text;
        ReceivedVideo expected;
    };
    const Case cases[] = {
        { "CR inside the title", "A\rB\rI\rC\rH\rU\rflv\r1", { u"A\rB", u"flv", 1, u"U", u"H", u"C", u"I" } },
        { "empty title", "\rI\rC\rH\rU\rflv\r1", { u"", u"flv", 1, u"U", u"H", u"C", u"I" } },
        { "empty fields", "T\r\r\r\r\r\r0", { u"T", u"", 0, u"", u"", u"", u"" } },
        { "negative length", "T\rI\rC\rH\rU\rflv\r-5", { u"T", u"flv", -5, u"U", u"H", u"C", u"I" } },
        { "length not a number", "T\rI\rC\rH\rU\rflv\rbig", { u"T", u"flv", 0, u"U", u"H", u"C", u"I" } },
        { "length with blanks, sign and tail", "T\rI\rC\rH\rU\rflv\r  +12kB",
            { u"T", u"flv", 12, u"U", u"H", u"C", u"I" } },
        { "length beyond 32 bits", "T\rI\rC\rH\rU\rflv\r99999999999",
            { u"T", u"flv", 2147483647, u"U", u"H", u"C", u"I" } },
        { "length below 32 bits", "T\rI\rC\rH\rU\rflv\r-99999999999",
            { u"T", u"flv", -2147483647 - 1, u"U", u"H", u"C", u"I" } },
        { "CR in the url shifts the fields before it", "T\rI\rC\rH\rU1\rU2\rflv\r7",
            { u"T\rI", u"flv", 7, u"U2", u"U1", u"H", u"C" } },
        { "three fields", "U\rflv\r9", { u"U", u"flv", 9, u"", u"", u"", u"" } },
        { "no CR at all", "only a title", { u"only a title", u"", 0, u"", u"", u"", u"" } },
        { "empty text", "", { u"", u"", 0, u"", u"", u"", u"" } },
        { "ANSI text of code page 1252", "caf\xe9\rI\rC\rH\rU\rflv\r1",
            { u"caf\u00e9", u"flv", 1, u"U", u"H", u"C", u"I" } },
    };
    for (const Case& test : cases) {
        const std::optional<ReceivedVideo> video = Decode(Block(test.text, static_cast<DWORD>(test.text.size())));
        ASSERT_TRUE(video) << test.name;
        EXPECT_EQ(video->title, test.expected.title) << test.name;
        EXPECT_EQ(video->icon, test.expected.icon) << test.name;
        EXPECT_EQ(video->cookie, test.expected.cookie) << test.name;
        EXPECT_EQ(video->href, test.expected.href) << test.name;
        EXPECT_EQ(video->url, test.expected.url) << test.name;
        EXPECT_EQ(video->type, test.expected.type) << test.name;
        EXPECT_EQ(video->length, test.expected.length) << test.name;
    }
}

// The count, not the size of the message, bounds the text; a count beyond the data is rejected.
TEST(VideoRecord, MutationsOfTheCount)
{
    const std::string text = "T\rI\rC\rH\rU\rflv\r1234";
    EXPECT_FALSE(Decode(Block(text, 19))) << "count one beyond the data";
    EXPECT_FALSE(Decode(Block(text, 0xFFFFFFFF))) << "count near 4 GiB";
    const std::optional<ReceivedVideo> shorter = Decode(Block(text, 16));
    ASSERT_TRUE(shorter) << "count short of the data";
    EXPECT_EQ(shorter->length, 12);
    EXPECT_FALSE(Decode({ 0, 0, 0 })) << "message shorter than the count";
    EXPECT_TRUE(Decode({ 0, 0, 0, 0 })) << "count 0 and no text";
    COPYDATASTRUCT noData { 0, 24, nullptr };
    EXPECT_FALSE(DecodeVideoRecord(noData)) << "no data block";
}
