// Allocation of closures.
#include <string>

#include "closure/closure.h"
#include "object/header.h"
#include "core/allocator.h"
#include "core/panic.h"
#include "quarn/closure.h"

namespace quarn::closure {

namespace {

[[noreturn, gnu::cold]] void invalid_closure(uint32_t arity, uint32_t fixed) noexcept {
    internal_panic({"invalid closure allocation (arity ", decimal(arity), ", ", decimal(fixed),
                    " fixed arguments)"});
}

}  // namespace

quarn_closure_object *allocate_closure(void *code, unsigned arity, unsigned fixed) noexcept {
    quarn_object *o = object::allocate_object(
        sizeof(quarn_closure_object) + sizeof(Value) * fixed, QUARN_TAG_CLOSURE);
    auto *c = as_closure(o);
    c->code = code;
    c->arity = static_cast<uint16_t>(arity);
    c->fixed = static_cast<uint16_t>(fixed);
    c->unused = 0;
    return c;
}

}  // namespace quarn::closure

using namespace quarn::closure;

extern "C" quarn_object *quarn_alloc_closure(void *code, uint32_t arity, uint32_t fixed) noexcept {
    // An arity that does not fit the 16-bit field would be stored cut short, and the code
    // later called with the wrong number of arguments: it is refused with the other bounds.
    bool invalid = (code == nullptr) | (fixed >= arity) | (arity > kMaxArity);
    if (invalid) [[unlikely]]
        invalid_closure(arity, fixed);
    return &allocate_closure(code, arity, fixed)->header;
}
