// ATL base: threading models, critical sections, smart interface pointers, CComBSTR and
// CComVariant, and the module base (lock count, registry scripts, per-user registration).
// Everything is a header-only template or inline; the registrar's script engine lives in libatl.
// Per-module state (the module object, the object map) has hidden visibility, so a server library
// loaded into an ATL program keeps its own. Nothing here throws; failures are HRESULTs.
#pragma once

#include "ole2.h"
#include "olectl.h"
#include "windows.h"

#include <utility>

namespace ATL {

// --- Threading models -------------------------------------------------------------------------

class CComCriticalSection {
public:
    HRESULT Init()
    {
        InitializeCriticalSection(&m_sec);
        m_initialized = true;
        return S_OK;
    }
    HRESULT Term()
    {
        if (m_initialized)
            DeleteCriticalSection(&m_sec);
        m_initialized = false;
        return S_OK;
    }
    HRESULT Lock()
    {
        EnterCriticalSection(&m_sec);
        return S_OK;
    }
    HRESULT Unlock()
    {
        LeaveCriticalSection(&m_sec);
        return S_OK;
    }
    CRITICAL_SECTION m_sec {};

private:
    bool m_initialized = false;
};

class CComAutoCriticalSection : public CComCriticalSection {
public:
    CComAutoCriticalSection()
    {
        Init();
    }
    ~CComAutoCriticalSection()
    {
        Term();
    }
    CComAutoCriticalSection(const CComAutoCriticalSection&) = delete;
    CComAutoCriticalSection& operator=(const CComAutoCriticalSection&) = delete;
};

class CComFakeCriticalSection {
public:
    HRESULT Init()
    {
        return S_OK;
    }
    HRESULT Term()
    {
        return S_OK;
    }
    HRESULT Lock()
    {
        return S_OK;
    }
    HRESULT Unlock()
    {
        return S_OK;
    }
};

class CComAutoDeleteCriticalSection : public CComAutoCriticalSection { };

template <class Section> class CComCritSecLock {
public:
    explicit CComCritSecLock(Section& section)
        : m_section(section)
    {
        m_section.Lock();
    }
    ~CComCritSecLock()
    {
        m_section.Unlock();
    }
    CComCritSecLock(const CComCritSecLock&) = delete;
    CComCritSecLock& operator=(const CComCritSecLock&) = delete;

private:
    Section& m_section;
};

class CComSingleThreadModel {
public:
    static ULONG Increment(LONG* p)
    {
        return static_cast<ULONG>(++(*p));
    }
    static ULONG Decrement(LONG* p)
    {
        return static_cast<ULONG>(--(*p));
    }
    typedef CComFakeCriticalSection AutoCriticalSection;
    typedef CComFakeCriticalSection AutoDeleteCriticalSection;
    typedef CComFakeCriticalSection CriticalSection;
    typedef CComSingleThreadModel ThreadModelNoCS;
};

class CComMultiThreadModel {
public:
    static ULONG Increment(LONG* p)
    {
        return static_cast<ULONG>(InterlockedIncrement(p));
    }
    static ULONG Decrement(LONG* p)
    {
        return static_cast<ULONG>(InterlockedDecrement(p));
    }
    typedef CComAutoCriticalSection AutoCriticalSection;
    typedef CComAutoDeleteCriticalSection AutoDeleteCriticalSection;
    typedef CComCriticalSection CriticalSection;
    typedef CComMultiThreadModel ThreadModelNoCS;
};

typedef CComMultiThreadModel CComGlobalsThreadModel;
typedef CComSingleThreadModel CComObjectThreadModel;

// --- Smart interface pointers -----------------------------------------------------------------

template <class T> class CComPtr {
public:
    CComPtr() = default;
    CComPtr(T* p)
        : p(p)
    {
        if (p)
            p->AddRef();
    }
    CComPtr(const CComPtr& other)
        : CComPtr(other.p)
    {
    }
    CComPtr(CComPtr&& other) noexcept
        : p(std::exchange(other.p, nullptr))
    {
    }
    ~CComPtr()
    {
        Release();
    }

    T* operator=(T* other)
    {
        if (other != p) {
            if (other)
                other->AddRef();
            Release();
            p = other;
        }
        return p;
    }
    T* operator=(const CComPtr& other)
    {
        return *this = other.p;
    }
    T* operator=(CComPtr&& other) noexcept
    {
        if (this != &other) {
            Release();
            p = std::exchange(other.p, nullptr);
        }
        return p;
    }

    operator T*() const
    {
        return p;
    }
    T& operator*() const
    {
        return *p;
    }
    // Only an empty pointer may be filled through its address.
    T** operator&()
    {
        return &p;
    }
    T* operator->() const
    {
        return p;
    }
    bool operator!() const
    {
        return p == nullptr;
    }
    bool operator==(T* other) const
    {
        return p == other;
    }

    void Release()
    {
        if (T* old = std::exchange(p, nullptr))
            old->Release();
    }
    void Attach(T* other)
    {
        Release();
        p = other;
    }
    T* Detach()
    {
        return std::exchange(p, nullptr);
    }
    HRESULT CopyTo(T** out) const
    {
        if (!out)
            return E_POINTER;
        *out = p;
        if (p)
            p->AddRef();
        return S_OK;
    }
    template <class Q> HRESULT QueryInterface(Q** out) const
    {
        return p->QueryInterface(IidOf<Q>(), reinterpret_cast<void**>(out));
    }
    HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer = nullptr, DWORD context = CLSCTX_ALL)
    {
        return ::CoCreateInstance(clsid, outer, context, IidOf<T>(), reinterpret_cast<void**>(&p));
    }
    bool IsEqualObject(IUnknown* other) const
    {
        if (!p && !other)
            return true;
        if (!p || !other)
            return false;
        CComPtr<IUnknown> mine, theirs;
        p->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&mine));
        other->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&theirs));
        return mine.p == theirs.p;
    }

    T* p = nullptr;
};

