"""Model and SparseMatrix: attribute values and types, storage kinds, read-only access,
construction refused, representations, and the NumPy arrays with their ownership."""

import gc
import itertools

import numpy as np
import pytest

import mopsel._mopsel as mm
from mopsel_testlib import (
    ARRAY_DTYPES,
    ARRAY_PATHS,
    EMPTY_MPS,
    SMALL_EXPECTED,
    SMALL_MPS,
    check_expected,
    generated_mps,
    get_array,
    snapshot,
)

OBJECT_SLOTS = [
    "col_cost",
    "col_lower",
    "col_upper",
    "row_lower",
    "row_upper",
    "col_integrality",
    "a_matrix",
]
NATIVE_VALUES = [
    "name",
    "num_row",
    "num_col",
    "obj_sense_minimize",
    "obj_offset",
    "objective_name",
    "col_names",
    "row_names",
]
MODEL_ATTRIBUTES = [
    "name",
    "num_row",
    "num_col",
    "obj_sense_minimize",
    "obj_offset",
    "objective_name",
    "col_cost",
    "col_lower",
    "col_upper",
    "row_lower",
    "row_upper",
    "col_integrality",
    "a_matrix",
    "col_names",
    "row_names",
]
MATRIX_ATTRIBUTES = ["start", "index", "value"]


def test_small_model_values_and_types(small_model):
    check_expected(small_model, SMALL_EXPECTED)
    m = small_model
    assert type(m) is mm.Model
    assert type(m.a_matrix) is mm.SparseMatrix
    for attr, kind in [
        ("name", str),
        ("objective_name", str),
        ("num_row", int),
        ("num_col", int),
        ("obj_sense_minimize", bool),
        ("obj_offset", float),
        ("row_names", list),
        ("col_names", list),
    ]:
        assert type(getattr(m, attr)) is kind, attr
    assert all(type(n) is str for n in m.row_names + m.col_names)


def test_maximising_model_and_defaults():
    m = mm.parse_str("OBJSENSE MAX\nROWS\n E r\nCOLUMNS\n    x r 1\nENDATA\n")
    assert m.obj_sense_minimize is False
    assert m.name == ""
    assert m.objective_name == "Objective"
    assert m.obj_offset == 0.0


def test_non_ascii_names_are_decoded():
    text = "NAME ñandú\nROWS\n N zielfunktion_ß\n E zeile_€\nCOLUMNS\n    spalte_✓ zeile_€ 1\nENDATA\n"
    m = mm.parse_str(text)
    assert m.name == "ñandú"
    assert m.objective_name == "zielfunktion_ß"
    assert m.row_names == ["zeile_€"]
    assert m.col_names == ["spalte_✓"]


def test_class_attribute_storage_kinds():
    model_dict = vars(mm.Model)
    for name in OBJECT_SLOTS:
        assert type(model_dict[name]).__name__ == "member_descriptor", name
    for name in NATIVE_VALUES:
        assert type(model_dict[name]).__name__ == "getset_descriptor", name
    for name in MATRIX_ATTRIBUTES:
        assert type(vars(mm.SparseMatrix)[name]).__name__ == "member_descriptor", name
    for cls, names in [(mm.Model, MODEL_ATTRIBUTES), (mm.SparseMatrix, MATRIX_ATTRIBUTES)]:
        own = [k for k in vars(cls) if not k.startswith("__")]
        assert sorted(own) == sorted(names), cls
    # Declaration order is kept within each storage kind.
    own = list(vars(mm.Model))
    assert [k for k in own if k in OBJECT_SLOTS] == OBJECT_SLOTS
    assert [k for k in own if k in NATIVE_VALUES] == NATIVE_VALUES
    assert [k for k in vars(mm.SparseMatrix) if k in MATRIX_ATTRIBUTES] == MATRIX_ATTRIBUTES


def test_object_slots_return_the_same_object_and_values_new_ones(small_model):
    m = small_model
    for name in OBJECT_SLOTS:
        assert getattr(m, name) is getattr(m, name), name
    for name in MATRIX_ATTRIBUTES:
        assert getattr(m.a_matrix, name) is getattr(m.a_matrix, name), name
    for name in ["row_names", "col_names"]:
        first, second = getattr(m, name), getattr(m, name)
        assert first is not second
        assert first == second
        first.append("extra")
        first[0] = "changed"
        assert getattr(m, name) == second


@pytest.mark.parametrize("name", MODEL_ATTRIBUTES + ["unknown_attribute", "__dict__"])
def test_model_attributes_cannot_be_set_or_deleted(name, small_model):
    before = snapshot(small_model)
    with pytest.raises(AttributeError):
        setattr(small_model, name, np.zeros(2))
    with pytest.raises(AttributeError):
        setattr(small_model, name, 1)
    with pytest.raises(AttributeError):
        delattr(small_model, name)
    assert snapshot(small_model) == before


@pytest.mark.parametrize("name", MATRIX_ATTRIBUTES + ["nnz"])
def test_matrix_attributes_cannot_be_set_or_deleted(name, small_model):
    a = small_model.a_matrix
    before = snapshot(small_model)
    with pytest.raises(AttributeError):
        setattr(a, name, np.zeros(3, dtype=np.uint32))
    with pytest.raises(AttributeError):
        delattr(a, name)
    assert snapshot(small_model) == before


def test_no_instance_dict(small_model):
    assert not hasattr(small_model, "__dict__")
    assert not hasattr(small_model.a_matrix, "__dict__")
    for attr in ["num_col", "nnz", "shape"]:
        assert not hasattr(small_model.a_matrix, attr)


def _classes(model):
    return {
        "Model": type(model),
        "SparseMatrix": type(model.a_matrix),
        "PySliceContainer": type(model.col_cost.base),
    }


