"""Taking a record out of a Model for writing: integrality codes, layout and dtype checks,
the order in which failures are reported, internal faults (PanicException) from the writer's
bounds checks, and the process-wide array borrow registry published as `_ARRAY_BORROWS`."""

import ctypes

import numpy as np
import pytest

import mopsel._mopsel as mm
from mopsel_testlib import (
    ARRAY_DTYPES,
    ARRAY_PATHS,
    WRITER_TEXT,
    generated_mps,
    get_array,
    raises_panic,
    set_dtype,
    set_strides,
)

# --------------------------------------------------------------------------------------
# The borrow registry, reached through its capsule with ctypes
# --------------------------------------------------------------------------------------

GRANTED, REFUSED, INVALID = 0, 1, -1
_ACQUIRE = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t)
_RELEASE = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t, ctypes.c_int)


class _BorrowTable(ctypes.Structure):
    _fields_ = [
        ("version", ctypes.c_uint32),
        ("reserved", ctypes.c_uint32),
        ("state", ctypes.c_void_p),
        ("acquire_shared", _ACQUIRE),
        ("acquire_exclusive", _ACQUIRE),
        ("release", _RELEASE),
    ]


def _borrow_table() -> _BorrowTable:
    get = ctypes.pythonapi.PyCapsule_GetPointer
    get.restype = ctypes.c_void_p
    get.argtypes = [ctypes.py_object, ctypes.c_char_p]
    address = get(mm._ARRAY_BORROWS, b"mopsel._mopsel._ARRAY_BORROWS")
    assert address
    return _BorrowTable.from_address(address)


class Borrows:
    def __init__(self):
        self.t = _borrow_table()

    def exclusive(self, arr, offset=0, length=None):
        length = arr.nbytes - offset if length is None else length
        return self.t.acquire_exclusive(self.t.state, arr.ctypes.data + offset, length)

    def release_exclusive(self, arr, offset=0, length=None):
        length = arr.nbytes - offset if length is None else length
        return self.t.release(self.t.state, arr.ctypes.data + offset, length, 1)

    def assert_all_free(self, model):
        """Every array of the model can be borrowed exclusively, so no shared borrow
        was left behind; the borrows taken here are given back."""
        for path in ARRAY_PATHS:
            arr = get_array(model, path)
            assert self.exclusive(arr) == GRANTED, path
            assert self.release_exclusive(arr) == GRANTED, path


@pytest.fixture
def borrows():
    return Borrows()


def test_capsule_table(borrows):
    assert borrows.t.version == 1
    assert borrows.t.state


def test_registry_rules(borrows):
    a = np.zeros(16)
    t = borrows.t
    assert t.acquire_shared(t.state, a.ctypes.data, 64) == GRANTED
    assert t.acquire_shared(t.state, a.ctypes.data, 64) == GRANTED
    assert t.acquire_exclusive(t.state, a.ctypes.data + 32, 8) == REFUSED
    assert t.release(t.state, a.ctypes.data, 64, 0) == GRANTED
    assert t.acquire_exclusive(t.state, a.ctypes.data, 8) == REFUSED
    assert t.release(t.state, a.ctypes.data, 64, 0) == GRANTED
    assert t.release(t.state, a.ctypes.data, 64, 0) == INVALID
    assert t.acquire_exclusive(t.state, a.ctypes.data, 64) == GRANTED
    assert t.acquire_shared(t.state, a.ctypes.data + 56, 8) == REFUSED
    assert t.acquire_shared(t.state, a.ctypes.data + 64, 8) == GRANTED  # just past it
    assert t.release(t.state, a.ctypes.data + 64, 8, 0) == GRANTED
    assert t.release(t.state, a.ctypes.data, 64, 1) == GRANTED


@pytest.mark.parametrize("path", ARRAY_PATHS)
def test_exclusive_borrow_makes_writing_fail(path, borrows, writer_model, tmp_path, capfd):
    arr = get_array(writer_model, path)
    assert borrows.exclusive(arr) == GRANTED
    try:
        out = tmp_path / "borrowed.mps"
        for call in (lambda: mm.write_str(writer_model), lambda: mm.write_file(writer_model, str(out))):
            with raises_panic() as caught:
                call()
            assert "AlreadyBorrowed" in str(caught[0])
        assert not out.exists()
        assert "AlreadyBorrowed" in capfd.readouterr().err
    finally:
        assert borrows.release_exclusive(arr) == GRANTED
    # The shared borrows taken before the refusal were all given back.
    borrows.assert_all_free(writer_model)
    assert mm.write_str(writer_model) == WRITER_TEXT


