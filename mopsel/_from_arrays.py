"""mopsel.from_arrays: a Model from NumPy or SciPy data.

Everything is checked here, with messages that name the argument and the first offending
position; the native constructor then copies each array once into the buffers the Model owns.
"""

from __future__ import annotations

import re
import sys
from typing import Any, Dict, List, Optional, Sequence, Tuple

import numpy as np

from mopsel import _mopsel
from mopsel._mopsel import INTEGER, Model, SparseMatrix
from mopsel._triangles import column_of_entries, is_lower, lower_triangle, square_entries

# Names are written between blanks and read back up to the next blank, and the reader trims
# Unicode whitespace from the ends of lines: a name can hold none of it.
_WHITESPACE = re.compile(r"\s")
_MARKER = "'MARKER'"  # a row of this name would turn a COLUMNS line into an integer marker
_MAX_ROWS = 2**31 - 1  # the reader's limit, and row indices stay valid as int32
_MAX_COUNT = 2**32 - 1
# A matrix in column-wise compressed form: start, index, value.
_Triple = Tuple[np.ndarray, np.ndarray, np.ndarray]


def from_arrays(
    *,
    col_cost: Any,
    a_matrix: Any,
    row_lower: Any,
    row_upper: Any,
    col_lower: Any = 0.0,
    col_upper: Any = np.inf,
    col_integrality: Any = None,
    col_names: Optional[Sequence[str]] = None,
    row_names: Optional[Sequence[str]] = None,
    name: str = "",
    objective_name: str = "Objective",
    minimize: bool = True,
    obj_offset: float = 0.0,
    hessian: Any = None,
    row_hessians: Any = None,
    sos: Any = None,
    indicators: Any = None,
) -> Model:
    """Build a Model from arrays: minimise (or maximise) col_cost @ x + obj_offset subject to
    row_lower <= a_matrix @ x <= row_upper and col_lower <= x <= col_upper.

    The result is an ordinary Model, the same class with the same invariants as a parsed one,
    whose arrays own native buffers (each input is copied once): write_file, write_str,
    mopsel.write and the conversions work on it.

    col_cost: one cost per column (its length is the number of columns).
    a_matrix: a scipy.sparse matrix or array of shape (rows, columns), converted to CSC with
        duplicates summed; a (start, index, value) tuple in column-wise compressed form; a
        SparseMatrix; or a dense two-dimensional array. Explicit zeros are dropped.
    row_lower, row_upper: one bound per row (row_lower gives the number of rows); -inf/inf
        where a row has no bound.
    col_lower, col_upper: one bound per column, or one number for all (default 0 and inf).
    col_integrality: integrality codes 0-3 (CONTINUOUS, INTEGER, SEMI_CONTINUOUS,
        SEMI_INTEGER), or a bool mask of the integer columns; default all continuous.
    col_names, row_names: names without whitespace, not empty, not repeated; default C1, C2,
        ... and R1, R2, ...
    name, objective_name: the model's name (may be empty) and the objective row's name.
    minimize: False to maximise. obj_offset: the objective's constant term.
    hessian: H of the objective col_cost @ x + 1/2 x'Hx + obj_offset, symmetric, as a SciPy
        sparse matrix or array (duplicates summed), a dense array or nested lists, a dict
        {(i, j): value}, a SparseMatrix or a (start, index, value) tuple in column-wise form.
        Entries on one side of the diagonal only give that triangle of H; entries on both
        sides give the whole of H, whose halves must agree (the first place where they do
        not is named). The Model holds the lower triangle.
    row_hessians: {row: H_r} for rows whose activity is a_r'x + 1/2 x'H_r x, each in a form
        hessian takes; a row by its position or its name.
    sos: special ordered sets: a list of (type, columns) or (type, columns, weights) (type 1
        or 2; weights 1, 2, ... when left out), or as a Model's sos holds them (an object or
        mapping with type, start, index, weight and optionally priority and names).
    indicators: a list of (row, column, value) tuples, a tuple of three arrays (row, column,
        value) or a Model's indicators: row holds when column equals value (0 or 1).

    Bad input raises ValueError or TypeError naming the argument and the first offending
    position (lengths, start not rising from 0 to the entry count, a row index out of range or
    repeated within a column, NaN, names MPS text cannot carry).

    >>> import numpy as np, mopsel
    >>> m = mopsel.from_arrays(col_cost=[1.0, 2.0], a_matrix=np.array([[1.0, 1.0], [0.0, 3.0]]),
    ...                        row_lower=[1.0, -np.inf], row_upper=[np.inf, 6.0],
    ...                        col_integrality=[False, True], row_names=["demand", "cap"])
    >>> m
    Model(name=, num_row=2, num_col=2, sense=min)
    >>> m.a_matrix.start, m.a_matrix.index, m.col_names
    (array([0, 1, 3], dtype=uint32), array([0, 0, 1], dtype=uint32), ['C1', 'C2'])
    >>> q = mopsel.from_arrays(col_cost=[0.0, 0.0], a_matrix=[[1.0, 1.0]], row_lower=[1.0], row_upper=[1.0],
    ...                        hessian=[[2.0, 1.0], [1.0, 4.0]], sos=[(1, [0, 1])])
    >>> q.hessian.start, q.hessian.index, q.hessian.value     # the lower triangle of H
    (array([0, 2, 3], dtype=uint32), array([0, 1, 1], dtype=uint32), array([2., 1., 4.]))
    """
    cost = _numbers("col_cost", col_cost)
    num_col = len(cost)
    lower = _numbers("row_lower", row_lower)
    num_row = len(lower)
    if num_row > _MAX_ROWS or num_col > _MAX_COUNT:
        raise ValueError(f"too many rows or columns ({num_row}, {num_col}); at most 2**31 - 1 and 2**32 - 1")
    upper = _numbers("row_upper", row_upper, num_row, "one per row, as row_lower")
    col_lo = _numbers("col_lower", col_lower, num_col, "one per column, as col_cost")
    col_up = _numbers("col_upper", col_upper, num_col, "one per column, as col_cost")
    codes = _integrality(col_integrality, num_col)
    start, index, value = _matrix(a_matrix, num_row, num_col)

    if not isinstance(minimize, (bool, np.bool_)):
        raise TypeError(f"minimize: expected a bool, got {type(minimize).__name__}")
    offset = _number("obj_offset", obj_offset)
    _single_name("name", name, may_be_empty=True)
    _single_name("objective_name", objective_name)
    if objective_name == _MARKER:
        raise ValueError(f"objective_name {_MARKER!r} is reserved for integer markers")
    if row_names is None and re.fullmatch(r"R[1-9][0-9]*", objective_name) and int(objective_name[1:]) <= num_row:
        raise ValueError(f"objective_name {objective_name!r} is also the name of a generated row")
    reserved = {objective_name: "the objective row's name", _MARKER: "reserved for integer markers"}
    if row_names is not None and not isinstance(row_names, (str, bytes)):
        row_names = list(row_names)  # read twice: checked, and looked up by row_hessians
    col_blob = _names("col_names", col_names, num_col, {})
    row_blob = _names("row_names", row_names, num_row, reserved)
    parts = _parts(hessian, row_hessians, sos, indicators, num_row, num_col, row_names)
    return _mopsel._model_from_arrays(
        name=name, objective_name=objective_name, minimize=bool(minimize), obj_offset=offset, col_cost=cost,
        col_lower=col_lo, col_upper=col_up, col_integrality=codes, row_lower=lower, row_upper=upper,
        start=start, index=index, value=value, col_names=col_blob, row_names=row_blob, **parts)


