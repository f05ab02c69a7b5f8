"""mopsel.stats_table: the statistics of many files, read in parallel by local processes or on a
dask.distributed cluster, with progress on a terminal; a file that cannot be read becomes a row
with its error, never the end of the run. `mopsel info --jobs N` runs on the same engine.
"""

from __future__ import annotations

import concurrent.futures
import os
import sys
import time
import warnings
from dataclasses import dataclass
from typing import Any, Callable, Dict, Iterable, Iterator, List, Optional, Sequence, Tuple, Union

from mopsel._errors import MpsWarning
from mopsel._extras import require
from mopsel._mopsel import Model
from mopsel._read import _check_format, read
from mopsel._sources import compression_of
from mopsel._stats import BOUND_KINDS, COLUMN_KINDS, EXTENDED_FIGURES, RANGE_KINDS, ROW_KINDS, Stats, stats

PathLike = Union[str, "os.PathLike[str]"]

# Files per task. One task per file costs an exchange with a worker each (a few hundred
# microseconds), as much as reading a small model; tasks of several files keep that below a
# tenth of the work on corpora of small models, and at most this many per task keep every
# worker busy to the end and the progress display moving.
MAX_FILES_PER_TASK = 16
# Tasks per worker at least, so that a slow file does not leave the other workers idle.
TASKS_PER_WORKER = 8


@dataclass(frozen=True)
class ReadFigures:
    """How reading one file went: the time `mopsel.read` took, the size of the file as stored
    and its compression (None for plain text)."""

    seconds: float
    bytes: int
    compression: Optional[str]

    @property
    def mb_per_s(self) -> Optional[float]:
        return self.bytes / 1e6 / self.seconds if self.seconds > 0 else None


@dataclass(frozen=True)
class FileResult:
    """One file of a corpus: its statistics and read figures, or the exception that stopped
    its reading (MpsError for text that cannot be read, OSError for a file that cannot be
    opened, or any other); with the MpsWarnings of its reading, kept here rather than said."""

    path: str
    stats: Optional[Stats]
    read: Optional[ReadFigures]
    error: Optional[BaseException]
    warnings: Tuple[MpsWarning, ...] = ()


def timed_read(path: str, format: Optional[str] = None) -> Tuple[Model, ReadFigures, Tuple[MpsWarning, ...]]:
    """Reads the model at `path`, timing `mopsel.read` alone; the MpsWarnings of the read
    are returned, not said. Raises as read does."""
    with open(path, "rb") as f:
        head = f.read(8)
        size = os.fstat(f.fileno()).st_size
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always", MpsWarning)
        start = time.perf_counter()
        model = read(path, format=format)  # type: ignore[arg-type]
        seconds = time.perf_counter() - start
    said = tuple(w.message for w in caught if isinstance(w.message, MpsWarning))
    return model, ReadFigures(seconds, size, compression_of(head)), said


def file_result(path: str, format: Optional[str] = None) -> FileResult:
    """The statistics of the file at `path`, or its error; never raises but for
    KeyboardInterrupt and the like."""
    try:
        model, figures, said = timed_read(path, format)
        return FileResult(path, stats(model), figures, None, said)
    except Exception as error:  # one bad file is one row, whatever went wrong
        return FileResult(path, None, None, error)


def read_batch(paths: Sequence[str], format: Optional[str] = None) -> List[FileResult]:
    """file_result of each path: the task a worker runs."""
    return [file_result(p, format) for p in paths]


# Running the tasks ---------------------------------------------------------------------------


