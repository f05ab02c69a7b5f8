"""mopsel.to_scip: a Model as a PySCIPOpt model, every part included: bounds and integrality
(a semi-continuous column with the bounds SCIP's MPS reader gives it), the linear rows, the quadratic
objective and rows, SOS1 and SOS2 sets with their weights, and indicators. Needs the extra
mopsel[scip]."""

from __future__ import annotations

from typing import Any, Dict, List, Optional, Tuple

import numpy as np

from mopsel._extras import require
from mopsel._mopsel import INTEGER, SEMI_CONTINUOUS, SEMI_INTEGER, Model
from mopsel._triangles import column_of_entries

# The names SCIP's MPS reader gives what it makes of a quadratic objective (SCIP's objective
# is linear): a free variable whose cost is 1, bound by a constraint to the quadratic part.
OBJECTIVE_VARIABLE = "qmatrixvar"
OBJECTIVE_CONSTRAINT = "qmatrix"
_VARIABLE_TYPES = {INTEGER: "I", SEMI_INTEGER: "I"}


def to_scip(model: Model) -> Any:
    """A new pyscipopt.Model holding the model, named as its rows and columns are:

    - a variable per column with its cost, bounds (infinite ones as none) and type:
      "B" for an integer column within [0, 1], "I" for other integer ones, "C" otherwise; a
      semi-continuous or semi-integer column x with bounds [l, u] not holding 0 gets the bounds
      [min(l, 0), max(u, 0)] and the disjunction constraint `semicont_x` (x <= 0 or x >= l;
      x >= 0 or x <= u when u < 0);
    - the sense and the objective constant (SCIP's objective offset);
    - a constraint per row, lhs <= a'x + 1/2 x'H_r x <= rhs (a free row with the right-hand
      side SCIP's infinity), linear, or nonlinear for a row with a Hessian of its own;
    - the objective's quadratic part as SCIP's MPS reader makes it (SCIP's objective is
      linear): a free variable `qmatrixvar` whose cost is 1, and the constraint `qmatrix`:
      1/2 x'Hx - qmatrixvar <= 0 (>= 0 when maximising);
    - each SOS set as an SOS1 or SOS2 constraint named as the set, members and weights in
      order (SCIP's SOS constraints hold no priority);
    - each indicator (row r holds when column b equals v) as an indicator constraint on the
      binary b, named as SCIP's MPS reader names it: `ind_r` for a one-sided row, `indlhs_r`
      and `indrhs_r` for the two sides of a two-sided one. The row is then no constraint of its
      own: SCIP keeps it as the indicator's linear constraint. A free row (which always holds)
      has the right-hand side SCIP's infinity, with an indicator or without.

    A NaN cost, bound, coefficient, Hessian entry or SOS weight, an indicator on a column that is not
    binary (integer within [0, 1]) or on a row with a Hessian raise ValueError: SCIP takes none
    of them. Every value reaches SCIP as it is; SCIP reads magnitudes from 1e20 on as infinite.

    >>> import mopsel
    >>> m = mopsel.from_arrays(col_cost=[1.0, 1.0], a_matrix=[[1.0, 1.0]], row_lower=[1.0],
    ...                        row_upper=[float("inf")], hessian=[[2.0, 0.0], [0.0, 2.0]])  # x^2 + y^2 + x + y
    >>> s = mopsel.to_scip(m)
    >>> s.hideOutput()
    >>> s.optimize()
    >>> round(s.getObjVal(), 6), [round(s.getVal(v), 6) for v in s.getVars()[:2]]
    (1.5, [0.5, 0.5])
    """
    scip = require("pyscipopt", "mopsel.to_scip")
    _check(model)
    s = scip.Model(model.name or "model")
    infinity = s.infinity()
    columns = _columns(s, model)
    if not model.obj_sense_minimize:
        s.setMaximize()
    if model.obj_offset:
        s.addObjoffset(float(model.obj_offset))
    terms = [scip.scip.Term(v) for v in columns]
    row_names = model.row_names
    indicators = _indicators_by_row(model)
    row_hessians = model.row_hessians
    for row, (cols, values) in enumerate(_rows(model)):
        expression = dict(zip([terms[c] for c in cols.tolist()], values.tolist()))
        if row in row_hessians:
            expression.update(_quadratic_terms(scip, columns, row_hessians[row]))
        lower, upper = _side(model.row_lower[row]), _side(model.row_upper[row])
        if lower is None and upper is None:
            upper = infinity  # a free row: kept, as the Model keeps it (and as SCIP's reader does)
        if row in indicators:
            _add_indicators(scip, s, row_names[row], scip.Expr(expression), lower, upper, indicators[row], columns)
            continue
        s.addCons(scip.ExprCons(scip.Expr(expression), lhs=lower, rhs=upper), name=row_names[row])
    if model.hessian is not None:
        t = s.addVar(OBJECTIVE_VARIABLE, lb=None, ub=None, obj=1.0)
        quadratic = _quadratic_terms(scip, columns, model.hessian)
        quadratic[scip.scip.Term(t)] = -1.0
        sides = {"rhs": 0.0} if model.obj_sense_minimize else {"lhs": 0.0}
        s.addCons(scip.ExprCons(scip.Expr(quadratic), **sides), name=OBJECTIVE_CONSTRAINT)
    _add_sos(s, model, columns)
    return s


