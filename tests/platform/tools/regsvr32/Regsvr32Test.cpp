#include "ProgramRun.h"
#include "TestRoot.h"
#include "winreg.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

namespace {

// Runs regsvr32 as its own process in this test's root, with its messages.
testing_support::ProgramRun Regsvr32(const std::string& arguments, const std::string& environment = "")
{
    return testing_support::RunProgram(
        environment + " " + testing_support::BinaryDirectory() + "/regsvr32 " + arguments);
}

bool Registered()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\RegTarget", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

TEST(Regsvr32, RegistersAndUnregisters)
{
    testing_support::ProgramRun run = Regsvr32("RegTarget.dll");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, "DllRegisterServer in RegTarget.dll succeeded.\n");
    EXPECT_TRUE(Registered());

    run = Regsvr32("/u /s RegTarget.dll");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, "") << "/s is silent";
    EXPECT_FALSE(Registered());

    const std::string path = testing_support::BinaryDirectory() + "/libRegTarget.so";
    run = Regsvr32("-S " + path);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(Registered());
    run = Regsvr32("-U " + path);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, "DllUnregisterServer in " + path + " succeeded.\n");
    EXPECT_FALSE(Registered());
}

TEST(Regsvr32, FailuresGiveRegsvr32sExitCodes)
{
    const struct {
        const char* name;
        std::string arguments;
        std::string environment;
        int exitCode;
        std::string message;
    } cases[] = {
        { "no library", "", "", 1, "Usage: regsvr32" },
        { "unknown switch", "/x RegTarget.dll", "", 1, "Usage: regsvr32" },
        { "two libraries", "RegTarget.dll kernel32.dll", "", 1, "Usage: regsvr32" },
        { "missing library", "NoSuchServer.dll", "", 3, "The module \"NoSuchServer.dll\" failed to load." },
        { "no entry point", "kernel32.dll", "", 4,
            "The module \"kernel32.dll\" was loaded but the entry-point DllRegisterServer was not found." },
        { "no unregistration entry point", "/u kernel32.dll", "", 4, "entry-point DllUnregisterServer was not found" },
        { "call fails", "RegTarget.dll", "REGTARGET_RESULT=0x80070005", 5,
            "the call to DllRegisterServer failed with error code 0x80070005." },
        { "silent failure", "/s NoSuchServer.dll", "", 3, "" },
    };
    for (const auto& row : cases) {
        const testing_support::ProgramRun run = Regsvr32(row.arguments, row.environment);
        EXPECT_EQ(run.exitCode, row.exitCode) << row.name << ": " << run.output;
        if (row.message.empty())
            EXPECT_EQ(run.output, "") << row.name;
        else
            EXPECT_NE(run.output.find(row.message), std::string::npos) << row.name << ": " << run.output;
    }
    EXPECT_FALSE(Registered());
}

}
