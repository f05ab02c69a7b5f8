"""What the commands read: a path, or "-" for standard input, in any compression and format
mopsel.read takes; timed, with the size of the input as stored."""

from __future__ import annotations

import argparse
import io
import math
import os
import sys
import time
import warnings
from typing import TYPE_CHECKING, NamedTuple, Optional, Sequence, Tuple, Union

from mopsel._corpus import timed_read
from mopsel._errors import LpError, MpsError, MpsWarning
from mopsel._mopsel import Model
from mopsel._read import Format, read
from mopsel._sources import compression_of

EXIT_OK = 0
EXIT_FOUND = 1  # errors in a file, or differences between two
EXIT_TROUBLE = 2  # bad usage, files that cannot be opened, a missing optional package

STDIN = "-"
STDIN_NAME = "<stdin>"

if TYPE_CHECKING:
    # What each command's register() adds its subcommand to.
    Subcommands = argparse._SubParsersAction[argparse.ArgumentParser]


class CommandError(Exception):
    """Stops a command with a message for standard error and an exit status."""

    def __init__(self, message: str, status: int = EXIT_TROUBLE) -> None:
        super().__init__(message)
        self.status = status


class Loaded(NamedTuple):
    model: Model
    label: str  # how messages name the input: the path as given, or <stdin>
    seconds: float  # the time mopsel.read took (standard input is read before the clock starts)
    size: int  # bytes of the input as stored (compressed, for a compressed file)
    compression: Optional[str]  # "gzip", "bz2", "xz", "zstd", or None for plain text
    warnings: Tuple[MpsWarning, ...]  # what the reading passed over, one per kind


def load(arg: str, format: Optional[Format]) -> Loaded:
    """Reads the model at `arg` ("-": standard input). Raises OSError when the file cannot be
    opened or read and MpsError (LpError) when its text cannot be read as MPS (LP); `format`
    None reads LP for a name ending in .lp (.lp.gz, ...), MPS otherwise. The MpsWarnings of
    the read are kept in `warnings`, not said (print_warnings says them)."""
    if arg != STDIN:
        model, figures, said = timed_read(arg, format)
        return Loaded(model, arg, figures.seconds, figures.bytes, figures.compression, said)
    data = sys.stdin.buffer.read()
    source = io.BytesIO(data)
    source.name = STDIN_NAME  # read() names the input after the file object's name
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always", MpsWarning)
        start = time.perf_counter()
        model = read(source, format=format)
        seconds = time.perf_counter() - start
    said = tuple(w.message for w in caught if isinstance(w.message, MpsWarning))
    return Loaded(model, STDIN_NAME, seconds, len(data), compression_of(data[:8]), said)


def print_warnings(label: str, said: Sequence[MpsWarning]) -> None:
    """The warnings of a read on standard error, in the compilers' form
    `file:line: warning: message [code]`."""
    for warning in said:
        print(f"{label}:{warning.lineno}: warning: {warning} [{warning.code}]", file=sys.stderr)


def failure_lines(error: Union[MpsError, LpError]) -> str:
    """A read failure in the compilers' form, `file:line: error: reason [code]`, with the line."""
    where = error.path if error.path is not None else STDIN_NAME
    if error.lineno is not None:
        where += f":{error.lineno}"
        if isinstance(error, LpError) and error.column is not None:
            where += f":{error.column}"
    text = f"{where}: error: {error.reason} [{error.code}]"
    if error.lineno is not None and error.line is not None:
        text += f"\n    {error.lineno} | {error.line}"
    return text


def os_error_text(error: OSError) -> str:
    """`path: reason` for a file that cannot be opened, read or written."""
    if error.filename is not None and error.strerror:
        return f"{os.fsdecode(error.filename)}: {error.strerror}"
    return str(error)


def count(text: str) -> int:
    """An option's whole number >= 0 (argparse names the option when this fails)."""
    try:
        value = int(text)
    except ValueError:
        value = -1
    if value < 0:
        raise argparse.ArgumentTypeError(f"expected a whole number >= 0, got {text!r}")
    return value


def tolerance(text: str) -> float:
    """An option's finite number >= 0."""
    try:
        value = float(text)
    except ValueError:
        value = math.nan
    if not 0 <= value < math.inf:
        raise argparse.ArgumentTypeError(f"expected a finite number >= 0, got {text!r}")
    return value


def one_stdin(paths: Sequence[str]) -> None:
    """Standard input can be read once: refuses "-" given twice."""
    if sum(p == STDIN for p in paths) > 1:
        raise CommandError("standard input (-) can be read only once")
