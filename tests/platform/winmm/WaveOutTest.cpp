#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <vector>

namespace {

using namespace std::chrono_literals;

// 8 kHz, 16-bit stereo: 4 bytes a sample frame, 32 000 bytes a second.
WAVEFORMATEX Pcm()
{
    WAVEFORMATEX format {};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = 8000;
    format.wBitsPerSample = 16;
    format.nBlockAlign = 4;
    format.nAvgBytesPerSec = 32000;
    return format;
}

// Records the notifications of one device, in order, and lets a test wait for them.
class Recorder {
public:
    struct Notification {
        UINT message;
        DWORD_PTR parameter;
    };

    static void CALLBACK Callback(HDRVR device, UINT message, DWORD_PTR instance, DWORD_PTR parameter, DWORD_PTR)
    {
        auto* self = reinterpret_cast<Recorder*>(instance);
        std::lock_guard lock(self->m_mutex);
        self->m_notifications.push_back({ message, parameter });
        self->m_changed.notify_all();
    }

    // Waits (for a generous time) until count notifications arrived; returns them.
    std::vector<Notification> WaitFor(std::size_t count)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, 10s, [&] { return m_notifications.size() >= count; });
        return m_notifications;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Notification> m_notifications;
};

struct Block {
    explicit Block(DWORD length)
        : data(length + 1, 0) // never empty, so that even an empty block has data
    {
        header.lpData = data.data();
        header.dwBufferLength = length;
    }
    std::vector<char> data;
    WAVEHDR header {};
};

DWORD Position(HWAVEOUT device, UINT type)
{
    MMTIME time {};
    time.wType = type;
    EXPECT_EQ(waveOutGetPosition(device, &time, sizeof time), static_cast<MMRESULT>(MMSYSERR_NOERROR));
    EXPECT_EQ(time.wType, type);
    return time.u.cb;
}

}

TEST(WaveOut, OpenChecksDeviceFormatAndFlags)
{
    struct Case {
        const char* name;
        UINT device;
        std::function<void(WAVEFORMATEX&)> change;
        DWORD flags;
        MMRESULT expected;
    } cases[] = {
        { "mapper", WAVE_MAPPER, [](WAVEFORMATEX&) {}, CALLBACK_NULL, MMSYSERR_NOERROR },
        { "device 0, 8-bit mono", 0,
            [](WAVEFORMATEX& f) {
                f.nChannels = 1;
                f.wBitsPerSample = 8;
                f.nBlockAlign = 1;
                f.nAvgBytesPerSec = 8000;
            },
            CALLBACK_NULL, MMSYSERR_NOERROR },
        { "no device 1", 1, [](WAVEFORMATEX&) {}, CALLBACK_NULL, MMSYSERR_BADDEVICEID },
        { "not PCM", 0, [](WAVEFORMATEX& f) { f.wFormatTag = 2; }, CALLBACK_NULL, WAVERR_BADFORMAT },
        { "no channels", 0, [](WAVEFORMATEX& f) { f.nChannels = 0; }, CALLBACK_NULL, WAVERR_BADFORMAT },
        { "12 bits", 0, [](WAVEFORMATEX& f) { f.wBitsPerSample = 12; }, CALLBACK_NULL, WAVERR_BADFORMAT },
        { "block align off", 0, [](WAVEFORMATEX& f) { f.nBlockAlign = 3; }, CALLBACK_NULL, WAVERR_BADFORMAT },
        { "byte rate off", 0, [](WAVEFORMATEX& f) { f.nAvgBytesPerSec = 1000; }, CALLBACK_NULL, WAVERR_BADFORMAT },
        { "rate 0", 0,
            [](WAVEFORMATEX& f) {
                f.nSamplesPerSec = 0;
                f.nAvgBytesPerSec = 0;
            },
            CALLBACK_NULL, WAVERR_BADFORMAT },
        { "unknown flag", 0, [](WAVEFORMATEX&) {}, 0x00100000, MMSYSERR_INVALFLAG },
        { "window callback", 0, [](WAVEFORMATEX&) {}, CALLBACK_WINDOW, MMSYSERR_NOTSUPPORTED },
    };
    for (const Case& c : cases) {
        WAVEFORMATEX format = Pcm();
        c.change(format);
        HWAVEOUT device = nullptr;
        EXPECT_EQ(waveOutOpen(&device, c.device, &format, 0, 0, c.flags), c.expected) << c.name;
        // The same answer when only asked whether the format would open.
        EXPECT_EQ(waveOutOpen(nullptr, c.device, &format, 0, 0, c.flags | WAVE_FORMAT_QUERY), c.expected) << c.name;
        if (c.expected == MMSYSERR_NOERROR) {
            ASSERT_NE(device, nullptr) << c.name;
            EXPECT_EQ(waveOutClose(device), static_cast<MMRESULT>(MMSYSERR_NOERROR)) << c.name;
        }
    }
    const WAVEFORMATEX format = Pcm();
    EXPECT_EQ(waveOutOpen(nullptr, 0, &format, 0, 0, CALLBACK_NULL), static_cast<MMRESULT>(MMSYSERR_INVALPARAM));
    EXPECT_EQ(waveOutOpen(nullptr, 0, nullptr, 0, 0, WAVE_FORMAT_QUERY), static_cast<MMRESULT>(MMSYSERR_INVALPARAM));
    EXPECT_EQ(waveOutGetNumDevs(), 1u);
}

