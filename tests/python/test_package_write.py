"""mopsel.write: targets and compression (the same bytes as write_file with the defaults), the
digit counts, the exact mode's round trip and what it cannot keep, fixed columns, names and
models that cannot be written, and argument errors. The writer's rules and the gzip member
itself are covered by the C++ suite."""

import bz2
import errno
import gzip
import importlib.util
import io
import lzma
import os
import sys

import numpy as np
import pytest

import mopsel
from mopsel_testlib import WRITER_TEXT, snapshot


@pytest.mark.parametrize("target, compress, gzipped", [
    ("m.mps", "auto", False), ("m.mps.gz", "auto", True), ("m.mps", "gzip", True), ("m.mps.gz", None, False),
    (io.BytesIO, "auto", False), (io.BytesIO, "gzip", True),
])
def test_targets_and_compression(writer_model, tmp_path, target, compress, gzipped):
    if target is io.BytesIO:
        out = io.BytesIO()
        mopsel.write(writer_model, out, compress=compress)
        data = out.getvalue()
    else:
        mopsel.write(writer_model, tmp_path / target, compress=compress)  # os.PathLike
        data = (tmp_path / target).read_bytes()
        again = tmp_path / ("again-" + target)
        if gzipped:
            mopsel.write(writer_model, str(again), compress=compress)
        else:
            again = again.with_suffix(".mps")  # write_file gzips a path ending in ".gz"
            mopsel.write_file(writer_model, str(again))
        assert again.read_bytes() == data  # plain: write_file's bytes; gzipped: reproducible
    assert (gzip.decompress(data) if gzipped else data) == WRITER_TEXT.encode()
    assert data.startswith(b"\x1f\x8b") == gzipped


def test_gzip_of_a_large_model_with_a_line_longer_than_the_input_buffer(tmp_path):
    n = 30000
    names = [f"x{j}" for j in range(n)]
    names[7] = "n" * 200_000  # one line longer than the gzip sink's 64 KiB buffer
    m = mopsel.from_arrays(col_cost=np.arange(n) / 7, a_matrix=(np.arange(n + 1), np.arange(n) % 3, np.ones(n)),
                           row_lower=[1.0, -np.inf, 0.0], row_upper=[np.inf, 2.0, 3.0], col_names=names)
    mopsel.write(m, tmp_path / "big.mps.gz", digits=None)
    data = (tmp_path / "big.mps.gz").read_bytes()
    out = io.BytesIO()
    mopsel.write(m, out, digits=None, compress="gzip")
    assert out.getvalue() == data and len(data) * 4 < len(gzip.decompress(data))
    assert snapshot(mopsel.parse_str(gzip.decompress(data).decode())) == snapshot(m)


@pytest.mark.parametrize("digits, text", [
    (13, "6.666666666667e-1"), (3, "6.67e-1"), (17, "6.6666666666666663e-1"), (None, "0.6666666666666666"),
])
def test_digits(digits, text):
    m = mopsel.from_arrays(col_cost=[2.0 / 3.0], a_matrix=([0, 0], [], []), row_lower=[], row_upper=[])
    out = io.BytesIO()
    mopsel.write(m, out, digits=digits)
    assert f"    C1  Objective  {text}\n" in out.getvalue().decode()


def test_exact_mode_round_trips_bit_for_bit(tmp_path):
    # Every kind; signed zeros, 17 digits, tiny and huge values; free, one-sided, equality,
    # nearly equal and ranged rows: what the fixed layout changes.
    m = mopsel.from_arrays(
        col_cost=[1 / 3, -2.0, 1e-300, 5.0], a_matrix=np.array([[1.0, 0, 2, 0], [0, 3, 0, 1], [1, 1, 1, 1]]),
        row_lower=[-np.inf, -0.0, 0.1], row_upper=[np.inf, -0.0, 0.4], col_lower=[-0.0, 2.5, -np.inf, 0.0],
        col_upper=[1e300, 2.5 + 1e-13, 7.0, 1.0], col_integrality=[0, 1, 2, 3], minimize=False, obj_offset=-0.0)
    path = tmp_path / "exact.mps.gz"
    mopsel.write(m, path, digits=None)
    assert snapshot(mopsel.parse_file(str(path))) == snapshot(m)
    assert snapshot(mopsel.parse_str(mopsel.write_str(m))) != snapshot(m)


# What MPS text cannot say even in the exact mode: the change to a one-column, one-row model
# (cost 1, bounds [0, 1], coefficient 1), and the field that comes back changed.
RESIDUALS = {
    "cost -0.0 (COLUMNS drops zeros)": (dict(col_cost=[-0.0]), "col_cost", [0.0]),
    "no range joins the bounds": (dict(row_lower=[-0.5], row_upper=[0.6]), "row_lower", [-0.5000000000000001]),
    "inverted row": (dict(row_lower=[3.0], row_upper=[1.0]), "row_lower", [-1.0]),
}


