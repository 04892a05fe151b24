#!/usr/bin/env python3
"""Sizes a person can hold: lines of production code and of tests, the largest production files
and the longest functions, with limits that make it exit 1 listing what is over them.

Production code is every .cpp/.h under src/ except tests (*_test.cpp and testing/ folders);
bench/ and fuzz/ are counted on their own. A line is a line as `wc -l` counts it. A function is
found by brace matching: a `{` met at namespace or class level after a signature (something with
parentheses that is no initializer) opens it, and it runs, lambdas and local classes included,
from the line of its signature to the line of its matching `}`.
"""
import argparse
import re
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
SOURCE_SUFFIXES = {".cpp", ".h"}
SCOPE_KEYWORDS = re.compile(r"^(?:template\s*<.*>\s*)?(namespace|class|struct|union|enum|extern)\b")


def Kind(path):
    rel = path.relative_to(ROOT)
    if rel.parts[0] in ("bench", "fuzz"):
        return rel.parts[0]
    if path.name.endswith("_test.cpp") or "testing" in rel.parts:
        return "test"
    return "production"


def Blank(text):
    """The text with comments, string and character literals turned to spaces (newlines kept)."""
    out, i, n = [], 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
        elif c == "R" and text.startswith('R"', i) and not (i and (text[i - 1].isalnum() or text[i - 1] == "_")):
            delim = text[i + 2 : text.find("(", i)]
            j = text.find(")" + delim + '"', i)
            j = n if j < 0 else j + len(delim) + 2
        elif c == '"' or (c == "'" and not (i and text[i - 1].isalnum())):  # 1'000 is a number
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            j += 1
        else:
            out.append(c)
            i += 1
            continue
        out.append(re.sub(r"[^\n]", " ", text[i:j]))
        i = j
    return "".join(out)


def Functions(path):
    """(first line, last line, signature) of each function body in the file."""
    text = Blank(path.read_text(errors="replace"))
    found, stack = [], []  # stack: what each open brace is ("scope", "other", or a function start)
    header_start, header = 0, ""
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if c == "{":
            h = " ".join(header.split())
            in_scope = all(kind == "scope" for kind in stack)
            if not in_scope or not h:
                stack.append("other")
            elif SCOPE_KEYWORDS.match(h) and not h.startswith("enum"):
                stack.append("scope")
            elif "(" in h and ")" in h and not re.search(r"(?<![=!<>])=(?!=)", h.split("(")[0]) \
                    and not re.search(r"\)\s*:[^:]*[\w>]\s*$", h):  # a member initialiser's brace
                stack.append((text.count("\n", 0, header_start) + 1, h))
            else:
                stack.append("other")
            header, header_start = "", i + 1
        elif c == "}":
            opened = stack.pop() if stack else "other"
            if isinstance(opened, tuple):
                found.append((opened[0], text.count("\n", 0, i) + 1, opened[1]))
            header, header_start = "", i + 1
        elif c == ";" and all(kind == "scope" for kind in stack):
            header, header_start = "", i + 1
        else:
            if not header.strip():
                header_start = i
            header += c
            if re.search(r"^\s*(public|private|protected)\s*:$", header) or header.lstrip().startswith("#") and c == "\n":
                header, header_start = "", i + 1
        i += 1
    return found


def Name(signature):
    signature = re.sub(r"__attribute__\s*\(\(.*?\)\)|\[\[.*?\]\]", " ", signature)
    before = signature.split("(")[0].split()
    return before[-1] if before else signature[:40]


def Main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--top", type=int, default=15, help="how many files and functions to list")
    parser.add_argument("--max-file-lines", type=int, help="limit for a production file")
    parser.add_argument("--max-window-file-lines", type=int,
                        help="limit for a production file in src/window/ (else --max-file-lines)")
    parser.add_argument("--max-function-lines", type=int, help="limit for a production function")
    args = parser.parse_args()

    files = sorted(p for top in ("src", "bench", "fuzz") for p in (ROOT / top).rglob("*")
                   if p.suffix in SOURCE_SUFFIXES and p.is_file())
    lines = {p: p.read_text(errors="replace").count("\n") for p in files}
    totals, modules = {}, {}
    for p in files:
        kind = Kind(p)
        totals[kind] = totals.get(kind, 0) + lines[p]
        if p.relative_to(ROOT).parts[0] == "src":
            module = modules.setdefault(p.relative_to(ROOT).parts[1], {"production": 0, "test": 0})
            module[kind] += lines[p]
    production = [p for p in files if Kind(p) == "production"]

    print("lines: " + ", ".join(f"{k} {totals.get(k, 0)}" for k in ("production", "test", "bench", "fuzz")))
    if totals.get("production"):
        print(f"tests per production line: {totals.get('test', 0) / totals['production']:.2f}")
    print("\nmodule          production   test")
    for name, m in sorted(modules.items()):
        print(f"{name:<15} {m['production']:>10} {m['test']:>6}")
    print(f"\nlargest production files (of {len(production)}):")
    for p in sorted(production, key=lambda p: -lines[p])[: args.top]:
        print(f"{lines[p]:>6}  {p.relative_to(ROOT)}")
    functions = [(last - first + 1, p, first, Name(sig)) for p in production
                 for first, last, sig in Functions(p)]
    functions.sort(key=lambda f: (-f[0], str(f[1]), f[2]))
    print(f"\nlongest production functions (of {len(functions)}):")
    for length, p, first, name in functions[: args.top]:
        print(f"{length:>6}  {p.relative_to(ROOT)}:{first}  {name}")

    offenders = []
    for p in production:
        in_window = p.relative_to(ROOT).parts[:2] == ("src", "window")
        limit = args.max_window_file_lines if in_window and args.max_window_file_lines else args.max_file_lines
        if limit and lines[p] > limit:
            offenders.append(f"file {p.relative_to(ROOT)}: {lines[p]} lines, limit {limit}")
    if args.max_function_lines:
        offenders += [f"function {name} at {p.relative_to(ROOT)}:{first}: {length} lines, "
                      f"limit {args.max_function_lines}"
                      for length, p, first, name in functions if length > args.max_function_lines]
    if offenders:
        print(f"\nover the limits ({len(offenders)}):")
        print("\n".join(offenders))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(Main())