def test_partial_overlap_is_refused(borrows, writer_model):
    arr = writer_model.row_lower
    assert borrows.exclusive(arr, offset=8, length=8) == GRANTED
    try:
        with raises_panic():
            mm.write_str(writer_model)
    finally:
        assert borrows.release_exclusive(arr, offset=8, length=8) == GRANTED
    assert mm.write_str(writer_model) == WRITER_TEXT


def test_unrelated_exclusive_borrow_does_not_interfere(borrows, writer_model):
    other = np.ones(64)
    assert borrows.exclusive(other) == GRANTED
    try:
        assert mm.write_str(writer_model) == WRITER_TEXT
    finally:
        assert borrows.release_exclusive(other) == GRANTED


def test_successful_writes_leave_no_borrow(borrows, writer_model, tmp_path):
    for _ in range(3):
        mm.write_str(writer_model)
        mm.write_file(writer_model, str(tmp_path / "ok.mps"))
    borrows.assert_all_free(writer_model)


# --------------------------------------------------------------------------------------
# Integrality codes
# --------------------------------------------------------------------------------------


@pytest.mark.parametrize("code", [4, 7, 100, 128, 255])
def test_invalid_integrality_code(code, writer_model, borrows, tmp_path):
    writer_model.col_integrality[1] = code
    message = f"invalid integrality code: {code} (expected 0..=3)"
    with pytest.raises(ValueError) as ei:
        mm.write_str(writer_model)
    assert type(ei.value) is ValueError and ei.value.args == (message,)
    new = tmp_path / "new.mps"
    with pytest.raises(ValueError) as ei:
        mm.write_file(writer_model, str(new))
    assert ei.value.args == (message,)
    assert not new.exists()
    kept = tmp_path / "kept.mps"
    kept.write_text("previous contents")
    with pytest.raises(ValueError):
        mm.write_file(writer_model, str(kept))
    assert kept.read_text() == "previous contents"
    borrows.assert_all_free(writer_model)


def test_first_invalid_code_is_reported(writer_model):
    writer_model.col_integrality[:] = [3, 9, 200]
    with pytest.raises(ValueError) as ei:
        mm.write_str(writer_model)
    assert ei.value.args == ("invalid integrality code: 9 (expected 0..=3)",)


# --------------------------------------------------------------------------------------
# Layout
# --------------------------------------------------------------------------------------

NOT_CONTIGUOUS = "The given array is not contiguous"


@pytest.mark.parametrize("path", ARRAY_PATHS)
def test_non_contiguous_array(path, writer_model, borrows, tmp_path):
    arr = get_array(writer_model, path)
    set_strides(arr, (0,))
    assert not arr.flags.c_contiguous and not arr.flags.f_contiguous
    with pytest.raises(TypeError) as ei:
        mm.write_str(writer_model)
    assert type(ei.value) is TypeError and ei.value.args == (NOT_CONTIGUOUS,)
    out = tmp_path / "nc.mps"
    with pytest.raises(TypeError):
        mm.write_file(writer_model, str(out))
    assert not out.exists()
    borrows.assert_all_free(writer_model)


def test_non_contiguous_two_dimensional(writer_model):
    arr = writer_model.row_upper
    arr.shape = (2, 2)
    set_strides(arr, (16, 0))
    with pytest.raises(TypeError) as ei:
        mm.write_str(writer_model)
    assert ei.value.args == (NOT_CONTIGUOUS,)


# --------------------------------------------------------------------------------------
# Element types reinterpreted in place
# --------------------------------------------------------------------------------------

DTYPE_CASES = [
    ("col_cost", np.int64),
    ("col_lower", np.float32),
    ("col_upper", np.complex128),
    ("row_lower", np.dtype(">f8")),
    ("row_upper", np.uint8),
    ("a_matrix.value", np.float16),
    ("a_matrix.value", np.uint64),
    ("a_matrix.start", np.int32),
    ("a_matrix.start", np.uint16),
    ("a_matrix.start", np.float32),
    ("a_matrix.index", np.uint8),
    ("a_matrix.index", np.dtype(">u4")),
    ("col_integrality", np.int8),
    ("col_integrality", np.bool_),
    ("col_integrality", np.uint16),
    ("col_integrality", np.uint64),
]