TEST(WaveOut, PlaysEveryBlockInOrderAndCountsItsBytes)
{
    Recorder recorder;
    const WAVEFORMATEX format = Pcm();
    HWAVEOUT device = nullptr;
    ASSERT_EQ(waveOutOpen(&device, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(&Recorder::Callback),
                  reinterpret_cast<DWORD_PTR>(&recorder), CALLBACK_FUNCTION),
        static_cast<MMRESULT>(MMSYSERR_NOERROR));
    EXPECT_EQ(Position(device, TIME_BYTES), 0u);

    // 100 ms, 50 ms and an empty block.
    Block blocks[] = { Block(3200), Block(1600), Block(0) };
    for (Block& block : blocks) {
        ASSERT_EQ(
            waveOutPrepareHeader(device, &block.header, sizeof(WAVEHDR)), static_cast<MMRESULT>(MMSYSERR_NOERROR));
        EXPECT_EQ(block.header.dwFlags, static_cast<DWORD>(WHDR_PREPARED));
    }
    for (Block& block : blocks)
        ASSERT_EQ(waveOutWrite(device, &block.header, sizeof(WAVEHDR)), static_cast<MMRESULT>(MMSYSERR_NOERROR));

    const std::vector<Recorder::Notification> notifications = recorder.WaitFor(4);
    ASSERT_EQ(notifications.size(), 4u);
    EXPECT_EQ(notifications[0].message, static_cast<UINT>(WOM_OPEN));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(notifications[i + 1].message, static_cast<UINT>(WOM_DONE)) << "block " << i;
        EXPECT_EQ(notifications[i + 1].parameter, reinterpret_cast<DWORD_PTR>(&blocks[i].header)) << "block " << i;
        EXPECT_EQ(blocks[i].header.dwFlags, static_cast<DWORD>(WHDR_PREPARED | WHDR_DONE)) << "block " << i;
    }
    EXPECT_EQ(Position(device, TIME_BYTES), 4800u);
    EXPECT_EQ(Position(device, TIME_SAMPLES), 1200u);
    EXPECT_EQ(Position(device, TIME_MS), 150u);
    MMTIME smpte {};
    smpte.wType = TIME_SMPTE;
    ASSERT_EQ(waveOutGetPosition(device, &smpte, sizeof smpte), static_cast<MMRESULT>(MMSYSERR_NOERROR));
    EXPECT_EQ(smpte.wType, static_cast<UINT>(TIME_BYTES)) << "an unsupported time format is answered in bytes";
    EXPECT_EQ(smpte.u.cb, 4800u);

    for (Block& block : blocks) {
        EXPECT_EQ(
            waveOutUnprepareHeader(device, &block.header, sizeof(WAVEHDR)), static_cast<MMRESULT>(MMSYSERR_NOERROR));
        EXPECT_FALSE(block.header.dwFlags & WHDR_PREPARED);
    }
    EXPECT_EQ(waveOutClose(device), static_cast<MMRESULT>(MMSYSERR_NOERROR));
    const std::vector<Recorder::Notification> all = recorder.WaitFor(5);
    ASSERT_EQ(all.size(), 5u);
    EXPECT_EQ(all[4].message, static_cast<UINT>(WOM_CLOSE));
}

