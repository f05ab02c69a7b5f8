#!/usr/bin/env python3
"""Throughput, wall time and peak memory of mopsel against other MPS readers and writers.

Every measurement runs in a fresh subprocess (so its peak RSS is its own); the jobs alternate
within a round and the rounds repeat (median of --repeat, at least 5 for a real run). Results go
to bench/results/: results.md (tables and targets), results.json (every sample) and
throughput.png.

    python bench/run_bench.py                  # shared corpus + generated files that exist
    python bench/run_bench.py --quick          # nw04, fast0507 and maros-r7 only
    python bench/run_bench.py --files nw04 /path/to/model.mps --repeat 7
    python bench/run_bench.py --only 'mopsel|highs'   # a subset of the jobs (regular expression)

MB means 10^6 bytes. Readers are rated by the uncompressed text size, writers by the size of the
text they produce. The clp figure is the import time that clp prints for itself, not its process
time; its peak RSS is that of the clp process.
"""
from __future__ import annotations

import argparse
import gzip
import json
import os
import platform
import random
import re
import shutil
import statistics
import subprocess
import sys
import threading
import time
from dataclasses import dataclass, field
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent
DATA_DIR = ROOT.parent / "shared" / "data"
RESULT_TAG = "BENCH-RESULT "
MB = 1e6
MiB = 1 << 20

# Shared corpus: the two largest MIPLIB 3 files and the largest netlib models (dfl001 for its rows).
SHARED_CORPUS = {
    "nw04": "miplib3/nw04.gz",
    "fast0507": "miplib3/fast0507.gz",
    "maros-r7": "netlib/maros-r7.mps.gz",
    "fit2d": "netlib/fit2d.mps.gz",
    "pilot87": "netlib/pilot87.mps.gz",
    "fit2p": "netlib/fit2p.mps.gz",
    "dfl001": "netlib/dfl001.mps.gz",
}
QUICK_CORPUS = ("nw04", "fast0507", "maros-r7")


@dataclass(frozen=True)
class Job:
    name: str
    group: str          # "floor", "mopsel" or "peer"
    needs: str          # "plain" or "gz": which file of the corpus entry it works on
    rate_by: str        # "text" (input text size) or "output" (bytes written; for .gz output the text)
    module: str = ""    # Python module the job needs; "" for none, "clp" for the command
    threads: str = ""   # MOPSEL_THREADS for the worker; "" leaves it unset (mopsel's default)
    warm: bool = False  # timed in a process that made the same call before (see WARM_CALLS)
    settled: bool = False  # fresh process, timed once its other threads are idle (see settle())


# "warm" jobs make the call WARM_CALLS[0] times untimed and then WARM_CALLS[1] times timed in the
# same process and report the median of the timed ones: the figure of a program that reads or
# writes many models, whose allocator and page tables already hold the memory. Every other job
# is one call in a fresh process (first-touch page faults and all).
WARM_CALLS = (1, 3)

JOBS = [
    Job("read_bytes", "floor", "plain", "text"),
    Job("zlib inflate", "floor", "gz", "text"),
    Job("mopsel parse_file", "mopsel", "plain", "text", "mopsel"),
    Job("mopsel parse_file 1 thread", "mopsel", "plain", "text", "mopsel", threads="1"),
    Job("mopsel parse_file warm", "mopsel", "plain", "text", "mopsel", warm=True),
    Job("mopsel parse_file settled", "mopsel", "plain", "text", "mopsel", settled=True),
    Job("mopsel parse_file .gz", "mopsel", "gz", "text", "mopsel"),
    Job("mopsel parse_file .gz 1 thread", "mopsel", "gz", "text", "mopsel", threads="1"),
    Job("mopsel parse_file .gz warm", "mopsel", "gz", "text", "mopsel", warm=True),
    Job("mopsel parse_str", "mopsel", "plain", "text", "mopsel"),
    Job("mopsel write_str", "mopsel", "plain", "output", "mopsel"),
    Job("mopsel write_str warm", "mopsel", "plain", "output", "mopsel", warm=True),
    Job("mopsel write_file", "mopsel", "plain", "output", "mopsel"),
    Job("mopsel write_file .gz", "mopsel", "plain", "output", "mopsel"),
    Job("highspy readModel", "peer", "plain", "text", "highspy"),
    Job("highspy writeModel", "peer", "plain", "output", "highspy"),
    Job("clp import", "peer", "plain", "text", "clp"),
    Job("ortools import", "peer", "plain", "text", "ortools"),
    Job("pulp fromMPS", "peer", "plain", "text", "pulp"),
    Job("scip readProblem", "peer", "plain", "text", "pyscipopt"),
]
JOB_BY_NAME = {job.name: job for job in JOBS}

# The jobs and files of the large-file run (--preset scale): mopsel with 1 and N threads, fresh
# and warm, plain and gzip, against the floors; the peers on nw04 only.
SCALE_FILES = ("nw04", "few-rows-1GB", "many-rows-1GB")
SCALE_SKIP = "parse_str|mopsel write_file$"


