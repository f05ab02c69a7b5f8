"""LP text against the peers: files made by the writers of HiGHS, SCIP, Gurobi, CPLEX, PuLP,
linopy, docplex, OR-Tools, Pyomo and python-mip are read by mopsel and by each reading peer
(HiGHS, SCIP, Gurobi, CPLEX), and the two models compared entry by entry, names included (the
data as tests/support/peer_models.py lays them out); files mopsel writes are read back by each
reading peer. Each peer is optional: its tests skip without it (requirements-test-optional.txt).
docs/compatibility.md lists the rules where the peers differ and which one mopsel follows."""

from __future__ import annotations

import contextlib
import io
import math
import re
import subprocess
import sys
from pathlib import Path
from typing import Callable, Dict, List, Optional

import numpy as np
import peer_models as peers
import pytest
from real_corpus import DATA_DIR

import mopsel

INF = math.inf
Canonical = peers.Canonical

READERS: Dict[str, Callable[[Path], Optional[Canonical]]] = {**peers.READERS, "cplex": peers.cplex_reads}


def of_mopsel(m: mopsel.Model) -> Canonical:
    """mopsel's model as data, the rows' order kept apart (the peers keep the order of the
    text, and so must mopsel)."""
    data = peers.of_mopsel(m)
    data["row_order"] = list(data["rows"])
    return data


def reads(reader: str, path: Path) -> Optional[Canonical]:
    """A peer's reading of `path` as of_mopsel lays it out; None when the peer refuses it."""
    data = READERS[reader](path)
    if data is not None:
        data["row_order"] = list(data["rows"])
    return data


def differing(ours: Canonical, theirs: Optional[Canonical]) -> List[str]:
    """The parts where two readings differ (all of them when the peer refused the file)."""
    if theirs is None:
        return ["refused"]
    return peers.same(ours, theirs)


def assert_alike(ours: Canonical, theirs: Optional[Canonical], difference: Optional[str], context: object) -> None:
    """The peer's reading equals mopsel's, or differs where `difference` (a rule in
    docs/compatibility.md) says it does."""
    found = differing(ours, theirs)
    if difference is not None:
        assert found, f"expected to differ: {difference}"
    else:
        assert found == [], context


# Files made by each peer's writer -------------------------------------------------------
#
# One model in every writer: maximise 2x + 3y - z + 1.5w with x in [0, 10], y integer >= 0,
# z free, w binary, b2 integer in [-3, 2]; c1: x + y <= 4, c2: x - z >= -2, c4: x + w = 3,
# and the range 1 <= y + w + b2 <= 5 where the writer has one (written as each writes it).


def write_gurobi(path: Path) -> None:
    gp = pytest.importorskip("gurobipy")
    with contextlib.redirect_stdout(io.StringIO()):
        m = gp.Model("demo")
    x = m.addVar(0, 10, name="x")
    y = m.addVar(vtype="I", name="y")
    z = m.addVar(-INF, INF, name="z")
    w = m.addVar(vtype="B", name="w")
    b2 = m.addVar(-3, 2, vtype="I", name="b2")
    m.setObjective(2 * x + 3 * y - z + 1.5 * w + 7, gp.GRB.MAXIMIZE)
    m.addConstr(x + y <= 4, "c1")
    m.addConstr(x - z >= -2, "c2")
    m.addRange(y + w + b2, 1, 5, "c3")
    m.addConstr(x + w == 3, "c4")
    m.write(str(path))


def write_highs(path: Path) -> None:
    highspy = pytest.importorskip("highspy")
    h = highspy.Highs()
    h.setOptionValue("output_flag", False)
    for name, lo, up, cost in (("x", 0, 10, 2), ("y", 0, INF, 3), ("z", -INF, INF, -1), ("w", 0, 1, 1.5),
                               ("b2", -3, 2, 0)):
        h.addVar(lo, up)
        h.changeColCost(h.getNumCol() - 1, cost)
        h.passColName(h.getNumCol() - 1, name)
    h.changeColsIntegrality(3, np.array([1, 3, 4]), np.array([highspy.HighsVarType.kInteger] * 3))
    h.changeObjectiveSense(highspy.ObjSense.kMaximize)
    h.changeObjectiveOffset(7)
    for name, lo, up, idx, val in (("c1", -INF, 4, [0, 1], [1, 1]), ("c2", -2, INF, [0, 2], [1, -1]),
                                   ("c3", 1, 5, [1, 3, 4], [1, 1, 1]), ("c4", 3, 3, [0, 3], [1, 1])):
        h.addRow(lo, up, len(idx), np.array(idx), np.array(val, dtype=float))
        h.passRowName(h.getNumRow() - 1, name)
    h.writeModel(str(path))


def write_scip(path: Path) -> None:
    pyscipopt = pytest.importorskip("pyscipopt")
    m = pyscipopt.Model("demo")
    m.hideOutput()
    x = m.addVar("x", lb=0, ub=10)
    y = m.addVar("y", vtype="I", lb=0, ub=None)
    z = m.addVar("z", lb=None, ub=None)
    w = m.addVar("w", vtype="B")
    b2 = m.addVar("b2", vtype="I", lb=-3, ub=2)
    m.setObjective(2 * x + 3 * y - z + 1.5 * w + 7, "maximize")
    m.addCons(x + y <= 4, "c1")
    m.addCons(x - z >= -2, "c2")
    m.addCons((1 <= y + w + b2) <= 5, "c3")
    m.addCons(x + w == 3, "c4")
    m.writeProblem(str(path))


