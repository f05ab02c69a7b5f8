"""mopsel.evaluate on every kind of column and row, read_solution and write_solution in every
layout (and the files HiGHS, SCIP and Gurobi write and read themselves, when installed), the
verify command's verdicts, and evaluate against HiGHS's own objective and primal infeasibility
on the public models it solves."""

from __future__ import annotations

import gzip
import subprocess
import sys

import numpy as np
import pytest

import mopsel
from real_corpus import DATA_DIR, MISSING_REASON

# Columns of every kind; rows of every kind. Minimise c + 2i + 3s + 4t + 1 subject to
# e1: c + i = 3, l1: s + t <= 7, g1: c - f >= -1, r1: 1 <= c + s <= 9.
KINDS = mopsel.from_arrays(
    col_cost=[1.0, 2.0, 3.0, 4.0, 0.0],
    a_matrix=np.array([[1, 1, 0, 0, 0], [0, 0, 1, 1, 0], [1, 0, 0, 0, -1], [1, 0, 1, 0, 0]], dtype=float),
    row_lower=[3.0, -np.inf, -1.0, 1.0], row_upper=[3.0, 7.0, np.inf, 9.0],
    col_lower=[0.0, 0.0, 2.0, 2.0, -np.inf], col_upper=[4.0, 10.0, 5.0, 6.0, np.inf],
    col_integrality=[0, 1, 2, 3, 0], col_names=["c", "i", "s", "t", "f"], row_names=["e1", "l1", "g1", "r1"],
    obj_offset=1.0)

# x -> objective, then the worst (amount, name) of bounds, rows and integrality.
POINTS = {
    "feasible": ([1, 2, 0, 0, 0], 6.0, (0, None), (0, None), (0, None)),
    "semi-continuous on": ([1, 2, 3, 0, 0], 15.0, (0, None), (0, None), (0, None)),
    "semi-continuous between 0 and its lower bound": ([1, 2, 1.5, 0, 0], 10.5, (0.5, "s"), (0, None), (0, None)),
    "semi-integer fractional": ([1, 2, 0, 2.25, 0], 15.0, (0, None), (0, None), (0.25, "t")),
    "integer fractional": ([1.5, 1.5, 0, 0, 0], 5.5, (0, None), (0, None), (0.5, "i")),
    "above an upper bound and an equality": ([5, 2, 0, 0, 0], 10.0, (1, "c"), (4, "e1"), (0, None)),
    "below a G row": ([1, 2, 0, 0, 3], 6.0, (0, None), (1, "g1"), (0, None)),
    "below a ranged row": ([0.25, 3, 0, 0, 0], 7.25, (0, None), (0.75, "r1"), (0, None)),
    "negative semi-integer": ([1, 2, 0, -1, 0], 2.0, (1, "t"), (0, None), (0, None)),
}


@pytest.mark.parametrize("x, objective, bound, row, integrality", POINTS.values(), ids=list(POINTS))
def test_evaluate_finds_the_worst_violation_of_each_kind(x, objective, bound, row, integrality):
    e = mopsel.evaluate(KINDS, x)
    assert e.objective == objective and e.minimize
    got = [(v.value, v.name) for v in (e.bound, e.row, e.integrality)]
    assert got == [bound, row, integrality]
    assert e.max_violation == max(bound[0], row[0], integrality[0])
    assert e.feasible() == (e.max_violation == 0)
    # The same point by name, leaving out the zeros.
    by_name = mopsel.evaluate(KINDS, {n: v for n, v in zip(KINDS.col_names, x) if v})
    assert (by_name.objective, by_name.bound, by_name.row, by_name.integrality) == (e.objective, e.bound, e.row,
                                                                                   e.integrality)


