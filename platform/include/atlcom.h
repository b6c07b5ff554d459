// ATL COM objects: object roots for both threading models, interface maps, CComObject,
// CComAggObject, creators, class factories, CComCoClass, IDispatchImpl over a registered type
// library, and connection points (IConnectionPointContainerImpl, IConnectionPointImpl).
//
// Interface maps (BEGIN_COM_MAP ... END_COM_MAP) are searched in order by QueryInterface:
// a null out pointer gives E_POINTER, otherwise the out value is cleared first; IID_IUnknown is
// answered with the first entry's interface (which must be a plain entry); an entry with an
// interface identifier is looked at only for that identifier, an entry without one (a chain,
// COM_INTERFACE_ENTRY_FUNC_BLIND) for every request; a plain entry answers at once with one added
// reference; a function or chain entry answers when it gives S_OK, a failing entry with an
// identifier ends the search with its failure, a failing entry without one lets it go on; after
// the last entry the answer is E_NOINTERFACE. Objects of one class are used on the threads their
// threading model allows; nothing here throws.
#pragma once

#include "atlbase.h"
#include "ocidl.h"

#include <atomic>
#include <mutex>
#include <new>
#include <vector>

namespace ATL {

typedef HRESULT(WINAPI _ATL_CREATORARGFUNC)(void* pv, REFIID riid, LPVOID* ppv, DWORD_PTR dw);

struct _ATL_INTMAP_ENTRY {
    const IID* piid; // null: looked at for every request
    DWORD_PTR dw;
    _ATL_CREATORARGFUNC* pFunc; // _ATL_SIMPLEMAPENTRY: dw is the interface's offset in the object
};

#define _ATL_SIMPLEMAPENTRY ((ATL::_ATL_CREATORARGFUNC*)1)

// The offset of a base class inside a derived class.
#define offsetofclass(base, derived) ((DWORD_PTR)(static_cast<base*>((derived*)8)) - 8)

struct _ATL_CHAINDATA {
    DWORD_PTR dwOffset;
    const _ATL_INTMAP_ENTRY*(WINAPI* pFunc)();
};

template <class Base, class Derived> struct _CComChainData {
    static inline _ATL_CHAINDATA data = { offsetofclass(Base, Derived), Base::_GetEntries };
};

// The map search described at the top of this header.
inline HRESULT AtlInternalQueryInterface(void* pThis, const _ATL_INTMAP_ENTRY* pEntries, REFIID iid, void** ppvObject)
{
    if (!ppvObject)
        return E_POINTER;
    *ppvObject = nullptr;
    if (IsEqualGUID(iid, IID_IUnknown)) {
        auto* unknown = reinterpret_cast<IUnknown*>(reinterpret_cast<DWORD_PTR>(pThis) + pEntries->dw);
        unknown->AddRef();
        *ppvObject = unknown;
        return S_OK;
    }
    for (; pEntries->pFunc; ++pEntries) {
        bool blind = pEntries->piid == nullptr;
        if (!blind && !IsEqualGUID(iid, *pEntries->piid))
            continue;
        if (pEntries->pFunc == _ATL_SIMPLEMAPENTRY) {
            auto* unknown = reinterpret_cast<IUnknown*>(reinterpret_cast<DWORD_PTR>(pThis) + pEntries->dw);
            unknown->AddRef();
            *ppvObject = unknown;
            return S_OK;
        }
        HRESULT hr = pEntries->pFunc(pThis, iid, ppvObject, pEntries->dw);
        if (hr == S_OK)
            return S_OK;
        if (!blind && FAILED(hr))
            return hr;
    }
    return E_NOINTERFACE;
}

// --- Object roots -------------------------------------------------------------------------------

class CComObjectRootBase {
public:
    CComObjectRootBase()
        : m_dwRef(0)
    {
    }

    HRESULT FinalConstruct()
    {
        return S_OK;
    }
    void FinalRelease()
    {
    }
    HRESULT _AtlInitialConstruct()
    {
        return S_OK;
    }
    HRESULT _AtlFinalConstruct()
    {
        return S_OK;
    }
    void _AtlFinalRelease()
    {
    }
    void SetVoid(void*)
    {
    }
    void InternalFinalConstructAddRef()
    {
    }
    void InternalFinalConstructRelease()
    {
    }
    static void WINAPI ObjectMain(bool)
    {
    }

    static HRESULT WINAPI InternalQueryInterface(
        void* pThis, const _ATL_INTMAP_ENTRY* pEntries, REFIID iid, void** ppvObject)
    {
        return AtlInternalQueryInterface(pThis, pEntries, iid, ppvObject);
    }