TEST(WaveOut, PlaysNoFasterThanRealTimeAndResetEndsWhatIsQueued)
{
    Recorder recorder;
    const WAVEFORMATEX format = Pcm();
    HWAVEOUT device = nullptr;
    ASSERT_EQ(waveOutOpen(&device, 0, &format, reinterpret_cast<DWORD_PTR>(&Recorder::Callback),
                  reinterpret_cast<DWORD_PTR>(&recorder), CALLBACK_FUNCTION),
        static_cast<MMRESULT>(MMSYSERR_NOERROR));
    Block longBlock(320000); // ten seconds
    Block second(3200);
    ASSERT_EQ(
        waveOutPrepareHeader(device, &longBlock.header, sizeof(WAVEHDR)), static_cast<MMRESULT>(MMSYSERR_NOERROR));
    ASSERT_EQ(waveOutPrepareHeader(device, &second.header, sizeof(WAVEHDR)), static_cast<MMRESULT>(MMSYSERR_NOERROR));

    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(waveOutWrite(device, &longBlock.header, sizeof(WAVEHDR)), static_cast<MMRESULT>(MMSYSERR_NOERROR));
    ASSERT_EQ(waveOutWrite(device, &second.header, sizeof(WAVEHDR)), static_cast<MMRESULT>(MMSYSERR_NOERROR));
    EXPECT_EQ(longBlock.header.dwFlags, static_cast<DWORD>(WHDR_PREPARED | WHDR_INQUEUE));

    // While queued, a block can be neither written again nor unprepared, and the device not closed.
    EXPECT_EQ(waveOutWrite(device, &longBlock.header, sizeof(WAVEHDR)), static_cast<MMRESULT>(WAVERR_STILLPLAYING));
    EXPECT_EQ(
        waveOutUnprepareHeader(device, &second.header, sizeof(WAVEHDR)), static_cast<MMRESULT>(WAVERR_STILLPLAYING));
    EXPECT_EQ(waveOutClose(device), static_cast<MMRESULT>(WAVERR_STILLPLAYING));

    // The position never runs ahead of the time that has passed.
    DWORD last = 0;
    for (int i = 0; i < 5; ++i) {
        const DWORD position = Position(device, TIME_BYTES);
        const auto elapsed
            = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
        EXPECT_LE(position, static_cast<ULONGLONG>(elapsed.count()) * 32000 / 1000000 + format.nBlockAlign);
        EXPECT_GE(position, last);
        EXPECT_EQ(position % format.nBlockAlign, 0u);
        last = position;
        std::this_thread::sleep_for(20ms);
    }

    ASSERT_EQ(waveOutReset(device), static_cast<MMRESULT>(MMSYSERR_NOERROR));
    EXPECT_EQ(longBlock.header.dwFlags, static_cast<DWORD>(WHDR_PREPARED | WHDR_DONE));
    EXPECT_EQ(second.header.dwFlags, static_cast<DWORD>(WHDR_PREPARED | WHDR_DONE));
    EXPECT_EQ(Position(device, TIME_BYTES), 0u) << "a reset sets the position back to 0";
    const std::vector<Recorder::Notification> notifications = recorder.WaitFor(3);
    ASSERT_EQ(notifications.size(), 3u);
    EXPECT_EQ(notifications[1].parameter, reinterpret_cast<DWORD_PTR>(&longBlock.header));
    EXPECT_EQ(notifications[2].parameter, reinterpret_cast<DWORD_PTR>(&second.header));
    EXPECT_EQ(waveOutClose(device), static_cast<MMRESULT>(MMSYSERR_NOERROR));
}

