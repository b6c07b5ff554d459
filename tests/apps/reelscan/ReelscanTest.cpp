// reelscan as a user runs it: a real process in a directory of its own beside the stand-in
// CmdReelscan.exe (see tests/proxy/StandInCompanion.cpp), whose URL names the records it sends,
// and a stand-in ReelscanModule.exe: a script that registers a class for the ProgID with the reg
// tool, so that the fresh-root registration can be watched without the real server.
#include "CmdReelscanWindow.h"
#include "ProcessTree.h"
#include "ProgramRun.h"
#include "TestRoot.h"
#include "windows.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
constexpr auto kPatience = std::chrono::seconds(60);

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

enum class Companion { Beside, Missing };
enum class ErrorStream { Pipe, Terminal };
// What befalls a run: nothing, a Ctrl-C after its first output, or the death of its CmdReelscan.
enum class Interrupt { Never, AfterFirstOutput, KillCompanion };

// Copies reelscan (and the stand-in, unless missing) into a directory of the test's root.
fs::path MakeAppDirectory(Companion companion)
{
    const fs::path directory
        = fs::path(testing_support::TestRoot()) / (companion == Companion::Beside ? "app" : "app-alone");
    fs::create_directories(directory);
    fs::copy_file(REELSCAN_PROGRAM, directory / "reelscan", fs::copy_options::overwrite_existing);
    if (companion == Companion::Beside)
        fs::copy_file(STANDIN_COMPANION, directory / "CmdReelscan.exe", fs::copy_options::overwrite_existing);
    return directory;
}

// Runs reelscan with the arguments, collecting both outputs; a run that outlasts kPatience is
// killed and fails the test.
Outcome RunReelscan(Companion companion, std::vector<std::string> arguments,
    ErrorStream errorStream = ErrorStream::Pipe, Interrupt interrupt = Interrupt::Never)
{
    const fs::path program = MakeAppDirectory(companion) / "reelscan";
    arguments.insert(arguments.begin(), program.string());
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    // The copies lost the build's $ORIGIN, so the libraries are found through the search path.
    setenv("LD_LIBRARY_PATH", PLATFORM_LIBRARIES, 1);

    int out[2], err[2];
    EXPECT_EQ(pipe(out), 0);
    if (errorStream == ErrorStream::Terminal) {
        err[0] = posix_openpt(O_RDWR | O_NOCTTY);
        EXPECT_GE(err[0], 0);
        EXPECT_EQ(grantpt(err[0]), 0);
        EXPECT_EQ(unlockpt(err[0]), 0);
        err[1] = open(ptsname(err[0]), O_RDWR | O_NOCTTY);
    } else {
        EXPECT_EQ(pipe(err), 0);
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, err[0]);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    Outcome outcome;
    if (spawned != 0) {
        ADD_FAILURE() << "cannot start " << program;
        return outcome;
    }
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    pollfd fds[2] = { { out[0], POLLIN, 0 }, { err[0], POLLIN, 0 } };
    std::string* sinks[2] = { &outcome.out, &outcome.err };
    int open = 2;
    int status = 0;
    bool companionKilled = false;
    while (open > 0 && std::chrono::steady_clock::now() < deadline) {
        if (interrupt == Interrupt::KillCompanion && !companionKilled && FindWindowW(CMDREELSCAN_WND_CLASS, nullptr)) {
            // The proxy started it, so it is a child of one of reelscan's threads. It dies a while
            // after its start, as one does whose server cannot be created.
            Sleep(200);
            std::error_code error;
            for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
                std::ifstream children(task.path() / "children");
                for (pid_t child = 0; children >> child;)
                    kill(child, SIGKILL);
            }
            companionKilled = true;
        }
        if (poll(fds, 2, 100) <= 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP)))
                continue;
            char buffer[4096];
            const ssize_t got = read(fds[i].fd, buffer, sizeof(buffer));
            if (got > 0) {
                if (i == 0 && interrupt == Interrupt::AfterFirstOutput && outcome.out.empty())
                    kill(pid, SIGINT);
                sinks[i]->append(buffer, static_cast<size_t>(got));
            } else {
                fds[i].fd = -1;
                --open;
            }
        }
    }
    if (open > 0) {
        ADD_FAILURE() << "reelscan did not end; killed";
        kill(pid, SIGKILL);
    }
    waitpid(pid, &status, 0);
    close(out[0]);
    close(err[0]);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

