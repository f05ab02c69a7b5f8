"""Models as comparable data, whoever read or built them: mopsel, HiGHS (highspy), SCIP
(pyscipopt), Gurobi (gurobipy) and CPLEX (cplex). Each peer holds the parts beyond a linear program in its own
way (SCIP: the quadratic objective as a variable and a constraint, indicators as constraints on
a slack; Gurobi: indicator rows as general constraints); the functions here undo that, so that
equal data mean the same model:

- sense, offset; columns by name: (cost, lower, upper, integer); rows by name: (lower, upper);
  matrix entries by (row, column);
- hessian: the objective's H by pairs of column names in name order (H_ij for i != j, H_ii on
  the diagonal); row_hessians: each row's H_r likewise;
- sos: the sets in order, (type, ((column, weight), ...)); sos_names where the peer keeps them;
- indicators: each as (row, column, value, coefficients, bound) with the row written
  a'x <= bound (a lower bound as -a'x <= -lower); indicator rows are no rows of their own;
- semi: the names of the semi-continuous and semi-integer columns where the peer shows them.

Each peer is optional: its reader raises pytest's skip when it is not installed.
"""

from __future__ import annotations

import contextlib
import io
import math
from pathlib import Path
from typing import Any, Dict, List, Optional, Tuple

import numpy as np
import pytest

INF = math.inf
SCIP_INFINITY = 1e20
Canonical = Dict[str, Any]


def _finite(v: float, infinity: float = INF) -> float:
    """A peer's bound with its own infinity (SCIP: 1e20) as IEEE infinity."""
    return INF if v >= infinity else (-INF if v <= -infinity else float(v))


def pair(a: str, b: str) -> Tuple[str, str]:
    return (a, b) if a <= b else (b, a)


def _add(target: Dict[Any, float], key: Any, value: float) -> None:
    target[key] = target.get(key, 0.0) + value


def _nonzero(values: Dict[Any, float]) -> Dict[Any, float]:
    return {k: float(v) for k, v in values.items() if v != 0.0}


def _upper_forms(row: str, column: str, value: int, coefficients: Dict[str, float], lower: float,
                 upper: float) -> List[tuple]:
    """An indicator's row as the inequalities a'x <= bound it holds (one per finite side)."""
    forms = []
    if upper != INF:
        forms.append((row, column, value, tuple(sorted(_nonzero(coefficients).items())), float(upper)))
    if lower != -INF:
        negated = {k: -v for k, v in coefficients.items()}
        forms.append((row, column, value, tuple(sorted(_nonzero(negated).items())), -float(lower)))
    return forms


def canonical(sense_min: bool, offset: float, cols, rows, entries, hessian=None, row_hessians=None, sos=(),
              sos_names=None, indicators=(), semi=None) -> Canonical:
    return {
        "sense": "min" if sense_min else "max",
        "offset": float(offset),
        "cols": {n: (float(c), float(lo), float(up), bool(i)) for n, c, lo, up, i in cols},
        "rows": {n: (float(lo), float(up)) for n, lo, up in rows},
        "entries": _nonzero(entries),
        "hessian": _nonzero(hessian or {}),
        "row_hessians": {r: _nonzero(h) for r, h in (row_hessians or {}).items() if _nonzero(h)},
        "sos": [(int(t), tuple((n, float(w)) for n, w in members)) for t, members in sos],
        "sos_names": sos_names,
        "indicators": sorted(indicators),
        "semi": None if semi is None else sorted(semi),
    }


def same(ours: Canonical, theirs: Canonical) -> List[str]:
    """The keys whose data differ (sos_names and semi only where both sides keep them)."""
    keys = [k for k in ours if k not in _WHERE_KEPT and ours[k] != theirs[k]]
    return keys + [k for k in _WHERE_KEPT if None not in (ours[k], theirs[k]) and ours[k] != theirs[k]]


# Parts that not every peer shows: SOS names (Gurobi drops them), semi-continuous and
# semi-integer columns (SCIP makes other constraints of them).
_WHERE_KEPT = ("sos_names", "semi")


# mopsel ---------------------------------------------------------------------------------------


def _triangle(h, names: List[str]) -> Dict[Tuple[str, str], float]:
    out: Dict[Tuple[str, str], float] = {}
    start = np.asarray(h.start, dtype=np.int64)
    for j in range(len(start) - 1):
        for k in range(start[j], start[j + 1]):
            _add(out, pair(names[int(h.index[k])], names[j]), float(h.value[k]))
    return out


