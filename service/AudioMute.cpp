#include "AudioMute.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <tlhelp32.h>

ApiPatchRecord ApiPatch;

namespace {

constexpr BYTE RelativeJump = 0xE9;
// jmp qword ptr [rip+0], followed by the 8-byte address it jumps to.
constexpr BYTE AbsoluteJump[] = { 0xFF, 0x25, 0x00, 0x00, 0x00, 0x00 };
constexpr SIZE_T RelaySize = sizeof AbsoluteJump + sizeof(ULONG_PTR);
// How far a relative jump reaches from the end of its instruction.
constexpr LONGLONG JumpReach = 0x80000000ll;
// Windows places allocations on 64 KiB boundaries.
constexpr ULONG_PTR AllocationGranularity = 0x10000;
// The memory regions looked at in each direction while searching room for a relay.
constexpr int RelaySearchLimit = 4096;

bool WithinReach(ULONG_PTR from, ULONG_PTR to)
{
    const LONGLONG distance = static_cast<LONGLONG>(to - from);
    return distance >= -JumpReach && distance < JumpReach;
}

// Tries to allocate the relay at address; returns it, or null.
LPBYTE AllocateRelayAt(ULONG_PTR address, ULONG_PTR origin)
{
    if (address < AllocationGranularity || !WithinReach(origin, address) || !WithinReach(origin, address + RelaySize))
        return nullptr;
    return static_cast<LPBYTE>(
        VirtualAlloc(reinterpret_cast<LPVOID>(address), RelaySize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
}

// Finds free address space within reach of origin (the end of the jump) and allocates the relay
// there: first below the target, where the address space is usually free, then above it.
LPBYTE AllocateRelayNear(ULONG_PTR origin)
{
    MEMORY_BASIC_INFORMATION region;
    ULONG_PTR cursor = origin;
    for (int step = 0; step < RelaySearchLimit && WithinReach(origin, cursor); ++step) {
        if (!VirtualQuery(reinterpret_cast<LPCVOID>(cursor), &region, sizeof region))
            break;
        const ULONG_PTR base = reinterpret_cast<ULONG_PTR>(region.BaseAddress);
        if (region.State != MEM_FREE) {
            cursor = reinterpret_cast<ULONG_PTR>(region.AllocationBase) - 1;
            continue;
        }
        // The highest granule whose first page lies in the free space above base.
        const ULONG_PTR top = base + region.RegionSize;
        const ULONG_PTR candidate = (top - RelaySize) & ~(AllocationGranularity - 1);
        if (LPBYTE relay = AllocateRelayAt(candidate, origin))
            return relay;
        cursor = std::min(candidate, base) - 1;
    }
    cursor = origin;
    for (int step = 0; step < RelaySearchLimit && WithinReach(origin, cursor); ++step) {
        if (!VirtualQuery(reinterpret_cast<LPCVOID>(cursor), &region, sizeof region))
            break;
        const ULONG_PTR end = reinterpret_cast<ULONG_PTR>(region.BaseAddress) + region.RegionSize;
        if (region.State == MEM_FREE) {
            const ULONG_PTR candidate = (cursor + AllocationGranularity - 1) & ~(AllocationGranularity - 1);
            if (candidate + RelaySize <= end) {
                if (LPBYTE relay = AllocateRelayAt(candidate, origin))
                    return relay;
            }
        }
        cursor = end;
    }
    return nullptr;
}

// Places a relay that jumps on to replacement, within reach of origin; null when there is no room.
LPVOID PlaceRelay(ULONG_PTR origin, LPCVOID replacement)
{
    LPBYTE relay = AllocateRelayNear(origin);
    if (!relay)
        return nullptr;
    const ULONG_PTR destination = reinterpret_cast<ULONG_PTR>(replacement);
    std::memcpy(relay, AbsoluteJump, sizeof AbsoluteJump);
    std::memcpy(relay + sizeof AbsoluteJump, &destination, sizeof destination);
    DWORD old;
    if (!VirtualProtect(relay, RelaySize, PAGE_EXECUTE_READ, &old)) {
        VirtualFree(relay, 0, MEM_RELEASE);
        return nullptr;
    }
    FlushInstructionCache(GetCurrentProcess(), relay, RelaySize);
    return relay;
}

// Builds the jump from the record's target to replacement, through a relay where replacement is
// out of reach. False when no relay can be placed.
bool BuildPatch(ApiPatchRecord& record, LPCVOID replacement)
{
    const ULONG_PTR origin = reinterpret_cast<ULONG_PTR>(record.m_pTarget) + ApiPatchSize;
    ULONG_PTR destination = reinterpret_cast<ULONG_PTR>(replacement);
    if (!WithinReach(origin, destination)) {
        if (!record.m_pRelay)
            record.m_pRelay = PlaceRelay(origin, replacement);
        if (!record.m_pRelay)
            return false;
        destination = reinterpret_cast<ULONG_PTR>(record.m_pRelay);
    }
    const INT32 distance = static_cast<INT32>(static_cast<LONGLONG>(destination - origin));
    record.m_byPatch[0] = RelativeJump;
    std::memcpy(record.m_byPatch + 1, &distance, sizeof distance);
    return true;
}

// Writes bytes over the first bytes of code, keeping the protection that the code's region had.
bool WriteCode(FARPROC code, const BYTE (&bytes)[ApiPatchSize])
{
    const HANDLE process = GetCurrentProcess();
    const LPVOID address = reinterpret_cast<LPVOID>(code);
    MEMORY_BASIC_INFORMATION region;
    if (!VirtualQueryEx(process, address, &region, sizeof region))
        return false;
    DWORD old;
    if (!VirtualProtectEx(process, address, ApiPatchSize, PAGE_EXECUTE_READWRITE, &old))
        return false;
    const bool written = WriteProcessMemory(process, address, bytes, ApiPatchSize, nullptr);
    VirtualProtectEx(process, address, ApiPatchSize, region.Protect, &old);
    FlushInstructionCache(process, address, ApiPatchSize);
    return written;
}

// The patch step proper, while the other threads are suspended.
void PatchSuspended(ApiPatchRecord& record, LPCWSTR moduleName, LPCSTR functionName, LPCVOID replacement, DWORD value)
{
    record.m_nValue = value;
    if (record.m_hModule)
        return; // patched already
    record.m_hModule = GetModuleHandleW(moduleName);
    if (!record.m_hModule) {
        record.m_pTarget = nullptr;
        return;
    }
    record.m_pTarget = GetProcAddress(record.m_hModule, functionName);
    if (!record.m_pTarget || !BuildPatch(record, replacement)) {
        record.m_pTarget = nullptr;
        return;
    }
    SIZE_T read = 0;
    if (!ReadProcessMemory(
            GetCurrentProcess(), reinterpret_cast<LPCVOID>(record.m_pTarget), record.m_bySaved, ApiPatchSize, &read)
        || !WriteCode(record.m_pTarget, record.m_byPatch)) {
        // A write that stopped part-way is undone with the saved bytes; then nothing is patched,
        // and a later removal has nothing to do.
        if (read == ApiPatchSize)
            WriteCode(record.m_pTarget, record.m_bySaved);
        record.m_pTarget = nullptr;
    }
}

const int ExitHandlerRegistered = std::atexit(&ForgetApiPatch);

}

void InstallApiPatch(ApiPatchRecord& record, LPCWSTR moduleName, LPCSTR functionName, LPCVOID replacement, DWORD value)
{
    HANDLE threads[MaxSuspendedThreads];
    DWORD count = 0;
    SuspendOtherThreads(threads, count);
    PatchSuspended(record, moduleName, functionName, replacement, value);
    ResumeThreads(threads, count);
}

void RemoveApiPatch(ApiPatchRecord& record)
{
    if (record.m_pTarget)
        WriteCode(record.m_pTarget, record.m_bySaved);
}

MMRESULT WINAPI MutedWaveOutWrite(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh)
{
    return WAVERR_UNPREPARED;
}

BOOL SuspendOtherThreads(HANDLE (&handles)[MaxSuspendedThreads], DWORD& count)
{
    count = 0;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return FALSE;
    THREADENTRY32 entry {};
    entry.dwSize = sizeof entry;
    if (!Thread32First(snapshot, &entry)) {
        CloseHandle(snapshot);
        return FALSE;
    }
    const DWORD process = GetCurrentProcessId();
    const DWORD self = GetCurrentThreadId();
    do {
        if (entry.th32OwnerProcessID != process || entry.th32ThreadID == self)
            continue;
        const HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID);
        if (!thread)
            continue;
        if (SuspendThread(thread) == static_cast<DWORD>(-1)) {
            CloseHandle(thread);
            continue;
        }
        handles[count++] = thread;
    } while (count < MaxSuspendedThreads && Thread32Next(snapshot, &entry));
    CloseHandle(snapshot);
    return TRUE;
}

void ResumeThreads(const HANDLE* handles, DWORD count)
{
    for (DWORD i = 0; i < count; ++i) {
        ResumeThread(handles[i]);
        CloseHandle(handles[i]);
    }
}

void ForgetApiPatch()
{
    HANDLE threads[MaxSuspendedThreads];
    DWORD count = 0;
    SuspendOtherThreads(threads, count);
    ApiPatch.m_pTarget = nullptr;
    ResumeThreads(threads, count);
}
