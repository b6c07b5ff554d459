// Kernel objects, the handle table and the waits behind WaitForSingleObject and its relatives.
//
// A kernel object is shared: the handle table holds one reference per handle, and callers that
// look a handle up hold their own while they use it, so closing a handle on another thread never
// frees an object in use. Handles are multiples of 4 counting up from 4, so a closed handle is not
// handed out again for a long while; the pseudo-handles of the current process and thread
// (-1 and -2) resolve to the calling process and thread.
//
// Waits: all state that IsSignaled reports is read under one process-wide wait lock, held by
// WaitForObjects while it checks and acquires. A library with waitable objects of its own (user32's
// message queue) derives from Waitable, changes the state that IsSignaled reports, and then calls
// WakeWaiters() while holding none of the locks that its IsSignaled takes. Every wait wakes too
// when a stop is requested for its thread (see ThreadStop.h).
#pragma once

#include "windef.h"

#include <memory>
#include <span>

namespace platform {

class Waitable {
public:
    virtual ~Waitable() = default;
    // Whether a wait would be satisfied now. Called with the wait lock held; must not block.
    virtual bool IsSignaled() const = 0;
    // Takes what a satisfied wait consumes (an auto-reset event's signal). Wait lock held.
    virtual void Acquire()
    {
    }
};

class KernelObject {
public:
    virtual ~KernelObject() = default;
    // The object's waitable side, or null for objects that cannot be waited on (snapshots).
    virtual Waitable* AsWaitable()
    {
        return nullptr;
    }
};

// A new handle to object (never null). Never fails short of memory exhaustion.
HANDLE InsertHandle(std::shared_ptr<KernelObject> object);
// The object behind handle, or null (last error ERROR_INVALID_HANDLE) when it is not one.
std::shared_ptr<KernelObject> ReferenceHandle(HANDLE handle);
void SetLastErrorInvalidHandle();
// The handle's object as T, or null (last error ERROR_INVALID_HANDLE) when it is not a T.
template <typename T> std::shared_ptr<T> ReferenceHandleAs(HANDLE handle)
{
    std::shared_ptr<T> object = std::dynamic_pointer_cast<T>(ReferenceHandle(handle));
    if (!object)
        SetLastErrorInvalidHandle();
    return object;
}

enum class WaitMode { Any, All };

// Waits until one (Any) or all (All) of objects are signalled, acquires it or them, and returns
// WAIT_OBJECT_0 + the index of the acquired object (the lowest one for Any; 0 for All). Returns
// WAIT_TIMEOUT after milliseconds (INFINITE: never), or WAIT_FAILED with ERROR_OPERATION_ABORTED
// when a stop is requested for the calling thread, before or during the wait. An empty list just
// waits for the time-out or the stop.
DWORD WaitForObjects(std::span<Waitable* const> objects, WaitMode mode, DWORD milliseconds);

// WaitForMultipleObjects over handles followed by extra objects of the caller's own (user32 passes
// its message queue last, for MsgWaitForMultipleObjectsEx): checks the handles as Windows does
// (WAIT_FAILED with ERROR_INVALID_HANDLE or ERROR_INVALID_PARAMETER; between 1 and
// MAXIMUM_WAIT_OBJECTS objects in all), then waits as WaitForObjects does. Indexes count the
// handles first, then extra.
DWORD WaitForHandles(
    std::span<const HANDLE> handles, std::span<Waitable* const> extra, WaitMode mode, DWORD milliseconds);

// Makes every thread in WaitForObjects look at its objects again.
void WakeWaiters();

}
