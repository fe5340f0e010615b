#!/usr/bin/env python3
"""Writes cat_input.txt and cat_expected.txt, the demo run of the cat example: lines longer
than any buffer, empty lines, CR LF endings, NUL bytes, bytes that are not UTF-8, and a last
line without a line feed. The expected output replaces each ill-formed run as the runtime
does: at a byte where no well-formed character starts, one U+FFFD, then that byte and every
continuation byte after it are skipped."""
import random


def char_length(lead):
    if lead < 0x80:
        return 1
    if 0xC2 <= lead <= 0xDF:
        return 2
    if 0xE0 <= lead <= 0xEF:
        return 3
    if 0xF0 <= lead <= 0xF4:
        return 4
    return 0


def lossy(data):
    out, i = bytearray(), 0
    while i < len(data):
        n = char_length(data[i])
        piece = data[i:i + n]
        try:
            if n == 0 or len(piece) < n:
                raise UnicodeDecodeError("utf-8", piece, 0, 1, "ill-formed")
            piece.decode("utf-8")
            out += piece
            i += n
        except UnicodeDecodeError:
            out += "\uFFFD".encode()
            i += 1
            while i < len(data) and data[i] & 0xC0 == 0x80:
                i += 1
    return bytes(out)


rng = random.Random(12)
lines = [
    b"first line\n",
    b"\n",
    b"\n",
    bytes(rng.choice(b"abcdefghij ") for _ in range(20000)) + b"\n",
    "caf\u00e9 \u65e5\u672c \U0001F600\n".encode(),
    b"windows line\r\n",
    b"nul \x00 inside\n",
    b"bad \xff byte, lone \x80\x80 continuation, cut \xe6\x97 char\n",
    b"x" * 8191 + b"\n",
    b"y" * 8192 + b"\n",
    b"z" * 8193 + b"\n",
    b"last line without a line feed",
]
data = b"".join(lines)
with open("cat_input.txt", "wb") as f:
    f.write(data)
with open("cat_expected.txt", "wb") as f:
    f.write(b"".join(lossy(line) for line in lines))
