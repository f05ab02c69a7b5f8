"""The parts beyond a linear program against the peers: MPS files made by the writers of HiGHS
(highspy), SCIP (pyscipopt) and Gurobi (gurobipy) are read by mopsel and by each peer that takes
them, and the models compared entry by entry (tests/support/peer_models.py); files mopsel writes
are read back by each peer to the model mopsel read; the QPs are solved through to_highs and
through HiGHS's own reading of the file, optima equal to 1e-9 relative; to_scip builds what SCIP
reads from mopsel's text. Each peer is optional: its cases skip without it."""

from __future__ import annotations

import contextlib
import io
import re
from pathlib import Path
from typing import Callable, Dict, List, Tuple

import numpy as np
import pytest

import mopsel
import peer_models as peers

INF = float("inf")

# The models, each built through every peer's own interface that can hold it:
#   qp:         min x^2 + xy + 2y^2 - 3x + z + 5, c1: x + y + z >= 1, c2: -1 <= x - y <= 2,
#               x in [0, 10], y in [-5, 5], z in [0, 4]
#   qp_max:     max -x^2 - 2xy - 3y^2 + x + y - 1, c1: x + 2y <= 3, x, y >= 0
#   qcp:        min -x - y, q1: x^2 + xy + y^2 <= 4, c1: x - 2y >= -6 (q1 with a linear term 0.5x)
#   sos:        max x + 2y + 3z + a + b + c, c1: x + y + z + a + b + c <= 5, all in [0, 2],
#               SOS1 s1 {x:1, y:2, z:3}, SOS2 s2 {a:1, b:2, c:3}
#   indicators: min x + y - 2b1 - b2, b1 = 1 -> ind1: x + y >= 2, b2 = 0 -> ind2: x - y <= -1,
#               c1: b1 + b2 <= 1, x, y in [0, 5], b1, b2 binary
#   mixed:      every part at once: min x^2 + y^2 - z - w, q1: x^2 + z^2 <= 9, c1: x + y + z >= 1,
#               SOS1 s1 {x:1, w:2}, b = 1 -> ind1: z + w <= 3, z integer in [0, 5], w, x, y in [0, 5]
MODELS = ("qp", "qp_max", "qcp", "sos", "indicators", "mixed")
HIGHS_MODELS = ("qp", "qp_max")  # HiGHS holds a quadratic objective, nothing else beyond an LP


def _gurobi_model(gp, name):
    with contextlib.redirect_stdout(io.StringIO()):
        env = gp.Env(empty=True)
        env.setParam("OutputFlag", 0)
        env.start()
    return gp.Model(name, env=env)


