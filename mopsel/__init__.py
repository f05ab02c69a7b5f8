"""mopsel: fast, faithful MPS reading and writing with NumPy arrays."""

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
