"""Conversions to SciPy: the constraint matrix as a csc_array over the Model's own buffers, the
Hessians (whole, or the lower triangle over the Model's buffers), and the keyword arguments of
scipy.optimize.milp. Needs the extra mopsel[scipy]."""

from __future__ import annotations

from typing import Any, Dict, Optional, Union

import numpy as np

from mopsel._extras import linear_parts_only, require
from mopsel._mopsel import Model
from mopsel._triangles import column_of_entries

# Entry counts from here on do not fit the int32 column starts SciPy shares.
_INT32_LIMIT = 2**31


def to_scipy(model: Model) -> Any:
    """The constraint matrix as a scipy.sparse.csc_array of shape (num_row, num_col).

    It shares the Model's buffers wherever SciPy allows: `data` is model.a_matrix.value itself,
    `indices` is model.a_matrix.index viewed as int32 (row indices fit), and `indptr` is
    model.a_matrix.start viewed as int32. Writing to one is writing to the other. From 2**31
    entries on, SciPy needs int64 index arrays, and `indptr` and `indices` are int64 copies
    (`data` is still shared). Entries keep the Model's order within each column (not
    necessarily sorted by row: has_sorted_indices tells).

    >>> import mopsel, numpy as np
    >>> m = mopsel.parse_str("ROWS\\n N obj\\n L c\\nCOLUMNS\\n x c 2\\n y c 3\\nENDATA\\n")
    >>> a = mopsel.to_scipy(m)
    >>> a.toarray()
    array([[2., 3.]])
    >>> np.shares_memory(a.data, m.a_matrix.value)
    True
    """
    sparse = require("scipy.sparse", "mopsel.to_scipy")
    a = model.a_matrix
    index, start = a.index.view(np.int32), a.start.view(np.int32)
    if len(a.value) >= _INT32_LIMIT:
        index, start = a.index.astype(np.int64), a.start.astype(np.int64)
    return sparse.csc_array((a.value, index, start), shape=(model.num_row, model.num_col), copy=False)


def to_scipy_hessian(model: Model, row: Optional[Union[int, str]] = None, *, lower: bool = False) -> Any:
    """The Hessian H of the objective c'x + 1/2 x'Hx + offset (row None), or H_r of a row whose
    activity is a_r'x + 1/2 x'H_r x (the row's position or name), as a scipy.sparse.csc_array
    of shape (num_col, num_col).

    By default the whole symmetric matrix, a new one, with sorted indices: what `x @ H @ x` and
    SciPy's optimisers take. With lower=True, the lower triangle the Model holds, sharing its
    buffers as to_scipy does (entries on and below the diagonal; each one below stands for
    itself and its mirror image). A model or row without a Hessian gives a matrix without
    entries.

    >>> import mopsel
    >>> m = mopsel.from_arrays(col_cost=[0.0, 0.0], a_matrix=[[1.0, 1.0]], row_lower=[1.0], row_upper=[1.0],
    ...                        hessian={(0, 0): 2.0, (1, 0): -1.0})
    >>> mopsel.to_scipy_hessian(m).toarray()
    array([[ 2., -1.],
           [-1.,  0.]])
    >>> mopsel.to_scipy_hessian(m, lower=True).toarray()
    array([[ 2.,  0.],
           [-1.,  0.]])
    """
    sparse = require("scipy.sparse", "mopsel.to_scipy_hessian")
    n = model.num_col
    if row is None:
        h = model.hessian
    else:
        from mopsel._names import names

        position = row
        if isinstance(row, str):
            try:
                position = names(model).row(row)
            except KeyError:
                hint = " (the objective's Hessian is row=None)" if row == model.objective_name else ""
                raise ValueError(f"row: no row is called {row!r}{hint}") from None
        if isinstance(position, bool) or not isinstance(position, (int, np.integer)) \
                or not 0 <= position < model.num_row:
            raise ValueError(f"row: {row!r} is not a row (there are {model.num_row})")
        h = model.row_hessians.get(int(position))
    if h is None:
        return sparse.csc_array((n, n))
    index, start = h.index.view(np.int32), h.start.view(np.int32)
    if len(h.value) >= _INT32_LIMIT:
        index, start = h.index.astype(np.int64), h.start.astype(np.int64)
    triangle = sparse.csc_array((h.value, index, start), shape=(n, n), copy=False)
    if lower:
        return triangle
    column = column_of_entries(h.start)
    rows = h.index.astype(np.int64)
    below = rows != column
    whole = sparse.coo_array((np.concatenate((h.value, h.value[below])),
                              (np.concatenate((rows, column[below])), np.concatenate((column, rows[below])))),
                             shape=(n, n))
    return whole.tocsc()


def to_milp(model: Model) -> Dict[str, Any]:
    """Keyword arguments for scipy.optimize.milp: `c`, `integrality`, `bounds` and
    `constraints` (a LinearConstraint over to_scipy(model)).

    milp minimises, so a maximising model gets `c` negated. The objective constant is not
    part of milp's problem: the model's objective value is
    `(res.fun if model.obj_sense_minimize else -res.fun) + model.obj_offset`. The integrality
    codes are the same in both (0 continuous, 1 integer, 2 semi-continuous, 3 semi-integer).
    A model with a quadratic part, SOS sets or indicators raises ValueError (milp takes none).

    >>> import mopsel, numpy as np
    >>> from scipy.optimize import milp
    >>> m = mopsel.from_arrays(col_cost=[1.0, 2.0], a_matrix=np.array([[1.0, 1.0]]),   # max x + 2y + 3
    ...                        row_lower=[-np.inf], row_upper=[4.0], col_upper=[3.0, 2.5],
    ...                        col_integrality=[0, 1], minimize=False, obj_offset=3.0)
    >>> res = milp(**mopsel.to_milp(m))
    >>> res.x.tolist(), -res.fun + m.obj_offset
    ([2.0, 2.0], 9.0)
    """
    optimize = require("scipy.optimize", "mopsel.to_milp")
    linear_parts_only(model, "mopsel.to_milp")
    cost = model.col_cost if model.obj_sense_minimize else -model.col_cost
    return {
        "c": cost,
        "integrality": model.col_integrality,
        "bounds": optimize.Bounds(model.col_lower, model.col_upper),
        "constraints": optimize.LinearConstraint(to_scipy(model), model.row_lower, model.row_upper),
    }
