// ATL's control host: the window class "AtlAxWin90", whose window creates and hosts the control
// that its window text names (a CLSID "{...}", a ProgID, or a URL, which makes a WebBrowser
// control navigating to it; "about:blank" is a URL), and the host object behind it.
//
// The host is the control's client site and in-place site, answers the ambient properties it
// knows itself (user mode, locale, colours, font, message reflection, ...) and asks the dispatch
// given with IAxWinAmbientDispatchEx::SetAmbientDispatch for all others. It keeps its own pointer
// in the window's GWLP_USERDATA until WM_NCDESTROY; a program that puts its own value there must
// put the host's back before the window is destroyed (as the host then reads it to release
// itself). The control's windows are sized to the host's client area and follow WM_SIZE.
// Everything runs on the window's thread. AtlAxGetHost and AtlAxGetControl fail with E_FAIL for a
// window that is no host (or whose host has no control yet).
#pragma once

#include "atlbase.h"
#include "ocidl.h"

struct IDocHostUIHandlerDispatch;

DEFINE_GUID(IID_IAxWinHostWindow, 0xB6EA2050, 0x048A, 0x11D1, 0x82, 0xB9, 0x00, 0xC0, 0x4F, 0xB9, 0x94, 0x2E);
DEFINE_GUID(IID_IAxWinAmbientDispatch, 0xB6EA2051, 0x048A, 0x11D1, 0x82, 0xB9, 0x00, 0xC0, 0x4F, 0xB9, 0x94, 0x2E);
DEFINE_GUID(IID_IAxWinAmbientDispatchEx, 0xB2D0778B, 0xAC99, 0x4C58, 0xA5, 0xC8, 0xE7, 0x72, 0x4E, 0x53, 0x16, 0xB5);

struct IAxWinHostWindow : public IUnknown {
    STDMETHOD(CreateControl)(LPCOLESTR lpTricsData, HWND hWnd, IStream* pStream) PURE;
    STDMETHOD(CreateControlEx)
    (LPCOLESTR lpTricsData, HWND hWnd, IStream* pStream, IUnknown** ppUnk, REFIID riidAdvise,
        IUnknown* punkAdvise) PURE;
    STDMETHOD(AttachControl)(IUnknown* pUnkControl, HWND hWnd) PURE;
    STDMETHOD(QueryControl)(REFIID riid, void** ppvObject) PURE;
    STDMETHOD(SetExternalDispatch)(IDispatch* pDisp) PURE;
    STDMETHOD(SetExternalUIHandler)(IDocHostUIHandlerDispatch* pDisp) PURE;

    template <class Q> HRESULT QueryControl(Q** ppUnk)
    {
        return QueryControl(IidOf<Q>(), reinterpret_cast<void**>(ppUnk));
    }
};
DECLARE_INTERFACE_IID(IAxWinHostWindow, IID_IAxWinHostWindow)

struct IAxWinAmbientDispatch : public IDispatch {
    STDMETHOD(put_AllowWindowlessActivation)(VARIANT_BOOL bCanWindowlessActivate) PURE;
    STDMETHOD(get_AllowWindowlessActivation)(VARIANT_BOOL* pbCanWindowlessActivate) PURE;
    STDMETHOD(put_BackColor)(OLE_COLOR clrBackground) PURE;
    STDMETHOD(get_BackColor)(OLE_COLOR* pclrBackground) PURE;
    STDMETHOD(put_ForeColor)(OLE_COLOR clrForeground) PURE;
    STDMETHOD(get_ForeColor)(OLE_COLOR* pclrForeground) PURE;
    STDMETHOD(put_LocaleID)(LCID lcidLocaleID) PURE;
    STDMETHOD(get_LocaleID)(LCID* plcidLocaleID) PURE;
    STDMETHOD(put_UserMode)(VARIANT_BOOL bUserMode) PURE;
    STDMETHOD(get_UserMode)(VARIANT_BOOL* pbUserMode) PURE;
    STDMETHOD(put_DisplayAsDefault)(VARIANT_BOOL bDisplayAsDefault) PURE;
    STDMETHOD(get_DisplayAsDefault)(VARIANT_BOOL* pbDisplayAsDefault) PURE;
    STDMETHOD(put_Font)(IFontDisp* pFont) PURE;
    STDMETHOD(get_Font)(IFontDisp** pFont) PURE;
    STDMETHOD(put_MessageReflect)(VARIANT_BOOL bMsgReflect) PURE;
    STDMETHOD(get_MessageReflect)(VARIANT_BOOL* pbMsgReflect) PURE;
    STDMETHOD(get_ShowGrabHandles)(VARIANT_BOOL* pbShowGrabHandles) PURE;
    STDMETHOD(get_ShowHatching)(VARIANT_BOOL* pbShowHatching) PURE;
    STDMETHOD(put_DocHostFlags)(DWORD dwDocHostFlags) PURE;
    STDMETHOD(get_DocHostFlags)(DWORD* pdwDocHostFlags) PURE;
    STDMETHOD(put_DocHostDoubleClickFlags)(DWORD dwDocHostDoubleClickFlags) PURE;
    STDMETHOD(get_DocHostDoubleClickFlags)(DWORD* pdwDocHostDoubleClickFlags) PURE;
    STDMETHOD(put_AllowContextMenu)(VARIANT_BOOL bAllowContextMenu) PURE;
    STDMETHOD(get_AllowContextMenu)(VARIANT_BOOL* pbAllowContextMenu) PURE;
    STDMETHOD(put_AllowShowUI)(VARIANT_BOOL bAllowShowUI) PURE;
    STDMETHOD(get_AllowShowUI)(VARIANT_BOOL* pbAllowShowUI) PURE;
    STDMETHOD(put_OptionKeyPath)(BSTR bstrOptionKeyPath) PURE;
    STDMETHOD(get_OptionKeyPath)(BSTR* pbstrOptionKeyPath) PURE;
};
DECLARE_INTERFACE_IID(IAxWinAmbientDispatch, IID_IAxWinAmbientDispatch)

struct IAxWinAmbientDispatchEx : public IAxWinAmbientDispatch {
    // The dispatch asked for every ambient property the host does not know itself; the host
    // holds a reference to it until the next call or its own end. Null removes it.
    STDMETHOD(SetAmbientDispatch)(IDispatch* pDispatch) PURE;
};
DECLARE_INTERFACE_IID(IAxWinAmbientDispatchEx, IID_IAxWinAmbientDispatchEx)

extern "C" {
// Registers the window class "AtlAxWin90" for the process (TRUE also when it already is).
BOOL WINAPI AtlAxWinInit();
// The host object of a host window (its IUnknown, with a reference for the caller).
HRESULT WINAPI AtlAxGetHost(HWND h, IUnknown** pp);
// The control in a host window (its IUnknown, with a reference for the caller).
HRESULT WINAPI AtlAxGetControl(HWND h, IUnknown** pp);
}
