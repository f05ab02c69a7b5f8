"""Conversions between a Model and highspy's HighsLp (a linear or mixed-integer program) or
HighsModel (with a quadratic objective), so that a model can be solved by HiGHS without a file
and a HiGHS model written through mopsel. Needs the extra mopsel[highs]."""

from __future__ import annotations

from typing import Any, Optional, Tuple

import numpy as np

from mopsel._extras import parts_it_lacks, require
from mopsel._from_arrays import from_arrays
from mopsel._mopsel import CONTINUOUS, INTEGER, Model

# HighsVarType names by integrality code; HiGHS's implicit integers (4) read as INTEGER.
_KINDS = ("kContinuous", "kInteger", "kSemiContinuous", "kSemiInteger")
_IMPLICIT_INTEGER = 4


def to_highs(model: Model) -> Any:
    """A new highspy.HighsLp holding the model: costs, bounds, the column-wise matrix (entries
    in the Model's order), sense, offset, integrality (left empty for an LP, as HiGHS does), the
    model name and the row and column names; for a model with a quadratic objective, a new
    highspy.HighsModel of that HighsLp and the Hessian (the lower triangle, HiGHS's triangular
    format, which has the same meaning: c'x + 1/2 x'Hx). Highs.passModel takes either. HiGHS
    keeps its own copy of every array. The objective row's name has no place in HiGHS. A model
    with quadratic rows, SOS sets or indicators raises ValueError: HiGHS takes none of them.

    >>> import highspy, mopsel
    >>> m = mopsel.parse_str("ROWS\\n N obj\\n G c\\nCOLUMNS\\n x obj 2 c 1\\nRHS\\n rhs c 3\\nENDATA\\n")
    >>> h = highspy.Highs()
    >>> _ = h.setOptionValue("output_flag", False)
    >>> _ = h.passModel(mopsel.to_highs(m))
    >>> _ = h.run()
    >>> h.getInfo().objective_function_value
    6.0
    >>> qp = mopsel.from_arrays(col_cost=[-2.0], a_matrix=[[1.0]], row_lower=[0.0], row_upper=[5.0],
    ...                         hessian=[[2.0]])                        # x^2 - 2x
    >>> _ = h.passModel(mopsel.to_highs(qp))
    >>> _ = h.run()
    >>> round(h.getInfo().objective_function_value, 6), round(h.getSolution().col_value[0], 6)
    (-1.0, 1.0)
    """
    highspy = require("highspy", "mopsel.to_highs")
    parts_it_lacks(model, "mopsel.to_highs", "linear and mixed-integer models and quadratic objectives",
                   takes=("hessian",), peer="HiGHS")
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
    if model.hessian is None:
        return lp
    qp = highspy.HighsModel()
    qp.lp_ = lp
    hessian, h = highspy.HighsHessian(), model.hessian
    hessian.dim_, hessian.format_ = model.num_col, highspy.HessianFormat.kTriangular
    hessian.start_, hessian.index_, hessian.value_ = h.start.astype(np.int32), h.index.astype(np.int32), h.value
    qp.hessian_ = hessian
    return qp


def from_highs(lp: Any, *, objective_name: Optional[str] = None) -> Model:
    """A Model from a highspy.HighsLp (column- or row-wise matrix), a highspy.HighsModel (its
    HighsLp and its Hessian, triangular or square) or a highspy.Highs (the model it holds),
    checked like from_arrays. Names HiGHS does not hold are made up as from_arrays does (C1..,
    R1..). HiGHS has no objective row name: it is `objective_name`, or "Objective". A Hessian
    without nonzero entries gives none (HiGHS fills in zero diagonal entries).

    >>> import highspy, mopsel
    >>> h = highspy.Highs()
    >>> _ = h.setOptionValue("output_flag", False)
    >>> _ = h.addVar(0.0, 4.0)
    >>> _ = h.changeColCost(0, -1.0)
    >>> mopsel.write_str(mopsel.from_highs(h.getLp())).splitlines()[3:5]
    ['COLUMNS', '    C1  Objective  -1.000000000000e0']
    >>> _ = h.passHessian(1, 1, highspy.HessianFormat.kTriangular, [0, 1], [0], [2.0])
    >>> mopsel.from_highs(h).hessian.value
    array([2.])
    """
    highspy = require("highspy", "mopsel.from_highs")
    if isinstance(lp, highspy.Highs):
        lp = lp.getModel()
    hessian = None
    if isinstance(lp, highspy.HighsModel):
        hessian = _hessian(lp.hessian_, lp.lp_.num_col_, highspy)
        lp = lp.lp_
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
        minimize=lp.sense_ == highspy.ObjSense.kMinimize, obj_offset=lp.offset_, hessian=hessian)


def _hessian(h: Any, num_col: int, highspy: Any) -> Optional[Tuple[np.ndarray, np.ndarray, np.ndarray]]:
    """A HighsHessian as a column-wise (start, index, value) tuple for from_arrays, which takes
    a triangle or the whole symmetric matrix; None for an empty one."""
    if h.dim_ == 0:
        return None
    if h.dim_ != num_col:
        raise ValueError(f"hessian_: dimension {h.dim_}, expected the {num_col} columns of lp_")
    if h.format_ not in (highspy.HessianFormat.kTriangular, highspy.HessianFormat.kSquare):
        raise ValueError(f"hessian_: format {h.format_} is neither triangular nor square")
    start = np.asarray(h.start_, dtype=np.int64)
    count = int(start[-1]) if len(start) else 0
    index = np.asarray(h.index_, dtype=np.int64)[:count]  # HiGHS may keep spare room
    value = np.asarray(h.value_, dtype=np.float64)[:count]
    return None if not np.any(value) else (start, index, value)


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