@pytest.mark.parametrize("change, field, value", RESIDUALS.values(), ids=RESIDUALS.keys())
def test_what_the_exact_mode_cannot_keep(change, field, value):
    args = dict(col_cost=[1.0], a_matrix=np.ones((1, 1)), row_lower=[0.0], row_upper=[1.0])
    out = io.BytesIO()
    mopsel.write(mopsel.from_arrays(**dict(args, **change)), out, digits=None)
    back = mopsel.parse_str(out.getvalue().decode())
    assert np.asarray(getattr(back, field)).tobytes() == np.array(value).tobytes()


@pytest.mark.parametrize("args, error, message", [
    (dict(digits=0), ValueError, "digits: 0 is not from 1 to 17"),
    (dict(digits=True), TypeError, "digits: expected an int or None, got bool"),
    (dict(compress="zip"), ValueError, "compress: expected 'auto', 'gzip', 'bz2', 'xz', 'zstd' or None, got 'zip'"),
    (dict(format="FIXED"), ValueError, "format: expected 'mps', 'auto', 'free', 'fixed', 'lp' or None, got 'FIXED'"),
    (dict(target=io.StringIO()), TypeError, "target: a text file object; open it in binary mode ('wb')"),
    (dict(target=3), TypeError, "target: expected a path or a binary file object, got int"),
    (dict(model="m"), TypeError, "model: expected a mopsel Model, got str"),
    (dict(target="/nonexistent-dir/m.mps"), FileNotFoundError,
     "[Errno 2] No such file or directory: '/nonexistent-dir/m.mps'"),
])
def test_argument_errors(writer_model, args, error, message):
    args = dict(dict(model=writer_model, target=io.BytesIO()), **args)
    with pytest.raises(error) as caught:
        mopsel.write(args.pop("model"), args.pop("target"), **args)
    assert str(caught.value) == message


def has_zstd() -> bool:
    return importlib.util.find_spec("zstandard") is not None or sys.version_info >= (3, 14)


@pytest.mark.parametrize("suffix, compress, decompress", [
    (".bz2", "auto", bz2.decompress), (".xz", "auto", lzma.decompress), (".mps", "bz2", bz2.decompress),
    (".mps", "xz", lzma.decompress),
    pytest.param(".zst", "auto", None, marks=pytest.mark.skipif(not has_zstd(), reason="no zstd encoder installed")),
])
def test_other_compressions(writer_model, tmp_path, suffix, compress, decompress):
    path = tmp_path / ("m" + suffix)
    mopsel.write(writer_model, path, compress=compress)
    assert snapshot(mopsel.read(path)) == snapshot(writer_model)  # told by content
    if decompress is not None:
        assert decompress(path.read_bytes()) == WRITER_TEXT.encode()
    out = io.BytesIO()
    mopsel.write(writer_model, out, compress=None if compress == "auto" else compress)
    assert out.getvalue() == (WRITER_TEXT.encode() if compress == "auto" else path.read_bytes())


def test_os_errors_name_the_file(writer_model, tmp_path):
    (tmp_path / "plain").write_text("x")
    for target, kind, number in ((tmp_path / "missing" / "m.mps", FileNotFoundError, errno.ENOENT),
                                 (tmp_path / "plain" / "m.mps.bz2", NotADirectoryError, errno.ENOTDIR)):
        with pytest.raises(OSError) as ei:
            mopsel.write(writer_model, target)
        assert (type(ei.value), ei.value.errno, ei.value.filename) == (kind, number, str(target))


# Names with blanks (read in fixed columns; from_arrays refuses them): free format cannot
# carry them, fixed columns can when they fit.
def test_names_the_format_cannot_carry():
    fixed_text = "\n".join(["NAME          FP", "ROWS", " N  COST", " L  LIM 1", " G  LIM2", "COLUMNS",
                            "    X ONE     COST      1              LIM 1     1",
                            "    X ONE     LIM2      1", "    Y         COST      2              LIM2      3",
                            "RHS", "    RHS1      LIM 1     4", "    RHS1      LIM2      1", "BOUNDS", "ENDATA", ""])
    m = mopsel.read(fixed_text.encode())
    assert (m.row_names, m.col_names) == (["LIM 1", "LIM2"], ["X ONE", "Y"])
    message = "the row name 'LIM 1' holds a blank, which free MPS cannot carry: nothing written"
    for call in (lambda: mopsel.write_str(m), lambda: mopsel.write(m, io.BytesIO(), format="free")):
        with pytest.raises(ValueError) as ei:
            call()
        assert str(ei.value) == message
    for fmt in (None, "auto", "mps", "fixed"):  # the automatic choice takes fixed columns
        out = io.BytesIO()
        mopsel.write(m, out, format=fmt)
        assert out.getvalue().decode() == fixed_text, fmt
        assert snapshot(mopsel.read(out.getvalue())) == snapshot(m)
    # A name neither format can carry: both are said.
    marker = mopsel.read(b"ROWS\n N obj\n L 'MARKER'\nCOLUMNS\n x obj 1 'MARKER' 2\nENDATA\n")
    with pytest.raises(ValueError) as ei:
        mopsel.write(marker, io.BytesIO())
    assert str(ei.value) == ("the row name ''MARKER'' would read as a marker, which free MPS cannot carry, and the row "
                             "name ''MARKER'' would read as a marker, which fixed MPS cannot carry: nothing written")


