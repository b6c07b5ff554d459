#include "Utf.h"
#include "HostPath.h"

#include <gtest/gtest.h>

TEST(Utf, RoundTripsEveryPlane)
{
    const std::u16string text = u"plain \u00e9\u4e2d \U0001F600 end";
    EXPECT_EQ(platform::FromUtf8(platform::ToUtf8(text)), text);
    EXPECT_EQ(platform::ToUtf8(u"\u00e9"), "\xc3\xa9");
}

TEST(Utf, MalformedInputBecomesReplacementCharacters)
{
    struct Case {
        const char* name;
        std::string utf8;
        std::u16string expected;
    } cases[] = {
        { "truncated sequence", "a\xe4\xb8", u"a\ufffd\ufffd" },
        { "stray continuation", "\x80z", u"\ufffdz" },
        { "overlong slash", "\xc0\xaf", u"\ufffd\ufffd" },
        { "encoded surrogate", "\xed\xa0\x80", u"\ufffd\ufffd\ufffd" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(platform::FromUtf8(c.utf8), c.expected) << c.name;
    EXPECT_EQ(platform::ToUtf8(std::u16string(1, u'\xd800') + u"x"), "\xef\xbf\xbdx");
}

TEST(HostPath, TurnsBackslashesIntoSlashes)
{
    EXPECT_EQ(platform::ToHostPath(u"dir\\sub/file.exe"), "dir/sub/file.exe");
}
