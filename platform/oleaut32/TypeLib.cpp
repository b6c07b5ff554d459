#include "TypeLib.h"

#include "HostPath.h"
#include "Module.h"
#include "Utf.h"
#include "winbase.h"
#include "winreg.h"

#include <algorithm>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

namespace platform {

namespace {

// The largest type library file read.
constexpr std::uintmax_t MaxTypeLibFileSize = 16 * 1024 * 1024;

// HREFTYPE values: a type of this library is its index; a dual interface's vtable face is its
// index with DualInterfaceHref; a type of an imported library is ImportedHref plus its place in
// the library's list of imported references.
constexpr HREFTYPE DualInterfaceHref = 0x40000000;
constexpr HREFTYPE ImportedHref = 0x80000000;

BSTR AllocString(const std::u16string& text)
{
    return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

// The FUNCDESC block: the description first, so that ReleaseFuncDesc finds the block from it.
struct FuncDescBlock {
    FUNCDESC desc {};
    std::unique_ptr<ELEMDESC[]> params;
    std::unique_ptr<TYPEDESC[]> nodes;
};

struct VarDescBlock {
    VARDESC desc {};
    std::unique_ptr<TYPEDESC[]> nodes;
};

size_t NodesOf(const TlbType& type)
{
    return type.vts.empty() ? 0 : type.vts.size() - 1;
}

// Fills a TYPEDESC chain; the nodes behind the first come from next.
void FillTypeDesc(TYPEDESC& desc, const TlbType& type, TYPEDESC*& next, TypeLib& library, TypeView view)
{
    TYPEDESC* current = &desc;
    for (size_t i = 0; i < type.vts.size(); ++i) {
        current->vt = type.vts[i];
        if (type.vts[i] == VT_PTR && i + 1 < type.vts.size()) {
            current->lptdesc = next++;
            current = current->lptdesc;
        } else if (type.vts[i] == VT_USERDEFINED) {
            current->hreftype = library.HrefOf(type.ref, view);
        }
    }
    if (type.vts.empty())
        desc.vt = VT_VOID;
}

bool IsRetval(const TlbParam& param)
{
    return (param.flags & PARAMFLAG_FRETVAL) != 0;
}

// The parameters that a function shows in a view: the dispatch face of a dual interface turns
// the [retval] parameter into the result.
size_t VisibleParams(const TlbFunc& func, bool dispatchFace)
{
    return func.params.size() - (dispatchFace && !func.params.empty() && IsRetval(func.params.back()));
}

std::optional<std::vector<uint8_t>> ReadFileBytes(const std::string& path)
{
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error || size > MaxTypeLibFileSize)
        return std::nullopt;
    std::ifstream stream(path, std::ios::binary);
    if (!stream)
        return std::nullopt;
    std::vector<uint8_t> bytes(std::istreambuf_iterator<char>(stream), {});
    return bytes;
}

// The TYPELIB resource number of a module; its library is loaded for the read if need be.
std::optional<std::vector<uint8_t>> ReadModuleResource(const std::u16string& module, WORD number)
{
    HMODULE handle = GetModuleHandleW(module.c_str());
    HMODULE loaded = nullptr;
    if (!handle)
        handle = loaded = LoadLibraryW(module.c_str());
    if (!handle)
        return std::nullopt;
    std::optional<std::vector<uint8_t>> bytes;
    if (HRSRC resource = FindResourceW(handle, MAKEINTRESOURCEW(number), u"TYPELIB")) {
        const auto* data = static_cast<const uint8_t*>(LockResource(LoadResource(handle, resource)));
        const DWORD size = SizeofResource(handle, resource);
        if (data)
            bytes.emplace(data, data + size);
    }
    if (loaded)
        FreeLibrary(loaded);
    return bytes;
}

bool IsElf(const std::vector<uint8_t>& bytes)
{
    return bytes.size() >= 4
        && std::memcmp(bytes.data(),
               "\x7f"
               "ELF",
               4)
        == 0;
}

// A bare file name not found in the current directory is looked for beside oleaut32, where the
// standard OLE type library lives, as Windows looks in its system directory.
std::string BesideOleAut32(const std::string& name)
{
    Dl_info info {};
    if (!dladdr(reinterpret_cast<const void*>(&ReadFileBytes), &info) || !info.dli_fname)
        return name;
    return (std::filesystem::path(info.dli_fname).parent_path() / name).string();
}

HRESULT DecodeError(TlbDecodeError error)
{
    return error == TlbDecodeError::BadMagic || error == TlbDecodeError::BadVersion ? TYPE_E_UNSUPFORMAT
                                                                                    : TYPE_E_INVDATAREAD;
}

HRESULT LoadFromBytes(const std::vector<uint8_t>& bytes, ITypeLib** library)
{
    TlbDecodeResult decoded = DecodeTypeLib(bytes.data(), bytes.size());
    if (decoded.error != TlbDecodeError::None)
        return DecodeError(decoded.error);
    *library = new (std::nothrow) TypeLib(std::move(decoded.library));
    return *library ? S_OK : E_OUTOFMEMORY;
}

// What LoadTypeLib reads for a name: a type library file, a module's TYPELIB resource 1, or
// "module\N" for resource N.
HRESULT LoadTypeLibBytes(std::u16string_view name, std::vector<uint8_t>& bytes)
{
    std::string host = ToHostPath(name);
    if (host.find('/') == std::string::npos && !std::filesystem::exists(host))
        host = BesideOleAut32(host);
    if (auto file = ReadFileBytes(host)) {
        if (!IsElf(*file)) {
            bytes = std::move(*file);
            return S_OK;
        }
        if (auto resource = ReadModuleResource(FromUtf8(host), 1)) {
            bytes = std::move(*resource);
            return S_OK;
        }
        // A program cannot be loaded into another process to have its resources read, so there
        // its type library is the .tlb file that the build leaves beside it.
        if (auto beside = ReadFileBytes(std::filesystem::path(host).replace_extension(".tlb").string())) {
            bytes = std::move(*beside);
            return S_OK;
        }
        return TYPE_E_CANTLOADLIBRARY;
    }
    const size_t separator = host.rfind('/');
    if (separator != std::string::npos && separator + 1 < host.size()
        && host.find_first_not_of("0123456789", separator + 1) == std::string::npos
        && host.size() - separator - 1 <= 5) {
        const unsigned long number = std::stoul(host.substr(separator + 1));
        if (number > 0 && number <= 0xFFFF) {
            if (auto resource = ReadModuleResource(FromUtf8(host.substr(0, separator)), static_cast<WORD>(number))) {
                bytes = std::move(*resource);
                return S_OK;
            }
        }
    }
    return TYPE_E_CANTLOADLIBRARY;
}

bool ReadDefault(HKEY root, const std::u16string& subKey, std::u16string& value)
{
    char16_t buffer[MAX_PATH * 4];
    DWORD size = sizeof(buffer);
    if (RegGetValueW(root, subKey.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
        return false;
    value.assign(buffer);
    return true;
}

}

GUID ToGuid(const TlbGuid& bytes)
{
    GUID guid;
    std::memcpy(&guid, bytes.data(), sizeof(guid));
    return guid;
}

std::u16string GuidText(REFGUID guid)
{
    char text[40];
    std::snprintf(text, sizeof(text), "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", guid.Data1, guid.Data2,
        guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
        guid.Data4[6], guid.Data4[7]);
    return FromUtf8(text);
}

bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto fold = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; };
        if (fold(a[i]) != fold(b[i]))
            return false;
    }
    return true;
}

