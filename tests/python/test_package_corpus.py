"""mopsel.stats_table and info --jobs: the same rows in this process, in local processes, through
an executor and on a dask.distributed LocalCluster of two workers (the public models); bad files
become rows with their error; progress on standard error."""

from __future__ import annotations

import concurrent.futures
import json
import re
import subprocess
import sys

import numpy as np
import pytest

import mopsel
from mopsel import _corpus
from mopsel._corpus import flat_record, iter_results
from mopsel_testlib import KINDS_MPS
from real_corpus import DATA_DIR, MISSING_REASON

pd = pytest.importorskip("pandas", reason="pandas (extra mopsel[pandas]) is not installed")

TIMES = ["seconds"]


@pytest.fixture
def files(tmp_path):
    """Good files (plain and gzip) and bad ones of every kind, in a fixed order."""
    mopsel.write(mopsel.parse_str(KINDS_MPS), tmp_path / "kinds.mps.gz", digits=None)
    (tmp_path / "kinds.mps").write_text(KINDS_MPS)
    (tmp_path / "no-endata.mps").write_text("ROWS\n N obj\n")
    (tmp_path / "empty.mps").write_bytes(b"")
    (tmp_path / "folder.mps").mkdir()
    names = ["kinds.mps", "no-endata.mps", "missing.mps", "kinds.mps.gz", "folder.mps", "empty.mps"]
    return [str(tmp_path / n) for n in names]


ERRORS = [None, "MpsError: {}/no-endata.mps:2: no ENDATA line", "FileNotFoundError: [Errno 2] No such file or "
          "directory: '{}/missing.mps'", None, "IsADirectoryError: [Errno 21] Is a directory: '{}/folder.mps'",
          "MpsError: {}/empty.mps:1: no ENDATA line"]


def without_times(table):
    return table.drop(columns=TIMES)


@pytest.mark.parametrize("how", ["this process", "2 processes", "an executor"])
def test_every_file_is_a_row_in_order_whatever_runs_it(files, how, tmp_path):
    if how == "an executor":
        with concurrent.futures.ThreadPoolExecutor(3) as pool:
            table = mopsel.stats_table(files, client=pool, progress=False)
    else:
        table = mopsel.stats_table(files, jobs=1 if how == "this process" else 2, progress=False)
    assert table["file"].tolist() == files
    assert [None if pd.isna(e) else e for e in table["error"]] == [e and e.format(tmp_path) for e in ERRORS]
    good = table[table["error"].isna()]
    kinds = mopsel.stats(mopsel.parse_str(KINDS_MPS))
    assert good["rows"].tolist() == [5, 5] and good["rows_ranged"].tolist() == [1, 1]
    assert good["matrix_min"].tolist() == [0.5, 0.5] and good["compression"].isna().tolist() == [True, False]
    assert good["bytes"].tolist() == [len(KINDS_MPS), (tmp_path / "kinds.mps.gz").stat().st_size]
    assert flat_record(next(iter_results(files[:1], jobs=1))).items() >= {"columns_binary": 1, "bounds_free": 1}.items()
    assert good.iloc[0]["density"] == kinds.density and str(table["rows"].dtype) == "Int64"
    if how != "this process":
        assert without_times(table).equals(without_times(mopsel.stats_table(files, jobs=1, progress=False)))


@pytest.mark.parametrize("kwargs, error, message", [
    (dict(jobs=0), ValueError, "argument 'jobs': expected a whole number >= 1 or None, got 0"),
    (dict(client="cluster"), TypeError, "argument 'client': expected a dask.distributed Client"),
    (dict(paths=["a.mps", 3]), TypeError, "argument 'paths': paths[1] is int, not a str or os.PathLike"),
    (dict(paths=[b"a.mps"]), TypeError, "argument 'paths': paths[0] is bytes, not a str or os.PathLike"),
    (dict(format="loose"), ValueError, "format: expected 'free', 'fixed', 'auto', 'lp' or None, got 'loose'"),
])
def test_bad_arguments(kwargs, error, message, files):
    if "client" in kwargs:
        pytest.importorskip("distributed", reason="dask.distributed (extra mopsel[dask]) is not installed")
    arguments = {"paths": files, **kwargs}
    with pytest.raises(error, match=re.escape(message)):
        mopsel.stats_table(arguments.pop("paths"), **arguments)


