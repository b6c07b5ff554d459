// UTF-16 <-> UTF-8 conversion for the platform's own use (paths, registry text, IPC), independent
// of any code page. Unpaired surrogates and invalid UTF-8 become U+FFFD.
#pragma once

#include <string>
#include <string_view>

namespace platform {

std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view text);

// A wide C string up to its terminator; an empty view for a null pointer.
std::u16string_view WideView(const char16_t* text);

}
