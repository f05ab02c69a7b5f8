"""mopsel.to_pandas and mopsel.to_polars: a model's columns and rows as two tables, and its
matrix in long form on request, over the model's own arrays where the library allows."""

from __future__ import annotations

from typing import Any, NamedTuple, Tuple

import numpy as np

from mopsel._diff import entries_per_column
from mopsel._extras import require
from mopsel._mopsel import Model

COLUMN_KINDS = ("continuous", "integer", "semi-continuous", "semi-integer")  # by integrality code
ROW_KINDS = ("E", "L", "G", "ranged", "free")


class Tables(NamedTuple):
    """The tables of a model: `columns` (name, cost, lower, upper, kind), `rows` (name, lower,
    upper, kind) and `matrix` (row, col, value: one line per entry, positions in the other
    two tables; None unless asked for)."""

    columns: Any
    rows: Any
    matrix: Any = None


def row_kind_codes(model: Model) -> np.ndarray:
    """Each row's kind as an index into ROW_KINDS: E (equal finite bounds), L (upper only),
    G (lower only), ranged (both, unequal), free (neither; a NaN bound counts as none)."""
    lower, upper = model.row_lower, model.row_upper
    has_lower, has_upper = np.isfinite(lower), np.isfinite(upper)
    codes = np.full(model.num_row, 4, dtype=np.int8)
    codes[has_upper & ~has_lower] = 1
    codes[has_lower & ~has_upper] = 2
    both = has_lower & has_upper
    codes[both] = np.where(lower[both] == upper[both], 0, 3)
    return codes


def _entry_columns(model: Model) -> Tuple[np.ndarray, np.ndarray, np.ndarray]:
    matrix = model.a_matrix
    cols = np.repeat(np.arange(model.num_col, dtype=np.uint32), entries_per_column(matrix.start))
    return matrix.index, cols, matrix.value


def _check(model: Model) -> None:
    if not hasattr(model, "a_matrix"):
        raise TypeError(f"argument 'model': expected a Model, got {type(model).__name__}")


def to_pandas(model: Model, *, matrix: bool = False) -> Tables:
    """The model as pandas DataFrames (extra mopsel[pandas]): `columns` with name, cost,
    lower, upper and kind (a categorical: continuous, integer, semi-continuous, semi-integer),
    `rows` with name, lower, upper and kind (E, L, G, ranged, free), one line per column or
    row in the model's order; with `matrix=True` also `matrix`, the constraint matrix in long
    form (row, col, value), in the model's storage order.

    The cost, bound and value columns and the matrix's row positions are the model's own arrays
    (no copy): an edit of the model shows in the tables. pandas copies a column before it writes
    to it (copy-on-write), so editing a table leaves the model as it was.

    >>> import mopsel
    >>> m = mopsel.from_arrays(col_cost=[1.0, 2.0], a_matrix=[[1.0, 0.0], [3.0, 4.0]],
    ...                        row_lower=[1.0, -float("inf")], row_upper=[1.0, 8.0],
    ...                        col_integrality=[0, 1], col_names=["x", "y"], row_names=["c1", "c2"])
    >>> columns, rows, entries = mopsel.to_pandas(m, matrix=True)
    >>> print(columns)
      name  cost  lower  upper        kind
    0    x   1.0    0.0    inf  continuous
    1    y   2.0    0.0    inf     integer
    >>> print(rows)
      name  lower  upper kind
    0   c1    1.0    1.0    E
    1   c2   -inf    8.0    L
    >>> print(entries)
       row  col  value
    0    0    0    1.0
    1    1    0    3.0
    2    1    1    4.0
    """
    _check(model)
    pd = require("pandas", "mopsel.to_pandas")
    kinds = pd.Categorical.from_codes(model.col_integrality.astype(np.int8), categories=list(COLUMN_KINDS))
    columns = pd.DataFrame(
        {"name": model.col_names, "cost": model.col_cost, "lower": model.col_lower, "upper": model.col_upper,
         "kind": kinds},
        copy=False,
    )
    row_kinds = pd.Categorical.from_codes(row_kind_codes(model), categories=list(ROW_KINDS))
    rows = pd.DataFrame(
        {"name": model.row_names, "lower": model.row_lower, "upper": model.row_upper, "kind": row_kinds}, copy=False
    )
    entries = None
    if matrix:
        index, cols, value = _entry_columns(model)
        entries = pd.DataFrame({"row": index, "col": cols, "value": value}, copy=False)
    return Tables(columns, rows, entries)


def to_polars(model: Model, *, matrix: bool = False) -> Tables:
    """As `to_pandas`, with polars DataFrames (extra mopsel[polars]); kinds are Enum columns.
    polars takes the float columns without a copy where it can.

    >>> import mopsel
    >>> m = mopsel.from_arrays(col_cost=[1.0, 2.0], a_matrix=[[1.0, 0.0]], row_lower=[1.0],
    ...                        row_upper=[1.0], col_names=["x", "y"], row_names=["c1"])
    >>> tables = mopsel.to_polars(m)
    >>> tables.columns["name"].to_list(), tables.rows["kind"].to_list()
    (['x', 'y'], ['E'])
    """
    _check(model)
    pl = require("polars", "mopsel.to_polars")
    column_kind = pl.Enum(list(COLUMN_KINDS))
    row_kind = pl.Enum(list(ROW_KINDS))
    columns = pl.DataFrame(
        [
            pl.Series("name", model.col_names, dtype=pl.String),
            pl.Series("cost", model.col_cost),
            pl.Series("lower", model.col_lower),
            pl.Series("upper", model.col_upper),
            pl.Series("kind", np.asarray(COLUMN_KINDS)[model.col_integrality], dtype=column_kind),
        ]
    )
    rows = pl.DataFrame(
        [
            pl.Series("name", model.row_names, dtype=pl.String),
            pl.Series("lower", model.row_lower),
            pl.Series("upper", model.row_upper),
            pl.Series("kind", np.asarray(ROW_KINDS)[row_kind_codes(model)], dtype=row_kind),
        ]
    )
    entries = None
    if matrix:
        index, cols, value = _entry_columns(model)
        entries = pl.DataFrame([pl.Series("row", index), pl.Series("col", cols), pl.Series("value", value)])
    return Tables(columns, rows, entries)
