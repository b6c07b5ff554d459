#include "winbase.h"

#include "Module.h"
#include "TestRoot.h"
#include "resources/resource_ids.h"

#include <dlfcn.h>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>

namespace {

constexpr WORD German = MAKELANGID(0x07, SUBLANG_DEFAULT); // LANG_GERMAN

std::string FileBytes(const std::string& name)
{
    std::ifstream stream(std::string(RESOURCE_DIR) + "/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(stream), {});
}

// The bytes of a found resource, through the calls Windows code makes.
std::string ResourceBytes(HMODULE module, HRSRC resource)
{
    EXPECT_NE(resource, nullptr);
    if (!resource)
        return {};
    const void* data = LockResource(LoadResource(module, resource));
    EXPECT_NE(data, nullptr);
    return std::string(static_cast<const char*>(data), SizeofResource(module, resource));
}

// String id's text in its RT_STRING block, read as LoadStringW reads it.
std::u16string StringFromBlock(HRSRC block, UINT id)
{
    const auto* data = static_cast<const char16_t*>(LockResource(LoadResource(nullptr, block)));
    for (UINT i = 0; i < id % 16; ++i)
        data += 1 + *data;
    return std::u16string(data + 1, *data);
}

}

TEST(Resources, FindsTheProgramsResourcesByNumberAndName)
{
    struct Case {
        const char* row;
        const char16_t* name;
        const char16_t* type;
        std::string expected;
    } cases[] = {
        { "numbered name, named type", MAKEINTRESOURCEW(1), u"TYPELIB", FileBytes("typelib.bin") },
        { "type in any case", MAKEINTRESOURCEW(101), u"registry", FileBytes("appid.rgs") },
        { "name as #number", u"#101", u"REGISTRY", FileBytes("appid.rgs") },
        { "manifest", MAKEINTRESOURCEW(1), RT_MANIFEST, FileBytes("program.manifest") },
        { "named resource of a quoted type", u"settings", u"Text Data", FileBytes("appid.rgs") },
        { "quoted name of a numbered type", u"QUOTED NAME", MAKEINTRESOURCEW(300), FileBytes("typelib.bin") },
        { "bitmap without its file header", MAKEINTRESOURCEW(IDB_LOGO), RT_BITMAP, FileBytes("logo.bmp").substr(14) },
    };
    for (const Case& c : cases) {
        const HRSRC resource = FindResourceW(nullptr, c.name, c.type);
        EXPECT_EQ(ResourceBytes(nullptr, resource), c.expected) << c.row;
        EXPECT_EQ(FindResourceW(platform::ProgramModule(), c.name, c.type), resource) << c.row;
    }
}

TEST(Resources, ReportsWhatIsMissing)
{
    const HMODULE kernel32 = platform::ModuleFromAddress(reinterpret_cast<const void*>(&FindResourceW));
    struct Case {
        const char* row;
        HMODULE module;
        const char16_t* name;
        const char16_t* type;
        DWORD error;
    } cases[] = {
        { "unknown type", nullptr, MAKEINTRESOURCEW(1), u"NOSUCHTYPE", ERROR_RESOURCE_TYPE_NOT_FOUND },
        { "unknown numbered type", nullptr, MAKEINTRESOURCEW(1), RT_DIALOG, ERROR_RESOURCE_TYPE_NOT_FOUND },
        { "unknown name", nullptr, MAKEINTRESOURCEW(2), u"TYPELIB", ERROR_RESOURCE_NAME_NOT_FOUND },
        { "number is not a name", nullptr, u"1", u"TYPELIB", ERROR_RESOURCE_NAME_NOT_FOUND },
        { "module without resources", kernel32, MAKEINTRESOURCEW(1), u"TYPELIB", ERROR_RESOURCE_DATA_NOT_FOUND },
    };
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_EQ(FindResourceW(c.module, c.name, c.type), nullptr) << c.row;
        EXPECT_EQ(GetLastError(), c.error) << c.row;
    }
    SetLastError(0);
    EXPECT_EQ(FindResourceExW(nullptr, RT_STRING, MAKEINTRESOURCEW(1), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)),
        nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_LANG_NOT_FOUND));

    int notAResource = 0;
    const HRSRC bogus = reinterpret_cast<HRSRC>(&notAResource);
    EXPECT_EQ(LoadResource(nullptr, bogus), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(SizeofResource(nullptr, bogus), 0u);
    EXPECT_EQ(SizeofResource(nullptr, nullptr), 0u);
}