    // An aggregated object's IUnknown calls go to its outer object.
    ULONG OuterAddRef()
    {
        return m_pOuterUnknown->AddRef();
    }
    ULONG OuterRelease()
    {
        return m_pOuterUnknown->Release();
    }
    HRESULT OuterQueryInterface(REFIID iid, void** ppvObject)
    {
        return m_pOuterUnknown->QueryInterface(iid, ppvObject);
    }

    // COM_INTERFACE_ENTRY_CHAIN: the search goes on in a base class's map.
    static HRESULT WINAPI _Chain(void* pv, REFIID iid, void** ppvObject, DWORD_PTR dw)
    {
        auto* chain = reinterpret_cast<_ATL_CHAINDATA*>(dw);
        void* base = reinterpret_cast<void*>(reinterpret_cast<DWORD_PTR>(pv) + chain->dwOffset);
        return InternalQueryInterface(base, chain->pFunc(), iid, ppvObject);
    }
    // COM_INTERFACE_ENTRY_AGGREGATE: an inner object held in a member answers.
    static HRESULT WINAPI _Delegate(void* pv, REFIID iid, void** ppvObject, DWORD_PTR dw)
    {
        auto* inner = *reinterpret_cast<IUnknown**>(reinterpret_cast<DWORD_PTR>(pv) + dw);
        return inner ? inner->QueryInterface(iid, ppvObject) : E_NOINTERFACE;
    }

