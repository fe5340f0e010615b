#!/usr/bin/env python3
"""A call of the program's add(Nat, Nat) through the package, against a plain ctypes call
of the runtime's C function that adds two small natural numbers, in the same run.

usage: bench_call.py [--profile] [PROGRAM [RUNTIME]]  (default: $QUARN_PROGRAM, $QUARN_RUNTIME)
"""
import cProfile
import ctypes
import os
import pstats
import sys
import timeit

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import quarn  # noqa: E402
from quarn._native import output_buffer  # noqa: E402

ROUNDS = 100_000
REPEATS = 7


def best_ns(*statements, rounds=ROUNDS):
    """The best time of each statement in ns, measured in turns so that a busy moment of
    the machine weighs on all of them alike."""
    best = [float("inf")] * len(statements)
    for _ in range(REPEATS):
        for i, statement in enumerate(statements):
            best[i] = min(best[i], timeit.timeit(statement, number=rounds) / rounds * 1e9)
    return best


def main() -> None:
    args = [a for a in sys.argv[1:] if a != "--profile"]
    program_path = args[0] if args else os.environ["QUARN_PROGRAM"]
    program = quarn.load(program_path, args[1] if len(args) > 1 else None)
    add = program.add
    assert add(20, 22) == 42

    # The peer: the runtime's own Nat addition on boxed small numbers (2n + 1), called
    # straight through ctypes with two integers.
    nat_add = program.library.dll.quarn_lean_nat_add
    nat_add.restype = ctypes.c_uint64
    nat_add.argtypes = [ctypes.c_uint64, ctypes.c_uint64]
    assert nat_add(2 * 20 + 1, 2 * 22 + 1) >> 1 == 42

    if "--profile" in sys.argv:
        profile = cProfile.Profile()
        profile.enable()
        for i in range(ROUNDS):
            add(i, 22)
        profile.disable()
        pstats.Stats(profile).sort_stats("tottime").print_stats(12)
        return

    # The part of a call that is not Python's: the generated entry point on a prebuilt
    # argument block, and the release of its result buffer.
    bound = program.function("add")._plain
    block = bound.head + bound._codec.piece_encoder(quarn.T.Nat)(20) * 2
    entry, free, pointer = bound._entry, bound._free, output_buffer()[1]

    def entry_only() -> None:
        entry(block, len(block), pointer)
        free(pointer)

    package, plain, floor = best_ns(lambda: add(20, 22), lambda: nat_add(41, 45) >> 1,
                                    entry_only)
    print(f"add(Nat, Nat) through quarn:   {package:8.0f} ns per call")
    print(f"  of which the entry point:    {floor:8.0f} ns (block prebuilt, buffer freed)")
    print(f"plain ctypes call of C add:    {plain:8.0f} ns per call")
    print(f"ratio:                         {package / plain:8.2f}x (goal: at most 3x)")


if __name__ == "__main__":
    main()
