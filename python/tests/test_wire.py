"""The codec against the byte layouts of the wire format, on types built here."""
import math
import struct

import pytest

from quarn import T, Err, Ok, Some, WireError
from quarn.types import read_signature, read_type_table
from conftest import codec_of
import table_builder as tb

PLAIN, _ = codec_of(tb.table([]))


def roundtrip(codec, t, value):
    data = codec.encode(t, value)
    assert codec.decode(t, data) == value
    return data


def test_numbers_have_their_exact_bytes():
    assert roundtrip(PLAIN, T.Nat, 0) == bytes(4)
    assert roundtrip(PLAIN, T.Nat, 256) == bytes.fromhex("020000000001")
    assert roundtrip(PLAIN, T.Int, -1) == bytes.fromhex("010100000001")
    assert roundtrip(PLAIN, T.Nat, 2**200) == struct.pack("<I", 26) + (2**200).to_bytes(26, "little")
    assert roundtrip(PLAIN, T.Int, -(2**64)) == b"\x01" + struct.pack("<I", 9) + bytes(8) + b"\x01"
    with pytest.raises(WireError, match="leading zero byte"):
        PLAIN.decode(T.Nat, bytes.fromhex("0100000000"))
    with pytest.raises(WireError, match="negative zero is not a canonical Int"):
        PLAIN.decode(T.Int, bytes.fromhex("0100000000"))
    with pytest.raises(WireError, match="invalid Int sign 2"):
        PLAIN.decode(T.Int, bytes.fromhex("0200000000"))


@pytest.mark.parametrize("t, low, high", [
    (T.UInt8, 0, 255), (T.UInt16, 0, 65535), (T.UInt32, 0, 2**32 - 1),
    (T.UInt64, 0, 2**64 - 1), (T.USize, 0, 2**64 - 1), (T.Int8, -128, 127),
    (T.Int16, -2**15, 2**15 - 1), (T.Int32, -2**31, 2**31 - 1),
    (T.Int64, -2**63, 2**63 - 1), (T.ISize, -2**63, 2**63 - 1)])
def test_fixed_widths_hold_their_range_and_no_more(t, low, high):
    for n in (low, high):
        roundtrip(PLAIN, t, n)
    for n in (low - 1, high + 1):
        with pytest.raises(OverflowError, match="out of range"):
            PLAIN.encode(t, n)
    with pytest.raises(TypeError):
        PLAIN.encode(t, 1.0)


def test_range_errors_come_before_any_byte_is_kept():
    with pytest.raises(OverflowError):
        PLAIN.encode(T.Nat, -1)
    with pytest.raises(TypeError):
        PLAIN.encode(T.Nat, True)
    with pytest.raises(OverflowError):
        PLAIN.encode(T.Float32, 1e300)
    with pytest.raises(TypeError):
        PLAIN.encode(T.Bool, 1)


def test_floats_keep_their_bits():
    data = roundtrip(PLAIN, T.Float, -0.0)
    assert data == struct.pack("<d", -0.0)
    assert math.isnan(PLAIN.decode(T.Float, PLAIN.encode(T.Float, math.nan)))
    assert PLAIN.decode(T.Float32, PLAIN.encode(T.Float32, 0.1)) == struct.unpack("<f", struct.pack("<f", 0.1))[0]
    assert roundtrip(PLAIN, T.FloatArray, [1.5, -2.0]) == struct.pack("<Idd", 2, 1.5, -2.0)
    with pytest.raises(WireError, match="a length of 2 exceeds"):
        PLAIN.decode(T.FloatArray, struct.pack("<Id", 2, 1.0) + bytes(7))


def test_chars_are_unicode_scalar_values():
    assert roundtrip(PLAIN, T.Char, "\U0010ffff") == struct.pack("<I", 0x10FFFF)
    with pytest.raises(ValueError, match="0xd800 is not a Unicode scalar value"):
        PLAIN.encode(T.Char, "\ud800")
    with pytest.raises(WireError, match="0xd800 is not a Unicode scalar value"):
        PLAIN.decode(T.Char, struct.pack("<I", 0xD800))
    with pytest.raises(WireError, match="0x110000 is not"):
        PLAIN.decode(T.Char, struct.pack("<I", 0x110000))


def test_strings_in_utf8_and_invalid_bytes_coming_back():
    assert roundtrip(PLAIN, T.String, "héllo") == struct.pack("<I", 6) + "héllo".encode()
    with pytest.raises(UnicodeEncodeError):
        PLAIN.encode(T.String, "a\udc80b")
    # An ill-formed sequence reads as U+FFFD instead of failing.
    assert PLAIN.decode(T.String, struct.pack("<I", 4) + b"a\xff\xc3b") == "a\ufffd\ufffdb"
    assert roundtrip(PLAIN, T.ByteArray, b"\x00\xff") == b"\x02\x00\x00\x00\x00\xff"
    with pytest.raises(WireError, match="a length of 3 exceeds the remaining wire data"):
        PLAIN.decode(T.String, struct.pack("<I", 3) + b"ab")
    with pytest.raises(WireError, match="wire data ends after 2 bytes; 2 more expected"):
        PLAIN.decode(T.UInt32, b"ab")


def test_options_nest_with_some():
    t = T.Option(T.Option(T.Nat))
    assert roundtrip(PLAIN, t, None) == b"\x00"
    assert roundtrip(PLAIN, t, Some(None)) == b"\x01\x00"
    assert PLAIN.decode(t, PLAIN.encode(t, 7)) == Some(7)
    assert roundtrip(PLAIN, T.Option(T.Nat), 7) == b"\x01\x01\x00\x00\x00\x07"
    assert roundtrip(PLAIN, T.Option(T.Unit), Some(None)) == b"\x01"
    with pytest.raises(WireError, match="invalid Option tag 2"):
        PLAIN.decode(t, b"\x02")


