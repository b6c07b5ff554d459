#include "RegistryStore.h"

#include "RegistryDefaults.h"
#include "Utf.h"

#include <chrono>
#include <thread>

namespace advapi32 {

namespace {

// A writer waits this long for another process's transaction before the call fails.
constexpr int BusyTimeoutMilliseconds = 10000;
// How long a failed first opening of the registry is tried again.
constexpr int OpenRetryMilliseconds = 2000;
constexpr int SchemaVersion = 1;

constexpr const char* Schema = R"sql(
CREATE TABLE keys(
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    parent INTEGER NOT NULL,
    path TEXT NOT NULL UNIQUE,
    name TEXT NOT NULL,
    class TEXT NOT NULL DEFAULT '',
    written INTEGER NOT NULL);
CREATE INDEX keys_by_parent ON keys(parent, path);
CREATE TABLE vals(
    key INTEGER NOT NULL,
    folded TEXT NOT NULL,
    name TEXT NOT NULL,
    type INTEGER NOT NULL,
    data BLOB NOT NULL,
    PRIMARY KEY(key, folded)) WITHOUT ROWID;
PRAGMA user_version = 1;
)sql";

constexpr const char16_t* CurrentUserSid = u"S-1-5-21-1-1-1-1000";

// Upper case as the registry compares names: ASCII, Latin-1, Greek and Cyrillic letters.
char16_t FoldChar(char16_t c)
{
    if (c >= u'a' && c <= u'z')
        return c - 0x20;
    if (c < 0xE0)
        return c;
    if (c <= 0xFE && c != 0xF7)
        return c - 0x20;
    if (c == 0xFF)
        return 0x178;
    if ((c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) || (c >= 0x430 && c <= 0x44F))
        return c - 0x20;
    if (c >= 0x450 && c <= 0x45F)
        return c - 0x50;
    return c;
}

std::int64_t Now()
{
    // FILETIME: 100-nanosecond intervals since 1601-01-01.
    constexpr std::int64_t UnixEpochInFileTime = 116444736000000000;
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    return UnixEpochInFileTime + std::chrono::duration_cast<std::chrono::nanoseconds>(since).count() / 100;
}

std::string ChildPath(std::string_view parent, std::string_view folded)
{
    std::string path;
    path.reserve(parent.size() + 1 + folded.size());
    path += parent;
    path += '\\';
    path += folded;
    return path;
}

LSTATUS Failed()
{
    return ERROR_REGISTRY_IO_FAILED;
}

KeyRecord ReadKeyRecord(const Connection::Use& row)
{
    KeyRecord record;
    record.name = row->Text(0);
    record.folded = row->Text(1);
    record.keyClass = row->Text(2);
    record.written = row->Int(3);
    return record;
}

}

std::string FoldName(std::u16string_view name)
{
    std::u16string folded(name);
    for (char16_t& c : folded)
        c = FoldChar(c);
    return platform::ToUtf8(folded);
}

Name MakeName(std::u16string_view name)
{
    return { platform::ToUtf8(name), FoldName(name) };
}

const KeyRef& RegistryStore::MachineHive()
{
    static const KeyRef hive { 1, "HKEY_LOCAL_MACHINE" };
    return hive;
}

const KeyRef& RegistryStore::UsersHive()
{
    static const KeyRef hive { 2, "HKEY_USERS" };
    return hive;
}

const KeyRef& RegistryStore::CurrentUser()
{
    static const KeyRef user { 3, ChildPath(UsersHive().path, FoldName(CurrentUserSid)) };
    return user;
}

