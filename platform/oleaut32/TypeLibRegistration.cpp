// RegisterTypeLib and its kin: the TypeLib\{LIBID}\<version> key, and Interface\{IID} for every
// interface that the automation marshaler carries (dual and oleautomation interfaces and
// dispinterfaces), written through the library's ITypeLib so that any implementation registers.
#include "TypeLib.h"

#include "Utf.h"
#include "winreg.h"

#include <filesystem>

namespace platform {

namespace {

// The automation marshaler, the proxy-stub class of every interface registered here.
const char16_t AutomationMarshaler[] = u"{00020424-0000-0000-C000-000000000046}";

enum class Scope { Machine, User };

LSTATUS SetDefault(
    HKEY root, const std::u16string& subKey, const std::u16string& value, const char16_t* valueName = nullptr)
{
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExW(root, subKey.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS)
        return status;
    status = RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
        static_cast<DWORD>((value.size() + 1) * sizeof(char16_t)));
    RegCloseKey(key);
    return status;
}

std::u16string Hex(unsigned value)
{
    char text[16];
    std::snprintf(text, sizeof(text), "%x", value);
    return FromUtf8(text);
}

std::u16string VersionText(WORD major, WORD minor)
{
    return Hex(major) + u"." + Hex(minor);
}

// The classes root that a scope writes to: HKEY_CLASSES_ROOT (which a per-user registration may
// have mapped to the user's classes), or the user's classes.
class ClassesRoot {
public:
    explicit ClassesRoot(Scope scope)
    {
        if (scope == Scope::Machine)
            m_key = HKEY_CLASSES_ROOT;
        else if (RegCreateKeyExW(
                     HKEY_CURRENT_USER, u"Software\\Classes", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &m_key, nullptr)
            == ERROR_SUCCESS)
            m_owned = true;
    }
    ~ClassesRoot()
    {
        if (m_owned)
            RegCloseKey(m_key);
    }
    ClassesRoot(const ClassesRoot&) = delete;
    ClassesRoot& operator=(const ClassesRoot&) = delete;
    operator HKEY() const
    {
        return m_key;
    }

private:
    HKEY m_key = nullptr;
    bool m_owned = false;
};

bool IsMarshaledByAutomation(const TYPEATTR& attr)
{
    return attr.typekind == TKIND_DISPATCH
        || (attr.typekind == TKIND_INTERFACE && (attr.wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION)));
}

// Calls visit(IID, name) for every interface of the library that the automation marshaler carries.
template <class Visit> void ForEachAutomationInterface(ITypeLib* library, Visit visit)
{
    const UINT count = library->GetTypeInfoCount();
    for (UINT i = 0; i < count; ++i) {
        ITypeInfo* info = nullptr;
        if (FAILED(library->GetTypeInfo(i, &info)))
            continue;
        TYPEATTR* attr = nullptr;
        if (SUCCEEDED(info->GetTypeAttr(&attr))) {
            if (IsMarshaledByAutomation(*attr)) {
                BSTR name = nullptr;
                info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
                visit(attr->guid, std::u16string(name ? name : u""));
                SysFreeString(name);
            }
            info->ReleaseTypeAttr(attr);
        }
        info->Release();
    }
}

