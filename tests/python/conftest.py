"""Shared helpers for the Python API tests: model texts, a hand-made gzip builder,
model comparison, the internal-fault exception and process measurements."""

from __future__ import annotations

import os
import struct
import sys
import types
import warnings
import zlib
from contextlib import contextmanager
from pathlib import Path

import numpy as np
import pytest

import mopsel._mopsel as mm

# The public test models next to the project (absent on other machines: tests skip).
SHARED_DATA = Path(__file__).resolve().parents[2].parent / "shared" / "data"

# --------------------------------------------------------------------------------------
# Model texts
# --------------------------------------------------------------------------------------

# A small minimising model: an L row with a range, a G row, an E row, one continuous and
# one integer column from a marker block (which gets the bounds [0, 1] at ENDATA).
SMALL_MPS = """\
NAME          demo
ROWS
 N  cost
 L  c1
 G  c2
 E  c3
COLUMNS
    x  cost  1  c1  1
    x  c2  2
    MARKER  'MARKER'  'INTORG'
    y  cost  2  c1  3
    MARKER  'MARKER'  'INTEND'
RHS
    RHS1  cost  -1.5  c1  4
    RHS1  c2  1  c3  2
RANGES
    RNG1  c1  3
BOUNDS
 UP BND1  x  10
ENDATA
"""

INF = float("inf")

# What SMALL_MPS reads as, attribute by attribute.
SMALL_EXPECTED = {
    "name": "demo",
    "num_row": 3,
    "num_col": 2,
    "obj_sense_minimize": True,
    "obj_offset": 1.5,
    "objective_name": "cost",
    "row_names": ["c1", "c2", "c3"],
    "col_names": ["x", "y"],
    "row_lower": [1.0, 1.0, 2.0],
    "row_upper": [4.0, INF, 2.0],
    "col_cost": [1.0, 2.0],
    "col_lower": [0.0, 0.0],
    "col_upper": [10.0, 1.0],
    "col_integrality": [0, 1],
    "start": [0, 2, 3],
    "index": [0, 1, 0],
    "value": [1.0, 2.0, 3.0],
}

# A maximising model that exercises every section the writer emits.
WRITER_MPS = """\
NAME          demo
OBJSENSE
    MAX
ROWS
 N  cost
 L  c1
 G  c2
 E  c3
 L  c4
COLUMNS
    x  cost  1  c1  1
    x  c2  2
    MARKER  'MARKER'  'INTORG'
    y  cost  2  c1  3
    MARKER  'MARKER'  'INTEND'
    z
RHS
    RHS1  cost  -1.5  c1  4
    RHS1  c2  1  c3  2
    RHS1  c4  3
RANGES
    RNG1  c4  2
BOUNDS
 FR BND1  z
ENDATA
"""

# The exact text the writer produces for WRITER_MPS.
WRITER_TEXT = "".join(
    line + "\n"
    for line in [
        "NAME          demo",
        "OBJSENSE",
        "    MAX",
        "ROWS",
        " N  cost",
        " L  c1",
        " G  c2",
        " E  c3",
        " L  c4",
        "COLUMNS",
        "    x  cost  1.000000000000e0  c1  1.000000000000e0",
        "    x  c2  2.000000000000e0",
        "    M0000001  'MARKER'                 'INTORG'",
        "    y  cost  2.000000000000e0  c1  3.000000000000e0",
        "    M0000002  'MARKER'                 'INTEND'",
        "    z  cost  0.000000000000e+00",
        "RHS",
        "    RHS1  cost  -1.500000000000e0",
        "    RHS1  c1  4.000000000000e0",
        "    RHS1  c2  1.000000000000e0",
        "    RHS1  c3  2.000000000000e0",
        "    RHS1  c4  3.000000000000e0",
        "RANGES",
        "    RNG1  c4  2.000000000000e0",
        "BOUNDS",
        " BV BND1  y",
        " FR BND1  z",
        "ENDATA",
    ]
)

