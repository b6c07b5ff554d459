// Window classes, windows, their longs and geometry, finding and enumerating them.
#include "User32.h"

#include "Endpoint.h"
#include "Utf.h"

#include <algorithm>
#include <cstring>
#include <unistd.h>
#include <unordered_map>

namespace user32 {

namespace {

constexpr int kMaxWndExtra = 40000;
constexpr ATOM kFirstAtom = 0xC000;
// Where CW_USEDEFAULT puts a top-level window, and how large it makes it.
constexpr int kDefaultX = 100;
constexpr int kDefaultY = 100;
constexpr int kDefaultWidth = 800;
constexpr int kDefaultHeight = 600;

struct Table {
    std::mutex mutex;
    std::unordered_map<std::uint32_t, std::shared_ptr<Window>> windows;
    std::vector<std::shared_ptr<WindowClass>> classes;
    std::vector<HWND> topLevel; // top of the Z order first
    std::vector<HWND> messageOnly;
    std::uint32_t lastSerial = 0;
    ATOM lastAtom = kFirstAtom - 1;
};

Table& TheTable()
{
    static Table* const table = new Table(); // outlives every thread that may still end
    return *table;
}

char16_t Fold(char16_t c)
{
    if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7))
        return static_cast<char16_t>(c - 0x20);
    return c;
}

std::shared_ptr<WindowClass> LockedClass(LPCWSTR name)
{
    for (const auto& windowClass : TheTable().classes)
        if (IS_INTRESOURCE(name) ? windowClass->atom == static_cast<ATOM>(reinterpret_cast<ULONG_PTR>(name))
                                 : EqualNoCase(windowClass->name, platform::WideView(name)))
            return windowClass;
    return nullptr;
}

// The class name that a FindWindow argument stands for: the text, or an atom's registered name.
std::optional<std::u16string> ClassNameArgument(LPCWSTR name)
{
    if (!name)
        return std::nullopt;
    if (!IS_INTRESOURCE(name))
        return std::u16string(platform::WideView(name));
    std::lock_guard lock(TableMutex());
    const std::shared_ptr<WindowClass> windowClass = LockedClass(name);
    return windowClass ? windowClass->name : std::u16string(u"\x01"); // an atom of no class matches nothing
}

HWND NewHandle()
{
    Table& table = TheTable();
    const std::uint32_t slot = platform::ipc::OwnSlot();
    constexpr std::uint32_t serialMask = (1u << kSerialBits) - 1;
    for (std::uint32_t tries = 0; tries < serialMask; ++tries) {
        table.lastSerial = (table.lastSerial & serialMask) + 1;
        if (table.lastSerial > serialMask)
            table.lastSerial = 1;
        const std::uint32_t value = (slot << kSerialBits) | table.lastSerial;
        if (!table.windows.contains(value))
            return HandleFromValue(value);
    }
    return nullptr;
}

std::vector<HWND>& LockedSiblings(const Window& window)
{
    Table& table = TheTable();
    if (window.parent)
        if (Window* parent = LockedWindow(window.parent))
            return parent->children;
    return window.messageOnly ? table.messageOnly : table.topLevel;
}

// Window text and class names as the copying functions return them: at most count - 1 characters
// and a terminator; the number copied.
int CopyText(std::u16string_view text, LPWSTR buffer, int count)
{
    if (!buffer || count <= 0)
        return 0;
    const std::size_t copied = std::min(text.size(), static_cast<std::size_t>(count - 1));
    std::copy_n(text.data(), copied, buffer);
    buffer[copied] = u'\0';
    return static_cast<int>(copied);
}

RECT ScreenRectLocked(const Window& window)
{
    RECT rect = window.rect;
    for (HWND parentHandle = window.parent; parentHandle;) {
        const Window* parent = LockedWindow(parentHandle);
        if (!parent)
            break;
        rect.left += parent->rect.left;
        rect.right += parent->rect.left;
        rect.top += parent->rect.top;
        rect.bottom += parent->rect.top;
        parentHandle = parent->parent;
    }
    return rect;
}

std::optional<WindowInfo> AnyWindowInfo(HWND hwnd)
{
    if (IsLocalHandle(hwnd))
        return LocalWindowInfo(hwnd);
    if (HandleSlot(hwnd) == 0)
        return std::nullopt;
    return RemoteWindowInfo(hwnd);
}

