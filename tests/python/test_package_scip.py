"""mopsel.to_scip: the model it builds is the one SCIP reads from the same text, part by part
and by its optimum; what SCIP cannot take is refused with the place named. The files of the
peers' writers are in test_mps_peers.py."""

from __future__ import annotations

import numpy as np
import pytest

import mopsel
import peer_models as peers

pyscipopt = pytest.importorskip("pyscipopt", reason="PySCIPOpt (extra mopsel[scip]) is not installed")


def mps(rows, columns, rhs="", bounds="", tail="", sense=""):
    """A small MPS text: the objective row obj, then `rows` (" L c1" lines), and so on."""
    return (f"NAME t\n{sense}ROWS\n N obj\n{rows}COLUMNS\n{columns}RHS\n{rhs}BOUNDS\n{bounds}{tail}ENDATA\n")


INT = "    M1  'MARKER'  'INTORG'\n"
END = "    M2  'MARKER'  'INTEND'\n"

# Texts whose model SCIP reads as to_scip builds it: the parts compared (peer_models) and the
# optima equal.
CASES = {
    "semi-continuous above 0": mps(" G c1\n", "    x obj 1 c1 1\n    y obj 1 c1 1\n", "    RHS c1 3\n",
                                   " SC BND x 5\n LO BND x 2\n UP BND y 4\n"),
    "semi-continuous with lower 0": mps(" G c1\n", "    x obj 1 c1 1\n    y obj 2 c1 1\n", "    RHS c1 3\n",
                                        " SC BND x 5\n"),
    "semi-integer": mps(" G c1\n", INT + "    x obj 1 c1 1\n" + END + "    y obj 3 c1 1\n", "    RHS c1 2.5\n",
                        " SI BND x 9\n LO BND x 4\n"),
    "maximising QP with a constant": mps(" L c1\n", "    x obj 1 c1 1\n    y obj 1 c1 2\n",
                                         "    RHS c1 3\n    RHS obj -1.5\n", "",
                                         "QUADOBJ\n    x x -2\n    x y -1\n    y y -6\n", "OBJSENSE\n    MAX\n"),
    "quadratic rows": mps(" L q1\n G q2\n L c1\n", "    x obj -1 q1 1\n    x c1 1\n    y obj -1 c1 -2\n",
                          "    RHS q1 4\n    RHS q2 -10\n    RHS c1 6\n", " FR BND x\n FR BND y\n",
                          "QCMATRIX q1\n    x x 1\n    x y 0.5\n    y x 0.5\n    y y 1\n"
                          "QCMATRIX q2\n    x y -1\n    y x -1\n"),
    "SOS1 and SOS2 with weights": mps(" L c1\n", "".join(f"    {n} obj -{k} c1 1\n" for k, n in enumerate("xyzabc", 1)),
                                      "    RHS c1 5\n", "".join(f" UP BND {n} 2\n" for n in "xyzabc"),
                                      "SOS\n S1 s1\n    x 1\n    y 2\n    z 3\n S2 s2 4\n    a 1\n    b 2.5\n"
                                      "    c 3\n"),
    "indicators on one-sided, two-sided and equality rows": mps(
        " G r1\n L r2\n E r3\n L c1\n",
        "    x obj 1 r1 1\n    x r2 1\n    y obj 1 r1 1\n    y r3 1\n" + INT
        + "    b1 obj -2 c1 1\n    b2 obj -1 c1 1\n    b3 obj -1\n" + END,
        "    RHS r1 2\n    RHS r2 3\n    RHS r3 1\n    RHS c1 1\nRANGES\n    RNG r2 4\n",
        " UP BND x 5\n UP BND y 5\n UP BND b1 1\n UP BND b2 1\n UP BND b3 1\n",
        "INDICATORS\n IF r1 b1 1\n IF r2 b2 0\n IF r3 b3 1\n"),
    "an indicator on a free row, which always holds": mps(
        " L c1\n L f\n", "    x obj -1 c1 1 f 2\n" + INT + "    b obj 1\n" + END, "    RHS c1 3 f inf\n",
        " UP BND b 1\n", "INDICATORS\n IF f b 1\n"),
}


@pytest.mark.parametrize("text", CASES.values(), ids=CASES.keys())
def test_to_scip_builds_what_scip_reads(text, tmp_path):
    path = tmp_path / "model.mps"
    path.write_text(text)
    m = mopsel.read(path, strict=True)
    built = mopsel.to_scip(m)
    assert peers.same(peers.of_scip(built), peers.scip_reads(path)) == []
    if not np.any(m.col_integrality >= mopsel.SEMI_CONTINUOUS):  # SCIP widens their bounds to take 0 in
        assert peers.same(peers.of_scip(built), peers.of_mopsel(m)) == []
    theirs = pyscipopt.Model()
    theirs.readProblem(str(path))
    for s in (built, theirs):
        s.hideOutput()
        s.optimize()
        assert s.getStatus() == "optimal"
    assert built.getObjVal() == pytest.approx(theirs.getObjVal(), rel=1e-9, abs=1e-9)


