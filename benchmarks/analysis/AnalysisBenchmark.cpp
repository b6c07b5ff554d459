// What each site analyzer costs over the HTTP it needs: for each service's demoweb page, the time
// from page address to filled result against the same exchanges made with plain libcurl through
// the same proxy (pages and documents read whole; media and redirects asked for with a GET whose body is not read), which is
// the floor. Every analyzer should stay within 1.3x of its floor. After the runs it prints each
// median wall-clock time per analysis and the ratio to the floor.
//
// It works in a fresh machine root of its own whose proxy setting points at its own demoweb.
#include "DemowebServer.h"
#include "LiveLeakAnalysis.h"
#include "MetacafeAnalysis.h"
#include "PlayerAnalysis.h"
#include "TestRoot.h"
#include "VimeoAnalysis.h"
#include "YouTubeAnalysis.h"

#include "MedianReporter.h"
#include <algorithm>

#include <benchmark/benchmark.h>
#include <cstdio>
#include <curl/curl.h>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

enum class Transfer { WholeBody, HeadersOnly };

struct Exchange {
    const char* url;
    Transfer transfer;
};

struct Service {
    const char* name;
    std::function<bool()> analyze; // true when the analysis found its video
    std::vector<Exchange> exchanges;
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
        { "YouTube", [] { return AnalyzeYouTube(u"http://www.youtube.com/watch?v=two-streams").size() == 2; },
            { { "http://www.youtube.com/watch?v=two-streams", Transfer::WholeBody } } },
        { "Vimeo", [] { return Analyze<CVimeoAnalysis>(u"http://vimeo.com/12345678"); },
            { { "http://vimeo.com/12345678", Transfer::WholeBody },
                { "http://www.vimeo.com/moogaloop/load/clip:12345678", Transfer::WholeBody },
                { "http://vimeo.com/moogaloop/play/clip:12345678/7c1a9f2e48b3d05a6e9f1b2c3d4e5f60/1278962400/"
                  "?q=sd&type=embed",
                    Transfer::HeadersOnly },
                { "http://player.vimeo.com/play_redirect?clip_id=12345678&quality=sd", Transfer::HeadersOnly },
                { "http://av.vimeo.com/58921/742/27368213.flv?token=1278962400_9a3f", Transfer::HeadersOnly } } },
        { "Metacafe", [] { return Analyze<CMetacafeAnalysis>(u"http://www.metacafe.com/watch/4031227/night_train/"); },
            { { "http://www.metacafe.com/watch/4031227/night_train/", Transfer::WholeBody },
                { "http://v.mccont.com/ItemFiles/4031227.mp4?__gda__=ZT1lMjk5Yz", Transfer::HeadersOnly } } },
        { "LiveLeak", [] { return Analyze<CLiveLeakAnalysis>(u"http://www.liveleak.com/view?i=a81_1278958800"); },
            { { "http://www.liveleak.com/view?i=a81_1278958800", Transfer::WholeBody },
                { "http://edge.liveleak.com/80281E/u/u/ll_a_s/2010/Jul/12/LiveLeak-dot-com-a81_1278958800.flv",
                    Transfer::HeadersOnly } } },
        { "MyVideo", [] { return Analyze<CMyVideoAnalysis>(u"http://www.myvideo.de/watch/7712345/Sommer_am_See"); },
            { { "http://www.myvideo.de/watch/7712345/Sommer_am_See", Transfer::WholeBody },
                { "http://img3.myvideo.de/de/movie12/4a/7712345.flv", Transfer::HeadersOnly } } },
        { "Break", [] { return Analyze<CBreakAnalysis>(u"http://www.break.com/index/skateboard-fail.html"); },
            { { "http://www.break.com/index/skateboard-fail.html", Transfer::WholeBody },
                { "http://media1.break.com/dnet/media/2010/7/skateboard-fail.flv?a1b2c3d4e5f6",
                    Transfer::HeadersOnly } } },
    };
    return services;
}

testing_support::DemowebServer* g_server = nullptr;

size_t Append(char* data, size_t size, size_t count, void* body)
{
    static_cast<std::string*>(body)->append(data, size * count);
    return size * count;
}

// A media request is a GET whose body nobody reads: the transfer ends at the body's first bytes.
size_t Refuse(char* data, size_t size, size_t count, void* body)
{
    return 0;
}

void Analyzer(benchmark::State& state, const Service* service)
{
    for (auto _ : state) {
        if (!service->analyze())
            return state.SkipWithError("the analysis found nothing");
    }
}

void Floor(benchmark::State& state, const Service* service)
{
    const std::string proxy = g_server->Address();
    std::string body;
    for (auto _ : state) {
        for (const Exchange& exchange : service->exchanges) {
            body.clear();
            CURL* easy = curl_easy_init();
            curl_easy_setopt(easy, CURLOPT_URL, exchange.url);
            curl_easy_setopt(easy, CURLOPT_PROXY, proxy.c_str());
            const bool whole = exchange.transfer == Transfer::WholeBody;
            curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, whole ? Append : Refuse);
            curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
            const CURLcode result = curl_easy_perform(easy);
            curl_easy_cleanup(easy);
            if (result != CURLE_OK && !(result == CURLE_WRITE_ERROR && !whole))
                return state.SkipWithError("an exchange failed");
        }
    }
}

void PrintRatios(const benchmark_support::MedianReporter& reporter)
{
    using benchmark_support::Clock;
    std::printf("\nmedian wall-clock time per analysis, and its ratio to plain libcurl (target 1.3x);\n"
                "then the same for this process's CPU time, which the machine's load sways less:\n");
    for (const Service& service : Services()) {
        const auto ratio = [&](Clock clock, double& analyzer, double& floor) {
            analyzer = reporter.Median(std::string("Analyzer/") + service.name, clock);
            floor = reporter.Median(std::string("Floor/") + service.name, clock);
            return floor > 0 ? analyzer / floor : 0.0;
        };
        double analyzer = 0, floor = 0, analyzerCpu = 0, floorCpu = 0;
        const double wall = ratio(Clock::Real, analyzer, floor);
        const double cpu = ratio(Clock::Cpu, analyzerCpu, floorCpu);
        std::printf("  %-10s analyzer %8.0f us  libcurl %8.0f us  %5.2fx   cpu %6.0f us / %6.0f us  %5.2fx\n",
            service.name, analyzer, floor, wall, analyzerCpu, floorCpu, cpu);
    }
}

}

int main(int argc, char** argv)
{
    const std::string root = testing_support::TestRoot(); // a fresh root, exported as WINROOT
    int status = 0;
    {
        testing_support::DemowebServer server;
        g_server = &server;
        curl_global_init(CURL_GLOBAL_DEFAULT);
        for (const Service& service : Services()) {
            benchmark::RegisterBenchmark((std::string("Analyzer/") + service.name).c_str(), Analyzer, &service)
                ->UseRealTime()
                ->Unit(benchmark::kMicrosecond);
            benchmark::RegisterBenchmark((std::string("Floor/") + service.name).c_str(), Floor, &service)
                ->UseRealTime()
                ->Unit(benchmark::kMicrosecond);
        }
        status = benchmark_support::RunStable(argc, argv, [](const benchmark_support::MedianReporter& reporter) {
            PrintRatios(reporter);
            return 0;
        });
    }
    std::error_code ignored; // a root that cannot be removed stays in the temporary directory
    std::filesystem::remove_all(root, ignored);
    return status;
}
