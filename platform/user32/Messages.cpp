// Per-thread message queues: posting, sending, retrieving and dispatching messages, and timers.
#include "User32.h"

#include "KernelObject.h"
#include "ThreadStop.h"

#include <algorithm>
#include <unordered_map>

namespace user32 {

namespace {

constexpr UINT_PTR kFirstThreadTimerId = 0x7FF0;

struct QueueRegistry {
    std::mutex mutex;
    std::unordered_map<DWORD, std::weak_ptr<ThreadQueue>> queues;
};

QueueRegistry& Registry()
{
    static QueueRegistry* const registry = new QueueRegistry(); // outlives every thread that may still end
    return *registry;
}

void Reply(SentMessage& message, std::optional<LRESULT> result)
{
    if (message.reply) {
        const auto reply = std::move(message.reply);
        message.reply = nullptr;
        reply(result);
    }
}

// What a thread keeps for itself: its queue and the messages it is handling, innermost last (null
// for a procedure called directly).
struct ThreadState {
    std::shared_ptr<ThreadQueue> queue;
    // Wakes the thread's message waits when the thread is asked to stop.
    std::unique_ptr<platform::StopWakeup> stopWakeup;
    std::vector<SentMessage*> handling;
    UINT_PTR lastThreadTimerId = kFirstThreadTimerId;