    union {
        LONG m_dwRef;
        IUnknown* m_pOuterUnknown;
    };
};

template <class ThreadModel> class CComObjectRootEx : public CComObjectRootBase {
public:
    typedef ThreadModel _ThreadModel;
    typedef typename ThreadModel::AutoCriticalSection _CritSec;

    ULONG InternalAddRef()
    {
        return ThreadModel::Increment(&m_dwRef);
    }
    ULONG InternalRelease()
    {
        return ThreadModel::Decrement(&m_dwRef);
    }
    void Lock()
    {
        m_critsec.Lock();
    }
    void Unlock()
    {
        m_critsec.Unlock();
    }

private:
    _CritSec m_critsec;
};

typedef CComObjectRootEx<CComObjectThreadModel> CComObjectRoot;

#define BEGIN_COM_MAP(x)                                                                                               \
public:                                                                                                                \
    typedef x _ComMapClass;                                                                                            \
    IUnknown* _GetRawUnknown()                                                                                         \
    {                                                                                                                  \
        return reinterpret_cast<IUnknown*>(reinterpret_cast<DWORD_PTR>(this) + _GetEntries()->dw);                     \
    }                                                                                                                  \
    IUnknown* GetUnknown()                                                                                             \
    {                                                                                                                  \
        return _GetRawUnknown();                                                                                       \
    }                                                                                                                  \
    HRESULT _InternalQueryInterface(REFIID iid, void** ppvObject)                                                      \
    {                                                                                                                  \
        return ATL::AtlInternalQueryInterface(this, _GetEntries(), iid, ppvObject);                                    \
    }                                                                                                                  \
    static const ATL::_ATL_INTMAP_ENTRY* WINAPI _GetEntries()                                                          \
    {                                                                                                                  \
        static const ATL::_ATL_INTMAP_ENTRY _entries[] = {

#define COM_INTERFACE_ENTRY(x) { &IidOf<x>(), offsetofclass(x, _ComMapClass), _ATL_SIMPLEMAPENTRY },
#define COM_INTERFACE_ENTRY_IID(iid, x) { &iid, offsetofclass(x, _ComMapClass), _ATL_SIMPLEMAPENTRY },
// x reached through its base x2, for an interface that several bases derive from.
#define COM_INTERFACE_ENTRY2(x, x2)                                                                                    \
    { &IidOf<x>(), (DWORD_PTR)(static_cast<x*>(static_cast<x2*>((_ComMapClass*)8))) - 8, _ATL_SIMPLEMAPENTRY },
#define COM_INTERFACE_ENTRY2_IID(iid, x, x2)                                                                           \
    { &iid, (DWORD_PTR)(static_cast<x*>(static_cast<x2*>((_ComMapClass*)8))) - 8, _ATL_SIMPLEMAPENTRY },
#define COM_INTERFACE_ENTRY_FUNC(iid, dw, func) { &iid, dw, func },
#define COM_INTERFACE_ENTRY_FUNC_BLIND(dw, func) { nullptr, dw, func },
#define COM_INTERFACE_ENTRY_CHAIN(classname)                                                                           \
    { nullptr, (DWORD_PTR)&ATL::_CComChainData<classname, _ComMapClass>::data, _Chain },
#define COM_INTERFACE_ENTRY_AGGREGATE(iid, punk) { &iid, (DWORD_PTR)offsetof(_ComMapClass, punk), _Delegate },

#define END_COM_MAP()                                                                                                  \
    {                                                                                                                  \
        nullptr, 0, nullptr                                                                                            \
    }                                                                                                                  \
    }                                                                                                                  \
    ;                                                                                                                  \
    return _entries;                                                                                                   \
    }                                                                                                                  \
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;                                                                      \
    virtual ULONG STDMETHODCALLTYPE Release() = 0;                                                                     \
    STDMETHOD(QueryInterface)(REFIID, void**) = 0;

// --- Objects ------------------------------------------------------------------------------------

inline void AtlModuleLock()
{
    if (_pAtlModule)
        _pAtlModule->Lock();
}

inline void AtlModuleUnlock()
{
    if (_pAtlModule)
        _pAtlModule->Unlock();
}

// Runs a new object's construction steps in order; on failure the caller deletes it.
template <class Object> HRESULT AtlConstructObject(Object* object, void* pv)
{
    object->SetVoid(pv);
    object->InternalFinalConstructAddRef();
    HRESULT hr = object->_AtlInitialConstruct();
    if (SUCCEEDED(hr))
        hr = object->FinalConstruct();
    if (SUCCEEDED(hr))
        hr = object->_AtlFinalConstruct();
    object->InternalFinalConstructRelease();
    return hr;
}

// A plain object: counts its own references, locks the module while it lives, and runs
// FinalRelease when the last reference goes, before it is deleted.
template <class Base> class CComObject final : public Base {
public:
    typedef Base _BaseClass;
    explicit CComObject(void* = nullptr)
    {
        AtlModuleLock();
    }
    ~CComObject()
    {
        // A reference count no release can bring to 0 again, while FinalRelease runs.
        this->m_dwRef = -(0x7FFFFFFF / 2);
        this->FinalRelease();
        AtlModuleUnlock();
    }
    STDMETHOD_(ULONG, AddRef)() override
    {
        return this->InternalAddRef();
    }
    STDMETHOD_(ULONG, Release)() override
    {
        ULONG count = this->InternalRelease();
        if (count == 0)
            delete this;
        return count;
    }
    STDMETHOD(QueryInterface)(REFIID iid, void** ppvObject) override
    {
        return this->_InternalQueryInterface(iid, ppvObject);
    }
    template <class Q> HRESULT QueryInterface(Q** pp)
    {
        return QueryInterface(IidOf<Q>(), reinterpret_cast<void**>(pp));
    }

    // A new object with a reference count of 0, FinalConstruct done.
    static HRESULT WINAPI CreateInstance(CComObject<Base>** pp)
    {
        if (!pp)
            return E_POINTER;
        *pp = nullptr;
        auto* object = new (std::nothrow) CComObject<Base>();
        if (!object)
            return E_OUTOFMEMORY;
        HRESULT hr = AtlConstructObject(object, nullptr);
        if (FAILED(hr)) {
            delete object;
            return hr;
        }
        *pp = object;
        return S_OK;
    }
};

// The inner part of an aggregated object: its interfaces' IUnknown calls go to the outer object.
template <class Base> class CComContainedObject : public Base {
public:
    typedef Base _BaseClass;
    explicit CComContainedObject(void* pv)
    {
        this->m_pOuterUnknown = static_cast<IUnknown*>(pv);
    }
    STDMETHOD_(ULONG, AddRef)() override
    {
        return this->OuterAddRef();
    }
    STDMETHOD_(ULONG, Release)() override
    {
        return this->OuterRelease();
    }
    STDMETHOD(QueryInterface)(REFIID iid, void** ppvObject) override
    {
        return this->OuterQueryInterface(iid, ppvObject);
    }
    IUnknown* GetControllingUnknown()
    {
        return this->m_pOuterUnknown;
    }
};

// An aggregated object: its own IUnknown (the inner one the outer object holds) counts the
// references; every other interface belongs to the outer object's identity.
template <class Contained>
class CComAggObject final : public IUnknown,
                            public CComObjectRootEx<typename Contained::_ThreadModel::ThreadModelNoCS> {
public:
    typedef Contained _BaseClass;
    explicit CComAggObject(void* pv)
        : m_contained(pv)
    {
        AtlModuleLock();
    }
    ~CComAggObject()
    {
        this->m_dwRef = -(0x7FFFFFFF / 2);
        FinalRelease();
        AtlModuleUnlock();
    }

    HRESULT _AtlInitialConstruct()
    {
        return m_contained._AtlInitialConstruct();
    }
    HRESULT FinalConstruct()
    {
        // The inner object may hand out and drop references to itself while it constructs.
        this->InternalAddRef();
        HRESULT hr = m_contained.FinalConstruct();
        if (SUCCEEDED(hr))
            hr = m_contained._AtlFinalConstruct();
        this->InternalRelease();
        return hr;
    }
    void FinalRelease()
    {
        m_contained.FinalRelease();
        m_contained._AtlFinalRelease();
    }

    STDMETHOD_(ULONG, AddRef)() override
    {
        return this->InternalAddRef();
    }
    STDMETHOD_(ULONG, Release)() override
    {
        ULONG count = this->InternalRelease();
        if (count == 0)
            delete this;
        return count;
    }
    STDMETHOD(QueryInterface)(REFIID iid, void** ppvObject) override
    {
        if (!ppvObject)
            return E_POINTER;
        *ppvObject = nullptr;
        if (IsEqualGUID(iid, IID_IUnknown)) {
            *ppvObject = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return m_contained._InternalQueryInterface(iid, ppvObject);
    }

    static HRESULT WINAPI CreateInstance(LPUNKNOWN pUnkOuter, CComAggObject<Contained>** pp)
    {
        if (!pp)
            return E_POINTER;
        *pp = nullptr;
        if (!pUnkOuter)
            return CLASS_E_NOAGGREGATION;
        auto* object = new (std::nothrow) CComAggObject<Contained>(pUnkOuter);
        if (!object)
            return E_OUTOFMEMORY;
        HRESULT hr = AtlConstructObject(object, pUnkOuter);
        if (FAILED(hr)) {
            delete object;
            return hr;
        }
        *pp = object;
        return S_OK;
    }

    CComContainedObject<Contained> m_contained;
};

// A class factory object: it keeps the module locked only while someone besides the module
// holds it, so a registered class object does not keep its server alive.
template <class Base> class CComObjectCached final : public Base {
public:
    typedef Base _BaseClass;
    explicit CComObjectCached(void* = nullptr)
    {
    }
    ~CComObjectCached()
    {
        this->m_dwRef = -(0x7FFFFFFF / 2);
        this->FinalRelease();
    }
    STDMETHOD_(ULONG, AddRef)() override
    {
        ULONG count = this->InternalAddRef();
        if (count == 2)
            AtlModuleLock();
        return count;
    }
    STDMETHOD_(ULONG, Release)() override
    {
        ULONG count = this->InternalRelease();
        if (count == 0)
            delete this;
        else if (count == 1)
            AtlModuleUnlock();
        return count;
    }
    STDMETHOD(QueryInterface)(REFIID iid, void** ppvObject) override
    {
        return this->_InternalQueryInterface(iid, ppvObject);
    }
};

// --- Creators and class factories -------------------------------------------------------------

template <class T1> class CComCreator {
public:
    static HRESULT WINAPI CreateInstance(void* pv, REFIID riid, LPVOID* ppv)
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        auto* object = new (std::nothrow) T1(pv);
        if (!object)
            return E_OUTOFMEMORY;
        HRESULT hr = AtlConstructObject(object, pv);
        if (SUCCEEDED(hr))
            hr = object->QueryInterface(riid, ppv);
        if (FAILED(hr))
            delete object;
        return hr;
    }
};

template <HRESULT hr> class CComFailCreator {
public:
    static HRESULT WINAPI CreateInstance(void*, REFIID, LPVOID* ppv)
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        return hr;
    }
};

