"""Type tables written byte by byte, for tests of the codec on types the stand-in program
does not have."""
import struct
from typing import List, Optional, Sequence, Tuple

from quarn.types import Type


def text(s: str) -> bytes:
    data = s.encode()
    return struct.pack("<I", len(data)) + data


def field(name: str, position: int, t: Type, kind: int = 0,
          representation: Optional[int] = None) -> bytes:
    out = text(name) + bytes((kind,)) + struct.pack("<I", position)
    if kind == 2:
        out += bytes((representation,))
    return out + t.encoding


def ctor(name: str, tag: int, fields: Sequence[bytes], objects: Optional[int] = None,
         usizes: int = 0, scalars: int = 0) -> bytes:
    objects = len(fields) if objects is None else objects
    return (text(name) + struct.pack("<IIIII", tag, objects, usizes, scalars, len(fields))
            + b"".join(fields))


def definition(name: str, ctors: Sequence[bytes], params: int = 0,
               trivial: Optional[Tuple[int, int]] = None, opaque: bool = False,
               representation: int = 6) -> bytes:
    out = text(name) + bytes((int(opaque),)) + struct.pack("<I", params)
    out += bytes((7 if opaque else representation,))
    out += b"\x01" + struct.pack("<II", *trivial) if trivial else b"\x00"
    return out + struct.pack("<I", len(ctors)) + b"".join(ctors)


def table(definitions: List[bytes]) -> bytes:
    return b"QRNT" + struct.pack("<II", 2, len(definitions)) + b"".join(definitions)
