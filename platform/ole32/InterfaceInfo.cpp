// The marshaler's view of interfaces, read from their type information once per process.
#include "Remoting.h"

#include "oleauto.h"
#include "winreg.h"

#include <map>
#include <mutex>

namespace ole32 {

namespace {

std::mutex g_infoLock;
// Outlives the static destructors, as the threads that use it may run while the process exits.
auto& g_infos = *new std::map<IID, std::shared_ptr<InterfaceInfo>, GuidLess>;

struct TypeAttrHolder {
    ITypeInfo* info;
    TYPEATTR* attr = nullptr;
    explicit TypeAttrHolder(ITypeInfo* typeInfo)
        : info(typeInfo)
    {
        if (FAILED(info->GetTypeAttr(&attr)))
            attr = nullptr;
    }
    ~TypeAttrHolder()
    {
        if (attr)
            info->ReleaseTypeAttr(attr);
    }
    TypeAttrHolder(const TypeAttrHolder&) = delete;
    TypeAttrHolder& operator=(const TypeAttrHolder&) = delete;
};

std::u16string RegistryText(const std::u16string& key, const char16_t* name)
{
    WCHAR buffer[256];
    DWORD size = sizeof buffer;
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
        return {};
    return buffer;
}

// A registry version number: hex digits, at most four.
bool HexNumber(std::u16string_view text, unsigned& value)
{
    value = 0;
    if (text.empty() || text.size() > 4)
        return false;
    for (char16_t c : text) {
        const char16_t lower = static_cast<char16_t>(c | 0x20);
        if (c >= u'0' && c <= u'9')
            value = value * 16 + (c - u'0');
        else if (lower >= u'a' && lower <= u'f')
            value = value * 16 + (lower - u'a' + 10);
        else
            return false;
    }
    return true;
}

// The type library registered for the interface under Interface\{IID}\TypeLib, or null.
ITypeLib* RegisteredLibrary(REFIID iid)
{
    OLECHAR text[CHARS_IN_GUID];
    StringFromGUID2(iid, text, CHARS_IN_GUID);
    const std::u16string key = u"Interface\\" + std::u16string(text) + u"\\TypeLib";
    const std::u16string libid = RegistryText(key, nullptr);
    GUID guid;
    if (libid.empty() || FAILED(CLSIDFromString(libid.c_str(), &guid)))
        return nullptr;
    const std::u16string version = RegistryText(key, u"Version");
    const std::size_t dot = version.find(u'.');
    unsigned major = 0;
    unsigned minor = 0;
    if (dot == std::u16string::npos || !HexNumber(std::u16string_view(version).substr(0, dot), major)
        || !HexNumber(std::u16string_view(version).substr(dot + 1), minor))
        return nullptr;
    ITypeLib* library = nullptr;
    if (FAILED(LoadRegTypeLib(guid, static_cast<WORD>(major), static_cast<WORD>(minor), 0, &library)))
        return nullptr;
    return library;
}

// The interface's type info in its function-table form, or null.
ITypeInfo* VtableFace(ITypeInfo* info)
{
    TypeAttrHolder holder(info);
    if (!holder.attr)
        return nullptr;
    if (holder.attr->typekind == TKIND_INTERFACE) {
        info->AddRef();
        return info;
    }
    HREFTYPE href = 0;
    ITypeInfo* vtable = nullptr;
    if (holder.attr->typekind == TKIND_DISPATCH && (holder.attr->wTypeFlags & TYPEFLAG_FDUAL)
        && SUCCEEDED(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &href))
        && SUCCEEDED(info->GetRefTypeInfo(href, &vtable)))
        return vtable;
    return nullptr;
}

ITypeInfo* FindTypeInfo(REFIID iid, const std::u16string& libraryPath, IUnknown* object)
{
    ITypeInfo* info = nullptr;
    if (ITypeLib* library = RegisteredLibrary(iid)) {
        library->GetTypeInfoOfGuid(iid, &info);
        library->Release();
    }
    if (!info && !libraryPath.empty()) {
        ITypeLib* library = nullptr;
        if (SUCCEEDED(LoadTypeLib(libraryPath.c_str(), &library))) {
            library->GetTypeInfoOfGuid(iid, &info);
            library->Release();
        }
    }
    IDispatch* dispatch = nullptr;
    if (!info && object && SUCCEEDED(object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)))) {
        ITypeInfo* candidate = nullptr;
        if (SUCCEEDED(dispatch->GetTypeInfo(0, 0, &candidate))) {
            TypeAttrHolder holder(candidate);
            if (holder.attr && holder.attr->guid == iid)
                info = candidate;
            else
                candidate->Release();
        }
        dispatch->Release();
    }
    return info;
}

