// The registry's storage: keys and values in the machine root's registry.db, shared by every
// process of the root.
//
// Keys form a tree of rows; each keeps its name as first created and its folded full path
// ("HKEY_LOCAL_MACHINE\SOFTWARE\CLASSES"), which is unique, so that a key is found by one lookup
// however deep it lies. Key ids are never reused, so a handle to a deleted key stays deleted even
// when a key of the same name is created again. The database runs in WAL mode with a busy
// time-out; every call that writes more than one row does so in one IMMEDIATE transaction.
//
// Not thread-safe: the caller serialises all use (the registry holds one lock per process).
// Failures come back as Windows error codes; a database that cannot be read or written gives
// ERROR_REGISTRY_IO_FAILED.
#pragma once

#include "Sqlite.h"
#include "winreg.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace advapi32 {

// The largest value data the registry stores, in bytes. Windows allows about 1 MB per value.
constexpr std::size_t MaxValueBytes = 1 << 20;
// The longest key name (one path segment) and value name, in UTF-16 units, as on Windows.
constexpr std::size_t MaxKeyNameChars = 255;
constexpr std::size_t MaxValueNameChars = 16383;

// The case-insensitive form of a name: the form compared and sorted.
std::string FoldName(std::u16string_view name);

// A name as given (UTF-8) and folded.
struct Name {
    std::string text;
    std::string folded;
};
Name MakeName(std::u16string_view name);

// A key row: its id and folded full path.
struct KeyRef {
    std::int64_t id = 0;
    std::string path;
};

struct KeyRecord {
    std::string name;
    std::string folded;
    std::string keyClass;
    std::int64_t written = 0; // FILETIME units
};

struct ValueRecord {
    std::string name;
    DWORD type = REG_NONE;
    std::string data;
};

struct ValueStats {
    DWORD count = 0;
    DWORD maxNameChars = 0;
    DWORD maxDataBytes = 0;
};

enum class TreeDeletion { ContentsOnly, KeyAndContents };

class RegistryStore {
public:
    // Opens (and on first use creates and seeds) the database at path.
    [[nodiscard]] static LSTATUS Open(const std::string& path, std::unique_ptr<RegistryStore>& store);

    static const KeyRef& MachineHive();
    static const KeyRef& UsersHive();
    // HKEY_USERS\<the user's SID>, which HKEY_CURRENT_USER stands for.
    static const KeyRef& CurrentUser();

    [[nodiscard]] LSTATUS FindKey(std::string_view path, KeyRef& key);
    // The first of two paths that exists, in one lookup.
    [[nodiscard]] LSTATUS FindKey(std::string_view first, std::string_view second, KeyRef& key);
    // ERROR_SUCCESS while the key exists, else ERROR_KEY_DELETED.
    [[nodiscard]] LSTATUS CheckKey(std::int64_t id);
    [[nodiscard]] LSTATUS ReadKey(std::int64_t id, KeyRecord& record);
    // Opens or creates parent\names..., creating what is missing in one transaction.
    [[nodiscard]] LSTATUS CreateKey(
        const KeyRef& parent, std::span<const Name> names, std::string_view keyClass, KeyRef& key, DWORD& disposition);
    // Deletes the key and its values; the caller has made sure it has no subkeys.
    [[nodiscard]] LSTATUS DeleteKey(const KeyRef& key);
    [[nodiscard]] LSTATUS DeleteTree(const KeyRef& key, TreeDeletion what);
    [[nodiscard]] LSTATUS HasSubkeys(std::int64_t id, bool& any);
    [[nodiscard]] LSTATUS Subkeys(std::int64_t id, std::vector<KeyRecord>& subkeys);
    [[nodiscard]] LSTATUS SubkeyAt(std::int64_t id, DWORD index, KeyRecord& subkey);

    [[nodiscard]] LSTATUS GetValue(std::int64_t key, std::string_view folded, DWORD& type, std::string& data);
    [[nodiscard]] LSTATUS SetValue(std::int64_t key, const Name& name, DWORD type, std::string_view data);
    [[nodiscard]] LSTATUS DeleteValue(std::int64_t key, std::string_view folded);
    [[nodiscard]] LSTATUS ValueAt(std::int64_t key, DWORD index, ValueRecord& value);
    [[nodiscard]] LSTATUS Values(std::int64_t key, ValueStats& stats);

private:
    [[nodiscard]] LSTATUS Initialise();
    [[nodiscard]] LSTATUS Seed();
    [[nodiscard]] LSTATUS CreatePath(
        const KeyRef& parent, std::span<const Name> names, std::string_view keyClass, KeyRef& key, DWORD& disposition);
    [[nodiscard]] LSTATUS Touch(std::int64_t id);

    Connection m_db;
};

}
