"""The conversions to SciPy and HiGHS: shared buffers, the way back from a HighsLp, ImportError
naming the extra (only for a package that is not installed), the examples in the docstrings of
the package's functions (read, check, write, from_arrays and the conversions, small models solved
both ways) and at the top of the user guide; the solve comparison on the public models is in
real/test_real_package.py."""

import doctest
import importlib.util
import sys
from pathlib import Path

import numpy as np
import pytest

import mopsel
from mopsel import (_corpus, _diff, _extras, _from_arrays, _highs, _names, _pandas, _read, _scip, _scipy, _solution,
                    _stats, _write)
from mopsel_testlib import PARTS_MPS, SMALL_MPS, snapshot


def test_to_scipy_shares_the_buffers(monkeypatch):
    pytest.importorskip("scipy")
    m = mopsel.parse_str(SMALL_MPS)
    a = mopsel.to_scipy(m)
    assert a.format == "csc" and a.shape == (3, 2)
    assert a.toarray().tolist() == [[1.0, 3.0], [2.0, 0.0], [0.0, 0.0]]
    assert (a.indices.dtype, a.indptr.dtype) == (np.int32, np.int32)
    for ours, theirs in ((m.a_matrix.value, a.data), (m.a_matrix.index, a.indices), (m.a_matrix.start, a.indptr)):
        assert np.shares_memory(ours, theirs)
    a.data[0] = 5.0
    assert m.a_matrix.value[0] == 5.0
    monkeypatch.setattr(_scipy, "_INT32_LIMIT", 1)  # as if there were 2**31 entries or more
    big = mopsel.to_scipy(m)
    assert (big.indices.dtype, big.indptr.dtype) == (np.int64, np.int64)
    assert np.shares_memory(big.data, m.a_matrix.value) and not np.shares_memory(big.indptr, m.a_matrix.start)
    assert (big.toarray() == a.toarray()).all()


def test_highs_round_trip_and_row_wise_matrices():
    highspy = pytest.importorskip("highspy")
    m = mopsel.from_arrays(col_cost=[1.0, 0.0, -2.0], a_matrix=np.array([[1.0, 0.0, 2.0], [0.0, 0.0, 3.0]]),
                           row_lower=[-np.inf, 1.0], row_upper=[4.0, np.inf], col_integrality=[2, 0, 3],
                           col_upper=[5.0, np.inf, 9.0], name="m", objective_name="cost", minimize=False, obj_offset=1.5)
    lp = mopsel.to_highs(m)
    assert [int(k) for k in lp.integrality_] == [2, 0, 3]
    assert snapshot(mopsel.from_highs(lp, objective_name="cost")) == snapshot(m)
    lp.a_matrix_.format_ = highspy.MatrixFormat.kRowwise  # the same matrix, row by row
    lp.a_matrix_.start_, lp.a_matrix_.index_, lp.a_matrix_.value_ = [0, 2, 3], [0, 2, 2], [1.0, 2.0, 3.0]
    assert snapshot(mopsel.from_highs(lp, objective_name="cost")) == snapshot(m)
    lp.integrality_ = []  # an LP, and no names: made up
    lp.col_names_, lp.row_names_ = [], []
    back = mopsel.from_highs(lp)
    assert (back.col_names, back.row_names, back.objective_name) == (["C1", "C2", "C3"], ["R1", "R2"], "Objective")
    assert back.col_integrality.tolist() == [0, 0, 0]


@pytest.mark.parametrize("function, module, message", [
    (mopsel.to_scipy, "scipy.sparse", "mopsel.to_scipy needs SciPy, which is not installed: pip install 'mopsel[scipy]'"),
    (mopsel.to_milp, "scipy.optimize", "mopsel.to_milp needs SciPy, which is not installed: pip install 'mopsel[scipy]'"),
    (mopsel.to_highs, "highspy", "mopsel.to_highs needs highspy, which is not installed: pip install 'mopsel[highs]'"),
    (mopsel.from_highs, "highspy", "mopsel.from_highs needs highspy, which is not installed: pip install 'mopsel[highs]'"),
    (mopsel.to_scip, "pyscipopt", "mopsel.to_scip needs PySCIPOpt, which is not installed: pip install 'mopsel[scip]'"),
    (mopsel.to_scipy_hessian, "scipy.sparse",
     "mopsel.to_scipy_hessian needs SciPy, which is not installed: pip install 'mopsel[scipy]'"),
])
def test_a_missing_extra_is_named(monkeypatch, function, module, message):
    monkeypatch.setitem(sys.modules, module, None)  # makes the import fail
    with pytest.raises(ImportError) as caught:
        function(mopsel.parse_str(SMALL_MPS))
    assert str(caught.value) == message


