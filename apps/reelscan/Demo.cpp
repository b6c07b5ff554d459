#include "Demo.h"

#include "Host.h"
#include "ProcessTree.h"
#include "Registration.h"
#include "windows.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

enum DemoStatus { kEveryService = 0, kSomeMissing = 1, kSetUpProblem = 2, kInterrupted = 130 };

struct DemoPage {
    const char* service;
    const char* url;
};

// One page per service from demoweb's sites, each one its analyzer finds a video on.
constexpr DemoPage kDemoPages[] = {
    { "YouTube", "http://www.youtube.com/watch?v=two-streams" },
    { "Vimeo", "http://vimeo.com/12345678" },
    { "LiveLeak", "http://www.liveleak.com/view?i=a81_1278958800" },
    { "Metacafe", "http://www.metacafe.com/watch/4031227/night_train/" },
    { "MyVideo", "http://www.myvideo.de/watch/7712345/Sommer_am_See" },
    { "Break", "http://www.break.com/index/skateboard-fail.html" },
};

constexpr auto kDemowebPatience = 10s;
// How long processes left over at the end get to end on their own, and then after SIGTERM.
constexpr auto kLeftoverGrace = 15s;
constexpr char kListening[] = "demoweb listening on 127.0.0.1:";
// A line of demoweb's that is longer than this is not its address line.
constexpr size_t kLineLimit = 4096;

// Shared with the signal thread: the reelscan child that a Ctrl-C is passed on to.
std::mutex g_lock;
pid_t g_request = -1;
bool g_interrupted = false;

bool Interrupted()
{
    const std::lock_guard lock(g_lock);
    return g_interrupted;
}

void WatchSignals(sigset_t signals)
{
    int signal = 0;
    while (sigwait(&signals, &signal) == 0) {
        const std::lock_guard lock(g_lock);
        g_interrupted = true;
        // reelscan ends its request through UnInitialize, which also ends its CmdReelscan.
        if (g_request > 0)
            kill(g_request, SIGINT);
    }
}

// Starts a child in a process group of its own (so that a Ctrl-C on the terminal reaches only the
// demo, which ends the children in order) with the default signal mask; -1 on failure.
pid_t Spawn(std::vector<std::string> arguments, int output = -1)
{
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (output >= 0)
        posix_spawn_file_actions_adddup2(&actions, output, STDOUT_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return spawned == 0 ? pid : -1;
}

int WaitFor(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

struct Demoweb {
    pid_t pid = -1;
    int port = 0;
};

// Reads demoweb's first line for its port, then drains its request log on a thread of its own
// so that demoweb never blocks on a full pipe.
Demoweb StartDemoweb(const fs::path& program, const std::string& root)
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return {};
    Demoweb demoweb;
    demoweb.pid = Spawn({ program.string(), "--port", "0", "--root", root }, ends[1]);
    close(ends[1]);
    if (demoweb.pid < 0) {
        close(ends[0]);
        return {};
    }
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + kDemowebPatience;
    while (line.find('\n') == std::string::npos && line.size() < kLineLimit) {
        const auto left
            = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd readable { ends[0], POLLIN, 0 };
        if (left.count() <= 0 || poll(&readable, 1, static_cast<int>(left.count())) <= 0)
            break;
        char buffer[256];
        const ssize_t got = read(ends[0], buffer, sizeof buffer);
        if (got <= 0)
            break;
        line.append(buffer, static_cast<size_t>(got));
    }
    if (line.rfind(kListening, 0) == 0)
        demoweb.port = std::atoi(line.c_str() + sizeof kListening - 1);
    std::thread([end = ends[0]] {
        char buffer[4096];
        while (read(end, buffer, sizeof buffer) > 0) { }
        close(end);
    }).detach();
    return demoweb;
}

bool PointRootProxyAt(int port)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", 0,
            nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr)
        != ERROR_SUCCESS)
        return false;
    const DWORD enable = 1;
    const std::u16string server = Wide("127.0.0.1:" + std::to_string(port));
    const bool written
        = RegSetValueExW(key, u"ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&enable), sizeof enable)
            == ERROR_SUCCESS
        && RegSetValueExW(key, u"ProxyServer", 0, REG_SZ, reinterpret_cast<const BYTE*>(server.c_str()),
               static_cast<DWORD>((server.size() + 1) * sizeof(char16_t)))
            == ERROR_SUCCESS;
    RegCloseKey(key);
    return written;
}

