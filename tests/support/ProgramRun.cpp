#include "ProgramRun.h"

#include <cstdio>
#include <sys/wait.h>

namespace testing_support {

ProgramRun RunProgram(const std::string& command)
{
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return { -1, "cannot start " + command };
    std::string output;
    char buffer[256];
    while (size_t count = fread(buffer, 1, sizeof(buffer), pipe))
        output.append(buffer, count);
    const int status = pclose(pipe);
    return { WIFEXITED(status) ? WEXITSTATUS(status) : -1, output };
}

}
