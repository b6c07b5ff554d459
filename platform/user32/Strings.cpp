// LoadStringW: strings from a module's string table. The table keeps them as Windows does, in
// RT_STRING blocks of sixteen: block n holds the ids 16 * (n - 1) to 16 * n - 1, each string a
// length in UTF-16 units followed by that many units, without a terminator.
#include "User32.h"

#include <algorithm>

namespace {

constexpr UINT kStringsPerBlock = 16;

// The string's units inside its block, or null (last error set) when the block has no such string.
const WCHAR* FindString(HINSTANCE instance, UINT id, std::size_t& length)
{
    const HRSRC block = FindResourceW(instance, MAKEINTRESOURCEW(id / kStringsPerBlock + 1), RT_STRING);
    if (!block)
        return nullptr;
    const auto* at = static_cast<const WCHAR*>(LockResource(LoadResource(instance, block)));
    const std::size_t units = SizeofResource(instance, block) / sizeof(WCHAR);
    if (!at)
        return nullptr;
    // Walk the block's strings, trusting none of its lengths beyond its end.
    std::size_t offset = 0;
    for (UINT index = 0; index < id % kStringsPerBlock; ++index) {
        if (offset >= units)
            break;
        offset += 1 + at[offset];
    }
    if (offset >= units || at[offset] == 0 || offset + 1 + at[offset] > units) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    length = at[offset];
    return at + offset + 1;
}

}

extern "C" int WINAPI LoadStringW(HINSTANCE hInstance, UINT uID, LPWSTR lpBuffer, int cchBufferMax)
{
    if (!lpBuffer || cchBufferMax < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::size_t length = 0;
    const WCHAR* text = FindString(hInstance, uID, length);
    if (cchBufferMax == 0) {
        // The caller gets a pointer to the resource itself, which is not terminated.
        *reinterpret_cast<const WCHAR**>(lpBuffer) = text;
        return text ? static_cast<int>(length) : 0;
    }
    const std::size_t copied = text ? std::min(length, static_cast<std::size_t>(cchBufferMax - 1)) : 0;
    std::copy_n(text ? text : lpBuffer, copied, lpBuffer);
    lpBuffer[copied] = u'\0';
    return static_cast<int>(copied);
}
