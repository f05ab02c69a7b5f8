"""Helpers shared by the Python tests: model texts, a hand-made gzip builder, exact model
snapshots, the internal-fault exception and process measurements. The test modules import
it by name (pytest puts tests/support on the path)."""

from __future__ import annotations

import os
import struct
import warnings
import zlib
from contextlib import contextmanager

import numpy as np
import pytest

# A minimising model: an L row with a range, a G row, an E row, one continuous column and
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

# A model with every part beyond a linear program: the objective's H from QUADOBJ, H_r of
# rows c1 (QCMATRIX: H = 2Q) and c2 (QSECTION), two SOS sets, two indicators on the binary y.
PARTS_MPS = """\
NAME          parts
ROWS
 N  cost
 L  c1
 G  c2
 L  c3
COLUMNS
    x  cost  1  c1  1
    MARKER  'MARKER'  'INTORG'
    y  c2  1  c3  1
    MARKER  'MARKER'  'INTEND'
    z  c1  1  c3  -1
RHS
    RHS1  c1  4  c3  2
BOUNDS
 UP BND1  x  10
SOS
 S1 first
    x  1
    z  2
 S2 second  5
    z  1
    x  2.5
    y  3
QUADOBJ
    x  x  2
    x  z  -0.5
    z  z  4
QCMATRIX  c1
    x  x  1
    x  z  0.25
    z  x  0.25
QSECTION  c2
    z  z  3
INDICATORS
 IF c3  y  1
 IF c1  y  0
ENDATA
"""

# A maximising model that exercises every section the writer emits, and its exact text.
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

WRITER_TEXT = """\
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
    x  cost  1.000000000000e0  c1  1.000000000000e0
    x  c2  2.000000000000e0
    M0000001  'MARKER'                 'INTORG'
    y  cost  2.000000000000e0  c1  3.000000000000e0
    M0000002  'MARKER'                 'INTEND'
    z  cost  0.000000000000e+00
RHS
    RHS1  cost  -1.500000000000e0
    RHS1  c1  4.000000000000e0
    RHS1  c2  1.000000000000e0
    RHS1  c3  2.000000000000e0
    RHS1  c4  3.000000000000e0
RANGES
    RNG1  c4  2.000000000000e0
BOUNDS
 BV BND1  y
 FR BND1  z
ENDATA
"""

EMPTY_MPS = "ROWS\nCOLUMNS\nENDATA\n"


def generated_mps(num_col: int, num_row: int, name: str = "big") -> str:
    """A deterministic model with three entries per column, a marker block every tenth
    column, right-hand sides, ranges and bounds; about 80 bytes of text per column."""
    out = [f"NAME {name}\nROWS\n N obj\n"]
    out.extend(f" {'LGE'[i % 3]} r{i}\n" for i in range(num_row))
    out.append("COLUMNS\n")
    integral = False
    for j in range(num_col):
        if (j % 10 == 9) != integral:
            integral = not integral
            out.append(f"    M  'MARKER'  '{'INTORG' if integral else 'INTEND'}'\n")
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


def gzip_member(payload: bytes, *, extra=None, fname=None, fcomment=None, fhcrc=False,
                flags=0, body=None, hcrc_delta=0, crc_delta=0, isize_delta=0) -> bytes:
    """One gzip member built by hand: the header fields given are written and their FLG
    bits set; `flags` adds further bits; the deltas spoil the header CRC, CRC32 or ISIZE."""
    flags |= (4 if extra is not None else 0) | (8 if fname is not None else 0)
    flags |= (16 if fcomment is not None else 0) | (2 if fhcrc else 0)
    head = bytes([0x1F, 0x8B, 8, flags, 0, 0, 0, 0, 0, 255])
    if extra is not None:
        head += struct.pack("<H", len(extra)) + extra
    head += b"".join(f + b"\0" for f in (fname, fcomment) if f is not None)
    if fhcrc:
        head += struct.pack("<H", (zlib.crc32(head) + hcrc_delta) & 0xFFFF)
    if body is None:
        c = zlib.compressobj(6, zlib.DEFLATED, -15)
        body = c.compress(payload) + c.flush()
    crc = (zlib.crc32(payload) + crc_delta) & 0xFFFFFFFF
    return head + body + struct.pack("<II", crc, (len(payload) + isize_delta) & 0xFFFFFFFF)


