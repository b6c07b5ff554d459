#include "Sample.h"
#include "TestRoot.h"
#include "oleauto.h"
#include "windows.h"
#include "winreg.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::u16string Wide(const std::string& text)
{
    return std::u16string(text.begin(), text.end());
}

std::string Narrow(const char16_t* text)
{
    std::string out;
    for (; text && *text; ++text)
        out += static_cast<char>(*text);
    return out;
}

// Takes a BSTR out of the library's hands into a std::string.
std::string Take(BSTR text)
{
    std::string out = Narrow(text);
    SysFreeString(text);
    return out;
}

struct Library {
    ITypeLib* library = nullptr;
    explicit Library(const std::u16string& path)
    {
        EXPECT_EQ(LoadTypeLib(path.c_str(), &library), S_OK);
    }
    ~Library()
    {
        if (library)
            library->Release();
    }
    ITypeInfo* Info(REFGUID guid) const
    {
        ITypeInfo* info = nullptr;
        EXPECT_EQ(library->GetTypeInfoOfGuid(guid, &info), S_OK);
        return info;
    }
};

struct Attr {
    ITypeInfo* info;
    TYPEATTR* attr = nullptr;
    explicit Attr(ITypeInfo* owner)
        : info(owner)
    {
        EXPECT_EQ(info->GetTypeAttr(&attr), S_OK);
    }
    ~Attr()
    {
        info->ReleaseTypeAttr(attr);
    }
    TYPEATTR* operator->() const
    {
        return attr;
    }
};

struct Func {
    ITypeInfo* info;
    FUNCDESC* desc = nullptr;
    Func(ITypeInfo* owner, UINT index)
        : info(owner)
    {
        EXPECT_EQ(info->GetFuncDesc(index, &desc), S_OK);
    }
    ~Func()
    {
        info->ReleaseFuncDesc(desc);
    }
    FUNCDESC* operator->() const
    {
        return desc;
    }
};

// A type as a list of its VARTYPEs, pointers first.
std::vector<VARTYPE> Chain(const TYPEDESC& desc)
{
    std::vector<VARTYPE> chain { desc.vt };
    for (const TYPEDESC* node = &desc; node->vt == VT_PTR; node = node->lptdesc)
        chain.push_back(node->lptdesc->vt);
    return chain;
}

ITypeInfo* RefInfo(ITypeInfo* info, HREFTYPE href)
{
    ITypeInfo* ref = nullptr;
    EXPECT_EQ(info->GetRefTypeInfo(href, &ref), S_OK);
    return ref;
}

std::string NameOf(ITypeInfo* info)
{
    BSTR name = nullptr;
    EXPECT_EQ(info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr), S_OK);
    return Take(name);
}

TEST(TypeLib, LibraryAttributesAndTheOrderOfItsTypes)
{
    Library sample(Wide(SAMPLE_TLB));
    ASSERT_TRUE(sample.library);
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(sample.library->GetLibAttr(&attr), S_OK);
    EXPECT_EQ(attr->guid, LIBID_SampleLib);
    EXPECT_EQ(attr->wMajorVerNum, 1);
    EXPECT_EQ(attr->wMinorVerNum, 0);
    EXPECT_EQ(attr->syskind, SYS_WIN32);
    EXPECT_EQ(attr->lcid, 0x409u);
    sample.library->ReleaseTLibAttr(attr);
    BSTR name = nullptr, doc = nullptr;
    ASSERT_EQ(sample.library->GetDocumentation(-1, &name, &doc, nullptr, nullptr), S_OK);
    EXPECT_EQ(Take(name), "SampleLib");
    EXPECT_EQ(Take(doc), "Sample 1.0 Type Library");

    // The library body in order, each definition followed by what it brings in from outside.
    const struct {
        const char* name;
        TYPEKIND kind;
        const char* doc;
    } expected[] = {
        { "_ICalculatorEvents", TKIND_DISPATCH, "_ICalculatorEvents Interface" },
        { "Calculator", TKIND_COCLASS, "Calculator Class" },
        { "ICalculator", TKIND_DISPATCH, "ICalculator Interface" },
        { "ILocalOnly", TKIND_INTERFACE, "" },
        { "IPlain", TKIND_INTERFACE, "IPlain Interface" },
    };
    ASSERT_EQ(sample.library->GetTypeInfoCount(), std::size(expected));
    for (UINT i = 0; i < std::size(expected); ++i) {
        TYPEKIND kind {};
        EXPECT_EQ(sample.library->GetTypeInfoType(i, &kind), S_OK);
        EXPECT_EQ(kind, expected[i].kind) << expected[i].name;
        ASSERT_EQ(sample.library->GetDocumentation(static_cast<INT>(i), &name, &doc, nullptr, nullptr), S_OK);
        EXPECT_EQ(Take(name), expected[i].name);
        EXPECT_EQ(Take(doc), expected[i].doc) << expected[i].name;
    }
    ITypeInfo* info = nullptr;
    EXPECT_EQ(sample.library->GetTypeInfo(5, &info), TYPE_E_ELEMENTNOTFOUND);
    BOOL found = FALSE;
    char16_t lookup[] = u"concat";
    EXPECT_EQ(sample.library->IsName(lookup, 0, &found), S_OK);
    EXPECT_TRUE(found);
}