@dataclass
class Entry:
    name: str
    plain: Path
    gz: Path | None
    text_bytes: int
    expected: dict = field(default_factory=dict)   # num_row/num_col/nnz when known (generated files)


# --------------------------------------------------------------------------------------------
# Worker side: one job, one process. Imports happen before the clock starts.

def rss_now() -> int:
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) * 1024
    return 0


def peak_rss() -> int:
    import resource
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024


def model_bytes(model) -> int:
    """Size of what parse_file returns: the arrays, plus the names as bytes with an 8-byte end offset each."""
    arrays = (model.col_cost, model.col_lower, model.col_upper, model.row_lower, model.row_upper,
              model.col_integrality, model.a_matrix.start, model.a_matrix.index, model.a_matrix.value)
    names = model.row_names + model.col_names
    return sum(a.nbytes for a in arrays) + sum(len(n.encode()) + 8 for n in names)


def timed(call, warm: bool = False) -> tuple[object, dict]:
    """Runs call() once; returns its value and the wall time, process CPU time and RSS figures.

    warm: call() runs WARM_CALLS[0] times untimed first, then WARM_CALLS[1] times timed; the
    figures are the medians of the timed calls (each value is dropped before the next call).
    """
    base = rss_now()
    untimed, runs = WARM_CALLS if warm else (0, 1)
    for _ in range(untimed):
        call()
    walls, cpus = [], []
    for _ in range(runs):
        value = None  # the previous value goes before the next call, as in a loop over files
        cpu = time.process_time()
        start = time.perf_counter()
        value = call()
        walls.append(time.perf_counter() - start)
        cpus.append(time.process_time() - cpu)
    return value, dict(seconds=statistics.median(walls), cpu_seconds=statistics.median(cpus),
                       peak_rss=peak_rss(), base_rss=base)


def busy_threads() -> int:
    """How many threads of this process other than the calling one are running or runnable."""
    me = str(threading.get_native_id())
    busy = 0
    for task in Path("/proc/self/task").iterdir():
        if task.name == me:
            continue
        try:
            stat = (task / "stat").read_text()
        except OSError:
            continue  # the thread ended meanwhile
        busy += stat[stat.rindex(")") + 2] == "R"
    return busy


def settle(limit: float = 2.0) -> None:
    """Waits (up to `limit` seconds) until the process's other threads have been idle for 50 ms.

    Right after `import numpy` its BLAS library's worker threads spin for about 0.1 s waiting
    for work, and on two cores a call made at once shares them with those threads. The
    "settled" job times a fresh process's first call without them: the first-touch and
    start-up costs of the call itself.
    """
    deadline = time.monotonic() + limit
    quiet_since = None
    while time.monotonic() < deadline:
        now = time.monotonic()
        if busy_threads():
            quiet_since = None
        elif quiet_since is None:
            quiet_since = now
        elif now - quiet_since >= 0.05:
            return
        time.sleep(0.005)


def worker(job_name: str, plain: str, gz: str | None, out: str) -> dict:
    job = JOB_BY_NAME[job_name]
    if job.module == "mopsel":
        # NumPy is imported before the clock starts: mopsel's first call would otherwise import it
        # (about 0.1 s), which every program that uses the returned arrays has paid already.
        import numpy  # noqa: F401
        import mopsel
        if job.settled and Path("/proc/self/task").is_dir():
            settle()
        if job.name.startswith("mopsel parse_file .gz"):
            model, result = timed(lambda: mopsel.parse_file(gz), job.warm)
        elif job.name.startswith("mopsel parse_file"):
            model, result = timed(lambda: mopsel.parse_file(plain), job.warm)
        elif job.name == "mopsel parse_str":
            text = Path(plain).read_text(encoding="utf-8")
            model, result = timed(lambda: mopsel.parse_str(text))
        elif job.name.startswith("mopsel write_str"):
            model = mopsel.parse_file(plain)
            written, result = timed(lambda: mopsel.write_str(model), job.warm)
            result["out_bytes"] = len(written.encode("utf-8"))
            return result
        elif job.name == "mopsel write_file .gz":
            model = mopsel.parse_file(plain)
            # Rated by the text it compresses (measured before the clock), not by the .gz size.
            text_bytes = len(mopsel.write_str(model).encode("utf-8"))
            gz_out = out + ".gz"
            try:
                _, result = timed(lambda: mopsel.write_file(model, gz_out))
                result.update(out_bytes=text_bytes, gz_bytes=os.path.getsize(gz_out))
            finally:
                Path(gz_out).unlink(missing_ok=True)
            return result
        else:
            model = mopsel.parse_file(plain)
            _, result = timed(lambda: mopsel.write_file(model, out))
            result["out_bytes"] = os.path.getsize(out)
            return result
        result.update(returned_bytes=model_bytes(model), num_row=model.num_row, num_col=model.num_col,
                      nnz=int(model.a_matrix.start[-1]))
        return result

    if job.name == "read_bytes":
        data, result = timed(lambda: Path(plain).read_bytes())
        result["out_bytes"] = len(data)
        return result
    if job.name == "zlib inflate":
        import zlib
        packed = Path(gz).read_bytes()
        # wbits=31: a gzip wrapper around raw deflate; the work is the inflate itself.
        data, result = timed(lambda: zlib.decompressobj(wbits=31).decompress(packed))
        result["out_bytes"] = len(data)
        return result
    if job.module == "highspy":
        import highspy
        h = highspy.Highs()
        h.setOptionValue("output_flag", False)
        if job.name == "highspy readModel":
            status, result = timed(lambda: h.readModel(plain))
            result.update(num_row=h.getNumRow(), num_col=h.getNumCol(), nnz=h.getNumNz())
        else:
            if h.readModel(plain) != highspy.HighsStatus.kOk:
                raise RuntimeError("readModel failed")
            status, result = timed(lambda: h.writeModel(out))
            result["out_bytes"] = os.path.getsize(out)
        if status != highspy.HighsStatus.kOk:
            raise RuntimeError(f"{job.name} returned {status}")
        return result
    if job.module == "ortools":
        from ortools.linear_solver.python import model_builder
        model = model_builder.Model()
        ok, result = timed(lambda: model.import_from_mps_file(plain))
        if not ok:
            raise RuntimeError("import_from_mps_file failed")
        result.update(num_row=model.num_constraints, num_col=model.num_variables)
        return result
    if job.module == "pulp":
        import pulp
        (variables, problem), result = timed(lambda: pulp.LpProblem.fromMPS(plain))
        result.update(num_row=len(problem.constraints), num_col=len(variables))
        return result
    if job.module == "pyscipopt":
        import pyscipopt
        model = pyscipopt.Model()
        model.hideOutput()
        _, result = timed(lambda: model.readProblem(plain))
        result.update(num_row=model.getNConss(), num_col=model.getNVars())
        return result
    raise ValueError(f"no worker for {job.name}")