template <class T, const IID* piid = &IidOf<T>()> class CComQIPtr : public CComPtr<T> {
public:
    CComQIPtr() = default;
    CComQIPtr(T* other)
        : CComPtr<T>(other)
    {
    }
    CComQIPtr(IUnknown* other)
    {
        if (other)
            other->QueryInterface(*piid, reinterpret_cast<void**>(&this->p));
    }
    CComQIPtr(const CComQIPtr& other)
        : CComPtr<T>(other.p)
    {
    }
    T* operator=(T* other)
    {
        return CComPtr<T>::operator=(other);
    }
    T* operator=(const CComQIPtr& other)
    {
        return CComPtr<T>::operator=(other.p);
    }
    T* operator=(IUnknown* other)
    {
        T* found = nullptr;
        if (other)
            other->QueryInterface(*piid, reinterpret_cast<void**>(&found));
        this->Attach(found);
        return this->p;
    }
};

// --- CComBSTR -----------------------------------------------------------------------------------

class CComBSTR {
public:
    CComBSTR() = default;
    CComBSTR(LPCOLESTR text)
        : m_str(SysAllocString(text))
    {
    }
    CComBSTR(int length, LPCOLESTR text = nullptr)
        : m_str(SysAllocStringLen(text, static_cast<UINT>(length)))
    {
    }
    CComBSTR(const CComBSTR& other)
        : m_str(other.Copy())
    {
    }
    CComBSTR(CComBSTR&& other) noexcept
        : m_str(std::exchange(other.m_str, nullptr))
    {
    }
    ~CComBSTR()
    {
        SysFreeString(m_str);
    }

    CComBSTR& operator=(const CComBSTR& other)
    {
        if (m_str != other.m_str)
            Attach(other.Copy());
        return *this;
    }
    CComBSTR& operator=(CComBSTR&& other) noexcept
    {
        if (m_str != other.m_str)
            Attach(std::exchange(other.m_str, nullptr));
        return *this;
    }
    CComBSTR& operator=(LPCOLESTR text)
    {
        if (text != m_str)
            Attach(SysAllocString(text));
        return *this;
    }

    operator BSTR() const
    {
        return m_str;
    }
    // Only an empty string may be filled through its address.
    BSTR* operator&()
    {
        return &m_str;
    }
    bool operator!() const
    {
        return m_str == nullptr;
    }
    // Compares with a null-terminated text; a null pointer equals the empty string.
    bool operator==(LPCOLESTR text) const
    {
        unsigned int length = Length();
        for (unsigned int i = 0; i < length; ++i) {
            if (!text || text[i] != m_str[i])
                return false;
        }
        return !text || text[length] == 0;
    }
    bool operator==(LPOLESTR text) const
    {
        return *this == static_cast<LPCOLESTR>(text);
    }

