// The WebBrowser control: IWebBrowser, IWebBrowserApp and IWebBrowser2 in their exact table
// order, the event dispinterface DWebBrowserEvents2 (its DISPIDs in exdispid.h) and the class.
//
// The platform's control (CoCreateInstance(CLSID_WebBrowser), in process) lives on the thread that
// created it: its methods are called there, its events are raised there, from that thread's
// message loop. Navigate2 only starts a navigation; nothing the control does on its thread waits
// for the page. The document it hands out (mshtml.h) may be used from any thread. Members a
// hidden browser has no use for (history, bars, full screen, ...) answer E_NOTIMPL.
#pragma once

#include "docobj.h"
#include "ocidl.h"

typedef LONG_PTR SHANDLE_PTR;

typedef enum BrowserNavConstants {
    navOpenInNewWindow = 0x1,
    navNoHistory = 0x2,
    navNoReadFromCache = 0x4,
    navNoWriteToCache = 0x8,
    navAllowAutosearch = 0x10,
    navBrowserBar = 0x20,
    navHyperlink = 0x40,
    navEnforceRestricted = 0x80,
    navNewWindowsManaged = 0x100,
    navUntrustedForDownload = 0x200,
    navTrustedForActiveX = 0x400,
    navOpenInNewTab = 0x800,
    navOpenInBackgroundTab = 0x1000,
    navKeepWordWheelText = 0x2000
} BrowserNavConstants;

typedef enum RefreshConstants { REFRESH_NORMAL = 0, REFRESH_IFEXPIRED = 1, REFRESH_COMPLETELY = 3 } RefreshConstants;

// NewWindow3's dwFlags.
typedef enum NWMF {
    NWMF_UNLOADING = 0x1,
    NWMF_USERINITED = 0x2,
    NWMF_FIRST = 0x4,
    NWMF_OVERRIDEKEY = 0x8,
    NWMF_SHOWHELP = 0x10,
    NWMF_HTMLDIALOG = 0x20,
    NWMF_FROMDIALOGCHILD = 0x40,
    NWMF_USERREQUESTED = 0x80,
    NWMF_USERALLOWED = 0x100,
    NWMF_FORCEWINDOW = 0x10000,
    NWMF_FORCETAB = 0x20000,
    NWMF_SUGGESTWINDOW = 0x40000,
    NWMF_SUGGESTTAB = 0x80000,
    NWMF_INACTIVETAB = 0x100000
} NWMF;

