"""Benchmark of mopsel.from_arrays on a generated model: 1,000,000 columns, 10,000,000 entries
(ten per column) and 100,000 rows, all checks included. Target: under 0.5 s for the
(start, index, value) input (bench/README.md).

    .venv/bin/python bench/bench_from_arrays.py [--repeat N] [--columns N] [--per-column K] [--rows N]

Prints the best time of each input form: the compressed triple with rows ascending in each
column (SciPy's canonical form), the same with the rows of each column shuffled (the repeat
check then sorts), a scipy.sparse.csc_array (when SciPy is installed), and given names.
Timings on a shared machine are noisy: best of N.
"""

from __future__ import annotations

import argparse
import time

import numpy as np


def generated(columns: int, per_column: int, rows: int, seed: int = 1):
    rng = np.random.default_rng(seed)
    start = np.arange(0, columns * per_column + 1, per_column, dtype=np.uint32)
    # K distinct rows per column: a random offset and a fixed stride, ascending.
    first = rng.integers(0, rows, columns, dtype=np.int64)[:, None]
    stride = rows // per_column
    index = ((first + stride * np.arange(per_column)) % rows)
    index.sort(axis=1)
    value = rng.uniform(-10.0, 10.0, columns * per_column)
    value[value == 0.0] = 1.0
    arrays = dict(col_cost=rng.uniform(-1.0, 1.0, columns), row_lower=np.full(rows, -np.inf),
                  row_upper=rng.uniform(1.0, 100.0, rows), col_upper=np.full(columns, 10.0))
    return start, index.astype(np.uint32).ravel(), value, arrays


def best_of(repeat: int, build) -> float:
    best = float("inf")
    for _ in range(repeat):
        begin = time.perf_counter()
        model = build()
        best = min(best, time.perf_counter() - begin)
        del model
    return best


def main() -> None:
    import mopsel

    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--columns", type=int, default=1_000_000)
    parser.add_argument("--per-column", type=int, default=10)
    parser.add_argument("--rows", type=int, default=100_000)
    args = parser.parse_args()
    start, index, value, arrays = generated(args.columns, args.per_column, args.rows)
    print(f"{args.columns:,} columns, {len(value):,} entries, {args.rows:,} rows; best of {args.repeat}")

    t = best_of(args.repeat, lambda: mopsel.from_arrays(a_matrix=(start, index, value), **arrays))
    print(f"triple, rows ascending per column   {t:7.3f} s")
    shuffled = index.reshape(args.columns, args.per_column)[:, ::-1].ravel().copy()
    t = best_of(args.repeat, lambda: mopsel.from_arrays(a_matrix=(start, shuffled, value), **arrays))
    print(f"triple, rows descending per column  {t:7.3f} s")
    try:
        import scipy.sparse as sp
    except ImportError:
        print("csc_array                           (SciPy not installed)")
    else:
        csc = sp.csc_array((value, index.astype(np.int32), start.astype(np.int32)), shape=(args.rows, args.columns))
        csc.has_canonical_format = True  # rows ascend and do not repeat
        t = best_of(args.repeat, lambda: mopsel.from_arrays(a_matrix=csc, **arrays))
        print(f"scipy csc_array                     {t:7.3f} s")
    col_names = [f"x{j}" for j in range(args.columns)]
    t = best_of(args.repeat, lambda: mopsel.from_arrays(a_matrix=(start, index, value), col_names=col_names, **arrays))
    print(f"triple with column names            {t:7.3f} s")


if __name__ == "__main__":
    main()
