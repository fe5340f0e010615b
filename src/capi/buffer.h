// The storage behind quarn_buffer records and the C strings given to hosts: the C heap, so
// that quarn_buffer_free and quarn_string_free release whatever the runtime handed over.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "quarn/host.h"

namespace quarn::capi {

// Ends the process with "<function>: a quarn buffer was filled twice" when the record is
// not empty (and "<function>: a null pointer" when there is none).
void require_empty(const quarn_buffer *buffer, std::string_view function) noexcept;

// Storage for buffers; never null. Zero bytes share one static block that is never freed.
// "out of memory" when refused.
std::uint8_t *allocate_buffer_bytes(std::size_t length) noexcept;
std::uint8_t *resize_buffer_bytes(std::uint8_t *data, std::size_t length) noexcept;
void free_buffer_bytes(std::uint8_t *data) noexcept;

// A new NUL-terminated copy of `length` bytes, freed with quarn_string_free.
char *copy_to_c_string(const char *bytes, std::size_t length) noexcept;

}  // namespace quarn::capi