TEST(TypeLib, DualInterfaceShowsItsDispatchAndItsVtableFace)
{
    Library sample(Wide(SAMPLE_TLB));
    ITypeInfo* dispatch = sample.Info(IID_ICalculator);
    ASSERT_TRUE(dispatch);
    {
        Attr attr(dispatch);
        EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
        EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FDUAL);
        EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FNONEXTENSIBLE);
        EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FOLEAUTOMATION);
        EXPECT_EQ(attr->cFuncs, 6);
    }
    HREFTYPE href = 0;
    ASSERT_EQ(dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &href), S_OK);
    ITypeInfo* vtable = RefInfo(dispatch, href);
    ASSERT_TRUE(vtable);
    {
        Attr attr(vtable);
        EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
        EXPECT_EQ(attr->guid, IID_ICalculator);
        EXPECT_EQ(attr->cbSizeVft, 13 * sizeof(void*));
    }
    EXPECT_EQ(vtable->GetRefTypeOfImplType(static_cast<UINT>(-1), &href), TYPE_E_ELEMENTNOTFOUND);

    // Add: HRESULT Add(LONG, LONG, LONG* retval) on the table, LONG Add(LONG, LONG) to Invoke.
    {
        Func add(vtable, 0);
        EXPECT_EQ(add->memid, 1);
        EXPECT_EQ(add->funckind, FUNC_PUREVIRTUAL);
        EXPECT_EQ(add->oVft, 7 * static_cast<SHORT>(sizeof(void*)));
        EXPECT_EQ(add->cParams, 3);
        EXPECT_EQ(Chain(add->elemdescFunc.tdesc), (std::vector<VARTYPE> { VT_HRESULT }));
        EXPECT_EQ(Chain(add->lprgelemdescParam[2].tdesc), (std::vector<VARTYPE> { VT_PTR, VT_I4 }));
        EXPECT_EQ(add->lprgelemdescParam[2].paramdesc.wParamFlags, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
    }
    {
        Func add(dispatch, 0);
        EXPECT_EQ(add->memid, 1);
        EXPECT_EQ(add->funckind, FUNC_DISPATCH);
        EXPECT_EQ(add->cParams, 2);
        EXPECT_EQ(Chain(add->elemdescFunc.tdesc), (std::vector<VARTYPE> { VT_I4 }));
        Func reset(dispatch, 5);
        EXPECT_EQ(Chain(reset->elemdescFunc.tdesc), (std::vector<VARTYPE> { VT_VOID }));
        EXPECT_EQ(reset->memid, 0x60020000 + 5) << "a member without an id gets one after IDispatch's";
    }

    // The vtable face derives from the standard library's IDispatch, which derives from IUnknown.
    ASSERT_EQ(vtable->GetRefTypeOfImplType(0, &href), S_OK);
    ITypeInfo* base = RefInfo(vtable, href);
    ASSERT_TRUE(base);
    EXPECT_EQ(NameOf(base), "IDispatch");
    {
        Attr attr(base);
        EXPECT_EQ(attr->guid, IID_IDispatch);
        EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
        EXPECT_EQ(attr->cbSizeVft, 7 * sizeof(void*));
    }
    ITypeLib* stdole = nullptr;
    UINT index = 99;
    ASSERT_EQ(base->GetContainingTypeLib(&stdole, &index), S_OK);
    TLIBATTR* libAttr = nullptr;
    ASSERT_EQ(stdole->GetLibAttr(&libAttr), S_OK);
    EXPECT_EQ(libAttr->guid, IID_StdOle);
    EXPECT_EQ(libAttr->wMajorVerNum, 2);
    EXPECT_EQ(libAttr->wMinorVerNum, 0);
    stdole->ReleaseTLibAttr(libAttr);
    stdole->Release();
    base->Release();
    vtable->Release();
    dispatch->Release();
}