def test_semi_continuous_columns_keep_out_of_the_gap():
    """x is 0 or within [2, 5] (semi-continuous), y 0 or an integer within [-7, -3]
    (semi-integer): SCIP's bounds take 0 in, the disjunctions keep each column out of the gap.
    min x - y with x >= 1 and y <= -0.5 is at x = 2, y = -3 (without the gaps: 1 and -1)."""
    m = mopsel.from_arrays(col_cost=[1.0, -1.0], a_matrix=[[1.0, 0.0], [0.0, 1.0]], row_lower=[1.0, -np.inf],
                           row_upper=[np.inf, -0.5], col_lower=[2.0, -7.0], col_upper=[5.0, -3.0],
                           col_integrality=[2, 3], col_names=["x", "y"])
    s = mopsel.to_scip(m)
    x, y = sorted(s.getVars(), key=lambda v: v.name)
    assert [(v.getLbOriginal(), v.getUbOriginal(), v.vtype()) for v in (x, y)] == [
        (0.0, 5.0, "CONTINUOUS"), (-7.0, 0.0, "INTEGER")]
    assert sorted((c.name, c.getConshdlrName()) for c in s.getConss()) == [
        ("R1", "linear"), ("R2", "linear"), ("semicont_x", "disjunction"), ("semicont_y", "disjunction")]
    s.hideOutput()
    s.optimize()
    assert (s.getVal(x), s.getVal(y), s.getObjVal()) == (pytest.approx(2.0), pytest.approx(-3.0), pytest.approx(5.0))


NAN = float("nan")
BINARY = dict(col_integrality=[0, 1], col_upper=[np.inf, 1.0])
BASE = dict(col_cost=[1.0, 0.0], a_matrix=[[1.0, 1.0], [1.0, 0.0]], row_lower=[1.0, -np.inf], row_upper=[np.inf, 4.0],
            col_names=["x", "b"], row_names=["c1", "c2"])


def set_nan(path):
    """Puts NaN at the place `path` names (from_arrays refuses NaN; a parsed model may hold it)."""
    def edit(m):
        obj = m
        *outer, (attribute, position) = path
        for name in outer:
            obj = getattr(obj, name) if isinstance(name, str) else obj[name]
        getattr(obj, attribute)[position] = NAN
    return edit


# Each case: what changes in BASE, NaN put in afterwards, and the message.
REFUSED = {
    "NaN cost": ({}, set_nan([("col_cost", 0)]), "mopsel.to_scip: a cost is NaN (at position 0)"),
    "NaN coefficient": ({}, set_nan(["a_matrix", ("value", 1)]), "mopsel.to_scip: a matrix entry is NaN (at position 1)"),
    "NaN column bound": ({}, set_nan([("col_upper", 1)]), "mopsel.to_scip: a column upper bound is NaN (at position 1)"),
    "NaN row bound": ({}, set_nan([("row_lower", 1)]), "mopsel.to_scip: a row lower bound is NaN (at position 1)"),
    "NaN in the objective's Hessian": (dict(hessian=np.eye(2)), set_nan(["hessian", ("value", 0)]),
                                       "mopsel.to_scip: an entry of the objective's Hessian is NaN"),
    "NaN in a row's Hessian": (dict(row_hessians={"c2": np.eye(2)}), set_nan(["row_hessians", 1, ("value", 1)]),
                               "mopsel.to_scip: an entry of the Hessian of row 'c2' is NaN"),
    "NaN SOS weight": (dict(sos=[(1, [0, 1])]), set_nan(["sos", ("weight", 1)]), "mopsel.to_scip: an SOS weight is NaN"),
    "indicator on a continuous column": (dict(indicators=[(0, 0, 1)]), None, "mopsel.to_scip: the indicator of row "
                                         "'c1' is on column 'x', which is not binary (SCIP takes binary ones only)"),
    "indicator on an integer column beyond 1": (dict(indicators=[(0, 1, 1)], col_integrality=[0, 1]), None,
                                                "mopsel.to_scip: the indicator of row 'c1' is on column 'b', which "
                                                "is not binary (SCIP takes binary ones only)"),
    "indicator on a quadratic row": (dict(BINARY, indicators=[(1, 1, 0)], row_hessians={1: np.eye(2)}), None,
                                     "mopsel.to_scip: row 'c2' has an indicator and a Hessian (SCIP's indicators "
                                     "take linear rows only)"),
}


@pytest.mark.parametrize("change, edit, message", REFUSED.values(), ids=REFUSED.keys())
def test_what_scip_cannot_take_is_refused(change, edit, message):
    m = mopsel.from_arrays(**dict(BASE, **change))
    if edit is not None:
        edit(m)
    with pytest.raises(ValueError) as caught:
        mopsel.to_scip(m)
    assert str(caught.value) == message
