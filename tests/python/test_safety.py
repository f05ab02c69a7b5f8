"""Careless and hostile use: names prepared to collide, Ctrl-C during long calls and blocking
files, writes that must not destroy the file they replace, gzip as other tools write it."""

from __future__ import annotations

import numpy as np
import pytest

import mopsel._mopsel as mm

PREFIX = "ZZZZZZZZ"


@pytest.fixture
def prepared_seed():
    """The name seed for which every 16-byte name starting with PREFIX hashes alike."""
    mm._fix_name_seed(int.from_bytes(PREFIX.encode(), "little"))
    yield
    mm._fix_name_seed(None)


def test_names_prepared_against_a_known_seed_read_right(prepared_seed):
    names = [PREFIX + "%08d" % i for i in range(5000)]
    text = "".join(
        ["ROWS\n N obj\n"]
        + [" G %s\n" % name for name in names]
        + ["COLUMNS\n"]
        + [" x %s %d\n" % (name, i + 1) for i, name in enumerate(names)]
        + ["RHS\n"]
        + [" rhs %s %d\n" % (name, -i) for i, name in enumerate(names)]
        + ["ENDATA\n"]
    )
    flooded = mm.parse_str(text)
    mm._fix_name_seed(None)
    spread = mm.parse_str(text)
    for model in (flooded, spread):
        assert list(model.a_matrix.index) == list(range(len(names)))
        assert np.array_equal(model.a_matrix.value, np.arange(1, len(names) + 1))
        assert np.array_equal(model.row_lower, -np.arange(len(names)))
    assert mm.write_str(flooded) == mm.write_str(spread)


@pytest.mark.parametrize("value", [-1, 2**64, "1", 1.5])
def test_the_seed_hook_takes_only_a_64_bit_count(value):
    with pytest.raises((OverflowError, TypeError)):
        mm._fix_name_seed(value)
