// InternetCrackUrlA/W and InternetCanonicalizeUrlW.
#include "UrlParts.h"

#include "Utf.h"
#include "errhandlingapi.h"

#include <cstring>
#include <string>

namespace wininet {

namespace {

// A run of %XX bytes read as UTF-8 where they form it, else one character per byte.
std::u16string DecodeWide(std::u16string_view text)
{
    std::u16string result;
    std::string bytes;
    auto flush = [&] {
        const std::u16string wide = platform::FromUtf8(bytes);
        if (platform::ToUtf8(wide) == bytes)
            result += wide;
        else
            for (unsigned char c : bytes)
                result += static_cast<char16_t>(c);
        bytes.clear();
    };
    auto hex = [](char16_t c) {
        return (c >= u'0' && c <= u'9') ? c - u'0'
            : (c >= u'a' && c <= u'f')  ? c - u'a' + 10
            : (c >= u'A' && c <= u'F')  ? c - u'A' + 10
                                        : -1;
    };
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 && hex(text[i + 2]) >= 0) {
            bytes += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
            i += 2;
            continue;
        }
        flush();
        result += text[i];
    }
    flush();
    return result;
}

std::basic_string<char> Decode(std::string_view text)
{
    return PercentDecode(text);
}

std::u16string Decode(std::u16string_view text)
{
    return DecodeWide(text);
}

// One component as the caller asked for it: a pointer into the URL, or a copy into its buffer.
template <typename Char>
bool FillComponent(const Char* url, const Span& span, bool decode, Char*& pointer, DWORD& length)
{
    if (!pointer) {
        if (length != 0) {
            pointer = span.present ? const_cast<Char*>(url + span.offset) : nullptr;
            length = static_cast<DWORD>(span.length);
        }
        return true;
    }
    std::basic_string<Char> text(url + span.offset, span.length);
    if (decode)
        text = Decode(text);
    if (text.size() + 1 > length) {
        length = static_cast<DWORD>(text.size() + 1);
        return false;
    }
    std::memcpy(pointer, text.c_str(), (text.size() + 1) * sizeof(Char));
    length = static_cast<DWORD>(text.size());
    return true;
}

template <typename Char, typename Components>
BOOL CrackUrl(const Char* url, DWORD urlLength, DWORD flags, Components* components)
{
    if (!url || !components || components->dwStructSize != sizeof(Components)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const size_t length = urlLength ? urlLength : std::char_traits<Char>::length(url);
    std::u16string wide(length, u'\0');
    for (size_t i = 0; i < length; ++i)
        wide[i] = static_cast<char16_t>(static_cast<std::make_unsigned_t<Char>>(url[i]));
    UrlParts parts;
    if (const DWORD error = SplitUrl(wide, parts)) {
        SetLastError(error);
        return FALSE;
    }
    const bool decode = (flags & (ICU_DECODE | ICU_ESCAPE)) != 0;
    bool fits = FillComponent(url, parts.scheme, false, components->lpszScheme, components->dwSchemeLength);
    fits &= FillComponent(url, parts.host, false, components->lpszHostName, components->dwHostNameLength);
    fits &= FillComponent(url, parts.user, decode, components->lpszUserName, components->dwUserNameLength);
    fits &= FillComponent(url, parts.password, decode, components->lpszPassword, components->dwPasswordLength);
    fits &= FillComponent(url, parts.path, decode, components->lpszUrlPath, components->dwUrlPathLength);
    fits &= FillComponent(url, parts.extra, decode, components->lpszExtraInfo, components->dwExtraInfoLength);
    components->nScheme = parts.nScheme;
    components->nPort = parts.port;
    if (!fits) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    return TRUE;
}

bool IsUnsafe(char16_t c, DWORD flags)
{
    if (flags & ICU_ENCODE_SPACES_ONLY)
        return c == u' ';
    if (c == u'%')
        return (flags & ICU_ENCODE_PERCENT) != 0;
    return c <= 0x20 || c >= 0x7f || std::u16string_view(u"\"<>\\^`{|}").find(c) != std::u16string_view::npos;
}

}

}

using namespace wininet;

extern "C" BOOL WINAPI InternetCrackUrlA(
    LPCSTR lpszUrl, DWORD dwUrlLength, DWORD dwFlags, LPURL_COMPONENTSA lpUrlComponents)
{
    return CrackUrl(lpszUrl, dwUrlLength, dwFlags, lpUrlComponents);
}

extern "C" BOOL WINAPI InternetCrackUrlW(
    LPCWSTR lpszUrl, DWORD dwUrlLength, DWORD dwFlags, LPURL_COMPONENTSW lpUrlComponents)
{
    return CrackUrl(lpszUrl, dwUrlLength, dwFlags, lpUrlComponents);
}

// Works as WinINet does since it always runs in browser mode: what follows the first '?' or '#'
// is neither decoded again nor encoded; decoding (ICU_DECODE) happens before the URL is parsed.
extern "C" BOOL WINAPI InternetCanonicalizeUrlW(
    LPCWSTR lpszUrl, LPWSTR lpszBuffer, LPDWORD lpdwBufferLength, DWORD dwFlags)
{
    if (!lpszUrl || !lpdwBufferLength) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::u16string text(platform::WideView(lpszUrl));
    if (dwFlags & ICU_DECODE)
        text = DecodeWide(text);
    const size_t extraStart = std::min(text.find_first_of(u"?#"), text.size());
    std::u16string head = text.substr(0, extraStart);
    const std::u16string extra = text.substr(extraStart);

    if (!(dwFlags & ICU_NO_META)) {
        // Only a hierarchical URL has a path whose "." and ".." segments mean something.
        const size_t authority = head.find(u"://");
        const size_t pathStart
            = authority == std::u16string::npos ? std::u16string::npos : head.find(u'/', authority + 3);
        if (pathStart != std::u16string::npos) {
            const std::u16string path = platform::FromUtf8(RemoveDotSegments(platform::ToUtf8(head.substr(pathStart))));
            head.resize(pathStart);
            head += path;
        }
    }
    std::u16string result;
    if (dwFlags & ICU_NO_ENCODE) {
        result = head;
    } else {
        for (size_t i = 0; i < head.size(); ++i) {
            if (!IsUnsafe(head[i], dwFlags)) {
                result += head[i];
                continue;
            }
            // A surrogate pair is one character, escaped as the four bytes of its UTF-8 form.
            const bool pair = head[i] >= 0xD800 && head[i] < 0xDC00 && i + 1 < head.size() && head[i + 1] >= 0xDC00
                && head[i + 1] < 0xE000;
            const std::u16string_view character(head.data() + i, pair ? 2 : 1);
            i += pair ? 1 : 0;
            for (unsigned char byte : platform::ToUtf8(character)) {
                const char digits[] = "0123456789ABCDEF";
                result += u'%';
                result += static_cast<char16_t>(digits[byte >> 4]);
                result += static_cast<char16_t>(digits[byte & 15]);
            }
        }
    }
    result += extra;

    if (!lpszBuffer || *lpdwBufferLength < result.size() + 1) {
        *lpdwBufferLength = static_cast<DWORD>(result.size() + 1);
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(lpszBuffer, result.c_str(), (result.size() + 1) * sizeof(char16_t));
    *lpdwBufferLength = static_cast<DWORD>(result.size());
    return TRUE;
}
