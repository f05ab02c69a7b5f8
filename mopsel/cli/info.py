"""mopsel info: the size and shape of models, their kinds of rows, columns and bounds, and the
ranges of their coefficients; one block per file, a table row per file, or JSON.

Every figure is computed with NumPy over the model's arrays (no loop over rows, columns or
entries in Python), so the statistics of a model of a gigabyte take a fraction of its read time.
"""

from __future__ import annotations

import argparse
import json
import sys
from typing import TYPE_CHECKING, Any, Callable, Dict, List, Optional, Tuple, Union

import numpy as np

from mopsel._errors import MpsError
from mopsel._mopsel import CONTINUOUS, INTEGER, SEMI_CONTINUOUS, SEMI_INTEGER, Model
from mopsel.cli.inputs import (
    EXIT_FOUND,
    EXIT_OK,
    EXIT_TROUBLE,
    CommandError,
    Loaded,
    failure_lines,
    load,
    one_stdin,
    os_error_text,
)

if TYPE_CHECKING:
    from mopsel.cli.inputs import Subcommands

ROW_KINDS = ("E", "L", "G", "ranged", "free")
COLUMN_KINDS = ("continuous", "integer", "binary", "semi-continuous", "semi-integer")
BOUND_KINDS = ("fixed", "boxed", "lower only", "upper only", "free")
RANGES = ("matrix", "cost", "bounds", "rhs")

# The statistics of a model and the figures of its reading, by name (the JSON objects of --json).
Stats = Dict[str, Any]


def register(commands: Subcommands, common: argparse.ArgumentParser) -> None:
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
    p.set_defaults(run=run)


def _count(mask: np.ndarray) -> int:
    return int(np.count_nonzero(mask))


def _kinds_of_bounds(lower: np.ndarray, upper: np.ndarray) -> Tuple[np.ndarray, ...]:
    """Masks: both bounds finite and equal, both finite otherwise, lower only, upper only,
    neither (a NaN bound counts as none)."""
    has_lower, has_upper = np.isfinite(lower), np.isfinite(upper)
    both = has_lower & has_upper
    equal = both & (lower == upper)
    return equal, both & ~equal, has_lower & ~has_upper, ~has_lower & has_upper, ~has_lower & ~has_upper


def _magnitude_range(*arrays: np.ndarray, finite: bool) -> Optional[Tuple[float, float]]:
    """Smallest and largest nonzero magnitude over `arrays` (only finite ones when `finite`:
    an infinite bound is no bound), or None when there is none."""
    low, high = np.inf, -np.inf
    for values in arrays:
        magnitude = np.abs(values)
        keep = (magnitude > 0) & (np.isfinite(magnitude) if finite else ~np.isnan(magnitude))
        if keep.all():
            chosen = magnitude
        else:
            chosen = magnitude[keep]
        if chosen.size:
            low, high = min(low, float(chosen.min())), max(high, float(chosen.max()))
    return None if high < low else (low, high)


def statistics(model: Model) -> Stats:
    """The figures info shows, as plain Python values (the JSON output is exactly this)."""
    num_row, num_col = model.num_row, model.num_col
    matrix = model.a_matrix
    start, index, value = matrix.start, matrix.index, matrix.value
    nonzeros = int(start[-1]) if start.size else 0

    row_masks = _kinds_of_bounds(model.row_lower, model.row_upper)
    # E, then L (upper only), G (lower only), ranged (both, unequal), free.
    rows = dict(zip(ROW_KINDS, (_count(row_masks[i]) for i in (0, 3, 2, 1, 4))))

    kind = model.col_integrality
    lower, upper = model.col_lower, model.col_upper
    integer = kind == INTEGER
    continuous = kind == CONTINUOUS
    binary = integer & (lower == 0) & (upper == 1)
    columns = dict(
        zip(
            COLUMN_KINDS,
            (
                _count(continuous),
                _count(integer) - _count(binary),
                _count(binary),
                _count(kind == SEMI_CONTINUOUS),
                _count(kind == SEMI_INTEGER),
            ),
        )
    )
    bounds = dict(zip(BOUND_KINDS, (_count(m) for m in _kinds_of_bounds(lower, upper))))

    row_used = np.zeros(num_row, dtype=bool)
    row_used[index] = True
    cells = num_row * num_col
    return {
        "name": model.name,
        "objective": model.objective_name,
        "sense": "minimise" if model.obj_sense_minimize else "maximise",
        "constant": float(model.obj_offset),
        "rows": num_row,
        "row_kinds": rows,
        "empty_rows": num_row - _count(row_used),
        "columns": num_col,
        "column_kinds": columns,
        "empty_columns": _count(np.diff(start) == 0),
        "bounds": bounds,
        "nonzeros": nonzeros,
        "density": nonzeros / cells if cells else 0.0,
        "costs": _count(model.col_cost != 0),
        "ranges": {
            "matrix": _magnitude_range(value, finite=False),
            "cost": _magnitude_range(model.col_cost, finite=False),
            "bounds": _magnitude_range(lower, upper, finite=True),
            # Apart for the continuous columns and the others (integer, semi-continuous,
            # semi-integer), as HiGHS prints them for a model with integer columns.
            "bounds_continuous": _magnitude_range(lower[continuous], upper[continuous], finite=True),
            "bounds_non_continuous": _magnitude_range(lower[~continuous], upper[~continuous], finite=True),
            "rhs": _magnitude_range(model.row_lower, model.row_upper, finite=True),
        },
    }