TEST(TypeLib, ParameterTypes)
{
    Library sample(Wide(SAMPLE_TLB));
    ITypeInfo* dispatch = sample.Info(IID_ICalculator);
    HREFTYPE href = 0;
    ASSERT_EQ(dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &href), S_OK);
    ITypeInfo* vtable = RefInfo(dispatch, href);
    Func mixed(vtable, 2);
    const std::vector<std::vector<VARTYPE>> expected = {
        { VT_I2 },
        { VT_BOOL },
        { VT_UI4 },
        { VT_INT },
        { VT_UINT },
        { VT_VARIANT },
        { VT_DISPATCH },
        { VT_UNKNOWN },
        { VT_PTR, VT_I4 },
        { VT_PTR, VT_VARIANT },
    };
    ASSERT_EQ(mixed->cParams, static_cast<SHORT>(expected.size()));
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(Chain(mixed->lprgelemdescParam[i].tdesc), expected[i]) << "parameter " << i;
    EXPECT_EQ(mixed->lprgelemdescParam[8].paramdesc.wParamFlags, PARAMFLAG_FOUT);
    EXPECT_EQ(mixed->lprgelemdescParam[0].paramdesc.wParamFlags, PARAMFLAG_FIN);

    Func propget(vtable, 3), propput(vtable, 4);
    EXPECT_EQ(propget->invkind, INVOKE_PROPERTYGET);
    EXPECT_EQ(propput->invkind, INVOKE_PROPERTYPUT);
    EXPECT_EQ(propget->memid, propput->memid);
    vtable->Release();

    // An interface parameter refers to the interface's type info: its dispatch face for a dual.
    ITypeInfo* plain = sample.Info(IID_IPlain);
    ASSERT_TRUE(plain);
    Func ping(plain, 0);
    EXPECT_EQ(ping->oVft, 3 * static_cast<SHORT>(sizeof(void*)));
    ASSERT_EQ(Chain(ping->lprgelemdescParam[0].tdesc), (std::vector<VARTYPE> { VT_PTR, VT_USERDEFINED }));
    ASSERT_EQ(Chain(ping->lprgelemdescParam[1].tdesc), (std::vector<VARTYPE> { VT_PTR, VT_PTR, VT_USERDEFINED }));
    ITypeInfo* calculator = RefInfo(plain, ping->lprgelemdescParam[0].tdesc.lptdesc->hreftype);
    EXPECT_EQ(NameOf(calculator), "ICalculator");
    calculator->Release();
    ITypeInfo* self = RefInfo(plain, ping->lprgelemdescParam[1].tdesc.lptdesc->lptdesc->hreftype);
    EXPECT_EQ(self, plain) << "one type info per type";
    self->Release();
    plain->Release();
    dispatch->Release();
}

TEST(TypeLib, NamesIdsAndHelpStrings)
{
    Library sample(Wide(SAMPLE_TLB));
    ITypeInfo* dispatch = sample.Info(IID_ICalculator);
    ASSERT_TRUE(dispatch);
    char16_t concat[] = u"CONCAT", right[] = u"Right", wrong[] = u"nothing";
    LPOLESTR names[] = { concat, right };
    MEMBERID ids[2] = {};
    EXPECT_EQ(dispatch->GetIDsOfNames(names, 2, ids), S_OK);
    EXPECT_EQ(ids[0], 2);
    EXPECT_EQ(ids[1], 1);
    LPOLESTR unknown[] = { wrong };
    EXPECT_EQ(dispatch->GetIDsOfNames(unknown, 1, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], MEMBERID_NIL);
    names[1] = wrong;
    EXPECT_EQ(dispatch->GetIDsOfNames(names, 2, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], 2);
    EXPECT_EQ(ids[1], MEMBERID_NIL);

    BSTR found[4] = {};
    UINT count = 0;
    ASSERT_EQ(dispatch->GetNames(1, found, 4, &count), S_OK);
    ASSERT_EQ(count, 3u) << "the dispatch face hides the retval parameter";
    EXPECT_EQ(Take(found[0]), "Add");
    EXPECT_EQ(Take(found[1]), "a");
    EXPECT_EQ(Take(found[2]), "b");

    BSTR name = nullptr, doc = nullptr;
    ASSERT_EQ(dispatch->GetDocumentation(3, &name, &doc, nullptr, nullptr), S_OK);
    EXPECT_EQ(Take(name), "Mixed");
    EXPECT_EQ(Take(doc), "method Mixed");
    EXPECT_EQ(dispatch->GetDocumentation(77, &name, &doc, nullptr, nullptr), TYPE_E_ELEMENTNOTFOUND);
    dispatch->Release();
}

