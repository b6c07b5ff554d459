// The test in-process server: an ATL library module whose class may be created plain or
// aggregated, with the four exports that COM and regsvr32 call.
#include "AtlTest.h"

#include <atlbase.h>
#include <atlcom.h>

DEFINE_GUID(CLSID_InprocGreeter, 0x3d4e5f60, 0x7a8b, 0x4c9d, 0x8e, 0x0f, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e, 0x10);

class CInprocGreeter : public CComObjectRootEx<CComMultiThreadModel>,
                       public CComCoClass<CInprocGreeter, &CLSID_InprocGreeter>,
                       public IGreeter {
public:
    DECLARE_REGISTRY_RESOURCEID(103)

    BEGIN_COM_MAP(CInprocGreeter)
    COM_INTERFACE_ENTRY(IGreeter)
    END_COM_MAP()

    STDMETHODIMP GetTypeInfoCount(UINT*) override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP Greet(BSTR name, BSTR* text) override
    {
        if (!text)
            return E_POINTER;
        CComBSTR greeting(u"Hi, ");
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

OBJECT_ENTRY_AUTO(CLSID_InprocGreeter, CInprocGreeter)

class CAtlTestInprocModule : public CAtlDllModuleT<CAtlTestInprocModule> { };

CAtlTestInprocModule _AtlModule;

STDAPI DllCanUnloadNow()
{
    return _AtlModule.DllCanUnloadNow();
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv)
{
    return _AtlModule.DllGetClassObject(rclsid, riid, ppv);
}

STDAPI DllRegisterServer()
{
    return _AtlModule.DllRegisterServer(FALSE);
}

STDAPI DllUnregisterServer()
{
    return _AtlModule.DllUnregisterServer(FALSE);
}
