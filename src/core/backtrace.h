// Stack traces of the calling thread, for panic messages and the debugging primitives.
#pragma once

#include "core/allocator.h"

namespace quarn {

// The calling thread's stack, one line per frame, innermost first, without the frame of
// this function, each line without a line feed. Frames are named from the symbol tables and
// line tables of the loaded modules where those exist. Any thread.
Vector<Text> capture_backtrace() noexcept;

}  // namespace quarn
