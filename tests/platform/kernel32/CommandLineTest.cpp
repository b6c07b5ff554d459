#include "CommandLine.h"
#include "Utf.h"

#include <gtest/gtest.h>

using Arguments = std::vector<std::u16string>;

TEST(CommandLine, SplitsAsTheCRuntimeDoes)
{
    struct Case {
        const char* name;
        std::u16string commandLine;
        Arguments expected;
    } cases[] = {
        { "plain", u"prog a b", { u"prog", u"a", u"b" } },
        { "quoted program with blanks", u"\"C:\\Program Files\\x.exe\" \"a b\" c",
            { u"C:\\Program Files\\x.exe", u"a b", u"c" } },
        { "runs of blanks and tabs", u"p   a\t\tb  ", { u"p", u"a", u"b" } },
        { "backslashes not before a quote", u"p a\\\\b\\", { u"p", u"a\\\\b\\" } },
        { "odd backslashes escape the quote", u"p a\\\"b", { u"p", u"a\"b" } },
        { "even backslashes before a quote", u"p a\\\\\"b c\"", { u"p", u"a\\b c" } },
        { "doubled quote inside quotes", u"p \"a\"\"b\"", { u"p", u"a\"b" } },
        { "empty argument", u"p \"\" x", { u"p", u"", u"x" } },
        { "unterminated quote", u"p \"open arg", { u"p", u"open arg" } },
        { "program name keeps its backslashes", u"dir\\p.exe x", { u"dir\\p.exe", u"x" } },
        { "empty", u"", {} },
    };
    for (const Case& c : cases)
        EXPECT_EQ(platform::SplitCommandLine(c.commandLine), c.expected) << c.name;
}

TEST(CommandLine, QuotedArgumentsSplitBackUnchanged)
{
    const Arguments arguments = { u"prog", u"plain", u"two words", u"", u"quote\"inside", u"trailing\\",
        u"dir with blank\\", u"\\\\\"mixed\\", u"tab\there" };
    std::u16string commandLine;
    for (const std::u16string& argument : arguments)
        commandLine += (commandLine.empty() ? u"" : u" ") + platform::QuoteArgument(argument);
    EXPECT_EQ(platform::SplitCommandLine(commandLine), arguments) << platform::ToUtf8(commandLine);
    EXPECT_EQ(platform::QuoteArgument(u"plain"), u"plain");
}

TEST(CommandLine, ProgramItemIsQuotedOrBlankEnded)
{
    EXPECT_EQ(platform::ProgramItem(u"\"a b\\c.exe\" x"), u"a b\\c.exe");
    EXPECT_EQ(platform::ProgramItem(u"abc.exe\tx"), u"abc.exe");
    EXPECT_EQ(platform::ProgramItem(u"abc"), u"abc");
}
