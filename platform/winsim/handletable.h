// The open handles of this process: printers, the monitor's configuration channel, registry keys,
// service-manager objects and processes. Handles are per process, as on Windows; a closed handle's value is
// never handed out again, so a stale handle is always recognised as invalid.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <map>
#include <mutex>
#include <string>

namespace winsim {

enum class HandleKind { Printer, XcvMonitor, XcvPort, RegistryKey, ServiceManager, Service, Process };

struct HandleEntry
{
    HandleKind kind = HandleKind::Printer;
    int64_t id = 0; // printer or port row, process id
    uint32_t access = 0; // access granted at open
    std::string key; // registry key path, service name key, monitor name, process image
};

class HandleTable
{
public:
    static HandleTable &instance();

    void *open(const HandleEntry &entry);
    // False for a value that is not an open handle of one of the given kinds.
    bool find(
        const void *handle, std::initializer_list<HandleKind> kinds, HandleEntry *entry = nullptr) const;
    bool close(const void *handle, std::initializer_list<HandleKind> kinds);
    int count() const;
    void clear();

private:
    HandleTable() = default;

    mutable std::mutex m_mutex;
    std::map<uintptr_t, HandleEntry> m_entries;
    uintptr_t m_next = 0x1000;
};

} // namespace winsim