TEST(TypeLib, CoClassAndDispInterface)
{
    Library sample(Wide(SAMPLE_TLB));
    ITypeInfo* coclass = sample.Info(CLSID_Calculator);
    ASSERT_TRUE(coclass);
    {
        Attr attr(coclass);
        EXPECT_EQ(attr->typekind, TKIND_COCLASS);
        EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FCANCREATE);
        EXPECT_EQ(attr->cImplTypes, 2);
    }
    const struct {
        const char* name;
        INT flags;
    } members[] = { { "ICalculator", IMPLTYPEFLAG_FDEFAULT },
        { "_ICalculatorEvents", IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE } };
    for (UINT i = 0; i < 2; ++i) {
        INT flags = 0;
        HREFTYPE href = 0;
        EXPECT_EQ(coclass->GetImplTypeFlags(i, &flags), S_OK);
        EXPECT_EQ(flags, members[i].flags) << members[i].name;
        ASSERT_EQ(coclass->GetRefTypeOfImplType(i, &href), S_OK);
        ITypeInfo* member = RefInfo(coclass, href);
        EXPECT_EQ(NameOf(member), members[i].name);
        member->Release();
    }
    coclass->Release();

    ITypeInfo* events = sample.Info(DIID__ICalculatorEvents);
    ASSERT_TRUE(events);
    {
        Attr attr(events);
        EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
        EXPECT_FALSE(attr->wTypeFlags & TYPEFLAG_FDUAL);
        EXPECT_EQ(attr->cVars, 1);
        EXPECT_EQ(attr->cFuncs, 1);
    }
    VARDESC* var = nullptr;
    ASSERT_EQ(events->GetVarDesc(0, &var), S_OK);
    EXPECT_EQ(var->memid, 10);
    EXPECT_EQ(var->varkind, VAR_DISPATCH);
    EXPECT_EQ(var->elemdescVar.tdesc.vt, VT_BOOL);
    events->ReleaseVarDesc(var);
    Func onResult(events, 0);
    EXPECT_EQ(onResult->funckind, FUNC_DISPATCH);
    EXPECT_EQ(onResult->cParams, 2);
    events->Release();
}

TEST(TypeLib, LoadsFromModuleResourcesAndTheStandardLibraryByName)
{
    char16_t program[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, program, MAX_PATH), 0u);
    const std::u16string path(program);
    const struct {
        const char* name;
        std::u16string file;
        HRESULT expected;
    } cases[] = {
        { "module, resource 1", path, S_OK },
        { "module\\2", path + u"\\2", S_OK },
        { "module\\3 (missing)", path + u"\\3", TYPE_E_CANTLOADLIBRARY },
        { "standard library by bare name", u"stdole2.tlb", S_OK },
        { "missing file", Wide(testing_support::TestRoot()) + u"/none.tlb", TYPE_E_CANTLOADLIBRARY },
    };
    for (const auto& row : cases) {
        ITypeLib* library = nullptr;
        EXPECT_EQ(LoadTypeLib(row.file.c_str(), &library), row.expected) << row.name;
        if (library)
            library->Release();
    }
}

