// One prepared SQLite statement; failures raise StoreError.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace winsim {

class Statement
{
public:
    Statement(sqlite3 *db, const char *sql);
    ~Statement();
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    // Parameters are numbered from 1, as SQLite numbers them.
    Statement &bind(int index, int64_t value);
    Statement &bind(int index, const std::string &value);
    Statement &bindBlob(int index, const void *data, size_t size);
    Statement &bindNull(int index);

    // Steps once; true while a row is available.
    bool next();
    // Steps to the end (for statements without rows).
    void run();

    int64_t integer(int column) const;
    std::string text(int column) const;
    bool isNull(int column) const;
    std::vector<uint8_t> blob(int column) const;

private:
    void check(int rc) const;

    sqlite3 *m_db;
    sqlite3_stmt *m_stmt = nullptr;
};

} // namespace winsim
