#include "TestRoot.h"
#include "Utf.h"
#include "WinRoot.h"
#include "windows.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using Report = std::multimap<std::string, std::string>;

std::string ProbePath()
{
    return testing_support::BinaryDirectory() + "/ProcessProbe.exe";
}

std::u16string Wide(const std::string& text)
{
    return platform::FromUtf8(text);
}

// Each test's probe writes its report here (PROBE_REPORT reaches it through the environment).
std::string ReportPath()
{
    static const std::string path = [] {
        std::string report = platform::RootPath("temp/probe-report.txt");
        setenv("PROBE_REPORT", report.c_str(), 1);
        return report;
    }();
    return path;
}

Report ReadReport()
{
    Report report;
    std::ifstream file(ReportPath());
    for (std::string line; std::getline(file, line);) {
        const size_t equals = line.find('=');
        if (equals != std::string::npos)
            report.emplace(line.substr(0, equals), line.substr(equals + 1));
    }
    return report;
}

std::string One(const Report& report, const std::string& key)
{
    const auto found = report.find(key);
    return found == report.end() ? "(missing)" : found->second;
}

std::vector<std::string> All(const Report& report, const std::string& key)
{
    std::vector<std::string> values;
    for (auto [it, end] = report.equal_range(key); it != end; ++it)
        values.push_back(it->second);
    return values;
}

struct Start {
    const char16_t* applicationName = nullptr;
    std::u16string commandLine;
    DWORD creationFlags = 0;
    void* environment = nullptr;
    const char16_t* directory = nullptr;
    STARTUPINFOW startup {};
};

// Starts the probe as start says; the process handle (its thread handle closed), or null.
HANDLE StartProbe(Start start)
{
    ReportPath();
    std::remove(ReportPath().c_str());
    start.startup.cb = sizeof(STARTUPINFOW);
    PROCESS_INFORMATION information {};
    std::u16string commandLine = start.commandLine;
    if (!CreateProcessW(start.applicationName, commandLine.empty() ? nullptr : commandLine.data(), nullptr, nullptr,
            FALSE, start.creationFlags, start.environment, start.directory, &start.startup, &information))
        return nullptr;
    EXPECT_EQ(commandLine, start.commandLine) << "CreateProcessW leaves the caller's command line as it was";
    EXPECT_NE(information.dwProcessId, 0u);
    CloseHandle(information.hThread);
    return information.hProcess;
}

// The exit code of a finished process; WAIT_FAILED if waiting fails.
DWORD ExitCodeOnceEnded(HANDLE process)
{
    DWORD code = WAIT_FAILED;
    if (WaitForSingleObject(process, INFINITE) != WAIT_OBJECT_0 || !GetExitCodeProcess(process, &code))
        return WAIT_FAILED;
    CloseHandle(process);
    return code;
}

}

TEST(Process, TheChildGetsTheExactCommandLineAndItsExitCode)
{
    struct Case {
        const char* name;
        bool withApplicationName;
        std::u16string commandLine;
        std::vector<std::string> arguments;
    } cases[] = {
        { "quoted program, odd spacing and escapes", false,
            u"\"" + Wide(ProbePath()) + u"\"   one \"two words\" a\\\"b --exit=3",
            { ProbePath(), "one", "two words", "a\"b", "--exit=3" } },
        { "blank-ended name found beside the caller, .exe added", false, u"ProcessProbe   --exit=3",
            { "ProcessProbe", "--exit=3" } },
        { "application name, first item anything", true, u"alias\\name.exe x  --exit=3",
            { "alias\\name.exe", "x", "--exit=3" } },
        { "application name, command line starting with a blank", true, u" http://host/page --exit=3",
            { "", "http://host/page", "--exit=3" } },
    };
    const std::u16string applicationName = Wide(ProbePath());
    for (const Case& c : cases) {
        Start start;
        start.commandLine = c.commandLine;
        start.applicationName = c.withApplicationName ? applicationName.c_str() : nullptr;
        const HANDLE process = StartProbe(start);
        ASSERT_NE(process, nullptr) << c.name << ": " << GetLastError();
        EXPECT_EQ(ExitCodeOnceEnded(process), 3u) << c.name;
        const Report report = ReadReport();
        EXPECT_EQ(One(report, "commandline"), platform::ToUtf8(c.commandLine)) << c.name;
        EXPECT_EQ(All(report, "arg"), c.arguments) << c.name;
    }
}

