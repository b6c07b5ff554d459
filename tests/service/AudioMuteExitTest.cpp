#include "TestRoot.h"

#include <gtest/gtest.h>
#include <string>
#include <windows.h>

TEST(AudioMuteExit, TheExitHandlerRunsWhenTheProcessEnds)
{
    const std::string probe = testing_support::BinaryDirectory() + "/AudioMuteExitProbe";
    std::u16string commandLine = u"\"" + std::u16string(probe.begin(), probe.end()) + u"\"";
    STARTUPINFOW startup {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process {};
    ASSERT_TRUE(
        CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 30000), WAIT_OBJECT_0);
    DWORD exitCode = 99;
    EXPECT_TRUE(GetExitCodeProcess(process.hProcess, &exitCode));
    EXPECT_EQ(exitCode, 0u) << "1: the target was still known after exit; 2: nothing was patched";
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}
