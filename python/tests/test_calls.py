"""Calls of the stand-in program's functions: every kind of result, errors as exceptions."""
import pytest

import quarn
from quarn import T, Some


def test_nat_arguments_and_results_of_any_size(program):
    assert program.add(2, 3) == 5
    assert program.add(2**64, 2**70 - 1) == 2**64 + 2**70 - 1
    assert program.add(0, 0) == 0
    assert program.zero() == 0


def test_bad_arguments_are_refused_before_the_call(program):
    with pytest.raises(OverflowError, match="negative"):
        program.add(-1, 2)
    with pytest.raises(TypeError):
        program.add("1", 2)
    with pytest.raises(TypeError, match="add: 1 arguments for 2 parameters"):
        program.add(1)
    with pytest.raises(UnicodeEncodeError):
        program.greet("a\ud800")
    with pytest.raises(AttributeError, match="no function 'nothing'"):
        program.nothing


def test_io_results_and_io_errors(program):
    assert program.greet("Zoë") == "Hello, Zoë!"
    with pytest.raises(quarn.QuarnIOError) as raised:
        program.greet("")
    error = raised.value
    assert error.kind == quarn.IO_ERROR and error.status == quarn.FAILED
    assert "greet: the name is empty" in error.message
    assert isinstance(error.handle, quarn.Opaque) and error.handle.live
    error.handle.release()
    assert not error.handle.live
    error.handle.release()   # a second release does nothing


def test_eio_errors_carry_their_lean_value(program):
    assert program.parse_nat("12345678901234567890123") == 12345678901234567890123
    with pytest.raises(quarn.LeanError) as raised:
        program.parse_nat("4x")
    assert raised.value.value == "not a natural number: '4x'"
    assert raised.value.message == "not a natural number: '4x'"
    assert raised.value.kind == quarn.LEAN_ERROR_VALUE

    DivError = program.types.DivError
    assert program.divide(8, 2) == 4
    with pytest.raises(quarn.LeanError) as raised:
        program.divide(7, 0)
    assert raised.value.value == DivError.byZero()
    assert raised.value.message == "a Lean error value (see quarn_error_value)"
    with pytest.raises(quarn.LeanError) as raised:
        program.divide(7, 2)
    assert raised.value.value == DivError.inexact(remainder=1)
    assert raised.value.value.remainder == 1


def test_generic_functions_take_their_type_arguments(program):
    assert program.first[T.Nat]([]) is None
    assert program.first[T.String](["a", "b"]) == "a"
    assert program.first[T.Option(T.Nat)]([None, 3]) == Some(None)
    Point = program.types.Point
    point = program.type("Point")
    assert program.first[point]([Point.mk(1, 2)]) == Point.mk(x=1, y=2)
    with pytest.raises(TypeError, match="is generic"):
        program.first([1])
    with pytest.raises(TypeError, match="2 type arguments for 1 type parameters"):
        program.first[T.Nat, T.Nat]


def test_structures_of_the_table(program):
    Point = program.types.Point
    assert program.point_sum(Point.mk(x=2**70, y=1)) == 2**70 + 1
    with pytest.raises(TypeError, match="Point expects one of its constructors"):
        program.point_sum((1, 2))


def test_lean_closures_and_opaque_values_are_handles(program):
    adder = program.make_adder(5)
    assert isinstance(adder, quarn.LeanClosure)
    assert adder(10) == 15 and adder(2**80) == 2**80 + 5
    with pytest.raises(TypeError, match="1 arguments for 2 parameters|2 arguments for 1"):
        adder(1, 2)
    adder.release()
    with pytest.raises(ValueError, match="was released"):
        adder(1)

    secret = program.seal(42)
    assert isinstance(secret, quarn.Opaque)
    # The call borrows the handle: it stays the host's and works again.
    assert program.unseal(secret) == 42
    assert program.unseal(secret) == 42
    with pytest.raises(TypeError, match="expects an opaque value"):
        program.unseal(42)


def test_threads_call_at_the_same_time(program):
    # Each thread has its own output record: results never cross between threads.
    import threading
    failures = []

    def work(offset):
        try:
            for i in range(2000):
                assert program.add(offset, i) == offset + i
                assert program.greet(str(offset)) == f"Hello, {offset}!"
                assert program.make_adder(offset)(i) == offset + i
                # A Python callable that Lean calls back on this thread.
                assert program.apply_twice(lambda n: n + offset, i) == i + 2 * offset
        except BaseException as error:   # reported by the main thread
            failures.append(error)

    threads = [threading.Thread(target=work, args=(k * 10**6,)) for k in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert failures == []