def fixed_line(*fields: str) -> str:
    """A record in the classic columns: fields 1-6 start at columns 2, 5, 15, 25, 40, 50."""
    widths = (2, 8, 8, 12, 8, 12)
    starts = (2, 5, 15, 25, 40, 50)
    line = ""
    for start, width, text in zip(starts, widths, fields):
        line = line.ljust(start - 1) + text.ljust(width)
    return line.rstrip()


# Every part beyond a linear program, with names holding blanks: fixed columns carry them
# (the names padded to their fields), and the exact mode gives the model back bit for bit.
def test_fixed_columns_carry_every_part():
    text = "\n".join(["NAME          Q", "ROWS", fixed_line("N", "OBJ"), fixed_line("L", "C 1"), fixed_line("L", "C2"),
                      "COLUMNS", fixed_line("", "X 1", "OBJ", "1", "C 1", "1"), fixed_line("", "Y", "C 1", "1", "C2", "1"),
                      fixed_line("", "B", "C2", "1"), "RHS", fixed_line("", "RHS", "C 1", "4"), "BOUNDS",
                      fixed_line("UP", "BND", "B", "1"), "SOS", fixed_line("S1", "S 1", "3"), fixed_line("", "X 1", "1.5"),
                      fixed_line("", "Y", "2"), fixed_line("S2", "S 2"), fixed_line("", "Y", "1"), "QUADOBJ",
                      fixed_line("", "X 1", "X 1", "2"), fixed_line("", "X 1", "Y", ".5"), "QCMATRIX   C 1",
                      fixed_line("", "X 1", "X 1", "1"), "INDICATORS", fixed_line("IF", "C2", "B", "1"), "ENDATA", ""])
    m = mopsel.read(text.encode(), format="fixed")
    assert (m.col_names, list(m.sos.names), list(m.indicators.row)) == (["X 1", "Y", "B"], ["S 1", "S 2"], [1])
    for fmt in ("auto", "fixed"):
        out = io.BytesIO()
        mopsel.write(m, out, format=fmt, digits=None)
        assert snapshot(mopsel.read(out.getvalue(), format="fixed")) == snapshot(m), fmt
    with pytest.raises(ValueError, match="holds a blank"):
        mopsel.write(m, io.BytesIO(), format="free")
    # A set name with a blank alone: free format would read 'S' with the priority 1.
    only_set = mopsel.read("\n".join(["ROWS", " N  OBJ", "COLUMNS", fixed_line("", "X", "OBJ", "1"), "SOS",
                                      fixed_line("S1", "S 1"), fixed_line("", "X", "1"), "ENDATA", ""]).encode(),
                           format="fixed")
    with pytest.raises(ValueError, match="the SOS set name 'S 1' holds a blank, which free MPS cannot carry"):
        mopsel.write_str(only_set)
    out = io.BytesIO()
    mopsel.write(only_set, out)  # the automatic choice takes fixed columns
    assert snapshot(mopsel.read(out.getvalue(), format="fixed")) == snapshot(only_set)


@pytest.mark.parametrize("spoil, message", [
    (lambda m: m.a_matrix.index.__setitem__(2, 9999), "column 'y', entry 2: row 9999, but the model has 4 rows"),
    (lambda m: m.a_matrix.start.__setitem__(2, 99), "column 'y': its entries end at position 99, but a_matrix.index "
                                                    "has 3 entries"),
])
def test_inconsistent_models_are_refused_by_name(writer_model, tmp_path, spoil, message):
    spoil(writer_model)
    target = tmp_path / "m.mps"
    target.write_bytes(b"old")
    with pytest.raises(ValueError) as ei:
        mopsel.write(writer_model, target)
    assert str(ei.value) == message
    assert target.read_bytes() == b"old"
    with pytest.raises(mopsel.PanicException):
        mopsel.write_str(writer_model)  # the native entry's fault as specified