// Another process's program cannot be loaded here; its type library is the .tlb beside it.
TEST(TypeLib, ProgramOfAnotherProcessLoadsFromTheFileBesideIt)
{
    char16_t program[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, program, MAX_PATH), 0u);
    const std::filesystem::path directory = testing_support::TestRoot() + "/server";
    std::filesystem::create_directories(directory);
    std::filesystem::copy_file(Narrow(program), directory / "Sample.exe");
    const std::u16string server = Wide((directory / "Sample.exe").string());
    ITypeLib* library = nullptr;
    EXPECT_EQ(LoadTypeLib(server.c_str(), &library), TYPE_E_CANTLOADLIBRARY);
    std::filesystem::copy_file(SAMPLE_TLB, directory / "Sample.tlb");
    ASSERT_EQ(LoadTypeLib(server.c_str(), &library), S_OK);
    EXPECT_EQ(library->GetTypeInfoCount(), 5u);
    library->Release();
}

// One valid file and mutations of it: each must fail to load, and none may crash.
TEST(TypeLib, CorruptFilesFailToLoad)
{
    std::ifstream stream(SAMPLE_TLB, std::ios::binary);
    const std::string valid(std::istreambuf_iterator<char>(stream), {});
    ASSERT_GT(valid.size(), 64u);
    const auto with = [&](size_t offset, const std::string& bytes) {
        std::string copy = valid;
        copy.replace(offset, bytes.size(), bytes);
        return copy;
    };
    const struct {
        const char* name;
        std::string bytes;
        HRESULT expected;
    } cases[] = {
        { "empty", "", TYPE_E_UNSUPFORMAT },
        { "bad magic", with(0, "XSTL"), TYPE_E_UNSUPFORMAT },
        { "future version", with(4, std::string("\x02\x00", 2)), TYPE_E_UNSUPFORMAT },
        { "header only", valid.substr(0, 8), TYPE_E_INVDATAREAD },
        { "cut in half", valid.substr(0, valid.size() / 2), TYPE_E_INVDATAREAD },
        { "last byte missing", valid.substr(0, valid.size() - 1), TYPE_E_INVDATAREAD },
        { "trailing byte", valid + "x", TYPE_E_INVDATAREAD },
        { "name longer than the file", with(38, std::string("\xff\xff\x00\x00", 4)), TYPE_E_INVDATAREAD },
        { "huge name length", with(38, std::string("\xff\xff\xff\xff", 4)), TYPE_E_INVDATAREAD },
    };
    for (const auto& row : cases) {
        const std::string path = testing_support::TestRoot() + "/corrupt.tlb";
        std::ofstream(path, std::ios::binary | std::ios::trunc) << row.bytes;
        ITypeLib* library = nullptr;
        EXPECT_EQ(LoadTypeLib(Wide(path).c_str(), &library), row.expected) << row.name;
        EXPECT_EQ(library, nullptr) << row.name;
    }
    // Every single truncation fails cleanly.
    for (size_t length = 0; length < valid.size(); length += 7) {
        const std::string path = testing_support::TestRoot() + "/cut.tlb";
        std::ofstream(path, std::ios::binary | std::ios::trunc) << valid.substr(0, length);
        ITypeLib* library = nullptr;
        EXPECT_TRUE(FAILED(LoadTypeLib(Wide(path).c_str(), &library))) << "cut at " << length;
    }
}

