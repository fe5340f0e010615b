"""Python callables as host functions of the process.

The runtime reaches the host through three entry points installed once per process: call,
retain and release. This module installs its own (so the host's functions talk the wire
format, read and written by the same codec as calls into Lean) and keeps a registry from
host function number to callable, with a count of references: one for the registration
itself while Python passes the function along, one per Lean closure that holds it. A number
leaves the registry, and its callable is dropped, when the count reaches zero.

Only one host can be installed in a process: a process that uses this package does not also
register C host functions (quarn_host_function_new installs the runtime's C host).
"""
from __future__ import annotations

import itertools
import struct
import sys
import threading
import traceback
from dataclasses import dataclass
from typing import Any, Callable, Dict, Optional, Sequence

from . import types as K
from ._native import HostCall, HostRelease, HostRetain, memory
from .errors import LeanError, QuarnIOError
from .types import Reader, ResultDescription, Type
from .wire import Transfer

_u64 = struct.Struct("<Q")


@dataclass
class _Record:
    function: Callable
    codec: Any
    params: Sequence[Type]
    result: ResultDescription
    name: str
    count: int


class Host:
    """The process's host entry points and its registry of host functions."""

    def __init__(self, library) -> None:
        self.library = library
        self._records: Dict[int, _Record] = {}
        self._lock = threading.Lock()
        self._numbers = itertools.count(1)
        self._installed = False
        self._entry_points: Optional[tuple] = None

    # ---- registry ----------------------------------------------------------------------

    def install(self) -> None:
        """Installs the entry points (once per process; the first registration does it)."""
        with self._lock:
            if self._installed:
                return
            # Kept for the rest of the process: the runtime holds the pointers forever.
            self._entry_points = (HostCall(self._call), HostRetain(self._retain),
                                  HostRelease(self._release))
            self.library.set_host(*self._entry_points)
            self._installed = True

    def _register(self, record: _Record) -> int:
        self.install()
        with self._lock:
            number = next(self._numbers)
            self._records[number] = record
        return number

    def register_function(self, codec, function: Callable, function_type: Type) -> int:
        """Registers a callable passed as a value of `function_type`; the registration holds
        one reference, which the caller hands over or drops (`release`)."""
        result = ResultDescription(K.PURE, function_type.result)
        name = getattr(function, "__qualname__", type(function).__name__)
        return self._register(_Record(function, codec, function_type.params, result, name, 1))

    def register_extern(self, codec, function: Callable, params: Sequence[Type],
                        result: ResultDescription, name: str) -> int:
        """Registers the host's implementation of a Lean extern; it stays for the process."""
        return self._register(_Record(function, codec, tuple(params), result, name, 1))

    def adopt_function(self, number: int) -> Callable:
        """The callable of a host function number read from bytes that carried a reference."""
        with self._lock:
            record = self._records.get(number)
        if record is None:
            raise K.WireError(f"host function {number} is not registered")
        self._release(number)
        return record.function

    def live_functions(self) -> int:
        """The number of host functions registered now."""
        with self._lock:
            return len(self._records)

    def finish(self, transfer: Transfer, delivered: bool) -> None:
        """Ends a transfer: a borrowing receiver took its own references, so the ones the
        transfer registered are dropped; a receiver that never got the bytes leaves the
        cloned handles and the registrations to undo."""
        if not transfer.adopt or not delivered:
            for number in transfer.registered:
                self._release(number)
        if transfer.adopt and not delivered:
            for number in transfer.cloned:
                self.library.handle_release(number)
        transfer.registered.clear()
        transfer.cloned.clear()

    # ---- entry points (called by the runtime, on any thread running Lean code) -------------

    def _retain(self, number: int) -> None:
        with self._lock:
            record = self._records.get(number)
            if record is not None:
                record.count += 1
        if record is None:
            self._die(f"host function {number} is retained but not registered")

    def _release(self, number: int) -> None:
        with self._lock:
            record = self._records.get(number)
            if record is not None:
                record.count -= 1
                if record.count == 0:
                    del self._records[number]
        if record is None:
            self._die(f"host function {number} is released more often than it is referenced")

    @staticmethod
    def _die(message: str) -> None:
        # The runtime cannot be told; going on would corrupt the counts.
        sys.stderr.write(f"quarn: {message}\n")
        sys.stderr.flush()
        import os
        os._exit(1)

    def _call(self, number: int, args: int, length: int, output) -> int:
        try:
            status, block = self._run(number, memory[args:args + length] if length else b"")
        except BaseException as error:   # never let an exception unwind into C
            status, block = 1, f"{type(error).__name__}: {error}".encode("utf-8", "replace")
        self.library.fill(output, block)
        return status

    def _run(self, number: int, data: bytes):
        with self._lock:
            record = self._records.get(number)
        if record is None:
            return 1, f"host function {number} is not registered".encode()
        codec = record.codec
        reader = Reader(data)
        try:
            args = [codec.decoder(t)(reader) for t in record.params]
            reader.at_end()
        except K.WireError as error:
            return 1, f"Lean passed malformed arguments to {record.name}: {error}".encode()
        try:
            value = record.function(*args)
        except BaseException as error:
            return self._failure(record, error)
        return self._write(record, value)

    def _write(self, record: _Record, value: Any):
        result = record.result
        transfer = Transfer(adopt=True)
        out = bytearray()
        if result.kind in (K.IO, K.EIO):
            out.append(0)
        try:
            record.codec.encoder(result.value)(out, value, transfer)
        except Exception as error:
            self.finish(transfer, delivered=False)
            return 1, f"{record.name} returned a malformed value: {error}".encode()
        self.finish(transfer, delivered=True)
        return 0, bytes(out)

    def _failure(self, record: _Record, error: BaseException):
        result = record.result
        if result.kind == K.IO:
            # An IO extern's failure is a Lean IO error: the one carried by a QuarnIOError,
            # or a user error made from the message of any other exception.
            handle = 0
            message = str(error) if isinstance(error, QuarnIOError) else (
                f"{type(error).__name__}: {error}")
            if isinstance(error, QuarnIOError) and error.handle is not None \
                    and error.handle.live:
                handle = self.library.handle_clone(error.handle.number)
            text = message.encode("utf-8", "replace")
            return 0, b"\x01" + _u64.pack(handle) + struct.pack("<I", len(text)) + text
        if result.kind == K.EIO and isinstance(error, LeanError):
            transfer = Transfer(adopt=True)
            out = bytearray(b"\x01")
            try:
                record.codec.encoder(result.error)(out, error.value, transfer)
            except Exception as failure:
                self.finish(transfer, delivered=False)
                return 1, f"{record.name} raised a malformed error: {failure}".encode()
            self.finish(transfer, delivered=True)
            return 0, bytes(out)
        # Lean has no way to handle this failure: the runtime ends the process with the
        # message, so the traceback is shown first.
        traceback.print_exception(type(error), error, error.__traceback__, file=sys.stderr)
        sys.stderr.flush()
        return 1, f"{record.name} raised {type(error).__name__}: {error}".encode(
            "utf-8", "replace")