# --------------------------------------------------------------------------------------------
# Driver side.

CLP_TIME = re.compile(r"Model was imported from .* in ([0-9.eE+-]+) seconds")


def run_job(job: Job, entry: Entry, out: Path, timeout: float) -> dict:
    if job.module == "clp":
        # clp is started through a tiny wrapper so that wait4 reports the clp process's own peak RSS.
        return run_in_child([sys.executable, __file__, "--clp-child", str(entry.plain)], timeout)
    cmd = [sys.executable, __file__, "--worker", job.name, "--plain", str(entry.plain), "--out", str(out)]
    if entry.gz:
        cmd += ["--gz", str(entry.gz)]
    return run_in_child(cmd, timeout, worker_env(job))


def worker_env(job: Job) -> dict:
    """The worker's environment: MOPSEL_THREADS as the job says, unset for mopsel's default."""
    env = dict(os.environ)
    env.pop("MOPSEL_THREADS", None)
    if job.threads:
        env["MOPSEL_THREADS"] = job.threads
    return env


def run_in_child(cmd: list[str], timeout: float, env: dict | None = None) -> dict:
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env)
    try:
        stdout, stderr = proc.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.communicate()
        raise RuntimeError(f"timed out after {timeout:.0f} s")
    for line in stdout.splitlines():
        if line.startswith(RESULT_TAG):
            return json.loads(line[len(RESULT_TAG):])
    tail = (stderr.strip().splitlines() or stdout.strip().splitlines() or ["no output"])[-1]
    raise RuntimeError(f"exit {proc.returncode}: {tail}")


def clp_child(path: str) -> None:
    """Runs clp and reports its import time and the clp process's peak RSS (from wait4)."""
    proc = subprocess.Popen(["clp", path, "-quit"], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    output = proc.stdout.read().decode("utf-8", "replace")
    _, status, usage = os.wait4(proc.pid, 0)
    proc.returncode = os.waitstatus_to_exitcode(status)
    match = CLP_TIME.search(output)
    if proc.returncode != 0 or not match:
        raise SystemExit(f"clp exit {proc.returncode}: {output.strip().splitlines()[-1:]}")
    counts = re.search(r"has (\d+) rows, (\d+) columns and (\d+) elements", output)
    # clp measures its import in CPU time; the same figure serves as both.
    seconds = float(match.group(1))
    result = dict(seconds=seconds, cpu_seconds=seconds, peak_rss=usage.ru_maxrss * 1024, base_rss=0)
    if counts:
        result.update(num_row=int(counts.group(1)), num_col=int(counts.group(2)), nnz=int(counts.group(3)))
    print(RESULT_TAG + json.dumps(result), flush=True)


def probe_module(module: str) -> str | None:
    """Returns None when the job's module works here, else the reason it does not."""
    if module == "":
        return None
    if module == "clp":
        return None if shutil.which("clp") else "the clp command is not installed (Debian coinor-clp)"
    code = {
        "mopsel": "import mopsel; m = mopsel.parse_str('NAME t\\nROWS\\n N obj\\n L c\\nCOLUMNS\\n x obj 1 c 1\\n"
                  "RHS\\n rhs c 1\\nENDATA\\n'); assert m.num_col == 1 and m.num_row == 1; mopsel.write_str(m)",
        "highspy": "import highspy; highspy.Highs()",
        "ortools": "from ortools.linear_solver.python import model_builder; model_builder.Model()",
        "pulp": "import pulp; pulp.LpProblem.fromMPS",
        "pyscipopt": "import pyscipopt; pyscipopt.Model().hideOutput()",
    }[module]
    # Run outside the source tree: from the repository root, `import mopsel` would find the
    # uncompiled package folder instead of the installed one.
    proc = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120,
                          cwd=bench_dir() if bench_dir().is_dir() else "/")
    if proc.returncode == 0:
        return None
    lines = (proc.stderr.strip() or proc.stdout.strip() or "failed").splitlines()
    return lines[-1]


