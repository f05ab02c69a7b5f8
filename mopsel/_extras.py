"""Optional dependencies: imported by the functions that need them, with an ImportError that
names the extra to install."""

from __future__ import annotations

import importlib
from types import ModuleType

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
}


def require(module: str, function: str) -> ModuleType:
    """Imports `module` (e.g. "scipy.sparse") for `function`, or raises ImportError saying
    which extra of mopsel installs it."""
    try:
        return importlib.import_module(module)
    except ImportError as exc:
        label, extra = _EXTRAS[module.partition(".")[0]]
        raise ImportError(
            f"{function} needs {label}, which is not installed: pip install 'mopsel[{extra}]'"
        ) from exc
