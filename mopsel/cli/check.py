"""mopsel check: the diagnostics of mopsel.check, one per line in the compilers' form
`file:line: severity: message [code]`, so that editors and CI jump to the line; or JSON."""

from __future__ import annotations

import argparse
import io
import json
import sys
from collections import Counter
from typing import TYPE_CHECKING

from mopsel._read import check_counted
from mopsel.cli.inputs import EXIT_FOUND, EXIT_OK, EXIT_TROUBLE, STDIN, STDIN_NAME, count, one_stdin, os_error_text

if TYPE_CHECKING:
    from mopsel.cli.inputs import Subcommands

SEVERITIES = ("error", "warning", "info")


def register(commands: Subcommands, common: argparse.ArgumentParser) -> None:
    p = commands.add_parser(
        "check",
        parents=[common],
        help="every finding of one careful read, file:line: severity: message",
        description="Reads each FILE once and lists every finding: what makes reading fail, what strict "
        "reading refuses (errors) and what is read as documented but rarely meant (warnings, infos). "
        "Exit status 1 when a file has errors (with --strict: errors or warnings).",
    )
    p.add_argument("files", nargs="+", metavar="FILE", help="an MPS file (- for standard input)")
    p.add_argument("--strict", action="store_true", help="count warnings as errors for the exit status")
    p.add_argument("--json", action="store_true", help="a JSON list with one object per file")
    p.add_argument(
        "--limit",
        type=count,
        default=100,
        metavar="N",
        help="list at most N findings of each kind per file, then count the rest (default 100)",
    )
    p.set_defaults(run=run)


def run(args: argparse.Namespace) -> int:
    one_stdin(args.files)
    failing = ("error", "warning") if args.strict else ("error",)
    status, records = EXIT_OK, []
    total: Counter[str] = Counter()
    for path in args.files:
        source = path
        if path == STDIN:
            source = io.BytesIO(sys.stdin.buffer.read())
            source.name = STDIN_NAME
        try:
            listed, omitted = check_counted(source, format=args.format, limit=args.limit)
        except OSError as error:  # a file that cannot be opened or read; the others are checked
            print(f"mopsel check: {os_error_text(error)}", file=sys.stderr)
            status = EXIT_TROUBLE
            continue
        found = listed + [d for d, _ in omitted]
        counts = Counter(d.severity for d in listed)
        for d, not_listed in omitted:
            counts[d.severity] += not_listed
        total += counts
        if any(counts[s] for s in failing):
            status = max(status, EXIT_FOUND)
        if args.json:
            records.append(
                {
                    "file": STDIN_NAME if path == STDIN else path,
                    **{f"{s}s": counts[s] for s in SEVERITIES},
                    "diagnostics": [
                        {"line": d.lineno, "severity": d.severity, "code": d.code, "message": d.message}
                        for d in found
                    ],
                }
            )
        else:
            for d in found:
                print(d)
            sys.stdout.flush()
    if args.json:
        print(json.dumps(records, indent=1))
    else:
        files = args.files[0] if len(args.files) == 1 else f"{len(args.files)} files"
        print(f"{STDIN_NAME if files == STDIN else files}: {summary(total)}")
    return status


def summary(counts: Counter[str]) -> str:
    """"2 errors, 1 warning, 0 infos"."""
    return ", ".join(f"{counts[s]:,} {s}{'' if counts[s] == 1 else 's'}" for s in SEVERITIES)
