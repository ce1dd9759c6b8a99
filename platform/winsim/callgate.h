// Every exported call passes this gate first: it counts the calls by name and makes an injected
// failure happen on exactly the call a test asked for.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace winsim {

class CallGate
{
public:
    static CallGate &instance();

    // Counts the call; true (with the error to report) when this call is to fail.
    bool enter(const char *call, uint32_t *error);

    // The nth call of that name from now on (1 = the next one) fails with error.
    void inject(const std::string &call, int nth, uint32_t error);
    int count(const std::string &call) const;
    void clear();

private:
    CallGate() = default;

    struct Failure
    {
        std::string call;
        int64_t atCount;
        uint32_t error;
    };

    mutable std::mutex m_mutex;
    std::map<std::string, int64_t> m_counts;
    std::vector<Failure> m_failures;
};

} // namespace winsim
