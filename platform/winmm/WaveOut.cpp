#include "mmsystem.h"

#include "synchapi.h"
#include "winuser.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace {

using Clock = std::chrono::steady_clock;

// The PCM formats the device takes.
constexpr DWORD MinimumSampleRate = 100;
constexpr DWORD MaximumSampleRate = 384000;
constexpr WORD MaximumChannels = 8;

bool IsPlayableFormat(const WAVEFORMATEX& format)
{
    if (format.wFormatTag != WAVE_FORMAT_PCM || format.nChannels == 0 || format.nChannels > MaximumChannels)
        return false;
    if (format.wBitsPerSample != 8 && format.wBitsPerSample != 16 && format.wBitsPerSample != 24
        && format.wBitsPerSample != 32)
        return false;
    if (format.nSamplesPerSec < MinimumSampleRate || format.nSamplesPerSec > MaximumSampleRate)
        return false;
    return format.nBlockAlign == format.nChannels * format.wBitsPerSample / 8
        && format.nAvgBytesPerSec == format.nSamplesPerSec * format.nBlockAlign;
}

// The header's flags are read by the program while the device changes them.
void SetFlags(WAVEHDR& header, DWORD set, DWORD clear)
{
    std::atomic_ref<DWORD> flags(header.dwFlags);
    DWORD expected = flags.load();
    while (!flags.compare_exchange_weak(expected, (expected & ~clear) | set)) { }
}

DWORD Flags(const WAVEHDR& header)
{
    return std::atomic_ref<DWORD>(const_cast<DWORD&>(header.dwFlags)).load();
}

// Where the device's notifications go, as waveOutOpen was told.
class Notifier {
public:
    Notifier(DWORD type, DWORD_PTR callback, DWORD_PTR instance)
        : m_type(type)
        , m_callback(callback)
        , m_instance(instance)
    {
    }

    void Notify(HWAVEOUT device, UINT message, DWORD_PTR parameter) const
    {
        if (m_type == CALLBACK_FUNCTION && m_callback)
            reinterpret_cast<LPWAVECALLBACK>(m_callback)(
                reinterpret_cast<HDRVR>(device), message, m_instance, parameter, 0);
        else if (m_type == CALLBACK_EVENT)
            SetEvent(reinterpret_cast<HANDLE>(m_callback));
        else if (m_type == CALLBACK_WINDOW && m_callback)
            PostMessageW(reinterpret_cast<HWND>(m_callback), message, reinterpret_cast<WPARAM>(device),
                static_cast<LPARAM>(parameter));
    }

private:
    DWORD m_type;
    DWORD_PTR m_callback;
    DWORD_PTR m_instance;
};

// One open device: a queue of blocks that its own thread plays in real time, one after another.
class WaveOutDevice : public std::enable_shared_from_this<WaveOutDevice> {
public:
    WaveOutDevice(const WAVEFORMATEX& format, const Notifier& notifier)
        : m_format(format)
        , m_notifier(notifier)
    {
    }

    HWAVEOUT Handle()
    {
        return reinterpret_cast<HWAVEOUT>(this);
    }

    void Start()
    {
        m_thread = std::thread([self = shared_from_this()] { self->Play(); });
    }

    void Notify(UINT message, DWORD_PTR parameter)
    {
        m_notifier.Notify(Handle(), message, parameter);
    }

    MMRESULT Write(WAVEHDR& header)
    {
        std::lock_guard lock(m_mutex);
        const DWORD flags = Flags(header);
        if (!(flags & WHDR_PREPARED))
            return WAVERR_UNPREPARED;
        if (flags & WHDR_INQUEUE)
            return WAVERR_STILLPLAYING;
        SetFlags(header, WHDR_INQUEUE, WHDR_DONE);
        if (m_queue.empty())
            m_blockStart = Clock::now();
        m_queue.push_back(&header);
        m_changed.notify_all();
        return MMSYSERR_NOERROR;
    }

    // Ends every queued block at once and sets the position back to 0.
    void Reset()
    {
        std::deque<WAVEHDR*> cut;
        {
            std::lock_guard lock(m_mutex);
            cut.swap(m_queue);
            for (WAVEHDR* header : cut)
                SetFlags(*header, WHDR_DONE, WHDR_INQUEUE);
            m_playedBytes = 0;
            m_changed.notify_all();
        }
        for (WAVEHDR* header : cut)
            Notify(WOM_DONE, reinterpret_cast<DWORD_PTR>(header));
    }

    bool IsPlaying()
    {
        std::lock_guard lock(m_mutex);
        return !m_queue.empty();
    }

