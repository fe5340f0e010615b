// Helpers for the child-process tests: spawn arguments built the way compiled code builds
// them, and reading a child's piped output.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include <poll.h>

#include <optional>

#include "array/array_alloc.h"
#include "array/sarray_alloc.h"
#include "io/handle_object.h"
#include "quarn/handle.h"
#include "quarn/io.h"
#include "quarn/process.h"
#include "io_results.h"
#include "testing.h"

namespace process_testing {

struct Spawn {
    std::string command;
    std::vector<std::string> arguments;
    uint8_t modes[3] = {QUARN_STDIO_INHERIT, QUARN_STDIO_INHERIT, QUARN_STDIO_INHERIT};
    bool has_directory = false;
    std::string directory;
    // (name, value); no value removes the variable.
    std::vector<std::pair<std::string, std::optional<std::string>>> environment;
    bool inherit_environment = true;
    bool new_session = false;
};

inline quarn_object *string_of(const std::string &s) {
    return quarn_mk_string_unchecked(s.data(), s.size(), s.size());
}

inline quarn_object *array_of(std::vector<quarn_object *> items) {
    quarn_array_object *a = quarn::array::allocate_array(items.size(), items.size());
    for (size_t i = 0; i < items.size(); ++i) a->data[i] = items[i];
    return reinterpret_cast<quarn_object *>(a);
}

// The spawn-arguments object. Returns an owned reference.
inline quarn_object *spawn_arguments(const Spawn &s) {
    quarn_object *stdio = quarn_alloc_ctor(0, 0, 3);
    for (int i = 0; i < 3; ++i) quarn_ctor_scalar_area(stdio)[i] = s.modes[i];
    std::vector<quarn_object *> arguments;
    for (const std::string &a : s.arguments) arguments.push_back(string_of(a));
    std::vector<quarn_object *> changes;
    for (const auto &[name, value] : s.environment) {
        quarn_object *pair = quarn_alloc_ctor(0, 2, 0);
        quarn_ctor_set(pair, 0, string_of(name));
        quarn_ctor_set(pair, 1, value ? kit_some(string_of(*value)) : quarn_box(0));
        changes.push_back(pair);
    }
    quarn_object *args = quarn_alloc_ctor(0, 5, 2);
    quarn_ctor_set(args, 0, stdio);
    quarn_ctor_set(args, 1, string_of(s.command));
    quarn_ctor_set(args, 2, array_of(arguments));
    quarn_ctor_set(args, 3, s.has_directory ? kit_some(string_of(s.directory)) : quarn_box(0));
    quarn_ctor_set(args, 4, array_of(changes));
    quarn_ctor_scalar_area(args)[0] = s.inherit_environment;
    quarn_ctor_scalar_area(args)[1] = s.new_session;
    return args;
}

using kit::ok;
// The child of a spawn that must succeed. Returns an owned reference.
inline quarn_object *spawn(const Spawn &s) {
    quarn_object *result = quarn_lean_io_process_spawn(spawn_arguments(s));
    if (result->tag != 0) {
        ADD_FAILURE() << "spawn failed";
        std::abort();
    }
    return ok(result);
}

// The boxed exit code of a wait that must succeed. Borrows child.
inline uint32_t wait_code(quarn_object *child) {
    quarn_object *code = ok(quarn_lean_io_process_child_wait(child));
    return static_cast<uint32_t>(quarn_unbox(code));
}

// Everything read from a handle until end of file. Borrows handle.
inline std::string read_all(quarn_object *handle) {
    std::string all;
    for (;;) {
        quarn_object *bytes = ok(quarn_lean_io_prim_handle_read(handle, 1 << 16));
        auto *a = reinterpret_cast<quarn_sarray_object *>(bytes);
        size_t n = a->size;
        all.append(reinterpret_cast<const char *>(a->data), n);
        quarn_dec(bytes);
        if (n == 0) return all;
    }
}

// Whether the handle's pipe reaches its end (every writer gone) within the seconds given.
// Borrows handle.
inline bool hangs_up_within(quarn_object *handle, int seconds) {
    struct pollfd p = {quarn::io::record_of(handle).fd(), POLLIN, 0};
    return ::poll(&p, 1, seconds * 1000) == 1 && (p.revents & POLLHUP) != 0;
}

inline quarn_object *field(quarn_object *child, unsigned i) { return quarn_ctor_get(child, i); }

}  // namespace process_testing
