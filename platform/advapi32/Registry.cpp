#include "winreg.h"

#include "RegistryStore.h"
#include "Utf.h"
#include "WinRoot.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <unordered_map>

using advapi32::KeyRecord;
using advapi32::KeyRef;
using advapi32::Name;
using advapi32::RegistryStore;

namespace {

// How a handle sees the tree: as stored, or as HKEY_CLASSES_ROOT's merge of the user's classes
// over the machine's.
enum class View { Plain, Classes };

struct OpenKey {
    KeyRef key; // the key the handle is bound to (in a merged view, the user's when it exists)
    REGSAM access = 0;
    View view = View::Plain;
    std::string classPath; // in a merged view: the folded path below Software\Classes, "" for the root
};

// All registry state of the process, behind one lock: the store, open handles and overrides.
std::mutex g_lock;
std::unique_ptr<RegistryStore> g_store;
std::unordered_map<std::uintptr_t, OpenKey> g_handles;
std::unordered_map<std::uintptr_t, OpenKey> g_overrides;
// Handles count up and are never reused within a process, so a stale handle never reaches
// another key.
std::uintptr_t g_nextHandle = 0x1000;
std::optional<OpenKey> g_classesRoot;

// A fork waits until no thread is inside the registry. The child then drops the parent's SQLite
// connection, which a process must not share with its parent, without closing it (closing would
// act for the parent), and opens its own on first use. Its handles stay valid: they name keys,
// not connections.
void LockForFork()
{
    g_lock.lock();
}

void UnlockAfterFork()
{
    g_lock.unlock();
}

void StartOverInChild()
{
    (void)g_store.release(); // deliberately leaked, see above
    g_lock.unlock();
}

[[maybe_unused]] const int g_forkHandlers = pthread_atfork(LockForFork, UnlockAfterFork, StartOverInChild);

constexpr std::string_view ClassesBelowHive = "\\SOFTWARE\\CLASSES";

const std::string& UserClassesPath()
{
    static const std::string path = RegistryStore::CurrentUser().path + std::string(ClassesBelowHive);
    return path;
}

const std::string& MachineClassesPath()
{
    static const std::string path = RegistryStore::MachineHive().path + std::string(ClassesBelowHive);
    return path;
}

std::string Join(std::string_view base, std::string_view tail)
{
    if (base.empty())
        return std::string(tail);
    if (tail.empty())
        return std::string(base);
    std::string path(base);
    path += '\\';
    path += tail;
    return path;
}

std::uintptr_t HandleValue(HKEY key)
{
    return reinterpret_cast<std::uintptr_t>(key);
}

bool IsPredefined(HKEY key)
{
    return key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE || key == HKEY_USERS;
}

REGSAM GrantedRights(REGSAM desired)
{
    REGSAM rights = desired & KEY_ALL_ACCESS;
    if (desired & (GENERIC_READ | GENERIC_EXECUTE))
        rights |= KEY_READ;
    if (desired & GENERIC_WRITE)
        rights |= KEY_WRITE;
    if (desired & (GENERIC_ALL | MAXIMUM_ALLOWED))
        rights |= KEY_ALL_ACCESS;
    return rights;
}

LSTATUS Store(RegistryStore*& store)
{
    if (!g_store) {
        if (const LSTATUS result = RegistryStore::Open(platform::RootPath("registry.db"), g_store);
            result != ERROR_SUCCESS)
            return result;
    }
    store = g_store.get();
    return ERROR_SUCCESS;
}

LSTATUS ClassesRoot(RegistryStore& store, const OpenKey*& root)
{
    if (!g_classesRoot) {
        OpenKey classes { {}, KEY_ALL_ACCESS, View::Classes, {} };
        if (const LSTATUS result = store.FindKey(UserClassesPath(), MachineClassesPath(), classes.key);
            result != ERROR_SUCCESS)
            return result;
        g_classesRoot = std::move(classes);
    }
    root = &*g_classesRoot;
    return ERROR_SUCCESS;
}

LSTATUS Resolve(RegistryStore& store, HKEY handle, const OpenKey*& open)
{
    if (IsPredefined(handle)) {
        if (auto found = g_overrides.find(HandleValue(handle)); found != g_overrides.end()) {
            open = &found->second;
            return ERROR_SUCCESS;
        }
        static const OpenKey machine { RegistryStore::MachineHive(), KEY_ALL_ACCESS, View::Plain, {} };
        static const OpenKey users { RegistryStore::UsersHive(), KEY_ALL_ACCESS, View::Plain, {} };
        static const OpenKey user { RegistryStore::CurrentUser(), KEY_ALL_ACCESS, View::Plain, {} };
        if (handle == HKEY_CLASSES_ROOT)
            return ClassesRoot(store, open);
        open = handle == HKEY_LOCAL_MACHINE ? &machine : handle == HKEY_USERS ? &users : &user;
        return ERROR_SUCCESS;
    }
    const auto found = g_handles.find(HandleValue(handle));
    if (found == g_handles.end())
        return ERROR_INVALID_HANDLE;
    open = &found->second;
    return ERROR_SUCCESS;
}

LSTATUS Require(const OpenKey& open, REGSAM rights)
{
    return (open.access & rights) == rights ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

// Under g_lock: the process's store and the open key behind a handle, which must hold rights.
LSTATUS Access(HKEY handle, REGSAM rights, RegistryStore*& store, const OpenKey*& open)
{
    LSTATUS result = Store(store);
    if (result == ERROR_SUCCESS)
        result = Resolve(*store, handle, open);
    if (result == ERROR_SUCCESS)
        result = Require(*open, rights);
    return result;
}

// Splits a subkey path into names. A trailing backslash is allowed; empty names are not.
LSTATUS ParseSubKey(LPCWSTR subKey, std::vector<Name>& names)
{
    std::u16string_view rest = platform::WideView(subKey);
    while (!rest.empty() && rest.back() == u'\\')
        rest.remove_suffix(1);
    names.clear();
    while (!rest.empty()) {
        const size_t end = rest.find(u'\\');
        const std::u16string_view name = rest.substr(0, end);
        if (name.empty())
            return ERROR_BAD_PATHNAME;
        if (name.size() > advapi32::MaxKeyNameChars)
            return ERROR_INVALID_PARAMETER;
        names.push_back(advapi32::MakeName(name));
        rest = end == rest.npos ? std::u16string_view() : rest.substr(end + 1);
    }
    return ERROR_SUCCESS;
}

std::string FoldedPath(std::span<const Name> names)
{
    std::string path;
    for (const Name& name : names) {
        if (!path.empty())
            path += '\\';
        path += name.folded;
    }
    return path;
}

// The key at base\names, as the base's view sees it.
LSTATUS OpenSubKey(
    RegistryStore& store, const OpenKey& base, std::span<const Name> names, REGSAM access, OpenKey& result)
{
    result = base;
    result.access = access;
    if (names.empty())
        return store.CheckKey(base.key.id);
    LSTATUS found;
    if (base.view == View::Classes) {
        result.classPath = Join(base.classPath, FoldedPath(names));
        found = store.FindKey(
            Join(UserClassesPath(), result.classPath), Join(MachineClassesPath(), result.classPath), result.key);
    } else {
        found = store.FindKey(Join(base.key.path, FoldedPath(names)), result.key);
    }
    if (found != ERROR_FILE_NOT_FOUND)
        return found;
    const LSTATUS baseExists = store.CheckKey(base.key.id);
    return baseExists == ERROR_SUCCESS ? ERROR_FILE_NOT_FOUND : baseExists;
}

LSTATUS CreateSubKey(RegistryStore& store, const OpenKey& base, std::span<const Name> names, std::string_view keyClass,
    REGSAM access, OpenKey& result, DWORD& disposition)
{
    disposition = REG_OPENED_EXISTING_KEY;
    const LSTATUS opened = OpenSubKey(store, base, names, access, result);
    if (opened != ERROR_FILE_NOT_FOUND)
        return opened;
    if (const LSTATUS allowed = Require(base, KEY_CREATE_SUB_KEY); allowed != ERROR_SUCCESS)
        return allowed;
    if (base.view == View::Plain || !base.classPath.empty())
        return store.CreateKey(base.key, names, keyClass, result.key, disposition);
    // A new key right below HKEY_CLASSES_ROOT goes to the user's tree when the deepest part of
    // its path that exists is the user's, else to the machine's.
    for (size_t depth = names.size() - 1; depth > 0; --depth) {
        KeyRef parent;
        const LSTATUS found = store.FindKey(Join(UserClassesPath(), FoldedPath(names.first(depth))), parent);
        if (found == ERROR_SUCCESS)
            return store.CreateKey(parent, names.subspan(depth), keyClass, result.key, disposition);
        if (found != ERROR_FILE_NOT_FOUND)
            return found;
    }
    KeyRef machine;
    if (const LSTATUS found = store.FindKey(MachineClassesPath(), machine); found != ERROR_SUCCESS)
        return found;
    return store.CreateKey(machine, names, keyClass, result.key, disposition);
}

HKEY AddHandle(OpenKey open)
{
    const std::uintptr_t value = g_nextHandle;
    g_nextHandle += 4;
    g_handles.emplace(value, std::move(open));
    return reinterpret_cast<HKEY>(value);
}

// The subkeys of an open key as its view sees them: in a merged view the user's and the
// machine's together, the user's hiding the machine's of the same name.
LSTATUS ListSubkeys(RegistryStore& store, const OpenKey& open, std::vector<KeyRecord>& subkeys)
{
    if (const LSTATUS exists = store.CheckKey(open.key.id); exists != ERROR_SUCCESS)
        return exists;
    if (open.view == View::Plain)
        return store.Subkeys(open.key.id, subkeys);
    subkeys.clear();
    for (const std::string& tree : { UserClassesPath(), MachineClassesPath() }) {
        KeyRef key;
        const LSTATUS found = store.FindKey(Join(tree, open.classPath), key);
        if (found == ERROR_FILE_NOT_FOUND)
            continue;
        if (found != ERROR_SUCCESS)
            return found;
        std::vector<KeyRecord> more;
        if (const LSTATUS listed = store.Subkeys(key.id, more); listed != ERROR_SUCCESS)
            return listed;
        std::vector<KeyRecord> merged;
        merged.reserve(subkeys.size() + more.size());
        const auto byName = [](const KeyRecord& a, const KeyRecord& b) { return a.folded < b.folded; };
        std::set_union(subkeys.begin(), subkeys.end(), more.begin(), more.end(), std::back_inserter(merged), byName);
        subkeys = std::move(merged);
    }
    return ERROR_SUCCESS;
}

LSTATUS CopyText(std::string_view utf8, LPWSTR buffer, LPDWORD chars)
{
    const std::u16string text = platform::FromUtf8(utf8);
    if (text.size() + 1 > *chars)
        return ERROR_MORE_DATA;
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = u'\0';
    *chars = static_cast<DWORD>(text.size());
    return ERROR_SUCCESS;
}

// The buffer rules of RegQueryValueExW: no buffer asks for the size; a small one gets
// ERROR_MORE_DATA and the size needed.
LSTATUS CopyData(std::string_view data, LPBYTE buffer, LPDWORD bytes)
{
    if (!bytes)
        return ERROR_SUCCESS;
    const DWORD needed = static_cast<DWORD>(data.size());
    if (buffer && *bytes < needed) {
        *bytes = needed;
        return ERROR_MORE_DATA;
    }
    if (buffer && !data.empty())
        std::memcpy(buffer, data.data(), data.size());
    *bytes = needed;
    return ERROR_SUCCESS;
}

std::string_view Bytes(const void* data, DWORD size)
{
    return { static_cast<const char*>(data), size };
}

LSTATUS ValidateValue(LPCWSTR name, const void* data, DWORD size)
{
    if (!data && size > 0)
        return ERROR_NOACCESS;
    if (size > advapi32::MaxValueBytes || platform::WideView(name).size() > advapi32::MaxValueNameChars)
        return ERROR_INVALID_PARAMETER;
    return ERROR_SUCCESS;
}

bool IsString(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// %NAME% replaced by the environment variable's value; unknown names stay as they are.
std::u16string ExpandEnvironment(std::u16string_view text)
{
    std::u16string out;
    size_t at = 0;
    while (at < text.size()) {
        const size_t open = text.find(u'%', at);
        const size_t close = open == text.npos ? text.npos : text.find(u'%', open + 1);
        if (close == text.npos) {
            out += text.substr(at);
            break;
        }
        out += text.substr(at, open - at);
        const std::string name = platform::ToUtf8(text.substr(open + 1, close - open - 1));
        if (const char* value = name.empty() ? nullptr : std::getenv(name.c_str())) {
            out += platform::FromUtf8(value);
            at = close + 1;
        } else {
            out += text.substr(open, close - open);
            at = close;
        }
    }
    return out;
}

DWORD TypeFlag(DWORD type)
{
    switch (type) {
    case REG_NONE:
        return RRF_RT_REG_NONE;
    case REG_SZ:
        return RRF_RT_REG_SZ;
    case REG_EXPAND_SZ:
        return RRF_RT_REG_EXPAND_SZ;
    case REG_BINARY:
        return RRF_RT_REG_BINARY;
    case REG_DWORD:
        return RRF_RT_REG_DWORD;
    case REG_MULTI_SZ:
        return RRF_RT_REG_MULTI_SZ;
    case REG_QWORD:
        return RRF_RT_REG_QWORD;
    default:
        return 0;
    }
}

// String data as RegGetValueW hands it out: expanded unless asked not to, and terminated.
void PrepareString(DWORD flags, DWORD& type, std::string& data)
{
    if (data.size() % 2)
        data += '\0';
    if (type == REG_EXPAND_SZ && !(flags & RRF_NOEXPAND)) {
        std::u16string text(reinterpret_cast<const char16_t*>(data.data()), data.size() / 2);
        if (const size_t end = text.find(u'\0'); end != text.npos)
            text.resize(end);
        text = ExpandEnvironment(text) + u'\0';
        data.assign(reinterpret_cast<const char*>(text.data()), text.size() * 2);
        type = REG_SZ;
    }
    const size_t terminators = type == REG_MULTI_SZ ? 2 : 1;
    size_t present = 0;
    while (present < terminators && data.size() >= (present + 1) * 2
        && data.compare(data.size() - (present + 1) * 2, 2, std::string(2, '\0')) == 0)
        ++present;
    data.append((terminators - present) * 2, '\0');
}

}

namespace {

enum class Opening { ExistingOnly, CreateMissing };

LSTATUS OpenKeyHandle(
    HKEY hKey, LPCWSTR subKey, Opening how, LPCWSTR keyClass, REGSAM desired, PHKEY result, LPDWORD disposition)
{
    if (!result || (how == Opening::CreateMissing && !subKey))
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    std::vector<Name> names;
    if (const LSTATUS parsed = ParseSubKey(subKey, names); parsed != ERROR_SUCCESS)
        return parsed;
    std::lock_guard lock(g_lock);
    RegistryStore* store;
    const OpenKey* base;
    LSTATUS status = Access(hKey, 0, store, base);
    OpenKey opened;
    DWORD outcome = REG_OPENED_EXISTING_KEY;
    if (status == ERROR_SUCCESS && how == Opening::CreateMissing)
        status = CreateSubKey(*store, *base, names, platform::ToUtf8(platform::WideView(keyClass)),
            GrantedRights(desired), opened, outcome);
    else if (status == ERROR_SUCCESS)
        status = OpenSubKey(*store, *base, names, GrantedRights(desired), opened);
    if (status != ERROR_SUCCESS)
        return status;
    *result = AddHandle(std::move(opened));
    if (disposition)
        *disposition = outcome;
    return ERROR_SUCCESS;
}

}

extern "C" LSTATUS WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR lpClass, DWORD, REGSAM samDesired,
    const struct _SECURITY_ATTRIBUTES*, PHKEY phkResult, LPDWORD lpdwDisposition)
{
    return OpenKeyHandle(hKey, lpSubKey, Opening::CreateMissing, lpClass, samDesired, phkResult, lpdwDisposition);
}

extern "C" LSTATUS WINAPI RegCreateKeyW(HKEY hKey, LPCWSTR lpSubKey, PHKEY phkResult)
{
    return OpenKeyHandle(
        hKey, lpSubKey ? lpSubKey : u"", Opening::CreateMissing, nullptr, MAXIMUM_ALLOWED, phkResult, nullptr);
}

extern "C" LSTATUS WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult)
{
    return OpenKeyHandle(hKey, lpSubKey, Opening::ExistingOnly, nullptr, samDesired, phkResult, nullptr);
}

