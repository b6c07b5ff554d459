// The URL cache under WINROOT/cache, kept by libwininet.so for WinINet's requests and for the
// hidden browser's responses alike: one entry per URL, an entry file "<key>.entry" (the URL, the
// local file's path and the response head) beside the body in "<key>/<file name>". Entries are
// written whole or not at all, so several processes and threads may share the cache.
//
// A CacheWriter (used by one thread) collects one response's body as it streams and commits the
// entry when the body has ended; a body past kMaxCacheBody bytes, or a writer dropped early,
// leaves no entry. URLs are compared in their canonical form (lower-case host, no default port,
// no fragment).
//
// The cache is written, never used to answer: every WinINet request goes to the network, with or
// without INTERNET_FLAG_RELOAD. WinINet may answer a request without that flag from the cache,
// but whether it does depends on the user's "check for newer versions" setting and on freshness
// guesses, and "every visit" (always to the network) is one of its documented settings; the one
// that cannot hand a caller what the server would no longer send is that one. It matters here:
// the YouTube page is asked for without the flag, and a cached copy (written by the hidden
// browser, say) would carry stream links whose signatures have expired.
#pragma once

#include <cstdint>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

namespace platform {

constexpr std::uint64_t kMaxCacheBody = 64 * 1024 * 1024;

class CacheWriter {
public:
    // A writer for url's response with head; nullptr when the cache cannot be written.
    static std::unique_ptr<CacheWriter> Begin(const std::string& url, const std::string& head);
    ~CacheWriter();

    void Write(const char* data, size_t size);
    // Makes the entry visible; call once the body has ended.
    void Commit();

private:
    CacheWriter() = default;
    std::string m_url;
    std::string m_head;
    std::string m_temporary;
    std::string m_final;
    std::ofstream m_file;
    std::uint64_t m_size = 0;
    bool m_failed = false;
    bool m_committed = false;
};

struct CacheEntry {
    std::string url;
    std::string localFile;
    std::string head;
    std::uint64_t size = 0;
    std::int64_t modified = 0; // seconds since 1970
};

// The committed entry for url (compared in its canonical form), if there is one.
std::optional<CacheEntry> FindCacheEntry(const std::string& url);

}
