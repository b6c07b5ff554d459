#include "windows.h"

#include <gtest/gtest.h>
#include <string>

TEST(LoadString, CopiesTruncatesOrPointsIntoTheTable)
{
    const HINSTANCE program = GetModuleHandleW(nullptr);
    struct Case {
        const char* name;
        UINT id;
        int count;
        int expected;
        std::u16string text;
    };
    const Case cases[] = {
        { "whole", 1, 100, 5, u"Hello" },
        { "exact fit", 1, 6, 5, u"Hello" },
        { "truncated", 1, 4, 3, u"Hel" },
        { "room for the terminator only", 1, 1, 0, u"" },
        { "escaped quotes", 2, 100, 22, u"Strings, with \"quotes\"" },
        { "second block", 17, 100, 10, u"next block" },
        { "no such id in a block", 3, 100, 0, u"" },
        { "no such block", 1000, 100, 0, u"" },
    };
    for (const Case& c : cases) {
        WCHAR buffer[100];
        std::fill(std::begin(buffer), std::end(buffer), u'#');
        EXPECT_EQ(LoadStringW(program, c.id, buffer, c.count), c.expected) << c.name;
        EXPECT_EQ(std::u16string(buffer), c.text) << c.name;
    }
    const WCHAR* inTable = nullptr;
    EXPECT_EQ(LoadStringW(program, 17, reinterpret_cast<LPWSTR>(&inTable), 0), 10);
    ASSERT_NE(inTable, nullptr);
    EXPECT_EQ(std::u16string(inTable, 10), u"next block") << "a count of 0 gives the table's own text";
    EXPECT_EQ(LoadStringW(program, 1, nullptr, 10), 0);
}