// T1 creates plain objects (no outer object), T2 aggregated ones.
template <class T1, class T2> class CComCreator2 {
public:
    static HRESULT WINAPI CreateInstance(void* pv, REFIID riid, LPVOID* ppv)
    {
        return pv ? T2::CreateInstance(pv, riid, ppv) : T1::CreateInstance(nullptr, riid, ppv);
    }
};

class CComClassFactory : public IClassFactory, public CComObjectRootEx<CComGlobalsThreadModel> {
public:
    BEGIN_COM_MAP(CComClassFactory)
    COM_INTERFACE_ENTRY(IClassFactory)
    END_COM_MAP()

    STDMETHOD(CreateInstance)(LPUNKNOWN pUnkOuter, REFIID riid, void** ppvObj) override
    {
        if (!ppvObj)
            return E_POINTER;
        *ppvObj = nullptr;
        // An aggregated object must be asked for its inner IUnknown.
        if (pUnkOuter && !IsEqualGUID(riid, IID_IUnknown))
            return CLASS_E_NOAGGREGATION;
        return m_pfnCreateInstance(pUnkOuter, riid, ppvObj);
    }
    STDMETHOD(LockServer)(BOOL fLock) override
    {
        fLock ? AtlModuleLock() : AtlModuleUnlock();
        return S_OK;
    }
    void SetVoid(void* pv)
    {
        m_pfnCreateInstance = reinterpret_cast<_ATL_CREATORFUNC*>(pv);
    }

