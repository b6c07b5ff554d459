#include "Browser.h"

#include "InternetSettings.h"
#include "WinRoot.h"

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <mutex>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace shdocvw {

namespace {

constexpr char kChromium[] = "/usr/bin/chromium";
constexpr char kCertutil[] = "/usr/bin/certutil";
constexpr char kProfilePrefix[] = "chromium-";
constexpr std::chrono::milliseconds kStartDeadline { 20000 };

// Chromium's fixed descriptors for --remote-debugging-pipe: it reads commands from 3, writes to 4.
constexpr int kChildCommandFd = 3;
constexpr int kChildReplyFd = 4;

// Every switch that keeps Chromium to the pages' own requests, and headless and muted.
const char* const kQuietFlags[] = {
    "--headless",
    "--disable-gpu",
    "--mute-audio",
    "--no-first-run",
    "--no-default-browser-check",
    "--disable-background-networking",
    "--disable-component-update",
    "--disable-sync",
    "--disable-default-apps",
    "--disable-extensions",
    "--no-pings",
    "--disable-client-side-phishing-detection",
    "--disable-domain-reliability",
    "--disable-features=HttpsUpgrades,NetworkTimeServiceQuerying,OptimizationHints,MediaRouter,Translate,"
    "IsolateOrigins,site-per-process",
    "--disable-site-isolation-trials",
    "--gaia-url=http://127.0.0.1:9",
    "--google-apis-url=http://127.0.0.1:9",
    "--lso-url=http://127.0.0.1:9",
    "--component-updater=url-source=http://127.0.0.1:9",
    "--password-store=basic",
    // The host decides on every pop-up (NewWindow2), so Chromium's own blocker stays out of the way.
    "--disable-popup-blocking",
    "--remote-debugging-pipe",
};

bool RunQuietly(const std::vector<std::string>& arguments)
{
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Chromium on Linux trusts the anchors of the NSS database in $HOME/.pki/nssdb beside its own
// roots; the root's certificates go there, trusted to issue server certificates.
bool BuildCertificateStore(const fs::path& home, std::string& error)
{
    const fs::path database = home / ".pki" / "nssdb";
    std::error_code failure;
    fs::create_directories(database, failure);
    const std::string name = "sql:" + database.string();
    if (!RunQuietly({ kCertutil, "-N", "-d", name, "--empty-password" })) {
        error = "cannot create the certificate database (is libnss3-tools installed?)";
        return false;
    }
    int index = 0;
    for (const std::string& file : platform::TrustedCertificateFiles()) {
        const std::string nickname = "root-" + std::to_string(index++) + "-" + fs::path(file).filename().string();
        if (!RunQuietly({ kCertutil, "-A", "-d", name, "-n", nickname, "-t", "C,,", "-i", file })) {
            error = "cannot add " + file + " to the certificate database";
            return false;
        }
    }
    return true;
}

// Profiles of processes that died without removing theirs ("chromium-<pid>-<n>").
void RemoveStaleProfiles(const fs::path& temp)
{
    std::error_code failure;
    for (const auto& entry : fs::directory_iterator(temp, failure)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(kProfilePrefix, 0) != 0)
            continue;
        const pid_t owner = static_cast<pid_t>(std::atol(name.c_str() + sizeof kProfilePrefix - 1));
        if (owner > 0 && owner != getpid() && kill(owner, 0) != 0 && errno == ESRCH)
            fs::remove_all(entry.path(), failure);
    }
}

std::string ChromiumBypassList(const std::string& bypass)
{
    std::string list;
    size_t start = 0;
    while (start <= bypass.size()) {
        size_t end = bypass.find(';', start);
        if (end == std::string::npos)
            end = bypass.size();
        std::string entry = bypass.substr(start, end - start);
        while (!entry.empty() && entry.front() == ' ')
            entry.erase(0, 1);
        while (!entry.empty() && entry.back() == ' ')
            entry.pop_back();
        if (!entry.empty())
            list += (list.empty() ? "" : ",") + entry;
        start = end + 1;
    }
    return list;
}

struct Child {
    pid_t pid = 0;
    int commandFd = -1; // ours: we write commands here
    int replyFd = -1; // ours: we read replies here
};

// Runs in the forked child: only async-signal-safe calls until exec.
[[noreturn]] void ExecChromium(
    pid_t parent, int commandEnd, int replyEnd, int devNull, char* const* argv, char* const* envp)
{
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent)
        _exit(127);
    // Move both ends clear of 3 and 4 before placing them there.
    const int command = fcntl(commandEnd, F_DUPFD, 10);
    const int reply = fcntl(replyEnd, F_DUPFD, 10);
    if (command < 0 || reply < 0 || dup2(command, kChildCommandFd) < 0 || dup2(reply, kChildReplyFd) < 0)
        _exit(127);
    dup2(devNull, STDIN_FILENO);
    dup2(devNull, STDOUT_FILENO);
    dup2(devNull, STDERR_FILENO);
    close_range(kChildReplyFd + 1, ~0U, 0);
    execve(argv[0], argv, envp);
    _exit(127);
}

}

struct Browser::State {
    std::mutex lock; // guards everything below; held while Chromium starts, so only one starts
    std::shared_ptr<DevToolsConnection> connection;
    pid_t pid = 0;
    fs::path profile;
    int generation = 0;
    std::atomic<RequestObserver*> observer = nullptr;

