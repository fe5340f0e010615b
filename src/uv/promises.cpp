#include "uv/promises.h"

#include "io/io_error.h"
#include "io/io_result.h"
#include "quarn/task.h"
#include "task/task.h"

namespace quarn::uv {

namespace {

quarn_object *tagged(unsigned tag, quarn_object *field) noexcept {
    quarn_object *o = quarn_alloc_ctor(tag, 1, 0);
    quarn_ctor_set(o, 0, field);
    return o;
}

}  // namespace

quarn_object *new_promise() noexcept {
    quarn_object *promise = quarn_lean_io_promise_new();
    quarn_mark_mt(promise);
    return promise;
}

bool resolve_promise(quarn_object *promise, quarn_object *value) noexcept {
    quarn_object *some = tagged(1, value);
    auto *task = reinterpret_cast<quarn_promise_object *>(promise)->result;
    if (task::resolve(task, some)) return true;
    quarn_dec(some);
    return false;
}

bool promise_resolved(quarn_object *promise) noexcept {
    return task::value_of(reinterpret_cast<quarn_promise_object *>(promise)->result) != nullptr;
}

quarn_object *except_ok(quarn_object *value) noexcept { return tagged(1, value); }

quarn_object *except_error(int negative_code) noexcept {
    return tagged(0, io::error_from_code(negative_code, nullptr));
}

quarn_object *io_error_of_code(int negative_code) noexcept {
    return io::io_error(io::error_from_code(negative_code, nullptr));
}

quarn_object *io_error_of_code(int negative_code, std::string_view details) noexcept {
    return io::io_error(io::error_from_code_with_details(negative_code, details));
}

}  // namespace quarn::uv
