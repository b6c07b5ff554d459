// oleaut32: BSTR, VARIANT and type libraries.
// BSTR: Sys* functions are the only allocators; a null BSTR is an empty string everywhere a BSTR
// is read. VARIANT: VariantClear frees what the variant owns (a BSTR, an interface reference) and
// leaves it VT_EMPTY; VariantCopy makes an independent copy. Safe from any thread; no function
// throws.
#pragma once

#include "oaidl.h"

// VariantChangeType flags.
#define VARIANT_NOVALUEPROP 0x01
#define VARIANT_ALPHABOOL 0x02
#define VARIANT_NOUSEROVERRIDE 0x04
#define VARIANT_LOCALBOOL 0x10

enum REGKIND { REGKIND_DEFAULT = 0, REGKIND_REGISTER, REGKIND_NONE };

extern "C" {
BSTR WINAPI SysAllocString(const OLECHAR* psz);
BSTR WINAPI SysAllocStringLen(const OLECHAR* strIn, UINT ui);
BSTR WINAPI SysAllocStringByteLen(LPCSTR psz, UINT len);
INT WINAPI SysReAllocString(BSTR* pbstr, const OLECHAR* psz);
INT WINAPI SysReAllocStringLen(BSTR* pbstr, const OLECHAR* psz, UINT len);
void WINAPI SysFreeString(BSTR bstrString);
UINT WINAPI SysStringLen(BSTR pbstr);
UINT WINAPI SysStringByteLen(BSTR bstr);

void WINAPI VariantInit(VARIANTARG* pvarg);
HRESULT WINAPI VariantClear(VARIANTARG* pvarg);
HRESULT WINAPI VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc);
HRESULT WINAPI VariantCopyInd(VARIANT* pvarDest, const VARIANTARG* pvargSrc);
HRESULT WINAPI VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags, VARTYPE vt);
HRESULT WINAPI VariantChangeTypeEx(
    VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, LCID lcid, USHORT wFlags, VARTYPE vt);
HRESULT WINAPI DispGetParam(
    DISPPARAMS* pdispparams, UINT position, VARTYPE vtTarg, VARIANT* pvarResult, UINT* puArgErr);

HRESULT WINAPI LoadTypeLib(LPCOLESTR szFile, ITypeLib** pptlib);
HRESULT WINAPI LoadTypeLibEx(LPCOLESTR szFile, REGKIND regkind, ITypeLib** pptlib);
HRESULT WINAPI LoadRegTypeLib(REFGUID rguid, WORD wVerMajor, WORD wVerMinor, LCID lcid, ITypeLib** pptlib);
HRESULT WINAPI QueryPathOfRegTypeLib(REFGUID guid, USHORT wMaj, USHORT wMin, LCID lcid, LPBSTR lpbstrPathName);
HRESULT WINAPI RegisterTypeLib(ITypeLib* ptlib, LPCOLESTR szFullPath, LPCOLESTR szHelpDir);
HRESULT WINAPI UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid, SYSKIND syskind);
HRESULT WINAPI RegisterTypeLibForUser(ITypeLib* ptlib, OLECHAR* szFullPath, OLECHAR* szHelpDir);
HRESULT WINAPI UnRegisterTypeLibForUser(
    REFGUID libID, WORD wMajorVerNum, WORD wMinorVerNum, LCID lcid, SYSKIND syskind);
ULONG WINAPI LHashValOfNameSys(SYSKIND syskind, LCID lcid, const OLECHAR* szName);
}

#define LHashValOfName(lcid, szName) LHashValOfNameSys(SYS_WIN32, lcid, szName)
