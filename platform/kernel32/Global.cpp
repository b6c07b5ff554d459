// Global memory blocks. Every live block is in one table, so that a stale or foreign handle is
// refused instead of trusted.
#include "winbase.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

namespace {

struct Block {
    void* data;
    SIZE_T size;
    bool moveable;
    unsigned locks;
};

// The most a single block may hold; larger requests fail as an allocation failure would.
constexpr SIZE_T MaxBlockSize = SIZE_T(1) << 40;

std::mutex g_mutex;
std::unordered_map<HGLOBAL, Block> g_blocks;

// A moveable block's handle is an address of its own (a one-byte allocation), never the data's.
HGLOBAL NewMoveableHandle()
{
    return static_cast<HGLOBAL>(std::malloc(1));
}

}

extern "C" HGLOBAL WINAPI GlobalAlloc(UINT uFlags, SIZE_T dwBytes)
{
    // The other flags (GMEM_DDESHARE, GMEM_NODISCARD, ...) have no effect on this platform.
    void* data = dwBytes > MaxBlockSize ? nullptr
        : (uFlags & GMEM_ZEROINIT)      ? std::calloc(dwBytes ? dwBytes : 1, 1)
                                        : std::malloc(dwBytes ? dwBytes : 1);
    const bool moveable = uFlags & GMEM_MOVEABLE;
    HGLOBAL handle = moveable ? NewMoveableHandle() : static_cast<HGLOBAL>(data);
    if (!data || !handle) {
        std::free(data);
        if (moveable)
            std::free(handle);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    std::lock_guard lock(g_mutex);
    g_blocks.emplace(handle, Block { data, dwBytes, moveable, 0 });
    return handle;
}

extern "C" LPVOID WINAPI GlobalLock(HGLOBAL hMem)
{
    std::lock_guard lock(g_mutex);
    auto it = g_blocks.find(hMem);
    if (it == g_blocks.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (it->second.moveable)
        ++it->second.locks;
    return it->second.data;
}

extern "C" BOOL WINAPI GlobalUnlock(HGLOBAL hMem)
{
    std::lock_guard lock(g_mutex);
    auto it = g_blocks.find(hMem);
    if (it == g_blocks.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    Block& block = it->second;
    if (block.locks == 0) {
        SetLastError(ERROR_NOT_LOCKED);
        return FALSE;
    }
    if (--block.locks > 0)
        return TRUE;
    SetLastError(ERROR_SUCCESS);
    return FALSE;
}

extern "C" HGLOBAL WINAPI GlobalFree(HGLOBAL hMem)
{
    Block block {};
    {
        std::lock_guard lock(g_mutex);
        auto it = g_blocks.find(hMem);
        if (it == g_blocks.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return hMem;
        }
        block = it->second;
        g_blocks.erase(it);
    }
    std::free(block.data);
    if (block.moveable)
        std::free(hMem);
    return nullptr;
}

extern "C" SIZE_T WINAPI GlobalSize(HGLOBAL hMem)
{
    std::lock_guard lock(g_mutex);
    auto it = g_blocks.find(hMem);
    if (it == g_blocks.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return it->second.size;
}