def write_pulp(path: Path) -> None:
    pulp = pytest.importorskip("pulp")
    p = pulp.LpProblem("demo", pulp.LpMaximize)
    x = pulp.LpVariable("x", 0, 10)
    y = pulp.LpVariable("y", 0, None, "Integer")
    z = pulp.LpVariable("z", None, None)
    w = pulp.LpVariable("w", cat="Binary")
    b2 = pulp.LpVariable("b2", -3, 2, "Integer")
    p += 2 * x + 3 * y - z + 1.5 * w
    p += x + y <= 4, "c1"
    p += x - z >= -2, "c2"
    p += y + w + b2 >= 1, "c3a"
    p += x + w == 3, "c4"
    p.writeLP(str(path))


def write_linopy(path: Path) -> None:
    linopy = pytest.importorskip("linopy")
    m = linopy.Model()
    x = m.add_variables(0, 10, name="x")
    y = m.add_variables(0, integer=True, name="y")
    z = m.add_variables(name="z")
    w = m.add_variables(binary=True, name="w")
    b2 = m.add_variables(-3, 2, integer=True, name="b2")
    m.add_objective(2 * x + 3 * y - z + 1.5 * w + 0 * b2, sense="max")
    m.add_constraints(x + y <= 4, name="c1")
    m.add_constraints(x - z >= -2, name="c2")
    m.add_constraints(y + w + b2 >= 1, name="c3")
    m.add_constraints(x + w == 3, name="c4")
    m.to_file(path, io_api="lp")


def write_cplex(path: Path) -> None:
    cplex = pytest.importorskip("cplex")
    c = cplex.Cplex()
    c.set_problem_name("demo")
    c.objective.set_sense(c.objective.sense.maximize)
    c.variables.add(names=["x", "y", "z", "w", "b2"], obj=[2, 3, -1, 1.5, 0], lb=[0, 0, -cplex.infinity, 0, -3],
                    ub=[10, cplex.infinity, cplex.infinity, 1, 2], types="CICBI")
    c.objective.set_offset(7)
    rows = [(["x", "y"], [1, 1]), (["x", "z"], [1, -1]), (["y", "w", "b2"], [1, 1, 1]), (["x", "w"], [1, 1])]
    c.linear_constraints.add(names=["c1", "c2", "c3", "c4"], lin_expr=[list(r) for r in rows], senses="LGRE",
                             rhs=[4, -2, 1, 3], range_values=[0, 0, 4, 0])
    c.write(str(path))


def write_docplex(path: Path) -> None:
    pytest.importorskip("docplex")
    from docplex.mp.model import Model

    m = Model("demo")
    x, y = m.continuous_var(0, 10, "x"), m.integer_var(0, None, "y")
    z, w, b2 = m.continuous_var(-m.infinity, m.infinity, "z"), m.binary_var("w"), m.integer_var(-3, 2, "b2")
    m.maximize(2 * x + 3 * y - z + 1.5 * w + 7)
    m.add_constraint(x + y <= 4, "c1")
    m.add_constraint(x - z >= -2, "c2")
    m.add_range(1, y + w + b2, 5, "c3")
    m.add_constraint(x + w == 3, "c4")
    m.export_as_lp(str(path))


def write_ortools(path: Path) -> None:
    pytest.importorskip("ortools")
    from ortools.linear_solver import pywraplp

    s = pywraplp.Solver.CreateSolver("GLOP")
    x, y, z = s.NumVar(0, 10, "x"), s.IntVar(0, s.infinity(), "y"), s.NumVar(-s.infinity(), s.infinity(), "z")
    w, b2 = s.IntVar(0, 1, "w"), s.IntVar(-3, 2, "b2")
    s.Maximize(2 * x + 3 * y - z + 1.5 * w + 7)
    s.Add(x + y <= 4, "c1")
    s.Add(x - z >= -2, "c2")
    c3 = s.Constraint(1, 5, "c3")
    for v in (y, w, b2):
        c3.SetCoefficient(v, 1)
    s.Add(x + w == 3, "c4")
    path.write_text(s.ExportModelAsLpFormat(False))


def write_pyomo(path: Path) -> None:
    pe = pytest.importorskip("pyomo.environ")
    m = pe.ConcreteModel("demo")
    m.x, m.y, m.z = pe.Var(bounds=(0, 10)), pe.Var(domain=pe.NonNegativeIntegers), pe.Var(domain=pe.Reals)
    m.w, m.b2 = pe.Var(domain=pe.Binary), pe.Var(domain=pe.Integers, bounds=(-3, 2))
    m.obj = pe.Objective(expr=2 * m.x + 3 * m.y - m.z + 1.5 * m.w + 7, sense=pe.maximize)
    m.c1 = pe.Constraint(expr=m.x + m.y <= 4)
    m.c2 = pe.Constraint(expr=m.x - m.z >= -2)
    m.c3 = pe.Constraint(expr=pe.inequality(1, m.y + m.w + m.b2, 5))
    m.c4 = pe.Constraint(expr=m.x + m.w == 3)
    m.write(str(path), io_options={"symbolic_solver_labels": True})


