"""Python callables called from Lean."""
import os
import subprocess
import sys
import textwrap

import quarn


def test_a_callable_sees_lean_values_and_answers_with_python_ones(program, runtime):
    seen = []

    def triple(n):
        seen.append(n)
        return 3 * n

    assert program.apply_answer(2**70).run(lambda op: triple) == 3 * 2**70
    assert seen == [2**70]


def test_a_callable_that_raises_ends_the_process_with_its_message(program):
    # Lean code has no way to handle a failing pure function: the runtime ends the process,
    # naming the exception, after the host printed its traceback.
    script = textwrap.dedent("""
        import os, quarn
        program = quarn.load(os.environ["QUARN_PROGRAM"])

        def broken(n):
            raise RuntimeError("no answer for " + str(n))

        program.apply_answer(6).run(lambda op: broken)
        print("still running")
    """)
    here = os.path.dirname(os.path.abspath(__file__))
    env = dict(os.environ, PYTHONPATH=os.path.join(here, ".."))
    done = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True,
                          text=True, timeout=60)
    assert done.returncode != 0
    assert "still running" not in done.stdout
    assert "RuntimeError: no answer for 6" in done.stderr
    assert "a host function passed to Lean failed: broken raised RuntimeError: no answer for 6" \
        in done.stderr


def test_a_callable_as_an_argument_of_a_call(program, runtime):
    if not hasattr(program.dll, "apply_twice_entry") and not _has(program, "apply_twice"):
        import pytest
        pytest.skip("the stand-in program has no apply_twice")
    before = runtime.host.live_functions()
    assert program.apply_twice(lambda n: n + 1, 5) == 7
    assert program.apply_twice(lambda n: n * n, 2**40) == 2**160
    # Lean's references went with its closures, the call's own after the call.
    assert runtime.host.live_functions() == before
    adder = program.make_adder(3)
    assert program.apply_twice(adder, 1) == 7
    assert adder(0) == 3


def _has(program, name):
    try:
        program.function(name)
        return True
    except AttributeError:
        return False


class Behaviour:
    """What the bound externs do, changed by each test."""
    double = staticmethod(lambda n: 2 * n)
    log = staticmethod(lambda line: None)
    check = staticmethod(lambda n: n)


def bound(program):
    import pytest
    if not hasattr(program.dll, "kit_program_extern_named"):
        pytest.skip("the stand-in program has no externs")
    Behaviour.double = staticmethod(lambda n: 2 * n)
    Behaviour.log = staticmethod(lambda line: None)
    Behaviour.check = staticmethod(lambda n: n)
    if not getattr(program, "_externs_bound", False):
        program.bind_extern("host_double", lambda n: Behaviour.double(n))
        program.bind_extern("host_log", lambda line: Behaviour.log(line))
        program.bind_extern("host_check", lambda n: Behaviour.check(n))
        program._externs_bound = True
    return program


def test_externs_implemented_in_python(program):
    program = bound(program)
    assert program.double_plus_one(20) == 41
    lines = []
    Behaviour.log = staticmethod(lines.append)
    assert program.log_line("héllo") is None
    assert lines == ["héllo"]
    assert program.check(5) == 5


def test_failures_of_externs_reach_lean_as_its_errors(program):
    program = bound(program)

    def refuse(line):
        raise PermissionError("no logging today")

    Behaviour.log = staticmethod(refuse)
    try:
        program.log_line("x")
    except quarn.QuarnIOError as error:
        assert "PermissionError: no logging today" in error.message
    else:
        raise AssertionError("the IO error did not come back")

    def too_big(n):
        raise quarn.LeanError(f"{n} is too big")

    Behaviour.check = staticmethod(too_big)
    try:
        program.check(7)
    except quarn.LeanError as error:
        assert error.value == "7 is too big"
    else:
        raise AssertionError("the error value did not come back")
