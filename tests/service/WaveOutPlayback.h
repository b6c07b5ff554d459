// One open wave-out device with one prepared block, for the mute's tests: it tells whether a write
// was taken and what the device then played. The wave-out functions are called through pointers
// (from the program's own imports or from GetProcAddress), so that the same fixture serves a
// program that links winmm and one that loads it later.
#pragma once

#include <gtest/gtest.h>
#include <mmsystem.h>
#include <vector>
#include <windows.h>

struct WaveOutFunctions {
    decltype(&waveOutOpen) open;
    decltype(&waveOutPrepareHeader) prepare;
    decltype(&waveOutUnprepareHeader) unprepare;
    decltype(&waveOutWrite) write;
    decltype(&waveOutReset) reset;
    decltype(&waveOutGetPosition) position;
    decltype(&waveOutClose) close;
};

class WaveOutPlayback {
public:
    // 8 kHz, 8-bit mono: a byte is a sample; the block lasts 40 ms.
    static constexpr DWORD BlockBytes = 320;

    explicit WaveOutPlayback(const WaveOutFunctions& functions)
        : m_functions(functions)
        , m_event(CreateEventW(nullptr, FALSE, FALSE, nullptr))
        , m_data(BlockBytes, 0)
    {
        WAVEFORMATEX format {};
        format.wFormatTag = WAVE_FORMAT_PCM;
        format.nChannels = 1;
        format.nSamplesPerSec = 8000;
        format.nAvgBytesPerSec = 8000;
        format.nBlockAlign = 1;
        format.wBitsPerSample = 8;
        EXPECT_EQ(
            m_functions.open(&m_device, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(m_event), 0, CALLBACK_EVENT),
            static_cast<MMRESULT>(MMSYSERR_NOERROR));
        WaitForSingleObject(m_event, 0); // WOM_OPEN
        header.lpData = m_data.data();
        header.dwBufferLength = BlockBytes;
        EXPECT_EQ(m_functions.prepare(m_device, &header, sizeof header), static_cast<MMRESULT>(MMSYSERR_NOERROR));
    }

    ~WaveOutPlayback()
    {
        m_functions.reset(m_device);
        m_functions.unprepare(m_device, &header, sizeof header);
        EXPECT_EQ(m_functions.close(m_device), static_cast<MMRESULT>(MMSYSERR_NOERROR));
        CloseHandle(m_event);
    }

    MMRESULT Write()
    {
        return m_functions.write(m_device, &header, sizeof header);
    }

    // Whether the written block was played to its end (waiting generously for it).
    bool WaitUntilPlayed()
    {
        return WaitForSingleObject(m_event, 10000) == WAIT_OBJECT_0 && (header.dwFlags & WHDR_DONE);
    }

    DWORD PlayedBytes()
    {
        MMTIME time {};
        time.wType = TIME_BYTES;
        EXPECT_EQ(m_functions.position(m_device, &time, sizeof time), static_cast<MMRESULT>(MMSYSERR_NOERROR));
        return time.u.cb;
    }

    HWAVEOUT Device() const
    {
        return m_device;
    }

    WAVEHDR header {};

private:
    WaveOutFunctions m_functions;
    HANDLE m_event;
    std::vector<char> m_data;
    HWAVEOUT m_device = nullptr;
};
