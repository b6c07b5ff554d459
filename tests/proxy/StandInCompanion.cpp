// A stand-in for CmdReelscan.exe: reads the command line " URL HANDLE" as the proxy builds it,
// owns a window of CmdReelscan's class, sends the records that the URL asks for to the window
// HANDLE by WM_COPYDATA, and then waits until its window receives WM_DESTROY.
//
// The URL's query is a list of actions separated by '~', each sent in turn:
//   send=FIELDS       a record whose text is FIELDS with '|' as CR (percent escapes decoded)
//   overcount=FIELDS  the same, but with a count one larger than the data that follows
//   tiny              a message of two bytes, too short for its count
//   echo              a record whose title is this program's whole command line
// It also ends by itself after kLifetime, so that a test that fails leaves nothing running.
#include "CmdReelscanWindow.h"
#include "windows.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr UINT kLifetime = 30000;
constexpr UINT_PTR kLifetimeTimer = 1;

LRESULT CALLBACK CompanionProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY || (message == WM_TIMER && wParam == kLifetimeTimer)) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

std::string Narrow(const std::u16string& text)
{
    std::string narrow;
    for (char16_t c : text)
        narrow.push_back(static_cast<char>(c));
    return narrow;
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// '|' becomes CR, "%XX" the byte XX.
std::string RecordText(const std::string& fields)
{
    std::string text;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (fields[i] == '|') {
            text.push_back('\r');
        } else if (fields[i] == '%' && i + 2 < fields.size() && HexValue(fields[i + 1]) >= 0
            && HexValue(fields[i + 2]) >= 0) {
            text.push_back(static_cast<char>(HexValue(fields[i + 1]) * 16 + HexValue(fields[i + 2])));
            i += 2;
        } else {
            text.push_back(fields[i]);
        }
    }
    return text;
}

void SendRecord(HWND client, const std::string& text, DWORD count, DWORD size)
{
    std::vector<unsigned char> block(std::max<size_t>(size, 4));
    for (int i = 0; i < 4; ++i)
        block[i] = static_cast<unsigned char>(count >> (8 * i));
    std::copy(text.begin(), text.begin() + std::min<size_t>(text.size(), block.size() - 4), block.begin() + 4);
    COPYDATASTRUCT data { 0, size, block.data() };
    SendMessageW(client, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
}

void Perform(HWND client, const std::string& action, const std::string& commandLine)
{
    const size_t equals = action.find('=');
    const std::string name = action.substr(0, equals);
    const std::string text = equals == std::string::npos ? std::string() : RecordText(action.substr(equals + 1));
    const DWORD length = static_cast<DWORD>(text.size());
    if (name == "send")
        SendRecord(client, text, length, length + 4);
    else if (name == "overcount")
        SendRecord(client, text, length + 1, length + 4);
    else if (name == "tiny")
        SendRecord(client, {}, 0, 2);
    else if (name == "echo")
        SendRecord(
            client, commandLine, static_cast<DWORD>(commandLine.size()), static_cast<DWORD>(commandLine.size()) + 4);
}

}

int main()
{
    const std::string commandLine = Narrow(GetCommandLineW());
    const size_t lastBlank = commandLine.rfind(' ');
    if (lastBlank == std::string::npos || lastBlank == 0)
        return 2;
    const std::string url = commandLine.substr(1, lastBlank - 1);
    const HWND client
        = reinterpret_cast<HWND>(static_cast<LONG_PTR>(std::strtol(commandLine.c_str() + lastBlank + 1, nullptr, 10)));

    WNDCLASSW windowClass {};
    windowClass.lpfnWndProc = CompanionProc;
    windowClass.lpszClassName = CMDREELSCAN_WND_CLASS;
    RegisterClassW(&windowClass);
    const HWND window
        = CreateWindowExW(0, CMDREELSCAN_WND_CLASS, nullptr, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    if (!window)
        return 3;
    SetTimer(window, kLifetimeTimer, kLifetime, nullptr);

    const size_t query = url.find('?');
    std::string actions = query == std::string::npos ? std::string() : url.substr(query + 1);
    while (!actions.empty()) {
        const size_t tilde = actions.find('~');
        Perform(client, actions.substr(0, tilde), commandLine);
        actions = tilde == std::string::npos ? std::string() : actions.substr(tilde + 1);
    }

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
        DispatchMessageW(&message);
    return 0;
}
