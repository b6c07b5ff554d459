// What the platform's HTTP stack costs over plain libcurl, both against demoweb on loopback:
// a FetchPage-style download of a 1 MiB page (session, open, read to the end, close) against
// libcurl easy calls through the same proxy, and ProbeMediaLink against a HEAD-only libcurl
// request. The platform should stay within 1.2x of libcurl. A third pair repeats a small GET on
// one session against one reused easy handle, both over a kept connection. After the runs it
// prints each benchmark's median time per call and the platform's ratio to libcurl.
//
// It works in a fresh machine root of its own whose proxy setting points at its own demoweb.
#include "DemowebServer.h"
#include "MediaProbe.h"
#include "TestRoot.h"
#include "wininet.h"

#include "MedianReporter.h"
#include <algorithm>

#include <benchmark/benchmark.h>
#include <cstdio>
#include <curl/curl.h>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr char kPage[] = "http://demoweb.test/pages/1mib.html";
constexpr char16_t kPageWide[] = u"http://demoweb.test/pages/1mib.html";
constexpr char kMedia[] = "http://demoweb.test/media/clip.mp4";
constexpr char16_t kMediaWide[] = u"http://demoweb.test/media/clip.mp4";
constexpr size_t kPageSize = 1 << 20;

testing_support::DemowebServer* g_server = nullptr;

void FetchPagePlatform(benchmark::State& state)
{
    std::vector<char> page;
    char buffer[8192];
    for (auto _ : state) {
        page.clear();
        HINTERNET session = InternetOpenW(u"FetchPage", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
        HINTERNET request = InternetOpenUrlW(session, kPageWide, nullptr, 0,
            INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE, 0);
        DWORD read = 0;
        while (request && InternetReadFile(request, buffer, sizeof buffer, &read) && read > 0)
            page.insert(page.end(), buffer, buffer + read);
        InternetCloseHandle(session);
        if (page.size() != kPageSize)
            return state.SkipWithError("the page did not arrive whole");
    }
}

size_t Append(char* data, size_t size, size_t count, void* page)
{
    static_cast<std::vector<char>*>(page)->insert(
        static_cast<std::vector<char>*>(page)->end(), data, data + size * count);
    return size * count;
}

void FetchPageCurl(benchmark::State& state)
{
    std::vector<char> page;
    const std::string proxy = g_server->Address();
    for (auto _ : state) {
        page.clear();
        CURL* easy = curl_easy_init();
        curl_easy_setopt(easy, CURLOPT_URL, kPage);
        curl_easy_setopt(easy, CURLOPT_PROXY, proxy.c_str());
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, Append);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &page);
        curl_easy_perform(easy);
        curl_easy_cleanup(easy);
        if (page.size() != kPageSize)
            return state.SkipWithError("the page did not arrive whole");
    }
}

void ProbeMediaLinkPlatform(benchmark::State& state)
{
    for (auto _ : state) {
        DWORD length = 0;
        WCHAR type[20] = {};
        if (!ProbeMediaLink(nullptr, kMediaWide, &length, type) || length != 4096)
            return state.SkipWithError("the probe failed");
    }
}

void ProbeMediaLinkCurl(benchmark::State& state)
{
    const std::string proxy = g_server->Address();
    for (auto _ : state) {
        CURL* easy = curl_easy_init();
        curl_easy_setopt(easy, CURLOPT_URL, kMedia);
        curl_easy_setopt(easy, CURLOPT_PROXY, proxy.c_str());
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
        const CURLcode result = curl_easy_perform(easy);
        curl_off_t length = 0;
        curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        curl_easy_cleanup(easy);
        if (result != CURLE_OK || length != 4096)
            return state.SkipWithError("the HEAD request failed");
    }
}

// Requests on one session, each read to its end, so that each reuses the session's connection.
void KeptConnectionPlatform(benchmark::State& state)
{
    HINTERNET session = InternetOpenW(u"KeptConnection", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    std::vector<char> media;
    char buffer[8192];
    for (auto _ : state) {
        media.clear();
        HINTERNET request = InternetOpenUrlW(session, kMediaWide, nullptr, 0,
            INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
        DWORD read = 0;
        while (request && InternetReadFile(request, buffer, sizeof buffer, &read) && read > 0)
            media.insert(media.end(), buffer, buffer + read);
        InternetCloseHandle(request);
        if (media.size() != 4096) {
            InternetCloseHandle(session);
            return state.SkipWithError("the media did not arrive whole");
        }
    }
    InternetCloseHandle(session);
}

void KeptConnectionCurl(benchmark::State& state)
{
    const std::string proxy = g_server->Address();
    std::vector<char> media;
    CURL* easy = curl_easy_init();
    curl_easy_setopt(easy, CURLOPT_URL, kMedia);
    curl_easy_setopt(easy, CURLOPT_PROXY, proxy.c_str());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, Append);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &media);
    for (auto _ : state) {
        media.clear();
        if (curl_easy_perform(easy) != CURLE_OK || media.size() != 4096) {
            curl_easy_cleanup(easy);
            return state.SkipWithError("the media did not arrive whole");
        }
    }
    curl_easy_cleanup(easy);
}

BENCHMARK(FetchPagePlatform)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(FetchPageCurl)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(ProbeMediaLinkPlatform)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(ProbeMediaLinkCurl)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(KeptConnectionPlatform)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(KeptConnectionCurl)->UseRealTime()->Unit(benchmark::kMicrosecond);

void PrintRatios(const benchmark_support::MedianReporter& reporter)
{
    using benchmark_support::Clock;
    std::printf("\nmedian wall-clock time per call, and the platform's ratio to plain libcurl (target 1.2x);\n"
                "then the same for this process's CPU time, which the machine's load sways less:\n");
    for (const char* pair : { "FetchPage", "ProbeMediaLink", "KeptConnection" }) {
        const auto ratio = [&](Clock clock, double& platform, double& curl) {
            platform = reporter.Median(std::string(pair) + "Platform", clock);
            curl = reporter.Median(std::string(pair) + "Curl", clock);
            return curl > 0 ? platform / curl : 0.0;
        };
        double platform = 0, curl = 0, platformCpu = 0, curlCpu = 0;
        const double wall = ratio(Clock::Real, platform, curl);
        const double cpu = ratio(Clock::Cpu, platformCpu, curlCpu);
        std::printf("  %-16s platform %8.0f us  libcurl %8.0f us  %5.2fx   cpu %6.0f us / %6.0f us  %5.2fx\n", pair,
            platform, curl, wall, platformCpu, curlCpu, cpu);
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
        status = benchmark_support::RunStable(argc, argv, [](const benchmark_support::MedianReporter& reporter) {
            PrintRatios(reporter);
            return 0;
        });
    }
    std::error_code ignored; // a root that cannot be removed stays in the temporary directory
    std::filesystem::remove_all(root, ignored);
    return status;
}
