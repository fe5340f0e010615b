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
