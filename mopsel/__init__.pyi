"""Type stub of the package mopsel: the native module's names and the package's functions."""

import os
from typing import Any, BinaryIO, List, Literal, NamedTuple, Optional, Sequence, Union

from mopsel._corpus import stats_table as stats_table
from mopsel._diff import Difference as Difference, DiffResult as DiffResult, diff as diff, equal as equal
from mopsel._names import ModelNames as ModelNames, names as names
from mopsel._pandas import Tables as Tables, to_pandas as to_pandas, to_polars as to_polars
from mopsel._solution import (
    Evaluation as Evaluation,
    Solution as Solution,
    Violation as Violation,
    evaluate as evaluate,
    read_solution as read_solution,
    write_solution as write_solution,
)
from mopsel._stats import Stats as Stats, stats as stats

from mopsel._mopsel import (
    CONTINUOUS as CONTINUOUS,
    INTEGER as INTEGER,
    SEMI_CONTINUOUS as SEMI_CONTINUOUS,
    SEMI_INTEGER as SEMI_INTEGER,
    Model as Model,
    SparseMatrix as SparseMatrix,
    parse_file as parse_file,
    parse_str as parse_str,
    write_file as write_file,
    write_str as write_str,
)

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
    "from_arrays",
    "write",
    "to_scipy",
    "to_milp",
    "to_highs",
    "from_highs",
    "PanicException",
    "read",
    "check",
    "MpsError",
    "Diagnostic",
    "diff",
    "equal",
    "DiffResult",
    "Difference",
    "stats",
    "Stats",
    "names",
    "ModelNames",
    "to_pandas",
    "to_polars",
    "Tables",
    "evaluate",
    "Evaluation",
    "Violation",
    "read_solution",
    "write_solution",
    "Solution",
    "stats_table",
]

__version__: str

class PanicException(BaseException):
    """An internal fault of the native code (a model edited into an impossible state, an array
    held under an exclusive borrow): derived from BaseException, so except Exception passes it."""

def from_arrays(
    *,
    col_cost: Any,
    a_matrix: Any,
    row_lower: Any,
    row_upper: Any,
    col_lower: Any = ...,
    col_upper: Any = ...,
    col_integrality: Any = ...,
    col_names: Optional[Sequence[str]] = ...,
    row_names: Optional[Sequence[str]] = ...,
    name: str = ...,
    objective_name: str = ...,
    minimize: bool = ...,
    obj_offset: float = ...,
) -> Model:
    """A Model from arrays (a_matrix: scipy.sparse, (start, index, value), SparseMatrix or dense)."""

def write(
    model: Model,
    target: Union[str, os.PathLike[str], BinaryIO],
    *,
    digits: Optional[int] = ...,
    compress: Literal["auto", "gzip", None] = ...,
) -> None:
    """Write MPS text to a path or a binary file object; digits=None is the exact mode."""

def to_scipy(model: Model) -> Any:
    """scipy.sparse.csc_array over the model's matrix buffers (mopsel[scipy])."""

def to_milp(model: Model) -> dict[str, Any]:
    """Keyword arguments c, integrality, bounds, constraints for scipy.optimize.milp (mopsel[scipy])."""

def to_highs(model: Model) -> Any:
    """A highspy.HighsLp holding the model (mopsel[highs])."""

def from_highs(lp: Any, *, objective_name: Optional[str] = ...) -> Model:
    """A Model from a highspy.HighsLp (mopsel[highs])."""

_Source = Union[str, bytes, os.PathLike[str], os.PathLike[bytes], BinaryIO, bytearray, memoryview]

def read(source: _Source, *, format: Literal["free", "fixed", "auto"] = ..., strict: bool = ...) -> Model:
    """A Model from a path, a binary file object or bytes of MPS text (gzip, bz2, xz, zstd by content)."""

def check(source: _Source, *, format: Literal["free", "fixed", "auto"] = ..., limit: int = ...) -> List[Diagnostic]:
    """Every finding of one reading pass, in file order: errors, warnings, information."""

class MpsError(ValueError):
    """Input that cannot be read (or that strict reading rejects), with where and why."""

    reason: str
    path: Optional[str]
    lineno: Optional[int]
    line: Optional[str]
    code: str
    def __init__(
        self,
        reason: str,
        *,
        path: Optional[str] = ...,
        lineno: Optional[int] = ...,
        line: Optional[str] = ...,
        code: str = ...,
    ) -> None: ...

class Diagnostic(NamedTuple):
    """One finding of check(): line, severity ("error", "warning", "info"), code, message, path."""

    lineno: Optional[int]
    severity: str
    code: str
    message: str
    path: Optional[str] = ...
