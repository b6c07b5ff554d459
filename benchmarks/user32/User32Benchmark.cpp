// Message costs side by side: a bare Unix-socket round trip of 1 KiB between two processes (the
// floor), a cross-process SendMessageW(WM_COPYDATA) of 1 KiB, a cross-thread SendMessageW, and
// PostMessageW throughput to another thread. The summary gives the medians and the ratios that
// the targets are stated in: the WM_COPYDATA send within 3x the floor, the cross-thread send
// under 20 microseconds.
#include "PeerMessages.h"

#include "windows.h"

#include "MedianReporter.h"
#include "SocketRoundTrip.h"
#include <algorithm>

#include <benchmark/benchmark.h>
#include <cstdio>
#include <filesystem>
#include <future>
#include <map>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t kRecordBytes = 1024;
constexpr int kPostBatch = 1000;
constexpr UINT kCount = WM_USER + 1;
constexpr UINT kEcho = WM_USER + 2;

std::string g_root;

std::string ProgramDirectory()
{
    return std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
}

void BM_UnixSocketRoundTrip1K(benchmark::State& state)
{
    benchmark_support::MeasureSocketRoundTrip(state, kRecordBytes);
}
BENCHMARK(BM_UnixSocketRoundTrip1K)->UseRealTime();

void BM_CopyDataSend1K(benchmark::State& state)
{
    peer::Process process(ProgramDirectory() + "/user32_peer", "BenchmarkPeer", "");
    std::vector<unsigned char> record(kRecordBytes, 0x5A);
    COPYDATASTRUCT copy { 0, static_cast<DWORD>(record.size()), record.data() };
    const LRESULT expected = peer::CopyDataDigest(&copy);
    for (auto _ : state) {
        if (SendMessageW(process.Window(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy)) != expected) {
            state.SkipWithError("the peer did not see the record");
            break;
        }
    }
}
BENCHMARK(BM_CopyDataSend1K)->UseRealTime();

LRESULT CALLBACK CountingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    static thread_local long long counted = 0;
    if (message == kCount)
        return ++counted;
    if (message == kEcho)
        return static_cast<LRESULT>(wParam) + counted;
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

// A thread with one window of CountingProc and a message loop, for as long as it lives.
class ReceiverThread {
public:
    ReceiverThread()
    {
        WNDCLASSW windowClass {};
        windowClass.lpfnWndProc = CountingProc;
        windowClass.lpszClassName = u"BenchmarkReceiver";
        RegisterClassW(&windowClass); // already there from an earlier run
        std::promise<std::pair<HWND, DWORD>> created;
        m_thread = std::thread([&created] {
            const HWND hwnd
                = CreateWindowExW(0, u"BenchmarkReceiver", u"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
            created.set_value({ hwnd, GetCurrentThreadId() });
            MSG message;
            while (GetMessageW(&message, nullptr, 0, 0) > 0)
                DispatchMessageW(&message);
        });
        std::tie(m_hwnd, m_threadId) = created.get_future().get();
    }
    ~ReceiverThread()
    {
        PostThreadMessageW(m_threadId, WM_QUIT, 0, 0);
        m_thread.join();
    }
    HWND Window() const
    {
        return m_hwnd;
    }

private:
    std::thread m_thread;
    HWND m_hwnd = nullptr;
    DWORD m_threadId = 0;
};

void BM_CrossThreadSend(benchmark::State& state)
{
    ReceiverThread receiver;
    for (auto _ : state)
        benchmark::DoNotOptimize(SendMessageW(receiver.Window(), kEcho, 1, 0));
}
BENCHMARK(BM_CrossThreadSend)->UseRealTime();

void BM_PostMessageThroughput(benchmark::State& state)
{
    ReceiverThread receiver;
    for (auto _ : state) {
        for (int i = 0; i < kPostBatch; ++i)
            while (!PostMessageW(receiver.Window(), kCount, 0, 0))
                std::this_thread::yield(); // the queue is full: let the receiver catch up
        // A send is handled after everything posted before it has been taken out of the queue.
        SendMessageW(receiver.Window(), kEcho, 0, 0);
    }
    state.SetItemsProcessed(state.iterations() * kPostBatch);
}
BENCHMARK(BM_PostMessageThroughput)->UseRealTime();

void PrintSummary(const benchmark_support::MedianReporter& reporter)
{
    // The benchmarks report nanoseconds; the summary speaks in microseconds.
    const double floor = reporter.Median("BM_UnixSocketRoundTrip1K") * 1e-3;
    const double copyData = reporter.Median("BM_CopyDataSend1K") * 1e-3;
    const double crossThread = reporter.Median("BM_CrossThreadSend") * 1e-3;
    std::printf("\nmedians: socket round trip %.2f us, WM_COPYDATA send %.2f us, cross-thread send %.2f us\n", floor,
        copyData, crossThread);
    if (floor > 0 && copyData > 0)
        std::printf("WM_COPYDATA send / socket floor: %.2fx (target: within 3x)\n", copyData / floor);
    if (crossThread > 0)
        std::printf("cross-thread send: %.2f us (target: under 20 us)\n", crossThread);
}

}

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    // A root of its own, so that the run touches no user's root; the peer inherits it.
    std::string pattern = (std::filesystem::temp_directory_path() / "user32-benchmark-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        std::fprintf(stderr, "cannot create the benchmark's root\n");
        return 1;
    }
    g_root = pattern;
    setenv("WINROOT", g_root.c_str(), 1);
    benchmark_support::MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintSummary(reporter);
    benchmark::Shutdown();
    std::error_code ignored; // a root that cannot be removed stays in the temporary directory
    std::filesystem::remove_all(g_root, ignored);
    return 0;
}
