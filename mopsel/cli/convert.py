"""mopsel convert: any input mopsel.read takes, written as MPS text by mopsel.write."""

from __future__ import annotations

import sys

from mopsel.cli.inputs import EXIT_FOUND, EXIT_OK, STDIN, failure_lines, load
from mopsel._errors import MpsError
from mopsel._write import write


def register(commands, common) -> None:
    p = commands.add_parser(
        "convert",
        parents=[common],
        help="read any supported input, write MPS (gzip when OUT ends in .gz)",
        description="Reads IN (plain or compressed, in the --format given) and writes it to OUT as "
        "free MPS text, gzip-compressed when OUT ends in .gz (- writes plain text to standard output).",
    )
    p.add_argument("input", metavar="IN", help="the model to read (- for standard input)")
    p.add_argument("output", metavar="OUT", help="the file to write (- for standard output)")
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


def run(args) -> int:
    try:
        loaded = load(args.input, args.format)
    except MpsError as error:
        print(failure_lines(error), file=sys.stderr)
        return EXIT_FOUND
    digits = None if args.exact else args.digits
    if args.output == STDIN:
        write(loaded.model, sys.stdout.buffer, digits=digits, compress=None)
        sys.stdout.buffer.flush()
    else:
        write(loaded.model, args.output, digits=digits)
    return EXIT_OK