    ~ThreadState()
    {
        if (!queue)
            return;
        stopWakeup.reset();
        std::deque<std::shared_ptr<SentMessage>> unanswered;
        {
            std::lock_guard lock(queue->m_mutex);
            queue->m_alive = false;
            unanswered.swap(queue->m_sent);
            queue->m_posted.clear();
            queue->m_timers.clear();
        }
        for (const auto& message : unanswered)
            Reply(*message, std::nullopt);
        {
            std::lock_guard lock(Registry().mutex);
            Registry().queues.erase(queue->m_threadId);
        }
        ForgetThreadWindows(queue->m_threadId);
    }
};

thread_local ThreadState t_state;

bool MatchesFilter(HWND hwnd, UINT message, HWND filter, UINT first, UINT last)
{
    if (filter == reinterpret_cast<HWND>(-1) ? hwnd != nullptr : (filter && hwnd != filter))
        return false;
    return (first == 0 && last == 0) || (message >= first && message <= last);
}

// Handles the sent messages waiting in the calling thread's queue, one at a time, oldest first.
void HandleSentMessages(ThreadQueue& queue)
{
    for (;;) {
        std::shared_ptr<SentMessage> message;
        {
            std::lock_guard lock(queue.m_mutex);
            if (queue.m_sent.empty())
                return;
            message = std::move(queue.m_sent.front());
            queue.m_sent.pop_front();
        }
        if (!LocalWindow(message->hwnd)) {
            Reply(*message, std::nullopt);
            continue;
        }
        const LRESULT result
            = CallProcedure(message->hwnd, message->message, message->wParam, message->lParam, message.get());
        Reply(*message, result);
    }
}

enum class Removal { Keep, Remove };
enum class Blocking { Wait, NoWait };

// The message-retrieval order: sent messages (handled, never returned), posted messages, the quit
// request, then due timers. False when nothing is there and blocking is NoWait, or when the
// thread is being stopped.
bool Retrieve(ThreadQueue& queue, MSG& out, HWND filter, UINT first, UINT last, Removal removal, Blocking blocking)
{
    for (;;) {
        HandleSentMessages(queue);
        std::unique_lock lock(queue.m_mutex);
        queue.m_newSince = 0;
        if (!queue.m_sent.empty())
            continue;
        for (auto it = queue.m_posted.begin(); it != queue.m_posted.end(); ++it)
            if (MatchesFilter(it->hwnd, it->message, filter, first, last)) {
                out = *it;
                if (removal == Removal::Remove)
                    queue.m_posted.erase(it);
                return true;
            }
        if (queue.m_quit) {
            out = { nullptr, WM_QUIT, static_cast<WPARAM>(queue.m_quitCode), 0, GetTickCount(), {} };
            if (removal == Removal::Remove)
                queue.m_quit = false;
            return true;
        }
        const Clock::time_point now = Clock::now();
        Timer* next = nullptr;
        for (Timer& timer : queue.m_timers)
            if (MatchesFilter(timer.hwnd, WM_TIMER, filter, first, last) && (!next || timer.due < next->due))
                next = &timer;
        if (next && next->due <= now) {
            out = { next->hwnd, WM_TIMER, next->id, reinterpret_cast<LPARAM>(next->proc), GetTickCount(), {} };
            if (removal == Removal::Remove)
                next->due = now + std::chrono::milliseconds(next->elapse);
            return true;
        }
        if (blocking == Blocking::NoWait || platform::IsStopRequested())
            return false;
        if (next)
            queue.m_wake.wait_until(lock, next->due);
        else
            queue.m_wake.wait(lock);
    }
}

// Which QS_ kinds of input are in the queue now.
DWORD QueueContents(ThreadQueue& queue)
{
    DWORD contents = 0;
    if (!queue.m_posted.empty() || queue.m_quit)
        contents |= QS_POSTMESSAGE | QS_ALLPOSTMESSAGE;
    if (!queue.m_sent.empty())
        contents |= QS_SENDMESSAGE;
    const Clock::time_point now = Clock::now();
    if (std::any_of(queue.m_timers.begin(), queue.m_timers.end(), [&](const Timer& timer) { return timer.due <= now; }))
        contents |= QS_TIMER;
    return contents;
}

std::optional<Clock::time_point> EarliestTimer(const ThreadQueue& queue)
{
    std::optional<Clock::time_point> earliest;
    for (const Timer& timer : queue.m_timers)
        if (!earliest || timer.due < *earliest)
            earliest = timer.due;
    return earliest;
}

// The queue as kernel32 waits on it: signalled when input of the wake mask is there, or, without
// MWMO_INPUTAVAILABLE, when such input arrived since the thread last looked.
class QueueInput : public platform::Waitable {
public:
    QueueInput(ThreadQueue& queue, DWORD mask, DWORD flags)
        : m_queue(queue)
        , m_mask(mask)
        , m_flags(flags)
    {
    }
    bool IsSignaled() const override
    {
        std::lock_guard lock(m_queue.m_mutex);
        const DWORD timers = QueueContents(m_queue) & QS_TIMER;
        const DWORD input = (m_flags & MWMO_INPUTAVAILABLE) ? QueueContents(m_queue) : (m_queue.m_newSince | timers);
        return (input & m_mask) != 0;
    }
    void Acquire() override
    {
        std::lock_guard lock(m_queue.m_mutex);
        m_queue.m_newSince = 0;
    }

private:
    ThreadQueue& m_queue;
    const DWORD m_mask;
    const DWORD m_flags;
};

// Wakes a thread that waits on its queue through kernel32, after the queue changed.
void WakeKernelWaiters(const ThreadQueue& queue)
{
    if (queue.m_kernelWaiters.load() > 0)
        platform::WakeWaiters();
}

}

std::shared_ptr<ThreadQueue> CurrentQueueShared()
{
    if (!t_state.queue) {
        t_state.queue = std::make_shared<ThreadQueue>(GetCurrentThreadId());
        t_state.stopWakeup = std::make_unique<platform::StopWakeup>([queue = t_state.queue.get()] {
            std::lock_guard lock(queue->m_mutex); // so that a waiter between its check and its wait sees it
            queue->m_wake.notify_all();
        });
        std::lock_guard lock(Registry().mutex);
        Registry().queues[t_state.queue->m_threadId] = t_state.queue;
    }
    return t_state.queue;
}

ThreadQueue& CurrentQueue()
{
    return *CurrentQueueShared();
}

LRESULT CallProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, SentMessage* context)
{
    WNDPROC proc;
    {
        std::lock_guard lock(TableMutex());
        const Window* window = LockedWindow(hwnd);
        if (!window) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        proc = window->proc;
    }
    t_state.handling.push_back(context);
    const LRESULT result = proc ? proc(hwnd, message, wParam, lParam) : DefWindowProcW(hwnd, message, wParam, lParam);
    t_state.handling.pop_back();
    return result;
}

