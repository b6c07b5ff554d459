#include "CompanionStart.h"

namespace {

constexpr DWORD kShortestTimeout = 1000;
constexpr DWORD kDefaultTimeout = 60000;
constexpr size_t kHandleTextSize = 20;

}

DWORD EffectiveTimeout(DWORD timeout)
{
    return timeout <= kShortestTimeout ? kDefaultTimeout : timeout;
}

std::optional<std::u16string> CompanionPath()
{
    WCHAR module[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, module, MAX_PATH);
    // A path that filled the buffer may have been cut; the companion would be looked for elsewhere.
    if (length == 0 || length >= MAX_PATH)
        return std::nullopt;
    WCHAR drive[_MAX_DRIVE] = {};
    WCHAR directory[_MAX_DIR] = {};
    if (_wsplitpath_s(module, drive, _MAX_DRIVE, directory, _MAX_DIR, nullptr, 0, nullptr, 0) != 0)
        return std::nullopt;
    WCHAR path[MAX_PATH] = {};
    if (_wmakepath_s(path, MAX_PATH, drive, directory, u"CmdReelscan", u"exe") != 0)
        return std::nullopt;
    return std::u16string(path);
}

std::optional<std::u16string> CompanionCommandLine(const WCHAR* url, HWND window)
{
    WCHAR handle[kHandleTextSize] = {};
    wsprintfW(handle, u"%ld", static_cast<LONG>(reinterpret_cast<LONG_PTR>(window)));
    std::u16string commandLine = u" ";
    commandLine += url ? url : u"";
    commandLine += u" ";
    commandLine += handle;
    if (commandLine.size() + 1 > kCommandLineLimit)
        return std::nullopt;
    return commandLine;
}
