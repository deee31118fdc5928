#!/usr/bin/env python3
"""Checks that every #include between the source folders points down the stack:
shell -> scene -> render -> display -> model -> platform. A file in src/X may include headers of
its own folder and of the folders below it; an include of a folder above it, or of a folder this
script does not know, is reported with its file and line, and the exit status is 1.
Usage: check-includes.py [SRC_DIR]  (default: the src folder beside this script's folder)"""
import pathlib
import re
import sys

# Lowest first; a folder may include itself and everything before it.
LAYERS = ["platform", "model", "display", "render", "scene", "shell"]
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"/]+)/')


def layer_of(folder):
    return LAYERS.index(folder) if folder in LAYERS else None


def check_file(path, src):
    relative = path.relative_to(src)
    # src/main.cpp sits above every folder.
    own = layer_of(relative.parts[0]) if len(relative.parts) > 1 else len(LAYERS)
    if own is None:
        return [f"{relative}: folder '{relative.parts[0]}' is not one of {', '.join(LAYERS)}"]
    problems = []
    for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
        match = INCLUDE.match(line)
        if not match:
            continue
        target = layer_of(match.group(1))
        if target is None:
            problems.append(f"{relative}:{number}: includes unknown folder '{match.group(1)}'")
        elif target > own:
            problems.append(f"{relative}:{number}: includes '{match.group(1)}', which sits above "
                            f"'{relative.parts[0] if len(relative.parts) > 1 else 'main'}'")
    return problems


def main():
    src = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parent.parent / "src"
    files = sorted(p for p in src.rglob("*") if p.suffix in (".h", ".cpp"))
    if not files:
        print(f"check-includes: no sources under {src}")
        return 1
    problems = [problem for path in files for problem in check_file(path, src)]
    for problem in problems:
        print(problem)
    print(f"check-includes: {len(files)} files, {len(problems)} includes pointing up the stack or elsewhere")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