@pytest.mark.parametrize("seed", range(4))
def test_evaluate_agrees_with_a_dense_computation(seed):
    rng = np.random.default_rng(seed)
    n_row, n_col = rng.integers(3, 20, 2)
    dense = np.where(rng.random((n_row, n_col)) < 0.4, rng.normal(size=(n_row, n_col)), 0.0)
    m = mopsel.from_arrays(col_cost=rng.normal(size=n_col), a_matrix=dense, row_lower=rng.normal(size=n_row) - 1,
                           row_upper=rng.normal(size=n_row) + 1, col_lower=-rng.random(n_col), col_upper=rng.random(n_col),
                           minimize=bool(seed % 2), obj_offset=float(seed))
    x = rng.normal(size=n_col)
    e = mopsel.evaluate(m, x)
    activity = dense @ x
    assert e.objective == pytest.approx(m.col_cost @ x + seed, rel=1e-13) and e.minimize == bool(seed % 2)
    assert e.row_activity == pytest.approx(activity, rel=1e-12, abs=1e-14)
    row_excess = np.maximum(np.maximum(m.row_lower - activity, activity - m.row_upper), 0)
    bound_excess = np.maximum(np.maximum(m.col_lower - x, x - m.col_upper), 0)
    assert e.row.value == pytest.approx(row_excess.max()) and e.row.total == pytest.approx(row_excess.sum())
    assert e.bound.value == bound_excess.max() and e.bound.name == m.col_names[int(np.argmax(bound_excess))]


@pytest.mark.parametrize("x, error, message", [
    ([1.0, 2.0], ValueError, "argument 'x': expected 5 values (one per column), got shape (2,)"),
    ([1, 2, 0, np.nan, 0], ValueError, "argument 'x': the value of column 't' is nan"),
    ({"c": 1.0, "nope": 2.0, "nix": 0.0}, ValueError, "argument 'x': 2 name(s) are no column of the model, the first 'nope'"),
    ({1: 1.0}, TypeError, "argument 'x': a mapping of column names (str) to values"),
    (["a"] * 5, TypeError, "argument 'x': expected numbers"),
])
def test_evaluate_names_what_is_wrong_with_x(x, error, message):
    with pytest.raises(error) as caught:
        mopsel.evaluate(KINDS, x)
    assert str(caught.value).startswith(message)


X = [1.0, 0.1 + 0.2, 0.0, 1e-300, -2.5e17]


@pytest.mark.parametrize("format", ["miplib", "scip", "gurobi", "highs"])
def test_written_solutions_read_back_exactly(format, tmp_path):
    path = tmp_path / "x.sol"
    mopsel.write_solution(path, KINDS, X, format=format)
    s = mopsel.read_solution(path)
    assert (s.format, s.names) == (format, KINDS.col_names)
    assert s.values.tobytes() == np.array(X).tobytes()
    assert s.objective == mopsel.evaluate(KINDS, X).objective and s.feasible
    mopsel.write_solution(path, KINDS, s, format=format, objective=12.5)
    assert mopsel.read_solution(path).objective == 12.5


# Solution texts as the writers make them -> format, objective, status, feasible, values.
TEXTS = {
    "miplib": ("=obj= 12.5\nc 1\ni 2\n", "miplib", 12.5, None, True, {"c": 1, "i": 2}),
    "miplib infeasible": ("=infeas=\n", "miplib", None, "infeasible", False, {}),
    "scip": ("solution status: optimal solution found\nobjective value:   6\nc   1 \t(obj:1)\ni   2 \t(obj:2)\n",
             "scip", 6.0, "optimal solution found", True, {"c": 1, "i": 2}),
    "scip without a solution": ("solution status: infeasible\nno solution available\n", "scip", None, "infeasible",
                                False, {}),
    "gurobi": ("# Solution for model m\n# Objective value = 6.0\nc 1\ni 2\ns 0\n", "gurobi", 6.0, None, True,
               {"c": 1, "i": 2, "s": 0}),
    "plain pairs, CRLF": ("c 1\r\ni 2e0\r\n", "gurobi", None, None, True, {"c": 1, "i": 2}),
    "highs raw": ("Model status\nOptimal\n\n# Primal solution values\nFeasible\nObjective 6\n# Columns 2\nc 1\ni 2\n"
                  "# Rows 1\ne1 3\n\n# Dual solution values\nNone\n", "highs", 6.0, "Optimal", True, {"c": 1, "i": 2}),
    "highs sparse": ("Model status\nOptimal\n\n# Primal solution values\nFeasible\nObjective 6\n# Columns -1 sparse\n"
                     "i 2 1\n# Rows 1\ne1 3\n", "highs", 6.0, "Optimal", True, {"i": 2}),
}