# A stand-in optional package: the text of its __init__.py (None: not installed), the module
# asked for, and what require() raises: the ImportError naming the extra only when the package
# (or the module asked for) is not there, the package's own error when it is there but broken.
FAKE_EXTRAS = {
    "absent": (None, "", ImportError, "f() needs Fake, which is not installed: pip install 'mopsel[fake]'"),
    "submodule-absent": ("", ".sub", ImportError, "f() needs Fake, which is not installed: pip install 'mopsel[fake]'"),
    "broken": ("raise ImportError('broken on purpose')", "", ImportError, "broken on purpose"),
    "dependency-absent": ("import mopsel_no_such_dependency", ".sub", ModuleNotFoundError,
                          "No module named 'mopsel_no_such_dependency'"),
}


@pytest.mark.parametrize("init, submodule, error, message", FAKE_EXTRAS.values(), ids=FAKE_EXTRAS.keys())
def test_only_a_package_that_is_not_there_names_its_extra(init, submodule, error, message, tmp_path, monkeypatch,
                                                           request):
    name = "mopsel_fake_" + request.node.callspec.id.replace("-", "_")
    if init is not None:
        (tmp_path / name).mkdir()
        (tmp_path / name / "__init__.py").write_text(init)
    monkeypatch.syspath_prepend(str(tmp_path))
    monkeypatch.setitem(_extras._EXTRAS, name, ("Fake", "fake"))
    monkeypatch.delitem(sys.modules, name, raising=False)
    with pytest.raises(ImportError) as caught:
        _extras.require(name + submodule, "f()")
    assert (type(caught.value), str(caught.value)) == (error, message)
    assert _extras.is_missing_extra(caught.value) == message.endswith("'mopsel[fake]'")


# Each module with the functions whose docstrings hold examples: all of them run, and pass.
DOCTESTED = [(_read, ["read", "check"]), (_write, ["write"]), (_from_arrays, ["from_arrays"]),
             (_scipy, ["to_scipy", "to_scipy_hessian", "to_milp"]), (_highs, ["to_highs", "from_highs"]),
             (_scip, ["to_scip"]),
             (_diff, ["diff", "equal"]), (_stats, ["stats"]), (_names, ["names"]),
             (_solution, ["evaluate", "read_solution", "write_solution"]), (_pandas, ["to_pandas", "to_polars"]),
             (_corpus, ["stats_table"])]


@pytest.mark.parametrize("module, functions", DOCTESTED, ids=[m.__name__ for m, _ in DOCTESTED])
def test_docstring_examples(module, functions):
    extras = {"_scipy": ["scipy"], "_highs": ["highspy"], "_scip": ["pyscipopt"], "_pandas": ["pandas", "polars"],
              "_corpus": ["pandas"]}
    for extra in extras.get(module.__name__.rpartition(".")[2], []):
        pytest.importorskip(extra)
    tests = {test.name.rpartition(".")[2]: test for test in doctest.DocTestFinder().find(module) if test.examples}
    assert sorted(tests) == sorted(functions)
    runner = doctest.DocTestRunner(optionflags=doctest.NORMALIZE_WHITESPACE)
    for test in tests.values():
        runner.run(test)
    assert runner.failures == 0 and runner.tries >= 2 * len(functions)


def test_the_usage_guide_opens_with_a_working_ten_line_example(tmp_path, monkeypatch, capsys):
    pytest.importorskip("scipy")
    guide = (Path(__file__).resolve().parents[2] / "docs" / "usage.md").read_text()
    code = guide.split("```python\n", 1)[1].split("```", 1)[0]
    assert len([line for line in code.splitlines() if line.strip()]) == 10
    monkeypatch.chdir(tmp_path)
    exec(compile(code, "usage.md", "exec"), {})
    assert capsys.readouterr().out == "-7.0\n"
    assert (tmp_path / "model.mps.gz").read_bytes()[:2] == b"\x1f\x8b"



