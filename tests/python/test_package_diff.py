"""mopsel.diff against a plain dict-based reference on random models, the result object, exact
equality (mopsel.equal), and the Hessian of a quadratic model (through a stand-in that adds
one to a Model) in diff, equal, stats and evaluate."""

from __future__ import annotations

import copy
import re
import struct
from typing import Any, NamedTuple

import numpy as np
import pytest

import mopsel

BASE = dict(col_cost=[1.0, 2.0, 0.0], a_matrix=np.array([[1.0, 0.0, 2.0], [0.0, 3.0, 4.0]]), row_lower=[1.0, -np.inf],
            row_upper=[5.0, 8.0], col_upper=[4.0, np.inf, 1.0], col_integrality=[0, 1, 0], col_names=["x", "y", "z"],
            row_names=["r1", "r2"], name="m")


def model(**changes: Any) -> mopsel.Model:
    return mopsel.from_arrays(**{**BASE, **changes})


def random_pair(seed: int):
    """A random model and an edited copy: rows and columns dropped, added and shuffled, and a
    few costs, bounds and matrix values changed, entries dropped and added."""
    rng = np.random.default_rng(seed)
    n_row, n_col = rng.integers(5, 30, size=2)
    dense = np.where(rng.random((n_row, n_col)) < 0.3, rng.integers(1, 5, (n_row, n_col)), 0).astype(float)
    a = dict(col_cost=rng.integers(0, 3, n_col).astype(float), a_matrix=dense, row_lower=np.full(n_row, -np.inf),
             row_upper=rng.integers(0, 9, n_row).astype(float), col_upper=rng.integers(1, 9, n_col).astype(float),
             col_integrality=rng.integers(0, 2, n_col), row_names=[f"r{i}" for i in range(n_row)],
             col_names=[f"c{j}" for j in range(n_col)])
    b = {k: (v.copy() if isinstance(v, np.ndarray) else list(v)) for k, v in a.items()}
    for key in ("col_cost", "row_upper", "col_upper"):
        b[key][rng.integers(0, len(b[key]), 2)] += 1
    b["col_integrality"][rng.integers(0, n_col)] ^= 1
    changed = b["a_matrix"]
    changed[rng.integers(0, n_row, 4), rng.integers(0, n_col, 4)] = rng.integers(0, 3, 4)
    b["row_names"][0], b["col_names"][-1] = "new_row", "new_col"
    keep_r, keep_c = rng.permutation(n_row)[: n_row - 1], rng.permutation(n_col)[: n_col - 1]
    for key, keep in (("row_upper", keep_r), ("row_lower", keep_r), ("col_cost", keep_c), ("col_upper", keep_c),
                      ("col_integrality", keep_c)):
        b[key] = b[key][keep]
    b["row_names"], b["col_names"] = [b["row_names"][i] for i in keep_r], [b["col_names"][j] for j in keep_c]
    b["a_matrix"] = changed[np.ix_(keep_r, keep_c)]
    return mopsel.from_arrays(**a), mopsel.from_arrays(**b)


def reference_counts(ma, mb) -> dict:
    """The counts of each kind of difference, by dicts of names (the slow, obvious way)."""
    def entries(m):
        rows, cols, start = m.row_names, m.col_names, m.a_matrix.start
        return {(rows[i], cols[j]): v for j in range(m.num_col)
                for i, v in zip(m.a_matrix.index[start[j]:start[j + 1]], m.a_matrix.value[start[j]:start[j + 1]])}

    out = {}
    for what, na, nb in (("row", ma.row_names, mb.row_names), ("column", ma.col_names, mb.col_names)):
        out[f"{what}s removed"] = len(set(na) - set(nb))
        out[f"{what}s added"] = len(set(nb) - set(na))
        common_a, common_b = [n for n in na if n in set(nb)], [n for n in nb if n in set(na)]
        out[f"{what}s in another order"] = sum(x != y for x, y in zip(common_a, common_b))
    ra, rb = dict(zip(ma.row_names, zip(ma.row_lower, ma.row_upper))), dict(zip(mb.row_names, zip(mb.row_lower, mb.row_upper)))
    out["row bounds"] = sum(ra[n] != rb[n] for n in ra if n in rb)
    for kind, field in (("column costs", "col_cost"), ("integrality", "col_integrality")):
        fa, fb = dict(zip(ma.col_names, getattr(ma, field))), dict(zip(mb.col_names, getattr(mb, field)))
        out[kind] = sum(fa[n] != fb[n] for n in fa if n in fb)
    ca = dict(zip(ma.col_names, zip(ma.col_lower, ma.col_upper)))
    cb = dict(zip(mb.col_names, zip(mb.col_lower, mb.col_upper)))
    out["column bounds"] = sum(ca[n] != cb[n] for n in ca if n in cb)
    ea, eb = entries(ma), entries(mb)
    shared = lambda key, names: key[0] in names[0] and key[1] in names[1]  # noqa: E731
    names_b, names_a = (set(mb.row_names), set(mb.col_names)), (set(ma.row_names), set(ma.col_names))
    out["matrix entries removed"] = sum(k not in eb and shared(k, names_b) for k in ea)
    out["matrix entries added"] = sum(k not in ea and shared(k, names_a) for k in eb)
    out["matrix values"] = sum(ea[k] != eb[k] for k in ea if k in eb)
    return {k: v for k, v in out.items() if v}


