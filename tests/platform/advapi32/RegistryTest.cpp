#include "winreg.h"

#include "TestRoot.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace {

// An open key, closed at the end of the test.
struct Key {
    HKEY handle = nullptr;
    Key() = default;
    Key(const Key&) = delete;
    ~Key()
    {
        if (handle)
            RegCloseKey(handle);
    }
    HKEY* operator&()
    {
        return &handle;
    }
    operator HKEY() const
    {
        return handle;
    }
};

// ASCII text for failure messages.
std::string Narrow(std::u16string_view text)
{
    return std::string(text.begin(), text.end());
}

LSTATUS Create(HKEY parent, const char16_t* path, Key& key, DWORD* disposition = nullptr)
{
    return RegCreateKeyExW(
        parent, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, disposition);
}

LSTATUS SetString(HKEY key, const char16_t* name, std::u16string_view text, DWORD type = REG_SZ)
{
    const std::u16string terminated(text);
    return RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(terminated.c_str()),
        static_cast<DWORD>((terminated.size() + 1) * sizeof(char16_t)));
}

LSTATUS SetDword(HKEY key, const char16_t* name, DWORD value)
{
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

// The value's string data up to its terminator, or "error N".
std::u16string QueryString(HKEY key, const char16_t* name)
{
    char16_t buffer[256] = {};
    DWORD size = sizeof(buffer) - sizeof(char16_t);
    const LSTATUS result = RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
    if (result != ERROR_SUCCESS) {
        const std::string error = "error " + std::to_string(result);
        return std::u16string(error.begin(), error.end());
    }
    return buffer;
}

std::u16string QueryString(HKEY parent, const char16_t* path, const char16_t* name)
{
    Key key;
    const LSTATUS result = RegOpenKeyExW(parent, path, 0, KEY_READ, &key);
    if (result != ERROR_SUCCESS) {
        const std::string error = "error " + std::to_string(result);
        return std::u16string(error.begin(), error.end());
    }
    return QueryString(key, name);
}

std::vector<std::u16string> Subkeys(HKEY key)
{
    std::vector<std::u16string> names;
    char16_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD chars = 256;
        const LSTATUS result = RegEnumKeyExW(key, index, name, &chars, nullptr, nullptr, nullptr, nullptr);
        if (result != ERROR_SUCCESS) {
            EXPECT_EQ(result, ERROR_NO_MORE_ITEMS);
            return names;
        }
        EXPECT_EQ(std::u16string_view(name).size(), chars);
        names.emplace_back(name);
    }
}

std::vector<std::u16string> ValueNames(HKEY key)
{
    std::vector<std::u16string> names;
    char16_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD chars = 256;
        const LSTATUS result = RegEnumValueW(key, index, name, &chars, nullptr, nullptr, nullptr, nullptr);
        if (result != ERROR_SUCCESS) {
            EXPECT_EQ(result, ERROR_NO_MORE_ITEMS);
            return names;
        }
        names.emplace_back(name);
    }
}

using Names = std::vector<std::u16string>;

