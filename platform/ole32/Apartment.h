// The calling thread's apartment, as ole32's other parts see it.
// A thread is in the single-threaded apartment it entered, in the process's multithreaded
// apartment if it entered that or if it entered none while that apartment exists, or in none.
// A single-threaded apartment that other threads or processes reach (it exports an object, serves
// a class to other processes, or waits for a call) owns a hidden message-only window, made on
// that first need and destroyed by its last CoUninitialize: work for the apartment is posted to it
// and runs in the thread's message loop, in the order it was posted. (Not made by CoInitialize
// itself: a program may enter its apartment before main, when it must not touch its root yet.)
#pragma once

#include "Endpoint.h"
#include "windef.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>

namespace ole32 {

// Identifies an apartment: the thread id of a single-threaded one, kMultithreadedApartment for
// the process's multithreaded one.
using ApartmentId = DWORD;
constexpr ApartmentId kMultithreadedApartment = 0;

// False when the calling thread is in no apartment (the caller answers CO_E_NOTINITIALIZED).
bool CurrentApartment(ApartmentId& apartment);

// Gives the calling thread's single-threaded apartment its window, if it has none yet.
void MakeApartmentReachable();

// Runs job in the apartment: on a single-threaded apartment's thread through its window (false,
// with the job dropped, when that apartment is gone), on a thread of its own for the
// multithreaded one (or for ApartmentId of a thread in none).
bool RunInApartment(ApartmentId apartment, std::function<void()> job);

// Waits for the completion of one outgoing call. Made on the waiting thread; Complete may run on
// any thread, once. A thread of a single-threaded apartment keeps handling sent messages and the
// work posted to its apartment while it waits; a WM_QUIT it meets is posted again afterwards.
class CallWaiter {
public:
    CallWaiter();
    void Complete(platform::ipc::CallResult result);
    platform::ipc::CallResult Wait();

private:
    HWND m_window = nullptr; // the waiting thread's apartment window, or null
    std::mutex m_mutex;
    std::condition_variable m_done;
    std::optional<platform::ipc::CallResult> m_result;
};

}