@pytest.mark.parametrize("text, fmt, objective, status, feasible, values", TEXTS.values(), ids=list(TEXTS))
def test_read_solution_tells_the_layout_by_content(text, fmt, objective, status, feasible, values, tmp_path):
    path = tmp_path / "x.sol"
    path.write_bytes(text.encode())
    s = mopsel.read_solution(path)
    assert (s.format, s.objective, s.status, s.feasible, s.to_dict()) == (fmt, objective, status, feasible, values)


@pytest.mark.parametrize("text, message", [
    ("", "x.sol: the file is empty"),
    ("=obj= 1\nc one\n", "x.sol:2: 'one' is not a number"),
    ("=obj= 1\nc\n", "x.sol:2: expected a name and a value, got 'c'"),
])
def test_read_solution_says_where_a_file_is_wrong(text, message, tmp_path):
    (tmp_path / "x.sol").write_text(text)
    with pytest.raises(ValueError) as caught:
        mopsel.read_solution(tmp_path / "x.sol")
    assert str(caught.value).endswith(message)
    with pytest.raises(TypeError, match="argument 'path'"):
        mopsel.read_solution(3)
    with pytest.raises(ValueError, match="argument 'format'"):
        mopsel.write_solution(tmp_path / "y.sol", KINDS, X, format="cplex")


# The writers themselves ---------------------------------------------------------------------------

P0033 = DATA_DIR / "miplib3" / "p0033.gz"


@pytest.fixture(scope="module")
def p0033(tmp_path_factory):
    if not P0033.is_file():
        pytest.skip(MISSING_REASON)
    plain = tmp_path_factory.mktemp("p0033") / "p0033.mps"
    plain.write_bytes(gzip.decompress(P0033.read_bytes()))
    return mopsel.read(P0033), plain


def highs_solved(model):
    highspy = pytest.importorskip("highspy", reason="highspy (optional test peer) is not installed")
    h = highspy.Highs()
    h.setOptionValue("output_flag", False)
    h.passModel(mopsel.to_highs(model))
    h.run()
    return h


@pytest.mark.parametrize("style, fmt", [(0, "highs"), (1, "highs-pretty"), (4, "highs")], ids=["raw", "pretty", "sparse"])
def test_the_solution_files_of_highs(p0033, style, fmt, tmp_path):
    model, _ = p0033
    h = highs_solved(model)
    h.writeSolution(str(tmp_path / "x.sol"), style)
    s = mopsel.read_solution(tmp_path / "x.sol")
    e = mopsel.evaluate(model, s)
    assert (s.format, s.objective, e.objective, e.max_violation) == (fmt, 3089.0, 3089.0, 0.0)
    # HiGHS reads the raw style mopsel writes.
    mopsel.write_solution(tmp_path / "ours.sol", model, s, format="highs")
    import highspy

    other = highspy.Highs()
    other.setOptionValue("output_flag", False)
    other.passModel(mopsel.to_highs(model))
    assert other.readSolution(str(tmp_path / "ours.sol"), 0) == highspy.HighsStatus.kOk
    assert list(other.getSolution().col_value) == [s.to_dict().get(name, 0.0) for name in model.col_names]


