// Text from the operating system (file names, directory entries, environment values,
// program arguments, lines read from handles) into strings, whatever its bytes.
#pragma once

#include <cstddef>

#include "quarn/object.h"

namespace quarn::string {

// A new string of the n bytes with every run of ill-formed input replaced by one U+FFFD:
// at a byte where no well-formed character starts, the replacement is written, that byte
// is skipped and so is every continuation byte (0x80-0xBF) that follows it. Well-formed
// input is copied as it is. Code points are counted. Returns an owned reference.
quarn_object *decode_lossy(const char *bytes, size_t n) noexcept;

}  // namespace quarn::string
