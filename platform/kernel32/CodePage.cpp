#include "CodePage.h"

#include "Utf.h"
#include "errhandlingapi.h"
#include "winerror.h"
#include "winnls.h"
#include "winreg.h"

#include <dlfcn.h>
#include <iconv.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

namespace platform {

namespace {

// The Windows code pages and the names iconv knows them by. Windows numbers are not iconv's
// "CP<n>" in general (iconv's CP930 is an IBM EBCDIC page, for one), so only these are valid.
struct CodePageName {
    UINT number;
    const char* iconvName;
    bool multiByte;
};

constexpr CodePageName CodePageNames[] = {
    { 37, "IBM037", false },
    { 437, "CP437", false },
    { 500, "IBM500", false },
    { 737, "CP737", false },
    { 775, "CP775", false },
    { 850, "CP850", false },
    { 852, "CP852", false },
    { 855, "CP855", false },
    { 857, "CP857", false },
    { 858, "CP858", false },
    { 860, "CP860", false },
    { 861, "CP861", false },
    { 862, "CP862", false },
    { 863, "CP863", false },
    { 864, "CP864", false },
    { 865, "CP865", false },
    { 866, "CP866", false },
    { 869, "CP869", false },
    { 874, "CP874", false },
    { 875, "CP875", false },
    { 932, "CP932", true },
    { 936, "CP936", true },
    { 949, "CP949", true },
    { 950, "CP950", true },
    { 1026, "IBM1026", false },
    { 1250, "CP1250", false },
    { 1251, "CP1251", false },
    { 1252, "CP1252", false },
    { 1253, "CP1253", false },
    { 1254, "CP1254", false },
    { 1255, "CP1255", false },
    { 1256, "CP1256", false },
    { 1257, "CP1257", false },
    { 1258, "CP1258", false },
    { 1361, "JOHAB", true },
    { 10000, "MACINTOSH", false },
    { 10007, "MAC-CYRILLIC", false },
    { 20127, "ASCII", false },
    { 20866, "KOI8-R", false },
    { 21866, "KOI8-U", false },
    { 28591, "ISO-8859-1", false },
    { 28592, "ISO-8859-2", false },
    { 28593, "ISO-8859-3", false },
    { 28594, "ISO-8859-4", false },
    { 28595, "ISO-8859-5", false },
    { 28596, "ISO-8859-6", false },
    { 28597, "ISO-8859-7", false },
    { 28598, "ISO-8859-8", false },
    { 28599, "ISO-8859-9", false },
    { 28603, "ISO-8859-13", false },
    { 28605, "ISO-8859-15", false },
    { 50220, "ISO-2022-JP", true },
    { 50225, "ISO-2022-KR", true },
    { 51932, "EUC-JP", true },
    { 51936, "EUC-CN", true },
    { 51949, "EUC-KR", true },
    { 54936, "GB18030", true },
    { 65000, "UTF-7", true },
};

const CodePageName* FindCodePage(UINT number)
{
    const auto* it = std::find_if(std::begin(CodePageNames), std::end(CodePageNames),
        [number](const CodePageName& name) { return name.number == number; });
    return it == std::end(CodePageNames) ? nullptr : it;
}

// In Windows' table for 1252 the five bytes that the code page leaves undefined stand for the C1
// controls of the same value; iconv rejects them.
bool IsUndefinedIn1252(unsigned value)
{
    return value == 0x81 || value == 0x8D || value == 0x8F || value == 0x90 || value == 0x9D;
}

constexpr UINT DefaultAnsiCodePage = 1252;
constexpr UINT DefaultOemCodePage = 437;
constexpr char16_t DefaultUnicodeCharacter = u'?';
constexpr char DefaultAnsiCharacter = '?';

// The machine's code pages, read from the registry through advapi32. kernel32 cannot link
// advapi32 (advapi32 links kernel32), so it loads it from its own directory on first need.
struct MachineCodePages {
    UINT ansi = DefaultAnsiCodePage;
    UINT oem = DefaultOemCodePage;
};

// Only the types of advapi32's functions are taken from its header; kernel32 never links them.
using RegOpenKeyExWFunction = decltype(&RegOpenKeyExW);
using RegQueryValueExWFunction = decltype(&RegQueryValueExW);
using RegCloseKeyFunction = decltype(&RegCloseKey);

// A code page named by a registry string, or nothing when the string is not a number.
std::optional<UINT> ReadCodePageValue(HKEY key, const char16_t* name, RegQueryValueExWFunction query)
{
    char16_t buffer[16] {};
    DWORD type = 0;
    DWORD size = sizeof(buffer) - sizeof(char16_t);
    if (query(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(buffer), &size) != ERROR_SUCCESS || type != REG_SZ)
        return std::nullopt;
    UINT value = 0;
    bool any = false;
    for (const char16_t* c = buffer; *c; ++c) {
        if (*c < u'0' || *c > u'9' || value > 100000)
            return std::nullopt;
        value = value * 10 + (*c - u'0');
        any = true;
    }
    return any ? std::optional<UINT>(value) : std::nullopt;
}

MachineCodePages ReadMachineCodePages()
{
    MachineCodePages pages;
    Dl_info self {};
    if (!dladdr(reinterpret_cast<const void*>(&ReadMachineCodePages), &self) || !self.dli_fname)
        return pages;
    std::string path = self.dli_fname;
    path = path.substr(0, path.find_last_of('/') + 1) + "libadvapi32.so";
    // The library stays loaded: unloading it while other threads may use the registry buys nothing.
    void* advapi32 = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!advapi32)
        return pages;
    auto open = reinterpret_cast<RegOpenKeyExWFunction>(dlsym(advapi32, "RegOpenKeyExW"));
    auto query = reinterpret_cast<RegQueryValueExWFunction>(dlsym(advapi32, "RegQueryValueExW"));
    auto close = reinterpret_cast<RegCloseKeyFunction>(dlsym(advapi32, "RegCloseKey"));
    HKEY key = nullptr;
    if (!open || !query || !close
        || open(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage", 0, KEY_READ, &key)
            != ERROR_SUCCESS)
        return pages;
    // A machine may run with UTF-8 as its ANSI code page, as Windows allows.
    const auto usable = [](std::optional<UINT> page) { return page && (*page == CP_UTF8 || FindCodePage(*page)); };
    if (auto ansi = ReadCodePageValue(key, u"ACP", query); usable(ansi))
        pages.ansi = *ansi;
    if (auto oem = ReadCodePageValue(key, u"OEMCP", query); usable(oem))
        pages.oem = *oem;
    close(key);
    return pages;
}

thread_local bool t_readingMachineCodePages = false;

const MachineCodePages& Machine()
{
    // The registry may itself convert text while it starts; that thread meanwhile sees the
    // defaults instead of waiting on itself.
    static const MachineCodePages defaults;
    if (t_readingMachineCodePages)
        return defaults;
    static std::once_flag once;
    static MachineCodePages machine;
    std::call_once(once, [] {
        t_readingMachineCodePages = true;
        machine = ReadMachineCodePages();
        t_readingMachineCodePages = false;
    });
    return machine;
}

// A code page number as callers pass it, resolved to a real code page.
UINT Resolve(UINT codePage)
{
    switch (codePage) {
    case CP_ACP:
    case CP_THREAD_ACP:
        return Machine().ansi;
    case CP_OEMCP:
        return Machine().oem;
    case CP_MACCP:
        return 10000;
    default:
        return codePage;
    }
}

enum class Direction { ToWide, FromWide };

iconv_t OpenIconv(const CodePageName& page, Direction direction)
{
    iconv_t descriptor = direction == Direction::ToWide ? iconv_open("UTF-16LE", page.iconvName)
                                                        : iconv_open(page.iconvName, "UTF-16LE");
    return descriptor == reinterpret_cast<iconv_t>(-1) ? nullptr : descriptor;
}

thread_local bool t_iconvCacheGone = false;

// iconv descriptors are not safe to share between threads; each thread keeps its own.
class IconvCache {
public:
    ~IconvCache()
    {
        for (auto& [key, descriptor] : m_descriptors)
            iconv_close(descriptor);
        t_iconvCacheGone = true;
    }

