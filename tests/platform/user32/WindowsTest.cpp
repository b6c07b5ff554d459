#include "TestWindow.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

using testing_support::kTestClass;
using testing_support::MakeWindow;

namespace {

struct Seen {
    HWND hwnd;
    UINT message;
};

// A handler that appends every message it sees to log.
testing_support::WindowHandler Logging(std::vector<Seen>& log)
{
    return [&log](HWND hwnd, UINT message, WPARAM, LPARAM) -> std::optional<LRESULT> {
        log.push_back({ hwnd, message });
        return std::nullopt;
    };
}

std::vector<UINT> MessagesOf(const std::vector<Seen>& log, HWND hwnd)
{
    std::vector<UINT> messages;
    for (const Seen& seen : log)
        if (seen.hwnd == hwnd)
            messages.push_back(seen.message);
    return messages;
}

constexpr COLORREF kColourKey = 0x00FF00;

}

TEST(WindowClasses, RegisterFindAndUnregister)
{
    WNDCLASSEXW windowClass {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW;
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.cbWndExtra = 16;
    windowClass.lpszClassName = u"Registered";
    const ATOM atom = RegisterClassExW(&windowClass);
    ASSERT_NE(atom, 0);

    windowClass.lpszClassName = u"REGISTERED";
    EXPECT_EQ(RegisterClassExW(&windowClass), 0) << "class names ignore case";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));

    WNDCLASSEXW info {};
    EXPECT_EQ(GetClassInfoExW(nullptr, u"registered", &info), atom);
    EXPECT_EQ(info.style, static_cast<UINT>(CS_HREDRAW));
    EXPECT_EQ(info.cbWndExtra, 16);
    EXPECT_EQ(std::u16string(info.lpszClassName), u"Registered");

    const HWND hwnd = CreateWindowExW(0, MAKEINTATOM(atom), u"", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(hwnd, nullptr) << "a class can be named by its atom";
    EXPECT_FALSE(UnregisterClassW(u"Registered", nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_HAS_WINDOWS));
    EXPECT_TRUE(DestroyWindow(hwnd));
    EXPECT_TRUE(UnregisterClassW(u"Registered", nullptr));
    EXPECT_FALSE(GetClassInfoExW(nullptr, u"Registered", &info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_DOES_NOT_EXIST));
    EXPECT_FALSE(UnregisterClassW(u"Registered", nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_DOES_NOT_EXIST));
    EXPECT_EQ(CreateWindowExW(0, u"Registered", u"", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANNOT_FIND_WND_CLASS));
}

TEST(Windows, CreationSendsNcCreateCreateThenSizeAndMove)
{
    std::vector<Seen> log;
    CREATESTRUCTW seenCreate {};
    std::u16string titleDuringCreate;
    testing_support::WindowHandler handler
        = [&](HWND hwnd, UINT message, WPARAM, LPARAM lParam) -> std::optional<LRESULT> {
        if (message != WM_GETTEXT) // asked for below
            log.push_back({ hwnd, message });
        if (message == WM_NCCREATE)
            seenCreate = *reinterpret_cast<const CREATESTRUCTW*>(lParam);
        if (message == WM_CREATE) {
            WCHAR title[32];
            titleDuringCreate.assign(title, static_cast<std::size_t>(GetWindowTextW(hwnd, title, 32)));
        }
        return std::nullopt;
    };
    testing_support::RegisterTestClass();
    const HINSTANCE instance = reinterpret_cast<HINSTANCE>(0x1000);
    const HWND hwnd = CreateWindowExW(WS_EX_TOOLWINDOW, kTestClass, u"Title", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
        CW_USEDEFAULT, 0, CW_USEDEFAULT, 0, nullptr, nullptr, instance, &handler);
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(MessagesOf(log, hwnd), (std::vector<UINT> { WM_NCCREATE, WM_CREATE, WM_SHOWWINDOW, WM_SIZE, WM_MOVE }));
    EXPECT_EQ(seenCreate.lpCreateParams, &handler);
    EXPECT_EQ(seenCreate.hInstance, instance);
    EXPECT_EQ(static_cast<DWORD>(seenCreate.style), static_cast<DWORD>(WS_OVERLAPPEDWINDOW | WS_VISIBLE));
    EXPECT_EQ(seenCreate.dwExStyle, static_cast<DWORD>(WS_EX_TOOLWINDOW));
    EXPECT_EQ(std::u16string(seenCreate.lpszName), u"Title");
    EXPECT_GT(seenCreate.cx, 0) << "CW_USEDEFAULT gives a real size";
    EXPECT_GT(seenCreate.cy, 0);
    EXPECT_EQ(titleDuringCreate, u"Title") << "DefWindowProcW sets the title at WM_NCCREATE";
    EXPECT_EQ(
        static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_STYLE)), static_cast<DWORD>(WS_OVERLAPPEDWINDOW | WS_VISIBLE));
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_EXSTYLE)), static_cast<DWORD>(WS_EX_TOOLWINDOW));
    EXPECT_EQ(reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(hwnd, GWLP_HINSTANCE)), instance);
    EXPECT_TRUE(IsWindowVisible(hwnd));
    DestroyWindow(hwnd);
}

