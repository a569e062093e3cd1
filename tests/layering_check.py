#!/usr/bin/env python3
"""The runtime's layering: only the statement entry points reach the fatal path, no file of src/
depends on another that depends back on it, and no piece uses a function that a piece above it
defines (a header and its source count as one piece; a piece is above another when it includes
it, directly or not).
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
    """Each piece (path without extension) with the pieces it includes, its fatal calls, and the
    text of its files."""
    graph, fatal, texts = {}, [], {}
    for folder in sorted(os.listdir(src)):
        for name in sorted(os.listdir(os.path.join(src, folder))):
            path = os.path.join(folder, name)
            piece = os.path.splitext(path)[0]
            needs = graph.setdefault(piece, set())
            with open(os.path.join(src, path), encoding="utf-8") as f:
                text = f.read()
            texts.setdefault(piece, []).append((path, text))
            for number, line in enumerate(text.splitlines(), 1):
                m = INCLUDE.match(line)
                if m:
                    target = m.group(1) if "/" in m.group(1) else os.path.join(folder, m.group(1))
                    needs.add(os.path.splitext(target)[0])
                code = line.split("//", 1)[0]
                if FATAL_CALL.search(code) and os.path.basename(piece) not in ENTRY_POINTS:
                    fatal.append(f"{path}:{number}: {line.strip()}")
            needs.discard(piece)
    return graph, fatal, texts


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


def code_only(text):
    """The text without comments, literals and preprocessor lines (each kept as blanks)."""
    text = re.sub(r"//[^\n]*|/\*.*?\*/", " ", text, flags=re.S)
    text = re.sub(r'"(\\.|[^"\\\n])*"|\'(\\.|[^\'\\\n])*\'', '""', text)
    return re.sub(r"^\s*#[^\n]*", " ", text, flags=re.M)


ATTRIBUTE = re.compile(r"\[\[.*?\]\]|\b(alignas|__attribute__|decltype)\s*\(")
NAME_BEFORE_PAREN = re.compile(r"((?:~?\w+\s*::\s*)*~?\w+)\s*$")


def function_name(head):
    """The function a declaration or definition head names: the name before its first
    parenthesis, or None when the head is no function's (a variable, an initializer)."""
    head = re.sub(r"\[\[.*?\]\]", " ", head)
    depth, cut = 0, None
    for i, c in enumerate(head):
        if c in "<":
            depth += 1
        elif c == ">":
            depth -= 1
        elif c == "(" and depth <= 0:
            cut = i
            break
        elif c == "=" and depth <= 0:
            return None  # a variable and its initializer, or an alias
    if cut is None:
        return None
    m = NAME_BEFORE_PAREN.search(head[:cut])
    if not m or not head[:m.start()].strip():
        return None  # a call or a cast: no type before the name
    name = re.sub(r"\s+", "", m.group(1)).split("::")[-1]
    if name in {"if", "for", "while", "switch", "return", "sizeof", "static_assert", "alignas",
                "decltype", "requires", "noexcept"}:
        return None
    return name


def functions(text):
    """The functions a file declares without defining, and those it defines, at namespace and
    class scope."""
    declared, defined = set(), set()
    code = code_only(text)
    scopes = []  # per open brace: whether declarations inside it count
    head = ""
    for c in code:
        if c == "{":
            counts = not scopes or scopes[-1]
            opens_scope = False
            if counts:
                if re.search(r"\b(namespace|extern)\b", head) or (
                        re.search(r"\b(class|struct|union|enum)\b", head) and "(" not in head):
                    opens_scope = True
                else:
                    name = function_name(head)
                    if name:
                        defined.add(name)
            scopes.append(counts and opens_scope)
            head = ""
        elif c == "}":
            if scopes:
                scopes.pop()
            head = ""
        elif c == ";":
            if not scopes or scopes[-1]:
                name = function_name(head)
                if name:
                    declared.add(name)
            head = ""
        elif not scopes or scopes[-1]:
            head += c
            if c == ":" and re.search(r"\b(public|private|protected)\s*:$", head):
                head = ""
    return declared, defined


def above(graph):
    """For each piece, the pieces that depend on it, directly or not."""
    depends = {}

    def closure(piece, seen):
        for other in graph.get(piece, ()):
            if other not in seen:
                seen.add(other)
                closure(other, seen)
        return seen

    for piece in graph:
        for lower in closure(piece, set()):
            depends.setdefault(lower, set()).add(piece)
    return depends


def upward_declarations(graph, texts):
    """Functions declared in a piece, defined in another, and used in a piece below the one that
    defines them: a lower piece that names (calls, or takes the address of) a function of a
    higher one. A platform's files define the interface a lower header declares for the pieces
    that use it, and depend on none of those users: that is no upward use."""
    declared, defined, named = {}, {}, {}
    for piece, files in texts.items():
        words = named.setdefault(piece, {})
        for path, text in files:
            d, f = functions(text)
            for name in d:
                declared.setdefault(piece, {}).setdefault(name, path)
                words[name] = words.get(name, 0) - 1
            for name in f:
                defined.setdefault(name, set()).add(piece)
                words[name] = words.get(name, 0) - 1
            for word in re.findall(r"\b\w+\b", code_only(text)):
                words[word] = words.get(word, 0) + 1
    depends = above(graph)
    found = []
    for piece, names in sorted(declared.items()):
        for name, path in sorted(names.items()):
            where = defined.get(name, set())
            if piece in where:
                continue
            users = sorted(p for p, words in named.items() if words.get(name, 0) > 0)
            for definer in sorted(where):
                below = [u for u in users if u != definer and definer in depends.get(u, set())]
                if below:
                    found.append(f"{path}: {name} is defined in {definer}, above its use in "
                                 f"{', '.join(below)}")
    return found


def main():
    graph, fatal, texts = pieces(sys.argv[1])
    loops = cycles(graph)
    upward = upward_declarations(graph, texts)
    for line in fatal:
        print("fatal path below the entry points:", line)
    for loop in loops:
        print("include cycle:", " -> ".join(loop))
    for line in upward:
        print("declaration of a function defined above:", line)
    if len(graph) < 10:
        print("too few files under", sys.argv[1])
        return 1
    return 1 if fatal or loops or upward else 0


if __name__ == "__main__":
    sys.exit(main())
