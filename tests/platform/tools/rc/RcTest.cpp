#include "TestRoot.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <sys/wait.h>

namespace {

struct RcRun {
    int exitCode;
    std::string output;
};

class Rc : public testing::Test {
protected:
    void SetUp() override
    {
        m_directory = testing_support::TestRoot() + "/rc";
        std::filesystem::create_directories(m_directory);
        WriteFile("text.txt", "not a picture");
        WriteFile("short.ico", std::string("\0\0\1\0\2\0", 6));
        WriteFile("ids.h", "#ifndef IDS_H\n#define IDS_H\n#define IDS_TITLE 5\nint f(void);\n#endif\n");
    }

    void WriteFile(const std::string& name, const std::string& text) const
    {
        std::ofstream(m_directory + "/" + name, std::ios::binary) << text;
    }

    static std::string ReadFile(const std::string& path)
    {
        std::ifstream stream(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(stream), {});
    }

    // Runs rc on a script, with its messages.
    RcRun Compile(const std::string& script) const
    {
        WriteFile("script.rc", script);
        const std::string command = testing_support::BinaryDirectory() + "/rc -d " + m_directory + "/out.d -o "
            + m_directory + "/out.cpp " + m_directory + "/script.rc 2>&1";
        FILE* pipe = popen(command.c_str(), "r");
        if (!pipe)
            return { -1, "cannot start rc" };
        std::string output;
        char buffer[256];
        while (size_t count = fread(buffer, 1, sizeof(buffer), pipe))
            output.append(buffer, count);
        const int status = pclose(pipe);
        return { WIFEXITED(status) ? WEXITSTATUS(status) : -1, output };
    }

    std::string m_directory;
};

}

TEST_F(Rc, BadScriptsFailWithFileAndLine)
{
    struct Case {
        const char* row;
        std::string script;
        std::string message;
    } cases[] = {
        { "missing resource file", "\n1 TYPELIB \"missing.tlb\"\n",
            "script.rc:2: error: cannot find resource file 'missing.tlb'" },
        { "missing include", "#include \"nothere.h\"\n", "script.rc:1: error: cannot find include file 'nothere.h'" },
        { "unterminated string", "STRINGTABLE\nBEGIN\n  1 \"open\nEND\n",
            "script.rc:3: error: string without its closing quote" },
        { "string defined twice", "STRINGTABLE\nBEGIN\n 1 \"a\"\n 1 \"b\"\nEND\n",
            "script.rc:4: error: string 1 is defined twice" },
        { "resource defined twice", "1 RCDATA \"text.txt\"\n1 RCDATA \"text.txt\"\n", "is defined twice" },
        { "undefined id", "#include \"ids.h\"\nSTRINGTABLE\nBEGIN\n IDS_TITEL \"x\"\nEND\n",
            "script.rc:4: error: 'IDS_TITEL' is not defined" },
        { "unsupported statement", "1 DIALOG 0, 0, 10, 10\n",
            "script.rc:1: error: 'DIALOG' resources are not supported" },
        { "not a bitmap", "1 BITMAP \"text.txt\"\n", "script.rc:1: error: not a bitmap file" },
        { "truncated icon", "1 ICON \"short.ico\"\n", "script.rc:1: error: icon file is truncated" },
        { "missing END", "STRINGTABLE\nBEGIN\n 1 \"a\"\n", "error: unexpected end of the script" },
        { "unbalanced #if", "#ifdef X\n", "error: #if without #endif" },
        { "stray character", "1 RCDATA @\n", "script.rc:1: error: unexpected character '@'" },
    };
    for (const Case& c : cases) {
        std::filesystem::remove(m_directory + "/out.cpp");
        const RcRun run = Compile(c.script);
        EXPECT_EQ(run.exitCode, 1) << c.row;
        EXPECT_NE(run.output.find(c.message), std::string::npos) << c.row << ": " << run.output;
        EXPECT_FALSE(std::filesystem::exists(m_directory + "/out.cpp")) << c.row << ": no output is left";
    }
}

TEST_F(Rc, AGoodScriptGivesATableAndItsDependencies)
{
    const RcRun run = Compile("#include \"ids.h\"\n1 RCDATA \"text.txt\"\nSTRINGTABLE { IDS_TITLE \"t\" }\n");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(run.output, "");
    const std::string table = ReadFile(m_directory + "/out.cpp");
    EXPECT_NE(table.find("RegisterModuleResources"), std::string::npos);
    const std::string depfile = ReadFile(m_directory + "/out.d");
    EXPECT_EQ(depfile.rfind(m_directory + "/out.cpp:", 0), 0u) << depfile;
    for (const char* input : { "/script.rc", "/ids.h", "/text.txt" })
        EXPECT_NE(depfile.find(m_directory + input), std::string::npos) << input << " in " << depfile;
}