namespace {

// Plays its block three times over, writing it again from each WOM_DONE, then closes the device
// from the last one: the way a streaming player drives the device from its callback.
struct Streamer {
    static constexpr UINT Finished = 0; // recorded when the callback that closed the device is done
    static void CALLBACK Callback(HDRVR device, UINT message, DWORD_PTR instance, DWORD_PTR parameter, DWORD_PTR)
    {
        auto* self = reinterpret_cast<Streamer*>(instance);
        const auto handle = reinterpret_cast<HWAVEOUT>(device);
        self->recorder.Callback(device, message, reinterpret_cast<DWORD_PTR>(&self->recorder), parameter, 0);
        if (message == WOM_DONE && ++self->played < 3) {
            self->writeResult = waveOutWrite(handle, &self->block.header, sizeof(WAVEHDR));
        } else if (message == WOM_DONE) {
            MMTIME time {};
            time.wType = TIME_BYTES;
            waveOutGetPosition(handle, &time, sizeof time);
            self->position = time.u.cb;
            waveOutUnprepareHeader(handle, &self->block.header, sizeof(WAVEHDR));
            self->closeResult = waveOutClose(handle);
            self->recorder.Callback(device, Finished, reinterpret_cast<DWORD_PTR>(&self->recorder), 0, 0);
        }
    }

    Block block { 800 };
    Recorder recorder;
    int played = 0;
    DWORD position = 0;
    MMRESULT writeResult = MMSYSERR_NOERROR;
    MMRESULT closeResult = MMSYSERR_ERROR;
};

}

TEST(WaveOut, ACallbackMayWriteAgainAndClose)
{
    Streamer streamer;
    const WAVEFORMATEX format = Pcm();
    HWAVEOUT device = nullptr;
    ASSERT_EQ(waveOutOpen(&device, 0, &format, reinterpret_cast<DWORD_PTR>(&Streamer::Callback),
                  reinterpret_cast<DWORD_PTR>(&streamer), CALLBACK_FUNCTION),
        static_cast<MMRESULT>(MMSYSERR_NOERROR));
    ASSERT_EQ(
        waveOutPrepareHeader(device, &streamer.block.header, sizeof(WAVEHDR)), static_cast<MMRESULT>(MMSYSERR_NOERROR));
    ASSERT_EQ(waveOutWrite(device, &streamer.block.header, sizeof(WAVEHDR)), static_cast<MMRESULT>(MMSYSERR_NOERROR));

    // WOM_OPEN, three WOM_DONE, and WOM_CLOSE from within the last of them.
    const std::vector<Recorder::Notification> notifications = streamer.recorder.WaitFor(6);
    ASSERT_EQ(notifications.size(), 6u);
    EXPECT_EQ(notifications[5].message, Streamer::Finished);
    EXPECT_EQ(notifications[4].message, static_cast<UINT>(WOM_CLOSE));
    EXPECT_EQ(notifications[3].message, static_cast<UINT>(WOM_DONE));
    EXPECT_EQ(streamer.writeResult, static_cast<MMRESULT>(MMSYSERR_NOERROR));
    EXPECT_EQ(streamer.closeResult, static_cast<MMRESULT>(MMSYSERR_NOERROR));
    EXPECT_EQ(streamer.position, 3 * 800u);
    EXPECT_EQ(waveOutReset(device), static_cast<MMRESULT>(MMSYSERR_INVALHANDLE)) << "the device is closed";
}

