"""mopsel diff: what differs between two models, by name: rows and columns added, removed or
reordered, names, sense and constant, bounds, costs, integrality and matrix entries beyond the
tolerances; counts and the first few of each kind.

The comparison is vectorised, so that two models of a gigabyte compare in about the time
reading them takes: names are compared position by position and only those that moved go
through a dict (none at all when both models have the same names in the same order, the
common case of two versions of a generated model); bounds, costs and matrix entries are
compared as NumPy arrays, the entries position by position when both matrices have the same
pattern, otherwise matched by a key (column, row) in B's numbering, sorted only when the
entries are not in order already.
"""

from __future__ import annotations

import argparse
import itertools
import json
import operator
import sys
from concurrent.futures import ThreadPoolExecutor
from typing import TYPE_CHECKING, Dict, List, NamedTuple, Optional, Sequence, SupportsFloat, SupportsInt, Tuple, Union

import numpy as np

from mopsel._errors import MpsError
from mopsel._mopsel import Model
from mopsel.cli.inputs import EXIT_FOUND, EXIT_OK, EXIT_TROUBLE, STDIN, count, failure_lines, load, one_stdin, tolerance

if TYPE_CHECKING:
    from mopsel.cli.inputs import Subcommands

_KIND_NAMES = {0: "continuous", 1: "integer", 2: "semi-continuous", 3: "semi-integer"}


def register(commands: Subcommands, common: argparse.ArgumentParser) -> None:
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


class Difference(NamedTuple):
    kind: str  # "rows removed", "column costs", ...
    count: int  # type: ignore[assignment]  # the JSON key; hides tuple.count, unused here
    of: Optional[int]  # out of how many compared (None where that says nothing)
    examples: List[str]


# Matching names ----------------------------------------------------------------------------


def _occurrence_keys(names: Sequence[str]) -> List[Tuple[str, int]]:
    """(name, occurrence) for every name, so that a repeated name's k-th occurrence in one model
    matches its k-th in the other. This is uncommon (names repeat only in odd files)."""
    seen: Dict[str, int] = {}
    keys = []
    for name in names:
        k = seen.get(name, 0)
        seen[name] = k + 1
        keys.append((name, k))
    return keys


def _match_by_dict(names_a: Sequence[str], names_b: Sequence[str]) -> np.ndarray:
    """For each name of A, the position in B of the same name, or -1; a repeated name's k-th
    occurrence in A matches its k-th in B."""
    where_b = dict(zip(names_b, itertools.count()))
    found = np.fromiter(map(where_b.get, names_a, itertools.repeat(-1)), dtype=np.int64, count=len(names_a))
    matched = found[found >= 0]
    if len(where_b) < len(names_b) or np.unique(matched).size < matched.size:
        where_key = dict(zip(_occurrence_keys(names_b), itertools.count()))
        keys_a = _occurrence_keys(names_a)
        found = np.fromiter(map(where_key.get, keys_a, itertools.repeat(-1)), dtype=np.int64, count=len(keys_a))
    return found


def match_names(names_a: Sequence[str], names_b: Sequence[str]) -> np.ndarray:
    """For each position in A, the position in B of the same name, or -1.

    Names at the same position are compared first (a string comparison, no hashing); only the
    others are matched through a dict, so two versions of a model whose names mostly stay in
    place match in a fraction of the time a dict of every name takes."""
    if names_a == names_b:
        return np.arange(len(names_a), dtype=np.int64)
    common = min(len(names_a), len(names_b))
    in_place = np.fromiter(map(operator.eq, names_a, names_b), dtype=bool, count=common)
    a_to_b = np.full(len(names_a), -1, dtype=np.int64)
    a_to_b[:common][in_place] = np.flatnonzero(in_place)
    moved = np.flatnonzero(~in_place)
    rest_a = np.concatenate([moved, np.arange(common, len(names_a))])
    rest_b = np.concatenate([moved, np.arange(common, len(names_b))])
    if rest_a.size and rest_b.size:
        found = _match_by_dict([names_a[i] for i in rest_a.tolist()], [names_b[i] for i in rest_b.tolist()])
        a_to_b[rest_a] = np.where(found >= 0, rest_b[found], -1)
    return a_to_b


def _inverse(a_to_b: np.ndarray, size_b: int) -> np.ndarray:
    b_to_a = np.full(size_b, -1, dtype=np.int64)
    common = a_to_b >= 0
    b_to_a[a_to_b[common]] = np.flatnonzero(common)
    return b_to_a


