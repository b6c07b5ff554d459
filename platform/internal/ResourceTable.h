// The resource table of a module, as the rc tool generates it, and its registration with
// kernel32. A generated table registers itself when its module loads and withdraws when it
// unloads; the table and its data are static in that module and are never copied.
//
// Ids are numbers, or upper-case UTF-16 names (a name is compared without regard to case).
#pragma once

#include "windef.h"

namespace platform {

struct ResourceId {
    const char16_t* name; // null for a numbered id
    WORD number;
};

struct ResourceEntry {
    ResourceId type;
    ResourceId name;
    WORD language;
    const unsigned char* data;
    DWORD size;
};

struct ResourceTable {
    const ResourceEntry* entries;
    size_t count;
};

// One table per module; a second registration for the same module replaces the first.
void RegisterModuleResources(HMODULE module, const ResourceTable* table);
void UnregisterModuleResources(HMODULE module);

}
