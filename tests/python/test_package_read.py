"""mopsel.read: every kind of source and compression gives the model parse_str gives; failures
are MpsError (with path, line and reason) or the fitting OSError subclass; fixed, automatic
and strict reading; the warnings of what the reading passed over; the reading rules."""

from __future__ import annotations

import bz2
import errno
import gzip
import importlib.util
import io
import lzma
import os
import pickle
import sys
import warnings
from pathlib import Path

import pytest

import mopsel
from mopsel_testlib import SMALL_MPS, snapshot

TEXT = SMALL_MPS.encode()
EXPECTED = snapshot(mopsel.parse_str(SMALL_MPS))


def has_zstd() -> bool:
    return importlib.util.find_spec("zstandard") is not None or sys.version_info >= (3, 14)


def zstd_compress(data: bytes) -> bytes:
    if sys.version_info >= (3, 14):
        from compression import zstd

        return zstd.compress(data)
    import zstandard

    return zstandard.ZstdCompressor().compress(data)


def two_members(compress, data: bytes) -> bytes:
    """The text split in two, each half compressed on its own and concatenated."""
    half = len(data) // 2
    return compress(data[:half]) + compress(data[half:])


COMPRESSED = {
    "plain": lambda d: d,
    "gzip": lambda d: gzip.compress(d, mtime=0),
    "bz2": bz2.compress,
    "bz2-two-streams": lambda d: two_members(bz2.compress, d),
    "xz": lzma.compress,
    "xz-two-streams": lambda d: two_members(lzma.compress, d),
    "zstd": pytest.param(zstd_compress, marks=pytest.mark.skipif(not has_zstd(), reason="no zstd decoder installed")),
}


@pytest.mark.parametrize("compress", list(COMPRESSED.values()), ids=list(COMPRESSED))
@pytest.mark.parametrize("kind", ["str-path", "pathlib", "file-object", "bytes", "bytearray", "memoryview"])
def test_every_source_and_compression_reads_alike(kind, compress, tmp_path):
    data = compress(TEXT)
    path = tmp_path / "model.data"  # the name says nothing: the content decides
    path.write_bytes(data)
    if kind == "file-object":
        with open(path, "rb") as f:
            model = mopsel.read(f)
    else:
        source = {"str-path": str(path), "pathlib": path, "bytes": data, "bytearray": bytearray(data),
                  "memoryview": memoryview(bytearray(data))}[kind]
        model = mopsel.read(source)
    assert snapshot(model) == EXPECTED


def test_bytes_are_always_text_and_a_str_always_a_path(tmp_path):
    path = tmp_path / "m.mps"
    path.write_bytes(TEXT)
    with pytest.raises(mopsel.MpsError) as ei:  # a short bytes without a line feed is text too
        mopsel.read(os.fsencode(path))
    assert (ei.value.code, ei.value.path) == ("no-endata", None)
    with pytest.raises(TypeError) as ei:
        mopsel.read(SMALL_MPS)
    assert str(ei.value) == ("source: a str is a path, and this one holds a line break; pass MPS text as bytes "
                             "(text.encode()) or through mopsel.parse_str")
    with pytest.raises(FileNotFoundError):
        mopsel.read("ROWS N obj ENDATA")  # a str without a line break is a path


def test_gzip_members_in_memory_all_count():
    assert snapshot(mopsel.read(two_members(gzip.compress, TEXT))) == EXPECTED
    assert snapshot(mopsel.read(io.BytesIO(two_members(gzip.compress, TEXT)))) == EXPECTED


def test_default_reading_is_parse_file(tmp_path):
    path = tmp_path / "m.mps.gz"
    path.write_bytes(gzip.compress(TEXT))
    assert snapshot(mopsel.read(path)) == snapshot(mopsel.parse_file(str(path))) == EXPECTED
    assert snapshot(mopsel.read(TEXT, strict=True)) == EXPECTED  # a clean text reads strictly too


# Text -> (code, lineno, line, reason) of the MpsError, read without and with strict.
MPS_ERRORS = {
    "no-endata": (b"ROWS\n N obj\n", False, ("no-endata", 2, " N obj", "no ENDATA line")),
    "row-type": (b"ROWS\n N obj\n X r\nENDATA\n", False, ("unknown-row-type", 3, " X r", "unknown row type 'X' in ROWS")),
    "not-utf8": (b"ROWS\n L r\xe9\nENDATA\n", False,
                 ("invalid-utf8", 2, " L r\\xe9", "row name is not valid UTF-8 (byte 0xE9 at column 5)")),
    "bad-number": (b"ROWS\n L r\nCOLUMNS\n x r 2,5\nENDATA\n", True,
                   ("bad-number", 4, " x r 2,5", "'2,5' is not a number (a decimal comma or digit separator): read as 0")),
    "skipped": (b"ROWS\n L r\nCSECTION c 0 QUAD\n x\nENDATA\n", True,
                ("skipped-section", 3, "CSECTION c 0 QUAD", "section CSECTION is not supported: its records are skipped")),
    "unknown-column": (b"ROWS\n L r\nBOUNDS\n UP B y 1\nENDATA\n", True,
                       ("unknown-column", 4, " UP B y 1", "unknown column 'y' in BOUNDS: a new column is made")),
}


