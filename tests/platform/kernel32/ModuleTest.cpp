#include "Module.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

extern "C" const char __ehdr_start[] __attribute__((visibility("hidden")));

namespace {
void FunctionOfTheProgram()
{
}
}

TEST(Module, ProgramModuleIsTheBaseOfTheProgramImage)
{
    EXPECT_EQ(platform::ProgramModule(), reinterpret_cast<HMODULE>(const_cast<char*>(__ehdr_start)));
    EXPECT_EQ(
        platform::ModuleFromAddress(reinterpret_cast<const void*>(&FunctionOfTheProgram)), platform::ProgramModule());
}

TEST(Module, AnAddressInALibraryGivesThatLibrarysBase)
{
    const HMODULE libc = platform::ModuleFromAddress(reinterpret_cast<const void*>(&dlopen));
    ASSERT_NE(libc, nullptr);
    EXPECT_NE(libc, platform::ProgramModule());
    EXPECT_EQ(platform::ModuleFromAddress(nullptr), nullptr);
}