# python-mip writes through CBC's library, which does not load in a process that has loaded
# OR-Tools (its own copy of the same symbols): it runs in a process of its own.
MIP_SCRIPT = """
import sys, mip
m = mip.Model("demo", sense=mip.MAXIMIZE, solver_name=mip.CBC)
m.verbose = 0
x, y, z = m.add_var("x", 0, 10), m.add_var("y", var_type=mip.INTEGER), m.add_var("z", -mip.INF, mip.INF)
w, b2 = m.add_var("w", var_type=mip.BINARY), m.add_var("b2", -3, 2, var_type=mip.INTEGER)
m.objective = mip.maximize(2 * x + 3 * y - z + 1.5 * w + 7)
m += x + y <= 4, "c1"
m += x - z >= -2, "c2"
m += y + w + b2 >= 1, "c3"
m += x + w == 3, "c4"
m.write(sys.argv[1])
"""


def write_mip(path: Path) -> None:
    pytest.importorskip("mip")
    done = subprocess.run([sys.executable, "-c", MIP_SCRIPT, str(path)], capture_output=True, text=True)
    if done.returncode != 0 or not path.exists():
        pytest.skip(f"python-mip cannot write here: {done.stderr.strip()[-300:]}")


WRITERS = {"highs": write_highs, "scip": write_scip, "gurobi": write_gurobi, "pulp": write_pulp,
           "linopy": write_linopy, "cplex": write_cplex, "docplex": write_docplex, "ortools": write_ortools,
           "pyomo": write_pyomo, "mip": write_mip}

# Where a peer's reading differs from mopsel's by a rule docs/compatibility.md states, by
# (writer, reader); a writer or reader left out ("*") stands for every one.
DIFFERENCES = {
    ("highs", "gurobi"): "Gurobi reads the objective constant '+ 7' as a variable named '7'",
    ("scip", "gurobi"): "Gurobi reads the objective constant '+ 7' as a variable named '7'",
    ("cplex", "gurobi"): "Gurobi reads the objective constant '+ 7' as a variable named '7'",
    ("docplex", "gurobi"): "Gurobi reads the objective constant '+ 7' as a variable named '7'",
    ("gurobi", "gurobi"): "Gurobi folds its 'Constant' variable, fixed at 1, into the objective constant",
    ("ortools", "gurobi"): "Gurobi folds a 'Constant' variable, fixed at 1, into the objective constant",
    ("mip", "cplex"): "CPLEX reads an 'Integers' section as binaries (y gets the upper bound 1)",
}


def peer_file(tmp_path: Path, writer: str, write: Callable[[Path], None]) -> Path:
    """The file the peer's writer makes, its talk silenced (linopy names its own file)."""
    path = tmp_path / f"{writer}.lp"
    with contextlib.redirect_stdout(io.StringIO()):
        write(path)
    return path if path.exists() else next(tmp_path.glob("*.lp"))


@pytest.mark.parametrize("reader", sorted(READERS))
@pytest.mark.parametrize("writer", sorted(WRITERS))
def test_peer_files_read_as_the_peers_read_them(tmp_path, writer, reader):
    path = peer_file(tmp_path, writer, WRITERS[writer])
    theirs = reads(reader, path)
    ours = of_mopsel(mopsel.read(path))
    assert_alike(ours, theirs, DIFFERENCES.get((writer, reader)), (ours, theirs))


# The model each writer was given, found again in mopsel's reading of its file once the
# writer's own conventions are undone: a range variable Rg<row> (CPLEX, docplex), a constant
# column fixed at 1 (OR-Tools' Constant, Pyomo's ONE_VAR_CONSTANT), a range as two rows
# (OR-Tools: <row>_lhs and _rhs; Pyomo: r_l_<row>_ and r_u_<row>_, and c_l_, c_u_, c_e_ before
# the other rows' names).
BUILT = peers.canonical(
    False, 7, [("x", 2, 0, 10, False), ("y", 3, 0, INF, True), ("z", -1, -INF, INF, False), ("w", 1.5, 0, 1, True),
               ("b2", 0, -3, 2, True)],
    [("c1", -INF, 4), ("c2", -2, INF), ("c3", 1, 5), ("c4", 3, 3)],
    {("c1", "x"): 1, ("c1", "y"): 1, ("c2", "x"): 1, ("c2", "z"): -1, ("c3", "y"): 1, ("c3", "w"): 1, ("c3", "b2"): 1,
     ("c4", "x"): 1, ("c4", "w"): 1}, semi=[])
CONSTANT_COLUMNS = ("Constant", "ONE_VAR_CONSTANT")
ROW_NAMES = {  # writer -> its name of a row, as a pattern whose group is the name given
    "ortools": r"(.*?)(?:_lhs|_rhs)?", "pyomo": r"[cr]_[lue]_(.*)_",
}


def undo_conventions(data: Canonical, writer: str) -> Canonical:
    cols, rows = dict(data["cols"]), {}
    entries: Dict[tuple, float] = {}
    offset = data["offset"]
    for name in CONSTANT_COLUMNS:
        if name in cols and cols[name][1:3] == (1.0, 1.0) and not any(c == name for _, c in data["entries"]):
            offset += cols.pop(name)[0]
    pattern = ROW_NAMES.get(writer, "(.*)")
    for row, (lower, upper) in data["rows"].items():
        name = re.fullmatch(pattern, row).group(1)
        lower0, upper0 = rows.get(name, (-INF, INF))
        rows[name] = (max(lower, lower0), min(upper, upper0))
    for (row, col), a in data["entries"].items():
        name = re.fullmatch(pattern, row).group(1)
        range_column = cols.get(col) if col == "Rg" + name else None
        if range_column is not None:  # a'x + a R = rhs, R in [lo, up]
            rhs = rows[name][0]
            ends = (rhs - a * range_column[1], rhs - a * range_column[2])
            rows[name] = (min(ends), max(ends))
            del cols[col]
        else:
            entries[(name, col)] = a
    out = dict(data, offset=offset, cols=cols, rows=rows, entries=entries)
    out.pop("row_order", None)
    return out


