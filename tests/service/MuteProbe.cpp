// Preloaded into ReelscanModule.exe by the module test (LD_PRELOAD), never part of the server: on
// the server's first GetMessageW, when WinMain has done its start-up, it plays one block through
// the winmm that the server has loaded and writes what happened to the file named by
// REELSCAN_MUTE_PROBE ("unloaded", or "write=<result> played=<bytes>"), then lets the call go on.
#include <mmsystem.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <string>

namespace {

std::string PlayOneBlock()
{
    HMODULE winmm = GetModuleHandleW(u"winmm");
    if (!winmm)
        return "unloaded";
    auto open = reinterpret_cast<decltype(&waveOutOpen)>(GetProcAddress(winmm, "waveOutOpen"));
    auto prepare = reinterpret_cast<decltype(&waveOutPrepareHeader)>(GetProcAddress(winmm, "waveOutPrepareHeader"));
    auto write = reinterpret_cast<decltype(&waveOutWrite)>(GetProcAddress(winmm, "waveOutWrite"));
    auto position = reinterpret_cast<decltype(&waveOutGetPosition)>(GetProcAddress(winmm, "waveOutGetPosition"));
    auto reset = reinterpret_cast<decltype(&waveOutReset)>(GetProcAddress(winmm, "waveOutReset"));
    auto unprepare
        = reinterpret_cast<decltype(&waveOutUnprepareHeader)>(GetProcAddress(winmm, "waveOutUnprepareHeader"));
    auto close = reinterpret_cast<decltype(&waveOutClose)>(GetProcAddress(winmm, "waveOutClose"));
    if (!open || !prepare || !write || !position || !reset || !unprepare || !close)
        return "incomplete";

    WAVEFORMATEX format {};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 1;
    format.nSamplesPerSec = 8000;
    format.nAvgBytesPerSec = 8000;
    format.nBlockAlign = 1;
    format.wBitsPerSample = 8;
    HWAVEOUT device = nullptr;
    if (open(&device, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR)
        return "no device";
    static char samples[320] = {};
    WAVEHDR header {};
    header.lpData = samples;
    header.dwBufferLength = sizeof samples;
    prepare(device, &header, sizeof header);
    const MMRESULT written = write(device, &header, sizeof header);
    Sleep(100); // longer than the block lasts
    MMTIME time {};
    time.wType = TIME_BYTES;
    position(device, &time, sizeof time);
    reset(device);
    unprepare(device, &header, sizeof header);
    close(device);
    return "write=" + std::to_string(written) + " played=" + std::to_string(time.u.cb);
}

void Record(const std::string& outcome)
{
    const char* path = std::getenv("REELSCAN_MUTE_PROBE");
    if (!path)
        return;
    const std::string partial = std::string(path) + ".part";
    if (FILE* file = std::fopen(partial.c_str(), "w")) {
        std::fputs(outcome.c_str(), file);
        std::fclose(file);
        std::rename(partial.c_str(), path);
    }
}

}

extern "C" BOOL WINAPI GetMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax)
{
    static bool probed = false;
    if (!probed) {
        probed = true;
        Record(PlayOneBlock());
    }
    using GetMessageFunction = BOOL(WINAPI*)(LPMSG, HWND, UINT, UINT);
    static auto next = reinterpret_cast<GetMessageFunction>(dlsym(RTLD_NEXT, "GetMessageW"));
    return next(lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax);
}
