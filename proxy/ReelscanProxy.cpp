#include "ReelscanProxy.h"

#include "CmdReelscanWindow.h"
#include "CompanionStart.h"
#include "VideoRecord.h"

#include <objbase.h>

#include <atomic>
#include <memory>

// The library keeps one request at a time. The stored window and the callback are read by the
// time-out and callback threads while the client's thread writes them, hence atomics; the rest is
// touched by the client's thread only.
//
// Each request ends on every way out of RequestURL: its window is destroyed and the stored handle
// cleared. A WM_DESTROY posted later (by UnInitialize, a time-out or a stop flag) then has no
// window to reach, so it can never end the client's own message loop, and a record that
// CmdReelscan sends after the end fails at once instead of waiting on a thread that no longer
// pumps for it. Only the window of the loop running on its thread ends that loop, so destroying
// the window leaves no quit message behind for a later loop.

namespace {

constexpr WCHAR kWindowClass[] = u"MSG_WND1";

std::atomic<VideoReceivedProc> g_callback { nullptr };
std::atomic<HWND> g_window { nullptr };
DWORD g_timeout = 0;
bool g_classRegistered = false;
thread_local HWND t_requestWindow = nullptr;

// One received record on its way to the callback, with the window of the request that got it.
struct Delivery {
    ReceivedVideo video;
    HWND window;
};

// Shared by RequestURL and its time-out thread; the event tells the thread that the request is over.
struct RequestTimer {
    HWND window = nullptr;
    DWORD timeout = 0;
    HANDLE ended = nullptr;
    ~RequestTimer()
    {
        if (ended)
            CloseHandle(ended);
    }
};

void ForgetWindow(HWND window)
{
    HWND expected = window;
    g_window.compare_exchange_strong(expected, nullptr);
}

// WM_DESTROY is the one way a request ends; it ends the loop of its own request only, once.
void EndRequest(HWND window)
{
    ForgetWindow(window);
    if (t_requestWindow == window) {
        t_requestWindow = nullptr;
        PostQuitMessage(0);
    }
}

DWORD WINAPI DeliverVideo(LPVOID parameter)
{
    const std::unique_ptr<Delivery> delivery(static_cast<Delivery*>(parameter));
    const VideoReceivedProc callback = g_callback.load();
    if (!callback)
        return 0;
    int32_t stop = 0;
    const ReceivedVideo& video = delivery->video;
    callback(video.title.c_str(), video.type.c_str(), video.url.c_str(), video.href.c_str(), video.cookie.c_str(),
        video.href.c_str(), video.icon.c_str(), video.length, &stop);
    if (stop && g_window.load() == delivery->window)
        PostMessageW(delivery->window, WM_DESTROY, 0, 0);
    return 0;
}

DWORD WINAPI WatchTimeout(LPVOID parameter)
{
    const std::unique_ptr<std::shared_ptr<RequestTimer>> timer(static_cast<std::shared_ptr<RequestTimer>*>(parameter));
    const RequestTimer& request = **timer;
    // The request's own window, not the stored one: the request may have lost the stored handle
    // to a later Initialize on another thread and must still end.
    if (WaitForSingleObject(request.ended, request.timeout) == WAIT_TIMEOUT)
        PostMessageW(request.window, WM_DESTROY, 0, 0);
    return 0;
}

void ReceiveRecord(HWND window, const COPYDATASTRUCT* data)
{
    if (!data)
        return;
    std::optional<ReceivedVideo> video = DecodeVideoRecord(*data);
    if (!video)
        return;
    auto delivery = std::make_unique<Delivery>(Delivery { std::move(*video), window });
    if (HANDLE thread = CreateThread(nullptr, 0, DeliverVideo, delivery.get(), 0, nullptr)) {
        delivery.release();
        CloseHandle(thread);
    }
}

LRESULT CALLBACK MessageWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_DESTROY:
        EndRequest(hwnd);
        return 0;
    case WM_COPYDATA:
        try {
            ReceiveRecord(hwnd, reinterpret_cast<const COPYDATASTRUCT*>(lParam));
        } catch (...) {
            // Out of memory for one record: that record is lost, the request goes on.
        }
        return 0;
    default:
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

bool StartCompanion(const WCHAR* url, HWND window)
{
    const std::optional<std::u16string> path = CompanionPath();
    std::optional<std::u16string> commandLine = CompanionCommandLine(url, window);
    if (!path || !commandLine)
        return false;
    STARTUPINFOW startup {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process {};
    if (!CreateProcessW(
            path->c_str(), commandLine->data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

std::shared_ptr<RequestTimer> StartTimer(HWND window, DWORD timeout)
{
    auto timer = std::make_shared<RequestTimer>();
    timer->window = window;
    timer->timeout = timeout;
    timer->ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!timer->ended)
        return nullptr;
    auto parameter = std::make_unique<std::shared_ptr<RequestTimer>>(timer);
    HANDLE thread = CreateThread(nullptr, 0, WatchTimeout, parameter.get(), 0, nullptr);
    if (!thread)
        return nullptr;
    parameter.release();
    CloseHandle(thread);
    return timer;
}

void RunRequest(const WCHAR* url, HWND window)
{
    if (!StartCompanion(url, window))
        return;
    // Without its time-out the request could wait forever; it ends at once instead.
    const std::shared_ptr<RequestTimer> timer = StartTimer(window, g_timeout);
    if (!timer)
        return;
    t_requestWindow = window;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    t_requestWindow = nullptr;
    SetEvent(timer->ended);
}

}

extern "C" int32_t Initialize(VideoReceivedProc callback)
{
    CoInitialize(nullptr);
    g_callback.store(callback);
    if (!g_classRegistered) {
        g_classRegistered = true;
        WNDCLASSW windowClass {};
        windowClass.lpfnWndProc = MessageWindowProc;
        windowClass.lpszClassName = kWindowClass;
        RegisterClassW(&windowClass);
    }
    // A window that an earlier Initialize made on this thread and no request used is not needed.
    HWND previous = g_window.exchange(nullptr);
    if (previous && GetWindowThreadProcessId(previous, nullptr) == GetCurrentThreadId())
        DestroyWindow(previous);
    HWND window = CreateWindowExW(
        WS_EX_NOPARENTNOTIFY, kWindowClass, nullptr, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    if (window)
        g_window.store(window);
    return 0;
}

extern "C" int32_t RequestURL(const char16_t* url, uint32_t timeout)
{
    g_timeout = EffectiveTimeout(timeout);
    // The loop below serves only windows of this thread; without one nothing could end it.
    const HWND window = g_window.load();
    if (!window || GetWindowThreadProcessId(window, nullptr) != GetCurrentThreadId())
        return 0;
    try {
        RunRequest(url, window);
    } catch (...) {
        // Out of memory before the request could start: it ends like a request that failed to start.
    }
    ForgetWindow(window);
    DestroyWindow(window);
    return 0;
}

extern "C" int32_t UnInitialize(void)
{
    CoUninitialize();
    if (HWND window = g_window.load())
        PostMessageW(window, WM_DESTROY, 0, 0);
    if (HWND companion = FindWindowW(CMDREELSCAN_WND_CLASS, nullptr))
        PostMessageW(companion, WM_DESTROY, 0, 0);
    return 0;
}