TEST(Windows, ProcedureCanRefuseCreation)
{
    struct Case {
        const char* name;
        UINT refusingMessage;
        LRESULT refusal;
        std::vector<UINT> expected;
    };
    const Case cases[] = {
        { "WM_NCCREATE returns FALSE", WM_NCCREATE, FALSE, { WM_NCCREATE, WM_NCDESTROY } },
        { "WM_CREATE returns -1", WM_CREATE, -1, { WM_NCCREATE, WM_CREATE, WM_DESTROY, WM_NCDESTROY } },
    };
    for (const Case& c : cases) {
        std::vector<UINT> seen;
        HWND created = nullptr;
        const HWND hwnd = MakeWindow([&](HWND window, UINT message, WPARAM, LPARAM) -> std::optional<LRESULT> {
            created = window;
            seen.push_back(message);
            if (message == c.refusingMessage)
                return c.refusal;
            return std::nullopt;
        });
        EXPECT_EQ(hwnd, nullptr) << c.name;
        EXPECT_EQ(seen, c.expected) << c.name;
        EXPECT_FALSE(IsWindow(created)) << c.name;
    }
}

TEST(Windows, DestroyingSendsDestroyDownTheTreeAndNcDestroyUpIt)
{
    std::vector<Seen> log;
    std::vector<bool> childAliveDuringParentDestroy;
    HWND child = nullptr;
    const HWND parent = MakeWindow([&](HWND hwnd, UINT message, WPARAM, LPARAM) -> std::optional<LRESULT> {
        log.push_back({ hwnd, message });
        if (message == WM_DESTROY)
            childAliveDuringParentDestroy.push_back(IsWindow(child));
        return std::nullopt;
    });
    child = MakeWindow(Logging(log), parent);
    const HWND grandchild = MakeWindow(Logging(log), child);
    const HWND sibling = MakeWindow(Logging(log), parent);
    log.clear();

    ASSERT_TRUE(DestroyWindow(parent));
    std::vector<std::pair<HWND, UINT>> order;
    for (const Seen& seen : log)
        if (seen.message == WM_DESTROY || seen.message == WM_NCDESTROY)
            order.emplace_back(seen.hwnd, seen.message);
    const std::vector<std::pair<HWND, UINT>> expected = {
        { parent, WM_DESTROY },
        { sibling, WM_DESTROY },
        { child, WM_DESTROY },
        { grandchild, WM_DESTROY },
        { sibling, WM_NCDESTROY },
        { grandchild, WM_NCDESTROY },
        { child, WM_NCDESTROY },
        { parent, WM_NCDESTROY },
    };
    EXPECT_EQ(order, expected);
    EXPECT_EQ(childAliveDuringParentDestroy, std::vector<bool> { true });
    for (HWND hwnd : { parent, child, grandchild, sibling })
        EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_FALSE(DestroyWindow(parent));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

TEST(Windows, CloseDestroysButAPostedDestroyIsJustAMessage)
{
    std::vector<Seen> log;
    const HWND posted = MakeWindow(Logging(log));
    ASSERT_TRUE(PostMessageW(posted, WM_DESTROY, 0, 0));
    MSG message;
    ASSERT_TRUE(PeekMessageW(&message, posted, 0, 0, PM_REMOVE));
    DispatchMessageW(&message);
    EXPECT_TRUE(IsWindow(posted));
    EXPECT_EQ(MessagesOf(log, posted).back(), static_cast<UINT>(WM_DESTROY));

    EXPECT_EQ(SendMessageW(posted, WM_CLOSE, 0, 0), 0);
    EXPECT_FALSE(IsWindow(posted));
    EXPECT_EQ(MessagesOf(log, posted).back(), static_cast<UINT>(WM_NCDESTROY));
}

TEST(Windows, LongsReturnThePreviousValue)
{
    const HWND hwnd = MakeWindow({}, nullptr, WS_CAPTION);
    struct Case {
        const char* name;
        int index;
        LONG_PTR value;
    };
    const Case cases[] = {
        { "style", GWL_STYLE, WS_POPUP },
        { "extended style", GWL_EXSTYLE, WS_EX_LAYERED | WS_EX_NOACTIVATE },
        { "user data", GWLP_USERDATA, 0x12345678 },
        { "first extra", 0, -7 },
        { "last extra", static_cast<int>(sizeof(LONG_PTR)), 99 },
    };
    for (const Case& c : cases) {
        const LONG_PTR before = GetWindowLongPtrW(hwnd, c.index);
        EXPECT_EQ(SetWindowLongPtrW(hwnd, c.index, c.value), before) << c.name;
        EXPECT_EQ(GetWindowLongPtrW(hwnd, c.index), c.value) << c.name;
        EXPECT_EQ(GetWindowLongW(hwnd, c.index), static_cast<LONG>(c.value)) << c.name;
    }
    for (const int index : { -100, static_cast<int>(sizeof(LONG_PTR)) + 1, 1000 }) {
        SetLastError(0);
        EXPECT_EQ(GetWindowLongPtrW(hwnd, index), 0) << index;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_INDEX)) << index;
    }
    EXPECT_EQ(GetWindowLongW(hwnd, GWLP_WNDPROC), 0) << "the 32-bit form cannot hold a procedure";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_INDEX));
    DestroyWindow(hwnd);
    EXPECT_EQ(GetWindowLongPtrW(hwnd, GWL_STYLE), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

namespace {
WNDPROC g_original;
std::vector<UINT> g_subclassSeen;
LRESULT CALLBACK Subclass(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    g_subclassSeen.push_back(message);
    if (message == WM_USER)
        return 1000 + CallWindowProcW(g_original, hwnd, message, wParam, lParam);
    return CallWindowProcW(g_original, hwnd, message, wParam, lParam);
}
}

TEST(Windows, SubclassingChainsToThePreviousProcedure)
{
    const HWND hwnd = MakeWindow([](HWND, UINT message, WPARAM wParam, LPARAM) -> std::optional<LRESULT> {
        if (message == WM_USER)
            return static_cast<LRESULT>(wParam * 2);
        return std::nullopt;
    });
    g_original = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Subclass)));
    EXPECT_EQ(g_original, &testing_support::TestWindowProc);
    EXPECT_EQ(SendMessageW(hwnd, WM_USER, 21, 0), 1042);
    EXPECT_EQ(g_subclassSeen, std::vector<UINT> { WM_USER });
    EXPECT_EQ(SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_original)),
        reinterpret_cast<LONG_PTR>(Subclass));
    EXPECT_EQ(SendMessageW(hwnd, WM_USER, 21, 0), 42);
    DestroyWindow(hwnd);
}

