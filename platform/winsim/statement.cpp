#include "statement.h"

#include "store.h"

#include <sqlite3.h>

namespace winsim {

Statement::Statement(sqlite3 *db, const char *sql)
    : m_db(db)
{
    check(sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr));
}

Statement::~Statement()
{
    sqlite3_finalize(m_stmt);
}

void Statement::check(int rc) const
{
    if (rc != SQLITE_OK && rc != SQLITE_ROW && rc != SQLITE_DONE)
        throw StoreError(std::string("sqlite: ") + sqlite3_errmsg(m_db));
}

Statement &Statement::bind(int index, int64_t value)
{
    check(sqlite3_bind_int64(m_stmt, index, value));
    return *this;
}

Statement &Statement::bind(int index, const std::string &value)
{
    check(sqlite3_bind_text(m_stmt, index, value.data(), int(value.size()), SQLITE_TRANSIENT));
    return *this;
}

Statement &Statement::bindBlob(int index, const void *data, size_t size)
{
    // A zero-length blob must still be a blob, not NULL.
    static const char empty = 0;
    check(sqlite3_bind_blob64(m_stmt, index, size ? data : &empty, size, SQLITE_TRANSIENT));
    return *this;
}

Statement &Statement::bindNull(int index)
{
    check(sqlite3_bind_null(m_stmt, index));
    return *this;
}

bool Statement::next()
{
    const int rc = sqlite3_step(m_stmt);
    check(rc);
    return rc == SQLITE_ROW;
}

void Statement::run()
{
    while (next()) { }
}

int64_t Statement::integer(int column) const
{
    return sqlite3_column_int64(m_stmt, column);
}

std::string Statement::text(int column) const
{
    const auto *data = sqlite3_column_text(m_stmt, column);
    const int size = sqlite3_column_bytes(m_stmt, column);
    return data ? std::string(reinterpret_cast<const char *>(data), size_t(size)) : std::string();
}

bool Statement::isNull(int column) const
{
    return sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
}

std::vector<uint8_t> Statement::blob(int column) const
{
    const auto *data = static_cast<const uint8_t *>(sqlite3_column_blob(m_stmt, column));
    const int size = sqlite3_column_bytes(m_stmt, column);
    return data ? std::vector<uint8_t>(data, data + size) : std::vector<uint8_t>();
}

} // namespace winsim
