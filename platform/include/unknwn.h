// IUnknown and IClassFactory, and how interfaces are declared on this platform.
// An interface is a C++ class of pure virtual functions in the exact order of its function
// table, without data and without a virtual destructor; objects are freed by their own Release.
// Each interface names its identifier once with DECLARE_INTERFACE_IID(IFoo, IID_IFoo), in the
// namespace of the interface; IidOf<IFoo>() then gives it (what __uuidof gives on Windows), and a
// derived interface that does not declare its own does not compile instead of answering the base's.
#pragma once

#include <type_traits>

#include "guiddef.h"
#include "windef.h"
#include "winerror.h"

#define EXTERN_C extern "C"
#define STDMETHOD(method) virtual HRESULT STDMETHODCALLTYPE method
#define STDMETHOD_(type, method) virtual type STDMETHODCALLTYPE method
#define PURE = 0
#define THIS_
#define THIS void
#define STDMETHODIMP HRESULT STDMETHODCALLTYPE
#define STDMETHODIMP_(type) type STDMETHODCALLTYPE
#define STDAPI EXTERN_C HRESULT STDAPICALLTYPE
#define STDAPI_(type) EXTERN_C type STDAPICALLTYPE
#define STDAPIV EXTERN_C HRESULT STDAPIVCALLTYPE
#define STDAPICALLTYPE
#define STDAPIVCALLTYPE
#define MIDL_INTERFACE(iid) struct
#define DECLSPEC_NOVTABLE

// The tag that carries an interface type to InterfaceIdOf by argument-dependent lookup.
template <class Interface> struct InterfaceTag {
};

#define DECLARE_INTERFACE_IID(Interface, iid)                                                                          \
    constexpr const IID& InterfaceIdOf(InterfaceTag<Interface>)                                                        \
    {                                                                                                                  \
        return iid;                                                                                                    \
    }

template <class Interface> constexpr const IID& IidOf()
{
    return InterfaceIdOf(InterfaceTag<std::remove_cv_t<Interface>> {});
}

#define IID_PPV_ARGS(pp) IidOf<std::remove_reference_t<decltype(**(pp))>>(), reinterpret_cast<void**>(pp)

DEFINE_GUID(IID_IUnknown, 0x00000000, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
DEFINE_GUID(IID_IClassFactory, 0x00000001, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

struct IUnknown {
    STDMETHOD(QueryInterface)(REFIID riid, void** ppvObject) PURE;
    STDMETHOD_(ULONG, AddRef)() PURE;
    STDMETHOD_(ULONG, Release)() PURE;

    template <class Q> HRESULT QueryInterface(Q** pp)
    {
        return QueryInterface(IidOf<Q>(), reinterpret_cast<void**>(pp));
    }
};
typedef IUnknown* LPUNKNOWN;
DECLARE_INTERFACE_IID(IUnknown, IID_IUnknown)

struct IClassFactory : public IUnknown {
    STDMETHOD(CreateInstance)(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) PURE;
    STDMETHOD(LockServer)(BOOL fLock) PURE;
};
typedef IClassFactory* LPCLASSFACTORY;
DECLARE_INTERFACE_IID(IClassFactory, IID_IClassFactory)
