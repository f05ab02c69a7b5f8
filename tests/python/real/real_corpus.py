"""Shared helpers for the real-model tests: where the corpora are, how to read their raw
text, the record invariants, exact model comparison and the writer's number rounding.

The corpora live beside the project (../shared/data from the project root), never
inside it; every test that needs them skips with a reason when they are absent.
"""

from __future__ import annotations

import gzip
from pathlib import Path

import numpy as np
import pytest

DATA_DIR = Path(__file__).resolve().parents[3].parent / "shared" / "data"
MISSING_REASON = f"real-model corpora not found at {DATA_DIR}"

# (folder, glob): every file of these three public sets is part of every corpus test.
CORPUS_SETS = (("netlib", "*.mps.gz"), ("miplib3", "*.gz"), ("sample", "*.mps"))


def corpus_files() -> list[Path]:
    files: list[Path] = []
    for folder, pattern in CORPUS_SETS:
        files.extend(sorted((DATA_DIR / folder).glob(pattern)))
    return files


def file_id(path: Path) -> str:
    return f"{path.parent.name}/{path.name}"


def corpus_params(select=lambda path: True) -> list:
    """pytest parameters, one per selected corpus file, or one skipped parameter when the
    corpora are absent (so the run says why instead of silently collecting nothing)."""
    files = [p for p in corpus_files() if select(p)]
    if not files:
        return [pytest.param(None, marks=pytest.mark.skip(reason=MISSING_REASON), id="no-corpus")]
    return [pytest.param(p, id=file_id(p)) for p in files]


def raw_text(path: Path) -> bytes:
    """The file's MPS text, decompressed with Python's own gzip module for .gz files."""
    data = path.read_bytes()
    return gzip.decompress(data) if path.name.endswith(".gz") else data


def bits(values) -> np.ndarray:
    """IEEE-754 bit patterns, so that comparisons see -0.0 vs 0.0 and NaN payloads."""
    return np.ascontiguousarray(np.asarray(values, dtype=np.float64)).view(np.uint64)


def round13(values) -> np.ndarray:
    """What the writer's thirteen significant digits give back after reading: the exact
    binary value rounded to nearest (ties to even) at 13 digits, then read correctly
    rounded. Python's '%.12e' formats from the exact binary value, so this is independent
    of the writer's own code."""
    flat = np.asarray(values, dtype=np.float64).ravel()
    return np.array([float("%.12e" % v) for v in flat.tolist()], dtype=np.float64)


def column_of_entries(start: np.ndarray) -> np.ndarray:
    """Column number of every matrix entry, from a column-start array."""
    counts = np.diff(start.astype(np.int64))
    return np.repeat(np.arange(len(counts), dtype=np.int64), counts)


class Snapshot:
    """A plain copy of every field of a Model, so that models can be compared after the
    originals are gone and names are read only once."""

    FLOAT_ARRAYS = ("col_cost", "col_lower", "col_upper", "row_lower", "row_upper")

    def __init__(self, model):
        self.name = model.name
        self.objective_name = model.objective_name
        self.num_row = model.num_row
        self.num_col = model.num_col
        self.obj_sense_minimize = model.obj_sense_minimize
        self.obj_offset = model.obj_offset
        for field in self.FLOAT_ARRAYS:
            setattr(self, field, np.array(getattr(model, field), copy=True))
        self.col_integrality = np.array(model.col_integrality, copy=True)
        self.start = np.array(model.a_matrix.start, copy=True)
        self.index = np.array(model.a_matrix.index, copy=True)
        self.value = np.array(model.a_matrix.value, copy=True)
        self.row_names = model.row_names
        self.col_names = model.col_names


def invariant_problems(model) -> list[str]:
    """Every way in which a Model breaks the record invariants (empty when it keeps them):
    lengths, dtypes, column starts, row indices, no zero and no repeated row per column,
    integrality codes 0..3."""
    problems: list[str] = []
    m, a = model, model.a_matrix
    nr, nc = m.num_row, m.num_col
    expected = {
        "col_cost": (np.float64, nc), "col_lower": (np.float64, nc), "col_upper": (np.float64, nc),
        "row_lower": (np.float64, nr), "row_upper": (np.float64, nr),
        "col_integrality": (np.uint8, nc),
    }
    for field, (dtype, length) in expected.items():
        arr = getattr(m, field)
        if arr.dtype != dtype or arr.shape != (length,):
            problems.append(f"{field}: dtype {arr.dtype} shape {arr.shape}, expected {np.dtype(dtype)} ({length},)")
    start, index, value = a.start, a.index, a.value
    if start.dtype != np.uint32 or index.dtype != np.uint32 or value.dtype != np.float64:
        problems.append(f"matrix dtypes {start.dtype}/{index.dtype}/{value.dtype}")
    if len(m.row_names) != nr or len(m.col_names) != nc:
        problems.append(f"names: {len(m.row_names)} rows, {len(m.col_names)} columns")
    if start.shape != (nc + 1,):
        problems.append(f"start has {start.shape} entries for {nc} columns")
        return problems
    nnz = len(index)
    if len(value) != nnz:
        problems.append(f"index has {nnz} entries, value {len(value)}")
        return problems
    if start[0] != 0 or start[-1] != nnz:
        problems.append(f"start runs from {start[0]} to {start[-1]}, nnz is {nnz}")
    if np.any(np.diff(start.astype(np.int64)) < 0):
        problems.append("start decreases")
        return problems
    if nnz and int(index.max()) >= nr:
        problems.append(f"row index {int(index.max())} with {nr} rows")
        return problems
    if np.any(value == 0.0):
        problems.append(f"{int(np.count_nonzero(value == 0.0))} zero values stored")
    keys = column_of_entries(start) * max(nr, 1) + index.astype(np.int64)
    if len(np.unique(keys)) != nnz:
        problems.append("a row occurs twice in one column")
    if np.any(m.col_integrality > 3):
        problems.append(f"integrality codes {sorted(set(m.col_integrality.tolist()) - {0, 1, 2, 3})}")
    return problems


def model_differences(a: Snapshot, b: Snapshot) -> list[str]:
    """Field-by-field differences between two snapshots, values compared bit for bit."""
    out: list[str] = []
    for field in ("name", "objective_name", "num_row", "num_col", "obj_sense_minimize",
                  "row_names", "col_names"):
        if getattr(a, field) != getattr(b, field):
            out.append(field)
    if bits([a.obj_offset])[0] != bits([b.obj_offset])[0]:
        out.append(f"obj_offset {a.obj_offset!r} vs {b.obj_offset!r}")
    for field in Snapshot.FLOAT_ARRAYS + ("value",):
        x, y = getattr(a, field), getattr(b, field)
        if x.shape != y.shape or np.any(bits(x) != bits(y)):
            out.append(field)
    for field in ("col_integrality", "start", "index"):
        x, y = getattr(a, field), getattr(b, field)
        if x.shape != y.shape or np.any(x != y):
            out.append(field)
    return out


def first_mismatch(name: str, got, want) -> str:
    """A readable description of the first position where two float arrays differ in bits."""
    got, want = np.asarray(got, dtype=np.float64), np.asarray(want, dtype=np.float64)
    if got.shape != want.shape:
        return f"{name}: shape {got.shape} vs {want.shape}"
    bad = np.nonzero(bits(got) != bits(want))[0]
    if not len(bad):
        return ""
    i = int(bad[0])
    return f"{name}: {len(bad)} differ, first at {i}: {got[i]!r} vs {want[i]!r}"
