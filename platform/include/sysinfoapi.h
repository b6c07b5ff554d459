// System information: the tick counts, milliseconds since the system started, from a clock that
// never goes back. GetTickCount wraps after about 49.7 days, GetTickCount64 does not.
#pragma once

#include "windef.h"

extern "C" {
DWORD WINAPI GetTickCount();
ULONGLONG WINAPI GetTickCount64();
}
