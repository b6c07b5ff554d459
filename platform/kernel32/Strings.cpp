// The lstr* helpers of Windows, and the case folding that kernel32's lookups share.
#include "winbase.h"

#include "TextCase.h"

#include <cstring>
#include <string>

namespace platform {

char16_t UpperCase(char16_t c)
{
    if (c < 0x80)
        return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 0x20) : c;
    // Latin-1: à..þ except ÷; ÿ goes to Ÿ.
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7))
        return static_cast<char16_t>(c - 0x20);
    if (c == 0xFF)
        return 0x178;
    // Latin Extended-A pairs its letters as even upper and odd lower, with a shifted run in the middle.
    if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177))
        return static_cast<char16_t>(c & ~1u);
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
        return (c & 1) ? c : static_cast<char16_t>(c - 1);
    // Greek and Cyrillic.
    if (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2)
        return static_cast<char16_t>(c - 0x20);
    if (c >= 0x430 && c <= 0x44F)
        return static_cast<char16_t>(c - 0x20);
    if (c >= 0x450 && c <= 0x45F)
        return static_cast<char16_t>(c - 0x50);
    return c;
}

namespace {

// The order of characters without regard to case. ASCII letters order as lower case, as Windows'
// sorting puts '_' and the digits before the letters.
char16_t OrderKey(char16_t c)
{
    if (c < 0x80)
        return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 0x20) : c;
    return UpperCase(c);
}

}

int CompareNoCase(std::u16string_view left, std::u16string_view right)
{
    const size_t common = std::min(left.size(), right.size());
    for (size_t i = 0; i < common; ++i) {
        const char16_t a = OrderKey(left[i]);
        const char16_t b = OrderKey(right[i]);
        if (a != b)
            return a < b ? -1 : 1;
    }
    return left.size() == right.size() ? 0 : left.size() < right.size() ? -1 : 1;
}

}

namespace {

template <typename Char> std::basic_string_view<Char> View(const Char* text)
{
    return text ? std::basic_string_view<Char>(text) : std::basic_string_view<Char>();
}

template <typename Char> Char* CopyBounded(Char* destination, const Char* source, int maxLength)
{
    if (!destination || maxLength <= 0)
        return destination;
    const auto text = View(source).substr(0, static_cast<size_t>(maxLength - 1));
    std::copy(text.begin(), text.end(), destination);
    destination[text.size()] = 0;
    return destination;
}

template <typename Char> Char* Append(Char* destination, const Char* source)
{
    if (!destination)
        return nullptr;
    const auto text = View(source);
    Char* end = destination + View<Char>(destination).size();
    std::copy(text.begin(), text.end(), end);
    end[text.size()] = 0;
    return destination;
}

int SignOf(int difference)
{
    return difference < 0 ? -1 : difference > 0 ? 1 : 0;
}

int AsciiLower(unsigned char c)
{
    return c >= 'A' && c <= 'Z' ? c + 0x20 : c;
}

}

extern "C" int WINAPI lstrlenW(LPCWSTR lpString)
{
    return static_cast<int>(View(lpString).size());
}

extern "C" int WINAPI lstrlenA(LPCSTR lpString)
{
    return static_cast<int>(View(lpString).size());
}

extern "C" LPWSTR WINAPI lstrcpyW(LPWSTR lpString1, LPCWSTR lpString2)
{
    return CopyBounded(lpString1, lpString2, lstrlenW(lpString2) + 1);
}

extern "C" LPSTR WINAPI lstrcpyA(LPSTR lpString1, LPCSTR lpString2)
{
    return CopyBounded(lpString1, lpString2, lstrlenA(lpString2) + 1);
}

extern "C" LPWSTR WINAPI lstrcpynW(LPWSTR lpString1, LPCWSTR lpString2, int iMaxLength)
{
    return CopyBounded(lpString1, lpString2, iMaxLength);
}

extern "C" LPSTR WINAPI lstrcpynA(LPSTR lpString1, LPCSTR lpString2, int iMaxLength)
{
    return CopyBounded(lpString1, lpString2, iMaxLength);
}

extern "C" LPWSTR WINAPI lstrcatW(LPWSTR lpString1, LPCWSTR lpString2)
{
    return Append(lpString1, lpString2);
}

extern "C" LPSTR WINAPI lstrcatA(LPSTR lpString1, LPCSTR lpString2)
{
    return Append(lpString1, lpString2);
}

// As Windows sorts: letters first without regard to case, then lower case before upper case.
extern "C" int WINAPI lstrcmpW(LPCWSTR lpString1, LPCWSTR lpString2)
{
    if (const int order = platform::CompareNoCase(View(lpString1), View(lpString2)))
        return order;
    return -SignOf(View(lpString1).compare(View(lpString2)));
}

extern "C" int WINAPI lstrcmpA(LPCSTR lpString1, LPCSTR lpString2)
{
    if (const int order = lstrcmpiA(lpString1, lpString2))
        return order;
    return -SignOf(std::strcmp(lpString1 ? lpString1 : "", lpString2 ? lpString2 : ""));
}

extern "C" int WINAPI lstrcmpiW(LPCWSTR lpString1, LPCWSTR lpString2)
{
    return platform::CompareNoCase(View(lpString1), View(lpString2));
}

extern "C" int WINAPI lstrcmpiA(LPCSTR lpString1, LPCSTR lpString2)
{
    const auto* a = reinterpret_cast<const unsigned char*>(lpString1 ? lpString1 : "");
    const auto* b = reinterpret_cast<const unsigned char*>(lpString2 ? lpString2 : "");
    for (; *a && AsciiLower(*a) == AsciiLower(*b); ++a, ++b) { }
    return SignOf(AsciiLower(*a) - AsciiLower(*b));
}