@pytest.mark.parametrize("seed", range(12))
def test_diff_agrees_with_a_dict_based_reference(seed):
    ma, mb = random_pair(seed)
    found = mopsel.diff(ma, mb)
    assert found and found.counts() == reference_counts(ma, mb)
    assert not mopsel.diff(ma, ma) and mopsel.diff(ma, ma).differences == ()


def test_diff_matches_repeated_names_by_occurrence():
    text = "NAME\nROWS\n N obj\n L r\n L r\n L s\nCOLUMNS\n x r 1 s 2\nRHS\n RHS r 1\nENDATA\n"
    a, b = mopsel.parse_str(text), mopsel.parse_str(text.replace(" L s\n", "").replace(" s 2", ""))
    assert mopsel.diff(a, b).counts() == {"rows removed": 1}


def test_the_result_object():
    found = mopsel.diff(model(), model(col_cost=[1.0, 2.5, 0.0], row_upper=[6.0, 8.0]), show=1)
    assert len(found) == 2 and [d.kind for d in found] == ["row bounds", "column costs"]
    assert found["column costs"] == mopsel.Difference("column costs", 1, 3, ["y: 2.0 -> 2.5"])
    with pytest.raises(KeyError):
        found["sense"]
    assert found.to_dict()[0] == {"kind": "row bounds", "count": 1, "of": 2, "examples": ["r1: [1.0, 5.0] -> [1.0, 6.0]"]}
    assert str(found).splitlines()[-1] == "2 kinds of difference"
    assert str(mopsel.diff(model(), model())) == "no differences"


@pytest.mark.parametrize("kwargs, error, message", [
    (dict(rtol=-1.0), ValueError, "argument 'rtol': expected a finite number >= 0, got -1.0"),
    (dict(atol=float("nan")), ValueError, "argument 'atol'"),
    (dict(show=-1), ValueError, "argument 'show'"),
    (dict(b="model"), TypeError, "argument 'b': expected a Model, got str"),
])
def test_diff_refuses_bad_arguments(kwargs, error, message):
    arguments = {"a": model(), "b": model(), **kwargs}
    with pytest.raises(error, match=re.escape(message)):
        mopsel.diff(arguments.pop("a"), arguments.pop("b"), **arguments)


def with_nan_cost(payload: int) -> mopsel.Model:
    """The model with a NaN cost (edited in: from_arrays refuses NaN), of the given payload."""
    m = model()
    m.col_cost[2] = struct.unpack("<d", struct.pack("<Q", 0x7FF8000000000000 | payload))[0]
    return m


# Model pairs -> equal?
EQUAL = {
    "the same arrays": (model(), model(), True),
    "a copy": (model(), copy.deepcopy(model()), True),
    "written and read back exactly": (model(), "exact", True),
    "-0.0 and 0.0": (model(col_cost=[1.0, 2.0, -0.0]), model(), False),
    "NaN and NaN of another payload": (with_nan_cost(1), with_nan_cost(7), True),
    "NaN and a number": (with_nan_cost(1), model(), False),
    "one bit of a bound": (model(col_upper=[4.0, np.inf, np.nextafter(1.0, 2.0)]), model(), False),
    "a name": (model(col_names=["x", "y", "w"]), model(), False),
    "the sense": (model(minimize=False), model(), False),
    "the entries of a column in another order": (model(), "reordered", False),
}


@pytest.mark.parametrize("a, b, same", EQUAL.values(), ids=list(EQUAL))
def test_equal_is_bit_for_bit(a, b, same, tmp_path):
    if b == "exact":
        mopsel.write(a, tmp_path / "m.mps", digits=None)
        b = mopsel.read(tmp_path / "m.mps")
    elif b == "reordered":  # column z holds rows r1 and r2: the same entries, r2 first
        m = a.a_matrix
        b = mopsel.from_arrays(**{**BASE, "a_matrix": (m.start, m.index[[0, 1, 3, 2]], m.value[[0, 1, 3, 2]])})
        assert not mopsel.diff(a, b)  # by name, nothing differs
    assert mopsel.equal(a, b) is same and mopsel.equal(b, a) is same
    with pytest.raises(TypeError, match="argument 'b'"):
        mopsel.equal(a, None)


# A quadratic model ---------------------------------------------------------------------------


class Triangle(NamedTuple):
    """A lower-triangle matrix held column-wise, as a Model's Hessian."""

    start: np.ndarray
    index: np.ndarray
    value: np.ndarray


