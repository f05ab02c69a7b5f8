"""mopsel.names: the positions of rows and columns by name, one at a time or a whole array.

The lookups run in the native module: the hash table of each axis is built once, in C++, from
the model's own name list (no Python dict, no str object per name), the first time that axis
is looked up, and is kept with the model for every later lookup.
"""

from __future__ import annotations

from typing import Any, Optional, Sequence, Union, overload

import numpy as np

from mopsel import _mopsel
from mopsel._mopsel import Model

Names = Union[Sequence[str], np.ndarray]


class ModelNames:
    """Lookups of one model's row and column names (see `names`)."""

    __slots__ = ("_rows", "_cols")

    def __init__(self, model: Model) -> None:
        self._rows = _mopsel._name_index(model, 0)
        self._cols = _mopsel._name_index(model, 1)

    @overload
    def row(self, names: str, *, missing: Optional[int] = ...) -> int: ...  # type: ignore[overload-overlap]
    @overload
    def row(self, names: Names, *, missing: Optional[int] = ...) -> np.ndarray: ...

    def row(self, names: Union[str, Names], *, missing: Optional[int] = None) -> Any:
        """The position of the row `names` (a str), or an int64 array of the positions of the
        rows in `names` (a sequence or NumPy array of str). A name the model lacks raises
        KeyError, unless `missing` gives the position to use instead (such as -1)."""
        # One argument takes the native fast path.
        return self._rows.find(names) if missing is None else self._rows.find(names, missing)

    @overload
    def col(self, names: str, *, missing: Optional[int] = ...) -> int: ...  # type: ignore[overload-overlap]
    @overload
    def col(self, names: Names, *, missing: Optional[int] = ...) -> np.ndarray: ...

    def col(self, names: Union[str, Names], *, missing: Optional[int] = None) -> Any:
        """As `row`, for the columns."""
        return self._cols.find(names) if missing is None else self._cols.find(names, missing)

    def has_row(self, name: str) -> bool:
        """Whether the model has a row called `name`."""
        return name in self._rows

    def has_col(self, name: str) -> bool:
        """Whether the model has a column called `name`."""
        return name in self._cols

    def __repr__(self) -> str:
        return f"ModelNames({len(self._rows)} rows, {len(self._cols)} columns)"


def names(model: Model) -> ModelNames:
    """Lookups of the positions of `model`'s rows and columns by name.

    `row(name)` and `col(name)` give an int; given a list, tuple or NumPy array of str they
    give an int64 array (of the array's shape). A name the model lacks raises KeyError naming
    it, unless `missing=` gives the value to use instead. A name the model holds twice gives
    its last position, the one later MPS records refer to. Each lookup is one probe of a hash
    table that is built in C++ the first time an axis is looked up and kept with the model.

    >>> import numpy as np, mopsel
    >>> m = mopsel.from_arrays(col_cost=[1.0, 2.0, 3.0], a_matrix=np.eye(2, 3), row_lower=[0.0, 0.0],
    ...                        row_upper=[1.0, 1.0], col_names=["x", "y", "z"], row_names=["c0", "c1"])
    >>> ix = mopsel.names(m)
    >>> ix.row("c1"), ix.col("x")
    (1, 0)
    >>> ix.col(["z", "x"]).tolist()
    [2, 0]
    >>> ix.col(np.array(["y", "w"]), missing=-1).tolist()
    [1, -1]
    >>> ix.col("w")
    Traceback (most recent call last):
        ...
    KeyError: "no column named 'w'"
    """
    return ModelNames(model)
