#include "InternetSettings.h"

#include "Utf.h"
#include "WinRoot.h"
#include "winreg.h"

#include <algorithm>
#include <filesystem>
#include <sstream>

namespace platform {

namespace {

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

std::vector<std::string> Entries(const std::string& list)
{
    std::vector<std::string> entries;
    std::string entry;
    std::istringstream stream(list);
    while (std::getline(stream, entry, ';')) {
        std::istringstream words(entry);
        for (std::string word; words >> word;)
            entries.push_back(word);
    }
    return entries;
}

// '*' matches any run of characters; the comparison ignores case.
bool WildcardMatches(const std::string& pattern, const std::string& text)
{
    size_t p = 0, t = 0, star = std::string::npos, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && (pattern[p] == text[t])) {
            ++p, ++t;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++, resume = t;
        } else if (star != std::string::npos) {
            p = star + 1, t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

}

std::string ProxyFor(const ProxySetting& setting, const std::string& scheme, const std::string& rawHost)
{
    if (!setting.enabled)
        return {};
    const std::string host = Lower(rawHost);
    for (const auto& pattern : Entries(Lower(setting.bypass))) {
        if (pattern == "<local>" ? host.find('.') == std::string::npos : WildcardMatches(pattern, host))
            return {};
    }
    std::string plain;
    for (const auto& entry : Entries(setting.server)) {
        const size_t equals = entry.find('=');
        if (equals == std::string::npos) {
            plain = entry;
        } else if (Lower(entry.substr(0, equals)) == Lower(scheme)) {
            return entry.substr(equals + 1);
        }
    }
    // "http://host:port" is accepted as well as "host:port".
    const size_t schemeEnd = plain.find("://");
    return schemeEnd == std::string::npos ? plain : plain.substr(schemeEnd + 3);
}

std::vector<std::string> TrustedCertificateFiles()
{
    namespace fs = std::filesystem;
    std::vector<std::string> files;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(RootPath("certs"), error)) {
        const std::string extension = Lower(entry.path().extension().string());
        if ((extension == ".pem" || extension == ".crt" || extension == ".cer") && entry.is_regular_file(error))
            files.push_back(entry.path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

}

namespace platform {

namespace {

constexpr char16_t kInternetSettings[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
// Proxy lists longer than this are not a setting anyone made.
constexpr DWORD kMaxSettingBytes = 8192;

std::string ReadText(HKEY key, const char16_t* name)
{
    char16_t buffer[kMaxSettingBytes / sizeof(char16_t) + 1] = {};
    DWORD size = kMaxSettingBytes;
    DWORD type = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS
        || type != REG_SZ)
        return {};
    return ToUtf8(WideView(buffer)); // the spare element keeps an unterminated value terminated
}

}

ProxySetting ReadProxySetting()
{
    // One open key for the three values: WinINet calls this for every session and for every
    // InternetGetConnectedState, so each registry lookup spared counts.
    ProxySetting setting;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kInternetSettings, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return setting;
    DWORD enabled = 0;
    DWORD size = sizeof enabled;
    DWORD type = 0;
    if (RegQueryValueExW(key, u"ProxyEnable", nullptr, &type, reinterpret_cast<BYTE*>(&enabled), &size) == ERROR_SUCCESS
        && type == REG_DWORD && enabled != 0) {
        setting.server = ReadText(key, u"ProxyServer");
        setting.bypass = ReadText(key, u"ProxyOverride");
        setting.enabled = !setting.server.empty();
    }
    RegCloseKey(key);
    return setting;
}

}
