#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Lines per folder of src/ and the longest functions, for a change's before and after.

Usage: scripts/source-stats.py [REV] [--top N]
REV is a git revision (default: the working tree). Functions are found from their braces in
the .cpp files, comments and strings skipped: a function is a block opened after a closing
parenthesis at namespace or class level. Its nesting is the deepest brace block inside it
(a statement without braces does not count), so read both figures as close, not exact.
"""
import collections
import pathlib
import re
import subprocess
import sys

TOKEN = re.compile(
    r'//[^\n]*|/\*.*?\*/|R"([^(]*)\(.*?\)\1"|"(?:\\.|[^"\\\n])*"|\'(?:\\.|[^\'\\\n])*\'|[{};]',
    re.S)
SCOPE = re.compile(r"\b(namespace|class|struct|union|enum)\b[^()]*$|extern\s*\"C\"\s*$")
FUNCTION = re.compile(r"([~\w:<>]+(?:operator\s*\S+)?)\s*\(.*\)[^()]*$", re.S)


SOURCES = (".cpp", ".hpp", ".h")


def files_at(rev):
    """The C++ sources of src/ by path, at `rev` or in the working tree."""
    if rev is None:
        root = pathlib.Path(__file__).resolve().parent.parent
        names = subprocess.run(["git", "-C", root, "ls-files", "src"], capture_output=True,
                               text=True, check=True).stdout.split()
        return {name: (root / name).read_text(encoding="utf-8") for name in names
                if name.endswith(SOURCES) and (root / name).is_file()}
    names = subprocess.run(["git", "ls-tree", "-r", "--name-only", rev, "src"],
                           capture_output=True, text=True, check=True).stdout.split()
    return {name: subprocess.run(["git", "show", f"{rev}:{name}"], capture_output=True,
                                 text=True, check=True).stdout
            for name in names if name.endswith(SOURCES)}


def functions(text):
    """(name, first line, lines, deepest nesting) of each function defined in `text`."""
    found = []
    stack = []  # per open brace: "scope", "function" or "block"
    start = 0  # where the text before the next brace begins
    current = None  # [name, first line, depth, deepest]
    for match in TOKEN.finditer(text):
        token = match.group(0)
        if token not in "{};":
            continue
        before = text[start:match.start()]
        start = match.end()
        if token == ";":
            continue
        if token == "}":
            kind = stack.pop() if stack else "block"
            if kind == "function":
                name, first, _, deepest = current
                last = text.count("\n", 0, match.start()) + 1
                found.append((name, first, last - first + 1, deepest))
                current = None
            elif current is not None:
                current[2] -= 1
            continue
        # An opening brace.
        if current is not None:
            current[2] += 1
            current[3] = max(current[3], current[2])
            stack.append("block")
            continue
        head = re.sub(r"\s+", " ", re.sub(r"//[^\n]*|/\*.*?\*/", "", before, flags=re.S))
        if SCOPE.search(head):
            stack.append("scope")
            continue
        signature = FUNCTION.search(head)
        if signature and not re.search(r"=\s*$", head):
            line = text.count("\n", 0, match.start()) + 1
            current = [signature.group(1), line, 0, 0]
            stack.append("function")
        else:
            stack.append("scope")  # an initializer or the like at namespace level
    return found


def main():
    args = sys.argv[1:]
    top = 10
    if "--top" in args:
        at = args.index("--top")
        top = int(args[at + 1])
        del args[at:at + 2]
    rev = args[0] if args else None
    files = files_at(rev)
    lines = collections.Counter()
    for name, text in files.items():
        lines[name.split("/")[1] if name.count("/") > 1 else "."] += text.count("\n")
    total = sum(lines.values())
    print(f"src/ at {rev or 'the working tree'}: {total} lines")
    for folder, count in sorted(lines.items(), key=lambda item: -item[1]):
        print(f"  {folder:<12} {count:>6}  {100 * count / total:4.1f} %")
    every = [(length, deepest, f"{name}:{first}", function)
             for name, text in files.items() if name.endswith(".cpp")
             for function, first, length, deepest in functions(text)]
    every.sort(reverse=True)
    print(f"{top} longest functions (lines, deepest nesting):")
    for length, deepest, where, function in every[:top]:
        print(f"  {length:>4} {deepest:>2}  {function}  {where}")
    deep = [entry for entry in every if entry[1] > 4]
    print(f"functions over 80 lines: {sum(1 for entry in every if entry[0] > 80)}; "
          f"nesting over 4: {len(deep)}" +
          "".join(f"\n  {d:>2}  {f}  {w}" for _, d, w, f in sorted(deep, key=lambda e: -e[1])))


if __name__ == "__main__":
    main()
