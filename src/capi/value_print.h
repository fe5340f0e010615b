// The diagnostic print form of a host value, used in messages such as "a value {} is not of
// type {}": the kind name followed by the payload in parentheses (Nat(5), String("ab"),
// List(Nat(1), Nat(2))), or named parts in braces for Except, Function and constructor
// values (Except{error: Nat(1)}, Function{kind: 1, id: 4}, Ctor{index: 0, fields: [Unit]}).
// Long texts, long lists and deep trees are shortened with "...", so the form stays small
// whatever the value.
#pragma once

#include "capi/value.h"
#include "core/allocator.h"

namespace quarn::capi {

// Borrows v.
Text print_value(const quarn_value &v);

}  // namespace quarn::capi
