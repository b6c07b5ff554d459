#include "synchapi.h"

#include "KernelObject.h"
#include "ThreadObject.h"
#include "errhandlingapi.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <optional>
#include <sched.h>
#include <vector>

namespace platform {

namespace {

// One lock and one condition for every wait in the process: waits are few and short to check, and
// a single condition cannot lose a wake-up between an object's change and a waiter's sleep.
struct WaitState {
    std::mutex mutex;
    std::condition_variable changed;
};

WaitState& State()
{
    // Never destroyed: threads may still wait while the process exits.
    static WaitState* state = new WaitState;
    return *state;
}

class EventObject final : public KernelObject, public Waitable {
public:
    EventObject(bool manualReset, bool signaled)
        : m_manualReset(manualReset)
        , m_signaled(signaled)
    {
    }
    Waitable* AsWaitable() override
    {
        return this;
    }
    bool IsSignaled() const override
    {
        return m_signaled;
    }
    void Acquire() override
    {
        if (!m_manualReset)
            m_signaled = false;
    }
    void Set(bool signaled)
    {
        m_signaled = signaled;
    }

private:
    const bool m_manualReset;
    bool m_signaled; // under the wait lock
};

std::optional<DWORD> TrySatisfy(std::span<Waitable* const> objects, WaitMode mode)
{
    if (objects.empty())
        return std::nullopt;
    if (mode == WaitMode::Any) {
        for (size_t i = 0; i < objects.size(); ++i) {
            if (objects[i]->IsSignaled()) {
                objects[i]->Acquire();
                return WAIT_OBJECT_0 + static_cast<DWORD>(i);
            }
        }
        return std::nullopt;
    }
    for (Waitable* object : objects) {
        if (!object->IsSignaled())
            return std::nullopt;
    }
    for (Waitable* object : objects)
        object->Acquire();
    return WAIT_OBJECT_0;
}

}

DWORD WaitForObjects(std::span<Waitable* const> objects, WaitMode mode, DWORD milliseconds)
{
    const std::shared_ptr<ThreadObject> self = CurrentThreadObject();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    WaitState& state = State();
    std::unique_lock lock(state.mutex);
    for (;;) {
        if (self->m_stopRequested.load()) {
            lock.unlock();
            SetLastError(ERROR_OPERATION_ABORTED);
            return WAIT_FAILED;
        }
        if (std::optional<DWORD> result = TrySatisfy(objects, mode))
            return *result;
        if (milliseconds == INFINITE)
            state.changed.wait(lock);
        else if (std::chrono::steady_clock::now() >= deadline)
            return WAIT_TIMEOUT;
        else
            state.changed.wait_until(lock, deadline);
    }
}

DWORD WaitForHandles(
    std::span<const HANDLE> handles, std::span<Waitable* const> extra, WaitMode mode, DWORD milliseconds)
{
    const size_t count = handles.size() + extra.size();
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    std::vector<std::shared_ptr<KernelObject>> held; // keeps the objects alive however their handles fare
    std::vector<Waitable*> objects;
    for (HANDLE handle : handles) {
        std::shared_ptr<KernelObject> object = ReferenceHandle(handle);
        Waitable* waitable = object ? object->AsWaitable() : nullptr;
        if (!waitable) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        // Windows refuses to wait for all of a list that names one object twice.
        if (mode == WaitMode::All && std::find(objects.begin(), objects.end(), waitable) != objects.end()) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return WAIT_FAILED;
        }
        objects.push_back(waitable);
        held.push_back(std::move(object));
    }
    objects.insert(objects.end(), extra.begin(), extra.end());
    return WaitForObjects(objects, mode, milliseconds);
}

void WakeWaiters()
{
    UpdateWaitState([] {});
}

void UpdateWaitState(const std::function<void()>& change)
{
    WaitState& state = State();
    {
        std::lock_guard lock(state.mutex);
        change();
    }
    state.changed.notify_all();
}

}

using namespace platform;

extern "C" DWORD WINAPI WaitForMultipleObjects(
    DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds)
{
    if (!lpHandles && nCount) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    return WaitForHandles(std::span(lpHandles, nCount), {}, bWaitAll ? WaitMode::All : WaitMode::Any, dwMilliseconds);
}

extern "C" DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds)
{
    return WaitForMultipleObjects(1, &hHandle, FALSE, dwMilliseconds);
}

extern "C" void WINAPI Sleep(DWORD dwMilliseconds)
{
    if (dwMilliseconds == 0) {
        sched_yield();
        return;
    }
    const DWORD lastError = GetLastError(); // Sleep leaves the last error as it was, even when cut short
    WaitForObjects({}, WaitMode::Any, dwMilliseconds);
    SetLastError(lastError);
}

extern "C" HANDLE WINAPI CreateEventW(
    LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState, LPCWSTR lpName)
{
    if (lpName && *lpName) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    const HANDLE event = InsertHandle(std::make_shared<EventObject>(bManualReset != FALSE, bInitialState != FALSE));
    SetLastError(ERROR_SUCCESS);
    return event;
}

namespace {

BOOL SetEventState(HANDLE hEvent, bool signaled)
{
    const std::shared_ptr<EventObject> event = ReferenceHandleAs<EventObject>(hEvent);
    if (!event)
        return FALSE;
    UpdateWaitState([&] { event->Set(signaled); });
    return TRUE;
}

}

extern "C" BOOL WINAPI SetEvent(HANDLE hEvent)
{
    return SetEventState(hEvent, true);
}

extern "C" BOOL WINAPI ResetEvent(HANDLE hEvent)
{
    return SetEventState(hEvent, false);
}
