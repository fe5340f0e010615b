#!/usr/bin/env python3
"""Checks the dynamic symbol table of the library.

Fails when a defined dynamic symbol lacks the quarn_ prefix, when the library exports a
symbol the symbol list does not name, or when a symbol of an area listed as done is missing.

usage: check_exports.py LIBRARY SYMBOL_LIST DONE_AREAS
"""
import subprocess
import sys


def read_symbol_list(path):
    """Maps each area heading ("## name") to the symbols listed under it."""
    areas, current = {}, None
    for line in open(path, encoding="utf-8"):
        line = line.strip()
        if line.startswith("## "):
            current = line[3:]
            areas[current] = []
        elif line and not line.startswith("#"):
            areas[current].append(line)
    return areas


def exported_symbols(library):
    out = subprocess.run(["nm", "-D", "--defined-only", library], check=True,
                         capture_output=True, text=True).stdout
    symbols = set()
    for line in out.splitlines():
        parts = line.split()
        if len(parts) == 3:
            symbols.add(parts[2].split("@")[0])
    return symbols


def main():
    library, symbol_list, done_list = sys.argv[1:4]
    areas = read_symbol_list(symbol_list)
    done = [l.strip() for l in open(done_list, encoding="utf-8")
            if l.strip() and not l.startswith("#")]
    exported = exported_symbols(library)
    listed = {s for symbols in areas.values() for s in symbols}
    problems = []
    for s in sorted(exported):
        if not s.startswith("quarn_"):
            problems.append(f"exported without the quarn_ prefix: {s}")
        elif s not in listed:
            problems.append(f"exported but not in the symbol list: {s}")
    for area in done:
        if area not in areas:
            problems.append(f"unknown area in the done list: {area}")
            continue
        for s in areas[area]:
            if s not in exported:
                problems.append(f"missing from area '{area}': {s}")
    for p in problems:
        print(p)
    print(f"{len(exported)} symbols exported; {len(done)} areas done; {len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
