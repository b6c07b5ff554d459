// Module identity. An HMODULE (and HINSTANCE) is the base address of a loaded ELF object: the
// address of its ELF header, as Windows' HMODULE is the base address of the image. Inside a
// module that address is the linker's hidden symbol __ehdr_start; from outside, dladdr's
// dli_fbase for any address in it.
#pragma once

#include "windef.h"

namespace platform {

// The module that contains address, or null when no loaded object contains it.
HMODULE ModuleFromAddress(const void* address);

// The program's own module (what GetModuleHandleW(NULL) returns).
HMODULE ProgramModule();

}