def bench_dir() -> Path:
    return Path(os.environ.get("MOPSEL_BENCH_DIR", "/tmp/mopsel-bench"))


def plain_copy(gz: Path, cache: Path) -> Path:
    """Decompresses a shared .gz file once into the cache; readers of plain text use the copy."""
    name = gz.name[:-3] if gz.name.endswith(".gz") else gz.name
    if not name.endswith(".mps"):
        name += ".mps"
    out = cache / "plain" / name
    if not out.exists() or out.stat().st_mtime < gz.stat().st_mtime:
        out.parent.mkdir(parents=True, exist_ok=True)
        tmp = out.with_name(out.name + ".part")
        with gzip.open(gz, "rb") as src, open(tmp, "wb") as dst:
            shutil.copyfileobj(src, dst, 1 << 22)
        os.replace(tmp, out)
    return out


def resolve_corpus(args, cache: Path) -> list[Entry]:
    entries: list[Entry] = []
    generated = cache / "generated"
    manifest_path = generated / "manifest.json"
    manifest = json.loads(manifest_path.read_text()) if manifest_path.exists() else {}

    def from_path(name: str, path: Path) -> Entry:
        if path.name.endswith(".gz"):
            plain, gz = plain_copy(path, cache), path
        else:
            plain = path
            gz = path.with_name(path.name + ".gz")
            gz = gz if gz.exists() else None
        return Entry(name, plain, gz, plain.stat().st_size)

    names = args.files
    if not names:
        names = list(QUICK_CORPUS) if args.quick else list(SHARED_CORPUS) + sorted(
            manifest, key=lambda n: (manifest[n]["text_bytes"], n))
    for name in names:
        if name in SHARED_CORPUS:
            path = args.data / SHARED_CORPUS[name]
            if not path.exists():
                print(f"run_bench: {path} is absent; skipping {name}", file=sys.stderr)
                continue
            entries.append(from_path(name, path))
        elif name in manifest:
            plain = generated / f"{name}.mps"
            if not plain.exists():
                print(f"run_bench: {plain} is absent (run bench/make_big.py); skipping", file=sys.stderr)
                continue
            entry = from_path(name, plain)
            entry.expected = {k: manifest[name][k] for k in ("num_row", "num_col", "nnz")}
            entries.append(entry)
        elif Path(name).exists():
            path = Path(name).resolve()
            entries.append(from_path(path.name.split(".")[0], path))
        else:
            raise SystemExit(f"run_bench: unknown corpus file {name!r} (a shared name, a generated name or a path)")
    return entries


def median_sample(samples: list[dict]) -> dict:
    ok = [s for s in samples if "error" not in s]
    if not ok:
        return {}
    secs = sorted(s["seconds"] for s in ok)
    return dict(
        seconds=statistics.median(secs), min_seconds=secs[0], max_seconds=secs[-1], n=len(ok),
        cpu_seconds=statistics.median(s.get("cpu_seconds", s["seconds"]) for s in ok),
        peak_rss=statistics.median(s["peak_rss"] for s in ok),
        base_rss=statistics.median(s.get("base_rss", 0) for s in ok),
        out_bytes=ok[-1].get("out_bytes"), returned_bytes=ok[-1].get("returned_bytes"),
        num_row=ok[-1].get("num_row"), num_col=ok[-1].get("num_col"), nnz=ok[-1].get("nnz"),
    )


def rate(job: Job, entry: Entry, m: dict) -> float | None:
    if not m or m["seconds"] <= 0:
        return None
    size = entry.text_bytes if job.rate_by == "text" else (m.get("out_bytes") or 0)
    return size / MB / m["seconds"]


def fmt(value, spec: str, missing: str = "-") -> str:
    return missing if value is None else format(value, spec)


