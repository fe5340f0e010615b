#!/usr/bin/env python3
"""A Python host of a compiled Lean program: calls, errors, an async program and a Python
function that Lean calls.

usage: host.py [PROGRAM [RUNTIME]]   (default: $QUARN_PROGRAM and $QUARN_RUNTIME)
"""
import asyncio
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))

import quarn  # noqa: E402
from quarn import T  # noqa: E402


def main() -> None:
    program_path = sys.argv[1] if len(sys.argv) > 1 else os.environ["QUARN_PROGRAM"]
    runtime_path = sys.argv[2] if len(sys.argv) > 2 else None
    program = quarn.load(program_path, runtime_path)
    Point, Op = program.types.Point, program.types.Op

    # Pure functions: Python ints are Nats of any size.
    print("add(2, 3) =", program.add(2, 3))
    print("add(2^64, 1) =", program.add(2**64, 1))
    print("point_sum(Point.mk(x=4, y=5)) =", program.point_sum(Point.mk(x=4, y=5)))
    print("first[String]([\"a\", \"b\"]) =", repr(program.first[T.String](["a", "b"])))
    print("first[Nat]([]) =", program.first[T.Nat]([]))

    # Values out of their type's range never reach Lean.
    try:
        program.add(-1, 1)
    except OverflowError as error:
        print("add(-1, 1) refused:", error)

    # IO and EIO errors are exceptions.
    print("greet(\"Ada\") =", repr(program.greet("Ada")))
    try:
        program.greet("")
    except quarn.QuarnIOError as error:
        print("greet(\"\") raised an IO error:", error.message)
        error.handle.release()
    try:
        program.parse_nat("12a")
    except quarn.LeanError as error:
        print("parse_nat(\"12a\") raised:", repr(error.value))
    try:
        program.divide(7, 2)
    except quarn.LeanError as error:
        print("divide(7, 2) raised:", error.value)

    # A Lean closure and an opaque value, held by handle.
    add5 = program.make_adder(5)
    print("make_adder(5)(10) =", add5(10))
    secret = program.seal(42)
    print("unseal(seal(42)) =", program.unseal(secret))

    # An async program, driven as a generator: it asks, the host answers.
    run = program.conversation(32)
    operation = next(run)
    try:
        while True:
            print("  program asks:", operation)
            if isinstance(operation, Op.ask):
                reply = "Grace"
            else:
                reply = operation.a + operation.b
            print("  host answers:", repr(reply))
            operation = run.send(reply)
    except StopIteration as done:
        print("conversation(32) =", repr(done.value))

    # The same from asyncio, and a Python function that Lean calls.
    async def answer(operation):
        await asyncio.sleep(0)
        return "Grace" if isinstance(operation, Op.ask) else operation.a + operation.b

    print("conversation(1) with asyncio =",
          repr(asyncio.run(program.conversation(1).run_async(answer))))
    print("apply_answer(7) with n -> n * n =",
          program.apply_answer(7).run(lambda operation: lambda n: n * n))
    print("apply_twice(n -> n + 100, 1) =", program.apply_twice(lambda n: n + 100, 1))

    # A Lean extern implemented in Python.
    program.bind_extern("host_double", lambda n: 2 * n)
    print("double_plus_one(20) with host_double in Python =", program.double_plus_one(20))


if __name__ == "__main__":
    main()