def _read_figures(loaded: Loaded) -> Stats:
    return {
        "seconds": loaded.seconds,
        "bytes": loaded.size,
        "compression": loaded.compression,
        "mb_per_s": loaded.size / 1e6 / loaded.seconds if loaded.seconds > 0 else None,
    }


# Rendering ---------------------------------------------------------------------------------


def magnitude_text(bounds: Optional[Tuple[float, float]]) -> str:
    """A range as HiGHS prints its coefficient ranges: one significant digit each."""
    return "-" if bounds is None else f"[{bounds[0]:.0e}, {bounds[1]:.0e}]"


def _bounds_text(stats: Stats) -> str:
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


def block(label: str, stats: Stats, read: Stats) -> str:
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
_TABLE: Tuple[Tuple[str, int, Callable[[Stats, Stats], str]], ...] = (
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


def table_line(label: str, width: int, stats: Stats, read: Stats) -> str:
    return label.ljust(width) + "".join(text(stats, read).rjust(w) for _, w, text in _TABLE)


def table_heading(width: int) -> str:
    return "file".ljust(width) + "".join(head.rjust(w) for head, w, _ in _TABLE)


# The command -------------------------------------------------------------------------------


def run(args: argparse.Namespace) -> int:
    one_stdin(args.files)
    if args.plot is not None and len(args.files) != 1:
        raise CommandError("--plot draws one model: give one FILE")
    width = max(len(f) for f in args.files) + 2
    if args.table:
        print(table_heading(width))
    status = EXIT_OK
    records: List[Union[Stats, str]] = []  # one dict per file (--json), else the labels shown
    for path in args.files:
        try:
            loaded = load(path, args.format)
        except MpsError as error:
            print(failure_lines(error), file=sys.stderr)
            status = max(status, EXIT_FOUND)
            continue
        except OSError as error:
            print(f"mopsel info: {os_error_text(error)}", file=sys.stderr)
            status = EXIT_TROUBLE
            continue
        stats, read = statistics(loaded.model), _read_figures(loaded)
        if args.json:
            records.append({"file": loaded.label, **stats, "read": read})
        elif args.table:
            print(table_line(loaded.label, width, stats, read), flush=True)
        else:
            print(("\n" if records else "") + block(loaded.label, stats, read), flush=True)
            records.append(loaded.label)
        if args.plot is not None:
            from mopsel.cli.pictures import draw_magnitudes

            draw_magnitudes(loaded.model, loaded.label, args.plot)
    if args.json:
        print(json.dumps(json_safe(records), indent=1, allow_nan=False))
    return status


def json_safe(value: Any) -> Any:
    """`value` with every infinite or NaN float replaced by its text ("inf", "-inf", "nan"),
    which strict JSON cannot hold as numbers, and tuples by lists."""
    if isinstance(value, float) and not np.isfinite(value):
        return str(value)
    if isinstance(value, dict):
        return {k: json_safe(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [json_safe(v) for v in value]
    return value