std::string ReadDefault(HKEY root, const std::u16string& key, const char16_t* value = nullptr)
{
    char16_t buffer[512];
    DWORD size = sizeof(buffer);
    if (RegGetValueW(root, key.c_str(), value, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
        return "<missing>";
    return Narrow(buffer);
}

bool KeyExists(HKEY root, const std::u16string& key)
{
    HKEY opened = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return false;
    RegCloseKey(opened);
    return true;
}

class TypeLibRegistration : public testing::TestWithParam<bool> { };

TEST_P(TypeLibRegistration, RegisterThenUnregisterLeavesNothing)
{
    const bool perUser = GetParam();
    const HKEY root = perUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    const std::u16string classes = u"Software\\Classes\\";
    const std::u16string libraryKey = classes + u"TypeLib\\{6B9D1A10-2F3E-4C3B-9E1A-5D6C7B8A9F00}";
    Library sample(Wide(SAMPLE_TLB));
    std::u16string path = Wide(SAMPLE_TLB);
    ITypeLib* loaded = nullptr;
    EXPECT_EQ(LoadRegTypeLib(LIBID_SampleLib, 1, 0, 0, &loaded), TYPE_E_LIBNOTREGISTERED);

    const HRESULT registered = perUser ? RegisterTypeLibForUser(sample.library, path.data(), nullptr)
                                       : RegisterTypeLib(sample.library, path.c_str(), nullptr);
    ASSERT_EQ(registered, S_OK);
    EXPECT_EQ(ReadDefault(root, libraryKey + u"\\1.0"), "Sample 1.0 Type Library");
    EXPECT_EQ(ReadDefault(root, libraryKey + u"\\1.0\\409\\win32"), SAMPLE_TLB);
    EXPECT_EQ(ReadDefault(root, libraryKey + u"\\1.0\\FLAGS"), "0");
    EXPECT_TRUE(KeyExists(root, libraryKey + u"\\1.0\\HELPDIR"));
    EXPECT_FALSE(KeyExists(perUser ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, libraryKey)) << "the other scope";
    const struct {
        const char* name;
        const char16_t* iid;
        bool registered;
    } interfaces[] = {
        { "dual", u"{6B9D1A10-2F3E-4C3B-9E1A-5D6C7B8A9F01}", true },
        { "dispinterface", u"{6B9D1A10-2F3E-4C3B-9E1A-5D6C7B8A9F04}", true },
        { "oleautomation", u"{6B9D1A10-2F3E-4C3B-9E1A-5D6C7B8A9F02}", true },
        { "not automation", u"{6B9D1A10-2F3E-4C3B-9E1A-5D6C7B8A9F03}", false },
    };
    for (const auto& row : interfaces) {
        const std::u16string key = classes + u"Interface\\" + row.iid;
        EXPECT_EQ(KeyExists(root, key), row.registered) << row.name;
        if (!row.registered)
            continue;
        EXPECT_EQ(ReadDefault(root, key + u"\\ProxyStubClsid32"), "{00020424-0000-0000-C000-000000000046}") << row.name;
        EXPECT_EQ(ReadDefault(root, key + u"\\TypeLib"), "{6B9D1A10-2F3E-4C3B-9E1A-5D6C7B8A9F00}") << row.name;
        EXPECT_EQ(ReadDefault(root, key + u"\\TypeLib", u"Version"), "1.0") << row.name;
    }
    EXPECT_EQ(ReadDefault(root, classes + u"Interface\\{6B9D1A10-2F3E-4C3B-9E1A-5D6C7B8A9F01}"), "ICalculator");

    ASSERT_EQ(LoadRegTypeLib(LIBID_SampleLib, 1, 0, 0x409, &loaded), S_OK);
    ITypeInfo* info = nullptr;
    EXPECT_EQ(loaded->GetTypeInfoOfGuid(IID_ICalculator, &info), S_OK);
    info->Release();
    loaded->Release();
    EXPECT_EQ(LoadRegTypeLib(LIBID_SampleLib, 2, 0, 0, &loaded), TYPE_E_LIBNOTREGISTERED);

    const HRESULT unregistered = perUser ? UnRegisterTypeLibForUser(LIBID_SampleLib, 1, 0, 0, SYS_WIN32)
                                         : UnRegisterTypeLib(LIBID_SampleLib, 1, 0, 0, SYS_WIN32);
    EXPECT_EQ(unregistered, S_OK);
    EXPECT_FALSE(KeyExists(root, libraryKey));
    EXPECT_FALSE(KeyExists(root, classes + u"Interface\\{6B9D1A10-2F3E-4C3B-9E1A-5D6C7B8A9F01}"));
    EXPECT_FALSE(KeyExists(root, classes + u"Interface\\{6B9D1A10-2F3E-4C3B-9E1A-5D6C7B8A9F04}"));
    EXPECT_EQ(LoadRegTypeLib(LIBID_SampleLib, 1, 0, 0, &loaded), TYPE_E_LIBNOTREGISTERED);
    EXPECT_EQ(perUser ? UnRegisterTypeLibForUser(LIBID_SampleLib, 1, 0, 0, SYS_WIN32)
                      : UnRegisterTypeLib(LIBID_SampleLib, 1, 0, 0, SYS_WIN32),
        TYPE_E_REGISTRYACCESS);
}

INSTANTIATE_TEST_SUITE_P(Scopes, TypeLibRegistration, testing::Values(false, true),
    [](const testing::TestParamInfo<bool>& info) { return info.param ? "PerUser" : "AllUsers"; });

TEST(TypeLib, LoadTypeLibExRegistersOnRequestAndARegisteredModuleLoads)
{
    const std::u16string path = Wide(SAMPLE_TLB);
    ITypeLib* library = nullptr;
    ASSERT_EQ(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library), S_OK);
    library->Release();
    EXPECT_EQ(LoadRegTypeLib(LIBID_SampleLib, 1, 0, 0, &library), TYPE_E_LIBNOTREGISTERED);
    ASSERT_EQ(LoadTypeLibEx(path.c_str(), REGKIND_REGISTER, &library), S_OK);
    library->Release();
    ASSERT_EQ(LoadRegTypeLib(LIBID_SampleLib, 1, 0, 0, &library), S_OK);

    // A server registers its own module, whose TYPELIB resource is then what loads.
    char16_t program[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, program, MAX_PATH), 0u);
    ASSERT_EQ(RegisterTypeLib(library, program, nullptr), S_OK);
    library->Release();
    BSTR registered = nullptr;
    ASSERT_EQ(QueryPathOfRegTypeLib(LIBID_SampleLib, 1, 0, 0, &registered), S_OK);
    EXPECT_EQ(Take(registered), Narrow(program));
    ASSERT_EQ(LoadRegTypeLib(LIBID_SampleLib, 1, 0, 0, &library), S_OK);
    EXPECT_EQ(library->GetTypeInfoCount(), 5u);
    library->Release();
}

