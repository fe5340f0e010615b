"""Loading a compiled program and calling its functions."""
from __future__ import annotations

import ctypes
import inspect
import struct
from types import SimpleNamespace
from typing import (Any, Awaitable, Callable, Dict, Generator, Optional, Sequence, Tuple,
                    Union)

from . import types as K
from ._native import Buffer, Library, entry_point, memory, output_buffer, output_buffers
from .errors import (OK, LeanError, QuarnError, QuarnIOError,
                     QuarnMalformed, error_for_status)
from .host import Host
from .types import Reader, Signature, Type, WireError
from .wire import Codec, InductiveValue, LeanClosure, Opaque, Transfer, make_classes

_u32 = struct.Struct("<I")

# Stands for an argument not given.
_ABSENT = object()



class Runtime:
    """The loaded runtime library and the process's host entry points. One per process:
    `Runtime.get()` returns it, loading the library on first use."""

    _instance: Optional["Runtime"] = None

    def __init__(self, path: Optional[str] = None) -> None:
        self.library = Library(path)
        self.host = Host(self.library)
        self._initialized = False

    @classmethod
    def get(cls, path: Optional[str] = None) -> "Runtime":
        if cls._instance is None:
            cls._instance = Runtime(path)
        return cls._instance

    def end_initialization(self) -> None:
        """Ends the program's initialization (starts the task manager), once."""
        if not self._initialized and self.library.end_initialization is not None:
            self.library.end_initialization()
        self._initialized = True

    def outstanding_resumptions(self) -> int:
        """The number of async programs waiting for an answer in the process."""
        return self.library.async_outstanding()


class _KitFunction(ctypes.Structure):
    _fields_ = [("name", ctypes.c_char_p), ("entry", ctypes.c_void_p),
                ("signature", ctypes.c_void_p), ("signature_length", ctypes.c_size_t)]


class _KitExtern(ctypes.Structure):
    _fields_ = [("name", ctypes.c_char_p), ("signature", ctypes.c_void_p),
                ("signature_length", ctypes.c_size_t)]


FunctionLookup = Callable[[str], Optional[Tuple[int, bytes]]]


def named_function_table(dll: ctypes.CDLL, symbol: str) -> FunctionLookup:
    """Looks functions up through `const F *symbol(const char *name)` where F is
    {name, entry point, signature, signature length}, as the test kit's program exports."""
    lookup = getattr(dll, symbol)
    lookup.restype = ctypes.POINTER(_KitFunction)
    lookup.argtypes = [ctypes.c_char_p]

    def find(name: str) -> Optional[Tuple[int, bytes]]:
        found = lookup(name.encode("utf-8"))
        if not found:
            return None
        record = found.contents
        return record.entry, ctypes.string_at(record.signature, record.signature_length)
    return find


def load(program: str, runtime: Optional[str] = None, *,
         table_symbol: str = "kit_program_table_bytes",
         functions: Union[str, FunctionLookup] = "kit_program_function_named",
         init_symbols: Sequence[str] = ("kit_program_types",)) -> "Program":
    """Loads the runtime (path `runtime`, else $QUARN_RUNTIME, else the library search path)
    and the compiled program at `program`.

    `table_symbol` names `const uint8_t *f(size_t *length)` returning the type table's
    bytes. `functions` is the name of a lookup function as `named_function_table` reads it,
    or any callable from a function name to (entry point address, signature bytes).
    `init_symbols` are the program's start-up functions, called once if it has them."""
    rt = Runtime.get(runtime)
    dll = ctypes.CDLL(program)
    for symbol in init_symbols:
        start = getattr(dll, symbol, None)
        if start is not None:
            start.restype = ctypes.c_void_p
            start.argtypes = []
            start()
    rt.end_initialization()
    table_bytes = getattr(dll, table_symbol)
    table_bytes.restype = ctypes.c_void_p
    table_bytes.argtypes = [ctypes.POINTER(ctypes.c_size_t)]
    length = ctypes.c_size_t()
    address = table_bytes(ctypes.byref(length))
    table = ctypes.string_at(address, length.value)
    lookup = named_function_table(dll, functions) if isinstance(functions, str) else functions
    return Program(rt, table, lookup, dll)


