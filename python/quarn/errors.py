"""Exceptions for the outcomes of calls that are not a result."""
from __future__ import annotations

from typing import Any, Optional

# Error kinds, numbered as the runtime numbers them.
IO_ERROR, LEAN_ERROR_VALUE, FAILURE = 0, 1, 2
# Status codes of calls.
OK, MALFORMED, FAILED, NOT_LIVE = 0, 1, 2, 3


class QuarnError(Exception):
    """A call into the program did not produce its result. `kind` is IO_ERROR,
    LEAN_ERROR_VALUE or FAILURE; `status` the status code the call ended with."""

    kind: int = FAILURE
    status: int = MALFORMED

    def __init__(self, message: str) -> None:
        super().__init__(message)
        self.message = message


class QuarnIOError(QuarnError):
    """The Lean function raised an IO error. `handle` holds the Lean IO error object (an
    `Opaque`, released with the exception or by `handle.release()`), or None for an error
    made from a message alone."""

    kind = IO_ERROR
    status = FAILED

    def __init__(self, message: str, handle: Optional[Any] = None) -> None:
        super().__init__(message)
        self.handle = handle


class LeanError(QuarnError):
    """The Lean function raised an error value (an EIO function's error type); `value` is
    that value in Python form. Raise it from a host function of an EIO extern to hand
    Lean an error value."""

    kind = LEAN_ERROR_VALUE
    status = FAILED

    def __init__(self, value: Any) -> None:
        message = value if isinstance(value, str) else "a Lean error value (see quarn_error_value)"
        super().__init__(message)
        self.value = value


class QuarnMalformed(QuarnError):
    """The call was refused at the boundary: the program could not read what it was given."""

    kind = FAILURE
    status = MALFORMED


class QuarnNotLive(QuarnError):
    """The async program's resumption was resumed or cancelled already."""

    kind = FAILURE
    status = NOT_LIVE


def error_for_status(status: int, message: str) -> QuarnError:
    if status == NOT_LIVE:
        return QuarnNotLive(message)
    if status == MALFORMED:
        return QuarnMalformed(message)
    return QuarnError(f"status {status}: {message}")
