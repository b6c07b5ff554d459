// The processes below this one, for whoever must end everything it started: the demo, and the
// tests and benchmarks of the whole system. Once a process is a subreaper, Linux hands it the
// orphans of its descendants (a server whose client has gone, a browser whose server has gone), so
// that its children are everything still running below it.
//
// Not thread-safe against another thread of the same process that reaps children by waitpid(-1).
#pragma once

#include <chrono>
#include <sys/types.h>
#include <vector>

void BecomeSubreaper();

// The children of this process, sorted: running ones and ended ones not yet reaped.
std::vector<pid_t> Children();

// Whether the process exists and has not ended (an ended child that is not reaped yet has).
bool Running(pid_t pid);

// Reaps ended children until only those in keep (sorted) are left or the deadline has passed;
// returns the others still running.
std::vector<pid_t> ReapUntil(std::chrono::steady_clock::time_point deadline, const std::vector<pid_t>& keep = {});
