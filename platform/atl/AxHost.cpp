// ATL's control host: the "AtlAxWin90" window class and the host object behind each such window.
#include "atlhost.h"

#include "atlcom.h"
#include "exdisp.h"

#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace {

using ATL::CComObject;
using ATL::CComObjectRootEx;
using ATL::CComPtr;
using ATL::CComQIPtr;
using ATL::CComSingleThreadModel;

constexpr char16_t kHostClass[] = u"AtlAxWin90";
constexpr LCID kUserDefaultLocale = 0x0400;
constexpr OLE_COLOR kWindowColor = 0x80000005; // COLOR_WINDOW, as a system colour
constexpr OLE_COLOR kWindowTextColor = 0x80000008; // COLOR_WINDOWTEXT

class CAxHostWindow;

// The host of each host window of the process. AtlAxGetHost finds a host here rather than in the
// window's user data, which a program that subclasses the window may replace for a while.
std::mutex g_hostsLock;
std::map<HWND, CAxHostWindow*> g_hosts;

CAxHostWindow* HostOf(HWND window)
{
    std::lock_guard guard(g_hostsLock);
    const auto found = g_hosts.find(window);
    return found == g_hosts.end() ? nullptr : found->second;
}

VARIANT BoolVariant(bool value)
{
    VARIANT result;
    VariantInit(&result);
    V_VT(&result) = VT_BOOL;
    V_BOOL(&result) = value ? VARIANT_TRUE : VARIANT_FALSE;
    return result;
}

VARIANT IntegerVariant(LONG value)
{
    VARIANT result;
    VariantInit(&result);
    V_VT(&result) = VT_I4;
    V_I4(&result) = value;
    return result;
}

