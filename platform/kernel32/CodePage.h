// Code-page conversion for kernel32's own callers (INI files, the A forms of its functions):
// the same conversions as MultiByteToWideChar and WideCharToMultiByte with flags 0, without the
// buffer protocol. Unconvertible input becomes the code page's default character.
#pragma once

#include "windef.h"

#include <string>
#include <string_view>

namespace platform {

std::u16string AnsiToWide(std::string_view text, UINT codePage = 0);
std::string WideToAnsi(std::u16string_view text, UINT codePage = 0);

}
