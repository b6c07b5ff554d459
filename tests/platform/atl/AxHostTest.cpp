// ATL's control host window "AtlAxWin90" with a small control of the test's own, registered as
// a class object of the process (and by ProgID in the test's root): what the host does to the
// control it creates, the ambient properties it answers, and its lookups.
#include "atlcom.h"
#include "atlhost.h"
#include "exdisp.h"
#include "mshtmdid.h"
#include "windows.h"

#include <gtest/gtest.h>

using ATL::CComObject;
using ATL::CComPtr;
using ATL::CComQIPtr;

namespace {

// {5E0C8A61-7B2D-4F1E-9C3A-2D6B8E4F1A07}
DEFINE_GUID(CLSID_TestControl, 0x5E0C8A61, 0x7B2D, 0x4F1E, 0x9C, 0x3A, 0x2D, 0x6B, 0x8E, 0x4F, 0x1A, 0x07);
const char16_t kTestControlClsid[] = u"{5E0C8A61-7B2D-4F1E-9C3A-2D6B8E4F1A07}";
const char16_t kTestControlProgId[] = u"Reelscan.TestControl";

// What a container does to its control, recorded; a base of its own, so that IOleObject's
// Unadvise stays apart from the connection point's.
class OleRecorder : public IOleObject, public IOleInPlaceObject {
public:
    CComPtr<IOleClientSite> m_site;
    std::vector<std::string> m_calls;
    HWND m_parent = nullptr;
    RECT m_position {};

    STDMETHOD(SetClientSite)(IOleClientSite* site) override
    {
        m_calls.push_back(site ? "SetClientSite" : "SetClientSite null");
        m_site = site;
        return S_OK;
    }
    STDMETHOD(GetClientSite)(IOleClientSite** site) override
    {
        *site = m_site;
        if (m_site)
            m_site->AddRef();
        return S_OK;
    }
    STDMETHOD(SetHostNames)(LPCOLESTR, LPCOLESTR) override
    {
        return S_OK;
    }
    STDMETHOD(Close)(DWORD) override
    {
        m_calls.push_back("Close");
        return S_OK;
    }
    STDMETHOD(SetMoniker)(DWORD, IMoniker*) override
    {
        return E_NOTIMPL;
    }
    STDMETHOD(GetMoniker)(DWORD, DWORD, IMoniker**) override
    {
        return E_NOTIMPL;
    }
    STDMETHOD(InitFromData)(IDataObject*, BOOL, DWORD) override
    {
        return E_NOTIMPL;
    }
    STDMETHOD(GetClipboardData)(DWORD, IDataObject**) override
    {
        return E_NOTIMPL;
    }
    STDMETHOD(DoVerb)(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND parent, LPCRECT position) override
    {
        m_calls.push_back("DoVerb " + std::to_string(verb) + (site == m_site.p ? " site" : " other site"));
        m_parent = parent;
        if (position)
            m_position = *position;
        return S_OK;
    }
    STDMETHOD(EnumVerbs)(IEnumOLEVERB**) override
    {
        return E_NOTIMPL;
    }
    STDMETHOD(Update)() override
    {
        return E_NOTIMPL;
    }
    STDMETHOD(IsUpToDate)() override
    {
        return E_NOTIMPL;
    }
    STDMETHOD(GetUserClassID)(CLSID*) override
    {
        return E_NOTIMPL;
    }
    STDMETHOD(GetUserType)(DWORD, LPOLESTR*) override
    {
        return E_NOTIMPL;
    }
    STDMETHOD(SetExtent)(DWORD, SIZEL*) override
    {
        return E_NOTIMPL;
    }
    STDMETHOD(GetExtent)(DWORD, SIZEL*) override
    {
        return E_NOTIMPL;
    }
    STDMETHOD(Advise)(IAdviseSink*, DWORD*) override
    {
        return E_NOTIMPL;
    }
    STDMETHOD(Unadvise)(DWORD) override
    {
        return E_NOTIMPL;
    }
    STDMETHOD(EnumAdvise)(IEnumSTATDATA**) override
    {
        return E_NOTIMPL;
    }
    STDMETHOD(GetMiscStatus)(DWORD, DWORD* status) override
    {
        *status = OLEMISC_SETCLIENTSITEFIRST;
        return S_OK;
    }
    STDMETHOD(SetColorScheme)(LOGPALETTE*) override
    {
        return E_NOTIMPL;
    }
    STDMETHOD(GetWindow)(HWND*) override
    {
        return E_NOTIMPL;
    }
    STDMETHOD(ContextSensitiveHelp)(BOOL) override
    {
        return E_NOTIMPL;
    }
    STDMETHOD(InPlaceDeactivate)() override
    {
        return S_OK;
    }
    STDMETHOD(UIDeactivate)() override
    {
        return S_OK;
    }
    STDMETHOD(SetObjectRects)(LPCRECT position, LPCRECT) override
    {
        m_position = *position;
        return S_OK;
    }
    STDMETHOD(ReactivateAndUndo)() override
    {
        return E_NOTIMPL;
    }
};

// A control that records what its container does to it, and offers DWebBrowserEvents2's
// connection point so that a sink can be advised through the host.
class TestControl : public ATL::CComObjectRootEx<ATL::CComSingleThreadModel>,
                    public ATL::CComCoClass<TestControl, &CLSID_TestControl>,
                    public OleRecorder,
                    public ATL::IConnectionPointContainerImpl<TestControl>,
                    public ATL::IConnectionPointImpl<TestControl, &DIID_DWebBrowserEvents2> {
public:
    BEGIN_COM_MAP(TestControl)
    COM_INTERFACE_ENTRY(IOleObject)
    COM_INTERFACE_ENTRY(IOleInPlaceObject)
    COM_INTERFACE_ENTRY(IConnectionPointContainer)
    END_COM_MAP()

    BEGIN_CONNECTION_POINT_MAP(TestControl)
    CONNECTION_POINT_ENTRY(DIID_DWebBrowserEvents2)
    END_CONNECTION_POINT_MAP()

    static inline TestControl* s_last = nullptr;

    HRESULT FinalConstruct()
    {
        s_last = this;
        return S_OK;
    }
    void FinalRelease()
    {
        if (s_last == this)
            s_last = nullptr;
    }

    // The ambient property dispid as the site answers it: "type value" or the failure.
    std::string Ambient(DISPID dispid)
    {
        CComQIPtr<IDispatch> ambient { static_cast<IUnknown*>(m_site.p) };
        if (!ambient)
            return "no ambient dispatch";
        VARIANT result;
        VariantInit(&result);
        V_VT(&result) = VT_I4;
        V_I4(&result) = 7;
        DISPPARAMS none { nullptr, nullptr, 0, 0 };
        const HRESULT hr = ambient->Invoke(dispid, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr);
        if (FAILED(hr))
            return hr == DISP_E_MEMBERNOTFOUND ? "not found" : "failed";
        return V_VT(&result) == VT_BOOL ? (V_BOOL(&result) ? "bool true" : "bool false")
                                        : "int " + std::to_string(V_I4(&result));
    }
    size_t Sinks()
    {
        return std::count_if(m_vec.begin(), m_vec.end(), [](IUnknown* sink) { return sink != nullptr; });
    }
};

// An ambient dispatch that answers DISPID_AMBIENT_DLCONTROL with 42 and nothing else; it also
// serves as an event sink.
class Ambient : public ATL::CComObjectRootEx<ATL::CComSingleThreadModel>, public IDispatch {
public:
    BEGIN_COM_MAP(Ambient)
    COM_INTERFACE_ENTRY(IDispatch)
    COM_INTERFACE_ENTRY_IID(DIID_DWebBrowserEvents2, IDispatch)
    END_COM_MAP()