@pytest.mark.parametrize("text, strict_only, want", MPS_ERRORS.values(), ids=list(MPS_ERRORS))
def test_mps_errors_say_where_and_why(text, strict_only, want, tmp_path):
    code, lineno, line, reason = want
    if strict_only:
        mopsel.read(text)  # the default reading passes over it
    with pytest.raises(mopsel.MpsError) as ei:
        mopsel.read(text, strict=True)
    e = ei.value
    assert isinstance(e, ValueError)
    assert (e.code, e.lineno, e.line, e.reason, e.path) == (code, lineno, line, reason, None)
    assert str(e) == f"line {lineno}: {reason}"
    assert e.__notes__ == [f"    {lineno} | {line}"]
    path = tmp_path / "bad.mps"
    path.write_bytes(text)
    with pytest.raises(mopsel.MpsError) as ei:
        mopsel.read(path, strict=True)
    assert (ei.value.path, str(ei.value)) == (str(path), f"{path}:{lineno}: {reason}")
    again = pickle.loads(pickle.dumps(ei.value))
    assert (type(again), again.args, again.code, again.line) == (mopsel.MpsError, ei.value.args, code, line)


def test_compressed_data_that_cannot_be_decoded(tmp_path):
    cases = {
        "cut.gz": gzip.compress(TEXT)[:-5],
        "cut.bz2": bz2.compress(TEXT)[:-5],
        "bad.xz": lzma.compress(TEXT)[:20] + b"\0" * 40,
    }
    for name, data in cases.items():
        (tmp_path / name).write_bytes(data)
        for source in (tmp_path / name, data):
            with pytest.raises(mopsel.MpsError) as ei:
                mopsel.read(source)
            kind = {"gz": "gzip", "bz2": "bz2", "xz": "xz"}[name.split(".")[1]]
            assert ei.value.code == "compressed-data" and ei.value.lineno is None, name
            assert ei.value.reason.startswith(f"{kind} data cannot be decompressed: "), ei.value.reason


def test_os_errors_are_the_fitting_subclass(tmp_path):
    secret = tmp_path / "secret.mps"
    secret.write_bytes(TEXT)
    secret.chmod(0)
    cases = [(tmp_path / "missing.mps", FileNotFoundError, errno.ENOENT),
             (tmp_path, IsADirectoryError, errno.EISDIR),
             (str(tmp_path / "plain.mps" / "inner.mps"), NotADirectoryError, errno.ENOTDIR)]
    (tmp_path / "plain.mps").write_bytes(TEXT)
    if os.geteuid() != 0:
        cases.append((secret, PermissionError, errno.EACCES))
    for source, kind, number in cases:
        with pytest.raises(OSError) as ei:
            mopsel.read(source)
        assert type(ei.value) is kind and ei.value.errno == number
        assert os.fsdecode(ei.value.filename) == str(source)
        with pytest.raises(kind):
            mopsel.check(source)


# The native entries behind read and check raise the package's exceptions themselves (read
# reaches the native loader's own OSError only when a file changes after Python opened it).
# Source arguments ("D" is the temporary folder) -> the class and the attributes raised by _read;
# _check raises alike for a file that cannot be loaded and lists a finding for a bad text.
NATIVE_FAILURES = {
    "missing-file": ({"path": b"D/missing.mps", "name": "shown.mps"}, FileNotFoundError,
                     {"errno": errno.ENOENT, "filename": "shown.mps", "strerror": os.strerror(errno.ENOENT)}),
    "no-name": ({"path": b"D/missing.mps", "name": None}, FileNotFoundError, {"filename": None}),
    "bad-text": ({"text": b"ROWS\n X r\nENDATA\n", "name": "t.mps"}, mopsel.MpsError,
                 {"path": "t.mps", "lineno": 2, "line": " X r", "code": "unknown-row-type",
                  "reason": "unknown row type 'X' in ROWS", "__notes__": ["    2 |  X r"]}),
    "cut-gzip": ({"path": b"D/cut.gz", "gzip": True, "name": "cut.gz"}, mopsel.MpsError,
                 {"path": "cut.gz", "lineno": None, "line": None, "code": "compressed-data"}),
    "format": ({"text": b"", "format": 3}, ValueError, {"args": ("_read(): format must be 0 (free), 1 (fixed) or 2 (auto)",)}),
    "rule": ({"text": b"", "sets": "some"}, ValueError, {"args": ("sets: expected 'all' or 'first', got 'some'",)}),
}