extern "C" LSTATUS WINAPI RegOpenKeyW(HKEY hKey, LPCWSTR lpSubKey, PHKEY phkResult)
{
    return RegOpenKeyExW(hKey, lpSubKey, 0, MAXIMUM_ALLOWED, phkResult);
}

extern "C" LSTATUS WINAPI RegCloseKey(HKEY hKey)
{
    if (IsPredefined(hKey))
        return ERROR_SUCCESS;
    std::lock_guard lock(g_lock);
    return g_handles.erase(HandleValue(hKey)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

extern "C" LSTATUS WINAPI RegOverridePredefKey(HKEY hKey, HKEY hNewHKey)
{
    if (!IsPredefined(hKey))
        return ERROR_INVALID_HANDLE;
    std::lock_guard lock(g_lock);
    if (!hNewHKey) {
        g_overrides.erase(HandleValue(hKey));
        return ERROR_SUCCESS;
    }
    RegistryStore* store;
    const OpenKey* target;
    LSTATUS result = Access(hNewHKey, 0, store, target);
    if (result != ERROR_SUCCESS)
        return result;
    // A copy: the caller may close hNewHKey while the override stays.
    OpenKey copy = *target;
    g_overrides[HandleValue(hKey)] = std::move(copy);
    return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegSetValueExW(
    HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData, DWORD cbData)
{
    if (const LSTATUS valid = ValidateValue(lpValueName, lpData, cbData); valid != ERROR_SUCCESS)
        return valid;
    const Name name = advapi32::MakeName(platform::WideView(lpValueName));
    std::lock_guard lock(g_lock);
    RegistryStore* store;
    const OpenKey* open;
    LSTATUS result = Access(hKey, KEY_SET_VALUE, store, open);
    if (result == ERROR_SUCCESS)
        result = store->SetValue(open->key.id, name, dwType, Bytes(lpData, cbData));
    return result;
}

extern "C" LSTATUS WINAPI RegSetKeyValueW(
    HKEY hKey, LPCWSTR lpSubKey, LPCWSTR lpValueName, DWORD dwType, LPCVOID lpData, DWORD cbData)
{
    if (const LSTATUS valid = ValidateValue(lpValueName, lpData, cbData); valid != ERROR_SUCCESS)
        return valid;
    std::vector<Name> names;
    if (const LSTATUS parsed = ParseSubKey(lpSubKey, names); parsed != ERROR_SUCCESS)
        return parsed;
    const Name name = advapi32::MakeName(platform::WideView(lpValueName));
    std::lock_guard lock(g_lock);
    RegistryStore* store;
    const OpenKey* base;
    LSTATUS result = Access(hKey, 0, store, base);
    OpenKey target;
    DWORD disposition;
    if (result == ERROR_SUCCESS)
        result = CreateSubKey(*store, *base, names, {}, KEY_SET_VALUE, target, disposition);
    if (result == ERROR_SUCCESS)
        result = Require(names.empty() ? *base : target, KEY_SET_VALUE);
    if (result == ERROR_SUCCESS)
        result = store->SetValue(target.key.id, name, dwType, Bytes(lpData, cbData));
    return result;
}

extern "C" LSTATUS WINAPI RegSetValueW(HKEY hKey, LPCWSTR lpSubKey, DWORD dwType, LPCWSTR lpData, DWORD)
{
    if (dwType != REG_SZ || !lpData)
        return ERROR_INVALID_PARAMETER;
    const std::u16string_view text(lpData);
    return RegSetKeyValueW(
        hKey, lpSubKey, nullptr, REG_SZ, lpData, static_cast<DWORD>((text.size() + 1) * sizeof(char16_t)));
}

namespace {

// Reads a value of base\subKey for the query functions.
LSTATUS ReadValue(HKEY hKey, LPCWSTR subKey, LPCWSTR valueName, DWORD& type, std::string& data)
{
    std::vector<Name> names;
    if (const LSTATUS parsed = ParseSubKey(subKey, names); parsed != ERROR_SUCCESS)
        return parsed;
    const std::string folded = advapi32::FoldName(platform::WideView(valueName));
    std::lock_guard lock(g_lock);
    RegistryStore* store;
    const OpenKey* open;
    LSTATUS result = Access(hKey, KEY_QUERY_VALUE, store, open);
    if (result != ERROR_SUCCESS)
        return result;
    if (names.empty())
        return store->GetValue(open->key.id, folded, type, data);
    OpenKey target;
    if (result = OpenSubKey(*store, *open, names, KEY_QUERY_VALUE, target); result != ERROR_SUCCESS)
        return result;
    return store->GetValue(target.key.id, folded, type, data);
}

}

extern "C" LSTATUS WINAPI RegQueryValueExW(
    HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData)
{
    if (lpReserved || (lpData && !lpcbData))
        return ERROR_INVALID_PARAMETER;
    DWORD type = REG_NONE;
    std::string data;
    if (const LSTATUS result = ReadValue(hKey, nullptr, lpValueName, type, data); result != ERROR_SUCCESS)
        return result;
    if (lpType)
        *lpType = type;
    return CopyData(data, lpData, lpcbData);
}

extern "C" LSTATUS WINAPI RegGetValueW(
    HKEY hkey, LPCWSTR lpSubKey, LPCWSTR lpValue, DWORD dwFlags, LPDWORD pdwType, PVOID pvData, LPDWORD pcbData)
{
    const DWORD types = dwFlags & RRF_RT_ANY;
    if (!types || (pvData && !pcbData) || (types == RRF_RT_REG_EXPAND_SZ && !(dwFlags & RRF_NOEXPAND)))
        return ERROR_INVALID_PARAMETER;
    const DWORD capacity = pcbData ? *pcbData : 0;
    DWORD type = REG_NONE;
    std::string data;
    LSTATUS result = ReadValue(hkey, lpSubKey, lpValue, type, data);
    if (result == ERROR_SUCCESS) {
        if (IsString(type))
            PrepareString(dwFlags, type, data);
        if (!(TypeFlag(type) & types))
            result = ERROR_UNSUPPORTED_TYPE;
    }
    if (result == ERROR_SUCCESS) {
        if (pdwType)
            *pdwType = type;
        result = CopyData(data, static_cast<LPBYTE>(pvData), pcbData);
    }
    if (result != ERROR_SUCCESS && pvData && (dwFlags & RRF_ZEROONFAILURE))
        std::memset(pvData, 0, capacity);
    return result;
}

extern "C" LSTATUS WINAPI RegQueryValueW(HKEY hKey, LPCWSTR lpSubKey, LPWSTR lpData, PLONG lpcbData)
{
    if (lpData && !lpcbData)
        return ERROR_INVALID_PARAMETER;
    DWORD type = REG_SZ;
    std::string data;
    LSTATUS result = ReadValue(hKey, lpSubKey, nullptr, type, data);
    // A key whose default value was never set reads as an empty string.
    if (result == ERROR_FILE_NOT_FOUND) {
        data.assign(2, '\0');
        result = ERROR_SUCCESS;
    } else if (result == ERROR_SUCCESS) {
        PrepareString(RRF_NOEXPAND, type, data);
    }
    if (result != ERROR_SUCCESS || !lpcbData)
        return result;
    DWORD bytes = static_cast<DWORD>(*lpcbData);
    result = CopyData(data, reinterpret_cast<LPBYTE>(lpData), &bytes);
    *lpcbData = static_cast<LONG>(bytes);
    return result;
}

namespace {

enum class Deletion { KeyWithoutSubkeys, Tree };

LSTATUS DeleteKey(HKEY hKey, LPCWSTR subKey, Deletion how)
{
    std::vector<Name> names;
    if (const LSTATUS parsed = ParseSubKey(subKey, names); parsed != ERROR_SUCCESS)
        return parsed;
    std::lock_guard lock(g_lock);
    RegistryStore* store;
    const OpenKey* base;
    LSTATUS result = Access(hKey, 0, store, base);
    OpenKey target;
    if (result == ERROR_SUCCESS)
        result = OpenSubKey(*store, *base, names, KEY_ALL_ACCESS, target);
    if (result != ERROR_SUCCESS)
        return result;
    if (how == Deletion::Tree && !subKey)
        return store->DeleteTree(target.key, advapi32::TreeDeletion::ContentsOnly);
    // The hives and the user's own key are the registry's frame; they cannot be deleted.
    if (target.key.id <= RegistryStore::CurrentUser().id)
        return ERROR_ACCESS_DENIED;
    if (how == Deletion::Tree)
        return store->DeleteTree(target.key, advapi32::TreeDeletion::KeyAndContents);
    bool hasSubkeys = false;
    if (result = store->HasSubkeys(target.key.id, hasSubkeys); result != ERROR_SUCCESS)
        return result;
    return hasSubkeys ? ERROR_ACCESS_DENIED : store->DeleteKey(target.key);
}

}

extern "C" LSTATUS WINAPI RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey)
{
    if (!lpSubKey)
        return ERROR_INVALID_PARAMETER;
    return DeleteKey(hKey, lpSubKey, Deletion::KeyWithoutSubkeys);
}

extern "C" LSTATUS WINAPI RegDeleteKeyExW(HKEY hKey, LPCWSTR lpSubKey, REGSAM, DWORD)
{
    return RegDeleteKeyW(hKey, lpSubKey);
}

extern "C" LSTATUS WINAPI RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey)
{
    return DeleteKey(hKey, lpSubKey, Deletion::Tree);
}

extern "C" LSTATUS WINAPI RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName)
{
    const std::string folded = advapi32::FoldName(platform::WideView(lpValueName));
    std::lock_guard lock(g_lock);
    RegistryStore* store;
    const OpenKey* open;
    LSTATUS result = Access(hKey, KEY_SET_VALUE, store, open);
    if (result == ERROR_SUCCESS)
        result = store->DeleteValue(open->key.id, folded);
    return result;
}

