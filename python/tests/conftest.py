"""Fixtures: the runtime (QUARN_RUNTIME) and the stand-in compiled program
(QUARN_PROGRAM, the test kit's libquarn_kit_program.so)."""
import os
import sys

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.dirname(__file__))

import quarn  # noqa: E402
from quarn.types import read_type_table  # noqa: E402
from quarn.wire import Codec, make_classes  # noqa: E402


@pytest.fixture(scope="session")
def runtime():
    if not os.environ.get("QUARN_RUNTIME"):
        pytest.skip("QUARN_RUNTIME names no runtime library")
    return quarn.Runtime.get()


@pytest.fixture(scope="session")
def program(runtime):
    path = os.environ.get("QUARN_PROGRAM")
    if not path:
        pytest.skip("QUARN_PROGRAM names no compiled program")
    return quarn.load(path)


def codec_of(table_bytes, runtime=None):
    """A codec over a table built in a test; the runtime, when given, loads the table too,
    so a table the runtime would refuse fails the test."""
    if runtime is not None:
        runtime.library.types_load(table_bytes, len(table_bytes))
    definitions = read_type_table(table_bytes)
    classes = make_classes(definitions)
    return Codec(runtime.library if runtime else None, definitions, classes,
                 runtime.host if runtime else None, None), classes
