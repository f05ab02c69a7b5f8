"""Pictures: `mopsel spy`, the sparsity pattern of a model's matrix, and the histogram of
coefficient magnitudes of `mopsel info --plot`. matplotlib (the extra mopsel[plot]) is imported
only here, when a picture is drawn.

The pattern is binned into pixels with NumPy before anything is drawn (one bincount over the
entries), so a matrix of millions of rows, columns and entries draws in about a second: the
picture shows where entries are, with darker pixels where more of the cells they cover hold one.
"""

from __future__ import annotations

import argparse
import os
import sys
from typing import TYPE_CHECKING, Any, List, Tuple

import numpy as np

from mopsel._errors import READ_ERRORS
from mopsel._extras import require
from mopsel._mopsel import INTEGER, SEMI_INTEGER, Model
from mopsel.cli.inputs import EXIT_FOUND, EXIT_OK, CommandError, failure_lines, load

if TYPE_CHECKING:
    from matplotlib.figure import Figure

    from mopsel.cli.inputs import Subcommands

CONTINUOUS_INK = np.array([0.10, 0.25, 0.65])  # dark blue
INTEGER_INK = np.array([0.90, 0.35, 0.05])  # orange
_DPI = 100
# Margins around the matrix, in pixels: room for the tick labels and the title.
_LEFT, _RIGHT, _TOP, _BOTTOM = 80, 30, 50, 45
_LONGEST_SIDE_RATIO = 4  # a matrix far wider than tall (or taller than wide) is drawn 4:1
_MAX_SIZE = 10_000


def register(commands: Subcommands, common: argparse.ArgumentParser) -> None:
    p = commands.add_parser(
        "spy",
        parents=[common],
        help="a picture of the matrix's sparsity pattern (needs mopsel[plot])",
        description="Draws where the matrix of FILE has entries, binned into pixels: continuous columns in "
        "blue, integer ones in orange, darker where more of a pixel's cells hold an entry. The format "
        "follows OUT's extension (png, svg, pdf, ...). Needs matplotlib: pip install 'mopsel[plot]'.",
    )
    p.add_argument("file", metavar="FILE", help="an MPS file (- for standard input)")
    p.add_argument("-o", "--output", required=True, metavar="OUT", help="the picture to write, e.g. out.png")
    p.add_argument(
        "--size",
        type=int,
        default=800,
        metavar="PIXELS",
        help="pixels along the longer side of the matrix, 16 to 10,000 (default 800)",
    )
    p.set_defaults(run=run)


def pixel_shape(num_row: int, num_col: int, size: int) -> Tuple[int, int]:
    """Height and width in pixels of the drawn matrix: `size` along the longer side, the other
    side in proportion, but never below a quarter of it."""
    if num_row == 0 or num_col == 0:
        return size, size
    ratio = min(max(num_row / num_col, 1 / _LONGEST_SIDE_RATIO), _LONGEST_SIDE_RATIO)
    if ratio <= 1:
        return max(1, round(size * ratio)), size
    return size, max(1, round(size / ratio))