def write_gurobi(kind: str, path: Path) -> None:
    gp = pytest.importorskip("gurobipy")
    m = _gurobi_model(gp, kind)
    if kind == "qp":
        x, y, z = m.addVar(0, 10, name="x"), m.addVar(-5, 5, name="y"), m.addVar(0, 4, name="z")
        m.setObjective(x * x + x * y + 2 * y * y - 3 * x + z + 5, gp.GRB.MINIMIZE)
        m.addConstr(x + y + z >= 1, "c1")
        m.addRange(x - y, -1, 2, "c2")
    elif kind == "qp_max":
        x, y = m.addVar(name="x"), m.addVar(name="y")
        m.setObjective(-x * x - 2 * x * y - 3 * y * y + x + y - 1, gp.GRB.MAXIMIZE)
        m.addConstr(x + 2 * y <= 3, "c1")
    elif kind == "qcp":
        x, y = m.addVar(-INF, INF, name="x"), m.addVar(-INF, INF, name="y")
        m.setObjective(-x - y, gp.GRB.MINIMIZE)
        m.addQConstr(x * x + x * y + y * y + 0.5 * x <= 4, "q1")
        m.addConstr(x - 2 * y >= -6, "c1")
    elif kind == "sos":
        v = {n: m.addVar(0, 2, name=n) for n in "xyzabc"}
        m.setObjective(v["x"] + 2 * v["y"] + 3 * v["z"] + v["a"] + v["b"] + v["c"], gp.GRB.MAXIMIZE)
        m.addConstr(gp.quicksum(v.values()) <= 5, "c1")
        m.addSOS(gp.GRB.SOS_TYPE1, [v["x"], v["y"], v["z"]], [1, 2, 3])
        m.addSOS(gp.GRB.SOS_TYPE2, [v["a"], v["b"], v["c"]], [1, 2, 3])
    elif kind == "indicators":
        x, y = m.addVar(0, 5, name="x"), m.addVar(0, 5, name="y")
        b1, b2 = m.addVar(vtype="B", name="b1"), m.addVar(vtype="B", name="b2")
        m.setObjective(x + y - 2 * b1 - b2, gp.GRB.MINIMIZE)
        m.addGenConstrIndicator(b1, True, x + y >= 2, name="ind1")
        m.addGenConstrIndicator(b2, False, x - y <= -1, name="ind2")
        m.addConstr(b1 + b2 <= 1, "c1")
    else:  # mixed
        x, y, w = m.addVar(0, 5, name="x"), m.addVar(0, 5, name="y"), m.addVar(0, 5, name="w")
        z, b = m.addVar(0, 5, vtype="I", name="z"), m.addVar(vtype="B", name="b")
        m.setObjective(x * x + y * y - z - w, gp.GRB.MINIMIZE)
        m.addQConstr(x * x + z * z <= 9, "q1")
        m.addConstr(x + y + z >= 1, "c1")
        m.addSOS(gp.GRB.SOS_TYPE1, [x, w], [1, 2])
        m.addGenConstrIndicator(b, True, z + w <= 3, name="ind1")
    m.update()
    m.write(str(path))


def write_scip(kind: str, path: Path) -> None:
    scip = pytest.importorskip("pyscipopt")
    m = scip.Model(kind)
    m.hideOutput()
    if kind == "qp":
        x, y, z = m.addVar("x", lb=0, ub=10), m.addVar("y", lb=-5, ub=5), m.addVar("z", lb=0, ub=4)
        t = m.addVar("t", lb=None, ub=None, obj=1.0)  # SCIP's objective is linear: the quadratic part bound to t
        m.addCons(x * x + x * y + 2 * y * y - 3 * x + z + 5 <= t, "objective")
        m.addCons(x + y + z >= 1, "c1")
        m.addCons((-1 <= x - y) <= 2, "c2")
    elif kind == "qp_max":
        x, y = m.addVar("x"), m.addVar("y")
        t = m.addVar("t", lb=None, ub=None, obj=1.0)
        m.setMaximize()
        m.addCons(-x * x - 2 * x * y - 3 * y * y + x + y - 1 >= t, "objective")
        m.addCons(x + 2 * y <= 3, "c1")
    elif kind == "qcp":
        x, y = m.addVar("x", lb=None, ub=None), m.addVar("y", lb=None, ub=None)
        m.setObjective(-x - y)
        m.addCons(x * x + x * y + y * y + 0.5 * x <= 4, "q1")
        m.addCons(x - 2 * y >= -6, "c1")
    elif kind == "sos":
        v = {n: m.addVar(n, lb=0, ub=2) for n in "xyzabc"}
        m.setObjective(v["x"] + 2 * v["y"] + 3 * v["z"] + v["a"] + v["b"] + v["c"], "maximize")
        m.addCons(scip.quicksum(v.values()) <= 5, "c1")
        m.addConsSOS1([v["x"], v["y"], v["z"]], [1, 2, 3], name="s1")
        m.addConsSOS2([v["a"], v["b"], v["c"]], [1, 2, 3], name="s2")
    elif kind == "indicators":
        x, y = m.addVar("x", lb=0, ub=5), m.addVar("y", lb=0, ub=5)
        b1, b2 = m.addVar("b1", vtype="B"), m.addVar("b2", vtype="B")
        m.setObjective(x + y - 2 * b1 - b2)
        m.addConsIndicator(x + y >= 2, b1, name="ind1")
        m.addConsIndicator(x - y <= -1, b2, activeone=False, name="ind2")
        m.addCons(b1 + b2 <= 1, "c1")
    else:  # mixed
        x, y, w = m.addVar("x", lb=0, ub=5), m.addVar("y", lb=0, ub=5), m.addVar("w", lb=0, ub=5)
        z, b = m.addVar("z", vtype="I", lb=0, ub=5), m.addVar("b", vtype="B")
        t = m.addVar("t", lb=None, ub=None, obj=1.0)
        m.addCons(x * x + y * y - z - w <= t, "objective")
        m.addCons(x * x + z * z <= 9, "q1")
        m.addCons(x + y + z >= 1, "c1")
        m.addConsSOS1([x, w], [1, 2], name="s1")
        m.addConsIndicator(z + w <= 3, b, name="ind1")
    m.writeProblem(str(path), verbose=False)