LSTATUS RegistryStore::Open(const std::string& path, std::unique_ptr<RegistryStore>& store)
{
    // Processes that open a new root's registry together race to create it and switch it to WAL;
    // a loser of that race can be refused by SQLite without its busy handler being asked, so a
    // failed first opening is tried again, on a fresh connection, for a bounded time.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(OpenRetryMilliseconds);
    for (;;) {
        auto opened = std::unique_ptr<RegistryStore>(new RegistryStore);
        LSTATUS result
            = opened->m_db.Open(path, BusyTimeoutMilliseconds) == SQLITE_OK ? opened->Initialise() : Failed();
        if (result == ERROR_SUCCESS) {
            store = std::move(opened);
            return ERROR_SUCCESS;
        }
        if (result != Failed() || std::chrono::steady_clock::now() >= deadline)
            return result;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

LSTATUS RegistryStore::Initialise()
{
    // WAL lets readers go on while one process writes; NORMAL sync keeps the file consistent
    // across crashes and loses at most the last transactions on power loss.
    if (m_db.Execute("PRAGMA journal_mode = WAL") != SQLITE_OK
        || m_db.Execute("PRAGMA synchronous = NORMAL") != SQLITE_OK)
        return Failed();
    WriteTransaction transaction(m_db);
    if (!transaction.Begun())
        return Failed();
    std::int64_t current = 0;
    {
        auto version = m_db.Prepare("PRAGMA user_version");
        if (!version || version->Step() != SQLITE_ROW)
            return Failed();
        current = version->Int(0);
    }
    if (current == SchemaVersion)
        return ERROR_SUCCESS; // the transaction only read: its rollback changes nothing
    if (current != 0)
        return ERROR_REGISTRY_CORRUPT;
    if (m_db.Execute(Schema) != SQLITE_OK)
        return Failed();
    if (const LSTATUS result = Seed(); result != ERROR_SUCCESS)
        return result;
    return transaction.Commit() == SQLITE_OK ? ERROR_SUCCESS : Failed();
}

LSTATUS RegistryStore::Seed()
{
    const std::int64_t now = Now();
    const struct {
        const KeyRef& key;
        std::int64_t parent;
        const char16_t* name;
    } roots[] = {
        { MachineHive(), 0, u"HKEY_LOCAL_MACHINE" },
        { UsersHive(), 0, u"HKEY_USERS" },
        { CurrentUser(), UsersHive().id, CurrentUserSid },
    };
    for (const auto& root : roots) {
        auto insert = m_db.Prepare("INSERT INTO keys(id, parent, path, name, written) VALUES(?, ?, ?, ?, ?)");
        if (!insert)
            return Failed();
        insert->Bind(1, root.key.id).Bind(2, root.parent).Bind(3, root.key.path);
        insert->Bind(4, platform::ToUtf8(root.name)).Bind(5, now);
        if (insert->Step() != SQLITE_DONE)
            return Failed();
    }
    for (const DefaultEntry& entry : DefaultEntries()) {
        std::vector<Name> names;
        std::u16string_view rest = entry.key;
        while (!rest.empty()) {
            const size_t end = rest.find(u'\\');
            names.push_back(MakeName(rest.substr(0, end)));
            rest = end == rest.npos ? std::u16string_view() : rest.substr(end + 1);
        }
        KeyRef key;
        DWORD disposition = 0;
        const KeyRef& hive = entry.hive == DefaultHive::LocalMachine ? MachineHive() : CurrentUser();
        if (const LSTATUS result = CreatePath(hive, names, {}, key, disposition); result != ERROR_SUCCESS)
            return result;
        if (!entry.valueName)
            continue;
        std::string data;
        if (entry.type == REG_SZ) {
            const std::u16string_view text(entry.text);
            data.assign(reinterpret_cast<const char*>(text.data()), (text.size() + 1) * sizeof(char16_t));
        } else {
            data.assign(reinterpret_cast<const char*>(&entry.number), sizeof(entry.number));
        }
        auto insert = m_db.Prepare("INSERT INTO vals(key, folded, name, type, data) VALUES(?, ?, ?, ?, ?)");
        if (!insert)
            return Failed();
        const Name name = MakeName(entry.valueName);
        insert->Bind(1, key.id).Bind(2, name.folded).Bind(3, name.text).Bind(4, entry.type).BindBlob(5, data);
        if (insert->Step() != SQLITE_DONE)
            return Failed();
    }
    return ERROR_SUCCESS;
}

LSTATUS RegistryStore::FindKey(std::string_view path, KeyRef& key)
{
    auto find = m_db.Prepare("SELECT id FROM keys WHERE path = ?");
    if (!find)
        return Failed();
    find->Bind(1, path);
    const int step = find->Step();
    if (step == SQLITE_DONE)
        return ERROR_FILE_NOT_FOUND;
    if (step != SQLITE_ROW)
        return Failed();
    key.id = find->Int(0);
    key.path = path;
    return ERROR_SUCCESS;
}

LSTATUS RegistryStore::FindKey(std::string_view first, std::string_view second, KeyRef& key)
{
    // Two point lookups in one statement (one read transaction); choosing between their rows
    // here spares SQLite a sort.
    auto find = m_db.Prepare(
        "SELECT id, path, 1 FROM keys WHERE path = ?1 UNION ALL SELECT id, path, 0 FROM keys WHERE path = ?2");
    if (!find)
        return Failed();
    find->Bind(1, first).Bind(2, second);
    LSTATUS result = ERROR_FILE_NOT_FOUND;
    int step;
    while ((step = find->Step()) == SQLITE_ROW) {
        if (result == ERROR_SUCCESS && find->Int(2) == 0)
            continue;
        key.id = find->Int(0);
        key.path = find->Text(1);
        result = ERROR_SUCCESS;
    }
    return step == SQLITE_DONE ? result : Failed();
}

LSTATUS RegistryStore::CheckKey(std::int64_t id)
{
    auto find = m_db.Prepare("SELECT 1 FROM keys WHERE id = ?");
    if (!find)
        return Failed();
    find->Bind(1, id);
    const int step = find->Step();
    return step == SQLITE_ROW ? ERROR_SUCCESS : step == SQLITE_DONE ? ERROR_KEY_DELETED : Failed();
}

LSTATUS RegistryStore::ReadKey(std::int64_t id, KeyRecord& record)
{
    auto find = m_db.Prepare("SELECT name, '', class, written FROM keys WHERE id = ?");
    if (!find)
        return Failed();
    find->Bind(1, id);
    const int step = find->Step();
    if (step != SQLITE_ROW)
        return step == SQLITE_DONE ? ERROR_KEY_DELETED : Failed();
    record = ReadKeyRecord(find);
    return ERROR_SUCCESS;
}

LSTATUS RegistryStore::CreateKey(
    const KeyRef& parent, std::span<const Name> names, std::string_view keyClass, KeyRef& key, DWORD& disposition)
{
    WriteTransaction transaction(m_db);
    if (!transaction.Begun())
        return Failed();
    if (const LSTATUS result = CreatePath(parent, names, keyClass, key, disposition); result != ERROR_SUCCESS)
        return result;
    return transaction.Commit() == SQLITE_OK ? ERROR_SUCCESS : Failed();
}

LSTATUS RegistryStore::CreatePath(
    const KeyRef& parent, std::span<const Name> names, std::string_view keyClass, KeyRef& key, DWORD& disposition)
{
    if (const LSTATUS result = CheckKey(parent.id); result != ERROR_SUCCESS)
        return result;
    key = parent;
    disposition = REG_OPENED_EXISTING_KEY;
    const std::int64_t now = Now();
    for (size_t i = 0; i < names.size(); ++i) {
        KeyRef child;
        const std::string path = ChildPath(key.path, names[i].folded);
        LSTATUS result = FindKey(path, child);
        if (result == ERROR_FILE_NOT_FOUND) {
            auto insert = m_db.Prepare("INSERT INTO keys(parent, path, name, class, written) VALUES(?, ?, ?, ?, ?)");
            if (!insert)
                return Failed();
            // The class belongs to the key the caller asked for, not to the keys on the way there.
            insert->Bind(1, key.id).Bind(2, path).Bind(3, names[i].text);
            insert->Bind(4, i + 1 == names.size() ? keyClass : std::string_view()).Bind(5, now);
            if (insert->Step() != SQLITE_DONE)
                return Failed();
            if ((result = Touch(key.id)) != ERROR_SUCCESS)
                return result;
            auto id = m_db.Prepare("SELECT last_insert_rowid()");
            if (!id || id->Step() != SQLITE_ROW)
                return Failed();
            child = { id->Int(0), path };
            disposition = REG_CREATED_NEW_KEY;
        } else if (result != ERROR_SUCCESS) {
            return result;
        }
        key = std::move(child);
    }
    return ERROR_SUCCESS;
}

LSTATUS RegistryStore::Touch(std::int64_t id)
{
    auto update = m_db.Prepare("UPDATE keys SET written = ? WHERE id = ?");
    if (!update)
        return Failed();
    update->Bind(1, Now()).Bind(2, id);
    if (update->Step() != SQLITE_DONE)
        return Failed();
    return m_db.Changes() == 1 ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

LSTATUS RegistryStore::DeleteKey(const KeyRef& key)
{
    return DeleteTree(key, TreeDeletion::KeyAndContents);
}

LSTATUS RegistryStore::DeleteTree(const KeyRef& key, TreeDeletion what)
{
    WriteTransaction transaction(m_db);
    if (!transaction.Begun())
        return Failed();
    auto parent = m_db.Prepare("SELECT parent FROM keys WHERE id = ?");
    if (!parent)
        return Failed();
    parent->Bind(1, key.id);
    const int step = parent->Step();
    if (step != SQLITE_ROW)
        return step == SQLITE_DONE ? ERROR_KEY_DELETED : Failed();
    const std::int64_t parentId = parent->Int(0);
    // Descendants are the paths between "KEY\" and "KEY]": ']' follows '\' in every collation.
    const std::string low = key.path + '\\';
    const std::string high = key.path + ']';
    auto values = m_db.Prepare("DELETE FROM vals WHERE key IN (SELECT id FROM keys WHERE path > ? AND path < ?) OR "
                               "key = ?");
    auto keys = m_db.Prepare("DELETE FROM keys WHERE path > ? AND path < ?");
    if (!values || !keys)
        return Failed();
    values->Bind(1, low).Bind(2, high).Bind(3, key.id);
    keys->Bind(1, low).Bind(2, high);
    if (values->Step() != SQLITE_DONE || keys->Step() != SQLITE_DONE)
        return Failed();
    if (what == TreeDeletion::KeyAndContents) {
        auto self = m_db.Prepare("DELETE FROM keys WHERE id = ?");
        if (!self)
            return Failed();
        self->Bind(1, key.id);
        if (self->Step() != SQLITE_DONE)
            return Failed();
    }
    if (const LSTATUS result = Touch(what == TreeDeletion::KeyAndContents ? parentId : key.id); result != ERROR_SUCCESS)
        return result;
    return transaction.Commit() == SQLITE_OK ? ERROR_SUCCESS : Failed();
}

LSTATUS RegistryStore::HasSubkeys(std::int64_t id, bool& any)
{
    auto find = m_db.Prepare("SELECT 1 FROM keys WHERE parent = ? LIMIT 1");
    if (!find)
        return Failed();
    find->Bind(1, id);
    const int step = find->Step();
    if (step != SQLITE_ROW && step != SQLITE_DONE)
        return Failed();
    any = step == SQLITE_ROW;
    return ERROR_SUCCESS;
}

LSTATUS RegistryStore::Subkeys(std::int64_t id, std::vector<KeyRecord>& subkeys)
{
    auto list = m_db.Prepare(
        "SELECT name, substr(path, length((SELECT path FROM keys WHERE id = ?1)) + 2), class, written FROM keys "
        "WHERE parent = ?1 ORDER BY path");
    if (!list)
        return Failed();
    list->Bind(1, id);
    subkeys.clear();
    int step;
    while ((step = list->Step()) == SQLITE_ROW)
        subkeys.push_back(ReadKeyRecord(list));
    return step == SQLITE_DONE ? ERROR_SUCCESS : Failed();
}

LSTATUS RegistryStore::SubkeyAt(std::int64_t id, DWORD index, KeyRecord& subkey)
{
    auto find
        = m_db.Prepare("SELECT name, '', class, written FROM keys WHERE parent = ? ORDER BY path LIMIT 1 OFFSET ?");
    if (!find)
        return Failed();
    find->Bind(1, id).Bind(2, static_cast<std::int64_t>(index));
    const int step = find->Step();
    if (step == SQLITE_DONE)
        return ERROR_NO_MORE_ITEMS;
    if (step != SQLITE_ROW)
        return Failed();
    subkey = ReadKeyRecord(find);
    return ERROR_SUCCESS;
}

LSTATUS RegistryStore::GetValue(std::int64_t key, std::string_view folded, DWORD& type, std::string& data)
{
    {
        auto find = m_db.Prepare("SELECT type, data FROM vals WHERE key = ? AND folded = ?");
        if (!find)
            return Failed();
        find->Bind(1, key).Bind(2, folded);
        const int step = find->Step();
        if (step == SQLITE_ROW) {
            type = static_cast<DWORD>(find->Int(0));
            data = find->Blob(1);
            return ERROR_SUCCESS;
        }
        if (step != SQLITE_DONE)
            return Failed();
    }
    const LSTATUS exists = CheckKey(key);
    return exists == ERROR_SUCCESS ? ERROR_FILE_NOT_FOUND : exists;
}

LSTATUS RegistryStore::SetValue(std::int64_t key, const Name& name, DWORD type, std::string_view data)
{
    WriteTransaction transaction(m_db);
    if (!transaction.Begun())
        return Failed();
    if (const LSTATUS result = Touch(key); result != ERROR_SUCCESS)
        return result;
    auto upsert = m_db.Prepare("INSERT INTO vals(key, folded, name, type, data) VALUES(?, ?, ?, ?, ?) "
                               "ON CONFLICT(key, folded) DO UPDATE SET type = excluded.type, data = excluded.data");
    if (!upsert)
        return Failed();
    upsert->Bind(1, key).Bind(2, name.folded).Bind(3, name.text).Bind(4, type).BindBlob(5, data);
    if (upsert->Step() != SQLITE_DONE)
        return Failed();
    return transaction.Commit() == SQLITE_OK ? ERROR_SUCCESS : Failed();
}

LSTATUS RegistryStore::DeleteValue(std::int64_t key, std::string_view folded)
{
    WriteTransaction transaction(m_db);
    if (!transaction.Begun())
        return Failed();
    if (const LSTATUS result = Touch(key); result != ERROR_SUCCESS)
        return result;
    auto erase = m_db.Prepare("DELETE FROM vals WHERE key = ? AND folded = ?");
    if (!erase)
        return Failed();
    erase->Bind(1, key).Bind(2, folded);
    if (erase->Step() != SQLITE_DONE)
        return Failed();
    if (m_db.Changes() == 0)
        return ERROR_FILE_NOT_FOUND; // the rollback undoes the touch
    return transaction.Commit() == SQLITE_OK ? ERROR_SUCCESS : Failed();
}

LSTATUS RegistryStore::ValueAt(std::int64_t key, DWORD index, ValueRecord& value)
{
    {
        auto find = m_db.Prepare("SELECT name, type, data FROM vals WHERE key = ? ORDER BY folded LIMIT 1 OFFSET ?");
        if (!find)
            return Failed();
        find->Bind(1, key).Bind(2, static_cast<std::int64_t>(index));
        const int step = find->Step();
        if (step == SQLITE_ROW) {
            value.name = find->Text(0);
            value.type = static_cast<DWORD>(find->Int(1));
            value.data = find->Blob(2);
            return ERROR_SUCCESS;
        }
        if (step != SQLITE_DONE)
            return Failed();
    }
    const LSTATUS exists = CheckKey(key);
    return exists == ERROR_SUCCESS ? ERROR_NO_MORE_ITEMS : exists;
}

LSTATUS RegistryStore::Values(std::int64_t key, ValueStats& stats)
{
    auto list = m_db.Prepare("SELECT name, length(data) FROM vals WHERE key = ?");
    if (!list)
        return Failed();
    list->Bind(1, key);
    stats = {};
    int step;
    while ((step = list->Step()) == SQLITE_ROW) {
        ++stats.count;
        stats.maxNameChars = std::max(stats.maxNameChars, static_cast<DWORD>(platform::FromUtf8(list->Text(0)).size()));
        stats.maxDataBytes = std::max(stats.maxDataBytes, static_cast<DWORD>(list->Int(1)));
    }
    return step == SQLITE_DONE ? ERROR_SUCCESS : Failed();
}

}