EMPTY_MPS = "ROWS\nCOLUMNS\nENDATA\n"


def generated_mps(num_col: int, num_row: int, name: str = "big") -> str:
    """A deterministic model with three entries per column, a marker block every tenth
    column, right-hand sides, ranges and bounds; about 80 bytes of text per column."""
    out = [f"NAME {name}\nROWS\n N obj\n"]
    kinds = "LGE"
    out.extend(f" {kinds[i % 3]} r{i}\n" for i in range(num_row))
    out.append("COLUMNS\n")
    integral = False
    for j in range(num_col):
        want = j % 10 == 9
        if want != integral:
            out.append("    M  'MARKER'  'INTORG'\n" if want else "    M  'MARKER'  'INTEND'\n")
            integral = want
        a, b, c = j % num_row, (j * 7 + 1) % num_row, (j * 13 + 5) % num_row
        out.append(f"    x{j}  obj  {j % 17 + 1}  r{a}  {j % 5 + 1}.5\n")
        out.append(f"    x{j}  r{b}  -{j % 3 + 1}  r{c}  0.25\n")
    if integral:
        out.append("    M  'MARKER'  'INTEND'\n")
    out.append("RHS\n")
    out.extend(f"    RHS r{i}  {i % 9 + 1}\n" for i in range(0, num_row, 2))
    out.append("RANGES\n")
    out.extend(f"    RNG r{i}  {i % 4 + 1}\n" for i in range(0, num_row, 5))
    out.append("BOUNDS\n")
    out.extend(f" UP BND x{j}  {j % 50 + 1}\n" for j in range(0, num_col, 3))
    out.append("ENDATA\n")
    return "".join(out)


# --------------------------------------------------------------------------------------
# gzip members built by hand
# --------------------------------------------------------------------------------------

FTEXT, FHCRC, FEXTRA, FNAME, FCOMMENT = 1, 2, 4, 8, 16


def deflate_raw(payload: bytes, level: int = 6) -> bytes:
    c = zlib.compressobj(level, zlib.DEFLATED, -15)
    return c.compress(payload) + c.flush()


def gzip_header(
    *,
    extra: bytes | None = None,
    fname: bytes | None = None,
    fcomment: bytes | None = None,
    fhcrc: bool = False,
    more_flags: int = 0,
    id1: int = 0x1F,
    id2: int = 0x8B,
    cm: int = 8,
    mtime: int = 0,
    xfl: int = 0,
    os_byte: int = 255,
    hcrc_delta: int = 0,
) -> bytes:
    """The header of one gzip member. Fields given are written and their FLG bits set;
    `more_flags` adds further FLG bits (FTEXT, reserved bits); `hcrc_delta` spoils FHCRC."""
    flg = more_flags
    flg |= FEXTRA if extra is not None else 0
    flg |= FNAME if fname is not None else 0
    flg |= FCOMMENT if fcomment is not None else 0
    flg |= FHCRC if fhcrc else 0
    head = bytes([id1, id2, cm, flg]) + struct.pack("<I", mtime) + bytes([xfl, os_byte])
    if extra is not None:
        head += struct.pack("<H", len(extra)) + extra
    if fname is not None:
        head += fname + b"\0"
    if fcomment is not None:
        head += fcomment + b"\0"
    if fhcrc:
        head += struct.pack("<H", (zlib.crc32(head) + hcrc_delta) & 0xFFFF)
    return head


def gzip_member(
    payload: bytes,
    *,
    body: bytes | None = None,
    crc_delta: int = 0,
    isize_delta: int = 0,
    level: int = 6,
    **header,
) -> bytes:
    """One complete gzip member around `payload` (or around a given raw `body`)."""
    if body is None:
        body = deflate_raw(payload, level)
    crc = (zlib.crc32(payload) + crc_delta) & 0xFFFFFFFF
    isize = (len(payload) + isize_delta) & 0xFFFFFFFF
    return gzip_header(**header) + body + struct.pack("<II", crc, isize)