def test_sequences_products_and_excepts():
    assert roundtrip(PLAIN, T.List(T.Nat), []) == bytes(4)
    assert PLAIN.decode(T.Array(T.Unit), struct.pack("<I", 3)) == [None, None, None]
    with pytest.raises(WireError, match="a length of 3 exceeds the remaining wire data"):
        PLAIN.decode(T.List(T.Bool), struct.pack("<I", 3) + b"\x01")
    triple = T.Prod(T.Nat, T.Prod(T.String, T.Bool))
    assert roundtrip(PLAIN, triple, (1, "a", True)) == PLAIN.encode(triple, (1, ("a", True)))
    pair_of_pairs = T.Prod(T.Prod(T.Nat, T.Nat), T.Nat)
    roundtrip(PLAIN, pair_of_pairs, ((1, 2), 3))
    e = T.Except(T.String, T.Nat)
    assert roundtrip(PLAIN, e, Ok(3)) == b"\x01\x01\x00\x00\x00\x03"
    assert roundtrip(PLAIN, e, Err("no")) == b"\x00\x02\x00\x00\x00no"
    with pytest.raises(TypeError):
        PLAIN.encode(e, 3)
    with pytest.raises(WireError, match="invalid Except tag 2"):
        PLAIN.decode(e, b"\x02")


# Color: an enumeration whose tags differ from positions; Box a: a generic structure;
# Name: a trivial structure over a String; Tree: recursive.
COLOR, BOX, NAME, TREE = 0, 1, 2, 3
TABLE = tb.table([
    tb.definition("Color", [tb.ctor("Color.red", 2, [], 0), tb.ctor("Color.green", 0, [], 0)]),
    tb.definition("Box", [tb.ctor("Box.mk", 0, [tb.field("item", 0, T.Param(0)),
                                                tb.field("count", 1, T.Nat)])], params=1),
    tb.definition("Name", [tb.ctor("Name.mk", 0, [tb.field("text", 0, T.String)])],
                  trivial=(0, 0)),
    tb.definition("Tree", [tb.ctor("Tree.leaf", 0, [], 0),
                           tb.ctor("Tree.node", 1, [tb.field("left", 0, T.Inductive(TREE)),
                                                    tb.field("value", 1, T.Nat),
                                                    tb.field("right", 2, T.Inductive(TREE))])]),
])


def test_inductive_types_as_generated_classes(runtime):
    codec, classes = codec_of(TABLE, runtime)
    Color, Box, Name, Tree = (classes[i] for i in range(4))
    # The constructor's position is written, not its tag.
    assert roundtrip(codec, T.Inductive(COLOR), Color.red()) == struct.pack("<I", 0)
    assert roundtrip(codec, T.Inductive(COLOR), Color.green()) == struct.pack("<I", 1)
    with pytest.raises(WireError, match="constructor index 2 of Color"):
        codec.decode(T.Inductive(COLOR), struct.pack("<I", 2))
    boxed = Box.mk(item="x", count=2)
    assert boxed.item == "x" and boxed.fields == ("x", 2)
    assert repr(boxed) == "Box.mk(item='x', count=2)"
    roundtrip(codec, T.Inductive(BOX, T.String), boxed)
    with pytest.raises(TypeError, match="expects a str"):
        codec.encode(T.Inductive(BOX, T.String), Box.mk(1, 2))
    with pytest.raises(TypeError, match="misses fields count"):
        Box.mk(item=1)
    # A trivial structure is exactly its field's bytes, given as the structure or bare.
    assert roundtrip(codec, T.Inductive(NAME), Name.mk("ab")) == codec.encode(T.String, "ab")
    assert codec.encode(T.Inductive(NAME), "ab") == codec.encode(T.String, "ab")
    tree = Tree.node(Tree.node(Tree.leaf(), 1, Tree.leaf()), 2, Tree.leaf())
    roundtrip(codec, T.Inductive(TREE), tree)
    with pytest.raises(TypeError, match="Tree expects one of its constructors"):
        codec.encode(T.Inductive(TREE), Color.red())
    with pytest.raises(WireError, match="Box applied to 0 arguments"):
        codec.encode(T.Inductive(BOX), boxed)


def test_type_tables_and_signatures_read_as_generated():
    definitions = read_type_table(TABLE)
    assert [d.name for d in definitions] == ["Color", "Box", "Name", "Tree"]
    assert definitions[NAME].trivial == (0, 0) and definitions[BOX].param_count == 1
    with pytest.raises(WireError, match="1 unexpected bytes after the wire data"):
        read_type_table(TABLE + b"\x00")
    with pytest.raises(WireError, match="wire data ends after 3 bytes; 4 more expected"):
        read_type_table(b"QRN")
    with pytest.raises(WireError, match="type table version 3; this runtime reads version 2"):
        read_type_table(b"QRNT" + struct.pack("<II", 3, 0))
    # generic: {a} (List a) -> EIO String (Option a)
    signature = (struct.pack("<II", 1, 1) + T.List(T.Param(0)).encoding + b"\x02"
                 + T.String.encoding + T.Option(T.Param(0)).encoding)
    s = read_signature(signature)
    assert s.type_params == 1 and s.params == (T.List(T.Param(0)),)
    assert s.result.substitute([T.Nat]).value == T.Option(T.Nat)
    with pytest.raises(WireError, match="invalid result kind 9"):
        read_signature(struct.pack("<II", 0, 0) + b"\x09")