bool PostToQueue(ThreadQueue& queue, const MSG& message, DWORD& error, const std::function<void()>& accepted)
{
    {
        std::lock_guard lock(queue.m_mutex);
        if (!queue.m_alive) {
            error = ERROR_INVALID_WINDOW_HANDLE;
            return false;
        }
        if (queue.m_posted.size() >= kMaxPostedMessages) {
            error = ERROR_NOT_ENOUGH_QUOTA;
            return false;
        }
        if (accepted)
            accepted();
        queue.m_posted.push_back(message);
        queue.m_newSince |= QS_POSTMESSAGE | QS_ALLPOSTMESSAGE;
    }
    queue.m_wake.notify_all();
    WakeKernelWaiters(queue);
    return true;
}

bool DeliverSent(ThreadQueue& queue, std::shared_ptr<SentMessage> message)
{
    {
        std::lock_guard lock(queue.m_mutex);
        std::size_t bytes = message->copyData.size();
        for (const auto& waiting : queue.m_sent)
            bytes += waiting->copyData.size();
        if (!queue.m_alive || queue.m_sent.size() >= kMaxSentMessages || bytes > kMaxSentBytes)
            return false;
        queue.m_sent.push_back(std::move(message));
        queue.m_newSince |= QS_SENDMESSAGE;
    }
    queue.m_wake.notify_all();
    WakeKernelWaiters(queue);
    return true;
}

void RemoveWindowTimers(ThreadQueue& queue, HWND hwnd)
{
    std::lock_guard lock(queue.m_mutex);
    std::erase_if(queue.m_timers, [&](const Timer& timer) { return timer.hwnd == hwnd; });
}

void RemoveWindowMessages(ThreadQueue& queue, HWND hwnd)
{
    std::lock_guard lock(queue.m_mutex);
    std::erase_if(queue.m_posted, [&](const MSG& message) { return message.hwnd == hwnd; });
}

bool WaitForReply(
    ThreadQueue& queue, const std::function<bool()>& done, SendMode mode, std::optional<Clock::time_point> deadline)
{
    for (;;) {
        if (mode == SendMode::HandleSent)
            HandleSentMessages(queue);
        std::unique_lock lock(queue.m_mutex);
        if (done())
            return true;
        if (mode == SendMode::HandleSent && !queue.m_sent.empty())
            continue;
        if (platform::IsStopRequested()) {
            SetLastError(ERROR_OPERATION_ABORTED);
            return false;
        }
        if (deadline) {
            if (Clock::now() >= *deadline) {
                SetLastError(ERROR_TIMEOUT);
                return false;
            }
            queue.m_wake.wait_until(lock, *deadline);
        } else
            queue.m_wake.wait(lock);
    }
}

void AttachCopyData(SentMessage& message, const COPYDATASTRUCT* data)
{
    if (!data)
        return;
    const auto* bytes = static_cast<const std::uint8_t*>(data->lpData);
    message.copyData.assign(bytes, bytes ? bytes + data->cbData : bytes);
    message.copy = { data->dwData, static_cast<DWORD>(message.copyData.size()),
        message.copyData.empty() ? nullptr : message.copyData.data() };
    message.lParam = reinterpret_cast<LPARAM>(&message.copy);
}

