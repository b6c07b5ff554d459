// Task memory: the allocator shared by COM callers and callees for out-parameters.
#include "objbase.h"

#include <cstdlib>

extern "C" {

LPVOID WINAPI CoTaskMemAlloc(SIZE_T cb)
{
    // A request for 0 bytes still gives a distinct block that CoTaskMemFree accepts.
    return std::malloc(cb ? cb : 1);
}

LPVOID WINAPI CoTaskMemRealloc(LPVOID pv, SIZE_T cb)
{
    if (cb == 0) {
        std::free(pv);
        return nullptr;
    }
    return std::realloc(pv, cb);
}

void WINAPI CoTaskMemFree(LPVOID pv)
{
    std::free(pv);
}
}
