// A transaction on the shared state, holding this process's store lock for its lifetime. Only the
// outermost layer (an exported call, a control function, the despooler) opens one; helpers take it
// as an argument, so nothing nests.
#pragma once

#include <mutex>
#include <string>

struct sqlite3;

namespace winsim {

class Transaction
{
public:
    enum Mode { Read, Write };

    explicit Transaction(Mode mode);
    ~Transaction(); // rolls back what was not committed
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;

    void commit();
    sqlite3 *db() const { return m_db; }
    // The winsim root the state lives in.
    std::string root() const;

private:
    std::unique_lock<std::mutex> m_lock;
    sqlite3 *m_db = nullptr;
    bool m_open = false;
};

} // namespace winsim