TEST(Resources, StoresStringsInBlocksOfSixteenPerLanguage)
{
    const HRSRC first = FindResourceW(nullptr, MAKEINTRESOURCEW(IDS_HELLO / 16 + 1), RT_STRING);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(SizeofResource(nullptr, first), (16 + 5 + 13) * sizeof(char16_t))
        << "sixteen lengths and the characters of the two strings";
    EXPECT_EQ(StringFromBlock(first, 0), u"");
    EXPECT_EQ(StringFromBlock(first, IDS_HELLO), u"Hello");
    EXPECT_EQ(StringFromBlock(first, IDS_QUOTE), u"say \"hi\"\tnow\n");
    const HRSRC second = FindResourceW(nullptr, MAKEINTRESOURCEW(IDS_SECOND_BLOCK / 16 + 1), RT_STRING);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(StringFromBlock(second, IDS_SECOND_BLOCK), u"second block");

    const HRSRC german = FindResourceExW(nullptr, RT_STRING, MAKEINTRESOURCEW(1), German);
    ASSERT_NE(german, nullptr);
    EXPECT_EQ(StringFromBlock(german, IDS_HELLO), u"Hallo \u00e9");
    EXPECT_EQ(
        FindResourceExW(nullptr, RT_STRING, MAKEINTRESOURCEW(1), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL)), first)
        << "the neutral language is preferred when none is asked for";
}

TEST(Resources, AnIconIsAGroupOverItsImages)
{
    const std::string group = ResourceBytes(nullptr, FindResourceW(nullptr, MAKEINTRESOURCEW(IDI_APP), RT_GROUP_ICON));
    ASSERT_EQ(group.size(), 6u + 2 * 14);
    EXPECT_EQ(group[4], 2) << "two images";
    const std::string file = FileBytes("app.ico");
    const std::string images[] = { "IMAGE-ONE-16x16", "IMAGE-TWO-32x32-BYTES" };
    for (size_t i = 0; i < 2; ++i) {
        const std::string entry = group.substr(6 + 14 * i, 14);
        EXPECT_EQ(entry.substr(0, 12), file.substr(6 + 16 * i, 12)) << "image " << i;
        const WORD id = static_cast<WORD>(static_cast<unsigned char>(entry[12]) | entry[13] << 8);
        EXPECT_EQ(ResourceBytes(nullptr, FindResourceW(nullptr, MAKEINTRESOURCEW(id), RT_ICON)), images[i]);
    }
}

TEST(Resources, ALibraryHasItsOwnTableWhileLoaded)
{
    const std::string path = testing_support::BinaryDirectory() + "/libkernel32_resource_library.so";
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    const HMODULE module = platform::ModuleFromAddress(dlsym(library, "ResourceLibraryMarker"));
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(ResourceBytes(module, FindResourceW(module, MAKEINTRESOURCEW(7), u"REGISTRY")), FileBytes("library.rgs"));
    EXPECT_EQ(ResourceBytes(module, FindResourceW(module, MAKEINTRESOURCEW(1), u"TYPELIB")), FileBytes("typelib.bin"))
        << "a file the build generated, found in an include directory";
    const HRSRC block = FindResourceW(module, MAKEINTRESOURCEW(1), RT_STRING);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(StringFromBlock(block, 1), u"from the library");
    EXPECT_EQ(FindResourceW(nullptr, MAKEINTRESOURCEW(7), u"REGISTRY"), nullptr) << "not the program's";
    EXPECT_EQ(StringFromBlock(FindResourceW(nullptr, MAKEINTRESOURCEW(1), RT_STRING), 1), u"Hello");

    ASSERT_EQ(dlclose(library), 0);
    SetLastError(0);
    EXPECT_EQ(FindResourceW(module, MAKEINTRESOURCEW(7), u"REGISTRY"), nullptr) << "withdrawn when unloaded";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_DATA_NOT_FOUND));
}
