"""The conversions to SciPy and HiGHS: shared buffers, the way back from a HighsLp, ImportError
naming the extra (only for a package that is not installed), the examples in the docstrings of
the package's functions (read, check, write, from_arrays and the conversions, small models solved
both ways) and at the top of the user guide; the solve comparison on the public models is in
real/test_real_package.py."""

import doctest
import sys
from pathlib import Path

import numpy as np
import pytest

import mopsel
from mopsel import _corpus, _diff, _extras, _from_arrays, _highs, _names, _pandas, _read, _scipy, _solution, _stats, _write
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
             (_scipy, ["to_scipy", "to_milp"]), (_highs, ["to_highs", "from_highs"]),
             (_diff, ["diff", "equal"]), (_stats, ["stats"]), (_names, ["names"]),
             (_solution, ["evaluate", "read_solution", "write_solution"]), (_pandas, ["to_pandas", "to_polars"]),
             (_corpus, ["stats_table"])]


@pytest.mark.parametrize("module, functions", DOCTESTED, ids=[m.__name__ for m, _ in DOCTESTED])
def test_docstring_examples(module, functions):
    extras = {"_scipy": ["scipy"], "_highs": ["highspy"], "_pandas": ["pandas", "polars"], "_corpus": ["pandas"]}
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



@pytest.mark.parametrize("convert, module", [(lambda m: mopsel.to_highs(m), "highspy"),
                                             (lambda m: mopsel.to_milp(m), "scipy")])
def test_conversions_refuse_what_they_cannot_carry(convert, module):
    pytest.importorskip(module)
    with pytest.raises(ValueError, match="carries linear and mixed-integer models only; this model has a quadratic "
                                         "objective, quadratic rows, SOS sets, indicators$"):
        convert(mopsel.parse_str(PARTS_MPS))
