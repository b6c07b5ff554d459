// user32's own state, shared by its parts: the window table, the per-thread queues and the
// cross-process window protocol.
//
// Locks: the table lock guards every window and class; a queue's lock guards that queue. Neither
// is held while a window procedure, a callback or an endpoint call runs (the one exception: the
// answer to another process's post is written under the queue's lock, see PostToQueue), and the
// table lock is never taken while a queue's lock is held.
#pragma once

#include "windows.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace user32 {

using Clock = std::chrono::steady_clock;

inline constexpr std::size_t kMaxClassName = 256;
inline constexpr std::size_t kMaxWindowText = 32767;
inline constexpr std::size_t kMaxListedWindows = 65536;

// HWND values: the process's endpoint slot in bits 20..30, a per-process serial below, so that a
// handle names its process, is never 0 and stays positive as a 32-bit number.
inline constexpr int kSerialBits = 20;
inline std::uint32_t HandleValue(HWND hwnd)
{
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(hwnd));
}
inline HWND HandleFromValue(std::uint32_t value)
{
    return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(value));
}
inline std::uint32_t HandleSlot(HWND hwnd)
{
    const std::uintptr_t value = reinterpret_cast<std::uintptr_t>(hwnd);
    return value > 0xFFFFFFFFu ? 0 : static_cast<std::uint32_t>(value >> kSerialBits);
}

class ThreadQueue;

struct WindowClass {
    std::u16string name;
    std::u16string menuName;
    ATOM atom = 0;
    WNDCLASSEXW info {};
    int windows = 0;
};

enum class WindowState { Alive, Destroying };

struct Window {
    HWND hwnd = nullptr;
    DWORD threadId = 0;
    std::shared_ptr<ThreadQueue> queue;
    std::shared_ptr<WindowClass> windowClass;
    WNDPROC proc = nullptr;
    DWORD style = 0;
    DWORD exStyle = 0;
    std::u16string text;
    RECT rect {}; // in the parent's client coordinates, or the screen's for a top-level window
    HWND parent = nullptr; // child windows only
    HWND owner = nullptr;
    bool messageOnly = false;
    HINSTANCE instance = nullptr;
    LONG_PTR id = 0;
    LONG_PTR userData = 0;
    std::vector<std::uint8_t> extra; // the class's cbWndExtra bytes
    COLORREF layeredKey = 0;
    BYTE layeredAlpha = 0;
    DWORD layeredFlags = 0;
    bool layeredSet = false;
    WindowState state = WindowState::Alive;
    std::vector<HWND> children; // top of the Z order first
};

std::mutex& TableMutex();
// The window of this process with that handle, under the table lock; null when there is none.
Window* LockedWindow(HWND hwnd);
// The same, taking the lock itself; the window stays valid as an object but may be destroyed.
std::shared_ptr<Window> LocalWindow(HWND hwnd);
bool IsLocalHandle(HWND hwnd);

struct SentMessage;
// Calls a window's current procedure; context is the sent message being handled, if any.
LRESULT CallProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, SentMessage* context = nullptr);
// Removes every window of a thread that is ending, without messages.
void ForgetThreadWindows(DWORD threadId);
// Top-level windows of this process in Z order, for finding and listing.
struct WindowSummary {
    HWND hwnd;
    std::u16string className;
    std::u16string text;
};
std::vector<WindowSummary> LocalTopLevelWindows();

// What any process can learn about a window of its own: the answer to a remote query.
struct WindowInfo {
    DWORD threadId = 0;
    DWORD processId = 0;
    DWORD style = 0;
    DWORD exStyle = 0;
    HWND parent = nullptr;
    RECT rect {};
    std::u16string className;
    std::u16string text;
};
std::optional<WindowInfo> LocalWindowInfo(HWND hwnd);

// A message sent to a thread's window, from another thread or process. reply runs once: with the
// result when the procedure returns or calls ReplyMessage, with nothing when the window or its
// thread is gone before the message is handled.
struct SentMessage {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    std::vector<std::uint8_t> copyData; // WM_COPYDATA's data, owned here; lParam then points at copy
    COPYDATASTRUCT copy {};
    std::function<void(std::optional<LRESULT>)> reply;
};

struct Timer {
    HWND hwnd;
    UINT_PTR id;
    UINT elapse;
    TIMERPROC proc;
    Clock::time_point due;
};

// A thread's message queue. Other threads add to it under its lock and notify m_wake; only the
// owner thread takes messages out.
class ThreadQueue {
public:
    explicit ThreadQueue(DWORD threadId)
        : m_threadId(threadId)
    {
    }
    const DWORD m_threadId;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<MSG> m_posted;
    std::deque<std::shared_ptr<SentMessage>> m_sent;
    std::vector<Timer> m_timers;
    bool m_quit = false;
    int m_quitCode = 0;
    bool m_alive = true;
    DWORD m_newSince = 0; // QS_ bits that arrived since the thread last looked
    // Threads in MsgWaitForMultipleObjectsEx on this queue, which kernel32 must wake for new input.
    std::atomic<int> m_kernelWaiters = 0;
};

// The calling thread's queue, made on first use.
ThreadQueue& CurrentQueue();
std::shared_ptr<ThreadQueue> CurrentQueueShared();

// Adds a posted message to a queue; false with the error to report when the queue's thread has
// ended or the queue is full. accepted, if given, runs under the queue's lock once the message is
// sure to go in and before its thread can see it: a peer learns of the post before the message
// can end this process.
bool PostToQueue(ThreadQueue& queue, const MSG& message, DWORD& error, const std::function<void()>& accepted = {});
inline constexpr std::size_t kMaxPostedMessages = 10000;
// What may wait in one queue for its thread: a bound on what other processes can make it hold.
inline constexpr std::size_t kMaxSentMessages = 10000;
inline constexpr std::size_t kMaxSentBytes = 64 * 1024 * 1024;
// Hands a sent message to its window's thread; false (reply not run) when that thread has ended
// or its queue already holds as much as it may.
bool DeliverSent(ThreadQueue& queue, std::shared_ptr<SentMessage> message);
void RemoveWindowTimers(ThreadQueue& queue, HWND hwnd);
void RemoveWindowMessages(ThreadQueue& queue, HWND hwnd);

// Cross-process windows (Remote.cpp).
void StartRemoteService();
BOOL RemotePost(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
enum class SendMode { HandleSent, Block };
// Sends to a window of another process; false (last error set) when it cannot be delivered.
bool RemoteSend(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, SendMode mode,
    std::optional<Clock::time_point> deadline, LRESULT& result);
// The send shared by the local and remote paths: the outcome as the caller reports it.
bool SendInternal(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, SendMode mode,
    std::optional<Clock::time_point> deadline, LRESULT& result);
// A copy of WM_COPYDATA's block for a message that leaves the sender's thread.
void AttachCopyData(SentMessage& message, const COPYDATASTRUCT* data);
std::optional<WindowInfo> RemoteWindowInfo(HWND hwnd);
std::vector<WindowSummary> RemoteTopLevelWindows();

// Waits on the calling thread's queue until done() or the deadline, handling sent messages
// meanwhile unless mode is Block. Returns done(); when false, the last error says why: a time-out,
// or ERROR_OPERATION_ABORTED for a thread that is being stopped.
bool WaitForReply(
    ThreadQueue& queue, const std::function<bool()>& done, SendMode mode, std::optional<Clock::time_point> deadline);

// Case-insensitive comparison of window class names and titles.
bool EqualNoCase(std::u16string_view a, std::u16string_view b);

}