def of_mopsel(m) -> Canonical:
    row_names, col_names = m.row_names, m.col_names
    a = m.a_matrix
    by_row: Dict[int, Dict[str, float]] = {}
    for j in range(m.num_col):
        for k in range(a.start[j], a.start[j + 1]):
            by_row.setdefault(int(a.index[k]), {})[col_names[j]] = float(a.value[k])
    indicators, indicator_rows = [], set()
    if m.indicators is not None:
        for r, c, v in zip(m.indicators.row.tolist(), m.indicators.column.tolist(), m.indicators.value.tolist()):
            indicator_rows.add(r)
            indicators += _upper_forms(row_names[r], col_names[c], v, by_row.get(r, {}), m.row_lower[r],
                                       m.row_upper[r])
    rows = [(row_names[r], m.row_lower[r], m.row_upper[r]) for r in range(m.num_row) if r not in indicator_rows]
    entries = {(row_names[r], c): v for r, cs in by_row.items() if r not in indicator_rows for c, v in cs.items()}
    cols = zip(col_names, m.col_cost, m.col_lower, m.col_upper, m.col_integrality % 2 == 1)
    sos, names = [], None
    if m.sos is not None:
        s = m.sos
        start = s.start.tolist()
        sos = [(t, [(col_names[c], w) for c, w in zip(s.index[start[k]:start[k + 1]].tolist(),
                                                       s.weight[start[k]:start[k + 1]].tolist())])
               for k, t in enumerate(s.type.tolist())]
        names = list(s.names)
    return canonical(m.obj_sense_minimize, m.obj_offset, cols, rows, entries,
                     None if m.hessian is None else _triangle(m.hessian, col_names),
                     {row_names[r]: _triangle(h, col_names) for r, h in m.row_hessians.items()}, sos, names,
                     indicators, [n for n, kind in zip(col_names, m.col_integrality.tolist()) if kind >= 2])


# HiGHS ----------------------------------------------------------------------------------------


def of_highs(model) -> Canonical:
    """A highspy HighsModel (or HighsLp) as data."""
    highspy = pytest.importorskip("highspy")
    lp = model.lp_ if hasattr(model, "lp_") else model
    cols_n, rows_n = list(lp.col_names_), list(lp.row_names_)
    integrality = list(lp.integrality_) or [highspy.HighsVarType.kContinuous] * lp.num_col_
    kinds = highspy.HighsVarType
    cols = [(cols_n[j], lp.col_cost_[j], lp.col_lower_[j], lp.col_upper_[j],
             integrality[j] in (kinds.kInteger, kinds.kSemiInteger)) for j in range(lp.num_col_)]
    semi = [cols_n[j] for j in range(lp.num_col_) if integrality[j] in (kinds.kSemiContinuous, kinds.kSemiInteger)]
    rows = [(rows_n[i], lp.row_lower_[i], lp.row_upper_[i]) for i in range(lp.num_row_)]
    a = lp.a_matrix_
    start, index, value = list(a.start_), list(a.index_), list(a.value_)
    entries: Dict[Tuple[str, str], float] = {}
    colwise = a.format_ == highspy.MatrixFormat.kColwise
    for outer in range(lp.num_col_ if colwise else lp.num_row_):
        for k in range(start[outer], start[outer + 1]):
            key = (rows_n[index[k]], cols_n[outer]) if colwise else (rows_n[outer], cols_n[index[k]])
            _add(entries, key, value[k])
    hessian: Dict[Tuple[str, str], float] = {}
    h = getattr(model, "hessian_", None)
    if h is not None and h.dim_:
        square = h.format_ == highspy.HessianFormat.kSquare
        for j in range(h.dim_):
            for k in range(h.start_[j], h.start_[j + 1]):
                i = h.index_[k]
                if not square or i >= j:  # a square matrix gives each pair twice
                    _add(hessian, pair(cols_n[i], cols_n[j]), h.value_[k])
    return canonical(lp.sense_ == highspy.ObjSense.kMinimize, lp.offset_, cols, rows, entries, hessian, semi=semi)


def highs_reads(path: Path) -> Optional[Canonical]:
    """HiGHS's reading of a file as data; None when HiGHS refuses it."""
    highspy = pytest.importorskip("highspy")
    h = highspy.Highs()
    h.setOptionValue("output_flag", False)
    if h.readModel(str(path)) == highspy.HighsStatus.kError:
        return None
    return of_highs(h.getModel())


