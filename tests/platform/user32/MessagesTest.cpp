#include "TestWindow.h"

#include <atomic>
#include <future>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>
#include <vector>

using testing_support::MakeWindow;
using testing_support::WindowHandler;

namespace {

constexpr UINT kAsk = WM_USER + 1;
constexpr UINT kAskBack = WM_USER + 2;

// A thread that owns one window and runs a message loop until it is told to end.
class WindowThread {
public:
    explicit WindowThread(WindowHandler handler)
    {
        std::promise<std::pair<HWND, DWORD>> ready;
        auto created = ready.get_future();
        m_thread = std::thread([&ready, handler] {
            const HWND hwnd = MakeWindow(handler);
            ready.set_value({ hwnd, static_cast<DWORD>(gettid()) });
            MSG message;
            while (GetMessageW(&message, nullptr, 0, 0) > 0)
                DispatchMessageW(&message);
        });
        std::tie(m_hwnd, m_threadId) = created.get();
    }
    ~WindowThread()
    {
        PostThreadMessageW(m_threadId, WM_QUIT, 0, 0);
        m_thread.join();
    }
    HWND Window() const
    {
        return m_hwnd;
    }
    DWORD ThreadId() const
    {
        return m_threadId;
    }

private:
    std::thread m_thread;
    HWND m_hwnd = nullptr;
    DWORD m_threadId = 0;
};

// Waits until a sent message from another thread is waiting in this thread's queue.
void AwaitSentMessage()
{
    while (!(HIWORD(GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE))
        std::this_thread::yield();
}

}

TEST(Messages, SentBeforePostedThenQuitThenTimer)
{
    std::vector<UINT> handled;
    const HWND hwnd = MakeWindow([&](HWND, UINT message, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (message >= WM_USER)
            handled.push_back(message);
        return std::nullopt;
    });
    ASSERT_TRUE(SetTimer(hwnd, 7, USER_TIMER_MINIMUM, nullptr));
    ASSERT_TRUE(PostMessageW(hwnd, WM_USER + 10, 0, 0));
    PostQuitMessage(3);
    ASSERT_TRUE(PostMessageW(hwnd, WM_USER + 11, 0, 0)) << "posted after the quit request, still before WM_QUIT";
    std::thread sender([hwnd] { SendMessageW(hwnd, WM_USER + 20, 0, 0); });
    AwaitSentMessage();
    usleep(20'000); // lets the timer fall due: it must still come last

    std::vector<UINT> retrieved;
    MSG message;
    while (retrieved.size() < 4 && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        retrieved.push_back(message.message);
        if (message.message == WM_QUIT) {
            EXPECT_EQ(message.wParam, 3u);
        }
        if (message.message == WM_TIMER) {
            EXPECT_EQ(message.wParam, 7u);
        }
    }
    sender.join();
    EXPECT_EQ(handled, std::vector<UINT> { WM_USER + 20 }) << "the sent message is handled inside PeekMessageW";
    EXPECT_EQ(retrieved, (std::vector<UINT> { WM_USER + 10, WM_USER + 11, WM_QUIT, WM_TIMER }));
    DestroyWindow(hwnd);
}

TEST(Messages, PeekFiltersAndKeeps)
{
    const HWND first = MakeWindow();
    const HWND second = MakeWindow();
    PostMessageW(first, WM_USER + 1, 1, 0);
    PostMessageW(second, WM_USER + 2, 2, 0);
    PostThreadMessageW(static_cast<DWORD>(gettid()), WM_USER + 3, 3, 0);
    struct Case {
        const char* name;
        HWND filter;
        UINT first;
        UINT last;
        UINT expected;
    };
    const Case cases[] = {
        { "no filter", nullptr, 0, 0, WM_USER + 1 },
        { "by window", second, 0, 0, WM_USER + 2 },
        { "thread messages only", reinterpret_cast<HWND>(-1), 0, 0, WM_USER + 3 },
        { "by range", nullptr, WM_USER + 2, WM_USER + 3, WM_USER + 2 },
    };
    for (const Case& c : cases) {
        MSG message {};
        ASSERT_TRUE(PeekMessageW(&message, c.filter, c.first, c.last, PM_NOREMOVE)) << c.name;
        EXPECT_EQ(message.message, c.expected) << c.name;
    }
    MSG message;
    EXPECT_FALSE(PeekMessageW(&message, nullptr, WM_USER + 4, WM_USER + 9, PM_REMOVE));
    for (UINT expected = WM_USER + 1; expected <= WM_USER + 3; ++expected) {
        ASSERT_TRUE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE));
        EXPECT_EQ(message.message, expected);
    }
    EXPECT_FALSE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(GetMessageW(&message, reinterpret_cast<HWND>(0x7fff0000), 0, 0), -1);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    DestroyWindow(first);
    DestroyWindow(second);
}

