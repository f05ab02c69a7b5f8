"""Optional dependencies: imported by the functions that need them, with an ImportError that
names the extra to install when the package is not installed."""

from __future__ import annotations

import importlib
from types import ModuleType
from typing import Any, Tuple

# Module -> (what users call it, the extra that installs it).
_EXTRAS = {
    "scipy": ("SciPy", "scipy"),
    "highspy": ("highspy", "highs"),
    "zstandard": ("zstandard", "zstd"),
    "matplotlib": ("matplotlib", "plot"),
    "pandas": ("pandas", "pandas"),
    "polars": ("polars", "polars"),
    "distributed": ("dask.distributed", "dask"),
    "tqdm": ("tqdm", "progress"),
    "pyscipopt": ("PySCIPOpt", "scip"),
}


def require(module: str, function: str) -> ModuleType:
    """Imports `module` (e.g. "scipy.sparse") for `function`, or raises ImportError saying
    which extra of mopsel installs it when the module, or a package it belongs to, is not
    installed. An installed package that fails to import (a broken install, a dependency of
    its own that is missing) raises its own error unchanged: that is no missing extra."""
    try:
        return importlib.import_module(module)
    except ModuleNotFoundError as exc:
        if not _is_absent(exc, module):
            raise
        label, extra = _EXTRAS[module.partition(".")[0]]
        raise ImportError(
            f"{function} needs {label}, which is not installed: pip install 'mopsel[{extra}]'"
        ) from exc


def _is_absent(error: ModuleNotFoundError, module: str) -> bool:
    """Whether `error` says that `module` itself, or a package it is part of, cannot be found."""
    return error.name is not None and (module == error.name or module.startswith(error.name + "."))


def is_missing_extra(error: ImportError) -> bool:
    """Whether `error` is require()'s report of an optional package that is not installed."""
    cause = error.__cause__
    return (
        type(error) is ImportError
        and isinstance(cause, ModuleNotFoundError)
        and cause.name is not None
        and cause.name.partition(".")[0] in _EXTRAS
    )


# The parts beyond a linear program: the Model's attribute and what messages call it.
_PARTS = (("hessian", "a quadratic objective"), ("row_hessians", "quadratic rows"), ("sos", "SOS sets"),
          ("indicators", "indicators"))


def parts_it_lacks(model: Any, function: str, carries: str = "linear and mixed-integer models",
                   takes: Tuple[str, ...] = (), peer: str = "") -> None:
    """Raises ValueError when `model` has parts beyond a linear program other than those in
    `takes` (attribute names), which `function` would otherwise leave out unsaid (`peer`: the
    solver that takes none of them, named in the message)."""
    parts = [label for attribute, label in _PARTS
             if attribute not in takes and getattr(model, attribute) not in (None, {})]
    if parts:
        raise ValueError(f"{function} carries {carries} only; this model has " + ", ".join(parts)
                         + (f", which {peer} does not take" if peer else ""))


def linear_parts_only(model: Any, function: str) -> None:
    """Raises ValueError when `model` has parts beyond a linear program (a quadratic objective
    or rows, SOS sets, indicators), which `function` would otherwise leave out unsaid."""
    parts_it_lacks(model, function)
