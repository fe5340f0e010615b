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

template <size_t>
using ValueParameter = Value;

namespace detail {

// Calls code as a C function of F + sizeof...(G) values: first fixed[0 .. F - 1], then the
// given values. Every call shape of a code pointer is one instance of this template.
template <size_t F, typename GivenIndices>
struct SplitCall;

template <size_t F, size_t... G>
struct SplitCall<F, std::index_sequence<G...>> {
    static Value call(void *code, const Value *fixed, ValueParameter<G>... given) noexcept {
        return [&]<size_t... I>(std::index_sequence<I...>) {
            // Compiled code never throws: declaring it so lets this call be a tail call.
            using Code = Value (*)(ValueParameter<I>..., ValueParameter<G>...) noexcept;
            return reinterpret_cast<Code>(code)(fixed[I]..., given...);
        }(std::make_index_sequence<F>{});
    }
};

template <size_t N, size_t... F>
constexpr auto make_split_calls(std::index_sequence<F...>) {
    using Given = std::make_index_sequence<N>;
    return std::array{&SplitCall<F, Given>::call...};
}

}  // namespace detail

// kSplitCalls<N>[F] calls a code pointer of arity F + N with F values from an array and N
// given ones, for F + N from 1 to 16. kSplitCalls<0>[A] takes all A values from the array.
template <size_t N>
inline constexpr auto kSplitCalls =
    detail::make_split_calls<N>(std::make_index_sequence<kMaxRegisterArity - N + 1>{});

// Calls the code pointer of a closure of this arity with args[0 .. arity - 1], which it
// consumes. The array itself stays the caller's.
inline Value call_code(void *code, unsigned arity, Value *args) noexcept {
    if (arity <= kMaxRegisterArity) return kSplitCalls<0>[arity](code, args);
    return reinterpret_cast<Value (*)(Value *) noexcept>(code)(args);
}

// Calls a code pointer of arity fixed + N (at most 16) with fixed[0 .. fixed - 1] and then
// the N given values, all in registers and on the machine stack.
template <typename... Given>
inline Value call_code_split(void *code, unsigned fixed, const Value *fixed_args,
                             Given... given) noexcept {
    return kSplitCalls<sizeof...(Given)>[fixed](code, fixed_args, given...);
}

}  // namespace quarn::closure
