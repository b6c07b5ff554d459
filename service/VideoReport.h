// One found video on its way to the client, and its wire form: the VideoRecord, a WM_COPYDATA
// block of a 4-byte little-endian count and seven carriage-return-separated ANSI fields (title,
// icon, cookie, href, url, type, length in decimal), converted in the sending thread's code page
// with the system's default character for what it lacks. Nothing is escaped.
//
// SendVideoRecord sends synchronously on the calling thread and ignores the answer: a client
// window that is gone or does not answer loses the record.
#pragma once

#include "windows.h"

#include <string>
#include <vector>

struct VideoReport {
    std::u16string title;
    std::u16string icon;
    std::u16string cookie;
    std::u16string href;
    std::u16string url;
    std::u16string type;
    LONG length = 0;
};

// The data block of the record: the count, then the text without a terminator.
std::vector<BYTE> BuildVideoRecord(const VideoReport& report);

void SendVideoRecord(HWND client, const VideoReport& report);