    // The thread that forks Chromium: a parent-death signal follows the thread that forked, so
    // this one lives as long as the process.
    std::mutex launchLock;
    std::condition_variable launchChanged;
    std::function<void()> launchJob;
    bool launcherStarted = false;

    void RunOnLauncher(std::function<void()> job);
    BrowserConnection Start();
    void EndLocked();
};

void Browser::State::RunOnLauncher(std::function<void()> job)
{
    std::unique_lock guard(launchLock);
    if (!launcherStarted) {
        launcherStarted = true;
        std::thread([this] {
            std::unique_lock wait(launchLock);
            for (;;) {
                launchChanged.wait(wait, [this] { return bool(launchJob); });
                launchJob();
                launchJob = nullptr;
                launchChanged.notify_all();
            }
        }).detach();
    }
    launchChanged.wait(guard, [this] { return !launchJob; });
    launchJob = std::move(job);
    launchChanged.notify_all();
    launchChanged.wait(guard, [this] { return !launchJob; });
}

BrowserConnection Browser::State::Start()
{
    const fs::path temp = platform::RootPath("temp");
    RemoveStaleProfiles(temp);
    profile = temp / (std::string(kProfilePrefix) + std::to_string(getpid()) + "-" + std::to_string(++generation));
    std::error_code failure;
    fs::remove_all(profile, failure);
    fs::create_directories(profile / "data", failure);
    std::string error;
    if (failure || !BuildCertificateStore(profile, error)) {
        fs::remove_all(profile, failure);
        return { nullptr, error.empty() ? "cannot create the browser's profile" : error };
    }

    std::vector<std::string> arguments = { kChromium };
    arguments.insert(arguments.end(), std::begin(kQuietFlags), std::end(kQuietFlags));
    arguments.push_back("--user-data-dir=" + (profile / "data").string());
    if (geteuid() == 0)
        arguments.push_back("--no-sandbox");
    const platform::ProxySetting proxy = platform::ReadProxySetting();
    if (proxy.enabled && !proxy.server.empty()) {
        // "host:port" and "http=host:port;https=host:port" read the same to Chromium as to WinINet.
        arguments.push_back("--proxy-server=" + proxy.server);
        const std::string bypass = ChromiumBypassList(proxy.bypass);
        if (!bypass.empty())
            arguments.push_back("--proxy-bypass-list=" + bypass);
    }
    arguments.push_back("about:blank");

    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry)
        if (std::string_view(*entry).rfind("HOME=", 0) != 0)
            environment.emplace_back(*entry);
    environment.push_back("HOME=" + profile.string());

    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    int command[2];
    int reply[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, command) != 0)
        return { nullptr, "cannot make the browser's pipe" };
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, reply) != 0) {
        close(command[0]);
        close(command[1]);
        return { nullptr, "cannot make the browser's pipe" };
    }
    const int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
    pid_t child = -1;
    const pid_t parent = getpid();
    RunOnLauncher([&] {
        child = fork();
        if (child == 0)
            ExecChromium(parent, command[1], reply[1], devNull, argv.data(), envp.data());
    });
    close(command[1]);
    close(reply[1]);
    if (devNull >= 0)
        close(devNull);
    if (child < 0) {
        close(command[0]);
        close(reply[0]);
        fs::remove_all(profile, failure);
        return { nullptr, "cannot start " + std::string(kChromium) };
    }
    pid = child;
    connection = DevToolsConnection::Open(command[0], reply[0]);
    const CallResult version = connection->Call("Browser.getVersion", Json::object(), "", kStartDeadline);
    if (!version.ok) {
        EndLocked();
        return { nullptr, "the browser did not start: " + version.error };
    }
    return { connection, {} };
}

void Browser::State::EndLocked()
{
    if (connection) {
        connection->Close("the browser was shut down");
        connection.reset();
    }
    if (pid > 0) {
        kill(-pid, SIGKILL);
        kill(pid, SIGKILL);
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) { }
        pid = 0;
    }
    if (!profile.empty()) {
        std::error_code failure;
        fs::remove_all(profile, failure);
        profile.clear();
    }
}

Browser& Browser::Process()
{
    static Browser browser;
    return browser;
}

Browser::State& Browser::Get() const
{
    // Never destroyed: pages released by static destructors after ours may still ask for it.
    static State* state = new State;
    return *state;
}

Browser::~Browser()
{
    Shutdown();
}

BrowserConnection Browser::Connection()
{
    State& state = Get();
    std::lock_guard guard(state.lock);
    if (state.connection && state.connection->IsOpen())
        return { state.connection, {} };
    // The last Chromium died (or never ran): reap it and its profile, then start afresh.
    state.EndLocked();
    return state.Start();
}

pid_t Browser::ProcessId() const
{
    State& state = Get();
    std::lock_guard guard(state.lock);
    return state.pid;
}

void Browser::Shutdown()
{
    State& state = Get();
    std::lock_guard guard(state.lock);
    state.EndLocked();
}

void Browser::SetRequestObserver(RequestObserver* observer)
{
    Get().observer = observer;
}

RequestObserver* Browser::RequestHook() const
{
    return Get().observer;
}

}