def test_the_solution_files_of_scip(p0033, tmp_path):
    pyscipopt = pytest.importorskip("pyscipopt", reason="pyscipopt (optional test peer) is not installed")
    model, plain = p0033
    scip = pyscipopt.Model()
    scip.hideOutput()
    scip.readProblem(str(plain))
    scip.optimize()
    scip.writeBestSol(str(tmp_path / "scip.sol"))
    s = mopsel.read_solution(tmp_path / "scip.sol")
    assert s.format == "scip" and s.objective == scip.getObjVal() == mopsel.evaluate(model, s).objective
    assert len(s.names) < model.num_col  # SCIP lists the nonzero values only
    mopsel.write_solution(tmp_path / "ours.sol", model, s, format="scip")
    fresh = pyscipopt.Model()  # SCIP reads a solution for a problem not yet solved
    fresh.hideOutput()
    fresh.readProblem(str(plain))
    back = fresh.readSolFile(str(tmp_path / "ours.sol"))
    assert [back[v] for v in fresh.getVars()] == [s.to_dict().get(v.name, 0.0) for v in fresh.getVars()]


def test_the_solution_files_of_gurobi(p0033, tmp_path):
    gurobipy = pytest.importorskip("gurobipy", reason="gurobipy (optional test peer) is not installed")
    model, plain = p0033
    with gurobipy.Env(params={"OutputFlag": 0}) as env, gurobipy.read(str(plain), env=env) as g:
        g.optimize()
        g.write(str(tmp_path / "gurobi.sol"))
        s = mopsel.read_solution(tmp_path / "gurobi.sol")
        assert s.format == "gurobi" and s.objective == g.ObjVal == mopsel.evaluate(model, s).objective
        mopsel.write_solution(tmp_path / "ours.sol", model, s, format="gurobi")
        g.read(str(tmp_path / "ours.sol"))  # sets the start values
        g.update()
        assert [v.Start for v in g.getVars()] == [s.to_dict()[v.VarName] for v in g.getVars()]


# The verify command --------------------------------------------------------------------------------

VERIFY = {
    "passes": ("=obj= 6\nc 1\ni 2\n", [], 0, "verdict      passes (tolerance 1e-06)"),
    "a row": ("=obj= 10\nc 5\ni 2\n", [], 1, "verdict      fails (tolerance 1e-06): column c violated by 1; row e1 violated by 4"),
    "the objective": ("=obj= 7\nc 1\ni 2\n", [], 1, "verdict      fails (tolerance 1e-06): objective 6, the file states 7"),
    "within a loose tolerance": ("=obj= 6.5\nc 1\ni 2.25\n", ["--tol", "0.5"], 0, "verdict      passes (tolerance 0.5)"),
    "integrality": ("c 1.5\ni 1.5\n", [], 1, "verdict      fails (tolerance 1e-06): integrality of i violated by 0.5"),
    "no solution": ("=infeas=\n", [], 1, "verdict      no solution: the file says 'infeasible'"),
    "another model's column": ("=obj= 6\nc 1\nq 2\n", [], 1,
                               "verdict      does not fit the model: 1 name(s) are no column of the model, the first 'q'"),
}


@pytest.mark.parametrize("text, args, status, last", VERIFY.values(), ids=list(VERIFY))
def test_verify_prints_the_verdict_and_exits_0_or_1(text, args, status, last, tmp_path):
    mopsel.write(KINDS, tmp_path / "m.mps", digits=None)
    (tmp_path / "x.sol").write_text(text)
    done = subprocess.run([sys.executable, "-m", "mopsel", "verify", *args, "m.mps", "x.sol"], capture_output=True,
                          text=True, cwd=tmp_path, timeout=60)
    assert (done.returncode, done.stdout.splitlines()[-1]) == (status, last), done.stderr
    assert done.stdout.startswith("model        m.mps: 4 rows, 5 columns\nsolution     x.sol (")


