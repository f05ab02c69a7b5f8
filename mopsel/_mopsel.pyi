"""Type stub of the native module mopsel._mopsel (free-format MPS reading and writing).

Internal faults of the native code (an index out of range, a NumPy call that
fails where it must not, an array held under an exclusive borrow) raise
``mopsel.PanicException``, a class derived directly from BaseException that is
created on first need; it is not an attribute of this module (the package
exports it, from ``_panic_exception()``).
"""

from typing import Any, Final, Optional, Sequence, final, overload

import numpy as np
from numpy.typing import NDArray

__all__ = [
    "CONTINUOUS",
    "INTEGER",
    "SEMI_CONTINUOUS",
    "SEMI_INTEGER",
    "Model",
    "SparseMatrix",
    "parse_file",
    "parse_str",
    "write_file",
    "write_str",
]

# Integrality codes, as stored in Model.col_integrality.
CONTINUOUS: Final = 0
INTEGER: Final = 1
SEMI_CONTINUOUS: Final = 2
SEMI_INTEGER: Final = 3

@final
class SparseMatrix:
    """Column-wise compressed constraint matrix; column j holds positions start[j]:start[j+1].

    Read-only and not constructible from Python; the arrays may be edited in place.
    """

    @property
    def start(self) -> NDArray[np.uint32]:
        """num_col + 1 positions into index and value; the last one is the number of nonzeros."""
    @property
    def index(self) -> NDArray[np.uint32]:
        """Row index of each nonzero (0-based)."""
    @property
    def value(self) -> NDArray[np.float64]:
        """Coefficient of each nonzero."""

@final
class _SosSets:
    """Special ordered sets (the class of Model.sos, named SosSets): set k holds the columns
    index[start[k]:start[k+1]] with their weights, in the order the text gives them; at most
    one (type 1) or two adjacent (type 2) of them are nonzero.

    Read-only and not constructible from Python; the arrays may be edited in place.
    """

    @property
    def type(self) -> NDArray[np.uint8]:
        """1 or 2 per set."""
    @property
    def priority(self) -> NDArray[np.int32]:
        """Per set (0 when the text gives none)."""
    @property
    def start(self) -> NDArray[np.uint32]:
        """Number of sets + 1 positions into index and weight."""
    @property
    def index(self) -> NDArray[np.uint32]:
        """Columns of the sets' members."""
    @property
    def weight(self) -> NDArray[np.float64]: ...
    @property
    def names(self) -> list[str]:
        """A new list on every read."""
    def __len__(self) -> int:
        """The number of sets."""

@final
class _Indicators:
    """Indicator constraints (the class of Model.indicators, named Indicators): row row[k]
    holds when column column[k] equals value[k].

    Read-only and not constructible from Python; the arrays may be edited in place.
    """

    @property
    def row(self) -> NDArray[np.uint32]: ...
    @property
    def column(self) -> NDArray[np.uint32]: ...
    @property
    def value(self) -> NDArray[np.uint8]:
        """0 or 1."""
    def __len__(self) -> int:
        """The number of indicators."""

@final
class Model:
    """A linear, quadratic or mixed-integer program read from MPS text.

    Made only by parse_file and parse_str: calling the class raises TypeError, and
    no attribute can be assigned. The arrays take over native buffers without
    copying; editing their contents in place reaches a later write_file/write_str.
    Infinite bounds are IEEE infinities.
    """

    @property
    def name(self) -> str: ...
    @property
    def num_row(self) -> int: ...
    @property
    def num_col(self) -> int: ...
    @property
    def obj_sense_minimize(self) -> bool: ...
    @property
    def obj_offset(self) -> float: ...
    @property
    def objective_name(self) -> str: ...
    @property
    def col_cost(self) -> NDArray[np.float64]: ...
    @property
    def col_lower(self) -> NDArray[np.float64]: ...
    @property
    def col_upper(self) -> NDArray[np.float64]: ...
    @property
    def row_lower(self) -> NDArray[np.float64]: ...
    @property
    def row_upper(self) -> NDArray[np.float64]: ...
    @property
    def col_integrality(self) -> NDArray[np.uint8]:
        """One code per column: CONTINUOUS, INTEGER, SEMI_CONTINUOUS or SEMI_INTEGER."""
    @property
    def a_matrix(self) -> SparseMatrix: ...
    @property
    def col_names(self) -> list[str]:
        """A new list on every read."""
    @property
    def row_names(self) -> list[str]:
        """A new list on every read."""
    @property
    def hessian(self) -> SparseMatrix | None:
        """H of the objective c'x + 1/2 x'Hx + offset: its lower triangle column by column
        (num_col columns, rows ascending); None when the model has none."""
    @property
    def row_hessians(self) -> dict[int, SparseMatrix]:
        """Row -> the lower triangle of H_r, where row r's activity is a_r'x + 1/2 x'H_r x
        (QCMATRIX gives Q of x'Qx, so H_r = 2Q). A new dict on every read; empty when none."""
    @property
    def sos(self) -> _SosSets | None: ...
    @property
    def indicators(self) -> _Indicators | None: ...

def parse_file(path: str) -> Model:
    """Read an MPS file, gzip-expanded when the path ends in ".gz".

    Raises ValueError for files that cannot be opened or read and for MPS text
    that cannot be parsed. The interpreter lock is released while reading.
    """

def parse_str(content: str) -> Model:
    """Read MPS text (ValueError when it cannot be parsed)."""

def write_file(model: Model, path: str) -> None:
    """Write the model as MPS text to path, gzip-compressed when it ends in ".gz" (OSError on
    failure). A regular file is replaced whole once the text is complete: on any failure the
    old file stays as it was."""

def write_str(model: Model) -> str:
    """Return the model rendered as MPS text."""