def _name_differences(
    what: str, names_a: Sequence[str], names_b: Sequence[str], a_to_b: np.ndarray, b_to_a: np.ndarray, show: int
) -> List[Difference]:
    out = []
    removed = np.flatnonzero(a_to_b < 0)
    if removed.size:
        out.append(Difference(f"{what}s removed", int(removed.size), None, [names_a[i] for i in removed[:show]]))
    added = np.flatnonzero(b_to_a < 0)
    if added.size:
        out.append(Difference(f"{what}s added", int(added.size), None, [names_b[i] for i in added[:show]]))
    # Order: the common names, in A's order, against their rank among the common names of B.
    in_a = np.flatnonzero(a_to_b >= 0)
    in_b = a_to_b[in_a]
    if in_b.size and np.any(in_b[1:] < in_b[:-1]):
        rank_in_b = np.cumsum(b_to_a >= 0) - 1
        moved = np.flatnonzero(rank_in_b[in_b] != np.arange(in_b.size))
        out.append(
            Difference(
                f"{what}s in another order",
                int(moved.size),
                int(in_b.size),
                [f"{names_a[in_a[i]]}: {what} {in_a[i] + 1} -> {in_b[i] + 1}" for i in moved[:show]],
            )
        )
    return out


# Comparing numbers -------------------------------------------------------------------------


def differs(a: np.ndarray, b: np.ndarray, rtol: float, atol: float) -> np.ndarray:
    """Where a and b differ beyond the tolerances (equal infinities and two NaN are the same)."""
    unequal = a != b
    positions = np.flatnonzero(unequal)
    if positions.size == 0:
        return unequal
    x, y = a[positions], b[positions]
    same = np.isnan(x) & np.isnan(y)
    if rtol or atol:
        with np.errstate(invalid="ignore", over="ignore"):
            same |= np.abs(x - y) <= atol + rtol * np.maximum(np.abs(x), np.abs(y))
    unequal[positions[same]] = False
    return unequal


def _kind(code: SupportsInt) -> str:
    return _KIND_NAMES.get(int(code), f"code {int(code)}")


def _value(x: SupportsFloat) -> str:
    return repr(float(x))


class Common(NamedTuple):
    """The rows (or columns) both models have: their positions in A and in B, or two full
    slices when both models number them alike (no copy of the arrays is then made)."""

    in_a: Union[slice, np.ndarray]
    in_b: Union[slice, np.ndarray]

    def position_in_a(self, i: int) -> int:
        return i if isinstance(self.in_a, slice) else int(self.in_a[i])


def _common(a_to_b: np.ndarray, same: bool) -> Common:
    if same:
        return Common(slice(None), slice(None))
    in_a = np.flatnonzero(a_to_b >= 0)
    return Common(in_a, a_to_b[in_a])


def _field_difference(
    kind: str, names: Sequence[str], common: Common, pairs: Sequence[Tuple[np.ndarray, np.ndarray]], rtol: float,
    atol: float, show: int,
) -> List[Difference]:
    """Items whose values differ in any of `pairs` (arrays of A, arrays of B): one value is
    shown as it stands, two as the interval [lower, upper]."""
    taken = [(a[common.in_a], b[common.in_b]) for a, b in pairs]
    bad_mask = differs(*taken[0], rtol, atol)
    for x, y in taken[1:]:
        bad_mask |= differs(x, y, rtol, atol)
    bad = np.flatnonzero(bad_mask)
    if not bad.size:
        return []

    def shown(i: int, side: int) -> str:
        values = [_value(pair[side][i]) for pair in taken]
        return values[0] if len(values) == 1 else f"[{', '.join(values)}]"

    examples = [f"{names[common.position_in_a(i)]}: {shown(i, 0)} -> {shown(i, 1)}" for i in bad[:show]]
    return [Difference(kind, int(bad.size), int(taken[0][0].size), examples)]


# The matrix --------------------------------------------------------------------------------


