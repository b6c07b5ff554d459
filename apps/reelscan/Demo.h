// reelscan demo: the whole system against demoweb, the bundled web, in a private machine root.
//
// The demo makes a temporary root and exports it as WINROOT for itself and every child, starts
// demoweb on a free loopback port as that root's proxy and certificate authority, registers the
// request service there, and runs `reelscan --first` on one demo page of each known service, one
// child at a time, then prints a one-line summary. It reaps everything started below it
// (PR_SET_CHILD_SUBREAPER), so that a companion, server or browser that outlives its parent is
// still ended by its process id at the end, also after Ctrl-C; then the root is removed.
//
// Call it on the main thread, before anything has resolved the machine root. Returns the exit
// status: 0 when every service gave a video, 1 when one did not, 2 for a set-up problem, 130 when
// interrupted.
#pragma once

#include "Options.h"

int RunDemo(const DemoOptions& options);