def targets(entries: list[Entry], summary: dict, clock: str = "seconds") -> list[tuple[str, str, str]]:
    """Checks the issue's targets on what was measured: (target, measured, verdict).

    `clock` is "seconds" (wall time, what the targets are stated in) or "cpu_seconds" (process CPU
    time, less sensitive to other load on the machine; the rows come out in the same order).
    """
    rows = []

    def get(entry: Entry, job: str) -> dict:
        m = summary.get(entry.name, {}).get(job, {})
        return dict(m, seconds=m.get(clock, m["seconds"])) if m else {}

    def verdict(ok: bool) -> str:
        return "holds" if ok else "**misses**"

    for entry in entries:
        pf = get(entry, "mopsel parse_file")
        if not pf:
            continue
        mbps = entry.text_bytes / MB / pf["seconds"]
        if entry.text_bytes >= MB:
            for peer, factor in (("highspy readModel", 8), ("clp import", 2), ("ortools import", 1),
                                 ("pulp fromMPS", 1), ("scip readProblem", 1)):
                other = get(entry, peer)
                if other:
                    ratio = other["seconds"] / pf["seconds"]
                    rows.append((f"{entry.name}: parse_file >= {factor}x {peer}", f"{ratio:.1f}x",
                                 verdict(ratio >= factor)))
        if entry.name == "nw04" or entry.name.endswith("-1GB"):
            rows.append((f"{entry.name}: parse_file >= 600 MB/s", f"{mbps:.0f} MB/s", verdict(mbps >= 600)))
        wf, hw = get(entry, "mopsel write_file"), get(entry, "highspy writeModel")
        if wf and hw:
            ratio = hw["seconds"] / wf["seconds"]
            rows.append((f"{entry.name}: write_file >= 5x highspy writeModel", f"{ratio:.1f}x", verdict(ratio >= 5)))
        if wf and wf.get("out_bytes"):
            out = wf["out_bytes"] / MB / wf["seconds"]
            rows.append((f"{entry.name}: write_file >= 300 MB/s", f"{out:.0f} MB/s", verdict(out >= 300)))
        gz, inflate = get(entry, "mopsel parse_file .gz"), get(entry, "zlib inflate")
        if gz and inflate:
            ratio = gz["seconds"] / (inflate["seconds"] + pf["seconds"])
            rows.append((f"{entry.name}: parse_file .gz <= 1.3x (inflate + parse_file)", f"{ratio:.2f}x",
                         verdict(ratio <= 1.3)))
        if pf.get("returned_bytes") is not None:
            limit = entry.text_bytes + 1.5 * pf["returned_bytes"] + 64 * MiB
            rows.append((f"{entry.name}: peak RSS <= text + 1.5 x returned + 64 MiB",
                         f"{pf['peak_rss'] / MiB:.0f} of {limit / MiB:.0f} MiB", verdict(pf["peak_rss"] <= limit)))
    for entry in entries:
        rows += scale_targets(entry, lambda job, entry=entry: get(entry, job), verdict)
    by_name = {e.name: e for e in entries}
    for name, entry in by_name.items():
        if name.endswith("-1GB") and name.replace("-1GB", "-100MB") in by_name:
            small = by_name[name.replace("-1GB", "-100MB")]
            big_pf, small_pf = get(entry, "mopsel parse_file"), get(small, "mopsel parse_file")
            if big_pf and small_pf:
                ratio = (big_pf["seconds"] / entry.text_bytes) / (small_pf["seconds"] / small.text_bytes)
                rows.append((f"{name}: time per MB within 1.2x of {small.name}", f"{ratio:.2f}x", verdict(ratio <= 1.2)))
    return rows


# many-rows-1GB with parse_file before the work on large files (MB/s, several runs).
MANY_ROWS_BEFORE = (198, 247)


def scale_targets(entry: Entry, get, verdict) -> list[tuple[str, str, str]]:
    """The large-file targets: threads, gzip against plain, fresh against warm, write_str."""
    rows = []
    name = entry.name

    def mbps(m: dict, size: float | None = None) -> float:
        return (size if size is not None else entry.text_bytes) / MB / m["seconds"]

    pf, one, warm = get("mopsel parse_file"), get("mopsel parse_file 1 thread"), get("mopsel parse_file warm")
    if name == "few-rows-1GB":
        if pf and one:
            ratio = one["seconds"] / pf["seconds"]
            rows.append((f"{name}: parse_file >= 1.7x the one-thread figure", f"{ratio:.2f}x", verdict(ratio >= 1.7)))
        if warm:
            rows.append((f"{name}: parse_file in-process (warm) >= 1000 MB/s", f"{mbps(warm):.0f} MB/s",
                         verdict(mbps(warm) >= 1000)))
    if name == "many-rows-1GB" and pf:
        ratio = mbps(pf) / MANY_ROWS_BEFORE[1]
        rows.append((f"{name}: parse_file >= 2.5x the {MANY_ROWS_BEFORE[0]}-{MANY_ROWS_BEFORE[1]} MB/s before",
                     f"{mbps(pf):.0f} MB/s = {ratio:.2f}x {MANY_ROWS_BEFORE[1]}", verdict(ratio >= 2.5)))
    if name == "nw04" or name.endswith("-1GB"):
        for plain, packed, how in ((pf, get("mopsel parse_file .gz"), "fresh"),
                                   (warm, get("mopsel parse_file .gz warm"), "warm")):
            if plain and packed:
                ratio = packed["seconds"] / plain["seconds"]
                rows.append((f"{name}: parse_file .gz <= 1.1x plain ({how})", f"{ratio:.2f}x", verdict(ratio <= 1.1)))
    if name == "nw04":
        settled = get("mopsel parse_file settled")
        for fresh, how in ((pf, "right after import"), (settled, "settled")):
            if fresh and warm:
                ratio = warm["seconds"] / fresh["seconds"]
                rows.append((f"{name}: fresh process >= 0.8x warm ({how})", f"{ratio:.2f}x", verdict(ratio >= 0.8)))
        for job, how in (("mopsel write_str", "fresh"), ("mopsel write_str warm", "warm")):
            m = get(job)
            if m and m.get("out_bytes"):
                speed = mbps(m, m["out_bytes"])
                rows.append((f"{name}: write_str >= 1000 MB/s ({how})", f"{speed:.0f} MB/s", verdict(speed >= 1000)))
        m = get("mopsel write_file .gz")
        if m and m.get("out_bytes"):
            speed = mbps(m, m["out_bytes"])
            rows.append((f"{name}: write_file .gz >= 100 MB/s of text", f"{speed:.0f} MB/s", verdict(speed >= 100)))
    return rows