std::vector<nlohmann::json> JsonLines(const std::string& text)
{
    std::vector<nlohmann::json> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(nlohmann::json::parse(line));
    return lines;
}

const std::string kClip = "send=caf%E9|icon.ico|C=1|http://page|http://media/clip.flv|flv|1234567";
const std::string kOther = "send=Other||||http://media/other.mp4|mp4|0";

std::string StandInUrl(const std::vector<std::string>& actions)
{
    std::string url = "http://standin.invalid/?";
    for (const std::string& action : actions)
        url += (url.back() == '?' ? "" : "~") + action;
    return url;
}

// What the stand-in ReelscanModule.exe does when it is run.
enum class StandInServer { Registers, RegistersNothing, Fails };

void WriteStandInServer(const fs::path& directory, StandInServer behaviour)
{
    const std::string reg = testing_support::BinaryDirectory() + "/reg";
    const std::string clsid = "{5B0E3C52-7A41-4C3A-9A7E-0E2F6A1D7C01}";
    const fs::path script = directory / "ReelscanModule.exe";
    {
        std::ofstream out(script, std::ios::trunc);
        out << "#!/bin/sh\n[ \"$1\" = /RegServerPerUser ] || exit 3\n";
        if (behaviour == StandInServer::Fails)
            out << "exit 5\n";
        if (behaviour == StandInServer::Registers)
            out << reg << " add 'HKCU\\Software\\Classes\\ReelscanModule.ReqService\\CLSID' /ve /d '" << clsid
                << "' /f >/dev/null || exit 4\n"
                << reg << " add 'HKCU\\Software\\Classes\\CLSID\\" << clsid << "\\LocalServer32' /ve /d \"$0\" /f"
                << " >/dev/null || exit 4\n";
    }
    fs::permissions(script, fs::perms::owner_all);
}

// Every test ends with no CmdReelscan left running.
class FreshRoot : public testing::Test {
protected:
    void TearDown() override
    {
        // Shorter than the stand-in's own lifetime, so that only reelscan's ending of it counts.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (FindWindowW(CMDREELSCAN_WND_CLASS, nullptr) && std::chrono::steady_clock::now() < deadline)
            Sleep(20);
        EXPECT_FALSE(FindWindowW(CMDREELSCAN_WND_CLASS, nullptr)) << "reelscan leaves CmdReelscan running";
    }
};

// A root in which the stand-in server is already registered.
class Reelscan : public FreshRoot {
protected:
    void SetUp() override
    {
        const fs::path directory = MakeAppDirectory(Companion::Beside);
        WriteStandInServer(directory, StandInServer::Registers);
        const auto run
            = testing_support::RunProgram((directory / "ReelscanModule.exe").string() + " /RegServerPerUser");
        ASSERT_EQ(run.exitCode, 0) << run.output;
    }
};

}

TEST_F(Reelscan, JsonPrintsEveryRecordAsOneObjectPerLine)
{
    const Outcome outcome
        = RunReelscan(Companion::Beside, { "--json", "--timeout", "1.5", StandInUrl({ kClip, kClip, kOther }) });
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    const std::vector<nlohmann::json> lines = JsonLines(outcome.out);
    ASSERT_EQ(lines.size(), 3u) << outcome.out;
    const nlohmann::json clip = lines[0]["title"] == "Other" ? lines[1] : lines[0];
    EXPECT_EQ(
        clip, nlohmann::json::parse(R"({"title":"café","type":"flv","length":1234567,"url":"http://media/clip.flv",
        "href":"http://page","cookie":"C=1","icon":"icon.ico"})"));
}

TEST_F(Reelscan, UniqueDropsRepeatsAndFirstStopsAtOne)
{
    const Outcome unique = RunReelscan(
        Companion::Beside, { "--json", "--unique", "--timeout", "1.5", StandInUrl({ kClip, kClip, kOther, kClip }) });
    EXPECT_EQ(unique.status, 0) << unique.err;
    EXPECT_EQ(JsonLines(unique.out).size(), 2u) << unique.out;

    // A time-out of ten minutes: only the stop flag can end this run in time.
    const Outcome first = RunReelscan(
        Companion::Beside, { "--first", "--json", "--timeout", "600", StandInUrl({ kClip, kOther, kOther }) });
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(JsonLines(first.out).size(), 1u) << first.out;
}

