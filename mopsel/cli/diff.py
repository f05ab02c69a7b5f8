"""mopsel diff: what differs between two models, by name (the engine is mopsel.diff, in
mopsel/_diff.py): rows and columns added, removed or reordered, names, sense and constant, bounds,
costs, integrality and matrix entries beyond the tolerances; counts and the first few of each kind.
"""

from __future__ import annotations

import argparse
import json
import sys
from concurrent.futures import ThreadPoolExecutor
from typing import Any, List, Tuple

from mopsel._diff import Difference, Side, compare, report_lines, side
from mopsel._errors import READ_ERRORS
from mopsel.cli.inputs import EXIT_FOUND, EXIT_OK, EXIT_TROUBLE, STDIN, count, failure_lines, load, one_stdin, tolerance


def register(commands: Any, common: argparse.ArgumentParser) -> None:
    p = commands.add_parser(
        "diff",
        parents=[common],
        help="the differences between two models (exit status 1 when they differ)",
        description="Compares B to A by names: rows and columns removed, added or reordered; model and "
        "objective names, sense, objective constant; row bounds, column costs, bounds and integrality; "
        "matrix entries removed, added or changed. Numbers differ when |a - b| > atol + rtol * max(|a|, |b|) "
        "(equal infinities and NaN against NaN are the same). Exit status 0 when the models are the same, "
        "1 when they differ, 2 when one cannot be read.",
    )
    p.add_argument("a", metavar="A", help="the first model (- for standard input)")
    p.add_argument("b", metavar="B", help="the second model (- for standard input)")
    p.add_argument("--rtol", type=tolerance, default=0.0, metavar="R", help="relative tolerance (default 0)")
    p.add_argument("--atol", type=tolerance, default=0.0, metavar="A", help="absolute tolerance (default 0)")
    p.add_argument("--show", type=count, default=5, metavar="N", help="examples listed per kind (default 5)")
    p.add_argument("--json", action="store_true", help="the differences as a JSON object")
    p.set_defaults(run=run)


def report(label_a: str, label_b: str, found: List[Difference]) -> str:
    return "\n".join([f"--- {label_a}", f"+++ {label_b}", *report_lines(found)])


def run(args: argparse.Namespace) -> int:
    one_stdin((args.a, args.b))

    def load_side(path: str) -> Tuple[str, Side]:
        loaded = load(path, args.format)
        return loaded.label, side(loaded.model)

    try:
        if STDIN in (args.a, args.b):
            (label_a, a), (label_b, b) = map(load_side, (args.a, args.b))
        else:
            # The reader lets go of the interpreter lock while it works on a file: the two
            # models are read side by side (and the names of one are taken while the other
            # is still being read).
            with ThreadPoolExecutor(2) as pool:
                (label_a, a), (label_b, b) = pool.map(load_side, (args.a, args.b))
    except READ_ERRORS as error:
        # Exit status 1 means "they differ": a file that cannot be read is trouble (2).
        print(failure_lines(error), file=sys.stderr)
        return EXIT_TROUBLE
    found = compare(a, b, rtol=args.rtol, atol=args.atol, show=args.show)
    if args.json:
        print(json.dumps({"a": label_a, "b": label_b, "differences": [d._asdict() for d in found]}, indent=1))
    else:
        print(report(label_a, label_b, found))
    sys.stdout.flush()
    return EXIT_FOUND if found else EXIT_OK
