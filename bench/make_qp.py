#!/usr/bin/env python3
"""Writes a large quadratic program whose text is about half Hessian, and the same model
without its QUADOBJ section, for timing the quadratic sections against COLUMNS.

The model: `rows` constraint rows; every column has an objective coefficient and three
matrix entries (two COLUMNS lines) in rows spread by a fixed stride; the objective's H is
banded, each column holding its diagonal and entries with the next columns (QUADOBJ, one
triangle, one entry per line, as HiGHS and Gurobi write it). Numbers are short decimals of
several spellings. The band width is chosen so that the QUADOBJ section is about as long as
the rest of the text. The output is deterministic and goes to $MOPSEL_BENCH_DIR/generated
(default /tmp/mopsel-bench/generated) with a manifest of its counts:

    python bench/make_qp.py                 # qp-100MB.mps and qp-100MB-lp.mps
    python bench/make_qp.py --size 300MB
"""
from __future__ import annotations

import argparse
import json
import os
import sys
from pathlib import Path

ROWS = 2000
ROW_STRIDES = (7, 131, 1031)     # the rows of column j: j*s mod ROWS for each stride
BAND = 2                        # entries below the diagonal per column of H (with the diagonal: 3)
VALUES = ("1", "-2.5", "0.125", "3.75", "12", "-0.5", "1.2e-3", "7.25")


def parse_size(text: str) -> int:
    units = {"KB": 10**3, "MB": 10**6, "GB": 10**9}
    for unit, factor in units.items():
        if text.upper().endswith(unit):
            return int(float(text[: -len(unit)]) * factor)
    return int(text)


def value(k: int) -> str:
    return VALUES[k % len(VALUES)]


def column_lines(j: int) -> str:
    rows = [f"r{j * s % ROWS}" for s in ROW_STRIDES]
    name = f"x{j}"
    return (f"    {name}  obj  {value(j)}  {rows[0]}  {value(j + 1)}\n"
            f"    {name}  {rows[1]}  {value(j + 2)}  {rows[2]}  {value(j + 3)}\n")


def hessian_lines(j: int, columns: int) -> str:
    out = [f"    x{j}  x{j}  {4 + j % 5}\n"]
    for d in range(1, BAND + 1):
        if j + d < columns:
            out.append(f"    x{j}  x{j + d}  {value(j * 3 + d)}\n")
    return "".join(out)


def write(path: Path, columns: int, with_hessian: bool) -> dict:
    counts = {"rows": ROWS, "columns": columns, "entries": 0, "hessian_entries": 0}
    sizes = {}
    with open(path, "w", buffering=1 << 22) as f:
        def section(name: str, text_of, count: int) -> None:
            start = f.tell()
            f.write(name + "\n")
            for j in range(count):
                f.write(text_of(j))
            sizes[name] = f.tell() - start

        f.write("NAME          qp\nROWS\n N  obj\n")
        f.write("".join(f" L  r{i}\n" for i in range(ROWS)))
        section("COLUMNS", column_lines, columns)
        f.write("RHS\n" + "".join(f"    RHS  r{i}  {100 + i % 50}\n" for i in range(ROWS)))
        f.write("BOUNDS\n" + "".join(f" UP BND  x{j}  {10 + j % 7}\n" for j in range(0, columns, 11)))
        if with_hessian:
            section("QUADOBJ", lambda j: hessian_lines(j, columns), columns)
        f.write("ENDATA\n")
    counts["entries"] = columns * len(ROW_STRIDES)
    counts["hessian_entries"] = sum(1 + min(BAND, columns - 1 - j) for j in range(columns)) if with_hessian else 0
    return {"bytes": path.stat().st_size, "section_bytes": sizes, **counts}


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--size", type=parse_size, default=parse_size("100MB"), help="text size of the QP (default 100MB)")
    parser.add_argument("--out", type=Path, default=None, help="output folder (default: $MOPSEL_BENCH_DIR/generated)")
    args = parser.parse_args(argv)
    out = args.out or Path(os.environ.get("MOPSEL_BENCH_DIR", "/tmp/mopsel-bench")) / "generated"
    out.mkdir(parents=True, exist_ok=True)
    # About 75 bytes of COLUMNS and 55 of QUADOBJ per column at these name lengths.
    columns = max(100, args.size // 128)
    label = f"{round(args.size / 1e6)}MB"
    manifest = {}
    for name, with_hessian in ((f"qp-{label}.mps", True), (f"qp-{label}-lp.mps", False)):
        path = out / name
        manifest[name] = write(path, columns, with_hessian)
        print(f"{path}: {manifest[name]['bytes'] / 1e6:.1f} MB, sections {manifest[name]['section_bytes']}")
    (out / f"qp-{label}.json").write_text(json.dumps(manifest, indent=2) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
