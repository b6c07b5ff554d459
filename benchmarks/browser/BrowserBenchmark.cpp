// The hidden browser's costs on demoweb's player pages, with the real headless Chromium:
// - ColdStart: starting Chromium until its DevTools pipe answers;
// - ControlToBlank: an "AtlAxWin90" window creating a WebBrowser control from "about:blank"
//   until its DocumentComplete;
// - Navigate/Control: Navigate2 to DocumentComplete through the control, from the thread's
//   message loop, against Navigate/Floor: the same navigation made on the control's engine page
//   (the DevTools client underneath, with the same request interception, no COM, no windows).
// The control should stay within 1.1x of its floor; after the runs the program prints the median
// of each and that ratio. It works in a fresh machine root of its own, its proxy set to its own
// demoweb, and ends the Chromium it started.
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

#include <benchmark/benchmark.h>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>

using ATL::CComObject;
using ATL::CComPtr;
using ATL::CComQIPtr;

namespace {

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

void NavigateControl(benchmark::State& state)
{
    HostedControl control;
    if (!control.Create()) {
        state.SkipWithError("no control");
        control.Destroy();
        return;
    }
    control.sink->m_browser = CComQIPtr<IDispatch> { control.browser.p };
    size_t next = 0;
    for (auto _ : state) {
        VARIANT address;
        VariantInit(&address);
        V_VT(&address) = VT_BSTR;
        V_BSTR(&address) = SysAllocString(kPages[next++ % 2]);
        VARIANT empty;
        VariantInit(&empty);
        const int target = control.sink->m_completed + 1;
        control.browser->Navigate2(&address, &empty, &empty, &empty, &empty);
        VariantClear(&address);
        if (!PumpUntil(control.sink->m_completed, target)) {
            state.SkipWithError("no DocumentComplete");
            break;
        }
    }
    control.Destroy();
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

void NavigateFloor(benchmark::State& state)
{
    LoadCounter loads;
    std::string error;
    const shdocvw::PageOptions options; // as the control's page, whose host asks for images
    std::unique_ptr<shdocvw::Page> page = shdocvw::Page::Create(options, &loads, nullptr, error);
    if (!page) {
        state.SkipWithError(error.c_str());
        return;
    }
    loads.m_page = page.get();
    size_t next = 0;
    for (auto _ : state) {
        const int target = loads.Loaded() + 1;
        page->Navigate(Narrow(kPages[next++ % 2]));
        if (!loads.WaitFor(target)) {
            state.SkipWithError("no load");
            break;
        }
    }
}

void PrintRatios(const benchmark_support::MedianReporter& reporter)
{
    const double control = reporter.Median("Navigate/Control");
    const double floor = reporter.Median("Navigate/Floor");
    std::printf("\nmedian per call (ms): ColdStart %.1f, ControlToBlank %.1f, Navigate/Control %.1f, "
                "Navigate/Floor %.1f\n",
        reporter.Median("ColdStart"), reporter.Median("ControlToBlank"), control, floor);
    if (control > 0 && floor > 0)
        std::printf(
            "Navigate2 to DocumentComplete through the control: %.2fx the floor (target 1.10x)\n", control / floor);
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
            { "Navigate/Control", NavigateControl },
            { "Navigate/Floor", NavigateFloor },
        };
        for (const auto& [name, function] : benchmarks)
            benchmark::RegisterBenchmark(name, function)
                ->UseRealTime()
                ->Unit(benchmark::kMillisecond)
                ->Iterations(std::string(name) == "ColdStart" ? 1 : 5);
        std::vector<char*> arguments = benchmark_support::StableArguments(argc, argv);
        int count = static_cast<int>(arguments.size());
        benchmark::Initialize(&count, arguments.data());
        if (benchmark::ReportUnrecognizedArguments(count, arguments.data())) {
            status = 1;
        } else {
            benchmark_support::MedianReporter reporter;
            benchmark::RunSpecifiedBenchmarks(&reporter);
            PrintRatios(reporter);
        }
        benchmark::Shutdown();
        shdocvw::Browser::Process().Shutdown();
        CoUninitialize();
    }
    std::error_code ignored; // a root that cannot be removed stays in the temporary directory
    std::filesystem::remove_all(root, ignored);
    return status;
}
