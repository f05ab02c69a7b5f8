"""The parts of a Model beyond a linear program (hessian, row_hessians, sos, indicators):
values, types and ownership of their arrays, read-only access, what writing takes from them
(edits in place, refused codes, out-of-range indices), the native constructor's arguments,
and every reading path giving the same parts."""

import gzip

import numpy as np
import pytest

import mopsel
import mopsel._mopsel as mm
from mopsel_testlib import PARTS_MPS, SMALL_MPS, parts_snapshot, raises_panic, set_dtype, snapshot


@pytest.fixture
def parts_model():
    return mm.parse_str(PARTS_MPS)


def test_parts_values_and_types(parts_model):
    m = parts_model
    h = m.hessian
    assert type(h) is mm.SparseMatrix
    # Lower triangle, column by column: x: (x, x) 2, (z, x) -0.5; y: none; z: (z, z) 4.
    assert (h.start.tolist(), h.index.tolist(), h.value.tolist()) == ([0, 2, 2, 3], [0, 2, 2], [2.0, -0.5, 4.0])
    rows = m.row_hessians
    assert type(rows) is dict and list(rows) == [0, 1] and all(type(v) is mm.SparseMatrix for v in rows.values())
    # QCMATRIX gives Q of x'Qx: H_r = 2Q; QSECTION gives H_r's triangle as it is.
    assert (rows[0].start.tolist(), rows[0].index.tolist(), rows[0].value.tolist()) == ([0, 2, 2, 2], [0, 2],
                                                                                        [2.0, 0.5])
    assert (rows[1].start.tolist(), rows[1].index.tolist(), rows[1].value.tolist()) == ([0, 0, 0, 1], [2], [3.0])
    s = m.sos
    assert type(s) is mm._SosSets and type(s).__name__ == "SosSets"
    assert s.type.tolist() == [1, 2] and s.priority.tolist() == [0, 5] and s.names == ["first", "second"]
    assert (s.start.tolist(), s.index.tolist(), s.weight.tolist()) == ([0, 2, 5], [0, 2, 2, 0, 1],
                                                                       [1.0, 2.0, 1.0, 2.5, 3.0])
    ind = m.indicators
    assert type(ind) is mm._Indicators and type(ind).__name__ == "Indicators"
    assert (ind.row.tolist(), ind.column.tolist(), ind.value.tolist()) == ([2, 0], [1, 1], [1, 0])
    arrays = {"hessian.start": h.start, "hessian.index": h.index, "hessian.value": h.value,
              "row_hessians[0].value": rows[0].value, "sos.type": s.type, "sos.priority": s.priority,
              "sos.start": s.start, "sos.index": s.index, "sos.weight": s.weight, "indicators.row": ind.row,
              "indicators.column": ind.column, "indicators.value": ind.value}
    dtypes = {"start": np.uint32, "index": np.uint32, "value": np.float64, "type": np.uint8, "priority": np.int32,
              "weight": np.float64, "row": np.uint32, "column": np.uint32}
    for path, a in arrays.items():
        assert a.dtype == (np.uint8 if path == "indicators.value" else dtypes[path.rsplit(".", 1)[1]]), path
        assert a.ndim == 1 and a.flags.c_contiguous and a.flags.writeable and not a.flags.owndata, path
        assert type(a.base).__name__ == "PySliceContainer", path


def test_a_linear_model_has_no_parts():
    m = mm.parse_str(SMALL_MPS)
    assert (m.hessian, m.row_hessians, m.sos, m.indicators) == (None, {}, None, None)


def test_parts_are_read_only_and_row_hessians_a_new_dict_per_read(parts_model):
    m = parts_model
    first, second = m.row_hessians, m.row_hessians
    assert first is not second and first.keys() == second.keys()
    assert all(first[k] is second[k] for k in first)  # the same matrices, arrays editable in place
    first[7] = first.pop(0)
    assert list(m.row_hessians) == [0, 1]
    assert m.hessian is m.hessian and m.sos is m.sos and m.indicators is m.indicators
    assert m.sos.names is not m.sos.names
    for owner, name in [(m, "hessian"), (m, "row_hessians"), (m, "sos"), (m, "indicators"), (m.sos, "type"),
                        (m.sos, "names"), (m.indicators, "row"), (m.sos, "other")]:
        with pytest.raises(AttributeError):
            setattr(owner, name, None)
    for cls in (mm._SosSets, mm._Indicators):
        with pytest.raises(TypeError, match=f"^No constructor defined for {cls.__name__}$"):
            cls()
    assert repr(m.sos) == "SosSets(num_sets=2, size=5)" and repr(m.indicators) == "Indicators(size=2)"
    assert (len(m.sos), len(m.indicators)) == (2, 2)
    assert repr(m.hessian) == "SparseMatrix(num_col=3, nnz=3)"


