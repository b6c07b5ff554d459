// A client window on the test's thread that keeps the text of every VideoRecord it receives, and
// the message pump that waits for them.
#pragma once

#include <windows.h>

#include <chrono>
#include <string>
#include <vector>

class RecordClient {
public:
    RecordClient();
    ~RecordClient();
    RecordClient(const RecordClient&) = delete;
    RecordClient& operator=(const RecordClient&) = delete;

    HWND Window() const
    {
        return m_window;
    }
    // The handle as IReqService::Initialize takes it.
    ULONG Handle() const
    {
        return static_cast<ULONG>(reinterpret_cast<ULONG_PTR>(m_window));
    }
    const std::vector<std::string>& Records() const
    {
        return m_records;
    }

    // Handles this thread's messages until this client holds count records or the time is up.
    void PumpUntil(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(20));

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND m_window = nullptr;
    std::vector<std::string> m_records;
};

// The seven fields of a record's text, split at its carriage returns.
std::vector<std::string> RecordFields(const std::string& text);

// Handles this thread's messages for the given time.
void PumpFor(std::chrono::milliseconds time);
