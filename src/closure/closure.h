// Closure objects: allocation and the calling convention of their code pointers.
#pragma once

#include <array>
#include <cstddef>
#include <utility>

#include "quarn/object.h"

namespace quarn::closure {

using Value = quarn_object *;

// Code of up to this many arguments is an ordinary C function of that many values; above
// it, the code takes one pointer to an array of its arguments.
inline constexpr unsigned kMaxRegisterArity = 16;

// The largest arity the 16-bit field holds.
inline constexpr uint32_t kMaxArity = 0xFFFF;

inline quarn_closure_object *as_closure(quarn_object *o) noexcept {
    return reinterpret_cast<quarn_closure_object *>(o);
}

// A closure of `code` with room for `fixed` arguments, not yet stored; rc 1. The bounds
// (code not null, fixed < arity <= kMaxArity) are the caller's to check.
quarn_closure_object *allocate_closure(void *code, unsigned arity, unsigned fixed) noexcept;

// Applies f, a closure or a scalar, to args[0 .. n - 1]: the algorithm behind quarn_apply_*.
// Consumes f and the n arguments; the array stays the caller's.
Value apply(Value f, size_t n, Value *args) noexcept;

namespace detail {

// Calls code as a C function of N values taken from args[0], ..., args[N - 1].
template <size_t... I>
Value call_with_arguments(void *code, Value *args, std::index_sequence<I...>) noexcept {
    using Code = Value (*)(decltype(I, Value{})...);
    return reinterpret_cast<Code>(code)(args[I]...);
}

template <size_t N>
Value call_shape(void *code, Value *args) noexcept {
    return call_with_arguments(code, args, std::make_index_sequence<N>{});
}

using CallShape = Value (*)(void *code, Value *args) noexcept;

template <size_t... I>
constexpr std::array<CallShape, sizeof...(I) + 1> make_call_shapes(std::index_sequence<I...>) {
    return {nullptr, &call_shape<I + 1>...};
}

// kCallShapes[n] calls a code pointer of arity n, for n from 1 to 16: one table from one
// template, so each shape exists once.
inline constexpr auto kCallShapes = make_call_shapes(std::make_index_sequence<kMaxRegisterArity>{});

}  // namespace detail

// Calls the code pointer of a closure of this arity with args[0 .. arity - 1], which it
// consumes. The array itself stays the caller's.
inline Value call_code(void *code, unsigned arity, Value *args) noexcept {
    if (arity <= kMaxRegisterArity) return detail::kCallShapes[arity](code, args);
    return reinterpret_cast<Value (*)(Value *)>(code)(args);
}

}  // namespace quarn::closure