    _ATL_CREATORFUNC* m_pfnCreateInstance = nullptr;
};

#define DECLARE_CLASSFACTORY_EX(cf) typedef ATL::CComCreator<ATL::CComObjectCached<cf>> _ClassFactoryCreatorClass;
#define DECLARE_CLASSFACTORY() DECLARE_CLASSFACTORY_EX(ATL::CComClassFactory)

#define DECLARE_AGGREGATABLE(x)                                                                                        \
public:                                                                                                                \
    typedef ATL::CComCreator2<ATL::CComCreator<ATL::CComObject<x>>, ATL::CComCreator<ATL::CComAggObject<x>>>           \
        _CreatorClass;
#define DECLARE_NOT_AGGREGATABLE(x)                                                                                    \
public:                                                                                                                \
    typedef ATL::CComCreator2<ATL::CComCreator<ATL::CComObject<x>>, ATL::CComFailCreator<CLASS_E_NOAGGREGATION>>       \
        _CreatorClass;
#define DECLARE_ONLY_AGGREGATABLE(x)                                                                                   \
public:                                                                                                                \
    typedef ATL::CComCreator2<ATL::CComFailCreator<E_FAIL>, ATL::CComCreator<ATL::CComAggObject<x>>> _CreatorClass;

#define DECLARE_PROTECT_FINAL_CONSTRUCT()                                                                              \
    void InternalFinalConstructAddRef()                                                                                \
    {                                                                                                                  \
        InternalAddRef();                                                                                              \
    }                                                                                                                  \
    void InternalFinalConstructRelease()                                                                               \
    {                                                                                                                  \
        InternalRelease();                                                                                             \
    }

// A creatable class: its class factory, its creators (plain or aggregated) and its CLSID.
template <class T, const CLSID* pclsid = &CLSID_NULL> class CComCoClass {
public:
    DECLARE_CLASSFACTORY()
    DECLARE_AGGREGATABLE(T)
    static const CLSID& WINAPI GetObjectCLSID()
    {
        return *pclsid;
    }
    template <class Q> static HRESULT CreateInstance(IUnknown* pUnkOuter, Q** pp)
    {
        return T::_CreatorClass::CreateInstance(pUnkOuter, IidOf<Q>(), reinterpret_cast<void**>(pp));
    }
    template <class Q> static HRESULT CreateInstance(Q** pp)
    {
        return T::_CreatorClass::CreateInstance(nullptr, IidOf<Q>(), reinterpret_cast<void**>(pp));
    }
};

// --- IDispatch over a type library ------------------------------------------------------------

// The type information of one interface, loaded from its registered type library on first use.
class CComTypeInfoHolder {
public:
    HRESULT GetTI(LCID lcid, ITypeInfo** ppInfo)
    {
        if (!ppInfo)
            return E_POINTER;
        *ppInfo = nullptr;
        std::lock_guard lock(m_lock);
        if (!m_pInfo) {
            ITypeLib* library = nullptr;
            HRESULT hr = LoadRegTypeLib(*m_plibid, m_wMajor, m_wMinor, lcid, &library);
            if (FAILED(hr))
                return hr;
            hr = library->GetTypeInfoOfGuid(*m_pguid, &m_pInfo);
            library->Release();
            if (FAILED(hr))
                return hr;
        }
        m_pInfo->AddRef();
        *ppInfo = m_pInfo;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT itinfo, LCID lcid, ITypeInfo** pptinfo)
    {
        if (!pptinfo)
            return E_POINTER;
        *pptinfo = nullptr;
        if (itinfo != 0)
            return DISP_E_BADINDEX;
        return GetTI(lcid, pptinfo);
    }
    HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgdispid)
    {
        if (!IsEqualGUID(riid, IID_NULL))
            return DISP_E_UNKNOWNINTERFACE;
        CComPtr<ITypeInfo> info;
        HRESULT hr = GetTI(lcid, &info);
        return FAILED(hr) ? hr : info->GetIDsOfNames(rgszNames, cNames, rgdispid);
    }
    HRESULT Invoke(IDispatch* p, DISPID dispidMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pdispparams,
        VARIANT* pvarResult, EXCEPINFO* pexcepinfo, UINT* puArgErr)
    {
        if (!IsEqualGUID(riid, IID_NULL))
            return DISP_E_UNKNOWNINTERFACE;
        CComPtr<ITypeInfo> info;
        HRESULT hr = GetTI(lcid, &info);
        return FAILED(hr) ? hr : info->Invoke(p, dispidMember, wFlags, pdispparams, pvarResult, pexcepinfo, puArgErr);
    }

    const GUID* m_pguid;
    const GUID* m_plibid;
    WORD m_wMajor;
    WORD m_wMinor;
    ITypeInfo* m_pInfo = nullptr; // kept for the process's life
    std::mutex m_lock;
};

