// A child process for the registry's cross-process tests: registry_writer ID COUNT creates the keys
// Software\Shared\K0..K<COUNT-1> of the current user (counting those it created itself) and writes
// the values P<ID>_<n> = n into Software\Shared, then prints how many keys it created.
#include "winreg.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    const std::string id = argv[1];
    const int count = std::atoi(argv[2]);
    HKEY shared = nullptr;
    if (RegCreateKeyExW(
            HKEY_CURRENT_USER, u"Software\\Shared", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &shared, nullptr)
        != ERROR_SUCCESS)
        return 3;
    int created = 0;
    for (int n = 0; n < count; ++n) {
        const std::string key = "K" + std::to_string(n);
        const std::string name = "P" + id + "_" + std::to_string(n);
        const std::u16string wideKey(key.begin(), key.end());
        const std::u16string wideName(name.begin(), name.end());
        HKEY sub = nullptr;
        DWORD disposition = 0;
        if (RegCreateKeyExW(shared, wideKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, &disposition)
            != ERROR_SUCCESS)
            return 4;
        RegCloseKey(sub);
        created += disposition == REG_CREATED_NEW_KEY;
        const DWORD value = static_cast<DWORD>(n);
        if (RegSetValueExW(shared, wideName.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value))
            != ERROR_SUCCESS)
            return 5;
    }
    RegCloseKey(shared);
    std::printf("%d\n", created);
    return 0;
}
