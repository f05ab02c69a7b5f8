"""LP text through the package's one door: read and check by suffix or format="lp", LpError,
write by suffix or format="lp", and the command's convert, info, check and diff on LP files."""

from __future__ import annotations

import gzip
import io
import pickle

import pytest

import mopsel
from mopsel.cli import main
from mopsel_testlib import parts_snapshot

LP = b"""\\Problem name: demo
Maximize
 obj: 2 x + 3 y - z + 1.5
Subject To
 c1: x + y <= 4
 c2: x - z >= -2
Bounds
 x <= 10
 z free
General
 y
End
"""


@pytest.mark.parametrize(
    "name, opener",
    [("m.lp", open), ("m.LP", open), ("m.lp.gz", gzip.open), ("m.lp.xz", None), ("m.lp.bz2", None)],
)
def test_read_picks_lp_by_suffix(tmp_path, name, opener):
    path = tmp_path / name
    if opener is None:
        import bz2
        import lzma

        path.write_bytes((lzma.compress if name.endswith(".xz") else bz2.compress)(LP))
    else:
        with opener(path, "wb") as f:
            f.write(LP)
    for source in (path, str(path), open(path, "rb")):
        m = mopsel.read(source)
        assert (m.name, m.num_row, m.num_col, m.obj_offset) == ("demo", 2, 3, 1.5)
    # An explicit MPS format reads the same file as MPS, and fails.
    with pytest.raises(mopsel.MpsError):
        mopsel.read(path, format="free")


def test_lp_error_says_where_and_pickles():
    with pytest.raises(mopsel.LpError) as caught:
        mopsel.read(b"Minimize\n obj: x\nSubject To\n c1: x + y <=\nEnd\n", format="lp")
    e = caught.value
    assert isinstance(e, ValueError) and not isinstance(e, mopsel.MpsError)
    assert (e.lineno, e.column, e.code, e.path) == (5, 1, "lp-syntax", None)
    assert e.reason == "expected a number after '<=', found the name 'End'"
    assert str(e) == "line 5:1: expected a number after '<=', found the name 'End'"
    back = pickle.loads(pickle.dumps(e))
    assert (type(back), str(back), back.column, back.line) == (mopsel.LpError, str(e), 1, "End")


def test_strict_and_check_for_lp(tmp_path):
    text = b"Minimize\n obj: x + x\nSubject To\n c1: x >= 1\nBounds\n w <= 3\n"
    m = mopsel.read(text, format="lp")
    assert (m.col_names, m.col_cost.tolist()) == (["x", "w"], [2.0, 0.0])
    with pytest.raises(mopsel.LpError, match="appears again in the objective") as caught:
        mopsel.read(text, format="lp", strict=True)
    assert (caught.value.code, caught.value.lineno, caught.value.column) == ("repeated-term", 2, 11)
    path = tmp_path / "m.lp"
    path.write_bytes(text)
    found = [(d.lineno, d.severity, d.code) for d in mopsel.check(path)]
    assert found == [(2, "error", "repeated-term"), (6, "error", "unknown-column"), (6, "error", "no-end")]


@pytest.mark.parametrize("target, format, lp", [("m.lp", None, True), ("m.lp.gz", None, True), ("m.mps", None, False),
                                                 ("m.txt", "lp", True), ("m.lp", "mps", False)])
def test_write_picks_lp_by_suffix_or_format(tmp_path, target, format, lp):
    m = mopsel.read(LP, format="lp")
    path = tmp_path / target
    mopsel.write(m, path, format=format, digits=None)
    data = path.read_bytes()
    if target.endswith(".gz"):
        data = gzip.decompress(data)
    assert data.startswith(b"\\Problem name: demo\nMaximize\n") == lp
    back = mopsel.read(path, format="lp" if lp else "free")
    assert (back.num_row, back.num_col, back.col_names, back.obj_offset) == (2, 3, ["x", "y", "z"], 1.5)


def test_write_refuses_names_lp_cannot_hold_before_writing(tmp_path):
    m = mopsel.parse_str("ROWS\n N obj\n L c-1\nCOLUMNS\n x obj 1 c-1 1\nRHS\n r c-1 4\nENDATA\n")
    path = tmp_path / "m.lp"
    path.write_bytes(b"old")
    with pytest.raises(ValueError, match="^row name 'c-1' cannot be written in LP text: it holds '-'$"):
        mopsel.write(m, path)
    assert path.read_bytes() == b"old"
    out = io.BytesIO()
    with pytest.raises(ValueError):
        mopsel.write(m, out, format="lp")
    assert out.getvalue() == b""


def test_command_converts_lp_and_back(tmp_path, capsys):
    lp = tmp_path / "m.lp"
    lp.write_bytes(LP)
    mps = tmp_path / "m.mps"
    assert main(["convert", str(lp), str(mps), "--exact"]) == 0
    again = tmp_path / "again.lp"
    assert main(["convert", str(mps), str(again), "--exact"]) == 0
    assert main(["diff", str(lp), str(again)]) == 0
    assert main(["info", str(lp)]) == 0
    assert "demo" in capsys.readouterr().out
    bad = tmp_path / "bad.lp"
    bad.write_bytes(b"Minimize\n obj: 3 x y\nEnd\n")
    assert main(["check", str(bad)]) == 1
    assert f"{bad}:2: error: expected '+' or '-' between two terms" in capsys.readouterr().out
    assert main(["info", str(bad)]) == 1
    assert f"{bad}:2:11: error: expected '+' or '-'" in capsys.readouterr().err
    dash = tmp_path / "dash.mps"
    dash.write_bytes(b"ROWS\n N obj\n L c-1\nCOLUMNS\n x obj 1 c-1 1\nENDATA\n")
    assert main(["convert", str(dash), str(tmp_path / "dash.lp")]) == 1
    assert "cannot be written in LP text" in capsys.readouterr().err
    assert not (tmp_path / "dash.lp").exists()


LP_PARTS = b"""Minimize
 obj: x + [ x ^ 2 + 2 x * y ] / 2
Subject To
 q: x + y + [ y ^ 2 ] <= 4
 i: b = 1 -> x - y >= -1
Binary
 b
SOS
 s1: S1:: x:1 y:2
End
"""


def test_command_converts_the_parts_beyond_a_linear_program(tmp_path):
    lp = tmp_path / "p.lp"
    lp.write_bytes(LP_PARTS)
    mps = tmp_path / "p.mps"
    again = tmp_path / "again.lp"
    assert main(["convert", str(lp), str(mps), "--exact"]) == 0
    assert main(["convert", str(mps), str(again), "--exact"]) == 0
    first, through_mps, back = (parts_snapshot(mopsel.read(p)) for p in (lp, mps, again))
    assert first == through_mps == back
    m = mopsel.read(again)
    assert (m.hessian.value.tolist(), list(m.row_hessians), m.sos.names, m.indicators.value.tolist()) == (
        [1.0, 1.0], [0], ["s1"], [1])
