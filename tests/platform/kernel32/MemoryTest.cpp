#include <windows.h>

#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

extern "C" const char __ehdr_start[] __attribute__((visibility("hidden")));

namespace {

const HANDLE CurrentProcess = GetCurrentProcess();
const SIZE_T Page = static_cast<SIZE_T>(sysconf(_SC_PAGESIZE));

char* Allocate(SIZE_T size, DWORD protection)
{
    return static_cast<char*>(VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, protection));
}

MEMORY_BASIC_INFORMATION Query(const void* address)
{
    MEMORY_BASIC_INFORMATION info {};
    EXPECT_EQ(VirtualQueryEx(CurrentProcess, address, &info, sizeof info), sizeof info);
    return info;
}

int FunctionOfTheProgram()
{
    return 1;
}

const char TextOfTheProgram[] = "read-only data of the program";

}

TEST(Memory, QueryDescribesWhatLiesAtAnAddress)
{
    int onTheStack = 0;
    char* allocated = Allocate(3 * Page, PAGE_READWRITE);
    ASSERT_NE(allocated, nullptr);
    const void* program = __ehdr_start;
    struct Case {
        const char* name;
        const void* address;
        DWORD protect;
        DWORD type;
        const void* allocationBase; // null: not checked
    } cases[] = {
        { "stack", &onTheStack, PAGE_READWRITE, MEM_PRIVATE, nullptr },
        { "code of the program", reinterpret_cast<const void*>(&FunctionOfTheProgram), PAGE_EXECUTE_READ, MEM_IMAGE,
            program },
        { "constant of the program", TextOfTheProgram, PAGE_READONLY, MEM_IMAGE, program },
        { "allocation", allocated + Page + 17, PAGE_READWRITE, MEM_PRIVATE, allocated },
    };
    for (const Case& c : cases) {
        const MEMORY_BASIC_INFORMATION info = Query(c.address);
        const auto address = reinterpret_cast<std::uintptr_t>(c.address);
        const auto base = reinterpret_cast<std::uintptr_t>(info.BaseAddress);
        EXPECT_EQ(base, address & ~(Page - 1)) << c.name;
        EXPECT_GE(info.RegionSize, Page) << c.name;
        EXPECT_EQ(info.RegionSize % Page, 0u) << c.name;
        EXPECT_EQ(info.State, static_cast<DWORD>(MEM_COMMIT)) << c.name;
        EXPECT_EQ(info.Protect, c.protect) << c.name;
        EXPECT_EQ(info.Type, c.type) << c.name;
        if (c.allocationBase) {
            EXPECT_EQ(info.AllocationBase, c.allocationBase) << c.name;
        }
    }

    const MEMORY_BASIC_INFORMATION rest = Query(allocated + Page);
    EXPECT_EQ(rest.RegionSize, 2 * Page) << "a region ends with its allocation";
    EXPECT_EQ(rest.AllocationProtect, static_cast<DWORD>(PAGE_READWRITE));

    ASSERT_TRUE(VirtualFree(allocated, 0, MEM_RELEASE));
    const MEMORY_BASIC_INFORMATION freed = Query(allocated);
    EXPECT_EQ(freed.State, static_cast<DWORD>(MEM_FREE));
    EXPECT_EQ(freed.Protect, static_cast<DWORD>(PAGE_NOACCESS));
    EXPECT_EQ(freed.AllocationBase, nullptr);
    EXPECT_GE(freed.RegionSize, 3 * Page);
}

TEST(Memory, ProtectChangesWholePagesAndReportsTheOldProtection)
{
    char* pages = Allocate(3 * Page, PAGE_READWRITE);
    ASSERT_NE(pages, nullptr);
    DWORD old = 0;
    // Two bytes that straddle the boundary between the first and second page.
    ASSERT_TRUE(VirtualProtect(pages + Page - 1, 2, PAGE_EXECUTE_READ, &old));
    EXPECT_EQ(old, static_cast<DWORD>(PAGE_READWRITE));

    const MEMORY_BASIC_INFORMATION changed = Query(pages);
    EXPECT_EQ(changed.Protect, static_cast<DWORD>(PAGE_EXECUTE_READ));
    EXPECT_EQ(changed.RegionSize, 2 * Page);
    EXPECT_EQ(changed.AllocationBase, pages);
    EXPECT_EQ(Query(pages + 2 * Page).Protect, static_cast<DWORD>(PAGE_READWRITE));

    ASSERT_TRUE(VirtualProtectEx(CurrentProcess, pages + Page, 1, PAGE_NOACCESS, &old));
    EXPECT_EQ(old, static_cast<DWORD>(PAGE_EXECUTE_READ));
    EXPECT_EQ(Query(pages + Page).Protect, static_cast<DWORD>(PAGE_NOACCESS));
    EXPECT_TRUE(VirtualFree(pages, 0, MEM_RELEASE));
}