// A small object implementing the generated interface, recording what its functions received.
class CalculatorObject final : public ICalculator {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_ICalculator ? this : nullptr;
        return *ppv ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override
    {
        return 2;
    }
    STDMETHODIMP_(ULONG) Release() override
    {
        return 1;
    }
    STDMETHODIMP GetTypeInfoCount(UINT*) override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP Add(LONG a, LONG b, LONG* sum) override
    {
        *sum = a + b;
        return a == 666 ? E_ACCESSDENIED : S_OK;
    }
    STDMETHODIMP Concat(BSTR left, BSTR right, BSTR* joined) override
    {
        const std::u16string text = std::u16string(left) + right;
        *joined = SysAllocString(text.c_str());
        return S_OK;
    }
    STDMETHODIMP Mixed(SHORT s, VARIANT_BOOL flag, ULONG u, INT i, UINT ui, VARIANT v, IDispatch* disp, IUnknown* unk,
        LONG* count, VARIANT* echo) override
    {
        m_s = s;
        m_flag = flag;
        m_u = u;
        m_i = i;
        m_ui = ui;
        m_disp = disp;
        m_unk = unk;
        *count = 42;
        return VariantCopy(echo, &v);
    }
    STDMETHODIMP get_Total(LONG* value) override
    {
        *value = m_total;
        return S_OK;
    }
    STDMETHODIMP put_Total(LONG value) override
    {
        m_total = value;
        return S_OK;
    }
    STDMETHODIMP Reset() override
    {
        m_total = 0;
        return S_OK;
    }

    SHORT m_s = 0;
    VARIANT_BOOL m_flag = 0;
    ULONG m_u = 0;
    INT m_i = 0;
    UINT m_ui = 0;
    IDispatch* m_disp = nullptr;
    IUnknown* m_unk = nullptr;
    LONG m_total = 0;
};

class TypeInfoInvoke : public testing::Test {
protected:
    void SetUp() override
    {
        m_info = m_sample.Info(IID_ICalculator);
        ASSERT_TRUE(m_info);
    }
    void TearDown() override
    {
        m_info->Release();
    }

    // Arguments in the caller's order; DISPPARAMS holds them last first.
    HRESULT Call(MEMBERID memid, WORD flags, std::vector<VARIANT> args, VARIANT* result, UINT* argError = nullptr,
        EXCEPINFO* exception = nullptr)
    {
        std::vector<VARIANT> reversed(args.rbegin(), args.rend());
        DISPID put = DISPID_PROPERTYPUT;
        DISPPARAMS params { reversed.data(), flags == DISPATCH_PROPERTYPUT ? &put : nullptr,
            static_cast<UINT>(reversed.size()), flags == DISPATCH_PROPERTYPUT ? 1u : 0u };
        return m_info->Invoke(static_cast<ICalculator*>(&m_object), memid, flags, &params, result, exception, argError);
    }

    static VARIANT Value(VARTYPE vt, LONG value)
    {
        VARIANT v;
        VariantInit(&v);
        V_VT(&v) = vt;
        v.llVal = 0;
        v.lVal = value;
        return v;
    }