HRESULT Register(Scope scope, ITypeLib* library, LPCOLESTR fullPath, LPCOLESTR helpDir)
{
    if (!library || !fullPath)
        return E_INVALIDARG;
    TLIBATTR* attr = nullptr;
    HRESULT hr = library->GetLibAttr(&attr);
    if (FAILED(hr))
        return hr;
    const TLIBATTR lib = *attr;
    library->ReleaseTLibAttr(attr);
    BSTR doc = nullptr;
    library->GetDocumentation(-1, nullptr, &doc, nullptr, nullptr);
    const std::u16string description = doc ? doc : u"";
    SysFreeString(doc);

    const ClassesRoot root(scope);
    if (!root)
        return TYPE_E_REGISTRYACCESS;
    const std::u16string libid = GuidText(lib.guid);
    const std::u16string versionKey = u"TypeLib\\" + libid + u"\\" + VersionText(lib.wMajorVerNum, lib.wMinorVerNum);
    bool written = SetDefault(root, versionKey, description) == ERROR_SUCCESS
        && SetDefault(root, versionKey + u"\\" + Hex(lib.lcid) + u"\\win32", fullPath) == ERROR_SUCCESS
        && SetDefault(root, versionKey + u"\\FLAGS", FromUtf8(std::to_string(lib.wLibFlags))) == ERROR_SUCCESS
        && SetDefault(root, versionKey + u"\\HELPDIR", helpDir ? helpDir : u"") == ERROR_SUCCESS;
    const std::u16string version = VersionText(lib.wMajorVerNum, lib.wMinorVerNum);
    ForEachAutomationInterface(library, [&](REFIID iid, const std::u16string& name) {
        const std::u16string key = u"Interface\\" + GuidText(iid);
        written = written && SetDefault(root, key, name) == ERROR_SUCCESS
            && SetDefault(root, key + u"\\ProxyStubClsid", AutomationMarshaler) == ERROR_SUCCESS
            && SetDefault(root, key + u"\\ProxyStubClsid32", AutomationMarshaler) == ERROR_SUCCESS
            && SetDefault(root, key + u"\\TypeLib", libid) == ERROR_SUCCESS
            && SetDefault(root, key + u"\\TypeLib", version, u"Version") == ERROR_SUCCESS;
    });
    return written ? S_OK : TYPE_E_REGISTRYACCESS;
}

HRESULT Unregister(Scope scope, REFGUID libID, WORD major, WORD minor, LCID lcid)
{
    const ClassesRoot root(scope);
    if (!root)
        return TYPE_E_REGISTRYACCESS;
    const std::u16string libid = GuidText(libID);
    const std::u16string libraryKey = u"TypeLib\\" + libid;
    const std::u16string versionKey = libraryKey + u"\\" + VersionText(major, minor);
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, versionKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return TYPE_E_REGISTRYACCESS;
    RegCloseKey(key);
    // The interfaces are those of the library as registered; a library that no longer loads
    // leaves its interface keys behind, as Windows does.
    BSTR path = nullptr;
    ITypeLib* library = nullptr;
    if (SUCCEEDED(QueryPathOfRegTypeLib(libID, major, minor, lcid, &path)) && SUCCEEDED(LoadTypeLib(path, &library))) {
        ForEachAutomationInterface(library, [&](REFIID iid, const std::u16string&) {
            const std::u16string interfaceKey = u"Interface\\" + GuidText(iid);
            char16_t owner[64];
            DWORD ownerSize = sizeof(owner);
            // Only an interface that this library registered, not one another library took over.
            if (RegGetValueW(
                    root, (interfaceKey + u"\\TypeLib").c_str(), nullptr, RRF_RT_REG_SZ, nullptr, owner, &ownerSize)
                    == ERROR_SUCCESS
                && EqualsIgnoringCase(owner, libid))
                RegDeleteTreeW(root, interfaceKey.c_str());
        });
        library->Release();
    }
    SysFreeString(path);
    HRESULT hr = RegDeleteTreeW(root, versionKey.c_str()) == ERROR_SUCCESS ? S_OK : TYPE_E_REGISTRYACCESS;
    // The library's key goes with its last version.
    if (RegOpenKeyExW(root, libraryKey.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
        DWORD subKeys = 0;
        RegQueryInfoKeyW(
            key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
        RegCloseKey(key);
        if (subKeys == 0)
            RegDeleteKeyW(root, libraryKey.c_str());
    }
    return hr;
}

}

}

using namespace platform;

extern "C" HRESULT WINAPI RegisterTypeLib(ITypeLib* ptlib, LPCOLESTR szFullPath, LPCOLESTR szHelpDir)
{
    return Register(Scope::Machine, ptlib, szFullPath, szHelpDir);
}

extern "C" HRESULT WINAPI RegisterTypeLibForUser(ITypeLib* ptlib, OLECHAR* szFullPath, OLECHAR* szHelpDir)
{
    return Register(Scope::User, ptlib, szFullPath, szHelpDir);
}

extern "C" HRESULT WINAPI UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid, SYSKIND)
{
    return Unregister(Scope::Machine, libID, wVerMajor, wVerMinor, lcid);
}

extern "C" HRESULT WINAPI UnRegisterTypeLibForUser(
    REFGUID libID, WORD wMajorVerNum, WORD wMinorVerNum, LCID lcid, SYSKIND)
{
    return Unregister(Scope::User, libID, wMajorVerNum, wMinorVerNum, lcid);
}
