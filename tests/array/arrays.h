// Arrays built and read the way compiled code does, for the array tests.
#pragma once

#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>

#include "object/header.h"
#include "object/heap.h"
#include "quarn/array.h"
#include "testing.h"

namespace arrays {

inline quarn_array_object *as_array(quarn_object *a) {
    return reinterpret_cast<quarn_array_object *>(a);
}
inline quarn_sarray_object *as_sarray(quarn_object *a) {
    return reinterpret_cast<quarn_sarray_object *>(a);
}
inline size_t size_of(quarn_object *a) { return as_array(a)->size; }
inline size_t capacity_of(quarn_object *a) { return as_array(a)->capacity; }
inline int32_t rc(const quarn_object *o) { return o->rc; }

// An array of the given capacity holding the values. Consumes them.
inline quarn_object *array(std::initializer_list<quarn_object *> values, size_t capacity) {
    quarn_object *a = quarn_lean_mk_empty_array_with_capacity(quarn_box(capacity));
    for (quarn_object *v : values) a = quarn_lean_array_push(a, v);
    return a;
}

// A byte array of the given capacity holding the bytes.
inline quarn_object *byte_array(const std::vector<uint8_t> &bytes, size_t capacity) {
    quarn_object *a = quarn_lean_mk_empty_byte_array(quarn_box(capacity));
    for (uint8_t b : bytes) a = quarn_lean_byte_array_push(a, b);
    return a;
}

inline std::vector<uint8_t> bytes_of(quarn_object *a) {
    quarn_sarray_object *s = as_sarray(a);
    return std::vector<uint8_t>(s->data, s->data + s->size);
}

// A constructor without fields: an object whose count the tests can watch.
inline quarn_object *leaf() { return quarn_alloc_ctor(0, 0, 0); }

// A big Nat of two digits, for the fatal paths (the process ends before it is freed).
inline quarn_object *two_digit_nat() {
    auto *big = reinterpret_cast<quarn_bignum_object *>(
        quarn::object::allocate_object(sizeof(quarn_bignum_object), QUARN_TAG_BIGNUM));
    big->capacity = 2;
    big->magnitude.digits = static_cast<uint64_t *>(quarn::object::allocate_bytes(16));
    big->magnitude.digits[0] = 0;
    big->magnitude.digits[1] = 1;
    big->used.count = 2;
    big->sign = QUARN_SIGN_POSITIVE;
    return &big->header;
}

// The Lean-level panic prints through the program's standard error; without a backtrace
// its text is exact.
class ArrayTest : public kit::LiveObjectsTest {
protected:
    void SetUp() override {
        kit::LiveObjectsTest::SetUp();
        setenv("LEAN_BACKTRACE", "0", 1);
    }
    void TearDown() override {
        unsetenv("LEAN_BACKTRACE");
        kit::LiveObjectsTest::TearDown();
    }
};

}  // namespace arrays
