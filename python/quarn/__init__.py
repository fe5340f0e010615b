"""Call compiled Lean programs that run on quarn-runtime from Python.

    import quarn
    program = quarn.load("libmy_program.so")
    program.add(2, 3)                    # 5
    program.types.Point.mk(x=1, y=2)     # a value of the program's type Point

Values map by type: int for Nat, Int and the fixed-width integers (range checked before
the call), float, bool, str (String, and Char as one character), bytes (ByteArray), a list
of floats (FloatArray), None (Unit, and Option's none), list (List, Array), tuple (Prod),
quarn.Ok / quarn.Err (Except), the generated classes of the program's inductive types,
callables (functions), and quarn.Opaque / quarn.LeanClosure for Lean objects held by handle.
"""
from .errors import (FAILED, FAILURE, IO_ERROR, LEAN_ERROR_VALUE, MALFORMED, NOT_LIVE, OK,
                     LeanError, QuarnError, QuarnIOError, QuarnMalformed, QuarnNotLive)
from .program import AsyncProgram, BoundFunction, Function, Program, Runtime, load
from .types import T, ResultDescription, Signature, Type, WireError, encode_signature
from .wire import Err, InductiveValue, LeanClosure, Ok, Opaque, Some

__all__ = [
    "AsyncProgram", "BoundFunction", "Err", "FAILED", "FAILURE", "Function", "IO_ERROR",
    "InductiveValue", "LEAN_ERROR_VALUE", "LeanClosure", "LeanError", "MALFORMED", "NOT_LIVE",
    "OK", "Ok", "Opaque", "Program", "QuarnError", "QuarnIOError", "QuarnMalformed",
    "QuarnNotLive", "ResultDescription", "Runtime", "Signature", "Some", "T", "Type",
    "WireError", "encode_signature", "load",
]
