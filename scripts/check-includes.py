#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Fails on an include that runs up the layers of src/ and tools/.

The layers, from the top: tools, qt, component, service and wizard, document, util and codec,
soap, xml, platform, the public headers (include/ovk). A file may include its own folder and
any layer below its own, never one above; two folders on one level do not include each other.
Only src/qt and tools may include Qt. Tests are not checked: they reach into any layer.

Prints file:line and the rule broken for each offending include; exit status 1 when there is
one. Usage: scripts/check-includes.py [repository root]
"""
import pathlib
import re
import sys

# Folder (first part of an include path, or of a file's path below src/) -> layer, highest first.
LAYERS = [
    ["tools"],
    ["qt"],
    ["component"],
    ["service", "wizard"],
    ["document"],
    ["util", "codec"],
    ["soap"],
    ["xml"],
    ["platform"],
    ["ovk"],
]
RANK = {folder: len(LAYERS) - i for i, level in enumerate(LAYERS) for folder in level}
QT_FOLDERS = {"tools", "qt"}

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
QT_HEADER = re.compile(r"^Q[A-Za-z]*(/|$)")


def folder_of(path: pathlib.Path, root: pathlib.Path) -> str:
    parts = path.relative_to(root).parts
    if parts[0] == "tools":
        return "tools"
    if parts[0] == "include":
        return "ovk"
    return parts[1]  # src/<folder>/...


def check(root: pathlib.Path) -> list[str]:
    problems = []
    files = [
        p
        for top in ("src", "tools", "include")
        for p in sorted((root / top).rglob("*"))
        if p.suffix in (".cpp", ".hpp", ".h") and p.is_file()
    ]
    for path in files:
        own = folder_of(path, root)
        shown = path.relative_to(root)
        for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            target = match.group(2)
            if QT_HEADER.match(target) and own not in QT_FOLDERS:
                problems.append(f"{shown}:{number}: {own} includes Qt <{target}>; only src/qt "
                                "and tools may")
                continue
            folder = target.split("/", 1)[0]
            if "/" not in target or folder not in RANK or folder == own:
                continue  # a system header or one of the file's own folder
            if RANK[folder] > RANK[own]:
                problems.append(f"{shown}:{number}: {own} includes {target}, a layer above it")
            elif RANK[folder] == RANK[own]:
                problems.append(f"{shown}:{number}: {own} includes {target}, a folder on its "
                                "own layer")
    return problems


def main() -> int:
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).parent.parent)
    problems = check(root.resolve())
    for problem in problems:
        print(problem)
    if problems:
        print("Includes run down the layers only: tools > qt > component > service, wizard > "
              "document > util, codec > soap > xml > platform > include/ovk "
              "(see docs/architecture.md).", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
