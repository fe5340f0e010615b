"""Nothing is left behind by many calls: buffers, handles, resumptions, host functions."""
import gc
import os

import pytest

import quarn

CALLS = 100_000


def resident_kib():
    with open(f"/proc/{os.getpid()}/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024


def churn(program, rounds):
    Point = program.types.Point
    for i in range(rounds):
        kind = i % 9
        if kind == 0:
            assert program.add(i, 2**65) == i + 2**65
        elif kind == 1:
            assert program.greet("x" * 40) == "Hello, " + "x" * 40 + "!"
        elif kind == 2:
            with pytest.raises(quarn.QuarnIOError):
                program.greet("")   # its handle goes with the exception
        elif kind == 3:
            with pytest.raises(quarn.LeanError):
                program.parse_nat("no")
        elif kind == 4:
            assert program.unseal(program.seal(i)) == i
        elif kind == 5:
            assert program.make_adder(i)(1) == i + 1
        elif kind == 6:
            assert program.apply_answer(i).run(lambda op: lambda n: n + 1) == i + 1
        elif kind == 7:
            assert program.point_sum(Point.mk(i, i)) == 2 * i
        else:
            assert program.apply_twice(lambda n: n + i, 1) == 1 + 2 * i


def test_no_leak_over_many_calls(program, runtime):
    churn(program, 20_000)   # warm up allocators and caches
    gc.collect()
    before = resident_kib()
    resumptions = runtime.outstanding_resumptions()
    functions = runtime.host.live_functions()
    churn(program, CALLS)
    gc.collect()
    grown = resident_kib() - before
    assert runtime.outstanding_resumptions() == resumptions
    assert runtime.host.live_functions() == functions
    # A leak of one buffer, handle or error per call would be several MiB here.
    assert grown < 2048, f"resident memory grew by {grown} KiB over {CALLS} calls"
