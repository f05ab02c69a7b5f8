#!/usr/bin/env python3
"""Row names prepared to collide in the reader's name maps, read under the seed they were made
for and under the process's random seed.

With k1 of the name seed equal to the first eight bytes of a 16-byte name, every such name gets
the same hash under the fast mix; mopsel._mopsel._fix_name_seed (a hook for tests) fixes the seed
so that the names can be made. A reader without a probe bound needs time quadratic in the row
count for these files; mopsel's maps give up on the fast mix and finish in about the time the
process seed takes.

    .venv/bin/python bench/name_flood.py [--rows 20000 80000 320000] [--repeat 3]
"""
from __future__ import annotations

import argparse
import time

import mopsel._mopsel as mm

PREFIX = b"ZZZZZZZZ"


def flood_text(rows: int) -> str:
    names = [PREFIX.decode() + "%08d" % i for i in range(rows)]
    return "".join(
        ["NAME flood\nROWS\n N obj\n"]
        + [" L %s\n" % name for name in names]
        + ["COLUMNS\n"]
        + [" x %s 1\n" % name for name in names]
        + ["ENDATA\n"]
    )


def best_time(text: str, seed: int | None, repeat: int) -> float:
    mm._fix_name_seed(seed)
    try:
        best = float("inf")
        for _ in range(repeat):
            start = time.perf_counter()
            mm.parse_str(text)
            best = min(best, time.perf_counter() - start)
        return best
    finally:
        mm._fix_name_seed(None)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rows", type=int, nargs="+", default=[20000, 80000, 320000])
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()
    mm.parse_str("ROWS\nENDATA\n")  # NumPy is imported outside the clock
    seed = int.from_bytes(PREFIX, "little")
    print("| rows | text MB | prepared seed s | process seed s |")
    print("|---:|---:|---:|---:|")
    for rows in args.rows:
        text = flood_text(rows)
        fixed = best_time(text, seed, args.repeat)
        random_seed = best_time(text, None, args.repeat)
        print(f"| {rows} | {len(text) / 1e6:.1f} | {fixed:.3f} | {random_seed:.3f} |")


if __name__ == "__main__":
    main()