def summary_table(entries, summary) -> list[str]:
    """One line per file: MB/s of every job that ran, on wall time with CPU time in parentheses."""
    jobs = [j for j in JOBS if j.group != "floor" and any(j.name in summary.get(e.name, {}) for e in entries)]
    if not jobs:
        return []
    lines = ["## Summary: MB/s on wall time (on CPU time)", "",
             "| file | MB | " + " | ".join(j.name for j in jobs) + " |",
             "|---|---:|" + "---:|" * len(jobs)]
    for entry in entries:
        cells = []
        for job in jobs:
            m = summary.get(entry.name, {}).get(job.name)
            wall = rate(job, entry, m) if m else None
            cpu = rate(job, entry, dict(m, seconds=m["cpu_seconds"])) if m else None
            cells.append(f"{wall:.0f} ({cpu:.0f})" if wall and cpu else "-")
        lines.append(f"| {entry.name} | {entry.text_bytes / MB:.1f} | " + " | ".join(cells) + " |")
    return lines + [""]


def write_markdown(path: Path, entries, summary, unavailable, errors, args, started) -> None:
    lines = [
        "# Benchmark results", "",
        f"Run {time.strftime('%Y-%m-%d %H:%M', time.localtime(started))} on {platform.node()} "
        f"({os.cpu_count()} cores, Python {platform.python_version()}), median of {args.repeat} "
        f"runs per job, each in a fresh process. MB = 10^6 bytes; readers are rated by the text size, "
        f"writers by the size of their output. The clp time is the import time clp prints.", "",
    ]
    if getattr(args, "load", None):
        (start1, start5, _), (end1, end5, _) = args.load
        lines += [f"Load average (1 min, 5 min) at the start {start1:.2f}, {start5:.2f}; at the end "
                  f"{end1:.2f}, {end5:.2f} (the machine has {os.cpu_count()} cores; other work on it makes "
                  f"wall times noisy). Took {args.elapsed / 60:.1f} min.", ""]
    if unavailable:
        lines += ["Not measured: " + "; ".join(f"{m}: {why}" for m, why in sorted(unavailable.items())), ""]
    lines += summary_table(entries, summary)
    for entry in entries:
        size = f"{entry.text_bytes / MB:.1f} MB of text"
        if entry.gz and entry.gz.exists():
            size += f", {entry.gz.stat().st_size / MB:.1f} MB gzip"
        lines += [f"## {entry.name} ({size})", "",
                  "| job | MB/s | median s | min s | max s | CPU s | peak RSS MiB | runs | time vs mopsel parse_file |",
                  "|---|---:|---:|---:|---:|---:|---:|---:|---:|"]
        base = summary.get(entry.name, {}).get("mopsel parse_file")
        for job in JOBS:
            m = summary.get(entry.name, {}).get(job.name)
            if not m:
                why = errors.get((entry.name, job.name))
                if why:
                    lines.append(f"| {job.name} | failed: {why} | | | | | | | |")
                continue
            speed = rate(job, entry, m)
            versus = f"{m['seconds'] / base['seconds']:.2f}x" if base and job.rate_by == "text" else ""
            lines.append(f"| {job.name} | {fmt(speed, '.0f')} | {m['seconds']:.4f} | {m['min_seconds']:.4f} | "
                         f"{m['max_seconds']:.4f} | {m['cpu_seconds']:.4f} | {m['peak_rss'] / MiB:.0f} | "
                         f"{m['n']} | {versus} |")
        lines.append("")
    rows = targets(entries, summary)
    cpu_rows = targets(entries, summary, "cpu_seconds")
    if rows:
        lines += ["## Targets", "",
                  "Verdicts on wall time (the median above); the last two columns redo the check on the "
                  "process CPU time, which other load on the machine disturbs less.", "",
                  "| target | measured | verdict | on CPU time | verdict |", "|---|---:|---|---:|---|"]
        lines += [f"| {t} | {m} | {v} | {cm} | {cv} |" for (t, m, v), (_, cm, cv) in zip(rows, cpu_rows)]
        lines.append("")
    path.write_text("\n".join(lines))