# PARTS_MPS with parts removed (sections cut from the text), and what each conversion says of
# the rest: to_milp takes no part, to_highs the quadratic objective only.
PARTS_CUTS = {
    "every part": ((), "a quadratic objective, quadratic rows, SOS sets, indicators",
                   "quadratic rows, SOS sets, indicators"),
    "SOS only": (("QUADOBJ", "QCMATRIX", "QSECTION", "INDICATORS"), "SOS sets", "SOS sets"),
    "indicators only": (("SOS", "QUADOBJ", "QCMATRIX", "QSECTION"), "indicators", "indicators"),
    "quadratic rows only": (("SOS", "QUADOBJ", "INDICATORS"), "quadratic rows", "quadratic rows"),
    "quadratic objective only": (("SOS", "QCMATRIX", "QSECTION", "INDICATORS"), "a quadratic objective", None),
}


def cut_sections(text, sections):
    """The text without the named sections (each from its header to the next header)."""
    kept, skipping = [], False
    for line in text.splitlines(keepends=True):
        if not line[0].isspace():
            skipping = line.split()[0] in sections
        if not skipping:
            kept.append(line)
    return "".join(kept)


@pytest.mark.parametrize("cut, milp, highs", PARTS_CUTS.values(), ids=PARTS_CUTS.keys())
def test_conversions_refuse_what_they_cannot_carry(cut, milp, highs):
    m = mopsel.parse_str(cut_sections(PARTS_MPS, cut))
    if importlib.util.find_spec("scipy"):
        with pytest.raises(ValueError) as caught:
            mopsel.to_milp(m)
        assert str(caught.value) == f"mopsel.to_milp carries linear and mixed-integer models only; this model has {milp}"
    if importlib.util.find_spec("highspy"):
        if highs is None:
            assert mopsel.to_highs(m).hessian_.dim_ == 3
        else:
            with pytest.raises(ValueError) as caught:
                mopsel.to_highs(m)
            assert str(caught.value) == ("mopsel.to_highs carries linear and mixed-integer models and quadratic "
                                         f"objectives only; this model has {highs}, which HiGHS does not take")


# H = [[2, 1, 0], [1, 4, -1], [0, -1, 6]] as the objective's Hessian and, for row c2, H_r = diag(0, 0, 3).
QP_TEXT = cut_sections(PARTS_MPS, ("SOS", "INDICATORS")).replace("QUADOBJ\n", "QUADOBJ\n    y  y  -1\n")


# (row asked for, lower, the matrix, the Model's own triangle: "objective" or the row's position)
@pytest.mark.parametrize("row, lower, expected, own", [
    (None, False, [[2.0, 0.0, -0.5], [0.0, -1.0, 0.0], [-0.5, 0.0, 4.0]], "objective"),
    (None, True, [[2.0, 0.0, 0.0], [0.0, -1.0, 0.0], [-0.5, 0.0, 4.0]], "objective"),
    ("c1", False, [[2.0, 0.0, 0.5], [0.0, 0.0, 0.0], [0.5, 0.0, 0.0]], 0),
    (0, True, [[2.0, 0.0, 0.0], [0.0, 0.0, 0.0], [0.5, 0.0, 0.0]], 0),
    (np.int64(1), False, [[0.0, 0.0, 0.0], [0.0, 0.0, 0.0], [0.0, 0.0, 3.0]], 1),
    ("c3", False, [[0.0] * 3] * 3, None),  # a row without a Hessian
])
def test_to_scipy_hessian_whole_or_lower(row, lower, expected, own):
    pytest.importorskip("scipy")
    m = mopsel.parse_str(QP_TEXT)
    h = mopsel.to_scipy_hessian(m, row, lower=lower)
    assert h.format == "csc" and h.shape == (3, 3)
    assert h.toarray().tolist() == expected
    triangle = m.hessian if own == "objective" else m.row_hessians.get(own)
    if triangle is None:
        return
    if lower:  # the Model's own buffers
        assert np.shares_memory(h.data, triangle.value) and np.shares_memory(h.indices, triangle.index)
        return
    assert h.has_sorted_indices and not np.shares_memory(h.data, triangle.value)
    # x'Hx from the lower triangle, each entry below the diagonal counted twice
    x = np.array([1.0, -2.0, 0.5])
    cols = np.repeat(np.arange(3), np.diff(triangle.start.astype(np.int64)))
    rows = triangle.index.astype(np.int64)
    weights = np.where(rows == cols, 1.0, 2.0) * triangle.value
    assert x @ h @ x == pytest.approx(float(np.sum(weights * x[rows] * x[cols])), rel=1e-15)