def test_edits_in_place_reach_the_writer(parts_model):
    m = parts_model
    m.hessian.value[0] = 6.0
    m.row_hessians[0].value[1] = 3.0
    m.sos.weight[0] = -1.0
    m.indicators.value[0] = 0
    again = mm.parse_str(mm.write_str(m))
    assert again.hessian.value.tolist() == [6.0, -0.5, 4.0]
    assert again.row_hessians[0].value.tolist() == [2.0, 3.0]
    assert again.sos.weight.tolist()[0] == -1.0 and again.indicators.value.tolist() == [0, 0]


@pytest.mark.parametrize("edit, error, message", [
    (lambda m: m.sos.type.__setitem__(0, 3), ValueError, "invalid SOS type: 3 (expected 1 or 2)"),
    (lambda m: m.sos.type.__setitem__(1, 0), ValueError, "invalid SOS type: 0 (expected 1 or 2)"),
    (lambda m: m.indicators.value.__setitem__(1, 2), ValueError, "invalid indicator value: 2 (expected 0 or 1)"),
    (lambda m: set_dtype(m.hessian.value, np.int64), TypeError, "The given array does not have dtype float64"),
    (lambda m: set_dtype(m.sos.priority, np.uint32), TypeError, "The given array does not have dtype int32"),
])
def test_what_writing_refuses(edit, error, message, parts_model):
    edit(parts_model)
    with pytest.raises(error) as caught:
        mm.write_str(parts_model)
    assert caught.value.args == (message,)


@pytest.mark.parametrize("edit, message", [
    (lambda m: m.hessian.index.__setitem__(0, 3), "index out of bounds: the len is 3 but the index is 3"),
    (lambda m: m.row_hessians[1].start.__setitem__(3, 9), "index out of bounds: the len is 1 but the index is 1"),
    (lambda m: m.sos.index.__setitem__(4, 5), "index out of bounds: the len is 3 but the index is 5"),
    (lambda m: m.indicators.row.__setitem__(0, 3), "index out of bounds: the len is 3 but the index is 3"),
])
def test_indices_out_of_range_are_internal_faults(edit, message, parts_model):
    edit(parts_model)
    with raises_panic(message):
        mm.write_str(parts_model)


def constructor_arguments(m):
    a = m.a_matrix
    return dict(name=m.name, objective_name=m.objective_name, minimize=m.obj_sense_minimize, obj_offset=m.obj_offset,
                col_cost=m.col_cost, col_lower=m.col_lower, col_upper=m.col_upper, col_integrality=m.col_integrality,
                row_lower=m.row_lower, row_upper=m.row_upper, start=a.start, index=a.index, value=a.value,
                col_names="\n".join(m.col_names).encode(), row_names="\n".join(m.row_names).encode())


def model_parts(m):
    s, ind = m.sos, m.indicators
    return dict(hessian=(m.hessian.start, m.hessian.index, m.hessian.value),
                row_hessians=[(r, h.start, h.index, h.value) for r, h in m.row_hessians.items()],
                sos=(s.type, s.priority, s.start, s.index, s.weight, "\n".join(s.names).encode()),
                indicators=(ind.row, ind.column, ind.value))


def test_the_native_constructor_takes_the_parts(parts_model):
    args = constructor_arguments(parts_model)
    built = mm._model_from_arrays(**args, **model_parts(parts_model))
    assert snapshot(built) == snapshot(parts_model)
    assert mm.write_str(built) == mm.write_str(parts_model)
    # Left out or None: no parts; parts without entries are none either.
    assert parts_snapshot(mm._model_from_arrays(**args)) == (None, (), None, None)
    empty = dict(hessian=(np.zeros(4, np.uint32), np.zeros(0, np.uint32), np.zeros(0)),
                 row_hessians=[(1, np.zeros(4, np.uint32), np.zeros(0, np.uint32), np.zeros(0))],
                 sos=(np.zeros(0, np.uint8), np.zeros(0, np.int32), np.zeros(1, np.uint32), np.zeros(0, np.uint32),
                      np.zeros(0), None),
                 indicators=(np.zeros(0, np.uint32), np.zeros(0, np.uint32), np.zeros(0, np.uint8)))
    assert parts_snapshot(mm._model_from_arrays(**args, **empty)) == (None, (), None, None)
    # Sets without names get SOS1, SOS2, ...
    unnamed = model_parts(parts_model)["sos"][:5] + (None,)
    assert mm._model_from_arrays(**args, sos=unnamed).sos.names == ["SOS1", "SOS2"]


