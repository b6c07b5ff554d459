#include "Module.h"

#include <dlfcn.h>
#include <sys/auxv.h>

namespace platform {

HMODULE ModuleFromAddress(const void* address)
{
    Dl_info info {};
    if (!address || !dladdr(address, &info))
        return nullptr;
    return static_cast<HMODULE>(info.dli_fbase);
}

HMODULE ProgramModule()
{
    // The program's entry point lies in the program's own image, whoever asks.
    static const HMODULE program = ModuleFromAddress(reinterpret_cast<const void*>(getauxval(AT_ENTRY)));
    return program;
}

}
