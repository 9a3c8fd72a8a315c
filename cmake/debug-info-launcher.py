#!/usr/bin/env python3
"""Compiler launcher of the target images: compiles with debug information without letting
it change the code.

The MIPS assembler fills a branch's delay slot with the instruction before it when the
compiler left the slot empty (it does so for SFR stores, which the compiler will not move).
A line-number directive or a debug label between that instruction and the branch stops
it, so `-g` alone would cost a nop per such branch. This runs the compiler to assembly,
moves those directives and labels from just before a branch to just after it (the branch's
line then reads as its predecessor's, a range ends one instruction later), and assembles
the result with the same flags. Any command that is not a `-g` compile of C or C++ runs
unchanged (hand-written assembly places its delay slots itself)."""
import os
import re
import subprocess
import sys
import tempfile

BRANCH = re.compile(r"\s+(j|jal|jr|jalr|jr\.hb|jalr\.hb|b|bal|beq|bne|beqz|bnez|blez|bgtz|bltz|bgez|"
                    r"bltzal|bgezal|beql|bnel|blezl|bgtzl|bltzl|bgezl|bltzall|bgezall)\s")
MOVABLE = re.compile(r"\s*(\.loc\s|\$[A-Za-z0-9_]+\s*=\s*\.\s*$)")


def untangle(lines):
    out, held, reorder = [], [], True
    for line in lines:
        stripped = line.strip()
        if stripped == ".set\tnoreorder" or stripped == ".set noreorder":
            reorder = False
        elif stripped == ".set\treorder" or stripped == ".set reorder":
            reorder = True
        if MOVABLE.match(line):
            held.append(line)
            continue
        if not stripped or stripped.startswith("#"):  # comments and #APP markers stay in place
            out.append(line)
            continue
        if reorder and BRANCH.match(line):
            out.append(line)
            out.extend(held)
        else:
            out.extend(held)
            out.append(line)
        held = []
    return out + held


def main(argv):
    cmd = argv[1:]
    if "-c" not in cmd or not any(a == "-g" or a.startswith("-g") and a[2:3].isdigit() for a in cmd) \
            or "-o" not in cmd or any(a.endswith((".S", ".s")) for a in cmd):
        os.execvp(cmd[0], cmd)
    out = cmd[cmd.index("-o") + 1]
    with tempfile.TemporaryDirectory() as tmp:
        asm = os.path.join(tmp, "unit.s")
        first = [asm if a == out else "-S" if a == "-c" else a for a in cmd]
        rc = subprocess.call(first)
        if rc:
            return rc
        with open(asm) as f:
            lines = f.read().split("\n")
        with open(asm, "w") as f:
            f.write("\n".join(untangle(lines)))
        # The same driver and flags assemble it; the source file and dependency options go.
        second, skip = [], False
        for a in cmd:
            if skip:
                skip = False
                continue
            if a in ("-MF", "-MT", "-MQ"):
                skip = True
                continue
            if a in ("-MD", "-MMD") or a.endswith((".c", ".cpp", ".cc", ".S")):
                continue
            second.append(a)
        return subprocess.call(second + ["-x", "assembler", asm])


if __name__ == "__main__":
    sys.exit(main(sys.argv))
