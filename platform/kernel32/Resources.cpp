// The resource functions over the tables that modules register when they load.
#include "winbase.h"

#include "Module.h"
#include "ResourceTable.h"
#include "TextCase.h"
#include "Utf.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <optional>
#include <shared_mutex>

namespace {

std::shared_mutex g_mutex;
std::map<HMODULE, const platform::ResourceTable*> g_tables;

// An id as a caller passes it: a number (MAKEINTRESOURCEW or "#123") or a name.
struct WantedId {
    std::u16string_view name;
    WORD number = 0;
    bool numbered = false;
};

WantedId ParseId(LPCWSTR id)
{
    if (IS_INTRESOURCE(id))
        return WantedId { {}, static_cast<WORD>(reinterpret_cast<ULONG_PTR>(id)), true };
    const std::u16string_view text(id);
    if (text.size() > 1 && text.size() <= 6 && text[0] == u'#') {
        unsigned value = 0;
        bool digits = true;
        for (char16_t c : text.substr(1)) {
            digits = digits && c >= u'0' && c <= u'9';
            value = value * 10 + (c - u'0');
        }
        if (digits && value <= 0xFFFF)
            return WantedId { {}, static_cast<WORD>(value), true };
    }
    return WantedId { text, 0, false };
}

bool Matches(const platform::ResourceId& id, const WantedId& wanted)
{
    if (wanted.numbered)
        return !id.name && id.number == wanted.number;
    return id.name && platform::EqualNoCase(platform::WideView(id.name), wanted.name);
}

// The language taken when the caller names none: neutral, then US English, then any.
constexpr WORD PreferredLanguages[]
    = { MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US) };

HRSRC Find(HMODULE module, LPCWSTR type, LPCWSTR name, std::optional<WORD> language)
{
    if (!module)
        module = platform::ProgramModule();
    std::shared_lock lock(g_mutex);
    const auto table = g_tables.find(module);
    if (table == g_tables.end()) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return nullptr;
    }
    const WantedId wantedType = ParseId(type);
    const WantedId wantedName = ParseId(name);
    bool typeFound = false;
    bool nameFound = false;
    const platform::ResourceEntry* candidate = nullptr;
    size_t candidateRank = 0;
    for (size_t i = 0; i < table->second->count; ++i) {
        const platform::ResourceEntry& entry = table->second->entries[i];
        if (!Matches(entry.type, wantedType))
            continue;
        typeFound = true;
        if (!Matches(entry.name, wantedName))
            continue;
        nameFound = true;
        if (language) {
            if (entry.language == *language)
                return reinterpret_cast<HRSRC>(const_cast<platform::ResourceEntry*>(&entry));
            continue;
        }
        const auto* preferred = std::find(std::begin(PreferredLanguages), std::end(PreferredLanguages), entry.language);
        const size_t rank = static_cast<size_t>(preferred - std::begin(PreferredLanguages));
        if (!candidate || rank < candidateRank) {
            candidate = &entry;
            candidateRank = rank;
        }
    }
    if (candidate)
        return reinterpret_cast<HRSRC>(const_cast<platform::ResourceEntry*>(candidate));
    SetLastError(!typeFound ? ERROR_RESOURCE_TYPE_NOT_FOUND
            : !nameFound    ? ERROR_RESOURCE_NAME_NOT_FOUND
                            : ERROR_RESOURCE_LANG_NOT_FOUND);
    return nullptr;
}

// The entry behind an HRSRC, if it is one of a loaded module's entries.
const platform::ResourceEntry* EntryOf(HRSRC resource)
{
    const auto* entry = reinterpret_cast<const platform::ResourceEntry*>(resource);
    std::shared_lock lock(g_mutex);
    for (const auto& [module, table] : g_tables) {
        if (entry >= table->entries && entry < table->entries + table->count)
            return entry;
    }
    return nullptr;
}

}

namespace platform {

void RegisterModuleResources(HMODULE module, const ResourceTable* table)
{
    std::unique_lock lock(g_mutex);
    g_tables[module] = table;
}

void UnregisterModuleResources(HMODULE module)
{
    std::unique_lock lock(g_mutex);
    g_tables.erase(module);
}

}

extern "C" HRSRC WINAPI FindResourceW(HMODULE hModule, LPCWSTR lpName, LPCWSTR lpType)
{
    return Find(hModule, lpType, lpName, std::nullopt);
}

extern "C" HRSRC WINAPI FindResourceExW(HMODULE hModule, LPCWSTR lpType, LPCWSTR lpName, WORD wLanguage)
{
    return Find(hModule, lpType, lpName,
        wLanguage == MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL) ? std::nullopt : std::optional<WORD>(wLanguage));
}

extern "C" HGLOBAL WINAPI LoadResource(HMODULE hModule, HRSRC hResInfo)
{
    const platform::ResourceEntry* entry = EntryOf(hResInfo);
    if (!entry) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return const_cast<unsigned char*>(entry->data);
}

extern "C" LPVOID WINAPI LockResource(HGLOBAL hResData)
{
    return hResData;
}

extern "C" DWORD WINAPI SizeofResource(HMODULE hModule, HRSRC hResInfo)
{
    const platform::ResourceEntry* entry = EntryOf(hResInfo);
    if (!entry) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return entry->size;
}

extern "C" BOOL WINAPI FreeResource(HGLOBAL hResData)
{
    return FALSE; // resources live as long as their module; there is nothing to free
}
