"""Which text format a model file holds or gets: LP for names ending in .lp (before any
compression suffix), MPS otherwise, unless the caller says which."""

from __future__ import annotations

import os
from typing import Optional

# Compression suffixes that may follow the format's own (model.lp.gz).
_COMPRESSED = (".gz", ".bz2", ".xz", ".zst", ".zstd")


def names_lp(name: Optional[str]) -> bool:
    """True when the file name ends in .lp, or in .lp followed by a compression suffix
    (.lp.gz, .lp.bz2, .lp.xz, .lp.zst); in any case, as users name files."""
    if not name:
        return False
    base = os.path.basename(name).lower()
    for suffix in _COMPRESSED:
        if base.endswith(suffix):
            base = base[: -len(suffix)]
            break
    return base.endswith(".lp")
