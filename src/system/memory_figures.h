// The memory figures behind the memory primitives, in bytes.
#pragma once

#include <cstdint>
#include <string_view>

namespace quarn::system {

// The figure of `key` ("MemTotal:") in the text of /proc/meminfo, in bytes; 0 when the key
// is missing or its number cannot be read.
uint64_t meminfo_figure(std::string_view meminfo, std::string_view key) noexcept;

uint64_t free_memory() noexcept;
uint64_t total_memory() noexcept;
// The control group's limit, 0 when there is none.
uint64_t constrained_memory() noexcept;
uint64_t available_memory() noexcept;

}  // namespace quarn::system
