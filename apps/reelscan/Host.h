// What reelscan takes from the platform beside the proxy: text conversion between the proxy's
// UTF-16 and the terminal's UTF-8, and the directory of its own program, where the programs it
// starts (CmdReelscan.exe, ReelscanModule.exe, demoweb) lie. Safe on any thread.
#pragma once

#include <filesystem>
#include <string>

std::string Utf8(const char16_t* text);
std::u16string Wide(const std::string& text);

// The directory of the running program; empty when its path cannot be read.
std::filesystem::path ProgramDirectory();