def as_mip_writes(m: Canonical) -> Canonical:
    """python-mip writes through CBC, which writes a maximisation as the minimisation of the
    negated objective and drops its constant; the model has no range (c3: ... >= 1)."""
    cols = {n: (-cost, lower, upper, integer) for n, (cost, lower, upper, integer) in m["cols"].items()}
    return dict(m, sense="min", offset=0.0, cols=cols, rows=dict(m["rows"], c3=(1.0, INF)))


# What a writer loses of the model it was given, as the changes to BUILT.
LOSSES = {"mip": as_mip_writes}


@pytest.mark.parametrize("writer", ["cplex", "docplex", "ortools", "pyomo", "mip"])
def test_peer_files_hold_the_built_model(tmp_path, writer):
    path = peer_file(tmp_path, writer, WRITERS[writer])
    ours = undo_conventions(of_mopsel(mopsel.read(path, strict=True)), writer)
    built = LOSSES.get(writer, lambda m: m)(BUILT)
    assert peers.same(ours, built) == [], path.read_text()


# Files mopsel writes, read back by each peer ----------------------------------------------


def _model(text: bytes) -> mopsel.Model:
    return mopsel.read(text, format="lp")


MODELS = {
    # Every kind of bound and row, integer and binary columns, a constant, maximising.
    "bounds and rows": _model(
        b"Maximize\n obj: 2 x + 3 y - z + 1.5 w + 0.25 b - 1e-3 f\nSubject To\n c1: x + y <= 4\n"
        b" c2: x - z >= -2\n c3: -1 <= y + w + b <= 5\n c4: x + w = 3\n c5: f - 1e6 x <= 1e6\n"
        b"Bounds\n x <= 10\n z free\n -3 <= b <= 2\n f >= -7.5\n y <= 1e3\nGeneral\n y b\nBinary\n w\nEnd\n"
    ),
    # Numbers that need all seventeen digits in the exact mode (within the range HiGHS keeps:
    # it takes costs from 1e20 on for infinite and drops coefficients below 1e-9).
    "exact numbers": _model(
        b"Minimize\n obj: 0.1 x + 0.30000000000000004 y + 1.2345678901234567e19 z\nSubject To\n"
        b" c: 0.1 x + 3.141592653589793 y + 1.0000000000000002e-9 z >= 2.2250738585072014e-308\nBounds\n x <= 0.7\n"
        b"End\n"
    ),
}


# Where a peer reads what mopsel writes otherwise, by (model, reader).
WRITTEN_DIFFERENCES = {
    ("exact numbers", "cplex"): "CPLEX reads numbers below about 1e-307 (here 2.2250738585072014e-308) as 0",
}


@pytest.mark.parametrize("reader", sorted(READERS))
@pytest.mark.parametrize("digits", [None, 17])
@pytest.mark.parametrize("title", sorted(MODELS))
def test_written_files_read_by_peers(tmp_path, title, digits, reader):
    model = MODELS[title]
    path = tmp_path / "m.lp"
    mopsel.write(model, path, digits=digits)
    ours = of_mopsel(mopsel.read(path))
    if title != "bounds and rows":  # whose range comes back as two rows
        assert peers.same(ours, of_mopsel(model)) == []
    assert_alike(ours, reads(reader, path), WRITTEN_DIFFERENCES.get((title, reader)), (title, digits, reader))


def peer_readings(path: Path, readers=READERS) -> List[tuple]:
    """(peer, its reading of `path`) for each installed peer; skips the test when none is."""
    found = []
    for reader in readers:
        try:
            found.append((reader, reads(reader, path)))
        except pytest.skip.Exception:
            continue
    if not found:
        pytest.skip("no LP peer installed (highspy, pyscipopt, gurobipy, cplex)")
    return found


# Netlib models whose names LP text can hold (64 of the 91; the others have names such as
# '1' or '.Z....', which the writer refuses).
@pytest.mark.parametrize("name", ["afiro", "sc50a", "kb2", "israel", "recipe", "scagr7", "stocfor1", "bore3d",
                                  "grow7", "ship04s", "vtpbase", "agg"])
def test_public_models_written_as_lp_read_alike(tmp_path, name):
    path = DATA_DIR / "netlib" / f"{name}.mps.gz"
    if not path.exists():
        pytest.skip(f"{path} is absent")
    model = mopsel.read(path)
    lp = tmp_path / f"{name}.lp"
    mopsel.write(model, lp, digits=None)
    ours = of_mopsel(mopsel.read(lp))
    # Bit for bit, but for two-sided rows, written as two rows.
    assert of_mopsel(model)["cols"] == ours["cols"]
    for reader, theirs in peer_readings(lp):
        if reader == "cplex":  # its reading of '-0.002877' (grow7) is one unit in the last place off
            assert theirs is not None
            assert max((last_bits_apart(ours[k], theirs[k]) for k in peers.same(ours, theirs)), default=0) <= 1
        else:
            assert differing(ours, theirs) == [], reader