class CAxHostWindow : public CComObjectRootEx<CComSingleThreadModel>,
                      public IAxWinHostWindow,
                      public IAxWinAmbientDispatchEx,
                      public IOleClientSite,
                      public IOleInPlaceSite {
public:
    BEGIN_COM_MAP(CAxHostWindow)
    COM_INTERFACE_ENTRY(IAxWinHostWindow)
    COM_INTERFACE_ENTRY(IAxWinAmbientDispatchEx)
    COM_INTERFACE_ENTRY(IAxWinAmbientDispatch)
    COM_INTERFACE_ENTRY2(IDispatch, IAxWinAmbientDispatchEx)
    COM_INTERFACE_ENTRY(IOleClientSite)
    COM_INTERFACE_ENTRY(IOleInPlaceSite)
    COM_INTERFACE_ENTRY2(IOleWindow, IOleInPlaceSite)
    END_COM_MAP()

    HWND m_hWnd = nullptr;

    // Lets go of the control (closing it) and of everything the host was given.
    void ReleaseAll()
    {
        ReleaseControl();
        m_ambient.Release();
        m_external.Release();
        m_font.Release();
    }

    // Lets go of the control, closing it; the host's own settings stay.
    void ReleaseControl()
    {
        if (m_eventsPoint) {
            m_eventsPoint->Unadvise(m_eventsCookie);
            m_eventsPoint.Release();
        }
        m_inPlaceObject.Release();
        if (CComQIPtr<IOleObject> object { m_control.p }) {
            object->Close(OLECLOSE_NOSAVE);
            object->SetClientSite(nullptr);
        }
        m_control.Release();
    }

    void OnSize()
    {
        if (!m_inPlaceObject)
            return;
        RECT client {};
        GetClientRect(m_hWnd, &client);
        m_inPlaceObject->SetObjectRects(&client, &client);
    }

    HRESULT GetControl(IUnknown** pp)
    {
        if (!m_control)
            return E_FAIL;
        return m_control->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(pp));
    }

    // --- IAxWinHostWindow ---------------------------------------------------------------------

    STDMETHOD(CreateControl)(LPCOLESTR lpTricsData, HWND hWnd, IStream* pStream) override
    {
        return CreateControlEx(lpTricsData, hWnd, pStream, nullptr, IID_NULL, nullptr);
    }
    // lpTricsData names the control: "{CLSID}", a ProgID, or else a URL, which makes a WebBrowser
    // control navigating to it. No persisted state is read (pStream is ignored).
    STDMETHOD(CreateControlEx)
    (LPCOLESTR lpTricsData, HWND hWnd, IStream*, IUnknown** ppUnk, REFIID riidAdvise, IUnknown* punkAdvise) override
    {
        if (ppUnk)
            *ppUnk = nullptr;
        if (!lpTricsData || !*lpTricsData)
            return E_INVALIDARG;
        if (hWnd && hWnd != m_hWnd)
            return E_INVALIDARG;
        ReleaseControl();
        CLSID clsid;
        std::u16string url;
        if (lpTricsData[0] == u'{' ? FAILED(CLSIDFromString(lpTricsData, &clsid))
                                   : FAILED(CLSIDFromProgID(lpTricsData, &clsid))) {
            clsid = CLSID_WebBrowser;
            url = lpTricsData;
        }
        CComPtr<IUnknown> control;
        HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_SERVER, IID_IUnknown, reinterpret_cast<void**>(&control));
        if (FAILED(hr))
            return hr;
        hr = Activate(control);
        if (FAILED(hr))
            return hr;
        if (!url.empty()) {
            CComQIPtr<IWebBrowser2> browser { control.p };
            if (browser) {
                VARIANT address;
                VariantInit(&address);
                V_VT(&address) = VT_BSTR;
                V_BSTR(&address) = SysAllocString(url.c_str());
                VARIANT empty;
                VariantInit(&empty);
                browser->Navigate2(&address, &empty, &empty, &empty, &empty);
                VariantClear(&address);
            }
        }
        if (punkAdvise && !IsEqualGUID(riidAdvise, IID_NULL)) {
            CComQIPtr<IConnectionPointContainer> container { control.p };
            if (container && SUCCEEDED(container->FindConnectionPoint(riidAdvise, &m_eventsPoint))
                && FAILED(m_eventsPoint->Advise(punkAdvise, &m_eventsCookie)))
                m_eventsPoint.Release();
        }
        if (ppUnk) {
            *ppUnk = control;
            control->AddRef();
        }
        return S_OK;
    }
    STDMETHOD(AttachControl)(IUnknown* pUnkControl, HWND hWnd) override
    {
        if (!pUnkControl)
            return E_INVALIDARG;
        if (hWnd && hWnd != m_hWnd)
            return E_INVALIDARG;
        ReleaseControl();
        return Activate(pUnkControl);
    }
    STDMETHOD(QueryControl)(REFIID riid, void** ppvObject) override
    {
        if (!ppvObject)
            return E_POINTER;
        *ppvObject = nullptr;
        return m_control ? m_control->QueryInterface(riid, ppvObject) : E_NOINTERFACE;
    }
    STDMETHOD(SetExternalDispatch)(IDispatch* pDisp) override
    {
        m_external = pDisp;
        return S_OK;
    }
    STDMETHOD(SetExternalUIHandler)(IDocHostUIHandlerDispatch*) override
    {
        return E_NOTIMPL;
    }

    // --- The ambient properties ---------------------------------------------------------------

    STDMETHOD(GetTypeInfoCount)(UINT* pctinfo) override
    {
        if (!pctinfo)
            return E_POINTER;
        *pctinfo = 0;
        return S_OK;
    }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo** ppTInfo) override
    {
        if (ppTInfo)
            *ppTInfo = nullptr;
        return DISP_E_BADINDEX;
    }
    // Names are those of the dispatch given with SetAmbientDispatch, if any.
    STDMETHOD(GetIDsOfNames)(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) override
    {
        if (m_ambient)
            return m_ambient->GetIDsOfNames(riid, rgszNames, cNames, lcid, rgDispId);
        for (UINT i = 0; rgDispId && i < cNames; ++i)
            rgDispId[i] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    // The host's own ambient properties; every other DISPID goes to the ambient dispatch.
    STDMETHOD(Invoke)
    (DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams, VARIANT* pVarResult,
        EXCEPINFO* pExcepInfo, UINT* puArgErr) override
    {
        if (wFlags & DISPATCH_PROPERTYGET) {
            std::optional<VARIANT> own = OwnAmbient(dispIdMember);
            if (own) {
                if (!pVarResult) {
                    VariantClear(&*own);
                    return E_POINTER;
                }
                VariantClear(pVarResult);
                *pVarResult = *own;
                return S_OK;
            }
        }
        if (m_ambient)
            return m_ambient->Invoke(dispIdMember, riid, lcid, wFlags, pDispParams, pVarResult, pExcepInfo, puArgErr);
        return DISP_E_MEMBERNOTFOUND;
    }

    STDMETHOD(put_AllowWindowlessActivation)(VARIANT_BOOL value) override
    {
        return Store(m_allowWindowless, value);
    }
    STDMETHOD(get_AllowWindowlessActivation)(VARIANT_BOOL* value) override
    {
        return Load(m_allowWindowless, value);
    }
    STDMETHOD(put_BackColor)(OLE_COLOR value) override
    {
        return Store(m_backColor, value);
    }
    STDMETHOD(get_BackColor)(OLE_COLOR* value) override
    {
        return Load(m_backColor, value);
    }
    STDMETHOD(put_ForeColor)(OLE_COLOR value) override
    {
        return Store(m_foreColor, value);
    }
    STDMETHOD(get_ForeColor)(OLE_COLOR* value) override
    {
        return Load(m_foreColor, value);
    }
    STDMETHOD(put_LocaleID)(LCID value) override
    {
        return Store(m_locale, value);
    }
    STDMETHOD(get_LocaleID)(LCID* value) override
    {
        return Load(m_locale, value);
    }
    STDMETHOD(put_UserMode)(VARIANT_BOOL value) override
    {
        return Store(m_userMode, value);
    }
    STDMETHOD(get_UserMode)(VARIANT_BOOL* value) override
    {
        return Load(m_userMode, value);
    }
    STDMETHOD(put_DisplayAsDefault)(VARIANT_BOOL value) override
    {
        return Store(m_displayAsDefault, value);
    }
    STDMETHOD(get_DisplayAsDefault)(VARIANT_BOOL* value) override
    {
        return Load(m_displayAsDefault, value);
    }
    STDMETHOD(put_Font)(IFontDisp* pFont) override
    {
        m_font = pFont;
        return S_OK;
    }
    STDMETHOD(get_Font)(IFontDisp** pFont) override
    {
        if (!pFont)
            return E_POINTER;
        *pFont = m_font;
        if (m_font)
            m_font->AddRef();
        return m_font ? S_OK : S_FALSE;
    }
    STDMETHOD(put_MessageReflect)(VARIANT_BOOL value) override
    {
        return Store(m_messageReflect, value);
    }
    STDMETHOD(get_MessageReflect)(VARIANT_BOOL* value) override
    {
        return Load(m_messageReflect, value);
    }
    STDMETHOD(get_ShowGrabHandles)(VARIANT_BOOL* value) override
    {
        return Load(VARIANT_BOOL(VARIANT_FALSE), value);
    }
    STDMETHOD(get_ShowHatching)(VARIANT_BOOL* value) override
    {
        return Load(VARIANT_BOOL(VARIANT_FALSE), value);
    }
    STDMETHOD(put_DocHostFlags)(DWORD value) override
    {
        return Store(m_docHostFlags, value);
    }
    STDMETHOD(get_DocHostFlags)(DWORD* value) override
    {
        return Load(m_docHostFlags, value);
    }
    STDMETHOD(put_DocHostDoubleClickFlags)(DWORD value) override
    {
        return Store(m_docHostDoubleClickFlags, value);
    }
    STDMETHOD(get_DocHostDoubleClickFlags)(DWORD* value) override
    {
        return Load(m_docHostDoubleClickFlags, value);
    }
    STDMETHOD(put_AllowContextMenu)(VARIANT_BOOL value) override
    {
        return Store(m_allowContextMenu, value);
    }
    STDMETHOD(get_AllowContextMenu)(VARIANT_BOOL* value) override
    {
        return Load(m_allowContextMenu, value);
    }
    STDMETHOD(put_AllowShowUI)(VARIANT_BOOL value) override
    {
        return Store(m_allowShowUI, value);
    }
    STDMETHOD(get_AllowShowUI)(VARIANT_BOOL* value) override
    {
        return Load(m_allowShowUI, value);
    }
    STDMETHOD(put_OptionKeyPath)(BSTR value) override
    {
        m_optionKeyPath = value ? value : u"";
        return S_OK;
    }
    STDMETHOD(get_OptionKeyPath)(BSTR* value) override
    {
        if (!value)
            return E_POINTER;
        *value = SysAllocString(m_optionKeyPath.c_str());
        return *value ? S_OK : E_OUTOFMEMORY;
    }
    STDMETHOD(SetAmbientDispatch)(IDispatch* pDispatch) override
    {
        m_ambient = pDispatch;
        return S_OK;
    }

    // --- IOleClientSite -----------------------------------------------------------------------

    STDMETHOD(SaveObject)() override
    {
        return E_NOTIMPL;
    }
    STDMETHOD(GetMoniker)(DWORD, DWORD, IMoniker** ppmk) override
    {
        if (ppmk)
            *ppmk = nullptr;
        return E_NOTIMPL;
    }
    STDMETHOD(GetContainer)(IOleContainer** ppContainer) override
    {
        if (!ppContainer)
            return E_POINTER;
        *ppContainer = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHOD(ShowObject)() override
    {
        return S_OK;
    }
    STDMETHOD(OnShowWindow)(BOOL) override
    {
        return S_OK;
    }
    STDMETHOD(RequestNewObjectLayout)() override
    {
        return E_NOTIMPL;
    }

    // --- IOleInPlaceSite ----------------------------------------------------------------------

    STDMETHOD(GetWindow)(HWND* phwnd) override
    {
        if (!phwnd)
            return E_POINTER;
        *phwnd = m_hWnd;
        return S_OK;
    }
    STDMETHOD(ContextSensitiveHelp)(BOOL) override
    {
        return E_NOTIMPL;
    }
    STDMETHOD(CanInPlaceActivate)() override
    {
        return S_OK;
    }
    STDMETHOD(OnInPlaceActivate)() override
    {
        return S_OK;
    }
    STDMETHOD(OnUIActivate)() override
    {
        return S_OK;
    }
    // The host has no frame or document window of its own: the control lives in the host's
    // client area alone.
    STDMETHOD(GetWindowContext)
    (IOleInPlaceFrame** ppFrame, IOleInPlaceUIWindow** ppDoc, LPRECT lprcPosRect, LPRECT lprcClipRect,
        LPOLEINPLACEFRAMEINFO lpFrameInfo) override
    {
        if (ppFrame)
            *ppFrame = nullptr;
        if (ppDoc)
            *ppDoc = nullptr;
        if (!lprcPosRect || !lprcClipRect)
            return E_POINTER;
        GetClientRect(m_hWnd, lprcPosRect);
        *lprcClipRect = *lprcPosRect;
        if (lpFrameInfo) {
            lpFrameInfo->fMDIApp = FALSE;
            lpFrameInfo->hwndFrame = m_hWnd;
            lpFrameInfo->haccel = nullptr;
            lpFrameInfo->cAccelEntries = 0;
        }
        return S_OK;
    }
    STDMETHOD(Scroll)(SIZE) override
    {
        return E_NOTIMPL;
    }
    STDMETHOD(OnUIDeactivate)(BOOL) override
    {
        return S_OK;
    }
    STDMETHOD(OnInPlaceDeactivate)() override
    {
        return S_OK;
    }
    STDMETHOD(DiscardUndoState)() override
    {
        return S_OK;
    }
    STDMETHOD(DeactivateAndUndo)() override
    {
        return S_OK;
    }
    STDMETHOD(OnPosRectChange)(LPCRECT lprcPosRect) override
    {
        if (!lprcPosRect)
            return E_POINTER;
        if (m_inPlaceObject)
            m_inPlaceObject->SetObjectRects(lprcPosRect, lprcPosRect);
        return S_OK;
    }

private:
    // The control becomes the host's: its client site is the host, and it is active in place in
    // the host's client area.
    HRESULT Activate(IUnknown* control)
    {
        m_control = control;
        CComQIPtr<IOleObject> object { control };
        if (!object)
            return S_OK;
        DWORD status = 0;
        object->GetMiscStatus(DVASPECT_CONTENT, &status);
        // No persisted state is loaded, so the site goes first whatever OLEMISC_SETCLIENTSITEFIRST says.
        IOleClientSite* site = this;
        object->SetClientSite(site);
        RECT client {};
        GetClientRect(m_hWnd, &client);
        const HRESULT hr = object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site, 0, m_hWnd, &client);
        if (FAILED(hr)) {
            ReleaseControl();
            return hr;
        }
        control->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&m_inPlaceObject));
        return S_OK;
    }

    std::optional<VARIANT> OwnAmbient(DISPID dispid) const
    {
        switch (dispid) {
        case DISPID_AMBIENT_USERMODE:
            return BoolVariant(m_userMode != VARIANT_FALSE);
        case DISPID_AMBIENT_DISPLAYASDEFAULT:
            return BoolVariant(m_displayAsDefault != VARIANT_FALSE);
        case DISPID_AMBIENT_MESSAGEREFLECT:
            return BoolVariant(m_messageReflect != VARIANT_FALSE);
        case DISPID_AMBIENT_SHOWGRABHANDLES:
        case DISPID_AMBIENT_SHOWHATCHING:
            return BoolVariant(false);
        case DISPID_AMBIENT_BACKCOLOR:
            return IntegerVariant(static_cast<LONG>(m_backColor));
        case DISPID_AMBIENT_FORECOLOR:
            return IntegerVariant(static_cast<LONG>(m_foreColor));
        case DISPID_AMBIENT_LOCALEID:
            return IntegerVariant(static_cast<LONG>(m_locale));
        case DISPID_AMBIENT_FONT:
            if (!m_font)
                return std::nullopt;
            VARIANT font;
            VariantInit(&font);
            V_VT(&font) = VT_DISPATCH;
            V_DISPATCH(&font) = m_font;
            m_font->AddRef();
            return font;
        default:
            return std::nullopt;
        }
    }

    template <class T> static HRESULT Store(T& field, T value)
    {
        field = value;
        return S_OK;
    }
    template <class T> static HRESULT Load(const T& field, T* value)
    {
        if (!value)
            return E_POINTER;
        *value = field;
        return S_OK;
    }

    CComPtr<IUnknown> m_control;
    CComPtr<IOleInPlaceObject> m_inPlaceObject;
    CComPtr<IConnectionPoint> m_eventsPoint;
    DWORD m_eventsCookie = 0;
    CComPtr<IDispatch> m_ambient;
    CComPtr<IDispatch> m_external;
    CComPtr<IFontDisp> m_font;
    VARIANT_BOOL m_allowWindowless = VARIANT_TRUE;
    OLE_COLOR m_backColor = kWindowColor;
    OLE_COLOR m_foreColor = kWindowTextColor;
    LCID m_locale = kUserDefaultLocale;
    VARIANT_BOOL m_userMode = VARIANT_TRUE;
    VARIANT_BOOL m_displayAsDefault = VARIANT_FALSE;
    VARIANT_BOOL m_messageReflect = VARIANT_TRUE;
    DWORD m_docHostFlags = 0;
    DWORD m_docHostDoubleClickFlags = 0;
    VARIANT_BOOL m_allowContextMenu = VARIANT_TRUE;
    VARIANT_BOOL m_allowShowUI = VARIANT_FALSE;
    std::u16string m_optionKeyPath;
};

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE: {
        CComObject<CAxHostWindow>* host = nullptr;
        if (FAILED(CComObject<CAxHostWindow>::CreateInstance(&host)))
            return -1;
        host->AddRef(); // the window's reference, let go at WM_NCDESTROY
        host->m_hWnd = window;
        {
            std::lock_guard guard(g_hostsLock);
            g_hosts[window] = host;
        }
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(host));
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        if (create && create->lpszName && *create->lpszName)
            host->CreateControl(create->lpszName, window, nullptr);
        return 0;
    }
    case WM_SIZE:
        if (CAxHostWindow* host = HostOf(window))
            host->OnSize();
        return DefWindowProcW(window, message, wParam, lParam);
    case WM_DESTROY:
        if (CAxHostWindow* host = HostOf(window))
            host->ReleaseAll();
        return DefWindowProcW(window, message, wParam, lParam);
    case WM_NCDESTROY: {
        CAxHostWindow* host = nullptr;
        {
            std::lock_guard guard(g_hostsLock);
            const auto found = g_hosts.find(window);
            if (found != g_hosts.end()) {
                host = found->second;
                g_hosts.erase(found);
            }
        }
        if (host) {
            if (GetWindowLongPtrW(window, GWLP_USERDATA) == reinterpret_cast<LONG_PTR>(host))
                SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            host->Release();
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

HINSTANCE ThisModule()
{
    return ATL::AtlCurrentModule();
}

}

extern "C" BOOL WINAPI AtlAxWinInit()
{
    WNDCLASSEXW existing { sizeof existing };
    if (GetClassInfoExW(ThisModule(), kHostClass, &existing))
        return TRUE;
    WNDCLASSEXW windowClass { sizeof windowClass };
    windowClass.style = CS_GLOBALCLASS | CS_DBLCLKS;
    windowClass.lpfnWndProc = HostWindowProc;
    windowClass.hInstance = ThisModule();
    windowClass.lpszClassName = kHostClass;
    return RegisterClassExW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

extern "C" HRESULT WINAPI AtlAxGetHost(HWND h, IUnknown** pp)
{
    if (!pp)
        return E_POINTER;
    *pp = nullptr;
    CAxHostWindow* host = HostOf(h);
    if (!host)
        return E_FAIL;
    return host->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(pp));
}

extern "C" HRESULT WINAPI AtlAxGetControl(HWND h, IUnknown** pp)
{
    if (!pp)
        return E_POINTER;
    *pp = nullptr;
    CAxHostWindow* host = HostOf(h);
    return host ? host->GetControl(pp) : E_FAIL;
}