def write_highs(kind: str, path: Path) -> None:
    highspy = pytest.importorskip("highspy")
    h = highspy.Highs()
    h.setOptionValue("output_flag", False)
    if kind == "qp":
        columns = (("x", 0, 10, -3), ("y", -5, 5, 0), ("z", 0, 4, 1))
        rows = (("c1", 1, INF, [0, 1, 2], [1, 1, 1]), ("c2", -1, 2, [0, 1], [1, -1]))
        hessian = ([0, 2, 3, 3], [0, 1, 1], [2.0, 1.0, 4.0])  # lower triangle of [[2, 1, 0], [1, 4, 0], [0, 0, 0]]
        sense, offset = highspy.ObjSense.kMinimize, 5.0
    else:  # qp_max
        columns = (("x", 0, INF, 1), ("y", 0, INF, 1))
        rows = (("c1", -INF, 3, [0, 1], [1, 2]),)
        hessian = ([0, 2, 3], [0, 1, 1], [-2.0, -2.0, -6.0])
        sense, offset = highspy.ObjSense.kMaximize, -1.0
    for name, lo, up, cost in columns:
        h.addVar(lo, up)
        h.changeColCost(h.getNumCol() - 1, cost)
        h.passColName(h.getNumCol() - 1, name)
    for name, lo, up, idx, val in rows:
        h.addRow(lo, up, len(idx), np.array(idx), np.array(val, dtype=float))
        h.passRowName(h.getNumRow() - 1, name)
    start, index, value = hessian
    h.passHessian(len(columns), len(value), highspy.HessianFormat.kTriangular, np.array(start), np.array(index),
                  np.array(value))
    h.changeObjectiveSense(sense)
    h.changeObjectiveOffset(offset)
    h.writeModel(str(path))


WRITERS: Dict[str, Tuple[Callable[[str, Path], None], Tuple[str, ...]]] = {
    "highs": (write_highs, HIGHS_MODELS), "scip": (write_scip, MODELS), "gurobi": (write_gurobi, MODELS)}
GENERATED = ("generated 0", "generated 1", "generated 2")  # convex QPs of 60 columns (generated_qp)
PEER_FILES = [(writer, kind) for writer, (_, kinds) in WRITERS.items() for kind in kinds] + [
    (writer, kind) for writer in ("highs", "gurobi") for kind in GENERATED]


def peer_file(writer: str, kind: str, folder: Path) -> Path:
    path = folder / f"{writer}_{kind.replace(' ', '_')}.mps"
    if kind in GENERATED:
        write_generated(writer, int(kind.split()[1]), path)
    else:
        WRITERS[writer][0](kind, path)
    return path


# What a peer refuses as a whole (docs/compatibility.md): HiGHS a file with a QCMATRIX, SOS or
# INDICATORS section; Gurobi a QCMATRIX giving a place twice (as SCIP writes a diagonal, in
# halves).
REFUSED_BY_HIGHS = re.compile(r"^(QCMATRIX|SOS|INDICATORS)\b", re.M)


def sections(text: str) -> Dict[str, List[List[str]]]:
    """The records of each section header (header words joined by a blank), comments left out."""
    found: Dict[str, List[List[str]]] = {}
    records: List[List[str]] = []
    for line in text.splitlines():
        if not line.strip() or line.startswith("*"):
            continue
        if not line[0].isspace():
            records = found.setdefault(" ".join(line.split()), [])
        else:
            records.append(line.split())
    return found


