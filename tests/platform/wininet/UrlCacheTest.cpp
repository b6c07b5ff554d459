// The URL cache as another library (the hidden browser) fills it, seen through GetUrlCacheEntryInfoW.
#include "UrlCache.h"
#include "wininet.h"

#include "errhandlingapi.h"

#include <gmock/gmock.h>
#include <vector>

namespace {

DWORD EntrySize(const char16_t* url)
{
    DWORD size = 0;
    EXPECT_FALSE(GetUrlCacheEntryInfoW(url, nullptr, &size));
    return GetLastError() == ERROR_INSUFFICIENT_BUFFER ? size : 0;
}

TEST(UrlCache, OnlyACommittedBodyMakesAnEntry)
{
    {
        auto dropped = platform::CacheWriter::Begin("http://icons.test/dropped.ico", "HTTP/1.1 200 OK\r\n\r\n");
        ASSERT_NE(dropped, nullptr);
        dropped->Write("half", 4);
    }
    EXPECT_EQ(EntrySize(u"http://icons.test/dropped.ico"), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    auto writer = platform::CacheWriter::Begin("http://Icons.test:80/favicon.ico#x", "HTTP/1.1 200 OK\r\n\r\n");
    ASSERT_NE(writer, nullptr);
    writer->Write("icon", 4);
    writer->Write("data", 4);
    writer->Commit();
    const DWORD size = EntrySize(u"http://icons.test/favicon.ico");
    ASSERT_GT(size, sizeof(INTERNET_CACHE_ENTRY_INFOW));
    std::vector<char> buffer(size);
    auto* info = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOW*>(buffer.data());
    DWORD length = size;
    ASSERT_TRUE(GetUrlCacheEntryInfoW(u"http://icons.test/favicon.ico", info, &length));
    EXPECT_EQ(std::u16string(info->lpszSourceUrlName), u"http://icons.test/favicon.ico");
    EXPECT_EQ(info->dwSizeLow, 8u);
    EXPECT_EQ(std::u16string(info->lpszFileExtension), u"ico");
    const std::u16string localFile = info->lpszLocalFileName;
    EXPECT_EQ(localFile.substr(localFile.rfind(u'/')), u"/favicon.ico");
}

}
