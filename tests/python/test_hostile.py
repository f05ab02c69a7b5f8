"""Hostile input: each case states its outcome (a clear exception, the same model
as the clean text, bounded memory) and must never crash the interpreter.

Memory-heavy cases run in a child interpreter under an address-space limit, so an
absurd reservation fails there instead of passing unnoticed, and the child reports
its peak resident size."""

from __future__ import annotations

import gzip
import json
import os
import random
import subprocess
import sys
import threading
import time
import zlib
from pathlib import Path

import numpy as np
import pytest

import mopsel._mopsel as mm
from mopsel_testlib import SMALL_MPS, WRITER_MPS, raises_panic, set_dtype, set_strides

PARSE_FAILURE = "Failed to parse MPS file"
MiB = 2**20

SMALL_TEXT = mm.write_str(mm.parse_str(SMALL_MPS))


def written(model) -> str:
    return mm.write_str(model)


# --------------------------------------------------------------------------------------
# A child interpreter for the cases that need memory limits and peak measurements
# --------------------------------------------------------------------------------------

CHILD = r"""
import json, resource, sys
job = json.loads(sys.argv[1])
resource.setrlimit(resource.RLIMIT_AS, (job["limit"], job["limit"]))
import mopsel._mopsel as mm
mm.write_str(mm.parse_str("ROWS\nCOLUMNS\nENDATA\n"))  # loads NumPy before measuring
arg = job["path"]
if job["call"] == "parse_str":
    with open(job["path"], encoding="utf-8", newline="") as f:
        arg = f.read()
print("ready", flush=True)
sys.stdin.readline()
try:
    model = getattr(mm, job["call"])(arg)
    outcome = {"text": mm.write_str(model), "num_row": model.num_row, "num_col": model.num_col}
except BaseException as exc:
    outcome = {"error": type(exc).__name__, "message": str(exc)}
print(json.dumps(outcome), flush=True)
"""