TEST_F(Reelscan, ReadableBlockNamesEveryField)
{
    const Outcome outcome = RunReelscan(Companion::Beside, { "--first", StandInUrl({ kClip }) });
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.out,
        "Title:  café\nType:   flv\nSize:   1.2 MiB (1234567 bytes)\nMedia:  http://media/clip.flv\n"
        "Page:   http://page\nCookie: C=1\nIcon:   icon.ico\n\n");
    EXPECT_EQ(outcome.err, "") << "no progress display off a terminal";
}

TEST_F(Reelscan, NothingFoundAndMissingCompanionHaveTheirOwnStatus)
{
    const Outcome none = RunReelscan(Companion::Beside, { "--timeout", "1.2", StandInUrl({}) });
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.out, "");
    EXPECT_NE(none.err.find("no video found on http://standin.invalid/"), std::string::npos) << none.err;

    // Without CmdReelscan the request returns at once, whatever the time-out.
    const Outcome missing = RunReelscan(Companion::Missing, { "--timeout", "600", StandInUrl({ kClip }) });
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("CmdReelscan.exe is missing"), std::string::npos) << missing.err;
}

TEST_F(Reelscan, BadUsageExitsWithTwo)
{
    const struct {
        const char* name;
        std::vector<std::string> arguments;
        const char* message;
    } cases[] = {
        { "no URL", {}, "no URL given" },
        { "unknown option", { "--fast", "http://a/" }, "unknown option '--fast'" },
        { "two URLs", { "http://a/", "http://b/" }, "one too many" },
        { "not a URL", { "youtube" }, "'youtube' is not a URL" },
        { "time-out without value", { "http://a/", "--timeout" }, "--timeout needs" },
        { "time-out of zero", { "--timeout", "0", "http://a/" }, "above 0, not '0'" },
        { "time-out not a number", { "--timeout", "soon", "http://a/" }, "not 'soon'" },
        { "demo with a request option", { "demo", "--json" }, "reelscan demo takes only --timeout, not '--json'" },
    };
    for (const auto& test : cases) {
        const Outcome outcome = RunReelscan(Companion::Beside, test.arguments);
        EXPECT_EQ(outcome.status, 2) << test.name;
        EXPECT_NE(outcome.err.find(test.message), std::string::npos) << test.name << ": " << outcome.err;
        EXPECT_NE(outcome.err.find("Try 'reelscan --help'"), std::string::npos) << test.name;
    }
    const Outcome help = RunReelscan(Companion::Beside, { "--help" });
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: reelscan [options] URL", 0), 0u) << help.out;
}

TEST_F(Reelscan, ProgressShowsOnATerminal)
{
    const Outcome outcome = RunReelscan(
        Companion::Beside, { "--json", "--timeout", "1.5", StandInUrl({ kClip }) }, ErrorStream::Terminal);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(JsonLines(outcome.out).size(), 1u);
    EXPECT_NE(outcome.err.find("reelscan: working, 1 s, 1 video"), std::string::npos) << outcome.err;
}

// A companion that dies while its request runs (as one does whose server cannot be created) ends
// the request at once; nothing else would before the time-out of ten minutes.
TEST_F(Reelscan, CompanionThatDiesEndsTheRequest)
{
    const Outcome outcome = RunReelscan(
        Companion::Beside, { "--timeout", "600", StandInUrl({}) }, ErrorStream::Pipe, Interrupt::KillCompanion);
    EXPECT_EQ(outcome.status, 2);
    EXPECT_EQ(outcome.out, "");
    EXPECT_NE(outcome.err.find("reelscan: CmdReelscan.exe ended before the request was over"), std::string::npos)
        << outcome.err;
}

// Ctrl-C ends the request, and CmdReelscan with it (the fixture checks that it is gone).
TEST_F(Reelscan, InterruptEndsTheRequestAndCmdReelscan)
{
    const Outcome outcome = RunReelscan(Companion::Beside, { "--json", "--timeout", "600", StandInUrl({ kClip }) },
        ErrorStream::Pipe, Interrupt::AfterFirstOutput);
    EXPECT_EQ(outcome.status, 0) << "a video was found before the interrupt";
    EXPECT_EQ(JsonLines(outcome.out).size(), 1u);
}