@pytest.mark.parametrize("change, error, message", [
    (dict(hessian=(1, 2)), TypeError, "argument 'hessian': expected a tuple (start, index, value)"),
    (dict(hessian=(np.zeros(3, np.uint32), np.zeros(0, np.uint32), np.zeros(0))), ValueError,
     "argument 'hessian': 3 entries, expected 4 (starts: one per column and one more)"),
    (dict(row_hessians=[(3, np.zeros(4, np.uint32), np.zeros(0, np.uint32), np.zeros(0))]), ValueError,
     "argument 'row_hessians': row 3 is not a row above the one before"),
    (dict(row_hessians=[(1, np.zeros(4, np.uint32), np.zeros(0, np.uint32), np.zeros(0)),
                        (0, np.zeros(4, np.uint32), np.zeros(0, np.uint32), np.zeros(0))]), ValueError,
     "argument 'row_hessians': row 0 is not a row above the one before"),
    (dict(sos=(np.array([3], np.uint8), np.zeros(1, np.int32), np.array([0, 0], np.uint32), np.zeros(0, np.uint32),
               np.zeros(0), None)), ValueError, "argument 'sos type': code 3 at 0, expected 1 to 2"),
    (dict(sos=(np.array([1], np.uint8), np.zeros(1, np.float64), np.array([0, 0], np.uint32), np.zeros(0, np.uint32),
               np.zeros(0), None)), TypeError, "argument 'sos priority': expected a one-dimensional contiguous int32 array"),
    (dict(indicators=(np.zeros(1, np.uint32), np.zeros(2, np.uint32), np.zeros(1, np.uint8))), ValueError,
     "argument 'indicators column': 2 entries, expected 1 (one per row)"),
    (dict(indicators=(np.zeros(1, np.uint32), np.zeros(1, np.uint32), np.full(1, 2, np.uint8))), ValueError,
     "argument 'indicators value': code 2 at 0, expected 0 to 1"),
])
def test_the_native_constructor_checks_the_parts(change, error, message, parts_model):
    with pytest.raises(error) as caught:
        mm._model_from_arrays(**constructor_arguments(parts_model), **change)
    assert str(caught.value) == message


def test_every_reading_path_gives_the_same_parts(tmp_path):
    want = snapshot(mm.parse_str(PARTS_MPS))
    plain, packed = tmp_path / "p.mps", tmp_path / "p.mps.gz"
    plain.write_text(PARTS_MPS)
    packed.write_bytes(gzip.compress(PARTS_MPS.encode()))
    reads = {"parse_file": lambda: mm.parse_file(str(plain)), "parse_file .gz": lambda: mm.parse_file(str(packed)),
             "read": lambda: mopsel.read(plain), "read auto": lambda: mopsel.read(plain, format="auto"),
             "read strict": lambda: mopsel.read(plain, strict=True), "read .gz": lambda: mopsel.read(packed)}
    for what, read in reads.items():
        assert snapshot(read()) == want, what
    # Threads for every section that takes them, and gzip text read while it is inflated.
    mm._use_reading_threads((2, 0, 16))
    try:
        assert snapshot(mm.parse_file(str(plain))) == want
    finally:
        mm._use_reading_threads(None)
    before = mm._use_gzip_stream((0, 1 << 40, 7))
    try:
        assert snapshot(mm.parse_file(str(packed))) == want
    finally:
        assert mm._use_gzip_stream(None) > before
    assert mopsel.check(plain) == []


@pytest.mark.parametrize("digits", [13, None])
def test_write_gives_the_parts_back(digits, parts_model, tmp_path):
    out = tmp_path / "out.mps"
    mopsel.write(parts_model, out, digits=digits)
    assert parts_snapshot(mm.parse_file(str(out))) == parts_snapshot(parts_model)


def test_lp_text_gives_the_parts_back_but_sos_priorities(parts_model, tmp_path):
    with pytest.raises(ValueError, match="^SOS set 'second' has the priority 5, which LP text has no place for: "
                                         "write it as MPS$"):
        mopsel.write(parts_model, tmp_path / "m.lp")
    assert not (tmp_path / "m.lp").exists()
    # LP text gives indicators in the order of their rows, and has no SOS priorities.
    text = PARTS_MPS.replace(" S2 second  5", " S2 second").replace(" IF c3  y  1\n IF c1  y  0", " IF c1  y  0\n IF c3  y  1")
    model = mm.parse_str(text)
    for digits in (13, None):
        mopsel.write(model, tmp_path / "m.lp", digits=digits)
        assert parts_snapshot(mopsel.read(tmp_path / "m.lp")) == parts_snapshot(model)