    unsigned int Length() const
    {
        return SysStringLen(m_str);
    }
    unsigned int ByteLength() const
    {
        return SysStringByteLen(m_str);
    }
    BSTR Copy() const
    {
        return m_str ? SysAllocStringByteLen(reinterpret_cast<LPCSTR>(m_str), SysStringByteLen(m_str)) : nullptr;
    }
    HRESULT CopyTo(BSTR* out) const
    {
        if (!out)
            return E_POINTER;
        *out = Copy();
        return (*out || !m_str) ? S_OK : E_OUTOFMEMORY;
    }
    void Attach(BSTR other)
    {
        if (other != m_str) {
            SysFreeString(m_str);
            m_str = other;
        }
    }
    BSTR Detach()
    {
        return std::exchange(m_str, nullptr);
    }
    void Empty()
    {
        Attach(nullptr);
    }

    HRESULT Append(LPCOLESTR text, int length)
    {
        if (!text || length == 0)
            return S_OK;
        unsigned int mine = Length();
        BSTR joined = SysAllocStringLen(nullptr, mine + static_cast<unsigned int>(length));
        if (!joined)
            return E_OUTOFMEMORY;
        for (unsigned int i = 0; i < mine; ++i)
            joined[i] = m_str[i];
        for (int i = 0; i < length; ++i)
            joined[mine + static_cast<unsigned int>(i)] = text[i];
        Attach(joined);
        return S_OK;
    }
    HRESULT Append(LPCOLESTR text)
    {
        int length = 0;
        while (text && text[length])
            ++length;
        return Append(text, length);
    }
    HRESULT Append(const CComBSTR& other)
    {
        return Append(other.m_str, static_cast<int>(other.Length()));
    }
    CComBSTR& operator+=(LPCOLESTR text)
    {
        Append(text);
        return *this;
    }
    CComBSTR& operator+=(const CComBSTR& other)
    {
        Append(other);
        return *this;
    }

    BSTR m_str = nullptr;
};

// --- CComVariant --------------------------------------------------------------------------------

class CComVariant : public tagVARIANT {
public:
    CComVariant()
    {
        ::VariantInit(this);
    }
    CComVariant(const VARIANT& other)
    {
        ::VariantInit(this);
        ::VariantCopy(this, &other);
    }
    CComVariant(const CComVariant& other)
        : CComVariant(static_cast<const VARIANT&>(other))
    {
    }
    CComVariant(LPCOLESTR text)
    {
        vt = VT_BSTR;
        bstrVal = SysAllocString(text);
    }
    CComVariant(const CComBSTR& text)
    {
        vt = VT_BSTR;
        bstrVal = text.Copy();
    }
    CComVariant(bool value)
    {
        vt = VT_BOOL;
        boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    }
    CComVariant(int value, VARTYPE type = VT_I4)
    {
        vt = type;
        lVal = value;
    }
    CComVariant(ULONG value)
    {
        vt = VT_UI4;
        ulVal = value;
    }
    CComVariant(short value)
    {
        vt = VT_I2;
        iVal = value;
    }
    CComVariant(IDispatch* object)
    {
        vt = VT_DISPATCH;
        pdispVal = object;
        if (object)
            object->AddRef();
    }
    CComVariant(IUnknown* object)
    {
        vt = VT_UNKNOWN;
        punkVal = object;
        if (object)
            object->AddRef();
    }
    ~CComVariant()
    {
        ::VariantClear(this);
    }

    CComVariant& operator=(const CComVariant& other)
    {
        Copy(&other);
        return *this;
    }
    CComVariant& operator=(const VARIANT& other)
    {
        Copy(&other);
        return *this;
    }
    bool operator==(const VARIANT& other) const
    {
        if (vt != other.vt)
            return false;
        switch (vt) {
        case VT_EMPTY:
        case VT_NULL:
            return true;
        case VT_BSTR:
            return SameText(bstrVal, other.bstrVal);
        case VT_BOOL:
            return boolVal == other.boolVal;
        case VT_I2:
            return iVal == other.iVal;
        case VT_UI4:
            return ulVal == other.ulVal;
        case VT_I4:
        case VT_INT:
            return lVal == other.lVal;
        case VT_DISPATCH:
        case VT_UNKNOWN:
            return punkVal == other.punkVal;
        default:
            return false;
        }
    }

