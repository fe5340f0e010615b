// The mathematics wrappers: each returns exactly what the C library's function of the same
// name returns, in binary64 and (with the f suffix) binary32.
#include <cmath>

#include "quarn/fixed.h"

#define MATH_UNARY(name)                                                    \
    extern "C" double quarn_##name(double x) noexcept { return ::name(x); } \
    extern "C" float quarn_##name##f(float x) noexcept { return ::name##f(x); }
#define MATH_BINARY(name)                                                                \
    extern "C" double quarn_##name(double x, double y) noexcept { return ::name(x, y); } \
    extern "C" float quarn_##name##f(float x, float y) noexcept { return ::name##f(x, y); }

// sqrt compiles to the hardware square root; the C library is called only for a NaN
// result (a negative argument), to set errno, and its result is returned.
QUARN_MATH_UNARY(MATH_UNARY)
QUARN_MATH_BINARY(MATH_BINARY)
