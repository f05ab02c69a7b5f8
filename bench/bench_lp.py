#!/usr/bin/env python3
"""LP text: mopsel's LP reader and writer against its MPS reader and writer on the same models,
and against the LP readers of HiGHS, SCIP and Gurobi (each optional; a missing one is skipped).

The LP files are written by HiGHS (`writeModel`) from MPS models: nw04 and the generated
100 MB models of bench/make_big.py (run it first: `python bench/make_big.py --sizes 100MB
--no-gzip`), into $MOPSEL_BENCH_DIR/lp (default /tmp/mopsel-bench/lp). Times are the best of
--repeat runs in this process (the peers: one run, they are slow); MB/s are of the text read or
written (MB = 10^6 bytes).

    python bench/bench_lp.py                       # nw04 and the two 100 MB shapes
    python bench/bench_lp.py --models nw04 --repeat 5
"""

from __future__ import annotations

import argparse
import contextlib
import io
import os
import time
from pathlib import Path

import mopsel

DATA = Path(__file__).resolve().parent.parent.parent / "shared" / "data"
BENCH = Path(os.environ.get("MOPSEL_BENCH_DIR", "/tmp/mopsel-bench"))
MODELS = {
    "nw04": DATA / "miplib3" / "nw04.gz",
    "few-rows-100MB": BENCH / "generated" / "few-rows-100MB.mps",
    "many-rows-100MB": BENCH / "generated" / "many-rows-100MB.mps",
}


def best(run, repeat: int) -> float:
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        run()
        times.append(time.perf_counter() - start)
    return min(times)


def highs_lp(mps: Path, lp: Path) -> None:
    """The LP file HiGHS writes for the MPS model (made once)."""
    if lp.exists():
        return
    import highspy

    h = highspy.Highs()
    h.setOptionValue("output_flag", False)
    h.readModel(str(mps))
    h.writeModel(str(lp))


def peer_readers():
    readers = {}
    try:
        import highspy

        def highs(path: Path) -> None:
            h = highspy.Highs()
            h.setOptionValue("output_flag", False)
            h.readModel(str(path))

        readers["HiGHS readModel"] = highs
    except ImportError:
        pass
    try:
        import pyscipopt

        def scip(path: Path) -> None:
            m = pyscipopt.Model()
            m.hideOutput()
            m.readProblem(str(path))

        readers["SCIP readProblem"] = scip
    except ImportError:
        pass
    try:
        import gurobipy

        def gurobi(path: Path) -> None:
            with contextlib.redirect_stdout(io.StringIO()):
                env = gurobipy.Env(empty=True)
                env.setParam("OutputFlag", 0)
                env.start()
                gurobipy.read(str(path), env)

        readers["Gurobi read"] = gurobi
    except ImportError:
        pass
    return readers


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--models", nargs="*", default=list(MODELS))
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--no-peers", action="store_true")
    args = parser.parse_args()
    out = BENCH / "lp"
    out.mkdir(parents=True, exist_ok=True)
    print("| model | text | mopsel read LP | mopsel read MPS | LP/MPS | mopsel write LP | mopsel write MPS | peers read LP |")
    print("|---|---|---|---|---|---|---|---|")
    for name in args.models:
        source = MODELS[name]
        if not source.exists():
            print(f"| {name} | absent: {source} | | | | | | |")
            continue
        lp = out / f"{name}.lp"
        mps = out / f"{name}.mps"
        if not mps.exists():
            mopsel.write(mopsel.read(source), mps)
        highs_lp(mps, lp)  # HiGHS reads the plain MPS text
        lp_mb = lp.stat().st_size / 1e6
        mps_mb = mps.stat().st_size / 1e6
        read_lp = best(lambda: mopsel.read(lp), args.repeat)
        read_mps = best(lambda: mopsel.read(mps), args.repeat)
        model = mopsel.read(lp)
        written_lp = out / f"{name}.mopsel.lp"
        written_mps = out / f"{name}.mopsel.mps"
        write_lp = best(lambda: mopsel.write(model, written_lp), args.repeat)
        write_mps = best(lambda: mopsel.write(model, written_mps), args.repeat)
        w_lp_mb = written_lp.stat().st_size / 1e6
        w_mps_mb = written_mps.stat().st_size / 1e6
        peers = []
        if not args.no_peers:
            for peer, read in peer_readers().items():
                start = time.perf_counter()
                try:
                    read(lp)
                except Exception as error:  # Gurobi's pip licence refuses large models
                    peers.append(f"{peer}: {type(error).__name__}: {str(error).splitlines()[0][:80]}")
                    continue
                seconds = time.perf_counter() - start
                peers.append(f"{peer} {lp_mb / seconds:,.0f} MB/s ({read_lp and seconds / read_lp:,.1f}x mopsel's time)")
        print(
            f"| {name} | LP {lp_mb:,.1f} MB, MPS {mps_mb:,.1f} MB | {lp_mb / read_lp:,.0f} MB/s ({read_lp:.3f} s) "
            f"| {mps_mb / read_mps:,.0f} MB/s ({read_mps:.3f} s) | {(lp_mb / read_lp) / (mps_mb / read_mps):.0%} "
            f"| {w_lp_mb / write_lp:,.0f} MB/s | {w_mps_mb / write_mps:,.0f} MB/s | {'; '.join(peers)} |",
            flush=True,
        )


if __name__ == "__main__":
    main()
