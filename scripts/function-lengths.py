#!/usr/bin/env python3
"""Lists the functions of C++ files whose bodies run longer than a limit.

Usage: function-lengths.py [--limit N] [--all] PATH...   (folders are searched for .cpp and .h)

A brace-counting reader, no compiler needed: comments are dropped and string literals blanked
first, so braces inside them do not count. A function is a brace block opened at namespace or
class level whose head (the text since the previous ';', '{' or '}') holds a parameter list and
is no type, namespace or initialiser. Its length runs from the first line of its head to its
closing brace; lines that hold nothing but string literals (help texts) are not counted.
Lambdas and local classes count toward the function around them. Exits 1 when a function is
over the limit.
"""
import argparse
import os
import re
import sys


def strip(text):
    """The text with comments removed and literals blanked, and per line whether it held
    code other than string literals."""
    out = []
    code_line = [False]
    literal_line = [False]
    i = 0
    n = len(text)

    def put(c, is_code):
        out.append(c)
        if c == "\n":
            code_line.append(False)
            literal_line.append(False)
        elif not c.isspace():
            if is_code:
                code_line[-1] = True
            else:
                literal_line[-1] = True

    while i < n:
        c = text[i]
        if text.startswith("//", i):
            while i < n and text[i] != "\n":
                i += 1
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
            for ch in text[i:end]:
                if ch == "\n":
                    put("\n", False)
            i = end
        elif c == "R" and text.startswith('R"', i) and (i == 0 or not text[i - 1].isalnum()):
            open_paren = text.find("(", i + 2)
            delim = ")" + text[i + 2:open_paren] + '"'
            end = text.find(delim, open_paren)
            end = n if end < 0 else end + len(delim)
            for ch in text[i:end]:
                put("\n" if ch == "\n" else "s", False)
            i = end
        elif c == '"' or (c == "'" and not (i > 0 and text[i - 1].isalnum())):
            quote = c
            j = i + 1
            while j < n and text[j] != quote:
                j += 2 if text[j] == "\\" else 1
            for _ in text[i:j + 1]:
                put("s", False)
            i = j + 1
        else:
            put(c, True)
            i += 1
    return "".join(out), code_line, literal_line


NOT_FUNCTION = re.compile(r"\b(namespace|class|struct|union|enum)\b")
CONTROL = re.compile(r"^\s*(if|for|while|switch|catch|do|else)\b")


def functions(path):
    with open(path, encoding="utf-8") as f:
        text, code_line, literal_line = strip(f.read())
    # Per scope: 'ns' (namespace or file), 'class', 'function', 'other'.
    stack = []
    head_start = 0
    found = []
    line = 0
    for i, c in enumerate(text):
        if c == "\n":
            line += 1
        if c in ";{}":
            head = text[head_start:i]
            if c == "{":
                inside = stack[-1][0] if stack else "ns"
                kind = "other"
                if inside in ("ns", "class"):
                    flat = " ".join(head.split())
                    if NOT_FUNCTION.search(flat.split("(")[0]) or flat.startswith("extern"):
                        kind = "class" if "namespace" not in flat and "extern" not in flat else "ns"
                        if re.search(r"\benum\b", flat):
                            kind = "other"
                    elif "(" in flat and not flat.endswith("=") and not CONTROL.match(flat) \
                            and "=" not in flat.split("(")[0]:
                        kind = "function"
                lead = len(head) - len(head.lstrip())
                first = line - head[lead:].count("\n")
                name = ""
                if kind == "function":
                    m = re.search(r"([~\w:]+(?:operator\W+)?)\s*\(", " ".join(head.split()))
                    name = m.group(1) if m else "?"
                stack.append((kind, first, name))
            elif c == "}" and stack:
                kind, first, name = stack.pop()
                if kind == "function":
                    lines = sum(1 for k in range(first, line + 1)
                                if not (literal_line[k] and not code_line[k]))
                    found.append((lines, first + 1, name))
            head_start = i + 1
    return found


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--limit", type=int, default=60)
    parser.add_argument("--all", action="store_true", help="list every function, longest first")
    parser.add_argument("paths", nargs="+")
    args = parser.parse_args()
    files = []
    for p in args.paths:
        if os.path.isdir(p):
            for root, _, names in os.walk(p):
                files += [os.path.join(root, n) for n in names if n.endswith((".cpp", ".h"))]
        else:
            files.append(p)
    rows = []
    for path in sorted(files):
        rows += [(lines, path, first, name) for lines, first, name in functions(path)]
    rows.sort(reverse=True)
    over = [r for r in rows if r[0] > args.limit]
    try:
        for lines, path, first, name in rows if args.all else over:
            print(f"{lines:4d}  {path}:{first}  {name}")
    except BrokenPipeError:
        return 0
    if not args.all:
        longest = rows[0] if rows else (0, "-", 0, "-")
        print(f"{len(rows)} functions, {len(over)} over {args.limit} lines; "
              f"the longest {longest[0]} ({longest[3]}, {longest[1]}:{longest[2]})")
    return 1 if over else 0


if __name__ == "__main__":
    sys.exit(main())
