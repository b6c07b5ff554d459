// The calling thread's last-error code. Every platform function that fails with a BOOL, a null
// handle or a count of 0 sets it, as Windows documents for that function.
#pragma once

#include "windef.h"
#include "winerror.h"

extern "C" {
DWORD WINAPI GetLastError();
void WINAPI SetLastError(DWORD dwErrCode);
}
