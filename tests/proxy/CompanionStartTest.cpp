#include "CompanionStart.h"

#include "TestRoot.h"

#include <gtest/gtest.h>

TEST(CompanionStart, TimeoutOf1000OrLessMeansOneMinute)
{
    const struct {
        DWORD given;
        DWORD used;
    } cases[]
        = { { 0, 60000 }, { 1, 60000 }, { 1000, 60000 }, { 1001, 1001 }, { 60000, 60000 }, { 0xFFFFFFFF, 0xFFFFFFFF } };
    for (const auto& test : cases)
        EXPECT_EQ(EffectiveTimeout(test.given), test.used) << "time-out " << test.given;
}

TEST(CompanionStart, PathIsBesideTheHostProgram)
{
    const std::optional<std::u16string> path = CompanionPath();
    ASSERT_TRUE(path);
    std::u16string expected;
    for (char c : testing_support::BinaryDirectory() + "/CmdReelscan.exe")
        expected.push_back(static_cast<unsigned char>(c));
    EXPECT_EQ(*path, expected);
}

TEST(CompanionStart, CommandLineEndsWithTheHandleOrIsNotMade)
{
    const HWND window = reinterpret_cast<HWND>(static_cast<LONG_PTR>(4660));
    EXPECT_EQ(CompanionCommandLine(u"http://a/b c", window), u" http://a/b c 4660");
    EXPECT_EQ(CompanionCommandLine(u"u", reinterpret_cast<HWND>(static_cast<LONG_PTR>(-7))), u" u -7")
        << "the handle is a signed decimal";

    // " " + url + " " + "4660" and the terminator: 1024 characters with a url of 1017.
    const std::u16string longest(1017, u'x');
    const std::optional<std::u16string> fits = CompanionCommandLine(longest.c_str(), window);
    ASSERT_TRUE(fits);
    EXPECT_EQ(fits->size(), 1023u);
    EXPECT_EQ(fits->substr(fits->size() - 5), u" 4660");
    EXPECT_FALSE(CompanionCommandLine((longest + u"x").c_str(), window)) << "one character too many";
}
