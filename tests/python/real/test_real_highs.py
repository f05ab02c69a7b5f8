"""Every public model read by mopsel and by HiGHS (highspy), compared field by field with
values equal to the last bit. Differences that come from the two readers' different rules
are normalised here, one documented rule each (docs/compatibility.md); any other
difference fails."""

from __future__ import annotations

import itertools
import re

import numpy as np
import pytest

import mopsel
from real_corpus import bits, column_of_entries, corpus_params, differences, raw_text, snap

highspy = pytest.importorskip("highspy", reason="highspy (optional test peer) is not installed")

pytestmark = pytest.mark.highs


def read_with_highs(text: bytes, tmp_path):
    """HiGHS's reading of an MPS text: (refused?, snapshot). Its wheels read no gzip, so it
    always gets the plain text in a file of its own."""
    path = tmp_path / "highs_input.mps"
    path.write_bytes(text)
    h = highspy.Highs()
    h.setOptionValue("output_flag", False)
    refused = h.readModel(str(path)) == highspy.HighsStatus.kError
    lp = h.getLp()
    assert lp.a_matrix_.format_ == highspy.MatrixFormat.kColwise
    s = {"num_row": lp.num_row_, "num_col": lp.num_col_, "obj_sense_minimize": lp.sense_ == highspy.ObjSense.kMinimize,
         "obj_offset": float(lp.offset_), "row_names": list(lp.row_names_), "col_names": list(lp.col_names_),
         "col_integrality": np.array([int(k) for k in lp.integrality_] or [0] * lp.num_col_, dtype=np.uint8)}
    for k in ("col_cost", "col_lower", "col_upper", "row_lower", "row_upper"):
        s[k] = np.asarray(getattr(lp, k + "_"), dtype=np.float64)
    for k, dtype in (("start", np.int64), ("index", np.int64), ("value", np.float64)):
        s[k] = np.asarray(getattr(lp.a_matrix_, k + "_"), dtype=dtype)
    return refused, dict(s, **highs_hessian(h.getModel().hessian_, lp.num_col_))


def highs_hessian(h, num_col: int) -> dict:
    """HiGHS's Hessian (the lower triangle, column-wise) as snap_parts holds it. HiGHS adds
    zero diagonal entries to a column without one; a zero is no entry in a Model."""
    if h.dim_ == 0:
        return {"hessian_start": np.array([]), "hessian_index": np.array([]), "hessian_value": np.array([])}
    assert h.format_ == highspy.HessianFormat.kTriangular and h.dim_ == num_col
    start = np.asarray(h.start_, dtype=np.int64)
    index = np.asarray(h.index_, dtype=np.int64)[:start[-1]]
    value = np.asarray(h.value_, dtype=np.float64)[:start[-1]]
    kept = value != 0.0
    if not kept.any():
        return highs_hessian(type(h)(), num_col)
    column = column_of_entries(start)[kept]
    start = np.concatenate(([0], np.cumsum(np.bincount(column, minlength=num_col))))
    return {"hessian_start": start, "hessian_index": index[kept], "hessian_value": value[kept]}


def by_rows(s: dict) -> dict:
    """The matrix with each column's entries in row order (whatever order a reader stores
    them in), so that equal arrays mean equal per-column row -> value maps."""
    s = dict(s, start=s["start"].astype(np.int64), index=s["index"].astype(np.int64))
    order = np.lexsort((s["index"], column_of_entries(s["start"])))
    return dict(s, index=s["index"][order], value=s["value"][order])


# Rule 1: HiGHS refuses a file with an SOS or a cone (CSECTION) section; mopsel reads SOS and
# passes over cones. HiGHS gets the text without them.
REFUSED_BY_HIGHS = re.compile(rb"^(SOS|CSECTION)\b.*?(?=^(?!SOS|CSECTION)[A-Z])", re.M | re.S)
# Rule 2: fixed-column files with blanks inside names. HiGHS falls back to fixed columns;
# parse_file reads free format, where a name ends at the first blank (mopsel.read, by
# default or with format="fixed" or "auto", reads fixed columns).
FIXED_FORMAT_FILES = {"forplan.mps.gz"}


@pytest.mark.parametrize("path", corpus_params(lambda p: p.name not in FIXED_FORMAT_FILES))
def test_model_equals_the_highs_reading(path, tmp_path):
    ours = snap(mopsel.parse_file(str(path)))
    refused, theirs = read_with_highs(REFUSED_BY_HIGHS.sub(b"", raw_text(path)), tmp_path)
    assert not refused
    assert differences(by_rows(ours), by_rows(theirs)) == []


