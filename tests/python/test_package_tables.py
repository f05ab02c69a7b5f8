"""mopsel.stats against the figures of the info command's reference model, and its dict and
JSON forms; to_pandas and to_polars: the values, the kinds, the matrix in long form (rebuilt
into the dense matrix), and which columns share the model's arrays."""

from __future__ import annotations

import json

import numpy as np
import pytest

import mopsel
from mopsel_testlib import KINDS_MPS, KINDS_STATS

TABLE_MODEL = dict(col_cost=[1.0, -2.0, 0.5, 0.0], a_matrix=np.array([[1.0, 0, 2, 0], [0, 3, 0, 0], [4, 0, 5, 0]]),
                   row_lower=[1.0, -np.inf, -np.inf], row_upper=[1.0, 8.0, np.inf], col_lower=[0.0, -1.0, 2.0, 0.0],
                   col_upper=[1.0, 5.0, 6.0, np.inf], col_integrality=[1, 0, 2, 3], col_names=["a", "b", "c", "d"],
                   row_names=["eq", "le", "free"])


def test_stats_gives_the_figures_of_info():
    s = mopsel.stats(mopsel.parse_str(KINDS_MPS))
    want = {k: (tuple(v) if isinstance(v, list) else v) for k, v in KINDS_STATS.items()}
    want["ranges"] = {k: tuple(v) for k, v in KINDS_STATS["ranges"].items()}
    assert {k: s.to_dict()[k] for k in want} == want and set(s.to_dict()) == set(KINDS_STATS)
    assert (s.rows, s.column_kinds["semi-continuous"], s.ranges["rhs"]) == (5, 1, (2.0, 10.0))
    assert json.loads(s.to_json()) == KINDS_STATS
    s.to_dict()["row_kinds"]["E"] = 99  # a copy
    assert s.row_kinds["E"] == 2


def test_stats_json_is_strict_and_the_argument_is_named():
    m = mopsel.from_arrays(col_cost=[0.0], a_matrix=np.zeros((1, 1)), row_lower=[-np.inf], row_upper=[np.inf])
    text = mopsel.stats(m).to_json()
    assert json.loads(text)["ranges"] == {k: None for k in KINDS_STATS["ranges"]}
    assert "Infinity" not in text and "NaN" not in text
    with pytest.raises(TypeError, match="argument 'model': expected a Model, got list"):
        mopsel.stats([])


@pytest.fixture(scope="module")
def model():
    return mopsel.from_arrays(**TABLE_MODEL)


def dense_from_long_form(rows, cols, values, shape):
    dense = np.zeros(shape)
    dense[np.asarray(rows, dtype=np.int64), np.asarray(cols, dtype=np.int64)] = values
    return dense


def test_to_pandas(model):
    pytest.importorskip("pandas")
    columns, rows, entries = mopsel.to_pandas(model, matrix=True)
    assert columns["name"].tolist() == TABLE_MODEL["col_names"] and rows["name"].tolist() == TABLE_MODEL["row_names"]
    assert columns["kind"].tolist() == ["integer", "continuous", "semi-continuous", "semi-integer"]
    assert rows["kind"].tolist() == ["E", "L", "free"] and str(rows["kind"].dtype) == "category"
    for table, attribute, prefix in ((columns, "cost", "col_"), (columns, "lower", "col_"), (columns, "upper", "col_"),
                                     (rows, "lower", "row_"), (rows, "upper", "row_")):
        array = getattr(model, prefix + attribute)
        assert table[attribute].tolist() == array.tolist() and np.shares_memory(table[attribute].to_numpy(), array)
    assert np.shares_memory(entries["value"].to_numpy(), model.a_matrix.value)
    assert np.shares_memory(entries["row"].to_numpy(), model.a_matrix.index)
    assert (dense_from_long_form(entries["row"], entries["col"], entries["value"], (3, 4)) == TABLE_MODEL["a_matrix"]).all()
    assert mopsel.to_pandas(model).matrix is None


def test_to_polars(model):
    pytest.importorskip("polars")
    columns, rows, entries = mopsel.to_polars(model, matrix=True)
    assert columns["name"].to_list() == TABLE_MODEL["col_names"]
    assert columns["kind"].to_list() == ["integer", "continuous", "semi-continuous", "semi-integer"]
    assert rows["kind"].to_list() == ["E", "L", "free"] and rows["upper"].to_list() == [1.0, 8.0, np.inf]
    assert columns["cost"].to_list() == TABLE_MODEL["col_cost"]
    dense = dense_from_long_form(entries["row"].to_numpy(), entries["col"].to_numpy(), entries["value"].to_numpy(), (3, 4))
    assert (dense == TABLE_MODEL["a_matrix"]).all()


@pytest.mark.parametrize("function, module", [(mopsel.to_pandas, "pandas"), (mopsel.to_polars, "polars"),
                                              (mopsel.stats_table, "pandas")])
def test_a_missing_extra_is_named(function, module, monkeypatch, model):
    monkeypatch.setitem(__import__("sys").modules, module, None)
    with pytest.raises(ImportError, match=rf"pip install 'mopsel\[{module}\]'"):
        function([] if function is mopsel.stats_table else model)