    HRESULT Clear()
    {
        return ::VariantClear(this);
    }
    static bool SameText(BSTR a, BSTR b)
    {
        unsigned int length = SysStringLen(a);
        if (length != SysStringLen(b))
            return false;
        for (unsigned int i = 0; i < length; ++i) {
            if (a[i] != b[i])
                return false;
        }
        return true;
    }
    HRESULT Copy(const VARIANT* source)
    {
        return ::VariantCopy(this, source);
    }
    HRESULT CopyTo(BSTR* out) const
    {
        if (!out)
            return E_POINTER;
        if (vt != VT_BSTR)
            return DISP_E_TYPEMISMATCH;
        *out = CComBSTR(bstrVal).Detach();
        return S_OK;
    }
    HRESULT Attach(VARIANT* source)
    {
        HRESULT hr = Clear();
        if (FAILED(hr))
            return hr;
        *static_cast<VARIANT*>(this) = *source;
        source->vt = VT_EMPTY;
        return S_OK;
    }
    HRESULT Detach(VARIANT* destination)
    {
        HRESULT hr = ::VariantClear(destination);
        if (FAILED(hr))
            return hr;
        *destination = *static_cast<VARIANT*>(this);
        vt = VT_EMPTY;
        return S_OK;
    }
    HRESULT ChangeType(VARTYPE type, const VARIANT* source = nullptr)
    {
        return ::VariantChangeType(this, source ? source : this, 0, type);
    }
};

// --- The registrar (libatl) -------------------------------------------------------------------

// Replacement names and values for a registry script: %NAME% in the script becomes the value.
struct _ATL_REGMAP_ENTRY {
    LPCOLESTR szKey;
    LPCOLESTR szData;
};

class IRegistrarBase {
public:
    STDMETHOD(AddReplacement)(LPCOLESTR key, LPCOLESTR item) PURE;
    STDMETHOD(ClearReplacements)() PURE;
};

// Runs .rgs registry scripts: roots HKCR (HKEY_CLASSES_ROOT), HKLM (HKEY_LOCAL_MACHINE) and HKCU
// (HKEY_CURRENT_USER); keys with NoRemove, ForceRemove or Delete and nested bodies; "= s 'text'",
// "= d 'number'" and "= b 'hex bytes'" default values; "val name = ..." named values; quoted
// names and texts with '' for a quote; %NAME% replaced from AddReplacement (%% for a percent
// sign). Registering writes what the script says; unregistering removes it again: a
// ForceRemove key with everything below it, a plain key once its own subkeys are gone and
// nothing else remains below it, never a NoRemove key (but what the script lists below it).
// While per-user registration is on (AtlSetPerUserRegistration), HKCR means the current user's
// HKCU\Software\Classes. A malformed script fails with DISP_E_EXCEPTION before anything is
// written; a registry failure ends the run with its HRESULT.
class CRegObject : public IRegistrarBase {
public:
    CRegObject();
    ~CRegObject();
    CRegObject(const CRegObject&) = delete;
    CRegObject& operator=(const CRegObject&) = delete;

    STDMETHOD(AddReplacement)(LPCOLESTR key, LPCOLESTR item) override;
    STDMETHOD(ClearReplacements)() override;
    HRESULT StringRegister(LPCOLESTR script);
    HRESULT StringUnregister(LPCOLESTR script);
    // A script stored as a resource of the module (UTF-8, or UTF-16 after a byte-order mark).
    HRESULT ResourceRegister(HINSTANCE module, UINT id, LPCOLESTR type);
    HRESULT ResourceUnregister(HINSTANCE module, UINT id, LPCOLESTR type);

private:
    struct Replacements;
    Replacements* m_replacements;
};

}

// Per-user registration: while on, registry scripts and type-library registration write the
// current user's classes instead of the machine's. Process-wide.
// AtlRegisterTypeLib registers the type library of the module's "TYPELIB" resource (lpszIndex
// null: resource 1) for the machine, or for the user while per-user registration is on;
// AtlUnRegisterTypeLib removes that registration again.
extern "C" {
HRESULT WINAPI AtlSetPerUserRegistration(bool bEnable);
HRESULT WINAPI AtlGetPerUserRegistration(bool* pbEnabled);
HRESULT WINAPI AtlRegisterTypeLib(HINSTANCE hInstTypeLib, LPCOLESTR lpszIndex);
HRESULT WINAPI AtlUnRegisterTypeLib(HINSTANCE hInstTypeLib, LPCOLESTR lpszIndex);
}

namespace ATL {

// --- Module identity and the object map ---------------------------------------------------------

}

extern "C" const char __ehdr_start[];

