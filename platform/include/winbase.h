// kernel32: the base services. The areas live in their own headers, as in the SDK.
#pragma once

#include "errhandlingapi.h"
#include "handleapi.h"
#include "libloaderapi.h"
#include "memoryapi.h"
#include "minwinbase.h"
#include "processenv.h"
#include "processthreadsapi.h"
#include "synchapi.h"
#include "sysinfoapi.h"
#include "windef.h"
#include "winerror.h"
