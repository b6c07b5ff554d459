// oleaut32's type libraries inside: a loaded library and its type infos, and the helpers that the
// loader, the registration functions and ITypeInfo::Invoke share.
//
// A TypeLib is immutable once loaded, so every method may be called from any thread. A library
// and its type infos share one reference count: a type info keeps its library alive, and the
// library frees them all together. Type libraries that it imports are loaded on first need and
// held until the library goes.
#pragma once

#include "TypeLibFormat.h"
#include "oleauto.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

class TypeLib;

// Which of its two faces a dual interface shows; other types have only the first.
enum class TypeView { Primary, DualInterface };

class TypeInfo final : public ITypeInfo {
public:
    TypeInfo(TypeLib& library, UINT index, TypeView view);

    STDMETHOD(QueryInterface)(REFIID riid, void** ppvObject) override;
    STDMETHOD_(ULONG, AddRef)() override;
    STDMETHOD_(ULONG, Release)() override;
    STDMETHOD(GetTypeAttr)(TYPEATTR** ppTypeAttr) override;
    STDMETHOD(GetTypeComp)(ITypeComp** ppTComp) override;
    STDMETHOD(GetFuncDesc)(UINT index, FUNCDESC** ppFuncDesc) override;
    STDMETHOD(GetVarDesc)(UINT index, VARDESC** ppVarDesc) override;
    STDMETHOD(GetNames)(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames, UINT* pcNames) override;
    STDMETHOD(GetRefTypeOfImplType)(UINT index, HREFTYPE* pRefType) override;
    STDMETHOD(GetImplTypeFlags)(UINT index, INT* pImplTypeFlags) override;
    STDMETHOD(GetIDsOfNames)(LPOLESTR* rgszNames, UINT cNames, MEMBERID* pMemId) override;
    STDMETHOD(Invoke)
    (PVOID pvInstance, MEMBERID memid, WORD wFlags, DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
        UINT* puArgErr) override;
    STDMETHOD(GetDocumentation)
    (MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString, DWORD* pdwHelpContext, BSTR* pBstrHelpFile) override;
    STDMETHOD(GetDllEntry)
    (MEMBERID memid, INVOKEKIND invKind, BSTR* pBstrDllName, BSTR* pBstrName, WORD* pwOrdinal) override;
    STDMETHOD(GetRefTypeInfo)(HREFTYPE hRefType, ITypeInfo** ppTInfo) override;
    STDMETHOD(AddressOfMember)(MEMBERID memid, INVOKEKIND invKind, PVOID* ppv) override;
    STDMETHOD(CreateInstance)(IUnknown* pUnkOuter, REFIID riid, PVOID* ppvObj) override;
    STDMETHOD(GetMops)(MEMBERID memid, BSTR* pBstrMops) override;
    STDMETHOD(GetContainingTypeLib)(ITypeLib** ppTLib, UINT* pIndex) override;
    STDMETHOD_(void, ReleaseTypeAttr)(TYPEATTR* pTypeAttr) override;
    STDMETHOD_(void, ReleaseFuncDesc)(FUNCDESC* pFuncDesc) override;
    STDMETHOD_(void, ReleaseVarDesc)(VARDESC* pVarDesc) override;

private:
    const TlbTypeInfo& Data() const;
    bool IsDual() const;
    TYPEKIND Kind() const;
    // The index of the function with memid and one of the invoke kinds, or -1.
    int FindFunc(MEMBERID memid, UINT invokeKinds) const;

    TypeLib& m_library;
    UINT m_index;
    TypeView m_view;
};

class TypeLib final : public ITypeLib {
public:
    explicit TypeLib(TlbLibrary data);

    STDMETHOD(QueryInterface)(REFIID riid, void** ppvObject) override;
    STDMETHOD_(ULONG, AddRef)() override;
    STDMETHOD_(ULONG, Release)() override;
    STDMETHOD_(UINT, GetTypeInfoCount)() override;
    STDMETHOD(GetTypeInfo)(UINT index, ITypeInfo** ppTInfo) override;
    STDMETHOD(GetTypeInfoType)(UINT index, TYPEKIND* pTKind) override;
    STDMETHOD(GetTypeInfoOfGuid)(REFGUID guid, ITypeInfo** ppTinfo) override;
    STDMETHOD(GetLibAttr)(TLIBATTR** ppTLibAttr) override;
    STDMETHOD(GetTypeComp)(ITypeComp** ppTComp) override;
    STDMETHOD(GetDocumentation)
    (INT index, BSTR* pBstrName, BSTR* pBstrDocString, DWORD* pdwHelpContext, BSTR* pBstrHelpFile) override;
    STDMETHOD(IsName)(LPOLESTR szNameBuf, ULONG lHashVal, BOOL* pfName) override;
    STDMETHOD(FindName)
    (LPOLESTR szNameBuf, ULONG lHashVal, ITypeInfo** ppTInfo, MEMBERID* rgMemId, USHORT* pcFound) override;
    STDMETHOD_(void, ReleaseTLibAttr)(TLIBATTR* pTLibAttr) override;

    const TlbLibrary& Data() const
    {
        return m_data;
    }
    TypeInfo& Info(UINT index, TypeView view);
    // The HREFTYPE under which a type info of this library hands out ref.
    HREFTYPE HrefOf(const TlbRef& ref, TypeView view) const;
    HRESULT ResolveHref(HREFTYPE href, ITypeInfo** ppTInfo);

private:
    ~TypeLib();

    std::atomic<ULONG> m_refs { 1 };
    TlbLibrary m_data;
    std::vector<std::unique_ptr<TypeInfo>> m_infos; // primary views, then dual interface views
    std::vector<TlbRef> m_importedRefs; // HREFTYPE ImportedHref + i
    std::mutex m_importsLock;
    std::vector<ITypeLib*> m_imports; // loaded on first need, parallel to m_data.imports
};

GUID ToGuid(const TlbGuid& bytes);
// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" in upper case, as the registry holds GUIDs.
std::u16string GuidText(REFGUID guid);
bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b);

// ITypeInfo::Invoke on an object's function table: calls function func of the vtable form with
// the arguments in params.
HRESULT InvokeThroughVtable(void* instance, const TlbFunc& func, DISPPARAMS* params, VARIANT* result,
    EXCEPINFO* exception, UINT* argumentError);

}