void SetText(HWND hwnd, LPCWSTR text)
{
    std::lock_guard lock(TableMutex());
    if (Window* window = LockedWindow(hwnd))
        window->text = IS_INTRESOURCE(text) ? std::u16string() : std::u16string(platform::WideView(text));
}

std::vector<HWND> ChildHandles(HWND hwnd)
{
    std::lock_guard lock(TableMutex());
    const Window* window = LockedWindow(hwnd);
    return window ? window->children : std::vector<HWND>();
}

// Sends WM_DESTROY to a window and then its descendants, while all of them still exist.
void SendDestroy(HWND hwnd)
{
    {
        std::lock_guard lock(TableMutex());
        Window* window = LockedWindow(hwnd);
        if (!window)
            return;
        window->state = WindowState::Destroying;
    }
    CallProcedure(hwnd, WM_DESTROY, 0, 0);
    for (HWND child : ChildHandles(hwnd))
        SendDestroy(child);
}

// Sends WM_NCDESTROY to the descendants and then the window, removing each after its message.
void SendNcDestroy(HWND hwnd)
{
    for (HWND child : ChildHandles(hwnd))
        SendNcDestroy(child);
    CallProcedure(hwnd, WM_NCDESTROY, 0, 0);
    std::shared_ptr<Window> removed;
    {
        std::lock_guard lock(TableMutex());
        Table& table = TheTable();
        const auto found = table.windows.find(HandleValue(hwnd));
        if (found == table.windows.end())
            return;
        removed = found->second;
        std::vector<HWND>& siblings = LockedSiblings(*removed);
        siblings.erase(std::remove(siblings.begin(), siblings.end(), hwnd), siblings.end());
        --removed->windowClass->windows;
        table.windows.erase(found);
    }
    RemoveWindowTimers(*removed->queue, hwnd);
    RemoveWindowMessages(*removed->queue, hwnd);
}

void DestroyTree(HWND hwnd)
{
    SendDestroy(hwnd);
    SendNcDestroy(hwnd);
}

// The window's geometry as SetWindowPos applies it; the WINDOWPOS to report, or none.
std::optional<WINDOWPOS> ApplyPosition(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags)
{
    std::lock_guard lock(TableMutex());
    Window* window = LockedWindow(hwnd);
    if (!window)
        return std::nullopt;
    RECT& rect = window->rect;
    if (!(flags & SWP_NOMOVE) && x == rect.left && y == rect.top)
        flags |= SWP_NOMOVE;
    if (!(flags & SWP_NOSIZE) && cx == rect.right - rect.left && cy == rect.bottom - rect.top)
        flags |= SWP_NOSIZE;
    const int width = (flags & SWP_NOSIZE) ? rect.right - rect.left : std::max(cx, 0);
    const int height = (flags & SWP_NOSIZE) ? rect.bottom - rect.top : std::max(cy, 0);
    if (!(flags & SWP_NOMOVE)) {
        rect.left = x;
        rect.top = y;
    }
    rect.right = rect.left + width;
    rect.bottom = rect.top + height;
    if (flags & SWP_SHOWWINDOW)
        window->style |= WS_VISIBLE;
    if (flags & SWP_HIDEWINDOW)
        window->style &= ~static_cast<DWORD>(WS_VISIBLE);
    if (!(flags & SWP_NOZORDER) && insertAfter != hwnd) {
        std::vector<HWND>& siblings = LockedSiblings(*window);
        siblings.erase(std::remove(siblings.begin(), siblings.end(), hwnd), siblings.end());
        auto at = siblings.begin();
        if (insertAfter == HWND_BOTTOM)
            at = siblings.end();
        else if (const auto after = std::find(siblings.begin(), siblings.end(), insertAfter); after != siblings.end())
            at = after + 1;
        siblings.insert(at, hwnd);
    }
    return WINDOWPOS { hwnd, insertAfter, rect.left, rect.top, width, height, flags };
}

bool Matches(const WindowSummary& window, const std::optional<std::u16string>& className, LPCWSTR title)
{
    return (!className || EqualNoCase(window.className, *className))
        && (!title || EqualNoCase(window.text, platform::WideView(title)));
}

std::vector<WindowSummary> AllTopLevelWindows()
{
    std::vector<WindowSummary> windows = LocalTopLevelWindows();
    std::vector<WindowSummary> remote = RemoteTopLevelWindows();
    windows.insert(windows.end(), std::make_move_iterator(remote.begin()), std::make_move_iterator(remote.end()));
    return windows;
}