namespace ATL {

// The module this code was linked into (each module has its own).
inline HINSTANCE AtlCurrentModule()
{
    return reinterpret_cast<HINSTANCE>(const_cast<char*>(__ehdr_start));
}

class CAtlBaseModule {
public:
    HINSTANCE GetModuleInstance() const
    {
        return AtlCurrentModule();
    }
    HINSTANCE GetResourceInstance() const
    {
        return AtlCurrentModule();
    }
    // Set when the module object could not initialise (COM, its critical section).
    static inline bool m_bInitFailed = false;
};

__attribute__((visibility("hidden"))) inline CAtlBaseModule _AtlBaseModule;

typedef HRESULT(WINAPI _ATL_CREATORFUNC)(void* pv, REFIID riid, LPVOID* ppv);

// One creatable class of the module, listed by OBJECT_ENTRY_AUTO.
struct _ATL_OBJMAP_ENTRY {
    const CLSID* pclsid;
    HRESULT(WINAPI* pfnUpdateRegistry)(BOOL bRegister);
    _ATL_CREATORFUNC* pfnGetClassObject;
    _ATL_CREATORFUNC* pfnCreateInstance;
    IUnknown* pCF;
    DWORD dwRegister;
    _ATL_OBJMAP_ENTRY* pNext;

    // The class object, made on first use and kept until the module revokes or ends.
    HRESULT GetClassObject(REFIID riid, LPVOID* ppv)
    {
        if (!pCF) {
            HRESULT hr = pfnGetClassObject(
                reinterpret_cast<void*>(pfnCreateInstance), IID_IUnknown, reinterpret_cast<void**>(&pCF));
            if (FAILED(hr))
                return hr;
        }
        return pCF->QueryInterface(riid, ppv);
    }
    // A class object of its own for the class table, so that only references from outside the
    // table keep the module locked.
    HRESULT RegisterClassObject(DWORD context, DWORD flags)
    {
        IUnknown* factory = nullptr;
        HRESULT hr = pfnGetClassObject(
            reinterpret_cast<void*>(pfnCreateInstance), IID_IUnknown, reinterpret_cast<void**>(&factory));
        if (FAILED(hr))
            return hr;
        hr = CoRegisterClassObject(*pclsid, factory, context, flags, &dwRegister);
        factory->Release();
        return hr;
    }
    HRESULT RevokeClassObject()
    {
        if (!dwRegister)
            return S_OK;
        HRESULT hr = CoRevokeClassObject(dwRegister);
        dwRegister = 0;
        return hr;
    }
    void ReleaseClassObject()
    {
        if (IUnknown* factory = std::exchange(pCF, nullptr))
            factory->Release();
    }
};

// The head of this module's object map.
__attribute__((visibility("hidden"))) inline _ATL_OBJMAP_ENTRY* _AtlObjectMap = nullptr;

struct _ATL_OBJMAP_AUTO_ENTRY {
    _ATL_OBJMAP_ENTRY entry;
    explicit _ATL_OBJMAP_AUTO_ENTRY(_ATL_OBJMAP_ENTRY value)
        : entry(value)
    {
        // Appended, so the map keeps the order of the entries as the program's initialisation
        // meets them.
        _ATL_OBJMAP_ENTRY** tail = &_AtlObjectMap;
        while (*tail)
            tail = &(*tail)->pNext;
        *tail = &entry;
    }
};

#define OBJECT_ENTRY_AUTO(clsid, class)                                                                                \
    static ATL::_ATL_OBJMAP_AUTO_ENTRY __objMap_##class(                                                               \
        ATL::_ATL_OBJMAP_ENTRY { &clsid, class ::UpdateRegistry, class ::_ClassFactoryCreatorClass::CreateInstance,    \
            class ::_CreatorClass::CreateInstance, nullptr, 0, nullptr });

// --- Modules ------------------------------------------------------------------------------------

class CAtlModule;
__attribute__((visibility("hidden"))) inline CAtlModule* _pAtlModule = nullptr;

// The module base: the lock count that keeps a server alive, and registry scripts from the
// module's "REGISTRY" resources with the common replacements (%MODULE%: the module's path).
class CAtlModule {
public:
    CAtlModule()
    {
        _pAtlModule = this;
    }
    virtual ~CAtlModule()
    {
        if (_pAtlModule == this)
            _pAtlModule = nullptr;
    }
    CAtlModule(const CAtlModule&) = delete;
    CAtlModule& operator=(const CAtlModule&) = delete;