@pytest.mark.parametrize("path, dtype", DTYPE_CASES, ids=[f"{p}-{np.dtype(d).str}" for p, d in DTYPE_CASES])
def test_reinterpreted_dtype_is_rejected(path, dtype, borrows):
    m = mm.parse_str(generated_mps(8, 6))
    text = mm.write_str(m)
    arr = get_array(m, path)
    set_dtype(arr, dtype)
    with pytest.raises(TypeError) as ei:
        mm.write_str(m)
    assert type(ei.value) is TypeError
    assert np.dtype(ARRAY_DTYPES[path]).name in str(ei.value), str(ei.value)
    borrows.assert_all_free(m)
    set_dtype(arr, ARRAY_DTYPES[path])
    assert mm.write_str(m) == text


# --------------------------------------------------------------------------------------
# Order of the checks
# --------------------------------------------------------------------------------------


def test_integrality_is_checked_before_the_other_arrays(writer_model):
    set_strides(writer_model.col_cost, (0,))
    set_strides(writer_model.a_matrix.value, (0,))
    writer_model.col_integrality[0] = 4
    with pytest.raises(ValueError):
        mm.write_str(writer_model)


def test_integrality_layout_is_checked_before_its_codes(writer_model):
    writer_model.col_integrality[1] = 9
    set_strides(writer_model.col_integrality, (0,))  # every element now reads the valid 0
    with pytest.raises(TypeError) as ei:
        mm.write_str(writer_model)
    assert ei.value.args == (NOT_CONTIGUOUS,)


def test_extraction_fails_before_the_writer_checks_indices(writer_model, tmp_path):
    writer_model.a_matrix.index[0] = 99
    set_strides(writer_model.a_matrix.value, (0,))
    out = tmp_path / "x.mps"
    with pytest.raises(TypeError):
        mm.write_file(writer_model, str(out))
    assert not out.exists()


# --------------------------------------------------------------------------------------
# Internal faults from the writer's bounds checks
# --------------------------------------------------------------------------------------

FAULT_CASES = {
    "row_index": (lambda m: m.a_matrix.index.__setitem__(0, 9), "index out of bounds: the len is 4 but the index is 9"),
    "row_index_max": (
        lambda m: m.a_matrix.index.__setitem__(2, 2**32 - 1),
        "index out of bounds: the len is 4 but the index is 4294967295",
    ),
    "start_past_entries": (
        lambda m: m.a_matrix.start.__setitem__(3, 10),
        "index out of bounds: the len is 3 but the index is 3",
    ),
    "start_middle": (
        lambda m: m.a_matrix.start.__setitem__(1, 7),
        "index out of bounds: the len is 3 but the index is 3",
    ),
}


@pytest.mark.parametrize("edit, message", FAULT_CASES.values(), ids=list(FAULT_CASES))
def test_inconsistent_arrays_raise_panic(edit, message, writer_model, borrows, tmp_path, capfd):
    edit(writer_model)
    with raises_panic(message):
        mm.write_str(writer_model)
    out = tmp_path / "partial.mps"
    with raises_panic(message):
        mm.write_file(writer_model, str(out))
    # Text produced before the fault stays in the file.
    assert out.read_text().startswith("NAME          demo\nOBJSENSE\n")
    assert message in capfd.readouterr().err
    borrows.assert_all_free(writer_model)


def test_panic_exception_class(writer_model):
    writer_model.a_matrix.index[0] = 9
    caught = []
    for _ in range(2):
        with raises_panic() as c:
            mm.write_str(writer_model)
        caught.append(c[0])
    cls = type(caught[0])
    assert type(caught[1]) is cls
    assert caught[0] is not caught[1]
    assert cls.__name__ == "PanicException"
    assert cls.__bases__ == (BaseException,)
    assert not issubclass(cls, Exception)
    assert "BaseException" in (cls.__doc__ or "")
    assert str(caught[0]) == "index out of bounds: the len is 4 but the index is 9"


def test_panic_is_not_caught_by_except_exception(writer_model):
    writer_model.a_matrix.index[0] = 9
    reached = []
    try:
        try:
            mm.write_str(writer_model)
        except Exception:
            reached.append("exception")
    except BaseException as exc:  # noqa: B902
        reached.append(type(exc).__name__)
    assert reached == ["PanicException"]


def test_interpreter_survives_faults_under_load(writer_model):
    # The fault happens while the lock is released; raising it must take the lock back.
    writer_model.a_matrix.index[0] = 9
    for _ in range(200):
        with raises_panic():
            mm.write_str(writer_model)
    writer_model.a_matrix.index[0] = 0
    assert mm.write_str(writer_model) == WRITER_TEXT
