// The machine root: the one directory under which the platform keeps everything that Windows keeps
// machine-wide or per user (registry.db, run/, cache/, certs/, temp/).
//
// It is named by the environment variable WINROOT, else $XDG_STATE_HOME/winroot, else
// ~/.local/state/winroot. It is resolved once per process, on first use, and created then with its
// subdirectories (mode 0700). Safe to call from any thread.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// The root's absolute path, without a trailing slash.
const std::string& RootDirectory();

// RootDirectory() + "/" + relative.
std::string RootPath(std::string_view relative);

}
