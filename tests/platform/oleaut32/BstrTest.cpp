#include <gtest/gtest.h>
#include <oleauto.h>

#include <cstring>

TEST(Bstr, HoldsLengthPrefixedTerminatedText)
{
    BSTR text = SysAllocString(u"h\u00e9llo");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(SysStringLen(text), 5u);
    EXPECT_EQ(SysStringByteLen(text), 10u);
    UINT prefix = 0;
    std::memcpy(&prefix, reinterpret_cast<char*>(text) - 4, 4);
    EXPECT_EQ(prefix, 10u);
    EXPECT_EQ(text[5], u'\0');
    EXPECT_EQ(std::u16string_view(text), u"h\u00e9llo");
    SysFreeString(text);
}

TEST(Bstr, KeepsEmbeddedNullsAndCountedLengths)
{
    BSTR text = SysAllocStringLen(u"a\0b", 3);
    EXPECT_EQ(SysStringLen(text), 3u);
    EXPECT_EQ(text[2], u'b');
    SysFreeString(text);

    BSTR blank = SysAllocStringLen(nullptr, 4);
    ASSERT_NE(blank, nullptr);
    EXPECT_EQ(SysStringLen(blank), 4u);
    EXPECT_EQ(blank[4], u'\0');
    SysFreeString(blank);

    // An odd byte count is kept exactly and still ends in a null character.
    BSTR bytes = SysAllocStringByteLen("abc", 3);
    EXPECT_EQ(SysStringByteLen(bytes), 3u);
    EXPECT_EQ(SysStringLen(bytes), 1u);
    EXPECT_EQ(std::memcmp(bytes, "abc\0", 5), 0);
    SysFreeString(bytes);
}

TEST(Bstr, NullIsEmptyAndFreeOfNullIsHarmless)
{
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysStringByteLen(nullptr), 0u);
    SysFreeString(nullptr);
    EXPECT_EQ(SysAllocStringLen(nullptr, 0x7FFFFFFF), nullptr);
}

TEST(Bstr, ReallocationReplacesEvenFromItsOwnText)
{
    BSTR text = SysAllocString(u"hello world");
    ASSERT_TRUE(SysReAllocString(&text, text + 6));
    EXPECT_EQ(std::u16string_view(text), u"world");
    ASSERT_TRUE(SysReAllocStringLen(&text, text, 3));
    EXPECT_EQ(SysStringLen(text), 3u);
    EXPECT_EQ(std::u16string_view(text), u"wor");
    EXPECT_FALSE(SysReAllocString(nullptr, u"x"));
    SysFreeString(text);
}
