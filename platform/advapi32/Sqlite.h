// A thin owner of one SQLite connection and its prepared statements, for the registry store.
//
// Not thread-safe: the registry serialises every use behind its own lock. Statements are
// prepared once per connection and reset before each use. Errors come back as SQLite result
// codes; nothing throws.
#pragma once

#include <cstdint>
#include <memory>
#include <sqlite3.h>
#include <string>
#include <string_view>
#include <unordered_map>

namespace advapi32 {

class Statement {
public:
    explicit Statement(sqlite3_stmt* statement);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // Resets the statement and clears its bindings, ready for a new use.
    Statement& Reset();
    Statement& Bind(int index, std::int64_t value);
    Statement& Bind(int index, std::string_view text);
    Statement& BindBlob(int index, std::string_view bytes);

    // SQLITE_ROW, SQLITE_DONE or an error code.
    [[nodiscard]] int Step();

    std::int64_t Int(int column) const;
    std::string_view Text(int column) const;
    std::string_view Blob(int column) const;

private:
    sqlite3_stmt* m_statement;
};

class Connection {
public:
    Connection() = default;
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    [[nodiscard]] int Open(const std::string& path, int busyTimeoutMilliseconds);
    [[nodiscard]] int Execute(const char* sql);

    // The statement for sql, prepared on first use and kept; empty when sql does not compile.
    // sql must be a string literal: statements are kept by its address.
    class Use;
    Use Prepare(const char* sql);

    // Rows changed by the last insert, update or delete.
    int Changes() const;

private:
    sqlite3* m_db = nullptr;
    std::unordered_map<const char*, std::unique_ptr<Statement>> m_statements;
};

// One use of a kept statement. It is reset when the use ends, so that no finished statement holds
// a read transaction open (which would pin the connection to an old snapshot of the database).
class Connection::Use {
public:
    explicit Use(Statement* statement);
    ~Use();
    Use(Use&& other) noexcept;
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;

    explicit operator bool() const;
    Statement* operator->() const;

private:
    Statement* m_statement;
};

// BEGIN IMMEDIATE on construction (so that the write lock is taken up front and waits its busy
// time-out, instead of failing later on upgrade), ROLLBACK on destruction unless committed.
class WriteTransaction {
public:
    explicit WriteTransaction(Connection& connection);
    ~WriteTransaction();
    WriteTransaction(const WriteTransaction&) = delete;
    WriteTransaction& operator=(const WriteTransaction&) = delete;

    [[nodiscard]] bool Begun() const;
    [[nodiscard]] int Commit();

private:
    Connection& m_connection;
    bool m_open = false;
};

}
