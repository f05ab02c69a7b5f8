"""Smoke test of the native binding: one model through every entry function, the
zero-copy arrays, the checks taken while copying a Model for writing, and the borrow
registry capsule. The full API suite lives in test_api_*.py."""

import ctypes
import warnings

import numpy as np
import pytest

import mopsel
from mopsel import _mopsel

TEXT = """\
NAME          smoke
OBJSENSE
    MAX
ROWS
 N  obj
 L  cap
 G  need
COLUMNS
    MARKER  'MARKER'  'INTORG'
    x  obj  3  cap  2
    MARKER  'MARKER'  'INTEND'
    y  obj  1  cap  1
    y  need  1
RHS
    RHS  cap  10  need  1
RANGES
    RNG  cap  4
BOUNDS
 UP BND  x  4
 MI BND  y
ENDATA
"""

ARRAYS = {
    "col_cost": (np.float64, [3.0, 1.0]),
    "col_lower": (np.float64, [0.0, -np.inf]),
    "col_upper": (np.float64, [4.0, np.inf]),
    "row_lower": (np.float64, [6.0, 1.0]),
    "row_upper": (np.float64, [10.0, np.inf]),
    "col_integrality": (np.uint8, [mopsel.INTEGER, mopsel.CONTINUOUS]),
    "a_matrix.start": (np.uint32, [0, 1, 3]),
    "a_matrix.index": (np.uint32, [0, 0, 1]),
    "a_matrix.value": (np.float64, [2.0, 1.0, 1.0]),
}


def array(model, path):
    obj = model
    for part in path.split("."):
        obj = getattr(obj, part)
    return obj


def test_module_surface():
    assert _mopsel.__all__ == mopsel.__all__ == [
        "CONTINUOUS", "INTEGER", "SEMI_CONTINUOUS", "SEMI_INTEGER", "Model", "SparseMatrix",
        "parse_file", "parse_str", "write_file", "write_str",
    ]
    assert [mopsel.CONTINUOUS, mopsel.INTEGER, mopsel.SEMI_CONTINUOUS, mopsel.SEMI_INTEGER] == [0, 1, 2, 3]
    assert _mopsel.__file__.endswith("_mopsel.abi3.so")
    assert _mopsel.write_file.__text_signature__ == "(model, path)"


@pytest.mark.parametrize("path", list(ARRAYS))
def test_arrays_are_native_buffers(path):
    model = mopsel.parse_str(TEXT)
    dtype, expected = ARRAYS[path]
    arr = array(model, path)
    assert arr.dtype == dtype and arr.tolist() == expected
    assert not arr.flags.owndata and arr.flags.writeable and arr.flags.c_contiguous
    assert type(arr.base).__name__ == "PySliceContainer"
    del model
    assert arr.tolist() == expected  # the array outlives its Model


def test_round_trip_through_file_and_str(tmp_path):
    model = mopsel.parse_str(TEXT)
    assert repr(model) == "Model(name=smoke, num_row=2, num_col=2, sense=max)"
    assert repr(model.a_matrix) == "SparseMatrix(num_col=2, nnz=3)"
    text = mopsel.write_str(model)
    mopsel.write_file(path=str(tmp_path / "m.mps"), model=model)
    again = mopsel.parse_file(str(tmp_path / "m.mps"))
    assert mopsel.write_str(again) == text
    assert (again.col_names, again.row_names, again.obj_sense_minimize) == (["x", "y"], ["cap", "need"], False)
    model.col_upper[0] = 7.5  # in-place edits reach the writer
    assert mopsel.write_str(model) != text and "7.5" in mopsel.write_str(model)


def test_empty_model_writes():
    model = mopsel.parse_str("ROWS\nCOLUMNS\nENDATA\n")
    assert mopsel.write_str(mopsel.parse_str(mopsel.write_str(model))) == mopsel.write_str(model)


@pytest.mark.parametrize(
    "path, dtype, message",
    [
        ("col_cost", np.int64, "The given array does not have dtype float64"),
        ("a_matrix.index", np.int32, "The given array does not have dtype uint32"),
        ("col_integrality", np.int8, "The given array does not have dtype uint8"),
        ("row_upper", np.dtype(">f8"), "The given array does not have dtype float64"),
    ],
)
def test_reinterpreted_dtype_is_refused(path, dtype, message):
    model = mopsel.parse_str(TEXT)
    arr = array(model, path)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)
        arr.dtype = dtype
    with pytest.raises(TypeError) as caught:
        mopsel.write_str(model)
    assert caught.value.args == (message,)


def test_exclusive_borrow_makes_writing_fault():
    acquire = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t)
    release = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t, ctypes.c_int)

    class Table(ctypes.Structure):
        _fields_ = [("version", ctypes.c_uint32), ("reserved", ctypes.c_uint32), ("state", ctypes.c_void_p),
                    ("acquire_shared", acquire), ("acquire_exclusive", acquire), ("release", release)]

    get = ctypes.pythonapi.PyCapsule_GetPointer
    get.restype, get.argtypes = ctypes.c_void_p, [ctypes.py_object, ctypes.c_char_p]
    table = Table.from_address(get(_mopsel._ARRAY_BORROWS, b"mopsel._mopsel._ARRAY_BORROWS"))
    model = mopsel.parse_str(TEXT)
    value = model.a_matrix.value
    assert table.acquire_exclusive(table.state, value.ctypes.data, value.nbytes) == 0
    try:
        with pytest.raises(BaseException) as caught:
            mopsel.write_str(model)
        assert type(caught.value).__name__ == "PanicException"
        assert not isinstance(caught.value, Exception)
        assert caught.value.args == ("AlreadyBorrowed",)
    finally:
        assert table.release(table.state, value.ctypes.data, value.nbytes, 1) == 0
    assert mopsel.write_str(model)  # every shared borrow was given back
