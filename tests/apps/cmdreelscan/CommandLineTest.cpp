// CmdReelscan's command line, as the proxy writes it and as a shell rebuilds it.
#include "CommandLine.h"

#include <gtest/gtest.h>

#include <string>

TEST(CmdReelscanCommandLine, TakesTheAddressAndTheLastItemAsTheWindow)
{
    struct Case {
        const char* name;
        std::u16string line;
        bool valid;
        std::u16string url;
        LONG handle;
    };
    const Case cases[] = {
        { "as the proxy writes it", u" http://vimeo.com/1 1048577", true, u"http://vimeo.com/1", 1048577 },
        { "negative handle", u" http://a.example/ -5", true, u"http://a.example/", -5 },
        { "tabs and extra blanks", u"\thttp://a.example/x   77  ", true, u"http://a.example/x", 77 },
        { "shell with quoted path", u"\"/opt/my apps/CmdReelscan.exe\" http://a.example/ 12", true,
            u"http://a.example/", 12 },
        { "shell with plain path", u"/opt/bin/CmdReelscan.exe http://a.example/ 12", true, u"http://a.example/", 12 },
        { "address with a blank", u" http://a.example/a b 9", true, u"http://a.example/a b", 9 },
        { "largest handle", u" u 2147483647", true, u"u", 2147483647 },
        { "empty", u"", false, u"", 0 },
        { "only an address", u" http://a.example/", false, u"", 0 },
        { "only a handle", u" 12", false, u"", 0 },
        { "path and handle only", u"/opt/bin/CmdReelscan.exe 12", false, u"", 0 },
        { "handle not decimal", u" http://a.example/ 0x1F", false, u"", 0 },
        { "handle with letters", u" http://a.example/ 12ab", false, u"", 0 },
        { "handle beyond 32 bits", u" http://a.example/ 2147483648", false, u"", 0 },
        { "bare sign", u" http://a.example/ -", false, u"", 0 },
    };
    for (const Case& c : cases) {
        const std::optional<CompanionRequest> request = ParseCompanionCommandLine(c.line);
        ASSERT_EQ(request.has_value(), c.valid) << c.name;
        if (!request)
            continue;
        EXPECT_EQ(request->url, c.url) << c.name;
        EXPECT_EQ(static_cast<LONG>(reinterpret_cast<LONG_PTR>(request->client)), c.handle) << c.name;
    }
}
