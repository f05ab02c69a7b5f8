"""mopsel info: the size and shape of models, their kinds of rows, columns and bounds, and the
ranges of their coefficients (the figures of mopsel.stats); one block per file, a table row per
file, or JSON; with --jobs N, files read by N processes (the engine of mopsel.stats_table).
"""

from __future__ import annotations

import argparse
import json
import sys
from typing import Any, Callable, Dict, Iterator, List, Optional, Tuple

from mopsel._corpus import FileResult, ReadFigures, default_jobs, iter_results
from mopsel._errors import READ_ERRORS
from mopsel._stats import json_safe, stats
from mopsel.cli.inputs import (
    EXIT_FOUND,
    EXIT_OK,
    EXIT_TROUBLE,
    STDIN,
    CommandError,
    count,
    failure_lines,
    load,
    one_stdin,
    os_error_text,
    print_warnings,
)


def register(commands: Any, common: argparse.ArgumentParser) -> None:
    p = commands.add_parser(
        "info",
        parents=[common],
        help="sizes, kinds of rows, columns and bounds, coefficient ranges",
        description="For each FILE: name, sense, rows by type, columns by kind, column bounds by kind, "
        "nonzeros and density, the ranges of the nonzero magnitudes of the matrix, costs, finite bounds "
        "and finite right-hand sides (as HiGHS prints them), the objective constant, empty rows and "
        "columns, and the time the read took.",
    )
    p.add_argument("files", nargs="+", metavar="FILE", help="an MPS file (- for standard input)")
    out = p.add_mutually_exclusive_group()
    out.add_argument("--json", action="store_true", help="a JSON list with one object per file")
    out.add_argument("--table", action="store_true", help="one line per file (for a whole folder)")
    p.add_argument(
        "--plot",
        metavar="PNG",
        help="also draw a histogram of the coefficient magnitudes (log scale) into PNG (one FILE only; "
        "needs matplotlib: pip install 'mopsel[plot]')",
    )
    p.add_argument(
        "--jobs",
        type=count,
        default=1,
        metavar="N",
        help="read the files in N processes (0: one per CPU; default 1, in this process); the output is "
        "the same, in the order of the files; a progress line on a terminal needs pip install 'mopsel[progress]'",
    )
    p.set_defaults(run=run)


def _read_figures(figures: ReadFigures) -> Dict[str, Any]:
    return {
        "seconds": figures.seconds,
        "bytes": figures.bytes,
        "compression": figures.compression,
        "mb_per_s": figures.mb_per_s,
    }


# Rendering ---------------------------------------------------------------------------------

Figures = Dict[str, Any]


def magnitude_text(bounds: Optional[Tuple[float, float]]) -> str:
    """A range as HiGHS prints its coefficient ranges: one significant digit each."""
    return "-" if bounds is None else f"[{bounds[0]:.0e}, {bounds[1]:.0e}]"


def _bounds_text(stats: Figures) -> str:
    """The range of the bounds; for a model with integer or semi-continuous columns, apart
    for the continuous columns and the others."""
    ranges = stats["ranges"]
    if stats["column_kinds"]["continuous"] == stats["columns"]:
        return magnitude_text(ranges["bounds"])
    continuous, others = (magnitude_text(ranges[k]) for k in ("bounds_continuous", "bounds_non_continuous"))
    return f"{continuous} continuous, {others} non-continuous"


def _parts(counts: Dict[str, int]) -> str:
    """"36 E, 2 L": the kinds that occur (all of them zero: "none")."""
    shown = [f"{n:,} {kind}" for kind, n in counts.items() if n]
    return ", ".join(shown) if shown else "none"


def _number(x: float) -> str:
    return f"{x:.12g}"


def _size_text(size: int) -> str:
    for unit, scale in (("GB", 1e9), ("MB", 1e6), ("kB", 1e3)):
        if size >= scale:
            return f"{size / scale:.1f} {unit}"
    return f"{size} B"


def _extended_lines(stats: Figures) -> List[str]:
    """The sections beyond the LP part, for a model that has them."""
    lines = []
    quadratic = []
    if "hessian_nonzeros" in stats:
        quadratic.append(f"{stats['hessian_nonzeros']:,} Hessian entries in the objective")
    if "quadratic_rows" in stats:
        quadratic.append(f"{stats['quadratic_rows']:,} rows with a Hessian")
    if quadratic:
        lines.append("  quadratic    " + ", ".join(quadratic))
    if "sos_sets" in stats:
        lines.append(f"  sos          {stats['sos_sets']:,} sets")
    if "indicators" in stats:
        lines.append(f"  indicators   {stats['indicators']:,}")
    return lines