def _entry_keys(
    start: np.ndarray, index: np.ndarray, n_row: int, row_to: Optional[np.ndarray] = None,
    col_to: Optional[np.ndarray] = None, row_ok: Optional[np.ndarray] = None, col_ok: Optional[np.ndarray] = None,
) -> Tuple[np.ndarray, List[np.ndarray]]:
    """The key column * n_row + row of each entry whose row and column have a counterpart in
    the other model, in B's numbering, and the selection of those entries (the steps that
    `_pick` applies to an array over all entries). Rows and columns are taken through `row_to`
    and `col_to` (None: as they are; -1: no counterpart) or kept where `row_ok` and `col_ok`
    are true (None: all)."""
    per_column: np.ndarray = np.diff(start.astype(np.int64))
    keys = np.repeat(np.arange(per_column.size, dtype=np.int64) if col_to is None else col_to, per_column)
    valid = None
    if col_to is not None or col_ok is not None:
        valid = keys >= 0 if col_ok is None else np.repeat(col_ok, per_column)
    keys *= np.int64(n_row)
    if row_to is None:
        keys += index
        if row_ok is not None:
            valid = row_ok[index] if valid is None else valid & row_ok[index]
    else:
        rows = row_to.astype(np.int32)[index]  # half the memory of int64 indices
        keys += rows
        valid = rows >= 0 if valid is None else valid & (rows >= 0)
    steps: List[np.ndarray] = []
    if valid is not None and not valid.all():
        keys, steps = keys[valid], [valid]
    # Entries are stored by column, so the keys are often in order already.
    if keys.size > 1 and not np.all(keys[1:] > keys[:-1]):
        order = np.argsort(keys)
        keys, steps = keys[order], steps + [order]
    return keys, steps


def _pick(values: np.ndarray, steps: Sequence[np.ndarray]) -> np.ndarray:
    for step in steps:
        values = values[step]
    return values


def _matrix_differences(
    ma: Model, mb: Model, maps: Tuple[Tuple[np.ndarray, np.ndarray], Tuple[np.ndarray, np.ndarray]],
    names: Tuple[Tuple[List[str], List[str]], Tuple[List[str], List[str]]], rtol: float, atol: float, show: int,
) -> List[Difference]:
    (row_a2b, row_b2a), (col_a2b, col_b2a) = maps
    (row_a, col_a), (row_b, col_b) = names
    A, B = ma.a_matrix, mb.a_matrix
    same_rows, same_cols = row_a is row_b, col_a is col_b
    n_row_b = mb.num_row

    def entry(key: int) -> str:
        return f"({row_b[int(key % n_row_b)]}, {col_b[int(key // n_row_b)]})"

    out = []
    if same_rows and same_cols and np.array_equal(A.start, B.start) and np.array_equal(A.index, B.index):
        # The same pattern in the same order (the common case): values compare in place.
        keys_a = None
        x, y = A.value, B.value
    else:
        # Entries matched by key in B's numbering; those in a row or column that the other
        # model does not have are left out (the names already say so).
        rows_a = {} if same_rows else {"row_to": row_a2b}
        cols_a = {} if same_cols else {"col_to": col_a2b}
        keys_a, steps_a = _entry_keys(A.start, A.index, n_row_b, **rows_a, **cols_a)
        rows_b = {} if same_rows else {"row_ok": row_b2a >= 0}
        cols_b = {} if same_cols else {"col_ok": col_b2a >= 0}
        keys_b, steps_b = _entry_keys(B.start, B.index, n_row_b, **rows_b, **cols_b)
        if not np.array_equal(keys_a, keys_b):
            at = np.searchsorted(keys_b, keys_a)
            found = at < keys_b.size
            found[found] = keys_b[at[found]] == keys_a[found]
            removed = np.flatnonzero(~found)
            if removed.size:
                examples = [entry(k) for k in keys_a[removed[:show]]]
                out.append(Difference("matrix entries removed", int(removed.size), None, examples))
            in_a = np.zeros(keys_b.size, dtype=bool)
            in_a[at[found]] = True
            added = np.flatnonzero(~in_a)
            if added.size:
                examples = [entry(k) for k in keys_b[added[:show]]]
                out.append(Difference("matrix entries added", int(added.size), None, examples))
            keys_a, steps_a, steps_b = keys_a[found], steps_a + [found], steps_b + [at[found]]
        x, y = _pick(A.value, steps_a), _pick(B.value, steps_b)
    bad = np.flatnonzero(differs(x, y, rtol, atol))
    if bad.size:
        keys: Union[List[int], np.ndarray]
        if keys_a is None:  # positions in storage order: the column of an entry from `start`
            columns = np.searchsorted(A.start, bad[:show], side="right") - 1
            keys = [int(c) * n_row_b + int(A.index[p]) for p, c in zip(bad[:show], columns)]
        else:
            keys = keys_a[bad[:show]]
        examples = [f"{entry(k)}: {_value(x[i])} -> {_value(y[i])}" for k, i in zip(keys, bad[:show])]
        out.append(Difference("matrix values", int(bad.size), int(x.size), examples))
    return out