    virtual LONG Lock()
    {
        return CComGlobalsThreadModel::Increment(&m_nLockCnt);
    }
    virtual LONG Unlock()
    {
        return CComGlobalsThreadModel::Decrement(&m_nLockCnt);
    }
    virtual LONG GetLockCount()
    {
        return m_nLockCnt;
    }

    // Adds the replacements every script of the module may use; a module adds its own (%APPID%).
    virtual HRESULT AddCommonRGSReplacements(IRegistrarBase* pRegistrar)
    {
        WCHAR path[MAX_PATH];
        DWORD length
            = GetModuleFileNameW(reinterpret_cast<HMODULE>(_AtlBaseModule.GetModuleInstance()), path, MAX_PATH);
        if (length == 0 || length >= MAX_PATH)
            return E_FAIL;
        return pRegistrar->AddReplacement(OLESTR("MODULE"), path);
    }

    HRESULT UpdateRegistryFromResource(UINT nResID, BOOL bRegister, _ATL_REGMAP_ENTRY* pMapEntries = nullptr)
    {
        CRegObject registrar;
        HRESULT hr = AddCommonRGSReplacements(&registrar);
        if (FAILED(hr))
            return hr;
        for (_ATL_REGMAP_ENTRY* entry = pMapEntries; entry && entry->szKey; ++entry) {
            if (FAILED(hr = registrar.AddReplacement(entry->szKey, entry->szData)))
                return hr;
        }
        HINSTANCE module = _AtlBaseModule.GetResourceInstance();
        return bRegister ? registrar.ResourceRegister(module, nResID, OLESTR("REGISTRY"))
                         : registrar.ResourceUnregister(module, nResID, OLESTR("REGISTRY"));
    }
    HRESULT UpdateRegistryFromResourceS(UINT nResID, BOOL bRegister, _ATL_REGMAP_ENTRY* pMapEntries = nullptr)
    {
        return UpdateRegistryFromResource(nResID, bRegister, pMapEntries);
    }

    static inline GUID m_libid = GUID_NULL;
    LONG m_nLockCnt = 0;
};

// The module's class objects and its type library (resource "TYPELIB" 1 of the module).
template <class T> class CAtlModuleT : public CAtlModule {
public:
    CAtlModuleT()
    {
        T::InitLibId();
    }

    static void InitLibId()
    {
    }

    HRESULT RegisterServer(BOOL bRegTypeLib = FALSE, const CLSID* pCLSID = nullptr)
    {
        HRESULT hr = S_OK;
        if (bRegTypeLib && FAILED(hr = AtlRegisterTypeLib(_AtlBaseModule.GetModuleInstance(), nullptr)))
            return hr;
        for (_ATL_OBJMAP_ENTRY* entry = _AtlObjectMap; entry; entry = entry->pNext) {
            if (pCLSID && !IsEqualGUID(*pCLSID, *entry->pclsid))
                continue;
            if (FAILED(hr = entry->pfnUpdateRegistry(TRUE)))
                return hr;
        }
        return S_OK;
    }
    HRESULT UnregisterServer(BOOL bUnRegTypeLib, const CLSID* pCLSID = nullptr)
    {
        HRESULT hr = S_OK;
        for (_ATL_OBJMAP_ENTRY* entry = _AtlObjectMap; entry; entry = entry->pNext) {
            if (pCLSID && !IsEqualGUID(*pCLSID, *entry->pclsid))
                continue;
            if (FAILED(hr = entry->pfnUpdateRegistry(FALSE)))
                return hr;
        }
        if (bUnRegTypeLib)
            return AtlUnRegisterTypeLib(_AtlBaseModule.GetModuleInstance(), nullptr);
        return S_OK;
    }

    HRESULT RegisterAppId()
    {
        return T::UpdateRegistryAppId(TRUE);
    }
    HRESULT UnregisterAppId()
    {
        return T::UpdateRegistryAppId(FALSE);
    }
    static HRESULT WINAPI UpdateRegistryAppId(BOOL)
    {
        return S_OK;
    }

    // Registers (or revokes) the class object of every class in the module's object map.
    HRESULT RegisterClassObjects(DWORD dwClsContext, DWORD dwFlags)
    {
        for (_ATL_OBJMAP_ENTRY* entry = _AtlObjectMap; entry; entry = entry->pNext) {
            HRESULT hr = entry->RegisterClassObject(dwClsContext, dwFlags);
            if (FAILED(hr))
                return hr;
        }
        return S_OK;
    }
    HRESULT RevokeClassObjects()
    {
        HRESULT result = S_OK;
        for (_ATL_OBJMAP_ENTRY* entry = _AtlObjectMap; entry; entry = entry->pNext) {
            HRESULT hr = entry->RevokeClassObject();
            if (FAILED(hr) && SUCCEEDED(result))
                result = hr;
        }
        return result;
    }

    HRESULT GetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv)
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        for (_ATL_OBJMAP_ENTRY* entry = _AtlObjectMap; entry; entry = entry->pNext) {
            if (IsEqualGUID(rclsid, *entry->pclsid))
                return entry->GetClassObject(riid, ppv);
        }
        return CLASS_E_CLASSNOTAVAILABLE;
    }

    ~CAtlModuleT() override
    {
        for (_ATL_OBJMAP_ENTRY* entry = _AtlObjectMap; entry; entry = entry->pNext)
            entry->ReleaseClassObject();
    }
};

