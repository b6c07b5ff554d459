#include "winnls.h"

#include "errhandlingapi.h"
#include "winerror.h"
#include "winuser.h"

#include "TestRoot.h"

#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <thread>

namespace {

// The whole conversion, through a size query and a second call as Windows callers make it.
std::u16string ToWide(UINT codePage, const std::string& bytes, DWORD flags = 0)
{
    const int size = MultiByteToWideChar(codePage, flags, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::u16string wide(static_cast<size_t>(size), u'\0');
    if (size > 0) {
        EXPECT_EQ(MultiByteToWideChar(codePage, flags, bytes.data(), static_cast<int>(bytes.size()), wide.data(), size),
            size);
    }
    return wide;
}

// Sets the machine's ANSI code page in this test's root with the reg tool, before this process
// reads it. The test program does not link advapi32, so kernel32 must load it on its own.
void SetMachineAnsiCodePage(const std::string& value)
{
    const std::string command = testing_support::BinaryDirectory()
        + "/reg add \"HKLM\\SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage\" /v ACP /t REG_SZ /d " + value
        + " /f >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

std::string ToBytes(
    UINT codePage, const std::u16string& wide, BOOL* usedDefault = nullptr, const char* defaultChar = nullptr)
{
    const int size = WideCharToMultiByte(
        codePage, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, defaultChar, usedDefault);
    std::string bytes(static_cast<size_t>(size), '\0');
    if (size > 0) {
        EXPECT_EQ(WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), bytes.data(), size,
                      defaultChar, usedDefault),
            size);
    }
    return bytes;
}

}

TEST(CodePage, ConvertsBothWaysInTheCodePagesWindowsCodeUses)
{
    struct Case {
        const char* name;
        UINT codePage;
        std::string bytes;
        std::u16string wide;
    } cases[] = {
        { "1252 letters and euro", 1252, "caf\xe9 \x80", u"caf\u00e9 \u20ac" },
        { "1252 undefined bytes are C1 controls", 1252, "\x81\x8d\x8f\x90\x9d", u"\u0081\u008d\u008f\u0090\u009d" },
        { "936 double-byte", 936,
            "\xd6\xd0\xce\xc4"
            "a",
            u"\u4e2d\u6587a" },
        { "932 double-byte", 932, "\x93\xfa\x96\x7b", u"\u65e5\u672c" },
        { "1251 cyrillic", 1251, "\xcf\xf0\xe8", u"\u041f\u0440\u0438" },
        { "437 box drawing", 437, "\xc9\xcd", u"\u2554\u2550" },
        { "utf-8 astral", CP_UTF8, "\xf0\x9f\x98\x80\xc3\xa9", u"\U0001F600\u00e9" },
        { "embedded null", 1252, std::string("a\0b", 3), std::u16string(u"a\0b", 3) },
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ToWide(c.codePage, c.bytes), c.wide) << c.name;
        EXPECT_EQ(ToBytes(c.codePage, c.wide), c.bytes) << c.name;
    }
}

TEST(CodePage, MinusOneLengthIncludesTheTerminator)
{
    WCHAR wide[8];
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, nullptr, 0), 4);
    ASSERT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, wide, 8), 4);
    EXPECT_EQ(std::u16string(wide), u"abc");
    char bytes[8];
    EXPECT_EQ(WideCharToMultiByte(1252, 0, u"\u00e9", -1, nullptr, 0, nullptr, nullptr), 2);
    ASSERT_EQ(WideCharToMultiByte(1252, 0, u"\u00e9", -1, bytes, 8, nullptr, nullptr), 2);
    EXPECT_EQ(std::string(bytes), "\xe9");
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 3, nullptr, 0), 3) << "an explicit length has no terminator";
}

