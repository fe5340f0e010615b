// Application of closures to arguments: under-application makes a bigger closure, exact
// application calls the code, over-application calls it and applies the result to the rest.
#include <cassert>
#include <cstring>

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

// Copies the fixed arguments of c to `to`, adding a reference to each: c keeps its own.
void copy_fixed_shared(const quarn_closure_object *c, Value *to) noexcept {
    for (unsigned i = 0, n = c->fixed; i < n; ++i) {
        quarn_inc(c->args[i]);
        to[i] = c->args[i];
    }
}

// Moves the fixed arguments of an exclusive closure to `to` and frees its block: the
// references it held now belong to `to`.
void move_fixed_and_free(quarn_closure_object *c, Value *to) noexcept {
    std::memcpy(to, c->args, sizeof(Value) * c->fixed);
    object::deallocate(&c->header);
}

// total == arity: one call of the code. Consumes f and the n arguments.
Value apply_exact(quarn_closure_object *f, size_t n, Value *args) noexcept {
    unsigned arity = f->arity, fixed = f->fixed;
    CallArguments call(arity);
    Value *slots = call.slots();
    // A closure used once gives its fixed arguments away instead of counting them up and
    // down. Above 16 arguments the code gets an array and the closure is kept to the end.
    bool exclusive = quarn_is_exclusive(&f->header) && arity <= kMaxRegisterArity;
    if (exclusive) {
        std::memcpy(slots, f->args, sizeof(Value) * fixed);
    } else {
        copy_fixed_shared(f, slots);
    }
    std::memcpy(slots + fixed, args, sizeof(Value) * n);
    Value result = call_code(f->code, arity, slots);
    if (exclusive) {
        object::deallocate(&f->header);
    } else {
        quarn_dec_ref(&f->header);
    }
    return result;
}

// total < arity: a closure holding the fixed arguments of f and then the n new ones.
Value apply_under(quarn_closure_object *f, size_t n, Value *args) noexcept {
    unsigned fixed = f->fixed;
    quarn_closure_object *g = allocate_closure(f->code, f->arity, fixed + static_cast<unsigned>(n));
    if (quarn_is_exclusive(&f->header)) {
        move_fixed_and_free(f, g->args);
    } else {
        copy_fixed_shared(f, g->args);
        quarn_dec_ref(&f->header);
    }
    std::memcpy(g->args + fixed, args, sizeof(Value) * n);
    return &g->header;
}

// total > arity: calls the code with the fixed arguments of f and the first arguments it
// still needs; consumes f and those arguments. No exclusive shortcut on this path.
Value call_with_first(quarn_closure_object *f, size_t needed, Value *args) noexcept {
    unsigned arity = f->arity;
    CallArguments call(arity);
    Value *slots = call.slots();
    copy_fixed_shared(f, slots);
    std::memcpy(slots + f->fixed, args, sizeof(Value) * needed);
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

// quarn_apply_N: the N arguments become an array on this frame.
template <typename... Args>
[[gnu::always_inline]] inline Value apply_arguments(Value f, Args... given) noexcept {
    Value args[] = {given...};
    return apply(f, sizeof...(Args), args);
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