TEST(Registry, CreateReportsDispositionAndKeysCompareWithoutCase)
{
    Key first, second, parent;
    DWORD disposition = 0;
    ASSERT_EQ(Create(HKEY_CURRENT_USER, u"Software\\Vendor\\Product", first, &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    ASSERT_EQ(Create(HKEY_CURRENT_USER, u"SOFTWARE\\vendor\\PRODUCT\\", second, &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    ASSERT_EQ(SetString(first, u"Name", u"one"), ERROR_SUCCESS);
    EXPECT_EQ(QueryString(second, u"NAME"), u"one");
    // A name keeps the case it was first created with.
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"software\\VENDOR", 0, KEY_READ, &parent), ERROR_SUCCESS);
    EXPECT_EQ(Subkeys(parent), Names { u"Product" });
    ASSERT_EQ(SetString(second, u"NAME", u"two"), ERROR_SUCCESS);
    EXPECT_EQ(ValueNames(first), Names { u"Name" });
    EXPECT_EQ(QueryString(first, u"name"), u"two");
    // Letters beyond ASCII compare without case too.
    Key accented, again;
    ASSERT_EQ(Create(HKEY_CURRENT_USER, u"Software\\\u00c4rger\\\u0416", accented), ERROR_SUCCESS);
    ASSERT_EQ(Create(HKEY_CURRENT_USER, u"software\\\u00e4RGER\\\u0436", again, &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
}

TEST(Registry, ValuesKeepTheirTypeAndBytes)
{
    const std::u16string multi(u"a\0bc\0\0", 6);
    const unsigned long long qword = 0x0123456789ABCDEFull;
    const DWORD dword = 0xCAFEBABE;
    const BYTE binary[] = { 0, 1, 2, 0xFF };
    const struct {
        const char16_t* name;
        DWORD type;
        std::string bytes;
    } cases[] = {
        { u"sz", REG_SZ, std::string(reinterpret_cast<const char*>(u"text"), 10) },
        { u"expand", REG_EXPAND_SZ, std::string(reinterpret_cast<const char*>(u"%TEMP%\\x"), 18) },
        { u"multi", REG_MULTI_SZ, std::string(reinterpret_cast<const char*>(multi.data()), multi.size() * 2) },
        { u"dword", REG_DWORD, std::string(reinterpret_cast<const char*>(&dword), 4) },
        { u"qword", REG_QWORD, std::string(reinterpret_cast<const char*>(&qword), 8) },
        { u"binary", REG_BINARY, std::string(reinterpret_cast<const char*>(binary), 4) },
        { u"none", REG_NONE, std::string() },
        // Strings are stored as given: without a terminator when the caller gave none.
        { u"unterminated", REG_SZ, std::string(reinterpret_cast<const char*>(u"ab"), 4) },
        { u"", REG_SZ, std::string(reinterpret_cast<const char*>(u"default"), 16) },
    };
    Key key;
    ASSERT_EQ(Create(HKEY_CURRENT_USER, u"Software\\Types", key), ERROR_SUCCESS);
    for (const auto& c : cases) {
        EXPECT_EQ(RegSetValueExW(key, c.name, 0, c.type, reinterpret_cast<const BYTE*>(c.bytes.data()),
                      static_cast<DWORD>(c.bytes.size())),
            ERROR_SUCCESS)
            << Narrow(c.name);
    }
    for (const auto& c : cases) {
        DWORD type = 99, size = 0;
        ASSERT_EQ(RegQueryValueExW(key, c.name, nullptr, &type, nullptr, &size), ERROR_SUCCESS) << Narrow(c.name);
        EXPECT_EQ(type, c.type) << Narrow(c.name);
        std::string data(size, '\x55');
        ASSERT_EQ(RegQueryValueExW(key, c.name, nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()), &size),
            ERROR_SUCCESS);
        EXPECT_EQ(data, c.bytes) << Narrow(c.name);
    }
    // The default value answers to a null name as to an empty one.
    EXPECT_EQ(QueryString(key, nullptr), u"default");
}

TEST(Registry, QueryFollowsTheBufferSizeRules)
{
    Key key;
    ASSERT_EQ(Create(HKEY_CURRENT_USER, u"Software\\Sizes", key), ERROR_SUCCESS);
    ASSERT_EQ(SetString(key, u"s", u"12345"), ERROR_SUCCESS); // 12 bytes with the terminator
    BYTE buffer[32];
    DWORD size = 0, type = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"s", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 12u);
    size = 11;
    EXPECT_EQ(RegQueryValueExW(key, u"s", nullptr, &type, buffer, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 12u);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    size = 12;
    EXPECT_EQ(RegQueryValueExW(key, u"s", nullptr, nullptr, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(std::u16string_view(reinterpret_cast<const char16_t*>(buffer)), u"12345");
    EXPECT_EQ(RegQueryValueExW(key, u"s", nullptr, nullptr, buffer, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegQueryValueExW(key, u"missing", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegQueryValueExW(key, nullptr, nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
}

TEST(Registry, ValueDataHasALimit)
{
    Key key;
    ASSERT_EQ(Create(HKEY_CURRENT_USER, u"Software\\Big", key), ERROR_SUCCESS);
    const std::string largest(1 << 20, 'x');
    EXPECT_EQ(RegSetValueExW(key, u"v", 0, REG_BINARY, reinterpret_cast<const BYTE*>(largest.data()),
                  static_cast<DWORD>(largest.size())),
        ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(key, u"v", 0, REG_BINARY, reinterpret_cast<const BYTE*>(largest.data()),
                  static_cast<DWORD>(largest.size() + 1)),
        ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueExW(key, u"v", 0, REG_BINARY, nullptr, 4), ERROR_NOACCESS);
}

TEST(Registry, EnumerationIsSortedWithoutCase)
{
    Key key;
    ASSERT_EQ(Create(HKEY_CURRENT_USER, u"Software\\Sorted", key), ERROR_SUCCESS);
    for (const char16_t* name : { u"b", u"A", u"c", u"_", u"a1" }) {
        Key sub;
        ASSERT_EQ(Create(key, name, sub), ERROR_SUCCESS);
        ASSERT_EQ(SetDword(key, name, 1), ERROR_SUCCESS);
    }
    // Upper case sorts as it compares: '_' (0x5F) after the letters.
    const Names expected { u"A", u"a1", u"b", u"c", u"_" };
    EXPECT_EQ(Subkeys(key), expected);
    EXPECT_EQ(ValueNames(key), expected);

    char16_t name[2];
    DWORD chars = 2;
    EXPECT_EQ(RegEnumKeyExW(key, 1, name, &chars, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    chars = 2;
    DWORD bytes = 3;
    BYTE data[4];
    EXPECT_EQ(RegEnumValueW(key, 0, name, &chars, nullptr, nullptr, data, &bytes), ERROR_MORE_DATA);
    EXPECT_EQ(bytes, 4u);
}

TEST(Registry, QueryInfoKeyCountsAndMeasures)
{
    Key key, sub;
    ASSERT_EQ(Create(HKEY_CURRENT_USER, u"Software\\Info", key), ERROR_SUCCESS);
    ASSERT_EQ(Create(key, u"Seven77", sub), ERROR_SUCCESS);
    ASSERT_EQ(SetString(key, u"LongerName", u"abc"), ERROR_SUCCESS);
    ASSERT_EQ(SetDword(key, u"d", 5), ERROR_SUCCESS);
    DWORD subkeys = 0, maxSubkey = 0, values = 0, maxValueName = 0, maxValue = 0;
    FILETIME written {};
    ASSERT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, &maxSubkey, nullptr, &values, &maxValueName,
                  &maxValue, nullptr, &written),
        ERROR_SUCCESS);
    EXPECT_EQ(subkeys, 1u);
    EXPECT_EQ(maxSubkey, 7u);
    EXPECT_EQ(values, 2u);
    EXPECT_EQ(maxValueName, 10u);
    EXPECT_EQ(maxValue, 8u);
    EXPECT_NE(written.dwHighDateTime, 0u);
}

TEST(Registry, DeleteKeyRefusesAKeyWithSubkeys)
{
    Key parent, child;
    ASSERT_EQ(Create(HKEY_CURRENT_USER, u"Software\\Parent\\Child", child), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Parent", 0, KEY_ALL_ACCESS, &parent), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u"Software\\Parent"), ERROR_ACCESS_DENIED);
    ASSERT_EQ(RegDeleteKeyW(parent, u"child"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyW(parent, u"child"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u"Software\\Parent"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u""), ERROR_ACCESS_DENIED);
}

TEST(Registry, AHandleToADeletedKeyStaysDeleted)
{
    Key key;
    ASSERT_EQ(Create(HKEY_CURRENT_USER, u"Software\\Doomed", key), ERROR_SUCCESS);
    ASSERT_EQ(SetDword(key, u"v", 1), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u"Software\\Doomed"), ERROR_SUCCESS);
    Key again, sub;
    ASSERT_EQ(Create(HKEY_CURRENT_USER, u"Software\\Doomed", again), ERROR_SUCCESS);
    ASSERT_EQ(SetDword(again, u"v", 2), ERROR_SUCCESS);

    DWORD size = 4, chars = 8;
    char16_t name[8];
    EXPECT_EQ(RegQueryValueExW(key, u"v", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
    EXPECT_EQ(RegQueryValueExW(key, u"other", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
    EXPECT_EQ(SetDword(key, u"v", 3), ERROR_KEY_DELETED);
    EXPECT_EQ(RegDeleteValueW(key, u"v"), ERROR_KEY_DELETED);
    EXPECT_EQ(RegEnumKeyExW(key, 0, name, &chars, nullptr, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
    EXPECT_EQ(RegEnumValueW(key, 0, name, &chars, nullptr, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
    EXPECT_EQ(Create(key, u"sub", sub), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(key.handle), ERROR_SUCCESS);
    key.handle = nullptr;
    DWORD value = 0;
    size = sizeof(value);
    EXPECT_EQ(RegQueryValueExW(again, u"v", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size), ERROR_SUCCESS);
    EXPECT_EQ(value, 2u);
}

TEST(Registry, BadHandlesAndPathsFail)
{
    const HKEY bogus = reinterpret_cast<HKEY>(0x1234);
    Key key;
    DWORD size = 0;
    EXPECT_EQ(RegOpenKeyExW(bogus, u"x", 0, KEY_READ, &key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegQueryValueExW(bogus, u"x", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
    EXPECT_EQ(SetDword(bogus, u"x", 1), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(bogus), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(nullptr), ERROR_INVALID_HANDLE);

    HKEY closed = nullptr;
    ASSERT_EQ(RegCreateKeyExW(
                  HKEY_CURRENT_USER, u"Software\\Closed", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &closed, nullptr),
        ERROR_SUCCESS);
    ASSERT_EQ(RegCloseKey(closed), ERROR_SUCCESS);
    EXPECT_EQ(SetDword(closed, u"x", 1), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(closed), ERROR_INVALID_HANDLE);

    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"No\\Such\\Key", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key.handle, nullptr);
    EXPECT_EQ(Create(HKEY_CURRENT_USER, u"Software\\\\Twice", key), ERROR_BAD_PATHNAME);
    EXPECT_EQ(Create(HKEY_CURRENT_USER, std::u16string(256, u'k').c_str(), key), ERROR_INVALID_PARAMETER);
}

TEST(Registry, AHandleHasOnlyTheRightsItAskedFor)
{
    Key writable, readable;
    ASSERT_EQ(Create(HKEY_CURRENT_USER, u"Software\\Rights", writable), ERROR_SUCCESS);
    ASSERT_EQ(SetDword(writable, u"v", 1), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Rights", 0, KEY_READ, &readable), ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(readable, u"v", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(SetDword(readable, u"v", 2), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteValueW(readable, u"v"), ERROR_ACCESS_DENIED);
    Key sub;
    EXPECT_EQ(Create(readable, u"new", sub), ERROR_ACCESS_DENIED);
}

TEST(Registry, NewRootsCarryThePlatformDefaults)
{
    EXPECT_EQ(QueryString(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage", u"ACP"), u"1252");
    EXPECT_EQ(QueryString(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage", u"OEMCP"), u"437");
    DWORD enabled = 7, type = 0, size = sizeof(enabled);
    EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, u"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings",
                  u"ProxyEnable", RRF_RT_ANY, &type, &enabled, &size),
        ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(enabled, 0u);
}

TEST(Registry, DeleteTreeRemovesEverythingBelow)
{
    Key top, deep;
    ASSERT_EQ(Create(HKEY_CURRENT_USER, u"Software\\Tree", top), ERROR_SUCCESS);
    ASSERT_EQ(Create(top, u"a\\b\\c", deep), ERROR_SUCCESS);
    ASSERT_EQ(SetDword(deep, u"v", 1), ERROR_SUCCESS);
    ASSERT_EQ(SetDword(top, u"v", 1), ERROR_SUCCESS);
    Key sibling;
    ASSERT_EQ(Create(HKEY_CURRENT_USER, u"Software\\Tree2", sibling), ERROR_SUCCESS);

    // Without a subkey, the key stays and loses its contents.
    ASSERT_EQ(RegDeleteTreeW(top, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(Subkeys(top), Names {});
    EXPECT_EQ(ValueNames(top), Names {});
    EXPECT_EQ(SetDword(deep, u"v", 2), ERROR_KEY_DELETED);
    ASSERT_EQ(Create(top, u"x\\y", deep), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, u"Software\\Tree"), ERROR_SUCCESS);
    EXPECT_EQ(SetDword(top, u"v", 2), ERROR_KEY_DELETED);
    Key check;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Tree2", 0, KEY_READ, &check), ERROR_SUCCESS);
}

TEST(Registry, GetValueChecksTypesAndTerminatesStrings)
{
    Key key;
    ASSERT_EQ(Create(HKEY_CURRENT_USER, u"Software\\Get", key), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, u"bare", 0, REG_SZ, reinterpret_cast<const BYTE*>(u"ab"), 4), ERROR_SUCCESS);
    ASSERT_EQ(SetString(key, u"path", u"%REGISTRY_TEST_HOME%\\x;%UNSET_VARIABLE%", REG_EXPAND_SZ), ERROR_SUCCESS);
    ASSERT_EQ(SetDword(key, u"n", 9), ERROR_SUCCESS);
    setenv("REGISTRY_TEST_HOME", "/home/t", 1);

    char16_t text[64];
    DWORD size = sizeof(text), type = 0;
    ASSERT_EQ(RegGetValueW(key, nullptr, u"bare", RRF_RT_REG_SZ, &type, text, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(std::u16string_view(text), u"ab");
    size = sizeof(text);
    ASSERT_EQ(RegGetValueW(key, nullptr, u"path", RRF_RT_REG_SZ, &type, text, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(std::u16string_view(text), u"/home/t\\x;%UNSET_VARIABLE%");
    size = sizeof(text);
    ASSERT_EQ(
        RegGetValueW(key, nullptr, u"path", RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, &type, text, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
    size = sizeof(text);
    EXPECT_EQ(RegGetValueW(key, nullptr, u"n", RRF_RT_REG_SZ, &type, text, &size), ERROR_UNSUPPORTED_TYPE);
    EXPECT_EQ(RegGetValueW(key, nullptr, u"n", 0, &type, text, &size), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(
        RegGetValueW(HKEY_CURRENT_USER, u"Software\\Get", u"n", RRF_RT_DWORD, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 4u);
}

TEST(Registry, LegacyDefaultValueCalls)
{
    ASSERT_EQ(RegSetValueW(HKEY_CURRENT_USER, u"Software\\Legacy\\Sub", REG_SZ, u"hello", 0), ERROR_SUCCESS);
    char16_t text[16];
    LONG size = sizeof(text);
    ASSERT_EQ(RegQueryValueW(HKEY_CURRENT_USER, u"Software\\Legacy\\Sub", text, &size), ERROR_SUCCESS);
    EXPECT_EQ(std::u16string_view(text), u"hello");
    EXPECT_EQ(size, 12);
    // A key whose default value was never set reads as an empty string.
    size = sizeof(text);
    ASSERT_EQ(RegQueryValueW(HKEY_CURRENT_USER, u"Software\\Legacy", text, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 2);
    Key key;
    ASSERT_EQ(RegOpenKeyW(HKEY_CURRENT_USER, u"Software\\Legacy", &key), ERROR_SUCCESS);
    EXPECT_EQ(RegSetKeyValueW(key, u"Other", u"n", REG_SZ, u"x", 4), ERROR_SUCCESS);
    EXPECT_EQ(QueryString(key, u"Other", u"n"), u"x");
}

TEST(Registry, ThreadsShareTheRegistry)
{
    constexpr int Threads = 4;
    constexpr int Rounds = 200;
    Key shared;
    ASSERT_EQ(Create(HKEY_CURRENT_USER, u"Software\\Threads", shared), ERROR_SUCCESS);
    std::atomic<int> failures { 0 };
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < Rounds; ++round) {
                const std::string name = "T" + std::to_string(t) + "_" + std::to_string(round);
                const std::u16string wide(name.begin(), name.end());
                HKEY key = nullptr;
                DWORD value = 0, size = sizeof(value);
                const bool ok
                    = RegCreateKeyExW(shared, wide.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr)
                        == ERROR_SUCCESS
                    && SetDword(shared, wide.c_str(), round) == ERROR_SUCCESS
                    && RegQueryValueExW(shared, wide.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size)
                        == ERROR_SUCCESS
                    && value == static_cast<DWORD>(round) && RegCloseKey(key) == ERROR_SUCCESS;
                failures += ok ? 0 : 1;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(Subkeys(shared).size(), static_cast<size_t>(Threads * Rounds));
    EXPECT_EQ(ValueNames(shared).size(), static_cast<size_t>(Threads * Rounds));
}

TEST(Registry, ADatabaseThatIsNotOneFailsEveryCall)
{
    const std::string path = testing_support::TestRoot() + "/registry.db";
    if (std::filesystem::exists(path))
        GTEST_SKIP() << "the registry of this process is already open (run the case on its own, as ctest does)";
    std::ofstream(path) << std::string(8192, '\x5A');
    Key key;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM", 0, KEY_READ, &key), ERROR_REGISTRY_IO_FAILED);
    EXPECT_EQ(Create(HKEY_CURRENT_USER, u"Software\\X", key), ERROR_REGISTRY_IO_FAILED);
    EXPECT_EQ(SetDword(HKEY_CURRENT_USER, u"x", 1), ERROR_REGISTRY_IO_FAILED);
    EXPECT_EQ(key.handle, nullptr);
}

// HKEY_CLASSES_ROOT merges the user's classes over the machine's.
class ClassesRoot : public testing::Test {
protected:
    void SetUp() override
    {
        Key key;
        ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes\\CLSID\\{Both}", key), ERROR_SUCCESS);
        ASSERT_EQ(SetString(key, nullptr, u"machine"), ERROR_SUCCESS);
        ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes\\CLSID\\{Machine}", key), ERROR_SUCCESS);
        ASSERT_EQ(SetString(key, nullptr, u"machine"), ERROR_SUCCESS);
        ASSERT_EQ(Create(HKEY_CURRENT_USER, u"Software\\Classes\\CLSID\\{both}", key), ERROR_SUCCESS);
        ASSERT_EQ(SetString(key, nullptr, u"user"), ERROR_SUCCESS);
        ASSERT_EQ(Create(HKEY_CURRENT_USER, u"Software\\Classes\\CLSID\\{User}", key), ERROR_SUCCESS);
        ASSERT_EQ(SetString(key, nullptr, u"user"), ERROR_SUCCESS);
    }

    static std::u16string Machine(const char16_t* path, const char16_t* name = nullptr)
    {
        return QueryString(HKEY_LOCAL_MACHINE, (std::u16string(u"SOFTWARE\\Classes\\") + path).c_str(), name);
    }

    static std::u16string User(const char16_t* path, const char16_t* name = nullptr)
    {
        return QueryString(HKEY_CURRENT_USER, (std::u16string(u"Software\\Classes\\") + path).c_str(), name);
    }
};

TEST_F(ClassesRoot, TheUsersKeyHidesTheMachines)
{
    EXPECT_EQ(QueryString(HKEY_CLASSES_ROOT, u"CLSID\\{Both}", nullptr), u"user");
    EXPECT_EQ(QueryString(HKEY_CLASSES_ROOT, u"CLSID\\{Machine}", nullptr), u"machine");
    EXPECT_EQ(QueryString(HKEY_CLASSES_ROOT, u"CLSID\\{User}", nullptr), u"user");
    Key clsid;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, u"CLSID", 0, KEY_READ, &clsid), ERROR_SUCCESS);
    EXPECT_EQ(Subkeys(clsid), (Names { u"{both}", u"{Machine}", u"{User}" }));
    DWORD subkeys = 0;
    ASSERT_EQ(RegQueryInfoKeyW(clsid, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                  nullptr, nullptr),
        ERROR_SUCCESS);
    EXPECT_EQ(subkeys, 3u);
}

TEST_F(ClassesRoot, WritesGoWhereTheKeyIs)
{
    Key both, machine, viaUser, viaMachine, top;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, u"CLSID\\{Both}", 0, KEY_ALL_ACCESS, &both), ERROR_SUCCESS);
    ASSERT_EQ(SetString(both, u"v", u"1"), ERROR_SUCCESS);
    EXPECT_EQ(User(u"CLSID\\{Both}", u"v"), u"1");
    ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, u"CLSID\\{Machine}", 0, KEY_ALL_ACCESS, &machine), ERROR_SUCCESS);
    ASSERT_EQ(SetString(machine, u"v", u"2"), ERROR_SUCCESS);
    EXPECT_EQ(Machine(u"CLSID\\{Machine}", u"v"), u"2");

    // New keys go to the tree that holds their parent; below the root, to the machine's.
    ASSERT_EQ(Create(HKEY_CLASSES_ROOT, u"CLSID\\{User}\\InprocServer32", viaUser), ERROR_SUCCESS);
    ASSERT_EQ(SetString(viaUser, nullptr, u"u.so"), ERROR_SUCCESS);
    EXPECT_EQ(User(u"CLSID\\{User}\\InprocServer32"), u"u.so");
    ASSERT_EQ(Create(machine, u"LocalServer32", viaMachine), ERROR_SUCCESS);
    ASSERT_EQ(SetString(viaMachine, nullptr, u"m.exe"), ERROR_SUCCESS);
    EXPECT_EQ(Machine(u"CLSID\\{Machine}\\LocalServer32"), u"m.exe");
    ASSERT_EQ(Create(HKEY_CLASSES_ROOT, u".new", top), ERROR_SUCCESS);
    ASSERT_EQ(SetString(top, nullptr, u"n"), ERROR_SUCCESS);
    EXPECT_EQ(Machine(u".new"), u"n");
}

TEST_F(ClassesRoot, OverridePredefKeySendsItToTheUsersClasses)
{
    Key classes;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Classes", 0, KEY_ALL_ACCESS, &classes), ERROR_SUCCESS);
    ASSERT_EQ(RegOverridePredefKey(HKEY_CLASSES_ROOT, classes), ERROR_SUCCESS);
    ASSERT_EQ(RegCloseKey(classes.handle), ERROR_SUCCESS);
    classes.handle = nullptr;

    Key created;
    ASSERT_EQ(Create(HKEY_CLASSES_ROOT, u"Per.User", created), ERROR_SUCCESS);
    ASSERT_EQ(SetString(created, nullptr, u"mine"), ERROR_SUCCESS);
    EXPECT_EQ(User(u"Per.User"), u"mine");
    // While overridden, the machine's classes are out of view.
    EXPECT_EQ(QueryString(HKEY_CLASSES_ROOT, u"CLSID\\{Machine}", nullptr), u"error 2");

    ASSERT_EQ(RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(QueryString(HKEY_CLASSES_ROOT, u"CLSID\\{Machine}", nullptr), u"machine");
    EXPECT_EQ(QueryString(HKEY_CLASSES_ROOT, u"Per.User", nullptr), u"mine");
    EXPECT_EQ(RegOverridePredefKey(reinterpret_cast<HKEY>(0x1234), nullptr), ERROR_INVALID_HANDLE);
}

TEST(Registry, CurrentUserLivesUnderUsers)
{
    Key users;
    ASSERT_EQ(RegOpenKeyExW(HKEY_USERS, nullptr, 0, KEY_READ, &users), ERROR_SUCCESS);
    const Names sids = Subkeys(users);
    ASSERT_EQ(sids.size(), 1u);
    Key user;
    ASSERT_EQ(Create(HKEY_CURRENT_USER, u"Software\\Seen", user), ERROR_SUCCESS);
    Key viaUsers;
    EXPECT_EQ(RegOpenKeyExW(users, (sids[0] + u"\\Software\\Seen").c_str(), 0, KEY_READ, &viaUsers), ERROR_SUCCESS);
}

}
