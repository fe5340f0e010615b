// Equality of hierarchical names.
#include <cstring>

#include "testing.h"

namespace {

using NameTest = kit::LiveObjectsTest;

quarn_object *name(std::initializer_list<const char *> parts) {
    quarn_object *n = quarn_box(0);
    for (const char *p : parts) n = kit_name_str(n, p);
    return n;
}

// Overwrites the hash of a name so that two names with different text collide.
void set_hash(quarn_object *n, uint64_t h) { std::memcpy(quarn_ctor_scalar_area(n), &h, 8); }

TEST_F(NameTest, EqualAndUnequalNames) {
    quarn_object *a = name({"Lean", "Meta", "simp"});
    quarn_object *b = name({"Lean", "Meta", "simp"});
    quarn_object *c = name({"Meta", "simp"});
    EXPECT_EQ(quarn_lean_name_eq(a, b), 1);
    EXPECT_EQ(quarn_lean_name_eq(a, a), 1);
    EXPECT_EQ(quarn_lean_name_eq(quarn_box(0), quarn_box(0)), 1);
    EXPECT_EQ(quarn_lean_name_eq(a, quarn_box(0)), 0);
    EXPECT_EQ(quarn_lean_name_eq(quarn_box(0), a), 0);
    set_hash(c, quarn_name_hash(a));
    EXPECT_EQ(quarn_lean_name_eq(a, c), 0) << "different component counts";
    for (quarn_object *n : {a, b, c}) quarn_dec(n);
}

TEST_F(NameTest, EqualHashesDoNotHideADifferentLastByte) {
    quarn_object *a = name({"Nat", "add"});
    quarn_object *b = name({"Nat", "adx"});
    set_hash(b, quarn_name_hash(a));
    EXPECT_EQ(quarn_lean_name_eq(a, b), 0);
    quarn_dec(a);
    quarn_dec(b);
}

TEST_F(NameTest, NumericComponents) {
    quarn_object *a = kit_name_num(name({"x"}), 3);
    quarn_object *b = kit_name_num(name({"x"}), 3);
    quarn_object *c = kit_name_num(name({"x"}), 4);
    quarn_object *s = kit_name_str(name({"x"}), "3");
    EXPECT_EQ(quarn_lean_name_eq(a, b), 1);
    set_hash(c, quarn_name_hash(a));
    EXPECT_EQ(quarn_lean_name_eq(a, c), 0);
    set_hash(s, quarn_name_hash(a));
    EXPECT_EQ(quarn_lean_name_eq(a, s), 0) << "a numeric and a string component differ";
    for (quarn_object *n : {a, b, c, s}) quarn_dec(n);
}

}  // namespace
