#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets: corpus/<target>/<name>, valid and broken
inputs. The codec seeds start with the case number of sample_types.h. Run in fuzz/."""
import os
import struct


def u8(v): return struct.pack("<B", v)
def u32(v): return struct.pack("<I", v)
def u64(v): return struct.pack("<Q", v)
def text(s): return u32(len(s.encode())) + s.encode()


def definition(name, params, ctors, opaque=0, repr_code=6):
    return text(name) + u8(opaque) + u32(params) + u8(repr_code) + u8(0) + u32(ctors)


def ctor(name, tag, objs, usizes, scalar, fields):
    return text(name) + u32(tag) + u32(objs) + u32(usizes) + u32(scalar) + u32(fields)


def table(defs):
    return b"QRNT" + u32(2) + u32(len(defs)) + b"".join(defs)


NAT, INT, STRING, UNIT, OPTION, LIST, PROD, FUNCTION, PARAM, INDUCTIVE = 0, 1, 16, 17, 20, 21, 23, 25, 26, 27

mylist = (definition("MyList", 1, 2) + ctor("nil", 0, 0, 0, 0, 0) + ctor("cons", 1, 2, 0, 0, 2)
          + text("head") + u8(0) + u32(0) + u8(PARAM) + u32(0)
          + text("tail") + u8(0) + u32(1) + u8(INDUCTIVE) + u32(0) + u32(1) + u8(PARAM) + u32(0))
point = (definition("Point", 0, 1) + ctor("Point.mk", 0, 1, 0, 9, 3)
         + text("xs") + u8(0) + u32(0) + u8(INDUCTIVE) + u32(0) + u32(1) + u8(NAT)
         + text("x") + u8(2) + u32(0) + u8(5) + u8(6)
         + text("flag") + u8(2) + u32(8) + u8(2) + u8(2))
opaque = definition("Handle", 0, 0, 1, 7)
function_field = (definition("F", 0, 1) + ctor("F.mk", 0, 1, 0, 0, 1) + text("f") + u8(0) + u32(0)
                  + u8(FUNCTION) + u32(2) + u8(NAT) + u8(STRING) + u8(OPTION) + u8(UNIT))
tables = {
    "empty": table([]),
    "sample": table([mylist, point, opaque]),
    "function": table([function_field]),
    "truncated": table([mylist, point])[:-7],
    "bad_version": b"QRNT" + u32(3) + u32(0),
    "bad_magic": b"QRNX" + u32(2) + u32(0),
    "trailing": table([]) + b"\0",
    "no_constructors": table([definition("E", 0, 0)]),
    "deep": table([definition("D", 0, 1) + ctor("D.mk", 0, 1, 0, 0, 1) + text("f") + u8(0) + u32(0)
                   + u8(OPTION) * 300 + u8(NAT)]),
    "big_scalar": table([definition("B", 0, 1) + ctor("B.mk", 0, 0, 0, 1024, 0)]),
}


def nat(n):
    b = n.to_bytes((n.bit_length() + 7) // 8, "little") if n else b""
    return u32(len(b)) + b


def integer(n): return u8(1 if n < 0 else 0) + nat(abs(n))


codec = {
    "nat_zero": u8(0) + nat(0),
    "nat_big": u8(0) + nat(2**200 + 12345),
    "nat_boundary": u8(0) + nat(2**63),
    "nat_leading_zero": u8(0) + u32(2) + b"\1\0",
    "int_negative": u8(1) + integer(-(2**31) - 1),
    "int_negative_zero": u8(1) + u8(1) + u32(0),
    "bool_bad": u8(2) + u8(2),
    "char_surrogate": u8(15) + u32(0xD800),
    "char_max": u8(15) + u32(0x10FFFF),
    "string": u8(16) + text("a\u00e9\u20ac\U0001F600"),
    "string_bad": u8(16) + u32(2) + b"\xc0\x80",
    "byte_array": u8(18) + u32(3) + b"xyz",
    "float_array": u8(19) + u32(1) + struct.pack("<d", 1.5),
    "option_option": u8(20) + u8(1) + u8(1) + nat(7),
    "list_nat": u8(21) + u32(2) + nat(1) + nat(300),
    "array_pairs": u8(22) + u32(1) + integer(-5) + text("p"),
    "except_units": u8(23) + u8(1) + u32(3),
    "nested_units": u8(24) + u32(2) + u32(3) + u32(4),
    "mylist": u8(25) + u32(1) + nat(1) + u32(1) + nat(2) + u32(0),
    "point": u8(26) + u32(0) + u32(1) + nat(9) + u32(0) + u64(2**64 - 1) + u8(1),
    "colors": u8(27) + u32(3) + u32(0) + u32(1) + u32(2),
    "wrap": u8(28) + text("inner"),
    "tree": u8(29) + u32(1) + u32(0) + u32(1) + u32(0) + u32(0) + u64(1) + u32(1)
            + struct.pack("<f", 0.5) + u64(2) + u32(2) + struct.pack("<f", 1.0),
    "loop": u8(30) + u8(1),
    "unit_boxes": u8(31) + u32(5),
    "nested_list": u8(32) + u32(1) + u8(1) + u32(1) + u8(1) + u32(0x41) + u32(0),
    "param": u8(33) + u8(1),
    "opaque": u8(34) + u64(1),
    "opaque_dead": u8(35) + u64(99) + nat(0),
    "truncated": u8(25) + u32(1) + nat(1),
}


def write(folder, seeds):
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


# Host values read the same inputs; a few more that only host values see this way: handles
# that were never registered (copied as numbers), many unit boxes, a long list.
value_codec = dict(codec)
value_codec.update({
    "opaque_any_handle": u8(34) + u64(2**64 - 1),
    "unit_boxes_limit": u8(31) + u32(65536),
    "unit_boxes_over": u8(31) + u32(65537),
    "list_long": u8(21) + u32(200) + b"".join(nat(i) for i in range(200)),
    "except_error": u8(23) + u8(0) + text("failed"),
    "except_bad_tag": u8(23) + u8(2),
})

# Signatures: type parameter count, parameters, result description (pure, IO, EIO, async over
# Color, definition 2 of the sample table, with its three answers).
def signature(params, result, type_params=0):
    return u32(type_params) + u32(len(params)) + b"".join(params) + result


ARRAY, EXCEPT = 22, 24
color = u8(INDUCTIVE) + u32(2) + u32(0)
signatures = {
    "add": signature([u8(NAT), u8(NAT)], u8(0) + u8(NAT)),
    "io_string": signature([u8(STRING)], u8(1) + u8(STRING)),
    "eio": signature([u8(NAT)], u8(2) + u8(STRING) + u8(NAT)),
    "generic": signature([u8(LIST) + u8(PARAM) + u32(0)], u8(0) + u8(OPTION) + u8(PARAM) + u32(0), 1),
    "async": signature([u8(NAT)], u8(3) + u32(2) + u32(3) + u8(STRING) + u8(NAT) + color + u8(UNIT)),
    "async_opaque_ops": signature([], u8(3) + u32(3) + u32(0) + u8(NAT)),
    "async_answers": signature([], u8(3) + u32(2) + u32(1) + u8(NAT) + u8(NAT)),
    "function": signature([u8(FUNCTION) + u32(1) + u8(NAT) + u8(NAT)], u8(0) + u8(UNIT)),
    "bad_result_kind": signature([], u8(4)),
    "param_outside": signature([u8(PARAM) + u32(1)], u8(0) + u8(NAT), 1),
    "trailing": signature([], u8(0) + u8(NAT)) + b"\0",
    "mylist": signature([u8(INDUCTIVE) + u32(0) + u32(1) + u8(PARAM) + u32(0)], u8(0) + u8(NAT), 1),
}

# Answers: the answer type's case number, the operation (0 red, 1 green, 2 blue), the bytes.
async_answers = {
    "nat": u8(0) + u8(0) + nat(5),
    "nat_bad": u8(0) + u8(1) + u32(1) + b"\0",
    "string": u8(16) + u8(2) + text("answer"),
    "string_trailing": u8(16) + u8(0) + text("a") + b"!",
    "mylist": u8(25) + u8(1) + u32(1) + nat(1) + u32(0),
    "tree": codec["tree"][:1] + u8(0) + codec["tree"][1:],
    "opaque_dead": u8(34) + u8(0) + u64(12345),
    "empty": u8(17) + u8(0),
}

write("corpus/type_table", tables)
write("corpus/signature", signatures)
write("corpus/async_answer", async_answers)
write("corpus/object_codec", codec)
write("corpus/value_codec", value_codec)
