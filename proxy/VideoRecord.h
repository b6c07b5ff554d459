// The decoding of VideoRecord, the WM_COPYDATA message by which a found video reaches the proxy's
// message window: a 32-bit little-endian count n, then n bytes of ANSI text (the decoding thread's
// code page) holding seven fields separated by CR: title, icon, cookie, href, url, type, length.
//
// The sender is another process and is not trusted: a message too short for its count, or whose
// count exceeds the data that came with it, is rejected. Fields are taken from the end, so a CR in
// the title is harmless; missing fields stay empty and a length that is no number reads as 0.
#pragma once

#include "windows.h"

#include <optional>
#include <string>

struct ReceivedVideo {
    std::u16string title;
    std::u16string type;
    LONG length = 0;
    std::u16string url;
    std::u16string href;
    std::u16string cookie;
    std::u16string icon;
};

std::optional<ReceivedVideo> DecodeVideoRecord(const COPYDATASTRUCT& data);
