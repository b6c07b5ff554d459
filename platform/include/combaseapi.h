// ole32: apartments, activation, the class table, task memory and GUID strings.
// Apartments: each thread enters one with CoInitializeEx (single-threaded: the calling thread
// only; multithreaded: shared by every such thread of the process) and leaves it with one
// CoUninitialize per successful initialisation. A call that needs an apartment fails with
// CO_E_NOTINITIALIZED on a thread that has none. The class table is per process and safe from
// any thread; its cookies are never 0. No function throws.
#pragma once

#include "unknwn.h"
#include "wtypes.h"

enum COINIT {
    COINIT_MULTITHREADED = 0x0,
    COINIT_APARTMENTTHREADED = 0x2,
    COINIT_DISABLE_OLE1DDE = 0x4,
    COINIT_SPEED_OVER_MEMORY = 0x8
};

enum REGCLS {
    REGCLS_SINGLEUSE = 0,
    REGCLS_MULTIPLEUSE = 1,
    REGCLS_MULTI_SEPARATE = 2,
    REGCLS_SUSPENDED = 4,
    REGCLS_SURROGATE = 8
};

typedef struct _COSERVERINFO {
    DWORD dwReserved1;
    LPWSTR pwszName;
    void* pAuthInfo;
    DWORD dwReserved2;
} COSERVERINFO;

// The length of "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" with its terminating null.
#define CHARS_IN_GUID 39

extern "C" {
HRESULT WINAPI CoInitialize(LPVOID pvReserved);
HRESULT WINAPI CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
void WINAPI CoUninitialize(void);

LPVOID WINAPI CoTaskMemAlloc(SIZE_T cb);
LPVOID WINAPI CoTaskMemRealloc(LPVOID pv, SIZE_T cb);
void WINAPI CoTaskMemFree(LPVOID pv);

// Writes "{...}" in upper-case hex; returns the characters written with the null, or 0 when
// cchMax is too small.
int WINAPI StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax);
HRESULT WINAPI StringFromCLSID(REFCLSID rclsid, LPOLESTR* lplpsz);
HRESULT WINAPI StringFromIID(REFIID rclsid, LPOLESTR* lplpsz);
HRESULT WINAPI CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid);
HRESULT WINAPI IIDFromString(LPCOLESTR lpsz, LPIID lpiid);
HRESULT WINAPI CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid);
HRESULT WINAPI ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* lplpszProgID);
HRESULT WINAPI CoCreateGuid(GUID* pguid);

HRESULT WINAPI CoRegisterClassObject(
    REFCLSID rclsid, LPUNKNOWN pUnk, DWORD dwClsContext, DWORD flags, LPDWORD lpdwRegister);
HRESULT WINAPI CoRevokeClassObject(DWORD dwRegister);
HRESULT WINAPI CoResumeClassObjects(void);
HRESULT WINAPI CoSuspendClassObjects(void);
ULONG WINAPI CoAddRefServerProcess(void);
ULONG WINAPI CoReleaseServerProcess(void);

HRESULT WINAPI CoGetClassObject(
    REFCLSID rclsid, DWORD dwClsContext, COSERVERINFO* pServerInfo, REFIID riid, LPVOID* ppv);
HRESULT WINAPI CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID* ppv);
void WINAPI CoFreeUnusedLibraries(void);
void WINAPI CoFreeUnusedLibrariesEx(DWORD dwUnloadDelay, DWORD dwReserved);
}

// The exports of an in-process server, looked up by CoGetClassObject and CoFreeUnusedLibraries.
typedef HRESULT(STDAPICALLTYPE* LPFNGETCLASSOBJECT)(REFCLSID, REFIID, LPVOID*);
typedef HRESULT(STDAPICALLTYPE* LPFNCANUNLOADNOW)(void);
