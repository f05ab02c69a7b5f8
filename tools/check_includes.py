#!/usr/bin/env python3
"""Checks the include lines of the C++ core under src/.

The build already refuses an include against the layer order (each core folder sees
only the headers of the folders it links, CMakeLists.txt). What it cannot see is a
cycle: two headers of one folder that include each other compile under `#pragma once`
in one order and fail in the other. This check fails on any cycle among the project's
own headers, and on an include of a project header that does not exist.

Usage: tools/check_includes.py [SRC]   (default: the src/ beside this file's folder)
Exit status 0 when clean, 1 with one line per problem otherwise.
"""

from __future__ import annotations

import pathlib
import re
import sys
from typing import Dict, List, Set

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


def include_graph(src: pathlib.Path) -> Dict[str, List[str]]:
    """Every .hpp and .cpp under `src` (as a path relative to it) -> the project files it includes."""
    graph: Dict[str, List[str]] = {}
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".hpp", ".cpp"):
            continue
        text = path.read_text(encoding="utf-8")
        graph[path.relative_to(src).as_posix()] = INCLUDE.findall(text)
    return graph


def find_cycle(graph: Dict[str, List[str]]) -> List[str]:
    """One include cycle among the headers as a list of files (first == last), or []."""
    state: Dict[str, int] = {}  # 1: on the current path, 2: done
    path: List[str] = []

    def visit(node: str) -> List[str]:
        state[node] = 1
        path.append(node)
        for child in graph.get(node, []):
            if child not in graph:
                continue
            if state.get(child) == 1:
                return path[path.index(child) :] + [child]
            if state.get(child) is None:
                found = visit(child)
                if found:
                    return found
        path.pop()
        state[node] = 2
        return []

    for node in graph:
        if state.get(node) is None:
            found = visit(node)
            if found:
                return found
    return []


def problems(src: pathlib.Path) -> List[str]:
    graph = include_graph(src)
    out: List[str] = []
    project_roots: Set[str] = {p.name for p in src.iterdir() if p.is_dir()}
    for file, includes in graph.items():
        for included in includes:
            if included.split("/", 1)[0] in project_roots and included not in graph:
                out.append(f"{file}: includes {included}, which does not exist")
    cycle = find_cycle(graph)
    if cycle:
        out.append("include cycle: " + " -> ".join(cycle))
    return out


def main(argv: List[str]) -> int:
    src = pathlib.Path(argv[1]) if len(argv) > 1 else pathlib.Path(__file__).resolve().parent.parent / "src"
    found = problems(src)
    for line in found:
        print(line)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
