// The ATL class and module of the module tests and of their test server: a dual interface from
// the type library, a connection point for its events, an executable module with an AppID.
#pragma once

#include "AtlTest.h"

#include <atlbase.h>
#include <atlcom.h>

class CGreeter : public CComObjectRootEx<CComSingleThreadModel>,
                 public CComCoClass<CGreeter, &CLSID_Greeter>,
                 public IConnectionPointContainerImpl<CGreeter>,
                 public IConnectionPointImpl<CGreeter, &DIID__IGreeterEvents>,
                 public IDispatchImpl<IGreeter, &IID_IGreeter, &LIBID_AtlTestLib, 1, 0> {
public:
    DECLARE_REGISTRY_RESOURCEID(102)

    BEGIN_COM_MAP(CGreeter)
    COM_INTERFACE_ENTRY(IGreeter)
    COM_INTERFACE_ENTRY(IDispatch)
    COM_INTERFACE_ENTRY(IConnectionPointContainer)
    END_COM_MAP()

    BEGIN_CONNECTION_POINT_MAP(CGreeter)
    CONNECTION_POINT_ENTRY(DIID__IGreeterEvents)
    END_CONNECTION_POINT_MAP()

    STDMETHODIMP Greet(BSTR name, BSTR* text) override
    {
        if (!text)
            return E_POINTER;
        CComBSTR greeting(u"Hello, ");
        greeting += name;
        *text = greeting.Detach();
        return S_OK;
    }
    STDMETHODIMP Add(LONG a, LONG b, LONG* sum) override
    {
        if (!sum)
            return E_POINTER;
        *sum = a + b;
        return S_OK;
    }
};

OBJECT_ENTRY_AUTO(CLSID_Greeter, CGreeter)

class CAtlTestModule : public CAtlExeModuleT<CAtlTestModule> {
public:
    DECLARE_LIBID(LIBID_AtlTestLib)
    DECLARE_REGISTRY_APPID_RESOURCEID(101, "{3D4E5F60-7A8B-4C9D-8E0F-1A2B3C4D5E09}")
};
