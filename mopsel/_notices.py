"""The warnings mopsel.read gives: one MpsWarning per kind of thing the reading passed over or
guessed, said in words with the count and the first line."""

from __future__ import annotations

import warnings
from typing import Dict, List, Optional, Tuple

from mopsel._errors import MpsWarning

Notice = Tuple[str, int, int, str]  # (code, count, lineno of the first, text of the first)


# What each kind says, for one and for several ({n}: the count), and whether the text
# where the first was met is worth showing.
_SAYS: Dict[str, Tuple[str, str, bool]] = {
    "unknown-section": (
        "1 line in column 1 starts with no section keyword, where the records are indented, and was read"
        " as a record (a misspelt section header?)",
        "{n} lines in column 1 start with no section keyword, where the records are indented, and were"
        " read as records (misspelt section headers?)",
        True,
    ),
    "bad-number": ("1 malformed number was read as 0", "{n} malformed numbers were read as 0", True),
    "unknown-row": (
        "1 entry for a row that ROWS does not declare was ignored",
        "{n} entries for rows that ROWS does not declare were ignored",
        True,
    ),
    "unknown-column": (
        "1 BOUNDS record for a column that COLUMNS does not have made a new column",
        "{n} BOUNDS records for columns that COLUMNS does not have made new columns",
        True,
    ),
    "duplicate-entry": (
        "1 repeated matrix entry was ignored (the first value is kept)",
        "{n} repeated matrix entries were ignored (the first values are kept)",
        False,
    ),
    "skipped-section": ("1 unsupported section was skipped", "{n} unsupported sections were skipped", True),
    "extra-objective": (
        '1 N row besides the objective was dropped with its entries (free_rows="keep" keeps it)',
        '{n} N rows besides the objective were dropped with their entries (free_rows="keep" keeps them)',
        True,
    ),
    "fixed-format": (
        '1 record looks like fixed-format text with a blank in a name (format="auto" reads it so)',
        '{n} records look like fixed-format text with blanks in names (format="auto" reads them so)',
        True,
    ),
}


def warning_of(notice: Notice, path: Optional[str]) -> MpsWarning:
    """The MpsWarning of one notice of the native reader."""
    code, count, lineno, first = notice
    one, many, show_first = _SAYS.get(code, (f"1 {code} finding", f"{{n}} {code} findings", True))
    says = one if count == 1 else many.format(n=f"{count:,}")
    where = f"{'' if count == 1 else 'the first '}at line {lineno:,}"
    if code == "skipped-section" and first:
        says += f" ({first})"
    elif show_first and first:
        where += f": {first!r}"
    hint = f"run `mopsel check {path if path is not None else 'FILE'}` for every line"
    return MpsWarning(f"{says}, {where}; {hint}", code=code, count=count, lineno=lineno, path=path)


def warn(notices: List[Notice], path: Optional[str], stacklevel: int) -> None:
    """Issues one MpsWarning per notice, in the order of their first lines, as from the
    caller `stacklevel` frames up."""
    for notice in sorted(notices, key=lambda notice: notice[2]):
        warnings.warn(warning_of(notice, path), stacklevel=stacklevel + 1)