    STDMETHOD(GetTypeInfoCount)(UINT* count) override
    {
        *count = 0;
        return S_OK;
    }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo**) override
    {
        return E_NOTIMPL;
    }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override
    {
        return E_NOTIMPL;
    }
    STDMETHOD(Invoke)(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*) override
    {
        if (id != DISPID_AMBIENT_DLCONTROL)
            return DISP_E_MEMBERNOTFOUND;
        V_VT(result) = VT_I4;
        V_I4(result) = 42;
        return S_OK;
    }
};

std::string Text(const RECT& rect)
{
    return std::to_string(rect.left) + "," + std::to_string(rect.top) + "," + std::to_string(rect.right) + ","
        + std::to_string(rect.bottom);
}

class AxHost : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        ASSERT_EQ(TestControl::_ClassFactoryCreatorClass::CreateInstance(
                      reinterpret_cast<void*>(&TestControl::_CreatorClass::CreateInstance), IID_IClassFactory,
                      reinterpret_cast<void**>(&m_factory)),
            S_OK);
        ASSERT_EQ(
            CoRegisterClassObject(CLSID_TestControl, m_factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &m_cookie),
            S_OK);
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Classes\\Reelscan.TestControl\\CLSID", 0, nullptr, 0,
                      KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
        RegSetValueExW(
            key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(kTestControlClsid), sizeof kTestControlClsid);
        RegCloseKey(key);
        ASSERT_TRUE(AtlAxWinInit());
        ASSERT_TRUE(AtlAxWinInit()) << "a second registration succeeds too";
    }
    void TearDown() override
    {
        CoRevokeClassObject(m_cookie);
        m_factory.Release();
        CoUninitialize();
    }

    CComPtr<IClassFactory> m_factory;
    DWORD m_cookie = 0;
};

