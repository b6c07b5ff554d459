#include "StartupBlock.h"

#include "CommandLine.h"
#include "Utf.h"
#include "processenv.h"
#include "processthreadsapi.h"

#include <charconv>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace platform {

namespace {

std::optional<DWORD> ParseNumber(std::string_view& rest)
{
    DWORD value = 0;
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
    if (error != std::errc() || end == rest.data() + rest.size() || *end != ';')
        return std::nullopt;
    rest.remove_prefix(end - rest.data() + 1);
    return value;
}

// The command line of a program that no CreateProcessW started: its arguments, quoted.
std::u16string CommandLineFromArguments()
{
    std::ifstream file("/proc/self/cmdline", std::ios::binary);
    const std::string raw((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::u16string commandLine;
    size_t start = 0;
    while (start < raw.size()) {
        const size_t end = raw.find('\0', start);
        const size_t stop = end == std::string::npos ? raw.size() : end;
        if (!commandLine.empty())
            commandLine += u' ';
        commandLine += QuoteArgument(FromUtf8(std::string_view(raw).substr(start, stop - start)));
        start = stop + 1;
    }
    return commandLine;
}

const Startup& OwnStartup()
{
    static const Startup startup = [] {
        const char* value = std::getenv(std::string(StartupVariable).c_str());
        if (value) {
            if (std::optional<Startup> block = DecodeStartup(value, getpid()))
                return *block;
        }
        return Startup { 0, 0, 0, CommandLineFromArguments() };
    }();
    return startup;
}

// Taken as kernel32 loads, before the program can start children that would inherit the
// exit-code descriptor.
const bool g_startupTaken = [] {
    if (OwnStartup().exitCodeFd > 0)
        fcntl(OwnStartup().exitCodeFd, F_SETFD, FD_CLOEXEC);
    return true;
}();

}

std::string EncodeStartup(DWORD flags, WORD showWindow, int exitCodeFd, std::u16string_view commandLine)
{
    return std::string(StartupVariable) + "=" + std::string(StartupPidDigits, '0') + ";" + std::to_string(flags) + ";"
        + std::to_string(showWindow) + ";" + std::to_string(exitCodeFd) + ";" + ToUtf8(commandLine);
}

std::optional<Startup> DecodeStartup(std::string_view value, pid_t self)
{
    std::string_view rest = value;
    const std::optional<DWORD> pid = ParseNumber(rest);
    if (!pid || *pid != static_cast<DWORD>(self))
        return std::nullopt;
    const std::optional<DWORD> flags = ParseNumber(rest);
    const std::optional<DWORD> show = ParseNumber(rest);
    const std::optional<DWORD> exitCodeFd = ParseNumber(rest);
    if (!flags || !show || *show > 0xFFFF || !exitCodeFd || *exitCodeFd > INT_MAX)
        return std::nullopt;
    return Startup { *flags, static_cast<WORD>(*show), static_cast<int>(*exitCodeFd), FromUtf8(rest) };
}

}

using namespace platform;

extern "C" LPWSTR WINAPI GetCommandLineW()
{
    // Callers may write into it, as on Windows; it is the process's own copy.
    static std::u16string* commandLine = new std::u16string(OwnStartup().commandLine);
    return commandLine->data();
}

extern "C" void WINAPI GetStartupInfoW(LPSTARTUPINFOW lpStartupInfo)
{
    *lpStartupInfo = STARTUPINFOW {};
    lpStartupInfo->cb = sizeof(STARTUPINFOW);
    lpStartupInfo->dwFlags = OwnStartup().flags;
    lpStartupInfo->wShowWindow = OwnStartup().showWindow;
}

extern "C" void WINAPI ExitProcess(UINT uExitCode)
{
    if (const int fd = OwnStartup().exitCodeFd; fd > 0) {
        // Best effort: a creator that is gone or not listening still sees the low 8 bits.
        (void)!write(fd, &uExitCode, sizeof uExitCode);
    }
    std::exit(static_cast<int>(uExitCode));
}