extern "C" LSTATUS WINAPI RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
    LPWSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime)
{
    if (!lpName || !lpcchName || lpReserved || (lpClass && !lpcchClass))
        return ERROR_INVALID_PARAMETER;
    KeyRecord subkey;
    {
        std::lock_guard lock(g_lock);
        RegistryStore* store;
        const OpenKey* open;
        LSTATUS result = Access(hKey, KEY_ENUMERATE_SUB_KEYS, store, open);
        if (result == ERROR_SUCCESS && open->view == View::Plain) {
            result = store->SubkeyAt(open->key.id, dwIndex, subkey);
            if (result == ERROR_NO_MORE_ITEMS && store->CheckKey(open->key.id) == ERROR_KEY_DELETED)
                result = ERROR_KEY_DELETED;
        } else if (result == ERROR_SUCCESS) {
            std::vector<KeyRecord> subkeys;
            result = ListSubkeys(*store, *open, subkeys);
            if (result == ERROR_SUCCESS && dwIndex >= subkeys.size())
                result = ERROR_NO_MORE_ITEMS;
            if (result == ERROR_SUCCESS)
                subkey = std::move(subkeys[dwIndex]);
        }
        if (result != ERROR_SUCCESS)
            return result;
    }
    if (const LSTATUS copied = CopyText(subkey.name, lpName, lpcchName); copied != ERROR_SUCCESS)
        return copied;
    if (lpClass) {
        if (const LSTATUS copied = CopyText(subkey.keyClass, lpClass, lpcchClass); copied != ERROR_SUCCESS)
            return copied;
    }
    if (lpftLastWriteTime) {
        lpftLastWriteTime->dwLowDateTime = static_cast<DWORD>(subkey.written);
        lpftLastWriteTime->dwHighDateTime = static_cast<DWORD>(subkey.written >> 32);
    }
    return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName,
    LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData)
{
    if (!lpValueName || !lpcchValueName || lpReserved || (lpData && !lpcbData))
        return ERROR_INVALID_PARAMETER;
    advapi32::ValueRecord value;
    {
        std::lock_guard lock(g_lock);
        RegistryStore* store;
        const OpenKey* open;
        LSTATUS result = Access(hKey, KEY_QUERY_VALUE, store, open);
        if (result == ERROR_SUCCESS)
            result = store->ValueAt(open->key.id, dwIndex, value);
        if (result != ERROR_SUCCESS)
            return result;
    }
    if (const LSTATUS copied = CopyText(value.name, lpValueName, lpcchValueName); copied != ERROR_SUCCESS)
        return copied;
    if (lpType)
        *lpType = value.type;
    return CopyData(value.data, lpData, lpcbData);
}

