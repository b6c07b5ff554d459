// Apartments: per-thread initialisation counts, the one multithreaded apartment per process, and
// the hidden windows through which single-threaded apartments receive their work.
#include "Apartment.h"

#include "ClassTable.h"
#include "objbase.h"
#include "ole2.h"
#include "processthreadsapi.h"
#include "winuser.h"

#include <map>
#include <memory>
#include <thread>

namespace {

enum class ThreadModel { None, SingleThreaded, Multithreaded };

struct ThreadApartment {
    ThreadModel model = ThreadModel::None;
    unsigned initCount = 0;
    HWND window = nullptr;
};

// Posted to an apartment window: lParam owns a std::function<void()> to run.
constexpr UINT kRunJobMessage = WM_USER + 1;
// Posted to an apartment window to wake a thread waiting for a call; it carries nothing.
constexpr UINT kWakeMessage = WM_USER + 2;
constexpr const char16_t* kApartmentWindowClass = u"OleMainThreadWndClass";

std::mutex g_windowsLock;
// By thread id; outlives the static destructors, as the endpoint's I/O thread posts through it.
auto& g_apartmentWindows = *new std::map<DWORD, HWND>;

LRESULT CALLBACK ApartmentWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kRunJobMessage) {
        std::unique_ptr<std::function<void()>> job(reinterpret_cast<std::function<void()>*>(lParam));
        (*job)();
        return 0;
    }
    if (message == kWakeMessage)
        return 0;
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

HWND CreateApartmentWindow()
{
    static const ATOM atom = [] {
        WNDCLASSEXW windowClass {};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = ApartmentWindowProc;
        windowClass.lpszClassName = kApartmentWindowClass;
        return RegisterClassExW(&windowClass);
    }();
    if (!atom)
        return nullptr;
    HWND window = CreateWindowExW(
        0, kApartmentWindowClass, u"OLEChannelWnd", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    if (window) {
        std::lock_guard lock(g_windowsLock);
        g_apartmentWindows[GetCurrentThreadId()] = window;
    }
    return window;
}

void DestroyApartmentWindow(HWND window)
{
    if (!window)
        return;
    {
        std::lock_guard lock(g_windowsLock);
        g_apartmentWindows.erase(GetCurrentThreadId());
    }
    DestroyWindow(window);
}

thread_local ThreadApartment t_apartment;

// How many threads are in the multithreaded apartment; it exists while this is not 0.
std::mutex g_multithreadedLock;
unsigned g_multithreadedThreads = 0;

}

namespace ole32 {

bool CurrentApartment(ApartmentId& apartment)
{
    if (t_apartment.model == ThreadModel::SingleThreaded) {
        apartment = GetCurrentThreadId();
        return true;
    }
    if (t_apartment.model == ThreadModel::Multithreaded) {
        apartment = kMultithreadedApartment;
        return true;
    }
    std::lock_guard lock(g_multithreadedLock);
    apartment = kMultithreadedApartment;
    return g_multithreadedThreads != 0;
}

void MakeApartmentReachable()
{
    if (t_apartment.model == ThreadModel::SingleThreaded && !t_apartment.window)
        t_apartment.window = CreateApartmentWindow();
}

bool RunInApartment(ApartmentId apartment, std::function<void()> job)
{
    if (apartment == kMultithreadedApartment) {
        std::thread(std::move(job)).detach();
        return true;
    }
    HWND window = nullptr;
    {
        std::lock_guard lock(g_windowsLock);
        auto found = g_apartmentWindows.find(apartment);
        if (found == g_apartmentWindows.end())
            return false;
        window = found->second;
    }
    auto owned = std::make_unique<std::function<void()>>(std::move(job));
    if (!PostMessageW(window, kRunJobMessage, 0, reinterpret_cast<LPARAM>(owned.get())))
        return false;
    owned.release();
    return true;
}

CallWaiter::CallWaiter()
{
    MakeApartmentReachable();
    m_window = t_apartment.window;
}

void CallWaiter::Complete(platform::ipc::CallResult result)
{
    {
        std::lock_guard lock(m_mutex);
        m_result = std::move(result);
        m_done.notify_all();
    }
    if (m_window)
        PostMessageW(m_window, kWakeMessage, 0, 0);
}

platform::ipc::CallResult CallWaiter::Wait()
{
    if (!m_window) {
        std::unique_lock lock(m_mutex);
        m_done.wait(lock, [&] { return m_result.has_value(); });
        return std::move(*m_result);
    }
    // Only the apartment window's messages are taken from the queue: sent messages are handled by
    // the retrieval itself, and everything else posted to the thread waits for its own loop.
    std::optional<int> quitCode;
    for (;;) {
        {
            std::lock_guard lock(m_mutex);
            if (m_result)
                break;
        }
        MSG msg;
        const BOOL got = GetMessageW(&msg, m_window, 0, 0);
        if (got < 0) {
            // The thread is being stopped: the answer is given up.
            std::lock_guard lock(m_mutex);
            if (!m_result)
                m_result = platform::ipc::CallResult { platform::ipc::CallStatus::PeerGone, {} };
            break;
        }
        if (got == 0) {
            quitCode = static_cast<int>(msg.wParam);
            continue;
        }
        DispatchMessageW(&msg);
    }
    if (quitCode)
        PostQuitMessage(*quitCode);
    std::lock_guard lock(m_mutex);
    return std::move(*m_result);
}

}

extern "C" {

HRESULT WINAPI CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit)
{
    if (pvReserved)
        return E_INVALIDARG;
    ThreadModel wanted
        = (dwCoInit & COINIT_APARTMENTTHREADED) ? ThreadModel::SingleThreaded : ThreadModel::Multithreaded;
    ThreadApartment& apartment = t_apartment;
    if (apartment.model != ThreadModel::None) {
        if (apartment.model != wanted)
            return RPC_E_CHANGED_MODE;
        ++apartment.initCount;
        return S_FALSE;
    }
    apartment.model = wanted;
    apartment.initCount = 1;
    if (wanted == ThreadModel::SingleThreaded) {
        // A single-threaded apartment is served through its thread's message queue, which exists
        // from the start: what is posted to the thread before its loop runs is not lost.
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    }
    if (wanted == ThreadModel::Multithreaded) {
        std::lock_guard lock(g_multithreadedLock);
        ++g_multithreadedThreads;
    }
    return S_OK;
}

HRESULT WINAPI CoInitialize(LPVOID pvReserved)
{
    return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED);
}

HRESULT WINAPI OleInitialize(LPVOID pvReserved)
{
    return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED);
}

void WINAPI CoUninitialize(void)
{
    ThreadApartment& apartment = t_apartment;
    if (apartment.initCount == 0 || --apartment.initCount != 0)
        return;
    if (apartment.model == ThreadModel::SingleThreaded) {
        ole32::RevokeApartmentClassObjects(GetCurrentThreadId());
        DestroyApartmentWindow(apartment.window);
        apartment.window = nullptr;
    } else {
        bool last = false;
        {
            std::lock_guard lock(g_multithreadedLock);
            last = --g_multithreadedThreads == 0;
        }
        if (last)
            ole32::RevokeApartmentClassObjects(ole32::kMultithreadedApartment);
    }
    apartment.model = ThreadModel::None;
}

void WINAPI OleUninitialize(void)
{
    CoUninitialize();
}
}
