// Activation: finding a class object for a class and creating objects through it.
// In process, the order is: the process's registered class objects, the platform's own classes,
// then the library that HKCR\CLSID\{clsid}\InprocServer32 names (loaded once, asked through
// DllGetClassObject, freed by CoFreeUnusedLibraries when DllCanUnloadNow agrees). Out of process
// (CLSCTX_LOCAL_SERVER, also the last resort of CLSCTX_ALL), the class object is a local one whose
// CreateInstance activates the object in a running server of the root, or in one it starts.
#include "PlatformClasses.h"

#include "ClassTable.h"
#include "Remoting.h"
#include "errhandlingapi.h"
#include "libloaderapi.h"
#include "winreg.h"

#include <atomic>
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

// A class object for a class served by a local server: each object it creates is activated in
// the server, which is started when none is running.
class LocalClassFactory final : public IClassFactory {
public:
    explicit LocalClassFactory(REFCLSID clsid)
        : m_clsid(clsid)
    {
    }
    STDMETHODIMP QueryInterface(REFIID riid, void** ppvObject) override
    {
        if (!ppvObject)
            return E_POINTER;
        *ppvObject = nullptr;
        if (riid != IID_IUnknown && riid != IID_IClassFactory)
            return E_NOINTERFACE;
        AddRef();
        *ppvObject = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override
    {
        return ++m_refs;
    }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG refs = --m_refs;
        if (refs == 0)
            delete this;
        return refs;
    }
    STDMETHODIMP CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) override
    {
        if (!ppvObject)
            return E_POINTER;
        *ppvObject = nullptr;
        if (pUnkOuter)
            return CLASS_E_NOAGGREGATION;
        return ole32::ActivateLocalServer(m_clsid, riid, ppvObject);
    }
    STDMETHODIMP LockServer(BOOL) override
    {
        return S_OK;
    }

private:
    CLSID m_clsid;
    std::atomic<ULONG> m_refs { 1 };
};

}

namespace ole32 {

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

}

namespace {

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
        if (ole32::ReadServerPath(rclsid, u"InprocServer32", path)) {
            LPFNGETCLASSOBJECT getClassObject = nullptr;
            HRESULT hr = LibraryClassObjectGetter(path, getClassObject);
            if (FAILED(hr))
                return hr;
            return getClassObject(rclsid, riid, ppv);
        }
    }
    if ((dwClsContext & CLSCTX_LOCAL_SERVER) && ole32::LocalServerKnown(rclsid)) {
        auto* factory = new LocalClassFactory(rclsid);
        HRESULT hr = factory->QueryInterface(riid, ppv);
        factory->Release();
        return hr;
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