class Program:
    """A compiled program: its type table, its types as Python classes (`types`), and its
    functions as attributes or through `function(name)`."""

    def __init__(self, runtime: Runtime, table: bytes, lookup: FunctionLookup,
                 dll: Optional[ctypes.CDLL] = None) -> None:
        self.runtime = runtime
        self.library = runtime.library
        self.dll = dll
        self.definitions = K.read_type_table(table)
        # The runtime's own copy of the table, which closure calls name.
        self.table = self.library.types_load(table, len(table))
        self.classes = make_classes(self.definitions)
        self.codec = Codec(self.library, self.definitions, self.classes, runtime.host,
                           self._call_closure)
        self._lookup = lookup
        self._functions: Dict[str, Function] = {}
        self.types = SimpleNamespace(**{cls.__name__: cls for cls in self.classes.values()})

    # ---- types -----------------------------------------------------------------------

    def definition(self, name: str) -> K.TypeDefinition:
        """The type definition of that name (the full name or its last component)."""
        for d in self.definitions:
            if d.name == name or d.name.rsplit(".", 1)[-1] == name:
                return d
        raise KeyError(f"the program has no type {name}")

    def type(self, name: str, *args: Type) -> Type:
        """The type expression of the program's type `name` applied to `args`."""
        d = self.definition(name)
        if len(args) != d.param_count:
            raise TypeError(f"{d.name} takes {d.param_count} type arguments, not {len(args)}")
        return K.T.Inductive(d.index, *args)

    # ---- functions -------------------------------------------------------------------

    def function(self, name: str) -> "Function":
        found = self._functions.get(name)
        if found is None:
            entry = self._lookup(name)
            if entry is None:
                raise AttributeError(f"the program has no function {name!r}")
            found = Function(self, name, entry[0], entry[1])
            self._functions[name] = found
        return found

    def __getattr__(self, name: str) -> Any:
        """`program.name`: the function's call itself when it is not generic (kept as an
        attribute, so later look-ups cost nothing), else the Function to instantiate."""
        if name.startswith("_"):
            raise AttributeError(name)
        function = self.function(name)
        target = function._plain.call if function._plain is not None else function
        self.__dict__[name] = target
        return target

    def bind_extern(self, name: str, function: Callable,
                    signature: Optional[Union[bytes, Signature]] = None, *,
                    lookup: str = "kit_program_extern_named",
                    binder: str = "kit_program_bind_extern") -> int:
        """Implements the Lean extern `name` with a Python callable and returns its host
        function number. The extern's generated signature is `signature`, or else the one
        the program gives through `const E *lookup(const char *name)`, E being {name,
        signature, signature length}. The program learns the number through
        `void binder(const char *name, uint64_t number)`. The callable gets the arguments
        in Python form; for an IO extern an exception becomes a Lean IO error (a user error
        with the exception's text, or the Lean error a QuarnIOError carries), for an EIO
        extern a raised LeanError becomes the Lean error value. The binding lasts for the
        process."""
        if signature is None:
            signature = self._extern_signature(name, lookup)
        if isinstance(signature, (bytes, bytearray)):
            signature = K.read_signature(bytes(signature))
        if signature.type_params:
            raise ValueError("a host extern's generated signature has type parameters")
        if signature.result.kind == K.ASYNC:
            raise ValueError("a host function does not return an async program")
        number = self.runtime.host.register_extern(self.codec, function, signature.params,
                                                   signature.result, name)
        bind = getattr(self.dll, binder)
        bind.restype = None
        bind.argtypes = [ctypes.c_char_p, ctypes.c_uint64]
        bind(name.encode("utf-8"), number)
        return number

    def _extern_signature(self, name: str, lookup: str) -> bytes:
        find = getattr(self.dll, lookup)
        find.restype = ctypes.POINTER(_KitExtern)
        find.argtypes = [ctypes.c_char_p]
        found = find(name.encode("utf-8"))
        if not found:
            raise KeyError(f"the program has no extern {name!r}")
        record = found.contents
        return ctypes.string_at(record.signature, record.signature_length)

    def _call_closure(self, closure: LeanClosure, args: Tuple[Any, ...]) -> Any:
        t = closure.type
        params = t.params
        if len(args) != len(params):
            raise TypeError(f"{len(args)} arguments for {len(params)} parameters")
        codec = self.codec
        transfer = Transfer(False)
        out = bytearray()
        try:
            for p, a in zip(params, args):
                codec.encoder(p)(out, a, transfer)
            buffer = Buffer()
            status = self.library.closure_call(self.table, closure.checked_number(),
                                               t.encoding, len(t.encoding), bytes(out),
                                               len(out), ctypes.byref(buffer))
            data = self.library.take(buffer)
        finally:
            self.runtime.host.finish(transfer, delivered=True)
        if status != OK:
            raise QuarnMalformed(data.decode("utf-8", "replace"))
        return _decode_exact(codec.decoder(t.result), data)


