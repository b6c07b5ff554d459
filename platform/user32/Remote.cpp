// Windows of other processes: the user32 requests carried by the process endpoint, and the
// handlers that answer them for this process's windows.
//
// Post, Info and TopLevel are answered at once by the I/O thread. Send is answered when the
// window's thread has handled the message; the waiting sender meanwhile handles messages sent
// to its own windows, so two processes that send to each other do not deadlock.
#include "User32.h"

#include "Endpoint.h"

namespace user32 {

namespace {

using platform::ipc::CallResult;
using platform::ipc::CallStatus;
using platform::ipc::IncomingCall;
using platform::ipc::Service;
using platform::ipc::WireReader;
using platform::ipc::WireWriter;

// An answer from a peer's I/O thread comes at once unless the process is stuck.
constexpr std::chrono::seconds kAnswerTimeout(5);

enum Method : std::uint32_t {
    kPost = 1,
    kSend = 2,
    kInfo = 3,
    kTopLevel = 4,
};

DWORD ErrorOf(CallStatus status)
{
    return status == CallStatus::TimedOut ? ERROR_TIMEOUT : ERROR_INVALID_WINDOW_HANDLE;
}

void AnswerPost(IncomingCall call, WireReader& reader)
{
    const HWND hwnd = HandleFromValue(reader.U32());
    const UINT message = reader.U32();
    const WPARAM wParam = reader.U64();
    const LPARAM lParam = static_cast<LPARAM>(reader.U64());
    if (!reader.Complete())
        return; // the call fails as it goes out of scope
    const auto answer = [&call](DWORD error) {
        WireWriter writer;
        writer.U32(error);
        call.Reply(writer.Data());
    };
    DWORD error = ERROR_INVALID_WINDOW_HANDLE;
    const std::shared_ptr<Window> window = LocalWindow(hwnd);
    if (message == WM_COPYDATA)
        error = ERROR_MESSAGE_SYNC_ONLY;
    else if (window && PostToQueue(*window->queue, { hwnd, message, wParam, lParam, GetTickCount(), {} }, error, [&] {
                 answer(ERROR_SUCCESS);
             }))
        return;
    answer(error);
}

void AnswerSend(IncomingCall incoming, WireReader& reader)
{
    const HWND hwnd = HandleFromValue(reader.U32());
    const UINT message = reader.U32();
    const WPARAM wParam = reader.U64();
    const LPARAM lParam = static_cast<LPARAM>(reader.U64());
    const bool hasCopy = reader.U32() != 0;
    const ULONG_PTR copyId = reader.U64();
    std::vector<std::uint8_t> data = reader.Bytes(platform::ipc::kMaxFrameBody);
    if (!reader.Complete() || (hasCopy && message != WM_COPYDATA))
        return;
    auto call = std::make_shared<IncomingCall>(std::move(incoming));
    auto sent = std::make_shared<SentMessage>(SentMessage { hwnd, message, wParam, lParam, {}, {}, {} });
    if (hasCopy) {
        const COPYDATASTRUCT copy { copyId, static_cast<DWORD>(data.size()), data.data() };
        AttachCopyData(*sent, &copy);
    }
    sent->reply = [call](std::optional<LRESULT> result) {
        WireWriter answer;
        answer.U32(result ? ERROR_SUCCESS : ERROR_INVALID_WINDOW_HANDLE);
        answer.U64(static_cast<std::uint64_t>(result.value_or(0)));
        call->Reply(answer.Data());
    };
    const std::shared_ptr<Window> window = LocalWindow(hwnd);
    if (!window || !DeliverSent(*window->queue, sent))
        sent->reply(std::nullopt);
}

void AnswerInfo(IncomingCall call, WireReader& reader)
{
    const HWND hwnd = HandleFromValue(reader.U32());
    if (!reader.Complete())
        return;
    WireWriter answer;
    const std::optional<WindowInfo> info = IsLocalHandle(hwnd) ? LocalWindowInfo(hwnd) : std::nullopt;
    answer.U32(info ? 1 : 0);
    if (info) {
        answer.U32(info->threadId);
        answer.U32(info->processId);
        answer.U32(info->style);
        answer.U32(info->exStyle);
        answer.U32(HandleValue(info->parent));
        answer.U32(static_cast<std::uint32_t>(info->rect.left));
        answer.U32(static_cast<std::uint32_t>(info->rect.top));
        answer.U32(static_cast<std::uint32_t>(info->rect.right));
        answer.U32(static_cast<std::uint32_t>(info->rect.bottom));
        answer.Text(info->className);
        answer.Text(info->text);
    }
    call.Reply(answer.Data());
}

void AnswerTopLevel(IncomingCall call, WireReader& reader)
{
    if (!reader.Complete())
        return;
    std::vector<WindowSummary> windows = LocalTopLevelWindows();
    if (windows.size() > kMaxListedWindows)
        windows.resize(kMaxListedWindows);
    WireWriter answer;
    answer.U32(static_cast<std::uint32_t>(windows.size()));
    for (const WindowSummary& window : windows) {
        answer.U32(HandleValue(window.hwnd));
        answer.Text(window.className);
        answer.Text(window.text.substr(0, kMaxWindowText));
    }
    call.Reply(answer.Data());
}

void Answer(IncomingCall call)
{
    WireReader reader(call.Body());
    switch (call.Method()) {
    case kPost:
        return AnswerPost(std::move(call), reader);
    case kSend:
        return AnswerSend(std::move(call), reader);
    case kInfo:
        return AnswerInfo(std::move(call), reader);
    case kTopLevel:
        return AnswerTopLevel(std::move(call), reader);
    default:
        return; // unknown: the call fails
    }
}

}

void StartRemoteService()
{
    static std::once_flag started;
    std::call_once(started, [] { platform::ipc::SetHandler(Service::User32, Answer); });
}

BOOL RemotePost(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    WireWriter request;
    request.U32(HandleValue(hwnd));
    request.U32(message);
    request.U64(wParam);
    request.U64(static_cast<std::uint64_t>(lParam));
    const CallResult result = platform::ipc::Call(
        HandleSlot(hwnd), Service::User32, kPost, std::move(request.Data()), kAnswerTimeout, "PostMessageW");
    WireReader reader(result.body);
    const DWORD error = result.status == CallStatus::Ok ? reader.U32() : ErrorOf(result.status);
    if (error != ERROR_SUCCESS || !reader.Complete()) {
        SetLastError(error != ERROR_SUCCESS ? error : ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return TRUE;
}

bool RemoteSend(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, SendMode mode,
    std::optional<Clock::time_point> deadline, LRESULT& result)
{
    WireWriter request;
    request.U32(HandleValue(hwnd));
    request.U32(message);
    request.U64(wParam);
    const auto* copy = message == WM_COPYDATA ? reinterpret_cast<const COPYDATASTRUCT*>(lParam) : nullptr;
    request.U64(copy ? 0 : static_cast<std::uint64_t>(lParam)); // a pointer means nothing over there
    request.U32(copy ? 1 : 0);
    request.U64(copy ? copy->dwData : 0);
    if (copy && copy->cbData > platform::ipc::kMaxFrameBody - 64) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    request.Bytes(copy && copy->lpData ? std::span(static_cast<const std::uint8_t*>(copy->lpData), copy->cbData)
                                       : std::span<const std::uint8_t>());
    struct Outcome {
        bool done = false;
        CallResult answer;
    };
    const std::shared_ptr<ThreadQueue> me = CurrentQueueShared();
    const auto outcome = std::make_shared<Outcome>();
    const std::uint64_t callId = platform::ipc::StartCall(HandleSlot(hwnd), Service::User32, kSend,
        std::move(request.Data()), deadline.value_or(Clock::time_point::max()), "SendMessageW",
        [weakMe = std::weak_ptr<ThreadQueue>(me), outcome](CallResult answer) {
            if (const auto waiter = weakMe.lock()) {
                {
                    std::lock_guard lock(waiter->m_mutex);
                    outcome->done = true;
                    outcome->answer = std::move(answer);
                }
                waiter->m_wake.notify_all();
            }
        });
    if (!WaitForReply(
            *me, [&] { return outcome->done; }, mode, deadline)) {
        platform::ipc::CancelCall(callId);
        return false;
    }
    if (outcome->answer.status != CallStatus::Ok) {
        SetLastError(ErrorOf(outcome->answer.status));
        return false;
    }
    WireReader reader(outcome->answer.body);
    const DWORD error = reader.U32();
    const LRESULT value = static_cast<LRESULT>(reader.U64());
    if (!reader.Complete() || error != ERROR_SUCCESS) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    result = value;
    return true;
}

std::optional<WindowInfo> RemoteWindowInfo(HWND hwnd)
{
    WireWriter request;
    request.U32(HandleValue(hwnd));
    const CallResult result = platform::ipc::Call(
        HandleSlot(hwnd), Service::User32, kInfo, std::move(request.Data()), kAnswerTimeout, "IsWindow");
    if (result.status != CallStatus::Ok)
        return std::nullopt;
    WireReader reader(result.body);
    if (reader.U32() != 1)
        return std::nullopt;
    WindowInfo info;
    info.threadId = reader.U32();
    info.processId = reader.U32();
    info.style = reader.U32();
    info.exStyle = reader.U32();
    info.parent = HandleFromValue(reader.U32());
    info.rect.left = static_cast<LONG>(reader.U32());
    info.rect.top = static_cast<LONG>(reader.U32());
    info.rect.right = static_cast<LONG>(reader.U32());
    info.rect.bottom = static_cast<LONG>(reader.U32());
    info.className = reader.Text(kMaxClassName);
    info.text = reader.Text(kMaxWindowText);
    if (!reader.Complete())
        return std::nullopt;
    return info;
}

std::vector<WindowSummary> RemoteTopLevelWindows()
{
    std::vector<WindowSummary> windows;
    for (const platform::ipc::Slot slot : platform::ipc::LivePeers()) {
        const CallResult result
            = platform::ipc::Call(slot, Service::User32, kTopLevel, {}, kAnswerTimeout, "FindWindowW");
        if (result.status != CallStatus::Ok)
            continue;
        WireReader reader(result.body);
        const std::uint32_t count = reader.U32();
        std::vector<WindowSummary> listed;
        for (std::uint32_t i = 0; i < count && i < kMaxListedWindows; ++i) {
            WindowSummary window;
            window.hwnd = HandleFromValue(reader.U32());
            window.className = reader.Text(kMaxClassName);
            window.text = reader.Text(kMaxWindowText);
            // A window must belong to the process that lists it.
            if (HandleSlot(window.hwnd) != slot)
                break;
            listed.push_back(std::move(window));
        }
        if (reader.Complete())
            windows.insert(
                windows.end(), std::make_move_iterator(listed.begin()), std::make_move_iterator(listed.end()));
    }
    return windows;
}

}
