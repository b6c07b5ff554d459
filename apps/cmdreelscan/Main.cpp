// CmdReelscan.exe: creates ReqService in ReelscanModule (COM starts the server), initialises it
// with the client window of its command line, requests the page and owns a window of class
// CMDREELSCAN_WND_CLASS until that window receives WM_DESTROY; then it uninitialises and releases
// the service and ends. It never outlives its client: the client window is checked every second,
// and a few checks in a row must miss it, so that one slow answer from a busy client is not taken
// for its end.
//
// Exit codes: 0 after WM_DESTROY, 1 bad command line, 2 COM or the service's activation failed,
// 3 the service refused Initialize, 4 the client window is gone, 5 its own window failed.
#include "CmdReelscanWindow.h"
#include "CommandLine.h"
#include "ReelscanModule.h"

#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

enum ExitCode : int {
    EndedByWindow = 0,
    BadCommandLine = 1,
    NoService = 2,
    InitializeRefused = 3,
    ClientGone = 4,
    NoWindow = 5,
};

constexpr UINT_PTR kClientCheckTimer = 1;
constexpr UINT kClientCheckInterval = 1000;
constexpr int kMissedChecksForGone = 3;

HWND Client = nullptr;
int MissedChecks = 0;
int Result = EndedByWindow;

LRESULT CALLBACK CompanionWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    if (message == WM_TIMER && wParam == kClientCheckTimer) {
        MissedChecks = IsWindow(Client) ? 0 : MissedChecks + 1;
        if (MissedChecks == kMissedChecksForGone) {
            Result = ClientGone;
            PostQuitMessage(0);
        }
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

int Fail(int code, const char* message, HRESULT hr = S_OK)
{
    if (FAILED(hr))
        std::fprintf(stderr, "CmdReelscan: %s (HRESULT 0x%08X)\n", message, static_cast<unsigned>(hr));
    else
        std::fprintf(stderr, "CmdReelscan: %s\n", message);
    return code;
}

HWND CreateCompanionWindow()
{
    WNDCLASSW windowClass {};
    windowClass.lpfnWndProc = CompanionWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = CMDREELSCAN_WND_CLASS;
    if (!RegisterClassW(&windowClass))
        return nullptr;
    return CreateWindowExW(
        0, CMDREELSCAN_WND_CLASS, nullptr, 0, 0, 0, 0, 0, nullptr, nullptr, windowClass.hInstance, nullptr);
}

int Serve(const CompanionRequest& request)
{
    Client = request.client;
    // The window comes first, so that the proxy can end this program while the server starts.
    const HWND window = CreateCompanionWindow();
    if (!window)
        return Fail(NoWindow, "cannot create the companion window");
    SetTimer(window, kClientCheckTimer, kClientCheckInterval, nullptr);

    IReqService* service = nullptr;
    HRESULT hr = CoCreateInstance(
        CLSID_ReqService, nullptr, CLSCTX_LOCAL_SERVER, IID_IReqService, reinterpret_cast<void**>(&service));
    if (FAILED(hr))
        return Fail(NoService, "cannot create ReqService; is ReelscanModule.exe registered?", hr);
    hr = service->Initialize(static_cast<ULONG>(reinterpret_cast<ULONG_PTR>(request.client)));
    if (FAILED(hr)) {
        service->Release();
        return Fail(InitializeRefused, "ReqService refused to initialise", hr);
    }
    BSTR url = SysAllocStringLen(request.url.data(), static_cast<UINT>(request.url.size()));
    service->RequestURL(url);
    SysFreeString(url);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    service->UnInitialize();
    service->Release();
    DestroyWindow(window);
    return Result == ClientGone ? Fail(ClientGone, "the client window is gone") : Result;
}

}

int main()
{
    const std::optional<CompanionRequest> request = ParseCompanionCommandLine(GetCommandLineW());
    if (!request)
        return Fail(BadCommandLine, "usage: CmdReelscan.exe URL WINDOW (the window handle in decimal)");
    if (!IsWindow(request->client))
        return Fail(ClientGone, "the client window does not exist");
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(hr))
        return Fail(NoService, "cannot initialise COM", hr);
    const int code = Serve(*request);
    CoUninitialize();
    return code;
}
