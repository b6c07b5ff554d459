// The mute in a program that does not link winmm: nothing is patched, and a winmm loaded later
// plays as it should.
#include "AudioMute.h"

#include "WaveOutPlayback.h"

#include <gtest/gtest.h>

namespace {

template <typename Function> Function Export(HMODULE module, const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

}

TEST(AudioMuteWithoutWinmm, NothingIsPatchedAndALaterWinmmPlays)
{
    ASSERT_EQ(GetModuleHandleW(u"winmm"), nullptr) << "this program must not have winmm loaded";
    InstallApiPatch(ApiPatch, u"winmm", "waveOutWrite", reinterpret_cast<LPCVOID>(&MutedWaveOutWrite), 0);
    EXPECT_EQ(ApiPatch.m_hModule, nullptr);
    EXPECT_EQ(ApiPatch.m_pTarget, nullptr);
    EXPECT_EQ(GetModuleHandleW(u"winmm"), nullptr) << "the mute loaded winmm";

    const HMODULE winmm = LoadLibraryW(u"winmm");
    ASSERT_NE(winmm, nullptr);
    const WaveOutFunctions loaded { Export<decltype(&waveOutOpen)>(winmm, "waveOutOpen"),
        Export<decltype(&waveOutPrepareHeader)>(winmm, "waveOutPrepareHeader"),
        Export<decltype(&waveOutUnprepareHeader)>(winmm, "waveOutUnprepareHeader"),
        Export<decltype(&waveOutWrite)>(winmm, "waveOutWrite"), Export<decltype(&waveOutReset)>(winmm, "waveOutReset"),
        Export<decltype(&waveOutGetPosition)>(winmm, "waveOutGetPosition"),
        Export<decltype(&waveOutClose)>(winmm, "waveOutClose") };
    ASSERT_NE(loaded.write, nullptr);
    RemoveApiPatch(ApiPatch); // nothing to remove
    {
        WaveOutPlayback playback(loaded);
        ASSERT_EQ(playback.Write(), static_cast<MMRESULT>(MMSYSERR_NOERROR));
        ASSERT_TRUE(playback.WaitUntilPlayed());
        EXPECT_EQ(playback.PlayedBytes(), WaveOutPlayback::BlockBytes);
    }
    EXPECT_TRUE(FreeLibrary(winmm));
}