@pytest.mark.parametrize("cpus, workers, preset, want", [
    (2, 2, None, "1"), (8, 2, None, "4"), (2, 4, None, "1"), (8, 3, None, "2"), (8, 2, "6", "6"),
])
def test_local_workers_share_the_cpus(cpus, workers, preset, want, monkeypatch):
    monkeypatch.setattr(_corpus, "default_jobs", lambda: cpus)
    monkeypatch.setenv("MOPSEL_THREADS", preset or "")  # so that the test's own setting is undone
    if preset is None:
        monkeypatch.delenv("MOPSEL_THREADS")
    _corpus.share_cpus(workers)
    assert __import__("os").environ["MOPSEL_THREADS"] == want


def test_a_result_keeps_the_warnings_of_its_read(tmp_path, recwarn):
    path = tmp_path / "w.mps"
    path.write_text("ROWS\n N obj\n L r1\nCOLUMNS\n x obj 1 r1 1,5\nENDATA\n")
    result = _corpus.file_result(str(path))
    assert [(w.code, w.count, w.lineno) for w in result.warnings] == [("bad-number", 1, 5)]
    assert not [w for w in recwarn if issubclass(w.category, mopsel.MpsWarning)]  # kept, not said
    assert _corpus.file_result(str(tmp_path / "missing.mps")).warnings == ()


def test_progress_counts_files_and_failures(files, capsys):
    pytest.importorskip("tqdm", reason="tqdm (extra mopsel[progress]) is not installed")
    mopsel.stats_table(files, jobs=1, progress=True)
    shown = capsys.readouterr().err.replace("\r", "\n").splitlines()
    assert "6/6" in shown[-1] and "4 failed" in shown[-1] and "MB/s" in shown[-1]


def test_progress_without_tqdm_names_the_extra(files, monkeypatch):
    monkeypatch.setitem(sys.modules, "tqdm", None)
    with pytest.raises(ImportError, match=r"pip install 'mopsel\[progress\]'"):
        mopsel.stats_table(files, jobs=1, progress=True)
    assert len(mopsel.stats_table(files, jobs=1)) == 6  # no terminal here: no progress asked for


def mopsel_run(*args, cwd):
    return subprocess.run([sys.executable, "-m", "mopsel", *map(str, args)], capture_output=True, text=True, cwd=cwd,
                          timeout=120)


def drop_read_lines(text: str) -> list:
    return [line for line in text.splitlines() if not line.lstrip().startswith("read ")]


@pytest.mark.parametrize("output", [[], ["--table"], ["--json"]], ids=["blocks", "table", "json"])
def test_info_jobs_prints_what_info_prints(files, output, tmp_path):
    serial = mopsel_run("info", *output, *files, cwd=tmp_path)
    parallel = mopsel_run("info", "--jobs", "2", *output, *files, cwd=tmp_path)
    assert serial.returncode == parallel.returncode == 2  # the missing file and the folder
    assert serial.stderr == parallel.stderr and "no-endata.mps:2: error: no ENDATA line" in serial.stderr
    if output == ["--json"]:
        records = [json.loads(done.stdout) for done in (serial, parallel)]
        for r in records[0] + records[1]:
            del r["read"]["seconds"], r["read"]["mb_per_s"]
        assert records[0] == records[1] and len(records[0]) == 2
    elif output == ["--table"]:  # all but the read time, the last column
        assert [line[:-8] for line in serial.stdout.splitlines()] == [line[:-8] for line in parallel.stdout.splitlines()]
    else:
        assert drop_read_lines(serial.stdout) == drop_read_lines(parallel.stdout)
    done = mopsel_run("info", "--jobs", "2", "-", files[0], cwd=tmp_path)
    assert done.returncode == 2 and "standard input (-) cannot be one of them" in done.stderr


@pytest.mark.skipif(not DATA_DIR.is_dir(), reason=MISSING_REASON)
def test_a_local_cluster_of_two_workers_reads_the_public_models():
    distributed = pytest.importorskip("distributed", reason="dask.distributed (extra mopsel[dask]) is not installed")
    paths = sorted(str(p) for p in DATA_DIR.glob("*/*") if p.name.endswith((".gz", ".mps")))
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=":0") as cluster, \
            distributed.Client(cluster) as client:
        on_cluster = mopsel.stats_table(paths, client=client, progress=False)
        assert len(client.scheduler_info()["workers"]) == 2
    here = mopsel.stats_table(paths, jobs=1, progress=False)
    assert len(paths) == 151 and on_cluster["error"].isna().all()
    assert without_times(on_cluster).equals(without_times(here))
    assert on_cluster["nonzeros"].sum() == here["nonzeros"].sum() and np.all(on_cluster["seconds"] > 0)