@pytest.mark.parametrize("row, message", [
    (3, "row: 3 is not a row (there are 3)"), (-1, "row: -1 is not a row (there are 3)"),
    (True, "row: True is not a row (there are 3)"), ("nope", "row: no row is called 'nope'"),
    ("cost", "row: no row is called 'cost' (the objective's Hessian is row=None)"),
])
def test_to_scipy_hessian_refuses_what_is_no_row(row, message):
    pytest.importorskip("scipy")
    with pytest.raises(ValueError) as caught:
        mopsel.to_scipy_hessian(mopsel.parse_str(QP_TEXT), row)
    assert str(caught.value) == message


def highs_hessian(highspy, format_name, start, index, value, dim=2):
    h = highspy.HighsHessian()
    h.dim_, h.format_ = dim, getattr(highspy.HessianFormat, format_name)
    h.start_, h.index_, h.value_ = start, index, value
    return h


# A HiGHS Hessian of two columns, and the lower triangle from_highs makes of it (None: no
# Hessian), or the error.
HIGHS_HESSIANS = {
    "triangular": ("kTriangular", [0, 2, 3], [0, 1, 1], [2.0, 1.0, 4.0], ([0, 2, 3], [0, 1, 1], [2.0, 1.0, 4.0])),
    "square": ("kSquare", [0, 2, 4], [0, 1, 0, 1], [2.0, 1.0, 1.0, 4.0], ([0, 2, 3], [0, 1, 1], [2.0, 1.0, 4.0])),
    "zeros filled in on the diagonal": ("kTriangular", [0, 2, 3], [0, 1, 1], [0.0, 3.0, 0.0], ([0, 1, 1], [1], [3.0])),
    "spare room after the entries": ("kTriangular", [0, 1, 1], [0, 7, 7], [5.0, 9.0, 9.0], ([0, 1, 1], [0], [5.0])),
    "nothing but zeros": ("kTriangular", [0, 1, 2], [0, 1], [0.0, 0.0], None),
    "square, halves differ": ("kSquare", [0, 2, 4], [0, 1, 0, 1], [2.0, 1.0, 3.0, 4.0],
                              "hessian is not symmetric: [1, 0] is 1.0 but [0, 1] is 3.0 (give one triangle, or both "
                              "halves equal)"),
}


@pytest.mark.parametrize("format_name, start, index, value, expected", HIGHS_HESSIANS.values(),
                         ids=HIGHS_HESSIANS.keys())
def test_from_highs_takes_each_hessian_format(format_name, start, index, value, expected):
    highspy = pytest.importorskip("highspy")
    qp = mopsel.to_highs(mopsel.from_arrays(col_cost=[1.0, -1.0], a_matrix=[[1.0, 1.0]], row_lower=[0.0],
                                            row_upper=[1.0], hessian=np.eye(2)))
    qp.hessian_ = highs_hessian(highspy, format_name, start, index, value)
    if isinstance(expected, str):
        with pytest.raises(ValueError) as caught:
            mopsel.from_highs(qp)
        assert str(caught.value) == expected
        return
    h = mopsel.from_highs(qp).hessian
    assert (None if h is None else (h.start.tolist(), h.index.tolist(), h.value.tolist())) == expected


def test_highs_carries_the_quadratic_objective_both_ways():
    highspy = pytest.importorskip("highspy")
    m = mopsel.parse_str(cut_sections(QP_TEXT, ("QCMATRIX", "QSECTION")))
    qp = mopsel.to_highs(m)
    assert isinstance(qp, highspy.HighsModel) and qp.hessian_.format_ == highspy.HessianFormat.kTriangular
    assert mopsel.equal(mopsel.from_highs(qp, objective_name="cost"), m)
    h = highspy.Highs()
    h.setOptionValue("output_flag", False)
    h.passModel(qp)
    assert mopsel.equal(mopsel.from_highs(h, objective_name="cost"), m)  # a Highs object: the model it holds
    h.clearModel()
    h.addVar(0.0, 1.0)
    assert mopsel.from_highs(h).hessian is None  # an LP in HiGHS has an empty Hessian
    assert isinstance(mopsel.to_highs(mopsel.parse_str(SMALL_MPS)), highspy.HighsLp)
    qp.hessian_ = highs_hessian(highspy, "kTriangular", [0, 1, 1], [0], [1.0])
    with pytest.raises(ValueError, match=r"^hessian_: dimension 2, expected the 3 columns of lp_$"):
        mopsel.from_highs(qp)
