#include "callgate.h"

namespace winsim {

CallGate &CallGate::instance()
{
    static CallGate *gate = new CallGate;
    return *gate;
}

bool CallGate::enter(const char *call, uint32_t *error)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const int64_t count = ++m_counts[call];
    for (auto it = m_failures.begin(); it != m_failures.end(); ++it) {
        if (it->call == call && it->atCount == count) {
            *error = it->error;
            m_failures.erase(it);
            return true;
        }
    }
    return false;
}

void CallGate::inject(const std::string &call, int nth, uint32_t error)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_failures.push_back({ call, m_counts[call] + nth, error });
}

int CallGate::count(const std::string &call) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_counts.find(call);
    return it == m_counts.end() ? 0 : int(it->second);
}

void CallGate::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_counts.clear();
    m_failures.clear();
}

} // namespace winsim
