// The server's audio mute: the start of waveOutWrite is overwritten with a jump to
// MutedWaveOutWrite, so that nothing running in the process (the hidden browser and its players)
// can play a sound.
//
// InstallApiPatch writes the jump while every other thread of the process is suspended (at most
// MaxSuspendedThreads of them) and resumes them on every way out. It patches only a module that is
// already loaded. Where the replacement lies beyond the reach of a five-byte relative jump (2 GiB
// either way on x86-64), the jump goes to a small relay placed within reach of the target, which
// jumps on to the replacement; the relay stays mapped for the life of the process. RemoveApiPatch
// writes the saved bytes back without suspending anything. At process exit a handler suspends the
// other threads, makes ApiPatch forget its target (so that no later removal touches code that may
// be gone) and resumes them. Nothing here reports failure: a patch that cannot be written leaves
// the function as it was and the record without a target.
#pragma once

#include <mmsystem.h>
#include <windows.h>

constexpr DWORD ApiPatchSize = 5;
constexpr DWORD MaxSuspendedThreads = 1024;

// One patched function.
struct ApiPatchRecord {
    FARPROC m_pTarget = nullptr; // the patched entry, null when nothing is patched
    BYTE m_bySaved[ApiPatchSize] = {}; // the entry's first bytes before patching
    BYTE m_byPatch[ApiPatchSize] = {}; // 0xE9 and the distance from the end of the jump to its goal
    HMODULE m_hModule = nullptr; // the module that holds the function, null until found
    DWORD m_nValue = 0; // given by the caller and kept; nothing reads it
    LPVOID m_pRelay = nullptr; // the relay, when the replacement is out of reach
};

// The process-wide record of the mute.
extern ApiPatchRecord ApiPatch;

void InstallApiPatch(ApiPatchRecord& record, LPCWSTR moduleName, LPCSTR functionName, LPCVOID replacement, DWORD value);
void RemoveApiPatch(ApiPatchRecord& record);

// Refuses every write at once with WAVERR_UNPREPARED; touches neither the device nor the header.
MMRESULT WINAPI MutedWaveOutWrite(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh);

// Suspends every other thread of the process and keeps their handles; false, with nothing
// suspended, when the threads cannot be listed.
BOOL SuspendOtherThreads(HANDLE (&handles)[MaxSuspendedThreads], DWORD& count);
// Resumes the threads and closes their handles, in the order they were kept.
void ResumeThreads(const HANDLE* handles, DWORD count);

// The exit handler: forgets ApiPatch's target while the other threads are suspended.
void ForgetApiPatch();