DEFINE_GUID(LIBID_SHDocVw, 0xEAB22AC0, 0x30C1, 0x11CF, 0xA7, 0xEB, 0x00, 0x00, 0xC0, 0x5B, 0xAE, 0x0B);
DEFINE_GUID(IID_IWebBrowser, 0xEAB22AC1, 0x30C1, 0x11CF, 0xA7, 0xEB, 0x00, 0x00, 0xC0, 0x5B, 0xAE, 0x0B);
DEFINE_GUID(DIID_DWebBrowserEvents, 0xEAB22AC2, 0x30C1, 0x11CF, 0xA7, 0xEB, 0x00, 0x00, 0xC0, 0x5B, 0xAE, 0x0B);
DEFINE_GUID(IID_IWebBrowserApp, 0x0002DF05, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
DEFINE_GUID(IID_IWebBrowser2, 0xD30C1661, 0xCDAF, 0x11D0, 0x8A, 0x3E, 0x00, 0xC0, 0x4F, 0xC9, 0xE2, 0x6E);
DEFINE_GUID(DIID_DWebBrowserEvents2, 0x34A715A0, 0x6587, 0x11D0, 0x92, 0x4A, 0x00, 0x20, 0xAF, 0xC7, 0xAC, 0x4D);
DEFINE_GUID(CLSID_WebBrowser, 0x8856F961, 0x340A, 0x11D0, 0xA9, 0x6B, 0x00, 0xC0, 0x4F, 0xD7, 0x05, 0xA2);

struct IWebBrowser : public IDispatch {
    STDMETHOD(GoBack)() PURE;
    STDMETHOD(GoForward)() PURE;
    STDMETHOD(GoHome)() PURE;
    STDMETHOD(GoSearch)() PURE;
    STDMETHOD(Navigate)
    (BSTR URL, VARIANT* Flags, VARIANT* TargetFrameName, VARIANT* PostData, VARIANT* Headers) PURE;
    STDMETHOD(Refresh)() PURE;
    STDMETHOD(Refresh2)(VARIANT* Level) PURE;
    STDMETHOD(Stop)() PURE;
    STDMETHOD(get_Application)(IDispatch** ppDisp) PURE;
    STDMETHOD(get_Parent)(IDispatch** ppDisp) PURE;
    STDMETHOD(get_Container)(IDispatch** ppDisp) PURE;
    STDMETHOD(get_Document)(IDispatch** ppDisp) PURE;
    STDMETHOD(get_TopLevelContainer)(VARIANT_BOOL* pBool) PURE;
    STDMETHOD(get_Type)(BSTR* Type) PURE;
    STDMETHOD(get_Left)(LONG* pl) PURE;
    STDMETHOD(put_Left)(LONG Left) PURE;
    STDMETHOD(get_Top)(LONG* pl) PURE;
    STDMETHOD(put_Top)(LONG Top) PURE;
    STDMETHOD(get_Width)(LONG* pl) PURE;
    STDMETHOD(put_Width)(LONG Width) PURE;
    STDMETHOD(get_Height)(LONG* pl) PURE;
    STDMETHOD(put_Height)(LONG Height) PURE;
    STDMETHOD(get_LocationName)(BSTR* LocationName) PURE;
    STDMETHOD(get_LocationURL)(BSTR* LocationURL) PURE;
    STDMETHOD(get_Busy)(VARIANT_BOOL* pBool) PURE;
};
DECLARE_INTERFACE_IID(IWebBrowser, IID_IWebBrowser)

struct IWebBrowserApp : public IWebBrowser {
    STDMETHOD(Quit)() PURE;
    STDMETHOD(ClientToWindow)(int* pcx, int* pcy) PURE;
    STDMETHOD(PutProperty)(BSTR Property, VARIANT vtValue) PURE;
    STDMETHOD(GetProperty)(BSTR Property, VARIANT* pvtValue) PURE;
    STDMETHOD(get_Name)(BSTR* Name) PURE;
    STDMETHOD(get_HWND)(SHANDLE_PTR* pHWND) PURE;
    STDMETHOD(get_FullName)(BSTR* FullName) PURE;
    STDMETHOD(get_Path)(BSTR* Path) PURE;
    STDMETHOD(get_Visible)(VARIANT_BOOL* pBool) PURE;
    STDMETHOD(put_Visible)(VARIANT_BOOL Value) PURE;
    STDMETHOD(get_StatusBar)(VARIANT_BOOL* pBool) PURE;
    STDMETHOD(put_StatusBar)(VARIANT_BOOL Value) PURE;
    STDMETHOD(get_StatusText)(BSTR* StatusText) PURE;
    STDMETHOD(put_StatusText)(BSTR StatusText) PURE;
    STDMETHOD(get_ToolBar)(int* Value) PURE;
    STDMETHOD(put_ToolBar)(int Value) PURE;
    STDMETHOD(get_MenuBar)(VARIANT_BOOL* Value) PURE;
    STDMETHOD(put_MenuBar)(VARIANT_BOOL Value) PURE;
    STDMETHOD(get_FullScreen)(VARIANT_BOOL* pbFullScreen) PURE;
    STDMETHOD(put_FullScreen)(VARIANT_BOOL bFullScreen) PURE;
};
DECLARE_INTERFACE_IID(IWebBrowserApp, IID_IWebBrowserApp)

struct IWebBrowser2 : public IWebBrowserApp {
    STDMETHOD(Navigate2)
    (VARIANT* URL, VARIANT* Flags, VARIANT* TargetFrameName, VARIANT* PostData, VARIANT* Headers) PURE;
    STDMETHOD(QueryStatusWB)(OLECMDID cmdID, OLECMDF* pcmdf) PURE;
    STDMETHOD(ExecWB)(OLECMDID cmdID, OLECMDEXECOPT cmdexecopt, VARIANT* pvaIn, VARIANT* pvaOut) PURE;
    STDMETHOD(ShowBrowserBar)(VARIANT* pvaClsid, VARIANT* pvarShow, VARIANT* pvarSize) PURE;
    STDMETHOD(get_ReadyState)(READYSTATE* plReadyState) PURE;
    STDMETHOD(get_Offline)(VARIANT_BOOL* pbOffline) PURE;
    STDMETHOD(put_Offline)(VARIANT_BOOL bOffline) PURE;
    STDMETHOD(get_Silent)(VARIANT_BOOL* pbSilent) PURE;
    STDMETHOD(put_Silent)(VARIANT_BOOL bSilent) PURE;
    STDMETHOD(get_RegisterAsBrowser)(VARIANT_BOOL* pbRegister) PURE;
    STDMETHOD(put_RegisterAsBrowser)(VARIANT_BOOL bRegister) PURE;
    STDMETHOD(get_RegisterAsDropTarget)(VARIANT_BOOL* pbRegister) PURE;
    STDMETHOD(put_RegisterAsDropTarget)(VARIANT_BOOL bRegister) PURE;
    STDMETHOD(get_TheaterMode)(VARIANT_BOOL* pbRegister) PURE;
    STDMETHOD(put_TheaterMode)(VARIANT_BOOL bRegister) PURE;
    STDMETHOD(get_AddressBar)(VARIANT_BOOL* Value) PURE;
    STDMETHOD(put_AddressBar)(VARIANT_BOOL Value) PURE;
    STDMETHOD(get_Resizable)(VARIANT_BOOL* Value) PURE;
    STDMETHOD(put_Resizable)(VARIANT_BOOL Value) PURE;
};
typedef IWebBrowser2* LPWEBBROWSER2;
DECLARE_INTERFACE_IID(IWebBrowser2, IID_IWebBrowser2)

// The events, raised through IDispatch::Invoke with the DISPIDs of exdispid.h and their arguments
// in reverse order in DISPPARAMS (the last parameter first).
struct DWebBrowserEvents2 : public IDispatch { };
DECLARE_INTERFACE_IID(DWebBrowserEvents2, DIID_DWebBrowserEvents2)