def refuses(reader: str, text: str) -> bool:
    if reader == "highs":
        return bool(REFUSED_BY_HIGHS.search(text))
    if reader == "gurobi":
        quadratic = [r[:2] for header, records in sections(text).items() if header.startswith("QCMATRIX")
                     for r in records]
        return len(quadratic) != len({tuple(r) for r in quadratic})
    return False


def gurobi_crashes_on(text: str) -> bool:
    """Gurobi 13.0 (gurobipy) ends the process (a segmentation fault) reading a file whose ROWS
    name an indicator's row after a row that has a QCMATRIX (its own writer puts them the other
    way round); mopsel writes the rows in the model's order."""
    found = sections(text)
    rows = [r[1] for r in found.get("ROWS", []) if len(r) > 1]
    quadratic = {h.split()[1] for h in found if h.startswith("QCMATRIX ")}
    indicated = {r[1] for r in found.get("INDICATORS", []) if len(r) > 1}
    first_quadratic = min((rows.index(r) for r in quadratic if r in rows), default=len(rows))
    return any(rows.index(r) > first_quadratic for r in indicated if r in rows)


def peer_reading(reader: str, path: Path):
    """The peer's reading of the file as data; None when it refuses the file. SCIP holds a
    quadratic objective as a variable and a constraint of its own: folded back into the
    objective where the file gives one (QUADOBJ, QMATRIX), kept as they are where SCIP wrote
    them so (QCMATRIX of a row it made)."""
    if reader != "scip":
        return peers.READERS[reader](path)
    return peers.scip_reads(path, fold_objective=bool(re.search(r"^(QUADOBJ|QMATRIX)\b", path.read_text(), re.M)))


def entries(data) -> int:
    """How many numbers a comparison covered."""
    return (len(data["cols"]) * 4 + len(data["rows"]) * 2 + len(data["entries"]) + len(data["hessian"])
            + sum(map(len, data["row_hessians"].values())) + sum(len(m) for _, m in data["sos"])
            + len(data["indicators"]) * 3)


@pytest.mark.parametrize("reader", list(peers.READERS))
@pytest.mark.parametrize("writer, kind", PEER_FILES, ids=[f"{w}-{k}" for w, k in PEER_FILES])
def test_mopsel_reads_a_peer_file_as_each_peer_does(writer, kind, reader, tmp_path):
    path = peer_file(writer, kind, tmp_path)
    theirs = peer_reading(reader, path)
    assert (theirs is None) == refuses(reader, path.read_text())
    if theirs is None:
        return
    ours = peers.of_mopsel(mopsel.read(path, strict=True))
    assert peers.same(ours, theirs) == [], (ours, theirs)
    assert entries(ours) > 0


@pytest.mark.parametrize("reader", list(peers.READERS))
@pytest.mark.parametrize("writer, kind", PEER_FILES, ids=[f"{w}-{k}" for w, k in PEER_FILES])
@pytest.mark.parametrize("digits", [13, None], ids=["13 digits", "exact"])
def test_each_peer_reads_what_mopsel_writes(writer, kind, reader, digits, tmp_path):
    m = mopsel.read(peer_file(writer, kind, tmp_path))
    out = tmp_path / "mopsel.mps"
    mopsel.write(m, out, digits=digits)
    if reader == "gurobi" and gurobi_crashes_on(out.read_text()):
        pytest.skip("Gurobi 13 ends the process on an indicator's row after a quadratic row")
    theirs = peers.READERS[reader](out)
    assert (theirs is None) == refuses(reader, out.read_text())
    if theirs is None:
        return
    # Thirteen digits round the values (the generated ones): the peer reads what mopsel reads back.
    back = m if digits is None else mopsel.read(out)
    assert peers.same(peers.of_mopsel(back), theirs) == []


@pytest.mark.parametrize("writer, kind", [(w, k) for w, k in PEER_FILES if k != "qcp"],
                         ids=[f"{w}-{k}" for w, k in PEER_FILES if k != "qcp"])