# The comparison ----------------------------------------------------------------------------


class Side(NamedTuple):
    """A model with its row and column names (each a new list on every access of the Model's
    attributes: taken once)."""

    model: Model
    row_names: List[str]
    col_names: List[str]


def side(model: Model) -> Side:
    return Side(model, model.row_names, model.col_names)


def compare(a: Side, b: Side, *, rtol: float = 0.0, atol: float = 0.0, show: int = 5) -> List[Difference]:
    """Every kind of difference from model A to model B, each with its count and first examples."""
    ma, mb = a.model, b.model
    out: List[Difference] = []

    def scalar(kind: str, a: str, b: str, same: bool) -> None:
        if not same:
            out.append(Difference(kind, 1, None, [f"{a} -> {b}"]))

    scalar("model name", repr(ma.name), repr(mb.name), ma.name == mb.name)
    scalar("objective name", repr(ma.objective_name), repr(mb.objective_name), ma.objective_name == mb.objective_name)
    sense = {True: "minimise", False: "maximise"}
    scalar("sense", sense[ma.obj_sense_minimize], sense[mb.obj_sense_minimize],
           ma.obj_sense_minimize == mb.obj_sense_minimize)
    offsets = np.array([ma.obj_offset]), np.array([mb.obj_offset])
    scalar("objective constant", _value(ma.obj_offset), _value(mb.obj_offset), not differs(*offsets, rtol, atol)[0])

    row_a, row_b = a.row_names, b.row_names
    col_a, col_b = a.col_names, b.col_names
    if row_a == row_b:
        row_b = row_a  # one list: the matrix comparison sees that the numbering is the same
    if col_a == col_b:
        col_b = col_a
    row_a2b = match_names(row_a, row_b)
    row_b2a = _inverse(row_a2b, mb.num_row)
    col_a2b = match_names(col_a, col_b)
    col_b2a = _inverse(col_a2b, mb.num_col)
    out += _name_differences("row", row_a, row_b, row_a2b, row_b2a, show)
    out += _name_differences("column", col_a, col_b, col_a2b, col_b2a, show)

    rows = _common(row_a2b, row_a is row_b)
    cols = _common(col_a2b, col_a is col_b)
    tol = (rtol, atol, show)
    row_bounds = ((ma.row_lower, mb.row_lower), (ma.row_upper, mb.row_upper))
    out += _field_difference("row bounds", row_a, rows, row_bounds, *tol)
    out += _field_difference("column costs", col_a, cols, ((ma.col_cost, mb.col_cost),), *tol)
    out += _field_difference(
        "column bounds", col_a, cols, ((ma.col_lower, mb.col_lower), (ma.col_upper, mb.col_upper)), *tol
    )
    ka, kb = ma.col_integrality[cols.in_a], mb.col_integrality[cols.in_b]
    bad = np.flatnonzero(ka != kb)
    if bad.size:
        examples = [f"{col_a[cols.position_in_a(i)]}: {_kind(ka[i])} -> {_kind(kb[i])}" for i in bad[:show]]
        out.append(Difference("integrality", int(bad.size), int(ka.size), examples))
    out += _matrix_differences(
        ma, mb, ((row_a2b, row_b2a), (col_a2b, col_b2a)), ((row_a, col_a), (row_b, col_b)), rtol, atol, show
    )
    return out


def report(label_a: str, label_b: str, found: List[Difference]) -> str:
    lines = [f"--- {label_a}", f"+++ {label_b}"]
    for d in found:
        lines.append(f"{d.kind}: {d.count:,}" + (f" of {d.of:,}" if d.of is not None else ""))
        lines += [f"    {e}" for e in d.examples]
        if d.count > len(d.examples) and d.examples:
            lines.append(f"    ... {d.count - len(d.examples):,} more")
    kinds = len(found)
    lines.append(f"{kinds} kind{'' if kinds == 1 else 's'} of difference" if kinds else "no differences")
    return "\n".join(lines)


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
    except MpsError as error:
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
