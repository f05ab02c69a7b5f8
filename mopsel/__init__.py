"""mopsel: fast, faithful MPS reading and writing with NumPy arrays.

The native module's names (parse_file, parse_str, write_file, write_str, Model, SparseMatrix
and the integrality codes) are re-exported unchanged. The package adds from_arrays and write,
pickling and copying of models, and the conversions to_scipy, to_milp (mopsel[scipy]) and
to_highs, from_highs (mopsel[highs]).
"""

from mopsel import _pickle
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
from mopsel._scipy import to_milp, to_scipy
from mopsel._write import write

_pickle.register()

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
]