// The marshaler's type for an element; false when it cannot carry it.
bool TypeOf(ITypeInfo* owner, const TYPEDESC& desc, ParamInfo& param)
{
    const TYPEDESC* at = &desc;
    if (at->vt == VT_PTR) {
        param.byRef = true;
        at = at->lptdesc;
    }
    if (at->vt == VT_PTR && at->lptdesc->vt == VT_USERDEFINED) {
        // A pointer to an interface pointer: an [out] interface of a custom type.
        if (!param.byRef)
            return false;
        at = at->lptdesc;
    } else if (at->vt == VT_USERDEFINED && param.byRef) {
        // A pointer to a user-defined type is an interface pointer passed by value.
        param.byRef = false;
    } else if (at->vt == VT_PTR) {
        return false;
    }
    if (at->vt == VT_USERDEFINED) {
        ITypeInfo* referenced = nullptr;
        if (FAILED(owner->GetRefTypeInfo(at->hreftype, &referenced)))
            return false;
        TypeAttrHolder holder(referenced);
        bool known = holder.attr != nullptr;
        if (known && holder.attr->typekind == TKIND_ENUM) {
            param.type.vt = VT_I4;
        } else if (known && (holder.attr->typekind == TKIND_INTERFACE || holder.attr->typekind == TKIND_DISPATCH)) {
            param.type.vt = VT_UNKNOWN;
            param.type.iid = holder.attr->guid;
        } else {
            known = false;
        }
        referenced->Release();
        return known;
    }
    switch (at->vt) {
    case VT_I1:
    case VT_UI1:
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_ERROR:
    case VT_I8:
    case VT_UI8:
    case VT_CY:
    case VT_BSTR:
    case VT_VARIANT:
        param.type.vt = at->vt;
        return true;
    case VT_UNKNOWN:
    case VT_DISPATCH:
        param.type.vt = at->vt;
        param.type.iid = at->vt == VT_UNKNOWN ? IID_IUnknown : IID_IDispatch;
        return true;
    case VT_R4:
    case VT_R8:
    case VT_DATE:
        // Floating point by value travels in vector registers, which the proxies do not read.
        param.type.vt = at->vt;
        return param.byRef;
    default:
        return false;
    }
}

// Adds the functions of the interface and of its bases to info; false on a type it cannot carry.
bool AddFunctions(ITypeInfo* vtable, InterfaceInfo& info, int depth)
{
    TypeAttrHolder holder(vtable);
    if (!holder.attr || depth > 16)
        return false;
    if (holder.attr->guid == IID_IUnknown) {
        info.firstSlot = 3;
        return true;
    }
    if (holder.attr->guid == IID_IDispatch) {
        info.firstSlot = 7;
        return true;
    }
    if (holder.attr->cImplTypes > 0) {
        HREFTYPE href = 0;
        ITypeInfo* base = nullptr;
        if (FAILED(vtable->GetRefTypeOfImplType(0, &href)) || FAILED(vtable->GetRefTypeInfo(href, &base)))
            return false;
        ITypeInfo* baseVtable = VtableFace(base);
        base->Release();
        const bool added = baseVtable && AddFunctions(baseVtable, info, depth + 1);
        if (baseVtable)
            baseVtable->Release();
        if (!added)
            return false;
    }
    for (UINT i = 0; i < holder.attr->cFuncs; ++i) {
        FUNCDESC* func = nullptr;
        if (FAILED(vtable->GetFuncDesc(i, &func)))
            return false;
        const std::size_t slot = static_cast<std::size_t>(func->oVft) / sizeof(void*);
        bool fits = func->elemdescFunc.tdesc.vt == VT_HRESULT && slot >= info.firstSlot && slot < kMaxProxySlots;
        MethodInfo method;
        method.present = true;
        for (SHORT p = 0; fits && p < func->cParams; ++p) {
            const ELEMDESC& element = func->lprgelemdescParam[p];
            ParamInfo param;
            const USHORT flags = element.paramdesc.wParamFlags;
            param.out = (flags & PARAMFLAG_FOUT) != 0;
            param.in = (flags & PARAMFLAG_FIN) != 0 || !param.out;
            fits = TypeOf(vtable, element.tdesc, param) && (!param.out || param.byRef);
            method.params.push_back(param);
        }
        vtable->ReleaseFuncDesc(func);
        if (!fits)
            return false;
        if (info.methods.size() <= slot)
            info.methods.resize(slot + 1);
        info.methods[slot] = std::move(method);
    }
    return true;
}

}

std::shared_ptr<InterfaceInfo> FindInterfaceInfo(REFIID iid, const std::u16string& libraryPath, IUnknown* object)
{
    {
        std::lock_guard lock(g_infoLock);
        auto found = g_infos.find(iid);
        if (found != g_infos.end())
            return found->second;
    }
    ITypeInfo* info = FindTypeInfo(iid, libraryPath, object);
    if (!info)
        return nullptr;
    auto result = std::make_shared<InterfaceInfo>();
    result->iid = iid;
    ITypeInfo* vtable = VtableFace(info);
    const bool described = vtable && AddFunctions(vtable, *result, 0);
    if (vtable)
        vtable->Release();
    if (!described) {
        info->Release();
        return nullptr;
    }
    if (result->firstSlot == 7)
        result->dispatchInfo = info; // the dispatch face, for the proxy's own IDispatch
    else
        info->Release();
    std::lock_guard lock(g_infoLock);
    return g_infos.emplace(iid, std::move(result)).first->second;
}

}
