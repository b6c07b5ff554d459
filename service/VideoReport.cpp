#include "VideoReport.h"

#include "DebugTrace.h"

#include <cstring>

namespace {

void AppendAnsi(std::vector<BYTE>& block, const std::u16string& text)
{
    if (text.empty())
        return;
    const int length = static_cast<int>(text.size());
    const int bytes = WideCharToMultiByte(CP_THREAD_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return;
    const size_t at = block.size();
    block.resize(at + static_cast<size_t>(bytes));
    WideCharToMultiByte(
        CP_THREAD_ACP, 0, text.data(), length, reinterpret_cast<LPSTR>(block.data() + at), bytes, nullptr, nullptr);
}

}

std::vector<BYTE> BuildVideoRecord(const VideoReport& report)
{
    std::vector<BYTE> block(sizeof(DWORD));
    const std::u16string* fields[]
        = { &report.title, &report.icon, &report.cookie, &report.href, &report.url, &report.type };
    for (const std::u16string* field : fields) {
        AppendAnsi(block, *field);
        block.push_back('\r');
    }
    const std::string length = std::to_string(report.length);
    block.insert(block.end(), length.begin(), length.end());
    const DWORD count = static_cast<DWORD>(block.size() - sizeof(DWORD));
    const BYTE countBytes[4] = { static_cast<BYTE>(count), static_cast<BYTE>(count >> 8),
        static_cast<BYTE>(count >> 16), static_cast<BYTE>(count >> 24) };
    std::memcpy(block.data(), countBytes, sizeof countBytes);
    return block;
}

void SendVideoRecord(HWND client, const VideoReport& report)
{
    DebugTrace(u"Send_Begin:%s", report.url.c_str());
    std::vector<BYTE> block = BuildVideoRecord(report);
    COPYDATASTRUCT data {};
    data.dwData = 0;
    data.cbData = static_cast<DWORD>(block.size());
    data.lpData = block.data();
    // The answer and the last error say nothing the service could act on: a record sent to a
    // window that is gone is lost, as the client was told.
    SendMessageW(client, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
    DebugTrace(u"Send_Over:%d", 0);
}
