// ProbeMediaLink against demoweb's media answers.
#include "MediaProbe.h"

#include "DemowebServer.h"

#include <gmock/gmock.h>

using testing::HasSubstr;

namespace {

class MediaProbe : public testing::Test {
protected:
    testing_support::DemowebServer m_server;
};

TEST_F(MediaProbe, TypeFromTheContentTypeElseFromThePath)
{
    const struct {
        const char* path;
        DWORD length;
        const char16_t* type;
    } cases[] = {
        { "/media/clip.mp4", 4096, u"mp4" }, { "/media/upper", 1234, u"mp4" }, // "Video/MP4"
        { "/media/codecs.flv", 1234, u"flv" }, // "video/mp4; codecs=x" is no row; the path says flv
        { "/media/plain.flv", 2048, u"flv" }, // text/plain
        { "/media/octet.mp4", 1234, u"flv" }, // application/octet-stream is flv whatever the path says
        { "/media/untyped.mp4", 1234, u"mp4" }, { "/media/untyped", 2048, u"" },
        { "/media/huge.flv", 3000000000u, u"flv" }, { "/media/chunked.flv", 0, u"flv" },
        { "/redirect/302", 95, u"" }, // not followed: the redirect's own headers
    };
    for (const auto& test : cases) {
        const std::string url = std::string("http://demoweb.test") + test.path;
        const std::u16string wide(url.begin(), url.end());
        DWORD length = 77;
        WCHAR type[20] = {};
        EXPECT_EQ(ProbeMediaLink(nullptr, wide.c_str(), &length, type), 1) << test.path;
        EXPECT_EQ(length, test.length) << test.path;
        EXPECT_EQ(std::u16string(type), test.type) << test.path;
    }
}

TEST_F(MediaProbe, SendsTheDefaultHeadersOrTheCallers)
{
    DWORD length = 0;
    WCHAR type[20] = {};
    ASSERT_EQ(ProbeMediaLink(u"", u"http://demoweb.test/media/clip.mp4", &length, type), 1);
    EXPECT_THAT(m_server.WaitForRequest("/media/clip.mp4"),
        HasSubstr("User-Agent=\"Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0; MyIE2; .NET CLR 1.1.4322)\" "
                  "Accept=\"*/*\" Accept-Language=\"zh-cn\" Accept-Encoding=\"gzip, deflate\" Pragma=\"no-cache\""));
    ASSERT_EQ(ProbeMediaLink(u"User-Agent: Browser/9\r\n", u"http://demoweb.test/media/plain.flv", &length, type), 1);
    EXPECT_THAT(m_server.WaitForRequest("/media/plain.flv"), HasSubstr("User-Agent=\"Browser/9\""));
}

TEST_F(MediaProbe, NothingIsWrittenWhenTheLinkCannotBeOpened)
{
    DWORD length = 77;
    WCHAR type[20] = u"kept";
    EXPECT_EQ(ProbeMediaLink(nullptr, u"", &length, type), 0);
    EXPECT_EQ(ProbeMediaLink(nullptr, nullptr, &length, type), 0);
    EXPECT_EQ(ProbeMediaLink(nullptr, u"http://demoweb.test/hostile/garbage", &length, type), 0);
    EXPECT_EQ(ProbeMediaLink(nullptr, u"ftp://demoweb.test/clip.flv", &length, type), 0);
    EXPECT_EQ(length, 77u);
    EXPECT_EQ(std::u16string(type), u"kept");
    EXPECT_FALSE(m_server.WaitForRequest("/hostile/garbage").empty());
    EXPECT_EQ(m_server.Requests().size(), 1u); // only the garbage link reached the server
}

}