    // A descriptor in its initial state, or null when iconv lacks the code page.
    iconv_t Get(const CodePageName& page, Direction direction)
    {
        const auto key = std::make_pair(page.number, direction);
        auto it = m_descriptors.find(key);
        if (it == m_descriptors.end()) {
            iconv_t descriptor = OpenIconv(page, direction);
            if (!descriptor)
                return nullptr;
            it = m_descriptors.emplace(key, descriptor).first;
        }
        iconv(it->second, nullptr, nullptr, nullptr, nullptr);
        return it->second;
    }

private:
    std::map<std::pair<UINT, Direction>, iconv_t> m_descriptors;
};

thread_local IconvCache t_iconv;

// The descriptor for one conversion: the thread's cached one, or one of its own when the text is
// converted after the thread's cache is gone (by destructors that run as a thread or process ends).
class Converter {
public:
    Converter(const CodePageName& page, Direction direction)
        : m_owned(t_iconvCacheGone)
        , m_descriptor(m_owned ? OpenIconv(page, direction) : t_iconv.Get(page, direction))
    {
    }

    ~Converter()
    {
        if (m_owned && m_descriptor)
            iconv_close(m_descriptor);
    }

    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Null when iconv lacks the code page.
    iconv_t Get() const
    {
        return m_descriptor;
    }

private:
    bool m_owned;
    iconv_t m_descriptor;
};

enum class OnInvalid { Replace, Fail };

// Runs iconv over the whole input, handing each unconvertible position to skip(), which appends
// a replacement and says how many input bytes to pass over (0 to give up).
template <typename Skip> bool RunIconv(iconv_t descriptor, std::string_view input, std::string& output, Skip skip)
{
    char* in = const_cast<char*>(input.data());
    size_t inLeft = input.size();
    output.resize(input.size() * 2 + 16);
    size_t produced = 0;
    while (true) {
        char* out = output.data() + produced;
        size_t outLeft = output.size() - produced;
        const size_t result = iconv(descriptor, inLeft ? &in : nullptr, inLeft ? &inLeft : nullptr, &out, &outLeft);
        produced = output.size() - outLeft;
        if (result != static_cast<size_t>(-1) && inLeft == 0)
            break;
        if (result == static_cast<size_t>(-1) && errno == E2BIG) {
            output.resize(output.size() * 2);
            continue;
        }
        if (result == static_cast<size_t>(-1) && errno != EILSEQ && errno != EINVAL)
            return false;
        output.resize(produced);
        const size_t consumed = skip(std::string_view(in, inLeft), output);
        if (consumed == 0)
            return false;
        produced = output.size();
        output.resize(produced + inLeft * 2 + 16);
        in += consumed;
        inLeft -= consumed;
        iconv(descriptor, nullptr, nullptr, nullptr, nullptr);
    }
    output.resize(produced);
    return true;
}

void AppendWide(std::string& bytes, char16_t c)
{
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
}

std::optional<std::u16string> Decode(const CodePageName& page, std::string_view text, OnInvalid onInvalid)
{
    const Converter converter(page, Direction::ToWide);
    iconv_t descriptor = converter.Get();
    if (!descriptor)
        return std::nullopt;
    std::string bytes;
    const bool converted = RunIconv(descriptor, text, bytes, [&](std::string_view rest, std::string& out) -> size_t {
        const unsigned char byte = static_cast<unsigned char>(rest.front());
        if (page.number == 1252 && IsUndefinedIn1252(byte)) {
            AppendWide(out, byte);
            return 1;
        }
        if (onInvalid == OnInvalid::Fail)
            return 0;
        AppendWide(out, DefaultUnicodeCharacter);
        return 1;
    });
    if (!converted)
        return std::nullopt;
    std::u16string wide(bytes.size() / 2, u'\0');
    std::memcpy(wide.data(), bytes.data(), wide.size() * 2);
    return wide;
}

std::optional<std::string> Encode(
    const CodePageName& page, std::u16string_view text, std::string_view defaultCharacter, bool& usedDefault)
{
    const Converter converter(page, Direction::FromWide);
    iconv_t descriptor = converter.Get();
    if (!descriptor)
        return std::nullopt;
    std::string units(text.size() * 2, '\0');
    for (size_t i = 0; i < text.size(); ++i) {
        units[2 * i] = static_cast<char>(text[i] & 0xFF);
        units[2 * i + 1] = static_cast<char>(text[i] >> 8);
    }
    std::string bytes;
    const bool converted = RunIconv(descriptor, units, bytes, [&](std::string_view rest, std::string& out) -> size_t {
        if (rest.size() < 2)
            return 0;
        const char16_t unit = static_cast<unsigned char>(rest[0]) | static_cast<unsigned char>(rest[1]) << 8;
        if (page.number == 1252 && IsUndefinedIn1252(unit)) {
            out += static_cast<char>(unit);
            return 2;
        }
        usedDefault = true;
        out += defaultCharacter;
        const bool pair = unit >= 0xD800 && unit <= 0xDBFF && rest.size() >= 4
            && (static_cast<unsigned char>(rest[3]) & 0xFC) == 0xDC;
        return pair ? 4 : 2;
    });
    if (!converted)
        return std::nullopt;
    return bytes;
}

// Copies a result into the caller's buffer under Windows' rules: a size of 0 asks for the size.
template <typename Char> int Deliver(const std::basic_string<Char>& result, Char* buffer, int size)
{
    const int needed = static_cast<int>(result.size());
    if (size == 0)
        return needed;
    if (needed > size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::copy(result.begin(), result.end(), buffer);
    return needed;
}

}

std::u16string AnsiToWide(std::string_view text, UINT codePage)
{
    const UINT resolved = Resolve(codePage);
    if (resolved == CP_UTF8)
        return FromUtf8(text);
    const CodePageName* page = FindCodePage(resolved);
    auto wide = page ? Decode(*page, text, OnInvalid::Replace) : std::nullopt;
    return wide ? *wide : FromUtf8(text);
}

std::string WideToAnsi(std::u16string_view text, UINT codePage)
{
    const UINT resolved = Resolve(codePage);
    if (resolved == CP_UTF8)
        return ToUtf8(text);
    const CodePageName* page = FindCodePage(resolved);
    bool usedDefault = false;
    auto bytes = page ? Encode(*page, text, std::string_view(&DefaultAnsiCharacter, 1), usedDefault) : std::nullopt;
    return bytes ? *bytes : ToUtf8(text);
}

}

using namespace platform;

extern "C" int WINAPI MultiByteToWideChar(
    UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte, LPWSTR lpWideCharStr, int cchWideChar)
{
    if (!lpMultiByteStr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0
        || (cchWideChar > 0 && !lpWideCharStr)
        || static_cast<const void*>(lpMultiByteStr) == static_cast<const void*>(lpWideCharStr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const UINT resolved = Resolve(CodePage);
    const CodePageName* page = resolved == CP_UTF8 ? nullptr : FindCodePage(resolved);
    if (resolved != CP_UTF8 && !page) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const DWORD allowed = resolved == CP_UTF8 || resolved == CP_UTF7
        ? (resolved == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0)
        : MB_PRECOMPOSED | MB_USEGLYPHCHARS | MB_ERR_INVALID_CHARS;
    if (dwFlags & ~allowed) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    // With -1 the terminator is converted too, so it is counted.
    const std::string_view text = cbMultiByte == -1 ? std::string_view(lpMultiByteStr, std::strlen(lpMultiByteStr) + 1)
                                                    : std::string_view(lpMultiByteStr, cbMultiByte);
    const OnInvalid onInvalid = (dwFlags & MB_ERR_INVALID_CHARS) ? OnInvalid::Fail : OnInvalid::Replace;
    std::optional<std::u16string> wide;
    if (resolved == CP_UTF8) {
        wide = FromUtf8(text);
        if (onInvalid == OnInvalid::Fail && ToUtf8(*wide) != text)
            wide.reset();
    } else {
        wide = Decode(*page, text, onInvalid);
    }
    if (!wide) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    return Deliver(*wide, lpWideCharStr, cchWideChar);
}

extern "C" int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
    LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar)
{
    if (!lpWideCharStr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0
        || (cbMultiByte > 0 && !lpMultiByteStr)
        || static_cast<const void*>(lpMultiByteStr) == static_cast<const void*>(lpWideCharStr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const UINT resolved = Resolve(CodePage);
    const bool unicode = resolved == CP_UTF8 || resolved == CP_UTF7;
    const CodePageName* page = resolved == CP_UTF8 ? nullptr : FindCodePage(resolved);
    if ((resolved != CP_UTF8 && !page) || (unicode && (lpDefaultChar || lpUsedDefaultChar))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const DWORD allowed = unicode ? (resolved == CP_UTF8 ? WC_ERR_INVALID_CHARS : 0) : WC_NO_BEST_FIT_CHARS;
    if (dwFlags & ~allowed) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    const std::u16string_view text = cchWideChar == -1
        ? std::u16string_view(lpWideCharStr, std::char_traits<char16_t>::length(lpWideCharStr) + 1)
        : std::u16string_view(lpWideCharStr, cchWideChar);
    std::optional<std::string> bytes;
    bool usedDefault = false;
    if (resolved == CP_UTF8) {
        bytes = ToUtf8(text);
        if ((dwFlags & WC_ERR_INVALID_CHARS) && FromUtf8(*bytes) != text)
            bytes.reset();
    } else {
        // A default character is one byte, or a lead and a trail byte in a multi-byte code page.
        std::string_view defaultCharacter(&DefaultAnsiCharacter, 1);
        if (lpDefaultChar && *lpDefaultChar) {
            const bool pair
                = page->multiByte && static_cast<unsigned char>(lpDefaultChar[0]) >= 0x80 && lpDefaultChar[1];
            defaultCharacter = std::string_view(lpDefaultChar, pair ? 2 : 1);
        }
        bytes = Encode(*page, text, defaultCharacter, usedDefault);
    }
    if (!bytes) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    if (lpUsedDefaultChar)
        *lpUsedDefaultChar = usedDefault ? TRUE : FALSE;
    return Deliver(*bytes, lpMultiByteStr, cbMultiByte);
}

extern "C" UINT WINAPI GetACP()
{
    return Machine().ansi;
}

extern "C" UINT WINAPI GetOEMCP()
{
    return Machine().oem;
}

extern "C" BOOL WINAPI IsValidCodePage(UINT CodePage)
{
    if (CodePage == CP_UTF8)
        return TRUE;
    const CodePageName* page = FindCodePage(CodePage);
    return page && Converter(*page, Direction::ToWide).Get() ? TRUE : FALSE;
}

extern "C" BOOL WINAPI GetCPInfo(UINT CodePage, LPCPINFO lpCPInfo)
{
    const UINT resolved = Resolve(CodePage);
    if (!lpCPInfo || !IsValidCodePage(resolved)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *lpCPInfo = CPINFO {};
    lpCPInfo->DefaultChar[0] = DefaultAnsiCharacter;
    const CodePageName* page = FindCodePage(resolved);
    if (resolved == CP_UTF8 || resolved == CP_UTF7) {
        lpCPInfo->MaxCharSize = resolved == CP_UTF8 ? 4 : 5;
        return TRUE;
    }
    lpCPInfo->MaxCharSize = page->multiByte ? 2 : 1;
    if (!page->multiByte)
        return TRUE;
    // Lead bytes are the bytes that iconv finds incomplete on their own, listed as ranges of
    // first and last (at most five) before a terminating pair of zeros.
    constexpr size_t MaxRanges = (MAX_LEADBYTES - 2) / 2;
    const Converter converter(*page, Direction::ToWide);
    iconv_t descriptor = converter.Get();
    if (!descriptor) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    size_t ranges = 0;
    bool previousLead = false;
    for (unsigned value = 0x80; value <= 0xFF; ++value) {
        char byte = static_cast<char>(value);
        char* in = &byte;
        size_t inLeft = 1;
        char16_t units[2];
        char* out = reinterpret_cast<char*>(units);
        size_t outLeft = sizeof(units);
        iconv(descriptor, nullptr, nullptr, nullptr, nullptr);
        bool lead = iconv(descriptor, &in, &inLeft, &out, &outLeft) == static_cast<size_t>(-1) && errno == EINVAL;
        if (lead && previousLead) {
            lpCPInfo->LeadByte[2 * ranges - 1] = static_cast<BYTE>(value);
        } else if (lead && ranges < MaxRanges) {
            lpCPInfo->LeadByte[2 * ranges] = lpCPInfo->LeadByte[2 * ranges + 1] = static_cast<BYTE>(value);
            ++ranges;
        } else {
            lead = false;
        }
        previousLead = lead;
    }
    return TRUE;
}
