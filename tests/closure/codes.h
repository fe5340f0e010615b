// Code pointers for closures under test, standing in for compiled Lean functions: each
// collects its arguments into a constructor (so the result owns them, in order) and notes
// the count of every argument at the moment it was called.
#pragma once

#include <atomic>
#include <cstddef>
#include <utility>
#include <vector>

#include "quarn/closure.h"

namespace codes {

using Value = quarn_object *;

// The rc of each argument on entry to the calling thread's last collecting call (0 for a
// scalar), and the number of collecting calls made.
inline thread_local std::vector<int32_t> rc_on_entry;
inline std::atomic<int> calls{0};

inline int32_t rc_or_zero(Value v) { return quarn_is_scalar(v) ? 0 : quarn_rc_load(v); }

// A constructor (tag 0) whose fields are the values, in order. Consumes them.
inline Value tuple(const std::vector<Value> &values) {
    Value t = quarn_alloc_ctor(0, static_cast<uint32_t>(values.size()), 0);
    for (size_t i = 0; i < values.size(); ++i) quarn_ctor_set(t, static_cast<unsigned>(i), values[i]);
    return t;
}

inline std::vector<Value> fields_of(Value t) {
    std::vector<Value> out;
    for (unsigned i = 0; i < quarn_ctor_num_objs(t); ++i) out.push_back(quarn_ctor_get(t, i));
    return out;
}

inline Value collect_values(std::vector<Value> values) {
    ++calls;
    rc_on_entry.clear();
    for (Value v : values) rc_on_entry.push_back(rc_or_zero(v));
    return tuple(values);
}

template <typename... Args>
Value collect(Args... args) {
    return collect_values({args...});
}

// Code of arity N above 16: one pointer to the N arguments.
template <size_t N>
Value collect_array(Value *args) {
    return collect_values(std::vector<Value>(args, args + N));
}

template <size_t>
using ValueParameter = Value;

template <size_t... I>
void *collect_code(std::index_sequence<I...>) {
    return reinterpret_cast<void *>(&collect<ValueParameter<I>...>);
}

// The collecting code of arity N, in the calling convention of that arity.
template <size_t N>
void *collector() {
    if constexpr (N > 16) {
        return reinterpret_cast<void *>(&collect_array<N>);
    } else {
        return collect_code(std::make_index_sequence<N>{});
    }
}

// A closure of `code` holding the given fixed arguments. Consumes them.
inline Value closure(void *code, unsigned arity, const std::vector<Value> &fixed) {
    Value c = quarn_alloc_closure(code, arity, static_cast<uint32_t>(fixed.size()));
    for (size_t i = 0; i < fixed.size(); ++i) quarn_closure_set(c, static_cast<unsigned>(i), fixed[i]);
    return c;
}

}  // namespace codes