// TypeLib

TypeLib::TypeLib(TlbLibrary data)
    : m_data(std::move(data))
    , m_imports(m_data.imports.size(), nullptr)
{
    const UINT count = static_cast<UINT>(m_data.types.size());
    for (UINT i = 0; i < count; ++i)
        m_infos.push_back(std::make_unique<TypeInfo>(*this, i, TypeView::Primary));
    for (UINT i = 0; i < count; ++i)
        m_infos.push_back(std::make_unique<TypeInfo>(*this, i, TypeView::DualInterface));
    const auto collect = [this](const TlbRef& ref) {
        if (ref.import < 0)
            return;
        for (const TlbRef& known : m_importedRefs) {
            if (known.import == ref.import && known.guid == ref.guid)
                return;
        }
        m_importedRefs.push_back(ref);
    };
    const auto collectType = [&](const TlbType& type) {
        if (!type.vts.empty() && type.vts.back() == VT_USERDEFINED)
            collect(type.ref);
    };
    for (const TlbTypeInfo& info : m_data.types) {
        for (const TlbImplType& impl : info.implTypes)
            collect(impl.ref);
        for (const TlbFunc& func : info.funcs) {
            collectType(func.result);
            for (const TlbParam& param : func.params)
                collectType(param.type);
        }
        for (const TlbVar& var : info.vars)
            collectType(var.type);
    }
}

TypeLib::~TypeLib()
{
    for (ITypeLib* import : m_imports) {
        if (import)
            import->Release();
    }
}

