#!/usr/bin/env python3
"""Writes utf8_corpus.txt: byte sequences with what an independent oracle says of them.

Each line holds five fields separated by spaces (an empty byte string is written "-"):
  input bytes (hex)   1 if Python's strict UTF-8 codec accepts them, else 0
  lossy decoding (hex)   its number of code points   MurmurHash64A of the input, seed 11

Lossy decoding replaces each run of bad bytes by one U+FFFD: where no well-formed character
starts, the replacement is written, the byte is skipped and so is every continuation byte
(80-BF) after it. Whether a well-formed character of k bytes starts at a position is asked
of Python's codec (the k bytes decode strictly to exactly one character). Python's own
"replace" handler is not used: it writes one U+FFFD per maximal invalid subpart, not per run.

The hash follows the public description of MurmurHash64A (Austin Appleby).

usage: make_utf8_corpus.py > utf8_corpus.txt
"""
import random

MASK = (1 << 64) - 1


def murmur64a(data, seed=11):
    m, r = 0xC6A4A7935BD1E995, 47
    h = (seed ^ (len(data) * m)) & MASK
    whole = len(data) - len(data) % 8
    for i in range(0, whole, 8):
        k = int.from_bytes(data[i:i + 8], "little")
        k = (k * m) & MASK
        k ^= k >> r
        k = (k * m) & MASK
        h ^= k
        h = (h * m) & MASK
    tail = data[whole:]
    if tail:
        h ^= int.from_bytes(tail, "little")
        h = (h * m) & MASK
    h ^= h >> r
    h = (h * m) & MASK
    h ^= h >> r
    return h


def char_length_at(data, i):
    """The length of the well-formed character starting at i, or 0, as Python decides."""
    for k in range(1, 5):
        piece = data[i:i + k]
        if len(piece) < k:
            return 0
        try:
            if len(piece.decode("utf-8", "strict")) == 1:
                return k
        except UnicodeDecodeError:
            pass
    return 0


def lossy(data):
    out, i = bytearray(), 0
    while i < len(data):
        k = char_length_at(data, i)
        if k:
            out += data[i:i + k]
            i += k
        else:
            out += "\ufffd".encode()
            i += 1
            while i < len(data) and 0x80 <= data[i] <= 0xBF:
                i += 1
    return bytes(out)


def valid(data):
    try:
        data.decode("utf-8", "strict")
        return True
    except UnicodeDecodeError:
        return False


def hand_picked():
    h = bytes.fromhex
    cases = [
        b"", b"a", b"hello, world", "h\u00e9llo".encode(), "\u20ac".encode(),
        "\U0001F600".encode(), "\uFFFD".encode(), "\uFEFF".encode(),
        "\U0010FFFF".encode(), "\U00010000".encode(), "\u0800".encode(), "\u0080".encode(),
        "\uD7FF".encode(), "\uE000".encode(),
        # overlong forms
        h("C080"), h("C1BF"), h("E08080"), h("E09FBF"), h("F0808080"), h("F08FBFBF"),
        h("F8888080 80"), h("FC8480808080"),
        # surrogates, alone and paired
        h("EDA080"), h("EDBFBF"), h("EDA0BDEDB880"), h("ED9FBF"),
        # beyond U+10FFFF
        h("F4908080"), h("F5808080"), h("F7BFBFBF"), h("F8"), h("FF"), h("FE"),
        # truncated characters, at the end and before more text
        h("C3"), h("E282"), h("F09F98"), h("E2"), h("F0"), h("C341"), h("E28241"),
        h("F09F9841"), h("E282E282AC"), h("F09FF09F9880"),
        # lone and stray continuation bytes
        h("80"), h("BF"), h("8080"), h("41 80 42"), h("61FF808062"), h("C3A9A9"),
        h("E282ACAC80"), h("80" * 9), h("61" * 7 + "80"), h("61" * 8 + "80"),
        h("61" * 31 + "C3"), h("61" * 32 + "C3"), h("61" * 33 + "FF" + "61" * 40),
    ]
    # Every lead byte, alone, before ASCII, and before one to three continuation bytes.
    for b in range(0x80, 0x100):
        cases += [bytes([b]), bytes([b, 0x41]), bytes([b, 0x80]), bytes([b, 0xBF, 0xBF]),
                  bytes([b, 0x90, 0x80, 0x80]), bytes([b, 0xA0, 0x80, 0x80])]
    return cases


def random_cases(rng, count):
    pieces = [
        "a", " ", "z", "~", "\u00e9", "\u00df", "\u0416", "\u20ac", "\u4e2d", "\uffff",
        "\U0001F600", "\U00010348", "\U0010FFFF",
    ]
    junk = [b"\x80", b"\xbf", b"\xc0", b"\xc1", b"\xf5", b"\xff", b"\xed\xa0", b"\xe2\x82",
            b"\xf0\x9f", b"\xf0\x9f\x98", b"\xf4\x90\x80\x80", b"\xe0\x80\x80"]
    cases = []
    for _ in range(count):
        out = bytearray()
        for _ in range(rng.randrange(0, 60)):
            if rng.random() < 0.08:
                out += rng.choice(junk)
            else:
                out += rng.choice(pieces).encode()
        cases.append(bytes(out))
    for _ in range(count // 4):
        cases.append(bytes(rng.randrange(256) for _ in range(rng.randrange(1, 24))))
    return cases


def main():
    rng = random.Random(20240511)
    seen = set()
    for data in hand_picked() + random_cases(rng, 1000):
        if data in seen:
            continue
        seen.add(data)
        out = lossy(data)
        text = out.decode("utf-8", "strict")  # the decoding is well-formed by construction
        print(data.hex() or "-", int(valid(data)), out.hex() or "-", len(text),
              format(murmur64a(data), "016x"))


if __name__ == "__main__":
    main()
