"""mopsel convert: any input mopsel.read takes, written as MPS or LP text by mopsel.write."""

from __future__ import annotations

import argparse
import sys
from typing import TYPE_CHECKING, Literal, Optional

from mopsel._errors import READ_ERRORS
from mopsel._formats import names_lp
from mopsel._mopsel import Model
from mopsel._write import write
from mopsel.cli.inputs import EXIT_FOUND, EXIT_OK, STDIN, failure_lines, load

if TYPE_CHECKING:
    from mopsel.cli.inputs import Subcommands

# Free MPS separates fields by blanks: a name holding one does not read back as itself.
_BLANKS = [chr(c) for c in range(128) if chr(c).isspace()]


def register(commands: Subcommands, common: argparse.ArgumentParser) -> None:
    p = commands.add_parser(
        "convert",
        parents=[common],
        help="read any supported input, write MPS or LP (LP when OUT ends in .lp or .lp.gz; gzip for .gz)",
        description="Reads IN (plain or compressed, MPS or LP) and writes it to OUT as free MPS text, or "
        "as LP text when OUT ends in .lp or .lp.gz (or with --to lp), gzip-compressed when OUT ends in .gz "
        "(- writes plain text to standard output). A model whose names the output cannot hold (blanks in "
        "free MPS; blanks, operators, a leading digit or a keyword in LP) is refused with exit status 1.",
    )
    p.add_argument("input", metavar="IN", help="the model to read (- for standard input)")
    p.add_argument("output", metavar="OUT", help="the file to write (- for standard output)")
    p.add_argument(
        "--to",
        choices=("mps", "lp"),
        default=None,
        help="the output's format (default: LP for OUT ending in .lp or .lp.gz, MPS otherwise)",
    )
    digits = p.add_mutually_exclusive_group()
    digits.add_argument(
        "--digits",
        type=int,
        choices=range(1, 18),
        default=13,
        metavar="N",
        help="significant digits per number, 1 to 17 (default 13)",
    )
    digits.add_argument(
        "--exact",
        action="store_true",
        help="write every number as the shortest text that reads back to the same value, and rows, "
        "bounds and semi-continuous columns so that the model reads back bit for bit",
    )
    p.set_defaults(run=run)


def unwritable_name(model: Model) -> Optional[str]:
    """The first name (objective, rows, columns) that free MPS text cannot carry, a name with
    an ASCII blank inside or an empty one, or None. Only a fixed-format reading makes them."""
    for names in ([model.objective_name], model.row_names, model.col_names):
        # Scans of all the names joined, no loop over them in Python: one str.find (a memchr)
        # per blank; "\0" cannot be in a name read from text.
        joined = "\0".join(names)
        found = [at for at in map(joined.find, _BLANKS) if at >= 0]
        if found:
            return names[joined.count("\0", 0, min(found))]
        if names and (joined == "" or "\0\0" in joined or joined[0] == "\0" or joined[-1] == "\0"):
            return ""
    return None


def run(args: argparse.Namespace) -> int:
    try:
        loaded = load(args.input, args.format)
    except READ_ERRORS as error:
        print(failure_lines(error), file=sys.stderr)
        return EXIT_FOUND
    to: Literal["mps", "lp"] = args.to or ("lp" if args.output != STDIN and names_lp(args.output) else "mps")
    # Free MPS and LP readings split names at blanks, so their names are all writable in free
    # MPS (and not checked); the LP writer checks its names itself.
    name = None if args.format in (None, "free", "lp") or to == "lp" else unwritable_name(loaded.model)
    if name is not None:
        # The writer writes names as they stand: the output would read back as another model.
        print(f"{loaded.label}: the name {name!r} cannot be written in free MPS (a blank inside, or empty): "
              "nothing written", file=sys.stderr)
        return EXIT_FOUND
    digits = None if args.exact else args.digits
    try:
        if args.output == STDIN:
            write(loaded.model, sys.stdout.buffer, digits=digits, compress=None, format=to)
            sys.stdout.buffer.flush()
        else:
            write(loaded.model, args.output, digits=digits, format=to)
    except ValueError as error:  # names LP text cannot hold: nothing was written
        print(f"{loaded.label}: {error}: nothing written", file=sys.stderr)
        return EXIT_FOUND
    return EXIT_OK