TypeInfo& TypeLib::Info(UINT index, TypeView view)
{
    return *m_infos[index + (view == TypeView::DualInterface ? m_data.types.size() : 0)];
}

HREFTYPE TypeLib::HrefOf(const TlbRef& ref, TypeView view) const
{
    if (ref.import < 0) {
        // The vtable face refers to the vtable faces of the duals it builds on.
        const bool dual = (m_data.types[ref.index].flags & TYPEFLAG_FDUAL) != 0;
        return ref.index | (view == TypeView::DualInterface && dual ? DualInterfaceHref : 0);
    }
    for (size_t i = 0; i < m_importedRefs.size(); ++i) {
        if (m_importedRefs[i].import == ref.import && m_importedRefs[i].guid == ref.guid)
            return ImportedHref + static_cast<HREFTYPE>(i);
    }
    return ~HREFTYPE(0);
}

HRESULT TypeLib::ResolveHref(HREFTYPE href, ITypeInfo** ppTInfo)
{
    if (!ppTInfo)
        return E_INVALIDARG;
    *ppTInfo = nullptr;
    if (href & ImportedHref) {
        const size_t position = href - ImportedHref;
        if (position >= m_importedRefs.size())
            return TYPE_E_ELEMENTNOTFOUND;
        const TlbRef& ref = m_importedRefs[position];
        ITypeLib* import = nullptr;
        {
            std::lock_guard<std::mutex> lock(m_importsLock);
            if (!m_imports[ref.import]) {
                const TlbImport& entry = m_data.imports[ref.import];
                ITypeLib* loaded = nullptr;
                if (FAILED(LoadRegTypeLib(ToGuid(entry.guid), entry.major, entry.minor, 0, &loaded))) {
                    const HRESULT hr = LoadTypeLib(entry.file.c_str(), &loaded);
                    if (FAILED(hr))
                        return hr;
                }
                m_imports[ref.import] = loaded;
            }
            import = m_imports[ref.import];
        }
        return import->GetTypeInfoOfGuid(ToGuid(ref.guid), ppTInfo);
    }
    const UINT index = href & ~DualInterfaceHref;
    if (index >= m_data.types.size())
        return TYPE_E_ELEMENTNOTFOUND;
    const bool dualFace = (href & DualInterfaceHref) != 0;
    if (dualFace && !(m_data.types[index].flags & TYPEFLAG_FDUAL))
        return TYPE_E_ELEMENTNOTFOUND;
    TypeInfo& info = Info(index, dualFace ? TypeView::DualInterface : TypeView::Primary);
    info.AddRef();
    *ppTInfo = &info;
    return S_OK;
}

STDMETHODIMP TypeLib::QueryInterface(REFIID riid, void** ppvObject)
{
    if (!ppvObject)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ITypeLib) {
        AddRef();
        *ppvObject = static_cast<ITypeLib*>(this);
        return S_OK;
    }
    *ppvObject = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) TypeLib::AddRef()
{
    return ++m_refs;
}

STDMETHODIMP_(ULONG) TypeLib::Release()
{
    const ULONG refs = --m_refs;
    if (refs == 0)
        delete this;
    return refs;
}

STDMETHODIMP_(UINT) TypeLib::GetTypeInfoCount()
{
    return static_cast<UINT>(m_data.types.size());
}

STDMETHODIMP TypeLib::GetTypeInfo(UINT index, ITypeInfo** ppTInfo)
{
    if (!ppTInfo)
        return E_INVALIDARG;
    *ppTInfo = nullptr;
    if (index >= m_data.types.size())
        return TYPE_E_ELEMENTNOTFOUND;
    return ResolveHref(index, ppTInfo);
}

STDMETHODIMP TypeLib::GetTypeInfoType(UINT index, TYPEKIND* pTKind)
{
    if (!pTKind)
        return E_INVALIDARG;
    if (index >= m_data.types.size())
        return TYPE_E_ELEMENTNOTFOUND;
    const TlbTypeInfo& info = m_data.types[index];
    *pTKind = (info.flags & TYPEFLAG_FDUAL) ? TKIND_DISPATCH : static_cast<TYPEKIND>(info.kind);
    return S_OK;
}

STDMETHODIMP TypeLib::GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** ppTinfo)
{
    if (!ppTinfo)
        return E_INVALIDARG;
    *ppTinfo = nullptr;
    for (UINT i = 0; i < m_data.types.size(); ++i) {
        if (ToGuid(m_data.types[i].guid) == guid)
            return ResolveHref(i, ppTinfo);
    }
    return TYPE_E_ELEMENTNOTFOUND;
}