TEST(Memory, BadArgumentsFailWithTheirErrors)
{
    char* live = Allocate(Page, PAGE_READWRITE);
    ASSERT_NE(live, nullptr);
    char* page = Allocate(Page, PAGE_READWRITE);
    ASSERT_NE(page, nullptr);
    ASSERT_TRUE(VirtualFree(page, 0, MEM_RELEASE)); // now a page that surely is free
    MEMORY_BASIC_INFORMATION info;
    DWORD old;
    SIZE_T done;
    char byte = 0;
    const HANDLE notAHandle = reinterpret_cast<HANDLE>(0x1233);
    const void* pastTheAddressSpace = reinterpret_cast<const void*>(0x0000800000000000ull);
    struct Case {
        const char* name;
        std::function<bool()> call; // true when the call succeeded
        DWORD error;
    } cases[] = {
        { "query past the address space", [&] { return VirtualQuery(pastTheAddressSpace, &info, sizeof info) != 0; },
            ERROR_INVALID_PARAMETER },
        { "query into a short buffer", [&] { return VirtualQuery(live, &info, sizeof info - 1) != 0; },
            ERROR_BAD_LENGTH },
        { "query through no handle", [&] { return VirtualQueryEx(notAHandle, live, &info, sizeof info) != 0; },
            ERROR_INVALID_HANDLE },
        { "protect free memory", [&] { return VirtualProtect(page, 1, PAGE_READONLY, &old) != 0; },
            ERROR_INVALID_ADDRESS },
        { "protect with an unsupported protection",
            [&] { return VirtualProtect(live, 1, PAGE_READONLY | PAGE_GUARD, &old) != 0; }, ERROR_INVALID_PARAMETER },
        { "protect without the old protection", [&] { return VirtualProtect(live, 1, PAGE_READONLY, nullptr) != 0; },
            ERROR_NOACCESS },
        { "protect through no handle", [&] { return VirtualProtectEx(notAHandle, live, 1, PAGE_READONLY, &old) != 0; },
            ERROR_INVALID_HANDLE },
        { "read through no handle", [&] { return ReadProcessMemory(notAHandle, live, &byte, 1, &done) != 0; },
            ERROR_INVALID_HANDLE },
        { "write through no handle", [&] { return WriteProcessMemory(notAHandle, live, &byte, 1, &done) != 0; },
            ERROR_INVALID_HANDLE },
        { "allocate where memory is taken",
            [&] { return VirtualAlloc(live, Page, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE) != nullptr; },
            ERROR_INVALID_ADDRESS },
        { "allocate nothing", [&] { return VirtualAlloc(nullptr, 0, MEM_COMMIT, PAGE_READWRITE) != nullptr; },
            ERROR_INVALID_PARAMETER },
        { "release a part", [&] { return VirtualFree(live, Page, MEM_RELEASE) != 0; }, ERROR_INVALID_PARAMETER },
        { "release what was not allocated", [&] { return VirtualFree(live + 16, 0, MEM_RELEASE) != 0; },
            ERROR_INVALID_ADDRESS },
    };
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_FALSE(c.call()) << c.name;
        EXPECT_EQ(GetLastError(), c.error) << c.name;
    }
    EXPECT_TRUE(VirtualFree(live, 0, MEM_RELEASE));
}