@pytest.mark.parametrize("path", corpus_params(lambda p: p.name in FIXED_FORMAT_FILES))
def test_fixed_format_file_reads_as_free_format(path, tmp_path):
    ours = mopsel.parse_file(str(path))
    refused, theirs = read_with_highs(raw_text(path), tmp_path)
    assert not refused
    # The same rows, each known by the first word of its fixed-column name.
    assert ours.row_names == [name.split()[0] for name in theirs["row_names"]]
    # A column is a run of lines with the same first word, so fixed-format columns whose
    # names share their first word merge into one.
    merged = [word for word, _ in itertools.groupby(n.split()[0] for n in theirs["col_names"])]
    assert ours.col_names == merged and ours.num_col < theirs["num_col"]


@pytest.mark.parametrize("options", [{"format": "fixed"}, {"format": "auto"}, {}], ids=["fixed", "auto", "default"])
@pytest.mark.parametrize("path", corpus_params(lambda p: p.name in FIXED_FORMAT_FILES))
def test_fixed_format_file_equals_the_highs_reading_in_fixed_columns(path, options, tmp_path):
    text = raw_text(path)
    ours = snap(mopsel.read(text, **options))
    refused, theirs = read_with_highs(text, tmp_path)
    assert not refused
    assert (ours["num_row"], ours["num_col"]) == (161, 421)
    assert differences(by_rows(ours), by_rows(theirs)) == []


def probe(columns=" x obj 1 r1 1", rhs=" RHS r1 4", bounds="", extra=""):
    return f"NAME p\nROWS\n N obj\n L r1\n G r2\nCOLUMNS\n{columns}\nRHS\n{rhs}\nBOUNDS\n{bounds}\n{extra}ENDATA\n"


# Rules where the two readers differ on purpose, none met in the public sets: the text,
# and per field mopsel's value and HiGHS's value (None: HiGHS refuses the file).
RULE_CASES = {
    "bound at or beyond 1e20 is infinite for HiGHS": (probe(bounds=" UP BND x 1e30\n LO BND x -1e20"), [
        ("col_upper", [1e30], [np.inf]), ("col_lower", [-1e20], [-np.inf])]),
    "row bound at or beyond 1e20 is infinite for HiGHS": (probe(rhs=" RHS r1 1e20 r2 -2e25"), [
        ("row_upper", [1e20, np.inf], [np.inf, np.inf]), ("row_lower", [-np.inf, -2e25], [-np.inf, -np.inf])]),
    "cost at or beyond 1e20 is infinite for HiGHS": (probe(columns=" x obj 1e30 r1 1"), [
        ("col_cost", [1e30], [np.inf])]),
    "coefficient of magnitude 1e-9 or less is dropped by HiGHS": (probe(columns=" x obj 1 r1 1e-10\n x r2 1"), [
        ("value", [1e-10, 1.0], [1.0])]),
    "coefficient of magnitude 1e15 or more is refused by HiGHS": (probe(columns=" x obj 1 r1 1e16"), [
        ("value", [1e16], None)]),
    "BV followed by UP keeps the UP value in mopsel": (probe(bounds=" BV BND x\n UP BND x 5"), [
        ("col_upper", [5.0], [1.0])]),
    "repeated column name: BOUNDS reach the later column in mopsel, the first in HiGHS": (
        probe(columns=" x obj 1 r1 2\n y r1 3\n x r2 4", bounds=" UP BND x 3"),
        [("col_upper", [np.inf, np.inf, 3.0], [3.0, np.inf, np.inf])]),
    "malformed number reads as 0 in mopsel, as its numeric prefix in HiGHS": (probe(columns=" x obj 1,5 r1 1"), [
        ("col_cost", [0.0], [1.0])]),
    "SC bound without a value is refused by HiGHS": (probe(bounds=" SC BND x"), [("col_upper", [0.0], None)]),
    "SOS section is read by mopsel and refused by HiGHS": (probe(extra="SOS\n S1 s1\n    x 1\n"), [
        ("col_cost", [1.0], None)]),
    "several RANGES and BOUNDS sets: the last value in mopsel, the first in HiGHS": (
        probe(bounds=" UP BND1 x 5\n UP BND2 x 7\n LO BND2 x 1", extra="RANGES\n RNG1 r1 2\n RNG2 r1 3\n"),
        [("row_lower", [1.0, 0.0], [2.0, 0.0]), ("col_upper", [7.0], [5.0]), ("col_lower", [1.0], [1.0])]),
    "several RHS sets in one section: the first value per row in both": (
        probe(rhs=" RHS1 r1 4\n RHS2 r1 6 r2 3"), [("row_upper", [4.0, np.inf], [4.0, np.inf]),
                                                  ("row_lower", [-np.inf, 3.0], [-np.inf, 3.0])]),
    "repeated records in one set: RHS the first value in both, ranges and bounds the last in mopsel": (
        probe(rhs=" RHS r1 4\n RHS r1 6", bounds=" UP BND x 5\n UP BND x 7", extra="RANGES\n RNG r2 2\n RNG r2 3\n"),
        [("row_upper", [4.0, 3.0], [4.0, 2.0]), ("col_upper", [7.0], [5.0])]),
    "QCMATRIX is read by mopsel (the quadratic part goes to row_hessians) and refused by HiGHS": (
        probe(extra="QCMATRIX r1\n    x x 1\n"), [("value", [1.0], None), ("row_upper", [4.0, np.inf], None)]),
    "INDICATORS is read by mopsel and refused by HiGHS": (
        probe(bounds=" BV BND x", extra="INDICATORS\n IF r1 x 1\n"), [("col_upper", [1.0], None)]),
    "a number written as a fraction reads as 0 in mopsel, as its numeric prefix in HiGHS": (
        probe(columns=" x obj 9/10 r1 1"), [("col_cost", [0.0], [9.0])]),
    "a header carrying its set name is read by mopsel and refused by HiGHS": (
        probe(rhs=" RIGHT r1 4").replace("RHS\n", "RHS           RIGHT\n"), [("row_upper", [4.0, np.inf], None)]),
    # Older HiGHS versions moved the lower bound to -inf here; the version in use does not.
    "negative upper bound leaves the lower bound 0 in both": (probe(bounds=" UP BND x -3"), [
        ("col_lower", [0.0], [0.0]), ("col_upper", [-3.0], [-3.0])]),
}


