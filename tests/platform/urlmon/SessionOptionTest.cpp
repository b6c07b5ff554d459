// urlmon's user-agent session option: the size query, the default agent, setting and restoring it.
#include "urlmon.h"

#include <gmock/gmock.h>
#include <string>

namespace {

std::string Agent()
{
    DWORD size = 0;
    EXPECT_EQ(UrlMkGetSessionOption(URLMON_OPTION_USERAGENT, nullptr, 0, &size, 0), E_OUTOFMEMORY);
    std::string agent(size, '\0');
    DWORD length = 0;
    EXPECT_EQ(UrlMkGetSessionOption(URLMON_OPTION_USERAGENT, agent.data(), size, &length, 0), S_OK);
    EXPECT_EQ(length, size);
    EXPECT_EQ(agent.back(), '\0');
    agent.pop_back();
    return agent;
}

TEST(UrlMkSessionOption, TheDefaultAgentIsACurrentChromiumOnWindows)
{
    EXPECT_THAT(Agent(),
        testing::MatchesRegex("Mozilla/5\\.0 \\(Windows NT 10\\.0; Win64; x64\\) AppleWebKit/537\\.36 "
                              "\\(KHTML, like Gecko\\) Chrome/[0-9]+\\.0\\.0\\.0 Safari/537\\.36"));
}

TEST(UrlMkSessionOption, ATooSmallBufferGetsTheSizeAndNoText)
{
    char buffer[8] = "unset";
    DWORD size = 0;
    EXPECT_EQ(UrlMkGetSessionOption(URLMON_OPTION_USERAGENT, buffer, sizeof buffer, &size, 0), E_OUTOFMEMORY);
    EXPECT_EQ(size, Agent().size() + 1);
    EXPECT_STREQ(buffer, "unset");
    EXPECT_EQ(UrlMkGetSessionOption(0x12345, buffer, sizeof buffer, &size, 0), E_INVALIDARG);
}

TEST(UrlMkSessionOption, SetsAndRestoresTheAgent)
{
    const std::string original = Agent();
    char agent[] = "Custom/1.0";
    ASSERT_EQ(UrlMkSetSessionOption(URLMON_OPTION_USERAGENT, agent, sizeof agent - 1, 0), S_OK);
    EXPECT_EQ(Agent(), "Custom/1.0");
    ASSERT_EQ(UrlMkSetSessionOption(URLMON_OPTION_USERAGENT_REFRESH, nullptr, 0, 0), S_OK);
    EXPECT_EQ(Agent(), original);
    EXPECT_EQ(UrlMkSetSessionOption(URLMON_OPTION_USERAGENT, nullptr, 0, 0), E_INVALIDARG);
}

}