def _decode_exact(decode: Callable[[Reader], Any], data: bytes) -> Any:
    reader = Reader(data)
    try:
        value = decode(reader)
        reader.at_end()
    except WireError as error:
        raise QuarnError(f"the runtime produced a malformed result: {error}") from None
    return value


class Function:
    """A function of the program. A generic one is first given its type arguments:
    `f[T.Nat](xs)` or `f.instantiate(T.Nat)(xs)`. Calling a function that returns an async
    program gives a generator that yields its operations (see `AsyncProgram`)."""

    def __init__(self, program: Program, name: str, entry: int, signature: bytes) -> None:
        self.program = program
        self.name = name
        self.signature: Signature = K.read_signature(signature)
        self.entry = entry_point(entry)
        self._bound: Dict[Tuple[Type, ...], BoundFunction] = {}
        if self.signature.type_params == 0:
            self._plain: Optional[BoundFunction] = self.instantiate()
        else:
            self._plain = None

    def instantiate(self, *type_args: Type) -> "BoundFunction":
        bound = self._bound.get(type_args)
        if bound is None:
            if len(type_args) != self.signature.type_params:
                raise TypeError(f"{len(type_args)} type arguments for "
                                f"{self.signature.type_params} type parameters")
            bound = BoundFunction(self, type_args)
            self._bound[type_args] = bound
        return bound

    def __getitem__(self, type_args: Union[Type, Tuple[Type, ...]]) -> "BoundFunction":
        if isinstance(type_args, Type):
            type_args = (type_args,)
        return self.instantiate(*type_args)

    def __call__(self, *args: Any) -> Any:
        if self._plain is None:
            raise TypeError(f"{self.name} is generic: give its type arguments first, "
                            f"{self.name}[T.Nat](...)")
        return self._plain.call(*args)

    def __repr__(self) -> str:
        return f"<quarn function {self.name}>"