def _batches(paths: Sequence[str], workers: int) -> List[List[str]]:
    size = max(1, min(MAX_FILES_PER_TASK, len(paths) // max(1, workers * TASKS_PER_WORKER)))
    return [list(paths[i : i + size]) for i in range(0, len(paths), size)]


def default_jobs() -> int:
    """The CPUs this process may run on."""
    try:
        return len(os.sched_getaffinity(0))
    except (AttributeError, OSError):
        return os.cpu_count() or 1


def share_cpus(workers: int) -> None:
    """Runs first in each local worker process: its reads take their share of the CPUs
    (MOPSEL_THREADS, unless the environment sets it), so that `workers` processes reading large
    files together start no more threads than there are CPUs."""
    if "MOPSEL_THREADS" not in os.environ:
        os.environ["MOPSEL_THREADS"] = str(max(1, default_jobs() // workers))


class _Progress:
    """Files done, MB/s and failures so far, on standard error through tqdm (mopsel[progress])."""

    def __init__(self, total: int, enabled: Optional[bool]) -> None:
        self.bar: Any = None
        self.failed = 0
        self.bytes = 0
        self.start = time.perf_counter()
        if enabled is None:
            enabled = sys.stderr.isatty()
            if enabled:
                try:
                    require("tqdm", "progress")
                except ImportError:
                    enabled = False
        if enabled:
            tqdm = require("tqdm", "mopsel.stats_table(progress=True)")
            self.bar = tqdm.tqdm(total=total, unit="file", file=sys.stderr, dynamic_ncols=True)

    def update(self, results: Sequence[FileResult]) -> None:
        for result in results:
            if result.error is not None:
                self.failed += 1
            elif result.read is not None:
                self.bytes += result.read.bytes
        if self.bar is not None:
            elapsed = time.perf_counter() - self.start
            rate = self.bytes / 1e6 / elapsed if elapsed > 0 else 0.0
            self.bar.set_postfix_str(f"{rate:.1f} MB/s, {self.failed} failed", refresh=False)
            self.bar.update(len(results))

    def close(self) -> None:
        if self.bar is not None:
            self.bar.close()


Submit = Callable[..., Any]
AsCompleted = Callable[[List[Any]], Iterator[Any]]


def _submitter(client: Any, jobs: Optional[int]) -> Tuple[Submit, AsCompleted, Any, int]:
    """How to run tasks: (submit, as_completed, pool to shut down or None, workers)."""
    if client is None:
        workers = jobs or default_jobs()
        pool = concurrent.futures.ProcessPoolExecutor(max_workers=workers, initializer=share_cpus, initargs=(workers,))
        return pool.submit, concurrent.futures.as_completed, pool, workers
    if isinstance(client, concurrent.futures.Executor):
        workers = jobs or getattr(client, "_max_workers", None) or default_jobs()
        return client.submit, concurrent.futures.as_completed, None, workers
    distributed = require("distributed", "mopsel.stats_table(client=...)")
    if not isinstance(client, distributed.Client):
        raise TypeError(
            "argument 'client': expected a dask.distributed Client or a concurrent.futures.Executor, "
            f"got {type(client).__name__}"
        )
    workers = jobs or max(1, sum(client.nthreads().values()))

    def submit(function: Callable[..., Any], *args: Any) -> Any:
        return client.submit(function, *args, pure=False)

    return submit, distributed.as_completed, None, workers


def iter_results(
    paths: Iterable[PathLike],
    *,
    client: Any = None,
    jobs: Optional[int] = None,
    format: Optional[str] = None,
    progress: Optional[bool] = None,
) -> Iterator[FileResult]:
    """The FileResult of each path, in the order of `paths`, each as soon as it and those
    before it are done: read in this process (jobs=1 and no client), in `jobs` local processes,
    or through `client` (a dask.distributed Client, or any concurrent.futures.Executor)."""
    names = []
    for i, path in enumerate(paths):
        name = path if isinstance(path, str) else os.fspath(path) if isinstance(path, os.PathLike) else None
        if not isinstance(name, str):
            raise TypeError(f"argument 'paths': paths[{i}] is {type(path).__name__}, not a str or os.PathLike")
        names.append(name)
    if jobs is not None and (not isinstance(jobs, int) or jobs < 1):
        raise ValueError(f"argument 'jobs': expected a whole number >= 1 or None, got {jobs!r}")
    _check_format(format)  # a bad format fails here, not once per file
    bar = _Progress(len(names), progress)
    try:
        if client is None and jobs == 1:
            for name in names:
                result = file_result(name, format)
                bar.update([result])
                yield result
            return
        yield from _parallel(names, client, jobs, format, bar)
    finally:
        bar.close()


def _parallel(
    names: List[str], client: Any, jobs: Optional[int], format: Optional[str], bar: _Progress
) -> Iterator[FileResult]:
    submit, as_completed, pool, workers = _submitter(client, jobs)
    batches = _batches(names, workers)
    futures: Dict[Any, int] = {}
    try:
        futures = {submit(read_batch, batch, format): k for k, batch in enumerate(batches)}
        done: Dict[int, List[FileResult]] = {}
        due = 0
        for future in as_completed(list(futures)):
            k = futures[future]
            try:
                results = future.result()
            except Exception as error:  # a worker that died, a task the cluster lost
                results = [FileResult(p, None, None, error) for p in batches[k]]
            bar.update(results)
            done[k] = results
            while due in done:
                yield from done.pop(due)
                due += 1
    except BaseException:
        for future in futures:  # Ctrl-C, or the caller stopped early: nothing more to run
            future.cancel()
        raise
    finally:
        if pool is not None:
            pool.shutdown(wait=True, cancel_futures=True)


# The table -------------------------------------------------------------------------------------

_NESTED = (
    ("row_kinds", "rows_", ROW_KINDS),
    ("column_kinds", "columns_", COLUMN_KINDS),
    ("bounds", "bounds_", BOUND_KINDS),
)
_COUNTS = (
    ["rows", "columns", "nonzeros", "costs", "empty_rows", "empty_columns", "bytes"]
    + [prefix + kind for _, prefix, kinds in _NESTED for kind in kinds]
    + list(EXTENDED_FIGURES)
)
COLUMNS = (
    ["file", "error", "name", "objective", "sense", "constant", "rows", "columns", "nonzeros", "density", "costs",
     "empty_rows", "empty_columns"]
    + [prefix + kind for _, prefix, kinds in _NESTED for kind in kinds]
    + [f"{kind}_{end}" for kind in RANGE_KINDS for end in ("min", "max")]
    + ["bytes", "compression", "seconds"]
)


def flat_record(result: FileResult) -> Dict[str, Any]:
    """One row of the table: the figures of a FileResult under flat names."""
    row: Dict[str, Any] = {"file": result.path, "error": None}
    if result.error is not None:
        row["error"] = f"{type(result.error).__name__}: {result.error}"
    if result.stats is not None:
        figures = result.stats.to_dict()
        for key, value in figures.items():
            if key == "ranges":
                for kind, bounds in value.items():
                    row[f"{kind}_min"], row[f"{kind}_max"] = bounds if bounds is not None else (None, None)
            elif isinstance(value, dict):
                prefix = next(p for k, p, _ in _NESTED if k == key)
                row.update({prefix + kind: n for kind, n in value.items()})
            else:
                row[key] = value
    if result.read is not None:
        row.update(bytes=result.read.bytes, compression=result.read.compression, seconds=result.read.seconds)
    return row


def stats_table(
    paths: Iterable[PathLike],
    *,
    client: Any = None,
    jobs: Optional[int] = None,
    format: Optional[str] = None,
    progress: Optional[bool] = None,
) -> Any:
    """One pandas DataFrame row per file of `paths` (in their order) with the figures of
    `mopsel.stats` under flat names ("rows", "rows_E", "columns_binary", "bounds_free",
    "matrix_min", "matrix_max", ...) and how the read went ("bytes", "compression", "seconds").
    A file that cannot be read gets its error ("MpsError: ...", "FileNotFoundError: ...") in
    the column "error" and no figures; the others have no value there (NA).

    client: None to read in local processes (`jobs` of them: by default one per CPU; jobs=1
        reads in this process; each reads with its share of the CPUs, see `share_cpus`), a
        dask.distributed Client to read on its cluster (extra
        mopsel[dask]), or any concurrent.futures.Executor.
    format: as for mopsel.read.
    progress: show files done, MB/s and failures on standard error (extra mopsel[progress],
        tqdm); None: when standard error is a terminal and tqdm is installed.

    Needs pandas (extra mopsel[pandas]).

    >>> import os, tempfile, mopsel
    >>> folder = tempfile.mkdtemp()
    >>> m = mopsel.from_arrays(col_cost=[1.0, 2.0], a_matrix=[[1.0, 1.0]], row_lower=[1.0], row_upper=[4.0])
    >>> mopsel.write(m, os.path.join(folder, "a.mps"))
    >>> with open(os.path.join(folder, "bad.mps"), "w") as f:
    ...     _ = f.write("ROWS\\n")
    >>> paths = [os.path.join(folder, name) for name in ("a.mps", "bad.mps")]
    >>> table = mopsel.stats_table(paths, jobs=1)
    >>> table[["rows", "columns", "nonzeros", "rows_ranged"]].iloc[0].tolist()
    [1, 2, 2, 1]
    >>> print(table["error"].iloc[1].replace(folder, "..."))
    MpsError: .../bad.mps:1: no ENDATA line
    """
    pandas = require("pandas", "mopsel.stats_table")
    rows = [flat_record(r) for r in iter_results(paths, client=client, jobs=jobs, format=format, progress=progress)]
    extra = [k for k in EXTENDED_FIGURES if any(k in row for row in rows)]
    columns = COLUMNS[: COLUMNS.index("bytes")] + extra + COLUMNS[COLUMNS.index("bytes") :]
    table = pandas.DataFrame.from_records(rows, columns=columns)
    for column in _COUNTS:
        if column in table:
            table[column] = table[column].astype("Int64")
    return table
