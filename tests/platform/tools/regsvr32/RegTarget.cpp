// A COM server library for the regsvr32 tests: registering writes HKCU\Software\RegTarget,
// unregistering removes it. REGTARGET_RESULT, when set, is the HRESULT both calls return instead.
#include "windows.h"
#include "winreg.h"

#include <cstdlib>
#include <string>

namespace {

HRESULT ForcedResult()
{
    const char* forced = std::getenv("REGTARGET_RESULT");
    return forced ? static_cast<HRESULT>(std::stoul(forced, nullptr, 0)) : S_OK;
}

}

extern "C" __attribute__((visibility("default"))) HRESULT DllRegisterServer()
{
    if (FAILED(ForcedResult()))
        return ForcedResult();
    const char16_t value[] = u"registered";
    return HRESULT_FROM_WIN32(
        RegSetKeyValueW(HKEY_CURRENT_USER, u"Software\\RegTarget", nullptr, REG_SZ, value, sizeof(value)));
}

extern "C" __attribute__((visibility("default"))) HRESULT DllUnregisterServer()
{
    if (FAILED(ForcedResult()))
        return ForcedResult();
    return HRESULT_FROM_WIN32(RegDeleteTreeW(HKEY_CURRENT_USER, u"Software\\RegTarget"));
}
