#!/usr/bin/python3
"""The build links the libraries one way; this keeps the includes one way
too, since every header is reachable from the source root and a lower
library could include a higher one's header without the build noticing.
What each library is made of and links comes from the build itself
(layer_table.cmake), so the layers are stated once, in the CMakeLists. Each
build checks the files it compiles; the two builds together check all.

includes_test.py SOURCE_ROOT LAYER_TABLE windows|posix
"""
import pathlib
import re
import sys

DIRECTIVE = re.compile(r'^\s*#\s*(ifdef|ifndef|if|else|elif|endif|include)\b\s*(.*)$')
QUOTED = re.compile(r'"([^"]+)"')


def read_table(path):
    files, links = {}, {}
    target = None
    for line in pathlib.Path(path).read_text().splitlines():
        kind, _, value = line.partition(" ")
        if kind == "target":
            target = value
            links[target] = set()
        elif kind == "file":
            files.setdefault(value, set()).add(target)
        elif kind == "link":
            links[target].add(value)
    return files, links


def closure(target, links):
    seen, todo = {target}, [target]
    while todo:
        for below in links.get(todo.pop(), ()):
            if below not in seen:
                seen.add(below)
                todo.append(below)
    return seen


def includes(text, windows):
    """The quoted includes this platform compiles: a branch of `#ifdef
    _WIN32` or `#ifndef _WIN32` that is not this platform's is skipped."""
    taken = [True]  # per open conditional, whether its branch is compiled
    platform = []   # per open conditional, whether it tests _WIN32
    for line in text.splitlines():
        match = DIRECTIVE.match(line)
        if not match:
            continue
        word, rest = match.groups()
        if word in ("ifdef", "ifndef", "if"):
            on_win32 = rest.split() == ["_WIN32"] and word != "if"
            platform.append(on_win32)
            branch = (windows == (word == "ifdef")) if on_win32 else True
            taken.append(taken[-1] and branch)
        elif word in ("else", "elif") and len(taken) > 1:
            if platform[-1]:
                taken[-1] = taken[-2] and not taken[-1]
        elif word == "endif" and len(taken) > 1:
            taken.pop()
            platform.pop()
        elif word == "include" and taken[-1]:
            quoted = QUOTED.match(rest)
            if quoted:
                yield quoted.group(1)


def main():
    root = pathlib.Path(sys.argv[1])
    owners, links = read_table(sys.argv[2])
    windows = sys.argv[3] == "windows"
    faults = []
    for path in sorted(owners):
        file = root / path
        if file.suffix not in (".h", ".cpp"):
            continue
        reach = set().union(*(closure(t, links) for t in owners[path]))
        for included in includes(file.read_text(errors="replace"), windows):
            if "/" not in included or not (root / included).is_file():
                continue
            held_by = owners.get(included, set())
            if not held_by:
                faults.append(f"{path} includes {included}, which no library holds")
            elif not held_by & reach:
                faults.append(f"{path} includes {included} of {', '.join(sorted(held_by))}, "
                              f"which {', '.join(sorted(owners[path]))} does not link")
    for fault in faults:
        print("FAIL:", fault)
    print(f"{len(owners)} files of {len(links)} libraries and programs, "
          f"{len(faults)} includes against the links")
    return 1 if faults or not owners else 0


sys.exit(main())