@pytest.mark.parametrize("files, message", [
    (("bad.mps", "x.sol"), "bad.mps:1: error: no ENDATA line"),
    (("m.mps", "bad.sol"), "mopsel verify: bad.sol:1: 'one' is not a number"),
    (("m.mps", "missing.sol"), "mopsel verify: missing.sol: No such file or directory"),
])
def test_verify_exits_2_when_a_file_cannot_be_read(files, message, tmp_path):
    mopsel.write(KINDS, tmp_path / "m.mps")
    (tmp_path / "bad.mps").write_text("ROWS\n")
    (tmp_path / "x.sol").write_text("c 1\n")
    (tmp_path / "bad.sol").write_text("c one\n")
    done = subprocess.run([sys.executable, "-m", "mopsel", "verify", *files], capture_output=True, text=True,
                          cwd=tmp_path, timeout=60)
    assert done.returncode == 2 and done.stderr.startswith(message) and not done.stdout


# Against HiGHS on the public models -----------------------------------------------------------------

# The Netlib LPs but forplan (read in fixed columns by HiGHS) and the MIPLIB 3 models HiGHS solves
# to optimality in a few seconds (as in the solve comparison of test_real_package.py).
MIPLIB_SOLVED = ("bell5", "dsbmip", "enigma", "fiber", "flugpl", "gesa2", "gesa3", "gt2", "khb05250", "lseu", "misc06",
                 "mitre", "mod008", "p0033", "p0282", "p2756", "pp08a", "qnet1_o", "rgn", "set1ch", "stein27")
QUICK = ("netlib/afiro.mps.gz", "netlib/adlittle.mps.gz", "miplib3/p0033.gz", "miplib3/flugpl.gz")


def corpus(quick: bool) -> list:
    if not DATA_DIR.is_dir():
        return [pytest.param(None, marks=pytest.mark.skip(reason=MISSING_REASON))]
    if quick:
        return [pytest.param(DATA_DIR / name, id=name) for name in QUICK]
    files = [p for p in sorted((DATA_DIR / "netlib").glob("*.mps.gz")) if p.name != "forplan.mps.gz"]
    files += [DATA_DIR / "miplib3" / f"{name}.gz" for name in MIPLIB_SOLVED]
    return [pytest.param(p, id=f"{p.parent.name}/{p.name}") for p in files]


def check_against_highs(path) -> None:
    model = mopsel.read(path)
    h = highs_solved(model)
    info, solution = h.getInfo(), h.getSolution()
    x, row_value = np.asarray(solution.col_value), np.asarray(solution.row_value)
    e = mopsel.evaluate(model, x)
    assert e.objective == pytest.approx(info.objective_function_value, rel=1e-9, abs=1e-9)
    # HiGHS's row values come from its factorisation, evaluate's from the sum a'x: they agree to
    # rounding, relative to the size of the terms summed.
    terms = np.bincount(model.a_matrix.index, minlength=model.num_row,
                        weights=np.abs(model.a_matrix.value * np.repeat(x, np.diff(model.a_matrix.start.astype(int)))))
    gap = np.abs(e.row_activity - row_value)
    assert np.all(gap <= 1e-9 * np.maximum(1.0, terms))
    # HiGHS's largest violation of a bound or a row (measured on its row values): the same, up
    # to that difference of the row activities.
    assert max(e.bound.value, e.row.value) == pytest.approx(info.max_primal_infeasibility, abs=1e-9 + gap.max(initial=0))
    if model.col_integrality.any():
        assert e.integrality.value == pytest.approx(info.max_integrality_violation, abs=1e-9)


@pytest.mark.parametrize("path", corpus(quick=True))
def test_evaluate_agrees_with_highs(path):
    check_against_highs(path)


@pytest.mark.slow
@pytest.mark.parametrize("path", corpus(quick=False))
def test_evaluate_agrees_with_highs_on_every_model_it_solves(path):
    check_against_highs(path)