extern "C" LSTATUS WINAPI RegQueryInfoKeyW(HKEY hKey, LPWSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
    LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
    LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime)
{
    if (lpReserved || (lpClass && !lpcchClass))
        return ERROR_INVALID_PARAMETER;
    KeyRecord self;
    std::vector<KeyRecord> subkeys;
    advapi32::ValueStats values;
    {
        std::lock_guard lock(g_lock);
        RegistryStore* store;
        const OpenKey* open;
        LSTATUS result = Access(hKey, KEY_QUERY_VALUE, store, open);
        if (result == ERROR_SUCCESS)
            result = store->ReadKey(open->key.id, self);
        if (result == ERROR_SUCCESS)
            result = ListSubkeys(*store, *open, subkeys);
        if (result == ERROR_SUCCESS)
            result = store->Values(open->key.id, values);
        if (result != ERROR_SUCCESS)
            return result;
    }
    if (lpClass) {
        if (const LSTATUS copied = CopyText(self.keyClass, lpClass, lpcchClass); copied != ERROR_SUCCESS)
            return copied;
    } else if (lpcchClass) {
        *lpcchClass = static_cast<DWORD>(platform::FromUtf8(self.keyClass).size());
    }
    DWORD maxName = 0;
    DWORD maxClass = 0;
    for (const KeyRecord& subkey : subkeys) {
        maxName = std::max(maxName, static_cast<DWORD>(platform::FromUtf8(subkey.name).size()));
        maxClass = std::max(maxClass, static_cast<DWORD>(platform::FromUtf8(subkey.keyClass).size()));
    }
    const auto set = [](LPDWORD out, DWORD value) {
        if (out)
            *out = value;
    };
    set(lpcSubKeys, static_cast<DWORD>(subkeys.size()));
    set(lpcbMaxSubKeyLen, maxName);
    set(lpcbMaxClassLen, maxClass);
    set(lpcValues, values.count);
    set(lpcbMaxValueNameLen, values.maxNameChars);
    set(lpcbMaxValueLen, values.maxDataBytes);
    set(lpcbSecurityDescriptor, 0);
    if (lpftLastWriteTime) {
        lpftLastWriteTime->dwLowDateTime = static_cast<DWORD>(self.written);
        lpftLastWriteTime->dwHighDateTime = static_cast<DWORD>(self.written >> 32);
    }
    return ERROR_SUCCESS;
}
