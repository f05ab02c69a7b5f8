"""mopsel.stats: the size and shape of a model, its kinds of rows, columns and bounds, and the
ranges of its coefficients (the figures `mopsel info` prints).

Every figure is computed with NumPy over the model's arrays (no loop over rows, columns or
entries in Python), so the statistics of a model of a gigabyte take a fraction of its read time.
"""

from __future__ import annotations

import dataclasses
import json
import math
from dataclasses import dataclass
from typing import Any, Dict, Optional, Tuple

import numpy as np

from mopsel._mopsel import CONTINUOUS, INTEGER, SEMI_CONTINUOUS, SEMI_INTEGER, Model

ROW_KINDS = ("E", "L", "G", "ranged", "free")
COLUMN_KINDS = ("continuous", "integer", "binary", "semi-continuous", "semi-integer")
BOUND_KINDS = ("fixed", "boxed", "lower only", "upper only", "free")
RANGE_KINDS = ("matrix", "cost", "bounds", "bounds_continuous", "bounds_non_continuous", "rhs")
# The figures of the sections beyond the LP part, present only for a model that has them.
EXTENDED_FIGURES = ("hessian_nonzeros", "quadratic_rows", "sos_sets", "indicators")

Range = Optional[Tuple[float, float]]


@dataclass(frozen=True)
class Stats:
    """The figures of one model. `to_dict()` gives them as plain Python values (what
    `mopsel info --json` prints for a model), `to_json()` as strict JSON text.

    Attributes:
        name, objective: the model's and the objective row's names.
        sense: "minimise" or "maximise"; constant: the objective constant.
        rows, columns, nonzeros: the sizes; density: nonzeros / (rows * columns).
        row_kinds: rows by kind, in the order E, L, G, ranged, free.
        column_kinds: columns by kind: continuous, integer (not binary), binary (integer with
            bounds [0, 1]), semi-continuous, semi-integer.
        bounds: columns by their bounds: fixed, boxed, lower only, upper only, free (a NaN
            bound counts as none).
        empty_rows, empty_columns: rows and columns without a matrix entry.
        costs: the nonzero costs.
        ranges: the smallest and largest nonzero magnitude (None when there is none) of the
            matrix, the costs, the finite bounds (all, of continuous columns, of the others)
            and the finite row bounds ("rhs").
        hessian_nonzeros, quadratic_rows, sos_sets, indicators: the sections beyond the LP
            part (None, and left out of to_dict(), for a model without them): the stored
            entries of the objective's Hessian (lower triangle), the rows with a Hessian of
            their own, the SOS sets, the indicator constraints.
    """

    name: str
    objective: str
    sense: str
    constant: float
    rows: int
    row_kinds: Dict[str, int]
    empty_rows: int
    columns: int
    column_kinds: Dict[str, int]
    empty_columns: int
    bounds: Dict[str, int]
    nonzeros: int
    density: float
    costs: int
    ranges: Dict[str, Range]
    hessian_nonzeros: Optional[int] = None
    quadratic_rows: Optional[int] = None
    sos_sets: Optional[int] = None
    indicators: Optional[int] = None

    def to_dict(self) -> Dict[str, Any]:
        """Every figure by name (the figures of absent sections left out); the dicts are copies."""
        out = {}
        for field in dataclasses.fields(self):
            value = getattr(self, field.name)
            if field.name in EXTENDED_FIGURES and value is None:
                continue
            out[field.name] = dict(value) if isinstance(value, dict) else value
        return out

    def to_json(self, **dumps: Any) -> str:
        """to_dict() as strict JSON (infinite and NaN numbers as the strings "inf", "-inf",
        "nan"); keyword arguments go to json.dumps."""
        return json.dumps(json_safe(self.to_dict()), allow_nan=False, **dumps)