def _rss(pid: int) -> int:
    with open(f"/proc/{pid}/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def run_child(call: str, path: Path, limit: int, tmp_path: Path) -> dict:
    """Runs one call in a fresh interpreter limited to `limit` bytes of address
    space. The result carries "extra": the peak resident size during the call above
    the size just before it (the input text already loaded), sampled every
    millisecond from outside, since the call may hold the interpreter lock."""
    env = dict(os.environ, OPENBLAS_NUM_THREADS="1", OMP_NUM_THREADS="1")
    job = json.dumps({"call": call, "path": str(path), "limit": limit})
    # The child runs outside the source tree so that it imports the installed package.
    child = subprocess.Popen(
        [sys.executable, "-c", CHILD, job], cwd=tmp_path, env=env, text=True,
        stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
    )
    try:
        assert child.stdout.readline() == "ready\n", child.stderr.read()[-2000:]
        base = peak = _rss(child.pid)
        lines: list[str] = []
        reader = threading.Thread(target=lambda: lines.append(child.stdout.read()))
        reader.start()
        child.stdin.write("go\n")
        child.stdin.flush()
        while reader.is_alive():
            try:
                peak = max(peak, _rss(child.pid))
            except (OSError, IndexError):  # the child has exited
                break
            time.sleep(0.001)
        reader.join(timeout=600)
        code = child.wait(timeout=600)
    finally:
        child.kill()
    assert code == 0, f"child crashed ({code}): {child.stderr.read()[-2000:]}"
    result = json.loads(lines[0])
    result["extra"] = peak - base
    return result


# --------------------------------------------------------------------------------------
# Binary garbage
# --------------------------------------------------------------------------------------


def _garbage(n: int, seed: int) -> bytes:
    return random.Random(seed).randbytes(n)


@pytest.mark.parametrize("seed", range(4))
def test_binary_garbage_fails_cleanly(seed, tmp_path):
    data = _garbage(65536, seed)
    path = tmp_path / "garbage.mps"
    path.write_bytes(data)
    with pytest.raises(ValueError) as exc:
        mm.parse_file(str(path))
    assert exc.value.args == (PARSE_FAILURE,)
    with pytest.raises(ValueError) as exc:
        mm.parse_str(data.decode("latin-1"))
    assert exc.value.args == (PARSE_FAILURE,)


def test_garbage_before_the_first_header_changes_nothing(tmp_path):
    # Bytes without letters or comment marks: no line of it can be a header.
    rng = random.Random(7)
    junk = bytes(rng.choice([*range(0x00, 0x20), *range(0x80, 0x100)]) for _ in range(20000))
    path = tmp_path / "junk.mps"
    path.write_bytes(junk + b"\n" + SMALL_MPS.encode())
    assert written(mm.parse_file(str(path))) == SMALL_TEXT


# --------------------------------------------------------------------------------------
# NUL bytes and invalid UTF-8
# --------------------------------------------------------------------------------------


def test_nul_bytes_in_names_are_kept_and_written():
    text = "NAME m\0x\nROWS\n N o\0bj\n L r\0\nCOLUMNS\n x\0y o\0bj 1 r\0 2\nRHS\n RHS r\0 3\nENDATA\n"
    m = mm.parse_str(text)
    assert (m.name, m.objective_name, m.row_names, m.col_names) == ("m\0x", "o\0bj", ["r\0"], ["x\0y"])
    assert m.col_cost.tolist() == [1.0] and m.a_matrix.value.tolist() == [2.0]
    out = mm.write_str(m)
    assert "    x\0y  o\0bj  1.000000000000e0  r\0  2.000000000000e0\n" in out
    assert mm.write_str(mm.parse_str(out)) == out


CLEAN = b"NAME demo\nROWS\n N obj\n L r1\nCOLUMNS\n x obj 1 r1 2\nRHS\n RHS r1 4\nBOUNDS\n UP BND x 5\nENDATA\n"


@pytest.mark.parametrize(
    "old, new",
    [
        (b"NAME demo", b"NAME d\xffmo"),
        (b" N obj", b" N o\xc3bj"),
        (b" L r1\n", b" L r\xed\xa0\x801\n"),  # an encoded surrogate
        (b" x obj 1", b" \xc0\xafx obj 1"),  # an overlong form
        (b"UP BND x 5", b"UP BND x\xf5 5"),  # a column first named in BOUNDS
    ],
    ids=["model", "objective", "row", "column", "bounds-column"],
)
def test_invalid_utf8_in_a_name_fails_the_read(old, new, tmp_path):
    assert old in CLEAN
    path = tmp_path / "bad.mps"
    path.write_bytes(CLEAN.replace(old, new, 1))
    with pytest.raises(ValueError) as exc:
        mm.parse_file(str(path))
    assert exc.value.args == (PARSE_FAILURE,)


@pytest.mark.parametrize(
    "old, new",
    [
        (b"NAME demo", b"* \xff\xfe comment\nNAME demo"),
        (b"NAME demo", b"\x80\x81 before any header\nNAME demo"),
        (b"NAME demo", b"NAME demo \xff second word"),
        (b" L r1\n", b" L r1 \xff\n"),  # a third field in ROWS
        (b" RHS r1 4", b" \xffSET r1 4"),  # a right-hand-side set name
        (b"UP BND x 5", b"UP \xffB x 5"),  # a bound-vector name
        (b"ENDATA\n", b"ENDATA\n\xff\xfe after the end"),
    ],
    ids=["comment", "before-header", "name-second-word", "rows-extra-field", "rhs-set", "bound-vector", "after-endata"],
)
def test_invalid_utf8_outside_names_changes_nothing(old, new, tmp_path):
    assert old in CLEAN
    clean, dirty = tmp_path / "clean.mps", tmp_path / "dirty.mps"
    clean.write_bytes(CLEAN)
    dirty.write_bytes(CLEAN.replace(old, new, 1))
    assert written(mm.parse_file(str(dirty))) == written(mm.parse_file(str(clean)))


def test_lone_surrogate_in_a_str_raises_unicode_error():
    with pytest.raises(UnicodeEncodeError):
        mm.parse_str(SMALL_MPS.replace("demo", "de\ud800mo"))


# --------------------------------------------------------------------------------------
# Size: hints, long lines, many lines, repeated sections, expanding gzip
# --------------------------------------------------------------------------------------

ABSURD_HINTS = "* ROWS: 4000000000\n* COLUMNS: (18446744073709551615)\n* NONZERO: 99999999999999\n"


@pytest.mark.parametrize("call", ["parse_str", "parse_file"])
def test_absurd_size_hints_reserve_nothing_absurd(call, tmp_path):
    path = tmp_path / "hints.mps"
    path.write_text(ABSURD_HINTS + SMALL_MPS)
    # 1.5 GiB of address space: enough for the interpreter and NumPy, far too little
    # for arrays sized from the hints (billions of entries).
    got = run_child(call, path, 1536 * MiB, tmp_path)
    assert got.get("text") == SMALL_TEXT, got
    print(f"peak hints {call}: {got['extra'] / MiB:.1f} MiB")
    assert got["extra"] < 4 * MiB


HUNDRED_MB = 100 * 10**6

LONG_LINES = {
    # A single 100 MB line and nothing else: no ENDATA, so the read fails.
    "only-one-line": (lambda: "x" * HUNDRED_MB, {"error": "ValueError", "message": PARSE_FAILURE}),
    # The same line as a comment, a one-field ROWS record and a pre-header line: ignored.
    "comment": (lambda: "*" + "c" * HUNDRED_MB + "\n" + SMALL_MPS, {"text": SMALL_TEXT}),
    "rows-record": (
        lambda: SMALL_MPS.replace(" L  c1\n", " L  c1\n " + "L" * HUNDRED_MB + "\n"),
        {"text": SMALL_TEXT},
    ),
    "before-header": (lambda: "q" * HUNDRED_MB + "\n" + SMALL_MPS, {"text": SMALL_TEXT}),
}


@pytest.mark.parametrize(
    "case, call",
    [
        ("only-one-line", "parse_str"),
        ("only-one-line", "parse_file"),
        ("comment", "parse_file"),
        ("rows-record", "parse_str"),
        ("before-header", "parse_file"),
    ],
)
def test_a_single_100mb_line(case, call, tmp_path):
    make, expected = LONG_LINES[case]
    path = tmp_path / "long.mps"
    path.write_text(make())
    got = run_child(call, path, 3 * 1024 * MiB, tmp_path)
    for key, want in expected.items():
        assert got.get(key) == want, (key, {k: v for k, v in got.items() if k != "text"})
    print(f"peak {case} {call}: {got['extra'] / MiB:.0f} MiB")
    # parse_file holds the loaded text once; parse_str its UTF-8 encoding and the
    # private copy of it.
    bound = (130 if call == "parse_file" else 220) * MiB
    assert got["extra"] < bound, f"peak grew by {got['extra'] / MiB:.0f} MiB"


@pytest.mark.parametrize(
    "where",
    ["before-name", "in-rows", "in-columns", "in-bounds", "blank-lines-in-columns"],
)
def test_millions_of_empty_lines(where):
    many = "\n" * 3_000_000
    if where == "before-name":
        text = many + SMALL_MPS
    elif where == "in-rows":
        text = SMALL_MPS.replace(" L  c1\n", " L  c1\n" + many)
    elif where == "in-columns":
        text = SMALL_MPS.replace("    x  c2  2\n", "    x  c2  2\n" + many)
    elif where == "in-bounds":
        text = SMALL_MPS.replace("BOUNDS\n", "BOUNDS\n" + many)
    else:  # blank-only lines are skipped inside COLUMNS (in ROWS they would end the section)
        text = SMALL_MPS.replace("    x  c2  2\n", "    x  c2  2\n" + " \t \n" * 1_000_000)
    assert written(mm.parse_str(text)) == SMALL_TEXT


def test_deeply_repeated_sections():
    # 100,000 empty sections of every kind between the real ones change nothing.
    filler = "RANGES\nBOUNDS\nRHS\nQUADOBJ\nOBJSENSE\n" * 100_000
    m = mm.parse_str(SMALL_MPS.replace("ENDATA", filler + "ENDATA"))
    assert written(m) == SMALL_TEXT

    # 20,000 COLUMNS sections, each opening column x again: every one becomes its own
    # column, in order, with its own start and cost.
    n = 20_000
    text = "ROWS\n N obj\n L r\n" + "COLUMNS\n x obj 1 r 2\n" * n + "ENDATA\n"
    m = mm.parse_str(text)
    assert m.num_col == n and m.col_names == ["x"] * n
    assert m.a_matrix.start.tolist() == list(range(n + 1))
    assert np.all(m.col_cost == 1.0) and np.all(m.a_matrix.value == 2.0)

    # 20,000 ROWS sections: every row counts once.
    text = "".join(f"ROWS\n L r{i}\n" for i in range(n)) + "ENDATA\n"
    assert mm.parse_str(text).num_row == n


def test_gzip_that_expands_a_thousandfold(tmp_path):
    payload = b"\n" * (150 * 10**6) + SMALL_MPS.encode()
    packed = zlib.compressobj(9, zlib.DEFLATED, 31)
    data = packed.compress(payload) + packed.flush()
    assert len(payload) / len(data) > 900
    path = tmp_path / "bomb.mps.gz"
    path.write_bytes(data)
    got = run_child("parse_file", path, 3 * 1024 * MiB, tmp_path)
    assert got.get("text") == SMALL_TEXT, got
    print(f"peak bomb: {got['extra'] / MiB:.0f} MiB")
    # The decoded text is held once while it grows (at most doubling).
    assert got["extra"] < 350 * MiB, f"peak grew by {got['extra'] / MiB:.0f} MiB"


@pytest.mark.parametrize("keep", [0, 1, 9, 10, 11, 30, -9, -8, -4, -1])
def test_truncated_gzip(keep, tmp_path):
    whole = gzip.compress(SMALL_MPS.encode(), mtime=0)
    path = tmp_path / "cut.mps.gz"
    path.write_bytes(whole[:keep])
    with pytest.raises(ValueError) as exc:
        mm.parse_file(str(path))
    assert exc.value.args == ("Read error: unexpected end of file",)


# --------------------------------------------------------------------------------------
# Odd paths
# --------------------------------------------------------------------------------------


def test_directory_and_device_paths(tmp_path):
    with pytest.raises(ValueError) as exc:
        mm.parse_file(str(tmp_path))
    assert exc.value.args == ("Read error: Is a directory (os error 21)",)
    if os.path.exists("/dev/null"):  # a device with no data reads as an empty text
        with pytest.raises(ValueError) as exc:
            mm.parse_file("/dev/null")
        assert exc.value.args == (PARSE_FAILURE,)


@pytest.mark.parametrize("path", ["a\0b.mps", "\0", "model.mps\0.gz"])
def test_paths_with_nul(path, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    with pytest.raises(ValueError) as exc:
        mm.parse_file(path)
    assert exc.value.args == ("Cannot open file: file name contained an unexpected NUL byte",)
    with pytest.raises(OSError) as exc:
        mm.write_file(mm.parse_str(SMALL_MPS), path)
    assert exc.value.args == ("file name contained an unexpected NUL byte",)
    assert list(tmp_path.iterdir()) == []


# --------------------------------------------------------------------------------------
# Arrays edited into inconsistent shapes before writing
# --------------------------------------------------------------------------------------
# WRITER_MPS has 4 rows and 3 columns x, y, z; start = [0, 2, 3, 3], nnz = 3.


def _edit_start_past_nnz(m):
    m.a_matrix.start[-1] = 6


def _edit_start_decreasing(m):
    m.a_matrix.start[2] = 1  # start = [0, 2, 1, 3]: y gets no entries, z gets positions 1 and 2


def _edit_index_past_rows(m):
    m.a_matrix.index[0] = 4


def _edit_index_huge(m):
    m.a_matrix.index[1] = 2**32 - 1


def _edit_reshape(m):
    m.row_upper.shape = (2, 2)
    m.a_matrix.start.shape = (2, 2)


def _edit_fortran_order(m):
    m.row_lower.shape = (2, 2)
    set_strides(m.row_lower, (8, 16))


def _edit_strided(m):
    m.row_upper.shape = (2, 2)
    set_strides(m.row_upper, (8, 8))  # overlapping rows: neither C nor Fortran order


def _edit_dtype(path, dtype):
    def edit(m):
        obj = m.a_matrix if path in ("start", "index", "value") else m
        set_dtype(getattr(obj, path), dtype)

    return edit


def _edit_code(m):
    m.col_integrality[1] = 200


INCONSISTENT = {
    "start-past-nnz": (_edit_start_past_nnz, ("panic", "index out of bounds: the len is 3 but the index is 3")),
    "index-past-rows": (_edit_index_past_rows, ("panic", "index out of bounds: the len is 4 but the index is 4")),
    "index-huge": (_edit_index_huge, ("panic", "index out of bounds: the len is 4 but the index is 4294967295")),
    "start-decreasing": (_edit_start_decreasing, ("text", "    y  cost  2.000000000000e0\n    M0000002")),
    "reshaped": (_edit_reshape, ("same", None)),
    "fortran-order": (_edit_fortran_order, ("same", None)),
    "non-contiguous": (_edit_strided, (TypeError, "The given array is not contiguous")),
    "cost-as-int64": (_edit_dtype("col_cost", np.int64), (TypeError, "float64")),
    "value-as-uint8": (_edit_dtype("value", np.uint8), (TypeError, "float64")),  # eight times the length
    "start-as-float32": (_edit_dtype("start", np.float32), (TypeError, "uint32")),
    "index-as-uint16": (_edit_dtype("index", np.uint16), (TypeError, "uint32")),  # wrong length
    "integrality-code": (_edit_code, (ValueError, "invalid integrality code: 200 (expected 0..=3)")),
}


@pytest.mark.parametrize("sink", ["str", "file"])
@pytest.mark.parametrize("case", list(INCONSISTENT))
def test_inconsistent_arrays_before_writing(case, sink, tmp_path):
    edit, (kind, detail) = INCONSISTENT[case]
    m = mm.parse_str(WRITER_MPS)
    clean = mm.write_str(m)
    try:
        edit(m)
    except ValueError as exc:  # NumPy refused the edit itself (size or layout)
        pytest.skip(f"NumPy refuses this edit: {exc}")
    out = tmp_path / "out.mps"

    def write():
        if sink == "str":
            return mm.write_str(m)
        mm.write_file(m, str(out))
        return out.read_text()

    if kind == "panic":
        with raises_panic(detail):
            write()
    elif kind == "same":
        assert write() == clean
    elif kind == "text":
        text = write()
        assert detail in text
        assert mm.write_str(mm.parse_str(text)) == text  # and it reads back
    else:
        with pytest.raises(kind) as exc:
            write()
        if kind is TypeError:
            assert detail in str(exc.value)
        else:
            assert exc.value.args == (detail,)
        if sink == "file":  # checks happen before the file is created
            assert not out.exists()