def _field(value: Any, key: str, default: Any = None) -> Any:
    """An attribute of an object (a Model's part) or an item of a mapping."""
    if isinstance(value, dict):
        return value.get(key, default)
    return getattr(value, key, default)


def _lower(argument: str, value: Any, num_col: int) -> _Triple:
    """The lower triangle of a symmetric matrix of num_col columns given as a SparseMatrix or a
    (start, index, value) tuple in column-wise form, a SciPy sparse matrix, a dense array or a
    dict {(row, column): value}: one triangle, or both halves, which must agree."""
    if isinstance(value, SparseMatrix):
        value = (value.start, value.index, value.value)
    if not isinstance(value, tuple):
        return lower_triangle(argument, square_entries(argument, value, num_col), num_col)
    if len(value) != 3:
        raise TypeError(f"{argument}: a tuple must be (start, index, value), got {len(value)} items")
    start, index, values = _triple(value, num_col, num_col, argument)
    if is_lower(start, index):  # a Model's own layout: as it is
        return start, index, values
    column = column_of_entries(start)
    return lower_triangle(argument, (index.astype(np.int64), column, values), num_col)


def _parts(hessian: Any, row_hessians: Any, sos: Any, indicators: Any, num_row: int, num_col: int,
           row_names: Optional[Sequence[str]]) -> Dict[str, Any]:
    """The parts beyond a linear program in the native constructor's layout."""
    parts: Dict[str, Any] = {}
    if hessian is not None:
        parts["hessian"] = _lower("hessian", hessian, num_col)
    if row_hessians:
        if not isinstance(row_hessians, dict):
            raise TypeError(f"row_hessians: expected a dict of row -> matrix, got {type(row_hessians).__name__}")
        rows = {}
        for key, matrix in row_hessians.items():
            row = _row_position(key, row_names, num_row)
            if row in rows:
                raise ValueError(f"row_hessians: {key!r} is row {row} again")
            rows[row] = (row,) + _lower(f"row_hessians[{key!r}]", matrix, num_col)
        parts["row_hessians"] = [rows[row] for row in sorted(rows)]
    if sos is not None:
        parts["sos"] = _sos(_sos_layout(sos), num_col)
    if indicators is not None:
        parts["indicators"] = _indicators(indicators, num_row, num_col)
    return parts