def json_safe(value: Any) -> Any:
    """`value` with every infinite or NaN float replaced by its text ("inf", "-inf", "nan"),
    which strict JSON cannot hold as numbers, and tuples by lists."""
    if isinstance(value, float) and not math.isfinite(value):
        return str(value)
    if isinstance(value, dict):
        return {k: json_safe(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [json_safe(v) for v in value]
    return value


def _count(mask: np.ndarray) -> int:
    return int(np.count_nonzero(mask))


def _kinds_of_bounds(lower: np.ndarray, upper: np.ndarray) -> Tuple[np.ndarray, ...]:
    """Masks: both bounds finite and equal, both finite otherwise, lower only, upper only,
    neither (a NaN bound counts as none)."""
    has_lower, has_upper = np.isfinite(lower), np.isfinite(upper)
    both = has_lower & has_upper
    equal = both & (lower == upper)
    return equal, both & ~equal, has_lower & ~has_upper, ~has_lower & has_upper, ~has_lower & ~has_upper


def _magnitude_range(*arrays: np.ndarray, finite: bool) -> Range:
    """Smallest and largest nonzero magnitude over `arrays` (only finite ones when `finite`:
    an infinite bound is no bound), or None when there is none."""
    low, high = np.inf, -np.inf
    for values in arrays:
        magnitude = np.abs(values)
        keep = (magnitude > 0) & (np.isfinite(magnitude) if finite else ~np.isnan(magnitude))
        chosen = magnitude if keep.all() else magnitude[keep]
        if chosen.size:
            low, high = min(low, float(chosen.min())), max(high, float(chosen.max()))
    return None if high < low else (low, high)


def _sized(section: Any) -> Optional[int]:
    """The number of items of a section (its len()); None for no section or an empty one, so
    that the figures of a model without the section stay those of an LP."""
    if section is None:
        return None
    try:
        size = len(section)
    except TypeError:
        return 1
    return size or None


def stats(model: Model) -> Stats:
    """The figures of `model` that `mopsel info` prints.

    >>> import mopsel
    >>> m = mopsel.from_arrays(col_cost=[1.0, 0.0], a_matrix=[[1.0, 2.0], [0.0, 0.0]],
    ...                        row_lower=[1.0, 0.0], row_upper=[1.0, 5.0], col_upper=[1.0, 8.0],
    ...                        col_integrality=[1, 0])
    >>> s = mopsel.stats(m)
    >>> s.rows, s.columns, s.nonzeros, s.empty_rows
    (2, 2, 2, 1)
    >>> s.row_kinds
    {'E': 1, 'L': 0, 'G': 0, 'ranged': 1, 'free': 0}
    >>> s.column_kinds["binary"], s.ranges["matrix"]
    (1, (1.0, 2.0))
    >>> s.to_json()[:40]
    '{"name": "", "objective": "Objective", "'
    """
    if not hasattr(model, "a_matrix"):
        raise TypeError(f"argument 'model': expected a Model, got {type(model).__name__}")
    num_row, num_col = model.num_row, model.num_col
    matrix = model.a_matrix
    start, index, value = matrix.start, matrix.index, matrix.value
    nonzeros = int(start[-1]) if start.size else 0

    row_masks = _kinds_of_bounds(model.row_lower, model.row_upper)
    # E, then L (upper only), G (lower only), ranged (both, unequal), free.
    rows = dict(zip(ROW_KINDS, (_count(row_masks[i]) for i in (0, 3, 2, 1, 4))))

    kind = model.col_integrality
    lower, upper = model.col_lower, model.col_upper
    integer = kind == INTEGER
    continuous = kind == CONTINUOUS
    binary = integer & (lower == 0) & (upper == 1)
    counts = (
        _count(continuous),
        _count(integer) - _count(binary),
        _count(binary),
        _count(kind == SEMI_CONTINUOUS),
        _count(kind == SEMI_INTEGER),
    )
    row_used = np.zeros(num_row, dtype=bool)
    row_used[index] = True
    cells = num_row * num_col
    hessian = getattr(model, "hessian", None)
    return Stats(
        name=model.name,
        objective=model.objective_name,
        sense="minimise" if model.obj_sense_minimize else "maximise",
        constant=float(model.obj_offset),
        rows=num_row,
        row_kinds=rows,
        empty_rows=num_row - _count(row_used),
        columns=num_col,
        column_kinds=dict(zip(COLUMN_KINDS, counts)),
        empty_columns=_count(np.diff(start) == 0),
        bounds=dict(zip(BOUND_KINDS, (_count(m) for m in _kinds_of_bounds(lower, upper)))),
        nonzeros=nonzeros,
        density=nonzeros / cells if cells else 0.0,
        costs=_count(model.col_cost != 0),
        ranges={
            "matrix": _magnitude_range(value, finite=False),
            "cost": _magnitude_range(model.col_cost, finite=False),
            "bounds": _magnitude_range(lower, upper, finite=True),
            # Apart for the continuous columns and the others (integer, semi-continuous,
            # semi-integer), as HiGHS prints them for a model with integer columns.
            "bounds_continuous": _magnitude_range(lower[continuous], upper[continuous], finite=True),
            "bounds_non_continuous": _magnitude_range(lower[~continuous], upper[~continuous], finite=True),
            "rhs": _magnitude_range(model.row_lower, model.row_upper, finite=True),
        },
        hessian_nonzeros=None if hessian is None else int(np.asarray(hessian.value).size),
        quadratic_rows=_sized(getattr(model, "row_hessians", None)),
        sos_sets=_sized(getattr(model, "sos", None)),
        indicators=_sized(getattr(model, "indicators", None)),
    )
