#!/usr/bin/env python3
"""Checks every #include "..." of the product code against the rooms table of ARCHITECTURE.md.

    check_rooms.py SOURCE_DIR

Prints one line per broken rule and exits 1 when there is any; exits 0 otherwise.
"""
import pathlib
import re
import sys

PRODUCT_FOLDERS = ("base", "hid", "engine", "emulated", "app", "resources", "bench", "fuzz")
PRODUCT_TABLE = "engine/Products.h"
PRODUCT_ID = re.compile(r"0x(5028|7030|7029|2004)\b", re.IGNORECASE)
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)
PLATFORMS = ("linux", "windows")


def read_rooms(architecture):
    text = architecture.read_text(encoding="utf-8")
    start = text.index("<!-- rooms:")
    end = text.index("<!-- end of rooms -->")
    rooms = {}
    for line in text[start:end].splitlines():
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        if len(cells) < 3 or not cells[1].startswith("`"):
            continue
        name, folder, allowed = cells[0], cells[1].strip("`"), cells[2]
        rooms[name] = (folder, {a.strip() for a in allowed.split(",") if a.strip()})
    if not rooms:
        sys.exit("no rooms table found in " + str(architecture))
    return rooms


def room_of(path, rooms):
    """The room whose folder is the longest prefix of `path`, or None."""
    best = None
    for name, (folder, _) in rooms.items():
        if path.startswith(folder) and (best is None or len(folder) > len(rooms[best][0])):
            best = name
    return best


def platform_of(path):
    parts = path.split("/")
    for p in PLATFORMS:
        if p in parts[:-1]:
            return p
    return None


def check(source_dir):
    rooms = read_rooms(source_dir / "ARCHITECTURE.md")
    problems = []
    for folder in PRODUCT_FOLDERS:
        for file in sorted((source_dir / folder).rglob("*")):
            if file.suffix not in (".h", ".cpp", ".in", ".rc") or not file.is_file():
                continue
            rel = file.relative_to(source_dir).as_posix()
            room = room_of(rel, rooms)
            text = file.read_text(encoding="utf-8", errors="replace")
            if rel != PRODUCT_TABLE and file.suffix in (".h", ".cpp"):
                for m in PRODUCT_ID.finditer(text):
                    line = text.count("\n", 0, m.start()) + 1
                    problems.append(f"{rel}:{line}: product ID {m.group(0)} outside {PRODUCT_TABLE}")
            for m in INCLUDE.finditer(text):
                target = m.group(1)
                line = text.count("\n", 0, m.start()) + 1
                where = f"{rel}:{line}: includes {target}"
                if target.startswith("tests/"):
                    problems.append(f"{where}: product code never includes tests/")
                    continue
                if "/" not in target:
                    continue  # a file next to it, or generated beside it
                target_room = room_of(target, rooms)
                if target_room is None:
                    problems.append(f"{where}: in no room of ARCHITECTURE.md")
                    continue
                if target_room != room and target_room not in rooms[room][1]:
                    problems.append(f"{where}: {room} never includes {target_room}")
                mine, theirs = platform_of(rel), platform_of(target)
                linux_only = mine is None and room in ("bench", "fuzz")
                if theirs is not None and mine != theirs and not linux_only:
                    problems.append(f"{where}: {mine or 'shared'} code includes {theirs} code")
    return problems


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    problems = check(pathlib.Path(sys.argv[1]))
    for p in problems:
        print(p)
    print(f"{len(problems)} problem(s)")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
