"""The wire format of values, written and read in Python, one compiled function per type.

`Codec.encoder(t)` returns `encode(out, value, transfer)` that appends the bytes of `value`
to the bytearray `out`; `Codec.decoder(t)` returns `decode(reader)` that reads one value.
Both are built once per type and cached, so a call pays only for the values themselves.

Handles. Lean closures and opaque Lean objects are numbers of the runtime's handle table,
held here by `LeanClosure` and `Opaque` objects that release their number when they go.
Where the receiving side only borrows the bytes (arguments of calls into Lean) the object's
own number is written; where the receiver takes the bytes over (answers of async programs,
results of host functions) a clone of it is. Python callables become host functions: see
host.py.
"""
from __future__ import annotations

import operator
import struct
import weakref
from typing import Any, Callable, Dict, List, Optional, Sequence, Tuple

from . import types as K
from .types import Reader, Type, TypeDefinition, WireError

_u32 = struct.Struct("<I")
_u64 = struct.Struct("<Q")
_pack_u32 = _u32.pack
_unpack_u32 = _u32.unpack_from

# kind -> (struct format, lowest, highest, name)
_FIXED = {
    K.UINT8: ("<B", 0, 2**8 - 1), K.UINT16: ("<H", 0, 2**16 - 1),
    K.UINT32: ("<I", 0, 2**32 - 1), K.UINT64: ("<Q", 0, 2**64 - 1),
    K.USIZE: ("<Q", 0, 2**64 - 1), K.INT8: ("<b", -2**7, 2**7 - 1),
    K.INT16: ("<h", -2**15, 2**15 - 1), K.INT32: ("<i", -2**31, 2**31 - 1),
    K.INT64: ("<q", -2**63, 2**63 - 1), K.ISIZE: ("<q", -2**63, 2**63 - 1),
}

LENGTH_LIMIT = 2**32

# The bytes of the Nats below 256, which most calls pass.
_SMALL_NATS = [b"\x00\x00\x00\x00"] + [b"\x01\x00\x00\x00" + bytes((n,)) for n in range(1, 256)]


class Some:
    """An Option's some, spelled out where a bare value would be ambiguous: the element of
    an `Option (Option a)` or an `Option Unit` can itself be None."""

    __slots__ = ("value",)

    def __init__(self, value: Any) -> None:
        self.value = value

    def __eq__(self, other: object) -> bool:
        return isinstance(other, Some) and other.value == self.value

    def __hash__(self) -> int:
        return hash(("Some", self.value))

    def __repr__(self) -> str:
        return f"Some({self.value!r})"


class Ok:
    """The value side of an Except."""

    __slots__ = ("value",)

    def __init__(self, value: Any) -> None:
        self.value = value

    def __eq__(self, other: object) -> bool:
        return type(other) is type(self) and other.value == self.value

    def __hash__(self) -> int:
        return hash((type(self).__name__, self.value))

    def __repr__(self) -> str:
        return f"{type(self).__name__}({self.value!r})"


class Err(Ok):
    """The error side of an Except."""

    __slots__ = ()


class Handle:
    """A number of the runtime's handle table, released when this object goes (or at
    `release()`). Two objects never own the same number."""

    __slots__ = ("number", "_finalizer", "__weakref__")

    def __init__(self, library, number: int) -> None:
        self.number = number
        self._finalizer = weakref.finalize(self, library.handle_release, number)

    @property
    def live(self) -> bool:
        return self._finalizer.alive

    def release(self) -> None:
        """Gives the number back now; using the object afterwards raises ValueError."""
        self._finalizer()

    def checked_number(self) -> int:
        if not self._finalizer.alive:
            raise ValueError(f"handle {self.number} was released")
        return self.number

    def __repr__(self) -> str:
        state = "" if self.live else ", released"
        return f"{type(self).__name__}({self.number}{state})"


class Opaque(Handle):
    """An opaque Lean object held by the host."""

    __slots__ = ()


class LeanClosure(Handle):
    """A Lean function value held by the host; calling it runs the closure in Lean."""

    __slots__ = ("_call", "type")

    def __init__(self, library, number: int, type: Type, call: Callable) -> None:
        super().__init__(library, number)
        self.type = type
        self._call = call

    def __call__(self, *args: Any) -> Any:
        return self._call(self, args)


