#include "WinRoot.h"
#include "TestRoot.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

TEST(WinRoot, IsTheEnvironmentsRootCreatedPrivateWithItsSubdirectories)
{
    EXPECT_EQ(platform::RootDirectory(), testing_support::TestRoot());
    for (const char* sub : { "", "run", "cache", "certs", "temp" }) {
        struct stat info { };
        const std::string path = platform::RootPath(sub);
        ASSERT_EQ(stat(path.c_str(), &info), 0) << path;
        EXPECT_TRUE(S_ISDIR(info.st_mode)) << path;
        EXPECT_EQ(info.st_mode & 0777, 0700u) << path;
    }
}