bool SendInternal(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, SendMode mode,
    std::optional<Clock::time_point> deadline, LRESULT& result)
{
    result = 0;
    if (!IsLocalHandle(hwnd)) {
        if (HandleSlot(hwnd) == 0) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return false;
        }
        return RemoteSend(hwnd, message, wParam, lParam, mode, deadline, result);
    }
    const std::shared_ptr<Window> window = LocalWindow(hwnd);
    if (!window) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    if (window->threadId == GetCurrentThreadId()) {
        result = CallProcedure(hwnd, message, wParam, lParam);
        return true;
    }
    struct Outcome {
        bool done = false;
        std::optional<LRESULT> result;
    };
    const std::shared_ptr<ThreadQueue> me = CurrentQueueShared();
    const auto outcome = std::make_shared<Outcome>();
    auto sent = std::make_shared<SentMessage>(SentMessage { hwnd, message, wParam, lParam, {}, {}, {} });
    if (message == WM_COPYDATA)
        AttachCopyData(*sent, reinterpret_cast<const COPYDATASTRUCT*>(lParam)); // the sender may stop waiting
    sent->reply = [weakMe = std::weak_ptr<ThreadQueue>(me), outcome](std::optional<LRESULT> value) {
        if (const auto waiter = weakMe.lock()) {
            {
                std::lock_guard lock(waiter->m_mutex);
                outcome->done = true;
                outcome->result = value;
            }
            waiter->m_wake.notify_all();
        }
    };
    if (!DeliverSent(*window->queue, sent)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    if (!WaitForReply(
            *me, [&] { return outcome->done; }, mode, deadline))
        return false;
    if (!outcome->result) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    result = *outcome->result;
    return true;
}

}

using namespace user32;

extern "C" BOOL WINAPI GetMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax)
{
    if (!lpMsg) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    if (hWnd && hWnd != reinterpret_cast<HWND>(-1) && !LocalWindow(hWnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return -1;
    }
    if (!Retrieve(CurrentQueue(), *lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, Removal::Remove, Blocking::Wait)) {
        SetLastError(ERROR_OPERATION_ABORTED);
        return -1;
    }
    return lpMsg->message != WM_QUIT;
}

extern "C" BOOL WINAPI PeekMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg)
{
    if (!lpMsg)
        return FALSE;
    return Retrieve(CurrentQueue(), *lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax,
        (wRemoveMsg & PM_REMOVE) ? Removal::Remove : Removal::Keep, Blocking::NoWait);
}

extern "C" BOOL WINAPI TranslateMessage(const MSG* lpMsg)
{
    if (!lpMsg)
        return FALSE;
    const UINT message = lpMsg->message;
    if (message != WM_KEYDOWN && message != WM_SYSKEYDOWN)
        return message == WM_KEYUP || message == WM_SYSKEYUP;
    // Without a keyboard layout, keys map to the characters of an unshifted US keyboard.
    const WPARAM key = lpMsg->wParam;
    WPARAM character = 0;
    if (key >= 'A' && key <= 'Z')
        character = key - 'A' + 'a';
    else if ((key >= '0' && key <= '9') || key == VK_SPACE || key == VK_RETURN || key == VK_BACK || key == VK_TAB
        || key == VK_ESCAPE)
        character = key;
    if (character) {
        // The character is read next, before anything posted earlier.
        ThreadQueue& queue = CurrentQueue();
        std::lock_guard lock(queue.m_mutex);
        queue.m_posted.push_front({ lpMsg->hwnd, message == WM_KEYDOWN ? static_cast<UINT>(WM_CHAR) : WM_SYSCHAR,
            character, lpMsg->lParam, GetTickCount(), {} });
    }
    return TRUE;
}

