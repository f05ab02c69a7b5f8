"""mopsel.diff and mopsel.equal: what differs between two models, by name, and whether two models
are the same bit for bit.

diff compares B to A by the names of rows and columns: rows and columns removed, added or
reordered, names, sense and constant, bounds, costs, integrality and matrix entries beyond the
tolerances, with counts and the first few of each kind (the engine of `mopsel diff`).

The comparison is vectorised, so that two models of a gigabyte compare in about the time
reading them takes: names are compared position by position and only those that moved go
through a dict (none at all when both models have the same names in the same order, the
common case of two versions of a generated model); bounds, costs and matrix entries are
compared as NumPy arrays, the entries position by position when both matrices have the same
pattern, otherwise matched by a key (column, row) in B's numbering, sorted only when the
entries are not in order already.
"""

from __future__ import annotations

import itertools
import math
import operator
from collections import Counter
from dataclasses import dataclass
from typing import Any, Dict, Iterator, List, NamedTuple, Optional, Sequence, Tuple, Union

import numpy as np

from mopsel._mopsel import Model

_KIND_NAMES = {0: "continuous", 1: "integer", 2: "semi-continuous", 3: "semi-integer"}

# What a Model may hold besides its LP part (None or absent when it holds none).
EXTENDED_SECTIONS = ("hessian", "row_hessians", "sos", "indicators")

Array = np.ndarray
Index = Union[slice, Array]


def entries_per_column(start: Any) -> np.ndarray[Any, np.dtype[np.int64]]:
    """The number of matrix entries in each column, from a column-start array."""
    first = np.asarray(start, dtype=np.int64)
    return first[1:] - first[:-1]


class Difference(NamedTuple):
    """One kind of difference: its name ("rows removed", "column costs", ...), how many items
    differ, out of how many compared (None where that says nothing), and the first examples."""

    kind: str
    count: int  # type: ignore[assignment]  # the field's name in the JSON of mopsel diff
    of: Optional[int]
    examples: List[str]


@dataclass(frozen=True)
class DiffResult:
    """The differences from model A to model B, one `Difference` per kind that occurs.

    False when the models agree. Iterating gives the differences; `result["row bounds"]` the one
    of a kind (KeyError when that kind does not occur); `counts()` the counts by kind;
    `to_dict()` a list of plain dicts (as `mopsel diff --json` prints them); `str(result)` the
    report of `mopsel diff` without its two header lines.
    """

    differences: Tuple[Difference, ...]

    def __bool__(self) -> bool:
        return bool(self.differences)

    def __len__(self) -> int:
        return len(self.differences)

    def __iter__(self) -> Iterator[Difference]:
        return iter(self.differences)

    def __getitem__(self, kind: str) -> Difference:
        for difference in self.differences:
            if difference.kind == kind:
                return difference
        raise KeyError(kind)

    def counts(self) -> Dict[str, int]:
        return {d.kind: d.count for d in self.differences}

    def to_dict(self) -> List[Dict[str, Any]]:
        return [d._asdict() for d in self.differences]

    def __str__(self) -> str:
        return "\n".join(report_lines(self.differences))


def report_lines(found: Sequence[Difference]) -> List[str]:
    """Each kind with its count and examples, then how many kinds there are."""
    lines = []
    for d in found:
        lines.append(f"{d.kind}: {d.count:,}" + (f" of {d.of:,}" if d.of is not None else ""))
        lines += [f"    {e}" for e in d.examples]
        if d.count > len(d.examples) and d.examples:
            lines.append(f"    ... {d.count - len(d.examples):,} more")
    kinds = len(found)
    lines.append(f"{kinds} kind{'' if kinds == 1 else 's'} of difference" if kinds else "no differences")
    return lines


