// The keys and values a new registry.db starts with: the platform's machine and user defaults.
// This is the one list of them; RegistryStore writes it in the transaction that creates the
// database, and never again (a root keeps what its users changed).
#pragma once

#include "winreg.h"

#include <span>

namespace advapi32 {

enum class DefaultHive { LocalMachine, CurrentUser };

struct DefaultEntry {
    DefaultHive hive;
    const char16_t* key;
    const char16_t* valueName; // null for a key without values
    DWORD type; // REG_SZ or REG_DWORD
    const char16_t* text; // the REG_SZ data
    DWORD number; // the REG_DWORD data
};

std::span<const DefaultEntry> DefaultEntries();

}
