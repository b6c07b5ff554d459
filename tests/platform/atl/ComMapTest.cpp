#include <atlbase.h>
#include <atlcom.h>
#include <gtest/gtest.h>

namespace {

DEFINE_GUID(IID_IAlpha, 0x1c0f0001, 0x0000, 0x4000, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01);
DEFINE_GUID(IID_IBeta, 0x1c0f0002, 0x0000, 0x4000, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01);
DEFINE_GUID(IID_IGamma, 0x1c0f0003, 0x0000, 0x4000, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01);
DEFINE_GUID(IID_IRefused, 0x1c0f0004, 0x0000, 0x4000, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01);
DEFINE_GUID(IID_IBlind, 0x1c0f0005, 0x0000, 0x4000, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01);
DEFINE_GUID(CLSID_Thing, 0x1c0f0100, 0x0000, 0x4000, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01);
DEFINE_GUID(CLSID_Solo, 0x1c0f0101, 0x0000, 0x4000, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01);

struct IAlpha : IUnknown {
    STDMETHOD_(int, Alpha)() PURE;
};
DECLARE_INTERFACE_IID(IAlpha, IID_IAlpha)
struct IBeta : IAlpha {
    STDMETHOD_(int, Beta)() PURE;
};
DECLARE_INTERFACE_IID(IBeta, IID_IBeta)
struct IGamma : IAlpha {
    STDMETHOD_(int, Gamma)() PURE;
};
DECLARE_INTERFACE_IID(IGamma, IID_IGamma)

struct Counters {
    int constructed = 0;
    int released = 0;
    int blindCalls = 0;
};
Counters g_counters;

// The layer below: its own map, reached through a chain entry.
class CLower : public IGamma {
public:
    BEGIN_COM_MAP(CLower)
    COM_INTERFACE_ENTRY(IGamma)
    END_COM_MAP()
    STDMETHODIMP_(int) Alpha() override
    {
        return 10;
    }
    STDMETHODIMP_(int) Gamma() override
    {
        return 3;
    }
};

// IAlpha is reachable through both IBeta and IGamma; the map picks IBeta's with ENTRY2.
class CThing : public CComObjectRootEx<CComSingleThreadModel>,
               public CComCoClass<CThing, &CLSID_Thing>,
               public IBeta,
               public CLower {
public:
    DECLARE_NO_REGISTRY()
    BEGIN_COM_MAP(CThing)
    COM_INTERFACE_ENTRY(IBeta)
    COM_INTERFACE_ENTRY2(IAlpha, IBeta)
    COM_INTERFACE_ENTRY_FUNC(IID_IRefused, 0, Refuse)
    COM_INTERFACE_ENTRY_FUNC_BLIND(0, CountBlind)
    COM_INTERFACE_ENTRY_CHAIN(CLower)
    COM_INTERFACE_ENTRY_FUNC(IID_IBlind, 0, Refuse)
    END_COM_MAP()

    HRESULT FinalConstruct()
    {
        ++g_counters.constructed;
        return S_OK;
    }
    void FinalRelease()
    {
        ++g_counters.released;
    }

    STDMETHODIMP_(int) Alpha() override
    {
        return 1;
    }
    STDMETHODIMP_(int) Beta() override
    {
        return 2;
    }

    static HRESULT WINAPI Refuse(void*, REFIID, void**, DWORD_PTR)
    {
        return E_ACCESSDENIED;
    }
    // Answers IBlind itself, and fails (letting the search go on) for everything else.
    static HRESULT WINAPI CountBlind(void* pv, REFIID riid, void** ppv, DWORD_PTR)
    {
        ++g_counters.blindCalls;
        if (riid == IID_IBlind) {
            auto* self = static_cast<CThing*>(pv);
            *ppv = static_cast<IBeta*>(self);
            self->AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
};

class CSolo : public CComObjectRootEx<CComMultiThreadModel>, public CComCoClass<CSolo, &CLSID_Solo>, public IAlpha {
public:
    DECLARE_NOT_AGGREGATABLE(CSolo)
    DECLARE_NO_REGISTRY()
    BEGIN_COM_MAP(CSolo)
    COM_INTERFACE_ENTRY(IAlpha)
    END_COM_MAP()
    STDMETHODIMP_(int) Alpha() override
    {
        return 7;
    }
};

// An outer object that aggregates a CThing and exposes it as its own.
class COuter : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IUnknown) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        return m_inner->QueryInterface(riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override
    {
        return ++m_refs;
    }
    STDMETHODIMP_(ULONG) Release() override
    {
        return --m_refs;
    }
    IUnknown* m_inner = nullptr;
    ULONG m_refs = 1;
};

HRESULT Query(IUnknown* object, REFIID riid, IUnknown** out)
{
    return object->QueryInterface(riid, reinterpret_cast<void**>(out));
}

}

TEST(ComMap, SearchFollowsTheEntriesInOrder)
{
    CComObject<CThing>* thing = nullptr;
    ASSERT_EQ(CComObject<CThing>::CreateInstance(&thing), S_OK);
    thing->AddRef();
    IUnknown* identity = nullptr;
    ASSERT_EQ(Query(static_cast<IBeta*>(thing), IID_IUnknown, &identity), S_OK);
    // IUnknown is the first entry's interface.
    EXPECT_EQ(identity, static_cast<IBeta*>(thing));
    identity->Release();

    struct Case {
        const char* name;
        const IID* iid;
        HRESULT expected;
        IUnknown* answer;
        int blindCalls; // how often the blind entry runs for this request
    };
    const Case cases[] = {
        { "plain entry", &IID_IBeta, S_OK, static_cast<IBeta*>(thing), 0 },
        { "entry through a named base", &IID_IAlpha, S_OK, static_cast<IAlpha*>(static_cast<IBeta*>(thing)), 0 },
        { "function entry's failure ends the search", &IID_IRefused, E_ACCESSDENIED, nullptr, 0 },
        { "blind entry answers", &IID_IBlind, S_OK, static_cast<IBeta*>(thing), 1 },
        { "blind failure goes on to the chain", &IID_IGamma, S_OK, static_cast<IGamma*>(thing), 1 },
        { "nothing answers", &IID_IDispatch, E_NOINTERFACE, nullptr, 1 },
    };
    for (const Case& c : cases) {
        g_counters.blindCalls = 0;
        IUnknown* answer = reinterpret_cast<IUnknown*>(1);
        EXPECT_EQ(Query(static_cast<IBeta*>(thing), *c.iid, &answer), c.expected) << c.name;
        EXPECT_EQ(answer, c.answer) << c.name;
        EXPECT_EQ(g_counters.blindCalls, c.blindCalls) << c.name;
        if (answer)
            answer->Release();
    }
    EXPECT_EQ(thing->QueryInterface(IID_IBeta, nullptr), E_POINTER);
    IGamma* gamma = nullptr;
    ASSERT_EQ(thing->QueryInterface(&gamma), S_OK);
    EXPECT_EQ(gamma->Gamma(), 3);
    EXPECT_EQ(gamma->Release(), 1u);
    EXPECT_EQ(thing->Release(), 0u);
}

TEST(ComMap, ObjectsConstructAndReleaseOnce)
{
    g_counters = {};
    IBeta* beta = nullptr;
    ASSERT_EQ(CThing::CreateInstance(&beta), S_OK);
    EXPECT_EQ(g_counters.constructed, 1);
    EXPECT_EQ(beta->AddRef(), 2u);
    EXPECT_EQ(beta->Release(), 1u);
    EXPECT_EQ(g_counters.released, 0);
    EXPECT_EQ(beta->Release(), 0u);
    EXPECT_EQ(g_counters.released, 1);
}

TEST(ComMap, AggregatedObjectsShareTheOuterIdentity)
{
    g_counters = {};
    COuter outer;
    ASSERT_EQ(
        CThing::_CreatorClass::CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.m_inner)), S_OK);
    EXPECT_EQ(g_counters.constructed, 1);

    // Through the outer object: the inner interfaces, counted on the outer object.
    IBeta* beta = nullptr;
    ASSERT_EQ(outer.QueryInterface(IID_IBeta, reinterpret_cast<void**>(&beta)), S_OK);
    EXPECT_EQ(outer.m_refs, 2u);
    EXPECT_EQ(beta->Beta(), 2);
    IUnknown* identity = nullptr;
    ASSERT_EQ(Query(beta, IID_IUnknown, &identity), S_OK);
    EXPECT_EQ(identity, &outer);
    identity->Release();
    beta->Release();
    EXPECT_EQ(outer.m_refs, 1u);

    // The inner IUnknown is the aggregate's own and ends it.
    EXPECT_EQ(outer.m_inner->AddRef(), 2u);
    EXPECT_EQ(outer.m_inner->Release(), 1u);
    EXPECT_EQ(outer.m_inner->Release(), 0u);
    EXPECT_EQ(g_counters.released, 1);
}

