"""mopsel.names: lookups by name against a plain dict of the names (last occurrence wins), for
every kind of argument; errors; the table built once per model and axis, shared by threads;
the model kept alive by its lookups."""

from __future__ import annotations

import gc
import threading

import numpy as np
import pytest

import mopsel

# Short names (kept in the table's slots), long ones (over 16 bytes, compared in the model's
# text), non-ASCII ones, and a row name given twice.
ROWS = ["c1", "c2", "a_row_name_longer_than_sixteen_bytes", "zeilé", "c1", "€uro"]
COLS = ["x", "y", "a_column_name_longer_than_sixteen_bytes_too", "ñ", "𝑥"]


@pytest.fixture(scope="module")
def model():
    text = ["NAME m", "ROWS", " N obj", *[f" L {r}" for r in ROWS], "COLUMNS"]
    text += [f" {c} obj 1 {ROWS[1]} 2" for c in COLS] + ["RHS", " RHS c2 4", "ENDATA"]
    m = mopsel.parse_str("\n".join(text) + "\n")
    assert (m.row_names, m.col_names) == (ROWS, COLS)
    return m


def reference(names, wanted, missing=None):
    where = {name: i for i, name in enumerate(names)}  # a repeated name: its last position
    return [where.get(name, missing) for name in wanted]


WANTED = ROWS + ["nope", "C1", "c1 ", ""]
SHAPES = {
    "list": lambda w: list(w),
    "tuple": lambda w: tuple(w),
    "U array": lambda w: np.array(w),
    "U array, big-endian": lambda w: np.array(w).astype(">U64"),
    "U array, strided": lambda w: np.repeat(np.array(w), 2)[::2],
    "object array": lambda w: np.array(w, dtype=object),
    "generator of a dict's keys": lambda w: dict.fromkeys(w).keys(),
}


@pytest.mark.parametrize("shape", SHAPES)
def test_vectorised_lookups_agree_with_a_dict(model, shape):
    ix = mopsel.names(model)
    wanted = list(dict.fromkeys(WANTED)) if "dict" in shape else WANTED
    got = ix.row(SHAPES[shape](wanted), missing=-1)
    assert got.dtype == np.int64 and got.tolist() == reference(ROWS, wanted, -1)
    present = [w for w in wanted if w in ROWS]
    assert ix.row(SHAPES[shape](present)).tolist() == reference(ROWS, present)


def test_single_lookups_and_two_dimensional_arrays(model):
    ix = mopsel.names(model)
    assert [ix.row(r) for r in ROWS] == reference(ROWS, ROWS) == [4, 1, 2, 3, 4, 5]
    assert [ix.col(c) for c in COLS] == list(range(len(COLS)))
    assert type(ix.col("x")) is int and ix.col("nope", missing=-1) == -1
    grid = np.array([["y", "x"], ["𝑥", "ñ"], ["w", "x"]])
    assert ix.col(grid, missing=-9).tolist() == [[1, 0], [4, 3], [-9, 0]]
    assert ix.col([]).shape == (0,) and ix.col(np.zeros((0, 3), dtype="U2")).shape == (0, 3)
    assert (ix.has_row("zeilé"), ix.has_row("zeile"), ix.has_col("ñ"), ix.has_col(3)) == (True, False, True, False)
    assert repr(ix) == "ModelNames(6 rows, 5 columns)"
    native = mopsel._mopsel._name_index(model, 1)
    assert (native.find(names="y"), native.find("w", missing=-2), native.find(names=["w"], missing=-3).tolist()) == (
        1, -2, [-3])
    assert (len(native), "ñ" in native, repr(native)) == (5, True, "_NameIndex(column, 5 names)")


@pytest.mark.parametrize("call, error, message", [
    (lambda ix: ix.row("nope"), KeyError, "no row named 'nope'"),
    (lambda ix: ix.col(["x", "nope"]), KeyError, "no column named 'nope' (names[1])"),
    (lambda ix: ix.col(np.array(["x", "y", "w"])), KeyError, "no column named 'w' (names[2])"),
    (lambda ix: ix.col(["x", 3]), TypeError, "argument 'names': names[1] is a int, not a str"),
    (lambda ix: ix.col(np.array([1, 2])), TypeError, "argument 'names': expected an array of str, got dtype int64"),
    (lambda ix: ix.col(b"x"), TypeError, "argument 'names': expected a str or a sequence of str, got bytes"),
    (lambda ix: ix.col(None), TypeError, "argument 'names': expected a str or a sequence of str, got NoneType"),
    (lambda ix: ix.col(np.empty(2, dtype=object)), TypeError, "argument 'names': names[0] is a NoneType, not a str"),
    (lambda ix: ix.col("x", missing=1.5), TypeError, "argument 'missing': expected None or an int"),
], ids=["row", "list", "array", "not a str", "int array", "bytes", "None", "empty objects", "float missing"])
def test_errors_name_the_argument_and_the_name(model, call, error, message):
    with pytest.raises(error) as caught:
        call(mopsel.names(model))
    assert (caught.value.args[0] if error is KeyError else str(caught.value)) == message


def test_bad_arguments_of_the_native_entry(model):
    with pytest.raises(TypeError, match="argument 'model'"):
        mopsel._mopsel._name_index("m", 0)
    with pytest.raises(ValueError, match="argument 'axis': expected 0"):
        mopsel._mopsel._name_index(model, 2)
    with pytest.raises(TypeError, match="No constructor defined for _NameIndex"):
        type(mopsel._mopsel._name_index(model, 0))()


def test_the_lookups_keep_their_model_alive():
    m = mopsel.from_arrays(col_cost=np.zeros(3), a_matrix=np.eye(1, 3), row_lower=[0.0], row_upper=[1.0],
                           col_names=["p", "q", "r"])
    ix = mopsel.names(m)
    del m
    gc.collect()
    assert ix.col(["r", "p"]).tolist() == [2, 0]


def test_threads_looking_up_a_fresh_model_all_get_the_right_positions():
    names = [f"col{i:06d}" for i in range(50_000)]
    m = mopsel.from_arrays(col_cost=np.zeros(len(names)), a_matrix=(np.zeros(len(names) + 1, np.int64), [], []),
                           row_lower=[], row_upper=[], col_names=names)
    wanted = np.array(names[::-7])
    results, start = [], threading.Barrier(4)

    def look_up():
        start.wait()  # all at once, while the table is first built
        results.append(mopsel.names(m).col(wanted))

    threads = [threading.Thread(target=look_up) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert len(results) == 4 and all(r.tolist() == list(range(len(names) - 1, -1, -7)) for r in results)
