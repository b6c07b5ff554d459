// CmdReelscan's command line: the page address, then the client window's handle as the last
// blank-separated item, in signed decimal. ReelscanProxy writes it as " URL HANDLE"; started from
// a shell, the program's own path comes first and is skipped.
#pragma once

#include "windows.h"

#include <optional>
#include <string>

struct CompanionRequest {
    std::u16string url;
    HWND client = nullptr;
};

// The request, or nothing when the line lacks an address or its last item is no 32-bit signed
// decimal number.
std::optional<CompanionRequest> ParseCompanionCommandLine(const std::u16string& commandLine);