TEST(Process, PassesStartupInformationDirectoryAndEnvironment)
{
    const std::string directory = platform::RootPath("temp");
    const std::u16string wideDirectory = Wide(directory);
    const std::string entries[] = { "PROBE_REPORT=" + ReportPath(), "PROBE_VALUE=caf\xc3\xa9" };
    std::u16string unicodeBlock;
    std::string ansiBlock;
    for (const std::string& entry : entries) {
        unicodeBlock += Wide(entry) + u'\0';
        ansiBlock += entry + '\0';
    }
    unicodeBlock += u'\0';
    ansiBlock += '\0';

    Start start;
    start.commandLine = u"ProcessProbe";
    start.creationFlags = CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT;
    start.environment = unicodeBlock.data();
    start.directory = wideDirectory.c_str();
    start.startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    start.startup.wShowWindow = 0; // SW_HIDE
    ASSERT_EQ(ExitCodeOnceEnded(StartProbe(start)), 0u);
    Report report = ReadReport();
    EXPECT_EQ(One(report, "flags"), std::to_string(STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES));
    EXPECT_EQ(One(report, "show"), "0");
    EXPECT_EQ(One(report, "cwd"), directory);
    EXPECT_EQ(One(report, "value"), "caf\xc3\xa9");
    EXPECT_EQ(One(report, "stdout"), "/dev/null") << "empty standard handles";

    start.creationFlags = 0;
    start.environment = ansiBlock.data();
    start.startup.dwFlags = STARTF_USESHOWWINDOW;
    start.startup.wShowWindow = 1; // SW_SHOWNORMAL
    ASSERT_EQ(ExitCodeOnceEnded(StartProbe(start)), 0u);
    report = ReadReport();
    EXPECT_EQ(One(report, "show"), "1");
    EXPECT_EQ(One(report, "value"), "caf\xc3\xa9") << "an ANSI block";
    EXPECT_NE(One(report, "stdout"), "/dev/null") << "the caller's standard handles";

    start.environment = nullptr;
    ASSERT_EQ(ExitCodeOnceEnded(StartProbe(start)), 0u);
    EXPECT_EQ(One(ReadReport(), "value"), "(none)") << "the caller's environment";
}

TEST(Process, FailsForMissingProgramsAndDirectories)
{
    const std::u16string missingPath = Wide(testing_support::TestRoot() + "/NoSuchProgram.exe");
    const std::u16string probe = Wide(ProbePath());
    struct Case {
        const char* name;
        const char16_t* applicationName;
        std::u16string commandLine;
        const char16_t* directory;
        DWORD error;
    } cases[] = {
        { "missing name on the command line", nullptr, u"NoSuchProgram --exit=1", nullptr, ERROR_FILE_NOT_FOUND },
        { "missing quoted path", nullptr, u"\"" + missingPath + u"\" x", nullptr, ERROR_FILE_NOT_FOUND },
        { "missing application name", missingPath.c_str(), u"x", nullptr, ERROR_FILE_NOT_FOUND },
        { "application names are not searched for", u"ProcessProbe.exe", u"x", nullptr, ERROR_FILE_NOT_FOUND },
        { "missing directory", probe.c_str(), u"x", u"/no/such/directory", ERROR_DIRECTORY },
    };
    for (const Case& c : cases) {
        Start start;
        start.applicationName = c.applicationName;
        start.commandLine = c.commandLine;
        start.directory = c.directory;
        SetLastError(0);
        EXPECT_EQ(StartProbe(start), nullptr) << c.name;
        EXPECT_EQ(GetLastError(), c.error) << c.name;
    }
}