TEST(CodePage, FailsAsWindowsDocuments)
{
    WCHAR wide[2];
    char bytes[2];
    BOOL used = FALSE;
    struct Case {
        const char* name;
        std::function<int()> call;
        DWORD error;
    } cases[] = {
        { "buffer too small", [&] { return MultiByteToWideChar(CP_UTF8, 0, "abc", 3, wide, 2); },
            ERROR_INSUFFICIENT_BUFFER },
        { "narrow buffer too small",
            [&] { return WideCharToMultiByte(1252, 0, u"abc", 3, bytes, 2, nullptr, nullptr); },
            ERROR_INSUFFICIENT_BUFFER },
        { "null input", [&] { return MultiByteToWideChar(CP_UTF8, 0, nullptr, 3, wide, 2); }, ERROR_INVALID_PARAMETER },
        { "zero input length", [&] { return MultiByteToWideChar(CP_UTF8, 0, "a", 0, wide, 2); },
            ERROR_INVALID_PARAMETER },
        { "negative output size", [&] { return MultiByteToWideChar(CP_UTF8, 0, "a", 1, wide, -1); },
            ERROR_INVALID_PARAMETER },
        { "null output with a size",
            [&] { return WideCharToMultiByte(1252, 0, u"a", 1, nullptr, 4, nullptr, nullptr); },
            ERROR_INVALID_PARAMETER },
        { "unknown code page", [&] { return MultiByteToWideChar(12345, 0, "a", 1, wide, 2); },
            ERROR_INVALID_PARAMETER },
        { "IBM page that Windows lacks", [&] { return MultiByteToWideChar(930, 0, "a", 1, wide, 2); },
            ERROR_INVALID_PARAMETER },
        { "default char with utf-8", [&] { return WideCharToMultiByte(CP_UTF8, 0, u"a", 1, bytes, 2, "?", nullptr); },
            ERROR_INVALID_PARAMETER },
        { "used-default flag with utf-8",
            [&] { return WideCharToMultiByte(CP_UTF8, 0, u"a", 1, bytes, 2, nullptr, &used); },
            ERROR_INVALID_PARAMETER },
        { "flag utf-8 does not take", [&] { return MultiByteToWideChar(CP_UTF8, MB_PRECOMPOSED, "a", 1, wide, 2); },
            ERROR_INVALID_FLAGS },
        { "strict flag on a code page",
            [&] { return WideCharToMultiByte(1252, WC_ERR_INVALID_CHARS, u"a", 1, bytes, 2, nullptr, nullptr); },
            ERROR_INVALID_FLAGS },
        { "strict utf-8 decoding",
            [&] { return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "a\xff", 2, wide, 2); },
            ERROR_NO_UNICODE_TRANSLATION },
        { "strict utf-8 encoding",
            [&] {
                return WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, u"\xd800", 1, bytes, 2, nullptr, nullptr);
            },
            ERROR_NO_UNICODE_TRANSLATION },
        { "strict 936 decoding", [&] { return MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, "\xff", 1, wide, 2); },
            ERROR_NO_UNICODE_TRANSLATION },
    };
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_EQ(c.call(), 0) << c.name;
        EXPECT_EQ(GetLastError(), c.error) << c.name;
    }
}

TEST(CodePage, UnmappableCharactersTakeTheDefaultCharacter)
{
    BOOL used = TRUE;
    EXPECT_EQ(ToBytes(1252, u"a\u4e2db", &used), "a?b");
    EXPECT_TRUE(used);
    EXPECT_EQ(ToBytes(1252, u"plain", &used), "plain");
    EXPECT_FALSE(used) << "the flag is reset when nothing was replaced";
    EXPECT_EQ(ToBytes(1252, u"\U0001F600", &used, "#"), "#") << "a surrogate pair is one character";
    EXPECT_EQ(ToBytes(936, u"\u0e01x", &used, "*"), "*x");
    EXPECT_EQ(ToBytes(1252, std::u16string(1, u'\xdc00')), "?") << "a lone surrogate";
    // Bytes that a code page cannot decode become its default Unicode character, UTF-8's U+FFFD.
    EXPECT_EQ(ToWide(936, "a\xff"), u"a?");
    EXPECT_EQ(ToWide(CP_UTF8, "a\xff"), u"a\ufffd");
    EXPECT_EQ(ToBytes(CP_UTF8, std::u16string(1, u'\xd800')), "\xef\xbf\xbd");
}