@pytest.mark.parametrize("text, fields", RULE_CASES.values(), ids=RULE_CASES.keys())
def test_documented_rule_differences(text, fields, tmp_path):
    ours = snap(mopsel.parse_str(text))
    refused, theirs = read_with_highs(text.encode(), tmp_path)
    for field, our_value, highs_value in fields:
        assert np.array_equal(bits(ours[field]), bits(our_value)), field
        assert refused == (highs_value is None)
        if highs_value is not None:
            assert np.array_equal(bits(theirs[field]), bits(highs_value)), field


# Bound records that set a side set before: with repeated="first" mopsel reads them as HiGHS
# does, whatever the sets (a record that would set any side set before is passed over whole).
REPEATED_BOUNDS = {
    "BV then UP": " BV BND x\n UP BND x 5",
    "UP then FX (FX would set the lower side too)": " UP BND x 5\n FX BND x 3",
    "LO then LI": " LO BND x 2\n LI BND x 3",
    "UP then LI (sides apart)": " UP BND x 5\n LI BND x 2",
    "PL then FR, across sets": " UP B1 x 5\n PL B1 x\n FR B2 x",
    "MI then LO": " MI BND x\n LO BND x 2\n UP BND x 4",
}


@pytest.mark.parametrize("bounds", REPEATED_BOUNDS.values(), ids=REPEATED_BOUNDS.keys())
def test_repeated_first_reads_bounds_as_highs(bounds, tmp_path):
    text = probe(bounds=bounds)
    ours = snap(mopsel.read(text.encode(), repeated="first"))
    refused, theirs = read_with_highs(text.encode(), tmp_path)
    assert not refused
    assert differences(by_rows(ours), by_rows(theirs)) == []


@pytest.mark.parametrize("path", corpus_params(lambda p: p.name == "greenbea.mps.gz"))
def test_greenbea_with_two_bound_sets_reads_as_highs(path, tmp_path):
    # A second BOUNDS set after the file's own: each record again with another type and value
    # (UP -> FX, LO -> UP, FX -> LO, each 7 more), which HiGHS passes over side by side.
    text = raw_text(path).decode().replace("\r\n", "\n")
    head, rest = text.split("BOUNDS\n", 1)
    bounds, _ = rest.split("ENDATA", 1)
    swap = {"UP": "FX", "LO": "UP", "FX": "LO"}
    records = [line.split() for line in bounds.splitlines() if line.strip()]
    second = [f" {swap[t]} BND2 {c} {float(v) + 7}" for t, _, c, v in records]
    copy = (head + "BOUNDS\n" + bounds + "\n".join(second) + "\nENDATA\n").encode()
    refused, theirs = read_with_highs(copy, tmp_path)
    assert not refused
    first = snap(mopsel.read(copy, repeated="first"))
    assert differences(by_rows(first), by_rows(theirs)) == []
    last = snap(mopsel.read(copy))
    changed = {k: int((bits(last[k]) != bits(theirs[k])).sum()) for k in ("col_lower", "col_upper")}
    assert changed == {"col_lower": 393, "col_upper": 290}  # the later records win by default