@pytest.mark.parametrize("cls_name", ["Model", "SparseMatrix", "PySliceContainer"])
@pytest.mark.parametrize("args, kwargs", [((), {}), ((1, 2), {}), ((), {"name": "x"})])
def test_no_constructor(cls_name, args, kwargs, small_model):
    cls = _classes(small_model)[cls_name]
    with pytest.raises(TypeError) as ei:
        cls(*args, **kwargs)
    assert type(ei.value) is TypeError
    assert ei.value.args == (f"No constructor defined for {cls_name}",)
    with pytest.raises(TypeError):
        cls.__new__(cls)


def test_slice_container_class(small_model):
    cls = type(small_model.col_cost.base)
    assert cls.__name__ == "PySliceContainer"
    assert cls.__qualname__ == "PySliceContainer"
    assert isinstance(cls.__doc__, str) and cls.__doc__.strip()


def test_identity_semantics(small_model):
    other = mm.parse_str(SMALL_MPS)
    assert small_model == small_model
    assert small_model != other
    assert {small_model: 1}[small_model] == 1


@pytest.mark.parametrize(
    "text, model_repr, matrix_repr",
    [
        (SMALL_MPS, "Model(name=demo, num_row=3, num_col=2, sense=min)", "SparseMatrix(num_col=2, nnz=3)"),
        (EMPTY_MPS, "Model(name=, num_row=0, num_col=0, sense=min)", "SparseMatrix(num_col=0, nnz=0)"),
        (
            "NAME the_model words ignored\nOBJSENSE\n MAXIMIZE\nROWS\n N o\n L r\nCOLUMNS\n"
            "    a o 1\n    b r 2\nENDATA\n",
            "Model(name=the_model, num_row=1, num_col=2, sense=max)",
            "SparseMatrix(num_col=2, nnz=1)",
        ),
        (
            "NAME 'quo\"te'\nROWS\n N o\nCOLUMNS\nENDATA\n",
            "Model(name='quo\"te', num_row=0, num_col=0, sense=min)",
            "SparseMatrix(num_col=0, nnz=0)",
        ),
    ],
    ids=["small", "empty", "max", "quotes_kept"],
)
def test_reprs(text, model_repr, matrix_repr):
    m = mm.parse_str(text)
    assert repr(m) == model_repr
    assert str(m) == model_repr
    assert repr(m.a_matrix) == matrix_repr


def test_matrix_repr_follows_the_arrays_as_they_are(small_model):
    a = small_model.a_matrix
    a.start.shape = (3, 1)
    a.value.shape = (1, 3, 1)
    assert repr(a) == "SparseMatrix(num_col=2, nnz=3)"


def test_empty_model():
    m = mm.parse_str(EMPTY_MPS)
    assert (m.num_row, m.num_col, m.name, m.objective_name) == (0, 0, "", "Objective")
    for path in ARRAY_PATHS:
        want = 1 if path == "a_matrix.start" else 0
        assert get_array(m, path).shape == (want,), path
    assert m.a_matrix.start.tolist() == [0]
    assert m.row_names == [] and m.col_names == []


@pytest.mark.parametrize("path", ARRAY_PATHS)
def test_array_layout_and_ownership(path, small_model):
    arr = get_array(small_model, path)
    assert type(arr) is np.ndarray
    assert arr.dtype == ARRAY_DTYPES[path]
    assert arr.dtype.isnative
    assert arr.ndim == 1
    want = {
        "a_matrix.start": small_model.num_col + 1,
        "a_matrix.index": 3,
        "a_matrix.value": 3,
        "row_lower": small_model.num_row,
        "row_upper": small_model.num_row,
    }.get(path, small_model.num_col)
    assert arr.shape == (want,)
    assert arr.strides == (arr.itemsize,)
    flags = arr.flags
    assert flags.c_contiguous and flags.aligned and flags.writeable
    assert not flags.owndata
    assert type(arr.base).__name__ == "PySliceContainer"


def test_arrays_do_not_share_buffers():
    m = mm.parse_str(generated_mps(50, 20))
    arrays = [get_array(m, p) for p in ARRAY_PATHS]
    for a, b in itertools.combinations(arrays, 2):
        assert not np.shares_memory(a, b)
    assert len({id(a.base) for a in arrays}) == len(arrays)


def test_arrays_outlive_their_model():
    m = mm.parse_str(generated_mps(500, 60))
    expected = {p: get_array(m, p).copy() for p in ARRAY_PATHS}
    kept = {p: get_array(m, p) for p in ARRAY_PATHS}
    views = {p: kept[p][1::2] for p in ARRAY_PATHS}
    matrix = m.a_matrix
    del m
    gc.collect()
    # Churn the allocator so that freed buffers would be reused and overwritten.
    churn = [mm.parse_str(generated_mps(500, 60, name=f"c{i}")) for i in range(5)]
    for c in churn:
        for p in ARRAY_PATHS:
            get_array(c, p)[...] = 7
    for p in ARRAY_PATHS:
        assert np.array_equal(kept[p], expected[p]), p
        assert np.array_equal(views[p], expected[p][1::2]), p
    del kept
    gc.collect()
    for p in ARRAY_PATHS:
        assert np.array_equal(views[p], expected[p][1::2]), p
    assert np.array_equal(matrix.value, expected["a_matrix.value"])
    assert repr(matrix) == f"SparseMatrix(num_col=500, nnz={len(expected['a_matrix.value'])})"


def test_arrays_are_writable_views_of_the_model(small_model):
    m = small_model
    m.col_cost[0] = 42.0
    m.a_matrix.value[:] = [5.0, 6.0, 7.0]
    assert m.col_cost.tolist() == [42.0, 2.0]
    assert m.a_matrix.value.tolist() == [5.0, 6.0, 7.0]
