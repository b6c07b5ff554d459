#include "wincrt.h"

#include <gtest/gtest.h>
#include <string>

TEST(SplitPath, SplitsAtEitherSeparator)
{
    struct Case {
        const char16_t* path;
        const char16_t* drive;
        const char16_t* dir;
        const char16_t* fname;
        const char16_t* ext;
    } cases[] = {
        { u"C:\\Program Files\\App\\app.exe", u"C:", u"\\Program Files\\App\\", u"app", u".exe" },
        { u"/opt/reelscan/bin/CmdReelscan.exe", u"", u"/opt/reelscan/bin/", u"CmdReelscan", u".exe" },
        { u"d:mixed/dir\\archive.tar.gz", u"d:", u"mixed/dir\\", u"archive.tar", u".gz" },
        { u"noext", u"", u"", u"noext", u"" },
        { u"dir.d/file", u"", u"dir.d/", u"file", u"" },
        { u"", u"", u"", u"", u"" },
    };
    for (const Case& c : cases) {
        WCHAR drive[_MAX_DRIVE], dir[_MAX_DIR], fname[_MAX_FNAME], ext[_MAX_EXT];
        const std::u16string path = c.path;
        const std::string row(path.begin(), path.end());
        ASSERT_EQ(_wsplitpath_s(c.path, drive, _MAX_DRIVE, dir, _MAX_DIR, fname, _MAX_FNAME, ext, _MAX_EXT), 0) << row;
        EXPECT_EQ(std::u16string(drive), c.drive) << row;
        EXPECT_EQ(std::u16string(dir), c.dir) << row;
        EXPECT_EQ(std::u16string(fname), c.fname) << row;
        EXPECT_EQ(std::u16string(ext), c.ext) << row;
    }
    WCHAR fname[16];
    EXPECT_EQ(_wsplitpath_s(u"a/b/name.txt", nullptr, 0, nullptr, 0, fname, 16, nullptr, 0), 0)
        << "parts that are not wanted are null with size 0";
    EXPECT_EQ(std::u16string(fname), u"name");
}

TEST(SplitPath, RefusesBadBuffersAndClearsEveryOutput)
{
    WCHAR drive[_MAX_DRIVE], dir[4], fname[_MAX_FNAME], ext[_MAX_EXT];
    const auto fill = [&] { drive[0] = dir[0] = fname[0] = ext[0] = u'#'; };
    struct Case {
        const char* name;
        const char16_t* path;
        WCHAR* dirBuffer;
        size_t dirSize;
        errno_t expected;
    } cases[] = {
        { "null path", nullptr, dir, 4, EINVAL },
        { "buffer without size", u"a/b", dir, 0, EINVAL },
        { "size without buffer", u"a/b", nullptr, 4, EINVAL },
        { "directory too long", u"long/dir/file.txt", dir, 4, ERANGE },
    };
    for (const Case& c : cases) {
        fill();
        errno = 0;
        EXPECT_EQ(_wsplitpath_s(c.path, drive, _MAX_DRIVE, c.dirBuffer, c.dirSize, fname, _MAX_FNAME, ext, _MAX_EXT),
            c.expected)
            << c.name;
        EXPECT_EQ(errno, c.expected) << c.name;
        EXPECT_EQ(drive[0], 0) << c.name;
        EXPECT_EQ(fname[0], 0) << c.name;
        EXPECT_EQ(ext[0], 0) << c.name;
    }
}

TEST(MakePath, JoinsThePartsWindowsStyle)
{
    struct Case {
        const char16_t* drive;
        const char16_t* dir;
        const char16_t* fname;
        const char16_t* ext;
        std::u16string expected;
    } cases[] = {
        { u"C", u"\\dir", u"file", u"txt", u"C:\\dir\\file.txt" },
        { u"c:", u"\\dir\\", u"file", u".txt", u"c:\\dir\\file.txt" },
        { nullptr, u"/opt/app", u"Converter", u".exe", u"/opt/app/Converter.exe" },
        { nullptr, nullptr, u"name", nullptr, u"name" },
    };
    for (const Case& c : cases) {
        WCHAR path[_MAX_PATH];
        ASSERT_EQ(_wmakepath_s(path, _MAX_PATH, c.drive, c.dir, c.fname, c.ext), 0);
        EXPECT_EQ(std::u16string(path), c.expected) << std::string(c.expected.begin(), c.expected.end());
    }
    WCHAR small[8] = u"junk";
    EXPECT_EQ(_wmakepath_s(small, 8, nullptr, u"/dir", u"file", u"txt"), ERANGE);
    EXPECT_EQ(small[0], 0);
    EXPECT_EQ(_wmakepath_s(nullptr, 8, nullptr, nullptr, u"f", nullptr), EINVAL);
    EXPECT_EQ(_wmakepath_s(small, 0, nullptr, nullptr, u"f", nullptr), EINVAL);
}
