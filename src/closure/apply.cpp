// Application of closures to arguments: under-application makes a bigger closure, exact
// application calls the code, over-application calls it and applies the result to the rest.
#include <cassert>

#include "closure/closure.h"
#include "object/heap.h"
#include "quarn/closure.h"

namespace quarn::closure {

namespace {

// The arguments of one call of a code pointer: on the machine stack up to 16, from the
// heap above that (the code then receives a pointer to them).
class CallArguments {
public:
    explicit CallArguments(unsigned arity) noexcept
        : slots_(arity <= kMaxRegisterArity
                     ? inline_slots_
                     : static_cast<Value *>(object::allocate_bytes(sizeof(Value) * arity))) {}
    CallArguments(const CallArguments &) = delete;
    CallArguments &operator=(const CallArguments &) = delete;
    ~CallArguments() {
        if (slots_ != inline_slots_) object::free_bytes(slots_);
    }

    Value *slots() noexcept { return slots_; }

private:
    Value inline_slots_[kMaxRegisterArity];
    Value *slots_;
};

// A handful of words, copied in place rather than through a call of memcpy.
[[gnu::always_inline]] inline void copy_values(Value *to, const Value *from, size_t n) noexcept {
#if defined(__clang__)
#pragma clang loop unroll(disable)
#else
#pragma GCC unroll 0
#endif
    for (size_t i = 0; i < n; ++i) to[i] = from[i];
}

// Adds a reference to each fixed argument of c, which keeps its own.
void share_fixed(const quarn_closure_object *c) noexcept {
    for (unsigned i = 0, n = c->fixed; i < n; ++i) quarn_inc(c->args[i]);
}

// Before an exact call: true when the closure is used once and its fixed arguments can be
// handed to the code as they are; otherwise each gets a reference of its own. Above 16
// arguments the closure always keeps its own.
[[gnu::always_inline]] inline bool hand_over_fixed(quarn_closure_object *c) noexcept {
    bool moved = quarn_is_exclusive(&c->header) && c->arity <= kMaxRegisterArity;
    if (!moved) share_fixed(c);
    return moved;
}

// After an exact call: a closure whose fixed arguments were moved is freed without
// looking at them; any other loses the reference the caller gave.
[[gnu::always_inline]] inline void release_applied(quarn_closure_object *c, bool moved) noexcept {
    if (moved) {
        object::deallocate(&c->header);
    } else {
        quarn_dec_ref(&c->header);
    }
}

// total == arity: one call of the code. Consumes f and the n arguments.
Value apply_exact(quarn_closure_object *f, size_t n, Value *args) noexcept {
    unsigned arity = f->arity, fixed = f->fixed;
    CallArguments call(arity);
    Value *slots = call.slots();
    bool moved = hand_over_fixed(f);
    copy_values(slots, f->args, fixed);
    copy_values(slots + fixed, args, n);
    Value result = call_code(f->code, arity, slots);
    release_applied(f, moved);
    return result;
}

// total < arity: a closure holding the fixed arguments of f and then the n new ones.
Value apply_under(quarn_closure_object *f, size_t n, Value *args) noexcept {
    unsigned fixed = f->fixed;
    quarn_closure_object *g = allocate_closure(f->code, f->arity, fixed + static_cast<unsigned>(n));
    copy_values(g->args, f->args, fixed);
    copy_values(g->args + fixed, args, n);
    if (quarn_is_exclusive(&f->header)) {
        object::deallocate(&f->header);  // its references now belong to g
    } else {
        share_fixed(f);
        quarn_dec_ref(&f->header);
    }
    return &g->header;
}

// total > arity: calls the code with the fixed arguments of f and the first arguments it
// still needs; consumes f and those arguments. No exclusive shortcut on this path.
Value call_with_first(quarn_closure_object *f, size_t needed, Value *args) noexcept {
    unsigned arity = f->arity, fixed = f->fixed;
    CallArguments call(arity);
    Value *slots = call.slots();
    share_fixed(f);
    copy_values(slots, f->args, fixed);
    copy_values(slots + fixed, args, needed);
    Value result = call_code(f->code, arity, slots);
    quarn_dec_ref(&f->header);
    return result;
}

}  // namespace

Value apply(Value f, size_t n, Value *args) noexcept {
    // Each round of over-application continues with its result and the arguments left.
    for (;;) {
        if (quarn_is_scalar(f)) {
            for (size_t i = 0; i < n; ++i) quarn_dec(args[i]);
            return f;
        }
        assert(f->tag == QUARN_TAG_CLOSURE);
        quarn_closure_object *c = as_closure(f);
        size_t needed = c->arity - c->fixed;
        if (n == needed) return apply_exact(c, n, args);
        if (n < needed) return apply_under(c, n, args);
        f = call_with_first(c, needed, args);
        args += needed;
        n -= needed;
    }
}

namespace {

// quarn_apply_N. The common case, a closure of at most 16 arguments given exactly the ones
// it waits for, calls the code with the given values still in registers; every other case
// puts them into an array on this frame for the general algorithm.
template <typename... Given>
[[gnu::always_inline]] inline Value apply_arguments(Value f, Given... given) noexcept {
    constexpr unsigned n = sizeof...(Given);
    if (!quarn_is_scalar(f)) [[likely]] {
        assert(f->tag == QUARN_TAG_CLOSURE);
        quarn_closure_object *c = as_closure(f);
        unsigned arity = c->arity, fixed = c->fixed;
        if (arity - fixed == n && arity <= kMaxRegisterArity) [[likely]] {
            bool moved = hand_over_fixed(c);
            Value result = call_code_split(c->code, fixed, c->args, given...);
            release_applied(c, moved);
            return result;
        }
    }
    Value args[] = {given...};
    return apply(f, n, args);
}

}  // namespace

}  // namespace quarn::closure

