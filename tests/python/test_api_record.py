"""Taking a record out of a Model for writing: integrality codes, layout and dtype checks and
their order, internal faults (PanicException) from the writer's bounds checks, and the
process-wide array borrow registry published as `_ARRAY_BORROWS`."""

import ctypes
import os

import numpy as np
import pytest

import mopsel._mopsel as mm
from mopsel_testlib import ARRAY_DTYPES, ARRAY_PATHS, WRITER_TEXT, get_array, raises_panic, \
    set_dtype, set_strides

GRANTED, REFUSED, INVALID = 0, 1, -1
_ACQUIRE = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t)
_RELEASE = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t, ctypes.c_int)


class _BorrowTable(ctypes.Structure):
    _fields_ = [("version", ctypes.c_uint32), ("reserved", ctypes.c_uint32), ("state", ctypes.c_void_p),
                ("acquire_shared", _ACQUIRE), ("acquire_exclusive", _ACQUIRE), ("release", _RELEASE)]


class Borrows:
    """The borrow registry, reached through its capsule with ctypes."""

    def __init__(self):
        get = ctypes.pythonapi.PyCapsule_GetPointer
        get.restype, get.argtypes = ctypes.c_void_p, [ctypes.py_object, ctypes.c_char_p]
        address = get(mm._ARRAY_BORROWS, b"mopsel._mopsel._ARRAY_BORROWS")
        assert address
        self.t = _BorrowTable.from_address(address)

    def exclusive(self, arr, offset=0, length=None, release=False):
        length = arr.nbytes - offset if length is None else length
        if release:
            return self.t.release(self.t.state, arr.ctypes.data + offset, length, 1)
        return self.t.acquire_exclusive(self.t.state, arr.ctypes.data + offset, length)

    def assert_all_free(self, model):
        """No shared borrow was left behind: every array can be borrowed exclusively."""
        for path in ARRAY_PATHS:
            arr = get_array(model, path)
            assert self.exclusive(arr) == GRANTED, path
            assert self.exclusive(arr, release=True) == GRANTED, path


@pytest.fixture
def borrows():
    return Borrows()


def test_registry_rules(borrows):
    t = borrows.t
    assert t.version == 1 and t.state
    buf = np.zeros(16)
    a = buf.ctypes.data
    assert t.acquire_shared(t.state, a, 64) == GRANTED
    assert t.acquire_shared(t.state, a, 64) == GRANTED
    assert t.acquire_exclusive(t.state, a + 32, 8) == REFUSED
    assert t.release(t.state, a, 64, 0) == GRANTED
    assert t.acquire_exclusive(t.state, a, 8) == REFUSED
    assert t.release(t.state, a, 64, 0) == GRANTED
    assert t.release(t.state, a, 64, 0) == INVALID
    assert t.acquire_exclusive(t.state, a, 64) == GRANTED
    assert t.acquire_shared(t.state, a + 56, 8) == REFUSED
    assert t.acquire_shared(t.state, a + 64, 8) == GRANTED  # just past it
    assert t.release(t.state, a + 64, 8, 0) == GRANTED
    assert t.release(t.state, a, 64, 1) == GRANTED


@pytest.mark.parametrize("path, offset, length", [(p, 0, None) for p in ARRAY_PATHS] + [("row_lower", 8, 8)])
def test_exclusive_borrow_makes_writing_fail(path, offset, length, borrows, writer_model, tmp_path, capfd):
    arr = get_array(writer_model, path)
    assert borrows.exclusive(arr, offset, length) == GRANTED
    try:
        out = tmp_path / "borrowed.mps"
        for call in (lambda: mm.write_str(writer_model), lambda: mm.write_file(writer_model, str(out))):
            with raises_panic("AlreadyBorrowed"):
                call()
        assert not out.exists()
        assert "AlreadyBorrowed" in capfd.readouterr().err
    finally:
        assert borrows.exclusive(arr, offset, length, release=True) == GRANTED
    # The shared borrows taken before the refusal were all given back.
    borrows.assert_all_free(writer_model)
    assert mm.write_str(writer_model) == WRITER_TEXT


def test_unrelated_borrow_does_not_interfere_and_writes_leave_none(borrows, writer_model, tmp_path):
    other = np.ones(64)
    assert borrows.exclusive(other) == GRANTED
    try:
        for _ in range(3):
            assert mm.write_str(writer_model) == WRITER_TEXT
            mm.write_file(writer_model, str(tmp_path / "ok.mps"))
    finally:
        assert borrows.exclusive(other, release=True) == GRANTED
    borrows.assert_all_free(writer_model)


NOT_CONTIGUOUS = "The given array is not contiguous"


def _code(n):
    return f"invalid integrality code: {n} (expected 0..=3)"


def _not_dtype(dtype):
    return f"The given array does not have dtype {np.dtype(dtype).name}"


def _edit(*steps):
    """Steps applied in order: (path, "strides" / "shape" / "dtype", value) changes the
    array's view of its memory; (path, index, value) stores elements."""
    def edit(m):
        for path, key, value in steps:
            arr = get_array(m, path)
            if key == "strides":
                set_strides(arr, value)
            elif key == "dtype":
                set_dtype(arr, value)
            elif key == "shape":
                arr.shape = value
            else:
                arr[key] = value
    return edit