def _row_position(key: Any, row_names: Optional[Sequence[str]], num_row: int) -> int:
    """The position of a row given by its position or its name (R1, R2, ... when the rows have
    made-up names)."""
    if isinstance(key, str):
        if row_names is not None:
            position = next((i for i, name in enumerate(row_names) if name == key), -1)
        else:
            position = int(key[1:]) - 1 if re.fullmatch(r"R[1-9][0-9]*", key) else -1
        if 0 <= position < num_row:
            return position
        raise ValueError(f"row_hessians: no row is called {key!r}")
    if isinstance(key, bool) or not isinstance(key, (int, np.integer)) or not 0 <= key < num_row:
        raise ValueError(f"row_hessians: {key!r} is not a row (there are {num_row})")
    return int(key)


def _sos_layout(sos: Any) -> Any:
    """SOS sets given as a list of (type, columns) or (type, columns, weights), in a Model's
    layout (weights 1, 2, ... where none are given); any other form as it is."""
    if not isinstance(sos, (list, tuple)):
        return sos
    kinds, start, index, weight = [], [0], [], []
    for k, one in enumerate(sos):
        if not isinstance(one, (list, tuple)) or len(one) not in (2, 3):
            raise TypeError(f"sos[{k}]: expected (type, columns) or (type, columns, weights), got {one!r}")
        members = _integers(f"sos[{k}] columns", one[1])
        weights = _numbers(f"sos[{k}] weights", one[2], len(members), "one per column") if len(one) == 3 else \
            np.arange(1, len(members) + 1, dtype=np.float64)
        kinds.append(one[0])
        index.append(members)
        weight.append(weights)
        start.append(start[-1] + len(members))
    return {"type": np.asarray(kinds) if kinds else np.zeros(0, np.int64), "start": start,
            "index": np.concatenate(index) if index else np.zeros(0, np.int64),
            "weight": np.concatenate(weight) if weight else np.zeros(0)}


def _sos(sos: Any, num_col: int) -> Tuple[Any, ...]:
    kinds = _integers("sos type", _field(sos, "type"))
    count = len(kinds)
    if ((kinds != 1) & (kinds != 2)).any():
        k = int(np.argmax((kinds != 1) & (kinds != 2)))
        raise ValueError(f"sos type[{k}] is {kinds[k]}, expected 1 or 2")
    priority = _integers("sos priority", _field(sos, "priority", np.zeros(count, np.int32)))
    if len(priority) != count or (len(priority) and (priority.min() < -2**31 or priority.max() >= 2**31)):
        raise ValueError(f"sos priority: expected {count} values that fit 32 bits")
    members = _integers("sos index", _field(sos, "index"))
    start, index, weight = _triple((_field(sos, "start"), members, _field(sos, "weight")), num_col, count, "sos",
                                   keep_zeros=True, allow_repeats=True, member="column")
    names = _field(sos, "names")
    blob = _names("sos names", names, count, {}) if names is not None else None
    return (kinds.astype(np.uint8), priority.astype(np.int32), start, index, weight, blob)


