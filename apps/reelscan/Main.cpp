// reelscan [options] URL: asks ReelscanProxy for the videos of one page and prints each as it
// arrives. Callbacks come on threads of the proxy, possibly several at once and even after
// RequestURL has returned, so all output goes through one lock, and the state they share is never
// freed: once the request is over the lock is taken for good and the process ends around any
// callback still on its way.
#include "Demo.h"
#include "Host.h"
#include "Options.h"
#include "ProcessTree.h"
#include "ReelscanProxy.h"
#include "Registration.h"
#include "VideoText.h"
#include "windows.h"

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>
#include <unistd.h>

namespace {

enum ExitStatus { kFound = 0, kNothingFound = 1, kBadUsage = 2, kInterrupted = 130 };

constexpr auto kProgressInterval = std::chrono::milliseconds(250);
// Often enough to see a companion that fails at once before the platform reaps it.
constexpr auto kCompanionPoll = std::chrono::milliseconds(20);

struct Session {
    RequestOptions options;
    bool progressOnTerminal = false;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();

    std::mutex mutex; // guards what follows, standard output and standard error
    std::condition_variable requestOver;
    bool over = false;
    bool progressShown = false;
    bool interrupted = false;
    bool companionEnded = false;
    int printed = 0;
    std::set<FoundVideo> seen;
};

Session* g_session = nullptr;

// Called with the session's lock held.
void ClearProgress(Session& session)
{
    if (session.progressShown) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        session.progressShown = false;
    }
}

int32_t OnVideoReceived(const char16_t* title, const char16_t* type, const char16_t* url, const char16_t* href,
    const char16_t* cookie, const char16_t* referrer, const char16_t* icon, int32_t length, int32_t* stop)
{
    Session& session = *g_session;
    FoundVideo video { Utf8(title), Utf8(type), Utf8(url), Utf8(href), Utf8(cookie), Utf8(icon), length };
    const std::lock_guard lock(session.mutex);
    const bool first = session.options.stopping == Stopping::FirstVideo;
    if (session.over || (first && session.printed > 0)) {
        *stop = first;
        return 0;
    }
    if (session.options.repeats == Repeats::Drop && !session.seen.insert(video).second)
        return 0;
    ClearProgress(session);
    const std::string text = session.options.form == OutputForm::JsonLines ? JsonLine(video) : ReadableBlock(video);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    ++session.printed;
    *stop = first;
    return 0;
}

// On a terminal: "reelscan: working, 12 s, 2 videos" on standard error until the request is over.
void ShowProgress(Session& session)
{
    std::unique_lock lock(session.mutex);
    while (!session.requestOver.wait_for(lock, kProgressInterval, [&session] { return session.over; })) {
        const auto seconds
            = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - session.start)
                  .count();
        std::fprintf(stderr, "\rreelscan: working, %lld s, %d video%s\033[K", static_cast<long long>(seconds),
            session.printed, session.printed == 1 ? "" : "s");
        std::fflush(stderr);
        session.progressShown = true;
    }
    ClearProgress(session);
}

// CmdReelscan, the only child that reelscan has while a request runs, lives until reelscan ends
// the request. One that ends before then has failed (it says why on standard error, say when the
// server cannot be created); waiting on would only wait out the time-out. Its process, not its
// window, is watched: a companion of an earlier request in the same root may still own a window.
void WatchCompanion(Session& session)
{
    std::set<pid_t> seen;
    std::unique_lock lock(session.mutex);
    while (!session.requestOver.wait_for(lock, kCompanionPoll, [&session] { return session.over; })) {
        lock.unlock();
        // A child that ended before it was first seen is still there, unreaped.
        for (const pid_t pid : Children())
            seen.insert(pid);
        bool ended = false;
        for (const pid_t pid : seen)
            ended = ended || !Running(pid);
        lock.lock();
        if (ended && !session.over) {
            session.companionEnded = true;
            lock.unlock();
            UnInitialize();
            return;
        }
    }
}

// Ctrl-C and SIGTERM end the request through UnInitialize, which also ends CmdReelscan.
void WatchSignals(sigset_t signals)
{
    int signal = 0;
    if (sigwait(&signals, &signal) != 0)
        return;
    {
        const std::lock_guard lock(g_session->mutex);
        g_session->interrupted = true;
    }
    UnInitialize();
}

int RunRequest(const RequestOptions& options)
{
    const RegistrationOutcome registration = EnsureServerRegistered(ProgramDirectory());
    if (registration.state != Registration::AlreadyThere)
        std::fprintf(stderr, "reelscan: %s\n", registration.message.c_str());
    if (registration.state == Registration::Failed)
        return kBadUsage;

    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    g_session = new Session;
    Session& session = *g_session;
    session.options = options;
    session.progressOnTerminal = isatty(STDERR_FILENO);
    std::thread(WatchSignals, signals).detach();

    const std::u16string url = Wide(options.url);
    Initialize(OnVideoReceived);
    std::thread progress;
    if (session.progressOnTerminal)
        progress = std::thread(ShowProgress, std::ref(session));
    std::thread companionWatch(WatchCompanion, std::ref(session));
    RequestURL(url.c_str(), options.timeoutMilliseconds);
    // Over before UnInitialize ends the companion, so that its going is not taken for a failure.
    {
        const std::lock_guard lock(session.mutex);
        session.over = true;
    }
    session.requestOver.notify_all();
    UnInitialize();
    companionWatch.join();
    if (progress.joinable())
        progress.join();

    // Taken for good: a callback still on its way finds the request over and prints nothing.
    session.mutex.lock();
    if (session.printed > 0)
        return kFound;
    if (session.interrupted) {
        std::fputs("reelscan: interrupted\n", stderr);
        return kInterrupted;
    }
    if (session.companionEnded) {
        std::fputs("reelscan: CmdReelscan.exe ended before the request was over\n", stderr);
        return kBadUsage;
    }
    // Without its companion the proxy returns at once; say why nothing came.
    const std::filesystem::path companion = ProgramDirectory() / "CmdReelscan.exe";
    std::error_code error;
    if (!std::filesystem::exists(companion, error)) {
        std::fprintf(stderr, "reelscan: %s is missing; it must lie beside reelscan\n", companion.string().c_str());
        return kBadUsage;
    }
    std::fprintf(stderr, "reelscan: no video found on %s\n", options.url.c_str());
    return kNothingFound;
}

}

int main(int argc, char** argv)
{
    const Command command = ParseCommandLine(argc, argv);
    if (std::holds_alternative<ShowHelp>(command)) {
        std::fputs(kHelpText, stdout);
        return kFound;
    }
    if (const auto* demo = std::get_if<DemoOptions>(&command))
        return RunDemo(*demo);
    if (const auto* error = std::get_if<UsageError>(&command)) {
        std::fprintf(stderr, "reelscan: %s\nTry 'reelscan --help' for more.\n", error->message.c_str());
        return kBadUsage;
    }
    return RunRequest(std::get<RequestOptions>(command));
}