def write_plot(path: Path, entries, summary) -> None:
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    panels = [("readers (MB/s of text)", [j for j in JOBS if j.rate_by == "text"]),
              ("writers (MB/s of output)", [j for j in JOBS if j.rate_by == "output"])]
    fig, axes = plt.subplots(1, 2, figsize=(15, 2.0 + 1.2 * max(2, len(entries))), squeeze=False)
    colors = plt.get_cmap("tab20").colors
    for ax, (title, jobs) in zip(axes[0], panels):
        height = 0.8 / len(jobs)
        for j, job in enumerate(jobs):
            ys, xs = [], []
            for i, entry in enumerate(entries):
                speed = rate(job, entry, summary.get(entry.name, {}).get(job.name, {}))
                if speed:
                    ys.append(i + j * height)
                    xs.append(speed)
            if xs:
                ax.barh(ys, xs, height=height, label=job.name, color=colors[JOBS.index(job) % len(colors)])
        ax.set_yticks([i + 0.4 - height / 2 for i in range(len(entries))])
        ax.set_yticklabels([e.name for e in entries])
        ax.invert_yaxis()
        ax.set_xscale("log")
        ax.set_xlabel("MB/s (log scale)")
        ax.set_title(title)
        ax.grid(axis="x", which="both", alpha=0.3)
        if ax.get_legend_handles_labels()[0]:
            ax.legend(fontsize="small", loc="upper center", bbox_to_anchor=(0.5, -0.08 - 0.3 / len(entries)), ncol=3)
        else:
            ax.text(0.5, 0.5, "not measured", ha="center", va="center", transform=ax.transAxes)
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    plt.close(fig)


def report(args, entries, samples, errors, unavailable, started) -> None:
    """Writes results.json, results.md and throughput.png into args.results and prints the targets."""
    summary: dict[str, dict[str, dict]] = {}
    for (name, job_name), runs in samples.items():
        m = median_sample(runs)
        if m:
            summary.setdefault(name, {})[job_name] = m

    args.results.mkdir(parents=True, exist_ok=True)
    (args.results / "results.json").write_text(json.dumps({
        "started": started, "repeat": args.repeat, "host": platform.node(), "unavailable": unavailable,
        "load": getattr(args, "load", None), "elapsed": getattr(args, "elapsed", None),
        "files": {e.name: {"plain": str(e.plain), "gz": str(e.gz) if e.gz else None, "text_bytes": e.text_bytes}
                  for e in entries},
        "samples": {f"{n} | {j}": runs for (n, j), runs in samples.items()},
        "errors": {f"{n} | {j}": why for (n, j), why in errors.items()},
    }, indent=1) + "\n")
    write_markdown(args.results / "results.md", entries, summary, unavailable, errors, args, started)
    try:
        write_plot(args.results / "throughput.png", entries, summary)
    except ImportError as exc:
        print(f"run_bench: no plot ({exc}); install bench/requirements.txt", file=sys.stderr)
    print(f"run_bench: wrote {args.results / 'results.md'}, results.json and throughput.png")
    for t, m, v in targets(entries, summary):
        print(f"  {v.strip('*'):<7} {t}: {m}")


