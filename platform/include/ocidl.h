// The connection-point interfaces (events from an object to its sinks), IProvideClassInfo, and
// the control types that containers and controls share (READYSTATE, OLE_COLOR, IFontDisp).
// A sink connects with IConnectionPoint::Advise and gets a cookie, which Unadvise takes back.
#pragma once

#include "oaidl.h"
#include "oleidl.h"

struct IConnectionPoint;
struct IConnectionPointContainer;

typedef struct tagCONNECTDATA {
    IUnknown* pUnk;
    DWORD dwCookie;
} CONNECTDATA, *LPCONNECTDATA;

DEFINE_GUID(IID_IProvideClassInfo, 0xB196B283, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);
DEFINE_GUID(IID_IConnectionPointContainer, 0xB196B284, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);
DEFINE_GUID(IID_IEnumConnectionPoints, 0xB196B285, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);
DEFINE_GUID(IID_IConnectionPoint, 0xB196B286, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);
DEFINE_GUID(IID_IEnumConnections, 0xB196B287, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);
DEFINE_GUID(IID_IProvideClassInfo2, 0xA6BC3AC0, 0xDBAA, 0x11CE, 0x9D, 0xE3, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51);

struct IEnumConnections : public IUnknown {
    STDMETHOD(Next)(ULONG cConnections, LPCONNECTDATA rgcd, ULONG* pcFetched) PURE;
    STDMETHOD(Skip)(ULONG cConnections) PURE;
    STDMETHOD(Reset)() PURE;
    STDMETHOD(Clone)(IEnumConnections** ppEnum) PURE;
};
typedef IEnumConnections* LPENUMCONNECTIONS;
DECLARE_INTERFACE_IID(IEnumConnections, IID_IEnumConnections)

struct IConnectionPoint : public IUnknown {
    STDMETHOD(GetConnectionInterface)(IID* pIID) PURE;
    STDMETHOD(GetConnectionPointContainer)(IConnectionPointContainer** ppCPC) PURE;
    STDMETHOD(Advise)(IUnknown* pUnkSink, DWORD* pdwCookie) PURE;
    STDMETHOD(Unadvise)(DWORD dwCookie) PURE;
    STDMETHOD(EnumConnections)(IEnumConnections** ppEnum) PURE;
};
typedef IConnectionPoint* LPCONNECTIONPOINT;
DECLARE_INTERFACE_IID(IConnectionPoint, IID_IConnectionPoint)

struct IEnumConnectionPoints : public IUnknown {
    STDMETHOD(Next)(ULONG cConnections, LPCONNECTIONPOINT* ppCP, ULONG* pcFetched) PURE;
    STDMETHOD(Skip)(ULONG cConnections) PURE;
    STDMETHOD(Reset)() PURE;
    STDMETHOD(Clone)(IEnumConnectionPoints** ppEnum) PURE;
};
typedef IEnumConnectionPoints* LPENUMCONNECTIONPOINTS;
DECLARE_INTERFACE_IID(IEnumConnectionPoints, IID_IEnumConnectionPoints)

struct IConnectionPointContainer : public IUnknown {
    STDMETHOD(EnumConnectionPoints)(IEnumConnectionPoints** ppEnum) PURE;
    STDMETHOD(FindConnectionPoint)(REFIID riid, IConnectionPoint** ppCP) PURE;
};
typedef IConnectionPointContainer* LPCONNECTIONPOINTCONTAINER;
DECLARE_INTERFACE_IID(IConnectionPointContainer, IID_IConnectionPointContainer)

struct IProvideClassInfo : public IUnknown {
    STDMETHOD(GetClassInfo)(ITypeInfo** ppTI) PURE;
};
DECLARE_INTERFACE_IID(IProvideClassInfo, IID_IProvideClassInfo)

enum tagGUIDKIND { GUIDKIND_DEFAULT_SOURCE_DISP_IID = 1 };

struct IProvideClassInfo2 : public IProvideClassInfo {
    STDMETHOD(GetGUID)(DWORD dwGuidKind, GUID* pGUID) PURE;
};
DECLARE_INTERFACE_IID(IProvideClassInfo2, IID_IProvideClassInfo2)

typedef enum tagREADYSTATE {
    READYSTATE_UNINITIALIZED = 0,
    READYSTATE_LOADING = 1,
    READYSTATE_LOADED = 2,
    READYSTATE_INTERACTIVE = 3,
    READYSTATE_COMPLETE = 4
} READYSTATE;

typedef DWORD OLE_COLOR;

DEFINE_GUID(IID_IFontDisp, 0xBEF6E003, 0xA874, 0x101A, 0x8B, 0xBA, 0x00, 0xAA, 0x00, 0x30, 0x0C, 0xAB);

// A font seen through IDispatch only.
struct IFontDisp : public IDispatch { };
DECLARE_INTERFACE_IID(IFontDisp, IID_IFontDisp)
