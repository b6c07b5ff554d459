// The left-button messages that reach subclassed windows of the test's thread, in order: what a
// content window is sent when the service clicks the players of its page.
#pragma once

#include <windows.h>

#include <utility>
#include <vector>

// A click position as mouse messages carry it: x in the low 16 bits, y in the high.
inline LPARAM At(int x, int y)
{
    return static_cast<LPARAM>(static_cast<DWORD>(x) | static_cast<DWORD>(y) << 16);
}

// Keeps the mouse messages that reach a subclassed content window.
struct ClickLog {
    using Click = std::pair<UINT, LPARAM>;

    static inline std::vector<std::pair<HWND, Click>> entries;
    static inline std::vector<std::pair<HWND, WNDPROC>> previous;

    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message == WM_LBUTTONDOWN || message == WM_LBUTTONUP)
            entries.push_back({ window, { message, lParam } });
        for (const auto& [subclassed, proc] : previous) {
            if (subclassed == window)
                return CallWindowProcW(proc, window, message, wParam, lParam);
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }
    static void Watch(HWND window)
    {
        previous.push_back({ window,
            reinterpret_cast<WNDPROC>(SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Proc))) });
    }
    static std::vector<Click> Of(HWND window)
    {
        std::vector<Click> of;
        for (const auto& [target, click] : entries) {
            if (target == window)
                of.push_back(click);
        }
        return of;
    }
};

// What the players of demoweb's shdocvw/objects.html are sent, in order: the object (10, 20)-(330,
// 260), the applet (400, 30)-(500, 80) and the embed (40, 300)-(200, 390), each at its centre.
inline std::vector<ClickLog::Click> ObjectsPageClicks()
{
    return {
        { WM_LBUTTONDOWN, At(170, 140) },
        { WM_LBUTTONUP, At(170, 140) },
        { WM_LBUTTONDOWN, At(450, 55) },
        { WM_LBUTTONUP, At(450, 55) },
        { WM_LBUTTONDOWN, At(120, 345) },
        { WM_LBUTTONUP, At(120, 345) },
    };
}
