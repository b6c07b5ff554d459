// What the request service costs its clients, through the real server that COM starts.
//
// FirstRecord/<service>: from RequestURL to the first VideoRecord in the client window, for each
// known service's demoweb page, against Analyzer/<service>: the same page's analysis alone in this
// process, the floor (target: within 1.2x the floor plus 20 ms).
// ColdActivation: CoCreateInstance of ReqService with no server running, plus Initialize (the
// server's start, its Chromium's start and the host's about:blank), against ChromiumColdStart: a
// headless Chromium with a fresh profile showing about:blank until it exits.
//
// It works in a fresh machine root of its own whose proxy setting points at its own demoweb, with
// the server registered by its own switch. After the runs it prints the medians and ratios.
#include "DemowebServer.h"
#include "LiveLeakAnalysis.h"
#include "MedianReporter.h"
#include "MetacafeAnalysis.h"
#include "PlayerAnalysis.h"
#include "ReelscanModule.h"
#include "TestRoot.h"
#include "VimeoAnalysis.h"
#include "YouTubeAnalysis.h"

#include <atlbase.h>
#include <windows.h>

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr auto kRecordPatience = std::chrono::seconds(30);

struct Service {
    const char* name;
    const char16_t* page;
    std::function<bool()> analyze;
};

template <typename Analysis> bool Analyze(const char16_t* page)
{
    Analysis analysis;
    AnalysisResult result;
    return analysis.AnalyzePage(page, result) && !result.url.empty();
}

const std::vector<Service>& Services()
{
    static const std::vector<Service> services = {
        { "YouTube", u"http://www.youtube.com/watch?v=two-streams",
            [] { return !AnalyzeYouTube(u"http://www.youtube.com/watch?v=two-streams").empty(); } },
        { "Vimeo", u"http://vimeo.com/12345678", [] { return Analyze<CVimeoAnalysis>(u"http://vimeo.com/12345678"); } },
        { "Metacafe", u"http://www.metacafe.com/watch/4031227/night_train/",
            [] { return Analyze<CMetacafeAnalysis>(u"http://www.metacafe.com/watch/4031227/night_train/"); } },
        { "LiveLeak", u"http://www.liveleak.com/view?i=a81_1278958800",
            [] { return Analyze<CLiveLeakAnalysis>(u"http://www.liveleak.com/view?i=a81_1278958800"); } },
        { "MyVideo", u"http://www.myvideo.de/watch/7712345/Sommer_am_See",
            [] { return Analyze<CMyVideoAnalysis>(u"http://www.myvideo.de/watch/7712345/Sommer_am_See"); } },
        { "Break", u"http://www.break.com/index/skateboard-fail.html",
            [] { return Analyze<CBreakAnalysis>(u"http://www.break.com/index/skateboard-fail.html"); } },
    };
    return services;
}

testing_support::DemowebServer* g_demoweb = nullptr;
size_t g_records = 0; // VideoRecords the client window has received

