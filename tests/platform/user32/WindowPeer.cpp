// user32_peer CLASS TITLE: a process that owns one top-level window, for tests and benchmarks
// that need windows in another process. It prints the window's handle as a decimal line, then
// runs its message loop until the window is destroyed.
#include "windows.h"

#include <cstdio>
#include <string>
#include <unistd.h>

#include "PeerMessages.h"

namespace {

std::u16string Wide(const char* text)
{
    std::u16string wide;
    for (; *text; ++text)
        wide.push_back(static_cast<unsigned char>(*text));
    return wide;
}

LRESULT CALLBACK PeerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case peer::kEcho:
        return static_cast<LRESULT>(wParam) + lParam;
    case peer::kPing:
        PostMessageW(reinterpret_cast<HWND>(wParam), peer::kPong, 0, lParam);
        return 0;
    case peer::kCallBack:
        return SendMessageW(reinterpret_cast<HWND>(wParam), peer::kEcho, 20, 1) + 100;
    case peer::kHang:
        std::printf("busy\n");
        std::fflush(stdout);
        for (;;)
            pause();
    case WM_COPYDATA:
        return peer::CopyDataDigest(reinterpret_cast<const COPYDATASTRUCT*>(lParam));
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

}

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    const std::u16string className = Wide(argv[1]);
    const std::u16string title = Wide(argv[2]);
    WNDCLASSW windowClass {};
    windowClass.lpfnWndProc = PeerProc;
    windowClass.lpszClassName = className.c_str();
    if (!RegisterClassW(&windowClass))
        return 3;
    const HWND hwnd = CreateWindowExW(0, className.c_str(), title.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
        CW_USEDEFAULT, 0, nullptr, nullptr, nullptr, nullptr);
    if (!hwnd)
        return 4;
    std::printf("%ld\n", static_cast<long>(reinterpret_cast<LONG_PTR>(hwnd)));
    std::fflush(stdout);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
