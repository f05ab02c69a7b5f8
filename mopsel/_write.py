"""mopsel.write: the writer with its options, to a path or a binary file object."""

from __future__ import annotations

import io
import os
from typing import BinaryIO, Literal, Optional, Union

from mopsel import _mopsel
from mopsel._formats import names_lp
from mopsel._mopsel import Model

_COMPRESS = ("auto", "gzip", None)


def write(
    model: Model,
    target: Union[str, "os.PathLike[str]", BinaryIO],
    *,
    digits: Optional[int] = 13,
    compress: Literal["auto", "gzip", None] = "auto",
    format: Literal["mps", "lp", None] = None,
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
    compress: "auto" gzips when the path ends in ".gz" (file objects get plain text),
        "gzip" always, None never. The gzip member has no name and time stamp 0, so the same
        model always gives the same bytes.
    format: "mps" or "lp" (LP text: Minimize/Maximize, Subject To, Bounds, Generals, ...,
        which HiGHS, SCIP and Gurobi read; docs/usage.md gives the layout). None, the
        default: LP for a path ending in .lp or .lp.gz, MPS otherwise (and for file objects).
        A model whose names LP text cannot hold (blanks, operators, a leading digit, a
        keyword, a column name given twice) raises ValueError naming the first, before
        anything is written.

    Raises OSError when the file cannot be created or written (as write_file does),
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
    if compress not in _COMPRESS:
        raise ValueError(f"compress: expected 'auto', 'gzip' or None, got {compress!r}")
    if format not in ("mps", "lp", None):
        raise ValueError(f"format: expected 'mps', 'lp' or None, got {format!r}")

    if isinstance(target, (str, os.PathLike)):
        path = os.fsdecode(os.fspath(target))
        gzip = compress == "gzip" or (compress == "auto" and path.endswith(".gz"))
        if format == "lp" or (format is None and names_lp(path)):
            _mopsel._write_lp(model, path=path, digits=count, gzip=gzip)
        else:
            _mopsel._write_model(model, path=path, digits=count, gzip=gzip)
        return
    if isinstance(target, io.TextIOBase):
        raise TypeError("target: a text file object; open it in binary mode ('wb')")
    if not callable(getattr(target, "write", None)):
        raise TypeError(f"target: expected a path or a binary file object, got {type(target).__name__}")
    if format == "lp":
        target.write(_mopsel._write_lp(model, path=None, digits=count, gzip=compress == "gzip"))
    else:
        target.write(_mopsel._write_model(model, path=None, digits=count, gzip=compress == "gzip"))