def _panic_exception() -> type[BaseException]:
    """The class PanicException (made on first use). Use mopsel.PanicException."""

def _release_memory() -> int:
    """Frees the kept buffer of the last large text; its size in bytes. Use mopsel.release_memory."""

# The package's own entry points (mopsel.read, check, write, from_arrays, unpickling).

def _read(
    *,
    path: bytes | None,
    text: bytes | None,
    name: str | None,
    gzip: bool,
    format: int,
    strict: bool,
    sets: str,
    repeated: str,
    free_rows: str,
) -> tuple[Model, list[tuple[str, int, int, str]]]:
    """A Model from exactly one of `path` (gzip-expanded when `gzip`) and `text`; format 0 free,
    1 fixed, 2 auto; sets "all"/"first", repeated "last"/"first", free_rows "drop"/"keep". With it,
    what the read passed over: (code, count, line of the first, text of the first) per kind.
    Raises mopsel.MpsError (path=name) or the OSError of the file (filename=name)."""

def _check(
    *, path: bytes | None, text: bytes | None, name: str | None, gzip: bool, format: int, limit: int
) -> tuple[list[tuple[int | None, str, str, str]], list[tuple[str, str, int]]]:
    """Every finding, at most `limit` per code: (lineno, severity, code, message) in file order,
    and (code, severity, count not listed) per code past the limit. Raises as _read for a file
    that cannot be loaded."""

def _read_lp(*, path: bytes | None, text: bytes | None, name: str | None, gzip: bool, strict: bool) -> Model:
    """As _read for LP text. Raises mopsel.LpError (path=name, with the column)."""

def _check_lp(
    *, path: bytes | None, text: bytes | None, name: str | None, gzip: bool, limit: int
) -> tuple[list[tuple[int | None, str, str, str]], list[tuple[str, str, int]]]:
    """As _check for LP text."""

def _model_from_arrays(
    *,
    name: str,
    objective_name: str,
    minimize: bool,
    obj_offset: float,
    col_cost: NDArray[np.float64],
    col_lower: NDArray[np.float64],
    col_upper: NDArray[np.float64],
    col_integrality: NDArray[np.uint8],
    row_lower: NDArray[np.float64],
    row_upper: NDArray[np.float64],
    start: NDArray[np.uint32],
    index: NDArray[np.uint32],
    value: NDArray[np.float64],
    col_names: bytes | None,
    row_names: bytes | None,
    hessian: tuple[NDArray[np.uint32], NDArray[np.uint32], NDArray[np.float64]] | None = None,
    row_hessians: Sequence[tuple[int, NDArray[np.uint32], NDArray[np.uint32], NDArray[np.float64]]] | None = None,
    sos: tuple[NDArray[np.uint8], NDArray[np.int32], NDArray[np.uint32], NDArray[np.uint32], NDArray[np.float64],
               bytes | None] | None = None,
    indicators: tuple[NDArray[np.uint32], NDArray[np.uint32], NDArray[np.uint8]] | None = None,
) -> Model:
    """A Model from arrays of exactly these dtypes (each copied once); names are newline-separated
    UTF-8, None for C1.. and R1..; the parts beyond a linear program in the record's layout (None:
    none). Use mopsel.from_arrays."""

@overload
def _write_model(model: Model, *, path: str, digits: int, gzip: bool, format: int) -> None:
    """Writes the model to `path` (digits 0: the exact mode; format 0 free, 1 fixed, 2 auto).
    Use mopsel.write."""
@overload
def _write_model(model: Model, *, path: None, digits: int, gzip: bool, format: int) -> bytes:
    """The model's text (gzip-compressed when `gzip`). Use mopsel.write."""
def _write_bytes(path: str, data: bytes) -> None:
    """Writes `data` to `path` as write_file writes its text. Use mopsel.write."""

class _NameIndex:
    """Lookups of one axis's names, hashed in the native module. Use mopsel.names."""

    def __contains__(self, name: object) -> bool: ...
    def __len__(self) -> int: ...
    def find(self, names: Any, missing: Optional[int] = ...) -> Any:
        """The position of a name (an int), or an int64 array of the positions of a sequence or
        array of names; a missing name raises KeyError unless `missing` gives its position."""

def _name_index(model: Model, axis: int) -> _NameIndex:
    """The name index of the model's rows (axis 0) or columns (axis 1), built once and kept with
    the model. Use mopsel.names."""

@overload
def _write_lp(model: Model, *, path: str, digits: int, gzip: bool) -> None:
    """Writes the model as LP text to `path`. Use mopsel.write."""
@overload
def _write_lp(model: Model, *, path: None, digits: int, gzip: bool) -> bytes:
    """The model's LP text (gzip-compressed when `gzip`). Use mopsel.write."""

# The process-wide array borrow registry, a capsule named
# "mopsel._mopsel._ARRAY_BORROWS" (PyCapsule_Import works) over this C table:
#
#   struct MopselArrayBorrows {
#     uint32_t version;   /* 1 */
#     uint32_t reserved;  /* 0 */
#     void *state;        /* first argument of every function */
#     int (*acquire_shared)(void *state, const void *begin, size_t length);
#     int (*acquire_exclusive)(void *state, const void *begin, size_t length);
#     int (*release)(void *state, const void *begin, size_t length, int exclusive);
#   };
#
# Borrows are keyed by the byte range of an array's data (length 0 counts as one
# byte). Shared borrows coexist; an exclusive one stands alone. Results: 0
# granted, 1 refused (an overlapping conflicting borrow is held), -1 release of a
# borrow not held or out of memory. The registry has its own mutex: no interpreter
# lock is needed. write_str/write_file take shared borrows while copying a Model's
# arrays and raise PanicException("AlreadyBorrowed") when one is refused.
_ARRAY_BORROWS: object
