"""Hostile input: each case states its outcome (a clear exception, the same model as the
clean text, bounded memory) and must never crash the interpreter. Memory-heavy cases run
in a child interpreter under an address-space limit, which reports its peak resident size."""

from __future__ import annotations

import gzip
import json
import os
import random
import re
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
    outcome = {"error": type(exc).__name__, "message": str(exc), "notes": getattr(exc, "__notes__", [])}
print(json.dumps(outcome), flush=True)
"""


def _rss(pid: int) -> int:
    with open(f"/proc/{pid}/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def run_child(call: str, path: Path, limit: int, tmp_path: Path) -> dict:
    """Runs one call in a fresh interpreter limited to `limit` bytes of address space.
    "extra" in the result: the peak resident size during the call above the size just
    before it, sampled from outside every millisecond (the call may hold the lock)."""
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


@pytest.mark.parametrize("seed", range(4))
def test_binary_garbage_fails_cleanly(seed, tmp_path):
    data = random.Random(seed).randbytes(65536)
    path = tmp_path / "garbage.mps"
    path.write_bytes(data)
    for call, arg, where in ((mm.parse_file, str(path), f"{path}:"), (mm.parse_str, data.decode("latin-1"), "line ")):
        with pytest.raises(ValueError) as exc:
            call(arg)
        assert exc.value.args == (PARSE_FAILURE,)
        # The last line of the text (lines end at LF only), shown shortened.
        last = data.count(b"\n") + (0 if data.endswith(b"\n") else 1)
        assert exc.value.__notes__[0] == f"{where}{last}: no ENDATA line"
        assert len(exc.value.__notes__[1]) <= 20 + 4 * 120  # 120 bytes at most, escaped when not UTF-8


def test_nul_bytes_in_names_are_kept_and_written():
    text = "NAME m\0x\nROWS\n N o\0bj\n L r\0\nCOLUMNS\n x\0y o\0bj 1 r\0 2\nRHS\n RHS r\0 3\nENDATA\n"
    m = mm.parse_str(text)
    assert (m.name, m.objective_name, m.row_names, m.col_names) == ("m\0x", "o\0bj", ["r\0"], ["x\0y"])
    assert m.col_cost.tolist() == [1.0] and m.a_matrix.value.tolist() == [2.0]
    out = mm.write_str(m)
    assert "    x\0y  o\0bj  1.000000000000e0  r\0  2.000000000000e0\n" in out
    assert mm.write_str(mm.parse_str(out)) == out


CLEAN = b"NAME demo\nROWS\n N obj\n L r1\nCOLUMNS\n x obj 1 r1 2\nRHS\n RHS r1 4\nBOUNDS\n UP BND x 5\nENDATA\n"
# Bytes without letters or comment marks: no line of it can be a header.
JUNK = bytes(random.Random(7).choice([*range(0x00, 0x20), *range(0x80, 0x100)]) for _ in range(20000))


@pytest.mark.parametrize(
    "old, new, fails",
    [
        # Invalid UTF-8 in a name that reaches the model fails the read.
        (b"NAME demo", b"NAME d\xffmo", True),
        (b" N obj", b" N o\xc3bj", True),
        (b" L r1\n", b" L r\xed\xa0\x801\n", True),  # an encoded surrogate
        (b" x obj 1", b" \xc0\xafx obj 1", True),  # an overlong form
        (b"UP BND x 5", b"UP BND x\xf5 5", True),  # a column first named in BOUNDS
        # Anywhere else it changes nothing.
        (b"NAME demo", b"* \xff\xfe comment\nNAME demo", False),
        (b"NAME demo", JUNK + b"\nNAME demo", False),  # before any header
        (b"NAME demo", b"NAME demo \xff second word", False),
        (b" L r1\n", b" L r1 \xff\n", False),  # a third field in ROWS
        (b" RHS r1 4", b" \xffSET r1 4", False),  # a right-hand-side set name
        (b"UP BND x 5", b"UP \xffB x 5", False),  # a bound-vector name
        (b"ENDATA\n", b"ENDATA\n\xff\xfe after the end", False),
    ],
    ids=["model", "objective", "row", "column", "bounds-column", "comment", "before-header",
         "name-second-word", "rows-extra-field", "rhs-set", "bound-vector", "after-endata"],
)
def test_invalid_bytes_fail_only_in_names(old, new, fails, tmp_path):
    assert old in CLEAN
    clean, dirty = tmp_path / "clean.mps", tmp_path / "dirty.mps"
    clean.write_bytes(CLEAN)
    dirty.write_bytes(CLEAN.replace(old, new, 1))
    if fails:
        with pytest.raises(ValueError) as exc:
            mm.parse_file(str(dirty))
        assert exc.value.args == (PARSE_FAILURE,)
        lineno = CLEAN[: CLEAN.index(old)].count(b"\n") + 1
        assert re.fullmatch(rf"{re.escape(str(dirty))}:{lineno}: (model|objective|row|column) name is not valid "
                            r"UTF-8 \(byte 0x[0-9A-F]{2} at column \d+\)", exc.value.__notes__[0])
    else:
        assert mm.write_str(mm.parse_file(str(dirty))) == mm.write_str(mm.parse_file(str(clean)))


def test_lone_surrogate_in_a_str_raises_unicode_error():
    with pytest.raises(UnicodeEncodeError):
        mm.parse_str(SMALL_MPS.replace("demo", "de\ud800mo"))


ABSURD_HINTS = "* ROWS: 4000000000\n* COLUMNS: (18446744073709551615)\n* NONZERO: 99999999999999\n"


@pytest.mark.parametrize("call", ["parse_str", "parse_file"])
def test_absurd_size_hints_reserve_nothing_absurd(call, tmp_path):
    path = tmp_path / "hints.mps"
    path.write_text(ABSURD_HINTS + SMALL_MPS)
    # 1.5 GiB of address space: enough for the interpreter and NumPy, far too little
    # for arrays sized from the hints (billions of entries).
    got = run_child(call, path, 1536 * MiB, tmp_path)
    assert got.get("text") == SMALL_TEXT, got
    assert got["extra"] < 4 * MiB


HUNDRED_MB = 100 * 10**6


@pytest.mark.parametrize(
    "call, make, expected",
    [
        # A single 100 MB line and nothing else: no ENDATA, so the read fails; the note
        # shows only the end of the line, where the text ends.
        ("parse_str", lambda: "x" * HUNDRED_MB,
         {"error": "ValueError", "message": PARSE_FAILURE,
          "notes": ["line 1: no ENDATA line", "    1 | ..." + "x" * 114]}),
        ("parse_file", lambda: "x" * HUNDRED_MB, {"error": "ValueError", "message": PARSE_FAILURE}),
        # The same line as a comment, a one-field ROWS record and a pre-header line: ignored.
        ("parse_file", lambda: "*" + "c" * HUNDRED_MB + "\n" + SMALL_MPS, {"text": SMALL_TEXT}),
        ("parse_str", lambda: SMALL_MPS.replace(" L  c1\n", " L  c1\n " + "L" * HUNDRED_MB + "\n"),
         {"text": SMALL_TEXT}),
        ("parse_file", lambda: "q" * HUNDRED_MB + "\n" + SMALL_MPS, {"text": SMALL_TEXT}),
    ],
    ids=["only-line-str", "only-line-file", "comment", "rows-record", "before-header"],
)
def test_a_single_100mb_line(call, make, expected, tmp_path):
    path = tmp_path / "long.mps"
    path.write_text(make())
    got = run_child(call, path, 3 * 1024 * MiB, tmp_path)
    assert {key: got.get(key) for key in expected} == expected, {k: v for k, v in got.items() if k != "text"}
    # parse_file holds the loaded text once; parse_str its UTF-8 encoding and a private copy.
    bound = (130 if call == "parse_file" else 220) * MiB
    assert got["extra"] < bound, f"peak grew by {got['extra'] / MiB:.0f} MiB"


@pytest.mark.parametrize(
    "after, filler",
    [
        ("", "\n" * 3_000_000),  # before NAME
        (" L  c1\n", "\n" * 3_000_000),
        ("    x  c2  2\n", "\n" * 3_000_000),
        ("BOUNDS\n", "\n" * 3_000_000),
        # Blank-only lines are skipped inside COLUMNS (in ROWS they would end the section).
        ("    x  c2  2\n", " \t \n" * 1_000_000),
        # 100,000 empty sections of every kind between the real ones.
        ("UP BND1  x  10\n", "RANGES\nBOUNDS\nRHS\nQUADOBJ\nOBJSENSE\n" * 100_000),
    ],
    ids=["before-name", "in-rows", "in-columns", "in-bounds", "blank-lines-in-columns", "empty-sections"],
)
def test_millions_of_filler_lines_change_nothing(after, filler):
    assert after in SMALL_MPS
    text = filler + SMALL_MPS if not after else SMALL_MPS.replace(after, after + filler, 1)
    assert mm.write_str(mm.parse_str(text)) == SMALL_TEXT


def test_deeply_repeated_sections():
    # 20,000 COLUMNS sections each opening column x again: each is its own column, in
    # order, with its own start and cost; 20,000 ROWS sections: every row counts once.
    n = 20_000
    m = mm.parse_str("ROWS\n N obj\n L r\n" + "COLUMNS\n x obj 1 r 2\n" * n + "ENDATA\n")
    assert m.num_col == n and m.col_names == ["x"] * n
    assert m.a_matrix.start.tolist() == list(range(n + 1))
    assert np.all(m.col_cost == 1.0) and np.all(m.a_matrix.value == 2.0)
    assert mm.parse_str("".join(f"ROWS\n L r{i}\n" for i in range(n)) + "ENDATA\n").num_row == n


def test_gzip_that_expands_a_thousandfold(tmp_path):
    payload = b"\n" * (150 * 10**6) + SMALL_MPS.encode()
    packer = zlib.compressobj(9, zlib.DEFLATED, 31)
    data = packer.compress(payload) + packer.flush()
    assert len(payload) / len(data) > 900
    path = tmp_path / "bomb.mps.gz"
    path.write_bytes(data)
    got = run_child("parse_file", path, 3 * 1024 * MiB, tmp_path)
    assert got.get("text") == SMALL_TEXT, got
    # The decoded text is held once while it grows (at most doubling).
    assert got["extra"] < 350 * MiB, f"peak grew by {got['extra'] / MiB:.0f} MiB"


@pytest.mark.parametrize("keep", [0, 1, 9, 10, 11, 30, -9, -8, -4, -1])
def test_truncated_gzip(keep, tmp_path):
    path = tmp_path / "cut.mps.gz"
    path.write_bytes(gzip.compress(SMALL_MPS.encode(), mtime=0)[:keep])
    with pytest.raises(ValueError) as exc:
        mm.parse_file(str(path))
    assert exc.value.args == ("Read error: unexpected end of file",)
    assert exc.value.__notes__ == [f"{path}: unexpected end of file"]


@pytest.mark.parametrize(
    "path, error, note",
    [("", "Read error: Is a directory (os error 21)", "{}: Is a directory (os error 21)"),
     ("/dev/null", PARSE_FAILURE, "{}:1: no ENDATA line")],  # a device with no data reads as an empty text
)
def test_directory_and_device_paths(path, error, note, tmp_path):
    if path and not os.path.exists(path):
        pytest.skip(f"{path} is absent")
    with pytest.raises(ValueError) as exc:
        mm.parse_file(path or str(tmp_path))
    assert exc.value.args == (error,)
    assert exc.value.__notes__[0] == note.format(path or tmp_path)


@pytest.mark.parametrize("path", ["a\0b.mps", "\0", "model.mps\0.gz"])
def test_paths_with_nul(path, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    with pytest.raises(ValueError) as exc:
        mm.parse_file(path)
    assert exc.value.args == ("Cannot open file: file name contained an unexpected NUL byte",)
    assert exc.value.__notes__ == [f"{path}: file name contained an unexpected NUL byte"]
    with pytest.raises(OSError) as exc:
        mm.write_file(mm.parse_str(SMALL_MPS), path)
    assert exc.value.args == ("file name contained an unexpected NUL byte",)
    assert list(tmp_path.iterdir()) == []


# Arrays edited into inconsistent shapes before writing. WRITER_MPS has 4 rows and the
# columns x, y, z; start = [0, 2, 3, 3], nnz = 3.


def _array(m, path):
    return getattr(m.a_matrix if path in ("start", "index", "value") else m, path)


def _reshape(*paths, strides=None):
    def edit(m):
        for path in paths:
            _array(m, path).shape = (2, 2)
            if strides:
                set_strides(_array(m, path), strides)
    return edit


def _set(path, key, value):
    def edit(m):
        _array(m, path)[key] = value
    return edit


def _dtype(path, dtype):
    return lambda m: set_dtype(_array(m, path), dtype)


INCONSISTENT = {
    "start-past-nnz": (_set("start", -1, 6), ("panic", "index out of bounds: the len is 3 but the index is 3")),
    "index-past-rows": (_set("index", 0, 4), ("panic", "index out of bounds: the len is 4 but the index is 4")),
    "index-huge": (_set("index", 1, 2**32 - 1), ("panic", "index out of bounds: the len is 4 but the index is 4294967295")),
    # start = [0, 2, 1, 3]: y gets no entries, z gets positions 1 and 2.
    "start-decreasing": (_set("start", 2, 1), ("text", "    y  cost  2.000000000000e0\n    M0000002")),
    "reshaped": (_reshape("row_upper", "start"), ("same", None)),
    "fortran-order": (_reshape("row_lower", strides=(8, 16)), ("same", None)),
    # Overlapping rows: neither C nor Fortran order.
    "non-contiguous": (_reshape("row_upper", strides=(8, 8)), (TypeError, "The given array is not contiguous")),
    "cost-as-int64": (_dtype("col_cost", np.int64), (TypeError, "float64")),
    "value-as-uint8": (_dtype("value", np.uint8), (TypeError, "float64")),  # eight times the length
    "start-as-float32": (_dtype("start", np.float32), (TypeError, "uint32")),
    "index-as-uint16": (_dtype("index", np.uint16), (TypeError, "uint32")),  # wrong length
    "integrality-code": (_set("col_integrality", 1, 200), (ValueError, "invalid integrality code: 200 (expected 0..=3)")),
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
