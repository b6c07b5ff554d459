// What the first video of a page costs a user of reelscan, and what the same request costs yt-dlp.
//
// ReelscanFirstCold: `reelscan --first` on demoweb's YouTube page with no server running, from
// start to exit: COM starts ReelscanModule.exe, which starts its Chromium. Before every run the
// benchmark waits until the previous run's companion, server and browser have ended.
// Floor: what that cannot do without: a cold headless Chromium (fresh profile, about:blank, until
// it exits) plus the page's download with plain libcurl through demoweb.
// YtDlp: `yt-dlp -g` on demoweb's HTML5 player page through demoweb as its proxy. reelscan would
// find that page's video only through its protocol monitor, so this figure stands alone for now.
//
// It works in a fresh machine root of its own whose proxy setting points at its own demoweb, and
// reaps everything it starts. After the runs it prints the medians and the ratio to the floor.
#include "DemowebServer.h"
#include "MedianReporter.h"
#include "ProcessTree.h"
#include "TestRoot.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <curl/curl.h>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr char kYouTubePage[] = "http://www.youtube.com/watch?v=two-streams";
constexpr char kPlayerPage[] = "http://player.demoweb.test/video.html";
constexpr char kPlayerMedia[] = "http://player.demoweb.test/media/clip.mp4";
constexpr char kChromium[] = "/usr/bin/chromium";
// How long a run's companion, server and browser get to end before the next cold run.
constexpr auto kEndingPatience = std::chrono::seconds(30);

testing_support::DemowebServer* g_demoweb = nullptr;
std::vector<pid_t> g_kept; // demoweb, which outlives every run

struct Outcome {
    int status = -1;
    std::string out;
};

// Runs a program to its end with standard error discarded, collecting its standard output.
Outcome Run(std::vector<std::string> arguments)
{
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    Outcome outcome;
    char buffer[4096];
    for (ssize_t got; spawned == 0 && (got = read(out[0], buffer, sizeof buffer)) > 0;)
        outcome.out.append(buffer, static_cast<size_t>(got));
    close(out[0]);
    int status = 0;
    if (spawned == 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        outcome.status = WEXITSTATUS(status);
    return outcome;
}

bool EverythingEnded()
{
    return ReapUntil(Clock::now() + kEndingPatience, g_kept).empty();
}

void ReelscanFirstCold(benchmark::State& state)
{
    const std::string reelscan = testing_support::BinaryDirectory() + "/reelscan";
    for (auto _ : state) {
        if (!EverythingEnded())
            return state.SkipWithError("the last run's processes did not end");
        const auto start = Clock::now();
        const Outcome outcome = Run({ reelscan, "--first", "--json", "--timeout", "120", kYouTubePage });
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        if (outcome.status != 0)
            return state.SkipWithError("reelscan found no video");
    }
}

size_t Keep(char* data, size_t size, size_t count, void* body)
{
    static_cast<std::string*>(body)->append(data, size * count);
    return size * count;
}

void Floor(benchmark::State& state)
{
    const std::string proxy = g_demoweb->Address();
    int generation = 0;
    for (auto _ : state) {
        const fs::path profile = fs::path(testing_support::TestRoot()) / ("chromium-" + std::to_string(++generation));
        std::vector<std::string> chromium
            = { kChromium, "--headless", "--disable-gpu", "--mute-audio", "--no-first-run",
                  "--no-default-browser-check", "--disable-background-networking", "--disable-component-update",
                  "--user-data-dir=" + profile.string(), "--proxy-server=" + proxy, "--dump-dom", "about:blank" };
        if (geteuid() == 0)
            chromium.push_back("--no-sandbox");
        const auto start = Clock::now();
        const Outcome browser = Run(chromium);
        std::string page;
        CURL* easy = curl_easy_init();
        curl_easy_setopt(easy, CURLOPT_URL, kYouTubePage);
        curl_easy_setopt(easy, CURLOPT_PROXY, proxy.c_str());
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, Keep);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &page);
        const CURLcode result = curl_easy_perform(easy);
        curl_easy_cleanup(easy);
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        std::error_code ignored; // a profile left behind goes with the root
        fs::remove_all(profile, ignored);
        if (browser.status != 0 || result != CURLE_OK || page.empty())
            return state.SkipWithError("Chromium or the download failed");
    }
}

void YtDlp(benchmark::State& state)
{
    const std::string proxy = "http://" + g_demoweb->Address();
    for (auto _ : state) {
        const auto start = Clock::now();
        const Outcome outcome
            = Run({ "yt-dlp", "-g", "--ignore-config", "--no-cache-dir", "--proxy", proxy, kPlayerPage });
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        if (outcome.status != 0 || outcome.out.find(kPlayerMedia) == std::string::npos)
            return state.SkipWithError("yt-dlp did not print the media link (is Debian's yt-dlp installed?)");
    }
}

}

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    testing_support::TestRoot(); // a fresh root, exported as WINROOT for every child
    BecomeSubreaper();
    curl_global_init(CURL_GLOBAL_DEFAULT);
    {
        testing_support::DemowebServer demoweb;
        g_demoweb = &demoweb;
        g_kept = Children();
        for (auto* benchmark : { benchmark::RegisterBenchmark("ReelscanFirstCold", ReelscanFirstCold),
                 benchmark::RegisterBenchmark("Floor", Floor), benchmark::RegisterBenchmark("YtDlp", YtDlp) })
            benchmark->UseManualTime()->Iterations(1)->Repetitions(5)->Unit(benchmark::kMillisecond);
        benchmark_support::MedianReporter reporter;
        benchmark::RunSpecifiedBenchmarks(&reporter);
        benchmark::Shutdown();

        const double reelscan = reporter.Median("ReelscanFirstCold");
        const double floor = reporter.Median("Floor");
        std::printf("\nmedian wall-clock time of one request, in ms (0: did not run):\n");
        std::printf("  reelscan --first, cold, YouTube page     %8.0f  %5.2fx the floor\n", reelscan,
            floor > 0 ? reelscan / floor : 0.0);
        std::printf("  floor: cold Chromium + libcurl download  %8.0f\n", floor);
        std::printf("  yt-dlp -g, HTML5 player page             %8.0f  alone: reelscan finds this page's video only "
                    "through the protocol monitor\n",
            reporter.Median("YtDlp"));
    }
    g_kept.clear(); // demoweb has ended
    curl_global_cleanup();
    const bool ended = EverythingEnded();
    std::error_code ignored; // a root that cannot be removed is left in the temporary directory
    fs::remove_all(testing_support::TestRoot(), ignored);
    return ended ? 0 : 1;
}
