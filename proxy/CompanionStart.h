// What RequestURL derives from its arguments before it starts CmdReelscan: the effective time-out,
// the companion's path beside the host program, and its command line.
//
// CmdReelscan finds the window that receives the records as the last blank-separated item of its
// command line, so a command line is either whole or not made at all: one that would not fit in
// kCommandLineLimit characters (terminator included) is refused rather than cut.
#pragma once

#include "windows.h"

#include <optional>
#include <string>

inline constexpr size_t kCommandLineLimit = 1024;

// 1000 ms or less means one minute; any larger value is used as it is.
DWORD EffectiveTimeout(DWORD timeout);

// The full path of CmdReelscan.exe in the directory of the process's executable, or nothing when
// that path cannot be read.
std::optional<std::u16string> CompanionPath();

// " " + url + " " + the window handle in decimal, or nothing when that does not fit.
std::optional<std::u16string> CompanionCommandLine(const WCHAR* url, HWND window);
