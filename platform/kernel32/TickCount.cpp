#include "sysinfoapi.h"

#include <ctime>

extern "C" ULONGLONG WINAPI GetTickCount64()
{
    // The boot-time clock counts from the system's start and, like Windows' tick count, keeps
    // counting while the system sleeps.
    timespec now {};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return static_cast<ULONGLONG>(now.tv_sec) * 1000 + static_cast<ULONGLONG>(now.tv_nsec) / 1000000;
}

extern "C" DWORD WINAPI GetTickCount()
{
    return static_cast<DWORD>(GetTickCount64());
}
