// The per-thread heartbeat counter: the number of runtime allocations the thread has made
// through the counting paths (constructors, boxes, result objects). No lock, no atomic.
#pragma once

#include <cstdint>

namespace quarn::object {

extern thread_local constinit uint64_t heartbeats __attribute__((tls_model("initial-exec")));

inline void count_heartbeat() noexcept { ++heartbeats; }

}  // namespace quarn::object
