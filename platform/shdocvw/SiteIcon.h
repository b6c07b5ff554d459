// The site icon of each page the hidden browser loads, put into WinINet's URL cache (as Internet
// Explorer's cache held "/favicon.ico" of every host it showed), so GetUrlCacheEntryInfoW finds it.
//
// Threads: CacheSiteIconOf may be called from any thread and never waits: one worker thread of
// the process fetches each host's icon once through WinINet (the root's proxy, the process's agent)
// and the worker ends with the process. A host without an icon leaves no entry.
#pragma once

#include <string>

namespace shdocvw {

// Queues the icon of pageUrl's host (http and https pages only).
void CacheSiteIconOf(const std::string& pageUrl);

}