// Everything still running below the demo: given a grace to end, then SIGTERM, then SIGKILL.
void EndLeftovers()
{
    std::vector<pid_t> left = ReapUntil(std::chrono::steady_clock::now() + kLeftoverGrace);
    for (const int signal : { SIGTERM, SIGKILL }) {
        if (left.empty())
            return;
        std::fprintf(stderr, "reelscan demo: ending %zu process%s left over (%s)\n", left.size(),
            left.size() == 1 ? "" : "es", signal == SIGTERM ? "SIGTERM" : "SIGKILL");
        for (const pid_t pid : left)
            kill(pid, signal);
        left = ReapUntil(std::chrono::steady_clock::now() + kLeftoverGrace);
    }
}

// Runs the pages one after another and sums them up; returns the demo's exit status.
int RunPages(const fs::path& reelscan, const DemoOptions& options, pid_t demoweb)
{
    const std::string timeout = std::to_string(options.timeoutMilliseconds / 1000.0);
    std::vector<std::string> missing;
    int found = 0;
    const auto start = std::chrono::steady_clock::now();
    for (const DemoPage& page : kDemoPages) {
        {
            const std::lock_guard lock(g_lock);
            if (g_interrupted)
                break;
            std::printf("\n== %s: %s\n", page.service, page.url);
            std::fflush(stdout);
            g_request = Spawn({ reelscan.string(), "--first", "--timeout", timeout, page.url });
        }
        const int status = g_request > 0 ? WaitFor(g_request) : -1;
        {
            const std::lock_guard lock(g_lock);
            g_request = -1;
        }
        // The request's companion, server and browser, orphans of the demo by now, end and are
        // reaped before the next service starts: an ended process left unreaped still counts as
        // running to the platform in the next request's processes.
        ReapUntil(std::chrono::steady_clock::now() + kLeftoverGrace, { demoweb });
        if (status == 0)
            ++found;
        else
            missing.push_back(page.service);
        if (status == 2) {
            std::fprintf(stderr, "reelscan demo: reelscan failed to set up for %s\n", page.service);
            return kSetUpProblem;
        }
    }
    if (Interrupted()) {
        std::fputs("reelscan demo: interrupted\n", stderr);
        return kInterrupted;
    }
    const auto seconds
        = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count();
    std::string summary = "\nreelscan demo: " + std::to_string(found) + " of " + std::to_string(std::size(kDemoPages))
        + " services gave a video in " + std::to_string(seconds) + " s";
    for (size_t i = 0; i < missing.size(); ++i)
        summary += (i == 0 ? "; none from " : ", ") + missing[i];
    std::printf("%s\n", summary.c_str());
    return missing.empty() ? kEveryService : kSomeMissing;
}

// Everything after the root exists: demoweb, the proxy setting, registration, the pages.
int RunInRoot(const std::string& root, const DemoOptions& options)
{
    const fs::path directory = ProgramDirectory();
    const fs::path demowebProgram = directory / "demoweb";
    std::error_code error;
    if (directory.empty() || !fs::is_regular_file(demowebProgram, error)) {
        std::fprintf(
            stderr, "reelscan demo: %s is missing; it must lie beside reelscan\n", demowebProgram.string().c_str());
        return kSetUpProblem;
    }
    const Demoweb demoweb = StartDemoweb(demowebProgram, root);
    if (demoweb.port <= 0) {
        std::fprintf(stderr, "reelscan demo: demoweb did not start\n");
        if (demoweb.pid > 0)
            kill(demoweb.pid, SIGTERM);
        return kSetUpProblem;
    }
    std::printf("reelscan demo: demoweb on 127.0.0.1:%d, machine root %s\n", demoweb.port, root.c_str());
    std::fflush(stdout);
    int status = kSetUpProblem;
    if (!PointRootProxyAt(demoweb.port)) {
        std::fputs("reelscan demo: cannot write the root's proxy setting\n", stderr);
    } else {
        const RegistrationOutcome registration = EnsureServerRegistered(directory);
        if (registration.state != Registration::AlreadyThere)
            std::fprintf(stderr, "reelscan demo: %s\n", registration.message.c_str());
        if (registration.state != Registration::Failed)
            status = RunPages(directory / "reelscan", options, demoweb.pid);
    }
    kill(demoweb.pid, SIGTERM);
    WaitFor(demoweb.pid);
    return status;
}

}

int RunDemo(const DemoOptions& options)
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread(WatchSignals, signals).detach();
    BecomeSubreaper();

    std::string root = (fs::temp_directory_path() / "reelscan-demo-XXXXXX").string();
    if (!mkdtemp(root.data())) {
        std::fprintf(
            stderr, "reelscan demo: cannot make a machine root in %s\n", fs::temp_directory_path().string().c_str());
        return kSetUpProblem;
    }
    setenv("WINROOT", root.c_str(), 1);
    const int status = RunInRoot(root, options);
    EndLeftovers();
    std::error_code ignored; // a root that cannot be removed stays in the temporary directory
    fs::remove_all(root, ignored);
    return status;
}