# --------------------------------------------------------------------------------------
# Models
# --------------------------------------------------------------------------------------

ARRAY_PATHS = (
    "col_cost",
    "col_lower",
    "col_upper",
    "row_lower",
    "row_upper",
    "col_integrality",
    "a_matrix.start",
    "a_matrix.index",
    "a_matrix.value",
)

ARRAY_DTYPES = {
    "col_cost": np.float64,
    "col_lower": np.float64,
    "col_upper": np.float64,
    "row_lower": np.float64,
    "row_upper": np.float64,
    "col_integrality": np.uint8,
    "a_matrix.start": np.uint32,
    "a_matrix.index": np.uint32,
    "a_matrix.value": np.float64,
}

SCALARS = ("name", "num_row", "num_col", "obj_sense_minimize", "obj_offset", "objective_name")


def get_array(model, path: str) -> np.ndarray:
    obj = model
    for part in path.split("."):
        obj = getattr(obj, part)
    return obj


def snapshot(model) -> dict:
    """Everything a Model holds, in a form that compares exactly (arrays as dtype and
    bytes, so NaN and negative zero compare bit for bit)."""
    snap = {k: getattr(model, k) for k in SCALARS}
    snap["obj_offset"] = struct.pack("<d", model.obj_offset)
    snap["row_names"] = model.row_names
    snap["col_names"] = model.col_names
    for p in ARRAY_PATHS:
        a = get_array(model, p)
        snap[p] = (a.dtype.str, a.shape, a.tobytes())
    return snap


def check_expected(model, expected: dict) -> None:
    for key, want in expected.items():
        if key in ("start", "index", "value"):
            got = getattr(model.a_matrix, key).tolist()
        else:
            got = getattr(model, key)
            if isinstance(got, np.ndarray):
                got = got.tolist()
        assert got == want, key


# --------------------------------------------------------------------------------------
# Internal faults
# --------------------------------------------------------------------------------------


@contextmanager
def raises_panic(match: str | None = None):
    """Expects the module's internal-fault exception; yields a one-element list that
    receives the exception. `match` is compared with the whole fault text."""
    caught = []
    try:
        yield caught
    except Exception as exc:  # the internal fault must not be an Exception
        pytest.fail(f"expected PanicException, got {type(exc).__name__}: {exc}")
    except BaseException as exc:  # noqa: B902
        if type(exc).__name__ != "PanicException":
            raise
        caught.append(exc)
        if match is not None:
            assert exc.args == (match,)
    else:
        pytest.fail("expected PanicException, nothing was raised")


# --------------------------------------------------------------------------------------
# In-place layout changes
# --------------------------------------------------------------------------------------


def set_strides(arr: np.ndarray, strides: tuple) -> None:
    """Assigns new strides in place (deprecated in recent NumPy, still honoured)."""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)
        arr.strides = strides


def set_dtype(arr: np.ndarray, dtype) -> None:
    """Reinterprets the array's memory in place as another dtype."""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)
        arr.dtype = dtype


# --------------------------------------------------------------------------------------
# Process measurements
# --------------------------------------------------------------------------------------


def rss_bytes() -> int:
    with open("/proc/self/statm") as f:
        resident = int(f.read().split()[1])
    return resident * os.sysconf("SC_PAGE_SIZE")


@pytest.fixture
def small_model():
    return mm.parse_str(SMALL_MPS)


@pytest.fixture
def writer_model():
    return mm.parse_str(WRITER_MPS)


@pytest.fixture
def small_file(tmp_path):
    p = tmp_path / "small.mps"
    p.write_text(SMALL_MPS)
    return p


def python_is_root() -> bool:
    return hasattr(os, "geteuid") and os.geteuid() == 0


# Test modules import these helpers as `mopsel_testlib` (conftest itself is not importable
# under pytest's importlib import mode).
_lib = types.ModuleType("mopsel_testlib")
_lib.__dict__.update({k: v for k, v in globals().items() if not k.startswith("__")})
sys.modules["mopsel_testlib"] = _lib