class BoundFunction:
    """A function with its type arguments: argument encoders and result decoders built
    once, so that a call encodes its arguments, calls the entry point and decodes."""

    def __init__(self, function: Function, type_args: Tuple[Type, ...]) -> None:
        program = function.program
        codec = program.codec
        signature = function.signature
        self.function = function
        self.name = function.name
        params = [p.substitute(type_args) for p in signature.params]
        self.params = params
        self.result = signature.result.substitute(type_args)
        self.encoders = [codec.encoder(p) for p in params]
        self.head = _u32.pack(len(type_args)) + b"".join(t.encoding for t in type_args)
        self.carries_functions = any(_holds_function(p, program.definitions) for p in params)
        self._codec = codec
        self._entry = function.entry
        self._library = program.library
        self._free = program.library.buffer_free_quick
        self._host = program.runtime.host
        self._program = program
        kind = self.result.kind
        self._value = codec.decoder(self.result.value)
        self._whole = _WHOLE_DECODERS.get(self.result.value) if kind == K.PURE else None
        self._error = codec.decoder(self.result.error) if kind == K.EIO else None
        if kind == K.ASYNC:
            self._operation = codec.decoder(K.T.Inductive(self.result.operations))
            self._answers = [codec.encoder(a) for a in self.result.answers]
        self.call = self._make_call()

    def __call__(self, *args: Any) -> Any:
        return self.call(*args)

    def _make_call(self) -> Callable[..., Any]:
        """The call, as a closure over everything it needs: encode the arguments after the
        type arguments, call the entry point, take the result block, decode it."""
        encoders = tuple(self.encoders)
        count = len(encoders)
        head = self.head
        name = self.name
        entry = self._entry
        free = self._free
        outputs = output_buffers
        host = self._host
        carries_functions = self.carries_functions
        kind = self.result.kind
        whole = self._whole
        value_decoder = self._value
        finish = self._finish
        # Results read straight from a table when they are small Nats.
        small_results = _SMALL_NAT_VALUES if whole is _whole_nat else {}

        pieces = tuple(self._codec.piece_encoder(p) for p in self.params)

        def finish_call(status: int, buffer: Buffer, pointer: ctypes.c_void_p) -> Any:
            address = buffer.data
            if address:
                data = memory[address:address + buffer.length]
                free(pointer)
            else:
                data = b""
            if status != 0:
                raise QuarnMalformed(data.decode("utf-8", "replace"))
            if whole is not None:
                return whole(data)
            if kind == K.PURE:
                return _decode_exact(value_decoder, data)
            return finish(data)

        if not carries_functions and count == 2:
            # The common shape gets its own body: no loop, each argument one piece.
            first, second = pieces

            def call(a: Any = _ABSENT, b: Any = _ABSENT, *more: Any) -> Any:
                if b is _ABSENT or more:
                    given = (a is not _ABSENT) + (b is not _ABSENT) + len(more)
                    raise TypeError(f"{name}: {given} arguments for 2 parameters")
                block = head + first(a) + second(b)
                try:
                    buffer, pointer = outputs.pair
                except AttributeError:
                    buffer, pointer = output_buffer()
                status = entry(block, len(block), pointer)
                address = buffer.data
                if status == 0 and whole is not None and address:
                    data = memory[address:address + buffer.length]
                    free(pointer)
                    small = small_results.get(data)
                    return small if small is not None else whole(data)
                return finish_call(status, buffer, pointer)
        elif not carries_functions:
            def call(*args: Any) -> Any:
                if len(args) != count:
                    raise TypeError(f"{name}: {len(args)} arguments for {count} parameters")
                block = head + b"".join([piece(value) for piece, value in zip(pieces, args)])
                buffer, pointer = output_buffer()
                return finish_call(entry(block, len(block), pointer), buffer, pointer)
        else:
            def call(*args: Any) -> Any:
                if len(args) != count:
                    raise TypeError(f"{name}: {len(args)} arguments for {count} parameters")
                out = bytearray(head)
                transfer = Transfer(False)
                buffer, pointer = output_buffer()
                try:
                    for encode, value in zip(encoders, args):
                        encode(out, value, transfer)
                    status = entry(bytes(out), len(out), pointer)
                finally:
                    host.finish(transfer, delivered=True)
                return finish_call(status, buffer, pointer)
        call.__name__ = call.__qualname__ = name
        call.function = self   # type: ignore[attr-defined]
        return call

    def _finish(self, data: bytes) -> Any:
        if self.result.kind == K.ASYNC:
            return AsyncProgram(self, data)
        return self._read_fallible(data)

    def _read_fallible(self, data: bytes) -> Any:
        reader = Reader(data)
        try:
            tag = reader.u8()
            if tag == 0:
                value = self._value(reader)
                reader.at_end()
                return value
            if tag != 1:
                what = "IO" if self.result.kind == K.IO else "EIO"
                raise WireError(f"invalid {what} result tag {tag}")
            if self.result.kind == K.IO:
                handle = Opaque(self._library, reader.u64())
                message = reader.take(reader.count()).decode("utf-8", "replace")
                reader.at_end()
                error: QuarnError = QuarnIOError(message, handle)
            else:
                value = self._error(reader)
                reader.at_end()
                error = LeanError(value)
        except WireError as failure:
            raise QuarnError(f"the runtime produced a malformed result: {failure}") from None
        raise error

    def read_step(self, data: bytes):
        """(done, value, resumption, answer encoder) of an async step's bytes."""
        reader = Reader(data)
        try:
            kind = reader.u8()
            if kind == 0:
                value = self._value(reader)
                reader.at_end()
                return True, value, 0, None
            if kind != 1:
                raise WireError(f"invalid step kind {kind}")
            operation = self._operation(reader)
            resumption = reader.u64()
            reader.at_end()
        except WireError as error:
            raise QuarnError(f"the runtime produced a malformed step: {error}") from None
        index = operation._constructor_index if isinstance(operation, InductiveValue) else 0
        return False, operation, resumption, self._answers[index]