// An in-process server's module: DllGetClassObject, DllCanUnloadNow and the registration exports
// forward to it.
template <class T> class CAtlDllModuleT : public CAtlModuleT<T> {
public:
    HRESULT DllCanUnloadNow()
    {
        return this->GetLockCount() == 0 ? S_OK : S_FALSE;
    }
    HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv)
    {
        return this->GetClassObject(rclsid, riid, ppv);
    }
    HRESULT DllRegisterServer(BOOL bRegTypeLib = TRUE)
    {
        return this->RegisterServer(bRegTypeLib);
    }
    HRESULT DllUnregisterServer(BOOL bUnRegTypeLib = TRUE)
    {
        return this->UnregisterServer(bUnRegTypeLib);
    }
};

// An executable server's module. The constructor enters a single-threaded apartment for the main
// thread. WinMain reads the command line: "-" or "/" followed by RegServer, UnregServer,
// RegServerPerUser or UnregServerPerUser (any case, a whole word) registers or unregisters and
// returns that HRESULT; otherwise the server registers its class objects for local activation,
// runs the main thread's message loop until WM_QUIT, revokes them and returns the revocation's
// HRESULT. When the lock count falls to 0 the main thread is told to quit: at once with delayed
// shutdown off, otherwise after m_dwTimeOut milliseconds if nothing locked the module meanwhile.
template <class T> class CAtlExeModuleT : public CAtlModuleT<T> {
public:
    CAtlExeModuleT()
        : m_dwMainThreadID(GetCurrentThreadId())
    {
        if (FAILED(T::InitializeCom()))
            CAtlBaseModule::m_bInitFailed = true;
        else
            m_bComInitialized = true;
    }
    ~CAtlExeModuleT() override
    {
        if (m_bComInitialized)
            T::UninitializeCom();
    }

    static HRESULT InitializeCom()
    {
        return CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    }
    static void UninitializeCom()
    {
        CoUninitialize();
    }

    // The lock count reaching 0 ends a server once it serves: registering its class objects takes
    // and gives back a lock on the way, which must not end it before its first client came.
    LONG Unlock() override
    {
        LONG count = CAtlModuleT<T>::Unlock();
        if (count == 0 && m_bServing) {
            if (!m_bDelayShutdown)
                PostThreadMessageW(m_dwMainThreadID, WM_QUIT, 0, 0);
            else
                StartShutdownTimer();
        }
        return count;
    }

    int WinMain(int nShowCmd)
    {
        if (CAtlBaseModule::m_bInitFailed)
            return -1;
        T* module = static_cast<T*>(this);
        HRESULT hr = S_OK;
        if (module->ParseCommandLine(GetCommandLineW(), &hr))
            hr = module->Run(nShowCmd);
        return hr;
    }

    // True when the command line asks for no registration switch and the server is to run.
    bool ParseCommandLine(LPCWSTR lpCmdLine, HRESULT* pnRetCode)
    {
        T* module = static_cast<T*>(this);
        *pnRetCode = S_OK;
        for (LPCWSTR at = lpCmdLine; at && *at; ++at) {
            if (*at != u'-' && *at != u'/')
                continue;
            LPCWSTR word = at + 1;
            if (IsSwitch(word, u"RegServer")) {
                *pnRetCode = RegisterEverything(module);
                return false;
            }
            if (IsSwitch(word, u"UnregServer")) {
                *pnRetCode = UnregisterEverything(module);
                return false;
            }
            if (IsSwitch(word, u"RegServerPerUser")) {
                AtlSetPerUserRegistration(true);
                *pnRetCode = RegisterEverything(module);
                return false;
            }
            if (IsSwitch(word, u"UnregServerPerUser")) {
                AtlSetPerUserRegistration(true);
                *pnRetCode = UnregisterEverything(module);
                return false;
            }
        }
        return true;
    }

    HRESULT Run(int nShowCmd = 1)
    {
        T* module = static_cast<T*>(this);
        HRESULT hr = module->PreMessageLoop(nShowCmd);
        if (FAILED(hr))
            return hr;
        module->RunMessageLoop();
        return module->PostMessageLoop();
    }
    HRESULT PreMessageLoop(int)
    {
        HRESULT hr = this->RegisterClassObjects(CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE | REGCLS_SUSPENDED);
        if (FAILED(hr)) {
            this->RevokeClassObjects();
            return hr;
        }
        m_bServing = true;
        return CoResumeClassObjects();
    }
    HRESULT PostMessageLoop()
    {
        return this->RevokeClassObjects();
    }
    void RunMessageLoop()
    {
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }

    DWORD m_dwMainThreadID;
    bool m_bDelayShutdown = true;
    DWORD m_dwTimeOut = 5000;
    DWORD m_dwPause = 1000;

private:
    static bool IsSwitch(LPCWSTR word, const char16_t* name)
    {
        for (; *name; ++word, ++name) {
            char16_t c = *word;
            if (c >= u'A' && c <= u'Z')
                c = static_cast<char16_t>(c - u'A' + u'a');
            char16_t n = *name;
            if (n >= u'A' && n <= u'Z')
                n = static_cast<char16_t>(n - u'A' + u'a');
            if (c != n)
                return false;
        }
        return *word == 0 || *word == u' ' || *word == u'\t';
    }
    static HRESULT RegisterEverything(T* module)
    {
        HRESULT hr = module->RegisterAppId();
        return SUCCEEDED(hr) ? module->RegisterServer(TRUE) : hr;
    }
    static HRESULT UnregisterEverything(T* module)
    {
        HRESULT hr = module->UnregisterServer(TRUE);
        return SUCCEEDED(hr) ? module->UnregisterAppId() : hr;
    }

    // Delayed shutdown: quit when the lock count is still 0 after the time-out.
    void StartShutdownTimer()
    {
        HANDLE thread = CreateThread(
            nullptr, 0,
            [](LPVOID self) -> DWORD {
                auto* module = static_cast<CAtlExeModuleT*>(self);
                Sleep(module->m_dwTimeOut);
                if (module->GetLockCount() == 0)
                    PostThreadMessageW(module->m_dwMainThreadID, WM_QUIT, 0, 0);
                return 0;
            },
            this, 0, nullptr);
        if (thread)
            CloseHandle(thread);
    }

    bool m_bComInitialized = false;
    bool m_bServing = false;
};

