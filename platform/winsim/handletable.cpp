#include "handletable.h"

namespace winsim {

HandleTable &HandleTable::instance()
{
    static HandleTable *table = new HandleTable;
    return *table;
}

void *HandleTable::open(const HandleEntry &entry)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const uintptr_t value = m_next;
    m_next += 4;
    m_entries[value] = entry;
    return reinterpret_cast<void *>(value);
}

namespace {

bool isOneOf(HandleKind kind, std::initializer_list<HandleKind> kinds)
{
    for (const HandleKind k : kinds)
        if (k == kind)
            return true;
    return false;
}

} // namespace

bool HandleTable::find(const void *handle, std::initializer_list<HandleKind> kinds, HandleEntry *entry) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_entries.find(reinterpret_cast<uintptr_t>(handle));
    if (it == m_entries.end() || !isOneOf(it->second.kind, kinds))
        return false;
    if (entry)
        *entry = it->second;
    return true;
}

bool HandleTable::close(const void *handle, std::initializer_list<HandleKind> kinds)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_entries.find(reinterpret_cast<uintptr_t>(handle));
    if (it == m_entries.end() || !isOneOf(it->second.kind, kinds))
        return false;
    m_entries.erase(it);
    return true;
}

int HandleTable::count() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return int(m_entries.size());
}

void HandleTable::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.clear();
}

} // namespace winsim
