// The site icon of each page the hidden browser loads, put into WinINet's URL cache (as Internet
// Explorer's cache held "/favicon.ico" of every host it showed), so GetUrlCacheEntryInfoW finds it.
//
// Threads: CacheSiteIconOf may be called from any thread and never waits: one worker thread of
// the process fetches each host's icon once through WinINet (the root's proxy, the process's agent,
// a few seconds at most), a second one keeps the callers' patience, and both end with the
// process. A host without an icon leaves no entry.
#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace shdocvw {

// Queues the icon of pageUrl's host (http and https pages only). then (if any) runs exactly once:
// when the icon is in the cache or has been tried (on the worker), when patience has passed
// first (on the patience thread; the icon may still come into the cache later), or at once on
// this thread when the host's icon was tried before or is none of the worker's (another scheme, a
// full queue, the process ending).
void CacheSiteIconOf(const std::string& pageUrl, std::function<void()> then = {},
    std::chrono::milliseconds patience = std::chrono::milliseconds::max());

}
