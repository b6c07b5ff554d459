#include "RecordClient.h"

namespace {

constexpr const char16_t* kClientClass = u"ServiceTestRecordClient";

void PumpOnce()
{
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&message);
}

}

RecordClient::RecordClient()
{
    WNDCLASSW windowClass {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.lpszClassName = kClientClass;
    RegisterClassW(&windowClass); // a second client finds the class registered
    m_window = CreateWindowExW(0, kClientClass, nullptr, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    SetWindowLongPtrW(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

RecordClient::~RecordClient()
{
    DestroyWindow(m_window);
}

LRESULT CALLBACK RecordClient::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* client = reinterpret_cast<RecordClient*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_COPYDATA && client) {
        const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        if (data && data->cbData >= 4)
            client->m_records.emplace_back(static_cast<const char*>(data->lpData) + 4, data->cbData - 4);
        return TRUE;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void RecordClient::PumpUntil(size_t count, std::chrono::milliseconds timeout)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (m_records.size() < count && std::chrono::steady_clock::now() < end)
        PumpOnce();
}

std::vector<std::string> RecordFields(const std::string& text)
{
    std::vector<std::string> fields(1);
    for (char c : text) {
        if (c == '\r')
            fields.emplace_back();
        else
            fields.back().push_back(c);
    }
    return fields;
}

void PumpFor(std::chrono::milliseconds time)
{
    const auto end = std::chrono::steady_clock::now() + time;
    while (std::chrono::steady_clock::now() < end)
        PumpOnce();
}