def _whole_nat(data: bytes) -> int:
    """A result block that is exactly one Nat, read in one go."""
    small = _SMALL_NAT_VALUES.get(data)
    if small is not None:
        return small
    if len(data) < 4 or _u32.unpack_from(data)[0] != len(data) - 4 or \
            (len(data) > 4 and data[-1] == 0):
        raise QuarnError(f"the runtime produced a malformed result: {data.hex()} is not a Nat")
    return int.from_bytes(data[4:], "little")


_SMALL_NAT_VALUES = {_u32.pack(1) + bytes((n,)): n for n in range(1, 256)}
_SMALL_NAT_VALUES[_u32.pack(0)] = 0

# Pure results of these types skip the cursor.
_WHOLE_DECODERS = {K.T.Nat: _whole_nat}


def _holds_function(t: Type, definitions, seen=None) -> bool:
    """Whether values of `t` can hold a function (and so host functions to register)."""
    if t.kind == K.FUNCTION:
        return True
    if t.kind == K.INDUCTIVE:
        seen = seen or set()
        if t in seen or t.index >= len(definitions):
            return False
        seen.add(t)
        d = definitions[t.index]
        return any(_holds_function(f.type.substitute(t.parts), definitions, seen)
                   for c in d.constructors for f in c.fields)
    return any(_holds_function(p, definitions, seen) for p in t.parts)


class AsyncProgram:
    """A running async program, driven as a generator: each `send(answer)` (or the first
    `next()`) returns the next operation the program asks the host to perform, and the
    program's result ends it (StopIteration.value, or the value of `yield from`). Closing
    it, or dropping it, while it waits cancels the program."""

    def __init__(self, function: BoundFunction, first_step: bytes) -> None:
        self._function = function
        self._library = function._library
        self.resumption = 0
        self._generator = self._drive(first_step)
        # Run to the first operation now: from here on the generator waits inside its loop,
        # so that closing or dropping it cancels the program even before the host looked.
        self._first: Optional[Tuple[bool, Any]] = None
        try:
            self._first = (False, next(self._generator))
        except StopIteration as stop:
            self._first = (True, stop.value)

    def _drive(self, data: bytes) -> Generator[Any, Any, Any]:
        function = self._function
        library = self._library
        done, value, resumption, encode_answer = function.read_step(data)
        while not done:
            self.resumption = resumption
            transfer = Transfer(True)
            try:
                answer = yield value
                out = bytearray()
                encode_answer(out, answer, transfer)
            except BaseException:
                function._host.finish(transfer, delivered=False)
                library.async_cancel(resumption)
                self.resumption = 0
                raise
            buffer = Buffer()
            status = library.async_resume(resumption, bytes(out), len(out),
                                          ctypes.byref(buffer))
            data = library.take(buffer)
            self.resumption = 0
            if status != OK:
                raise error_for_status(status, data.decode("utf-8", "replace"))
            done, value, resumption, encode_answer = function.read_step(data)
        return value

    def _take_first(self) -> Any:
        done, value = self._first
        self._first = None
        if done:
            raise StopIteration(value)
        return value

    def __iter__(self):
        return self

    def __next__(self) -> Any:
        if self._first is not None:
            return self._take_first()
        return next(self._generator)

    def send(self, answer: Any) -> Any:
        if self._first is not None:
            if answer is not None:
                raise TypeError("the program's first operation was not taken yet: "
                                "call next() first")
            return self._take_first()
        return self._generator.send(answer)

    def throw(self, *args: Any) -> Any:
        self._first = None
        return self._generator.throw(*args)

    def close(self) -> None:
        self._first = None
        self._generator.close()

    def run(self, answer: Callable[[Any], Any]) -> Any:
        """Runs the program to its end, answering each operation with `answer(operation)`."""
        try:
            operation = next(self)
            while True:
                operation = self.send(answer(operation))
        except StopIteration as stop:
            return stop.value

    async def run_async(self, answer: Callable[[Any], Union[Any, Awaitable[Any]]]) -> Any:
        """Runs the program to its end in a coroutine: each operation is answered by
        `answer(operation)`, awaited when it returns an awaitable. Cancelling the coroutine
        cancels the program."""
        try:
            operation = next(self)
            while True:
                reply = answer(operation)
                if inspect.isawaitable(reply):
                    reply = await reply
                operation = self.send(reply)
        except StopIteration as stop:
            return stop.value
        except BaseException:
            self.close()
            raise