def block(label: str, stats: Figures, read: Figures) -> str:
    ranges = stats["ranges"]
    lines = [
        f"{label}",
        f"  name         {stats['name'] or '(none)'}",
        f"  objective    {stats['objective']}: {stats['sense']}, {stats['costs']:,} nonzero costs, "
        f"constant {_number(stats['constant'])}",
        f"  rows         {stats['rows']:,}: {_parts(stats['row_kinds'])}; {stats['empty_rows']:,} empty",
        f"  columns      {stats['columns']:,}: {_parts(stats['column_kinds'])}; {stats['empty_columns']:,} empty",
        f"  bounds       {_parts(stats['bounds'])}",
        f"  nonzeros     {stats['nonzeros']:,} (density {stats['density']:.3g})",
        *_extended_lines(stats),
        "  |matrix|     " + magnitude_text(ranges["matrix"]),
        "  |cost|       " + magnitude_text(ranges["cost"]),
        "  |bounds|     " + _bounds_text(stats),
        "  |rhs|        " + magnitude_text(ranges["rhs"]),
    ]
    stored = _size_text(read["bytes"]) + (f" {read['compression']}" if read["compression"] else "")
    speed = f", {read['mb_per_s']:.0f} MB/s" if read["mb_per_s"] is not None else ""
    lines.append(f"  read         {read['seconds']:.3f} s ({stored}{speed})")
    return "\n".join(lines)


# Columns of --table: heading, width, the text of one file's statistics.
_TABLE: Tuple[Tuple[str, int, Callable[[Figures, Figures], str]], ...] = (
    ("rows", 10, lambda s, r: f"{s['rows']:,}"),
    ("columns", 11, lambda s, r: f"{s['columns']:,}"),
    ("nonzeros", 12, lambda s, r: f"{s['nonzeros']:,}"),
    ("density", 8, lambda s, r: f"{s['density']:.2g}"),
    ("E/L/G/R/N", 22, lambda s, r: "/".join(str(n) for n in s["row_kinds"].values())),
    ("cont/int/bin/sc/si", 24, lambda s, r: "/".join(str(n) for n in s["column_kinds"].values())),
    ("|matrix|", 15, lambda s, r: magnitude_text(s["ranges"]["matrix"])),
    ("|cost|", 15, lambda s, r: magnitude_text(s["ranges"]["cost"])),
    ("|bounds|", 15, lambda s, r: magnitude_text(s["ranges"]["bounds"])),
    ("|rhs|", 15, lambda s, r: magnitude_text(s["ranges"]["rhs"])),
    ("read s", 8, lambda s, r: f"{r['seconds']:.3f}"),
)


def table_line(label: str, width: int, stats: Figures, read: Figures) -> str:
    return label.ljust(width) + "".join(text(stats, read).rjust(w) for _, w, text in _TABLE)


def table_heading(width: int) -> str:
    return "file".ljust(width) + "".join(head.rjust(w) for head, w, _ in _TABLE)


# The command -------------------------------------------------------------------------------


def _in_this_process(args: argparse.Namespace) -> Iterator[FileResult]:
    """Each file read here, in turn (standard input included); the model is drawn for --plot."""
    for path in args.files:
        try:
            loaded = load(path, args.format)
        except (*READ_ERRORS, OSError) as error:
            yield FileResult(path, None, None, error)
            continue
        figures = ReadFigures(loaded.seconds, loaded.size, loaded.compression)
        yield FileResult(loaded.label, stats(loaded.model), figures, None, loaded.warnings)
        if args.plot is not None:
            from mopsel.cli.pictures import draw_magnitudes

            draw_magnitudes(loaded.model, loaded.label, args.plot)


def run(args: argparse.Namespace) -> int:
    one_stdin(args.files)
    if args.plot is not None:
        if len(args.files) != 1:
            raise CommandError("--plot draws one model: give one FILE")
        from mopsel.cli.pictures import check_picture_type

        check_picture_type(args.plot)
    jobs = args.jobs or default_jobs()
    if jobs > 1 and STDIN in args.files:
        raise CommandError("--jobs reads files in other processes: standard input (-) cannot be one of them")
    width = max(len(f) for f in args.files) + 2
    if args.table:
        print(table_heading(width))
    results = _in_this_process(args) if jobs == 1 or len(args.files) == 1 else iter_results(
        args.files, jobs=jobs, format=args.format
    )
    status, shown = EXIT_OK, 0
    records: List[Figures] = []
    for result in results:
        error = result.error
        if isinstance(error, READ_ERRORS):
            print(failure_lines(error), file=sys.stderr)
            status = max(status, EXIT_FOUND)
            continue
        if isinstance(error, OSError):
            print(f"mopsel info: {os_error_text(error)}", file=sys.stderr)
            status = EXIT_TROUBLE
            continue
        if error is not None or result.stats is None or result.read is None:
            print(f"mopsel info: {result.path}: {type(error).__name__}: {error}", file=sys.stderr)
            status = EXIT_TROUBLE
            continue
        print_warnings(result.path, result.warnings)
        figures, read = result.stats.to_dict(), _read_figures(result.read)
        if args.json:
            records.append({"file": result.path, **figures, "read": read})
        elif args.table:
            print(table_line(result.path, width, figures, read), flush=True)
        else:
            print(("\n" if shown else "") + block(result.path, figures, read), flush=True)
            shown += 1
    if args.json:
        print(json.dumps(json_safe(records), indent=1, allow_nan=False))
    return status