def _check(model: Model) -> None:
    """Raises ValueError for what SCIP cannot take, naming the first such place."""
    col_names, row_names = model.col_names, model.row_names
    for what, values in (("cost", model.col_cost), ("column lower bound", model.col_lower),
                         ("column upper bound", model.col_upper), ("row lower bound", model.row_lower),
                         ("row upper bound", model.row_upper), ("matrix entry", model.a_matrix.value)):
        if np.isnan(values).any():
            raise ValueError(f"mopsel.to_scip: a {what} is NaN (at position {int(np.argmax(np.isnan(values)))})")
    for what, h in [("objective's Hessian", model.hessian)] + [
            (f"Hessian of row {row_names[r]!r}", h) for r, h in model.row_hessians.items()]:
        if h is not None and np.isnan(h.value).any():
            raise ValueError(f"mopsel.to_scip: an entry of the {what} is NaN")
    if model.sos is not None and np.isnan(model.sos.weight).any():
        raise ValueError("mopsel.to_scip: an SOS weight is NaN")
    ind = model.indicators
    if ind is None:
        return
    kind, lower, upper = model.col_integrality, model.col_lower, model.col_upper
    for row, column in zip(ind.row.tolist(), ind.column.tolist()):
        if not (kind[column] == INTEGER and lower[column] >= 0 and upper[column] <= 1):
            raise ValueError(f"mopsel.to_scip: the indicator of row {row_names[row]!r} is on column "
                             f"{col_names[column]!r}, which is not binary (SCIP takes binary ones only)")
        if row in model.row_hessians:
            raise ValueError(f"mopsel.to_scip: row {row_names[row]!r} has an indicator and a Hessian "
                             "(SCIP's indicators take linear rows only)")


def _side(value: float) -> Optional[float]:
    """A row or column bound for SCIP: None for an infinite one."""
    return None if abs(value) == np.inf else float(value)


def _columns(s: Any, model: Model) -> List[Any]:
    kinds, lower, upper, cost = (a.tolist() for a in (model.col_integrality, model.col_lower, model.col_upper,
                                                       model.col_cost))
    columns = []
    for j, name in enumerate(model.col_names):
        lo, up, kind = _side(lower[j]), _side(upper[j]), kinds[j]
        vtype = _VARIABLE_TYPES.get(kind, "C")
        if kind == INTEGER and lo is not None and lo >= 0 and up is not None and up <= 1:
            vtype = "B"
        # A semi-continuous column is 0 or within [lo, up]; where that range leaves out 0, SCIP
        # gets bounds that take 0 in and a disjunction that keeps the column out of the gap.
        semi = kind in (SEMI_CONTINUOUS, SEMI_INTEGER) and (lower[j] > 0 or upper[j] < 0)
        v = s.addVar(name, vtype, lb=min(lo, 0.0) if semi and lo is not None else lo,
                     ub=max(up, 0.0) if semi and up is not None else up, obj=cost[j])
        if semi:
            zero, away = (v <= 0, v >= lower[j]) if lower[j] > 0 else (v >= 0, v <= upper[j])
            s.addConsDisjunction([zero, away], name=f"semicont_{name}")
        columns.append(v)
    return columns


def _rows(model: Model) -> Any:
    """(columns, values) of each row's matrix entries, row by row."""
    a = model.a_matrix
    column = column_of_entries(a.start)
    order = np.argsort(a.index, kind="stable")
    starts = np.concatenate(([0], np.cumsum(np.bincount(a.index, minlength=model.num_row))))
    cols, values = column[order], a.value[order]
    return ((cols[starts[r]:starts[r + 1]], values[starts[r]:starts[r + 1]]) for r in range(model.num_row))


def _quadratic_terms(scip: Any, columns: List[Any], h: Any) -> Dict[Any, float]:
    """1/2 x'Hx from H's lower triangle: H_ii / 2 for x_i^2, H_ij for x_i x_j (i > j), which
    stands for itself and its mirror image."""
    cols = column_of_entries(h.start)
    rows, values = h.index, h.value
    halved = np.where(rows == cols, values * 0.5, values)
    return {scip.scip.Term(columns[i], columns[j]): v
            for i, j, v in zip(rows.tolist(), cols.tolist(), halved.tolist())}


def _indicators_by_row(model: Model) -> Dict[int, List[Tuple[int, int]]]:
    ind = model.indicators
    found: Dict[int, List[Tuple[int, int]]] = {}
    if ind is not None:
        for row, column, value in zip(ind.row.tolist(), ind.column.tolist(), ind.value.tolist()):
            found.setdefault(row, []).append((column, value))
    return found


def _add_indicators(scip: Any, s: Any, name: str, expression: Any, lower: Optional[float], upper: Optional[float],
                    indicators: List[Tuple[int, int]], columns: List[Any]) -> None:
    """The row as one indicator constraint per side and per indicator (a row that holds when
    either of two indicators does gets both)."""
    sides = [(prefix, side) for prefix, side in (("indlhs_", {"lhs": lower}), ("indrhs_", {"rhs": upper}))
             if next(iter(side.values())) is not None]
    for column, value in indicators:
        for prefix, side in sides:
            label = ("ind_" if len(sides) == 1 else prefix) + name
            s.addConsIndicator(scip.ExprCons(expression, **side), columns[column], activeone=bool(value), name=label)


def _add_sos(s: Any, model: Model, columns: List[Any]) -> None:
    sos = model.sos
    if sos is None:
        return
    start, index, weight = sos.start.tolist(), sos.index.tolist(), sos.weight.tolist()
    for k, (kind, name) in enumerate(zip(sos.type.tolist(), sos.names)):
        members = [columns[c] for c in index[start[k]:start[k + 1]]]
        add = s.addConsSOS1 if kind == 1 else s.addConsSOS2
        add(members, weight[start[k]:start[k + 1]], name=name)