def diff(a: Model, b: Model, *, rtol: float = 0.0, atol: float = 0.0, show: int = 5) -> DiffResult:
    """What differs from model `a` to model `b`, matched by the names of rows and columns.

    Numbers differ when |x - y| > atol + rtol * max(|x|, |y|) (equal infinities and two NaN are
    the same). `show` examples are kept per kind. The result is falsy when the models agree.

    >>> import mopsel
    >>> a = mopsel.from_arrays(col_cost=[1.0, 2.0], a_matrix=[[1.0, 1.0]], row_lower=[1.0],
    ...                        row_upper=[4.0], col_names=["x", "y"], row_names=["c1"])
    >>> b = mopsel.from_arrays(col_cost=[1.0, 2.5], a_matrix=[[1.0, 1.0]], row_lower=[1.0],
    ...                        row_upper=[4.0], col_names=["x", "y"], row_names=["c1"])
    >>> bool(mopsel.diff(a, a))
    False
    >>> found = mopsel.diff(a, b)
    >>> found.counts()
    {'column costs': 1}
    >>> print(found)
    column costs: 1 of 2
        y: 2.0 -> 2.5
    1 kind of difference
    >>> bool(mopsel.diff(a, b, rtol=0.25))
    False
    """
    for value, label in ((rtol, "rtol"), (atol, "atol")):
        if not isinstance(value, (int, float)) or not 0 <= value < math.inf:
            raise ValueError(f"argument '{label}': expected a finite number >= 0, got {value!r}")
    if not isinstance(show, int) or show < 0:
        raise ValueError(f"argument 'show': expected a whole number >= 0, got {show!r}")
    for model, label in ((a, "a"), (b, "b")):
        if not hasattr(model, "a_matrix"):
            raise TypeError(f"argument '{label}': expected a Model, got {type(model).__name__}")
    return DiffResult(tuple(compare(side(a), side(b), rtol=float(rtol), atol=float(atol), show=show)))


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


def _match_by_dict(names_a: Sequence[str], names_b: Sequence[str]) -> Array:
    """For each name of A, the position in B of the same name, or -1; a repeated name's k-th
    occurrence in A matches its k-th in B."""
    where_b: Dict[Any, int] = dict(zip(names_b, itertools.count()))
    found = np.fromiter(map(where_b.get, names_a, itertools.repeat(-1)), dtype=np.int64, count=len(names_a))
    matched = found[found >= 0]
    if len(where_b) < len(names_b) or np.unique(matched).size < matched.size:
        where_b = dict(zip(_occurrence_keys(names_b), itertools.count()))
        keys_a = _occurrence_keys(names_a)
        found = np.fromiter(map(where_b.get, keys_a, itertools.repeat(-1)), dtype=np.int64, count=len(keys_a))
    return found


def match_names(names_a: Sequence[str], names_b: Sequence[str]) -> Array:
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


def _inverse(a_to_b: Array, size_b: int) -> Array:
    b_to_a = np.full(size_b, -1, dtype=np.int64)
    common = a_to_b >= 0
    b_to_a[a_to_b[common]] = np.flatnonzero(common)
    return b_to_a


