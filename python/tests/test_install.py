"""The package installs into a fresh virtual environment, offline, and works from there."""
import os
import subprocess
import sys

import pytest

PACKAGE = os.path.join(os.path.dirname(__file__), "..")


def test_installs_into_a_fresh_virtual_environment_and_calls_the_program(tmp_path):
    if not os.environ.get("QUARN_RUNTIME") or not os.environ.get("QUARN_PROGRAM"):
        pytest.skip("QUARN_RUNTIME and QUARN_PROGRAM name the libraries to call")
    venv = tmp_path / "venv"
    # The build backend (setuptools) comes from the system: no index is reachable here.
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", str(venv)], check=True)
    python = str(venv / "bin" / "python")
    subprocess.run([python, "-m", "pip", "install", "--quiet", "--no-index", "--no-build-isolation",
                    PACKAGE], check=True, cwd=tmp_path)
    # Run from the temporary folder, so that the package can only come from the venv.
    script = ("import os, quarn\n"
              "print(os.path.dirname(quarn.__file__))\n"
              "print(quarn.load(os.environ['QUARN_PROGRAM']).add(20, 22))\n")
    out = subprocess.run([python, "-c", script], check=True, capture_output=True, text=True,
                         cwd=tmp_path).stdout.split("\n")
    assert out[0].startswith(str(venv))
    assert out[1] == "42"