TEST(Messages, PostThreadMessageNeedsAQueue)
{
    std::promise<DWORD> started;
    std::promise<void> mayEnd;
    std::promise<std::pair<BOOL, MSG>> received;
    std::thread thread([&] {
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE); // makes the queue
        started.set_value(static_cast<DWORD>(gettid()));
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        PostQuitMessage(9);
        MSG quit;
        const BOOL quitResult = GetMessageW(&quit, nullptr, 0, 0);
        EXPECT_EQ(quitResult, 0);
        EXPECT_EQ(quit.wParam, 9u);
        received.set_value({ got, message });
        mayEnd.get_future().wait();
    });
    const DWORD threadId = started.get_future().get();
    ASSERT_TRUE(PostThreadMessageW(threadId, WM_USER + 5, 55, 66));
    const auto [got, message] = received.get_future().get();
    EXPECT_EQ(got, TRUE);
    EXPECT_EQ(message.hwnd, nullptr);
    EXPECT_EQ(message.message, static_cast<UINT>(WM_USER + 5));
    EXPECT_EQ(message.wParam, 55u);
    EXPECT_EQ(message.lParam, 66);
    mayEnd.set_value();
    thread.join();
    EXPECT_FALSE(PostThreadMessageW(threadId, WM_USER, 0, 0)) << "the thread has ended";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_THREAD_ID));
}

