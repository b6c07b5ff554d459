#include "winuser.h"

#include <gtest/gtest.h>
#include <string>

namespace {

template <typename... Args> std::u16string Format(const char16_t* format, Args... args)
{
    WCHAR buffer[1100];
    const int length = wsprintfW(buffer, format, args...);
    EXPECT_EQ(length, static_cast<int>(std::u16string(buffer).size())) << "the count leaves out the terminator";
    return buffer;
}

std::string Narrow(const std::u16string& text)
{
    return std::string(text.begin(), text.end());
}

}

TEST(Format, FormatsWhatWindowsCodeWrites)
{
    struct Case {
        std::u16string actual;
        std::u16string expected;
    } cases[] = {
        { Format(u"%d|%i|%u", -42, 7, 4000000000u), u"-42|7|4000000000" },
        { Format(u"%ld|%lu|%lx", -5, 5u, 0xBEEFu), u"-5|5|beef" },
        { Format(u"%x|%X|%#x|%08X", 255, 255, 255, 0xABCu), u"ff|FF|0xff|00000ABC" },
        { Format(u"[%5d][%-5d][%05d][%.3d]", 42, 42, -42, 7), u"[   42][42   ][-0042][007]" },
        { Format(u"%s, %ls, %ws", u"wide", u"also", u"too"), u"wide, also, too" },
        { Format(u"%S|%hs", "narrow", "short"), u"narrow|short" },
        { Format(u"[%6s][%-6s][%.2s]", u"ab", u"ab", u"abcdef"), u"[    ab][ab    ][ab]" },
        { Format(u"%c%c%C", u'o', u'\u00e9', 'k'), u"o\u00e9k" },
        { Format(u"100%% %q"), u"100% q" },
        { Format(u"%s", static_cast<const char16_t*>(nullptr)), u"(null)" },
        { Format(u"%I64d|%I64u", -9000000000LL, 18000000000ULL), u"-9000000000|18000000000" },
        { Format(u"%p", reinterpret_cast<void*>(0x1234)), u"0000000000001234" },
        { Format(u"%S", "caf\xe9"), u"caf\u00e9" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.actual, c.expected) << Narrow(c.expected);
}

TEST(Format, StopsAt1024CharactersWithTheTerminator)
{
    const std::u16string long_(2000, u'x');
    EXPECT_EQ(Format(u"%s", long_.c_str()).size(), 1023u);
    EXPECT_EQ(Format(u"%2000d", 1).size(), 1023u);
}