TEST(Process, HandlesCanBeWaitedOnTogetherAndTerminated)
{
    Start hanging;
    hanging.commandLine = u"ProcessProbe --hang";
    const HANDLE hung = StartProbe(hanging);
    ASSERT_NE(hung, nullptr);
    Start quick;
    quick.commandLine = u"ProcessProbe --exit=-2"; // a code that needs all 32 bits
    const HANDLE done = StartProbe(quick);
    ASSERT_NE(done, nullptr);
    const HANDLE both[] = { hung, done };
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, INFINITE), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(ExitCodeOnceEnded(done), 0xFFFFFFFEu);

    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeProcess(hung, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    const HANDLE opened = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, GetProcessId(hung));
    ASSERT_NE(opened, nullptr);
    EXPECT_TRUE(TerminateProcess(hung, 77));
    EXPECT_EQ(ExitCodeOnceEnded(hung), 77u);
    EXPECT_EQ(ExitCodeOnceEnded(opened), 77u) << "OpenProcess names the same child";

    const HANDLE parent = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(getppid()));
    ASSERT_NE(parent, nullptr) << "a process that is not a child";
    EXPECT_EQ(WaitForSingleObject(parent, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    CloseHandle(parent);
    SetLastError(0);
    EXPECT_EQ(OpenProcess(SYNCHRONIZE, FALSE, 0x7FFFFFF0), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    ASSERT_TRUE(GetExitCodeProcess(GetCurrentProcess(), &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_EQ(GetProcessId(GetCurrentProcess()), GetCurrentProcessId());
    SetLastError(0);
    EXPECT_FALSE(GetExitCodeProcess(nullptr, &code));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(Process, AProgramStartedFromAShellSeesItsArgumentsQuotedAndOtherChildrenKeepTheirExits)
{
    ReportPath();
    std::string arguments[] = { "ProcessProbe.exe", "two words", "quote\"d", "--exit=9" };
    char* argv[] = { arguments[0].data(), arguments[1].data(), arguments[2].data(), arguments[3].data(), nullptr };
    // A start-up block meant for another process (the one that started this one) is ignored.
    setenv("WINSTARTUP", "0000000001;1;5;not this one", 1);
    pid_t direct = 0;
    ASSERT_EQ(posix_spawn(&direct, ProbePath().c_str(), nullptr, nullptr, argv, environ), 0);
    int status = 0;
    ASSERT_EQ(waitpid(direct, &status, 0), direct);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 9);
    const Report report = ReadReport();
    EXPECT_EQ(One(report, "commandline"), "ProcessProbe.exe \"two words\" \"quote\\\"d\" --exit=9");
    EXPECT_EQ(One(report, "flags"), "0");

    // A child that kernel32 did not start keeps its exit for its own parent while kernel32's
    // children come and go.
    ASSERT_EQ(posix_spawn(&direct, ProbePath().c_str(), nullptr, nullptr, argv, environ), 0);
    Start start;
    start.commandLine = u"ProcessProbe --exit=4";
    EXPECT_EQ(ExitCodeOnceEnded(StartProbe(start)), 4u);
    ASSERT_EQ(waitpid(direct, &status, 0), direct);
    EXPECT_EQ(WEXITSTATUS(status), 9);
}

TEST(Process, ATestProgramStartedByCtestHasNoStartupFlags)
{
    STARTUPINFOW startup;
    GetStartupInfoW(&startup);
    EXPECT_EQ(startup.cb, sizeof(STARTUPINFOW));
    EXPECT_EQ(startup.dwFlags, 0u);
    EXPECT_NE(std::u16string(GetCommandLineW()).find(u"kernel32_process_tests"), std::u16string::npos);
}
