#include "TestRoot.h"
#include "Utf.h"
#include "windows.h"

#include <gtest/gtest.h>
#include <string>

extern "C" const char __ehdr_start[] __attribute__((visibility("hidden")));

namespace {

const std::u16string ProbeName = u"ModuleProbe";

std::u16string ProbePath()
{
    return platform::FromUtf8(testing_support::BinaryDirectory() + "/libModuleProbe.so");
}

std::u16string FileNameOf(HMODULE module)
{
    WCHAR buffer[1024];
    const DWORD length = GetModuleFileNameW(module, buffer, 1024);
    return std::u16string(buffer, length);
}

}

TEST(Library, LoadsByWindowsNamesAndFindsOnlyLoadedModules)
{
    SetLastError(0);
    EXPECT_EQ(GetModuleHandleW(ProbeName.c_str()), nullptr) << "not loaded yet, and not loaded by asking";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(GetModuleHandleW(ProbeName.c_str()), nullptr);

    const HMODULE module = LoadLibraryW(u"ModuleProbe.dll");
    ASSERT_NE(module, nullptr);
    std::u16string windowsPath = ProbePath();
    for (char16_t& c : windowsPath)
        c = c == u'/' ? u'\\' : c;
    const std::u16string names[] = { u"moduleprobe", u"MODULEPROBE.DLL", u"libModuleProbe.so", windowsPath };
    for (const std::u16string& name : names)
        EXPECT_EQ(GetModuleHandleW(name.c_str()), module) << platform::ToUtf8(name);
    EXPECT_EQ(LoadLibraryW(ProbePath().c_str()), module) << "a full path";

    auto answer = reinterpret_cast<int (*)()>(reinterpret_cast<void*>(GetProcAddress(module, "ModuleProbeAnswer")));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    auto ownModule
        = reinterpret_cast<HMODULE (*)()>(reinterpret_cast<void*>(GetProcAddress(module, "ModuleProbeOwnModule")));
    ASSERT_NE(ownModule, nullptr);
    EXPECT_EQ(ownModule(), module) << "the library finds its own module from an address in it";
    EXPECT_EQ(FileNameOf(module), ProbePath());

    for (const char* missing : { "NoSuchExport", "GetModuleHandleExW" /* a dependency's, not its own */ }) {
        SetLastError(0);
        EXPECT_EQ(GetProcAddress(module, missing), nullptr) << missing;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND)) << missing;
    }

    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_EQ(GetModuleHandleW(ProbeName.c_str()), module) << "loaded twice, freed once";
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_EQ(GetModuleHandleW(ProbeName.c_str()), nullptr) << "unloaded";
}

TEST(Library, FailsForMissingLibrariesAndUnknownModules)
{
    SetLastError(0);
    EXPECT_EQ(LoadLibraryW(u"NoSuchLibrary"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    int notAModule = 0;
    const HMODULE bogus = reinterpret_cast<HMODULE>(&notAModule);
    SetLastError(0);
    EXPECT_FALSE(FreeLibrary(bogus));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    WCHAR buffer[16];
    EXPECT_EQ(GetModuleFileNameW(bogus, buffer, 16), 0u);
    EXPECT_EQ(GetProcAddress(bogus, "ModuleProbeAnswer"), nullptr);
}

TEST(Library, TheProgramAndKernel32AreModules)
{
    EXPECT_EQ(GetModuleHandleW(nullptr), reinterpret_cast<HMODULE>(const_cast<char*>(__ehdr_start)));
    EXPECT_EQ(FileNameOf(nullptr), platform::FromUtf8(testing_support::BinaryDirectory() + "/kernel32_module_tests"));
    HMODULE program = nullptr;
    EXPECT_TRUE(GetModuleHandleExW(0, nullptr, &program));
    EXPECT_EQ(program, GetModuleHandleW(nullptr));
    EXPECT_EQ(GetModuleHandleW(u"KERNEL32_MODULE_TESTS"), program) << "the program by its own file name";

    const HMODULE kernel32 = GetModuleHandleW(u"KERNEL32.DLL");
    ASSERT_NE(kernel32, nullptr);
    EXPECT_EQ(GetModuleHandleW(u"kernel32"), kernel32);
    HMODULE fromAddress = nullptr;
    EXPECT_TRUE(
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&GetTickCount), &fromAddress));
    EXPECT_EQ(fromAddress, kernel32);
    EXPECT_EQ(
        reinterpret_cast<void*>(GetProcAddress(kernel32, "GetTickCount")), reinterpret_cast<void*>(&GetTickCount));
}

TEST(Library, GetModuleFileNameTruncatesAndTerminatesTooSmallBuffers)
{
    const std::u16string full = FileNameOf(nullptr);
    const DWORD length = static_cast<DWORD>(full.size());
    struct Case {
        const char* name;
        DWORD size;
        DWORD expected;
        DWORD error;
    } cases[] = {
        { "room to spare", length + 5, length, 0 },
        { "exactly enough", length + 1, length, 0 },
        { "no room for the terminator", length, length, ERROR_INSUFFICIENT_BUFFER },
        { "five characters", 5, 5, ERROR_INSUFFICIENT_BUFFER },
        { "one character", 1, 1, ERROR_INSUFFICIENT_BUFFER },
    };
    for (const Case& c : cases) {
        std::u16string buffer(length + 8, u'#');
        SetLastError(0);
        EXPECT_EQ(GetModuleFileNameW(nullptr, buffer.data(), c.size), c.expected) << c.name;
        EXPECT_EQ(GetLastError(), c.error) << c.name;
        const size_t copied = std::min<size_t>(length, c.size - 1);
        EXPECT_EQ(buffer.substr(0, copied), full.substr(0, copied)) << c.name;
        EXPECT_EQ(buffer[copied], u'\0') << c.name;
    }
}
