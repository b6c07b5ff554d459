// The mute in a program that links winmm, so that winmm is loaded before anything is patched.
#include "AudioMute.h"

#include "TestRoot.h"
#include "WaveOutPlayback.h"

#include <array>
#include <atomic>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <thread>

namespace {

using Bytes = std::array<BYTE, ApiPatchSize>;

const WaveOutFunctions LinkedWaveOut { &waveOutOpen, &waveOutPrepareHeader, &waveOutUnprepareHeader, &waveOutWrite,
    &waveOutReset, &waveOutGetPosition, &waveOutClose };

const LPCVOID Muted = reinterpret_cast<LPCVOID>(&MutedWaveOutWrite);

FARPROC WaveOutWriteEntry()
{
    return GetProcAddress(GetModuleHandleW(u"winmm"), "waveOutWrite");
}

Bytes FirstBytes(FARPROC code)
{
    Bytes bytes;
    std::memcpy(bytes.data(), reinterpret_cast<const void*>(code), bytes.size());
    return bytes;
}

Bytes ToBytes(const BYTE (&bytes)[ApiPatchSize])
{
    Bytes copy;
    std::memcpy(copy.data(), bytes, copy.size());
    return copy;
}

// Where the relative jump at code goes, or 0 when code does not start with one.
ULONG_PTR JumpDestination(FARPROC code)
{
    const Bytes bytes = FirstBytes(code);
    if (bytes[0] != 0xE9)
        return 0;
    INT32 distance;
    std::memcpy(&distance, bytes.data() + 1, sizeof distance);
    return reinterpret_cast<ULONG_PTR>(code) + ApiPatchSize + distance;
}

bool WithinJumpReach(FARPROC target, ULONG_PTR destination)
{
    const LONGLONG distance = static_cast<LONGLONG>(destination - (reinterpret_cast<ULONG_PTR>(target) + 5));
    return distance >= INT32_MIN && distance <= INT32_MAX;
}

// A piece of code that jumps on to MutedWaveOutWrite, placed within a jump's reach of target or
// out of it, so that a test decides which way the patch must go.
enum class Reach { Within, Beyond };

LPCVOID PlaceTrampoline(FARPROC target, Reach reach)
{
    const ULONG_PTR at = reinterpret_cast<ULONG_PTR>(target);
    const ULONG_PTR step = 0x4000000; // 64 MiB
    for (int i = 1; i < 1024; ++i) {
        // Within: below the target, 64 MiB further each time; beyond: from 4 GiB up.
        const ULONG_PTR candidate = reach == Reach::Within ? (at & ~(step - 1)) - i * step : 0x100000000ull + i * step;
        if (WithinJumpReach(target, candidate) != (reach == Reach::Within))
            continue;
        auto* code = static_cast<BYTE*>(
            VirtualAlloc(reinterpret_cast<LPVOID>(candidate), 64, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
        if (!code)
            continue;
        const BYTE jump[] = { 0xFF, 0x25, 0, 0, 0, 0 }; // jmp qword ptr [rip+0]
        const ULONG_PTR destination = reinterpret_cast<ULONG_PTR>(Muted);
        std::memcpy(code, jump, sizeof jump);
        std::memcpy(code + sizeof jump, &destination, sizeof destination);
        return code;
    }
    return nullptr;
}

// A thread that counts as fast as it can until told to stop.
class SpinningThread {
public:
    SpinningThread()
        : m_thread([this] {
            while (!m_stop.load(std::memory_order_relaxed))
                m_count.fetch_add(1, std::memory_order_relaxed);
        })
    {
    }
    ~SpinningThread()
    {
        m_stop = true;
        m_thread.join();
    }
    unsigned long long Count() const
    {
        return m_count.load();
    }
    // Whether the count passes from within 10 s.
    bool Passes(unsigned long long from) const
    {
        for (int i = 0; i < 10000 && Count() <= from; ++i)
            Sleep(1);
        return Count() > from;
    }

private:
    std::atomic<bool> m_stop { false };
    std::atomic<unsigned long long> m_count { 0 };
    std::thread m_thread;
};

}

// Each test starts from a process-wide record that knows of no patch, also when the tests of this
// program run in one process.
class AudioMute : public testing::Test {
protected:
    void SetUp() override
    {
        ApiPatch = ApiPatchRecord();
    }
};

TEST_F(AudioMute, WithWinmmLoadedEveryWriteIsRefusedAndNothingPlays)
{
    const FARPROC target = WaveOutWriteEntry();
    ASSERT_NE(target, nullptr);
    const Bytes before = FirstBytes(target);

    InstallApiPatch(ApiPatch, u"winmm", "waveOutWrite", Muted, 0);
    EXPECT_EQ(ApiPatch.m_hModule, GetModuleHandleW(u"winmm"));
    EXPECT_EQ(ApiPatch.m_pTarget, target);
    EXPECT_EQ(ToBytes(ApiPatch.m_bySaved), before);
    EXPECT_EQ(ApiPatch.m_byPatch[0], 0xE9);
    EXPECT_EQ(FirstBytes(target), ToBytes(ApiPatch.m_byPatch));
    {
        WaveOutPlayback playback(LinkedWaveOut);
        EXPECT_EQ(playback.Write(), static_cast<MMRESULT>(WAVERR_UNPREPARED));
        EXPECT_EQ(reinterpret_cast<decltype(&waveOutWrite)>(reinterpret_cast<void (*)()>(target))(
                      playback.Device(), &playback.header, sizeof(WAVEHDR)),
            static_cast<MMRESULT>(WAVERR_UNPREPARED));
        EXPECT_EQ(playback.header.dwFlags, static_cast<DWORD>(WHDR_PREPARED)) << "the header is left alone";
        EXPECT_EQ(playback.PlayedBytes(), 0u);
    } // closing succeeds: nothing was queued

    RemoveApiPatch(ApiPatch);
    EXPECT_EQ(FirstBytes(target), before);
    WaveOutPlayback playback(LinkedWaveOut);
    ASSERT_EQ(playback.Write(), static_cast<MMRESULT>(MMSYSERR_NOERROR));
    ASSERT_TRUE(playback.WaitUntilPlayed());
    EXPECT_EQ(playback.PlayedBytes(), WaveOutPlayback::BlockBytes);
}

TEST_F(AudioMute, TheJumpGoesStraightToAReplacementWithinReachAndThroughARelayBeyondIt)
{
    const FARPROC target = WaveOutWriteEntry();
    ASSERT_NE(target, nullptr);
    const Bytes before = FirstBytes(target);
    for (const Reach reach : { Reach::Within, Reach::Beyond }) {
        const char* name = reach == Reach::Within ? "within reach" : "beyond reach";
        const LPCVOID replacement = PlaceTrampoline(target, reach);
        ASSERT_NE(replacement, nullptr) << name;
        ApiPatchRecord record;
        InstallApiPatch(record, u"winmm", "waveOutWrite", replacement, 0);
        ASSERT_EQ(record.m_pTarget, target) << name;

        const ULONG_PTR destination = JumpDestination(target);
        if (reach == Reach::Within) {
            EXPECT_EQ(destination, reinterpret_cast<ULONG_PTR>(replacement)) << name;
            EXPECT_EQ(record.m_pRelay, nullptr) << name;
        } else {
            EXPECT_EQ(destination, reinterpret_cast<ULONG_PTR>(record.m_pRelay)) << name;
            EXPECT_NE(destination, reinterpret_cast<ULONG_PTR>(replacement)) << name;
            MEMORY_BASIC_INFORMATION relay {};
            ASSERT_NE(VirtualQuery(record.m_pRelay, &relay, sizeof relay), 0u) << name;
            EXPECT_EQ(relay.Protect, static_cast<DWORD>(PAGE_EXECUTE_READ)) << name;
        }
        EXPECT_TRUE(WithinJumpReach(target, destination)) << name;
        EXPECT_EQ(ToBytes(record.m_bySaved), before) << name;
        {
            WaveOutPlayback playback(LinkedWaveOut);
            EXPECT_EQ(playback.Write(), static_cast<MMRESULT>(WAVERR_UNPREPARED)) << name;
            EXPECT_EQ(playback.PlayedBytes(), 0u) << name;
        }
        RemoveApiPatch(record);
        EXPECT_EQ(FirstBytes(target), before) << name;
    }
}

TEST_F(AudioMute, SuspendedThreadsMakeNoProgressUntilResumed)
{
    SpinningThread spinner;
    ASSERT_TRUE(spinner.Passes(0));
    HANDLE threads[MaxSuspendedThreads];
    DWORD count = 0;
    ASSERT_TRUE(SuspendOtherThreads(threads, count));
    const unsigned long long suspendedAt = spinner.Count();
    Sleep(100);
    const unsigned long long after = spinner.Count();
    ResumeThreads(threads, count);
    EXPECT_GE(count, 1u);
    EXPECT_EQ(after, suspendedAt) << "a suspended thread went on counting";
    EXPECT_TRUE(spinner.Passes(after)) << "a resumed thread stays stopped";
}

TEST_F(AudioMute, ThreadsRunningThroughTheFunctionSurviveRepeatedPatching)
{
    // One thread calls waveOutWrite without pause while the patch is written and removed again and
    // again: it must see only the real function's answer or the mute's, and never crash in
    // half-written code. It runs on after every install, which resumed it.
    std::atomic<bool> stop { false };
    std::atomic<int> unexpected { 0 };
    std::atomic<unsigned long long> calls { 0 };
    std::thread caller([&] {
        while (!stop) {
            const MMRESULT result = waveOutWrite(nullptr, nullptr, 0);
            if (result != MMSYSERR_INVALHANDLE && result != WAVERR_UNPREPARED)
                ++unexpected;
            ++calls;
        }
    });
    const auto runsOn = [&calls] {
        const unsigned long long before = calls;
        for (int i = 0; i < 10000 && calls <= before; ++i)
            Sleep(1);
        return calls > before;
    };
    LPVOID relay = nullptr;
    for (int round = 0; round < 100; ++round) {
        ApiPatchRecord record;
        record.m_pRelay = relay; // one relay serves every round
        InstallApiPatch(record, u"winmm", "waveOutWrite", Muted, 0);
        ASSERT_NE(record.m_pTarget, nullptr);
        relay = record.m_pRelay;
        ASSERT_TRUE(runsOn()) << "the caller stays suspended after round " << round;
        RemoveApiPatch(record);
    }
    stop = true;
    caller.join();
    EXPECT_EQ(unexpected, 0);
}

TEST_F(AudioMute, AnInstalledRecordIsNotPatchedAgainAndAMissingFunctionIsNotPatched)
{
    const FARPROC target = WaveOutWriteEntry();
    const Bytes before = FirstBytes(target);

    ApiPatchRecord missing;
    InstallApiPatch(missing, u"winmm", "waveOutNoSuchFunction", Muted, 0);
    EXPECT_EQ(missing.m_hModule, GetModuleHandleW(u"winmm"));
    EXPECT_EQ(missing.m_pTarget, nullptr);
    RemoveApiPatch(missing);
    EXPECT_EQ(FirstBytes(target), before);

    ApiPatchRecord record;
    InstallApiPatch(record, u"winmm", "waveOutWrite", Muted, 1);
    const Bytes patched = FirstBytes(target);
    EXPECT_NE(patched, before);
    InstallApiPatch(record, u"winmm", "waveOutWrite", Muted, 2);
    EXPECT_EQ(record.m_nValue, 2u);
    EXPECT_EQ(ToBytes(record.m_bySaved), before) << "a second install must not save the patch as the original";
    EXPECT_EQ(FirstBytes(target), patched);
    RemoveApiPatch(record);
    EXPECT_EQ(FirstBytes(target), before);
}

TEST_F(AudioMute, TheExitHandlerForgetsTheTargetAndLeavesTheCodeAlone)
{
    const FARPROC target = WaveOutWriteEntry();
    const Bytes before = FirstBytes(target);
    SpinningThread spinner;
    InstallApiPatch(ApiPatch, u"winmm", "waveOutWrite", Muted, 0);
    ASSERT_EQ(ApiPatch.m_pTarget, target);
    ASSERT_TRUE(spinner.Passes(spinner.Count())) << "the install left a thread suspended";
    const ApiPatchRecord installed = ApiPatch;

    ForgetApiPatch();
    EXPECT_EQ(ApiPatch.m_pTarget, nullptr);
    RemoveApiPatch(ApiPatch);
    EXPECT_EQ(FirstBytes(target), ToBytes(installed.m_byPatch)) << "a removal after the exit handler touched the code";
    EXPECT_TRUE(spinner.Passes(spinner.Count())) << "the exit handler left a thread suspended";

    ApiPatchRecord restore = installed;
    RemoveApiPatch(restore);
    EXPECT_EQ(FirstBytes(target), before);
}

TEST_F(AudioMute, TheExitHandlerRunsWhenTheProcessEnds)
{
    const std::string probe = testing_support::BinaryDirectory() + "/AudioMuteExitProbe";
    std::u16string commandLine = u"\"" + std::u16string(probe.begin(), probe.end()) + u"\"";
    STARTUPINFOW startup {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process {};
    ASSERT_TRUE(
        CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
    if (WaitForSingleObject(process.hProcess, 30000) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        ADD_FAILURE() << "the probe hangs at exit";
    }
    DWORD exitCode = 99;
    EXPECT_TRUE(GetExitCodeProcess(process.hProcess, &exitCode));
    EXPECT_EQ(exitCode, 0u) << "1: the target was still known after exit; 2: nothing was patched";
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}
