"""Conversions between a Model and highspy.HighsLp, so that a model can be solved by HiGHS
without a file and a HiGHS model written through mopsel. Needs the extra mopsel[highs]."""

from __future__ import annotations

from typing import Any, Optional, Tuple

import numpy as np

from mopsel._extras import linear_parts_only, require
from mopsel._from_arrays import from_arrays
from mopsel._mopsel import CONTINUOUS, INTEGER, Model

# HighsVarType names by integrality code; HiGHS's implicit integers (4) read as INTEGER.
_KINDS = ("kContinuous", "kInteger", "kSemiContinuous", "kSemiInteger")
_IMPLICIT_INTEGER = 4


def to_highs(model: Model) -> Any:
    """A new highspy.HighsLp holding the model: costs, bounds, the column-wise matrix (entries
    in the Model's order), sense, offset, integrality (left empty for an LP, as HiGHS does), the
    model name and the row and column names. HiGHS keeps its own copy of every array. The
    objective row's name has no place in a HighsLp. A model with a quadratic part, SOS sets or
    indicators raises ValueError: a HighsLp holds none of them.

    >>> import highspy, mopsel
    >>> m = mopsel.parse_str("ROWS\\n N obj\\n G c\\nCOLUMNS\\n x obj 2 c 1\\nRHS\\n rhs c 3\\nENDATA\\n")
    >>> h = highspy.Highs()
    >>> _ = h.setOptionValue("output_flag", False)
    >>> _ = h.passModel(mopsel.to_highs(m))
    >>> _ = h.run()
    >>> h.getInfo().objective_function_value
    6.0
    """
    highspy = require("highspy", "mopsel.to_highs")
    linear_parts_only(model, "mopsel.to_highs")
    lp = highspy.HighsLp()
    lp.num_col_, lp.num_row_ = model.num_col, model.num_row
    lp.col_cost_, lp.col_lower_, lp.col_upper_ = model.col_cost, model.col_lower, model.col_upper
    lp.row_lower_, lp.row_upper_ = model.row_lower, model.row_upper
    matrix, a = lp.a_matrix_, model.a_matrix
    matrix.format_ = highspy.MatrixFormat.kColwise
    matrix.num_col_, matrix.num_row_ = model.num_col, model.num_row
    matrix.start_, matrix.index_, matrix.value_ = a.start.astype(np.int32), a.index.astype(np.int32), a.value
    lp.sense_ = highspy.ObjSense.kMinimize if model.obj_sense_minimize else highspy.ObjSense.kMaximize
    lp.offset_ = model.obj_offset
    lp.model_name_ = model.name
    lp.col_names_, lp.row_names_ = model.col_names, model.row_names
    codes = model.col_integrality
    if np.any(codes != CONTINUOUS):
        kinds = [getattr(highspy.HighsVarType, k) for k in _KINDS]
        lp.integrality_ = [kinds[c] for c in codes.tolist()]
    return lp


def from_highs(lp: Any, *, objective_name: Optional[str] = None) -> Model:
    """A Model from a highspy.HighsLp (column- or row-wise matrix), checked like from_arrays.
    Names HiGHS does not hold are made up as from_arrays does (C1.., R1..). HighsLp has no
    objective row name: it is `objective_name`, or "Objective".

    >>> import highspy, mopsel
    >>> h = highspy.Highs()
    >>> _ = h.setOptionValue("output_flag", False)
    >>> _ = h.addVar(0.0, 4.0)
    >>> _ = h.changeColCost(0, -1.0)
    >>> mopsel.write_str(mopsel.from_highs(h.getLp())).splitlines()[3:5]
    ['COLUMNS', '    C1  Objective  -1.000000000000e0']
    """
    highspy = require("highspy", "mopsel.from_highs")
    num_col, num_row = lp.num_col_, lp.num_row_
    a = lp.a_matrix_
    start = np.asarray(a.start_, dtype=np.int64)
    index = np.asarray(a.index_, dtype=np.int64)
    value = np.asarray(a.value_, dtype=np.float64)
    if a.format_ == highspy.MatrixFormat.kRowwise:
        start, index, value = _columnwise(start, index, value, num_row, num_col)
    elif a.format_ != highspy.MatrixFormat.kColwise:
        raise ValueError(f"lp.a_matrix_: matrix format {a.format_} is neither column- nor row-wise")
    if len(start) == 0 and num_col == 0:  # an empty HighsLp may hold no start at all
        start = np.zeros(1, dtype=np.int64)
    if len(start) == num_col + 1 and start[-1] < len(index):  # HiGHS may keep spare room
        index, value = index[:start[-1]], value[:start[-1]]
    kinds = np.array([int(k) for k in lp.integrality_], dtype=np.int64)
    kinds[kinds == _IMPLICIT_INTEGER] = INTEGER
    col_names, row_names = list(lp.col_names_), list(lp.row_names_)
    return from_arrays(
        col_cost=np.asarray(lp.col_cost_, dtype=np.float64), a_matrix=(start, index, value),
        row_lower=np.asarray(lp.row_lower_, dtype=np.float64), row_upper=np.asarray(lp.row_upper_, dtype=np.float64),
        col_lower=np.asarray(lp.col_lower_, dtype=np.float64), col_upper=np.asarray(lp.col_upper_, dtype=np.float64),
        col_integrality=kinds if len(kinds) else None,
        col_names=col_names if len(col_names) == num_col and num_col else None,
        row_names=row_names if len(row_names) == num_row and num_row else None,
        name=lp.model_name_, objective_name=objective_name or "Objective",
        minimize=lp.sense_ == highspy.ObjSense.kMinimize, obj_offset=lp.offset_)


def _columnwise(start: np.ndarray, index: np.ndarray, value: np.ndarray, num_row: int,
                num_col: int) -> Tuple[np.ndarray, np.ndarray, np.ndarray]:
    """A row-wise matrix (start per row, column indices) in column-wise form, entries of each
    column in row order."""
    if len(start) != num_row + 1:
        raise ValueError(f"lp.a_matrix_: {len(start)} row starts, expected {num_row + 1}")
    count = int(start[-1])
    rows = np.repeat(np.arange(num_row, dtype=np.int64), np.diff(start))
    columns = index[:count]
    if count and (columns.min() < 0 or columns.max() >= num_col):
        raise ValueError("lp.a_matrix_: a column index is out of range")
    order = np.argsort(columns, kind="stable")
    starts = np.concatenate(([0], np.cumsum(np.bincount(columns, minlength=num_col))))
    return starts, rows[order], value[:count][order]