std::vector<WindowSummary> LocalChildren(HWND parent)
{
    std::lock_guard lock(TableMutex());
    std::vector<WindowSummary> children;
    const std::vector<HWND>* handles = &TheTable().messageOnly;
    if (parent != HWND_MESSAGE) {
        const Window* window = LockedWindow(parent);
        if (!window)
            return children;
        handles = &window->children;
    }
    for (HWND child : *handles)
        if (const Window* window = LockedWindow(child))
            children.push_back({ child, window->windowClass->name, window->text });
    return children;
}

void CollectDescendants(HWND parent, std::vector<HWND>& into)
{
    const Window* window = LockedWindow(parent);
    if (!window)
        return;
    for (HWND child : window->children) {
        into.push_back(child);
        CollectDescendants(child, into);
    }
}

}

std::mutex& TableMutex()
{
    return TheTable().mutex;
}

Window* LockedWindow(HWND hwnd)
{
    Table& table = TheTable();
    const auto found = table.windows.find(HandleValue(hwnd));
    return found == table.windows.end() || found->second->hwnd != hwnd ? nullptr : found->second.get();
}

std::shared_ptr<Window> LocalWindow(HWND hwnd)
{
    std::lock_guard lock(TableMutex());
    Table& table = TheTable();
    const auto found = table.windows.find(HandleValue(hwnd));
    return found == table.windows.end() || found->second->hwnd != hwnd ? nullptr : found->second;
}

bool IsLocalHandle(HWND hwnd)
{
    const std::uint32_t slot = HandleSlot(hwnd);
    return slot != 0 && slot == platform::ipc::OwnSlot();
}

bool EqualNoCase(std::u16string_view a, std::u16string_view b)
{
    return a.size() == b.size()
        && std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) { return Fold(x) == Fold(y); });
}

void ForgetThreadWindows(DWORD threadId)
{
    std::lock_guard lock(TableMutex());
    Table& table = TheTable();
    std::vector<HWND> gone;
    for (const auto& [value, window] : table.windows)
        if (window->threadId == threadId)
            gone.push_back(window->hwnd);
    for (HWND hwnd : gone) {
        const auto found = table.windows.find(HandleValue(hwnd));
        std::vector<HWND>& siblings = LockedSiblings(*found->second);
        siblings.erase(std::remove(siblings.begin(), siblings.end(), hwnd), siblings.end());
        --found->second->windowClass->windows;
        table.windows.erase(found);
    }
}

std::vector<WindowSummary> LocalTopLevelWindows()
{
    std::lock_guard lock(TableMutex());
    std::vector<WindowSummary> windows;
    for (HWND hwnd : TheTable().topLevel)
        if (const Window* window = LockedWindow(hwnd))
            windows.push_back({ hwnd, window->windowClass->name, window->text });
    return windows;
}

std::optional<WindowInfo> LocalWindowInfo(HWND hwnd)
{
    std::lock_guard lock(TableMutex());
    const Window* window = LockedWindow(hwnd);
    if (!window)
        return std::nullopt;
    return WindowInfo { window->threadId, static_cast<DWORD>(getpid()), window->style, window->exStyle,
        window->parent ? window->parent : ((window->style & WS_POPUP) ? window->owner : nullptr),
        ScreenRectLocked(*window), window->windowClass->name, window->text };
}

}

using namespace user32;

