"""mopsel.write: the writer with its options, to a path or a binary file object."""

from __future__ import annotations

import bz2
import functools
import io
import lzma
import os
from typing import BinaryIO, Callable, Dict, Literal, Optional, Union

from mopsel import _mopsel
from mopsel._extras import require
from mopsel._formats import names_lp
from mopsel._mopsel import Model

Compression = Literal["auto", "gzip", "bz2", "xz", "zstd", None]

_FORMATS = {"free": 0, "fixed": 1, "auto": 2, "mps": 2}
# The compression a path's ending asks for with compress="auto".
_SUFFIXES = {".gz": "gzip", ".bz2": "bz2", ".xz": "xz", ".zst": "zstd"}


def _zstd_compress(data: bytes) -> bytes:
    """One zstd frame: the standard library's module from Python 3.14 on, else the zstandard
    package (mopsel[zstd])."""
    try:
        from compression import zstd  # type: ignore[import-not-found]
    except ImportError:
        zstandard = require("zstandard", "writing zstd-compressed output")
        return bytes(zstandard.ZstdCompressor().compress(data))
    return bytes(zstd.compress(data))


# The compressions made in Python, on the whole text (gzip is the native writer's).
_COMPRESSORS: Dict[str, Callable[[bytes], bytes]] = {
    "bz2": bz2.compress,
    "xz": lzma.compress,
    "zstd": _zstd_compress,
}


def write(
    model: Model,
    target: Union[str, "os.PathLike[str]", BinaryIO],
    *,
    digits: Optional[int] = 13,
    compress: Compression = "auto",
    format: Literal["mps", "auto", "free", "fixed", "lp", None] = None,
) -> None:
    r"""Write `model` as MPS (or LP) text to `target`: a path (str or os.PathLike), whose file is
    replaced whole once the text is complete (as write_file does), or a binary file object,
    whose write() receives the whole text at once.

    digits: significant digits per number, 1 to 17 (default 13: with the other defaults,
        write(m, path) writes the bytes write_file(m, path) writes). None writes every
        number as the shortest text that reads back to the same double (plain notation when
        it is not longer: "1", "0.1", "1e-7", "1.5e300"), writes semi-continuous and
        semi-integer columns with SC and SI bounds, and expresses rows and bounds without the
        1e-12 tolerance, so that parse_file gives back the model bit for bit wherever MPS text
        can hold it (docs/usage.md lists the rest: costs of -0.0, NaN payloads, inverted rows
        and a few ranged rows).
    compress: "auto" compresses as the path's ending says (".gz" gzip, ".bz2" bz2, ".xz"
        xz, ".zst" zstd; file objects get plain text), "gzip", "bz2", "xz" or "zstd" always,
        None never. The gzip member has no name and time stamp 0, so the same model always
        gives the same bytes; zstd needs Python 3.14 or the zstandard package (mopsel[zstd]).
    format: "free" (MPS with fields separated by blanks: names cannot hold blanks), "fixed"
        (MPS in the classic columns: names of at most 8 bytes, blanks inside allowed, numbers
        in 12 characters, rounded to the digits that fit), "auto" or "mps" (free, unless a name
        holds a blank and every name fits fixed columns) or "lp" (LP text: Minimize/Maximize, Subject
        To, Bounds, Generals, ..., which HiGHS, SCIP and Gurobi read; docs/usage.md gives the
        layout). None, the default: "lp" for a path ending in .lp (.lp.gz, ...), "mps"
        otherwise (and for file objects). A model whose names LP text cannot hold (blanks,
        operators, a leading digit, a keyword, a column name given twice) raises ValueError
        naming the first.

    Every name must read back as itself: a name the format cannot carry (a blank inside in
    free format, more than 8 bytes in fixed columns, an empty one, ...) raises ValueError
    naming it, as does a number whose exact text does not fit fixed columns with
    digits=None, and arrays edited into an impossible state. Raises the OSError subclass
    with errno and filename (as open() does) when the file cannot be created or written,
    TypeError or ValueError for bad arguments; nothing is written when the model cannot be.

    >>> import io, mopsel
    >>> m = mopsel.parse_str("ROWS\n N obj\n L c\nCOLUMNS\n x obj 0.1 c 1\nRHS\n rhs c 3\nENDATA\n")
    >>> out = io.BytesIO()
    >>> mopsel.write(m, out, digits=None)
    >>> print(out.getvalue().decode(), end="")
    NAME          
    ROWS
     N  obj
     L  c
    COLUMNS
        x  obj  0.1  c  1
    RHS
        RHS1  c  3
    BOUNDS
    ENDATA
    """  # noqa: W291 (the NAME line of the example ends in blanks, as written)
    if not isinstance(model, Model):
        raise TypeError(f"model: expected a mopsel Model, got {type(model).__name__}")
    if digits is None:
        count = 0  # the exact mode
    elif isinstance(digits, bool) or not isinstance(digits, int):
        raise TypeError(f"digits: expected an int or None, got {type(digits).__name__}")
    elif not 1 <= digits <= 17:
        raise ValueError(f"digits: {digits} is not from 1 to 17")
    else:
        count = digits
    if compress not in ("auto", "gzip", None) and compress not in _COMPRESSORS:
        raise ValueError(f"compress: expected 'auto', 'gzip', 'bz2', 'xz', 'zstd' or None, got {compress!r}")
    if format not in _FORMATS and format not in ("lp", None):
        raise ValueError(f"format: expected 'mps', 'auto', 'free', 'fixed', 'lp' or None, got {format!r}")

    path: Optional[str] = None
    if isinstance(target, (str, os.PathLike)):
        path = os.fsdecode(os.fspath(target))
    elif isinstance(target, io.TextIOBase):
        raise TypeError("target: a text file object; open it in binary mode ('wb')")
    elif not callable(getattr(target, "write", None)):
        raise TypeError(f"target: expected a path or a binary file object, got {type(target).__name__}")
    writer: Callable[..., Optional[bytes]]  # _write_lp, or _write_model with the format's code
    if format == "lp" or (format is None and names_lp(path)):
        writer = _mopsel._write_lp
    else:
        writer = functools.partial(_mopsel._write_model, format=_FORMATS[format or "mps"])
    kind: Optional[str] = compress
    if compress == "auto":
        kind = next((k for suffix, k in _SUFFIXES.items() if path is not None and path.endswith(suffix)), None)
    if kind in _COMPRESSORS:
        data = _COMPRESSORS[kind](writer(model, path=None, digits=count, gzip=False) or b"")
        if path is not None:
            _mopsel._write_bytes(path, data)
        else:
            target.write(data)  # type: ignore[union-attr]
        return
    text = writer(model, path=path, digits=count, gzip=kind == "gzip")
    if path is None:
        target.write(text)  # type: ignore[union-attr, arg-type]
