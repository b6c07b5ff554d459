// Runs a program of the build as a process of its own and collects what it prints.
//
// The command goes to the shell with standard error joined to standard output; the child
// inherits the test's environment, WINROOT included, so it works in the test's own root.
#pragma once

#include <string>

namespace testing_support {

struct ProgramRun {
    int exitCode; // -1 when the program could not be started or did not exit normally
    std::string output;
};

ProgramRun RunProgram(const std::string& command);

}