TEST(Messages, CrossThreadSendRunsOnTheOwnerAndReturnsItsResult)
{
    std::atomic<DWORD> handlerThread = 0;
    std::atomic<BOOL> inSend = FALSE;
    WindowThread owner([&](HWND, UINT message, WPARAM wParam, LPARAM lParam) -> std::optional<LRESULT> {
        if (message == kAsk) {
            handlerThread = static_cast<DWORD>(gettid());
            inSend = InSendMessage();
            return static_cast<LRESULT>(wParam + lParam);
        }
        if (message == WM_COPYDATA) {
            const auto* copy = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
            return static_cast<LRESULT>(copy->dwData * 1000 + copy->cbData + static_cast<const char*>(copy->lpData)[1]);
        }
        return std::nullopt;
    });
    EXPECT_EQ(SendMessageW(owner.Window(), kAsk, 40, 2), 42);
    EXPECT_EQ(handlerThread.load(), owner.ThreadId());
    EXPECT_TRUE(inSend.load());
    char data[] = "abc";
    COPYDATASTRUCT copy { 7, 3, data };
    EXPECT_EQ(SendMessageW(owner.Window(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy)), 7000 + 3 + 'b');
    EXPECT_FALSE(PostMessageW(owner.Window(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MESSAGE_SYNC_ONLY));

    const HWND own = MakeWindow([&](HWND, UINT message, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (message == kAsk)
            return InSendMessage() ? 1 : 2;
        return std::nullopt;
    });
    EXPECT_EQ(SendMessageW(own, kAsk, 0, 0), 2) << "a send within the thread is a plain call";
    DestroyWindow(own);
}

TEST(Messages, AWaitingSenderHandlesMessagesSentToItsOwnWindows)
{
    std::atomic<int> depth = 0;
    const HWND mine = MakeWindow([&](HWND, UINT message, WPARAM wParam, LPARAM) -> std::optional<LRESULT> {
        if (message == kAskBack) {
            EXPECT_TRUE(InSendMessage());
            return static_cast<LRESULT>(wParam * 10);
        }
        return std::nullopt;
    });
    WindowThread other([&](HWND, UINT message, WPARAM wParam, LPARAM) -> std::optional<LRESULT> {
        if (message == kAsk) {
            ++depth;
            // Back to the sender's thread while it waits for this very message.
            return SendMessageW(reinterpret_cast<HWND>(wParam), kAskBack, 4, 0) + 2;
        }
        return std::nullopt;
    });
    EXPECT_EQ(SendMessageW(other.Window(), kAsk, reinterpret_cast<WPARAM>(mine), 0), 42);
    EXPECT_EQ(depth.load(), 1);
    DestroyWindow(mine);
}

TEST(Messages, SendMessageTimeoutGivesUpOnABusyThread)
{
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::promise<void> entered;
    std::atomic<int> handled = 0;
    WindowThread owner([&](HWND, UINT message, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (message == kAsk) {
            entered.set_value();
            released.wait();
            ++handled;
            return 5;
        }
        if (message == kAskBack)
            return 6;
        return std::nullopt;
    });
    std::thread blocker([&] { SendMessageW(owner.Window(), kAsk, 0, 0); });
    entered.get_future().wait();
    DWORD_PTR result = 123;
    EXPECT_EQ(SendMessageTimeoutW(owner.Window(), kAskBack, 0, 0, SMTO_NORMAL, 30, &result), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));
    EXPECT_EQ(result, 123u) << "no result on a time-out";
    release.set_value();
    blocker.join();
    EXPECT_EQ(handled.load(), 1);
    ASSERT_NE(SendMessageTimeoutW(owner.Window(), kAskBack, 0, 0, SMTO_BLOCK, 5000, &result), 0);
    EXPECT_EQ(result, 6u);
}

TEST(Messages, ReplyMessageReleasesTheSenderEarly)
{
    std::promise<void> senderReturned;
    std::shared_future<void> returned = senderReturned.get_future().share();
    std::promise<BOOL> replyOutsideSend;
    WindowThread owner([&](HWND, UINT message, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (message == kAsk) {
            replyOutsideSend.set_value(ReplyMessage(0));
            return 1;
        }
        if (message == kAskBack) {
            EXPECT_TRUE(ReplyMessage(77));
            EXPECT_EQ(InSendMessageEx(nullptr), static_cast<DWORD>(ISMEX_SEND | ISMEX_REPLIED));
            returned.wait(); // the sender has its answer while this procedure still runs
            return 5;
        }
        return std::nullopt;
    });
    EXPECT_EQ(SendMessageW(owner.Window(), kAskBack, 0, 0), 77);
    senderReturned.set_value();
    PostMessageW(owner.Window(), kAsk, 0, 0);
    EXPECT_FALSE(replyOutsideSend.get_future().get()) << "a posted message has no sender to reply to";
}