def _indicators(indicators: Any, num_row: int, num_col: int) -> Tuple[np.ndarray, np.ndarray, np.ndarray]:
    """(row, column, value) arrays from three arrays in a tuple, a list of (row, column, value)
    records, or a Model's indicators."""
    if isinstance(indicators, list):
        for k, record in enumerate(indicators):
            if not isinstance(record, tuple) or len(record) != 3:
                raise TypeError(f"indicators[{k}]: expected a (row, column, value) tuple, got {record!r} (give "
                                "three arrays as a tuple)")
        triple: Tuple[Any, ...] = tuple(np.asarray(a) for a in zip(*indicators)) if indicators else \
            (np.zeros(0, np.int64),) * 3
    elif isinstance(indicators, tuple):
        triple = indicators
    else:
        triple = tuple(_field(indicators, key) for key in ("row", "column", "value"))
    if len(triple) != 3:
        raise TypeError("indicators: expected (row, column, value) arrays")
    row, column, value = (_integers(f"indicators {key}", np.asarray(a, dtype=np.uint8) if _is_bool(a) else a)
                          for key, a in zip(("row", "column", "value"), triple))
    if not len(row) == len(column) == len(value):
        raise ValueError(f"indicators: {len(row)} rows, {len(column)} columns and {len(value)} values")
    for key, array, bound in (("row", row, num_row), ("column", column, num_col), ("value", value, 2)):
        bad = (array < 0) | (array >= bound)
        if bad.any():
            k = int(np.argmax(bad))
            raise ValueError(f"indicators {key}[{k}] is {array[k]}, expected 0 to {bound - 1}")
    return row.astype(np.uint32), column.astype(np.uint32), value.astype(np.uint8)


def _is_bool(value: Any) -> bool:
    return bool(np.asarray(value).dtype == np.bool_)


def _numbers(argument: str, value: Any, length: Optional[int] = None, expected: str = "") -> np.ndarray:
    """A one-dimensional float64 array without NaN; a scalar stands for `length` equal entries
    where a length is given."""
    array = np.asarray(value)
    if array.dtype.kind not in "biuf":
        raise TypeError(f"{argument}: expected numbers, got an array of dtype {array.dtype}")
    if length is not None and array.ndim == 0:
        array = np.full(length, array, dtype=np.float64)
    if array.ndim != 1:
        raise ValueError(f"{argument}: expected a one-dimensional array, got shape {array.shape}")
    if length is not None and len(array) != length:
        raise ValueError(f"{argument}: {len(array)} entries, expected {length} ({expected})")
    array = np.ascontiguousarray(array, dtype=np.float64)
    nan = np.isnan(array)
    if nan.any():
        raise ValueError(f"{argument}[{int(np.argmax(nan))}] is NaN")
    return array


def _number(argument: str, value: Any) -> float:
    try:
        number = float(value)
    except (TypeError, ValueError):
        raise TypeError(f"{argument}: expected a number, got {type(value).__name__}") from None
    if number != number:
        raise ValueError(f"{argument} is NaN")
    return number


def _integrality(value: Any, num_col: int) -> np.ndarray:
    if value is None:
        return np.zeros(num_col, dtype=np.uint8)
    array = np.asarray(value)
    if array.ndim == 0:
        array = np.full(num_col, array)
    if array.ndim != 1 or len(array) != num_col:
        raise ValueError(f"col_integrality: shape {array.shape}, expected ({num_col},) (one per column, as col_cost)")
    if array.dtype == np.bool_:
        return np.where(array, np.uint8(INTEGER), np.uint8(0))
    if array.dtype.kind not in "iu":
        raise TypeError(f"col_integrality: expected integer codes 0-3 or a bool mask, got dtype {array.dtype}")
    bad = (array < 0) | (array > 3)
    if bad.any():
        i = int(np.argmax(bad))
        raise ValueError(f"col_integrality[{i}] is {array[i]}, expected a code 0-3 "
                         "(CONTINUOUS, INTEGER, SEMI_CONTINUOUS, SEMI_INTEGER)")
    return np.ascontiguousarray(array, dtype=np.uint8)


