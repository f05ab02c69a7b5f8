"""Corpus throughput of mopsel.stats_table: a sequential loop (read + stats per file, the code a
user would write), stats_table in this process (jobs=1), in local processes (jobs=1 and 2 worker
processes are what this 2-core machine allows) and on a dask.distributed LocalCluster of 1 and 2
worker processes (started before the clock; its start-up is printed apart).

    .venv/bin/python bench/corpus_throughput.py [--repeat N] [--copies N] [--small N] [--no-dask]

Corpora: the public models of ../shared/data (151 files, gzip and plain) listed --copies times
(default 4, so that a run takes seconds rather than the fraction of a second process start-up
would blur), and N small generated models (default 2,000, 20 rows by 40 columns each, plain
text), where the cost per file, not the reading, dominates. Prints files/s and MB/s of the files
as stored, best and median of N runs (default 5), and the load average before and after: timings
on a shared machine are noisy.
"""

from __future__ import annotations

import argparse
import os
import statistics
import sys
import tempfile
import time
import warnings
from pathlib import Path
from typing import Callable, List

import numpy as np

import mopsel

DATA = Path(__file__).resolve().parents[2] / "shared" / "data"


def public_corpus() -> List[str]:
    return sorted(str(p) for p in DATA.glob("*/*") if p.name.endswith((".gz", ".mps")))


def small_corpus(folder: Path, count: int) -> List[str]:
    rng = np.random.default_rng(7)
    paths = []
    for k in range(count):
        dense = np.where(rng.random((20, 40)) < 0.2, rng.integers(1, 9, (20, 40)), 0).astype(float)
        m = mopsel.from_arrays(col_cost=rng.integers(0, 5, 40).astype(float), a_matrix=dense,
                               row_lower=np.full(20, -np.inf), row_upper=rng.integers(1, 50, 20).astype(float),
                               col_integrality=rng.integers(0, 2, 40))
        path = folder / f"m{k:05d}.mps"
        mopsel.write(m, path)
        paths.append(str(path))
    return paths


def sequential(paths: List[str]) -> int:
    return sum(mopsel.stats(mopsel.read(p)).nonzeros for p in paths)


def timed(run: Callable[[], object], repeat: int) -> List[float]:
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        run()
        times.append(time.perf_counter() - start)
    return times


def report(label: str, times: List[float], files: int, megabytes: float) -> None:
    best, median = min(times), statistics.median(times)
    print(f"  {label:34} best {best:6.3f} s  median {median:6.3f} s  "
          f"{files / best:8.0f} files/s  {megabytes / best:6.1f} MB/s", flush=True)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--copies", type=int, default=4)
    parser.add_argument("--small", type=int, default=2000)
    parser.add_argument("--no-dask", action="store_true")
    args = parser.parse_args()
    # The public models' genuine findings (dsbmip's extra N rows, ...) would print once each.
    warnings.simplefilter("ignore", mopsel.MpsWarning)
    with tempfile.TemporaryDirectory() as folder:
        print(f"load average {os.getloadavg()[0]:.1f} on {os.cpu_count()} CPUs")
        corpora = {f"public models x{args.copies}": public_corpus() * args.copies,
                   f"{args.small} small models": small_corpus(Path(folder), args.small)}
        clusters = {}
        if not args.no_dask:
            import distributed

            for workers in (1, 2):
                start = time.perf_counter()
                cluster = distributed.LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                                                   dashboard_address=":0")
                client = distributed.Client(cluster)
                print(f"LocalCluster of {workers} worker(s) started in {time.perf_counter() - start:.1f} s")
                clusters[workers] = (cluster, client)
        for name, paths in corpora.items():
            if not paths:
                print(f"{name}: none found", file=sys.stderr)
                continue
            megabytes = sum(Path(p).stat().st_size for p in paths) / 1e6
            print(f"{name}: {len(paths)} files, {megabytes:.1f} MB as stored")
            runs = {
                "sequential loop (read + stats)": lambda p=paths: sequential(p),
                "stats_table(jobs=1), this process": lambda p=paths: mopsel.stats_table(p, jobs=1, progress=False),
                "stats_table, 1 worker process": lambda p=paths: _pool(p, 1),
                "stats_table(jobs=2), 2 processes": lambda p=paths: mopsel.stats_table(p, jobs=2, progress=False),
            }
            for workers, (_, client) in clusters.items():
                runs[f"stats_table, LocalCluster {workers} worker(s)"] = (
                    lambda p=paths, c=client: mopsel.stats_table(p, client=c, progress=False))
            for label, run in runs.items():
                run()  # warm: imports, worker start, the files in the page cache
                report(label, timed(run, args.repeat), len(paths), megabytes)
        print(f"load average {os.getloadavg()[0]:.1f}")
        for cluster, client in clusters.values():
            client.close()
            cluster.close()


def _pool(paths: List[str], workers: int) -> object:
    """stats_table on a pool of `workers` processes, started within the clock as stats_table(jobs=N)
    starts its own (a pool of one: the cost of handing the work to another process)."""
    from concurrent.futures import ProcessPoolExecutor

    with ProcessPoolExecutor(workers) as pool:
        return mopsel.stats_table(paths, client=pool, jobs=workers, progress=False)


if __name__ == "__main__":
    main()
