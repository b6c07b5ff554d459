#include "UrlCache.h"

#include "UrlParts.h"
#include "Utf.h"
#include "WinRoot.h"
#include "errhandlingapi.h"
#include "wininet.h"

#include <cstring>
#include <filesystem>
#include <sstream>
#include <unistd.h>

namespace platform {

namespace fs = std::filesystem;

namespace {

// The key of a URL: its FNV-1a hash, so that any URL makes a valid file name.
std::string KeyOf(const std::string& url)
{
    std::uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : url)
        hash = (hash ^ c) * 1099511628211ull;
    char key[17];
    std::snprintf(key, sizeof key, "%016llx", static_cast<unsigned long long>(hash));
    return key;
}

// The last segment of the URL's path, made safe as a file name; "index.html" for a bare path.
std::string FileNameOf(const std::string& url)
{
    const size_t schemeEnd = url.find("://");
    const size_t pathStart = url.find('/', schemeEnd == std::string::npos ? 0 : schemeEnd + 3);
    std::string path = pathStart == std::string::npos ? std::string() : url.substr(pathStart);
    path = path.substr(0, path.find_first_of("?#"));
    std::string name = path.substr(path.rfind('/') + 1);
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_')
            c = '_';
    if (name.empty() || name == "." || name == "..")
        name = "index.html";
    return name.substr(0, 100);
}

std::string CanonicalUrl(const std::string& url)
{
    wininet::Url parsed;
    return wininet::ParseUrl(FromUtf8(url), parsed) == 0 ? parsed.Text() : url;
}

}

std::unique_ptr<CacheWriter> CacheWriter::Begin(const std::string& url, const std::string& head)
{
    std::unique_ptr<CacheWriter> writer(new CacheWriter);
    writer->m_url = CanonicalUrl(url);
    writer->m_head = head;
    const std::string key = KeyOf(writer->m_url);
    const fs::path folder = fs::path(RootPath("cache")) / key;
    std::error_code error;
    fs::create_directories(folder, error);
    writer->m_final = (folder / FileNameOf(writer->m_url)).string();
    writer->m_temporary = writer->m_final + ".part" + std::to_string(getpid());
    writer->m_file.open(writer->m_temporary, std::ios::binary | std::ios::trunc);
    if (!writer->m_file)
        return nullptr;
    return writer;
}

CacheWriter::~CacheWriter()
{
    if (!m_committed) {
        m_file.close();
        std::error_code error;
        fs::remove(m_temporary, error); // an unfinished body leaves nothing behind
    }
}

void CacheWriter::Write(const char* data, size_t size)
{
    if (m_failed)
        return;
    m_size += size;
    if (m_size > kMaxCacheBody || !m_file.write(data, static_cast<std::streamsize>(size)))
        m_failed = true;
}

void CacheWriter::Commit()
{
    if (m_failed || m_committed)
        return;
    m_file.close();
    if (!m_file)
        return;
    std::error_code error;
    fs::rename(m_temporary, m_final, error);
    if (error)
        return;
    const std::string entryFile = RootPath("cache/" + KeyOf(m_url) + ".entry");
    const std::string temporary = entryFile + ".part" + std::to_string(getpid());
    {
        std::ofstream entry(temporary, std::ios::binary | std::ios::trunc);
        entry << m_url << '\n' << m_final << '\n' << m_size << '\n' << m_head;
        if (!entry.flush())
            return;
    }
    fs::rename(temporary, entryFile, error);
    m_committed = !error;
}

std::optional<CacheEntry> FindCacheEntry(const std::string& url)
{
    const std::string canonical = CanonicalUrl(url);
    std::ifstream file(RootPath("cache/" + KeyOf(canonical) + ".entry"), std::ios::binary);
    CacheEntry entry;
    std::string size;
    if (!std::getline(file, entry.url) || entry.url != canonical || !std::getline(file, entry.localFile)
        || !std::getline(file, size))
        return std::nullopt;
    entry.size = std::strtoull(size.c_str(), nullptr, 10);
    std::ostringstream head;
    head << file.rdbuf();
    entry.head = head.str();
    std::error_code error;
    const auto modified = fs::last_write_time(entry.localFile, error);
    if (error)
        return std::nullopt; // the body file is gone, and with it the entry
    entry.modified
        = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::file_clock::to_sys(modified).time_since_epoch())
              .count();
    return entry;
}

}

namespace {

FILETIME ToFileTime(std::int64_t unixSeconds)
{
    // FILETIME counts 100-nanosecond intervals since 1601-01-01.
    const std::uint64_t ticks = static_cast<std::uint64_t>(unixSeconds + 11644473600LL) * 10000000ULL;
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFF);
    time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return time;
}

}

extern "C" BOOL WINAPI GetUrlCacheEntryInfoW(
    LPCWSTR lpszUrlName, LPINTERNET_CACHE_ENTRY_INFOW lpCacheEntryInfo, LPDWORD lpcbCacheEntryInfo)
{
    if (!lpszUrlName || !lpcbCacheEntryInfo) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const auto entry = platform::FindCacheEntry(platform::ToUtf8(platform::WideView(lpszUrlName)));
    if (!entry) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    const std::u16string url = platform::FromUtf8(entry->url);
    const std::u16string localFile = platform::FromUtf8(entry->localFile);
    const std::u16string head = platform::FromUtf8(entry->head);
    const size_t dot = localFile.rfind(u'.');
    const std::u16string extension = dot == std::u16string::npos ? std::u16string() : localFile.substr(dot + 1);
    const size_t strings = url.size() + localFile.size() + head.size() + extension.size() + 4;
    const DWORD needed = static_cast<DWORD>(sizeof(INTERNET_CACHE_ENTRY_INFOW) + strings * sizeof(char16_t));
    if (!lpCacheEntryInfo || *lpcbCacheEntryInfo < needed) {
        *lpcbCacheEntryInfo = needed;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    INTERNET_CACHE_ENTRY_INFOW& info = *lpCacheEntryInfo;
    std::memset(&info, 0, sizeof info);
    char16_t* next = reinterpret_cast<char16_t*>(&info + 1);
    auto place = [&next](const std::u16string& text) {
        char16_t* start = next;
        std::memcpy(start, text.c_str(), (text.size() + 1) * sizeof(char16_t));
        next += text.size() + 1;
        return start;
    };
    info.dwStructSize = sizeof info;
    info.lpszSourceUrlName = place(url);
    info.lpszLocalFileName = place(localFile);
    info.lpHeaderInfo = place(head);
    info.dwHeaderInfoSize = static_cast<DWORD>(head.size());
    info.lpszFileExtension = place(extension);
    info.CacheEntryType = NORMAL_CACHE_ENTRY;
    info.dwSizeLow = static_cast<DWORD>(entry->size & 0xFFFFFFFF);
    info.dwSizeHigh = static_cast<DWORD>(entry->size >> 32);
    info.LastModifiedTime = ToFileTime(entry->modified);
    info.LastAccessTime = info.LastModifiedTime;
    info.LastSyncTime = info.LastModifiedTime;
    *lpcbCacheEntryInfo = needed;
    return TRUE;
}
