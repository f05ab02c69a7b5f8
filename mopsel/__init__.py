"""mopsel: fast, faithful MPS reading and writing with NumPy arrays.

The native module's names (parse_file, parse_str, write_file, write_str, Model, SparseMatrix
and the integrality codes) are re-exported unchanged. The package adds read (any source,
compressed input, fixed and automatic formats, LP text, strict reading, warnings) and check,
with MpsError, LpError, MpsWarning and Diagnostic; from_arrays and write, pickling and copying of
models, and the conversions to_scipy, to_scipy_hessian, to_milp (mopsel[scipy]), to_highs,
from_highs (mopsel[highs]) and to_scip (mopsel[scip]); diff and equal, stats, names, to_pandas
and to_polars (mopsel[pandas], mopsel[polars]), evaluate, read_solution and write_solution, and
stats_table over whole corpora (mopsel[pandas], on a cluster mopsel[dask]); release_memory;
PanicException is the class of the native code's internal faults, and __version__ the installed
version.
"""

import typing as _typing

try:
    from mopsel import _mopsel
    from mopsel._version import __version__ as __version__  # written at build time from pyproject.toml
except ImportError as error:
    # This is uncommon: Python started in a clone of the project finds the source tree
    # first, where nothing was built. A build that is there but does not load says why itself.
    import pathlib

    if any(pathlib.Path(__path__[0]).glob("_mopsel*.so")):
        raise
    raise ImportError(
        f"mopsel is imported from {__path__[0]}, which holds no build of it: run `make build` in "
        "the project (it places the built files there), or start Python in another folder"
    ) from error
from mopsel import _pickle
from mopsel._corpus import stats_table
from mopsel._diff import Difference, DiffResult, diff, equal
from mopsel._errors import LpError, MpsError, MpsWarning
from mopsel._from_arrays import from_arrays
from mopsel._highs import from_highs, to_highs
from mopsel._mopsel import (  # noqa: F401
    CONTINUOUS,
    INTEGER,
    SEMI_CONTINUOUS,
    SEMI_INTEGER,
    Model,
    SparseMatrix,
    parse_file,
    parse_str,
    write_file,
    write_str,
)
from mopsel._names import ModelNames, names
from mopsel._pandas import Tables, to_pandas, to_polars
from mopsel._read import Diagnostic, check, read
from mopsel._scip import to_scip
from mopsel._scipy import to_milp, to_scipy, to_scipy_hessian
from mopsel._solution import Evaluation, Solution, Violation, evaluate, read_solution, write_solution
from mopsel._stats import Stats, stats
from mopsel._write import write

_pickle.register()


def release_memory() -> int:
    """Give back to the system the buffer of the last large text, which mopsel keeps for the next
    call once a process has read or written a second text of 64 MiB or more; returns its size in
    bytes (0 when nothing was kept). The next large text after it is not kept again."""
    return _mopsel._release_memory()


if _typing.TYPE_CHECKING:

    class PanicException(BaseException):
        """An internal fault of the native code (a model edited into an impossible state, an
        array held under an exclusive borrow): derived from BaseException, so except Exception
        passes it."""

else:
    # The class of the native code's internal faults: the very class the native module
    # raises, made here on import.
    PanicException = _mopsel._panic_exception()

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
    "to_scipy_hessian",
    "to_milp",
    "to_scip",
    "to_highs",
    "from_highs",
    "PanicException",
    "read",
    "check",
    "MpsError",
    "LpError",
    "MpsWarning",
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
    "release_memory",
]
