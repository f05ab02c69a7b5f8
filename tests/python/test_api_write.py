"""write_str and write_file from Python: the exact text, agreement of the two sinks,
round trips, and in-place edits of the arrays reaching the writer."""

import numpy as np
import pytest

import mopsel._mopsel as mm
from mopsel_testlib import (
    EMPTY_MPS,
    SMALL_MPS,
    WRITER_MPS,
    WRITER_TEXT,
    generated_mps,
    set_strides,
    snapshot,
)


def test_write_str_exact_text(writer_model):
    assert mm.write_str(writer_model) == WRITER_TEXT


def test_empty_model_text():
    assert mm.write_str(mm.parse_str(EMPTY_MPS)) == (
        "NAME          \nROWS\n N  Objective\nCOLUMNS\nRHS\nBOUNDS\nENDATA\n"
    )


@pytest.mark.parametrize("text", [SMALL_MPS, WRITER_MPS, generated_mps(2000, 300)], ids=["small", "writer", "generated"])
def test_round_trip_and_sinks_agree(text, tmp_path):
    m = mm.parse_str(text)
    out = mm.write_str(m)
    p = tmp_path / "rt.mps"
    assert mm.write_file(m, str(p)) is None
    assert p.read_text() == out
    again = mm.parse_file(str(p))
    assert mm.write_str(again) == out
    assert snapshot(again) == snapshot(m)


def test_writing_does_not_change_the_model(writer_model):
    before = snapshot(writer_model)
    mm.write_str(writer_model)
    assert snapshot(writer_model) == before


def _sub(old, new):
    def apply(text):
        assert old in text
        return text.replace(old, new)

    return apply


def _chain(*steps):
    def apply(text):
        for s in steps:
            text = s(text)
        return text

    return apply


def _reshape(path, shape):
    def edit(m):
        obj = m
        for part in path.split("."):
            obj = getattr(obj, part)
        obj.shape = shape

    return edit


def _fortran_2x2(m):
    # Same memory, read as a Fortran-ordered 2x2 matrix: still written in memory order.
    m.row_upper.shape = (2, 2)
    set_strides(m.row_upper, (8, 16))
    assert m.row_upper.flags.f_contiguous and not m.row_upper.flags.c_contiguous


UNCHANGED = _chain()
INTEGER_X = _chain(
    _sub(
        "COLUMNS\n    x",
        "COLUMNS\n    M0000001  'MARKER'                 'INTORG'\n    x",
    ),
    _sub("    M0000001  'MARKER'                 'INTORG'\n    y", "    y"),
    _sub("BOUNDS\n", "BOUNDS\n LI BND1  x  0.000000000000e0\n"),
)
CONTINUOUS_Y = _chain(
    _sub("    M0000001  'MARKER'                 'INTORG'\n", ""),
    _sub("    M0000002  'MARKER'                 'INTEND'\n", ""),
    _sub(" BV BND1  y\n", " UP BND1  y  1.000000000000e0\n"),
)

