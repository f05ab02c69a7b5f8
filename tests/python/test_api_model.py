"""Model and SparseMatrix: attribute values and types, storage kinds, read-only access,
construction refused, representations, and the NumPy arrays with their ownership."""

import gc
import itertools

import numpy as np
import pytest

import mopsel._mopsel as mm
from mopsel_testlib import ARRAY_DTYPES, ARRAY_PATHS, EMPTY_MPS, SMALL_MPS, generated_mps, get_array, snapshot

INF = float("inf")
OBJECT_SLOTS = ["col_cost", "col_lower", "col_upper", "row_lower", "row_upper", "col_integrality", "a_matrix",
                "hessian", "sos", "indicators"]
NATIVE_VALUES = ["name", "num_row", "num_col", "obj_sense_minimize", "obj_offset", "objective_name",
                 "col_names", "row_names", "row_hessians"]
MATRIX_ATTRIBUTES = ["start", "index", "value"]

MODELS = {
    "small": (SMALL_MPS, dict(
        name="demo", num_row=3, num_col=2, obj_sense_minimize=True, obj_offset=1.5, objective_name="cost",
        row_names=["c1", "c2", "c3"], col_names=["x", "y"], row_lower=[1.0, 1.0, 2.0], row_upper=[4.0, INF, 2.0],
        col_cost=[1.0, 2.0], col_lower=[0.0, 0.0], col_upper=[10.0, 1.0], col_integrality=[0, 1],
        start=[0, 2, 3], index=[0, 1, 0], value=[1.0, 2.0, 3.0])),
    "max_and_defaults": ("OBJSENSE MAX\nROWS\n E r\nCOLUMNS\n    x r 1\nENDATA\n", dict(
        name="", obj_sense_minimize=False, obj_offset=0.0, objective_name="Objective")),
    "non_ascii_names": (
        "NAME ñandú\nROWS\n N ziel_ß\n E zeile_€\nCOLUMNS\n    spalte_✓ zeile_€ 1\nENDATA\n",
        dict(name="ñandú", objective_name="ziel_ß", row_names=["zeile_€"], col_names=["spalte_✓"])),
    "empty": (EMPTY_MPS, dict(
        name="", num_row=0, num_col=0, objective_name="Objective", row_names=[], col_names=[], col_cost=[],
        row_lower=[], col_integrality=[], start=[0], index=[], value=[])),
}


@pytest.mark.parametrize("text, expected", MODELS.values(), ids=list(MODELS))
def test_attribute_values_and_types(text, expected):
    m = mm.parse_str(text)
    assert type(m) is mm.Model and type(m.a_matrix) is mm.SparseMatrix
    for key, want in expected.items():
        got = getattr(m.a_matrix if key in MATRIX_ATTRIBUTES else m, key)
        assert (got.tolist() if isinstance(got, np.ndarray) else got) == want, key
    for attr, kind in [("name", str), ("objective_name", str), ("num_row", int), ("num_col", int),
                       ("obj_sense_minimize", bool), ("obj_offset", float), ("row_names", list),
                       ("col_names", list)]:
        assert type(getattr(m, attr)) is kind, attr
    assert all(type(n) is str for n in m.row_names + m.col_names)


def test_class_attribute_storage_kinds():
    own = [k for k in vars(mm.Model) if not k.startswith("__")]
    assert sorted(own) == sorted(OBJECT_SLOTS + NATIVE_VALUES)
    # Declaration order is kept within each storage kind.
    assert [k for k in own if type(vars(mm.Model)[k]).__name__ == "member_descriptor"] == OBJECT_SLOTS
    assert [k for k in own if type(vars(mm.Model)[k]).__name__ == "getset_descriptor"] == NATIVE_VALUES
    own = [k for k in vars(mm.SparseMatrix) if not k.startswith("__")]
    assert own == MATRIX_ATTRIBUTES
    assert all(type(vars(mm.SparseMatrix)[k]).__name__ == "member_descriptor" for k in own)


def test_object_slots_return_the_same_object_and_names_new_lists(small_model):
    m = small_model
    for owner, name in [(m, n) for n in OBJECT_SLOTS] + [(m.a_matrix, n) for n in MATRIX_ATTRIBUTES]:
        assert getattr(owner, name) is getattr(owner, name), name
    for name in ["row_names", "col_names"]:
        first, second = getattr(m, name), getattr(m, name)
        assert first is not second and first == second
        first.append("extra")
        first[0] = "changed"
        assert getattr(m, name) == second


@pytest.mark.parametrize("owner, name", [("model", n) for n in OBJECT_SLOTS + NATIVE_VALUES + ["other", "__dict__"]]
                         + [("matrix", n) for n in MATRIX_ATTRIBUTES + ["nnz"]])
def test_attributes_cannot_be_set_or_deleted(owner, name, small_model):
    obj = small_model if owner == "model" else small_model.a_matrix
    before = snapshot(small_model)
    for value in (np.zeros(3, dtype=np.uint32), 1):
        with pytest.raises(AttributeError):
            setattr(obj, name, value)
    with pytest.raises(AttributeError):
        delattr(obj, name)
    assert snapshot(small_model) == before