using quarn::closure::apply;
using quarn::closure::apply_arguments;
using V = quarn_object *;

extern "C" V quarn_apply_m(V f, uint64_t n, V *args) noexcept { return apply(f, n, args); }

// The sixteen fixed-arity entry points differ only in their parameter lists.
extern "C" {
V quarn_apply_1(V f, V a) noexcept { return apply_arguments(f, a); }
V quarn_apply_2(V f, V a, V b) noexcept { return apply_arguments(f, a, b); }
V quarn_apply_3(V f, V a, V b, V c) noexcept { return apply_arguments(f, a, b, c); }
V quarn_apply_4(V f, V a, V b, V c, V d) noexcept { return apply_arguments(f, a, b, c, d); }
V quarn_apply_5(V f, V a, V b, V c, V d, V e) noexcept {
    return apply_arguments(f, a, b, c, d, e);
}
V quarn_apply_6(V f, V a, V b, V c, V d, V e, V g) noexcept {
    return apply_arguments(f, a, b, c, d, e, g);
}
V quarn_apply_7(V f, V a, V b, V c, V d, V e, V g, V h) noexcept {
    return apply_arguments(f, a, b, c, d, e, g, h);
}
V quarn_apply_8(V f, V a, V b, V c, V d, V e, V g, V h, V i) noexcept {
    return apply_arguments(f, a, b, c, d, e, g, h, i);
}
V quarn_apply_9(V f, V a, V b, V c, V d, V e, V g, V h, V i, V j) noexcept {
    return apply_arguments(f, a, b, c, d, e, g, h, i, j);
}
V quarn_apply_10(V f, V a, V b, V c, V d, V e, V g, V h, V i, V j, V k) noexcept {
    return apply_arguments(f, a, b, c, d, e, g, h, i, j, k);
}
V quarn_apply_11(V f, V a, V b, V c, V d, V e, V g, V h, V i, V j, V k, V l) noexcept {
    return apply_arguments(f, a, b, c, d, e, g, h, i, j, k, l);
}
V quarn_apply_12(V f, V a, V b, V c, V d, V e, V g, V h, V i, V j, V k, V l, V m) noexcept {
    return apply_arguments(f, a, b, c, d, e, g, h, i, j, k, l, m);
}
V quarn_apply_13(V f, V a, V b, V c, V d, V e, V g, V h, V i, V j, V k, V l, V m,
                 V o) noexcept {
    return apply_arguments(f, a, b, c, d, e, g, h, i, j, k, l, m, o);
}
V quarn_apply_14(V f, V a, V b, V c, V d, V e, V g, V h, V i, V j, V k, V l, V m, V o,
                 V p) noexcept {
    return apply_arguments(f, a, b, c, d, e, g, h, i, j, k, l, m, o, p);
}
V quarn_apply_15(V f, V a, V b, V c, V d, V e, V g, V h, V i, V j, V k, V l, V m, V o, V p,
                 V q) noexcept {
    return apply_arguments(f, a, b, c, d, e, g, h, i, j, k, l, m, o, p, q);
}
V quarn_apply_16(V f, V a, V b, V c, V d, V e, V g, V h, V i, V j, V k, V l, V m, V o, V p,
                 V q, V r) noexcept {
    return apply_arguments(f, a, b, c, d, e, g, h, i, j, k, l, m, o, p, q, r);
}
}