// A dual interface T whose IDispatch part comes from the type library registered as plibid.
// A class may replace Invoke (or any other method) with its own.
template <class T, const IID* piid = &IidOf<T>(), const GUID* plibid = &CAtlModule::m_libid, WORD wMajor = 1,
    WORD wMinor = 0, class tihclass = CComTypeInfoHolder>
class IDispatchImpl : public T {
public:
    STDMETHOD(GetTypeInfoCount)(UINT* pctinfo) override
    {
        if (!pctinfo)
            return E_POINTER;
        *pctinfo = 1;
        return S_OK;
    }
    STDMETHOD(GetTypeInfo)(UINT itinfo, LCID lcid, ITypeInfo** pptinfo) override
    {
        return _tih.GetTypeInfo(itinfo, lcid, pptinfo);
    }
    STDMETHOD(GetIDsOfNames)(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgdispid) override
    {
        return _tih.GetIDsOfNames(riid, rgszNames, cNames, lcid, rgdispid);
    }
    STDMETHOD(Invoke)
    (DISPID dispidMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pdispparams, VARIANT* pvarResult,
        EXCEPINFO* pexcepinfo, UINT* puArgErr) override
    {
        return _tih.Invoke(static_cast<IDispatch*>(this), dispidMember, riid, lcid, wFlags, pdispparams, pvarResult,
            pexcepinfo, puArgErr);
    }

    static inline tihclass _tih { piid, plibid, wMajor, wMinor, nullptr, {} };
};

// --- Connection points --------------------------------------------------------------------------

// A snapshot enumerator over copies of items (connections or connection points), each holding
// its own reference.
template <class Enum, class Item> class CComEnumSnapshot final : public Enum {
public:
    explicit CComEnumSnapshot(std::vector<Item> items)
        : m_items(std::move(items))
    {
        for (Item& item : m_items)
            Reference(item)->AddRef();
    }
    ~CComEnumSnapshot()
    {
        for (Item& item : m_items)
            Reference(item)->Release();
    }
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IidOf<Enum>())) {
            *ppv = static_cast<Enum*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() override
    {
        return ++m_refs;
    }
    STDMETHOD_(ULONG, Release)() override
    {
        ULONG count = --m_refs;
        if (count == 0)
            delete this;
        return count;
    }
    STDMETHOD(Next)(ULONG celt, Item* rgelt, ULONG* pceltFetched) override
    {
        if (!rgelt || (celt != 1 && !pceltFetched))
            return E_POINTER;
        ULONG fetched = 0;
        for (; fetched < celt && m_position < m_items.size(); ++fetched, ++m_position) {
            rgelt[fetched] = m_items[m_position];
            Reference(rgelt[fetched])->AddRef();
        }
        if (pceltFetched)
            *pceltFetched = fetched;
        return fetched == celt ? S_OK : S_FALSE;
    }
    STDMETHOD(Skip)(ULONG celt) override
    {
        size_t left = m_items.size() - m_position;
        m_position += celt < left ? celt : left;
        return celt <= left ? S_OK : S_FALSE;
    }
    STDMETHOD(Reset)() override
    {
        m_position = 0;
        return S_OK;
    }
    STDMETHOD(Clone)(Enum** ppEnum) override
    {
        if (!ppEnum)
            return E_POINTER;
        auto* copy = new (std::nothrow) CComEnumSnapshot(m_items);
        if (!copy) {
            *ppEnum = nullptr;
            return E_OUTOFMEMORY;
        }
        copy->m_position = m_position;
        copy->AddRef();
        *ppEnum = copy;
        return S_OK;
    }

    static HRESULT Create(std::vector<Item> items, Enum** ppEnum)
    {
        if (!ppEnum)
            return E_POINTER;
        auto* snapshot = new (std::nothrow) CComEnumSnapshot(std::move(items));
        *ppEnum = snapshot;
        if (!snapshot)
            return E_OUTOFMEMORY;
        snapshot->AddRef();
        return S_OK;
    }

private:
    static IUnknown* Reference(const CONNECTDATA& item)
    {
        return item.pUnk;
    }
    static IUnknown* Reference(IConnectionPoint* item)
    {
        return item;
    }

    std::vector<Item> m_items;
    size_t m_position = 0;
    std::atomic<ULONG> m_refs { 0 };
};

