#include "TestRoot.h"

#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

struct Outcome {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string ReadFile(const std::string& path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// Runs build/bin/reg with the arguments, standard input from /dev/null (not a terminal) and its
// output in files of the test's root.
Outcome RunReg(const std::vector<std::string>& arguments)
{
    const std::string program = testing_support::BinaryDirectory() + "/reg";
    const std::string outPath = testing_support::TestRoot() + "/reg.out";
    const std::string errPath = testing_support::TestRoot() + "/reg.err";
    std::vector<char*> argv { const_cast<char*>(program.c_str()) };
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    Outcome outcome;
    int status = 0;
    if (spawned != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return outcome;
    outcome.exitCode = WEXITSTATUS(status);
    outcome.out = ReadFile(outPath);
    outcome.err = ReadFile(errPath);
    return outcome;
}

std::string Describe(const std::vector<std::string>& arguments)
{
    std::string text = "reg";
    for (const std::string& argument : arguments)
        text += " " + argument;
    return text;
}

constexpr const char* Done = "The operation completed successfully.\n";

// Each step runs in order against the same root; a step with an empty expected output only
// checks the exit code and error text.
struct Step {
    std::vector<std::string> arguments;
    int exitCode;
    std::string out;
    std::string errorPart;
};

void RunSteps(const std::vector<Step>& steps)
{
    for (const Step& step : steps) {
        const Outcome outcome = RunReg(step.arguments);
        const std::string name = Describe(step.arguments);
        EXPECT_EQ(outcome.exitCode, step.exitCode) << name << "\n" << outcome.err;
        if (step.exitCode == 0) {
            EXPECT_EQ(outcome.out, step.out) << name;
            EXPECT_EQ(outcome.err, "") << name;
        } else {
            EXPECT_EQ(outcome.err.rfind("ERROR: ", 0), 0u) << name << ": " << outcome.err;
            EXPECT_NE(outcome.err.find(step.errorPart), std::string::npos) << name << ": " << outcome.err;
        }
    }
}

TEST(RegTool, AddsAndQueriesEveryType)
{
    RunSteps({
        { { "add", "HKCU\\Software\\Tool", "/v", "Text", "/d", "hello world" }, 0, Done, "" },
        { { "add", "HKCU\\Software\\Tool", "/v", "Path", "/t", "REG_EXPAND_SZ", "/d", "%TEMP%\\x" }, 0, Done, "" },
        { { "add", "HKCU\\Software\\Tool", "/v", "List", "/t", "reg_multi_sz", "/d", "a\\0b c" }, 0, Done, "" },
        { { "add", "HKCU\\Software\\Tool", "/v", "Split", "/t", "REG_MULTI_SZ", "/s", ",", "/d", "x,y" }, 0, Done, "" },
        { { "add", "HKCU\\Software\\Tool", "/v", "Count", "/t", "REG_DWORD", "/d", "255" }, 0, Done, "" },
        { { "add", "HKCU\\Software\\Tool", "/v", "Big", "/t", "REG_QWORD", "/d", "0x100000000" }, 0, Done, "" },
        { { "add", "HKCU\\Software\\Tool", "/v", "Blob", "/t", "REG_BINARY", "/d", "00ff7A" }, 0, Done, "" },
        { { "add", "HKCU\\Software\\Tool", "/v", "Nothing", "/t", "REG_NONE" }, 0, Done, "" },
        { { "add", "HKEY_CURRENT_USER\\Software\\Tool", "/ve", "/d", "default" }, 0, Done, "" },
        { { "add", "HKCU\\Software\\Tool\\Child" }, 0, Done, "" },
        { { "query", "HKCU\\Software\\Tool" }, 0,
            "\nHKEY_CURRENT_USER\\Software\\Tool\n"
            "    (Default)    REG_SZ    default\n"
            "    Big    REG_QWORD    0x100000000\n"
            "    Blob    REG_BINARY    00FF7A\n"
            "    Count    REG_DWORD    0xff\n"
            "    List    REG_MULTI_SZ    a\\0b c\n"
            "    Nothing    REG_NONE    \n"
            "    Path    REG_EXPAND_SZ    %TEMP%\\x\n"
            "    Split    REG_MULTI_SZ    x\\0y\n"
            "    Text    REG_SZ    hello world\n"
            "\nHKEY_CURRENT_USER\\Software\\Tool\\Child\n\n",
            "" },
        // Names are shown as typed, as they were looked up.
        { { "query", "hkcu\\software\\tool", "/v", "COUNT" }, 0,
            "\nHKEY_CURRENT_USER\\software\\tool\n    COUNT    REG_DWORD    0xff\n\n", "" },
        { { "query", "HKCU\\Software\\Tool\\Child", "/ve" }, 0,
            "\nHKEY_CURRENT_USER\\Software\\Tool\\Child\n    (Default)    REG_SZ    (value not set)\n\n", "" },
    });
}

TEST(RegTool, QueryRecursesWithS)
{
    RunSteps({
        { { "add", "HKLM\\SOFTWARE\\Deep\\A\\B", "/v", "x", "/t", "REG_DWORD", "/d", "1" }, 0, Done, "" },
        { { "add", "HKLM\\SOFTWARE\\Deep\\A", "/v", "x", "/d", "top" }, 0, Done, "" },
        { { "query", "HKLM\\SOFTWARE\\Deep", "/s" }, 0,
            "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Deep\n"
            "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Deep\\A\n    x    REG_SZ    top\n"
            "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Deep\\A\\B\n    x    REG_DWORD    0x1\n\n",
            "" },
        { { "query", "HKLM\\SOFTWARE\\Deep", "/s", "/v", "x" }, 0,
            "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Deep\\A\n    x    REG_SZ    top\n"
            "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Deep\\A\\B\n    x    REG_DWORD    0x1\n"
            "End of search: 2 match(es) found.\n",
            "" },
        // The merged classes root reads the machine's classes too.
        { { "add", "HKLM\\SOFTWARE\\Classes\\.rs", "/ve", "/d", "rsfile" }, 0, Done, "" },
        { { "query", "HKCR\\.rs", "/ve" }, 0, "\nHKEY_CLASSES_ROOT\\.rs\n    (Default)    REG_SZ    rsfile\n\n", "" },
    });
}

TEST(RegTool, OverwritingAndDeletingNeedF)
{
    RunSteps({
        { { "add", "HKCU\\Software\\Ask", "/v", "v", "/d", "1" }, 0, Done, "" },
        { { "add", "HKCU\\Software\\Ask", "/v", "v", "/d", "2" }, 1, "", "/f" },
        { { "query", "HKCU\\Software\\Ask", "/v", "v" }, 0,
            "\nHKEY_CURRENT_USER\\Software\\Ask\n    v    REG_SZ    1\n\n", "" },
        { { "add", "HKCU\\Software\\Ask", "/v", "v", "/d", "2", "/f" }, 0, Done, "" },
        { { "add", "HKCU\\Software\\Ask", "/v", "w", "/d", "3" }, 0, Done, "" },
        { { "delete", "HKCU\\Software\\Ask", "/v", "v" }, 1, "", "/f" },
        { { "delete", "HKCU\\Software\\Ask", "/v", "v", "/f" }, 0, Done, "" },
        { { "query", "HKCU\\Software\\Ask" }, 0, "\nHKEY_CURRENT_USER\\Software\\Ask\n    w    REG_SZ    3\n\n", "" },
        { { "delete", "HKCU\\Software\\Ask", "/va", "/f" }, 0, Done, "" },
        { { "query", "HKCU\\Software\\Ask" }, 0, "\nHKEY_CURRENT_USER\\Software\\Ask\n\n", "" },
        { { "add", "HKCU\\Software\\Ask\\Sub\\Deeper" }, 0, Done, "" },
        { { "delete", "HKCU\\Software\\Ask" }, 1, "", "/f" },
        { { "delete", "HKCU\\Software\\Ask", "/f" }, 0, Done, "" },
        { { "query", "HKCU\\Software\\Ask" }, 1, "", "unable to find" },
    });
}

TEST(RegTool, BadCommandsFailWithAnError)
{
    RunSteps({
        { {}, 1, "", "Invalid syntax" },
        { { "query" }, 1, "", "Invalid syntax" },
        { { "frobnicate", "HKCU\\Software" }, 1, "", "Invalid operation" },
        { { "query", "HKXY\\Software" }, 1, "", "Invalid key name" },
        { { "query", "HKCU\\No\\Such\\Key" }, 1, "", "unable to find" },
        { { "query", "HKLM\\SYSTEM", "/v", "Missing" }, 1, "", "unable to find" },
        { { "query", "HKCU\\Software", "/t", "REG_SZ" }, 1, "", "unexpected /t" },
        { { "query", "HKCU\\Software", "/v" }, 1, "", "needs a value" },
        { { "add", "HKCU\\Software\\Bad", "/v", "n", "/t", "REG_WORD" }, 1, "", "Invalid type" },
        { { "add", "HKCU\\Software\\Bad", "/v", "n", "/t", "REG_DWORD", "/d", "12x" }, 1, "", "Invalid number" },
        { { "add", "HKCU\\Software\\Bad", "/v", "n", "/t", "REG_DWORD", "/d", "0x100000000" }, 1, "",
            "Invalid number" },
        { { "add", "HKCU\\Software\\Bad", "/v", "n", "/t", "REG_BINARY", "/d", "abc" }, 1, "", "hexadecimal" },
        { { "delete", "HKCU", "/f" }, 1, "", "root" },
        { { "delete", "HKCU\\Software\\Nothing", "/f" }, 1, "", "unable to find" },
        { { "delete", "HKCU\\Software", "/v", "x", "/va" }, 1, "", "/va" },
    });
}

}