def test_no_instance_dict_and_identity_semantics(small_model):
    assert not hasattr(small_model, "__dict__") and not hasattr(small_model.a_matrix, "__dict__")
    assert [a for a in ["num_col", "nnz", "shape"] if hasattr(small_model.a_matrix, a)] == []
    other = mm.parse_str(SMALL_MPS)
    assert small_model == small_model and small_model != other
    assert {small_model: 1}[small_model] == 1


@pytest.mark.parametrize("cls_name", ["Model", "SparseMatrix", "PySliceContainer"])
@pytest.mark.parametrize("args, kwargs", [((), {}), ((1, 2), {}), ((), {"name": "x"})])
def test_no_constructor(cls_name, args, kwargs, small_model):
    cls = {"Model": mm.Model, "SparseMatrix": mm.SparseMatrix, "PySliceContainer": type(small_model.col_cost.base)}
    cls = cls[cls_name]
    with pytest.raises(TypeError) as ei:
        cls(*args, **kwargs)
    assert type(ei.value) is TypeError and ei.value.args == (f"No constructor defined for {cls_name}",)
    with pytest.raises(TypeError):
        cls.__new__(cls)
    if cls_name == "PySliceContainer":
        assert cls.__qualname__ == "PySliceContainer"
        assert isinstance(cls.__doc__, str) and cls.__doc__.strip()


@pytest.mark.parametrize("text, model_repr, matrix_repr", [
    (SMALL_MPS, "Model(name=demo, num_row=3, num_col=2, sense=min)", "SparseMatrix(num_col=2, nnz=3)"),
    (EMPTY_MPS, "Model(name=, num_row=0, num_col=0, sense=min)", "SparseMatrix(num_col=0, nnz=0)"),
    ("NAME the_model words\nOBJSENSE\n MAXIMIZE\nROWS\n N o\n L r\nCOLUMNS\n    a o 1\n    b r 2\nENDATA\n",
     "Model(name=the_model, num_row=1, num_col=2, sense=max)", "SparseMatrix(num_col=2, nnz=1)"),
    ("NAME 'quo\"te'\nROWS\n N o\nCOLUMNS\nENDATA\n",
     "Model(name='quo\"te', num_row=0, num_col=0, sense=min)", "SparseMatrix(num_col=0, nnz=0)"),
], ids=["small", "empty", "max", "quotes_kept"])
def test_reprs(text, model_repr, matrix_repr):
    m = mm.parse_str(text)
    assert repr(m) == str(m) == model_repr
    assert repr(m.a_matrix) == matrix_repr


def test_matrix_repr_follows_the_arrays_as_they_are(small_model):
    a = small_model.a_matrix
    a.start.shape = (3, 1)
    a.value.shape = (1, 3, 1)
    assert repr(a) == "SparseMatrix(num_col=2, nnz=3)"


@pytest.mark.parametrize("path", ARRAY_PATHS)
def test_array_layout_and_ownership(path, small_model):
    arr = get_array(small_model, path)
    assert type(arr) is np.ndarray and arr.dtype == ARRAY_DTYPES[path] and arr.dtype.isnative
    want = {"a_matrix.start": 3, "a_matrix.index": 3, "a_matrix.value": 3, "row_lower": 3, "row_upper": 3}
    assert arr.shape == (want.get(path, 2),) and arr.strides == (arr.itemsize,)
    assert arr.flags.c_contiguous and arr.flags.aligned and arr.flags.writeable
    assert not arr.flags.owndata
    assert type(arr.base).__name__ == "PySliceContainer"


def test_arrays_own_separate_buffers_and_outlive_their_model():
    m = mm.parse_str(generated_mps(500, 60))
    kept = {p: get_array(m, p) for p in ARRAY_PATHS}
    for a, b in itertools.combinations(kept.values(), 2):
        assert not np.shares_memory(a, b) and a.base is not b.base
    expected = {p: a.copy() for p, a in kept.items()}
    views = {p: a[1::2] for p, a in kept.items()}
    matrix = m.a_matrix
    del m
    gc.collect()
    # Churn the allocator so that freed buffers would be reused and overwritten.
    churn = [mm.parse_str(generated_mps(500, 60, name=f"c{i}")) for i in range(5)]
    for c in churn:
        for p in ARRAY_PATHS:
            get_array(c, p)[...] = 7
    for p in ARRAY_PATHS:
        assert np.array_equal(kept[p], expected[p]) and np.array_equal(views[p], expected[p][1::2]), p
    del kept
    gc.collect()
    for p in ARRAY_PATHS:
        assert np.array_equal(views[p], expected[p][1::2]), p
    assert np.array_equal(matrix.value, expected["a_matrix.value"])
    assert repr(matrix) == f"SparseMatrix(num_col=500, nnz={len(expected['a_matrix.value'])})"