def sparsity_grid(model: Model, height: int, width: int) -> Tuple[np.ndarray, np.ndarray]:
    """Counts of entries per bin, all and those in integer columns, in a grid of at most
    height x width bins (one bin per row or column where there are fewer)."""
    num_row, num_col = model.num_row, model.num_col
    bins_r, bins_c = max(1, min(num_row, height)), max(1, min(num_col, width))
    start = model.a_matrix.start
    if num_row == 0 or num_col == 0 or start[-1] == 0:
        empty = np.zeros((bins_r, bins_c), dtype=np.int64)
        return empty, empty.copy()
    per_column: np.ndarray = np.diff(start.astype(np.int64))
    # The bin of every row and every column, then of every entry: bins * n // count spreads the
    # rows (columns) evenly over the bins.
    row_bin = (np.arange(num_row, dtype=np.int64) * bins_r // num_row).astype(np.int32)
    col_bin = (np.arange(num_col, dtype=np.int64) * bins_c // num_col).astype(np.int32)
    cell = row_bin[model.a_matrix.index] * np.int64(bins_c) + np.repeat(col_bin, per_column)
    counts = np.bincount(cell, minlength=bins_r * bins_c).reshape(bins_r, bins_c)
    kind = model.col_integrality
    integer = (kind == INTEGER) | (kind == SEMI_INTEGER)
    if integer.any():
        in_integer = np.repeat(integer, per_column)
        counts_int = np.bincount(cell[in_integer], minlength=bins_r * bins_c).reshape(bins_r, bins_c)
    else:
        counts_int = np.zeros_like(counts)
    return counts, counts_int


def colours(counts: np.ndarray, counts_int: np.ndarray) -> np.ndarray:
    """RGB image of the grid: white where a bin is empty; otherwise the ink of its columns'
    kind (mixed in proportion), stronger the more entries the bin holds (log scale)."""
    peak = max(int(counts.max()), 1)
    strength = np.where(counts > 0, 0.35 + 0.65 * np.log1p(counts) / np.log1p(peak), 0.0)[..., None]
    share_int = (counts_int / np.maximum(counts, 1))[..., None]
    ink = CONTINUOUS_INK * (1 - share_int) + INTEGER_INK * share_int
    return 1.0 - strength * (1.0 - ink)


def _figure(width_px: int, height_px: int) -> Figure:
    require("matplotlib", "drawing pictures (mopsel spy, info --plot)")
    from matplotlib.figure import Figure

    return Figure(figsize=(width_px / _DPI, height_px / _DPI), dpi=_DPI)


def draw_spy(model: Model, label: str, path: str, size: int = 800) -> None:
    height, width = pixel_shape(model.num_row, model.num_col, size)
    counts, counts_int = sparsity_grid(model, height, width)
    fig_w, fig_h = width + _LEFT + _RIGHT, height + _TOP + _BOTTOM
    fig = _figure(fig_w, fig_h)
    # The matrix fills an exact pixel rectangle, so that a grid as large as it maps pixel to bin.
    ax = fig.add_axes((_LEFT / fig_w, _BOTTOM / fig_h, width / fig_w, height / fig_h))
    extent = (0, max(model.num_col, 1), max(model.num_row, 1), 0)
    ax.imshow(colours(counts, counts_int), interpolation="nearest", aspect="auto", extent=extent)
    nnz = int(model.a_matrix.start[-1])
    name = model.name or label
    ax.set_title(f"{name}: {model.num_row:,} × {model.num_col:,}, {nnz:,} nonzeros", fontsize=11)
    ax.set_xlabel("columns", fontsize=9)
    ax.set_ylabel("rows", fontsize=9)
    ax.tick_params(labelsize=8)
    from matplotlib.ticker import StrMethodFormatter

    for axis in (ax.xaxis, ax.yaxis):
        axis.set_major_formatter(StrMethodFormatter("{x:,.0f}"))
    if counts_int.any():
        from matplotlib.patches import Patch

        kinds: List[Tuple[str, Any]] = [("integer columns", INTEGER_INK)]  # Any: an RGB array is a colour
        if (counts_int < counts).any():
            kinds.insert(0, ("continuous columns", CONTINUOUS_INK))
        handles = [Patch(color=ink, label=text) for text, ink in kinds]
        # In the margin above the matrix, on the right, clear of the pattern.
        fig.legend(handles=handles, loc="upper right", ncol=len(handles), fontsize=8, frameon=False)
    fig.savefig(path, dpi=_DPI)


def _magnitudes(values: np.ndarray) -> np.ndarray:
    """log10 of the finite nonzero magnitudes."""
    magnitude = np.abs(values)
    return np.log10(magnitude[(magnitude > 0) & np.isfinite(magnitude)])


def draw_magnitudes(model: Model, label: str, path: str) -> None:
    """Histograms (log scale) of the nonzero magnitudes of the matrix, the costs, the finite
    bounds and the finite right-hand sides, a quarter decade per bin."""
    groups = {
        "matrix": _magnitudes(model.a_matrix.value),
        "cost": _magnitudes(model.col_cost),
        "bounds": np.concatenate([_magnitudes(model.col_lower), _magnitudes(model.col_upper)]),
        "rhs": np.concatenate([_magnitudes(model.row_lower), _magnitudes(model.row_upper)]),
    }
    present = [g for g in groups.values() if g.size]
    fig = _figure(800, 450)
    ax = fig.add_subplot()
    if present:
        low = np.floor(min(g.min() for g in present))
        high = np.ceil(max(g.max() for g in present))
        edges = np.arange(low, max(high, low + 1) + 0.125, 0.25)
        for name, logs in groups.items():
            if logs.size:
                counts, _ = np.histogram(logs, bins=edges)
                ax.stairs(counts, 10.0**edges, label=f"{name} ({logs.size:,})", linewidth=1.6)
        ax.set_xscale("log")
        ax.set_yscale("log")
        ax.legend(fontsize=9)
    ax.set_xlabel("|value|")
    ax.set_ylabel("count (a quarter decade per bin)")
    ax.set_title(f"{model.name or label}: magnitudes of the nonzero coefficients", fontsize=11)
    fig.tight_layout()
    fig.savefig(path, dpi=_DPI)


def run(args: argparse.Namespace) -> int:
    if not 16 <= args.size <= _MAX_SIZE:  # the figure is held in memory: 10,000 pixels square is 400 MB
        raise CommandError(f"--size: expected 16 to {_MAX_SIZE:,} pixels")
    check_picture_type(args.output)
    try:
        loaded = load(args.file, args.format)
    except READ_ERRORS as error:
        print(failure_lines(error), file=sys.stderr)
        return EXIT_FOUND
    draw_spy(loaded.model, loaded.label, args.output, args.size)
    return EXIT_OK


def check_picture_type(path: str) -> None:
    """Refuses, before any work, a picture whose ending names a type matplotlib cannot write."""
    types = _figure(16, 16).canvas.get_supported_filetypes()
    suffix = os.path.splitext(path)[1].lower().lstrip(".")
    if suffix not in types:
        raise CommandError(f"{path}: the picture type follows the ending; supported: {', '.join(sorted(types))}")