TEST(WaveOut, AnEventCallbackIsSetForEveryNotification)
{
    const HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    const WAVEFORMATEX format = Pcm();
    HWAVEOUT device = nullptr;
    ASSERT_EQ(waveOutOpen(&device, 0, &format, reinterpret_cast<DWORD_PTR>(event), 0, CALLBACK_EVENT),
        static_cast<MMRESULT>(MMSYSERR_NOERROR));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0) << "WOM_OPEN";
    Block block(320);
    ASSERT_EQ(waveOutPrepareHeader(device, &block.header, sizeof(WAVEHDR)), static_cast<MMRESULT>(MMSYSERR_NOERROR));
    ASSERT_EQ(waveOutWrite(device, &block.header, sizeof(WAVEHDR)), static_cast<MMRESULT>(MMSYSERR_NOERROR));
    EXPECT_EQ(WaitForSingleObject(event, 10000), WAIT_OBJECT_0) << "WOM_DONE";
    EXPECT_TRUE(block.header.dwFlags & WHDR_DONE);
    EXPECT_EQ(waveOutClose(device), static_cast<MMRESULT>(MMSYSERR_NOERROR));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0) << "WOM_CLOSE";
    EXPECT_TRUE(CloseHandle(event));
}

TEST(WaveOut, BadHandlesAndHeadersAreRefused)
{
    const WAVEFORMATEX format = Pcm();
    HWAVEOUT device = nullptr;
    ASSERT_EQ(waveOutOpen(&device, 0, &format, 0, 0, CALLBACK_NULL), static_cast<MMRESULT>(MMSYSERR_NOERROR));
    Block block(400);
    MMTIME time {};
    time.wType = TIME_BYTES;
    const HWAVEOUT bogus = reinterpret_cast<HWAVEOUT>(&block);
    struct Case {
        const char* name;
        std::function<MMRESULT()> call;
        MMRESULT expected;
    } cases[] = {
        { "write unprepared", [&] { return waveOutWrite(device, &block.header, sizeof(WAVEHDR)); }, WAVERR_UNPREPARED },
        { "write a short header", [&] { return waveOutWrite(device, &block.header, sizeof(WAVEHDR) - 1); },
            MMSYSERR_INVALPARAM },
        { "write no header", [&] { return waveOutWrite(device, nullptr, sizeof(WAVEHDR)); }, MMSYSERR_INVALPARAM },
        { "prepare no header", [&] { return waveOutPrepareHeader(device, nullptr, sizeof(WAVEHDR)); },
            MMSYSERR_INVALPARAM },
        { "position into a short buffer", [&] { return waveOutGetPosition(device, &time, sizeof time - 1); },
            MMSYSERR_INVALPARAM },
        { "write on a bogus handle", [&] { return waveOutWrite(bogus, &block.header, sizeof(WAVEHDR)); },
            MMSYSERR_INVALHANDLE },
        { "prepare on a bogus handle", [&] { return waveOutPrepareHeader(bogus, &block.header, sizeof(WAVEHDR)); },
            MMSYSERR_INVALHANDLE },
        { "unprepare on a bogus handle", [&] { return waveOutUnprepareHeader(bogus, &block.header, sizeof(WAVEHDR)); },
            MMSYSERR_INVALHANDLE },
        { "reset a bogus handle", [&] { return waveOutReset(bogus); }, MMSYSERR_INVALHANDLE },
        { "position of a bogus handle", [&] { return waveOutGetPosition(bogus, &time, sizeof time); },
            MMSYSERR_INVALHANDLE },
        { "close a bogus handle", [&] { return waveOutClose(bogus); }, MMSYSERR_INVALHANDLE },
        { "close", [&] { return waveOutClose(device); }, MMSYSERR_NOERROR },
        { "close again", [&] { return waveOutClose(device); }, MMSYSERR_INVALHANDLE },
        { "write after close", [&] { return waveOutWrite(device, &block.header, sizeof(WAVEHDR)); },
            MMSYSERR_INVALHANDLE },
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.call(), c.expected) << c.name;
    EXPECT_EQ(block.header.dwFlags, 0u) << "a refused write leaves the header alone";
}