TEST(ComMap, ClassFactoriesCreatePlainOrAggregatedObjects)
{
    IClassFactory* factory = nullptr;
    ASSERT_EQ(CThing::_ClassFactoryCreatorClass::CreateInstance(
                  reinterpret_cast<void*>(CThing::_CreatorClass::CreateInstance), IID_IClassFactory,
                  reinterpret_cast<void**>(&factory)),
        S_OK);
    IAlpha* alpha = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IAlpha, reinterpret_cast<void**>(&alpha)), S_OK);
    EXPECT_EQ(alpha->Alpha(), 1);
    alpha->Release();

    COuter outer;
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IAlpha, reinterpret_cast<void**>(&alpha)), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(alpha, nullptr);
    ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.m_inner)), S_OK);
    outer.m_inner->Release();
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IAlpha, nullptr), E_POINTER);
    factory->Release();

    IClassFactory* soloFactory = nullptr;
    ASSERT_EQ(
        CSolo::_ClassFactoryCreatorClass::CreateInstance(reinterpret_cast<void*>(CSolo::_CreatorClass::CreateInstance),
            IID_IClassFactory, reinterpret_cast<void**>(&soloFactory)),
        S_OK);
    IUnknown* inner = nullptr;
    EXPECT_EQ(
        soloFactory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&inner)), CLASS_E_NOAGGREGATION);
    ASSERT_EQ(soloFactory->CreateInstance(nullptr, IID_IAlpha, reinterpret_cast<void**>(&alpha)), S_OK);
    EXPECT_EQ(alpha->Alpha(), 7);
    alpha->Release();
    soloFactory->Release();
}

