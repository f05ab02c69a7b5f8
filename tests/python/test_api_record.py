"""Taking a record out of a Model for writing: integrality codes, layout and dtype checks and
their order, internal faults (PanicException) from the writer's bounds checks, and the
process-wide array borrow registry published as `_ARRAY_BORROWS`."""

import ctypes

import numpy as np
import pytest

import mopsel._mopsel as mm
from mopsel_testlib import ARRAY_DTYPES, ARRAY_PATHS, WRITER_TEXT, generated_mps, get_array, raises_panic, \
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
    a = np.zeros(16).ctypes.data
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


@pytest.mark.parametrize("codes, reported", [([0, 4, 0], 4), ([0, 255, 0], 255), ([3, 9, 200], 9)])
def test_invalid_integrality_code(codes, reported, writer_model, borrows, tmp_path):
    writer_model.col_integrality[:] = codes
    message = f"invalid integrality code: {reported} (expected 0..=3)"
    kept = tmp_path / "kept.mps"
    kept.write_text("previous contents")
    for call in (lambda: mm.write_str(writer_model), lambda: mm.write_file(writer_model, str(tmp_path / "new.mps")),
                 lambda: mm.write_file(writer_model, str(kept))):
        with pytest.raises(ValueError) as ei:
            call()
        assert type(ei.value) is ValueError and ei.value.args == (message,)
    # The check comes before the file is opened.
    assert not (tmp_path / "new.mps").exists() and kept.read_text() == "previous contents"
    borrows.assert_all_free(writer_model)


NOT_CONTIGUOUS = "The given array is not contiguous"


def _strides_zero(path):
    return lambda m: set_strides(get_array(m, path), (0,))


def _two_by_two_with_zero_stride(m):
    m.row_upper.shape = (2, 2)
    set_strides(m.row_upper, (16, 0))


def _bad_code_then_zero_strides(m):
    m.col_integrality[1] = 9
    set_strides(m.col_integrality, (0,))  # every element now reads the valid 0


def _bad_code_and_other_layouts(m):
    set_strides(m.col_cost, (0,))
    set_strides(m.a_matrix.value, (0,))
    m.col_integrality[0] = 4


def _bad_row_index_and_layout(m):
    m.a_matrix.index[0] = 99
    set_strides(m.a_matrix.value, (0,))


# Edit, exception type, exact message: layouts, and the order in which checks report.
EXTRACTION_CASES = {
    **{f"strided_{p}": (_strides_zero(p), TypeError, NOT_CONTIGUOUS) for p in ARRAY_PATHS},
    "two_dimensional": (_two_by_two_with_zero_stride, TypeError, NOT_CONTIGUOUS),
    "integrality_layout_before_codes": (_bad_code_then_zero_strides, TypeError, NOT_CONTIGUOUS),
    "integrality_before_other_arrays": (_bad_code_and_other_layouts, ValueError,
                                        "invalid integrality code: 4 (expected 0..=3)"),
    "extraction_before_index_checks": (_bad_row_index_and_layout, TypeError, NOT_CONTIGUOUS),
}


@pytest.mark.parametrize("edit, exc_type, message", EXTRACTION_CASES.values(), ids=list(EXTRACTION_CASES))
def test_layout_checks_and_their_order(edit, exc_type, message, writer_model, borrows, tmp_path):
    edit(writer_model)
    out = tmp_path / "nc.mps"
    for call in (lambda: mm.write_str(writer_model), lambda: mm.write_file(writer_model, str(out))):
        with pytest.raises(exc_type) as ei:
            call()
        assert type(ei.value) is exc_type and ei.value.args == (message,)
    assert not out.exists()
    borrows.assert_all_free(writer_model)


DTYPE_CASES = [("col_cost", np.int64), ("col_lower", np.float32), ("col_upper", np.complex128),
               ("row_lower", np.dtype(">f8")), ("row_upper", np.uint8), ("a_matrix.value", np.float16),
               ("a_matrix.start", np.int32), ("a_matrix.start", np.float32), ("a_matrix.index", np.uint8),
               ("a_matrix.index", np.dtype(">u4")), ("col_integrality", np.int8), ("col_integrality", np.bool_),
               ("col_integrality", np.uint64)]


@pytest.mark.parametrize("path, dtype", DTYPE_CASES, ids=[f"{p}-{np.dtype(d).str}" for p, d in DTYPE_CASES])
def test_reinterpreted_dtype_is_rejected(path, dtype, borrows):
    m = mm.parse_str(generated_mps(8, 6))
    text = mm.write_str(m)
    arr = get_array(m, path)
    set_dtype(arr, dtype)
    with pytest.raises(TypeError) as ei:
        mm.write_str(m)
    want = np.dtype(ARRAY_DTYPES[path]).name
    assert type(ei.value) is TypeError and ei.value.args == (f"The given array does not have dtype {want}",)
    borrows.assert_all_free(m)
    set_dtype(arr, ARRAY_DTYPES[path])
    assert mm.write_str(m) == text


FAULT_CASES = {
    "row_index": ((0, 9), "index", "index out of bounds: the len is 4 but the index is 9"),
    "row_index_max": ((2, 2**32 - 1), "index", "index out of bounds: the len is 4 but the index is 4294967295"),
    "start_past_entries": ((3, 10), "start", "index out of bounds: the len is 3 but the index is 3"),
    "start_middle": ((1, 7), "start", "index out of bounds: the len is 3 but the index is 3"),
}


@pytest.mark.parametrize("edit, array, message", FAULT_CASES.values(), ids=list(FAULT_CASES))
def test_inconsistent_arrays_raise_panic(edit, array, message, writer_model, borrows, tmp_path, capfd):
    getattr(writer_model.a_matrix, array)[edit[0]] = edit[1]
    with raises_panic(message):
        mm.write_str(writer_model)
    out = tmp_path / "partial.mps"
    with raises_panic(message):
        mm.write_file(writer_model, str(out))
    # Text produced before the fault stays in the file.
    assert out.read_text().startswith("NAME          demo\nOBJSENSE\n")
    assert message in capfd.readouterr().err
    borrows.assert_all_free(writer_model)


def test_panic_exception_class_and_recovery(writer_model):
    writer_model.a_matrix.index[0] = 9
    caught, reached = [], []
    # The fault happens while the lock is released; raising it must take the lock back.
    for _ in range(200):
        try:
            try:
                mm.write_str(writer_model)
            except Exception:
                reached.append("Exception")
        except BaseException as exc:  # noqa: B902
            caught.append(exc)
    assert reached == [] and len(caught) == 200
    cls = type(caught[0])
    assert all(type(c) is cls for c in caught) and caught[0] is not caught[1]
    assert cls.__name__ == "PanicException" and cls.__bases__ == (BaseException,)
    assert "BaseException" in (cls.__doc__ or "")
    assert caught[0].args == ("index out of bounds: the len is 4 but the index is 9",)
    writer_model.a_matrix.index[0] = 0
    assert mm.write_str(writer_model) == WRITER_TEXT