TEST(Messages, SendingToAWindowWhoseThreadEndsFailsInsteadOfHanging)
{
    std::promise<HWND> created;
    std::thread owner([&] {
        created.set_value(MakeWindow());
        AwaitSentMessage(); // ends with the message unhandled
    });
    const HWND hwnd = created.get_future().get();
    SetLastError(0);
    const LRESULT result = SendMessageW(hwnd, kAsk, 0, 0);
    const DWORD error = GetLastError();
    owner.join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_FALSE(IsWindow(hwnd)) << "a thread's windows end with it";
    EXPECT_FALSE(PostMessageW(hwnd, kAsk, 0, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_EQ(SendMessageW(hwnd, kAsk, 0, 0), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

namespace {
std::vector<UINT_PTR> g_timerProcCalls;
void CALLBACK OnTimer(HWND, UINT message, UINT_PTR id, DWORD)
{
    if (message == WM_TIMER)
        g_timerProcCalls.push_back(id);
}
}

TEST(Messages, TimersFireOncePerDueTimeAndRestartWhenSetAgain)
{
    const HWND hwnd = MakeWindow();
    ASSERT_EQ(SetTimer(hwnd, 5, USER_TIMER_MINIMUM, nullptr), 5u);
    MSG message;
    ASSERT_TRUE(GetMessageW(&message, hwnd, WM_TIMER, WM_TIMER));
    EXPECT_EQ(message.hwnd, hwnd);
    EXPECT_EQ(message.wParam, 5u);
    usleep(60'000); // several periods pass without the thread looking
    ASSERT_TRUE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(message.message, static_cast<UINT>(WM_TIMER));
    EXPECT_FALSE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) << "one WM_TIMER for any number of periods";

    ASSERT_EQ(SetTimer(hwnd, 5, 60'000, nullptr), 5u) << "the same id again restarts the timer";
    usleep(20'000);
    EXPECT_FALSE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE));
    EXPECT_TRUE(KillTimer(hwnd, 5));
    EXPECT_FALSE(KillTimer(hwnd, 5));

    const UINT_PTR threadTimer = SetTimer(nullptr, 0, USER_TIMER_MINIMUM, OnTimer);
    ASSERT_NE(threadTimer, 0u);
    ASSERT_TRUE(GetMessageW(&message, nullptr, 0, 0));
    EXPECT_EQ(message.hwnd, nullptr);
    DispatchMessageW(&message);
    EXPECT_EQ(g_timerProcCalls, std::vector<UINT_PTR> { threadTimer });
    EXPECT_TRUE(KillTimer(nullptr, threadTimer));

    SetTimer(hwnd, 6, USER_TIMER_MINIMUM, nullptr);
    DestroyWindow(hwnd);
    EXPECT_FALSE(KillTimer(hwnd, 6)) << "destroying the window killed its timers";
    EXPECT_EQ(SetTimer(hwnd, 6, 10, nullptr), 0u);
}

TEST(Messages, TranslateMessagePostsTheCharacterNext)
{
    const HWND hwnd = MakeWindow();
    PostMessageW(hwnd, WM_USER, 0, 0);
    const MSG key { hwnd, WM_KEYDOWN, 'A', 1, 0, {} };
    EXPECT_TRUE(TranslateMessage(&key));
    MSG message;
    ASSERT_TRUE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(message.message, static_cast<UINT>(WM_CHAR));
    EXPECT_EQ(message.wParam, static_cast<WPARAM>('a'));
    const MSG other { hwnd, WM_USER, 0, 0, 0, {} };
    EXPECT_FALSE(TranslateMessage(&other));
    DestroyWindow(hwnd);
}

TEST(Messages, MsgWaitWakesForNewInputOrTimesOut)
{
    EXPECT_EQ(MsgWaitForMultipleObjectsEx(0, nullptr, 10, QS_ALLINPUT, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    const DWORD me = static_cast<DWORD>(gettid());
    std::thread poster([me] { PostThreadMessageW(me, WM_USER, 0, 0); });
    EXPECT_EQ(MsgWaitForMultipleObjectsEx(0, nullptr, 10'000, QS_POSTMESSAGE, 0), 0u);
    poster.join();
    EXPECT_EQ(MsgWaitForMultipleObjectsEx(0, nullptr, 0, QS_POSTMESSAGE, 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << "input already seen does not count again";
    EXPECT_EQ(MsgWaitForMultipleObjectsEx(0, nullptr, 0, QS_POSTMESSAGE, MWMO_INPUTAVAILABLE), 0u);
    MSG message;
    EXPECT_TRUE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE));
}

namespace {

struct StoppedCall {
    std::function<std::pair<LRESULT, DWORD>()> call;
    std::promise<std::pair<LRESULT, DWORD>> outcome;
};

DWORD WINAPI RunStoppedCall(LPVOID parameter)
{
    auto* stopped = static_cast<StoppedCall*>(parameter);
    stopped->outcome.set_value(stopped->call());
    return 0;
}

}

TEST(Messages, MessageWaitsOfAThreadBeingStoppedFailAtOnce)
{
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    WindowThread busy([&](HWND, UINT message, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (message == kAsk)
            released.wait();
        return std::nullopt;
    });
    struct Case {
        const char* name;
        std::function<std::pair<LRESULT, DWORD>()> call;
        LRESULT expected;
    };
    const Case cases[] = {
        { "GetMessageW",
            [] {
                MSG message;
                const BOOL result = GetMessageW(&message, nullptr, 0, 0);
                return std::pair<LRESULT, DWORD>(result, GetLastError());
            },
            -1 },
        { "SendMessageW to a busy thread",
            [&] {
                const LRESULT result = SendMessageW(busy.Window(), kAsk, 0, 0);
                return std::pair<LRESULT, DWORD>(result, GetLastError());
            },
            0 },
        { "MsgWaitForMultipleObjectsEx",
            [] {
                const DWORD result = MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_ALLINPUT, 0);
                return std::pair<LRESULT, DWORD>(static_cast<LRESULT>(result), GetLastError());
            },
            static_cast<LRESULT>(WAIT_FAILED) },
    };
    for (const Case& c : cases) {
        StoppedCall stopped { c.call, {} };
        auto outcome = stopped.outcome.get_future();
        const HANDLE thread = CreateThread(nullptr, 0, RunStoppedCall, &stopped, 0, nullptr);
        ASSERT_NE(thread, nullptr) << c.name;
        // The stop may come before or during the wait; either way the call must fail at once.
        ASSERT_TRUE(TerminateThread(thread, 1)) << c.name;
        const auto [result, error] = outcome.get();
        EXPECT_EQ(result, c.expected) << c.name;
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_OPERATION_ABORTED)) << c.name;
        EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0) << c.name;
        CloseHandle(thread);
    }
    release.set_value();
}

TEST(Messages, MsgWaitWaitsOnKernelObjectsAndTheQueueTogether)
{
    const HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    const HANDLE handles[] = { event };
    EXPECT_EQ(MsgWaitForMultipleObjectsEx(1, handles, 10, QS_ALLINPUT, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    std::thread setter([event] { SetEvent(event); });
    EXPECT_EQ(MsgWaitForMultipleObjectsEx(1, handles, INFINITE, QS_ALLINPUT, 0), WAIT_OBJECT_0);
    setter.join();

    const DWORD me = GetCurrentThreadId();
    std::thread poster([me] { PostThreadMessageW(me, WM_USER, 0, 0); });
    EXPECT_EQ(MsgWaitForMultipleObjectsEx(1, handles, INFINITE, QS_POSTMESSAGE, 0), WAIT_OBJECT_0 + 1);
    poster.join();
    MSG message;
    EXPECT_TRUE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE));

    const HWND hwnd = MakeWindow();
    SetTimer(hwnd, 1, USER_TIMER_MINIMUM, nullptr);
    EXPECT_EQ(MsgWaitForMultipleObjectsEx(1, handles, 10'000, QS_TIMER, 0), WAIT_OBJECT_0 + 1)
        << "a timer falling due is input";
    DestroyWindow(hwnd);

    const HANDLE invalid[] = { reinterpret_cast<HANDLE>(0x7777) };
    EXPECT_EQ(MsgWaitForMultipleObjectsEx(1, invalid, 0, QS_ALLINPUT, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    CloseHandle(event);
}
