// The one SQLite file under the winsim root that holds the state every process shares: printers,
// ports, drivers, jobs, printer data, registry values, services and the spooler's work requests.
#pragma once

#include <mutex>
#include <stdexcept>
#include <string>

struct sqlite3;

namespace winsim {

// Raised inside winsim when the state file cannot be read or written; every exported call catches it
// and reports a Windows error instead.
class StoreError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

class Store
{
public:
    static Store &instance();

    // The folder of the state file: WINSIM_ROOT, else $XDG_DATA_HOME/winsim, else ~/.local/share/winsim.
    static std::string rootFromEnvironment();

    // Opens the state file on first use; the caller holds mutex().
    sqlite3 *connection();
    // The root of the open state; takes mutex() itself, so never call it inside a Transaction.
    std::string root();
    std::mutex &mutex() { return m_mutex; }
    // The root of the open state for a caller that already holds mutex().
    const std::string &openRoot() const { return m_root; }

    // Closes the file so that the next use reads the root from the environment again.
    void reopen();

private:
    Store() = default;
    ~Store();
    void open();
    void createSchema();

    std::mutex m_mutex;
    sqlite3 *m_db = nullptr;
    std::string m_root;
};

// Creates a folder and its parents; false when that fails.
bool makePath(const std::string &path);

} // namespace winsim
