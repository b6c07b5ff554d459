// The class of the test local server, and the client tests' own objects of the same interface:
// every method carries another kind of value across, and Crash ends the process inside a call.
#pragma once

#include "RemoteTest.h"

#include <atlbase.h>
#include <atlcom.h>

#include <algorithm>
#include <csignal>
#include <unistd.h>

class CRemoteCalls : public CComObjectRootEx<CComSingleThreadModel>,
                     public CComCoClass<CRemoteCalls, &CLSID_RemoteCalls>,
                     public IDispatchImpl<IRemoteCalls, &IID_IRemoteCalls, &LIBID_RemoteTestLib, 1, 0> {
public:
    DECLARE_REGISTRY_RESOURCEID(102)

    BEGIN_COM_MAP(CRemoteCalls)
    COM_INTERFACE_ENTRY(IRemoteCalls)
    COM_INTERFACE_ENTRY(IDispatch)
    END_COM_MAP()

    STDMETHODIMP Greet(BSTR name, LONG times, BSTR* text) override
    {
        CComBSTR greeting;
        for (LONG i = 0; i < times; ++i) {
            greeting += u"Hello, ";
            greeting += name;
            greeting += u"!";
        }
        *text = greeting.Detach();
        return S_OK;
    }
    STDMETHODIMP Negate(VARIANT_BOOL flag, VARIANT_BOOL* result) override
    {
        *result = flag ? VARIANT_FALSE : VARIANT_TRUE;
        return S_OK;
    }
    STDMETHODIMP Echo(VARIANT value, VARIANT* result) override
    {
        return VariantCopy(result, &value);
    }
    STDMETHODIMP CreateChild(BSTR name, IRemoteCalls** child) override
    {
        CComObject<CRemoteCalls>* object = nullptr;
        HRESULT hr = CComObject<CRemoteCalls>::CreateInstance(&object);
        if (FAILED(hr))
            return hr;
        object->m_name = name;
        return object->QueryInterface(IID_IRemoteCalls, reinterpret_cast<void**>(child));
    }
    STDMETHODIMP GetName(BSTR* name) override
    {
        return m_name.CopyTo(name);
    }
    STDMETHODIMP NameOf(IRemoteCalls* other, BSTR* name) override
    {
        return other ? other->GetName(name) : E_POINTER;
    }
    STDMETHODIMP ProcessId(LONG* pid) override
    {
        *pid = static_cast<LONG>(getpid());
        return S_OK;
    }
    STDMETHODIMP Crash() override
    {
        kill(getpid(), SIGKILL);
        return S_OK;
    }
    STDMETHODIMP Reverse(BSTR* text, LONG* length) override
    {
        CComBSTR reversed(*text);
        std::reverse(reversed.m_str, reversed.m_str + reversed.Length());
        *length = static_cast<LONG>(reversed.Length());
        SysFreeString(*text);
        *text = reversed.Detach();
        return S_OK;
    }
    STDMETHODIMP Keep(IUnknown* object, LONG* kept) override
    {
        m_kept = object;
        *kept = m_kept ? 1 : 0;
        return S_OK;
    }

    STDMETHODIMP Pause(LONG milliseconds) override
    {
        Sleep(static_cast<DWORD>(milliseconds));
        return S_OK;
    }

    CComBSTR m_name { u"root" };
    CComPtr<IUnknown> m_kept;
};

OBJECT_ENTRY_AUTO(CLSID_RemoteCalls, CRemoteCalls)
