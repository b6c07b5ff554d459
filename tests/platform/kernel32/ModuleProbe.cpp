// A library for the module tests to load: it answers, and finds its own module the two ways a
// library can.
#include "windows.h"

extern "C" const char __ehdr_start[] __attribute__((visibility("hidden")));

extern "C" __attribute__((visibility("default"))) int ModuleProbeAnswer()
{
    return 42;
}

extern "C" __attribute__((visibility("default"))) HMODULE ModuleProbeOwnModule()
{
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&ModuleProbeAnswer), &module))
        return nullptr;
    return module == reinterpret_cast<HMODULE>(const_cast<char*>(__ehdr_start)) ? module : nullptr;
}