def last_bits_apart(ours, theirs) -> int:
    """How many units in the last place two readings' numbers are apart at most (names, keys
    and structure equal, else a huge number)."""
    if isinstance(ours, float) and isinstance(theirs, float):
        if ours == theirs or (math.isnan(ours) and math.isnan(theirs)):
            return 0
        return 1 if math.nextafter(ours, theirs) == theirs else 2**62
    if isinstance(ours, dict) and isinstance(theirs, dict):
        if set(ours) != set(theirs):
            return 2**62
        return max((last_bits_apart(ours[k], theirs[k]) for k in ours), default=0)
    if isinstance(ours, (list, tuple)) and isinstance(theirs, (list, tuple)):
        if len(ours) != len(theirs):
            return 2**62
        return max((last_bits_apart(a, b) for a, b in zip(ours, theirs)), default=0)
    return 0 if ours == theirs else 2**62


# Hand-written texts for the rules of docs/compatibility.md -----------------------------
#
# Each text with the peers that read it as mopsel does (names included), or that refuse it as
# mopsel does; the other peers read it otherwise (the tables of docs/compatibility.md).

ALL = ("highs", "scip", "gurobi", "cplex")
LP_HEAD = "Minimize\n obj: x + y\nSubject To\n c: x + y >= 1\n"