TEST_F(AxHost, AHostWindowHostsTheControlItsTextNames)
{
    for (const char16_t* name : { kTestControlClsid, kTestControlProgId }) {
        SCOPED_TRACE(::testing::PrintToString(std::u16string(name)));
        const HWND window = CreateWindowExW(
            0, u"AtlAxWin90", name, WS_OVERLAPPEDWINDOW, 10, 10, 400, 300, nullptr, nullptr, nullptr, nullptr);
        ASSERT_TRUE(window);
        TestControl* control = TestControl::s_last;
        ASSERT_TRUE(control);
        CComPtr<IUnknown> host;
        CComPtr<IUnknown> hosted;
        ASSERT_EQ(AtlAxGetHost(window, &host), S_OK);
        ASSERT_EQ(AtlAxGetControl(window, &hosted), S_OK);
        EXPECT_EQ(hosted.p, static_cast<IUnknown*>(static_cast<IOleObject*>(control)));
        CComQIPtr<IOleClientSite> site { host.p };
        EXPECT_EQ(control->m_site.p, site.p);
        EXPECT_EQ(control->m_calls, (std::vector<std::string> { "SetClientSite", "DoVerb -5 site" }));
        EXPECT_EQ(control->m_parent, window);
        RECT client {};
        GetClientRect(window, &client);
        EXPECT_EQ(Text(control->m_position), Text(client));
        EXPECT_NE(GetWindowLongPtrW(window, GWLP_USERDATA), 0);

        // A program that keeps its own value in the user data for a while still finds the host.
        const LONG_PTR own = SetWindowLongPtrW(window, GWLP_USERDATA, 1234);
        CComPtr<IUnknown> again;
        EXPECT_EQ(AtlAxGetHost(window, &again), S_OK);
        EXPECT_EQ(again.p, host.p);
        SetWindowLongPtrW(window, GWLP_USERDATA, own);

        MoveWindow(window, 10, 10, 500, 350, TRUE);
        GetClientRect(window, &client);
        EXPECT_EQ(Text(control->m_position), Text(client));

        CComPtr<IOleObject> object { control };
        DestroyWindow(window);
        EXPECT_EQ(control->m_calls,
            (std::vector<std::string> { "SetClientSite", "DoVerb -5 site", "Close", "SetClientSite null" }));
        CComPtr<IUnknown> gone;
        EXPECT_EQ(AtlAxGetHost(window, &gone), E_FAIL);
    }
}

TEST_F(AxHost, AnswersItsAmbientPropertiesAndAsksTheAmbientDispatchForOthers)
{
    const HWND window = CreateWindowExW(
        0, u"AtlAxWin90", nullptr, WS_OVERLAPPEDWINDOW, 10, 10, 400, 300, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(window);
    CComPtr<IUnknown> unknown;
    ASSERT_EQ(AtlAxGetHost(window, &unknown), S_OK);
    CComQIPtr<IAxWinHostWindow> host { unknown.p };
    CComQIPtr<IAxWinAmbientDispatchEx> ambient { unknown.p };
    ASSERT_TRUE(host && ambient);
    CComPtr<IUnknown> none;
    EXPECT_EQ(AtlAxGetControl(window, &none), E_FAIL);

    CComObject<Ambient>* sink = nullptr;
    ASSERT_EQ(CComObject<Ambient>::CreateInstance(&sink), S_OK);
    CComPtr<IUnknown> sinkHold { sink->GetUnknown() };
    CComPtr<IUnknown> created;
    ASSERT_EQ(
        host->CreateControlEx(kTestControlClsid, window, nullptr, &created, DIID_DWebBrowserEvents2, sinkHold), S_OK);
    TestControl* control = TestControl::s_last;
    ASSERT_TRUE(control);
    EXPECT_EQ(created.p, static_cast<IUnknown*>(static_cast<IOleObject*>(control)));
    EXPECT_EQ(control->Sinks(), 1u);
    CComPtr<IOleObject> queried;
    EXPECT_EQ(host->QueryControl(&queried), S_OK);
    EXPECT_EQ(queried.p, static_cast<IOleObject*>(control));

    EXPECT_EQ(control->Ambient(DISPID_AMBIENT_USERMODE), "bool true");
    EXPECT_EQ(control->Ambient(DISPID_AMBIENT_DLCONTROL), "not found");
    ASSERT_EQ(ambient->SetAmbientDispatch(sink), S_OK);
    EXPECT_EQ(control->Ambient(DISPID_AMBIENT_DLCONTROL), "int 42");
    EXPECT_EQ(control->Ambient(DISPID_AMBIENT_USERMODE), "bool true");
    ASSERT_EQ(ambient->put_UserMode(VARIANT_FALSE), S_OK);
    EXPECT_EQ(control->Ambient(DISPID_AMBIENT_USERMODE), "bool false");

    CComPtr<IOleObject> object { control };
    DestroyWindow(window);
    EXPECT_EQ(control->Sinks(), 0u);
    EXPECT_FALSE(control->m_site);
}

}
