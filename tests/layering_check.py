#!/usr/bin/env python3
"""The runtime's layering: only the statement entry points reach the fatal path, and no file of
src/ depends on another that depends back on it (a header and its source count as one piece).
    python3 tests/layering_check.py SRC_DIR"""
import os
import re
import sys

# The files of the statement entry points (s_, do_, e_, f_) and of start-up: the one place where
# a failure becomes the fatal path. The terminator defines it.
ENTRY_POINTS = {"statement", "formatted_io", "list_io", "open_close", "startup", "terminator"}
FATAL_CALL = re.compile(r"\b(fatal|crash)\s*\(")
INCLUDE = re.compile(r'#include "([^"]+)"')


def pieces(src):
    """Each piece (path without extension) with the pieces it includes, and its fatal calls."""
    graph, fatal = {}, []
    for folder in sorted(os.listdir(src)):
        for name in sorted(os.listdir(os.path.join(src, folder))):
            path = os.path.join(folder, name)
            piece = os.path.splitext(path)[0]
            needs = graph.setdefault(piece, set())
            with open(os.path.join(src, path), encoding="utf-8") as f:
                for number, line in enumerate(f, 1):
                    m = INCLUDE.match(line)
                    if m:
                        target = m.group(1) if "/" in m.group(1) else os.path.join(folder, m.group(1))
                        needs.add(os.path.splitext(target)[0])
                    code = line.split("//", 1)[0]
                    if FATAL_CALL.search(code) and os.path.basename(piece) not in ENTRY_POINTS:
                        fatal.append(f"{path}:{number}: {line.strip()}")
            needs.discard(piece)
    return graph, fatal


def cycles(graph):
    found, state = [], {}

    def visit(piece, stack):
        state[piece] = "open"
        stack.append(piece)
        for other in sorted(graph.get(piece, ())):
            if state.get(other) == "open":
                found.append(stack[stack.index(other):] + [other])
            elif other not in state:
                visit(other, stack)
        stack.pop()
        state[piece] = "done"

    for piece in sorted(graph):
        if piece not in state:
            visit(piece, [])
    return found


def main():
    graph, fatal = pieces(sys.argv[1])
    loops = cycles(graph)
    for line in fatal:
        print("fatal path below the entry points:", line)
    for loop in loops:
        print("include cycle:", " -> ".join(loop))
    if len(graph) < 10:
        print("too few files under", sys.argv[1])
        return 1
    return 1 if fatal or loops else 0


if __name__ == "__main__":
    sys.exit(main())