class InductiveValue:
    """Base of the classes made for the inductive types of a program's type table: one
    class per type, and below it one class per constructor whose fields are attributes."""

    __slots__ = ("fields",)
    _definition: TypeDefinition
    _constructor_index: int = -1
    _field_names: Tuple[str, ...] = ()

    def __init__(self, *args: Any, **kwargs: Any) -> None:
        names = self._field_names
        if self._constructor_index < 0:
            raise TypeError(f"{type(self).__name__} is a type; build one of its constructors")
        if len(args) > len(names):
            raise TypeError(f"{type(self).__qualname__} takes {len(names)} fields, "
                            f"not {len(args)}")
        values = list(args) + [_MISSING] * (len(names) - len(args))
        for key, value in kwargs.items():
            try:
                position = names.index(key)
            except ValueError:
                raise TypeError(f"{type(self).__qualname__} has no field {key!r}") from None
            if values[position] is not _MISSING:
                raise TypeError(f"field {key!r} given twice")
            values[position] = value
        missing = [names[i] for i, v in enumerate(values) if v is _MISSING]
        if missing:
            raise TypeError(f"{type(self).__qualname__} misses fields {', '.join(missing)}")
        self.fields = tuple(values)

    def __eq__(self, other: object) -> bool:
        return type(other) is type(self) and other.fields == self.fields

    def __hash__(self) -> int:
        return hash((type(self), self.fields))

    def __iter__(self):
        return iter(self.fields)

    def __repr__(self) -> str:
        inner = ", ".join(f"{n}={v!r}" for n, v in zip(self._field_names, self.fields))
        return f"{type(self).__qualname__}({inner})"


_MISSING = object()


def _identifier(name: str, fallback: str) -> str:
    last = name.rsplit(".", 1)[-1]
    cleaned = "".join(c if c.isalnum() or c == "_" else "_" for c in last)
    if not cleaned or cleaned[0].isdigit() or cleaned in ("fields",):
        return fallback
    return cleaned


def make_classes(definitions: Sequence[TypeDefinition]) -> Dict[int, type]:
    """One class per non-opaque definition, with a subclass per constructor as attribute."""
    classes: Dict[int, type] = {}
    for definition in definitions:
        if definition.opaque:
            continue
        base_name = _identifier(definition.name, f"Type{definition.index}")
        base = type(base_name, (InductiveValue,), {"__slots__": (), "_definition": definition,
                                                   "__qualname__": base_name})
        base.constructors = []
        for index, ctor in enumerate(definition.constructors):
            ctor_name = _identifier(ctor.name, f"ctor{index}")
            names = []
            for i, f in enumerate(ctor.fields):
                name = _identifier(f.name, f"field{i}")
                names.append(name if name not in names else f"field{i}")
            attributes = {"__slots__": (), "_constructor_index": index,
                          "_field_names": tuple(names),
                          "__qualname__": f"{base_name}.{ctor_name}"}
            for i, name in enumerate(names):
                attributes[name] = property(lambda self, i=i: self.fields[i])
            sub = type(ctor_name, (base,), attributes)
            base.constructors.append(sub)
            if not hasattr(base, ctor_name) or ctor_name == "constructors":
                setattr(base, ctor_name, sub)
        classes[definition.index] = base
    return classes


class Transfer:
    """How handles and host functions go into bytes being written. `adopt` is true when the
    receiver takes the bytes over (each handle written is a new clone and each host
    function carries a reference for the receiver); otherwise the receiver only borrows
    and host functions registered for the bytes are dropped once the call is over."""

    __slots__ = ("adopt", "registered", "cloned")

    def __init__(self, adopt: bool) -> None:
        self.adopt = adopt
        self.registered: List[int] = []
        self.cloned: List[int] = []


# The transfer of values that hold no function: nothing is ever recorded in it.
_NO_FUNCTIONS = Transfer(False)


