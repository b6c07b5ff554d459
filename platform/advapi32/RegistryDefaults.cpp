#include "RegistryDefaults.h"

namespace advapi32 {

namespace {

constexpr const char16_t* CodePageKey = u"SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage";
constexpr const char16_t* InternetSettingsKey = u"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

constexpr DefaultEntry Entries[] = {
    // The ANSI and OEM code pages of a Western European machine.
    { DefaultHive::LocalMachine, CodePageKey, u"ACP", REG_SZ, u"1252", 0 },
    { DefaultHive::LocalMachine, CodePageKey, u"OEMCP", REG_SZ, u"437", 0 },
    // Both halves of HKEY_CLASSES_ROOT exist from the start.
    { DefaultHive::LocalMachine, u"SOFTWARE\\Classes", nullptr, REG_NONE, nullptr, 0 },
    { DefaultHive::CurrentUser, u"Software\\Classes", nullptr, REG_NONE, nullptr, 0 },
    // A direct connection: no proxy until one is configured.
    { DefaultHive::CurrentUser, InternetSettingsKey, u"ProxyEnable", REG_DWORD, nullptr, 0 },
};

}

std::span<const DefaultEntry> DefaultEntries()
{
    return Entries;
}

}
