// What user32_peer's window answers, shared by the peer and the programs that drive it, and the
// driver's side: starting the peer as a child process and ending it by its pid.
#pragma once

#include "windows.h"

#include <cstdint>
#include <string>

namespace peer {

inline constexpr UINT kEcho = WM_USER + 1; // sent: returns wParam + lParam
inline constexpr UINT kPing = WM_USER + 2; // posted: posts kPong with the same lParam to the window in wParam
inline constexpr UINT kPong = WM_USER + 3;
inline constexpr UINT kCallBack = WM_USER + 4; // sent: returns 100 + what the window in wParam answers to kEcho(20, 1)
inline constexpr UINT kHang = WM_USER + 5; // sent: prints "busy" and never returns

// What the peer answers to WM_COPYDATA: proof that it saw the block's identifier, size and bytes.
inline LRESULT CopyDataDigest(const COPYDATASTRUCT* copy)
{
    std::uint64_t sum = 0;
    const auto* bytes = static_cast<const unsigned char*>(copy->lpData);
    for (DWORD i = 0; i < copy->cbData; ++i)
        sum = sum * 31 + bytes[i];
    return static_cast<LRESULT>((copy->dwData << 40) ^ (std::uint64_t(copy->cbData) << 24) ^ (sum & 0xFFFFFF));
}

// A running user32_peer, ended by its pid when this goes away.
class Process {
public:
    Process(const std::string& program, const std::string& className, const std::string& title);
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    HWND Window() const
    {
        return m_hwnd;
    }
    int Pid() const
    {
        return m_pid;
    }
    // The next line the peer prints, without its newline; empty at its end.
    std::string ReadLine();
    void Kill();
    // Waits for the peer to end; its exit status as waitpid reports it.
    int Wait();

private:
    int m_pid = -1;
    int m_output = -1;
    HWND m_hwnd = nullptr;
};

}
