// The start-up information that CreateProcessW hands its child, in one environment variable:
//   WINSTARTUP=<pid, 10 digits>;<dwFlags>;<wShowWindow>;<exit-code fd>;<the command line in UTF-8>
// The child itself writes its pid between fork and exec, so the block is meant for that process
// alone: a grandchild that some other code starts with the same environment ignores it and
// rebuilds its command line from its arguments, as a program started from a shell does.
//
// The exit-code descriptor (0: none) is the write end of a pipe whose read end the creator keeps:
// ExitProcess writes its full 32-bit code there, since a Linux exit status holds only 8 bits. The
// child takes it when kernel32 loads and keeps it from its own children.
#pragma once

#include "windef.h"

#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace platform {

constexpr std::string_view StartupVariable = "WINSTARTUP";
constexpr size_t StartupPidOffset = StartupVariable.size() + 1;
constexpr size_t StartupPidDigits = 10;

// "WINSTARTUP=0000000000;..." with the pid digits left for the child to fill in.
std::string EncodeStartup(DWORD flags, WORD showWindow, int exitCodeFd, std::u16string_view commandLine);

struct Startup {
    DWORD flags;
    WORD showWindow;
    int exitCodeFd;
    std::u16string commandLine;
};

// The block in value (the variable's value) if it is well formed and meant for process self.
std::optional<Startup> DecodeStartup(std::string_view value, pid_t self);

}
