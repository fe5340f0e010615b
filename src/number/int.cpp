// The `Int` primitives. Two scalar arguments are 32-bit values, so every sum, difference,
// product and quotient is exact in 64 bits and int_of_int64 decides whether it stays boxed.
// Otherwise both arguments are read in place and the Integer result is normalised.
#include "number/detail.h"
#include "number/nat.h"
#include "object/export.h"
#include "quarn/nat.h"

namespace quarn::number {

using namespace detail;

namespace {

// Truncating division: the quotient when `want_quotient`, else the remainder.
Integer truncated(IntegerView a, IntegerView b, bool want_quotient) noexcept {
    Integer result;
    if (want_quotient)
        divide(a, b, &result, nullptr);
    else
        divide(a, b, nullptr, &result);
    return result;
}

// x + y, neither zero, at least one big. With equal signs the magnitude only grows, so
// the sum is big and is added straight into a new object.
quarn_object *add_ints(IntegerView x, IntegerView y) noexcept {
    if (x.negative == y.negative)
        return make_sum_of_magnitudes(x, y, x.negative ? QUARN_SIGN_NEGATIVE : QUARN_SIGN_POSITIVE);
    return to_int(add(x, y));
}

[[gnu::noinline]] quarn_object *int_add_big(quarn_object *a, quarn_object *b) noexcept {
    uint64_t sa, sb;
    IntegerView x = view_int(a, sa), y = view_int(b, sb);
    if (x.is_zero()) return share(b);
    if (y.is_zero()) return share(a);
    return add_ints(x, y);
}

[[gnu::noinline]] quarn_object *int_sub_big(quarn_object *a, quarn_object *b) noexcept {
    uint64_t sa, sb;
    IntegerView x = view_int(a, sa), y = view_int(b, sb).negated();
    if (y.is_zero()) return share(a);
    if (x.is_zero()) return to_int(Integer::copy_of(y));
    return add_ints(x, y);
}

[[gnu::noinline]] quarn_object *int_mul_big(quarn_object *a, quarn_object *b) noexcept {
    uint64_t sa, sb;
    return to_int(multiply(view_int(a, sa), view_int(b, sb)));
}

[[gnu::noinline]] quarn_object *int_div_big(quarn_object *a, quarn_object *b) noexcept {
    uint64_t sa, sb;
    IntegerView x = view_int(a, sa), y = view_int(b, sb);
    if (y.is_zero()) return quarn_box(0);
    return to_int(truncated(x, y, true));
}

[[gnu::noinline]] quarn_object *int_mod_big(quarn_object *a, quarn_object *b) noexcept {
    uint64_t sa, sb;
    IntegerView x = view_int(a, sa), y = view_int(b, sb);
    if (y.is_zero() || compare_magnitudes(x, y) < 0) return share(a);
    return to_int(truncated(x, y, false));
}

// The Euclidean quotient and remainder come from the truncating ones: when the remainder
// r is negative, the quotient moves one step away from b's sign (down for b > 0, up for
// b < 0) and |b| is added to r.
[[gnu::noinline]] quarn_object *int_ediv_big(quarn_object *a, quarn_object *b) noexcept {
    uint64_t sa, sb;
    IntegerView x = view_int(a, sa), y = view_int(b, sb);
    if (y.is_zero()) return quarn_box(0);
    Integer quotient, remainder;
    divide(x, y, &quotient, &remainder);
    if (!remainder.is_negative()) return to_int(std::move(quotient));
    IntegerView step = y.negative ? kOneView : kOneView.negated();
    return to_int(add(quotient.view(), step));
}

[[gnu::noinline]] quarn_object *int_emod_big(quarn_object *a, quarn_object *b) noexcept {
    uint64_t sa, sb;
    IntegerView x = view_int(a, sa), y = view_int(b, sb);
    if (y.is_zero() || (!x.negative && compare_magnitudes(x, y) < 0)) return share(a);
    Integer remainder = truncated(x, y, false);
    if (!remainder.is_negative()) return to_int(std::move(remainder));
    return to_int(add(remainder.view(), y.magnitude()));
}

[[gnu::noinline]] int compare_ints(quarn_object *a, quarn_object *b) noexcept {
    uint64_t sa, sb;
    return compare(view_int(a, sa), view_int(b, sb));
}

}  // namespace

}  // namespace quarn::number

using namespace quarn::number;

