"""mopsel convert: any input mopsel.read takes, written as MPS or LP text by mopsel.write."""

from __future__ import annotations

import argparse
import sys
from typing import TYPE_CHECKING, Literal

from mopsel._errors import READ_ERRORS
from mopsel._formats import names_lp
from mopsel._write import write
from mopsel.cli.inputs import EXIT_FOUND, EXIT_OK, STDIN, failure_lines, load, print_warnings

if TYPE_CHECKING:
    from mopsel.cli.inputs import Subcommands


def register(commands: Subcommands, common: argparse.ArgumentParser) -> None:
    p = commands.add_parser(
        "convert",
        parents=[common],
        help="read any supported input, write MPS or LP (LP when OUT ends in .lp; compressed as OUT ends)",
        description="Reads IN (plain or compressed, MPS or LP) and writes it to OUT as MPS text (free "
        "format, or fixed columns when names hold blanks and fit them), or as LP text when OUT ends in "
        ".lp (.lp.gz, ...) or with --to lp; compressed as OUT ends: .gz gzip, .bz2 bz2, .xz xz, .zst zstd "
        "(- writes plain text to standard output). A model whose names the output cannot carry (a name "
        "with a blank and one longer than 8 bytes in MPS; blanks, operators, a leading digit or a keyword "
        "in LP) is refused with exit status 1, nothing written.",
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


def run(args: argparse.Namespace) -> int:
    try:
        loaded = load(args.input, args.format)
    except READ_ERRORS as error:
        print(failure_lines(error), file=sys.stderr)
        return EXIT_FOUND
    print_warnings(loaded.label, loaded.warnings)
    to: Literal["mps", "lp"] = args.to or ("lp" if args.output != STDIN and names_lp(args.output) else "mps")
    digits = None if args.exact else args.digits
    try:
        if args.output == STDIN:
            write(loaded.model, sys.stdout.buffer, digits=digits, compress=None, format=to)
            sys.stdout.buffer.flush()
        else:
            write(loaded.model, args.output, digits=digits, format=to)
    except ValueError as error:  # names or numbers the text cannot carry: nothing was written
        message = str(error)
        print(f"{loaded.label}: {message}" + ("" if message.endswith("nothing written") else ": nothing written"),
              file=sys.stderr)
        return EXIT_FOUND
    return EXIT_OK