LRESULT CALLBACK ClientProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COPYDATA) {
        ++g_records;
        return TRUE;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND CreateClientWindow()
{
    WNDCLASSW windowClass {};
    windowClass.lpfnWndProc = ClientProc;
    windowClass.lpszClassName = u"ServiceBenchmarkClient";
    RegisterClassW(&windowClass);
    return CreateWindowExW(0, u"ServiceBenchmarkClient", nullptr, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
}

// Handles messages until the client holds count records; false when they did not come.
bool PumpUntilRecords(size_t count)
{
    const auto end = Clock::now() + kRecordPatience;
    MSG message;
    while (g_records < count) {
        if (Clock::now() > end)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
    }
    return true;
}

HWND g_client = nullptr;

CComPtr<IReqService> CreateService()
{
    CComPtr<IReqService> service;
    if (FAILED(CoCreateInstance(
            CLSID_ReqService, nullptr, CLSCTX_LOCAL_SERVER, IID_IReqService, reinterpret_cast<void**>(&service))))
        return nullptr;
    if (FAILED(service->Initialize(static_cast<ULONG>(reinterpret_cast<ULONG_PTR>(g_client)))))
        return nullptr;
    return service;
}

// The server's process, found by its host window, to wait for its end after the last release.
HANDLE ServerProcess()
{
    const HWND host = FindWindowW(u"AtlAxWin90", nullptr);
    DWORD process = 0;
    if (!host || !GetWindowThreadProcessId(host, &process))
        return nullptr;
    return OpenProcess(SYNCHRONIZE, FALSE, process);
}

void FirstRecord(benchmark::State& state, const Service* service)
{
    CComPtr<IReqService> requests = CreateService();
    if (!requests)
        return state.SkipWithError("ReqService cannot be created");
    for (auto _ : state) {
        const size_t before = g_records;
        const auto start = Clock::now();
        requests->RequestURL(CComBSTR(service->page));
        if (!PumpUntilRecords(before + 1))
            return state.SkipWithError("no record came");
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        // The run's repeat, 100 ms on, belongs to this request.
        if (!PumpUntilRecords(before + 2))
            return state.SkipWithError("the repeat did not come");
    }
    requests->UnInitialize();
    HANDLE server = ServerProcess();
    requests.Release();
    if (server) {
        WaitForSingleObject(server, 30000);
        CloseHandle(server);
    }
}

void Analyzer(benchmark::State& state, const Service* service)
{
    for (auto _ : state) {
        const auto start = Clock::now();
        if (!service->analyze())
            return state.SkipWithError("the analysis found nothing");
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    }
}

void ColdActivation(benchmark::State& state)
{
    for (auto _ : state) {
        const auto start = Clock::now();
        CComPtr<IReqService> service = CreateService();
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        if (!service)
            return state.SkipWithError("ReqService cannot be created");
        HANDLE server = ServerProcess();
        service->UnInitialize();
        service.Release();
        // The next run is cold only once this server is gone.
        if (!server || WaitForSingleObject(server, 30000) != WAIT_OBJECT_0)
            return state.SkipWithError("the server did not end");
        CloseHandle(server);
    }
}

int RunChromium(const std::string& profile)
{
    std::vector<std::string> arguments = { "/usr/bin/chromium", "--headless", "--disable-gpu", "--mute-audio",
        "--no-first-run", "--no-default-browser-check", "--disable-background-networking", "--disable-component-update",
        "--user-data-dir=" + profile, "--dump-dom", "about:blank" };
    if (geteuid() == 0)
        arguments.push_back("--no-sandbox");
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (spawned != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

void ChromiumColdStart(benchmark::State& state)
{
    int generation = 0;
    for (auto _ : state) {
        const fs::path profile = fs::path(testing_support::TestRoot()) / ("chromium-" + std::to_string(++generation));
        const auto start = Clock::now();
        const int status = RunChromium(profile.string());
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        std::error_code ignored; // a profile left behind goes with the root
        fs::remove_all(profile, ignored);
        if (status != 0)
            return state.SkipWithError("Chromium failed");
    }
}

void PrintRatios(const benchmark_support::MedianReporter& reporter)
{
    std::printf("\nmedian time to the first record against the analysis alone (target 1.2x + 20 ms):\n");
    for (const Service& service : Services()) {
        const double first = reporter.Median(std::string("FirstRecord/") + service.name);
        const double floor = reporter.Median(std::string("Analyzer/") + service.name);
        std::printf("  %-10s first record %8.1f ms  analysis %8.1f ms  %5.2fx  %s\n", service.name, first, floor,
            floor > 0 ? first / floor : 0.0, first <= 1.2 * floor + 20 ? "within" : "OVER");
    }
    const double cold = reporter.Median("ColdActivation");
    const double chromium = reporter.Median("ChromiumColdStart");
    std::printf("  cold activation %8.1f ms  Chromium cold start %8.1f ms  %5.2fx\n", cold, chromium,
        chromium > 0 ? cold / chromium : 0.0);
}

}

int main(int argc, char** argv)
{
    const std::string root = testing_support::TestRoot(); // a fresh root, exported as WINROOT
    int status = 0;
    {
        testing_support::DemowebServer demoweb;
        g_demoweb = &demoweb;
        const std::string registration = "\"" + testing_support::BinaryDirectory() + "/ReelscanModule.exe\" /RegServer";
        std::u16string commandLine(registration.begin(), registration.end());
        STARTUPINFOW startup {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process {};
        if (!CreateProcessW(
                nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
            std::fprintf(stderr, "cannot register ReelscanModule.exe\n");
            return 1;
        }
        WaitForSingleObject(process.hProcess, INFINITE);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        g_client = CreateClientWindow();

        for (const Service& service : Services()) {
            benchmark::RegisterBenchmark((std::string("FirstRecord/") + service.name).c_str(), FirstRecord, &service)
                ->UseManualTime()
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark((std::string("Analyzer/") + service.name).c_str(), Analyzer, &service)
                ->UseManualTime()
                ->Unit(benchmark::kMillisecond);
        }
        benchmark::RegisterBenchmark("ColdActivation", ColdActivation)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond)
            ->Iterations(5);
        benchmark::RegisterBenchmark("ChromiumColdStart", ChromiumColdStart)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond)
            ->Iterations(5);
        benchmark::Initialize(&argc, argv);
        if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
            status = 1;
        } else {
            benchmark_support::MedianReporter reporter;
            benchmark::RunSpecifiedBenchmarks(&reporter);
            PrintRatios(reporter);
        }
        benchmark::Shutdown();
        DestroyWindow(g_client);
        CoUninitialize();
    }
    std::error_code ignored; // a root that cannot be removed stays in the temporary directory
    std::filesystem::remove_all(root, ignored);
    return status;
}
