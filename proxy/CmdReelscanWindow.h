// The window class of CmdReelscan, the companion program that ReelscanProxy starts for each request.
//
// CmdReelscan owns one top-level window of this class while it runs and ends when that window
// receives WM_DESTROY; ReelscanProxy's UnInitialize finds the window by this class and posts it.
// Both sides include this header, so the name exists once.
#pragma once

#include "windef.h"

#define CMDREELSCAN_WND_CLASS u"CMDREELSCAN_WND_CLASS_{00536750-7685-429A-A668-A25128F51FA1}"