    Library m_sample { Wide(SAMPLE_TLB) };
    ITypeInfo* m_info = nullptr;
    CalculatorObject m_object;
};

TEST_F(TypeInfoInvoke, CallsThroughTheFunctionTableConvertingArguments)
{
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(Call(1, DISPATCH_METHOD, { Value(VT_I2, 40), Value(VT_I4, 2) }, &result), S_OK);
    EXPECT_EQ(V_VT(&result), VT_I4);
    EXPECT_EQ(V_I4(&result), 42);

    VARIANT left = Value(VT_BSTR, 0), right = Value(VT_BSTR, 0);
    V_BSTR(&left) = SysAllocString(u"Reel");
    V_BSTR(&right) = SysAllocString(u"scan");
    ASSERT_EQ(Call(2, DISPATCH_METHOD, { left, right }, &result), S_OK);
    EXPECT_EQ(V_VT(&result), VT_BSTR);
    EXPECT_EQ(Narrow(V_BSTR(&result)), "Reelscan");
    VariantClear(&result);
    VariantClear(&left);
    VariantClear(&right);

    // Ten arguments: past the registers, with a VARIANT by value among those on the stack.
    LONG count = 0;
    VARIANT countRef = Value(VT_I4 | VT_BYREF, 0);
    countRef.plVal = &count;
    VARIANT dispatch = Value(VT_DISPATCH, 0), unknown = Value(VT_UNKNOWN, 0);
    V_DISPATCH(&dispatch) = &m_object;
    V_UNKNOWN(&unknown) = &m_object;
    ASSERT_EQ(Call(3, DISPATCH_METHOD,
                  { Value(VT_I4, -7), Value(VT_BOOL, VARIANT_TRUE), Value(VT_I4, 4000000), Value(VT_I2, -9),
                      Value(VT_I4, 12), Value(VT_I4, 1234), dispatch, unknown, countRef },
                  &result),
        S_OK);
    EXPECT_EQ(m_object.m_s, -7);
    EXPECT_EQ(m_object.m_flag, VARIANT_TRUE);
    EXPECT_EQ(m_object.m_u, 4000000u);
    EXPECT_EQ(m_object.m_i, -9);
    EXPECT_EQ(m_object.m_ui, 12u);
    EXPECT_EQ(m_object.m_disp, &m_object);
    EXPECT_EQ(m_object.m_unk, &m_object);
    EXPECT_EQ(count, 42);
    EXPECT_EQ(V_VT(&result), VT_I4);
    EXPECT_EQ(V_I4(&result), 1234);

    ASSERT_EQ(Call(4, DISPATCH_PROPERTYPUT, { Value(VT_I4, 77) }, nullptr), S_OK);
    EXPECT_EQ(m_object.m_total, 77);
    ASSERT_EQ(Call(4, DISPATCH_PROPERTYGET, {}, &result), S_OK);
    EXPECT_EQ(V_I4(&result), 77);
}

TEST_F(TypeInfoInvoke, Failures)
{
    VARIANT result;
    VariantInit(&result);
    UINT argError = 99;
    VARIANT text = Value(VT_BSTR, 0);
    V_BSTR(&text) = SysAllocString(u"not a number");
    EXPECT_EQ(Call(1, DISPATCH_METHOD, { Value(VT_I4, 1), text }, &result, &argError), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argError, 0u) << "the second argument is rgvarg[0]";
    VariantClear(&text);
    EXPECT_EQ(Call(1, DISPATCH_METHOD, { Value(VT_I4, 1) }, &result), DISP_E_PARAMNOTOPTIONAL);
    EXPECT_EQ(
        Call(1, DISPATCH_METHOD, { Value(VT_I4, 1), Value(VT_I4, 1), Value(VT_I4, 1) }, &result), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(Call(99, DISPATCH_METHOD, {}, &result), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(Call(1, DISPATCH_PROPERTYGET, {}, &result), DISP_E_MEMBERNOTFOUND) << "Add is no property";
    EXCEPINFO exception {};
    EXPECT_EQ(Call(1, DISPATCH_METHOD, { Value(VT_I4, 666), Value(VT_I4, 1) }, &result, nullptr, &exception),
        DISP_E_EXCEPTION);
    EXPECT_EQ(exception.scode, E_ACCESSDENIED);
}

}
