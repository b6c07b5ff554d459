// Windows-style paths as the platform receives them, turned into paths of the host file system:
// backslashes become slashes, UTF-16 becomes UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace platform {

std::string ToHostPath(std::u16string_view windowsPath);

}