# SCIP -----------------------------------------------------------------------------------------


def _scip_quadratic(m, c, names_of) -> Tuple[Dict[Tuple[str, str], float], Dict[str, float]]:
    """H and the linear terms of a quadratic constraint: a term c x_i x_j (i != j) is H_ij = c,
    c x_i^2 is H_ii = 2c."""
    bilinear, squares, linear = m.getTermsQuadratic(c)
    h: Dict[Tuple[str, str], float] = {}
    lin: Dict[str, float] = {}
    for x, y, v in bilinear:
        _add(h, pair(names_of(x), names_of(y)), v)
    for x, square, single in squares:
        _add(h, (names_of(x), names_of(x)), 2 * square)
        _add(lin, names_of(x), single)
    for x, v in linear:
        _add(lin, names_of(x), v)
    return h, lin


# What SCIP calls the variable and constraint it makes of a quadratic objective, by the reader.
SCIP_OBJECTIVE = {"mps": ("qmatrixvar", "qmatrix"), "lp": ("quadobjvar", "quadobj")}


def _scip_indicator_row(name: str, lp: bool) -> str:
    """The row an indicator constraint stands for: the LP reader keeps the row's name, the MPS
    reader prefixes it (ind_r, indlhs_r, indrhs_r)."""
    return name if lp else name.split("_", 1)[1]


def of_scip(m, objective_variable: str = "qmatrixvar", objective_constraint: str = "qmatrix",
            lp: bool = False) -> Canonical:
    """A pyscipopt.Model, read from a file (lp: by the LP reader) or built by mopsel.to_scip, as
    data."""
    conss = m.getConss()
    skip_vars = {m.getSlackVarIndicator(c).name for c in conss if c.getConshdlrName() == "indicator"}
    linked = {m.getLinearConsIndicator(c).name for c in conss if c.getConshdlrName() == "indicator"}
    if any(c.name == objective_constraint for c in conss):
        skip_vars.add(objective_variable)
    name = (lambda v: v.name if hasattr(v, "name") else str(v))
    cols = [(v.name, v.getObj(), _finite(v.getLbOriginal(), SCIP_INFINITY), _finite(v.getUbOriginal(), SCIP_INFINITY),
             v.vtype() in ("INTEGER", "BINARY")) for v in m.getVars() if v.name not in skip_vars]
    rows, entries, hessian, row_hessians = [], {}, {}, {}
    sos, sos_names, indicators = [], [], []
    for c in conss:
        kind = c.getConshdlrName()
        if kind == "nonlinear":
            h, lin = _scip_quadratic(m, c, name)
            if c.name == objective_constraint:
                hessian = h
                continue
            row_hessians[c.name] = h
            rows.append((c.name, _finite(m.getLhs(c), SCIP_INFINITY), _finite(m.getRhs(c), SCIP_INFINITY)))
            entries.update({(c.name, v): a for v, a in lin.items()})
        elif kind == "linear" and c.name not in linked:
            rows.append((c.name, _finite(m.getLhs(c), SCIP_INFINITY), _finite(m.getRhs(c), SCIP_INFINITY)))
            entries.update({(c.name, v): a for v, a in m.getValsLinear(c).items()})
        elif kind in ("SOS1", "SOS2"):
            members = [v.name for v in m.getConsVars(c)]
            sos.append((int(kind[-1]), list(zip(members, m.getConsVals(c)))))
            sos_names.append(c.name)
        elif kind == "indicator":
            lin_cons, slack = m.getLinearConsIndicator(c), m.getSlackVarIndicator(c).name
            binary = m.getConsVars(c)[0]
            negated = binary.getStatus() == "NEGATED"
            column = binary.name[: -len("_neg")] if negated else binary.name
            coefficients = {v: a for v, a in m.getValsLinear(lin_cons).items() if v != slack}
            lower, upper = _finite(m.getLhs(lin_cons), SCIP_INFINITY), _finite(m.getRhs(lin_cons), SCIP_INFINITY)
            row = _scip_indicator_row(c.name, lp)
            indicators += _upper_forms(row, column, 0 if negated else 1, coefficients, lower, upper)
    return canonical(m.getObjectiveSense() == "minimize", m.getObjoffset(), cols, rows, entries, hessian,
                     row_hessians, sos, sos_names, indicators)


