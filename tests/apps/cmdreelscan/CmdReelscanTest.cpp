// CmdReelscan.exe as a process: what ends it early, each with its own exit code and message.
#include "ProgramRun.h"
#include "TestRoot.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

TEST(CmdReelscan, EndsAtOnceWithADistinctCodeWhenItCannotServe)
{
    WNDCLASSW windowClass {};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.lpszClassName = u"CmdReelscanTestClient";
    RegisterClassW(&windowClass);
    const HWND client
        = CreateWindowExW(0, u"CmdReelscanTestClient", nullptr, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(client);
    const std::string live = std::to_string(reinterpret_cast<LONG_PTR>(client));

    struct Case {
        const char* name;
        std::string arguments;
        int exitCode;
        const char* message;
    };
    const Case cases[] = {
        { "no arguments", "", 1, "usage" },
        { "no window", "http://vimeo.com/1", 1, "usage" },
        { "window not decimal", "http://vimeo.com/1 0x10", 1, "usage" },
        { "window that does not exist", "http://vimeo.com/1 123456", 4, "client window" },
        // The fresh root has no ReelscanModule registered.
        { "server not registered", "http://vimeo.com/1 " + live, 2, "cannot create ReqService" },
    };
    const std::string program = testing_support::BinaryDirectory() + "/CmdReelscan.exe";
    for (const Case& c : cases) {
        const testing_support::ProgramRun run = testing_support::RunProgram(program + " " + c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.name << ": " << run.output;
        EXPECT_NE(run.output.find(c.message), std::string::npos) << c.name << ": " << run.output;
    }
    DestroyWindow(client);
}
