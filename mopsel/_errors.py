"""MpsError: MPS input that cannot be read. The native reader raises it (mopsel._mopsel._read
and _check make it with this constructor)."""

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

