#include "winbase.h"

#include <gtest/gtest.h>
#include <string>

TEST(Strings, CopyAndAppendTerminateTheirResult)
{
    WCHAR buffer[8];
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    EXPECT_EQ(lstrcpynW(buffer, u"abcdef", 4), buffer);
    EXPECT_EQ(std::u16string(buffer), u"abc") << "at most iMaxLength - 1 characters, then the terminator";
    EXPECT_EQ(buffer[4], u'#');
    lstrcpynW(buffer, u"ab", 8);
    EXPECT_EQ(std::u16string(buffer), u"ab");
    buffer[0] = u'x';
    lstrcpynW(buffer, u"ab", 0);
    EXPECT_EQ(buffer[0], u'x') << "a size of 0 writes nothing";
    lstrcpyW(buffer, u"ab");
    EXPECT_EQ(std::u16string(lstrcatW(buffer, u"cd")), u"abcd");
    EXPECT_EQ(lstrlenW(buffer), 4);
    EXPECT_EQ(lstrlenW(nullptr), 0);

    char narrow[8];
    lstrcpynA(narrow, "abcdef", 3);
    EXPECT_EQ(std::string(lstrcatA(narrow, "!")), "ab!");
    EXPECT_EQ(lstrlenA(narrow), 3);
}

TEST(Strings, ComparisonsGiveTheSignOnly)
{
    struct Case {
        const char16_t* left;
        const char16_t* right;
        int exact;
        int ignoringCase;
    } cases[] = {
        { u"abc", u"abc", 0, 0 },
        { u"abc", u"ABC", -1, 0 },
        { u"Stra\u00dfe", u"STRA\u00dfE", -1, 0 },
        { u"\u00e9t\u00e9", u"\u00c9T\u00c9", -1, 0 },
        { u"\u043f\u0440\u0438", u"\u041f\u0420\u0418", -1, 0 },
        { u"ab", u"abc", -1, -1 },
        { u"abd", u"ABC", 1, 1 },
        { u"apple", u"Banana", -1, -1 },
        { u"_x", u"a", -1, -1 },
        { u"9", u"a", -1, -1 },
        { nullptr, u"", 0, 0 },
    };
    for (const Case& c : cases) {
        const std::u16string row = c.left ? c.left : u"(null)";
        EXPECT_EQ(lstrcmpW(c.left, c.right), c.exact) << std::string(row.begin(), row.end());
        EXPECT_EQ(lstrcmpiW(c.left, c.right), c.ignoringCase) << std::string(row.begin(), row.end());
        EXPECT_EQ(lstrcmpiW(c.right, c.left), -c.ignoringCase) << std::string(row.begin(), row.end());
        EXPECT_EQ(lstrcmpW(c.right, c.left), -c.exact) << std::string(row.begin(), row.end());
    }
    EXPECT_EQ(lstrcmpA("b", "A"), 1);
    EXPECT_EQ(lstrcmpA("menu", "Menu"), -1);
    EXPECT_EQ(lstrcmpiA("Menu", "MENU"), 0);
    EXPECT_EQ(lstrcmpiA("a", "B"), -1);
    EXPECT_EQ(lstrcmpiA("_", "a"), -1);
}
