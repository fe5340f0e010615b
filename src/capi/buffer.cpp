// Buffers and strings handed to the host. Both come from the C heap (malloc), so that
// quarn_buffer_free and quarn_string_free are free() underneath.
#include "capi/buffer.h"

#include <cstdlib>

#include "capi/fatal.h"

namespace quarn::capi {

void require_empty(const quarn_buffer *buffer, std::string_view function) noexcept {
    not_null(buffer, function);
    if (buffer->data != nullptr) fatal(function, "a quarn buffer was filled twice");
}

namespace {
// The storage of every empty filled buffer: a filled record has a data pointer, but zero
// bytes need no block, and this one is never freed.
std::uint8_t zero_bytes[1];
}  // namespace

std::uint8_t *allocate_buffer_bytes(std::size_t length) noexcept {
    if (length == 0) return zero_bytes;
    void *p = std::malloc(length);
    if (p == nullptr) internal_panic(kOutOfMemory);
    return static_cast<std::uint8_t *>(p);
}

std::uint8_t *resize_buffer_bytes(std::uint8_t *data, std::size_t length) noexcept {
    if (data == zero_bytes) return allocate_buffer_bytes(length);
    if (length == 0) {
        std::free(data);
        return zero_bytes;
    }
    void *p = std::realloc(data, length);
    if (p == nullptr) internal_panic(kOutOfMemory);
    return static_cast<std::uint8_t *>(p);
}

void free_buffer_bytes(std::uint8_t *data) noexcept {
    if (data != zero_bytes) std::free(data);
}

char *copy_to_c_string(const char *bytes, std::size_t length) noexcept {
    auto *s = reinterpret_cast<char *>(allocate_buffer_bytes(length + 1));
    std::memcpy(s, bytes, length);
    s[length] = '\0';
    return s;
}

}  // namespace quarn::capi

using namespace quarn::capi;

extern "C" {

QUARN_API uint8_t *quarn_buffer_alloc(quarn_buffer *buffer, size_t length) noexcept {
    require_empty(buffer, "quarn_buffer_alloc");
    buffer->data = allocate_buffer_bytes(length);
    buffer->length = length;
    buffer->capacity = length;
    return buffer->data;
}

QUARN_API void quarn_buffer_free(quarn_buffer *buffer) noexcept {
    not_null(buffer, "quarn_buffer_free");
    if (buffer->data == nullptr) return;
    free_buffer_bytes(buffer->data);
    *buffer = quarn_buffer{nullptr, 0, 0};
}

QUARN_API void quarn_string_free(char *string) noexcept { std::free(string); }

}  // extern "C"
