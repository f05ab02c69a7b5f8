"""write_str and write_file from Python: the exact text, agreement of the two sinks, round
trips, and in-place edits of every array reaching the writer (the writer's layout rules
themselves are covered by the C++ suite)."""

import numpy as np
import pytest

import mopsel._mopsel as mm
from mopsel_testlib import EMPTY_MPS, SMALL_MPS, WRITER_MPS, WRITER_TEXT, generated_mps, set_strides, snapshot


def test_exact_texts(writer_model):
    assert mm.write_str(writer_model) == WRITER_TEXT
    empty = "NAME          \nROWS\n N  Objective\nCOLUMNS\nRHS\nBOUNDS\nENDATA\n"
    assert mm.write_str(mm.parse_str(EMPTY_MPS)) == empty


@pytest.mark.parametrize("text", [SMALL_MPS, WRITER_MPS, generated_mps(2000, 300)], ids=["small", "writer", "generated"])
def test_round_trip_and_sinks_agree(text, tmp_path):
    m = mm.parse_str(text)
    before = snapshot(m)
    out = mm.write_str(m)
    p = tmp_path / "rt.mps"
    assert mm.write_file(m, str(p)) is None
    assert p.read_text() == out
    assert snapshot(m) == before  # writing leaves the model as it was
    again = mm.parse_file(str(p))
    assert mm.write_str(again) == out
    assert snapshot(again) == before


def _sub(*pairs):
    def apply(text):
        for old, new in pairs:
            assert old in text
            text = text.replace(old, new)
        return text
    return apply


def _fortran_2x2(m):
    # Same memory, read as a Fortran-ordered 2x2 matrix: still written in memory order.
    m.row_upper.shape = (2, 2)
    set_strides(m.row_upper, (8, 16))
    assert m.row_upper.flags.f_contiguous and not m.row_upper.flags.c_contiguous


def _read_only(m):
    for a in (m.col_cost, m.col_integrality, m.a_matrix.start, m.a_matrix.index, m.a_matrix.value):
        a.setflags(write=False)


X_LINES = "    x  cost  1.000000000000e0  c1  1.000000000000e0\n    x  c2  2.000000000000e0\n"
INTORG = "    M0000001  'MARKER'                 'INTORG'\n"

# One edit per array, each with the change it makes to WRITER_TEXT.
EDITS = {
    "col_cost_specials": (lambda m: m.col_cost.__setitem__(slice(0, 2), [np.nan, -np.inf]),
                          _sub(("x  cost  1.000000000000e0", "x  cost  NaN"),
                               ("y  cost  2.000000000000e0", "y  cost  -inf"))),
    "fixed_column": (lambda m: m.col_lower.__setitem__(2, 4.0) or m.col_upper.__setitem__(2, 4.0),
                     _sub((" FR BND1  z", " FX BND1  z  4.000000000000e0"))),
    "value_zeroed": (lambda m: m.a_matrix.value.__setitem__(0, 0.0),
                     _sub((X_LINES, "    x  cost  1.000000000000e0  c2  2.000000000000e0\n"))),
    "row_index": (lambda m: m.a_matrix.index.__setitem__(2, 3),
                  _sub(("y  cost  2.000000000000e0  c1", "y  cost  2.000000000000e0  c4"))),
    "start": (lambda m: m.a_matrix.start.__setitem__(1, 1),
              _sub(("    x  c2  2.000000000000e0\n", ""),
                   ("    y  cost  2.000000000000e0  c1  3.000000000000e0\n",
                    "    y  cost  2.000000000000e0  c2  2.000000000000e0\n    y  c1  3.000000000000e0\n"))),
    "row_upper_free": (lambda m: m.row_upper.__setitem__(0, np.nan),
                       _sub((" L  c1\n", " N  c1\n"), ("    RHS1  c1  4.000000000000e0\n", ""))),
    "row_lower_ranged": (lambda m: m.row_lower.__setitem__(2, 1.5),
                         _sub((" E  c3\n", " L  c3\n"), ("RANGES\n", "RANGES\n    RNG1  c3  5.000000000000e-1\n"))),
    "integer_column": (lambda m: m.col_integrality.__setitem__(0, 1),
                       _sub(("COLUMNS\n    x", "COLUMNS\n" + INTORG + "    x"), (INTORG + "    y", "    y"),
                            ("BOUNDS\n", "BOUNDS\n LI BND1  x  0.000000000000e0\n"))),
    "row_upper_fortran_2d": (_fortran_2x2, _sub()),
    "read_only_arrays": (_read_only, _sub()),
}


@pytest.mark.parametrize("edit, transform", EDITS.values(), ids=list(EDITS))
def test_in_place_edits_reach_the_writer(edit, transform, writer_model, tmp_path):
    edit(writer_model)
    expected = transform(WRITER_TEXT)
    assert mm.write_str(writer_model) == expected
    p = tmp_path / "edited.mps"
    mm.write_file(writer_model, str(p))
    assert p.read_text() == expected
    assert mm.write_str(mm.parse_str(WRITER_MPS)) == WRITER_TEXT  # other models are not affected


def test_edits_through_views_of_kept_arrays(writer_model):
    view = writer_model.col_cost[::2]
    view[:] = [8.0, 9.0]
    text = mm.write_str(writer_model)
    assert "    x  cost  8.000000000000e0  c1" in text and "    z  cost  9.000000000000e0\n" in text
