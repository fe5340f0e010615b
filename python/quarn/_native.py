"""The ctypes face of the runtime library: the few C functions the Python host calls.

Values never cross as host-value records here: the host builds argument blocks and reads
result blocks in the wire format itself (see wire.py), so a call into the program is one
call of its generated entry point. What remains in C is the handle table, buffers, async
resumptions, closure calls and the host's entry points.
"""
from __future__ import annotations

import ctypes
import os
import threading
from typing import Optional, Tuple


class Buffer(ctypes.Structure):
    """quarn_buffer: bytes handed over by the runtime; empty while `data` is null."""

    _fields_ = [("data", ctypes.c_void_p), ("length", ctypes.c_size_t),
                ("capacity", ctypes.c_size_t)]


BufferPointer = ctypes.POINTER(Buffer)

# int call(uint64_t function, const uint8_t *args, size_t length, quarn_buffer *output)
HostCall = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_uint64, ctypes.c_void_p, ctypes.c_size_t,
                            BufferPointer)
HostRetain = ctypes.CFUNCTYPE(None, ctypes.c_uint64)
HostRelease = ctypes.CFUNCTYPE(None, ctypes.c_uint64)

RUNTIME_VARIABLE = "QUARN_RUNTIME"
RUNTIME_NAME = "libquarn-runtime.so"


class Library:
    """The loaded runtime with the prototypes of the functions the host uses."""

    def __init__(self, path: Optional[str] = None) -> None:
        path = path or os.environ.get(RUNTIME_VARIABLE) or RUNTIME_NAME
        # Global, so that a compiled program loaded afterwards resolves its quarn_ symbols here.
        self.dll = ctypes.CDLL(path, mode=ctypes.RTLD_GLOBAL)
        self.path = path
        d = self.dll
        self.types_load = self._fn("quarn_types_load", ctypes.c_void_p,
                                   ctypes.c_char_p, ctypes.c_size_t)
        self.buffer_alloc = self._fn("quarn_buffer_alloc", ctypes.c_void_p, BufferPointer,
                                     ctypes.c_size_t)
        self.buffer_free = self._fn("quarn_buffer_free", None, BufferPointer)
        self.handle_clone = self._fn("quarn_handle_clone", ctypes.c_uint64, ctypes.c_uint64)
        self.handle_release = self._fn("quarn_handle_release", None, ctypes.c_uint64)
        self.async_resume = self._fn("quarn_async_resume", ctypes.c_int, ctypes.c_uint64,
                                     ctypes.c_char_p, ctypes.c_size_t, BufferPointer)
        self.async_cancel = self._fn("quarn_async_cancel", ctypes.c_int, ctypes.c_uint64)
        self.async_outstanding = self._fn("quarn_async_outstanding", ctypes.c_size_t)
        self.closure_call = self._fn("quarn_closure_call", ctypes.c_int, ctypes.c_void_p,
                                     ctypes.c_uint64, ctypes.c_char_p, ctypes.c_size_t,
                                     ctypes.c_char_p, ctypes.c_size_t, BufferPointer)
        self.set_host = self._fn("quarn_set_host", None, HostCall, HostRetain, HostRelease)
        end = getattr(d, "quarn_end_initialization", None)
        self.end_initialization = end
        if end is not None:
            end.restype = None
            end.argtypes = []

        # The hot path of a call: the entry point and quarn_buffer_free are called without
        # declared argument types (ctypes then skips converting them), and quarn_buffer_free,
        # which never calls back into Python, without letting go of the interpreter lock.
        quick = ctypes.PyDLL(self.path, handle=d._handle)
        self.buffer_free_quick = quick.quarn_buffer_free
        self.buffer_free_quick.restype = None

    def _fn(self, name: str, restype, *argtypes):
        try:
            function = getattr(self.dll, name)
        except AttributeError:
            return _missing(name, self.path)
        function.restype = restype
        function.argtypes = list(argtypes)
        return function

    def take(self, buffer: Buffer) -> bytes:
        """Copies out and frees the bytes of a filled buffer."""
        if not buffer.data:
            return b""
        data = ctypes.string_at(buffer.data, buffer.length)
        self.buffer_free(ctypes.byref(buffer))
        return data

    def fill(self, buffer_pointer, data: bytes) -> None:
        """Fills the empty buffer the runtime handed over with `data`."""
        target = self.buffer_alloc(buffer_pointer, len(data))
        if data:
            ctypes.memmove(target, data, len(data))


# The address space as one array of bytes: `memory[address:address + length]` copies
# `length` bytes at `address` into a bytes object, without a foreign call.
memory = (ctypes.c_char * (1 << 62)).from_address(0)


def entry_point(address: int):
    """A generated entry point, called as entry(block: bytes, length: int, output), `output`
    being a c_void_p holding the address of a Buffer."""
    entry = ctypes.CFUNCTYPE(ctypes.c_int)(address)
    entry.argtypes = None
    return entry


# Each thread's output record for entry points, reused from call to call (it is empty again
# after every call): `output_buffers.pair` is (the record, a c_void_p of its address).
output_buffers = threading.local()


def output_buffer() -> Tuple[Buffer, ctypes.c_void_p]:
    """This thread's output record and its address."""
    try:
        return output_buffers.pair
    except AttributeError:
        buffer = Buffer()
        output_buffers.pair = (buffer, ctypes.c_void_p(ctypes.addressof(buffer)))
        return output_buffers.pair


def _missing(name: str, path: str):
    """Stands in for a function an older runtime lacks: fails when it is used."""

    def missing(*args):
        raise NotImplementedError(f"{path} has no {name}")
    return missing