ARRAY_DTYPES = {
    "col_cost": np.float64, "col_lower": np.float64, "col_upper": np.float64,
    "row_lower": np.float64, "row_upper": np.float64, "col_integrality": np.uint8,
    "a_matrix.start": np.uint32, "a_matrix.index": np.uint32, "a_matrix.value": np.float64,
}
ARRAY_PATHS = tuple(ARRAY_DTYPES)
SCALARS = ("name", "num_row", "num_col", "obj_sense_minimize", "objective_name")


def get_array(model, path: str) -> np.ndarray:
    obj = model
    for part in path.split("."):
        obj = getattr(obj, part)
    return obj


def _arrays(*arrays) -> tuple:
    return tuple((a.dtype.str, a.shape, a.tobytes()) for a in arrays)


def parts_snapshot(model) -> tuple:
    """The parts beyond a linear program (hessian, row_hessians, sos, indicators), exactly."""
    matrix = (lambda m: None if m is None else _arrays(m.start, m.index, m.value))
    sos = model.sos
    indicators = model.indicators
    return (matrix(model.hessian), tuple((row, matrix(h)) for row, h in sorted(model.row_hessians.items())),
            None if sos is None else _arrays(sos.type, sos.priority, sos.start, sos.index, sos.weight) + (sos.names,),
            None if indicators is None else _arrays(indicators.row, indicators.column, indicators.value))


def snapshot(model) -> dict:
    """Everything a Model holds, in a form that compares exactly (floats as bytes, so NaN
    and negative zero compare bit for bit)."""
    snap = {k: getattr(model, k) for k in SCALARS}
    snap["obj_offset"] = struct.pack("<d", model.obj_offset)
    snap["names"] = (model.row_names, model.col_names)
    for p in ARRAY_PATHS:
        snap[p] = _arrays(get_array(model, p))[0]
    snap["parts"] = parts_snapshot(model)
    return snap


@contextmanager
def raises_panic(match: str | None = None):
    """Expects the module's internal-fault exception (a BaseException, not an Exception);
    yields a list that receives it. `match` is compared with the whole fault text."""
    caught = []
    try:
        yield caught
    except Exception as exc:
        pytest.fail(f"expected PanicException, got {type(exc).__name__}: {exc}")
    except BaseException as exc:  # noqa: B902
        if type(exc).__name__ != "PanicException":
            raise
        caught.append(exc)
        assert match is None or exc.args == (match,)
    else:
        pytest.fail("expected PanicException, nothing was raised")


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


def rss_bytes() -> int:
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


# Every kind of row, column and bound once or more, an empty row and an empty column.
KINDS_MPS = """\
NAME          KINDS
ROWS
 N  obj
 E  e1
 L  l1
 G  g1
 L  r1
 E  empty
COLUMNS
    c1  obj  1  e1  2
    c1  l1  -0.5
    MARKER  'MARKER'  'INTORG'
    i1  obj  -3  g1  1
    b1  e1  1  r1  4
    MARKER  'MARKER'  'INTEND'
    z  obj  0.25
    s1  g1  1.5
    f1  e1  3
    u1  l1  1
    w  l1  1
RHS
    RHS  e1  10  l1  8
    RHS  g1  -2  r1  6
    RHS  obj  1.5
RANGES
    RNG  r1  4
BOUNDS
 UP BND  c1  40
 UI BND  i1  7
 FR BND  z
 SC BND  s1  5
 FX BND  f1  3
 MI BND  u1
 UP BND  u1  4
ENDATA
"""

# What `mopsel info --json` and mopsel.stats give for it.
KINDS_STATS = {
    "name": "KINDS", "objective": "obj", "sense": "minimise", "constant": -1.5,
    "rows": 5, "row_kinds": {"E": 2, "L": 1, "G": 1, "ranged": 1, "free": 0}, "empty_rows": 1,
    "columns": 8, "empty_columns": 1,
    "column_kinds": {"continuous": 5, "integer": 1, "binary": 1, "semi-continuous": 1, "semi-integer": 0},
    "bounds": {"fixed": 1, "boxed": 4, "lower only": 1, "upper only": 1, "free": 1},
    "nonzeros": 9, "density": 9 / 40, "costs": 3,
    "ranges": {"matrix": [0.5, 4.0], "cost": [0.25, 3.0], "bounds": [1.0, 40.0], "bounds_continuous": [3.0, 40.0],
               "bounds_non_continuous": [1.0, 7.0], "rhs": [2.0, 10.0]},
}