def lower_triangle(dense: np.ndarray) -> Triangle:
    rows, values, start = [], [], [0]
    for j in range(dense.shape[1]):
        below = np.flatnonzero(dense[j:, j]) + j
        rows += below.tolist()
        values += dense[below, j].tolist()
        start.append(len(rows))
    return Triangle(np.array(start, np.uint32), np.array(rows, np.uint32), np.array(values))


class QuadraticModel:
    """A Model with a Hessian (and row Hessians): the attributes a quadratic model has."""

    def __init__(self, model, hessian=None, row_hessians=None):
        self._model, self.hessian, self.row_hessians = model, hessian, row_hessians

    def __getattr__(self, name):
        return getattr(self._model, name)

    def __dir__(self):
        return sorted(set(dir(self._model)) | {"hessian", "row_hessians"})


Q = np.array([[2.0, 1.0, 0.0], [1.0, 4.0, -1.0], [0.0, -1.0, 6.0]])


def test_the_hessian_counts_in_evaluate_and_stats():
    m = QuadraticModel(model(obj_offset=0.5), lower_triangle(Q), {1: lower_triangle(np.diag([0.0, 2.0, 0.0]))})
    x = np.array([1.0, -2.0, 0.5])
    e = mopsel.evaluate(m, x)
    assert e.objective == pytest.approx(np.dot(BASE["col_cost"], x) + 0.5 * x @ Q @ x + 0.5, rel=1e-15)
    assert e.row_activity.tolist() == pytest.approx([2.0, -6.0 + 2.0 + 4.0])
    figures = mopsel.stats(m).to_dict()
    assert (figures["hessian_nonzeros"], figures["quadratic_rows"]) == (5, 1)
    assert "hessian_nonzeros" not in mopsel.stats(model()).to_dict()


def test_hessians_compare_by_column_names():
    a = QuadraticModel(model(), lower_triangle(Q))
    order = [2, 0, 1]  # B holds the columns z, x, y
    changed = Q.copy()
    changed[1, 1] = 5.0  # one value
    changed[0, 2] = changed[2, 0] = 3.0  # one entry more (x, z)
    cols = dict(col_cost=np.array(BASE["col_cost"])[order], a_matrix=BASE["a_matrix"][:, order],
                col_upper=np.array(BASE["col_upper"])[order], col_integrality=np.array(BASE["col_integrality"])[order],
                col_names=[BASE["col_names"][j] for j in order])
    b = QuadraticModel(model(**cols), lower_triangle(changed[np.ix_(order, order)]))
    found = mopsel.diff(a, b)
    assert found.counts() == {"columns in another order": 3, "Hessian entries added": 1, "Hessian values": 1}
    assert found["Hessian values"].examples == ["(y, y): 4.0 -> 5.0"]
    assert found["Hessian entries added"].examples == ["(x, z)"]
    same = QuadraticModel(model(**cols), lower_triangle(Q[np.ix_(order, order)]))
    assert mopsel.diff(a, same).counts() == {"columns in another order": 3}
    assert mopsel.equal(a, QuadraticModel(model(), lower_triangle(Q)))
    assert not mopsel.equal(a, QuadraticModel(model(), None))
    assert mopsel.diff(a, QuadraticModel(model(), None)).counts() == {"Hessian entries removed": 5}


def test_sos_sets_and_indicators_compare_by_names():
    """The same sets and indicators over columns and rows in another order: no difference of
    theirs; a changed weight names the set and the column."""
    parts = dict(sos=[(1, [0, 2], [1.0, 2.0]), (2, [1, 2, 0])], indicators=[(0, 1, 1), (1, 1, 0)])
    a = model(**parts)
    order = [2, 0, 1]  # B holds the columns z, x, y and the rows r2, r1
    cols = dict(col_cost=np.array(BASE["col_cost"])[order], a_matrix=BASE["a_matrix"][::-1][:, order],
                row_lower=BASE["row_lower"][::-1], row_upper=BASE["row_upper"][::-1], row_names=["r2", "r1"],
                col_upper=np.array(BASE["col_upper"])[order], col_integrality=np.array(BASE["col_integrality"])[order],
                col_names=[BASE["col_names"][j] for j in order])
    moved = dict(sos=[(1, [1, 0], [1.0, 2.0]), (2, [2, 0, 1])], indicators=[(0, 2, 0), (1, 2, 1)])
    b = model(**cols, **moved)
    assert mopsel.diff(a, b).counts() == {"rows in another order": 2, "columns in another order": 3}
    heavier = model(**cols, **dict(moved, sos=[(1, [1, 0], [1.0, 2.5]), (2, [2, 0, 1])]))
    found = mopsel.diff(a, heavier)
    assert found["SOS weights"].examples == ["SOS1 (z): 2.0 -> 2.5"]
    assert mopsel.diff(a, model()).counts() == {"SOS sets removed": 2, "indicators removed": 2}
    assert mopsel.diff(model(), a)["indicators added"].examples == ["r1 if y = 1", "r2 if y = 0"]
