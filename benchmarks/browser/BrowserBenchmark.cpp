// The hidden browser's costs on demoweb's player pages, with the real headless Chromium:
// - ColdStart: starting Chromium until its DevTools pipe answers;
// - ControlToBlank: an "AtlAxWin90" window creating a WebBrowser control from "about:blank"
//   until its DocumentComplete;
// - Navigate: Navigate2 to DocumentComplete through the control, from the thread's message loop,
//   against the floor: the same navigation made on an engine page (the DevTools client beneath
//   the control, with the same request interception, no COM, no windows). One control and one
//   page are made once and warmed on every page first; then kPairs pairs of navigations run, one
//   through each, in an order that alternates, so that a change of the machine's load falls on
//   both alike. It prints the median of each side and the median of the pairs' ratios.
// The control should stay within 1.1x of its floor. The program works in a fresh machine root of
// its own, its proxy set to its own demoweb, and ends the Chromium it started.
#include "Browser.h"
#include "DemowebServer.h"
#include "MedianReporter.h"
#include "Page.h"
#include "TestRoot.h"
#include "atlcom.h"
#include "atlhost.h"
#include "exdisp.h"
#include "exdispid.h"
#include "windows.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>

using ATL::CComObject;
using ATL::CComPtr;
using ATL::CComQIPtr;

namespace {

constexpr int kPairs = 60;
constexpr int kWarmRounds = 3; // of every page on both sides before the pairs

// The player pages navigated in turn, so that each navigation loads a document anew.
const char16_t* const kPages[] = { u"http://player.demoweb.test/index.html", u"http://player.demoweb.test/click.html" };

std::string Narrow(const char16_t* text)
{
    std::string narrow;
    for (; *text; ++text)
        narrow.push_back(static_cast<char>(*text));
    return narrow;
}

// Counts the top page's DocumentComplete events.
class CompletionSink : public ATL::CComObjectRootEx<ATL::CComSingleThreadModel>, public IDispatch {
public:
    BEGIN_COM_MAP(CompletionSink)
    COM_INTERFACE_ENTRY(IDispatch)
    COM_INTERFACE_ENTRY_IID(DIID_DWebBrowserEvents2, IDispatch)
    END_COM_MAP()

    IDispatch* m_browser = nullptr; // null: any DocumentComplete counts
    int m_completed = 0;

    STDMETHOD(GetTypeInfoCount)(UINT* count) override
    {
        *count = 0;
        return S_OK;
    }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo**) override
    {
        return E_NOTIMPL;
    }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override
    {
        return E_NOTIMPL;
    }
    STDMETHOD(Invoke)(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override
    {
        if (id == DISPID_DOCUMENTCOMPLETE && params->cArgs == 2
            && (!m_browser || V_DISPATCH(&params->rgvarg[1]) == m_browser))
            ++m_completed;
        return S_OK;
    }
};

// Handles this thread's messages until count reaches target; false after 30 s.
bool PumpUntil(const int& count, int target)
{
    const DWORD end = GetTickCount() + 30000;
    while (count < target) {
        if (static_cast<int>(end - GetTickCount()) <= 0)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
    }
    return true;
}

struct HostedControl {
    HWND window = nullptr;
    CComPtr<IWebBrowser2> browser;
    CComObject<CompletionSink>* sink = nullptr;
    CComPtr<IUnknown> sinkHold;

    // Creates the host and its control from "about:blank" and waits for its DocumentComplete.
    bool Create()
    {
        window = CreateWindowExW(
            0, u"AtlAxWin90", nullptr, WS_OVERLAPPEDWINDOW, 0, 0, 800, 600, nullptr, nullptr, nullptr, nullptr);
        CComPtr<IUnknown> unknown;
        if (!window || FAILED(AtlAxGetHost(window, &unknown))
            || FAILED(CComObject<CompletionSink>::CreateInstance(&sink)))
            return false;
        sinkHold = sink->GetUnknown();
        CComQIPtr<IAxWinHostWindow> host { unknown.p };
        CComPtr<IUnknown> control;
        if (!host
            || FAILED(
                host->CreateControlEx(u"about:blank", window, nullptr, &control, DIID_DWebBrowserEvents2, sinkHold)))
            return false;
        control->QueryInterface(IID_IWebBrowser2, reinterpret_cast<void**>(&browser));
        return browser && PumpUntil(sink->m_completed, 1);
    }
    void Destroy()
    {
        DestroyWindow(window);
        browser.Release();
        sinkHold.Release();
    }
};

void ColdStart(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        shdocvw::Browser::Process().Shutdown();
        state.ResumeTiming();
        if (!shdocvw::Browser::Process().Connection().connection) {
            state.SkipWithError("Chromium did not start");
            return;
        }
    }
}

void ControlToBlank(benchmark::State& state)
{
    shdocvw::Browser::Process().Connection(); // Chromium runs already, as for every control after the first
    for (auto _ : state) {
        HostedControl control;
        const bool created = control.Create();
        state.PauseTiming();
        control.Destroy();
        state.ResumeTiming();
        if (!created) {
            state.SkipWithError("the control did not reach about:blank");
            return;
        }
    }
}

// The engine page's top-level loads, counted for a waiting thread; what the page holds goes on.
class LoadCounter : public shdocvw::PageEvents {
public:
    shdocvw::Page* m_page = nullptr;

