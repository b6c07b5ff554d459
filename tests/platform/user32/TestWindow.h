// Windows for tests: each one runs a handler of its own, given at creation, and falls back on
// DefWindowProcW for what the handler leaves alone. Handlers run on the window's thread.
#pragma once

#include "windows.h"

#include <functional>
#include <map>
#include <mutex>
#include <optional>

namespace testing_support {

using WindowHandler = std::function<std::optional<LRESULT>(HWND, UINT, WPARAM, LPARAM)>;

inline std::mutex& HandlerMutex()
{
    static std::mutex mutex;
    return mutex;
}

inline std::map<HWND, WindowHandler>& Handlers()
{
    static std::map<HWND, WindowHandler> handlers;
    return handlers;
}

inline LRESULT CALLBACK TestWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    WindowHandler handler;
    {
        std::lock_guard lock(HandlerMutex());
        if (message == WM_NCCREATE) {
            const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
            if (create->lpCreateParams)
                Handlers()[hwnd] = *static_cast<const WindowHandler*>(create->lpCreateParams);
        }
        if (const auto found = Handlers().find(hwnd); found != Handlers().end())
            handler = found->second;
    }
    std::optional<LRESULT> result = handler ? handler(hwnd, message, wParam, lParam) : std::nullopt;
    return result ? *result : DefWindowProcW(hwnd, message, wParam, lParam);
}

inline constexpr const WCHAR* kTestClass = u"TestWindow";

inline void RegisterTestClass()
{
    WNDCLASSW windowClass {};
    windowClass.lpfnWndProc = TestWindowProc;
    windowClass.lpszClassName = kTestClass;
    windowClass.cbWndExtra = 2 * sizeof(LONG_PTR);
    RegisterClassW(&windowClass); // fails harmlessly when a test registered it already
}

inline HWND MakeWindow(WindowHandler handler = {}, HWND parent = nullptr, DWORD style = 0, const WCHAR* title = u"",
    const WCHAR* className = kTestClass)
{
    RegisterTestClass();
    return CreateWindowExW(0, className, title, style | (parent && parent != HWND_MESSAGE ? WS_CHILD : 0), 0, 0, 100,
        50, parent, nullptr, nullptr, handler ? &handler : nullptr);
}

}