// Converts in its destructor, as objects that log or save on their way out do.
struct ConvertsAtThreadExit {
    std::string* result = nullptr;
    ~ConvertsAtThreadExit()
    {
        if (result)
            *result = ToBytes(936, u"\u4e2d");
    }
};

TEST(CodePage, ConvertsWhileAThreadEnds)
{
    std::string result;
    std::thread([&] {
        // Made before the thread's first conversion, so it is destroyed after kernel32's own state.
        thread_local ConvertsAtThreadExit late;
        late.result = &result;
        EXPECT_EQ(ToBytes(936, u"a"), "a");
    }).join();
    EXPECT_EQ(result, "\xd6\xd0");
}

TEST(CodePage, MachineCodePagesDefaultTo1252And437)
{
    EXPECT_EQ(GetACP(), 1252u);
    EXPECT_EQ(GetOEMCP(), 437u);
    EXPECT_EQ(ToBytes(CP_ACP, u"\u20ac"), "\x80");
    EXPECT_EQ(ToBytes(CP_THREAD_ACP, u"\u20ac"), "\x80");
    EXPECT_EQ(ToWide(CP_OEMCP, "\xc9"), u"\u2554");
}

TEST(CodePage, ReportsWhichCodePagesAreValid)
{
    for (UINT codePage : { 437u, 1252u, 936u, 932u, 949u, 950u, 54936u, 65001u })
        EXPECT_TRUE(IsValidCodePage(codePage)) << codePage;
    for (UINT codePage : { 0u, 930u, 12345u })
        EXPECT_FALSE(IsValidCodePage(codePage)) << codePage;

    CPINFO info {};
    ASSERT_TRUE(GetCPInfo(1252, &info));
    EXPECT_EQ(info.MaxCharSize, 1u);
    EXPECT_EQ(info.DefaultChar[0], '?');
    EXPECT_EQ(info.LeadByte[0], 0);
    ASSERT_TRUE(GetCPInfo(936, &info));
    EXPECT_EQ(info.MaxCharSize, 2u);
    EXPECT_EQ(info.LeadByte[0], 0x81);
    EXPECT_EQ(info.LeadByte[1], 0xFE);
    EXPECT_EQ(info.LeadByte[2], 0);
    EXPECT_FALSE(GetCPInfo(12345, &info));
}

// Each test case runs in a process of its own, so each reads the machine's code page afresh.
TEST(CodePage, TheAnsiCodePageIsTheMachineSetting)
{
    SetMachineAnsiCodePage("936");
    EXPECT_EQ(GetACP(), 936u);
    EXPECT_EQ(ToWide(CP_ACP, "\xd6\xd0"), u"\u4e2d");
    EXPECT_EQ(ToBytes(CP_THREAD_ACP, u"\u6587"), "\xce\xc4");
    WCHAR formatted[16];
    wsprintfW(formatted, u"%S", "\xd6\xd0");
    EXPECT_EQ(std::u16string(formatted), u"\u4e2d") << "narrow arguments are ANSI text";
}

TEST(CodePage, AnAnsiCodePageWindowsLacksFallsBackTo1252)
{
    SetMachineAnsiCodePage("930");
    EXPECT_EQ(GetACP(), 1252u);
}

TEST(CodePage, TheAnsiCodePageMayBeUtf8)
{
    SetMachineAnsiCodePage("65001");
    EXPECT_EQ(GetACP(), static_cast<UINT>(CP_UTF8));
    EXPECT_EQ(ToBytes(CP_ACP, u"\u4e2d"), "\xe4\xb8\xad");
}
