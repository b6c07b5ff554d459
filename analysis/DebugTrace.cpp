#include "DebugTrace.h"

int DebugTrace(const WCHAR* format, ...)
{
    return 0;
}