DIALECT = [
    # Terms, constants and relations.
    ("number glued to a name", "Minimize\n obj: 2x + 3 y\nSubject To\n c: 2e1x + y >= 1\nEnd\n",
     ("highs", "scip", "cplex")),
    ("repeated and cancelling terms", "Minimize\n obj: x + y + x\nSubject To\n c: x + y - x + 2 z >= 1\nEnd\n",
     ("highs", "gurobi", "cplex")),
    ("constant last in the objective", "Maximize\n obj: x - 4\nSubject To\n c: x <= 1\nEnd\n",
     ("highs", "scip", "cplex")),
    ("constant first in the objective", "Minimize\n obj: 3 + x + 2\nSubject To\n c: x >= 1\nEnd\n", ("highs",)),
    ("objective without a name", "Minimize\n x + y\nSubject To\n c: x + y >= 1\nEnd\n", ALL),
    ("relations < > =< =>", "Minimize\n obj: x\nSubject To\n c1: x + y < 4\n c2: x > 1\n c3: x =< 3\n c4: y => 0.5\n"
     "End\n", ("highs", "scip", "cplex")),
    ("infinite bounds and sides", "Minimize\n obj: x + y + z\nSubject To\n c: x + y + z >= -1e30\n d: x + y <= 1e25\n"
     "Bounds\n x <= 1e25\n -inf <= y <= Infinity\n z >= -1e30\nEnd\n", ("highs", "scip", "cplex")),
    ("inf as a right-hand side", "Minimize\n obj: x\nSubject To\n c: x >= -inf\n d: x <= +infinity\nEnd\n",
     ("highs", "scip", "gurobi")),
    ("signs and numbers", "Minimize\n obj: .5 x + 5. y - 0 z\nSubject To\n c: x + y + 0 z >= - 1\n d: 0 x >= -1\n"
     "End\n", ALL),
    ("signs in a row", "Minimize\n obj: - x + - 2 y\nSubject To\n c: - - x + + y >= 1\nEnd\n", ("highs", "scip")),
    # Sections and bounds.
    ("st, s.t., max", "Max\n obj: x\nst\n c: x <= 1\ns.t.\n d: x >= 0\nEnd\n", ALL),
    ("minimise, such that, gen, bin", "MINIMISE\n obj: x + y\nsuch that\n c: x + y >= 1\nbound\n x <= 4\ngen\n x\n"
     "bin\n y\nend\n", ("highs",)),
    ("Integers and Binaries", LP_HEAD + "Integers\n x\nBinaries\n y\nEnd\n", ("highs", "scip", "gurobi")),
    ("bounds in every form", "Minimize\n obj: x + y + z + w + v\nSubject To\n c: x + y + z + w + v >= 1\nBounds\n"
     " x free\n -infinity <= y <= +inf\n z = 3\n 5 <= w\n 3 >= v\n w <= 7\n v >= -2\nEnd\n", ALL),
    ("a negative upper bound alone", LP_HEAD + "Bounds\n x <= -2\nEnd\n", ALL),
    ("bounds of a variable no expression uses", LP_HEAD + "Bounds\n w <= 5\nGeneral\n v\nBinary\n u\nEnd\n",
     ("highs", "gurobi")),
    ("bounds, then Binary", LP_HEAD + "Bounds\n x <= 5\nBinary\n x\nEnd\n", ("scip", "gurobi")),
    ("Binary, then bounds", LP_HEAD + "Binary\n x\nBounds\n x <= 5\nEnd\n", ("highs", "scip")),
    ("a coefficient in a bound", LP_HEAD + "Bounds\n 2 x <= 5\nEnd\n", ALL),
    ("semi-continuous", LP_HEAD + "Bounds\n 2 <= x <= 5\nSemi-Continuous\n x\nEnd\n", ("highs", "gurobi", "cplex")),
    ("semi-continuous and General", LP_HEAD + "Bounds\n x <= 5\nSemis\n x\nGeneral\n x\nEnd\n",
     ("highs", "scip", "cplex")),
    ("keywords as names", "Minimize\n obj: x + free + st\nSubject To\n c: x + free >= 1\nEnd\n",
     ("highs", "gurobi", "cplex")),
    ("names of every character", "Minimize\n obj: x! + y\" + a{b} + c& + d~ + e' + f; + g? + h@ + i` + j|k + l$\n"
     "Subject To\n c!1: x! + y\" >= 1\nEnd\n", ("highs", "scip", "gurobi")),
    ("names with / and brackets", "Minimize\n obj: w/x + q[0,1] + z[3]\nSubject To\n c.1: w/x + z[3] >= 1\nEnd\n",
     ("gurobi",)),
    ("comments and continued lines", "\\ model\nMinimize\n obj: x \\ a comment\n + y\n\n + z\nSubject To\n"
     " c: x \\* another *\\\n + y\n >=\n 1\nEnd\n", ALL),
    ("no End", "Minimize\n obj: x\nSubject To\n c: x >= 1\n", ("scip", "gurobi", "cplex")),
    ("text after End", "Minimize\n obj: x\nSubject To\n c: x >= 1\nEnd\nnot read\n", ("scip", "gurobi", "cplex")),
    ("range variables", "Minimize\n obj: x\nSubject To\n c1: x + y - Rgc1 = 3\nBounds\n 0 <= Rgc1 <= 5\nEnd\n", ALL),
    ("hexadecimal number", "Minimize\n obj: x\nSubject To\n c: x >= 0x10\nEnd\n", ("highs", "scip")),
    # Quadratic parts.
    ("quadratic objective", "Minimize\n obj: [ 4 x * y - 2 y ^ 2 ] / 2 + [ x ^ 2 ] / 2 + y\nSubject To\n"
     " c: x + y >= 1\nEnd\n", ("highs", "gurobi", "cplex")),
    ("every spelling of squares and products", "Minimize\n obj: x + [ x ^ 2 + x^2 + x ^2 + 3 x * x + x * y + x*y"
     " + y * x ] / 2\nSubject To\n c: x + y >= 1\nEnd\n", ("highs", "cplex")),
    ("parts that cancel", "Minimize\n obj: x + [ x ^ 2 - x ^ 2 ] / 2\nSubject To\n c: x >= 1\nEnd\n",
     ("highs", "gurobi", "cplex")),
    ("another divisor", "Minimize\n obj: x + [ 2 x ^ 2 ] / 4\nSubject To\n c: x >= 1\nEnd\n", ALL),
    ("a product without *", "Minimize\n obj: x + [ 2 x y ] / 2\nSubject To\n c: x + y >= 1\nEnd\n",
     ("highs", "gurobi", "cplex")),
    ("quadratic rows", "Minimize\n obj: x\nSubject To\n q: x + [ x ^2 + 2 x * y ] >= 4\n r: [ x * y ] = 4\nEnd\n",
     ("gurobi", "cplex")),
    ("/ 2 in a row", "Minimize\n obj: x\nSubject To\n q: [ x ^ 2 ] / 2 <= 4\nEnd\n", ("highs", "scip", "cplex")),
    ("a minus before the objective's brackets", "Minimize\n obj: x - [ x ^ 2 + 2 x * y ] / 2\n"
     "Subject To\n c: x + y >= 1\nEnd\n", ("highs", "gurobi", "cplex")),
    ("the objective's brackets without / 2", "Minimize\n obj: x + [ x ^ 2 + 2 x * y ]\nSubject To\n c: x + y >= 1\n"
     "End\n", ("highs", "gurobi")),
    ("a minus before a row's brackets", "Minimize\n obj: x\nSubject To\n c: x - [ x ^ 2 ] <= 1\nEnd\n",
     ("highs", "scip")),
    # SOS sets and indicators.
    ("SOS sets over lines", "Minimize\n obj: x + y + z\nSubject To\n c: x + y >= 1\nSOS\n s1: S1:: x:1\n"
     "  y:2 z:3\n s2: S2 :: x : 3 y : 5\nEnd\n", ("scip", "gurobi", "cplex")),
    ("SOS weights out of order", LP_HEAD + "SOS\n s1: S2:: x:3 y:1\nEnd\n", ("gurobi",)),
    ("an SOS member without a weight", LP_HEAD + "SOS\n s1: S1:: x y\nEnd\n", ("highs", "scip", "gurobi")),
    ("an SOS priority", LP_HEAD + "SOS\n s1: S1:: x:1 y:2 :: 5\nEnd\n", ALL),
    ("SOS type S3", LP_HEAD + "SOS\n s1: S3:: x:1 y:2\nEnd\n", ALL),
    ("named indicators", LP_HEAD + " i: b = 1 -> x + y <= 2\n j: b = 0 -> x - y = -1\nBinary\n b\nEnd\n",
     ("gurobi", "cplex")),
    ("an indicator on a continuous variable", LP_HEAD + " i: b = 1 -> x + y <= 2\nEnd\n", ("scip", "gurobi")),
    ("an indicator value of 2", LP_HEAD + " i: b = 2 -> x + y <= 2\nBinary\n b\nEnd\n", ALL),
    ("an indicator written backwards", LP_HEAD + " i: x + y <= 2 <- b = 1\nBinary\n b\nEnd\n", ALL),
    # CPLEX's sections of constraints a solver adds when it needs them: SCIP and Gurobi read
    # them as rows, CPLEX keeps them apart, HiGHS refuses them.
    ("lazy constraints", LP_HEAD + "Lazy Constraints\n l1: x <= 5\nEnd\n", ("scip", "gurobi")),
    ("user cuts", LP_HEAD + "User Cuts\n u1: x <= 5\nEnd\n", ("scip", "gurobi")),
]