STDMETHODIMP TypeLib::GetLibAttr(TLIBATTR** ppTLibAttr)
{
    if (!ppTLibAttr)
        return E_INVALIDARG;
    *ppTLibAttr = new (std::nothrow) TLIBATTR { ToGuid(m_data.guid), m_data.lcid, static_cast<SYSKIND>(m_data.syskind),
        m_data.major, m_data.minor, m_data.flags };
    return *ppTLibAttr ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP TypeLib::GetTypeComp(ITypeComp** ppTComp)
{
    if (ppTComp)
        *ppTComp = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP TypeLib::GetDocumentation(
    INT index, BSTR* pBstrName, BSTR* pBstrDocString, DWORD* pdwHelpContext, BSTR* pBstrHelpFile)
{
    if (index < -1 || index >= static_cast<INT>(m_data.types.size()))
        return TYPE_E_ELEMENTNOTFOUND;
    const std::u16string& name = index == -1 ? m_data.name : m_data.types[index].name;
    const std::u16string& doc = index == -1 ? m_data.doc : m_data.types[index].doc;
    if (pBstrName)
        *pBstrName = AllocString(name);
    if (pBstrDocString)
        *pBstrDocString = AllocString(doc);
    if (pdwHelpContext)
        *pdwHelpContext = index == -1 ? m_data.helpContext : m_data.types[index].helpContext;
    if (pBstrHelpFile)
        *pBstrHelpFile = m_data.helpFile.empty() ? nullptr : AllocString(m_data.helpFile);
    return S_OK;
}

STDMETHODIMP TypeLib::IsName(LPOLESTR szNameBuf, ULONG lHashVal, BOOL* pfName)
{
    if (!szNameBuf || !pfName)
        return E_INVALIDARG;
    USHORT found = 1;
    ITypeInfo* info = nullptr;
    MEMBERID memid = 0;
    const HRESULT hr = FindName(szNameBuf, lHashVal, &info, &memid, &found);
    if (FAILED(hr))
        return hr;
    if (info)
        info->Release();
    *pfName = found > 0;
    return S_OK;
}

STDMETHODIMP TypeLib::FindName(
    LPOLESTR szNameBuf, ULONG lHashVal, ITypeInfo** ppTInfo, MEMBERID* rgMemId, USHORT* pcFound)
{
    if (!szNameBuf || !ppTInfo || !rgMemId || !pcFound)
        return E_INVALIDARG;
    const std::u16string_view name(szNameBuf);
    USHORT found = 0;
    for (UINT i = 0; i < m_data.types.size() && found < *pcFound; ++i) {
        const TlbTypeInfo& type = m_data.types[i];
        MEMBERID memid = MEMBERID_NIL;
        bool match = EqualsIgnoringCase(type.name, name);
        for (const TlbFunc& func : type.funcs) {
            if (!match && EqualsIgnoringCase(func.name, name)) {
                match = true;
                memid = func.memid;
            }
        }
        for (const TlbVar& var : type.vars) {
            if (!match && EqualsIgnoringCase(var.name, name)) {
                match = true;
                memid = var.memid;
            }
        }
        if (match) {
            ResolveHref(i, &ppTInfo[found]);
            rgMemId[found++] = memid;
        }
    }
    *pcFound = found;
    return S_OK;
}

STDMETHODIMP_(void) TypeLib::ReleaseTLibAttr(TLIBATTR* pTLibAttr)
{
    delete pTLibAttr;
}

// TypeInfo

TypeInfo::TypeInfo(TypeLib& library, UINT index, TypeView view)
    : m_library(library)
    , m_index(index)
    , m_view(view)
{
}

const TlbTypeInfo& TypeInfo::Data() const
{
    return m_library.Data().types[m_index];
}

bool TypeInfo::IsDual() const
{
    return (Data().flags & TYPEFLAG_FDUAL) != 0;
}

TYPEKIND TypeInfo::Kind() const
{
    if (IsDual())
        return m_view == TypeView::Primary ? TKIND_DISPATCH : TKIND_INTERFACE;
    return static_cast<TYPEKIND>(Data().kind);
}

int TypeInfo::FindFunc(MEMBERID memid, UINT invokeKinds) const
{
    const std::vector<TlbFunc>& funcs = Data().funcs;
    for (size_t i = 0; i < funcs.size(); ++i) {
        if (funcs[i].memid == memid && (funcs[i].invkind & invokeKinds))
            return static_cast<int>(i);
    }
    return -1;
}

STDMETHODIMP TypeInfo::QueryInterface(REFIID riid, void** ppvObject)
{
    if (!ppvObject)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ITypeInfo) {
        AddRef();
        *ppvObject = static_cast<ITypeInfo*>(this);
        return S_OK;
    }
    *ppvObject = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) TypeInfo::AddRef()
{
    return m_library.AddRef();
}

STDMETHODIMP_(ULONG) TypeInfo::Release()
{
    return m_library.Release();
}

STDMETHODIMP TypeInfo::GetTypeAttr(TYPEATTR** ppTypeAttr)
{
    if (!ppTypeAttr)
        return E_INVALIDARG;
    const TlbTypeInfo& data = Data();
    auto* attr = new (std::nothrow) TYPEATTR {};
    if (!attr)
        return E_OUTOFMEMORY;
    attr->guid = ToGuid(data.guid);
    attr->lcid = m_library.Data().lcid;
    attr->memidConstructor = MEMBERID_NIL;
    attr->memidDestructor = MEMBERID_NIL;
    attr->typekind = Kind();
    attr->cFuncs = static_cast<WORD>(data.funcs.size());
    attr->cVars = static_cast<WORD>(data.vars.size());
    attr->cImplTypes = static_cast<WORD>(data.implTypes.size());
    attr->cbAlignment = alignof(void*);
    attr->cbSizeInstance = sizeof(void*);
    attr->wTypeFlags = static_cast<WORD>(data.flags);
    attr->wMajorVerNum = data.major;
    attr->wMinorVerNum = data.minor;
    attr->tdescAlias.vt = VT_EMPTY;
    if (attr->typekind == TKIND_DISPATCH) {
        attr->cbSizeVft = 7 * sizeof(void*);
    } else if (attr->typekind == TKIND_INTERFACE) {
        uint16_t slots = 0;
        for (const TlbFunc& func : data.funcs)
            slots = std::max<uint16_t>(slots, static_cast<uint16_t>(func.vtableSlot + 1));
        attr->cbSizeVft = static_cast<WORD>(slots * sizeof(void*));
    }
    *ppTypeAttr = attr;
    return S_OK;
}

STDMETHODIMP TypeInfo::GetTypeComp(ITypeComp** ppTComp)
{
    if (ppTComp)
        *ppTComp = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP TypeInfo::GetFuncDesc(UINT index, FUNCDESC** ppFuncDesc)
{
    if (!ppFuncDesc)
        return E_INVALIDARG;
    *ppFuncDesc = nullptr;
    const TlbTypeInfo& data = Data();
    if (index >= data.funcs.size())
        return TYPE_E_ELEMENTNOTFOUND;
    const TlbFunc& func = data.funcs[index];
    const bool dispatchFace = IsDual() && m_view == TypeView::Primary;
    const size_t visible = VisibleParams(func, dispatchFace);
    // The dispatch face returns what the [retval] parameter points to, or nothing.
    TlbType result = func.result;
    if (dispatchFace) {
        result = TlbType { { VT_VOID }, {} };
        if (visible < func.params.size()) {
            result = func.params.back().type;
            result.vts.erase(result.vts.begin());
        }
    }
    auto block = std::make_unique<FuncDescBlock>();
    size_t nodes = NodesOf(result);
    for (size_t i = 0; i < visible; ++i)
        nodes += NodesOf(func.params[i].type);
    block->params = std::make_unique<ELEMDESC[]>(std::max<size_t>(visible, 1));
    block->nodes = std::make_unique<TYPEDESC[]>(std::max<size_t>(nodes, 1));
    TYPEDESC* next = block->nodes.get();
    FUNCDESC& desc = block->desc;
    desc.memid = func.memid;
    desc.lprgelemdescParam = visible ? block->params.get() : nullptr;
    desc.funckind = dispatchFace ? FUNC_DISPATCH : static_cast<FUNCKIND>(func.funckind);
    desc.invkind = static_cast<INVOKEKIND>(func.invkind);
    desc.callconv = CC_STDCALL;
    desc.cParams = static_cast<SHORT>(visible);
    desc.oVft = desc.funckind == FUNC_DISPATCH ? 0 : static_cast<SHORT>(func.vtableSlot * sizeof(void*));
    desc.wFuncFlags = func.flags;
    FillTypeDesc(desc.elemdescFunc.tdesc, result, next, m_library, m_view);
    for (size_t i = 0; i < visible; ++i) {
        FillTypeDesc(block->params[i].tdesc, func.params[i].type, next, m_library, m_view);
        block->params[i].paramdesc.wParamFlags = func.params[i].flags;
    }
    *ppFuncDesc = &block.release()->desc;
    return S_OK;
}

STDMETHODIMP TypeInfo::GetVarDesc(UINT index, VARDESC** ppVarDesc)
{
    if (!ppVarDesc)
        return E_INVALIDARG;
    *ppVarDesc = nullptr;
    const TlbTypeInfo& data = Data();
    if (index >= data.vars.size())
        return TYPE_E_ELEMENTNOTFOUND;
    const TlbVar& var = data.vars[index];
    auto block = std::make_unique<VarDescBlock>();
    block->nodes = std::make_unique<TYPEDESC[]>(std::max<size_t>(NodesOf(var.type), 1));
    TYPEDESC* next = block->nodes.get();
    block->desc.memid = var.memid;
    block->desc.wVarFlags = var.flags;
    block->desc.varkind = VAR_DISPATCH;
    FillTypeDesc(block->desc.elemdescVar.tdesc, var.type, next, m_library, m_view);
    *ppVarDesc = &block.release()->desc;
    return S_OK;
}

STDMETHODIMP TypeInfo::GetNames(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames, UINT* pcNames)
{
    if (!rgBstrNames || !pcNames)
        return E_INVALIDARG;
    *pcNames = 0;
    const TlbTypeInfo& data = Data();
    const int index = FindFunc(memid, INVOKE_FUNC | INVOKE_PROPERTYGET | INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF);
    if (index >= 0) {
        const TlbFunc& func = data.funcs[index];
        const size_t visible = VisibleParams(func, IsDual() && m_view == TypeView::Primary);
        if (cMaxNames > 0)
            rgBstrNames[(*pcNames)++] = AllocString(func.name);
        for (size_t i = 0; i < visible && *pcNames < cMaxNames; ++i)
            rgBstrNames[(*pcNames)++] = AllocString(func.params[i].name);
        return S_OK;
    }
    for (const TlbVar& var : data.vars) {
        if (var.memid == memid) {
            if (cMaxNames > 0)
                rgBstrNames[(*pcNames)++] = AllocString(var.name);
            return S_OK;
        }
    }
    return TYPE_E_ELEMENTNOTFOUND;
}

STDMETHODIMP TypeInfo::GetRefTypeOfImplType(UINT index, HREFTYPE* pRefType)
{
    if (!pRefType)
        return E_INVALIDARG;
    const TlbTypeInfo& data = Data();
    if (index == static_cast<UINT>(-1)) {
        // COM's way from the dispatch face of a dual interface to its vtable face.
        if (!IsDual() || m_view != TypeView::Primary)
            return TYPE_E_ELEMENTNOTFOUND;
        *pRefType = m_index | DualInterfaceHref;
        return S_OK;
    }
    if (index >= data.implTypes.size())
        return TYPE_E_ELEMENTNOTFOUND;
    *pRefType = m_library.HrefOf(data.implTypes[index].ref, m_view);
    return S_OK;
}

STDMETHODIMP TypeInfo::GetImplTypeFlags(UINT index, INT* pImplTypeFlags)
{
    if (!pImplTypeFlags)
        return E_INVALIDARG;
    const TlbTypeInfo& data = Data();
    if (index >= data.implTypes.size())
        return TYPE_E_ELEMENTNOTFOUND;
    *pImplTypeFlags = static_cast<INT>(data.implTypes[index].flags);
    return S_OK;
}

STDMETHODIMP TypeInfo::GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames, MEMBERID* pMemId)
{
    if (!rgszNames || !pMemId || cNames == 0)
        return E_INVALIDARG;
    for (UINT i = 0; i < cNames; ++i)
        pMemId[i] = MEMBERID_NIL;
    if (!rgszNames[0])
        return E_INVALIDARG;
    const TlbTypeInfo& data = Data();
    const std::u16string_view member(rgszNames[0]);
    for (const TlbFunc& func : data.funcs) {
        if (!EqualsIgnoringCase(func.name, member))
            continue;
        pMemId[0] = func.memid;
        HRESULT hr = S_OK;
        const size_t visible = VisibleParams(func, IsDual() && m_view == TypeView::Primary);
        for (UINT n = 1; n < cNames; ++n) {
            for (size_t p = 0; p < visible && rgszNames[n]; ++p) {
                if (EqualsIgnoringCase(func.params[p].name, rgszNames[n]))
                    pMemId[n] = static_cast<MEMBERID>(p);
            }
            if (pMemId[n] == MEMBERID_NIL)
                hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    }
    for (const TlbVar& var : data.vars) {
        if (EqualsIgnoringCase(var.name, member)) {
            pMemId[0] = var.memid;
            return cNames == 1 ? S_OK : DISP_E_UNKNOWNNAME;
        }
    }
    return DISP_E_UNKNOWNNAME;
}

STDMETHODIMP TypeInfo::Invoke(PVOID pvInstance, MEMBERID memid, WORD wFlags, DISPPARAMS* pDispParams,
    VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr)
{
    if (!pvInstance || !pDispParams)
        return E_INVALIDARG;
    if (Kind() == TKIND_DISPATCH && !IsDual()) {
        // A pure dispinterface has no function table of its own: its object's IDispatch serves it.
        return static_cast<IDispatch*>(pvInstance)
            ->Invoke(memid, IID_NULL, 0, wFlags, pDispParams, pVarResult, pExcepInfo, puArgErr);
    }
    if (Kind() != TKIND_INTERFACE && !IsDual())
        return TYPE_E_WRONGTYPEKIND;
    UINT kinds = 0;
    if (wFlags & DISPATCH_METHOD)
        kinds |= INVOKE_FUNC;
    if (wFlags & DISPATCH_PROPERTYGET)
        kinds |= INVOKE_PROPERTYGET;
    if (wFlags & DISPATCH_PROPERTYPUT)
        kinds |= INVOKE_PROPERTYPUT;
    if (wFlags & DISPATCH_PROPERTYPUTREF)
        kinds |= INVOKE_PROPERTYPUTREF;
    const int index = FindFunc(memid, kinds);
    if (index < 0)
        return DISP_E_MEMBERNOTFOUND;
    return InvokeThroughVtable(pvInstance, Data().funcs[index], pDispParams, pVarResult, pExcepInfo, puArgErr);
}

STDMETHODIMP TypeInfo::GetDocumentation(
    MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString, DWORD* pdwHelpContext, BSTR* pBstrHelpFile)
{
    const TlbTypeInfo& data = Data();
    const std::u16string* name = nullptr;
    const std::u16string* doc = nullptr;
    if (memid == MEMBERID_NIL) {
        name = &data.name;
        doc = &data.doc;
    } else if (const int index = FindFunc(memid, ~0u); index >= 0) {
        name = &data.funcs[index].name;
        doc = &data.funcs[index].doc;
    } else {
        for (const TlbVar& var : data.vars) {
            if (var.memid == memid) {
                name = &var.name;
                doc = &var.doc;
            }
        }
    }
    if (!name)
        return TYPE_E_ELEMENTNOTFOUND;
    if (pBstrName)
        *pBstrName = AllocString(*name);
    if (pBstrDocString)
        *pBstrDocString = AllocString(*doc);
    if (pdwHelpContext)
        *pdwHelpContext = memid == MEMBERID_NIL ? data.helpContext : 0;
    if (pBstrHelpFile) {
        const std::u16string& file = m_library.Data().helpFile;
        *pBstrHelpFile = file.empty() ? nullptr : AllocString(file);
    }
    return S_OK;
}

STDMETHODIMP TypeInfo::GetDllEntry(MEMBERID, INVOKEKIND, BSTR*, BSTR*, WORD*)
{
    return TYPE_E_BADMODULEKIND;
}

STDMETHODIMP TypeInfo::GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo** ppTInfo)
{
    return m_library.ResolveHref(hRefType, ppTInfo);
}

STDMETHODIMP TypeInfo::AddressOfMember(MEMBERID, INVOKEKIND, PVOID* ppv)
{
    if (ppv)
        *ppv = nullptr;
    return TYPE_E_BADMODULEKIND;
}

STDMETHODIMP TypeInfo::CreateInstance(IUnknown*, REFIID, PVOID* ppvObj)
{
    if (ppvObj)
        *ppvObj = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP TypeInfo::GetMops(MEMBERID, BSTR* pBstrMops)
{
    if (pBstrMops)
        *pBstrMops = nullptr;
    return S_OK;
}

STDMETHODIMP TypeInfo::GetContainingTypeLib(ITypeLib** ppTLib, UINT* pIndex)
{
    if (ppTLib) {
        m_library.AddRef();
        *ppTLib = &m_library;
    }
    if (pIndex)
        *pIndex = m_index;
    return S_OK;
}

STDMETHODIMP_(void) TypeInfo::ReleaseTypeAttr(TYPEATTR* pTypeAttr)
{
    delete pTypeAttr;
}

STDMETHODIMP_(void) TypeInfo::ReleaseFuncDesc(FUNCDESC* pFuncDesc)
{
    delete reinterpret_cast<FuncDescBlock*>(pFuncDesc);
}

STDMETHODIMP_(void) TypeInfo::ReleaseVarDesc(VARDESC* pVarDesc)
{
    delete reinterpret_cast<VarDescBlock*>(pVarDesc);
}

}

using namespace platform;

extern "C" HRESULT WINAPI LoadTypeLibEx(LPCOLESTR szFile, REGKIND regkind, ITypeLib** pptlib)
{
    if (!pptlib)
        return E_INVALIDARG;
    *pptlib = nullptr;
    if (!szFile || !*szFile)
        return E_INVALIDARG;
    std::vector<uint8_t> bytes;
    HRESULT hr = LoadTypeLibBytes(szFile, bytes);
    if (SUCCEEDED(hr))
        hr = LoadFromBytes(bytes, pptlib);
    if (SUCCEEDED(hr) && regkind == REGKIND_REGISTER) {
        const std::u16string path = FromUtf8(std::filesystem::absolute(ToHostPath(szFile)).string());
        hr = RegisterTypeLib(*pptlib, path.c_str(), nullptr);
        if (FAILED(hr)) {
            (*pptlib)->Release();
            *pptlib = nullptr;
        }
    }
    return hr;
}

extern "C" HRESULT WINAPI LoadTypeLib(LPCOLESTR szFile, ITypeLib** pptlib)
{
    return LoadTypeLibEx(szFile, REGKIND_NONE, pptlib);
}

extern "C" HRESULT WINAPI QueryPathOfRegTypeLib(
    REFGUID guid, USHORT wMaj, USHORT wMin, LCID lcid, LPBSTR lpbstrPathName)
{
    if (!lpbstrPathName)
        return E_INVALIDARG;
    *lpbstrPathName = nullptr;
    const std::u16string libraryKey = u"TypeLib\\" + GuidText(guid);
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, libraryKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return TYPE_E_LIBNOTREGISTERED;
    // The registered version with the same major number and the highest minor at least wMin.
    int bestMinor = -1;
    char16_t name[64];
    for (DWORD i = 0;; ++i) {
        DWORD length = 64;
        if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        unsigned major = 0, minor = 0;
        char tail = 0;
        if (std::sscanf(ToUtf8(name).c_str(), "%x.%x%c", &major, &minor, &tail) == 2 && major == wMaj && minor >= wMin
            && static_cast<int>(minor) > bestMinor)
            bestMinor = static_cast<int>(minor);
    }
    RegCloseKey(key);
    if (bestMinor < 0)
        return TYPE_E_LIBNOTREGISTERED;
    char version[32];
    std::snprintf(version, sizeof(version), "\\%x.%x", wMaj, bestMinor);
    const std::u16string versionKey = libraryKey + FromUtf8(version);
    // The locale asked for, then its primary language, then the neutral locale.
    std::vector<std::u16string> locales;
    for (LCID candidate : { lcid, static_cast<LCID>(lcid & 0x3FF), static_cast<LCID>(0) }) {
        char locale[16];
        std::snprintf(locale, sizeof(locale), "%x", candidate);
        locales.push_back(FromUtf8(locale));
    }
    // A caller that asks for the neutral locale takes a library of any locale, such as one
    // registered under US English only.
    if (lcid == 0 && RegOpenKeyExW(HKEY_CLASSES_ROOT, versionKey.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
        for (DWORD i = 0;; ++i) {
            DWORD length = 64;
            if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            locales.push_back(name);
        }
        RegCloseKey(key);
    }
    for (const std::u16string& locale : locales) {
        std::u16string path;
        if (ReadDefault(HKEY_CLASSES_ROOT, versionKey + u"\\" + locale + u"\\win32", path)) {
            *lpbstrPathName = SysAllocString(path.c_str());
            return *lpbstrPathName ? S_OK : E_OUTOFMEMORY;
        }
    }
    return TYPE_E_LIBNOTREGISTERED;
}

extern "C" HRESULT WINAPI LoadRegTypeLib(REFGUID rguid, WORD wVerMajor, WORD wVerMinor, LCID lcid, ITypeLib** pptlib)
{
    if (!pptlib)
        return E_INVALIDARG;
    *pptlib = nullptr;
    BSTR path = nullptr;
    HRESULT hr = QueryPathOfRegTypeLib(rguid, wVerMajor, wVerMinor, lcid, &path);
    if (SUCCEEDED(hr)) {
        hr = LoadTypeLib(path, pptlib);
        SysFreeString(path);
    }
    return hr;
}
