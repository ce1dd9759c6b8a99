#include "transaction.h"

#include "store.h"

#include <sqlite3.h>

namespace winsim {

Transaction::Transaction(Mode mode)
    : m_lock(Store::instance().mutex())
{
    m_db = Store::instance().connection();
    // IMMEDIATE takes the write lock up front, so two processes that both read then write cannot
    // deadlock on the upgrade; the busy timeout makes the later one wait.
    const char *begin = mode == Write ? "BEGIN IMMEDIATE" : "BEGIN";
    if (sqlite3_exec(m_db, begin, nullptr, nullptr, nullptr) != SQLITE_OK)
        throw StoreError(std::string("cannot begin a transaction: ") + sqlite3_errmsg(m_db));
    m_open = true;
}

Transaction::~Transaction()
{
    if (m_open)
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
}

void Transaction::commit()
{
    if (sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
        throw StoreError(std::string("cannot commit: ") + sqlite3_errmsg(m_db));
    m_open = false;
}

} // namespace winsim

namespace winsim {

std::string Transaction::root() const
{
    return Store::instance().openRoot();
}

} // namespace winsim