// The growable sink array of a connection point: an advise cookie is the sink's 1-based slot;
// a freed slot is reused by the next Advise.
class CComDynamicUnkArray {
public:
    CComDynamicUnkArray() = default;
    CComDynamicUnkArray(const CComDynamicUnkArray&) = delete;
    CComDynamicUnkArray& operator=(const CComDynamicUnkArray&) = delete;

    // The new cookie, or 0 when no slot could be made.
    DWORD Add(IUnknown* pUnk)
    {
        for (size_t i = 0; i < m_slots.size(); ++i) {
            if (!m_slots[i]) {
                m_slots[i] = pUnk;
                return static_cast<DWORD>(i + 1);
            }
        }
        if (m_slots.size() >= kMaxSinks)
            return 0;
        m_slots.push_back(pUnk);
        return static_cast<DWORD>(m_slots.size());
    }
    BOOL Remove(DWORD dwCookie)
    {
        if (dwCookie == 0 || dwCookie > m_slots.size() || !m_slots[dwCookie - 1])
            return FALSE;
        m_slots[dwCookie - 1] = nullptr;
        return TRUE;
    }
    IUnknown* GetUnknown(DWORD dwCookie) const
    {
        return (dwCookie == 0 || dwCookie > m_slots.size()) ? nullptr : m_slots[dwCookie - 1];
    }
    int GetSize() const
    {
        return static_cast<int>(m_slots.size());
    }
    IUnknown* GetAt(int index) const
    {
        return m_slots[static_cast<size_t>(index)];
    }
    IUnknown** begin()
    {
        return m_slots.data();
    }
    IUnknown** end()
    {
        return m_slots.data() + m_slots.size();
    }

private:
    // The most sinks one connection point takes, so that a client cannot grow it without end.
    static constexpr size_t kMaxSinks = 65536;
    std::vector<IUnknown*> m_slots;
};

// The connection point's own identity: its first three table slots are an IUnknown whose
// AddRef and Release are the containing object's and whose QueryInterface is its own.
template <const IID* piid> class _ICPLocator {
public:
    STDMETHOD(_LocCPQueryInterface)(REFIID riid, void** ppvObject) PURE;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;
};