# Edit, exception type, exact message: integrality codes, layouts, reinterpreted dtypes,
# and the order in which the checks report.
EXTRACTION_FAILURES = {
    "code_4": (_edit(("col_integrality", slice(None), [0, 4, 0])), ValueError, _code(4)),
    "code_255": (_edit(("col_integrality", slice(None), [0, 255, 0])), ValueError, _code(255)),
    "first_bad_code": (_edit(("col_integrality", slice(None), [3, 9, 200])), ValueError, _code(9)),
    **{f"strided_{p}": (_edit((p, "strides", (0,))), TypeError, NOT_CONTIGUOUS) for p in ARRAY_PATHS},
    "two_dimensional": (_edit(("row_upper", "shape", (2, 2)), ("row_upper", "strides", (16, 0))),
                        TypeError, NOT_CONTIGUOUS),
    **{f"{p}-{np.dtype(d).str}": (_edit((p, "dtype", d)), TypeError, _not_dtype(ARRAY_DTYPES[p])) for p, d in [
        ("col_cost", np.int64), ("col_lower", np.float32), ("col_upper", np.uint64), ("row_lower", np.dtype(">f8")),
        ("row_upper", np.uint8), ("a_matrix.value", np.float16), ("a_matrix.start", np.int32),
        ("a_matrix.index", np.dtype(">u4")), ("col_integrality", np.int8), ("col_integrality", np.bool_)]},
    # A zero stride would make every element read the valid first code: layout comes first.
    "integrality_layout_before_codes": (_edit(("col_integrality", 1, 9), ("col_integrality", "strides", (0,))),
                                        TypeError, NOT_CONTIGUOUS),
    "integrality_before_other_arrays": (_edit(("col_cost", "strides", (0,)), ("a_matrix.value", "strides", (0,)),
                                              ("col_integrality", 0, 4)), ValueError, _code(4)),
    "extraction_before_index_checks": (_edit(("a_matrix.index", 0, 99), ("a_matrix.value", "strides", (0,))),
                                       TypeError, NOT_CONTIGUOUS),
}


@pytest.mark.parametrize("edit, exc_type, message", EXTRACTION_FAILURES.values(), ids=list(EXTRACTION_FAILURES))
def test_extraction_failures(edit, exc_type, message, writer_model, borrows, tmp_path):
    edit(writer_model)
    kept = tmp_path / "kept.mps"
    kept.write_text("previous contents")
    for call in (lambda: mm.write_str(writer_model), lambda: mm.write_file(writer_model, str(tmp_path / "new.mps")),
                 lambda: mm.write_file(writer_model, str(kept))):
        with pytest.raises(exc_type) as ei:
            call()
        assert type(ei.value) is exc_type and ei.value.args == (message,)
    # The checks come before the file is opened.
    assert not (tmp_path / "new.mps").exists() and kept.read_text() == "previous contents"
    borrows.assert_all_free(writer_model)


FAULT_CASES = {
    "row_index": (("a_matrix.index", 0, 9), "index out of bounds: the len is 4 but the index is 9"),
    "row_index_max": (("a_matrix.index", 2, 2**32 - 1), "index out of bounds: the len is 4 but the index is 4294967295"),
    "start_past_entries": (("a_matrix.start", 3, 10), "index out of bounds: the len is 3 but the index is 3"),
    "start_middle": (("a_matrix.start", 1, 7), "index out of bounds: the len is 3 but the index is 3"),
}


@pytest.mark.parametrize("step, message", FAULT_CASES.values(), ids=list(FAULT_CASES))
def test_inconsistent_arrays_raise_panic(step, message, writer_model, borrows, tmp_path, capfd):
    _edit(step)(writer_model)
    kept = tmp_path / "kept.mps"
    kept.write_text("previous contents")
    for call in (lambda: mm.write_str(writer_model), lambda: mm.write_file(writer_model, str(tmp_path / "new.mps")),
                 lambda: mm.write_file(writer_model, str(kept))):
        with raises_panic(message):
            call()
    # Every check comes before the file is touched; the diagnostic goes to standard error.
    assert os.listdir(tmp_path) == ["kept.mps"] and kept.read_text() == "previous contents"
    assert message in capfd.readouterr().err
    borrows.assert_all_free(writer_model)


def test_panic_exception_class_and_recovery(writer_model):
    writer_model.a_matrix.index[0] = 9
    caught = []
    for _ in range(200):  # raised while the lock is released: it must be taken back first
        with raises_panic("index out of bounds: the len is 4 but the index is 9") as c:
            mm.write_str(writer_model)
        caught += c
    cls = type(caught[0])
    assert all(type(c) is cls for c in caught) and caught[0] is not caught[1]
    assert cls.__bases__ == (BaseException,) and "BaseException" in (cls.__doc__ or "")
    writer_model.a_matrix.index[0] = 0
    assert mm.write_str(writer_model) == WRITER_TEXT