extern "C" ATOM WINAPI RegisterClassExW(const WNDCLASSEXW* lpWndClass)
{
    if (!lpWndClass || lpWndClass->cbSize != sizeof(WNDCLASSEXW) || !lpWndClass->lpszClassName
        || IS_INTRESOURCE(lpWndClass->lpszClassName) || lpWndClass->cbWndExtra < 0
        || lpWndClass->cbWndExtra > kMaxWndExtra || lpWndClass->cbClsExtra < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::u16string_view name = platform::WideView(lpWndClass->lpszClassName);
    if (name.empty() || name.size() > kMaxClassName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::lock_guard lock(TableMutex());
    Table& table = TheTable();
    if (LockedClass(lpWndClass->lpszClassName)) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    auto windowClass = std::make_shared<WindowClass>();
    windowClass->name = name;
    if (lpWndClass->lpszMenuName && !IS_INTRESOURCE(lpWndClass->lpszMenuName))
        windowClass->menuName = platform::WideView(lpWndClass->lpszMenuName);
    windowClass->info = *lpWndClass;
    windowClass->info.lpszClassName = windowClass->name.c_str();
    if (!windowClass->menuName.empty())
        windowClass->info.lpszMenuName = windowClass->menuName.c_str();
    windowClass->atom = ++table.lastAtom;
    table.classes.push_back(windowClass);
    return windowClass->atom;
}

extern "C" ATOM WINAPI RegisterClassW(const WNDCLASSW* lpWndClass)
{
    if (!lpWndClass) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const WNDCLASSEXW extended { sizeof(WNDCLASSEXW), lpWndClass->style, lpWndClass->lpfnWndProc,
        lpWndClass->cbClsExtra, lpWndClass->cbWndExtra, lpWndClass->hInstance, lpWndClass->hIcon, lpWndClass->hCursor,
        lpWndClass->hbrBackground, lpWndClass->lpszMenuName, lpWndClass->lpszClassName, nullptr };
    return RegisterClassExW(&extended);
}

extern "C" BOOL WINAPI UnregisterClassW(LPCWSTR lpClassName, HINSTANCE hInstance)
{
    std::lock_guard lock(TableMutex());
    Table& table = TheTable();
    const std::shared_ptr<WindowClass> windowClass = lpClassName ? LockedClass(lpClassName) : nullptr;
    if (!windowClass) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    if (windowClass->windows > 0) {
        SetLastError(ERROR_CLASS_HAS_WINDOWS);
        return FALSE;
    }
    std::erase_if(table.classes, [&](const auto& entry) { return entry == windowClass; });
    return TRUE;
}

extern "C" BOOL WINAPI GetClassInfoExW(HINSTANCE hInstance, LPCWSTR lpszClass, LPWNDCLASSEXW lpwcx)
{
    if (!lpszClass || !lpwcx) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard lock(TableMutex());
    const std::shared_ptr<WindowClass> windowClass = LockedClass(lpszClass);
    if (!windowClass) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    *lpwcx = windowClass->info;
    return windowClass->atom;
}

extern "C" HWND WINAPI CreateWindowExW(DWORD dwExStyle, LPCWSTR lpClassName, LPCWSTR lpWindowName, DWORD dwStyle, int X,
    int Y, int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance, LPVOID lpParam)
{
    if (!lpClassName) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    const bool child = (dwStyle & WS_CHILD) != 0;
    const bool messageOnly = hWndParent == HWND_MESSAGE;
    if (child && !hWndParent) {
        SetLastError(ERROR_TLW_WITH_WSCHILD);
        return nullptr;
    }
    if (platform::ipc::OwnSlot() == 0) {
        SetLastError(ERROR_NO_SYSTEM_RESOURCES);
        return nullptr;
    }
    StartRemoteService();
    std::shared_ptr<ThreadQueue> queue = CurrentQueueShared();
    HWND hwnd;
    {
        std::lock_guard lock(TableMutex());
        Table& table = TheTable();
        std::shared_ptr<WindowClass> windowClass = LockedClass(lpClassName);
        if (!windowClass) {
            SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
            return nullptr;
        }
        if (child && !messageOnly && !LockedWindow(hWndParent)) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return nullptr;
        }
        hwnd = NewHandle();
        if (!hwnd) {
            SetLastError(ERROR_NO_SYSTEM_RESOURCES);
            return nullptr;
        }
        auto window = std::make_shared<Window>();
        window->hwnd = hwnd;
        window->threadId = queue->m_threadId;
        window->queue = queue;
        window->proc = windowClass->info.lpfnWndProc;
        window->windowClass = windowClass;
        window->style = dwStyle & ~static_cast<DWORD>(WS_VISIBLE); // made visible after WM_CREATE
        window->exStyle = dwExStyle;
        window->parent = child && !messageOnly ? hWndParent : nullptr;
        window->owner = !child && !messageOnly ? hWndParent : nullptr;
        window->messageOnly = messageOnly;
        window->instance = hInstance;
        window->id = child ? reinterpret_cast<LONG_PTR>(hMenu) : 0;
        window->extra.assign(static_cast<std::size_t>(windowClass->info.cbWndExtra), 0);
        const bool topLevel = !child && !messageOnly;
        const int x = X == CW_USEDEFAULT ? (topLevel ? kDefaultX : 0) : X;
        const int y = X == CW_USEDEFAULT ? (topLevel ? kDefaultY : 0) : Y;
        const int width = nWidth == CW_USEDEFAULT ? (topLevel ? kDefaultWidth : 0) : std::max(nWidth, 0);
        const int height = nWidth == CW_USEDEFAULT ? (topLevel ? kDefaultHeight : 0) : std::max(nHeight, 0);
        window->rect = { x, y, x + width, y + height };
        ++windowClass->windows;
        table.windows.emplace(HandleValue(hwnd), window);
        std::vector<HWND>& siblings = LockedSiblings(*window);
        siblings.insert(siblings.begin(), hwnd);
    }
    const std::shared_ptr<Window> window = LocalWindow(hwnd);
    CREATESTRUCTW create { lpParam, hInstance, hMenu, hWndParent,
        static_cast<int>(window->rect.bottom - window->rect.top),
        static_cast<int>(window->rect.right - window->rect.left), static_cast<int>(window->rect.top),
        static_cast<int>(window->rect.left), static_cast<LONG>(dwStyle), lpWindowName, lpClassName, dwExStyle };
    if (!CallProcedure(hwnd, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&create))) {
        SendNcDestroy(hwnd);
        return nullptr;
    }
    if (CallProcedure(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1) {
        DestroyTree(hwnd);
        return nullptr;
    }
    if (!IsWindow(hwnd))
        return nullptr; // destroyed by its own creation messages
    if (dwStyle & WS_VISIBLE)
        ShowWindow(hwnd, SW_SHOW);
    CallProcedure(hwnd, WM_SIZE, SIZE_RESTORED, MAKELONG(create.cx, create.cy));
    CallProcedure(hwnd, WM_MOVE, 0, MAKELONG(create.x, create.y));
    return IsWindow(hwnd) ? hwnd : nullptr;
}

extern "C" BOOL WINAPI DestroyWindow(HWND hWnd)
{
    {
        std::lock_guard lock(TableMutex());
        const Window* window = LockedWindow(hWnd);
        if (!window) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        if (window->threadId != GetCurrentThreadId()) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        if (window->state == WindowState::Destroying)
            return TRUE; // already on its way out, from an outer DestroyWindow
    }
    DestroyTree(hWnd);
    return TRUE;
}

extern "C" BOOL WINAPI IsWindow(HWND hWnd)
{
    return AnyWindowInfo(hWnd).has_value();
}

extern "C" BOOL WINAPI IsChild(HWND hWndParent, HWND hWnd)
{
    std::lock_guard lock(TableMutex());
    for (const Window* window = LockedWindow(hWnd); window && window->parent; window = LockedWindow(window->parent))
        if (window->parent == hWndParent)
            return TRUE;
    return FALSE;
}

extern "C" BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow)
{
    const bool show = nCmdShow != SW_HIDE;
    bool wasVisible;
    {
        std::lock_guard lock(TableMutex());
        Window* window = LockedWindow(hWnd);
        if (!window) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        wasVisible = (window->style & WS_VISIBLE) != 0;
        if (show)
            window->style |= WS_VISIBLE;
        else
            window->style &= ~static_cast<DWORD>(WS_VISIBLE);
    }
    if (wasVisible != show)
        SendMessageW(hWnd, WM_SHOWWINDOW, show, 0);
    return wasVisible;
}