TEST(Windows, TextAndClassNameAreCopiedWithTruncation)
{
    const HWND hwnd = MakeWindow({}, nullptr, 0, u"Hello");
    ASSERT_TRUE(SetWindowTextW(hwnd, u"Window text"));
    EXPECT_EQ(GetWindowTextLengthW(hwnd), 11);
    struct Case {
        int count;
        int expected;
        std::u16string text;
    };
    const Case cases[] = { { 100, 11, u"Window text" }, { 12, 11, u"Window text" }, { 11, 10, u"Window tex" },
        { 2, 1, u"W" }, { 1, 0, u"" } };
    for (const Case& c : cases) {
        WCHAR buffer[100];
        std::fill(std::begin(buffer), std::end(buffer), u'#');
        EXPECT_EQ(GetWindowTextW(hwnd, buffer, c.count), c.expected) << "count " << c.count;
        EXPECT_EQ(std::u16string(buffer), c.text) << "count " << c.count;
        std::fill(std::begin(buffer), std::end(buffer), u'#');
        const int classLength = GetClassNameW(hwnd, buffer, c.count);
        EXPECT_EQ(std::u16string(buffer, static_cast<std::size_t>(classLength)),
            std::u16string(kTestClass).substr(0, static_cast<std::size_t>(c.count - 1)))
            << "count " << c.count;
        EXPECT_EQ(buffer[classLength], u'\0') << "count " << c.count;
    }
    WCHAR buffer[4];
    EXPECT_EQ(GetClassNameW(hwnd, buffer, 0), 0);
    DestroyWindow(hwnd);
    EXPECT_EQ(GetClassNameW(hwnd, buffer, 4), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

TEST(Windows, GeometryFollowsMovesAndParents)
{
    std::vector<std::pair<UINT, LPARAM>> notes;
    const HWND parent = MakeWindow([&](HWND, UINT message, WPARAM, LPARAM lParam) -> std::optional<LRESULT> {
        if (message == WM_SIZE || message == WM_MOVE)
            notes.emplace_back(message, lParam);
        return std::nullopt;
    });
    const HWND child = MakeWindow({}, parent);
    notes.clear();
    ASSERT_TRUE(MoveWindow(parent, 10, 20, 300, 200, TRUE));
    EXPECT_EQ(notes,
        (std::vector<std::pair<UINT, LPARAM>> { { WM_SIZE, MAKELONG(300, 200) }, { WM_MOVE, MAKELONG(10, 20) } }));
    ASSERT_TRUE(SetWindowPos(child, nullptr, 5, 6, 50, 40, SWP_NOZORDER));
    RECT rect;
    ASSERT_TRUE(GetWindowRect(parent, &rect));
    EXPECT_EQ(
        std::vector<LONG>({ rect.left, rect.top, rect.right, rect.bottom }), std::vector<LONG>({ 10, 20, 310, 220 }));
    ASSERT_TRUE(GetWindowRect(child, &rect));
    EXPECT_EQ(
        std::vector<LONG>({ rect.left, rect.top, rect.right, rect.bottom }), std::vector<LONG>({ 15, 26, 65, 66 }));
    ASSERT_TRUE(GetClientRect(child, &rect));
    EXPECT_EQ(std::vector<LONG>({ rect.left, rect.top, rect.right, rect.bottom }), std::vector<LONG>({ 0, 0, 50, 40 }));
    notes.clear();
    ASSERT_TRUE(SetWindowPos(parent, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER));
    EXPECT_TRUE(notes.empty());
    DestroyWindow(parent);
}

TEST(Windows, VisibilityParentsThreadsAndLayering)
{
    const HWND parent = MakeWindow();
    const HWND child = MakeWindow({}, parent, WS_VISIBLE);
    EXPECT_FALSE(IsWindowVisible(child)) << "a hidden parent hides its children";
    EXPECT_FALSE(ShowWindow(parent, SW_SHOW));
    EXPECT_TRUE(IsWindowVisible(child));
    EXPECT_TRUE(ShowWindow(parent, SW_HIDE)) << "ShowWindow returns whether the window was visible";
    EXPECT_EQ(GetParent(child), parent);
    EXPECT_EQ(GetParent(parent), nullptr);
    EXPECT_TRUE(IsChild(parent, child));
    EXPECT_FALSE(IsChild(child, parent));
    DWORD process = 0;
    EXPECT_EQ(GetWindowThreadProcessId(child, &process), static_cast<DWORD>(gettid()));
    EXPECT_EQ(process, static_cast<DWORD>(getpid()));

    EXPECT_FALSE(SetLayeredWindowAttributes(parent, 0, 0, LWA_ALPHA)) << "only a layered window";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    SetWindowLongPtrW(parent, GWL_EXSTYLE, GetWindowLongPtrW(parent, GWL_EXSTYLE) | WS_EX_LAYERED);
    EXPECT_FALSE(GetLayeredWindowAttributes(parent, nullptr, nullptr, nullptr)) << "nothing set yet";
    ASSERT_TRUE(SetLayeredWindowAttributes(parent, kColourKey, 0, LWA_ALPHA));
    COLORREF key = 1;
    BYTE alpha = 1;
    DWORD flags = 0;
    ASSERT_TRUE(GetLayeredWindowAttributes(parent, &key, &alpha, &flags));
    EXPECT_EQ(key, kColourKey);
    EXPECT_EQ(alpha, 0);
    EXPECT_EQ(flags, static_cast<DWORD>(LWA_ALPHA));
    DestroyWindow(parent);
}

TEST(Windows, FindWindowExMatchesClassAndTitleAmongChildren)
{
    WNDCLASSW other {};
    other.lpfnWndProc = DefWindowProcW;
    other.lpszClassName = u"Other";
    const ATOM otherAtom = RegisterClassW(&other);
    const HWND parent = MakeWindow();
    // Created in this order; each new window goes on top of its siblings.
    const HWND plainEmpty = MakeWindow({}, parent, 0, u"");
    const HWND plainNamed = MakeWindow({}, parent, 0, u"Named");
    const HWND otherEmpty = MakeWindow({}, parent, 0, u"", u"Other");
    const HWND grandchild = MakeWindow({}, plainEmpty, 0, u"Deep");

    struct Case {
        const char* name;
        HWND after;
        const WCHAR* className;
        const WCHAR* title;
        HWND expected;
    };
    const Case cases[] = {
        { "any child: the top one", nullptr, nullptr, nullptr, otherEmpty },
        { "by class, any title", nullptr, kTestClass, nullptr, plainNamed },
        { "by class, ignoring case", nullptr, u"testwindow", nullptr, plainNamed },
        { "empty title matches only an empty title", nullptr, kTestClass, u"", plainEmpty },
        { "by title alone", nullptr, nullptr, u"named", plainNamed },
        { "after a child", plainNamed, kTestClass, nullptr, plainEmpty },
        { "after the last", plainEmpty, nullptr, nullptr, nullptr },
        { "by atom", nullptr, MAKEINTATOM(otherAtom), nullptr, otherEmpty },
        { "children only, not grandchildren", nullptr, nullptr, u"Deep", nullptr },
        { "no such class", nullptr, u"Missing", nullptr, nullptr },
    };
    for (const Case& c : cases)
        EXPECT_EQ(FindWindowExW(parent, c.after, c.className, c.title), c.expected) << c.name;
    EXPECT_EQ(FindWindowExW(plainEmpty, nullptr, nullptr, u"Deep"), grandchild);
    EXPECT_EQ(FindWindowW(kTestClass, u"Named"), nullptr) << "FindWindowW sees top-level windows only";

    const HWND topLevel = MakeWindow({}, nullptr, 0, u"Top");
    const HWND messageOnly = MakeWindow({}, HWND_MESSAGE, 0, u"Top");
    EXPECT_EQ(FindWindowW(kTestClass, u"top"), topLevel);
    EXPECT_EQ(FindWindowExW(HWND_MESSAGE, nullptr, nullptr, u"Top"), messageOnly);
    DestroyWindow(messageOnly);
    DestroyWindow(topLevel);
    DestroyWindow(parent);
    UnregisterClassW(u"Other", nullptr);
}

TEST(Windows, EnumerationVisitsDescendantsDepthFirstInZOrder)
{
    const HWND parent = MakeWindow();
    const HWND first = MakeWindow({}, parent);
    const HWND firstChild = MakeWindow({}, first);
    const HWND second = MakeWindow({}, parent);
    const HWND messageOnly = MakeWindow({}, HWND_MESSAGE);

    std::vector<HWND> visited;
    const auto collect = [](HWND hwnd, LPARAM lParam) -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(lParam)->push_back(hwnd);
        return TRUE;
    };
    EXPECT_TRUE(EnumChildWindows(parent, collect, reinterpret_cast<LPARAM>(&visited)));
    EXPECT_EQ(visited, (std::vector<HWND> { second, first, firstChild }));

    visited.clear();
    EXPECT_FALSE(EnumChildWindows(
        parent,
        [](HWND hwnd, LPARAM lParam) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(lParam)->push_back(hwnd);
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&visited)));
    EXPECT_EQ(visited, std::vector<HWND> { second }) << "FALSE stops the enumeration";

    visited.clear();
    EXPECT_TRUE(EnumWindows(collect, reinterpret_cast<LPARAM>(&visited)));
    EXPECT_EQ(visited, std::vector<HWND> { parent }) << "top-level windows only";
    DestroyWindow(messageOnly);
    DestroyWindow(parent);
}

TEST(Windows, HandlesAreNonzeroPositiveAndNotReusedSoon)
{
    std::set<HWND> seen;
    for (int i = 0; i < 200; ++i) {
        const HWND hwnd = MakeWindow();
        ASSERT_NE(hwnd, nullptr);
        const auto value = reinterpret_cast<std::uintptr_t>(hwnd);
        EXPECT_LT(value, 0x80000000u) << "a handle prints as a positive 32-bit number";
        EXPECT_TRUE(seen.insert(hwnd).second) << "handle reused after " << i << " windows";
        DestroyWindow(hwnd);
        EXPECT_FALSE(IsWindow(hwnd));
    }
    EXPECT_FALSE(IsWindow(nullptr));
    EXPECT_FALSE(IsWindow(reinterpret_cast<HWND>(0x12345)));
}
