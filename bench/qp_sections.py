#!/usr/bin/env python3
"""Times the reading of the quadratic sections against COLUMNS, and beside HiGHS and SCIP.

Reads the QP of bench/make_qp.py (made first when absent) and the same model without its
QUADOBJ section, each in a fresh process per run, in rounds whose job order is shuffled
(seeded). The Hessian's rate is the QUADOBJ bytes over the time the QP takes beyond the
linear model; the COLUMNS rate is the linear model's bytes (COLUMNS is 97% of them) over
its time. mopsel runs with one thread (the quadratic sections are read on one thread) and
with its default thread count; HiGHS (highspy) and SCIP (pyscipopt) read the QP file once
per round when installed.

    python bench/qp_sections.py [--size 100MB] [--repeat 5] [--no-peers]
"""
from __future__ import annotations

import argparse
import json
import os
import random
import statistics
import subprocess
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
import make_qp  # noqa: E402

# Each job: a Python snippet that reads PATH and prints the seconds the reading took.
JOBS = {
    "mopsel parse_file": ("import numpy, mopsel, time\nt = time.perf_counter()\nmopsel.parse_file(PATH)\n"
                          "print(time.perf_counter() - t)"),
    "highspy readModel": ("import highspy, time\nh = highspy.Highs()\nh.setOptionValue('output_flag', False)\n"
                          "t = time.perf_counter()\nh.readModel(PATH)\nprint(time.perf_counter() - t)"),
    "scip readProblem": ("import pyscipopt, time\nm = pyscipopt.Model()\nm.hideOutput()\n"
                         "t = time.perf_counter()\nm.readProblem(PATH)\nprint(time.perf_counter() - t)"),
}


def run(job: str, path: Path, threads: str | None) -> float:
    env = dict(os.environ)
    env.pop("MOPSEL_THREADS", None)
    if threads is not None:
        env["MOPSEL_THREADS"] = threads
    code = JOBS[job].replace("PATH", repr(str(path)))
    out = subprocess.run([sys.executable, "-c", code], env=env, check=True, capture_output=True, text=True)
    return float(out.stdout.strip().splitlines()[-1])


def available(module: str) -> bool:
    return subprocess.run([sys.executable, "-c", f"import {module}"], capture_output=True).returncode == 0


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--size", default="100MB")
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--no-peers", action="store_true")
    args = parser.parse_args(argv)
    folder = Path(os.environ.get("MOPSEL_BENCH_DIR", "/tmp/mopsel-bench")) / "generated"
    label = f"{round(make_qp.parse_size(args.size) / 1e6)}MB"
    manifest_path = folder / f"qp-{label}.json"
    if not manifest_path.exists():
        make_qp.main(["--size", args.size, "--out", str(folder)])
    manifest = json.loads(manifest_path.read_text())
    qp, lp = folder / f"qp-{label}.mps", folder / f"qp-{label}-lp.mps"
    plan = [("mopsel parse_file", qp, "1"), ("mopsel parse_file", lp, "1"), ("mopsel parse_file", qp, None),
            ("mopsel parse_file", lp, None)]
    if not args.no_peers:
        plan += [(job, qp, None) for job, module in (("highspy readModel", "highspy"), ("scip readProblem", "pyscipopt"))
                 if available(module)]
    times: dict[tuple, list[float]] = {}
    order = random.Random(26)
    for _ in range(args.repeat):
        order.shuffle(plan)
        for job, path, threads in plan:
            times.setdefault((job, path.name, threads), []).append(run(job, path, threads))
    median = {key: statistics.median(values) for key, values in times.items()}
    qp_info, lp_info = manifest[qp.name], manifest[lp.name]
    hessian_mb = qp_info["section_bytes"]["QUADOBJ"] / 1e6
    print(f"QP {qp_info['bytes'] / 1e6:.1f} MB (COLUMNS {qp_info['section_bytes']['COLUMNS'] / 1e6:.1f} MB, "
          f"QUADOBJ {hessian_mb:.1f} MB, {qp_info['hessian_entries']:,} Hessian entries); "
          f"linear model {lp_info['bytes'] / 1e6:.1f} MB; median of {args.repeat} fresh processes")
    for (job, name, threads), seconds in sorted(median.items(), key=lambda item: (item[0][0], item[0][1], item[0][2] or "")):
        mb = (qp_info if name == qp.name else lp_info)["bytes"] / 1e6
        spread = f"{min(times[(job, name, threads)]):.3f}-{max(times[(job, name, threads)]):.3f}"
        label_threads = "" if threads is None else f" MOPSEL_THREADS={threads}"
        print(f"  {job}{label_threads} {name}: {seconds:.3f} s ({spread}), {mb / seconds:.0f} MB/s")
    for threads in ("1", None):
        t_qp = median[("mopsel parse_file", qp.name, threads)]
        t_lp = median[("mopsel parse_file", lp.name, threads)]
        columns_rate = lp_info["bytes"] / 1e6 / t_lp
        hessian_rate = hessian_mb / (t_qp - t_lp)
        which = "one thread" if threads == "1" else "default threads"
        print(f"  {which}: QUADOBJ {hessian_rate:.0f} MB/s, COLUMNS (linear model) {columns_rate:.0f} MB/s, "
              f"ratio {hessian_rate / columns_rate:.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
