"""mopsel verify: checks a solution file against a model, as the MIPLIB solution checker does:
the objective it states, and the bounds, rows and integrality within a tolerance (mopsel.evaluate
and mopsel.read_solution do the work)."""

from __future__ import annotations

import argparse
import math
import sys
from typing import Any, List

from mopsel._errors import READ_ERRORS
from mopsel._solution import Evaluation, Solution, Violation, evaluate, read_solution
from mopsel.cli.inputs import EXIT_FOUND, EXIT_OK, EXIT_TROUBLE, failure_lines, load

DEFAULT_TOLERANCE = 1e-6  # HiGHS's MIP feasibility tolerance


def _tolerance(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        value = math.nan
    if not 0 < value < math.inf:
        raise argparse.ArgumentTypeError(f"expected a finite number > 0, got {text!r}")
    return value


def register(commands: Any, common: argparse.ArgumentParser) -> None:
    p = commands.add_parser(
        "verify",
        parents=[common],
        help="check a solution file against a model (exit status 1 when it fails)",
        description="Reads MODEL and SOLUTION (the layouts of the MIPLIB solution checker, SCIP, Gurobi and "
        "HiGHS, told by content; columns the file leaves out are 0), computes the objective value and the "
        "worst violations of the column bounds, the rows and integrality, and prints the verdict. The "
        "solution passes when no violation exceeds TOL and the objective the file states (if any) agrees "
        "within TOL relative to max(1, |stated|). Exit status 0 when it passes, 1 when it does not, 2 when "
        "a file cannot be read.",
    )
    p.add_argument("model", metavar="MODEL", help="the model (- for standard input)")
    p.add_argument("solution", metavar="SOLUTION", help="the solution file")
    p.add_argument(
        "--tol", type=_tolerance, default=DEFAULT_TOLERANCE, metavar="TOL",
        help=f"the largest violation that passes (default {DEFAULT_TOLERANCE:g})",
    )
    p.set_defaults(run=run)


def _violation_text(v: Violation) -> str:
    return "0" if v.name is None else f"{v.value:.6g} at {v.name}"


def verdict(evaluation: Evaluation, solution: Solution, tol: float) -> List[str]:
    """The reasons the solution fails (none: it passes)."""
    failures = []
    for what, v in (("column", evaluation.bound), ("row", evaluation.row), ("integrality of", evaluation.integrality)):
        if v.value > tol:
            failures.append(f"{what} {v.name} violated by {v.value:.6g}")
    stated = solution.objective
    if stated is not None and abs(evaluation.objective - stated) > tol * max(1.0, abs(stated)):
        failures.append(f"objective {evaluation.objective:.15g}, the file states {stated:.15g}")
    return failures


def run(args: argparse.Namespace) -> int:
    try:
        loaded = load(args.model, args.format)
    except READ_ERRORS as error:
        print(failure_lines(error), file=sys.stderr)
        return EXIT_TROUBLE
    try:
        solution = read_solution(args.solution)
    except ValueError as error:
        print(f"mopsel verify: {error}", file=sys.stderr)
        return EXIT_TROUBLE
    model = loaded.model
    print(f"model        {loaded.label}: {model.num_row:,} rows, {model.num_col:,} columns")
    stated = "" if solution.objective is None else f", objective {solution.objective:.15g}"
    print(f"solution     {args.solution} ({solution.format}): {len(solution.names):,} values{stated}")
    if not solution.feasible:
        print(f"verdict      no solution: the file says {solution.status!r}")
        return EXIT_FOUND
    try:
        evaluation = evaluate(model, solution)
    except ValueError as error:
        # The text after "argument 'x': ", which names the column.
        print(f"verdict      does not fit the model: {str(error).split(': ', 1)[-1]}")
        return EXIT_FOUND
    print(f"objective    {evaluation.objective:.15g}")
    print(f"bounds       {_violation_text(evaluation.bound)}")
    print(f"rows         {_violation_text(evaluation.row)}")
    print(f"integrality  {_violation_text(evaluation.integrality)}")
    failures = verdict(evaluation, solution, args.tol)
    if failures:
        print(f"verdict      fails (tolerance {args.tol:g}): " + "; ".join(failures))
        return EXIT_FOUND
    print(f"verdict      passes (tolerance {args.tol:g})")
    return EXIT_OK
