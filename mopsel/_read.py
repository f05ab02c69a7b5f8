"""mopsel.read and mopsel.check: models from any source, with errors that say where, the
fixed and automatic formats, strict reading, and the checker's diagnostics."""

from __future__ import annotations

import os
from typing import BinaryIO, List, Literal, NamedTuple, Optional, Tuple, Union

from mopsel import _mopsel
from mopsel._errors import READ_ERRORS
from mopsel._formats import names_lp
from mopsel._mopsel import Model
from mopsel._notices import warn
from mopsel._sources import Source as Resolved
from mopsel._sources import resolve

_FORMATS = {"free": 0, "fixed": 1, "auto": 2}
_LP = "lp"

Format = Literal["free", "fixed", "auto", "lp"]
Source = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]", BinaryIO, bytearray, memoryview]


def _check_format(format: Optional[str]) -> None:
    if format is not None and (not isinstance(format, str) or (format not in _FORMATS and format != _LP)):
        raise ValueError(f"format: expected 'free', 'fixed', 'auto', 'lp' or None, got {format!r}")


def _mps_format(format: Optional[str], src: Resolved) -> Optional[int]:
    """The MPS format code for the native reader, or None for LP text: the format given, or
    else LP for a name ending in .lp (.lp.gz, .lp.bz2, ...) and the automatic MPS format for
    anything else."""
    if format is None:
        return None if names_lp(src.name) else _FORMATS["auto"]
    return None if format == _LP else _FORMATS[format]


def read(
    source: Source,
    *,
    format: Optional[Format] = None,
    strict: bool = False,
    sets: Literal["all", "first"] = "all",
    repeated: Literal["last", "first"] = "last",
    free_rows: Literal["drop", "keep"] = "drop",
) -> Model:
    r"""Read an MPS (or LP) model from `source` and return it as a Model.

    source: a path (str or os.PathLike), a binary file object (its read() gives the whole
        input), or bytes, bytearray or memoryview holding MPS text. A str is always a path:
        MPS text in a str goes through parse_str, or as bytes (text.encode()). Compressed
        input is recognised by its first bytes, whatever the name: gzip (every member), bz2
        and xz, and zstd with Python 3.14 or the zstandard package (mopsel[zstd]).
    format: "auto" (MPS, free unless a record shows the text needs fixed columns: such a text
        is read in fixed columns; docs/usage.md gives the rule), "free" (fields separated by
        blanks, as parse_file reads), "fixed" (the classic columns 2-3, 5-12, 15-22, 25-36,
        40-47, 50-61: names may hold blanks), or "lp" (LP text: Minimize/Maximize, Subject
        To, Bounds, ...). None, the default: LP for a name ending in .lp (also .lp.gz,
        .lp.bz2, .lp.xz, .lp.zst), "auto" otherwise.
    strict: raise MpsError where the default reading passes over something silently: a
        malformed number read as 0, an entry for an unknown row or column, a repeated
        matrix entry, a skipped section (SOS, QUADOBJ, ...), a Unicode blank where a
        field separator belongs, a line in column 1 that looks like a misspelt header; for
        LP text, LpError for a repeated term (summed), a bound or type for a variable no
        expression uses, a missing End line, a skipped section.
    sets: with several RHS, RANGES or BOUNDS sets, "all" apply (the default) or only the
        "first" named set of each section (MPS).
    repeated: a bound record for a side of a column that an earlier bound record set: the
        "last" record wins (the default), or the "first" is kept and a later record that
        would set any side set before is passed over whole, as HiGHS reads (MPS).
    free_rows: N rows besides the objective are dropped ("drop", the default) or kept as
        rows without bounds ("keep"), with their entries (MPS).

    What the reading of MPS text passes over or guesses (malformed numbers read as 0, entries
    for unknown rows or columns, repeated entries, skipped sections, dropped free rows, lines
    that look like misspelt headers, and with format="free" records that look like fixed
    columns) is said by one mopsel.MpsWarning per kind, with the count and the first line.
    With the defaults a plain or gzip MPS file reads as parse_file reads it, unless it shows
    the signs of fixed columns. Raises MpsError (a ValueError) with path, lineno, line,
    reason and code for input that cannot be read (LpError, with a column too, for LP text),
    and OSError (FileNotFoundError, IsADirectoryError, ...) with errno and filename when the
    file cannot be opened or read.

    >>> import mopsel
    >>> m = mopsel.read(b"ROWS\n N obj\n L c\nCOLUMNS\n    x obj 1 c 2\nRHS\n    RHS c 4\nENDATA\n")
    >>> m.num_row, m.num_col, m.row_upper.tolist()
    (1, 1, [4.0])
    >>> try:
    ...     mopsel.read(b"ROWS\n N obj\n X c\nENDATA\n")
    ... except mopsel.MpsError as e:
    ...     print(e.lineno, e.code, e.reason)
    3 unknown-row-type unknown row type 'X' in ROWS
    """
    _check_format(format)
    src = resolve(source)
    code = _mps_format(format, src)
    if code is None:
        return _mopsel._read_lp(path=src.path, text=src.text, name=src.name, gzip=src.gzip, strict=strict)
    model, notices = _mopsel._read(
        path=src.path,
        text=src.text,
        name=src.name,
        gzip=src.gzip,
        format=code,
        strict=strict,
        sets=sets,
        repeated=repeated,
        free_rows=free_rows,
    )
    if notices:
        warn(notices, src.name, stacklevel=2)
    return model