def _matrix(a: Any, num_row: int, num_col: int) -> _Triple:
    """(start, index, value) as uint32, uint32, float64, checked, without zeros."""
    sparse = sys.modules.get("scipy.sparse")  # a SciPy object means SciPy is imported already
    if isinstance(a, SparseMatrix):
        return _triple((a.start, a.index, a.value), num_row, num_col)
    if sparse is not None and sparse.issparse(a):
        _check_shape(a.shape, num_row, num_col)
        csc = a.tocsc()
        if not csc.has_canonical_format:  # duplicates mean their sum; done on a copy
            csc = csc.copy()
            csc.sum_duplicates()
        return _triple((csc.indptr, csc.indices, csc.data), num_row, num_col)
    if isinstance(a, tuple):
        if len(a) != 3:
            raise TypeError(f"a_matrix: a tuple must be (start, index, value), got {len(a)} items")
        return _triple(a, num_row, num_col)
    dense = np.asarray(a)
    if dense.ndim != 2 or dense.dtype.kind not in "biuf":
        raise TypeError("a_matrix: expected a scipy.sparse matrix or array, a (start, index, value) tuple, "
                        f"a SparseMatrix or a two-dimensional array of numbers, got {type(a).__name__}")
    _check_shape(dense.shape, num_row, num_col)
    cols, rows = np.nonzero(dense.T)  # column by column, rows ascending
    start = np.concatenate(([0], np.cumsum(np.bincount(cols, minlength=num_col))))
    return _triple((start, rows, dense.T[cols, rows]), num_row, num_col)


def _check_shape(shape: Tuple[int, ...], num_row: int, num_col: int) -> None:
    if tuple(shape) != (num_row, num_col):
        raise ValueError(f"a_matrix: shape {tuple(shape)}, expected ({num_row}, {num_col}) "
                         "(rows from row_lower, columns from col_cost)")


def _integers(argument: str, value: Any) -> np.ndarray:
    array = np.asarray(value)
    if array.size == 0 and array.dtype.kind == "f":  # an empty list comes as float64
        array = array.astype(np.int64)
    if array.dtype.kind not in "iu":
        raise TypeError(f"{argument}: expected integers, got an array of dtype {array.dtype}")
    if array.ndim != 1:
        raise ValueError(f"{argument}: expected a one-dimensional array, got shape {array.shape}")
    return array


def _triple(triple: Tuple[Any, Any, Any], num_row: int, num_col: int, argument: str = "a_matrix",
            keep_zeros: bool = False, allow_repeats: bool = False, member: str = "row") -> _Triple:
    """(start, index, value) checked as a column-wise matrix of num_row rows and num_col
    columns (an SOS's sets are its columns and the model's columns its rows, with repeats and
    zero weights allowed)."""
    start = _integers(f"{argument} start", triple[0])
    index = _integers(f"{argument} index", triple[1])
    value = _numbers(f"{argument} value", triple[2])
    nnz = len(index)
    if len(start) != num_col + 1:
        raise ValueError(f"{argument} start: {len(start)} entries, expected {num_col + 1} "
                         "(one per column and one more)")
    if len(value) != nnz:
        raise ValueError(f"{argument} value: {len(value)} entries, expected {nnz} (one per index)")
    if nnz > _MAX_COUNT:
        raise ValueError(f"{argument}: {nnz} entries, at most 2**32 - 1")
    starts = start.astype(np.int64)
    if starts[0] != 0:
        raise ValueError(f"{argument} start[0] is {starts[0]}, expected 0")
    falling = np.diff(starts) < 0
    if falling.any():
        i = int(np.argmax(falling)) + 1
        raise ValueError(f"{argument} start[{i}] is {starts[i]}, less than start[{i - 1}] = {starts[i - 1]}")
    if starts[-1] != nnz:
        raise ValueError(f"{argument} start[{num_col}] is {starts[-1]}, expected the number of entries {nnz}")
    if nnz and (index.min() < 0 or index.max() >= num_row):
        i = int(np.argmax((index < 0) | (index >= num_row)))
        raise ValueError(f"{argument} index[{i}] is {index[i]}, not a {member} (there are {num_row})")
    repeat = None if allow_repeats else _first_repeat(starts, index, num_row)
    if repeat is not None:
        later, earlier, column = repeat
        raise ValueError(f"{argument} index[{later}] is {index[later]}, a row that column {column} "
                         f"already has at index[{earlier}]")
    zero = np.zeros(0, bool) if keep_zeros else value == 0.0
    if zero.any():  # an explicit zero is no entry at all
        kept = np.concatenate(([0], np.cumsum(~zero)))
        starts, index, value = kept[starts], index[~zero], value[~zero]
    return (np.ascontiguousarray(starts, dtype=np.uint32), np.ascontiguousarray(index, dtype=np.uint32),
            np.ascontiguousarray(value))


