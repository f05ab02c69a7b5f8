"""Benchmark of the mopsel command on the generated large models (bench/make_big.py): info and
spy against reading the model, diff against reading both models, each in a fresh process.
Target: diff compares two models of a gigabyte in about the time reading them takes.

    .venv/bin/python bench/bench_cli.py [--size 1GB] [--repeat N] [--shapes few-rows many-rows]

For each shape it times, best of N: reading the model (mopsel.read in a fresh process),
`mopsel info`, `mopsel spy` (when matplotlib is installed); reading the model and its gzip copy
one after the other, then `mopsel diff` of the two (the same model: names and matrix compare in
place); reading the model and an edited copy (a row renamed, a row's type changed: names are
matched through a dict and every entry by key), then `mopsel diff` of those. The edited copy is
made once, beside the generated files. diff reads its two files in two threads, so it can beat
the sequential reads when a core is free. Timings on a shared machine are noisy.
"""

from __future__ import annotations

import argparse
import os
import re
import subprocess
import sys
import time
from pathlib import Path

CACHE = Path(os.environ.get("MOPSEL_BENCH_DIR", "/tmp/mopsel-bench")) / "generated"


def edited_copy(source: Path) -> Path:
    """The model with its first constraint row renamed and the second one turned into an L row."""
    target = source.with_name(source.stem + "-edited.mps")
    if target.exists() and target.stat().st_mtime >= source.stat().st_mtime:
        return target
    text = source.read_bytes()
    rows = re.findall(rb"^ [ELG]  (\S+)$", text[: text.index(b"\nCOLUMNS")], re.M)
    first, second = rows[0], rows[1]
    text = re.sub(rb"(?<=\s)" + re.escape(first) + rb"(?=\s)", first + b"x", text)
    text = text.replace(b"\n E  " + second + b"\n", b"\n L  " + second + b"\n", 1)
    target.write_bytes(text)
    return target


def best_of(repeat: int, command: list) -> float:
    best = float("inf")
    for _ in range(repeat):
        begin = time.perf_counter()
        done = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        best = min(best, time.perf_counter() - begin)
        if done.returncode not in (0, 1):
            raise SystemExit(f"{' '.join(map(str, command))} failed: {done.stderr.decode()}")
    return best


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--size", default="1GB")
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--shapes", nargs="+", default=["few-rows", "many-rows"])
    args = parser.parse_args()
    python, mopsel = sys.executable, [sys.executable, "-m", "mopsel"]
    try:
        import matplotlib  # noqa: F401

        plots = True
    except ImportError:
        plots = False
    for shape in args.shapes:
        plain = CACHE / f"{shape}-{args.size}.mps"
        if not plain.exists():
            raise SystemExit(f"{plain} is missing: run bench/make_big.py --sizes {args.size}")
        packed, edited = plain.with_name(plain.name + ".gz"), edited_copy(plain)

        def reading(*paths: Path) -> float:
            code = "import mopsel\n" + "".join(f"mopsel.read({str(p)!r})\n" for p in paths)
            return best_of(args.repeat, [python, "-c", code])

        read = reading(plain)
        # job -> (seconds, seconds of the reads it is measured against)
        jobs = {"read the model": (read, read), "mopsel info": (best_of(args.repeat, [*mopsel, "info", plain]), read)}
        if plots:
            spy = best_of(args.repeat, [*mopsel, "spy", plain, "-o", CACHE / f"{shape}.png"])
            jobs["mopsel spy"] = (spy, read)
        pairs = {"its gzip copy": packed, "an edited copy": edited}
        for what, other in pairs.items():
            if other.exists():
                both = reading(plain, other)
                jobs[f"read it and {what}"] = (both, both)
                jobs[f"mopsel diff, {what}"] = (best_of(args.repeat, [*mopsel, "diff", plain, other]), both)
        print(f"{plain.name} ({plain.stat().st_size / 1e6:,.0f} MB), best of {args.repeat}, wall seconds")
        for job, (seconds, against) in jobs.items():
            print(f"  {job:32} {seconds:7.2f} s  {seconds / against:5.2f}x its reads")


if __name__ == "__main__":
    main()
