// Activation: finding a class object for a class and creating objects through it.
// In process, the order is: the process's registered class objects, the platform's own classes,
// then the library that HKCR\CLSID\{clsid}\InprocServer32 names (loaded once, asked through
// DllGetClassObject, freed by CoFreeUnusedLibraries when DllCanUnloadNow agrees).
#include "PlatformClasses.h"

#include "ClassTable.h"
#include "errhandlingapi.h"
#include "libloaderapi.h"
#include "winreg.h"

#include <mutex>
#include <string>
#include <vector>

namespace {

struct PlatformClass {
    CLSID clsid;
    LPFNGETCLASSOBJECT getClassObject;
};

struct LoadedLibrary {
    std::u16string path;
    HMODULE module;
    LPFNGETCLASSOBJECT getClassObject;
    LPFNCANUNLOADNOW canUnloadNow;
};

std::mutex g_classLock;
std::vector<PlatformClass> g_platformClasses;
// Separate from the classes' lock: a library being loaded may add platform classes.
std::mutex g_libraryLock;
std::vector<LoadedLibrary> g_libraries;

LPFNGETCLASSOBJECT FindPlatformClass(REFCLSID clsid)
{
    std::lock_guard lock(g_classLock);
    for (const PlatformClass& entry : g_platformClasses) {
        if (IsEqualGUID(entry.clsid, clsid))
            return entry.getClassObject;
    }
    return nullptr;
}

// The text of HKCR\CLSID\{clsid}\<server key>, or false when the class has no such server.
bool ReadServerPath(REFCLSID clsid, const char16_t* serverKey, std::u16string& path)
{
    OLECHAR guid[CHARS_IN_GUID];
    StringFromGUID2(clsid, guid, CHARS_IN_GUID);
    std::u16string key = u"CLSID\\" + std::u16string(guid) + u"\\" + serverKey;
    WCHAR buffer[MAX_PATH];
    DWORD size = sizeof buffer;
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
        return false;
    path = buffer;
    return !path.empty();
}

// The library's class-object export, loading the library on first use.
HRESULT LibraryClassObjectGetter(const std::u16string& path, LPFNGETCLASSOBJECT& getClassObject)
{
    std::lock_guard lock(g_libraryLock);
    for (const LoadedLibrary& library : g_libraries) {
        if (library.path == path) {
            getClassObject = library.getClassObject;
            return S_OK;
        }
    }
    HMODULE module = LoadLibraryW(path.c_str());
    if (!module) {
        DWORD error = GetLastError();
        return error ? HRESULT_FROM_WIN32(error) : CO_E_DLLNOTFOUND;
    }
    auto get
        = reinterpret_cast<LPFNGETCLASSOBJECT>(reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    if (!get) {
        FreeLibrary(module);
        return CO_E_ERRORINDLL;
    }
    auto canUnload
        = reinterpret_cast<LPFNCANUNLOADNOW>(reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    g_libraries.push_back(LoadedLibrary { path, module, get, canUnload });
    getClassObject = get;
    return S_OK;
}

}

namespace platform {

void AddPlatformClass(REFCLSID clsid, LPFNGETCLASSOBJECT getClassObject)
{
    if (FindPlatformClass(clsid))
        return;
    std::lock_guard lock(g_classLock);
    g_platformClasses.push_back(PlatformClass { clsid, getClassObject });
}

}

extern "C" {

HRESULT WINAPI CoGetClassObject(
    REFCLSID rclsid, DWORD dwClsContext, COSERVERINFO* pServerInfo, REFIID riid, LPVOID* ppv)
{
    if (!ppv)
        return E_INVALIDARG;
    *ppv = nullptr;
    ole32::ApartmentId apartment;
    if (!ole32::CurrentApartment(apartment))
        return CO_E_NOTINITIALIZED;
    if (IUnknown* registered = ole32::FindRegisteredClassObject(rclsid, dwClsContext)) {
        HRESULT hr = registered->QueryInterface(riid, ppv);
        registered->Release();
        return hr;
    }
    if (dwClsContext & CLSCTX_INPROC_SERVER) {
        if (LPFNGETCLASSOBJECT getClassObject = FindPlatformClass(rclsid))
            return getClassObject(rclsid, riid, ppv);
        std::u16string path;
        if (ReadServerPath(rclsid, u"InprocServer32", path)) {
            LPFNGETCLASSOBJECT getClassObject = nullptr;
            HRESULT hr = LibraryClassObjectGetter(path, getClassObject);
            if (FAILED(hr))
                return hr;
            return getClassObject(rclsid, riid, ppv);
        }
    }
    return REGDB_E_CLASSNOTREG;
}

HRESULT WINAPI CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID* ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    IClassFactory* factory = nullptr;
    HRESULT hr = CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr))
        return hr;
    hr = factory->CreateInstance(pUnkOuter, riid, ppv);
    factory->Release();
    return hr;
}

void WINAPI CoFreeUnusedLibrariesEx(DWORD dwUnloadDelay, DWORD dwReserved)
{
    std::vector<HMODULE> unloaded;
    {
        std::lock_guard lock(g_libraryLock);
        std::erase_if(g_libraries, [&](const LoadedLibrary& library) {
            if (!library.canUnloadNow || library.canUnloadNow() != S_OK)
                return false;
            unloaded.push_back(library.module);
            return true;
        });
    }
    for (HMODULE module : unloaded)
        FreeLibrary(module);
}

void WINAPI CoFreeUnusedLibraries(void)
{
    CoFreeUnusedLibrariesEx(0, 0);
}
}