@pytest.mark.parametrize("arguments, kind, attributes", NATIVE_FAILURES.values(), ids=NATIVE_FAILURES.keys())
def test_the_native_entries_raise_the_package_exceptions(arguments, kind, attributes, tmp_path):
    (tmp_path / "cut.gz").write_bytes(gzip.compress(TEXT)[:-5])
    rules = {"sets": arguments.pop("sets", "all"), "repeated": "last", "free_rows": "drop"}
    given = {"path": None, "text": None, "name": None, "gzip": False, "format": 0, **arguments}
    if given["path"] is not None:
        given["path"] = given["path"].replace(b"D", os.fsencode(tmp_path), 1)
    with pytest.raises(kind) as ei:
        mopsel._mopsel._read(**given, strict=False, **rules)
    if rules["sets"] != "all":
        return  # _check takes no rules
    assert type(ei.value) is kind
    assert {name: getattr(ei.value, name) for name in attributes} == attributes
    if kind is mopsel.MpsError and ei.value.code == "compressed-data":
        assert ei.value.reason.startswith("gzip data cannot be decompressed: ")
    if kind is mopsel.MpsError and ei.value.lineno is not None:
        listed, omitted = mopsel._mopsel._check(**given, limit=5)
        assert (listed[0][:3], omitted) == ((2, "error", "unknown-row-type"), [])
    else:
        with pytest.raises(kind) as again:
            mopsel._mopsel._check(**given, limit=5)
        assert (type(again.value), str(again.value).replace("_check(", "_read(")) == (kind, str(ei.value))


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda: mopsel.read(TEXT, format="FIXED"), ValueError, "format: expected 'free', 'fixed', 'auto', 'lp' or None, got 'FIXED'"),
        (lambda: mopsel.read(12), TypeError, "source: expected a path, a binary file object or bytes of MPS text, got int"),
        (lambda: mopsel.read(io.StringIO(SMALL_MPS)), TypeError, "source: a text file object; open the file in binary mode ('rb')"),
        (lambda: mopsel.check(TEXT, limit=-1), ValueError, "limit: expected an int >= 0, got -1"),
    ],
    ids=["format", "int", "text-file", "limit"],
)
def test_argument_errors(call, error, message):
    with pytest.raises(error) as ei:
        call()
    assert str(ei.value) == message


def test_zstd_without_a_decoder_names_the_extra(monkeypatch):
    if sys.version_info >= (3, 14):
        pytest.skip("the standard library reads zstd")
    monkeypatch.setitem(sys.modules, "zstandard", None)
    with pytest.raises(ImportError) as ei:
        mopsel.read(b"\x28\xb5\x2f\xfd" + bytes(20))
    assert str(ei.value) == "reading zstd-compressed input needs zstandard, which is not installed: " \
                            "pip install 'mopsel[zstd]'"


def fixed_line(*fields: str) -> str:
    """A fixed-format line: each field starts in its column (2, 5, 15, 25, 40, 50)."""
    line = ""
    for start, field in zip((1, 4, 14, 24, 39, 49), fields):
        if field:
            line = line.ljust(start) + field
    return line


# Names with blanks in fixed columns: free format reads another model, fixed and auto the
# intended one.
FIXED = "\n".join([
    "NAME          FIXED", "ROWS", fixed_line("N", "COST"), fixed_line("L", "LIM 1"), "COLUMNS",
    fixed_line("", "X ONE", "COST", "1.0", "LIM 1", "2.0"), "RHS", fixed_line("", "RHS 1", "LIM 1", "4.0"), "ENDATA", "",
]).encode()


def test_fixed_and_automatic_formats():
    fixed = mopsel.read(FIXED, format="fixed")
    assert (fixed.row_names, fixed.col_names, fixed.row_upper.tolist()) == (["LIM 1"], ["X ONE"], [4.0])
    assert (fixed.col_cost.tolist(), fixed.a_matrix.value.tolist()) == ([1.0], [2.0])
    assert snapshot(mopsel.read(FIXED, format="auto")) == snapshot(fixed) == snapshot(mopsel.read(FIXED))
    with pytest.warns(mopsel.MpsWarning, match="3 records look like fixed-format text"):
        free = mopsel.read(FIXED, format="free")
    assert (free.row_names, free.col_names) == (["LIM"], ["X"])
    assert snapshot(mopsel.read(TEXT, format="auto")) == EXPECTED


def model_text(*lines: str) -> bytes:
    """ROWS obj (N), r1 (L), r2 (G), then the given lines."""
    return "\n".join(["NAME m", "ROWS", " N obj", " L r1", " G r2", *lines, ""]).encode()


