#!/usr/bin/env python3
"""How long Ctrl-C takes to end a long call: a child process starts the call, the parent sends
SIGINT some time into it and the child reports when KeyboardInterrupt reached Python. Both
sides read CLOCK_MONOTONIC, which the processes share.

    .venv/bin/python bench/interrupt_latency.py [--file PATH] [--after 0.5 1.5] [--repeat 3]

The default file is the generated few-rows-1GB model (bench/make_big.py --sizes 1GB).
"""
from __future__ import annotations

import argparse
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

CACHE = Path(os.environ.get("MOPSEL_BENCH_DIR", "/tmp/mopsel-bench")) / "generated"

CHILD = r"""
import signal, sys, time
signal.signal(signal.SIGINT, signal.default_int_handler)
import mopsel._mopsel as mm
job, path, out = sys.argv[1:4]
mm.parse_str("ROWS\nENDATA\n")
arg = path
if job in ("write_file", "write_str"):
    arg = mm.parse_file(path)
elif job == "parse_str":
    with open(path, encoding="utf-8") as f:
        arg = f.read()
call = {
    "parse_file": lambda: mm.parse_file(arg),
    "parse_str": lambda: mm.parse_str(arg),
    "write_file": lambda: mm.write_file(arg, out),
    "write_str": lambda: mm.write_str(arg),
}[job]
try:
    print("ready", flush=True)
    call()
    print("finished", time.monotonic(), flush=True)
except KeyboardInterrupt:
    print("interrupted", time.monotonic(), flush=True)
"""


def one_run(job: str, path: Path, after: float) -> float | None:
    with tempfile.TemporaryDirectory() as scratch:
        child = subprocess.Popen(
            [sys.executable, "-c", CHILD, job, str(path), str(Path(scratch) / "out.mps")],
            stdout=subprocess.PIPE, text=True,
        )
        assert child.stdout.readline() == "ready\n"
        time.sleep(after)
        sent = time.monotonic()
        child.send_signal(signal.SIGINT)
        word, stamp = child.stdout.readline().split()
        child.wait()
        return float(stamp) - sent if word == "interrupted" else None


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--file", type=Path, default=CACHE / "few-rows-1GB.mps")
    parser.add_argument("--jobs", nargs="+", default=["parse_file", "parse_file.gz", "parse_str",
                                                       "write_file", "write_str"])
    parser.add_argument("--after", type=float, nargs="+", default=[0.5, 1.5])
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()
    print("| job | file | SIGINT after s | latency ms (median, max) |")
    print("|---|---|---:|---:|")
    for job in args.jobs:
        path = Path(str(args.file) + ".gz") if job.endswith(".gz") else args.file
        for after in args.after:
            runs = [one_run(job.removesuffix(".gz"), path, after) for _ in range(args.repeat)]
            done = [r for r in runs if r is not None]
            if len(done) < len(runs):
                print(f"| {job} | {path.name} | {after} | finished before the signal in "
                      f"{len(runs) - len(done)} of {len(runs)} runs |")
            if done:
                print(f"| {job} | {path.name} | {after} | {statistics.median(done) * 1e3:.1f}, "
                      f"{max(done) * 1e3:.1f} |")


if __name__ == "__main__":
    main()
