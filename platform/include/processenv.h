// The process's command line, as its creator gave it (see CreateProcessW). The string is owned by
// kernel32 and lives as long as the process.
#pragma once

#include "windef.h"

extern "C" {
LPWSTR WINAPI GetCommandLineW();
}
