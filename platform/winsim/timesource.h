// The clocks winsim reads: UTC for job submission times, a machine-wide monotonic clock for tick
// counts and service stop timing (the same in every process).
#pragma once

#include <cstdint>

namespace winsim {

int64_t utcMilliseconds();
int64_t monotonicMilliseconds();

} // namespace winsim
