#include "winbase.h"

#include "TestRoot.h"

#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>

namespace {

// A converter's INI file as its installer writes it, with Windows line ends.
const char* const ConverterIni = "; written by the installer\r\n"
                                 "[Settings]\r\n"
                                 "  MenuCaption =   Convert with Summit  \r\n"
                                 "Quoted=\"  padded  \"\r\n"
                                 "Count=12\r\n"
                                 "Hex=0x1F\r\n"
                                 "Negative=-3\r\n"
                                 "Trailing=12abc\r\n"
                                 "Word=abc\r\n"
                                 "Empty=\r\n"
                                 "Accent=caf\xe9\r\n"
                                 ";Commented=1\r\n"
                                 "\r\n"
                                 "[ Paths ]\r\n"
                                 "Home=C:\\Summit\r\n"
                                 "[settings]\r\n"
                                 "Count=99\r\n";

class Profile : public testing::Test {
protected:
    void SetUp() override
    {
        m_path = testing_support::TestRoot() + "/converter.ini";
        Write(ConverterIni);
        m_widePath = std::u16string(m_path.begin(), m_path.end());
    }

    void Write(const std::string& bytes) const
    {
        std::ofstream(m_path, std::ios::binary) << bytes;
    }

    std::string Contents() const
    {
        std::ifstream stream(m_path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(stream), {});
    }

    std::u16string Read(const char16_t* section, const char16_t* key, const char16_t* fallback = u"none") const
    {
        WCHAR buffer[256];
        const DWORD length = GetPrivateProfileStringW(section, key, fallback, buffer, 256, m_widePath.c_str());
        return std::u16string(buffer, length);
    }

    std::string m_path;
    std::u16string m_widePath;
};

}

TEST_F(Profile, ReadsValuesAsWindowsDoes)
{
    struct Case {
        const char16_t* section;
        const char16_t* key;
        std::u16string expected;
    } cases[] = {
        { u"Settings", u"MenuCaption", u"Convert with Summit" },
        { u"SETTINGS", u"menucaption", u"Convert with Summit" },
        { u"Settings", u"Quoted", u"  padded  " },
        { u"Settings", u"Empty", u"" },
        { u"Settings", u"Count", u"12" },
        { u"Settings", u"Commented", u"none" },
        { u"Settings", u"Missing", u"none" },
        { u"Paths", u"Home", u"C:\\Summit" },
        { u"Nowhere", u"Home", u"none" },
        { u"Settings", u"Accent", u"caf\u00e9" },
    };
    for (const Case& c : cases) {
        const std::u16string key = c.key;
        EXPECT_EQ(Read(c.section, c.key), c.expected) << std::string(key.begin(), key.end());
    }
    EXPECT_EQ(Read(u"Nowhere", u"Key", u"fallback   "), u"fallback") << "a default loses its trailing blanks";
    EXPECT_EQ(Read(u"Nowhere", u"Key", nullptr), u"");
}

TEST_F(Profile, AMissingFileGivesTheDefault)
{
    WCHAR buffer[16];
    SetLastError(0);
    EXPECT_EQ(GetPrivateProfileStringW(u"Settings", u"Count", u"dflt", buffer, 16, u"/nonexistent/x.ini"), 4u);
    EXPECT_EQ(std::u16string(buffer), u"dflt");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(GetPrivateProfileIntW(u"Settings", u"Count", 5, u"/nonexistent/x.ini"), 5u);
}

TEST_F(Profile, FollowsTheBufferRules)
{
    WCHAR buffer[8];
    EXPECT_EQ(GetPrivateProfileStringW(u"Settings", u"MenuCaption", u"", buffer, 8, m_widePath.c_str()), 7u)
        << "a value that does not fit is cut to nSize - 1";
    EXPECT_EQ(std::u16string(buffer), u"Convert");

    WCHAR names[64];
    const DWORD length = GetPrivateProfileStringW(nullptr, nullptr, u"", names, 64, m_widePath.c_str());
    EXPECT_EQ(std::u16string(names, length), std::u16string(u"Settings\0Paths\0", 15))
        << "section names once each, each terminated";
    EXPECT_EQ(names[length], 0) << "and one more terminator";

    const DWORD keys = GetPrivateProfileStringW(u"Paths", nullptr, u"", names, 64, m_widePath.c_str());
    EXPECT_EQ(std::u16string(names, keys), std::u16string(u"Home\0", 5));

    EXPECT_EQ(GetPrivateProfileStringW(nullptr, nullptr, u"", buffer, 8, m_widePath.c_str()), 6u)
        << "a list that does not fit returns nSize - 2";
    EXPECT_EQ(std::u16string(buffer, 8), std::u16string(u"Settin\0\0", 8));
    EXPECT_EQ(GetPrivateProfileStringW(u"Settings", u"Count", u"", buffer, 0, m_widePath.c_str()), 0u);
}

