// Apartments: per-thread initialisation counts, and the one multithreaded apartment per process.
#include "Apartment.h"

#include "ClassTable.h"
#include "objbase.h"
#include "ole2.h"
#include "processthreadsapi.h"
#include "winuser.h"

#include <mutex>

namespace {

enum class ThreadModel { None, SingleThreaded, Multithreaded };

struct ThreadApartment {
    ThreadModel model = ThreadModel::None;
    unsigned initCount = 0;
};

thread_local ThreadApartment t_apartment;

// How many threads are in the multithreaded apartment; it exists while this is not 0.
std::mutex g_multithreadedLock;
unsigned g_multithreadedThreads = 0;

}

namespace ole32 {

bool CurrentApartment(ApartmentId& apartment)
{
    if (t_apartment.model == ThreadModel::SingleThreaded) {
        apartment = GetCurrentThreadId();
        return true;
    }
    if (t_apartment.model == ThreadModel::Multithreaded) {
        apartment = kMultithreadedApartment;
        return true;
    }
    std::lock_guard lock(g_multithreadedLock);
    apartment = kMultithreadedApartment;
    return g_multithreadedThreads != 0;
}

}

extern "C" {

HRESULT WINAPI CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit)
{
    if (pvReserved)
        return E_INVALIDARG;
    ThreadModel wanted
        = (dwCoInit & COINIT_APARTMENTTHREADED) ? ThreadModel::SingleThreaded : ThreadModel::Multithreaded;
    ThreadApartment& apartment = t_apartment;
    if (apartment.model != ThreadModel::None) {
        if (apartment.model != wanted)
            return RPC_E_CHANGED_MODE;
        ++apartment.initCount;
        return S_FALSE;
    }
    apartment.model = wanted;
    apartment.initCount = 1;
    if (wanted == ThreadModel::SingleThreaded) {
        // A single-threaded apartment is served through its thread's message queue, which exists
        // from the start: what is posted to the thread before its loop runs is not lost.
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    }
    if (wanted == ThreadModel::Multithreaded) {
        std::lock_guard lock(g_multithreadedLock);
        ++g_multithreadedThreads;
    }
    return S_OK;
}

HRESULT WINAPI CoInitialize(LPVOID pvReserved)
{
    return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED);
}

HRESULT WINAPI OleInitialize(LPVOID pvReserved)
{
    return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED);
}

void WINAPI CoUninitialize(void)
{
    ThreadApartment& apartment = t_apartment;
    if (apartment.initCount == 0 || --apartment.initCount != 0)
        return;
    if (apartment.model == ThreadModel::SingleThreaded) {
        ole32::RevokeApartmentClassObjects(GetCurrentThreadId());
    } else {
        bool last = false;
        {
            std::lock_guard lock(g_multithreadedLock);
            last = --g_multithreadedThreads == 0;
        }
        if (last)
            ole32::RevokeApartmentClassObjects(ole32::kMultithreadedApartment);
    }
    apartment.model = ThreadModel::None;
}

void WINAPI OleUninitialize(void)
{
    CoUninitialize();
}
}