#define DECLARE_LIBID(libid)                                                                                           \
    static void InitLibId()                                                                                            \
    {                                                                                                                  \
        ATL::CAtlModule::m_libid = libid;                                                                              \
    }

#define DECLARE_REGISTRY_APPID_RESOURCEID(resid, appid)                                                                \
    static LPCOLESTR GetAppId()                                                                                        \
    {                                                                                                                  \
        return OLESTR(appid);                                                                                          \
    }                                                                                                                  \
    static HRESULT WINAPI UpdateRegistryAppId(BOOL bRegister)                                                          \
    {                                                                                                                  \
        ATL::_ATL_REGMAP_ENTRY entries[] = { { OLESTR("APPID"), GetAppId() }, { nullptr, nullptr } };                  \
        return ATL::_pAtlModule->UpdateRegistryFromResource(resid, bRegister, entries);                                \
    }

#define DECLARE_REGISTRY_RESOURCEID(resid)                                                                             \
    static HRESULT WINAPI UpdateRegistry(BOOL bRegister)                                                               \
    {                                                                                                                  \
        return ATL::_pAtlModule->UpdateRegistryFromResource(resid, bRegister);                                         \
    }

#define DECLARE_NO_REGISTRY()                                                                                          \
    static HRESULT WINAPI UpdateRegistry(BOOL)                                                                         \
    {                                                                                                                  \
        return S_OK;                                                                                                   \
    }

}

#ifndef _ATL_NO_AUTOMATIC_NAMESPACE
using namespace ATL;
#endif