TEST_F(Profile, ReadsIntegers)
{
    struct Case {
        const char16_t* key;
        UINT expected;
    } cases[] = {
        { u"Count", 12u },
        { u"Hex", 31u },
        { u"Negative", static_cast<UINT>(-3) },
        { u"Trailing", 12u },
        { u"Word", 0u },
        { u"Empty", 77u },
        { u"Missing", 77u },
    };
    for (const Case& c : cases) {
        const std::u16string key = c.key;
        EXPECT_EQ(GetPrivateProfileIntW(u"Settings", c.key, 77, m_widePath.c_str()), c.expected)
            << std::string(key.begin(), key.end());
    }
}

TEST_F(Profile, NarrowFormsUseTheAnsiCodePageAndBackslashPaths)
{
    std::string path = m_path;
    std::replace(path.begin(), path.end(), '/', '\\');
    char buffer[32];
    EXPECT_EQ(GetPrivateProfileStringA("settings", "accent", "", buffer, 32, path.c_str()), 4u);
    EXPECT_EQ(std::string(buffer), "caf\xe9");
    EXPECT_EQ(GetPrivateProfileIntA("Settings", "Hex", 0, path.c_str()), 31u);
    EXPECT_EQ(GetPrivateProfileStringA("Settings", "MenuCaption", "", buffer, 4, path.c_str()), 3u);
    EXPECT_EQ(std::string(buffer), "Con");
}

TEST_F(Profile, WritesKeepTheRestOfTheFile)
{
    const char16_t* file = m_widePath.c_str();
    ASSERT_TRUE(WritePrivateProfileStringW(u"settings", u"count", u"13", file));
    ASSERT_TRUE(WritePrivateProfileStringW(u"Settings", u"NewKey", u"new value", file));
    ASSERT_TRUE(WritePrivateProfileStringW(u"Added", u"Key", u"v", file));
    ASSERT_TRUE(WritePrivateProfileStringW(u"Settings", u"Word", nullptr, file));
    ASSERT_TRUE(WritePrivateProfileStringW(u"Paths", nullptr, nullptr, file));
    EXPECT_EQ(Read(u"Settings", u"Count"), u"13");
    EXPECT_EQ(Read(u"Settings", u"NewKey"), u"new value");
    EXPECT_EQ(Read(u"Added", u"Key"), u"v");
    EXPECT_EQ(Read(u"Settings", u"Word"), u"none");
    EXPECT_EQ(Read(u"Paths", u"Home"), u"none");
    const std::string contents = Contents();
    EXPECT_NE(contents.find("; written by the installer\r\n"), std::string::npos);
    EXPECT_NE(contents.find("NewKey=new value\r\n\r\n[settings]"), std::string::npos)
        << "a new key goes after the section's last entry:\n"
        << contents;
    EXPECT_NE(contents.find("Accent=caf\xe9\r\n"), std::string::npos) << "ANSI stays ANSI";
    EXPECT_FALSE(WritePrivateProfileStringW(u"A", u"B", u"C", u"/nonexistent/dir/x.ini"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(Profile, ReadsAndKeepsUtf16Files)
{
    const std::u16string text = u"[S]\r\nName=\u4e2d\u6587\r\n";
    std::string bytes = "\xff\xfe";
    for (char16_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    Write(bytes);
    EXPECT_EQ(Read(u"S", u"Name"), u"\u4e2d\u6587");
    ASSERT_TRUE(WritePrivateProfileStringW(u"S", u"Other", u"\u00e9", m_widePath.c_str()));
    EXPECT_EQ(Contents().substr(0, 2), "\xff\xfe");
    EXPECT_EQ(Read(u"S", u"Other"), u"\u00e9");
    EXPECT_EQ(Read(u"S", u"Name"), u"\u4e2d\u6587");
}
