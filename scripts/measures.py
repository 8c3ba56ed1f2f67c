#!/usr/bin/env python3
# Measures anyone can take of the program code (runtime/ and the three programs): no function over
# 45 lines (the catalog's table of sentences aside), no file over 400. A function is counted from
# the line its name stands on to its closing brace. Prints each one past its measure; exit 1 if any.
import re
import subprocess
import sys

MOST_FUNCTION, MOST_FILE = 45, 400
ASIDE = {("runtime/messages.cpp", "english")}  # the catalog: a table, one line a sentence


def code_only(text):
    """The text with comments, strings and characters blanked, line ends kept."""
    pattern = re.compile(r'//[^\n]*|/\*.*?\*/|R"(\w*)\(.*?\)\1"|"(?:\\.|[^"\\\n])*"|\'(?:\\.|[^\'\\\n])*\'', re.S)
    text = pattern.sub(lambda m: re.sub(r"[^\n]", " ", m.group(0)), text)
    directive = re.compile(r"^[ \t]*#(?:[^\n]*\\\n)*[^\n]*", re.M)  # with its continued lines
    return directive.sub(lambda m: re.sub(r"[^\n]", " ", m.group(0)), text)


def functions(path):
    text = code_only(open(path, encoding="utf-8").read())
    stack, head_start, head = [], 0, ""
    line = 1
    for ch in text:
        if ch == "{":
            kind = "block"
            h = " ".join(head.split())
            inside_code = any(k == "function" or k == "block" for k, *_ in stack)
            if re.match(r"^(namespace\b.*|extern)$", h):  # extern "C" { ... } (its string blanked)
                kind = "namespace"
            elif re.search(r"\b(class|struct|union|enum)\b[^()]*$", h) and not inside_code:
                kind = "type"
            elif ")" in h and not inside_code and not re.search(r"=\s*$", h):
                kind = "function"
            name = re.findall(r"([~\w:]+)\s*\(", h)
            stack.append((kind, head_start, name[0].split("::")[-1] if name else "?"))
            head = ""
            head_start = line
        elif ch == "}":
            if stack:
                kind, start, name = stack.pop()
                if kind == "function":
                    yield name, start, line
            head = ""
            head_start = line
        elif ch == ";":
            head = ""
            head_start = line
        else:
            if not head.strip() and not ch.isspace():
                head_start = line
            head += ch
        if ch == "\n":
            line += 1


def main():
    files = subprocess.run(["git", "ls-files", "runtime", "photo", "computer", "tallage"], capture_output=True,
                           text=True, check=True).stdout.split()
    bad = 0
    for path in files:
        if not path.endswith((".cpp", ".hpp")):
            continue
        lines = sum(1 for _ in open(path, encoding="utf-8"))
        if lines > MOST_FILE:
            print(f"{path}: {lines} lines (at most {MOST_FILE})")
            bad += 1
        for name, start, end in functions(path):
            if end - start + 1 > MOST_FUNCTION and (path, name) not in ASIDE:
                print(f"{path}:{start}: {name} is {end - start + 1} lines (at most {MOST_FUNCTION})")
                bad += 1
    sys.exit(1 if bad else 0)


main()