class Diagnostic(NamedTuple):
    """One finding of check().

    lineno: the 1-based line (None for a finding about the whole input, such as a count
        of findings not listed).
    severity: "error" (reading fails, or fails with strict=True), "warning" (read as
        documented, but rarely what was meant) or "info".
    code: a short stable identifier ("bad-number", "several-sets", ...); docs/usage.md
        lists every code with an example.
    message: one line saying what was found and what the reader makes of it.
    path: the file, or None for text given in memory.
    """

    lineno: Optional[int]
    severity: str
    code: str
    message: str
    path: Optional[str] = None

    def __str__(self) -> str:
        where = self.path if self.path is not None else "<text>"
        if self.lineno is not None:
            where += f":{self.lineno}"
        return f"{where}: {self.severity}: {self.message} [{self.code}]"


def check(
    source: Source, *, format: Optional[Format] = None, limit: int = 100
) -> List[Diagnostic]:
    r"""Read `source` (as read() takes it) once and return every finding, in file order.

    The findings are every failure of reading, everything strict reading rejects (severity
    "error"), and warnings a careful user wants (several RHS or BOUNDS sets, bounds that
    contradict each other, integer columns with fractional bounds, records with more fields
    than their section uses, repeated records, ...). At most `limit` findings of each code
    are listed; a last Diagnostic per code (lineno None) counts the others. An empty list
    means read(source, format=format, strict=True) succeeds and nothing looks suspicious;
    no "error" means it succeeds.

    Raises OSError when the file cannot be opened or read; problems of the content are
    diagnostics, never exceptions.

    >>> import mopsel
    >>> for d in mopsel.check(b"ROWS\n N obj\n L c\nCOLUMNS\n    x obj 1,5 c 2\nENDATA\n"):
    ...     print(d)
    <text>:5: error: '1,5' is not a number (a decimal comma or digit separator): read as 0 [bad-number]
    """
    listed, omitted = check_counted(source, format=format, limit=limit)
    return listed + [d for d, _ in omitted]


def check_counted(
    source: Source, *, format: Optional[Format] = None, limit: int = 100
) -> Tuple[List[Diagnostic], List[Tuple[Diagnostic, int]]]:
    """check(), split in two: the findings listed, and for each code with more than `limit`
    findings the Diagnostic that says so (lineno None) with the number not listed."""
    _check_format(format)
    if isinstance(limit, bool) or not isinstance(limit, int) or limit < 0:
        raise ValueError(f"limit: expected an int >= 0, got {limit!r}")
    try:
        src = resolve(source)
        code = _mps_format(format, src)
        if code is None:
            listed, omitted = _mopsel._check_lp(path=src.path, text=src.text, name=src.name, gzip=src.gzip,
                                                limit=limit)
        else:
            listed, omitted = _mopsel._check(path=src.path, text=src.text, name=src.name, gzip=src.gzip, format=code,
                                             limit=limit)
    except READ_ERRORS as exc:  # compressed data that cannot be decoded: the one finding
        return [Diagnostic(exc.lineno, "error", exc.code, exc.reason, exc.path)], []
    out = [Diagnostic(lineno, severity, c, message, src.name) for lineno, severity, c, message in listed]
    more = [
        (Diagnostic(None, severity, c, f"{count:,} more {c} findings are not listed (limit {limit})", src.name), count)
        for c, severity, count in omitted
    ]
    return out, more
