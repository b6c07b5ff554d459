// A child for the process tests. It writes what it was started with to the file named by
// PROBE_REPORT, one "key=value" line each, then ends as its arguments say: "--exit=N" ends it
// with N, "--hang" makes it wait until it is killed.
#include "Utf.h"
#include "windows.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <unistd.h>

int main(int argc, char** argv)
{
    const char* reportPath = std::getenv("PROBE_REPORT");
    if (!reportPath)
        return 100;
    {
        std::ofstream report(reportPath);
        report << "commandline=" << platform::ToUtf8(GetCommandLineW()) << "\n";
        for (int i = 0; i < argc; ++i)
            report << "arg=" << argv[i] << "\n";
        STARTUPINFOW startup;
        GetStartupInfoW(&startup);
        report << "flags=" << startup.dwFlags << "\nshow=" << startup.wShowWindow << "\n";
        char directory[PATH_MAX] = "";
        report << "cwd=" << (getcwd(directory, sizeof directory) ? directory : "?") << "\n";
        const char* value = std::getenv("PROBE_VALUE");
        report << "value=" << (value ? value : "(none)") << "\n";
        char output[PATH_MAX] = "";
        const ssize_t length = readlink("/proc/self/fd/1", output, sizeof output - 1);
        report << "stdout=" << std::string(output, length > 0 ? length : 0) << "\n";
    }
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--hang") == 0)
            Sleep(INFINITE);
        if (std::strncmp(argv[i], "--exit=", 7) == 0)
            ExitProcess(static_cast<UINT>(std::atoi(argv[i] + 7)));
    }
    return 0;
}