def report_only(args) -> int:
    """Renders results.md and the plot again from an earlier run's results.json."""
    data = json.loads((args.results / "results.json").read_text())
    entries = [Entry(name, Path(f["plain"]), Path(f["gz"]) if f["gz"] else None, f["text_bytes"])
               for name, f in data["files"].items()]
    samples = {tuple(k.split(" | ", 1)): v for k, v in data["samples"].items()}
    errors = {tuple(k.split(" | ", 1)): v for k, v in data["errors"].items()}
    args.repeat = data["repeat"]
    args.load, args.elapsed = data.get("load"), data.get("elapsed")
    report(args, entries, samples, errors, data["unavailable"], data["started"])
    return 0


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--quick", action="store_true", help=f"only {', '.join(QUICK_CORPUS)}")
    parser.add_argument("--preset", choices=["scale"],
                        help=f"scale: the large-file run ({', '.join(SCALE_FILES)}; mopsel with 1 and N threads, "
                             "fresh and warm; peers on nw04 only) into bench/results/scale")
    parser.add_argument("--files", nargs="+", help="corpus names (shared or generated) or paths")
    parser.add_argument("--repeat", type=int, default=5, help="rounds; the median is reported (default 5)")
    parser.add_argument("--only", default="", help="regular expression selecting job names")
    parser.add_argument("--skip", default="", help="regular expression of job names to leave out")
    parser.add_argument("--pulp-max-mb", type=float, default=30.0,
                        help="run PuLP (pure Python, slow) only on files up to this text size (default 30)")
    parser.add_argument("--peer-max-mb", type=float, default=0.0,
                        help="run the peers only on files up to this text size (default 0: no limit)")
    parser.add_argument("--timeout", type=float, default=900.0, help="seconds per job before it counts as failed")
    parser.add_argument("--data", type=Path, default=DATA_DIR, help="the shared real-model folder")
    parser.add_argument("--results", type=Path, default=None, help="output folder (default bench/results)")
    parser.add_argument("--report-only", action="store_true",
                        help="render results.md and the plot again from --results/results.json")
    parser.add_argument("--worker", help=argparse.SUPPRESS)
    parser.add_argument("--clp-child", help=argparse.SUPPRESS)
    parser.add_argument("--plain", help=argparse.SUPPRESS)
    parser.add_argument("--gz", help=argparse.SUPPRESS)
    parser.add_argument("--out", help=argparse.SUPPRESS)
    args = parser.parse_args(argv)
    if args.preset == "scale":
        args.files = args.files or list(SCALE_FILES)
        args.skip = args.skip or SCALE_SKIP
        args.peer_max_mb = args.peer_max_mb or 30.0
    if args.results is None:
        args.results = HERE / "results" / ("scale" if args.preset == "scale" else "")

    if args.worker:
        result = worker(args.worker, args.plain, args.gz, args.out)
        print(RESULT_TAG + json.dumps(result), flush=True)
        return 0
    if args.clp_child:
        clp_child(args.clp_child)
        return 0
    if args.report_only:
        return report_only(args)
    if args.repeat < 1:
        parser.error("--repeat must be at least 1")

    cache = bench_dir()
    entries = resolve_corpus(args, cache)
    if not entries:
        print("run_bench: no corpus files found", file=sys.stderr)
        return 1
    jobs = [j for j in JOBS if re.search(args.only, j.name) and not (args.skip and re.search(args.skip, j.name))]
    unavailable = {}
    for module in sorted({j.module for j in jobs}):
        why = probe_module(module)
        if why:
            unavailable[module] = why
            print(f"run_bench: {module} not available: {why}", file=sys.stderr)
    jobs = [j for j in jobs if j.module not in unavailable]

    plan = [(e, j) for e in entries for j in jobs
            if not (j.needs == "gz" and e.gz is None)
            and not (j.module == "pulp" and e.text_bytes > args.pulp_max_mb * MB)
            and not (j.group == "peer" and args.peer_max_mb and e.text_bytes > args.peer_max_mb * MB)]
    out_dir = cache / "out"
    out_dir.mkdir(parents=True, exist_ok=True)
    samples: dict[tuple[str, str], list[dict]] = {}
    errors: dict[tuple[str, str], str] = {}
    failures: dict[tuple[str, str], int] = {}
    started = time.time()
    load_at_start = os.getloadavg()
    for round_no in range(args.repeat):
        # Every job runs once per round, in an order shuffled anew each round (seeded, so runs
        # repeat): on this VM a fresh process pays more for memory right after a process that
        # used much of it, so no job may always follow the same one.
        order = list(plan)
        random.Random(round_no).shuffle(order)
        for entry, job in order:
            key = (entry.name, job.name)
            if key in errors:
                continue  # a job that failed twice is not retried (timeouts would cost the whole run)
            out = out_dir / f"{entry.name}.{job.name.split()[0]}.out.mps"
            try:
                sample = run_job(job, entry, out, args.timeout)
            except RuntimeError as exc:
                # One failure is forgiven: the module may have been reinstalled under a running job.
                failures[key] = failures.get(key, 0) + 1
                if failures[key] >= 2 or "timed out" in str(exc):
                    errors[key] = str(exc)[:200]
                print(f"run_bench: {entry.name} / {job.name}: {exc}", file=sys.stderr)
                continue
            finally:
                out.unlink(missing_ok=True)
            mismatch = {k: (sample[k], v) for k, v in entry.expected.items() if k in sample and sample[k] != v}
            if mismatch and job.module == "mopsel":
                errors[key] = f"counts differ from the generator's: {mismatch}"
                print(f"run_bench: {entry.name} / {job.name}: {errors[key]}", file=sys.stderr)
                continue
            samples.setdefault(key, []).append(sample)
            speed = rate(job, entry, {"seconds": sample["seconds"], "out_bytes": sample.get("out_bytes")})
            print(f"[{round_no + 1}/{args.repeat}] {entry.name:<16} {job.name:<22} {sample['seconds']:9.4f} s "
                  f"(CPU {sample.get('cpu_seconds', 0):8.4f}) "
                  f"{fmt(speed, '8.1f')} MB/s  peak {sample['peak_rss'] / MiB:7.0f} MiB", flush=True)

    args.load, args.elapsed = (load_at_start, os.getloadavg()), time.time() - started
    report(args, entries, samples, errors, unavailable, started)
    print(f"run_bench: took {args.elapsed / 60:.1f} min")
    return 0


if __name__ == "__main__":
    sys.exit(main())
