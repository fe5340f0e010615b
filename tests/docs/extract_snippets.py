#!/usr/bin/env python3
"""Turns a guide written in Markdown into a program and the output it must print.

Every ```c block of the guide, in order, becomes one C file; every ```output block, in order,
becomes the expected standard output. The guide is a tutorial that builds one host program
piece by piece, so the file compiles only if every snippet is right, and running it checks
what the guide says it prints.

usage: extract_snippets.py GUIDE PROGRAM_OUT EXPECTED_OUT
"""
import re
import sys

BLOCK = re.compile(r"^```(\w+)\n(.*?)^```$", re.S | re.M)


def main():
    guide, program_out, expected_out = sys.argv[1:4]
    text = open(guide, encoding="utf-8").read()
    code, output = [], []
    for language, body in BLOCK.findall(text):
        if language == "c":
            code.append(body)
        elif language == "output":
            output.append(body)
    if not code:
        print(f"{guide}: no C snippet", file=sys.stderr)
        return 1
    with open(program_out, "w", encoding="utf-8") as f:
        f.write(f"/* Generated from {guide}: the guide's C snippets in order. */\n")
        f.write("\n".join(code))
    with open(expected_out, "w", encoding="utf-8") as f:
        f.write("".join(output))
    return 0


if __name__ == "__main__":
    sys.exit(main())
