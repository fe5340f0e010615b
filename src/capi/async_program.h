// Async programs between Lean and the host: writing a step from a Lean async program (done,
// or an operation that registers a resumption), and reading a step's wire bytes into the
// host's step record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "capi/resumptions.h"
#include "core/allocator.h"
#include "quarn/host.h"
#include "quarn/object.h"
#include "wire/byte_sink.h"

namespace quarn::capi {

// Appends the step of `program`: u8 0 and the result, or u8 1, the operation and the id of
// a new resumption that holds the continuation (marked multi-threaded). A program whose
// layout is not a done or operation constructor, or an operation whose tag names no
// constructor of the operations type, ends the process with `function` in the report.
// Consumes `program`.
void write_step(std::string_view function, const SharedAsyncTypes &types, quarn_object *program,
                wire::ByteSink &out) noexcept;

// Reads exactly one step in wire form into `step` (which is overwritten): the result as a
// value of `result`, or the operation as a constructor value of definition `operations`
// and its resumption. False with the message in `error`, `step` left cleared.
bool read_step(const std::uint8_t *bytes, std::size_t length, const quarn_types *table,
               std::uint32_t operations, const TypeExpr &result, quarn_step &step, Text &error) noexcept;

// Clears the record: kind done, no value, resumption 0 (a value it held is not looked at).
inline void reset_step(quarn_step &step) noexcept {
    step.kind = QUARN_STEP_DONE;
    step.value = nullptr;
    step.resumption = 0;
}

}  // namespace quarn::capi