extern "C" BOOL WINAPI IsWindowVisible(HWND hWnd)
{
    if (!IsLocalHandle(hWnd)) {
        const std::optional<WindowInfo> info = AnyWindowInfo(hWnd);
        return info && (info->style & WS_VISIBLE);
    }
    std::lock_guard lock(TableMutex());
    const Window* window = LockedWindow(hWnd);
    for (; window; window = window->parent ? LockedWindow(window->parent) : nullptr) {
        if (!(window->style & WS_VISIBLE))
            return FALSE;
        if (!window->parent)
            return TRUE;
    }
    return FALSE;
}

extern "C" BOOL WINAPI SetWindowTextW(HWND hWnd, LPCWSTR lpString)
{
    if (!IsLocalHandle(hWnd) || !LocalWindow(hWnd)) {
        SetLastError(IsWindow(hWnd) ? ERROR_ACCESS_DENIED : ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return static_cast<BOOL>(SendMessageW(hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lpString)));
}

extern "C" int WINAPI GetWindowTextW(HWND hWnd, LPWSTR lpString, int nMaxCount)
{
    if (!lpString || nMaxCount <= 0)
        return 0;
    lpString[0] = u'\0';
    if (IsLocalHandle(hWnd)) {
        if (!LocalWindow(hWnd)) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        return static_cast<int>(SendMessageW(hWnd, WM_GETTEXT, nMaxCount, reinterpret_cast<LPARAM>(lpString)));
    }
    const std::optional<WindowInfo> info = AnyWindowInfo(hWnd);
    if (!info) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return CopyText(info->text, lpString, nMaxCount);
}

extern "C" int WINAPI GetWindowTextLengthW(HWND hWnd)
{
    if (IsLocalHandle(hWnd) && LocalWindow(hWnd))
        return static_cast<int>(SendMessageW(hWnd, WM_GETTEXTLENGTH, 0, 0));
    const std::optional<WindowInfo> info = AnyWindowInfo(hWnd);
    if (!info) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return static_cast<int>(info->text.size());
}

extern "C" int WINAPI GetClassNameW(HWND hWnd, LPWSTR lpClassName, int nMaxCount)
{
    const std::optional<WindowInfo> info = AnyWindowInfo(hWnd);
    if (!info) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (!lpClassName || nMaxCount <= 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    return CopyText(info->className, lpClassName, nMaxCount);
}

extern "C" BOOL WINAPI GetWindowRect(HWND hWnd, LPRECT lpRect)
{
    const std::optional<WindowInfo> info = AnyWindowInfo(hWnd);
    if (!info || !lpRect) {
        SetLastError(info ? ERROR_INVALID_PARAMETER : ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    *lpRect = info->rect;
    return TRUE;
}

extern "C" BOOL WINAPI GetClientRect(HWND hWnd, LPRECT lpRect)
{
    RECT window;
    if (!GetWindowRect(hWnd, &window))
        return FALSE;
    *lpRect = { 0, 0, window.right - window.left, window.bottom - window.top }; // windows have no frame here
    return TRUE;
}

extern "C" BOOL WINAPI SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags)
{
    bool wasVisible = false;
    if (const std::shared_ptr<Window> window = LocalWindow(hWnd)) {
        std::lock_guard lock(TableMutex());
        wasVisible = (window->style & WS_VISIBLE) != 0;
    }
    std::optional<WINDOWPOS> position = ApplyPosition(hWnd, hWndInsertAfter, X, Y, cx, cy, uFlags);
    if (!position) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (((uFlags & SWP_SHOWWINDOW) && !wasVisible) || ((uFlags & SWP_HIDEWINDOW) && wasVisible))
        SendMessageW(hWnd, WM_SHOWWINDOW, (uFlags & SWP_SHOWWINDOW) != 0, 0);
    SendMessageW(hWnd, WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&*position));
    return TRUE;
}

extern "C" BOOL WINAPI MoveWindow(HWND hWnd, int X, int Y, int nWidth, int nHeight, BOOL bRepaint)
{
    return SetWindowPos(hWnd, nullptr, X, Y, nWidth, nHeight, SWP_NOZORDER | SWP_NOACTIVATE);
}

extern "C" BOOL WINAPI SetLayeredWindowAttributes(HWND hwnd, COLORREF crKey, BYTE bAlpha, DWORD dwFlags)
{
    std::lock_guard lock(TableMutex());
    Window* window = LockedWindow(hwnd);
    if (!window) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (!(window->exStyle & WS_EX_LAYERED) || (dwFlags & ~static_cast<DWORD>(LWA_COLORKEY | LWA_ALPHA))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    window->layeredKey = crKey;
    window->layeredAlpha = bAlpha;
    window->layeredFlags = dwFlags;
    window->layeredSet = true;
    return TRUE;
}

extern "C" BOOL WINAPI GetLayeredWindowAttributes(HWND hwnd, COLORREF* pcrKey, BYTE* pbAlpha, DWORD* pdwFlags)
{
    std::lock_guard lock(TableMutex());
    const Window* window = LockedWindow(hwnd);
    if (!window) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (!(window->exStyle & WS_EX_LAYERED) || !window->layeredSet) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (pcrKey)
        *pcrKey = window->layeredKey;
    if (pbAlpha)
        *pbAlpha = window->layeredAlpha;
    if (pdwFlags)
        *pdwFlags = window->layeredFlags;
    return TRUE;
}

extern "C" HWND WINAPI GetParent(HWND hWnd)
{
    const std::optional<WindowInfo> info = AnyWindowInfo(hWnd);
    if (!info) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    return info->parent;
}

extern "C" DWORD WINAPI GetWindowThreadProcessId(HWND hWnd, LPDWORD lpdwProcessId)
{
    const std::optional<WindowInfo> info = AnyWindowInfo(hWnd);
    if (!info) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (lpdwProcessId)
        *lpdwProcessId = info->processId;
    return info->threadId;
}

extern "C" LONG_PTR WINAPI GetWindowLongPtrW(HWND hWnd, int nIndex)
{
    if (!IsLocalHandle(hWnd)) {
        const std::optional<WindowInfo> info = AnyWindowInfo(hWnd);
        if (!info) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        if (nIndex == GWL_STYLE)
            return info->style;
        if (nIndex == GWL_EXSTYLE)
            return info->exStyle;
        SetLastError(ERROR_ACCESS_DENIED); // the rest belongs to the other process
        return 0;
    }
    std::lock_guard lock(TableMutex());
    const Window* window = LockedWindow(hWnd);
    if (!window) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    switch (nIndex) {
    case GWLP_WNDPROC:
        return reinterpret_cast<LONG_PTR>(window->proc);
    case GWLP_HINSTANCE:
        return reinterpret_cast<LONG_PTR>(window->instance);
    case GWLP_HWNDPARENT:
        return reinterpret_cast<LONG_PTR>(window->parent ? window->parent : window->owner);
    case GWLP_ID:
        return window->id;
    case GWL_STYLE:
        return window->style;
    case GWL_EXSTYLE:
        return window->exStyle;
    case GWLP_USERDATA:
        return window->userData;
    default:
        if (nIndex >= 0 && static_cast<std::size_t>(nIndex) + sizeof(LONG_PTR) <= window->extra.size()) {
            LONG_PTR value;
            std::memcpy(&value, window->extra.data() + nIndex, sizeof(value));
            return value;
        }
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
}

extern "C" LONG_PTR WINAPI SetWindowLongPtrW(HWND hWnd, int nIndex, LONG_PTR dwNewLong)
{
    if (!IsLocalHandle(hWnd)) {
        SetLastError(IsWindow(hWnd) ? ERROR_ACCESS_DENIED : ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    std::lock_guard lock(TableMutex());
    Window* window = LockedWindow(hWnd);
    if (!window) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    LONG_PTR previous;
    switch (nIndex) {
    case GWLP_WNDPROC:
        previous = reinterpret_cast<LONG_PTR>(window->proc);
        window->proc = reinterpret_cast<WNDPROC>(dwNewLong);
        return previous;
    case GWLP_HINSTANCE:
        previous = reinterpret_cast<LONG_PTR>(window->instance);
        window->instance = reinterpret_cast<HINSTANCE>(dwNewLong);
        return previous;
    case GWLP_HWNDPARENT:
        previous = reinterpret_cast<LONG_PTR>(window->owner);
        window->owner = reinterpret_cast<HWND>(dwNewLong);
        return previous;
    case GWLP_ID:
        previous = window->id;
        window->id = dwNewLong;
        return previous;
    case GWL_STYLE:
        previous = window->style;
        window->style = static_cast<DWORD>(dwNewLong);
        return previous;
    case GWL_EXSTYLE:
        previous = window->exStyle;
        window->exStyle = static_cast<DWORD>(dwNewLong);
        return previous;
    case GWLP_USERDATA:
        previous = window->userData;
        window->userData = dwNewLong;
        return previous;
    default:
        if (nIndex >= 0 && static_cast<std::size_t>(nIndex) + sizeof(LONG_PTR) <= window->extra.size()) {
            std::memcpy(&previous, window->extra.data() + nIndex, sizeof(previous));
            std::memcpy(window->extra.data() + nIndex, &dwNewLong, sizeof(dwNewLong));
            return previous;
        }
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
}

namespace {

// The 32-bit forms cannot carry pointers, as on 64-bit Windows.
bool PointerIndex(int nIndex)
{
    return nIndex == GWLP_WNDPROC || nIndex == GWLP_HINSTANCE || nIndex == GWLP_HWNDPARENT;
}

}

extern "C" LONG WINAPI GetWindowLongW(HWND hWnd, int nIndex)
{
    if (PointerIndex(nIndex)) {
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
    return static_cast<LONG>(GetWindowLongPtrW(hWnd, nIndex));
}

extern "C" LONG WINAPI SetWindowLongW(HWND hWnd, int nIndex, LONG dwNewLong)
{
    if (PointerIndex(nIndex)) {
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
    return static_cast<LONG>(SetWindowLongPtrW(hWnd, nIndex, dwNewLong));
}

extern "C" LRESULT WINAPI CallWindowProcW(WNDPROC lpPrevWndFunc, HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    return lpPrevWndFunc ? lpPrevWndFunc(hWnd, Msg, wParam, lParam) : 0;
}

extern "C" LRESULT WINAPI DefWindowProcW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    switch (Msg) {
    case WM_NCCREATE:
        if (lParam)
            SetText(hWnd, reinterpret_cast<const CREATESTRUCTW*>(lParam)->lpszName);
        return TRUE;
    case WM_SETTEXT:
        SetText(hWnd, reinterpret_cast<LPCWSTR>(lParam));
        return TRUE;
    case WM_GETTEXT: {
        std::lock_guard lock(TableMutex());
        const Window* window = LockedWindow(hWnd);
        return window ? CopyText(window->text, reinterpret_cast<LPWSTR>(lParam), static_cast<int>(wParam)) : 0;
    }
    case WM_GETTEXTLENGTH: {
        std::lock_guard lock(TableMutex());
        const Window* window = LockedWindow(hWnd);
        return window ? static_cast<LRESULT>(window->text.size()) : 0;
    }
    case WM_CLOSE:
        DestroyWindow(hWnd);
        return 0;
    case WM_QUERYENDSESSION:
        return TRUE;
    case WM_WINDOWPOSCHANGED: {
        const auto* position = reinterpret_cast<const WINDOWPOS*>(lParam);
        if (!position)
            return 0;
        if (!(position->flags & SWP_NOSIZE))
            SendMessageW(hWnd, WM_SIZE, SIZE_RESTORED, MAKELONG(position->cx, position->cy));
        if (!(position->flags & SWP_NOMOVE))
            SendMessageW(hWnd, WM_MOVE, 0, MAKELONG(position->x, position->y));
        return 0;
    }
    default:
        return 0;
    }
}

extern "C" HWND WINAPI FindWindowExW(HWND hWndParent, HWND hWndChildAfter, LPCWSTR lpszClass, LPCWSTR lpszWindow)
{
    if (hWndParent && hWndParent != HWND_MESSAGE && !LocalWindow(hWndParent)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    const std::optional<std::u16string> className = ClassNameArgument(lpszClass);
    const std::vector<WindowSummary> candidates = hWndParent ? LocalChildren(hWndParent) : AllTopLevelWindows();
    auto from = candidates.begin();
    if (hWndChildAfter) {
        from = std::find_if(candidates.begin(), candidates.end(),
            [&](const WindowSummary& window) { return window.hwnd == hWndChildAfter; });
        if (from == candidates.end())
            return nullptr;
        ++from;
    }
    const auto found = std::find_if(
        from, candidates.end(), [&](const WindowSummary& window) { return Matches(window, className, lpszWindow); });
    return found == candidates.end() ? nullptr : found->hwnd;
}

extern "C" HWND WINAPI FindWindowW(LPCWSTR lpClassName, LPCWSTR lpWindowName)
{
    return FindWindowExW(nullptr, nullptr, lpClassName, lpWindowName);
}

extern "C" BOOL WINAPI EnumWindows(WNDENUMPROC lpEnumFunc, LPARAM lParam)
{
    if (!lpEnumFunc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    for (const WindowSummary& window : AllTopLevelWindows())
        if (!lpEnumFunc(window.hwnd, lParam))
            return FALSE;
    return TRUE;
}

extern "C" BOOL WINAPI EnumChildWindows(HWND hWndParent, WNDENUMPROC lpEnumFunc, LPARAM lParam)
{
    if (!hWndParent)
        return EnumWindows(lpEnumFunc, lParam);
    if (!lpEnumFunc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::vector<HWND> descendants;
    {
        std::lock_guard lock(TableMutex());
        CollectDescendants(hWndParent, descendants);
    }
    for (HWND hwnd : descendants)
        if (LocalWindow(hwnd) && !lpEnumFunc(hwnd, lParam))
            return FALSE;
    return TRUE;
}
