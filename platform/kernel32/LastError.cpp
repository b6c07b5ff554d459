#include "errhandlingapi.h"

namespace {
thread_local DWORD t_lastError = ERROR_SUCCESS;
}

extern "C" DWORD WINAPI GetLastError()
{
    return t_lastError;
}

extern "C" void WINAPI SetLastError(DWORD dwErrCode)
{
    t_lastError = dwErrCode;
}
