// A program that ends with the mute in place and a thread still calling waveOutWrite, as the server
// ends through its object's final release. Its exit code tells what its last exit-time code found:
// 0 when ApiPatch had forgotten its target, 1 when it still had it, 2 when nothing was patched.
#include "AudioMute.h"

#include <thread>
#include <unistd.h>

namespace {

bool g_patched = false;

// This object is built before the mute's exit handler is registered (the program's own objects
// come first in link order and are initialised first), so it is destroyed after that handler ran.
struct LastWord {
    ~LastWord()
    {
        _exit(!g_patched ? 2 : ApiPatch.m_pTarget ? 1 : 0);
    }
} g_lastWord;

}

int main()
{
    InstallApiPatch(ApiPatch, u"winmm", "waveOutWrite", reinterpret_cast<LPCVOID>(&MutedWaveOutWrite), 0);
    g_patched = ApiPatch.m_pTarget != nullptr;
    std::thread([] {
        for (;;)
            waveOutWrite(nullptr, nullptr, 0);
    }).detach();
    Sleep(10);
    return 0;
}