    // The bytes played since opening or the last reset, the block now playing included as far as
    // its time has passed, in whole sample frames.
    ULONGLONG PlayedBytes()
    {
        std::lock_guard lock(m_mutex);
        ULONGLONG played = m_playedBytes;
        if (!m_queue.empty()) {
            const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - m_blockStart);
            const ULONGLONG due = static_cast<ULONGLONG>(elapsed.count()) * m_format.nAvgBytesPerSec / 1000000;
            const ULONGLONG length = m_queue.front()->dwBufferLength;
            played += std::min(due, length) / m_format.nBlockAlign * m_format.nBlockAlign;
        }
        return played;
    }

    const WAVEFORMATEX& Format() const
    {
        return m_format;
    }

    // Stops the device's thread. Called on that thread (from a callback), the thread ends after the
    // callback returns.
    void Stop()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
            m_changed.notify_all();
        }
        if (!m_thread.joinable())
            return;
        if (m_thread.get_id() == std::this_thread::get_id())
            m_thread.detach();
        else
            m_thread.join();
    }

private:
    Clock::duration DurationOf(DWORD bytes) const
    {
        return std::chrono::duration_cast<Clock::duration>(
            std::chrono::microseconds(static_cast<ULONGLONG>(bytes) * 1000000 / m_format.nAvgBytesPerSec));
    }

    void Play()
    {
        std::unique_lock lock(m_mutex);
        while (!m_stopping) {
            if (m_queue.empty()) {
                m_changed.wait(lock);
                continue;
            }
            WAVEHDR* header = m_queue.front();
            const Clock::time_point end = m_blockStart + DurationOf(header->dwBufferLength);
            if (Clock::now() < end) {
                // A write, a reset or a stop wakes the thread early; the loop looks again.
                m_changed.wait_until(lock, end);
                continue;
            }
            m_queue.pop_front();
            m_playedBytes += header->dwBufferLength;
            m_blockStart = end;
            SetFlags(*header, WHDR_DONE, WHDR_INQUEUE);
            lock.unlock();
            Notify(WOM_DONE, reinterpret_cast<DWORD_PTR>(header));
            lock.lock();
        }
    }

    const WAVEFORMATEX m_format;
    const Notifier m_notifier;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<WAVEHDR*> m_queue;
    Clock::time_point m_blockStart; // when the block at the front began to play
    ULONGLONG m_playedBytes = 0;
    bool m_stopping = false;
    std::thread m_thread;
};

// The open devices by handle: a handle that is not here is invalid.
class DeviceTable {
public:
    void Add(const std::shared_ptr<WaveOutDevice>& device)
    {
        std::lock_guard lock(m_mutex);
        m_devices.emplace(device->Handle(), device);
    }

    std::shared_ptr<WaveOutDevice> Find(HWAVEOUT handle)
    {
        std::lock_guard lock(m_mutex);
        const auto found = m_devices.find(handle);
        return found == m_devices.end() ? nullptr : found->second;
    }

    // Takes the device out of the table unless blocks are still queued on it.
    MMRESULT RemoveIdle(HWAVEOUT handle, std::shared_ptr<WaveOutDevice>& removed)
    {
        std::lock_guard lock(m_mutex);
        const auto found = m_devices.find(handle);
        if (found == m_devices.end())
            return MMSYSERR_INVALHANDLE;
        if (found->second->IsPlaying())
            return WAVERR_STILLPLAYING;
        removed = found->second;
        m_devices.erase(found);
        return MMSYSERR_NOERROR;
    }

private:
    std::mutex m_mutex;
    std::unordered_map<HWAVEOUT, std::shared_ptr<WaveOutDevice>> m_devices;
};

DeviceTable& Devices()
{
    static DeviceTable* table = new DeviceTable; // outlives every device thread at process exit
    return *table;
}

}

extern "C" UINT WINAPI waveOutGetNumDevs()
{
    return 1;
}