extern "C" LRESULT WINAPI DispatchMessageW(const MSG* lpMsg)
{
    if (!lpMsg)
        return 0;
    if (lpMsg->message == WM_TIMER && lpMsg->lParam) {
        reinterpret_cast<TIMERPROC>(lpMsg->lParam)(lpMsg->hwnd, WM_TIMER, lpMsg->wParam, GetTickCount());
        return 0;
    }
    if (!lpMsg->hwnd)
        return 0;
    const std::shared_ptr<Window> window = LocalWindow(lpMsg->hwnd);
    if (!window || window->threadId != GetCurrentThreadId()) {
        SetLastError(window ? ERROR_MESSAGE_SYNC_ONLY : ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return CallProcedure(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
}

extern "C" BOOL WINAPI PostThreadMessageW(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    std::shared_ptr<ThreadQueue> queue;
    {
        std::lock_guard lock(Registry().mutex);
        if (const auto found = Registry().queues.find(idThread); found != Registry().queues.end())
            queue = found->second.lock();
    }
    DWORD error = ERROR_INVALID_THREAD_ID;
    if (!queue || !PostToQueue(*queue, { nullptr, Msg, wParam, lParam, GetTickCount(), {} }, error)) {
        SetLastError(error == ERROR_INVALID_WINDOW_HANDLE ? ERROR_INVALID_THREAD_ID : error);
        return FALSE;
    }
    return TRUE;
}

extern "C" BOOL WINAPI PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    if (Msg == WM_COPYDATA) {
        SetLastError(ERROR_MESSAGE_SYNC_ONLY); // its data lives only as long as a send
        return FALSE;
    }
    if (!hWnd)
        return PostThreadMessageW(GetCurrentThreadId(), Msg, wParam, lParam);
    if (!IsLocalHandle(hWnd)) {
        if (HandleSlot(hWnd) == 0) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        return RemotePost(hWnd, Msg, wParam, lParam);
    }
    const std::shared_ptr<Window> window = LocalWindow(hWnd);
    DWORD error = ERROR_INVALID_WINDOW_HANDLE;
    if (!window || !PostToQueue(*window->queue, { hWnd, Msg, wParam, lParam, GetTickCount(), {} }, error)) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

extern "C" void WINAPI PostQuitMessage(int nExitCode)
{
    ThreadQueue& queue = CurrentQueue();
    {
        std::lock_guard lock(queue.m_mutex);
        queue.m_quit = true;
        queue.m_quitCode = nExitCode;
        queue.m_newSince |= QS_POSTMESSAGE | QS_ALLPOSTMESSAGE;
    }
    queue.m_wake.notify_all();
    WakeKernelWaiters(queue);
}

extern "C" LRESULT WINAPI SendMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    LRESULT result;
    SendInternal(hWnd, Msg, wParam, lParam, SendMode::HandleSent, std::nullopt, result);
    return result;
}

extern "C" LRESULT WINAPI SendMessageTimeoutW(
    HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam, UINT fuFlags, UINT uTimeout, PDWORD_PTR lpdwResult)
{
    LRESULT result;
    const SendMode mode = (fuFlags & SMTO_BLOCK) ? SendMode::Block : SendMode::HandleSent;
    if (!SendInternal(hWnd, Msg, wParam, lParam, mode, Clock::now() + std::chrono::milliseconds(uTimeout), result))
        return 0;
    if (lpdwResult)
        *lpdwResult = static_cast<DWORD_PTR>(result);
    return TRUE;
}

extern "C" BOOL WINAPI InSendMessage()
{
    return !t_state.handling.empty() && t_state.handling.back() != nullptr;
}

extern "C" DWORD WINAPI InSendMessageEx(LPVOID lpReserved)
{
    if (!InSendMessage())
        return ISMEX_NOSEND;
    return ISMEX_SEND | (t_state.handling.back()->reply ? 0 : ISMEX_REPLIED);
}

extern "C" BOOL WINAPI ReplyMessage(LRESULT lResult)
{
    if (!InSendMessage())
        return FALSE;
    Reply(*t_state.handling.back(), lResult);
    return TRUE;
}

extern "C" DWORD WINAPI GetQueueStatus(UINT flags)
{
    ThreadQueue& queue = CurrentQueue();
    std::lock_guard lock(queue.m_mutex);
    const DWORD contents = QueueContents(queue) & flags;
    const DWORD arrived = queue.m_newSince & flags;
    queue.m_newSince &= ~flags;
    return (contents << 16) | arrived;
}

extern "C" DWORD WINAPI MsgWaitForMultipleObjectsEx(
    DWORD nCount, const HANDLE* pHandles, DWORD dwMilliseconds, DWORD dwWakeMask, DWORD dwFlags)
{
    if (nCount >= MAXIMUM_WAIT_OBJECTS || (nCount > 0 && !pHandles)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    std::vector<std::shared_ptr<platform::KernelObject>> objects;
    std::vector<platform::Waitable*> waitables;
    for (DWORD i = 0; i < nCount; ++i) {
        objects.push_back(platform::ReferenceHandle(pHandles[i]));
        platform::Waitable* waitable = objects.back() ? objects.back()->AsWaitable() : nullptr;
        if (!waitable) {
            platform::SetLastErrorInvalidHandle();
            return WAIT_FAILED;
        }
        waitables.push_back(waitable);
    }
    ThreadQueue& queue = CurrentQueue();
    QueueInput input(queue, dwWakeMask, dwFlags);
    waitables.push_back(&input);
    const platform::WaitMode mode = (dwFlags & MWMO_WAITALL) ? platform::WaitMode::All : platform::WaitMode::Any;
    const std::optional<Clock::time_point> deadline = dwMilliseconds == INFINITE
        ? std::nullopt
        : std::optional(Clock::now() + std::chrono::milliseconds(dwMilliseconds));
    ++queue.m_kernelWaiters;
    DWORD result;
    for (;;) {
        // Kernel waits wake for changes, not for time: wait no longer than the next timer.
        std::optional<Clock::time_point> until = deadline;
        if (dwWakeMask & QS_TIMER) {
            std::lock_guard lock(queue.m_mutex);
            if (const auto timer = EarliestTimer(queue); timer && (!until || *timer < *until))
                until = timer;
        }
        const DWORD milliseconds = until ? static_cast<DWORD>(std::max<long long>(
                                       0, std::chrono::ceil<std::chrono::milliseconds>(*until - Clock::now()).count()))
                                         : INFINITE;
        result = platform::WaitForObjects(waitables, mode, milliseconds);
        if (result != WAIT_TIMEOUT || (deadline && Clock::now() >= *deadline))
            break;
    }
    --queue.m_kernelWaiters;
    return result;
}

extern "C" DWORD WINAPI MsgWaitForMultipleObjects(
    DWORD nCount, const HANDLE* pHandles, BOOL fWaitAll, DWORD dwMilliseconds, DWORD dwWakeMask)
{
    return MsgWaitForMultipleObjectsEx(nCount, pHandles, dwMilliseconds, dwWakeMask, fWaitAll ? MWMO_WAITALL : 0);
}

extern "C" UINT_PTR WINAPI SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc)
{
    if (hWnd) {
        const std::shared_ptr<Window> window = LocalWindow(hWnd);
        if (!window || window->threadId != GetCurrentThreadId()) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
    }
    const UINT elapse = std::clamp<UINT>(uElapse, USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM);
    ThreadQueue& queue = CurrentQueue();
    std::lock_guard lock(queue.m_mutex);
    const auto existing = std::find_if(queue.m_timers.begin(), queue.m_timers.end(),
        [&](const Timer& timer) { return timer.hwnd == hWnd && timer.id == nIDEvent; });
    UINT_PTR id = nIDEvent;
    if (!hWnd && existing == queue.m_timers.end()) {
        // A thread timer gets an id of its own, unused among the thread's timers.
        do
            id = ++t_state.lastThreadTimerId;
        while (id == 0 || std::any_of(queue.m_timers.begin(), queue.m_timers.end(), [&](const Timer& timer) {
            return !timer.hwnd && timer.id == id;
        }));
    }
    const Timer timer { hWnd, id, elapse, lpTimerFunc, Clock::now() + std::chrono::milliseconds(elapse) };
    if (existing != queue.m_timers.end())
        *existing = timer;
    else
        queue.m_timers.push_back(timer);
    return hWnd ? (id ? id : 1) : id;
}

extern "C" BOOL WINAPI KillTimer(HWND hWnd, UINT_PTR uIDEvent)
{
    std::shared_ptr<ThreadQueue> queue = t_state.queue;
    if (hWnd) {
        const std::shared_ptr<Window> window = LocalWindow(hWnd);
        if (!window) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        queue = window->queue;
    }
    if (queue) {
        std::lock_guard lock(queue->m_mutex);
        if (std::erase_if(
                queue->m_timers, [&](const Timer& timer) { return timer.hwnd == hWnd && timer.id == uIDEvent; }))
            return TRUE;
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}