def _check_int(value: Any, name: str) -> int:
    if type(value) is int:
        return value
    if isinstance(value, bool) or isinstance(value, float):
        raise TypeError(f"{name} expects an int, not {type(value).__name__}")
    try:
        return operator.index(value)
    except TypeError:
        raise TypeError(f"{name} expects an int, not {type(value).__name__}") from None


def _check_length(n: int) -> None:
    if n >= LENGTH_LIMIT:
        raise OverflowError("a value exceeds the wire format's 2^32 length limit")


def _put_sized(out: bytearray, data: bytes) -> None:
    """A u32 length, then the bytes."""
    _check_length(len(data))
    out += _pack_u32(len(data))
    out += data


def _may_be_none(t: Type, definitions: Sequence[TypeDefinition]) -> bool:
    """Whether a decoded value of `t` can be None (and an Option of it needs Some)."""
    return t.kind in (K.UNIT, K.OPTION)


def _takes_no_bytes(t: Type) -> bool:
    return t.kind == K.UNIT


class Codec:
    """Encoders and decoders of one program's types."""

    def __init__(self, library, definitions: Sequence[TypeDefinition],
                 classes: Dict[int, type], host, call_closure: Callable) -> None:
        self.library = library
        self.definitions = definitions
        self.classes = classes
        self.host = host
        self.call_closure = call_closure
        self._encoders: Dict[Type, Callable] = {}
        self._decoders: Dict[Type, Callable] = {}

    # ---- writing -------------------------------------------------------------------

    def encoder(self, t: Type) -> Callable[[bytearray, Any, Transfer], None]:
        found = self._encoders.get(t)
        if found is not None:
            return found
        # A recursive type reaches itself while its encoder is being built: it goes
        # through this indirection until the real encoder exists.
        cell: List[Callable] = []
        self._encoders[t] = lambda out, value, transfer: cell[0](out, value, transfer)
        built = self._build_encoder(t)
        cell.append(built)
        self._encoders[t] = built
        return built

    def piece_encoder(self, t: Type) -> Callable[[Any], bytes]:
        """`encode(value) -> bytes` for a value that holds no function (an argument of a
        call, written on its own); Nats below 256 cost a table look-up."""
        encode = self.encoder(t)

        def piece(value: Any) -> bytes:
            out = bytearray()
            encode(out, value, _NO_FUNCTIONS)
            return bytes(out)
        if t.kind == K.NAT:
            small = _SMALL_NATS

            def nat(value: Any) -> bytes:
                if type(value) is int and 0 <= value < 256:
                    return small[value]
                return piece(value)
            return nat
        return piece

    def encode(self, t: Type, value: Any, transfer: Optional[Transfer] = None) -> bytes:
        out = bytearray()
        self.encoder(t)(out, value, transfer or Transfer(False))
        return bytes(out)

    def _build_encoder(self, t: Type) -> Callable:
        kind = t.kind
        name = K.KIND_NAMES[kind]
        if kind == K.NAT:
            small = _SMALL_NATS

            def nat(out, value, transfer):
                if type(value) is int and 0 <= value < 256:
                    out += small[value]
                    return
                n = value if type(value) is int else _check_int(value, "Nat")
                if n < 0:
                    raise OverflowError(f"{n} is negative: a Nat cannot hold it")
                size = (n.bit_length() + 7) >> 3
                out += _pack_u32(size)
                out += n.to_bytes(size, "little")
            return nat
        if kind == K.INT:
            def integer(out, value, transfer):
                n = value if type(value) is int else _check_int(value, "Int")
                magnitude = -n if n < 0 else n
                size = (magnitude.bit_length() + 7) >> 3
                out.append(1 if n < 0 else 0)
                out += _pack_u32(size)
                out += magnitude.to_bytes(size, "little")
            return integer
        if kind == K.BOOL:
            def boolean(out, value, transfer):
                if type(value) is not bool:
                    raise TypeError(f"Bool expects a bool, not {type(value).__name__}")
                out.append(1 if value else 0)
            return boolean
        if kind in _FIXED:
            fmt, low, high = _FIXED[kind]
            pack = struct.Struct(fmt).pack

            def fixed(out, value, transfer):
                n = value if type(value) is int else _check_int(value, name)
                if n < low or n > high:
                    raise OverflowError(f"{n} is out of range for {name} ({low} to {high})")
                out += pack(n)
            return fixed
        if kind in (K.FLOAT, K.FLOAT32):
            pack = struct.Struct("<d" if kind == K.FLOAT else "<f").pack

            def floating(out, value, transfer):
                if not isinstance(value, (int, float)) or isinstance(value, bool):
                    raise TypeError(f"{name} expects a float, not {type(value).__name__}")
                out += pack(value)
            return floating
        if kind == K.CHAR:
            def char(out, value, transfer):
                if type(value) is not str or len(value) != 1:
                    raise TypeError("Char expects a string of one character")
                code = ord(value)
                if 0xD800 <= code <= 0xDFFF:
                    raise ValueError(f"{code:#x} is not a Unicode scalar value")
                out += _pack_u32(code)
            return char
        if kind == K.STRING:
            def string(out, value, transfer):
                if type(value) is not str:
                    raise TypeError(f"String expects a str, not {type(value).__name__}")
                # A lone surrogate raises UnicodeEncodeError, a ValueError.
                _put_sized(out, value.encode("utf-8"))
            return string
        if kind == K.UNIT:
            def unit(out, value, transfer):
                if value is not None and value != ():
                    raise TypeError("Unit expects None")
            return unit
        if kind == K.BYTE_ARRAY:
            def byte_array(out, value, transfer):
                if not isinstance(value, (bytes, bytearray, memoryview)):
                    raise TypeError(f"ByteArray expects bytes, not {type(value).__name__}")
                _put_sized(out, bytes(value))
            return byte_array
        if kind == K.FLOAT_ARRAY:
            def float_array(out, value, transfer):
                items = list(value)
                _check_length(len(items))
                out += _pack_u32(len(items))
                try:
                    out += struct.pack(f"<{len(items)}d", *items)
                except struct.error:
                    raise TypeError("FloatArray expects floats") from None
            return float_array
        if kind == K.OPTION:
            element = self.encoder(t.parts[0])

            def option(out, value, transfer):
                if value is None:
                    out.append(0)
                    return
                out.append(1)
                element(out, value.value if type(value) is Some else value, transfer)
            return option
        if kind in (K.LIST, K.ARRAY):
            element = self.encoder(t.parts[0])

            def sequence(out, value, transfer):
                if isinstance(value, (str, bytes, dict)):
                    raise TypeError(f"{name} expects a sequence, not {type(value).__name__}")
                items = value if isinstance(value, (list, tuple)) else list(value)
                _check_length(len(items))
                out += _pack_u32(len(items))
                for item in items:
                    element(out, item, transfer)
            return sequence
        if kind == K.PROD:
            first = self.encoder(t.parts[0])
            second = self.encoder(t.parts[1])
            nested = t.parts[1].kind == K.PROD

            def pair(out, value, transfer):
                if type(value) is not tuple or len(value) < 2:
                    raise TypeError("a pair expects a tuple")
                first(out, value[0], transfer)
                # (a, b, c) stands for (a, (b, c)), as Lean's a × b × c does.
                second(out, value[1] if len(value) == 2 or not nested else value[1:],
                       transfer)
                if len(value) > 2 and not nested:
                    raise TypeError(f"a pair expects 2 items, not {len(value)}")
            return pair
        if kind == K.EXCEPT:
            error = self.encoder(t.parts[0])
            ok = self.encoder(t.parts[1])

            def except_(out, value, transfer):
                if type(value) is Ok:
                    out.append(1)
                    ok(out, value.value, transfer)
                elif type(value) is Err:
                    out.append(0)
                    error(out, value.value, transfer)
                else:
                    raise TypeError("Except expects quarn.Ok or quarn.Err")
            return except_
        if kind == K.FUNCTION:
            host = self.host
            library = self.library

            def function(out, value, transfer):
                if isinstance(value, LeanClosure):
                    number = value.checked_number()
                    if transfer.adopt:
                        number = library.handle_clone(number)
                        transfer.cloned.append(number)
                    out.append(0)
                    out += _u64.pack(number)
                elif callable(value):
                    number = host.register_function(self, value, t)
                    transfer.registered.append(number)
                    out.append(1)
                    out += _u64.pack(number)
                else:
                    raise TypeError(f"a function type expects a callable, "
                                    f"not {type(value).__name__}")
            return function
        if kind == K.OPAQUE or (kind == K.INDUCTIVE and self._definition(t).opaque):
            return self._handle_encoder(t)
        if kind == K.INDUCTIVE:
            return self._inductive_encoder(t)
        raise WireError(f"an uninstantiated type parameter {t.index}")

    def _handle_encoder(self, t: Type) -> Callable:
        library = self.library

        def handle(out, value, transfer):
            if not isinstance(value, Opaque):
                raise TypeError(f"{t!r} expects an opaque value, not {type(value).__name__}")
            number = value.checked_number()
            if transfer.adopt:
                number = library.handle_clone(number)
                transfer.cloned.append(number)
            out += _u64.pack(number)
        return handle

    def _definition(self, t: Type) -> TypeDefinition:
        if t.index >= len(self.definitions):
            raise WireError(f"type index {t.index} outside the type table")
        definition = self.definitions[t.index]
        if len(t.parts) != definition.param_count:
            raise WireError(f"{definition.name} applied to {len(t.parts)} arguments")
        return definition

    def _field_coders(self, t: Type, make: Callable[[Type], Callable]):
        """The definition of an applied inductive type, its class, and `make` of each
        constructor's field types, instantiated with the type's arguments."""
        definition = self._definition(t)
        coders = [[make(f.type.substitute(t.parts)) for f in c.fields]
                  for c in definition.constructors]
        return definition, self.classes[definition.index], coders

    def _inductive_encoder(self, t: Type) -> Callable:
        definition, cls, field_encoders = self._field_coders(t, self.encoder)
        if definition.trivial is not None:
            ctor_index, field_index = definition.trivial
            inner = field_encoders[ctor_index][field_index]

            def trivial(out, value, transfer):
                if isinstance(value, cls):
                    value = value.fields[field_index]
                inner(out, value, transfer)
            return trivial
        heads = [_pack_u32(i) for i in range(len(definition.constructors))]

        def inductive(out, value, transfer):
            if not isinstance(value, cls):
                raise TypeError(f"{definition.name} expects one of its constructors, "
                                f"not {type(value).__name__}")
            index = value._constructor_index
            out += heads[index]
            for encode, field in zip(field_encoders[index], value.fields):
                encode(out, field, transfer)
        return inductive

    # ---- reading -------------------------------------------------------------------

    def decoder(self, t: Type) -> Callable[[Reader], Any]:
        found = self._decoders.get(t)
        if found is not None:
            return found
        cell: List[Callable] = []
        self._decoders[t] = lambda reader: cell[0](reader)
        built = self._build_decoder(t)
        cell.append(built)
        self._decoders[t] = built
        return built

    def decode(self, t: Type, data: bytes) -> Any:
        reader = Reader(data)
        value = self.decoder(t)(reader)
        reader.at_end()
        return value

    def _build_decoder(self, t: Type) -> Callable:
        kind = t.kind
        if kind == K.NAT:
            def nat(r):
                size = r.count()
                start = r.pos
                end = start + size
                r.pos = end
                if size and r.data[end - 1] == 0:
                    raise WireError("a number's magnitude has a leading zero byte")
                return int.from_bytes(r.data[start:end], "little")
            return nat
        if kind == K.INT:
            magnitude = self.decoder(K.T.Nat)

            def integer(r):
                sign = r.u8()
                if sign > 1:
                    raise WireError(f"invalid Int sign {sign}")
                n = magnitude(r)
                if sign:
                    if n == 0:
                        raise WireError("negative zero is not a canonical Int")
                    return -n
                return n
            return integer
        if kind == K.BOOL:
            def boolean(r):
                b = r.u8()
                if b > 1:
                    raise WireError(f"invalid Bool {b}")
                return b == 1
            return boolean
        if kind in _FIXED or kind in (K.FLOAT, K.FLOAT32):
            fmt = _FIXED[kind][0] if kind in _FIXED else ("<d" if kind == K.FLOAT else "<f")
            unpack = struct.Struct(fmt)
            size = unpack.size

            def fixed(r):
                return unpack.unpack_from(r.data, r.need(size))[0]
            return fixed
        if kind == K.CHAR:
            def char(r):
                code = r.u32()
                if code > 0x10FFFF or 0xD800 <= code <= 0xDFFF:
                    raise WireError(f"{code:#x} is not a Unicode scalar value")
                return chr(code)
            return char
        if kind == K.STRING:
            def string(r):
                raw = r.take(r.count())
                # Lean's strings are UTF-8; should bytes that are not come back anyway,
                # each ill-formed sequence reads as U+FFFD rather than failing the call.
                return raw.decode("utf-8", "replace")
            return string
        if kind == K.UNIT:
            return lambda r: None
        if kind == K.BYTE_ARRAY:
            return lambda r: r.take(r.count())
        if kind == K.FLOAT_ARRAY:
            def float_array(r):
                n = r.count(8)
                return list(struct.unpack_from(f"<{n}d", r.data, r.need(8 * n)))
            return float_array
        if kind == K.OPTION:
            element = self.decoder(t.parts[0])
            wrap = _may_be_none(t.parts[0], self.definitions)

            def option(r):
                tag = r.u8()
                if tag == 0:
                    return None
                if tag != 1:
                    raise WireError(f"invalid Option tag {tag}")
                value = element(r)
                return Some(value) if wrap else value
            return option
        if kind in (K.LIST, K.ARRAY):
            element = self.decoder(t.parts[0])
            minimum = 0 if _takes_no_bytes(t.parts[0]) else 1

            def sequence(r):
                n = r.count(minimum)
                return [element(r) for _ in range(n)]
            return sequence
        if kind == K.PROD:
            first = self.decoder(t.parts[0])
            second = self.decoder(t.parts[1])
            nested = t.parts[1].kind == K.PROD

            def pair(r):
                a = first(r)
                b = second(r)
                return (a,) + b if nested else (a, b)
            return pair
        if kind == K.EXCEPT:
            error = self.decoder(t.parts[0])
            ok = self.decoder(t.parts[1])

            def except_(r):
                tag = r.u8()
                if tag == 0:
                    return Err(error(r))
                if tag == 1:
                    return Ok(ok(r))
                raise WireError(f"invalid Except tag {tag}")
            return except_
        if kind == K.FUNCTION:
            library = self.library
            host = self.host
            call = self.call_closure

            def function(r):
                function_kind = r.u8()
                number = r.u64()
                if function_kind == 0:
                    return LeanClosure(library, number, t, call)
                if function_kind == 1:
                    return host.adopt_function(number)
                raise WireError(f"invalid function kind {function_kind}")
            return function
        if kind == K.OPAQUE or (kind == K.INDUCTIVE and self._definition(t).opaque):
            library = self.library
            return lambda r: Opaque(library, r.u64())
        if kind == K.INDUCTIVE:
            return self._inductive_decoder(t)
        raise WireError(f"an uninstantiated type parameter {t.index}")

    def _inductive_decoder(self, t: Type) -> Callable:
        definition, cls, field_decoders = self._field_coders(t, self.decoder)
        if definition.trivial is not None:
            ctor_index, field_index = definition.trivial
            inner = field_decoders[ctor_index][field_index]
            ctor = cls.constructors[ctor_index]
            others = len(definition.constructors[ctor_index].fields)

            def trivial(r):
                # Only the designated field crosses; the others (erased in Lean) read as None.
                value = inner(r)
                fields = [None] * others
                fields[field_index] = value
                built = ctor.__new__(ctor)
                built.fields = tuple(fields)
                return built
            return trivial
        constructors = cls.constructors
        count = len(constructors)
        name = definition.name

        def inductive(r):
            index = r.u32()
            if index >= count:
                raise WireError(f"constructor index {index} of {name}")
            ctor = constructors[index]
            built = ctor.__new__(ctor)
            built.fields = tuple([decode(r) for decode in field_decoders[index]])
            return built
        return inductive
