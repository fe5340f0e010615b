"""The Python codec and the runtime's agree byte for byte, for every kind of type.

The runtime writes host values (built with its quarn_value_* constructors) into the argument
block of an entry point that is a Python function here; the block must equal what the
Python codec writes for the same value. The entry point answers with the Python codec's
bytes, which the runtime must read back into a host value equal to the argument."""
import ctypes

import pytest

from quarn import T, Err, Ok, Some
from quarn._native import Buffer
from quarn.types import encode_signature, ResultDescription, PURE

V = ctypes.c_void_p


@pytest.fixture(scope="module")
def host_values(runtime):
    dll = runtime.library.dll

    def fn(name, restype, *argtypes):
        f = getattr(dll, name)
        f.restype, f.argtypes = restype, list(argtypes)
        return f

    class H:
        nat = fn("quarn_value_nat_parse", V, ctypes.c_char_p)
        int_ = fn("quarn_value_int_parse", V, ctypes.c_char_p)
        bool_ = fn("quarn_value_bool", V, ctypes.c_int)
        uint8 = fn("quarn_value_uint8", V, ctypes.c_uint8)
        uint64 = fn("quarn_value_uint64", V, ctypes.c_uint64)
        int16 = fn("quarn_value_int16", V, ctypes.c_int16)
        int64 = fn("quarn_value_int64", V, ctypes.c_int64)
        float_ = fn("quarn_value_float", V, ctypes.c_double)
        float32 = fn("quarn_value_float32", V, ctypes.c_float)
        char = fn("quarn_value_char", V, ctypes.c_uint32)
        string = fn("quarn_value_string", V, ctypes.c_char_p, ctypes.c_size_t)
        unit = fn("quarn_value_unit", V)
        byte_array = fn("quarn_value_byte_array", V, ctypes.c_char_p, ctypes.c_size_t)
        float_array = fn("quarn_value_float_array", V, ctypes.POINTER(ctypes.c_double),
                         ctypes.c_size_t)
        none = fn("quarn_value_none", V)
        some = fn("quarn_value_some", V, V)
        ok = fn("quarn_value_ok", V, V)
        error = fn("quarn_value_error", V, V)
        prod = fn("quarn_value_prod", V, V, V)
        list_ = fn("quarn_value_list", V, ctypes.POINTER(V), ctypes.c_size_t)
        array = fn("quarn_value_array", V, ctypes.POINTER(V), ctypes.c_size_t)
        ctor = fn("quarn_value_ctor", V, ctypes.c_uint32, ctypes.POINTER(V), ctypes.c_size_t)
        equal = fn("quarn_value_equal", ctypes.c_int, V, V)
        free = fn("quarn_value_free", None, V)
        invoke = fn("quarn_invoke", ctypes.c_int, V, V, ctypes.c_char_p, ctypes.c_size_t,
                    V, ctypes.c_size_t, ctypes.POINTER(V), ctypes.c_size_t,
                    ctypes.POINTER(V), ctypes.POINTER(V))

        @staticmethod
        def items(values):
            return (V * len(values))(*values), len(values)
    return H


def test_every_kind_reads_and_writes_as_the_runtime_does(program, runtime, host_values):
    h = host_values
    floats = (ctypes.c_double * 2)(0.5, -3.0)
    point = program.type("Point")
    Point = program.types.Point
    div_error, DivError = program.type("DivError"), program.types.DivError
    cases = [
        (T.Nat, str(2**100), lambda: h.nat(str(2**100).encode()), 2**100),
        (T.Int, "-2^70", lambda: h.int_(str(-2**70).encode()), -2**70),
        (T.Bool, "true", lambda: h.bool_(1), True),
        (T.UInt8, "255", lambda: h.uint8(255), 255),
        (T.UInt64, "2^64-1", lambda: h.uint64(2**64 - 1), 2**64 - 1),
        (T.Int16, "-32768", lambda: h.int16(-32768), -32768),
        (T.Int64, "-1", lambda: h.int64(-1), -1),
        (T.Float, "-0.0", lambda: h.float_(-0.0), -0.0),
        (T.Float32, "0.5", lambda: h.float32(0.5), 0.5),
        (T.Char, "U+10FFFF", lambda: h.char(0x10FFFF), "\U0010ffff"),
        (T.String, "héllo", lambda: h.string("héllo".encode(), 6), "héllo"),
        (T.Unit, "()", lambda: h.unit(), None),
        (T.ByteArray, "bytes", lambda: h.byte_array(b"\x00\xff", 2), b"\x00\xff"),
        (T.FloatArray, "floats", lambda: h.float_array(floats, 2), [0.5, -3.0]),
        (T.Option(T.Option(T.Nat)), "some none", lambda: h.some(h.none()), Some(None)),
        (T.List(T.String), "list", lambda: h.list_(*h.items([h.string(b"a", 1), h.string(b"", 0)])),
         ["a", ""]),
        (T.Array(T.Nat), "array", lambda: h.array(*h.items([h.nat(b"7")])), [7]),
        (T.Prod(T.Nat, T.Prod(T.Bool, T.Unit)), "triple",
         lambda: h.prod(h.nat(b"1"), h.prod(h.bool_(0), h.unit())), (1, False, None)),
        (T.Except(T.String, T.Nat), "ok", lambda: h.ok(h.nat(b"3")), Ok(3)),
        (T.Except(T.String, T.Nat), "error", lambda: h.error(h.string(b"no", 2)), Err("no")),
        (point, "Point", lambda: h.ctor(0, *h.items([h.nat(b"1"), h.nat(b"2")])),
         Point.mk(1, 2)),
        (div_error, "DivError.byZero", lambda: h.ctor(0, None, 0), DivError.byZero()),
        (div_error, "DivError.inexact", lambda: h.ctor(1, *h.items([h.nat(b"5")])),
         DivError.inexact(5)),
    ]
    codec = program.codec
    for t, label, build, value in cases:
        seen = []
        answer = codec.encode(t, value)

        @ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_size_t, ctypes.c_void_p)
        def entry(block, length, output):
            seen.append(ctypes.string_at(block, length))
            runtime.library.fill(ctypes.cast(output, ctypes.POINTER(Buffer)), answer)
            return 0

        signature = encode_signature([t], ResultDescription(PURE, t))
        argument = build()
        args = (V * 1)(argument)
        result, error = V(), V()
        status = h.invoke(program.table, ctypes.cast(entry, V), signature, len(signature),
                          None, 0, args, 1, ctypes.byref(result), ctypes.byref(error))
        try:
            assert status == 0, label
            assert seen == [bytes(4) + answer], label
            assert h.equal(result, argument) == 1, label
        finally:
            h.free(argument)
            h.free(result)