extern "C" quarn_object *quarn_lean_int_add(quarn_object *a, quarn_object *b) noexcept {
    if (both_scalar(a, b)) [[likely]]
        return int_of_int64(int64_t{unbox_int(a)} + unbox_int(b));
    return int_add_big(a, b);
}

extern "C" quarn_object *quarn_lean_int_sub(quarn_object *a, quarn_object *b) noexcept {
    if (both_scalar(a, b)) [[likely]]
        return int_of_int64(int64_t{unbox_int(a)} - unbox_int(b));
    return int_sub_big(a, b);
}

extern "C" quarn_object *quarn_lean_int_mul(quarn_object *a, quarn_object *b) noexcept {
    if (both_scalar(a, b)) [[likely]]
        return int_of_int64(int64_t{unbox_int(a)} * unbox_int(b));
    return int_mul_big(a, b);
}

extern "C" quarn_object *quarn_lean_int_neg(quarn_object *a) noexcept {
    if (quarn_is_scalar(a)) [[likely]]
        return int_of_int64(-int64_t{unbox_int(a)});
    Integer negated = Integer::copy_of(view_of(as_bignum(a)));
    negated.negate();
    return to_int(std::move(negated));
}

extern "C" quarn_object *quarn_lean_int_neg_succ_of_nat(quarn_object *n) noexcept {
    if (quarn_is_scalar(n)) [[likely]]  // n < 2^63, so -(n + 1) >= -2^63
        return int_of_int64(-static_cast<int64_t>(quarn_unbox(n)) - 1);
    Integer successor = add(view_of(as_bignum(n)), kOneView);
    successor.negate();
    return to_int(std::move(successor));
}

extern "C" quarn_object *quarn_lean_int_div(quarn_object *a, quarn_object *b) noexcept {
    if (both_scalar(a, b)) [[likely]] {
        int64_t y = unbox_int(b);
        // (-2^31) / (-1) = 2^31 is exact in 64 bits and leaves the boxed range.
        return y == 0 ? quarn_box(0) : int_of_int64(unbox_int(a) / y);
    }
    return int_div_big(a, b);
}

extern "C" quarn_object *quarn_lean_int_div_exact(quarn_object *a, quarn_object *b) noexcept
    QUARN_EXPORT_ALIAS(quarn_lean_int_div);

extern "C" quarn_object *quarn_lean_int_mod(quarn_object *a, quarn_object *b) noexcept {
    if (both_scalar(a, b)) [[likely]] {
        int64_t y = unbox_int(b);
        return y == 0 ? a : box_int(static_cast<int32_t>(unbox_int(a) % y));
    }
    return int_mod_big(a, b);
}

extern "C" quarn_object *quarn_lean_int_ediv(quarn_object *a, quarn_object *b) noexcept {
    if (both_scalar(a, b)) [[likely]] {
        int64_t x = unbox_int(a), y = unbox_int(b);
        if (y == 0) return quarn_box(0);
        int64_t q = x / y;
        if (x % y < 0) q += y > 0 ? -1 : 1;
        return int_of_int64(q);
    }
    return int_ediv_big(a, b);
}

extern "C" quarn_object *quarn_lean_int_emod(quarn_object *a, quarn_object *b) noexcept {
    if (both_scalar(a, b)) [[likely]] {
        int64_t x = unbox_int(a), y = unbox_int(b);
        if (y == 0) return a;
        int64_t r = x % y;
        if (r < 0) r += y < 0 ? -y : y;
        return int_of_int64(r);
    }
    return int_emod_big(a, b);
}

extern "C" uint8_t quarn_lean_int_dec_le(quarn_object *a, quarn_object *b) noexcept {
    if (both_scalar(a, b)) [[likely]] return unbox_int(a) <= unbox_int(b);
    return compare_ints(a, b) <= 0;
}

extern "C" uint8_t quarn_lean_int_dec_lt(quarn_object *a, quarn_object *b) noexcept {
    if (both_scalar(a, b)) [[likely]] return unbox_int(a) < unbox_int(b);
    return compare_ints(a, b) < 0;
}

extern "C" uint8_t quarn_lean_int_dec_nonneg(quarn_object *a) noexcept {
    if (quarn_is_scalar(a)) return ((reinterpret_cast<uintptr_t>(a) >> 32) & 1) == 0;
    return as_bignum(a)->sign != QUARN_SIGN_NEGATIVE;
}
