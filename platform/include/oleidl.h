// OLE embedding and in-place activation: how a container (its client site and in-place site)
// and an embedded control (IOleObject, IOleInPlaceObject) meet. The interfaces' functions are in
// their exact table order. The container's calls come on the control's thread; a control that
// does not offer a slot answers E_NOTIMPL there.
#pragma once

#include "oaidl.h"
#include "winuser.h"

struct IMoniker;
struct IDataObject;
struct IEnumOLEVERB;
struct IAdviseSink;
struct IEnumSTATDATA;
struct IEnumUnknown;
struct IBindCtx;
struct IStream;
struct IOleInPlaceActiveObject;

DECLARE_HANDLE(HACCEL);
typedef HGLOBAL HOLEMENU;
typedef SIZE SIZEL;
typedef SIZE* LPSIZEL;
typedef RECT BORDERWIDTHS;
typedef RECT* LPBORDERWIDTHS;
typedef const RECT* LPCBORDERWIDTHS;

DEFINE_GUID(IID_IParseDisplayName, 0x0000011A, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
DEFINE_GUID(IID_IOleContainer, 0x0000011B, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
DEFINE_GUID(IID_IOleClientSite, 0x00000118, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
DEFINE_GUID(IID_IOleObject, 0x00000112, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
DEFINE_GUID(IID_IOleWindow, 0x00000114, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
DEFINE_GUID(IID_IOleInPlaceObject, 0x00000113, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
DEFINE_GUID(IID_IOleInPlaceActiveObject, 0x00000117, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
DEFINE_GUID(IID_IOleInPlaceUIWindow, 0x00000115, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
DEFINE_GUID(IID_IOleInPlaceFrame, 0x00000116, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
DEFINE_GUID(IID_IOleInPlaceSite, 0x00000119, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

// IOleObject::DoVerb verbs.
#define OLEIVERB_PRIMARY (0L)
#define OLEIVERB_SHOW (-1L)
#define OLEIVERB_OPEN (-2L)
#define OLEIVERB_HIDE (-3L)
#define OLEIVERB_UIACTIVATE (-4L)
#define OLEIVERB_INPLACEACTIVATE (-5L)
#define OLEIVERB_DISCARDUNDOSTATE (-6L)

typedef enum tagDVASPECT {
    DVASPECT_CONTENT = 1,
    DVASPECT_THUMBNAIL = 2,
    DVASPECT_ICON = 4,
    DVASPECT_DOCPRINT = 8
} DVASPECT;

typedef enum tagOLECLOSE { OLECLOSE_SAVEIFDIRTY = 0, OLECLOSE_NOSAVE = 1, OLECLOSE_PROMPTSAVE = 2 } OLECLOSE;

typedef enum tagOLEMISC {
    OLEMISC_RECOMPOSEONRESIZE = 0x1,
    OLEMISC_ONLYICONIC = 0x2,
    OLEMISC_INSERTNOTREPLACE = 0x4,
    OLEMISC_STATIC = 0x8,
    OLEMISC_CANTLINKINSIDE = 0x10,
    OLEMISC_CANLINKBYOLE1 = 0x20,
    OLEMISC_ISLINKOBJECT = 0x40,
    OLEMISC_INSIDEOUT = 0x80,
    OLEMISC_ACTIVATEWHENVISIBLE = 0x100,
    OLEMISC_RENDERINGISDEVICEINDEPENDENT = 0x200,
    OLEMISC_INVISIBLEATRUNTIME = 0x400,
    OLEMISC_ALWAYSRUN = 0x800,
    OLEMISC_ACTSLIKEBUTTON = 0x1000,
    OLEMISC_ACTSLIKELABEL = 0x2000,
    OLEMISC_NOUIACTIVATE = 0x4000,
    OLEMISC_ALIGNABLE = 0x8000,
    OLEMISC_SIMPLEFRAME = 0x10000,
    OLEMISC_SETCLIENTSITEFIRST = 0x20000,
} OLEMISC;

typedef enum tagOLEGETMONIKER {
    OLEGETMONIKER_ONLYIFTHERE = 1,
    OLEGETMONIKER_FORCEASSIGN = 2,
    OLEGETMONIKER_UNASSIGN = 3,
    OLEGETMONIKER_TEMPFORUSER = 4
} OLEGETMONIKER;

typedef enum tagOLEWHICHMK { OLEWHICHMK_CONTAINER = 1, OLEWHICHMK_OBJREL = 2, OLEWHICHMK_OBJFULL = 3 } OLEWHICHMK;

typedef struct tagOIFI {
    UINT cb;
    BOOL fMDIApp;
    HWND hwndFrame;
    HACCEL haccel;
    UINT cAccelEntries;
} OLEINPLACEFRAMEINFO, *LPOLEINPLACEFRAMEINFO;

typedef struct tagOleMenuGroupWidths {
    LONG width[6];
} OLEMENUGROUPWIDTHS, *LPOLEMENUGROUPWIDTHS;

typedef struct tagLOGPALETTE LOGPALETTE;

struct IParseDisplayName : public IUnknown {
    STDMETHOD(ParseDisplayName)(IBindCtx* pbc, LPOLESTR pszDisplayName, ULONG* pchEaten, IMoniker** ppmkOut) PURE;
};
DECLARE_INTERFACE_IID(IParseDisplayName, IID_IParseDisplayName)

struct IOleContainer : public IParseDisplayName {
    STDMETHOD(EnumObjects)(DWORD grfFlags, IEnumUnknown** ppenum) PURE;
    STDMETHOD(LockContainer)(BOOL fLock) PURE;
};
DECLARE_INTERFACE_IID(IOleContainer, IID_IOleContainer)

struct IOleClientSite : public IUnknown {
    STDMETHOD(SaveObject)() PURE;
    STDMETHOD(GetMoniker)(DWORD dwAssign, DWORD dwWhichMoniker, IMoniker** ppmk) PURE;
    STDMETHOD(GetContainer)(IOleContainer** ppContainer) PURE;
    STDMETHOD(ShowObject)() PURE;
    STDMETHOD(OnShowWindow)(BOOL fShow) PURE;
    STDMETHOD(RequestNewObjectLayout)() PURE;
};
typedef IOleClientSite* LPOLECLIENTSITE;
DECLARE_INTERFACE_IID(IOleClientSite, IID_IOleClientSite)

struct IOleObject : public IUnknown {
    STDMETHOD(SetClientSite)(IOleClientSite* pClientSite) PURE;
    STDMETHOD(GetClientSite)(IOleClientSite** ppClientSite) PURE;
    STDMETHOD(SetHostNames)(LPCOLESTR szContainerApp, LPCOLESTR szContainerObj) PURE;
    STDMETHOD(Close)(DWORD dwSaveOption) PURE;
    STDMETHOD(SetMoniker)(DWORD dwWhichMoniker, IMoniker* pmk) PURE;
    STDMETHOD(GetMoniker)(DWORD dwAssign, DWORD dwWhichMoniker, IMoniker** ppmk) PURE;
    STDMETHOD(InitFromData)(IDataObject* pDataObject, BOOL fCreation, DWORD dwReserved) PURE;
    STDMETHOD(GetClipboardData)(DWORD dwReserved, IDataObject** ppDataObject) PURE;
    STDMETHOD(DoVerb)
    (LONG iVerb, LPMSG lpmsg, IOleClientSite* pActiveSite, LONG lindex, HWND hwndParent, LPCRECT lprcPosRect) PURE;
    STDMETHOD(EnumVerbs)(IEnumOLEVERB** ppEnumOleVerb) PURE;
    STDMETHOD(Update)() PURE;
    STDMETHOD(IsUpToDate)() PURE;
    STDMETHOD(GetUserClassID)(CLSID* pClsid) PURE;
    STDMETHOD(GetUserType)(DWORD dwFormOfType, LPOLESTR* pszUserType) PURE;
    STDMETHOD(SetExtent)(DWORD dwDrawAspect, SIZEL* psizel) PURE;
    STDMETHOD(GetExtent)(DWORD dwDrawAspect, SIZEL* psizel) PURE;
    STDMETHOD(Advise)(IAdviseSink* pAdvSink, DWORD* pdwConnection) PURE;
    STDMETHOD(Unadvise)(DWORD dwConnection) PURE;
    STDMETHOD(EnumAdvise)(IEnumSTATDATA** ppenumAdvise) PURE;
    STDMETHOD(GetMiscStatus)(DWORD dwAspect, DWORD* pdwStatus) PURE;
    STDMETHOD(SetColorScheme)(LOGPALETTE* pLogpal) PURE;
};
typedef IOleObject* LPOLEOBJECT;
DECLARE_INTERFACE_IID(IOleObject, IID_IOleObject)

struct IOleWindow : public IUnknown {
    STDMETHOD(GetWindow)(HWND* phwnd) PURE;
    STDMETHOD(ContextSensitiveHelp)(BOOL fEnterMode) PURE;
};
DECLARE_INTERFACE_IID(IOleWindow, IID_IOleWindow)

struct IOleInPlaceObject : public IOleWindow {
    STDMETHOD(InPlaceDeactivate)() PURE;
    STDMETHOD(UIDeactivate)() PURE;
    STDMETHOD(SetObjectRects)(LPCRECT lprcPosRect, LPCRECT lprcClipRect) PURE;
    STDMETHOD(ReactivateAndUndo)() PURE;
};
DECLARE_INTERFACE_IID(IOleInPlaceObject, IID_IOleInPlaceObject)

struct IOleInPlaceUIWindow : public IOleWindow {
    STDMETHOD(GetBorder)(LPRECT lprectBorder) PURE;
    STDMETHOD(RequestBorderSpace)(LPCBORDERWIDTHS pborderwidths) PURE;
    STDMETHOD(SetBorderSpace)(LPCBORDERWIDTHS pborderwidths) PURE;
    STDMETHOD(SetActiveObject)(IOleInPlaceActiveObject* pActiveObject, LPCOLESTR pszObjName) PURE;
};
DECLARE_INTERFACE_IID(IOleInPlaceUIWindow, IID_IOleInPlaceUIWindow)

struct IOleInPlaceActiveObject : public IOleWindow {
    STDMETHOD(TranslateAccelerator)(LPMSG lpmsg) PURE;
    STDMETHOD(OnFrameWindowActivate)(BOOL fActivate) PURE;
    STDMETHOD(OnDocWindowActivate)(BOOL fActivate) PURE;
    STDMETHOD(ResizeBorder)(LPCRECT prcBorder, IOleInPlaceUIWindow* pUIWindow, BOOL fFrameWindow) PURE;
    STDMETHOD(EnableModeless)(BOOL fEnable) PURE;
};
DECLARE_INTERFACE_IID(IOleInPlaceActiveObject, IID_IOleInPlaceActiveObject)

struct IOleInPlaceFrame : public IOleInPlaceUIWindow {
    STDMETHOD(InsertMenus)(HMENU hmenuShared, LPOLEMENUGROUPWIDTHS lpMenuWidths) PURE;
    STDMETHOD(SetMenu)(HMENU hmenuShared, HOLEMENU holemenu, HWND hwndActiveObject) PURE;
    STDMETHOD(RemoveMenus)(HMENU hmenuShared) PURE;
    STDMETHOD(SetStatusText)(LPCOLESTR pszStatusText) PURE;
    STDMETHOD(EnableModeless)(BOOL fEnable) PURE;
    STDMETHOD(TranslateAccelerator)(LPMSG lpmsg, WORD wID) PURE;
};
DECLARE_INTERFACE_IID(IOleInPlaceFrame, IID_IOleInPlaceFrame)

struct IOleInPlaceSite : public IOleWindow {
    STDMETHOD(CanInPlaceActivate)() PURE;
    STDMETHOD(OnInPlaceActivate)() PURE;
    STDMETHOD(OnUIActivate)() PURE;
    STDMETHOD(GetWindowContext)
    (IOleInPlaceFrame** ppFrame, IOleInPlaceUIWindow** ppDoc, LPRECT lprcPosRect, LPRECT lprcClipRect,
        LPOLEINPLACEFRAMEINFO lpFrameInfo) PURE;
    STDMETHOD(Scroll)(SIZE scrollExtant) PURE;
    STDMETHOD(OnUIDeactivate)(BOOL fUndoable) PURE;
    STDMETHOD(OnInPlaceDeactivate)() PURE;
    STDMETHOD(DiscardUndoState)() PURE;
    STDMETHOD(DeactivateAndUndo)() PURE;
    STDMETHOD(OnPosRectChange)(LPCRECT lprcPosRect) PURE;
};
DECLARE_INTERFACE_IID(IOleInPlaceSite, IID_IOleInPlaceSite)
