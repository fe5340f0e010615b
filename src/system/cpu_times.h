// Reading per-processor figures from the texts of /proc/stat and /proc/cpuinfo.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/allocator.h"

namespace quarn::system {

struct CpuTimes {
    uint64_t number = 0;     // the processor's number (cpuN)
    Text model;              // empty when unknown
    uint64_t speed_mhz = 0;  // 0 when unknown
    uint64_t user = 0, nice = 0, system = 0, idle = 0, irq = 0;  // milliseconds
};

// The processors listed in /proc/stat, in its order, with the model and speed that
// /proc/cpuinfo gives for the same processor number.
Vector<CpuTimes> read_cpu_times(std::string_view stat, std::string_view cpuinfo,
                                long ticks_per_second) noexcept;

}  // namespace quarn::system
