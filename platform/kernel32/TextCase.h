// Case-insensitive matching of UTF-16 text, as the registry-like lookups of kernel32 (INI
// sections and keys, resource names, lstrcmpiW) need it: simple one-to-one upper-casing of the
// Latin, Greek and Cyrillic letters; other characters compare as they are.
#pragma once

#include <string_view>

namespace platform {

char16_t UpperCase(char16_t c);
int CompareNoCase(std::u16string_view left, std::u16string_view right);
inline bool EqualNoCase(std::u16string_view left, std::u16string_view right)
{
    return left.size() == right.size() && CompareNoCase(left, right) == 0;
}

}
