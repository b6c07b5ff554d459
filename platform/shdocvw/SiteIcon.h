// The site icon of each page the hidden browser loads, put into WinINet's URL cache (as Internet
// Explorer's cache held "/favicon.ico" of every host it showed), so GetUrlCacheEntryInfoW finds it.
//
// Threads: CacheSiteIconOf may be called from any thread and never waits: one worker thread of
// the process fetches each host's icon once through WinINet (the root's proxy, the process's agent,
// a few seconds at most) and the worker ends with the process. A host without an icon leaves no
// entry.
#pragma once

#include <functional>
#include <string>

namespace shdocvw {

// Queues the icon of pageUrl's host (http and https pages only). then (if any) runs once the icon
// is in the cache or has been tried: on the worker, or at once on this thread when the host's icon
// was tried before or is none of the worker's (another scheme, a full queue, the process ending).
void CacheSiteIconOf(const std::string& pageUrl, std::function<void()> then = {});

}