@pytest.mark.parametrize("title, text, alike", DIALECT)
def test_dialect_read_as_the_peers_read_it(tmp_path, title, text, alike):
    path = tmp_path / "t.lp"
    path.write_text(text)
    try:
        ours: Optional[Canonical] = of_mopsel(mopsel.read(path))
    except mopsel.LpError:
        ours = None
    for reader, theirs in peer_readings(path, alike):
        if ours is None or theirs is None:
            assert ours is None and theirs is None, (reader, "refuses" if theirs is None else "reads")
        else:
            assert differing(ours, theirs) == [], reader


# Quadratic parts, SOS sets, indicators and semi-continuous columns -----------------------
#
# Compared as whole models (peer_models.py undoes the way each peer holds these parts). HiGHS
# reads quadratic objectives and semi-continuous columns only: it refuses the other files.


def write_parts_gurobi(path: Path) -> None:
    gp = pytest.importorskip("gurobipy")
    with contextlib.redirect_stdout(io.StringIO()):
        m = gp.Model("parts")
    x = m.addVar(0, 10, name="x")
    y = m.addVar(name="y")
    b = m.addVar(vtype="B", name="b")
    z = m.addVar(name="z")
    m.setObjective(2 * x + y + x * x + 3 * x * y + 0.5 * y * y, gp.GRB.MINIMIZE)
    m.addConstr(x + y + z <= 4, "c1")
    m.addQConstr(x + x * x + 2 * x * y + 3 * y * y <= 9, "q1")
    m.addGenConstrIndicator(b, True, x + y <= 2, name="ind1")
    m.addGenConstrIndicator(b, False, x - z >= 1, name="ind0")
    m.addSOS(gp.GRB.SOS_TYPE1, [x, y, z], [1, 2, 3])
    m.addSOS(gp.GRB.SOS_TYPE2, [x, y, z], [3, 5, 7])
    m.write(str(path))


def write_parts_scip(path: Path) -> None:
    pyscipopt = pytest.importorskip("pyscipopt")
    m = pyscipopt.Model("parts")
    m.hideOutput()
    x, y, z = m.addVar("x", ub=10), m.addVar("y"), m.addVar("z")
    b = m.addVar("b", vtype="B")
    m.addCons(x + y + z <= 4, "c1")
    m.addCons(x + x * x + 2 * x * y + 3 * y * y <= 9, "q1")
    m.addConsIndicator(x + y <= 2, b, name="ind1")
    m.addConsSOS1([x, y, z], [1, 2, 3], name="s1")
    m.addConsSOS2([x, y, z], [3, 5, 7], name="s2")
    m.setObjective(2 * x + y, "minimize")
    m.writeProblem(str(path))


def write_parts_highs(path: Path) -> None:
    highspy = pytest.importorskip("highspy")
    h = highspy.Highs()
    h.setOptionValue("output_flag", False)
    for name in ("x", "y", "s"):
        h.addVar(0, 10)
        h.passColName(h.getNumCol() - 1, name)
    h.changeColsCost(3, np.array([0, 1, 2]), np.array([2.0, 1.0, 1.0]))
    h.changeColsIntegrality(1, np.array([2]), np.array([highspy.HighsVarType.kSemiContinuous]))
    h.changeColBounds(2, 2.5, 10)
    h.addRow(-INF, 4, 3, np.array([0, 1, 2]), np.array([1.0, 1.0, 1.0]))
    h.passRowName(0, "c1")
    h.passHessian(3, 3, highspy.HessianFormat.kTriangular, np.array([0, 2, 3, 3]), np.array([0, 1, 1]),
                  np.array([2.0, 3.0, 1.0]))
    h.writeModel(str(path))


def write_parts_cplex(path: Path) -> None:
    """Every part CPLEX writes: a quadratic objective and row, indicators on either value, SOS
    sets, a ranged row (a range variable Rgc3), semi-continuous and semi-integer columns."""
    cplex = pytest.importorskip("cplex")
    c = cplex.Cplex()
    c.variables.add(names=["x", "y", "z", "b", "s", "si"], obj=[2, 1, 0, 0, 1, 1], lb=[0, 0, 0, 0, 2, 1],
                    ub=[10, cplex.infinity, cplex.infinity, 1, 5, 8], types="CCCBSN")
    c.objective.set_offset(-2.5)
    c.linear_constraints.add(names=["c1", "c3"], lin_expr=[[["x", "y", "z"], [1, 1, 1]], [["x", "s"], [1, 1]]],
                             senses="LR", rhs=[4, 5], range_values=[0, -3])
    c.objective.set_quadratic_coefficients([("x", "x", 2.0), ("x", "y", 3.0), ("y", "y", 1.0)])
    c.quadratic_constraints.add(name="q1", lin_expr=cplex.SparsePair(["x"], [1.0]),
                                quad_expr=cplex.SparseTriple(["x", "x", "y"], ["x", "y", "y"], [1.0, 2.0, 3.0]),
                                sense="L", rhs=9)
    c.indicator_constraints.add(name="ind1", indvar="b", complemented=0, lin_expr=cplex.SparsePair(["x", "y"], [1, 1]),
                                sense="L", rhs=2)
    c.indicator_constraints.add(name="ind0", indvar="b", complemented=1, lin_expr=cplex.SparsePair(["x", "z"], [1, -1]),
                                sense="G", rhs=1)
    c.SOS.add(type="1", SOS=cplex.SparsePair(["x", "y", "z"], [1, 2, 3]), name="s1")
    c.SOS.add(type="2", SOS=cplex.SparsePair(["x", "y", "z"], [3, 5, 7]), name="s2")
    c.write(str(path))


