// IO results: what every fallible IO primitive returns. Ok is a constructor of tag 0 and
// error one of tag 1, each with one object field.
#pragma once

#include "object/header.h"
#include "object/heartbeat.h"

namespace quarn::io {

namespace detail {
inline quarn_object *io_result(uint8_t tag, quarn_object *field) noexcept {
    object::count_heartbeat();
    quarn_object *r = object::allocate_object(sizeof(quarn_object) + sizeof(quarn_object *), tag, 1);
    quarn_ctor_set(r, 0, field);
    return r;
}
}  // namespace detail

// An ok result holding value. Consumes value.
inline quarn_object *io_ok(quarn_object *value) noexcept { return detail::io_result(0, value); }

// The ok result of an action that returns nothing (the scalar 0).
inline quarn_object *io_ok_unit() noexcept { return io_ok(quarn_box(0)); }

// An error result holding an IO.Error. Consumes error.
inline quarn_object *io_error(quarn_object *error) noexcept { return detail::io_result(1, error); }

}  // namespace quarn::io
