// Writing everything to a file descriptor: the one wrapper of write for the runtime's own
// messages, resuming after partial writes and interruptions.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <span>
#include <string_view>

namespace quarn {

// Writes the pieces in order with writev until all are out or the descriptor fails. Builds
// nothing on the heap, so it serves when memory is exhausted. Returns false on failure.
bool write_all(int fd, std::initializer_list<std::string_view> pieces) noexcept;
bool write_all(int fd, std::span<const std::string_view> pieces) noexcept;

// The most pieces one call writes; a call with more fails without writing.
inline constexpr size_t kMaxPieces = 16;

}  // namespace quarn