TEST(Memory, CopiesStopAtMemoryThatCannotBeReachedWithoutFaulting)
{
    char* pages = Allocate(2 * Page, PAGE_READWRITE);
    ASSERT_NE(pages, nullptr);
    std::memset(pages, 'a', Page);
    DWORD old;
    ASSERT_TRUE(VirtualProtect(pages + Page, Page, PAGE_NOACCESS, &old));

    char buffer[20] = {};
    SIZE_T done = 99;
    EXPECT_FALSE(ReadProcessMemory(CurrentProcess, pages + Page - 10, buffer, sizeof buffer, &done));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PARTIAL_COPY));
    EXPECT_EQ(done, 10u) << "the bytes before the unreadable page are copied";
    EXPECT_EQ(std::string(buffer, 10), std::string(10, 'a'));

    ASSERT_TRUE(VirtualProtect(pages, Page, PAGE_READONLY, &old));
    const char text[] = "written";
    done = 99;
    EXPECT_FALSE(WriteProcessMemory(CurrentProcess, pages, text, sizeof text, &done));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOACCESS));
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(pages[0], 'a');

    ASSERT_TRUE(VirtualProtect(pages, Page, PAGE_READWRITE, &old));
    EXPECT_TRUE(WriteProcessMemory(CurrentProcess, pages + 100, text, sizeof text, &done));
    EXPECT_EQ(done, sizeof text);
    EXPECT_STREQ(pages + 100, text);
    EXPECT_TRUE(ReadProcessMemory(CurrentProcess, pages + 100, buffer, sizeof text, &done));
    EXPECT_EQ(done, sizeof text);
    EXPECT_STREQ(buffer, text);
    EXPECT_TRUE(VirtualFree(pages, 0, MEM_RELEASE));
}

TEST(Memory, CodeMadeWritableCanBeRewrittenAndRuns)
{
    // mov eax, imm32; ret
    const unsigned char returnsFortyTwo[] = { 0xB8, 42, 0, 0, 0, 0xC3 };
    char* code = Allocate(Page, PAGE_READWRITE);
    ASSERT_NE(code, nullptr);
    std::memcpy(code, returnsFortyTwo, sizeof returnsFortyTwo);
    DWORD old;
    ASSERT_TRUE(VirtualProtect(code, sizeof returnsFortyTwo, PAGE_EXECUTE_READ, &old));
    const auto function = reinterpret_cast<int (*)()>(code);
    EXPECT_EQ(function(), 42);

    // A real handle to the own process serves as well as the pseudo-handle.
    HANDLE self = nullptr;
    ASSERT_TRUE(
        DuplicateHandle(CurrentProcess, CurrentProcess, CurrentProcess, &self, 0, FALSE, DUPLICATE_SAME_ACCESS));
    const unsigned char seven = 7;
    SIZE_T done;
    EXPECT_FALSE(WriteProcessMemory(self, code + 1, &seven, 1, &done)) << "code is not writable";
    ASSERT_TRUE(VirtualProtectEx(self, code + 1, 1, PAGE_EXECUTE_READWRITE, &old));
    EXPECT_EQ(old, static_cast<DWORD>(PAGE_EXECUTE_READ));
    ASSERT_TRUE(WriteProcessMemory(self, code + 1, &seven, 1, &done));
    EXPECT_TRUE(FlushInstructionCache(self, code, sizeof returnsFortyTwo));
    ASSERT_TRUE(VirtualProtectEx(self, code + 1, 1, old, &old));
    EXPECT_TRUE(CloseHandle(self));
    EXPECT_EQ(function(), 7);
    EXPECT_EQ(Query(code).Protect, static_cast<DWORD>(PAGE_EXECUTE_READ));
    EXPECT_TRUE(VirtualFree(code, 0, MEM_RELEASE));
}

TEST(Memory, AllocationAtAnAddressStartsOnItsGranule)
{
    char* probe = Allocate(0x20000, PAGE_READWRITE);
    ASSERT_NE(probe, nullptr);
    ASSERT_TRUE(VirtualFree(probe, 0, MEM_RELEASE)); // leaves 128 KiB of free address space
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(probe) % 0x10000, 0u);

    char* placed
        = static_cast<char*>(VirtualAlloc(probe + 0x10000 + 123, 10, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    ASSERT_EQ(placed, probe + 0x10000);
    const MEMORY_BASIC_INFORMATION info = Query(placed);
    EXPECT_EQ(info.AllocationBase, placed);
    EXPECT_EQ(info.RegionSize, Page) << "the pages from the granule to the end of the range asked for";
    EXPECT_TRUE(VirtualFree(placed, 0, MEM_RELEASE));
}
