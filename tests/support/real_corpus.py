"""Shared helpers for the real-model tests: the corpora (beside the project, never inside it;
tests skip with a reason when they are absent), plain model snapshots compared bit for bit,
the record invariants, the writer's number rounding and the published MIPLIB 3 catalogue."""

from __future__ import annotations

import functools
import gzip
import re
from pathlib import Path

import numpy as np
import pytest

DATA_DIR = Path(__file__).resolve().parents[2].parent / "shared" / "data"
MISSING_REASON = f"real-model corpora not found at {DATA_DIR}"
CORPUS_SETS = (("netlib", "*.mps.gz"), ("miplib3", "*.gz"), ("sample", "*.mps"))
FLOATS = ("obj_offset", "col_cost", "col_lower", "col_upper", "row_lower", "row_upper", "value", "hessian_value",
          "row_hessian_value", "sos_weight")


def corpus_params(select=lambda path: True) -> list:
    """One pytest parameter per selected corpus file, or one skipped parameter when the
    corpora are absent (so the run says why instead of silently collecting nothing)."""
    files = [p for folder, glob in CORPUS_SETS for p in sorted((DATA_DIR / folder).glob(glob)) if select(p)]
    if not files:
        return [pytest.param(None, marks=pytest.mark.skip(reason=MISSING_REASON), id="no-corpus")]
    return [pytest.param(p, id=f"{p.parent.name}/{p.name}") for p in files]


def raw_text(path: Path) -> bytes:
    """The file's MPS text, decompressed with Python's own gzip module for .gz files."""
    data = path.read_bytes()
    return gzip.decompress(data) if path.name.endswith(".gz") else data


def bits(values) -> np.ndarray:
    """IEEE-754 bit patterns, so that comparisons see -0.0 vs 0.0 and NaN payloads."""
    return np.atleast_1d(np.asarray(values, dtype=np.float64)).copy().view(np.uint64)


def round13(values) -> np.ndarray:
    """What the writer's thirteen significant digits give back after reading. Python's '%.12e'
    rounds the exact binary value (ties to even), independently of the writer's own code."""
    return np.array([float("%.12e" % v) for v in np.ravel(values).tolist()], dtype=np.float64)


def column_of_entries(start) -> np.ndarray:
    """Column number of every matrix entry, from a column-start array."""
    counts = np.diff(np.asarray(start, dtype=np.int64))
    return np.repeat(np.arange(len(counts)), counts)


def snap(model) -> dict:
    """A plain copy of every field of a Model (matrix as start/index/value)."""
    s = {k: getattr(model, k) for k in ("name", "objective_name", "num_row", "num_col", "obj_sense_minimize",
                                        "obj_offset", "row_names", "col_names")}
    for k in ("col_cost", "col_lower", "col_upper", "row_lower", "row_upper", "col_integrality"):
        s[k] = np.array(getattr(model, k))
    for k in ("start", "index", "value"):
        s[k] = np.array(getattr(model.a_matrix, k))
    return dict(s, **snap_parts(model))


def _matrix(prefix: str, matrix) -> dict:
    return {f"{prefix}_{k}": np.array([] if matrix is None else getattr(matrix, k)) for k in ("start", "index", "value")}


def snap_parts(model) -> dict:
    """The parts beyond a linear program as plain arrays: which parts there are, the
    objective's Hessian, the rows' Hessians one after another (their rows in row_hessian_rows,
    their starts each from 0), the SOS sets and the indicators (empty arrays for a part the
    model lacks)."""
    rows = sorted(model.row_hessians)
    triangles = [model.row_hessians[r] for r in rows]
    sos, indicators = model.sos, model.indicators
    s = {"parts": (model.hessian is not None, bool(rows), sos is not None, indicators is not None),
         "row_hessian_rows": np.array(rows, dtype=np.int64)}
    s.update(_matrix("hessian", model.hessian))
    for k in ("start", "index", "value"):
        s[f"row_hessian_{k}"] = np.concatenate([np.array(getattr(h, k)) for h in triangles] or [np.array([])])
    for k in ("type", "priority", "start", "index", "weight"):
        s[f"sos_{k}"] = np.array([] if sos is None else getattr(sos, k))
    s["sos_names"] = [] if sos is None else sos.names
    for k in ("row", "column", "value"):
        s[f"indicator_{k}"] = np.array([] if indicators is None else getattr(indicators, k))
    return s


def differences(got: dict, want: dict) -> list[str]:
    """The fields of `want` that `got` holds differently (floats bit for bit), each with
    its first differing position."""
    out = []
    for key, y in want.items():
        x = got[key]
        if key in FLOATS:
            x, y = bits(x), bits(y)
        if not isinstance(x, np.ndarray):
            out += [] if x == y else [key]
        elif x.shape != y.shape:
            out.append(f"{key}: shape {x.shape} vs {y.shape}")
        elif np.any(x != y):
            i = int(np.flatnonzero(x != y)[0])
            g, w = (float(np.atleast_1d(d[key])[i]) for d in (got, want))
            out.append(f"{key}: {int(np.count_nonzero(x != y))} differ, first at {i}: {g!r} vs {w!r}")
    return out


def check_invariants(model) -> None:
    """Lengths and dtypes, column starts, row indices, no stored zero, no row twice in a
    column, integrality codes 0..3."""
    s, nr, nc = snap(model), model.num_row, model.num_col
    nnz = len(s["index"])
    shapes = {"col_cost": ("f8", nc), "col_lower": ("f8", nc), "col_upper": ("f8", nc), "row_lower": ("f8", nr),
              "row_upper": ("f8", nr), "col_integrality": ("u1", nc), "start": ("u4", nc + 1), "index": ("u4", nnz),
              "value": ("f8", nnz)}
    for key, (dtype, length) in shapes.items():
        assert (s[key].dtype, s[key].shape) == (np.dtype(dtype), (length,)), key
    assert (len(s["row_names"]), len(s["col_names"])) == (nr, nc)
    start, index = s["start"].astype(np.int64), s["index"].astype(np.int64)
    assert start[0] == 0 and start[-1] == nnz and np.all(np.diff(start) >= 0)
    assert nnz == 0 or index.max() < nr
    assert not np.any(s["value"] == 0.0), "zero values stored"
    keys = column_of_entries(start) * max(nr, 1) + index
    assert len(np.unique(keys)) == nnz, "a row occurs twice in one column"
    assert np.all(s["col_integrality"] <= 3)


CATALOGUE = DATA_DIR / "miplib3" / "miplib3.cat"


@functools.cache
def catalogue() -> dict[str, tuple[int, ...]]:
    """Part A: name -> (rows, columns, integer, binary, continuous). Rows exclude the
    objective; "ALL" in the 0/1 column means every integer column is binary."""
    entries = {}
    for line in CATALOGUE.read_text().split("INDEX - PART B")[0].splitlines():
        m = re.match(r"\s*(\S+)\s+(\d+)\s+(\d+)\s+(\d+)\s+(ALL|\d+)\s+(\d+)\s", line)
        if m:
            name, rows, cols, ints, binary, cont = m.groups()
            entries[name] = (int(rows), int(cols), int(ints), int(ints if binary == "ALL" else binary), int(cont))
    return entries