def write_parts_docplex(path: Path) -> None:
    pytest.importorskip("docplex")
    from docplex.mp.model import Model

    m = Model("parts")
    x, y, z = m.continuous_var(0, 10, "x"), m.continuous_var(name="y"), m.continuous_var(name="z")
    b, s = m.binary_var("b"), m.semicontinuous_var(2, 5, "s")
    m.minimize(2 * x + y + s + x * x + 3 * x * y + 0.5 * y * y - 2.5)
    m.add_constraint(x + y + z <= 4, "c1")
    m.add_constraint(x + x * x + 2 * x * y + 3 * y * y <= 9, "q1")
    m.add_indicator(b, x + y <= 2, 1, name="ind1")
    m.add_indicator(b, x - z >= 1, 0, name="ind0")
    m.add_sos([x, y, z], 1, weights=[1, 2, 3], name="s1")
    m.add_sos([x, y, z], 2, weights=[3, 5, 7], name="s2")
    m.export_as_lp(str(path))


PARTS_WRITERS = {"gurobi": write_parts_gurobi, "scip": write_parts_scip, "highs": write_parts_highs,
                 "cplex": write_parts_cplex, "docplex": write_parts_docplex}

# (writer, reader) -> why the readings differ, each a rule in docs/compatibility.md.
SCIP_SEMI = "SCIP holds a semi-continuous column [l, u] as [0, u] and a disjunction"
PARTS_DIFFERENCES = {
    **{(w, "highs"): "HiGHS refuses quadratic rows, SOS sets and indicators" for w in ("gurobi", "scip", "cplex",
                                                                                        "docplex")},
    **{(w, "scip"): SCIP_SEMI for w in ("highs", "cplex", "docplex")},
    ("cplex", "gurobi"): "Gurobi refuses '=<' and '=>', which CPLEX writes in indicator constraints",
    ("docplex", "gurobi"): "Gurobi refuses a product without blanks ('x*y'), which docplex writes",
}


@pytest.mark.parametrize("reader", sorted(READERS))
@pytest.mark.parametrize("writer", sorted(PARTS_WRITERS))
def test_peer_parts_read_as_the_peers_read_them(tmp_path, writer, reader):
    path = peer_file(tmp_path, writer, PARTS_WRITERS[writer])
    ours = of_mopsel(mopsel.read(path, strict=True))
    assert_alike(ours, reads(reader, path), PARTS_DIFFERENCES.get((writer, reader)), path.read_text())


PARTS_MODELS = {
    # Everything LP text holds beyond a linear program, in the forms all the readers take.
    "every part": b"Minimize\n obj: 2 x + y + [ 2 x ^ 2 + 6 x * y + y ^ 2 ] / 2\nSubject To\n c1: x + y + z <= 4\n"
                  b" q1: x + [ x ^ 2 + 2 x * y + 3 y ^ 2 ] <= 9\n ind1: b = 1 -> x + y <= 2\n"
                  b" ind0: b = 0 -> x - z >= 1\nBounds\n x <= 10\nBinary\n b\nSOS\n s1: S1:: x:1 y:2 z:3\n"
                  b" s2: S2:: x:3 y:5 z:7\nEnd\n",
    # What HiGHS reads too: a quadratic objective, with numbers that need 17 digits, and
    # semi-continuous and semi-integer columns.
    "objective": b"Maximize\n obj: x + [ - 0.1 x ^ 2 + 0.30000000000000004 x * y - 3.141592653589793 y ^ 2 ] / 2 + 3\n"
                 b"Subject To\n c1: x + y + s + t <= 4\nBounds\n 2 <= s <= 5\n t <= 8\nGeneral\n t\n"
                 b"Semi-Continuous\n s t\nEnd\n",
}
PARTS_WRITTEN_DIFFERENCES = {
    ("every part", "highs"): "HiGHS refuses quadratic rows, SOS sets and indicators",
    ("objective", "gurobi"): "Gurobi reads the objective constant '+ 3' as a variable named '3'",
    ("objective", "scip"): SCIP_SEMI,
}


@pytest.mark.parametrize("reader", sorted(READERS))
@pytest.mark.parametrize("digits", [None, 17])
@pytest.mark.parametrize("title", sorted(PARTS_MODELS))
def test_written_parts_read_by_peers(tmp_path, title, digits, reader):
    model = mopsel.read(PARTS_MODELS[title], format="lp")
    path = tmp_path / "m.lp"
    mopsel.write(model, path, digits=digits)
    ours = of_mopsel(mopsel.read(path))
    assert peers.same(ours, of_mopsel(model)) == []
    assert_alike(ours, reads(reader, path), PARTS_WRITTEN_DIFFERENCES.get((title, reader)), (title, digits, reader))
