#include "urlmon.h"

#include <cstring>
#include <mutex>
#include <string>

namespace {

// The agent of the Chromium that the hidden browser runs, as it presents itself on Windows.
constexpr char kDefaultAgent[]
    = "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/156.0.0.0 "
      "Safari/537.36";
constexpr DWORD kMaxAgentLength = 4096;

std::mutex g_lock;
std::string g_agent = kDefaultAgent;

}

extern "C" HRESULT WINAPI UrlMkGetSessionOption(
    DWORD dwOption, LPVOID pBuffer, DWORD dwBufferLength, DWORD* pdwBufferLength, DWORD dwReserved)
{
    if (dwOption != URLMON_OPTION_USERAGENT)
        return E_INVALIDARG;
    if (!pdwBufferLength)
        return E_INVALIDARG;
    std::lock_guard lock(g_lock);
    const DWORD size = static_cast<DWORD>(g_agent.size() + 1);
    *pdwBufferLength = size;
    if (!pBuffer || dwBufferLength < size)
        return E_OUTOFMEMORY;
    std::memcpy(pBuffer, g_agent.c_str(), size);
    return S_OK;
}

extern "C" HRESULT WINAPI UrlMkSetSessionOption(DWORD dwOption, LPVOID pBuffer, DWORD dwBufferLength, DWORD dwReserved)
{
    std::lock_guard lock(g_lock);
    if (dwOption == URLMON_OPTION_USERAGENT_REFRESH) {
        g_agent = kDefaultAgent;
        return S_OK;
    }
    if (dwOption != URLMON_OPTION_USERAGENT || !pBuffer || dwBufferLength == 0 || dwBufferLength > kMaxAgentLength)
        return E_INVALIDARG;
    const char* text = static_cast<const char*>(pBuffer);
    g_agent.assign(text, strnlen(text, dwBufferLength));
    return S_OK;
}