EDITS = {
    "cost": (lambda m: m.col_cost.__setitem__(0, 5.0), _sub("x  cost  1.000", "x  cost  5.000")),
    "cost_zero": (
        lambda m: m.col_cost.__setitem__(0, 0.0),
        _sub(
            "    x  cost  1.000000000000e0  c1  1.000000000000e0\n    x  c2  2.000000000000e0\n",
            "    x  c1  1.000000000000e0  c2  2.000000000000e0\n",
        ),
    ),
    "cost_nan_inf": (
        lambda m: m.col_cost.__setitem__(slice(0, 2), [np.nan, -np.inf]),
        _chain(_sub("x  cost  1.000000000000e0", "x  cost  NaN"), _sub("y  cost  2.000000000000e0", "y  cost  -inf")),
    ),
    "cost_for_empty_column": (
        lambda m: m.col_cost.__setitem__(2, 0.5),
        _sub("    z  cost  0.000000000000e+00", "    z  cost  5.000000000000e-1"),
    ),
    "col_lower": (lambda m: m.col_lower.__setitem__(0, 3.0), _sub("BOUNDS\n", "BOUNDS\n LO BND1  x  3.000000000000e0\n")),
    "col_upper": (lambda m: m.col_upper.__setitem__(0, 7.25), _sub("BOUNDS\n", "BOUNDS\n UP BND1  x  7.250000000000e0\n")),
    "fixed_column": (
        lambda m: m.col_lower.__setitem__(2, 4.0) or m.col_upper.__setitem__(2, 4.0),
        _sub(" FR BND1  z", " FX BND1  z  4.000000000000e0"),
    ),
    "coefficient": (lambda m: m.a_matrix.value.__setitem__(1, -2.5), _sub("x  c2  2.000000000000e0", "x  c2  -2.500000000000e0")),
    "coefficient_zeroed": (
        lambda m: m.a_matrix.value.__setitem__(0, 0.0),
        _sub(
            "    x  cost  1.000000000000e0  c1  1.000000000000e0\n    x  c2  2.000000000000e0\n",
            "    x  cost  1.000000000000e0  c2  2.000000000000e0\n",
        ),
    ),
    "row_index": (lambda m: m.a_matrix.index.__setitem__(2, 3), _sub("y  cost  2.000000000000e0  c1", "y  cost  2.000000000000e0  c4")),
    "start": (
        lambda m: m.a_matrix.start.__setitem__(1, 1),
        _chain(
            _sub("    x  c2  2.000000000000e0\n", ""),
            _sub(
                "    y  cost  2.000000000000e0  c1  3.000000000000e0\n",
                "    y  cost  2.000000000000e0  c2  2.000000000000e0\n    y  c1  3.000000000000e0\n",
            ),
        ),
    ),
    "row_free": (
        lambda m: m.row_upper.__setitem__(0, np.nan),
        _chain(_sub(" L  c1\n", " N  c1\n"), _sub("    RHS1  c1  4.000000000000e0\n", "")),
    ),
    "row_ranged": (
        lambda m: m.row_lower.__setitem__(2, 1.5),
        _chain(
            _sub(" E  c3\n", " L  c3\n"),
            _sub("RANGES\n", "RANGES\n    RNG1  c3  5.000000000000e-1\n"),
        ),
    ),
    "integer_column": (lambda m: m.col_integrality.__setitem__(0, 1), INTEGER_X),
    "semi_integer_column": (lambda m: m.col_integrality.__setitem__(1, 3), UNCHANGED),
    "semi_continuous_column": (lambda m: m.col_integrality.__setitem__(1, 2), CONTINUOUS_Y),
    "continuous_column": (lambda m: m.col_integrality.__setitem__(1, 0), CONTINUOUS_Y),
    "row_upper_2d": (_reshape("row_upper", (2, 2)), UNCHANGED),
    "row_upper_fortran": (_fortran_2x2, UNCHANGED),
    "col_cost_3d": (_reshape("col_cost", (3, 1, 1)), UNCHANGED),
    "start_2d": (_reshape("a_matrix.start", (2, 2)), UNCHANGED),
    "value_column": (_reshape("a_matrix.value", (3, 1)), UNCHANGED),
    "read_only_arrays": (
        lambda m: [
            a.setflags(write=False)
            for a in (m.col_cost, m.col_integrality, m.a_matrix.start, m.a_matrix.index, m.a_matrix.value)
        ],
        UNCHANGED,
    ),
}


@pytest.mark.parametrize("edit, transform", EDITS.values(), ids=list(EDITS))
def test_in_place_edits_reach_the_writer(edit, transform, writer_model, tmp_path):
    edit(writer_model)
    expected = transform(WRITER_TEXT)
    assert mm.write_str(writer_model) == expected
    p = tmp_path / "edited.mps"
    mm.write_file(writer_model, str(p))
    assert p.read_text() == expected
    # Other models are not affected.
    assert mm.write_str(mm.parse_str(WRITER_MPS)) == WRITER_TEXT


def test_edits_through_views_and_kept_arrays(writer_model):
    costs = writer_model.col_cost
    view = costs[::2]
    view[:] = [8.0, 9.0]
    text = mm.write_str(writer_model)
    assert "    x  cost  8.000000000000e0  c1" in text
    assert "    z  cost  9.000000000000e0\n" in text