    void OnNavigationStarting(const std::string& id, const shdocvw::FrameNavigation&) override
    {
        m_page->Decide(id, shdocvw::Decision::Allow);
    }
    void OnNavigationFailed(const std::string& id, const shdocvw::FrameNavigation&, LONG) override
    {
        m_page->Decide(id, shdocvw::Decision::Allow);
    }
    void OnNavigationCommitted(const shdocvw::FrameNavigation&) override
    {
    }
    void OnDocumentLoaded(const shdocvw::FrameNavigation& navigation) override
    {
        if (!navigation.top)
            return;
        std::lock_guard guard(m_lock);
        ++m_loaded;
        m_changed.notify_all();
    }
    void OnTitleChanged(const std::string&) override
    {
    }
    void OnPopupRequested(const std::string& id, const std::string&) override
    {
        m_page->Decide(id, shdocvw::Decision::Allow);
    }

    int Loaded()
    {
        std::lock_guard guard(m_lock);
        return m_loaded;
    }
    bool WaitFor(int target)
    {
        std::unique_lock guard(m_lock);
        return m_changed.wait_for(guard, std::chrono::seconds(30), [&] { return m_loaded >= target; });
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    int m_loaded = 0;
};

using Milliseconds = std::chrono::duration<double, std::milli>;

// The value at fraction (0 to 1) of the sorted values, between neighbours where it falls between.
double Quantile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const double position = fraction * static_cast<double>(values.size() - 1);
    const size_t below = static_cast<size_t>(position);
    const size_t above = std::min(below + 1, values.size() - 1);
    return values[below] + (values[above] - values[below]) * (position - static_cast<double>(below));
}

// The paired navigations; false (with why) when either side could not navigate.
bool MeasureNavigation()
{
    HostedControl control;
    LoadCounter loads;
    std::string error;
    const shdocvw::PageOptions options; // as the control's page, whose host asks for images
    std::unique_ptr<shdocvw::Page> page = shdocvw::Page::Create(options, &loads, nullptr, error);
    if (!control.Create() || !page) {
        std::printf("Navigate: no control or no page (%s)\n", error.c_str());
        control.Destroy();
        return false;
    }
    control.sink->m_browser = CComQIPtr<IDispatch> { control.browser.p };
    loads.m_page = page.get();
    size_t next = 0;
    auto throughControl = [&](const char16_t* url) {
        VARIANT address;
        VariantInit(&address);
        V_VT(&address) = VT_BSTR;
        V_BSTR(&address) = SysAllocString(url);
        VARIANT empty;
        VariantInit(&empty);
        const int target = control.sink->m_completed + 1;
        const auto start = std::chrono::steady_clock::now();
        control.browser->Navigate2(&address, &empty, &empty, &empty, &empty);
        const bool done = PumpUntil(control.sink->m_completed, target);
        const Milliseconds took = std::chrono::steady_clock::now() - start;
        VariantClear(&address);
        return done ? took.count() : -1.0;
    };
    auto onFloor = [&](const char16_t* url) {
        const int target = loads.Loaded() + 1;
        const auto start = std::chrono::steady_clock::now();
        page->Navigate(Narrow(url));
        const bool done = loads.WaitFor(target);
        const Milliseconds took = std::chrono::steady_clock::now() - start;
        return done ? took.count() : -1.0;
    };
    bool ok = true;
    for (int round = 0; round < kWarmRounds; ++round)
        for (const char16_t* url : kPages)
            ok = ok && throughControl(url) >= 0 && onFloor(url) >= 0;
    std::vector<double> controlTimes;
    std::vector<double> floorTimes;
    std::vector<double> ratios;
    for (int pair = 0; ok && pair < kPairs; ++pair) {
        const char16_t* url = kPages[next++ % 2];
        const bool controlFirst = pair % 2 == 0;
        const double first = controlFirst ? throughControl(url) : onFloor(url);
        const double second = controlFirst ? onFloor(url) : throughControl(url);
        ok = first >= 0 && second >= 0;
        controlTimes.push_back(controlFirst ? first : second);
        floorTimes.push_back(controlFirst ? second : first);
        ratios.push_back(controlTimes.back() / floorTimes.back());
    }
    control.Destroy();
    if (!ok) {
        std::printf("Navigate: a navigation did not complete\n");
        return false;
    }
    std::printf("\nNavigate2 to DocumentComplete, %d pairs: control median %.1f ms, floor median %.1f ms\n"
                "control / floor per pair: median %.2fx (quartiles %.2fx to %.2fx; target 1.10x)\n",
        kPairs, Quantile(controlTimes, 0.5), Quantile(floorTimes, 0.5), Quantile(ratios, 0.5), Quantile(ratios, 0.25),
        Quantile(ratios, 0.75));
    return true;
}

void PrintMedians(const benchmark_support::MedianReporter& reporter)
{
    std::printf("\nmedian per call (ms): ColdStart %.1f, ControlToBlank %.1f\n", reporter.Median("ColdStart"),
        reporter.Median("ControlToBlank"));
}

}

int main(int argc, char** argv)
{
    const std::string root = testing_support::TestRoot(); // a fresh root, exported as WINROOT
    int status = 0;
    {
        testing_support::DemowebServer server;
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        AtlAxWinInit();
        const std::pair<const char*, void (*)(benchmark::State&)> benchmarks[] = {
            { "ColdStart", ColdStart },
            { "ControlToBlank", ControlToBlank },
        };
        for (const auto& [name, function] : benchmarks)
            benchmark::RegisterBenchmark(name, function)
                ->UseRealTime()
                ->Unit(benchmark::kMillisecond)
                ->Iterations(std::string(name) == "ColdStart" ? 1 : 5);
        status = benchmark_support::RunStable(argc, argv, [](const benchmark_support::MedianReporter& reporter) {
            PrintMedians(reporter);
            return MeasureNavigation() ? 0 : 1;
        });
        shdocvw::Browser::Process().Shutdown();
        CoUninitialize();
    }
    std::error_code ignored; // a root that cannot be removed stays in the temporary directory
    std::filesystem::remove_all(root, ignored);
    return status;
}