extern "C" MMRESULT WINAPI waveOutOpen(
    LPHWAVEOUT phwo, UINT uDeviceID, LPCWAVEFORMATEX pwfx, DWORD_PTR dwCallback, DWORD_PTR dwInstance, DWORD fdwOpen)
{
    constexpr DWORD knownFlags
        = CALLBACK_TYPEMASK | WAVE_FORMAT_QUERY | WAVE_ALLOWSYNC | WAVE_MAPPED | WAVE_FORMAT_DIRECT;
    if (fdwOpen & ~knownFlags)
        return MMSYSERR_INVALFLAG;
    const DWORD callbackType = fdwOpen & CALLBACK_TYPEMASK;
    if (callbackType == CALLBACK_THREAD)
        return MMSYSERR_NOTSUPPORTED;
    if (callbackType != CALLBACK_NULL && callbackType != CALLBACK_FUNCTION && callbackType != CALLBACK_EVENT
        && callbackType != CALLBACK_WINDOW)
        return MMSYSERR_INVALFLAG;
    if (callbackType == CALLBACK_WINDOW && dwCallback && !IsWindow(reinterpret_cast<HWND>(dwCallback)))
        return MMSYSERR_INVALPARAM;
    if (uDeviceID != 0 && uDeviceID != WAVE_MAPPER)
        return MMSYSERR_BADDEVICEID;
    const bool query = fdwOpen & WAVE_FORMAT_QUERY;
    if (!pwfx || (!phwo && !query))
        return MMSYSERR_INVALPARAM;
    if (!IsPlayableFormat(*pwfx))
        return WAVERR_BADFORMAT;
    if (query)
        return MMSYSERR_NOERROR;

    std::shared_ptr<WaveOutDevice> device;
    try {
        device = std::make_shared<WaveOutDevice>(*pwfx, Notifier(callbackType, dwCallback, dwInstance));
        device->Start();
        Devices().Add(device);
    } catch (...) {
        if (device)
            device->Stop();
        return MMSYSERR_NOMEM;
    }
    *phwo = device->Handle();
    device->Notify(WOM_OPEN, 0);
    return MMSYSERR_NOERROR;
}

extern "C" MMRESULT WINAPI waveOutClose(HWAVEOUT hwo)
{
    std::shared_ptr<WaveOutDevice> device;
    const MMRESULT result = Devices().RemoveIdle(hwo, device);
    if (result != MMSYSERR_NOERROR)
        return result;
    device->Stop();
    device->Notify(WOM_CLOSE, 0);
    return MMSYSERR_NOERROR;
}

extern "C" MMRESULT WINAPI waveOutPrepareHeader(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh)
{
    if (!Devices().Find(hwo))
        return MMSYSERR_INVALHANDLE;
    if (!pwh || cbwh < sizeof(WAVEHDR) || !pwh->lpData)
        return MMSYSERR_INVALPARAM;
    SetFlags(*pwh, WHDR_PREPARED, 0);
    return MMSYSERR_NOERROR;
}

extern "C" MMRESULT WINAPI waveOutUnprepareHeader(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh)
{
    if (!Devices().Find(hwo))
        return MMSYSERR_INVALHANDLE;
    if (!pwh || cbwh < sizeof(WAVEHDR))
        return MMSYSERR_INVALPARAM;
    if (Flags(*pwh) & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    SetFlags(*pwh, 0, WHDR_PREPARED);
    return MMSYSERR_NOERROR;
}

extern "C" MMRESULT WINAPI waveOutWrite(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh)
{
    const std::shared_ptr<WaveOutDevice> device = Devices().Find(hwo);
    if (!device)
        return MMSYSERR_INVALHANDLE;
    if (!pwh || cbwh < sizeof(WAVEHDR))
        return MMSYSERR_INVALPARAM;
    return device->Write(*pwh);
}

extern "C" MMRESULT WINAPI waveOutReset(HWAVEOUT hwo)
{
    const std::shared_ptr<WaveOutDevice> device = Devices().Find(hwo);
    if (!device)
        return MMSYSERR_INVALHANDLE;
    device->Reset();
    return MMSYSERR_NOERROR;
}

extern "C" MMRESULT WINAPI waveOutGetPosition(HWAVEOUT hwo, LPMMTIME pmmt, UINT cbmmt)
{
    const std::shared_ptr<WaveOutDevice> device = Devices().Find(hwo);
    if (!device)
        return MMSYSERR_INVALHANDLE;
    if (!pmmt || cbmmt < sizeof(MMTIME))
        return MMSYSERR_INVALPARAM;
    const ULONGLONG bytes = device->PlayedBytes();
    const WAVEFORMATEX& format = device->Format();
    // The counters wrap around at 32 bits, as a DWORD does.
    switch (pmmt->wType) {
    case TIME_SAMPLES:
        pmmt->u.sample = static_cast<DWORD>(bytes / format.nBlockAlign);
        break;
    case TIME_MS:
        pmmt->u.ms = static_cast<DWORD>(bytes * 1000 / format.nAvgBytesPerSec);
        break;
    default: // a format the device does not keep: it answers in bytes and says so
        pmmt->wType = TIME_BYTES;
        pmmt->u.cb = static_cast<DWORD>(bytes);
        break;
    }
    return MMSYSERR_NOERROR;
}
