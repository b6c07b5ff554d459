#include "ServerProcess.h"

#include "TestRoot.h"

#include <csignal>

std::string BuildProgramPath(const std::string& program)
{
    return testing_support::BinaryDirectory() + "/" + program;
}

StartedProgram StartProgram(const std::string& program, const std::string& arguments)
{
    const std::string line = "\"" + BuildProgramPath(program) + "\" " + arguments;
    std::u16string commandLine(line.begin(), line.end());
    STARTUPINFOW startup {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process {};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return {};
    CloseHandle(process.hThread);
    return { process.hProcess, process.dwProcessId };
}

DWORD WaitForExit(const StartedProgram& started, DWORD timeout)
{
    if (!started.process || WaitForSingleObject(started.process, timeout) != WAIT_OBJECT_0)
        return 0xDEAD;
    DWORD code = 0xDEAD;
    GetExitCodeProcess(started.process, &code);
    return code;
}

void EndProgram(StartedProgram& started)
{
    if (!started.process)
        return;
    if (WaitForSingleObject(started.process, 0) == WAIT_TIMEOUT)
        kill(static_cast<pid_t>(started.id), SIGKILL);
    WaitForSingleObject(started.process, INFINITE);
    CloseHandle(started.process);
    started = {};
}

DWORD RunProgramToEnd(const std::string& program, const std::string& arguments)
{
    StartedProgram started = StartProgram(program, arguments);
    const DWORD code = WaitForExit(started);
    EndProgram(started);
    return code;
}
