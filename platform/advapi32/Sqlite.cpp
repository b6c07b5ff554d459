#include "Sqlite.h"

namespace advapi32 {

Statement::Statement(sqlite3_stmt* statement)
    : m_statement(statement)
{
}

Statement::~Statement()
{
    sqlite3_finalize(m_statement);
}

Statement& Statement::Reset()
{
    sqlite3_reset(m_statement);
    sqlite3_clear_bindings(m_statement);
    return *this;
}

Statement& Statement::Bind(int index, std::int64_t value)
{
    sqlite3_bind_int64(m_statement, index, value);
    return *this;
}

Statement& Statement::Bind(int index, std::string_view text)
{
    // An empty text, not NULL, for an empty view (whose data may be null).
    sqlite3_bind_text(
        m_statement, index, text.empty() ? "" : text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
}

Statement& Statement::BindBlob(int index, std::string_view bytes)
{
    // Likewise a zero-length blob for empty data.
    sqlite3_bind_blob(
        m_statement, index, bytes.empty() ? "" : bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
    return *this;
}

int Statement::Step()
{
    return sqlite3_step(m_statement);
}

std::int64_t Statement::Int(int column) const
{
    return sqlite3_column_int64(m_statement, column);
}

std::string_view Statement::Text(int column) const
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(m_statement, column));
    return text ? std::string_view(text, sqlite3_column_bytes(m_statement, column)) : std::string_view();
}

std::string_view Statement::Blob(int column) const
{
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(m_statement, column));
    return bytes ? std::string_view(bytes, sqlite3_column_bytes(m_statement, column)) : std::string_view();
}

Connection::~Connection()
{
    m_statements.clear();
    sqlite3_close(m_db);
}

int Connection::Open(const std::string& path, int busyTimeoutMilliseconds)
{
    const int result = sqlite3_open_v2(
        path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (result != SQLITE_OK)
        return result;
    return sqlite3_busy_timeout(m_db, busyTimeoutMilliseconds);
}

int Connection::Execute(const char* sql)
{
    return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
}

Connection::Use Connection::Prepare(const char* sql)
{
    auto& slot = m_statements[sql];
    if (!slot) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) != SQLITE_OK) {
            m_statements.erase(sql);
            return Use(nullptr);
        }
        slot = std::make_unique<Statement>(statement);
    }
    return Use(slot.get());
}

int Connection::Changes() const
{
    return sqlite3_changes(m_db);
}

Connection::Use::Use(Statement* statement)
    : m_statement(statement)
{
}

Connection::Use::~Use()
{
    if (m_statement)
        m_statement->Reset();
}

Connection::Use::Use(Use&& other) noexcept
    : m_statement(other.m_statement)
{
    other.m_statement = nullptr;
}

Connection::Use::operator bool() const
{
    return m_statement != nullptr;
}

Statement* Connection::Use::operator->() const
{
    return m_statement;
}

WriteTransaction::WriteTransaction(Connection& connection)
    : m_connection(connection)
    , m_open(connection.Execute("BEGIN IMMEDIATE") == SQLITE_OK)
{
}

WriteTransaction::~WriteTransaction()
{
    if (m_open)
        (void)m_connection.Execute("ROLLBACK"); // nothing more to undo if the rollback itself fails
}

bool WriteTransaction::Begun() const
{
    return m_open;
}

int WriteTransaction::Commit()
{
    const int result = m_connection.Execute("COMMIT");
    if (result == SQLITE_OK)
        m_open = false;
    return result;
}

}
