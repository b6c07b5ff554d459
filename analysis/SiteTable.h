// The six known video services and how a page address is matched to one of them. Constant data,
// safe on any thread.
#pragma once

#include "windows.h"

#include <string>

constexpr int kSiteFieldLength = 260;

// One service: its registered domain in lower case and its id as decimal text.
struct SiteEntry {
    WCHAR domain[kSiteFieldLength];
    WCHAR id[kSiteFieldLength];
};

// YouTube, Vimeo, LiveLeak, Metacafe, MyVideo, Break: ids 0 to 5, searched in this order.
extern const SiteEntry SiteTable[6];

// The id of the first service whose domain occurs anywhere in the address (ASCII letters compared
// without case), or -1 when none does.
int LookupSiteId(const std::u16string& pageUrl);
