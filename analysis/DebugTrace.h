// The trace call of the request service, its analyzers and the protocol monitor: a printf-style
// call on a wide format and its arguments. It writes nothing and returns 0, so that tracing costs
// nothing and a trace line can never fail a caller. Any thread may call it.
#pragma once

#include "windows.h"

int DebugTrace(const WCHAR* format, ...);