def _first_repeat(starts: np.ndarray, index: np.ndarray, num_row: int) -> Optional[Tuple[int, int, int]]:
    """(position, earlier position, column) of the first row index that repeats within its
    column, in storage order; None when there is none. Columns whose rows ascend (the usual
    case, and SciPy's canonical form) need one pass; otherwise the entries are sorted."""
    nnz = len(index)
    if nnz < 2:
        return None
    not_rising = index[1:] <= index[:-1]  # position p compares entries p and p + 1
    boundaries = starts[1:-1]
    boundaries = boundaries[(boundaries > 0) & (boundaries < nnz)]
    not_rising[boundaries - 1] = False  # entries in different columns
    if not not_rising.any():
        return None
    column = np.repeat(np.arange(len(starts) - 1, dtype=np.int64), np.diff(starts))
    key = column * max(num_row, 1) + index.astype(np.int64)
    order = np.argsort(key, kind="stable")
    same = np.flatnonzero(key[order][1:] == key[order][:-1])
    if same.size == 0:
        return None
    k = int(np.argmin(order[same + 1]))
    later = int(order[same[k] + 1])
    return later, int(order[same[k]]), int(column[later])


def _single_name(argument: str, value: Any, may_be_empty: bool = False) -> None:
    if not isinstance(value, str):
        raise TypeError(f"{argument}: expected str, got {type(value).__name__}")
    if not value and not may_be_empty:
        raise ValueError(f"{argument} is empty")
    if _WHITESPACE.search(value):
        raise ValueError(f"{argument} {value!r} contains whitespace")
    _encoded(argument, value)


def _encoded(argument: str, value: str) -> bytes:
    try:
        return value.encode("utf-8")
    except UnicodeEncodeError:
        raise ValueError(f"{argument} {value!r} is not encodable as UTF-8") from None


def _names(argument: str, names: Any, count: int, reserved: Dict[str, str]) -> Optional[bytes]:
    """The names as one UTF-8 text separated by newlines (what the native constructor takes),
    after checking them all; None for made-up names."""
    if names is None:
        return None
    if isinstance(names, (str, bytes)):
        raise TypeError(f"{argument}: expected a sequence of str, got {type(names).__name__}")
    names = list(names)
    if len(names) != count:
        raise ValueError(f"{argument}: {len(names)} names, expected {count}")
    try:
        blob = "\n".join(names).encode("utf-8")
        distinct = set(names)
        fine = (len(distinct) == count and "" not in distinct and not (distinct & reserved.keys())
                and not _WHITESPACE.search("".join(names)))
    except (TypeError, UnicodeEncodeError):
        fine = False
    if not fine:
        _first_bad_name(argument, names, reserved)
    return blob


def _first_bad_name(argument: str, names: List[Any], reserved: Dict[str, str]) -> None:
    """Raises for the first name that cannot be written and read back as itself."""
    seen: Dict[str, int] = {}
    for i, name in enumerate(names):
        where = f"{argument}[{i}]"
        if not isinstance(name, str):
            raise TypeError(f"{where}: expected str, got {type(name).__name__}")
        _single_name(where, name)
        if name in reserved:
            raise ValueError(f"{where} {name!r} is {reserved[name]}")
        if name in seen:
            raise ValueError(f"{where} {name!r} repeats {argument}[{seen[name]}]")
        seen[name] = i
    raise AssertionError("a bad name was found in bulk but not one by one")
