// COM call costs side by side: a bare Unix-socket round trip of a call-sized record between two
// processes (the floor), an out-of-process call with a BSTR argument (and a BSTR result) from a
// single-threaded client, the same call through an in-process function table, and a cold
// local-server activation (from CoCreateInstance to the answer of the first call). The summary
// gives the medians and the ratio the target is stated in: the out-of-process call within 4x the
// floor.
#include "RemoteCalls.h"

#include "MedianReporter.h"
#include "SocketRoundTrip.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <filesystem>

namespace {

// About what the BSTR call puts on the wire each way: frame header, object, interface, argument.
constexpr std::size_t kRecordBytes = 96;

class CBenchmarkModule : public CAtlModuleT<CBenchmarkModule> { };
CBenchmarkModule _AtlModule;

std::u16string ServerPath()
{
    const std::string path
        = std::filesystem::read_symlink("/proc/self/exe").parent_path().string() + "/ComTestServer.exe";
    return std::u16string(path.begin(), path.end());
}

void BM_UnixSocketRoundTrip(benchmark::State& state)
{
    benchmark_support::MeasureSocketRoundTrip(state, kRecordBytes);
}
BENCHMARK(BM_UnixSocketRoundTrip)->UseRealTime();

// One Greet call per iteration: a BSTR in, a BSTR back.
void CallGreet(benchmark::State& state, IRemoteCalls* calls)
{
    const CComBSTR name(u"benchmark");
    for (auto _ : state) {
        BSTR text = nullptr;
        if (FAILED(calls->Greet(name, 1, &text))) {
            state.SkipWithError("Greet failed");
            break;
        }
        SysFreeString(text);
    }
}

void BM_OutOfProcessBstrCall(benchmark::State& state)
{
    CComPtr<IRemoteCalls> calls;
    if (FAILED(calls.CoCreateInstance(CLSID_RemoteCalls, nullptr, CLSCTX_LOCAL_SERVER))) {
        state.SkipWithError("activation failed");
        return;
    }
    CallGreet(state, calls);
}
BENCHMARK(BM_OutOfProcessBstrCall)->UseRealTime();

void BM_InProcessVtableCall(benchmark::State& state)
{
    CComObject<CRemoteCalls>* object = nullptr;
    CComObject<CRemoteCalls>::CreateInstance(&object);
    CComPtr<IRemoteCalls> calls(object);
    CallGreet(state, calls);
}
BENCHMARK(BM_InProcessVtableCall)->UseRealTime();

// Start to first answer; the server's end after the last release is not timed.
void BM_ColdActivation(benchmark::State& state)
{
    for (auto _ : state) {
        CComPtr<IRemoteCalls> calls;
        LONG pid = 0;
        if (FAILED(calls.CoCreateInstance(CLSID_RemoteCalls, nullptr, CLSCTX_LOCAL_SERVER))
            || FAILED(calls->ProcessId(&pid))) {
            state.SkipWithError("activation failed");
            break;
        }
        state.PauseTiming();
        HANDLE server = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
        calls.Release();
        if (server) {
            WaitForSingleObject(server, INFINITE);
            CloseHandle(server);
        }
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ColdActivation)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(20);

void PrintSummary(const benchmark_support::MedianReporter& reporter)
{
    // The benchmarks report nanoseconds, the activation milliseconds; the summary speaks in us.
    const double floor = reporter.Median("BM_UnixSocketRoundTrip") * 1e-3;
    const double remote = reporter.Median("BM_OutOfProcessBstrCall") * 1e-3;
    const double local = reporter.Median("BM_InProcessVtableCall") * 1e-3;
    const double activation = reporter.Median("BM_ColdActivation") * 1e3;
    std::printf("\nmedians: socket round trip %.2f us, out-of-process BSTR call %.2f us, in-process call %.3f us, "
                "cold activation %.0f us\n",
        floor, remote, local, activation);
    if (floor > 0 && remote > 0)
        std::printf("out-of-process call / socket floor: %.2fx (target: within 4x)\n", remote / floor);
}

}

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    // A root of its own, so that the run touches no user's root; the server inherits it.
    std::string root = (std::filesystem::temp_directory_path() / "com-benchmark-XXXXXX").string();
    if (!mkdtemp(root.data())) {
        std::fprintf(stderr, "cannot create the benchmark's root\n");
        return 1;
    }
    setenv("WINROOT", root.c_str(), 1);
    std::u16string registration = u"\"" + ServerPath() + u"\" /RegServer";
    STARTUPINFOW startup {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process {};
    if (!CreateProcessW(
            nullptr, registration.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        std::fprintf(stderr, "cannot register the test server\n");
        return 1;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    CoInitialize(nullptr);
    benchmark_support::MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintSummary(reporter);
    CoUninitialize();
    benchmark::Shutdown();
    std::error_code ignored; // a root that cannot be removed stays in the temporary directory
    std::filesystem::remove_all(root, ignored);
    return 0;
}