def scip_reads(path: Path, fold_objective: bool = True) -> Optional[Canonical]:
    """SCIP's reading of a file as data; None when SCIP refuses it. fold_objective: the
    variable and constraint SCIP makes of a quadratic objective count as the objective's H.
    The file's suffix picks SCIP's reader and so its names."""
    pyscipopt = pytest.importorskip("pyscipopt")
    m = pyscipopt.Model()
    m.hideOutput()
    try:
        m.readProblem(str(path))
    except OSError:  # SCIP's "read error!"
        return None
    lp = Path(path).suffix == ".lp"
    variable, constraint = SCIP_OBJECTIVE["lp" if lp else "mps"]
    return of_scip(m, variable, constraint if fold_objective else "", lp)


# Gurobi ---------------------------------------------------------------------------------------


def _gurobi_quadratic(q) -> Tuple[Dict[Tuple[str, str], float], Dict[str, float]]:
    h: Dict[Tuple[str, str], float] = {}
    for k in range(q.size()):
        a, b = q.getVar1(k).VarName, q.getVar2(k).VarName
        _add(h, pair(a, b), q.getCoeff(k) * (2 if a == b else 1))
    lin = q.getLinExpr()
    return h, {lin.getVar(k).VarName: lin.getCoeff(k) for k in range(lin.size())}


def _gurobi_sides(sense: str, rhs: float) -> Tuple[float, float]:
    return {"<": (-INF, rhs), ">": (rhs, INF), "=": (rhs, rhs)}[sense]


def gurobi_reads(path: Path) -> Optional[Canonical]:
    """Gurobi's reading of a file as data; None when Gurobi refuses it. A ranged row, which
    Gurobi reads as a'x + R = rhs with a range variable R (MPS_Rg<row>), is given back its
    bounds."""
    gp = pytest.importorskip("gurobipy")
    with contextlib.redirect_stdout(io.StringIO()):
        env = gp.Env(empty=True)
        env.setParam("OutputFlag", 0)
        env.start()
        try:
            m = gp.read(str(path), env)
        except gp.GurobiError:
            return None
    m.update()
    ranges = {v.VarName[len("MPS_Rg"):]: v for v in m.getVars() if v.VarName.startswith("MPS_Rg")}
    range_vars = {v.VarName for v in ranges.values()}
    cols = [(v.VarName, v.Obj, v.LB, v.UB, v.VType in "IBN") for v in m.getVars() if v.VarName not in range_vars]
    rows, entries = [], {}
    for c in m.getConstrs():
        lower, upper = _gurobi_sides(c.Sense, c.RHS)
        row = m.getRow(c)
        for k in range(row.size()):
            v, a = row.getVar(k), row.getCoeff(k)
            if v.VarName in range_vars:  # a'x = rhs - a R with R in [LB, UB]
                ends = (c.RHS - a * v.LB, c.RHS - a * v.UB)
                lower, upper = min(ends), max(ends)
            else:
                _add(entries, (c.ConstrName, v.VarName), a)
        rows.append((c.ConstrName, lower, upper))
    row_hessians = {}
    for q in m.getQConstrs():
        h, lin = _gurobi_quadratic(m.getQCRow(q))
        row_hessians[q.QCName] = h
        rows.append((q.QCName, *_gurobi_sides(q.QCSense, q.QCRHS)))
        entries.update({(q.QCName, v): a for v, a in lin.items()})
    objective = m.getObjective()
    hessian = _gurobi_quadratic(objective)[0] if hasattr(objective, "getLinExpr") else {}
    sos = []
    for s in m.getSOSs():
        kind, members, weights = m.getSOS(s)
        sos.append((kind, [(v.VarName, w) for v, w in zip(members, weights)]))
    indicators = []
    for g in m.getGenConstrs():
        binary, value, expression, sense, rhs = m.getGenConstrIndicator(g)
        coefficients: Dict[str, float] = {}
        for k in range(expression.size()):
            _add(coefficients, expression.getVar(k).VarName, expression.getCoeff(k))
        indicators += _upper_forms(g.GenConstrName, binary.VarName, value, coefficients, *_gurobi_sides(sense, rhs))
    return canonical(m.ModelSense == 1, m.ObjCon, cols, rows, entries, hessian, row_hessians, sos, None, indicators,
                     [v.VarName for v in m.getVars() if v.VType in "SN"])


READERS = {"highs": highs_reads, "scip": scip_reads, "gurobi": gurobi_reads}


# CPLEX ----------------------------------------------------------------------------------------