def _name_differences(
    what: str, names_a: Sequence[str], names_b: Sequence[str], a_to_b: Array, b_to_a: Array, show: int
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


def differs(a: Array, b: Array, rtol: float, atol: float) -> Array:
    """Where a and b differ beyond the tolerances (equal infinities and two NaN are the same)."""
    unequal: Array = a != b
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


def _kind(code: Any) -> str:
    return _KIND_NAMES.get(int(code), f"code {int(code)}")


def _value(x: Any) -> str:
    return repr(float(x))


class Common(NamedTuple):
    """The rows (or columns) both models have: their positions in A and in B, or two full
    slices when both models number them alike (no copy of the arrays is then made)."""

    in_a: Index
    in_b: Index

    def position_in_a(self, i: int) -> int:
        return i if isinstance(self.in_a, slice) else int(self.in_a[i])


def _common(a_to_b: Array, same: bool) -> Common:
    if same:
        return Common(slice(None), slice(None))
    in_a = np.flatnonzero(a_to_b >= 0)
    return Common(in_a, a_to_b[in_a])


def _field_difference(
    kind: str,
    names: Sequence[str],
    common: Common,
    pairs: Sequence[Tuple[Array, Array]],
    rtol: float,
    atol: float,
    show: int,
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

Steps = List[Array]


def _entry_keys(
    start: Array,
    index: Array,
    n_row: int,
    row_to: Optional[Array] = None,
    col_to: Optional[Array] = None,
    row_ok: Optional[Array] = None,
    col_ok: Optional[Array] = None,
) -> Tuple[Array, Steps]:
    """The key column * n_row + row of each entry whose row and column have a counterpart in
    the other model, in B's numbering, and the selection of those entries (the steps that
    `_pick` applies to an array over all entries). Rows and columns are taken through `row_to`
    and `col_to` (None: as they are; -1: no counterpart) or kept where `row_ok` and `col_ok`
    are true (None: all)."""
    per_column = entries_per_column(start)
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
    steps: Steps
    if valid is None or valid.all():
        steps = []
    else:
        keys, steps = keys[valid], [valid]
    # Entries are stored by column, so the keys are often in order already.
    if keys.size > 1 and not np.all(keys[1:] > keys[:-1]):
        order = np.argsort(keys)
        keys, steps = keys[order], steps + [order]
    return keys, steps


def _pick(values: Array, steps: Steps) -> Array:
    for step in steps:
        values = values[step]
    return values


class _Matched(NamedTuple):
    """Two sorted key arrays matched: for each key of A, where it is in B (`at`, valid where
    `found`), and the keys of B that A lacks (`added`)."""

    at: Array
    found: Array
    added: Array


def _match_keys(keys_a: Array, keys_b: Array) -> _Matched:
    at = np.searchsorted(keys_b, keys_a)
    found = at < keys_b.size
    found[found] = keys_b[at[found]] == keys_a[found]
    in_a = np.zeros(keys_b.size, dtype=bool)
    in_a[at[found]] = True
    return _Matched(at, found, np.flatnonzero(~in_a))


def _matrix_differences(
    ma: Model,
    mb: Model,
    maps: Tuple[Tuple[Array, Array], Tuple[Array, Array]],
    names: Tuple[Tuple[Sequence[str], Sequence[str]], Tuple[Sequence[str], Sequence[str]]],
    rtol: float,
    atol: float,
    show: int,
) -> List[Difference]:
    (row_a2b, row_b2a), (col_a2b, col_b2a) = maps
    (row_a, col_a), (row_b, col_b) = names
    A, B = ma.a_matrix, mb.a_matrix
    same_rows, same_cols = row_a is row_b, col_a is col_b
    n_row_b = mb.num_row

    def entry(key: Any) -> str:
        return f"({row_b[int(key % n_row_b)]}, {col_b[int(key // n_row_b)]})"

    out = []
    keys_a: Optional[Array]
    if same_rows and same_cols and np.array_equal(A.start, B.start) and np.array_equal(A.index, B.index):
        # The same pattern in the same order (the common case): values compare in place.
        keys_a = None
        x, y = A.value, B.value
    else:
        # Entries matched by key in B's numbering; those in a row or column that the other
        # model does not have are left out (the names already say so).
        keys_a, steps_a = _entry_keys(
            A.start, A.index, n_row_b, row_to=None if same_rows else row_a2b, col_to=None if same_cols else col_a2b
        )
        keys_b, steps_b = _entry_keys(
            B.start,
            B.index,
            n_row_b,
            row_ok=None if same_rows else row_b2a >= 0,
            col_ok=None if same_cols else col_b2a >= 0,
        )
        if not np.array_equal(keys_a, keys_b):
            matched = _match_keys(keys_a, keys_b)
            removed = np.flatnonzero(~matched.found)
            if removed.size:
                examples = [entry(k) for k in keys_a[removed[:show]]]
                out.append(Difference("matrix entries removed", int(removed.size), None, examples))
            if matched.added.size:
                examples = [entry(k) for k in keys_b[matched.added[:show]]]
                out.append(Difference("matrix entries added", int(matched.added.size), None, examples))
            found = matched.found
            keys_a, steps_a, steps_b = keys_a[found], steps_a + [found], steps_b + [matched.at[found]]
        x, y = _pick(A.value, steps_a), _pick(B.value, steps_b)
    bad = np.flatnonzero(differs(x, y, rtol, atol))
    if bad.size:
        if keys_a is None:  # positions in storage order: the column of an entry from `start`
            columns = np.searchsorted(A.start, bad[:show], side="right") - 1
            keys: Any = [int(c) * n_row_b + int(A.index[p]) for p, c in zip(bad[:show], columns)]
        else:
            keys = keys_a[bad[:show]]
        examples = [f"{entry(k)}: {_value(x[i])} -> {_value(y[i])}" for k, i in zip(keys, bad[:show])]
        out.append(Difference("matrix values", int(bad.size), int(x.size), examples))
    return out


# Quadratic parts ---------------------------------------------------------------------------


def triangle_entries(matrix: Any, n: int) -> Tuple[Array, Array, Array]:
    """Rows, columns and values of a lower-triangle matrix held column-wise (start, index,
    value: the Hessians), as int64, int64 and float64 arrays; an entry stored above the
    diagonal is taken as its mirror image below it. None gives no entries."""
    if matrix is None:
        empty = np.zeros(0, dtype=np.int64)
        return empty, empty, np.zeros(0)
    start = np.asarray(matrix.start, dtype=np.int64)
    rows = np.asarray(matrix.index, dtype=np.int64)
    cols = np.repeat(np.arange(start.size - 1, dtype=np.int64), entries_per_column(start))
    if rows.size and (rows.max(initial=0) >= n or cols.size != rows.size):
        raise ValueError(f"a Hessian with {start.size - 1} columns and row {rows.max()} does not fit {n} columns")
    low, high = np.maximum(rows, cols), np.minimum(rows, cols)
    return low, high, np.asarray(matrix.value, dtype=np.float64)


def _triangle_differences(
    what: str,
    label: str,
    ha: Any,
    hb: Any,
    col_a2b: Array,
    col_b2a: Array,
    names_b: Sequence[str],
    rtol: float,
    atol: float,
    show: int,
) -> List[Difference]:
    """The entries of two lower-triangle matrices over the columns (a Hessian), matched by the
    names of their columns; `label` prefixes each example (a row's name for a row Hessian)."""
    n_a, n_b = col_a2b.size, col_b2a.size
    ra, ca, va = triangle_entries(ha, n_a)
    rb, cb, vb = triangle_entries(hb, n_b)
    # A's entries in B's numbering (lower triangle again), those of unmatched columns left out.
    ra, ca = col_a2b[ra], col_a2b[ca]
    keep_a = (ra >= 0) & (ca >= 0)
    ra, ca, va = np.maximum(ra, ca)[keep_a], np.minimum(ra, ca)[keep_a], va[keep_a]
    keep_b = (col_b2a[rb] >= 0) & (col_b2a[cb] >= 0)
    rb, cb, vb = rb[keep_b], cb[keep_b], vb[keep_b]
    keys_a, keys_b = ca * max(n_b, 1) + ra, cb * max(n_b, 1) + rb
    order_a, order_b = np.argsort(keys_a, kind="stable"), np.argsort(keys_b, kind="stable")
    keys_a, va, keys_b, vb = keys_a[order_a], va[order_a], keys_b[order_b], vb[order_b]

    def entry(key: Any) -> str:
        return f"{label}({names_b[int(key % max(n_b, 1))]}, {names_b[int(key // max(n_b, 1))]})"

    out = []
    matched = _match_keys(keys_a, keys_b)
    removed = np.flatnonzero(~matched.found)
    if removed.size:
        examples = [entry(k) for k in keys_a[removed[:show]]]
        out.append(Difference(f"{what} entries removed", int(removed.size), None, examples))
    if matched.added.size:
        examples = [entry(k) for k in keys_b[matched.added[:show]]]
        out.append(Difference(f"{what} entries added", int(matched.added.size), None, examples))
    x, y, keys = va[matched.found], vb[matched.at[matched.found]], keys_a[matched.found]
    bad = np.flatnonzero(differs(x, y, rtol, atol))
    if bad.size:
        examples = [f"{entry(keys[i])}: {_value(x[i])} -> {_value(y[i])}" for i in bad[:show]]
        out.append(Difference(f"{what} values", int(bad.size), int(x.size), examples))
    return out


def _merge(found: List[Difference], show: int) -> List[Difference]:
    """The differences of several parts (the rows' Hessians) added up kind by kind."""
    merged: Dict[str, Difference] = {}
    for d in found:
        if d.kind in merged:
            old = merged[d.kind]
            of = None if old.of is None or d.of is None else old.of + d.of
            d = Difference(d.kind, old.count + d.count, of, (old.examples + d.examples)[:show])
        merged[d.kind] = d
    return list(merged.values())


def _row_hessian_differences(
    a: Side, b: Side, row_a2b: Array, cols: Tuple[Array, Array], rtol: float, atol: float, show: int
) -> List[Difference]:
    ha: Dict[int, Any] = dict(getattr(a.model, "row_hessians", None) or {})
    hb: Dict[int, Any] = dict(getattr(b.model, "row_hessians", None) or {})
    out: List[Difference] = []
    # Rows of B that carry a Hessian, and those of A in B's numbering (rows B lacks are
    # already reported as removed).
    rows_b = set(hb)
    rows_a = {int(row_a2b[r]): r for r in ha if row_a2b[r] >= 0}
    for row in sorted(rows_b | set(rows_a)):
        found = _triangle_differences(
            "row Hessian", f"{b.row_names[row]}: ", ha.get(rows_a.get(row, -1)), hb.get(row), *cols, b.col_names,
            rtol, atol, show,
        )
        out += found
    return _merge(out, show)


# SOS sets and indicators, matched by names ----------------------------------------------


def _sets(sos: Any, col_names: List[str]) -> Dict[Tuple[str, int], Tuple[int, int, List[str], Array]]:
    """Each SOS set by (name, how many sets of that name came before it): (type, priority,
    member names in order, weights)."""
    found: Dict[Tuple[str, int], Tuple[int, int, List[str], Array]] = {}
    if sos is None:
        return found
    start = sos.start.tolist()
    seen: Dict[str, int] = {}
    for k, (name, kind, priority) in enumerate(zip(sos.names, sos.type.tolist(), sos.priority.tolist())):
        members = [col_names[c] for c in sos.index[start[k]:start[k + 1]].tolist()]
        found[(name, seen.get(name, 0))] = (kind, priority, members, sos.weight[start[k]:start[k + 1]])
        seen[name] = seen.get(name, 0) + 1
    return found


def _sos_differences(a: Side, b: Side, rtol: float, atol: float, show: int) -> List[Difference]:
    """SOS sets added, removed (by name), and of those in both: type, priority, members (by
    column name, in order) and, where the members agree, weights."""
    sa, sb = _sets(getattr(a.model, "sos", None), a.col_names), _sets(getattr(b.model, "sos", None), b.col_names)
    out: List[Difference] = []
    for kind, keys in (("SOS sets removed", [k for k in sa if k not in sb]),
                       ("SOS sets added", [k for k in sb if k not in sa])):
        if keys:
            out.append(Difference(kind, len(keys), None, [name for name, _ in keys[:show]]))
    found: Dict[str, List[str]] = {"SOS types": [], "SOS priorities": [], "SOS members": [], "SOS weights": []}
    both = [k for k in sa if k in sb]
    for key in both:
        (type_a, prio_a, members_a, weights_a), (type_b, prio_b, members_b, weights_b) = sa[key], sb[key]
        name = key[0]
        if type_a != type_b:
            found["SOS types"].append(f"{name}: S{type_a} -> S{type_b}")
        if prio_a != prio_b:
            found["SOS priorities"].append(f"{name}: {prio_a} -> {prio_b}")
        if members_a != members_b:
            found["SOS members"].append(f"{name}: {' '.join(members_a)} -> {' '.join(members_b)}")
            continue
        for i in np.flatnonzero(differs(weights_a, weights_b, rtol, atol)).tolist():
            found["SOS weights"].append(f"{name} ({members_a[i]}): {_value(weights_a[i])} -> {_value(weights_b[i])}")
    for kind, examples in found.items():
        if examples:
            of = len(both) if kind != "SOS weights" else None
            out.append(Difference(kind, len(examples), of, examples[:show]))
    return out


def _indicator_records(side: Side) -> List[str]:
    ind = getattr(side.model, "indicators", None)
    if ind is None:
        return []
    return [f"{side.row_names[r]} if {side.col_names[c]} = {v}"
            for r, c, v in zip(ind.row.tolist(), ind.column.tolist(), ind.value.tolist())]


def _indicator_differences(a: Side, b: Side, show: int) -> List[Difference]:
    """Indicators (row, column and value, by names) that only one model has; order aside."""
    ra, rb = Counter(_indicator_records(a)), Counter(_indicator_records(b))
    out = []
    for kind, extra in (("indicators removed", ra - rb), ("indicators added", rb - ra)):
        if extra:
            out.append(Difference(kind, sum(extra.values()), None, list(extra.elements())[:show]))
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
    min_a, min_b = ma.obj_sense_minimize, mb.obj_sense_minimize
    scalar("sense", sense[min_a], sense[min_b], min_a == min_b)
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
    out += _field_difference(
        "row bounds", row_a, rows, ((ma.row_lower, mb.row_lower), (ma.row_upper, mb.row_upper)), rtol, atol, show
    )
    out += _field_difference("column costs", col_a, cols, ((ma.col_cost, mb.col_cost),), rtol, atol, show)
    out += _field_difference(
        "column bounds", col_a, cols, ((ma.col_lower, mb.col_lower), (ma.col_upper, mb.col_upper)), rtol, atol, show
    )
    ka, kb = ma.col_integrality[cols.in_a], mb.col_integrality[cols.in_b]
    bad = np.flatnonzero(ka != kb)
    if bad.size:
        examples = [f"{col_a[cols.position_in_a(i)]}: {_kind(ka[i])} -> {_kind(kb[i])}" for i in bad[:show]]
        out.append(Difference("integrality", int(bad.size), int(ka.size), examples))
    out += _matrix_differences(
        ma, mb, ((row_a2b, row_b2a), (col_a2b, col_b2a)), ((row_a, col_a), (row_b, col_b)), rtol, atol, show
    )
    # The sections beyond the LP part, where either model has them.
    ha, hb = getattr(ma, "hessian", None), getattr(mb, "hessian", None)
    if ha is not None or hb is not None:
        out += _triangle_differences("Hessian", "", ha, hb, col_a2b, col_b2a, col_b, rtol, atol, show)
    if getattr(ma, "row_hessians", None) or getattr(mb, "row_hessians", None):
        out += _row_hessian_differences(a, b, row_a2b, (col_a2b, col_b2a), rtol, atol, show)
    out += _sos_differences(a, b, rtol, atol, show)
    out += _indicator_differences(a, b, show)
    return out


# Equality, bit for bit ----------------------------------------------------------------------


def equal(a: Model, b: Model) -> bool:
    """True when the two models hold the same, bit for bit: names, sense, every number (so -0.0
    differs from 0.0; every NaN is like every other NaN, as MPS text writes them all alike), the
    matrix with its entries in the same order, and the sections beyond the LP part (Hessians,
    SOS, indicators) where a model has them.

    Faster than `diff` and stricter: no tolerance, and no matching by names (two models with the
    same rows in another order are not equal).

    >>> import mopsel
    >>> m = mopsel.from_arrays(col_cost=[0.0, 1.0], a_matrix=[[1.0, 2.0]], row_lower=[0.0], row_upper=[1.0])
    >>> mopsel.equal(m, mopsel.parse_str(mopsel.write_str(m)))
    True
    >>> n = mopsel.from_arrays(col_cost=[-0.0, 1.0], a_matrix=[[1.0, 2.0]], row_lower=[0.0], row_upper=[1.0])
    >>> mopsel.equal(m, n)
    False
    """
    for model, label in ((a, "a"), (b, "b")):
        if not hasattr(model, "a_matrix"):
            raise TypeError(f"argument '{label}': expected a Model, got {type(model).__name__}")
    return _same(a, b)


def _fields(obj: Any) -> List[str]:
    """The public data attributes of an object (its methods left out), in name order."""
    names = []
    for name in dir(obj):
        if name.startswith("_"):
            continue
        try:
            value = getattr(obj, name)
        except AttributeError:
            continue
        if not callable(value) or isinstance(value, np.ndarray):
            names.append(name)
    return names


def _bits(values: Array) -> Array:
    """The bit patterns of a float array, every NaN made one pattern."""
    values = np.ascontiguousarray(values, dtype=np.float64)
    nan = np.isnan(values)
    if nan.any():
        values = np.where(nan, np.nan, values)
    return values.view(np.uint64)


def _same(x: Any, y: Any) -> bool:
    """Exact equality of model data: arrays by dtype, shape and bits; floats by bits; sequences
    and dicts item by item; other objects (a Model, a SparseMatrix, a section) by their public
    data attributes."""
    if x is None or y is None:
        return x is None and y is None
    if isinstance(x, np.ndarray) or isinstance(y, np.ndarray):
        if not (isinstance(x, np.ndarray) and isinstance(y, np.ndarray)) or x.dtype != y.dtype or x.shape != y.shape:
            return False
        if x.dtype.kind == "f":
            return bool(np.array_equal(_bits(x), _bits(y)))
        return bool(np.array_equal(x, y))
    if isinstance(x, float) or isinstance(y, float):
        return type(x) is type(y) and (
            (math.isnan(x) and math.isnan(y)) or np.float64(x).view(np.uint64) == np.float64(y).view(np.uint64)
        )
    if isinstance(x, (str, bytes, bool, int)) or isinstance(y, (str, bytes, bool, int)):
        return type(x) is type(y) and x == y
    if isinstance(x, (list, tuple)):
        if type(x) is not type(y) or len(x) != len(y):
            return False
        if set(map(type, x)) | set(map(type, y)) <= {str}:  # names: compared in one step
            return x == y
        return all(_same(p, q) for p, q in zip(x, y))
    if isinstance(x, dict):
        return isinstance(y, dict) and x.keys() == y.keys() and all(_same(x[k], y[k]) for k in x)
    if type(x) is not type(y):
        return False
    fields = _fields(x)
    return fields == _fields(y) and all(_same(getattr(x, k), getattr(y, k)) for k in fields)