// On a fresh root the first run registers the server from its own directory, says so once and goes
// on with the request; a server that is missing, fails or registers nothing is a set-up problem.
TEST_F(FreshRoot, FirstRunRegistersTheServerOnce)
{
    const fs::path directory = MakeAppDirectory(Companion::Beside);
    const fs::path server = directory / "ReelscanModule.exe";
    const std::vector<std::string> arguments = { "--json", "--first", StandInUrl({ kClip }) };
    const struct {
        const char* name;
        std::optional<StandInServer> server;
        const char* message;
    } failures[] = {
        { "missing", std::nullopt, "ReelscanModule.exe is missing" },
        { "failing", StandInServer::Fails, "/RegServerPerUser failed with 0x00000005" },
        { "registering nothing", StandInServer::RegistersNothing, "left no ReelscanModule.ReqService class" },
    };
    for (const auto& test : failures) {
        std::error_code ignored; // absent already in the first row
        fs::remove(server, ignored);
        if (test.server)
            WriteStandInServer(directory, *test.server);
        const Outcome outcome = RunReelscan(Companion::Beside, arguments);
        EXPECT_EQ(outcome.status, 2) << test.name;
        EXPECT_EQ(outcome.out, "") << test.name;
        EXPECT_NE(outcome.err.find(test.message), std::string::npos) << test.name << ": " << outcome.err;
    }

    WriteStandInServer(directory, StandInServer::Registers);
    const Outcome first = RunReelscan(Companion::Beside, arguments);
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(JsonLines(first.out).size(), 1u) << first.out;
    EXPECT_EQ(first.err,
        "reelscan: registered the request service for this user: " + server.string() + " /RegServerPerUser\n");
    const Outcome second = RunReelscan(Companion::Beside, arguments);
    EXPECT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(second.err, "") << "registered once, not again";
}

// The demo with the stand-ins, which find nothing on its pages: it asks for every service in a
// root of its own, registers the server there, and leaves neither a process nor that root behind,
// also when interrupted.
TEST_F(FreshRoot, DemoUsesARootOfItsOwnAndLeavesNothingBehind)
{
    BecomeSubreaper();
    const fs::path directory = MakeAppDirectory(Companion::Beside);
    WriteStandInServer(directory, StandInServer::Registers);
    fs::copy_file(DEMOWEB_PROGRAM, directory / "demoweb", fs::copy_options::overwrite_existing);
    const struct {
        const char* name;
        Interrupt interrupt;
        int status;
        std::vector<std::string> output;
    } cases[] = {
        { "to the end", Interrupt::Never, 1,
            { "== YouTube: http://www.youtube.com/watch?v=two-streams\n",
                "== Break: ", "reelscan demo: 0 of 6 services gave a video",
                "; none from YouTube, Vimeo, LiveLeak, Metacafe, MyVideo, Break\n" } },
        { "interrupted", Interrupt::AfterFirstOutput, 130, {} },
    };
    for (const auto& test : cases) {
        const Outcome outcome
            = RunReelscan(Companion::Beside, { "demo", "--timeout", "1.1" }, ErrorStream::Pipe, test.interrupt);
        EXPECT_EQ(outcome.status, test.status) << test.name << ": " << outcome.err;
        for (const std::string& text : test.output)
            EXPECT_NE(outcome.out.find(text), std::string::npos) << test.name << ": " << outcome.out;
        const std::string marker = ", machine root ";
        const size_t at = outcome.out.find(marker);
        ASSERT_NE(at, std::string::npos) << test.name << ": " << outcome.out;
        const std::string root
            = outcome.out.substr(at + marker.size(), outcome.out.find('\n', at) - at - marker.size());
        EXPECT_NE(root, testing_support::TestRoot()) << test.name;
        EXPECT_FALSE(fs::exists(root)) << test.name << ": " << root << " is left";
        EXPECT_TRUE(ReapUntil(std::chrono::steady_clock::now() + std::chrono::seconds(5)).empty())
            << test.name << ": processes are left";
        EXPECT_EQ(outcome.err.find("left over"), std::string::npos) << test.name << ": " << outcome.err;
    }
    HKEY key = nullptr;
    EXPECT_NE(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Classes\\ReelscanModule.ReqService", 0, KEY_READ, &key),
        ERROR_SUCCESS)
        << "the demo registered the server in the root it was started in";
}