CPLEX_INFINITY = 1e20


def _cplex_sides(sense: str, rhs: float, span: float = 0.0) -> Tuple[float, float]:
    """A CPLEX row's bounds: sense L, G, E, or R with the range value (negative: below rhs)."""
    if sense == "R":
        return (rhs, rhs + span) if span >= 0 else (rhs + span, rhs)
    lower, upper = _gurobi_sides({"L": "<", "G": ">", "E": "="}[sense], rhs)
    return _finite(lower, CPLEX_INFINITY), _finite(upper, CPLEX_INFINITY)


_CPLEX_CONTINUOUS = (0, 5, 10)  # LP, QP, QCP


def of_cplex(c) -> Canonical:
    """A cplex.Cplex model as data. Its objective is c'x + 1/2 x'Qx (Q is H); a quadratic row
    holds x'Qx term by term (c x_i x_j), as Gurobi's. Semi-continuous ('S') and semi-integer
    ('N') columns are in `semi`."""
    names = c.variables.get_names()
    # A problem without integer or semi-continuous columns has no types (CPLEX error 3003).
    types = c.variables.get_types() if c.get_problem_type() not in _CPLEX_CONTINUOUS else "C" * len(names)
    cols = [(n, cost, _finite(lo, CPLEX_INFINITY), _finite(up, CPLEX_INFINITY), t in "IBN")
            for n, cost, lo, up, t in zip(names, c.objective.get_linear(), c.variables.get_lower_bounds(),
                                          c.variables.get_upper_bounds(), types)]
    lin = c.linear_constraints
    rows, entries = [], {}
    for r, sense, rhs, span, row in zip(lin.get_names(), lin.get_senses(), lin.get_rhs(), lin.get_range_values(),
                                        lin.get_rows()):
        rows.append((r, *_cplex_sides(sense, rhs, span)))
        for j, a in zip(row.ind, row.val):
            _add(entries, (r, names[j]), a)
    hessian: Dict[Tuple[str, str], float] = {}
    if c.objective.get_num_quadratic_nonzeros():
        for j, column in enumerate(c.objective.get_quadratic()):
            for i, v in zip(column.ind, column.val):
                if i >= j:  # Q is given whole: each pair twice
                    _add(hessian, pair(names[i], names[j]), v)
    quad, row_hessians = c.quadratic_constraints, {}
    for q, sense, rhs, linear, terms in zip(quad.get_names(), quad.get_senses(), quad.get_rhs(),
                                            quad.get_linear_components(), quad.get_quadratic_components()):
        h = row_hessians.setdefault(q, {})
        for i, j, v in zip(terms.ind1, terms.ind2, terms.val):
            _add(h, pair(names[i], names[j]), v * (2 if i == j else 1))
        rows.append((q, *_cplex_sides(sense, rhs)))
        for j, a in zip(linear.ind, linear.val):
            _add(entries, (q, names[j]), a)
    sos, sos_names = [], []
    if c.SOS.get_num():
        sos = [(int(t), list(zip((names[j] for j in s.ind), s.val)))
               for t, s in zip(c.SOS.get_types(), c.SOS.get_sets())]
        sos_names = list(c.SOS.get_names())
    ind, indicators = c.indicator_constraints, []
    for g, column, complemented, linear, sense, rhs in zip(
            ind.get_names(), ind.get_indicator_variables(), ind.get_complemented(), ind.get_linear_components(),
            ind.get_senses(), ind.get_rhs()):
        coefficients: Dict[str, float] = {}
        for j, a in zip(linear.ind, linear.val):
            _add(coefficients, names[j], a)
        indicators += _upper_forms(g, names[column], 0 if complemented else 1, coefficients, *_cplex_sides(sense, rhs))
    return canonical(c.objective.get_sense() == c.objective.sense.minimize, c.objective.get_offset(), cols, rows,
                     entries, hessian, row_hessians, sos, sos_names, indicators,
                     [n for n, t in zip(names, types) if t in "SN"])


def cplex_reads(path: Path) -> Optional[Canonical]:
    """CPLEX's reading of a file as data; None when CPLEX refuses it."""
    cplex = pytest.importorskip("cplex")
    c = cplex.Cplex()
    for stream in (c.set_log_stream, c.set_error_stream, c.set_warning_stream, c.set_results_stream):
        stream(None)
    try:
        c.read(str(path))
    except cplex.exceptions.CplexError:
        return None
    return of_cplex(c)
