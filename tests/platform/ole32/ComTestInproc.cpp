// A minimal in-process server written against COM's rules alone: one class, a class factory
// that refuses aggregation, and the two exports that ole32 looks for.
#include "ComTestInproc.h"

#include <atomic>

namespace {

std::atomic<LONG> g_liveObjects { 0 };
std::atomic<LONG> g_locks { 0 };

class Counter final : public ITestCounter {
public:
    Counter()
    {
        ++g_liveObjects;
    }
    ~Counter()
    {
        --g_liveObjects;
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_ITestCounter) {
            *ppv = static_cast<ITestCounter*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override
    {
        return ++m_refs;
    }
    STDMETHODIMP_(ULONG) Release() override
    {
        ULONG refs = --m_refs;
        if (refs == 0)
            delete this;
        return refs;
    }
    STDMETHODIMP_(LONG) LiveObjects() override
    {
        return g_liveObjects;
    }

private:
    std::atomic<ULONG> m_refs { 0 };
};

class Factory : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *ppv = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override
    {
        return 2;
    }
    STDMETHODIMP_(ULONG) Release() override
    {
        return 1;
    }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override
    {
        *ppv = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        auto* counter = new Counter;
        counter->AddRef();
        HRESULT hr = counter->QueryInterface(riid, ppv);
        counter->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL lock) override
    {
        lock ? ++g_locks : --g_locks;
        return S_OK;
    }
};

Factory g_factory;

}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* ppv)
{
    *ppv = nullptr;
    if (clsid != CLSID_ComTestInproc)
        return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, ppv);
}

STDAPI DllCanUnloadNow()
{
    return g_liveObjects == 0 && g_locks == 0 ? S_OK : S_FALSE;
}
