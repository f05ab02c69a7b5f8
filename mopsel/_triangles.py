"""Symmetric matrices (Hessians) given in the common forms, made into the lower triangle a Model
holds: column by column, rows ascending within a column, none above the diagonal.

A matrix whose entries all lie on one side of the diagonal (and on it) is that triangle of H;
one with entries on both sides is the whole of H and must be symmetric, entry for entry.
"""

from __future__ import annotations

import sys
from typing import Any, Dict, Tuple

import numpy as np

# Entries as coordinates: rows, columns, values (int64, int64, float64).
Entries = Tuple[np.ndarray, np.ndarray, np.ndarray]
Triangle = Tuple[np.ndarray, np.ndarray, np.ndarray]


def square_entries(argument: str, value: Any, size: int) -> Entries:
    """The entries of a SciPy sparse matrix (duplicates summed), a dense two-dimensional array
    or nested lists, or a dict {(row, column): value} of shape (size, size); zeros dropped,
    NaN refused."""
    sparse = sys.modules.get("scipy.sparse")  # a SciPy object means SciPy is imported already
    if sparse is not None and sparse.issparse(value):
        _check_shape(argument, value.shape, size)
        coo = value.tocoo()
        if not coo.has_canonical_format:  # duplicates mean their sum; done on a copy
            coo = coo.copy()
            coo.sum_duplicates()
        entries = (coo.row, coo.col, coo.data)
    elif isinstance(value, dict):
        entries = _dict_entries(argument, value, size)
    else:
        dense = np.asarray(value)
        if dense.ndim != 2 or dense.dtype.kind not in "biuf":
            raise TypeError(f"{argument}: expected a (start, index, value) tuple, a SparseMatrix, a scipy.sparse "
                            "matrix or array, a two-dimensional array of numbers or a dict {(row, column): value}, "
                            f"got {type(value).__name__}")
        _check_shape(argument, dense.shape, size)
        rows, cols = np.nonzero(dense)
        entries = (rows, cols, dense[rows, cols])
    rows, cols = (np.asarray(a, dtype=np.int64) for a in entries[:2])
    values = np.asarray(entries[2], dtype=np.float64)
    nan = np.isnan(values)
    if nan.any():
        k = int(np.argmax(nan))
        raise ValueError(f"{argument}[{rows[k]}, {cols[k]}] is NaN")
    kept = values != 0.0
    return rows[kept], cols[kept], values[kept]


def _check_shape(argument: str, shape: Tuple[int, ...], size: int) -> None:
    if tuple(shape) != (size, size):
        raise ValueError(f"{argument}: shape {tuple(shape)}, expected ({size}, {size}) (a row and a column "
                         "per column of the model)")


def _dict_entries(argument: str, value: Dict[Any, Any], size: int) -> Entries:
    rows, cols, values = [], [], []
    for key, v in value.items():
        if not (isinstance(key, tuple) and len(key) == 2
                and all(isinstance(i, (int, np.integer)) and not isinstance(i, bool) for i in key)):
            raise TypeError(f"{argument}: the key {key!r} is not a pair (row, column) of column positions")
        if not all(0 <= i < size for i in key):
            raise ValueError(f"{argument}: the key {key!r} is not a pair of columns (there are {size})")
        if isinstance(v, bool) or not isinstance(v, (int, float, np.integer, np.floating)):
            raise TypeError(f"{argument}[{key[0]}, {key[1]}]: expected a number, got {type(v).__name__}")
        rows.append(int(key[0]))
        cols.append(int(key[1]))
        values.append(float(v))
    return np.array(rows, np.int64), np.array(cols, np.int64), np.array(values, np.float64)


def column_of_entries(start: Any) -> np.ndarray[Any, np.dtype[np.int64]]:
    """The column of every entry of a column-wise matrix, from its column starts."""
    first = np.asarray(start, dtype=np.int64)
    return np.repeat(np.arange(len(first) - 1, dtype=np.int64), first[1:] - first[:-1])


def is_lower(start: np.ndarray, index: np.ndarray) -> bool:
    """Whether a column-wise matrix is already a lower triangle with rows ascending."""
    if len(index) == 0:
        return True
    column = column_of_entries(start)
    rows = index.astype(np.int64)
    rising = (np.diff(rows) > 0) | (column[1:] != column[:-1])
    return bool(np.all(rows >= column) and np.all(rising))


def lower_triangle(argument: str, entries: Entries, size: int) -> Triangle:
    """The lower triangle (start, index, value as uint32, uint32, float64) of the symmetric
    matrix these entries give: one triangle, or both halves, which must agree. The entries
    hold no position twice."""
    rows, cols, values = entries
    below, above = rows > cols, rows < cols
    if above.any() and below.any():
        _check_symmetric(argument, rows, cols, values, size)
        keep = ~above
        rows, cols, values = rows[keep], cols[keep], values[keep]
    elif above.any():  # the upper triangle: its transpose
        rows, cols = cols, rows
    order = np.lexsort((rows, cols))
    start = np.concatenate(([0], np.cumsum(np.bincount(cols, minlength=size))))
    return (start.astype(np.uint32), rows[order].astype(np.uint32), np.ascontiguousarray(values[order]))


def _check_symmetric(argument: str, rows: np.ndarray, cols: np.ndarray, values: np.ndarray, size: int) -> None:
    """Raises for the first place (column by column of the lower triangle) where the two halves
    differ, with both values (0 for a missing one)."""
    below, above = rows > cols, rows < cols
    # Each place of the lower triangle as one number, column-major: column * size + row.
    low = cols[below] * size + rows[below]
    mirror = rows[above] * size + cols[above]
    if len(low) == len(mirror):
        low_order, mirror_order = np.argsort(low), np.argsort(mirror)
        if np.array_equal(low[low_order], mirror[mirror_order]) and np.array_equal(
                values[below][low_order], values[above][mirror_order]):
            return
    lower_values = dict(zip(low.tolist(), values[below].tolist()))
    upper_values = dict(zip(mirror.tolist(), values[above].tolist()))
    first = min(k for k in lower_values.keys() | upper_values.keys()
                if lower_values.get(k, 0.0) != upper_values.get(k, 0.0))
    column, row = divmod(first, size)
    raise ValueError(f"{argument} is not symmetric: [{row}, {column}] is {lower_values.get(first, 0.0)!r} but "
                     f"[{column}, {row}] is {upper_values.get(first, 0.0)!r} (give one triangle, or both halves equal)")
