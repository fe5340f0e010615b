// The host value record: a tree of typed records that mirrors the wire format without
// referring to any Lean object (closures and opaque objects are handle numbers).
#pragma once

#include <cstdint>

#include "capi/types.h"
#include "core/allocator.h"
#include "quarn/host.h"

struct quarn_value {
    // The kind in the type-kind numbering: 0-25 for values of those types, Inductive (27)
    // for a constructor value, Opaque (28) for an opaque value.
    quarn::capi::Kind kind = quarn::capi::Kind::Unit;

    // Bool, fixed-width numbers and Char (zero-extended or sign-extended to 64 bits), Float
    // and Float32 (the bit pattern), the handle of an opaque value, the id of a function, the
    // constructor index of a constructor value.
    std::uint64_t bits = 0;

    // Int: 1 when negative. Except: 1 for the ok side, 0 for the error side. Function: the
    // function kind (0 a Lean closure handle, 1 a host function). Option: 1 for some.
    std::uint8_t flag = 0;

    // Nat and Int: the magnitude, least significant byte first, no trailing zero byte (zero
    // is empty). String: UTF-8 bytes. ByteArray: the bytes. FloatArray: the doubles' bytes.
    quarn::Vector<std::uint8_t> bytes;

    // Option (some), Except, Prod (two), List, Array, constructor fields, in order. Owned.
    quarn::Vector<quarn_value *> children;
};
