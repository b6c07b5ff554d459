// The stop facility, for platform libraries that block outside WaitForObjects (WinINet transfers,
// anything polling a descriptor). TerminateThread asks a thread to stop; it never kills it. A
// stopped thread's blocking platform calls must fail at once with their documented failure, so
// every such call either waits through WaitForObjects (which wakes and fails by itself), or checks
// IsStopRequested at least every 100 ms, or registers a StopWakeup that interrupts its blocking.
//
// Any thread may call these; threads that kernel32 did not create get their state on first use.
#pragma once

#include <functional>

namespace platform {

// Whether TerminateThread has been called for the calling thread. One atomic load.
bool IsStopRequested();

// While it lives, wake is called (once, on the thread that calls TerminateThread) when a stop is
// requested for the thread that created the StopWakeup. Destruction waits for a running wake to
// return, so wake may use whatever the owner keeps alive for the StopWakeup's lifetime. A stop
// requested before construction does not call wake: check IsStopRequested after constructing.
// Create and destroy it on the same thread, and destroy it holding no lock that wake takes; wake
// must not block.
class StopWakeup {
public:
    explicit StopWakeup(std::function<void()> wake);
    ~StopWakeup();
    StopWakeup(const StopWakeup&) = delete;
    StopWakeup& operator=(const StopWakeup&) = delete;

private:
    struct Registration;
    Registration* m_registration;
};

}