def test_to_scip_builds_the_model_scip_reads(writer, kind, tmp_path):
    """to_scip's model against SCIP's own reading of mopsel's text: the same model."""
    pytest.importorskip("pyscipopt")
    m = mopsel.read(peer_file(writer, kind, tmp_path))
    out = tmp_path / "mopsel.mps"
    mopsel.write(m, out, digits=None)
    built = peers.of_scip(mopsel.to_scip(m))
    assert peers.same(peers.of_mopsel(m), built) == []
    assert peers.same(peers.scip_reads(out), built) == []


def highs_optimum(model) -> float:
    highspy = pytest.importorskip("highspy")
    h = highspy.Highs()
    h.setOptionValue("output_flag", False)
    if isinstance(model, Path):
        assert h.readModel(str(model)) == highspy.HighsStatus.kOk
    else:
        assert h.passModel(model) == highspy.HighsStatus.kOk
    h.run()
    assert h.getModelStatus() == highspy.HighsModelStatus.kOptimal
    return h.getInfo().objective_function_value


def generated_qp(seed: int, n: int = 60, m: int = 30):
    """A convex QP of n columns and m rows: H = M'M + I with M sparse (the lower triangle,
    column-wise), costs, bounds and two-sided rows drawn from `seed`."""
    rng = np.random.default_rng(seed)
    dense_m = rng.normal(size=(n // 3, n)) * (rng.random((n // 3, n)) < 0.1)
    h = dense_m.T @ dense_m + np.eye(n)
    a = rng.normal(size=(m, n)) * (rng.random((m, n)) < 0.2)
    lower = rng.uniform(-5, 0, m)
    return mopsel.from_arrays(col_cost=rng.normal(size=n), a_matrix=a, row_lower=lower,
                              row_upper=lower + rng.uniform(0, 10, m), col_lower=-rng.uniform(1, 3, n),
                              col_upper=rng.uniform(1, 3, n), hessian=np.tril(h), obj_offset=rng.normal())


def write_generated(writer: str, seed: int, path: Path) -> None:
    """A generated QP given to the peer (through to_highs, or gurobipy's matrix interface) and
    written by the peer's own MPS writer."""
    m = generated_qp(seed)
    if writer == "highs":
        highspy = pytest.importorskip("highspy")
        h = highspy.Highs()
        h.setOptionValue("output_flag", False)
        h.passModel(mopsel.to_highs(m))
        h.writeModel(str(path))
        return
    gp = pytest.importorskip("gurobipy")
    g = _gurobi_model(gp, "generated")
    x = g.addMVar(m.num_col, lb=m.col_lower, ub=m.col_upper, name="x")
    a = mopsel.to_scipy(m).tocsr()
    g.addConstr(a @ x >= m.row_lower)
    g.addConstr(a @ x <= m.row_upper)
    h = mopsel.to_scipy_hessian(m)
    g.setObjective(0.5 * (x @ h @ x) + m.col_cost @ x + m.obj_offset)
    g.update()
    g.write(str(path))


# The QP files: HiGHS's and Gurobi's writers give a quadratic objective as QUADOBJ (SCIP's
# writes it as a quadratic row, which HiGHS refuses).
QP_FILES = [(w, k) for w, k in PEER_FILES if (k in HIGHS_MODELS or k in GENERATED) and w != "scip"]


@pytest.mark.parametrize("writer, kind", QP_FILES, ids=[f"{w}-{k}" for w, k in QP_FILES])
def test_qp_optimum_through_to_highs_equals_highs_on_the_file(writer, kind, tmp_path):
    path = peer_file(writer, kind, tmp_path)
    ours = highs_optimum(mopsel.to_highs(mopsel.read(path, strict=True)))
    assert ours == pytest.approx(highs_optimum(path), rel=1e-9, abs=1e-12)


@pytest.mark.parametrize("kind", HIGHS_MODELS)
def test_qp_optimum_through_to_highs_equals_scip(kind, tmp_path):
    """to_highs and to_scip solve the same QP to the same optimum (SCIP to its own tolerances)."""
    pytest.importorskip("pyscipopt")
    path = tmp_path / "qp.mps"
    write_highs(kind, path)
    m = mopsel.read(path)
    s = mopsel.to_scip(m)
    s.hideOutput()
    s.optimize()
    assert s.getObjVal() == pytest.approx(highs_optimum(mopsel.to_highs(m)), rel=1e-6, abs=1e-6)
