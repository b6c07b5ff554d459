// Registration of a module's own type library, for the machine or for the current user.
#include "atlbase.h"

#include <string>

namespace {

enum class Direction { Register, Unregister };

// The module's path, with "\<index>" when a resource other than TYPELIB 1 is meant, as
// LoadTypeLib takes it.
HRESULT TypeLibPath(HINSTANCE module, LPCOLESTR index, std::u16string& path)
{
    WCHAR buffer[MAX_PATH];
    DWORD length = GetModuleFileNameW(reinterpret_cast<HMODULE>(module), buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return E_FAIL;
    path.assign(buffer, length);
    if (index && *index)
        path += std::u16string(u"\\") + index;
    return S_OK;
}

HRESULT Update(HINSTANCE module, LPCOLESTR index, Direction direction)
{
    std::u16string path;
    HRESULT hr = TypeLibPath(module, index, path);
    if (FAILED(hr))
        return hr;
    bool perUser = false;
    AtlGetPerUserRegistration(&perUser);
    ITypeLib* library = nullptr;
    if (FAILED(hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library)))
        return hr;
    if (direction == Direction::Register) {
        hr = perUser ? RegisterTypeLibForUser(library, path.data(), nullptr)
                     : RegisterTypeLib(library, path.c_str(), nullptr);
    } else {
        TLIBATTR* attributes = nullptr;
        hr = library->GetLibAttr(&attributes);
        if (SUCCEEDED(hr)) {
            hr = perUser ? UnRegisterTypeLibForUser(attributes->guid, attributes->wMajorVerNum,
                     attributes->wMinorVerNum, attributes->lcid, attributes->syskind)
                         : UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum,
                             attributes->lcid, attributes->syskind);
            library->ReleaseTLibAttr(attributes);
        }
    }
    library->Release();
    return hr;
}

}

extern "C" {

HRESULT WINAPI AtlRegisterTypeLib(HINSTANCE hInstTypeLib, LPCOLESTR lpszIndex)
{
    return Update(hInstTypeLib, lpszIndex, Direction::Register);
}

HRESULT WINAPI AtlUnRegisterTypeLib(HINSTANCE hInstTypeLib, LPCOLESTR lpszIndex)
{
    return Update(hInstTypeLib, lpszIndex, Direction::Unregister);
}
}