TEST(SmartPointers, CountReferencesAndQueryOnAssignment)
{
    CComObject<CThing>* thing = nullptr;
    ASSERT_EQ(CComObject<CThing>::CreateInstance(&thing), S_OK);
    {
        CComPtr<IBeta> beta(thing);
        EXPECT_EQ(thing->m_dwRef, 1);
        CComPtr<IBeta> copy = beta;
        EXPECT_EQ(thing->m_dwRef, 2);
        CComQIPtr<IGamma> gamma(static_cast<IUnknown*>(beta.p));
        ASSERT_TRUE(gamma);
        EXPECT_EQ(gamma->Gamma(), 3);
        CComQIPtr<IDispatch> none(static_cast<IUnknown*>(beta.p));
        EXPECT_FALSE(none);
        EXPECT_TRUE(beta.IsEqualObject(gamma));
        copy.Release();
        EXPECT_EQ(thing->m_dwRef, 2);
    }
    // The last smart pointer released the object; a new one starts from zero.
    CComPtr<IAlpha> created;
    EXPECT_EQ(created.CoCreateInstance(CLSID_Thing), CO_E_NOTINITIALIZED);
}

TEST(SmartPointers, StringsAndVariants)
{
    CComBSTR text(u"ab");
    text += u"cd";
    EXPECT_EQ(text.Length(), 4u);
    EXPECT_TRUE(text == u"abcd");
    EXPECT_FALSE(text == u"abc");
    CComBSTR copy = text;
    EXPECT_NE(copy.m_str, text.m_str);
    EXPECT_TRUE(copy == text.m_str);
    BSTR detached = copy.Detach();
    EXPECT_EQ(copy.m_str, nullptr);
    SysFreeString(detached);
    CComBSTR empty;
    EXPECT_TRUE(empty == u"");

    CComVariant number(42);
    EXPECT_EQ(number.vt, VT_I4);
    ASSERT_EQ(number.ChangeType(VT_BSTR), S_OK);
    EXPECT_TRUE(CComBSTR(number.bstrVal) == u"42");
    CComVariant same(u"42");
    EXPECT_TRUE(number == same);
    CComVariant flag(true);
    EXPECT_EQ(flag.boolVal, VARIANT_TRUE);
    VARIANT out;
    VariantInit(&out);
    ASSERT_EQ(same.Detach(&out), S_OK);
    EXPECT_EQ(same.vt, VT_EMPTY);
    EXPECT_EQ(out.vt, VT_BSTR);
    VariantClear(&out);
}