// One connection point of T for the event interface *piid. Its function table is that of
// IConnectionPoint. The sinks are held in CDV under the object's lock.
template <class T, const IID* piid, class CDV = CComDynamicUnkArray>
class IConnectionPointImpl : public _ICPLocator<piid> {
public:
    STDMETHOD(_LocCPQueryInterface)(REFIID riid, void** ppvObject) override
    {
        if (!ppvObject)
            return E_POINTER;
        *ppvObject = nullptr;
        if (IsEqualGUID(riid, IID_IConnectionPoint) || IsEqualGUID(riid, IID_IUnknown)) {
            *ppvObject = this;
            this->AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    STDMETHOD(GetConnectionInterface)(IID* piid2)
    {
        if (!piid2)
            return E_POINTER;
        *piid2 = *piid;
        return S_OK;
    }
    STDMETHOD(GetConnectionPointContainer)(IConnectionPointContainer** ppCPC)
    {
        if (!ppCPC)
            return E_POINTER;
        return static_cast<T*>(this)->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(ppCPC));
    }
    STDMETHOD(Advise)(IUnknown* pUnkSink, DWORD* pdwCookie)
    {
        if (!pdwCookie)
            return E_POINTER;
        *pdwCookie = 0;
        if (!pUnkSink)
            return E_POINTER;
        IUnknown* sink = nullptr;
        if (FAILED(pUnkSink->QueryInterface(*piid, reinterpret_cast<void**>(&sink))))
            return CONNECT_E_CANNOTCONNECT;
        T* object = static_cast<T*>(this);
        object->Lock();
        DWORD cookie = m_vec.Add(sink);
        object->Unlock();
        if (cookie == 0) {
            sink->Release();
            return CONNECT_E_ADVISELIMIT;
        }
        *pdwCookie = cookie;
        return S_OK;
    }
    STDMETHOD(Unadvise)(DWORD dwCookie)
    {
        T* object = static_cast<T*>(this);
        object->Lock();
        IUnknown* sink = m_vec.GetUnknown(dwCookie);
        bool removed = m_vec.Remove(dwCookie);
        object->Unlock();
        if (!removed)
            return CONNECT_E_NOCONNECTION;
        sink->Release();
        return S_OK;
    }
    STDMETHOD(EnumConnections)(IEnumConnections** ppEnum)
    {
        if (!ppEnum)
            return E_POINTER;
        *ppEnum = nullptr;
        std::vector<CONNECTDATA> connections;
        T* object = static_cast<T*>(this);
        object->Lock();
        for (int i = 0; i < m_vec.GetSize(); ++i) {
            if (IUnknown* sink = m_vec.GetAt(i))
                connections.push_back(CONNECTDATA { sink, static_cast<DWORD>(i + 1) });
        }
        // The snapshot takes its references before the lock is let go.
        HRESULT hr = CComEnumSnapshot<IEnumConnections, CONNECTDATA>::Create(std::move(connections), ppEnum);
        object->Unlock();
        return hr;
    }

    ~IConnectionPointImpl()
    {
        for (IUnknown* sink : m_vec) {
            if (sink)
                sink->Release();
        }
    }

    CDV m_vec;
};

struct _ATL_CONNMAP_ENTRY {
    DWORD_PTR dwOffset; // of the connection point's _ICPLocator in the object; -1 ends the map
};

#define BEGIN_CONNECTION_POINT_MAP(x)                                                                                  \
    typedef x _atl_conn_classtype;                                                                                     \
    static const ATL::_ATL_CONNMAP_ENTRY* GetConnMap(int* pnEntries)                                                   \
    {                                                                                                                  \
        static const ATL::_ATL_CONNMAP_ENTRY _entries[] = {
#define CONNECTION_POINT_ENTRY(iid) { offsetofclass(ATL::_ICPLocator<&iid>, _atl_conn_classtype) },
#define END_CONNECTION_POINT_MAP()                                                                                     \
    {                                                                                                                  \
        (DWORD_PTR) - 1                                                                                                \
    }                                                                                                                  \
    }                                                                                                                  \
    ;                                                                                                                  \
    if (pnEntries)                                                                                                     \
        *pnEntries = static_cast<int>(sizeof(_entries) / sizeof(ATL::_ATL_CONNMAP_ENTRY) - 1);                         \
    return _entries;                                                                                                   \
    }

// The container of T's connection points, as its connection point map lists them.
template <class T> class IConnectionPointContainerImpl : public IConnectionPointContainer {
public:
    STDMETHOD(EnumConnectionPoints)(IEnumConnectionPoints** ppEnum) override
    {
        if (!ppEnum)
            return E_POINTER;
        *ppEnum = nullptr;
        std::vector<IConnectionPoint*> points;
        for (const _ATL_CONNMAP_ENTRY* entry = T::GetConnMap(nullptr); entry->dwOffset != (DWORD_PTR)-1; ++entry)
            points.push_back(PointAt(*entry));
        return CComEnumSnapshot<IEnumConnectionPoints, IConnectionPoint*>::Create(std::move(points), ppEnum);
    }
    STDMETHOD(FindConnectionPoint)(REFIID riid, IConnectionPoint** ppCP) override
    {
        if (!ppCP)
            return E_POINTER;
        *ppCP = nullptr;
        for (const _ATL_CONNMAP_ENTRY* entry = T::GetConnMap(nullptr); entry->dwOffset != (DWORD_PTR)-1; ++entry) {
            IConnectionPoint* point = PointAt(*entry);
            IID iid;
            if (SUCCEEDED(point->GetConnectionInterface(&iid)) && IsEqualGUID(iid, riid)) {
                point->AddRef();
                *ppCP = point;
                return S_OK;
            }
        }
        return CONNECT_E_NOCONNECTION;
    }

private:
    IConnectionPoint* PointAt(const _ATL_CONNMAP_ENTRY& entry)
    {
        return reinterpret_cast<IConnectionPoint*>(reinterpret_cast<DWORD_PTR>(static_cast<T*>(this)) + entry.dwOffset);
    }
};

}
