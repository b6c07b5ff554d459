// What every test program shares: its own machine root and the directory of the built programs.
//
// The test main creates a fresh root in the system's temporary directory, exports it as WINROOT
// (so that child processes use it too) before any test runs, and removes it when the program ends.
// ctest runs every test case in a process of its own, so no two test cases share a root.
#pragma once

#include <string>

namespace testing_support {

// The machine root of this test process.
const std::string& TestRoot();

// The directory that holds the test program and every program and library the build makes.
const std::string& BinaryDirectory();

}
