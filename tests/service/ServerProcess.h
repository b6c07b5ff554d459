// Programs of the build run as processes of a test: ReelscanModule.exe and CmdReelscan.exe,
// started with a command line, waited for, and ended by their process id when the test is done.
#pragma once

#include <windows.h>

#include <string>

struct StartedProgram {
    HANDLE process = nullptr;
    DWORD id = 0;
};

// Starts "<build>/<program>" arguments; an empty result when it cannot be started.
StartedProgram StartProgram(const std::string& program, const std::string& arguments);

// The exit code once the program ended within timeout, or 0xDEAD.
DWORD WaitForExit(const StartedProgram& started, DWORD timeout = 30000);

// Ends the program if it still runs (by its process id) and closes its handle.
void EndProgram(StartedProgram& started);

// Runs the program to its end and returns its exit code (0xDEAD if it did not end in 30 s).
DWORD RunProgramToEnd(const std::string& program, const std::string& arguments);

// The full path of a program of the build.
std::string BuildProgramPath(const std::string& program);