# Text -> the warnings read() gives, (code, count, lineno), in the order of their lines.
WARNINGS = {
    "clean": (TEXT, []),
    "every kind": (
        model_text(" N spare", "COLUMNS", " x obj 1 r1 1,5", " x r1 2 r9 3", " x obj 4", "RHSS", " RHS r1 4",
                   "PWLOBJ", " x x 1", "BOUNDS", " UP BND y 3", "ENDATA"),
        [("extra-objective", 1, 6), ("bad-number", 1, 8), ("unknown-row", 1, 9), ("duplicate-entry", 1, 10),
         ("unknown-section", 1, 11), ("skipped-section", 1, 13), ("unknown-column", 1, 16)],
    ),
    "counted, the first line kept": (
        model_text("COLUMNS", " x obj 1", " x r1 a", " x r2 b", " y r1 c", "ENDATA"), [("bad-number", 3, 8)]),
    "free format in name only": (FIXED, []),
}


def caught(call):
    with warnings.catch_warnings(record=True) as got:
        warnings.simplefilter("always")
        call()
    return got


@pytest.mark.parametrize("text, want", WARNINGS.values(), ids=list(WARNINGS))
def test_warnings_say_what_the_reading_passed_over(text, want, tmp_path):
    got = caught(lambda: mopsel.read(text))
    assert [(w.message.code, w.message.count, w.message.lineno) for w in got] == want
    assert all(w.category is mopsel.MpsWarning and issubclass(w.category, UserWarning) for w in got)
    assert all(w.filename == __file__ for w in got), "said where read() was called"
    for w in got:
        message = str(w.message)
        assert f"{w.message.count:,}" in message and f"line {w.message.lineno:,}" in message
        assert message.endswith("; run `mopsel check FILE` for every line")
    # Each warning counts what check lists under its code.
    findings = [d.code for d in mopsel.check(text)]
    assert [(w.message.code, w.message.count) for w in got] == [(c, findings.count(c)) for c, _, _ in want]
    path = tmp_path / "m.mps"
    path.write_bytes(text)
    assert all(f"`mopsel check {path}`" in str(w.message) for w in caught(lambda: mopsel.read(path)))
    # parse_file and parse_str stay silent.
    assert caught(lambda: mopsel.parse_file(str(path))) == caught(lambda: mopsel.parse_str(text.decode())) == []


def test_warnings_made_errors():
    text = WARNINGS["every kind"][0]
    with warnings.catch_warnings():
        warnings.simplefilter("error", mopsel.MpsWarning)
        with pytest.raises(mopsel.MpsWarning) as ei:
            mopsel.read(text)
    assert (ei.value.code, ei.value.lineno, ei.value.path) == ("extra-objective", 6, None)
    assert str(ei.value) == ("1 N row besides the objective was dropped with its entries (free_rows=\"keep\" keeps "
                             "it), at line 6: 'spare'; run `mopsel check FILE` for every line")
    again = pickle.loads(pickle.dumps(ei.value))
    assert (type(again), str(again), again.count) == (mopsel.MpsWarning, str(ei.value), 1)


def test_reading_rules():
    sets = model_text("COLUMNS", " x obj 1 r1 1", "RHS", " R1 r1 4", " R2 r2 6", "BOUNDS", " UP B1 x 5", " UP B2 x 7",
                      " LO B2 x 1", "ENDATA")
    every = mopsel.read(sets)
    first = mopsel.read(sets, sets="first")
    assert (every.row_lower.tolist(), every.col_lower.tolist(), every.col_upper.tolist()) == ([-INF, 6], [1], [7])
    assert (first.row_lower.tolist(), first.col_lower.tolist(), first.col_upper.tolist()) == ([-INF, 0], [0], [5])
    kept = mopsel.read(model_text(" N spare", "COLUMNS", " x obj 1 spare 2", "ENDATA"), free_rows="keep")
    assert (kept.row_names, kept.row_lower.tolist(), kept.a_matrix.index.tolist()) == (["r1", "r2", "spare"],
                                                                                       [-INF, 0, -INF], [2])
    repeated = model_text("COLUMNS", " x obj 1 r1 1", "BOUNDS", " LO BND x 1", " FX BND x 3", "ENDATA")
    assert mopsel.read(repeated, repeated="first").col_upper.tolist() == [INF]
    assert mopsel.read(repeated).col_upper.tolist() == [3]
    for keyword, value, want in (("sets", "some", "'all' or 'first'"), ("repeated", "First", "'last' or 'first'"),
                                 ("free_rows", None, "'drop' or 'keep'")):
        with pytest.raises(ValueError, match=f"^{keyword}: expected {want}, got "):
            mopsel.read(sets, **{keyword: value})


INF = float("inf")
