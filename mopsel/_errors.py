"""MpsError and LpError: MPS and LP input that cannot be read. The native readers raise them
(mopsel._mopsel._read, _check, _read_lp and _check_lp make them with these constructors)."""

from __future__ import annotations

from typing import Any, Callable, Optional, Tuple


class MpsError(ValueError):
    """MPS input that cannot be read, or (with strict=True) that the default reading would
    read by passing over something silently.

    A ValueError, so code that catches parse_file's ValueError catches it too.

    Attributes:
        reason: what is wrong, one line ("unknown row type 'X' in ROWS").
        path: the file, or None for text given in memory.
        lineno: the 1-based line, or None when the failure has no line (compressed data
            that cannot be decoded).
        line: the text of that line (shortened when long), or None.
        code: a short stable identifier of the cause ("unknown-row-type", "no-endata",
            "bad-number", ...; docs/usage.md lists them), the `code` that check() gives.
    """

    def __init__(
        self,
        reason: str,
        *,
        path: Optional[str] = None,
        lineno: Optional[int] = None,
        line: Optional[str] = None,
        code: str = "read-error",
    ) -> None:
        self.reason = reason
        self.path = path
        self.lineno = lineno
        self.line = line
        self.code = code
        super().__init__(self._describe())
        if lineno is not None and line is not None:
            _add_note(self, f"    {lineno} | {line}")

    def _describe(self) -> str:
        if self.path is not None and self.lineno is not None:
            return f"{self.path}:{self.lineno}: {self.reason}"
        if self.path is not None:
            return f"{self.path}: {self.reason}"
        if self.lineno is not None:
            return f"line {self.lineno}: {self.reason}"
        return self.reason

    def __reduce__(self) -> Tuple[Callable[..., MpsError], Tuple[Any, ...]]:
        return (_rebuild, (self.reason, self.path, self.lineno, self.line, self.code))


def _rebuild(reason: str, path: Optional[str], lineno: Optional[int], line: Optional[str], code: str) -> MpsError:
    return MpsError(reason, path=path, lineno=lineno, line=line, code=code)


class LpError(ValueError):
    """LP input that cannot be read, or (with strict=True) that the default reading would read
    by passing over something (a repeated term summed, a bound for a variable no expression
    uses, a missing End line, a skipped SOS section).

    The sibling of MpsError, with the same attributes and a column; a ValueError, so code that
    catches ValueError catches it too.

    Attributes:
        reason: what is wrong, one line ("expected a number after '<=', found the name 'x'").
        path: the file, or None for text given in memory.
        lineno: the 1-based line, or None when the failure has no line.
        column: the 1-based column (in bytes) on that line, or None.
        line: the text of that line (shortened when long), or None.
        code: a short stable identifier of the cause ("lp-syntax", "lp-unsupported",
            "repeated-term", ...; docs/usage.md lists them), the `code` that check() gives.
    """

    def __init__(
        self,
        reason: str,
        *,
        path: Optional[str] = None,
        lineno: Optional[int] = None,
        column: Optional[int] = None,
        line: Optional[str] = None,
        code: str = "read-error",
    ) -> None:
        self.reason = reason
        self.path = path
        self.lineno = lineno
        self.column = column
        self.line = line
        self.code = code
        super().__init__(self._describe())
        if lineno is not None and line is not None:
            _add_note(self, f"    {lineno} | {line}")

    def _describe(self) -> str:
        where = self.path
        if self.lineno is not None:
            where = f"{where}:{self.lineno}" if where is not None else f"line {self.lineno}"
            if self.column is not None:
                where += f":{self.column}"
        return f"{where}: {self.reason}" if where is not None else self.reason

    def __reduce__(self) -> Tuple[Callable[..., LpError], Tuple[Any, ...]]:
        return (_rebuild_lp, (self.reason, self.path, self.lineno, self.column, self.line, self.code))


def _rebuild_lp(
    reason: str, path: Optional[str], lineno: Optional[int], column: Optional[int], line: Optional[str], code: str
) -> LpError:
    return LpError(reason, path=path, lineno=lineno, column=column, line=line, code=code)


# What the readers raise for input they cannot read.
READ_ERRORS = (MpsError, LpError)


def _add_note(exc: BaseException, note: str) -> None:
    """PEP 678 notes: add_note from Python 3.11 on, the __notes__ list before."""
    if hasattr(exc, "add_note"):
        exc.add_note(note)
    else:
        notes = getattr(exc, "__notes__", None)
        if notes is None:
            notes = []
            exc.__notes__ = notes  # type: ignore[attr-defined]
        notes.append(note)



class MpsWarning(UserWarning):
    """What mopsel.read passed over or guessed while reading a text it could read: one warning
    per kind (malformed numbers read as 0, entries for unknown rows, repeated entries, skipped
    sections, ...), with how many there were and where the first was. `mopsel check FILE`
    lists every line.

    warnings.simplefilter("error", mopsel.MpsWarning) turns them into exceptions.

    Attributes:
        code: the finding's code ("bad-number", "unknown-row", ...), as check() gives it.
        count: how many the read met.
        lineno: the 1-based line of the first.
        path: the file, or None for text given in memory.
    """

    def __init__(self, message: str, *, code: str, count: int, lineno: int, path: Optional[str] = None) -> None:
        super().__init__(message)
        self.code = code
        self.count = count
        self.lineno = lineno
        self.path = path

    def __reduce__(self) -> Tuple[Callable[..., "MpsWarning"], Tuple[Any, ...]]:
        return (_rebuild_warning, (str(self), self.code, self.count, self.lineno, self.path))


def _rebuild_warning(message: str, code: str, count: int, lineno: int, path: Optional[str]) -> MpsWarning:
    return MpsWarning(message, code=code, count=count, lineno=lineno, path=path)
